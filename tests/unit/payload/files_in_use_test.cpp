// The files-in-use question: the files and programs it names and counts.
#include <gtest/gtest.h>

#include "payload/FilesInUse.h"

namespace {

TEST(FilesInUse, NamesAFewThenCounts)
{
    const std::string head = "次のファイルが他のプログラムで使用されています\n";
    const std::string tail = "プログラムを終了してから再試行してください";
    const struct {
        std::vector<std::string> Files;
        std::vector<std::string> Programs;
        std::string Middle;
    } cases[] = {
        {{"c:\\p\\a.exe"}, {}, "c:\\p\\a.exe\n\n"},
        {{"a", "b", "c"}, {"doduza"}, "a\nb\nc\n\n使用しているプログラム：doduza\n\n"},
        {{"a", "b", "c", "d"}, {}, "a\nb\nc\nほか 1 個のファイル\n\n"},
        {{"a"}, {"p1", "p2", "p3", "p4", "p5"}, "a\n\n使用しているプログラム：p1、p2、p3、ほか 2 個\n\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FilesInUseMessage(c.Files, c.Programs), head + c.Middle + tail) << c.Middle;
    }
}

} // namespace
