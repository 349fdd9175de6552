#include <gtest/gtest.h>

#include "PsockText.h"

namespace {

TEST(PsockText, NthWordFields)
{
    const struct { const char* s; char d; int n; const char* want; } cases[] = {
        {"a,b,,c", ',', 1, "a"}, {"a,b,,c", ',', 2, "b"}, {"a,b,,c", ',', 3, ""}, {"a,b,,c", ',', 4, "c"},
        {"a,b,,c", ',', 5, ""},  {"", ',', 1, ""},        {",x", ',', 1, ""},     {",x", ',', 2, "x"},
        {"Name <a@b>", '<', 2, "a@b>"}, {"a@b>", '>', 1, "a@b"}, {"abc", ',', 0, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NthWord(c.s, c.d, c.n), c.want) << c.s << " #" << c.n;
    }
}

TEST(PsockText, NthPosCountsFromOneAndEndsPastTheText)
{
    EXPECT_EQ(NthPos("a,b", ',', 1), 2);
    EXPECT_EQ(NthPos("a,b", ',', 2), 4);
    EXPECT_EQ(NthPos("a,", ',', 1), 2);
    EXPECT_EQ(NthPos("", ',', 1), 1);
    EXPECT_EQ(NthPos(",,,", ',', 3), 3);
}

TEST(PsockText, StreamLnEndsWithCrLf)
{
    TMemoryStream stream;
    StreamLn(stream, "HELO x");
    StreamLn(stream, "");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.Memory()), static_cast<std::size_t>(stream.Size())),
              "HELO x\r\n\r\n");
}

} // namespace
