// Text helpers over code page 932 byte strings. Portable.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// True for a byte that starts a two-byte Shift_JIS character. The byte after it is a trail
// byte, whatever its value (0x5C, "\", included), and is never taken as a separator.
constexpr bool IsSjisLeadByte(unsigned char c) noexcept
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// True for a byte that may follow a lead byte. Trail bytes overlap the lead-byte range (メ is
// 83 81), so whether a byte is a lead or a trail byte depends on where its character starts.
constexpr bool IsSjisTrailByte(unsigned char c) noexcept
{
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}

// 0-based index of the last byte of S that is one of Delimiters and not a trail byte, or -1.
int LastDelimiter(std::string_view Delimiters, std::string_view S) noexcept;
// True when the byte at 0-based Index is a single-byte character (not part of a pair).
bool IsSingleByteAt(std::string_view S, std::size_t Index) noexcept;

// "c:\a\b.txt" -> "c:\a\" (up to and including the last "\" or ":").
std::string ExtractFilePath(std::string_view FileName);
// The folder part of a path, the one rule for every caller: the text up to and including its
// last delimiter, without that delimiter when it is the separator (Delimiters[0]) and the byte
// before it is no delimiter. "c:\a\b.txt" -> "c:\a"; "c:\b.txt" -> "c:\" and "c:\a\\b" ->
// "c:\a\\" keep theirs; "c:b.txt" -> "c:"; "b.txt" -> "". Host paths pass "/" as Delimiters.
std::string ExtractFileDir(std::string_view FileName, std::string_view Delimiters = "\\:");
// "c:\a\b.txt" -> "b.txt".
std::string ExtractFileName(std::string_view FileName);
// Appends "\" unless S already ends with a separator (a trail byte is not one).
std::string IncludeTrailingBackslash(std::string_view S);

// Comparisons: negative, zero or positive. The Text form ignores the case of ASCII letters;
// double-byte characters are compared as they are.
int AnsiCompareStr(std::string_view S1, std::string_view S2) noexcept;
int AnsiCompareText(std::string_view S1, std::string_view S2) noexcept;
bool SameText(std::string_view S1, std::string_view S2) noexcept;

// ASCII letters only; the bytes of double-byte characters stay as they are.
std::string UpperCase(std::string_view S);
std::string LowerCase(std::string_view S);
// Removes leading and trailing bytes at or below the space.
std::string Trim(std::string_view S);

std::string IntToStr(int64_t Value);
// Decimal text with an optional sign; anything else gives Default.
int64_t StrToIntDef(std::string_view S, int64_t Default) noexcept;
