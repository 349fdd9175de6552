// TNMUUProcessor against Python's base64 and binascii (codec_vectors.inc), the worked examples,
// the line reader, the events' order and streams that misbehave.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "codec/NMUUE.h"
#include "codec_vectors.inc"

namespace {

using namespace std::string_literals;

std::string Content(TMemoryStream& s)
{
    return std::string(reinterpret_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.Size()));
}

void Fill(TMemoryStream& s, std::string_view bytes)
{
    s.Clear();
    if (!bytes.empty()) s.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    s.SetPosition(0);
}

class Processor : public ::testing::Test {
protected:
    // The owner frees the processor (LeakSanitizer would report otherwise).
    TComponent Owner{nullptr};
    TNMUUProcessor* UU = new TNMUUProcessor(&Owner);
    TMemoryStream Source;
    TMemoryStream Target;

    void SetUp() override
    {
        UU->SourceStream = &Source;
        UU->TargetStream = &Target;
    }

    std::string Run(UUMethods method, std::string_view input, bool encode)
    {
        Fill(Source, input);
        Target.Clear();
        UU->SetMethod(method);
        if (encode) {
            UU->Encode();
        } else {
            UU->Decode();
        }
        return Content(Target);
    }
};

// The encoding alphabets are checked whole by the comparisons with Python; the decoding table
// also has entries for the characters that are no digit.
TEST_F(Processor, DecodingTableIsTheInverseOfTheAlphabet)
{
    for (int c = 0x2B; c <= 0x7A; ++c) {
        const auto* at = std::find(MimeTable.begin(), MimeTable.end(), static_cast<char>(c));
        const int expect = at != MimeTable.end() ? static_cast<int>(at - MimeTable.begin()) : c == '=' ? 64 : 127;
        EXPECT_EQ(base64Table[static_cast<std::size_t>(c - 0x2B)], expect) << static_cast<char>(c);
    }
    for (char c : {'`', ' ', 'A', '_'}) {
        EXPECT_EQ(TNMUUProcessor::UuDEC(c), c == '`' || c == ' ' ? 0 : c - 0x20) << c;
    }
}

TEST_F(Processor, EncodeMatchesPythonLineByLine)
{
    for (const auto& v : codec_vectors::kBytes) {
        ASSERT_EQ(Run(uuMime, v.Data, true), v.Mime) << "size " << v.Data.size();
        EXPECT_EQ(Source.Position(), Source.Size());
        EXPECT_EQ(Target.Position(), 0);
        ASSERT_EQ(Run(uuCode, v.Data, true), v.UU) << "size " << v.Data.size();
        EXPECT_EQ(Target.Position(), 0);
    }
}

TEST_F(Processor, DecodeReadsPythonsOutputAndItsOwn)
{
    for (const auto& v : codec_vectors::kBytes) {
        ASSERT_EQ(Run(uuMime, v.PyMime, false), v.Data) << "base64.encodebytes, size " << v.Data.size();
        ASSERT_EQ(Run(uuCode, v.PyUU, false), v.Data) << "b2a_uu, size " << v.Data.size();
        ASSERT_EQ(Run(uuMime, v.Mime, false), v.Data) << "own Base64, size " << v.Data.size();
        ASSERT_EQ(Run(uuCode, v.UU, false), v.Data) << "own uuencode, size " << v.Data.size();
    }
}

TEST_F(Processor, ShortenedUULinesDecodeAsPythonDoes)
{
    for (const auto& v : codec_vectors::kShortUULines) {
        EXPECT_EQ(Run(uuCode, std::string(v.Line) + "\r\n", false), v.Bytes) << v.Line;
    }
}

TEST_F(Processor, EncodeWorkedExamples)
{
    EXPECT_EQ(UU->Method(), uuMime);
    EXPECT_EQ(Run(uuMime, "Cat", true), "Q2F0\r\n");
    EXPECT_EQ(Run(uuCode, "Cat", true), "#0V%T\r\n`\r\n");
    EXPECT_EQ(Run(uuCode, "", true), "`\r\n");
}

TEST_F(Processor, DecodeCases)
{
    struct Case {
        UUMethods Method;
        std::string Input;
        std::string Output;
    } const cases[] = {
        {uuMime, "QUJD\r\n", "ABC"},
        {uuMime, "QQ==\r\n", "A"},
        {uuMime, "====\r\nQUJD\r\n", "ABC"},
        // A line starting with "=" ends the decoding before anything of it is written.
        {uuMime, "QUJD\r\n=QUJD\r\nQUJD\r\n", "ABC"},
        {uuMime, "===\r\nQUJD\r\n", ""},
        // A group ending in "=" ends the decoding after its line.
        {uuMime, "QUI=\r\nQUJD\r\n", "AB"},
        {uuMime, "QUJDQQ==\r\nQUJD\r\n", "ABCA"},
        // Leading characters that are not digits are skipped; a CR among them ends decoding.
        {uuMime, "  *QUJD\r\n", "ABC"},
        {uuMime, " \rQUJD\r\nQUJD\r\n", ""},
        // Only non-digits up to the last character: the line is dropped.
        {uuMime, "  Q\r\nQUJD\r\n", "ABC"},
        // Lines of one or two characters are skipped.
        {uuMime, "QU\r\nQUJD\r\n", "ABC"},
        // Characters outside the alphabet between groups are skipped.
        {uuMime, "QUJD !QUJD\r\n", "ABCABC"},
        // A last line without LF; a group cut short by its line's end.
        {uuMime, "QUJD", "ABC"},
        {uuMime, "QUJDQUI", "ABCAB"},
        // A bare LF costs the character before it.
        {uuMime, "QUJDx\nQUJD\n\n", "ABCAB"},
        {uuCode, "#0V%T\r\n`\r\n", "Cat"},
        {uuCode, "#0V%T", "Cat"},
        // A line of more than two characters whose length character is 0 drops the next line.
        {uuCode, "`xx\r\n#0V%T\r\n#0V%T\r\n", "Cat"},
        {uuCode, "!0\r\n#0V%T\r\n", "Cat"},
        {uuCode, "", ""},
        {uuMime, "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Run(c.Method, c.Input, false), c.Output) << c.Method << " " << ::testing::PrintToString(c.Input);
    }
}

TEST_F(Processor, LongBase64LinesAreTakenInBlocks)
{
    std::string data;
    for (int i = 0; i < 300; ++i) data += static_cast<char>(i * 7);
    Fill(Source, data);
    Target.Clear();
    UU->Encode();
    std::string oneLine = Content(Target);
    oneLine.erase(std::remove(oneLine.begin(), oneLine.end(), '\r'), oneLine.end());
    oneLine.erase(std::remove(oneLine.begin(), oneLine.end(), '\n'), oneLine.end());
    ASSERT_EQ(oneLine.size(), 400u);
    EXPECT_EQ(Run(uuMime, oneLine + "\r\n", false), data);
    EXPECT_EQ(Run(uuMime, oneLine, false), data);
}

TEST_F(Processor, DecodeUsesBothStreamsWhereTheyStand)
{
    Fill(Source, "xxxxQUJD\r\n");
    Source.SetPosition(4);
    Fill(Target, "0123456");
    Target.SetPosition(2);
    UU->SetMethod(uuMime);
    UU->Decode();
    EXPECT_EQ(Content(Target), "01ABC56");
    EXPECT_EQ(Target.Position(), 5);
    EXPECT_EQ(Source.Position(), Source.Size());
}

TEST(ReadLnFromStream, LinesAndPositions)
{
    struct Case {
        std::string Text;
        int64_t Start;
        std::string Line;
        int64_t Next;
    } const cases[] = {
        {"ab\r\ncd", 0, "ab", 4},
        {"ab\r\ncd", 4, "cd", 6},
        {"ab\ncd", 0, "a", 3},
        {"\nx", 0, "", 1},
        {"\r\n", 0, "", 2},
        {"abc", 0, "abc", 3},
        {"", 0, "", 0},
        {"abc", 3, "", 3},
        {std::string(250, 'x'), 0, std::string(200, 'x'), 200},
        {std::string(250, 'x'), 200, std::string(50, 'x'), 250},
        {std::string(199, 'x') + "\n", 0, std::string(198, 'x'), 200},
        {std::string(200, 'x') + "\n", 0, std::string(200, 'x'), 200},
    };
    for (const auto& c : cases) {
        TMemoryStream s;
        Fill(s, c.Text);
        s.SetPosition(c.Start);
        std::string line = "stale";
        TNMUUProcessor::ReadLnFromStream(s, line);
        EXPECT_EQ(line, c.Line) << c.Text.size() << "@" << c.Start;
        EXPECT_EQ(s.Position(), c.Next) << c.Text.size() << "@" << c.Start;
    }
}

// A memory stream that can be told to misbehave: hand over at most ReadLimit bytes per read,
// or refuse writes.
class TTestStream : public TMemoryStream {
public:
    int32_t ReadLimit = 1 << 30;
    bool RefuseWrites = false;

    int32_t Read(void* Buffer, int32_t Count) override
    {
        return TMemoryStream::Read(Buffer, std::min(Count, ReadLimit));
    }
    int32_t Write(const void* Buffer, int32_t Count) override
    {
        return RefuseWrites ? 0 : TMemoryStream::Write(Buffer, Count);
    }
};

// A read-only stream that reports a size larger than the bytes it can deliver (a truncated file
// or a broken medium).
class TTruncatedStream : public TStream {
public:
    TTruncatedStream(std::string data, int64_t claimedSize) : FData(std::move(data)), FClaimed(claimedSize) {}
    int32_t Read(void* Buffer, int32_t Count) override
    {
        const auto left = static_cast<int64_t>(FData.size()) - FPos;
        const auto n = static_cast<int32_t>(std::max<int64_t>(0, std::min<int64_t>(Count, left)));
        if (n > 0) std::copy_n(FData.data() + FPos, n, static_cast<char*>(Buffer));
        FPos += n;
        return n;
    }
    int32_t Write(const void*, int32_t) override { return 0; }
    int64_t Seek(int64_t Offset, uint16_t Origin) override
    {
        FPos = Origin == soFromBeginning ? Offset : Origin == soFromCurrent ? FPos + Offset : FClaimed + Offset;
        return FPos;
    }
    int64_t Size() override { return FClaimed; }

private:
    std::string FData;
    int64_t FClaimed;
    int64_t FPos = 0;
};

struct EventLog {
    std::vector<std::string> Entries;
    void Attach(TNMUUProcessor& uu, TStream& source, TStream& target)
    {
        uu.OnBeginEncode = [&](TObject*) { Entries.push_back("BeginEncode src@" + std::to_string(source.Position())); };
        uu.OnEndEncode = [&](TObject*) { Entries.push_back("EndEncode dst@" + std::to_string(target.Position())); };
        uu.OnBeginDecode = [&](TObject*) { Entries.push_back("BeginDecode"); };
        uu.OnEndDecode = [&](TObject*) { Entries.push_back("EndDecode"); };
    }
};

TEST(ProcessorEvents, OrderAndFailures)
{
    TComponent owner(nullptr);
    auto* uu = new TNMUUProcessor(&owner);
    TTestStream source;
    TTestStream target;
    uu->SourceStream = &source;
    uu->TargetStream = &target;
    EventLog log;
    log.Attach(*uu, source, target);

    Fill(source, "Cat");
    source.SetPosition(2);
    uu->Encode();
    uu->Decode();
    EXPECT_EQ(log.Entries, (std::vector<std::string>{"BeginEncode src@0", "EndEncode dst@0", "BeginDecode", "EndDecode"}));
    EXPECT_EQ(Content(target), "Q2F0\r\n");

    // A target that takes nothing: the failure is raised, after OnEndEncode.
    log.Entries.clear();
    target.RefuseWrites = true;
    EXPECT_THROW(uu->Encode(), EWriteError);
    EXPECT_EQ(log.Entries, (std::vector<std::string>{"BeginEncode src@0", "EndEncode dst@0"}));

    // The same in Decode skips OnEndDecode.
    log.Entries.clear();
    Fill(source, "QUJD\r\n");
    EXPECT_THROW(uu->Decode(), EWriteError);
    EXPECT_EQ(log.Entries, (std::vector<std::string>{"BeginDecode"}));
}

TEST(ProcessorStreams, ShortReadsStillGiveFullLines)
{
    std::string data;
    for (int i = 0; i < 200; ++i) data += static_cast<char>(i * 13 + 5);
    for (UUMethods method : {uuMime, uuCode}) {
        TNMUUProcessor reference(nullptr);
        TMemoryStream plain;
        TMemoryStream expect;
        Fill(plain, data);
        reference.SetMethod(method);
        reference.SourceStream = &plain;
        reference.TargetStream = &expect;
        reference.Encode();

        TNMUUProcessor uu(nullptr);
        TTestStream trickle;
        trickle.ReadLimit = 7;
        TMemoryStream got;
        Fill(trickle, data);
        uu.SetMethod(method);
        uu.SourceStream = &trickle;
        uu.TargetStream = &got;
        uu.Encode();
        EXPECT_EQ(Content(got), Content(expect)) << method;
    }
}

TEST(ProcessorStreams, SourceThatYieldsLessThanItsSizeNeitherHangsNorPassesAsDone)
{
    TNMUUProcessor uu(nullptr);
    TTruncatedStream source("QUJD\r\nQUJD", 1000);
    TMemoryStream target;
    uu.SourceStream = &source;
    uu.TargetStream = &target;
    for (UUMethods method : {uuMime, uuCode}) {
        uu.SetMethod(method);
        source.SetPosition(0);
        target.Clear();
        uu.Decode();
        EXPECT_EQ(source.Position(), 10) << method;
        if (method == uuMime) {
            EXPECT_EQ(Content(target), "ABCABC");
        }
    }
    EXPECT_THROW(uu.Encode(), EReadError);
}

TEST(ProcessorStreams, UnassignedStreamsAreRefusedBeforeAnyEvent)
{
    TNMUUProcessor uu(nullptr);
    TMemoryStream stream;
    int events = 0;
    uu.OnBeginEncode = uu.OnEndEncode = uu.OnBeginDecode = uu.OnEndDecode = [&](TObject*) { ++events; };
    uu.SourceStream = &stream;
    EXPECT_THROW(uu.Encode(), EStreamError);
    EXPECT_THROW(uu.Decode(), EStreamError);
    uu.SourceStream = nullptr;
    uu.TargetStream = &stream;
    EXPECT_THROW(uu.Encode(), EStreamError);
    EXPECT_EQ(events, 0);
}

} // namespace
