// The text helper that puts the product's name into the windows' captions.
#include <gtest/gtest.h>

#include <string>

#include "common/Library.h"

namespace {

TEST(Library, ReplaceFirst)
{
    TLibrary library;
    const struct {
        std::string text, target, replacement, result;
        bool replaced;
    } cases[] = {
        {"TITLE セットアッププログラム", "TITLE", "デスクトップdoduza", "デスクトップdoduza セットアッププログラム", true},
        {"TITLE and TITLE", "TITLE", "x", "x and TITLE", true},
        {"title", "TITLE", "x", "title", false},
        {"no placeholder", "TITLE", "x", "no placeholder", false},
        {"", "TITLE", "x", "", false},
        {"abc", "", "x", "abc", false},
        {"TITLE", "TITLE", "", "", true},
        // Bytes, not characters: the target "\x5C" matches the trail byte of "ソ".
        {"\x83\x5C", "\x5C", "/", "\x83/", true},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(library.ReplaceFirst(text, c.target, c.replacement), c.replaced) << c.text;
        EXPECT_EQ(text, c.result) << c.text;
    }
}

} // namespace
