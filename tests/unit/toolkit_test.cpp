// The class library against simple models: a byte vector for the streams, a vector of strings
// for the string list, under random operation sequences; plus the cases a model cannot see.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>
#include <atomic>
#include <chrono>

#include "toolkit/Classes.h"
#include "toolkit/SysUtils.h"
#include "toolkit/Thread.h"

namespace {

std::string TempPath(const std::string& name)
{
    return (std::filesystem::temp_directory_path() / ("setup_toolkit_" + name)).string();
}

// --- streams -----------------------------------------------------------------------------------

// Plays the same random reads, writes and seeks on the stream and on a byte vector, comparing
// every result and, at the end, the whole content.
void RunStreamModel(TStream& stream, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> model;
    int64_t pos = 0;
    for (int step = 0; step < 3000; ++step) {
        switch (rng() % 4) {
        case 0: { // write
            std::vector<uint8_t> data(rng() % 300);
            for (auto& b : data) b = static_cast<uint8_t>(rng());
            ASSERT_EQ(stream.Write(data.data(), static_cast<int32_t>(data.size())), static_cast<int32_t>(data.size()));
            if (pos + static_cast<int64_t>(data.size()) > static_cast<int64_t>(model.size())) {
                model.resize(static_cast<std::size_t>(pos) + data.size());
            }
            std::copy(data.begin(), data.end(), model.begin() + static_cast<std::ptrdiff_t>(pos));
            pos += static_cast<int64_t>(data.size());
            break;
        }
        case 1: { // read
            const auto want = static_cast<int32_t>(rng() % 400);
            std::vector<uint8_t> got(static_cast<std::size_t>(want));
            const int32_t n = stream.Read(got.data(), want);
            const int64_t expect = std::max<int64_t>(0, std::min<int64_t>(want, static_cast<int64_t>(model.size()) - pos));
            ASSERT_EQ(n, expect) << "step " << step;
            ASSERT_TRUE(std::equal(got.begin(), got.begin() + n, model.begin() + static_cast<std::ptrdiff_t>(pos)));
            pos += n;
            break;
        }
        case 2: { // seek within the content, from each origin
            const auto size = static_cast<int64_t>(model.size());
            const int64_t target = size == 0 ? 0 : static_cast<int64_t>(rng() % static_cast<uint32_t>(size + 1));
            const auto origin = static_cast<uint16_t>(rng() % 3);
            const int64_t offset = origin == soFromBeginning ? target : origin == soFromCurrent ? target - pos : target - size;
            ASSERT_EQ(stream.Seek(offset, origin), target);
            pos = target;
            break;
        }
        default:
            ASSERT_EQ(stream.Position(), pos);
            ASSERT_EQ(stream.Size(), static_cast<int64_t>(model.size()));
        }
    }
    stream.SetPosition(0);
    std::vector<uint8_t> all(model.size());
    ASSERT_EQ(stream.Read(all.data(), static_cast<int32_t>(all.size())), static_cast<int32_t>(all.size()));
    EXPECT_EQ(all, model);
}

TEST(Stream, MemoryStreamMatchesByteModel)
{
    for (uint32_t seed = 1; seed <= 5; ++seed) {
        TMemoryStream stream;
        RunStreamModel(stream, seed);
    }
}

TEST(Stream, FileStreamMatchesByteModel)
{
    const std::string path = TempPath("model.bin");
    for (uint32_t seed = 11; seed <= 13; ++seed) {
        {
            TFileStream stream(path, fmCreate);
            RunStreamModel(stream, seed);
        }
        std::remove(path.c_str());
    }
}

TEST(Stream, OpenFailuresNameTheFile)
{
    const std::string missing = TempPath("no_such_dir") + "/x.bin";
    try {
        TFileStream s(missing, fmOpenRead);
        FAIL() << "opened a missing file";
    } catch (const EFOpenError& e) {
        EXPECT_NE(e.Message().find(missing), std::string::npos) << e.Message();
    }
    try {
        TFileStream s(missing, fmCreate);
        FAIL() << "created a file in a missing folder";
    } catch (const EFCreateError& e) {
        EXPECT_NE(e.Message().find(missing), std::string::npos) << e.Message();
    }
}

TEST(Stream, ReadBufferRaisesOnShortRead)
{
    TMemoryStream s;
    s.WriteBuffer("abc", 3);
    s.SetPosition(1);
    char buf[4];
    EXPECT_THROW(s.ReadBuffer(buf, 3), EReadError);
}

TEST(Stream, CopyFromCountZeroCopiesAllFromStart)
{
    TMemoryStream src;
    src.WriteBuffer("0123456789", 10);
    src.SetPosition(7);
    TMemoryStream dst;
    EXPECT_EQ(dst.CopyFrom(src, 0), 10);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(dst.Memory()), 10), "0123456789");
    src.SetPosition(2);
    TMemoryStream part;
    EXPECT_EQ(part.CopyFrom(src, 3), 3);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(part.Memory()), 3), "234");
    EXPECT_THROW(part.CopyFrom(src, 100), EReadError);
}

TEST(Stream, FileStreamReadThenWriteAndSetSize)
{
    const std::string path = TempPath("rw.bin");
    {
        TFileStream s(path, fmCreate);
        s.WriteBuffer("hello world", 11);
    }
    {
        TFileStream s(path, fmOpenReadWrite);
        char buf[5];
        s.ReadBuffer(buf, 5);
        s.WriteBuffer("_", 1); // write right after a read, no seek in between
        s.SetSize(8);
        EXPECT_EQ(s.Size(), 8);
        s.SetPosition(0);
        char all[8];
        s.ReadBuffer(all, 8);
        EXPECT_EQ(std::string(all, 8), "hello_wo");
    }
    std::remove(path.c_str());
}

// --- string list -------------------------------------------------------------------------------

TEST(StringList, MatchesVectorModel)
{
    std::mt19937 rng(42);
    TStringList list;
    std::vector<std::string> model;
    auto word = [&] { return std::string(1 + rng() % 3, static_cast<char>('a' + rng() % 5)); };
    for (int step = 0; step < 5000; ++step) {
        const int n = static_cast<int>(model.size());
        switch (rng() % 6) {
        case 0: { auto w = word(); ASSERT_EQ(list.Add(w), n); model.push_back(w); break; }
        case 1: { const int i = static_cast<int>(rng() % (n + 1)); auto w = word(); list.Insert(i, w); model.insert(model.begin() + i, w); break; }
        case 2: if (n > 0) { const int i = static_cast<int>(rng() % n); list.Delete(i); model.erase(model.begin() + i); } break;
        case 3: if (n > 0) { const int i = static_cast<int>(rng() % n); auto w = word(); list.Put(i, w); model[i] = w; } break;
        case 4: if (rng() % 50 == 0) { list.Clear(); model.clear(); } break;
        default: {
            auto w = word();
            const auto it = std::find(model.begin(), model.end(), w);
            ASSERT_EQ(list.IndexOf(w), it == model.end() ? -1 : static_cast<int>(it - model.begin()));
        }
        }
        ASSERT_EQ(list.Count(), static_cast<int>(model.size()));
    }
    std::string text;
    for (int i = 0; i < list.Count(); ++i) {
        ASSERT_EQ(list[i], model[i]);
        text += model[i] + "\r\n";
    }
    EXPECT_EQ(list.Text(), text);
    TStringList copy;
    copy.Assign(list);
    EXPECT_EQ(copy.Text(), text);
}

TEST(StringList, SortedKeepsOrderAndFindsCaseInsensitively)
{
    std::mt19937 rng(7);
    TStringList list;
    list.SetSorted(true);
    std::vector<std::string> model;
    for (int i = 0; i < 500; ++i) {
        std::string w(1 + rng() % 4, 'a');
        for (auto& c : w) c = static_cast<char>((rng() % 2 ? 'a' : 'A') + rng() % 4);
        list.Add(w);
        model.push_back(w);
    }
    auto lessText = [](const std::string& a, const std::string& b) { return AnsiCompareText(a, b) < 0; };
    std::stable_sort(model.begin(), model.end(), lessText);
    ASSERT_EQ(list.Count(), static_cast<int>(model.size()));
    for (int i = 1; i < list.Count(); ++i) {
        ASSERT_LE(AnsiCompareText(list[i - 1], list[i]), 0);
    }
    const int found = list.IndexOf("ABC");
    const auto it = std::lower_bound(model.begin(), model.end(), std::string("abc"), lessText);
    const bool present = it != model.end() && AnsiCompareText(*it, "abc") == 0;
    EXPECT_EQ(found, present ? static_cast<int>(it - model.begin()) : -1);
    EXPECT_THROW(list.Insert(0, "x"), EStringListError);
}

TEST(StringList, IndexErrorsAndText)
{
    TStringList list;
    EXPECT_THROW(list.Get(0), EStringListError);
    EXPECT_THROW(list.Delete(-1), EStringListError);
    EXPECT_THROW(list.Insert(1, "x"), EStringListError);
    list.SetText("one\r\ntwo\nthree\rfour");
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list[3], "four");
    EXPECT_EQ(list.Text(), "one\r\ntwo\r\nthree\r\nfour\r\n");
    list.SetText("");
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Text(), "");
    list.SetText("a\r\n\r\nb\r\n");
    EXPECT_EQ(list.Count(), 3); // an empty line in the middle is kept
}

TEST(StringList, NameValueLines)
{
    TStringList list;
    list.Add("Host=mail");
    list.SetValues("port", "25");
    list.SetValues("HOST", "relay");
    EXPECT_EQ(list.Text(), "HOST=relay\r\nport=25\r\n");
    EXPECT_EQ(list.Values("Port"), "25");
    list.SetValues("host", "");
    EXPECT_EQ(list.Text(), "port=25\r\n");
}

// --- components --------------------------------------------------------------------------------

struct Tracked : TComponent {
    Tracked(TComponent* owner, std::vector<int>& log, int id) : TComponent(owner), Log(log), Id(id) {}
    ~Tracked() override { Log.push_back(Id); }
    std::vector<int>& Log;
    int Id;
};

TEST(Component, OwnerFreesChildrenLastCreatedFirst)
{
    std::vector<int> log;
    auto* root = new Tracked(nullptr, log, 0);
    auto* a = new Tracked(root, log, 1);
    new Tracked(a, log, 11);
    new Tracked(root, log, 2);
    auto* c = new Tracked(root, log, 3);
    EXPECT_EQ(root->ComponentCount(), 3);
    delete c; // leaves its owner's list
    EXPECT_EQ(root->ComponentCount(), 2);
    EXPECT_EQ(log, std::vector<int>({3}));
    delete root;
    // The derived destructor runs before the base frees the children.
    EXPECT_EQ(log, std::vector<int>({3, 0, 2, 1, 11}));
}

// --- threads ------------------------------------------------------------------------------------

// Execute counts its runs, raises when asked, or (Loop) runs until Terminated; the destructor
// says when the object goes.
class Worker : public TThread {
public:
    Worker(std::atomic<int>& Runs, std::atomic<bool>& Freed, bool Raise, bool Loop)
        : FRuns(Runs), FFreed(Freed), FRaise(Raise), FLoop(Loop) {}
    ~Worker() override
    {
        WaitFor(); // Execute may still use the members of this class
        FFreed = true;
    }
protected:
    void Execute() override
    {
        ++FRuns;
        while (FLoop && !Terminated()) std::this_thread::yield();
        if (FRaise) throw Exception("worker failed");
    }
private:
    std::atomic<int>& FRuns;
    std::atomic<bool>& FFreed;
    bool FRaise, FLoop;
};

TEST(Thread, SuspendedUntilResumedRunsOnceAndKeepsItsFailure)
{
    struct Case { bool Raise, Loop, FreeOnTerminate; };
    for (const Case c : {Case{false, false, false}, Case{true, false, false}, Case{false, true, false},
                         Case{false, false, true}, Case{true, false, true}}) {
        SCOPED_TRACE(testing::Message() << c.Raise << c.Loop << c.FreeOnTerminate);
        std::atomic<int> runs{0};
        std::atomic<bool> freed{false};
        auto* w = new Worker(runs, freed, c.Raise, c.Loop);
        w->SetFreeOnTerminate(c.FreeOnTerminate);
        EXPECT_TRUE(w->Suspended());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(runs, 0);
        if (c.FreeOnTerminate) {
            w->Resume();
            for (int i = 0; i < 5000 && !freed; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            EXPECT_TRUE(freed); // deleted by its own thread
            EXPECT_EQ(runs, 1);
            continue;
        }
        w->Resume();
        w->Resume();
        EXPECT_FALSE(w->Suspended());
        if (c.Loop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            EXPECT_FALSE(w->Finished());
            w->Terminate();
        }
        w->WaitFor();
        EXPECT_TRUE(w->Finished());
        EXPECT_EQ(runs, 1);
        EXPECT_EQ(w->FatalException() != nullptr, c.Raise);
        delete w;
        EXPECT_TRUE(freed);
    }
    // Never started: WaitFor and the destructor return at once, Execute never ran.
    std::atomic<int> runs{0};
    std::atomic<bool> freed{false};
    {
        Worker idle(runs, freed, false, true);
        idle.WaitFor();
        EXPECT_FALSE(idle.Finished());
    }
    EXPECT_EQ(runs, 0);
    EXPECT_TRUE(freed);
}

// --- text helpers ------------------------------------------------------------------------------

TEST(SysUtils, PathPartsAreDoubleByteAware)
{
    // "ソ" is 83 5C and "表" is 95 5C in code page 932: their trail byte is no separator.
    const std::string so = "\x83\x5C";
    const std::string hyo = "\x95\x5C";
    struct Case { std::string path, filePath, fileDir, fileName; } cases[] = {
        {"c:\\a\\b.txt", "c:\\a\\", "c:\\a", "b.txt"},
        {"c:\\b.txt", "c:\\", "c:\\", "b.txt"}, // a drive root keeps its backslash
        {"c:b.txt", "c:", "c:", "b.txt"},
        {"b.txt", "", "", "b.txt"},
        {"", "", "", ""},
        {"c:\\a\\", "c:\\a\\", "c:\\a", ""},
        {"c:\\a\\\\x.exe", "c:\\a\\\\", "c:\\a\\\\", "x.exe"}, // a folder typed with a trailing backslash
        {"\\x.exe", "\\", "\\", "x.exe"},
        {"c:\\" + so, "c:\\", "c:\\", so},
        {"c:\\dir" + hyo + "\\f" + so, "c:\\dir" + hyo + "\\", "c:\\dir" + hyo, "f" + so},
        {"c:\\a\\" + so + "\\\\x.exe", "c:\\a\\" + so + "\\\\", "c:\\a\\" + so + "\\\\", "x.exe"},
        {"c:\\a\\" + so + hyo, "c:\\a\\", "c:\\a", so + hyo},
        {"\\\\srv\\share", "\\\\srv\\", "\\\\srv", "share"},
        {"\\\\srv\\share\\x.exe", "\\\\srv\\share\\", "\\\\srv\\share", "x.exe"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExtractFilePath(c.path), c.filePath) << c.path;
        EXPECT_EQ(ExtractFileDir(c.path), c.fileDir) << c.path;
        EXPECT_EQ(ExtractFileName(c.path), c.fileName) << c.path;
    }
    // The same rule over host paths.
    const struct { std::string path, fileDir; } host[] = {
        {"/a/b.txt", "/a"}, {"/b.txt", "/"}, {"/a//b", "/a//"}, {"b", ""}, {"/a/" + so + "/x", "/a/" + so},
    };
    for (const auto& c : host) {
        EXPECT_EQ(ExtractFileDir(c.path, "/"), c.fileDir) << c.path;
    }
    EXPECT_EQ(IncludeTrailingBackslash("c:\\" + so), "c:\\" + so + "\\");
    EXPECT_EQ(IncludeTrailingBackslash("c:\\a\\"), "c:\\a\\");
    EXPECT_EQ(IncludeTrailingBackslash(""), "\\");
}

TEST(SysUtils, ComparisonsAndConversions)
{
    EXPECT_EQ(AnsiCompareText("Content-Type", "content-TYPE"), 0);
    EXPECT_LT(AnsiCompareText("abc", "ABD"), 0);
    EXPECT_GT(AnsiCompareStr("abc", "ABC"), 0);
    EXPECT_LT(AnsiCompareText("ab", "abc"), 0);
    // A trail byte in the letter range is not folded: "ａ" (82 81) vs "ａ" with 0x61 trail would differ.
    EXPECT_NE(AnsiCompareText("\x83\x61", "\x83\x41"), 0);
    // Folding goes on after a character whose trail byte lies in the lead-byte range: "メ" is
    // 83 81, "ゼ" 83 5B, "‐" 81 5D, "ー" 81 5B, "ﾒ" a single byte.
    const struct { std::string a, b; } folded[] = {
        {"\x83\x81" "a", "\x83\x81" "A"},
        {"\x83\x81\x83\x81" "doduza", "\x83\x81\x83\x81" "DODUZA"},
        {"\x81\x5D\x83\x81x", "\x81\x5D\x83\x81X"},
        {"\x81\x5B" "b", "\x81\x5B" "B"},
        {"\xD2z", "\xD2Z"},
        {"\x83\x5B\x83\x81q", "\x83\x5B\x83\x81Q"},
    };
    for (const auto& c : folded) {
        EXPECT_EQ(AnsiCompareText(c.a, c.b), 0) << c.a;
        EXPECT_TRUE(SameText(c.b, c.a)) << c.a;
        EXPECT_NE(AnsiCompareStr(c.a, c.b), 0) << c.a;
    }
    EXPECT_EQ(UpperCase("a\x83\x61z"), "A\x83\x61Z");
    EXPECT_EQ(Trim("  x y \r\n"), "x y");
    EXPECT_EQ(StrToIntDef("-42", 0), -42);
    EXPECT_EQ(StrToIntDef("+7", 0), 7);
    for (const char* bad : {"", "+", "1x", " 1", "+-1", "99999999999999999999"}) {
        EXPECT_EQ(StrToIntDef(bad, -9), -9) << bad;
    }
}

TEST(Text, LiteralsAreCodePage932)
{
#if defined(__clang__)
    GTEST_SKIP() << "clang builds keep literals in UTF-8";
#else
    // "セットアップ開始" in Shift_JIS.
    const std::string expected = "\x83\x5A\x83\x62\x83\x67\x83\x41\x83\x62\x83\x76\x8A\x4A\x8E\x6E";
    EXPECT_EQ(std::string("セットアップ開始"), expected);
#endif
}

} // namespace

// --- folders -----------------------------------------------------------------------------------

#include "toolkit/FileCtrl.h"

namespace {

TEST(FileCtrl, ForceDirectoriesCreatesEveryMissingParent)
{
    const std::string sep(1, PathDelimiters[0]);
    const std::string root = TempPath("force");
    std::filesystem::remove_all(root);
    const std::string deep = root + sep + "a" + sep + "b" + sep + "c";
    EXPECT_FALSE(DirectoryExists(deep));
    EXPECT_TRUE(ForceDirectories(deep + sep)); // one trailing separator is dropped
    EXPECT_TRUE(DirectoryExists(deep));
    EXPECT_TRUE(ForceDirectories(deep)); // existing: no error

    // Names ending in a trail byte 0x5C ("表", "ソ"): under Windows' rules no separator, so the
    // folder keeps its whole name and no parent is cut short.
    const std::string hyo = "\x95\x5C";
    const std::string so = "\x83\x5C";
    for (const std::string& name : {root + sep + hyo, root + sep + "x" + so + sep + hyo, root + sep + so + sep + so + sep}) {
        EXPECT_TRUE(ForceDirectories(name)) << name;
        const std::string made = name.back() == PathDelimiters[0] ? name.substr(0, name.size() - 1) : name;
        EXPECT_TRUE(DirectoryExists(made)) << name;
    }

    // A file where a folder must go: that level fails, what was made before it stays.
    const std::string blocker = root + sep + "file";
    { TFileStream f(blocker, fmCreate); }
    EXPECT_TRUE(FileExists(blocker));
    EXPECT_FALSE(DirectoryExists(blocker));
    EXPECT_FALSE(ForceDirectories(blocker + sep + "x" + sep + "y"));
    EXPECT_FALSE(DirectoryExists(blocker + sep + "x"));

    // Two trailing separators: after the one dropped, the text is its own parent part and
    // counts as created, as a root does; nothing is made.
    const std::string doubled = root + sep + "doubled";
    EXPECT_TRUE(ForceDirectories(doubled + sep + sep));
    EXPECT_FALSE(DirectoryExists(doubled));
    std::filesystem::remove_all(root);
}

TEST(FileCtrl, TextsThatAreNotFullPathsAreRefused)
{
    // What a user can type that would name a folder under the current one (or on the current
    // drive): each raises the toolkit's error and nothing is made, even where such a folder
    // exists already.
    const std::string previous = std::filesystem::current_path().string();
    const std::string here = TempPath("relative");
    std::filesystem::remove_all(here);
    std::filesystem::create_directories(here + "/Existing");
    std::filesystem::current_path(here);
#if defined(_WIN32)
    const char* const texts[] = {"",          "Doduza",     "Doduza\\sub", "ab",       "a",           ".\\Doduza",
                                 "..\\Doduza", "\\Doduza",   "c:Doduza",    "c:",       "Existing",    "Existing\\",
                                 "1:\\x",     "Doduza\\",   " c:\\x"};
#else
    const char* const texts[] = {"", "Doduza", "Doduza/sub", "ab", "a", "./Doduza", "../Doduza", "Existing", "Existing/", " /x"};
#endif
    for (const char* text : texts) {
        try {
            ForceDirectories(text);
            ADD_FAILURE() << "no error for \"" << text << "\"";
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.Message(), SCannotCreateDirectory);
        }
        EXPECT_FALSE(IsFullPath(text)) << text;
    }
    std::vector<std::string> made;
    for (const auto& e : std::filesystem::directory_iterator(here)) made.push_back(e.path().filename().string());
    EXPECT_EQ(made, std::vector<std::string>{"Existing"});
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(here);
#if defined(_WIN32)
    for (const char* text : {"c:\\", "Z:\\x", "\\\\srv\\share", "\\\\?\\c:\\x"}) {
#else
    for (const char* text : {"/", "/x", "//x"}) {
#endif
        EXPECT_TRUE(IsFullPath(text)) << text;
    }
    EXPECT_STREQ(SCannotCreateDirectory, "ディレクトリを作成することができません");
}

} // namespace
