// The header list against a vector of lines under random operations, then the listed cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "mail/NMExtstr.h"
#include "toolkit/SysUtils.h"

namespace {

std::vector<std::string> Lines(const TStringList& list)
{
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i) out.push_back(list[i]);
    return out;
}

// The first line whose text before its first ':' equals Name, ASCII case folded.
int ModelIndex(const std::vector<std::string>& model, const std::string& name)
{
    for (std::size_t i = 0; i < model.size(); ++i) {
        const auto colon = model[i].find(':');
        if (colon != std::string::npos && LowerCase(model[i].substr(0, colon)) == LowerCase(name)) return static_cast<int>(i);
    }
    return -1;
}

TEST(ExStringList, MatchesLineModel)
{
    std::mt19937 rng(2024);
    const std::vector<std::string> names = {"Subject", "subJECT", "X-Mailer", "x-mailer", "X", "To", ""};
    const std::vector<std::string> values = {"", "", "x", " lead", "a: b"};
    auto pick = [&](const std::vector<std::string>& v) { return v[rng() % v.size()]; };
    TExStringList list;
    std::vector<std::string> model;
    for (int step = 0; step < 5000; ++step) {
        const std::string name = pick(names);
        const std::string value = pick(values);
        const int i = ModelIndex(model, name);
        switch (rng() % 4) {
        case 0: { // a raw line, with or without a colon
            const std::string forms[] = {name + ":" + value, name + " : v", name, name + "=v"};
            model.push_back(forms[rng() % 4]);
            list.Add(model.back());
            break;
        }
        case 1: {
            list.SetValue(name, value);
            if (value.empty() && i >= 0) model.erase(model.begin() + i);
            if (!value.empty() && i >= 0) model[static_cast<std::size_t>(i)] = name + ": " + value;
            if (!value.empty() && i < 0) model.push_back(name + ": " + value);
            break;
        }
        case 2: {
            ASSERT_EQ(list.IndexOfName(name), i) << step;
            std::string expect = i < 0 ? "" : model[static_cast<std::size_t>(i)].substr(name.size() + 1);
            if (!expect.empty() && expect[0] == ' ') expect.erase(0, 1);
            ASSERT_EQ(list.GetValue(name), expect) << step;
            break;
        }
        default:
            if (rng() % 100 == 0) { list.Clear(); model.clear(); }
        }
        ASSERT_EQ(Lines(list), model) << step;
    }
}

TEST(ExStringList, ListedCases)
{
    struct Case {
        std::vector<std::string> before;
        std::string name, value;        // SetValue(name, value) ...
        std::vector<std::string> after; // ... gives these lines
    };
    const std::vector<Case> sets = {
        {{"From: a"}, "Subject", "x", {"From: a", "Subject: x"}},
        {{"From: a", "Content-Type: text/plain; charset=us-ascii", "To: b"}, "content-type", "text/html",
         {"From: a", "content-type: text/html", "To: b"}},
        {{"From: a"}, "X-Mailer", "", {"From: a"}},
        {{"From: a", "X-Mailer: m", "To: b"}, "X-Mailer", "", {"From: a", "To: b"}},
        {{"To: a", "To: b"}, "to", "c", {"to: c", "To: b"}},
        {{"Subject : x", "Subject"}, "Subject", "y", {"Subject : x", "Subject", "Subject: y"}},
    };
    for (const auto& c : sets) {
        TExStringList list;
        for (const auto& l : c.before) list.Add(l);
        list.SetValue(c.name, c.value);
        EXPECT_EQ(Lines(list), c.after) << c.name;
    }
    struct Get {
        std::string line, name;
        int index;
        std::string value;
    };
    const std::vector<Get> gets = {
        {"Subject:hello", "Subject", 0, "hello"}, {"Subject:  two", "Subject", 0, " two"},
        {"Subject:", "SUBJECT", 0, ""},           {"From: a", "Subject", -1, ""},
        {"Mime-Version: 1.0", "mime-version", 0, "1.0"},
        {"X: a: b", "X", 0, "a: b"},              {"Subject : x", "Subject", -1, ""},
        {"\x8C\x8F\x96\xBC: \x82\xA0", "\x8C\x8F\x96\xBC", 0, "\x82\xA0"},
        {"\x83\x61: v", "\x83\x41", -1, ""}, // a trail byte that looks like a letter is not folded
    };
    for (const auto& g : gets) {
        TExStringList list;
        list.Add("Date: x");
        list.Add(g.line);
        list.Add(g.line + "2");
        EXPECT_EQ(list.IndexOfName(g.name), g.index < 0 ? -1 : 1) << g.line;
        EXPECT_EQ(list.GetValue(g.name), g.value) << g.line;
        const TStringList& base = list; // the base's name lookup splits at ':' here too
        EXPECT_EQ(base.IndexOfName(g.name), list.IndexOfName(g.name));
    }
}

TEST(ExStringList, SortedListSearchesByBisection)
{
    std::mt19937 rng(99);
    for (int round = 0; round < 50; ++round) {
        TExStringList list;
        list.SetSorted(true);
        std::vector<std::string> names; // unique and letters only: then lines sort as their names
        for (int i = 0, n = static_cast<int>(rng() % 40); i < n; ++i) {
            std::string name(1 + rng() % 3, 'a');
            for (auto& c : name) c = static_cast<char>((rng() % 2 ? 'a' : 'A') + rng() % 4);
            if (std::none_of(names.begin(), names.end(), [&](const std::string& s) { return SameText(s, name); })) {
                names.push_back(name);
                list.Add(name + ": " + std::to_string(i));
            }
        }
        for (int probe = 0; probe < 30; ++probe) {
            std::string want(1 + rng() % 3, 'A');
            for (auto& c : want) c = static_cast<char>('A' + rng() % 5);
            const bool present = std::any_of(names.begin(), names.end(), [&](const std::string& s) { return SameText(s, want); });
            const int i = list.IndexOfName(want);
            ASSERT_EQ(i >= 0, present) << want;
            if (!present) continue;
            EXPECT_TRUE(SameText(list[i].substr(0, want.size() + 1), want + ":"));
            list.SetValue(want, "new"); // replaced at its sorted place
            EXPECT_EQ(list.GetValue(want), "new");
            EXPECT_EQ(list.Count(), static_cast<int>(names.size()));
            for (int k = 1; k < list.Count(); ++k) ASSERT_LE(AnsiCompareText(list[k - 1], list[k]), 0);
        }
    }
}

} // namespace
