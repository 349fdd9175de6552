// TExStringList: a string list with named access to lines of the form "name: value", the
// layout of mail header lines. The base list splits name and value at "="; this one at ":".
// Portable.
#pragma once

#include <string>

#include "toolkit/Classes.h"

class TExStringList : public TStringList {
public:
    // 0-based index of the first line whose name (the text before its first ":", untrimmed)
    // equals Name without regard to case, or -1. An unsorted list is searched from the top and
    // lines without ":" are skipped; a sorted list is searched by bisection over the names,
    // where a line without ":" has the empty name.
    int IndexOfName(const std::string& Name) const override;

    // The text after "Name:" of that line, less one leading space; empty when there is none.
    std::string GetValue(const std::string& Name) const;

    // Writes "Name: Value" over the named line, or appends it when there is none; an empty
    // Value deletes the named line instead. On a sorted list a replaced line is deleted and the
    // new one added at its sorted place, because a sorted list cannot be written in place.
    void SetValue(const std::string& Name, const std::string& Value);
};
