// The small text helper shared by the setup and registration windows, and the product name they
// put into their captions.
#pragma once

#include <string>

#include "toolkit/Classes.h"

class TLibrary : public TObject {
public:
    // Replaces the first byte-exact occurrence of Target in Text (case-sensitive, double-byte
    // characters not considered) by Replacement and returns true; false, with Text unchanged,
    // when Target does not occur. An empty Target or Text never matches.
    bool ReplaceFirst(std::string& Text, const std::string& Target, const std::string& Replacement);
};

// The product's name as the windows and the shortcuts show it: "デスクトップdoduza".
inline constexpr const char* SProductName = "デスクトップdoduza";

// The setup window's helper, from its creation handler to its close handler (Dlsetup.h); null
// outside that time.
extern TLibrary* Library;
