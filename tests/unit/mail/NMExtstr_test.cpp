// The header list against a vector of lines under random operations, then the listed cases:
// name and value parsing, case-insensitive matching, duplicates, and the sorted search.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "NMExtstr.h"
#include "SysUtils.h"

namespace {

std::vector<std::string> Lines(const TStringList& list)
{
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i) out.push_back(list[i]);
    return out;
}

void Fill(TExStringList& list, const std::vector<std::string>& lines)
{
    for (const auto& l : lines) list.Add(l);
}

std::string Lower(std::string s)
{
    for (auto& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return s;
}

// Index of the first model line whose text before its first ':' equals Name, ignoring the case of
// ASCII letters (the names used here are ASCII).
int ModelIndex(const std::vector<std::string>& model, const std::string& name)
{
    for (std::size_t i = 0; i < model.size(); ++i) {
        const auto colon = model[i].find(':');
        if (colon != std::string::npos && Lower(model[i].substr(0, colon)) == Lower(name)) return static_cast<int>(i);
    }
    return -1;
}

TEST(ExStringList, MatchesLineModel)
{
    std::mt19937 rng(2024);
    const std::vector<std::string> names = {"Subject", "From", "To", "X-Mailer", "Date", "Reply-To", "Content-Type", "X", ""};
    const std::vector<std::string> values = {"", "", "x", "hello", " lead", "a: b", "text/plain; charset=iso-2022-jp"};
    auto pick = [&](const std::vector<std::string>& v) { return v[rng() % v.size()]; };
    auto randomCase = [&](std::string s) {
        for (auto& c : s) {
            if (rng() % 2 && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            else if (rng() % 2 && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return s;
    };
    TExStringList list;
    std::vector<std::string> model;
    for (int step = 0; step < 5000; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        const std::string name = randomCase(pick(names));
        switch (rng() % 5) {
        case 0: { // a raw line: with or without a colon, odd spacing
            const std::string forms[] = {name + ":" + pick(values), name + " : v", name, name + "=v", ": bare"};
            const std::string line = forms[rng() % 5];
            list.Add(line);
            model.push_back(line);
            break;
        }
        case 1:
        case 2: { // set
            const std::string value = pick(values);
            list.SetValue(name, value);
            const int i = ModelIndex(model, name);
            if (value.empty()) {
                if (i >= 0) model.erase(model.begin() + i);
            } else if (i >= 0) {
                model[static_cast<std::size_t>(i)] = name + ": " + value;
            } else {
                model.push_back(name + ": " + value);
            }
            break;
        }
        case 3: {
            const int i = ModelIndex(model, name);
            ASSERT_EQ(list.IndexOfName(name), i);
            std::string value;
            if (i >= 0) {
                value = model[static_cast<std::size_t>(i)].substr(name.size() + 1);
                if (!value.empty() && value[0] == ' ') value.erase(0, 1);
            }
            ASSERT_EQ(list.GetValue(name), value);
            break;
        }
        default:
            if (rng() % 100 == 0) {
                list.Clear();
                model.clear();
            }
        }
        ASSERT_EQ(Lines(list), model);
    }
}

TEST(ExStringList, SetValueCases)
{
    struct Case {
        const char* what;
        std::vector<std::string> before;
        std::string name, value;
        std::vector<std::string> after;
    };
    const std::vector<Case> cases = {
        {"a missing name is appended", {"From: a"}, "Subject", "x", {"From: a", "Subject: x"}},
        {"a name matching without case is replaced in place, spelled as passed",
         {"From: a", "Content-Type: text/plain; charset=us-ascii", "To: b"}, "content-type", "text/html",
         {"From: a", "content-type: text/html", "To: b"}},
        {"an empty value on a missing name changes nothing", {"From: a"}, "X-Mailer", "", {"From: a"}},
        {"an empty value removes the line", {"From: a", "X-Mailer: m", "To: b"}, "X-Mailer", "", {"From: a", "To: b"}},
        {"the first of two lines is replaced", {"To: a", "To: b"}, "To", "c", {"To: c", "To: b"}},
        {"the first of two lines is removed", {"To: a", "To: b"}, "to", "", {"To: b"}},
        {"a line without a colon is no match", {"Subject", "Subject=x"}, "Subject", "y", {"Subject", "Subject=x", "Subject: y"}},
        {"a trailing space is part of the name", {"Subject : x"}, "Subject", "y", {"Subject : x", "Subject: y"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TExStringList list;
        Fill(list, c.before);
        list.SetValue(c.name, c.value);
        EXPECT_EQ(Lines(list), c.after);
    }
}

TEST(ExStringList, NamesAndValues)
{
    struct Case {
        std::vector<std::string> lines;
        std::string name;
        int index;
        std::string value;
    };
    const std::vector<Case> cases = {
        {{"Subject:hello"}, "Subject", 0, "hello"},
        {{"Subject:  two"}, "Subject", 0, " two"},
        {{"Subject:"}, "Subject", 0, ""},
        {{"Subject: "}, "subject", 0, ""},
        {{"From: a"}, "Subject", -1, ""},
        {{"From: a", "Mime-Version: 1.0"}, "MIME-VERSION", 1, "1.0"},
        {{"X: a: b"}, "X", 0, "a: b"},
        {{"X: a: b"}, "X: a", -1, ""},
        {{"Subject : x"}, "Subject", -1, ""},
        {{"Subject : x"}, "Subject ", 0, "x"},
        {{"Date: 1", "Date: 2"}, "date", 0, "1"},
        {{"no colon", ": empty name"}, "", 1, "empty name"},
        // Shift_JIS names: a trail byte that looks like a letter is not folded.
        {{"\x8C\x8F\x96\xBC: \x82\xA0"}, "\x8C\x8F\x96\xBC", 0, "\x82\xA0"},
        {{"\x83\x61: v"}, "\x83\x41", -1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines.front() + " / " + c.name);
        TExStringList list;
        Fill(list, c.lines);
        EXPECT_EQ(list.IndexOfName(c.name), c.index);
        EXPECT_EQ(list.GetValue(c.name), c.value);
    }
}

TEST(ExStringList, ThisListSplitsAtColonNotEquals)
{
    TExStringList list;
    Fill(list, {"a=1", "b: 2"});
    const TStringList& base = list;
    EXPECT_EQ(base.IndexOfName("b"), 1); // the base's lookup goes through this class too
    EXPECT_EQ(base.IndexOfName("a"), -1);
}

TEST(ExStringList, SortedListSearchesByBisection)
{
    std::mt19937 rng(99);
    for (int round = 0; round < 50; ++round) {
        TExStringList list;
        list.SetSorted(true);
        std::vector<std::string> names;
        const int n = static_cast<int>(rng() % 40);
        for (int i = 0; i < n; ++i) {
            // Letters only: with them the order of the lines is the order of their names.
            std::string name(1 + rng() % 3, 'a');
            for (auto& c : name) c = static_cast<char>((rng() % 2 ? 'a' : 'A') + rng() % 4);
            // Unique names: with duplicates the search may land on either line.
            if (std::any_of(names.begin(), names.end(), [&](const std::string& s) { return Lower(s) == Lower(name); })) continue;
            list.Add(name + ": " + std::to_string(i));
            names.push_back(name);
        }
        for (int probe = 0; probe < 30; ++probe) {
            std::string want(1 + rng() % 3, 'a');
            for (auto& c : want) c = static_cast<char>('A' + rng() % 5);
            const bool present = std::any_of(names.begin(), names.end(), [&](const std::string& s) { return Lower(s) == Lower(want); });
            const int i = list.IndexOfName(want);
            SCOPED_TRACE(want);
            if (!present) {
                EXPECT_EQ(i, -1);
                continue;
            }
            ASSERT_GE(i, 0);
            EXPECT_EQ(Lower(list[i].substr(0, list[i].find(':'))), Lower(want));

            // Replacing and removing keep the list sorted and hold the new value.
            list.SetValue(want, "new");
            EXPECT_EQ(list.GetValue(want), "new");
            EXPECT_EQ(list.Count(), static_cast<int>(names.size()));
            for (int k = 1; k < list.Count(); ++k) ASSERT_LE(AnsiCompareText(list[k - 1], list[k]), 0);
        }
    }
    TExStringList empty;
    empty.SetSorted(true);
    EXPECT_EQ(empty.IndexOfName("a"), -1);
    empty.SetValue("Subject", "x");
    EXPECT_EQ(Lines(empty), std::vector<std::string>{"Subject: x"});
    empty.SetValue("subject", "");
    EXPECT_EQ(empty.Count(), 0);
}

} // namespace
