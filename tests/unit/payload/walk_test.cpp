// The installer's walk and decoder: hand-made streams for the format's corners, the walk's
// stopping rules and failures, and random streams against the byte-at-a-time model.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <iostream>

#if defined(_WIN32)
#include "toolkit/win/Handles.h"
#else
#include <sys/resource.h>
#endif

#include "toolkit/FileCtrl.h"
#include "HostLink.h"
#include "PayloadTestUtil.h"

using namespace payload_test;

namespace {

std::string Join(const std::vector<std::string>& Lines)
{
    std::string s;
    for (const auto& l : Lines) s += l + "\n";
    return s;
}

struct Walk {
    TempDir Dir;
    std::string Archive = Dir / "work.tmp";
    std::string Dest = Dir / "dest";
    Recorder Progress;
    TArchiveExtractor Extractor;
    int Count = -1;

    int Run(const Bytes& ArchiveBytes)
    {
        WriteFile(Archive, ArchiveBytes);
        Count = Extractor.ExtractArchive(Archive, Dest, Progress);
        return Count;
    }
    std::string Out(std::string_view Name) const { return EntryOutputPath(Dest, Name); }
    Bytes Read(std::string_view Name) const { return ReadFile(Out(Name)); }
};

// One entry of Size bytes from Stream; what the file holds afterwards, and that the next entry
// (a literal "Z") is read right after the stream.
struct StreamCase {
    const char* What;
    Bytes Stream;
    uint32_t Size;
    Bytes Expected;
};

TEST(Decoder, StreamsOfTheFormat)
{
    const StreamCase cases[] = {
        {"worked example: five literals, a copy from the zero fill, two literals",
         B({0xDF, 0x4D, 0x5A, 0x50, 0x00, 0x02, 0xEB, 0xF0, 0x04, 0x00}), 10,
         B({0x4D, 0x5A, 0x50, 0x00, 0x02, 0x00, 0x00, 0x00, 0x04, 0x00})},
        {"copy at r-1 of length 18 repeats the last byte", B({0x01, 'A', 0xEE, 0xFF}), 19, Bytes(19, 'A')},
        {"copy running into its own output repeats a pair", B({0x03, 'A', 'B', 0xEE, 0xF3}), 8, B("ABABABAB")},
        {"absolute position, not a distance: position 4079 is the second byte", B({0x07, 'x', 'y', 'z', 0xEF, 0xF0}), 6,
         B("xyzyzy")},
        {"copy longer than the bytes still due stops at the size", B({0x03, 'A', 'B', 0xEE, 0xFF}), 5, B("ABABA")},
        {"copy from the start of the zero fill", B({0x00, 0x00, 0x02}), 5, Bytes(5, 0)},
        {"last flag byte with bits left over", B({0xFF, 'a', 'b', 'c'}), 3, B("abc")},
        {"second group's flag byte read before the ninth item",
         B({0xFF, '1', '2', '3', '4', '5', '6', '7', '8', 0x01, '9'}), 9, B("123456789")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        Walk w;
        const Bytes next = B({0x01, 'Z'});
        EXPECT_EQ(w.Run(ArchiveBuilder().Entry("a.bin", c.Size, c.Stream).Entry("b.bin", 1, next).Get()), 2);
        EXPECT_EQ(w.Read("a.bin"), c.Expected);
        EXPECT_EQ(w.Read("b.bin"), B("Z"));
    }
}

TEST(Decoder, RingEndCarriesOverWhileTheRestIsZeroedForEachEntry)
{
    // The first entry writes 20 bytes: ring 4078..4095 get "abcdefghijklmnopqr", ring 0..1 "st".
    const Bytes first = B({0xFF, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0xFF, 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p',
                           0x0F, 'q', 'r', 's', 't'});
    // The second copies 18 bytes from 4078 (carried over) and 3 from 0 (zeroed again).
    const Bytes second = B({0x00, 0xEE, 0xFF, 0x00, 0x00});
    Walk w;
    EXPECT_EQ(w.Run(ArchiveBuilder().Entry("1", 20, first).Entry("2", 21, second).Get()), 2);
    EXPECT_EQ(w.Read("1"), B("abcdefghijklmnopqrst"));
    Bytes expected = B("abcdefghijklmnopqr");
    expected.insert(expected.end(), 3, 0);
    EXPECT_EQ(w.Read("2"), expected);
    // The ring itself outlives the walk: its end holds what the second entry left there.
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(w.Extractor.Ring()) + 4078 + 18 - 3, 3), "pqr");
}

TEST(Decoder, RandomStreamsMatchTheModel)
{
    // Sizes cross the decoder's input and output buffer boundaries; streams mix literals and
    // copies of every kind, and the ring carries over between the entries.
    std::mt19937 rng(20240611);
    const uint32_t sizes[] = {1, 2, 17, 18, 19, 143, 144, 145, 4096, 4097, 70000, 300000, 600001};
    for (const unsigned literalPercent : {90u, 50u, 10u}) {
        ArchiveBuilder archive;
        ModelDecoder model;
        std::vector<Bytes> expected;
        int index = 0;
        for (const uint32_t size : sizes) {
            const Bytes stream = GenerateStream(rng, size, literalPercent);
            std::size_t pos = 0;
            expected.push_back(model.Decode(stream, pos, size));
            ASSERT_EQ(pos, stream.size());
            archive.Entry("e" + std::to_string(index++), size, stream);
        }
        Walk w;
        ASSERT_EQ(w.Run(archive.Get()), static_cast<int>(std::size(sizes)));
        for (std::size_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(w.Read("e" + std::to_string(i)), expected[i]) << "entry " << i << ", literals " << literalPercent;
        }
    }
}

TEST(Walk, ReportsEachStepAndWritesSubfolders)
{
    Walk w;
    const Bytes archive = ArchiveBuilder()
                              .Entry("UnInst.exe", 2, B({0x03, 'M', 'Z'}))
                              .Entry("doc\\a.txt", 3, B({0x07, 'a', 'b', 'c'}))
                              .Get();
    ASSERT_EQ(w.Run(archive), 2);
    const std::string size = std::to_string(archive.size());
    EXPECT_EQ(Join(w.Progress.Log), Join({"S " + size, "W " + w.Out("UnInst.exe"), "C 18/" + size,
                                          "W " + w.Out("doc\\a.txt"), "C " + size + "/" + size, "F"}));
    EXPECT_TRUE(DirectoryExists(w.Dest + PathDelimiters[0] + "doc"));
    EXPECT_EQ(w.Read("doc\\a.txt"), B("abc"));
}

TEST(Walk, ADoubleByteNameWhoseTrailByteIsABackslash)
{
    // "表.txt": 0x95 0x5C is one character, not a folder "\x95" and a file ".txt".
    const std::string name = "\x95\x5C.txt";
    Walk w;
    ASSERT_EQ(w.Run(ArchiveBuilder().Entry(name, 1, B({0x01, 'x'})).Get()), 1);
    EXPECT_TRUE(FileExists(w.Out(name)));
    EXPECT_EQ(w.Read(name), B("x"));
    // One file and no folder in the destination.
    std::vector<std::filesystem::directory_entry> entries(std::filesystem::directory_iterator(w.Dest), {});
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].is_regular_file());
}

std::string Says(const char* Message, const std::string& What) { return std::string(Message) + "\n" + What; }

TEST(Walk, StoppingRules)
{
    // An archive ends where its file ends, or with an empty name or a size of 0 as its very last
    // entry; anything else is a damaged archive, a failure named after the entry, and the
    // listing refuses the same archives with the same words.
    const Bytes one = B({0x01, '1'});
    struct Case {
        const char* What;
        Bytes Archive;
        int Count;
        std::string Error;
        std::vector<std::string> Present; // files that exist afterwards, holding "1"
        std::vector<std::string> Absent;
        std::vector<std::string> Empty;
    };
    const Case cases[] = {
        {"an empty archive", {}, 0, "", {}, {"a"}, {}},
        {"end of file after the last entry", ArchiveBuilder().Entry("a", 1, one).Entry("b", 1, one).Get(), 2, "", {"a", "b"},
         {}, {}},
        {"a name length of 0 as the last entry", ArchiveBuilder().Entry("a", 1, one).Header("", 1).Get(), 1, "", {"a"}, {},
         {}},
        {"a size of 0 as the last entry leaves that file empty", ArchiveBuilder().Entry("a", 1, one).Header("z", 0).Get(), 1,
         "", {"a"}, {}, {"z"}},
        {"bytes after a name length of 0", ArchiveBuilder().Entry("a", 1, one).Header("", 1).Raw(one).Entry("b", 1, one).Get(),
         0, Says(SArchiveTrailing, "(オフセット 8)"), {"a"}, {"b"}, {}},
        {"bytes after a first name byte of 0",
         ArchiveBuilder().Entry("a", 1, one).Entry(std::string("\0bc", 3), 1, one).Entry("b", 1, one).Get(), 0,
         Says(SArchiveTrailing, "(オフセット 8)"), {"a"}, {"b", "bc"}, {}},
        {"bytes after a size of 0", ArchiveBuilder().Entry("a", 1, one).Header("z", 0).Entry("b", 1, one).Get(), 0,
         Says(SArchiveTrailing, "z"), {"a"}, {"b", "z"}, {}},
        {"a header cut inside the size", ArchiveBuilder().Entry("a", 1, one).Raw(B({1, 'z', 5, 0})).Get(), 0,
         Says(SArchiveCut, "z"), {"a"}, {"z"}, {}},
        {"a header cut inside the name", ArchiveBuilder().Entry("a", 1, one).Raw(B({3, 'z', 'y'})).Get(), 0,
         Says(SArchiveCut, "zy"), {"a"}, {"zy"}, {}},
        {"an empty name cut before its size", ArchiveBuilder().Entry("a", 1, one).Raw(B({0})).Get(), 0,
         Says(SArchiveCut, "(オフセット 8)"), {"a"}, {}, {}},
        {"a stream that ends before its size", ArchiveBuilder().Entry("a", 1, one).Entry("b", 100, B({0xFF, 'x', 'y'})).Get(),
         0, Says(SArchiveCut, "b"), {"a"}, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        Walk w;
        EXPECT_EQ(w.Run(c.Archive), c.Count);
        EXPECT_EQ(w.Progress.Log.front(), "S " + std::to_string(c.Archive.size()));
        EXPECT_EQ(w.Progress.Log.back(), "F");
        EXPECT_EQ(w.Progress.Errors, c.Error.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.Error});
        for (const auto& name : c.Present) EXPECT_EQ(w.Read(name), B("1")) << name;
        for (const auto& name : c.Absent) EXPECT_FALSE(FileExists(w.Out(name))) << name;
        for (const auto& name : c.Empty) {
            EXPECT_TRUE(FileExists(w.Out(name))) << name;
            EXPECT_TRUE(w.Read(name).empty()) << name;
        }
        TArchiveListing listing;
        ASSERT_TRUE(w.Extractor.ListArchive(w.Archive, listing));
        EXPECT_EQ(listing.Error, c.Error);
        EXPECT_EQ(listing.Entries.size(), c.Present.size());
    }
}

// Everything under Root, relative, sorted.
std::vector<std::string> Tree(const std::filesystem::path& Root)
{
    std::vector<std::string> all;
    for (const auto& e : std::filesystem::recursive_directory_iterator(Root)) {
        all.push_back(std::filesystem::relative(e.path(), Root).generic_string());
    }
    std::sort(all.begin(), all.end());
    return all;
}

TEST(Walk, CutStreamIsNotPutInPlace)
{
    // The worked example's real header: 453,632 bytes announced, ten decodable. And a 4 GB size
    // over a stream of copies. Neither file, nor its temporary one, is left.
    std::mt19937 rng(7);
    const Bytes copies = GenerateStream(rng, 50000, 5);
    const struct {
        const char* Name;
        uint32_t Size;
        Bytes Stream;
    } cases[] = {
        {"UnInst.exe", 0x0006EC00, B({0xDF, 0x4D, 0x5A, 0x50, 0x00, 0x02, 0xEB, 0xF0, 0x04, 0x00})},
        {"big", 0xFFFFFFFF, copies},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Walk w;
        EXPECT_EQ(w.Run(ArchiveBuilder().Entry(c.Name, c.Size, c.Stream).Get()), 0);
        EXPECT_EQ(Tree(w.Dir.Path()), (std::vector<std::string>{"dest", "work.tmp"}));
        EXPECT_EQ(w.Progress.Errors, std::vector<std::string>{Says(SArchiveCut, c.Name)});
        EXPECT_EQ(std::count_if(w.Progress.Log.begin(), w.Progress.Log.end(), [](const std::string& l) { return l[0] == 'C'; }),
                  0); // never reported as written
    }
}

TEST(Walk, ArchiveThatCannotBeOpenedFailsSilently)
{
    Walk w;
    EXPECT_EQ(w.Extractor.ExtractArchive(w.Dir / "missing.tmp", w.Dest, w.Progress), 0);
    EXPECT_TRUE(w.Progress.Log.empty());
}

TEST(Walk, NamesLeavingTheDestinationOrNotStoredAsGivenStopTheWalk)
{
    const std::string names[] = {
        // out of the destination, or not a file in it
        "..\\x", "../x", "a\\..\\..\\x", "a/../../x", "\\x", "/x", "\\\\srv\\x", "c:x", "C:\\x", "..", ".", "... ",
        ". .\\x", "a\\", "a\\\\b", "x.txt:ads", "a\x81", "\x81/..\\..\\x", "NUL", "con.txt", "doc\\COM1", "aux .log",
        "Lpt9",
        // that Windows would store under another name, or not at all
        "UnInst.exe.", "UnInst.exe ", "doc.\\a", "doc \\a", "doc/a.txt", "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b",
        "a\tb", "a\x01", "\x1B[2J", "a\x7F", std::string("ab\0cd", 5),
        // the temporary name of another entry's file
        "UnInst.exe.~new", "doc.~NEW\\a"};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(IsSafeEntryName(name));
        Walk w;
        const Bytes one = B({0x01, '1'});
        EXPECT_EQ(w.Run(ArchiveBuilder().Entry("first", 1, one).Entry(name, 1, one).Entry("last", 1, one).Get()), 0);
        EXPECT_EQ(w.Progress.Errors, std::vector<std::string>{Says(SUnsafeEntryName, name)});
        EXPECT_EQ(w.Progress.Log.back(), "F");
        EXPECT_EQ(Tree(w.Dir.Path()), (std::vector<std::string>{"dest", "dest/first", "work.tmp"}));
    }
    // "ポ" and "ソ" end in the bytes of "|" and "\\": trail bytes, not characters.
    for (const char* name : {"a.txt", "doc\\a.txt", "a..b", ".profile", "\x95\x5C.txt", "a b", " lead", "console.txt", "COM10",
                             "nul_", "LPTX", "\x83\x7C.txt", "\x83\x5C\\x", "\xB1\xB2"}) {
        EXPECT_TRUE(IsSafeEntryName(name)) << name;
    }
}

TEST(Walk, NoWriteThroughALinkWhereAnEntryGoes)
{
    // Links planted in the destination lead outside it: each stops the walk before anything is
    // written through it, and what lies outside stays as it was.
    const Bytes one = B({0x01, '1'});
    const struct {
        const char* What;
        const char* Link;    // in the destination, leading to "outside" (a file) or "away" (a folder)
        bool ToFolder;
        const char* Entry;   // the entry written through it
        bool Dangling;
    } cases[] = {
        {"a link named like an entry", "second", false, "second", false},
        {"a dangling link named like an entry", "second", false, "second", true},
        {"a linked folder", "doc", true, "doc\\a.txt", false},
        {"a linked folder below a real one", "doc/sub", true, "doc\\sub\\a.txt", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        Walk w;
        const std::string sep(1, PathDelimiters[0]);
        const std::string outside = w.Dir / "outside";
        const std::string away = w.Dir / "away";
        WriteFile(outside, B("kept"));
        std::filesystem::create_directories(away);
        std::string link = w.Dest + sep;
        for (const char* p = c.Link; *p != 0; ++p) link += *p == '/' ? sep : std::string(1, *p);
        std::filesystem::create_directories(std::filesystem::path(link).parent_path());
        const std::string target = c.ToFolder ? away : c.Dangling ? w.Dir / "nothing" : outside;
        ASSERT_TRUE(PlantLink(target, link));
        if (!PlatformReportsLink(link)) {
            std::cout << "  (skipped: the platform does not report this link: " << c.What << ")\n";
            continue;
        }
        EXPECT_EQ(w.Run(ArchiveBuilder().Entry("first", 1, one).Entry(c.Entry, 1, one).Get()), 0);
        EXPECT_EQ(w.Progress.Errors, std::vector<std::string>{Says(SLinkInFolder, link)});
        EXPECT_EQ(ReadFile(outside), B("kept"));
        EXPECT_TRUE(std::filesystem::is_empty(away));
        EXPECT_FALSE(std::filesystem::exists(w.Dir / "nothing"));
        EXPECT_EQ(w.Read("first"), B("1"));
    }
}

TEST(Walk, OutputFileThatCannotBeCreatedStopsTheWalk)
{
    // A folder of the file's name stands where the file should go.
    Walk w;
    std::filesystem::create_directories(w.Out("second"));
    const Bytes one = B({0x01, '1'});
    EXPECT_EQ(w.Run(ArchiveBuilder().Entry("first", 1, one).Entry("second", 1, one).Entry("third", 1, one).Get()), 0);
    EXPECT_EQ(w.Progress.Errors, std::vector<std::string>{std::string(SCannotCreateFile) + "\n" + w.Out("second")});
    EXPECT_EQ(w.Progress.Log.back(), "F");
    EXPECT_EQ(w.Read("first"), B("1"));
    EXPECT_FALSE(FileExists(w.Out("third")));
}

TEST(Walk, FolderThatCannotBeCreatedLeavesTheWindowShown)
{
    // A file named "doc" stands where the folder should go.
    Walk w;
    std::filesystem::create_directories(w.Dest);
    WriteFile(w.Out("doc"), B("x"));
    const Bytes one = B({0x01, '1'});
    EXPECT_EQ(w.Run(ArchiveBuilder().Entry("first", 1, one).Entry("doc\\a", 1, one).Get()), 0);
    EXPECT_EQ(w.Progress.Errors, std::vector<std::string>{SCannotCreateFolder});
    EXPECT_FALSE(w.Progress.Has("F"));
    EXPECT_EQ(w.Read("first"), B("1"));
}

TEST(Walk, AFailedWriteLeavesTheOldFileAndNoTemporaryOne)
{
    std::mt19937 rng(3);
    const Bytes big = GenerateStream(rng, 300000, 50);
    const struct {
        const char* What;
        std::function<void(const std::string& Target)> Prepare;
        const char* Message;
    } cases[] = {
        {"a folder in the temporary file's place",
         [](const std::string& Target) { std::filesystem::create_directories(Target + STemporarySuffix + "/in"); },
         SCannotCreateFile},
#if !defined(_WIN32)
        // A file size limit refuses the writes past it, as a full disk does; the archive fits.
        {"a full disk",
         [&](const std::string&) {
             std::signal(SIGXFSZ, SIG_IGN);
             const rlimit limit{big.size() + 4096, RLIM_INFINITY};
             setrlimit(RLIMIT_FSIZE, &limit);
         },
         SCannotWriteFile},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        Walk w;
        std::filesystem::create_directories(w.Dest);
        WriteFile(w.Out("big"), B("old"));
        c.Prepare(w.Out("big"));
        EXPECT_EQ(w.Run(ArchiveBuilder().Entry("big", 300000, big).Get()), 0);
#if !defined(_WIN32)
        const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &unlimited);
#endif
        EXPECT_EQ(w.Progress.Errors, std::vector<std::string>{std::string(c.Message) + "\n" + w.Out("big")});
        EXPECT_EQ(w.Read("big"), B("old"));
        EXPECT_FALSE(FileExists(w.Out("big") + STemporarySuffix));
    }
}

#if defined(_WIN32)
TEST(Walk, AFileHeldAtItsTurnIsAskedAboutAlone)
{
    // The question before the walk is the setup window's test (app_test); here the file is
    // taken when its turn comes. Retry after the holder let go goes on; Cancel stops there.
    const Bytes one = B({0x01, '1'});
    for (const bool retry : {false, true}) {
        SCOPED_TRACE(retry ? "let go" : "cancelled");
        Walk w;
        std::filesystem::create_directories(w.Dest);
        WriteFile(w.Out("second"), B("old"));
        TKernelHandle holder;
        w.Progress.OnWriting = [&](const std::string& Path) {
            if (Path == w.Out("second")) holder.Reset(CreateFileA(Path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        };
        w.Progress.OnFilesInUse = [&](const std::vector<std::string>&) {
            holder.Reset();
            return retry;
        };
        EXPECT_EQ(w.Run(ArchiveBuilder().Entry("first", 1, one).Entry("second", 1, one).Get()), retry ? 2 : 0);
        EXPECT_EQ(std::count(w.Progress.Log.begin(), w.Progress.Log.end(), "U " + w.Out("second")), 1);
        EXPECT_TRUE(w.Progress.Errors.empty());
        EXPECT_EQ(w.Read("first"), B("1"));
        EXPECT_EQ(w.Read("second"), B(retry ? "1" : "old"));
        EXPECT_FALSE(FileExists(w.Out("second") + STemporarySuffix));
    }
}
#endif

TEST(Walk, ListingSeesWhatTheWalkWrites)
{
    TempDir dir;
    const std::string archive = dir / "a.smz";
    const Bytes ex = B({0xDF, 0x4D, 0x5A, 0x50, 0x00, 0x02, 0xEB, 0xF0, 0x04, 0x00});
    TArchiveExtractor extractor;
    TArchiveListing listing;

    WriteFile(archive, ArchiveBuilder().Entry("a", 10, ex).Entry("doc\\c", 1, B({1, 'c'})).Get());
    ASSERT_TRUE(extractor.ListArchive(archive, listing));
    ASSERT_EQ(listing.Entries.size(), 2u);
    EXPECT_EQ(listing.Entries[0].Name, "a");
    EXPECT_EQ(listing.Entries[0].Offset, 0u);
    EXPECT_EQ(listing.Entries[0].StreamBytes, 10u);
    EXPECT_EQ(listing.Entries[1].Name, "doc\\c");
    EXPECT_EQ(listing.Entries[1].Offset, 16u);
    EXPECT_EQ(listing.Entries[1].Size, 1u);
    EXPECT_EQ(listing.Entries[1].StreamBytes, 2u);
    EXPECT_EQ(listing.ArchiveSize, std::filesystem::file_size(archive));
    EXPECT_EQ(listing.Error, "");
    EXPECT_FALSE(std::filesystem::exists(dir / "doc")); // nothing is written

    // Entries before a fault are listed, then the walk's own message.
    WriteFile(archive, ArchiveBuilder().Entry("a", 10, ex).Entry("..\\b", 10, ex).Get());
    ASSERT_TRUE(extractor.ListArchive(archive, listing));
    EXPECT_EQ(listing.Entries.size(), 1u);
    EXPECT_EQ(listing.Error, Says(SUnsafeEntryName, "..\\b"));

    EXPECT_FALSE(extractor.ListArchive(dir / "missing", listing));
}

} // namespace
