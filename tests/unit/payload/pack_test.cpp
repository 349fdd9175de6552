// The packer: every stream it writes decodes to its input through the installer's walk, it is
// never longer than the greedy parse, its sizes are the optimum where that is known by hand, and
// it refuses what the format cannot carry.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <set>

#include "payload/Pack.h"
#include "PayloadTestUtil.h"

using namespace payload_test;

namespace {

Bytes Text(std::size_t Size, uint32_t Seed)
{
    static const char* const words[] = {"the ",   "guest ", "register ", "receipt ", "hotel ", "room ",  "date ",
                                        "name, ", "total ", "\r\n",      "doduza ",  "宿泊 ",  "領収書 ", "1234 "};
    std::mt19937 rng(Seed);
    Bytes out;
    while (out.size() < Size) {
        const std::string_view w = words[rng() % std::size(words)];
        out.insert(out.end(), w.begin(), w.end());
    }
    out.resize(Size);
    return out;
}

// Records of little-endian numbers, padding and repeated tables, as in a program file.
Bytes Binary(std::size_t Size, uint32_t Seed)
{
    std::mt19937 rng(Seed);
    Bytes out;
    while (out.size() < Size) {
        switch (rng() % 3) {
        case 0: out.insert(out.end(), rng() % 64, 0); break;
        case 1:
            for (int i = 0; i < 16; ++i) {
                const auto v = static_cast<uint32_t>(0x401000 + (rng() % 256) * 4);
                for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(v >> (8 * k)));
            }
            break;
        default:
            for (int i = 0; i < 24; ++i) out.push_back(static_cast<uint8_t>(rng() % 7 == 0 ? rng() : 0x8B + i % 3));
        }
    }
    out.resize(Size);
    return out;
}

Bytes Random(std::size_t Size, uint32_t Seed)
{
    std::mt19937 rng(Seed);
    Bytes out(Size);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

Bytes Runs(std::size_t Size, uint32_t Seed)
{
    std::mt19937 rng(Seed);
    Bytes out;
    while (out.size() < Size) out.insert(out.end(), 1 + rng() % 3000, static_cast<uint8_t>(rng() % 3));
    out.resize(Size);
    return out;
}

// Decodes a single stream with the installer's walk.
Bytes WalkDecode(const Bytes& Stream, uint32_t Size)
{
    TempDir dir;
    WriteFile(dir / "a.smz", ArchiveBuilder().Entry("x", Size, Stream).Entry("y", 1, B({1, '!'})).Get());
    Recorder progress;
    TArchiveExtractor extractor;
    EXPECT_EQ(extractor.ExtractArchive(dir / "a.smz", dir / "out", progress), 2);
    EXPECT_EQ(ReadFile(EntryOutputPath(dir / "out", "y")), B("!")) << "the stream did not end where it should";
    return ReadFile(EntryOutputPath(dir / "out", "x"));
}

TEST(Pack, RoundTripsThroughTheWalk)
{
    struct Case {
        const char* What;
        Bytes Data;
    };
    const std::size_t block = 1 << 20;
    const Case cases[] = {
        {"one byte", B("x")},
        {"three equal bytes", B("aaa")},
        {"zeros (copies from the zero fill)", Bytes(5000, 0)},
        {"text", Text(200000, 1)},
        {"binary", Binary(200000, 2)},
        {"random", Random(100000, 3)},
        {"runs", Runs(200000, 4)},
        {"text across the block boundary", Text(block + 17, 5)},
        {"binary over two blocks", Binary(2 * block + 4099, 6)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        const auto size = static_cast<uint32_t>(c.Data.size());
        const Bytes optimal = PackBytes(c.Data.data(), c.Data.size());
        const Bytes greedy = PackBytes(c.Data.data(), c.Data.size(), TLzssPacker::TParse::Greedy);
        EXPECT_EQ(WalkDecode(optimal, size), c.Data);
        ModelDecoder model;
        std::size_t pos = 0;
        EXPECT_EQ(model.Decode(greedy, pos, size), c.Data);
        EXPECT_EQ(pos, greedy.size());
        EXPECT_LE(optimal.size(), greedy.size());
    }
}

// Bytes 1..255 in which no three in a row occur twice, followed by their own first 18 bytes: the
// only match the tail has lies exactly 4096 bytes back, the farthest the ring reaches.
Bytes RepeatAtTheWindowEdge()
{
    std::mt19937 rng(4096);
    Bytes data;
    std::set<uint32_t> seen;
    const auto triple = [&](std::size_t End) { return (data[End - 3] << 16) | (data[End - 2] << 8) | data[End - 1]; };
    while (data.size() < 4096) {
        data.push_back(static_cast<uint8_t>(1 + rng() % 255));
        if (data.size() >= 3 && !seen.insert(static_cast<uint32_t>(triple(data.size()))).second) data.pop_back();
    }
    data.insert(data.end(), data.begin(), data.begin() + 18);
    for (std::size_t end = 4096 + 1; end <= 4096 + 2; ++end) {
        EXPECT_EQ(seen.count(static_cast<uint32_t>(triple(end))), 0u) << "a seed whose junction repeats a triple";
    }
    return data;
}

TEST(Pack, SizesThatAreKnownToBeOptimal)
{
    struct Case {
        const char* What;
        Bytes Data;
        std::size_t Size;
    };
    const Case cases[] = {
        // 56 copies of 3..18 bytes from the zero fill (55 x 18 + 10), 7 flag bytes.
        {"1000 zeros", Bytes(1000, 0), 56 * 2 + 7},
        // A literal and one copy of 18 from the byte just written.
        {"19 equal bytes", Bytes(19, 'A'), 1 + 1 + 2},
        // Literals only: 9 bytes per 8.
        {"no repeat", B("abcdefghij"), 10 + 2},
        // A repeat of two bytes is too short to copy.
        {"a two-byte repeat", B("ababx"), 5 + 1},
        // 4096 literals (512 flag bytes), then one copy of 18 from 4096 bytes back.
        {"a repeat exactly 4096 bytes back", RepeatAtTheWindowEdge(), 4096 + 512 + 1 + 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        EXPECT_EQ(PackBytes(c.Data.data(), c.Data.size()).size(), c.Size);
    }
}

TEST(Pack, OptimalParseBeatsGreedyWhereGreedyIsShortSighted)
{
    // Each segment: "bcd...s" (18 bytes), "abc", then "abcd...s". At the second "a" greedy
    // copies "abc" (the longest match there) and then "d...s": two copies. A literal "a" and
    // one copy of "bcd...s" saves a byte each time; ten segments of distinct bytes save ten.
    Bytes data;
    for (int k = 0; k < 10; ++k) {
        const auto base = static_cast<uint8_t>(k * 24);
        const auto run = [&](int from, int to) {
            for (int c = from; c <= to; ++c) data.push_back(static_cast<uint8_t>(base + c));
        };
        run(1, 18);
        data.push_back(static_cast<uint8_t>(base + 21));
        run(0, 2);
        data.push_back(static_cast<uint8_t>(base + 22));
        run(0, 18);
    }
    const Bytes optimal = PackBytes(data.data(), data.size());
    const Bytes greedy = PackBytes(data.data(), data.size(), TLzssPacker::TParse::Greedy);
    EXPECT_LE(optimal.size() + 9, greedy.size());
    ModelDecoder model;
    std::size_t pos = 0;
    EXPECT_EQ(model.Decode(optimal, pos, static_cast<uint32_t>(data.size())), data);
}

TEST(Pack, StreamingInPiecesGivesTheSameStream)
{
    const Bytes data = Binary(3 * 100000 + 7, 9);
    const Bytes whole = PackBytes(data.data(), data.size());
    Bytes pieces;
    TLzssPacker packer([&](const uint8_t* p, std::size_t n) { pieces.insert(pieces.end(), p, p + n); });
    std::mt19937 rng(1);
    for (std::size_t i = 0; i < data.size();) {
        const std::size_t n = std::min<std::size_t>(data.size() - i, rng() % 5000);
        packer.Write(data.data() + i, n);
        i += n;
    }
    packer.Finish();
    EXPECT_EQ(pieces, whole);
    EXPECT_EQ(packer.InputBytes(), data.size());
    EXPECT_EQ(packer.OutputBytes(), whole.size());
}

TEST(PackArchive, FilesRoundTripInOrder)
{
    TempDir dir;
    const Bytes text = Text(30000, 11);
    const Bytes bin = Binary(40000, 12);
    WriteFile(dir / "t.txt", text);
    WriteFile(dir / "b.bin", bin);
    std::string error;
    std::vector<TPackedEntry> packed;
    ASSERT_TRUE(PackArchive(dir / "a.smz", {{"doc\\t.txt", dir / "t.txt"}, {"b.exe", dir / "b.bin"}}, error, &packed))
        << error;
    ASSERT_EQ(packed.size(), 2u);
    EXPECT_EQ(packed[0].Name, "doc\\t.txt");
    EXPECT_EQ(packed[1].Size, bin.size());
    EXPECT_EQ(std::filesystem::file_size(dir / "a.smz"),
              1 + 9 + 4 + packed[0].StreamBytes + 1 + 5 + 4 + packed[1].StreamBytes);

    Recorder progress;
    TArchiveExtractor extractor;
    ASSERT_EQ(extractor.ExtractArchive(dir / "a.smz", dir / "out", progress), 2);
    EXPECT_EQ(ReadFile(EntryOutputPath(dir / "out", "doc\\t.txt")), text);
    EXPECT_EQ(ReadFile(EntryOutputPath(dir / "out", "b.exe")), bin);
    EXPECT_EQ(progress.Log[1], "W " + EntryOutputPath(dir / "out", "doc\\t.txt"));
}

TEST(PackArchive, RefusesWhatTheFormatCannotCarry)
{
    TempDir dir;
    WriteFile(dir / "ok", B("ok"));
    WriteFile(dir / "empty", {});
    struct Case {
        const char* What;
        TPackInput Input;
        const char* Says;
    };
    const Case cases[] = {
        {"an empty file", {"empty", dir / "empty"}, "empty"},
        {"a missing file", {"x", dir / "missing"}, "not found"},
        {"a name over 255 bytes", {std::string(256, 'n'), dir / "ok"}, "at most 255"},
        {"a zero byte in the name", {std::string("a\0b", 3), dir / "ok"}, "zero byte"},
        {"an empty name", {"", dir / "ok"}, "empty"},
        {"a name leaving the folder", {"..\\ok", dir / "ok"}, "leave the install folder"},
        {"a drive letter", {"c:\\ok", dir / "ok"}, "leave the install folder"},
        {"a leading separator", {"\\ok", dir / "ok"}, "leave the install folder"},
        {"a trailing dot", {"UnInst.exe.", dir / "ok"}, "ending in a dot or a space"},
        {"a trailing space", {"doc \\UnInst.exe", dir / "ok"}, "ending in a dot or a space"},
        {"a character Windows refuses", {"a?b", dir / "ok"}, "< > :"},
        {"a control byte", {"a\x1B[0m", dir / "ok"}, "control character"},
        {"the same file as another entry", {"FIRST", dir / "ok"}, "the same file as \"first\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        std::string error;
        EXPECT_FALSE(PackArchive(dir / "a.smz", {{"first", dir / "ok"}, c.Input}, error));
        EXPECT_NE(error.find(c.Says), std::string::npos) << error;
        EXPECT_FALSE(std::filesystem::exists(dir / "a.smz"));
    }
    std::string error;
    EXPECT_TRUE(PackArchive(dir / "a.smz", {{std::string(255, 'n'), dir / "ok"}}, error)) << error;
}

TEST(PackArchive, AFailedPackKeepsTheOldArchive)
{
    // The archive is written beside itself and takes the old one's place only when complete.
    TempDir dir;
    WriteFile(dir / "ok", B("ok"));
    WriteFile(dir / "a.smz", B("old archive"));
    std::string error;
    ASSERT_TRUE(PackArchive(dir / "a.smz", {{"ok", dir / "ok"}}, error)) << error;
    const Bytes packed = ReadFile(dir / "a.smz");
    EXPECT_EQ(packed.size(), 1 + 2 + 4 + 3u);
#if !defined(_WIN32)
    // A file whose size is not what reading it gives: the system's files claim a page and
    // hold a line, like a file that changes while it is read.
    const std::string changing = "/sys/devices/system/cpu/online";
    if (std::filesystem::exists(changing) && std::filesystem::file_size(changing) > ReadFile(changing).size()) {
        EXPECT_FALSE(PackArchive(dir / "a.smz", {{"ok", dir / "ok"}, {"cpus", changing}}, error));
        EXPECT_NE(error.find("changed while it was packed"), std::string::npos) << error;
        EXPECT_EQ(ReadFile(dir / "a.smz"), packed);
    } else {
        std::cout << "  (no file of the system to change while it is read)\n";
    }
#endif
    // A folder in the archive's place cannot be replaced: the pack fails and leaves it.
    std::filesystem::create_directories(dir.Path() / "folder.smz" / "inside");
    EXPECT_FALSE(PackArchive(dir / "folder.smz", {{"ok", dir / "ok"}}, error));
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "folder.smz" / "inside"));
    // Nothing is left beside the archives.
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"a.smz", "folder.smz", "ok"}));
}

TEST(PackArchive, RefusesTheArchiveAsAnInput)
{
    // Named another way: opening the archive would empty it, and the failed pack remove it.
    TempDir dir;
    WriteFile(dir / "ok", B("ok"));
    WriteFile(dir / "a.smz", B("kept"));
    std::string error;
    EXPECT_FALSE(PackArchive(dir / "a.smz", {{"ok", dir / "ok"}, {"a", (dir.Path() / "." / "a.smz").string()}}, error));
    EXPECT_NE(error.find("the archive being written"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(dir / "a.smz"), B("kept"));
}

#if !defined(_WIN32)
TEST(PackArchive, RefusesAFileOver4GB)
{
    // Sparse: it takes no room on disk, and it is refused before a byte of it is read.
    TempDir dir;
    WriteFile(dir / "big", {});
    std::filesystem::resize_file(dir / "big", 0x100000000ull);
    std::string error;
    EXPECT_FALSE(PackArchive(dir / "a.smz", {{"big", dir / "big"}}, error));
    EXPECT_NE(error.find("over 4 GB"), std::string::npos) << error;
}
#endif

} // namespace
