// The buffered stream against a plain byte vector under random operation sequences, with
// several buffer sizes and both memory and file streams behind it; then the cases a model
// cannot see: what the wrapped stream is handed, push-back room, error texts, short writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "NMS_Stream.h"

namespace {

// Sets BufferSize for the streams a test creates and restores it afterwards.
class BufferSizeScope {
public:
    explicit BufferSizeScope(int32_t size) : FSaved(BufferSize) { BufferSize = size; }
    ~BufferSizeScope() { BufferSize = FSaved; }
    BufferSizeScope(const BufferSizeScope&) = delete;
    BufferSizeScope& operator=(const BufferSizeScope&) = delete;

private:
    int32_t FSaved;
};

// Lets the tests see the state the stream keeps to itself.
class Probe : public TS_BufferStream {
public:
    using TS_BufferStream::TS_BufferStream;
    TS_BufferState State() const { return Mode; }
    int32_t BufferCapacity() const { return Capacity; }
};

// A memory stream that records the size of every read and write it is handed, and can be told
// to take only part of a write or to fail outright.
class RecordingStream : public TMemoryStream {
public:
    int32_t Read(void* Buffer, int32_t Count) override
    {
        if (FailReads) throw EReadError("source read failed");
        Reads.push_back(Count);
        return TMemoryStream::Read(Buffer, Count);
    }
    int32_t Write(const void* Buffer, int32_t Count) override
    {
        if (FailWrites) throw EWriteError("source write failed");
        Writes.push_back(Count);
        const int32_t n = TakeAtMost < 0 ? Count : std::min(Count, TakeAtMost);
        return TMemoryStream::Write(Buffer, n);
    }
    std::string Content() { return std::string(reinterpret_cast<const char*>(Memory()), static_cast<std::size_t>(Size())); }

    std::vector<int32_t> Reads;
    std::vector<int32_t> Writes;
    int32_t TakeAtMost = -1;
    bool FailReads = false;
    bool FailWrites = false;
};

std::string Bytes(int n, int first = 0)
{
    std::string s(static_cast<std::size_t>(n), '\0');
    for (int i = 0; i < n; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>((first + i) % 251);
    return s;
}

std::string ReadString(TStream& s, int32_t count)
{
    std::string out(static_cast<std::size_t>(count), '\0');
    out.resize(static_cast<std::size_t>(s.Read(out.data(), count)));
    return out;
}

template <typename F>
std::string MessageOf(F&& f)
{
    try {
        f();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(nothing raised)";
}

// --- against the model -------------------------------------------------------------------------

// Plays random reads, writes, seeks, push-backs and flushes on a buffered stream over Source and
// on a byte vector, comparing every result; the wrapped stream must hold the model's bytes once
// the buffered stream is gone.
void RunModel(TStream& source, int32_t bufferSize, uint32_t seed)
{
    BufferSizeScope scope(bufferSize);
    std::mt19937 rng(seed);
    std::vector<uint8_t> model;
    int64_t pos = 0;
    auto size = [&] { return static_cast<int64_t>(model.size()); };
    auto length = [&] { return static_cast<int32_t>(rng() % 3 == 0 ? rng() % (3 * bufferSize + 2) : rng() % 12); };
    {
        TS_BufferStream stream(source);
        for (int step = 0; step < 4000; ++step) {
            SCOPED_TRACE("seed " + std::to_string(seed) + " step " + std::to_string(step));
            switch (rng() % 7) {
            case 0: { // write
                std::vector<uint8_t> data(static_cast<std::size_t>(length()));
                for (auto& b : data) b = static_cast<uint8_t>(rng());
                ASSERT_EQ(stream.Write(data.data(), static_cast<int32_t>(data.size())), static_cast<int32_t>(data.size()));
                if (!data.empty() && pos + static_cast<int64_t>(data.size()) > size()) model.resize(static_cast<std::size_t>(pos) + data.size());
                std::copy(data.begin(), data.end(), model.begin() + pos);
                pos += static_cast<int64_t>(data.size());
                break;
            }
            case 1:
            case 2: { // read, and push the last byte read back (allowed unless the read hit the end)
                const int32_t want = length();
                std::vector<uint8_t> got(static_cast<std::size_t>(want));
                const int32_t n = stream.Read(got.data(), want);
                ASSERT_EQ(n, std::clamp<int64_t>(size() - pos, 0, want));
                ASSERT_TRUE(std::equal(got.begin(), got.begin() + n, model.begin() + pos));
                pos += n;
                if (n < want) {
                    // The read ended on an empty fill: nothing delivered since, no room.
                    ASSERT_THROW(stream.PutBack('?'), EStreamError);
                } else if (n > 0 && rng() % 2 == 0) {
                    const uint8_t other = static_cast<uint8_t>(rng());
                    stream.PutBack(static_cast<char>(other));
                    uint8_t back = 0;
                    ASSERT_EQ(stream.Read(&back, 1), 1);
                    ASSERT_EQ(back, other);
                    stream.PutBack(static_cast<char>(model[static_cast<std::size_t>(pos - 1)]));
                    --pos;
                }
                if (stream.IsEof()) {
                    ASSERT_EQ(pos, size());
                }
                break;
            }
            case 3: { // seek within the content (or just past it); origin 2 counts backwards
                const int64_t target = static_cast<int64_t>(rng() % static_cast<uint32_t>(size() + 2));
                const auto origin = static_cast<uint16_t>(rng() % 3);
                const int64_t offset = origin == soFromBeginning ? target : origin == soFromCurrent ? target - pos : size() - target;
                ASSERT_EQ(stream.Seek(offset, origin), target);
                pos = target;
                break;
            }
            case 4:
                ASSERT_TRUE(stream.FlushBuffer());
                break;
            default:
                ASSERT_EQ(stream.Position(), pos);
                ASSERT_EQ(stream.Size(), size());
                ASSERT_EQ(stream.Position(), pos);
            }
        }
    }
    source.SetPosition(0);
    std::vector<uint8_t> all(model.size() + 1);
    ASSERT_EQ(source.Read(all.data(), static_cast<int32_t>(all.size())), size());
    all.pop_back();
    EXPECT_EQ(all, model);
}

TEST(BufferStream, MatchesByteModelOverMemoryStream)
{
    uint32_t seed = 1;
    for (const int32_t bufferSize : {1, 2, 7, 64, 32768}) {
        for (int round = 0; round < 3; ++round) {
            TMemoryStream source;
            RunModel(source, bufferSize, seed++);
            if (HasFatalFailure()) return;
        }
    }
}

TEST(BufferStream, MatchesByteModelOverFileStream)
{
    const std::string path = (std::filesystem::temp_directory_path() / "setup_net_bufstream.bin").string();
    for (const int32_t bufferSize : {5, 100}) {
        {
            TFileStream source(path, fmCreate);
            RunModel(source, bufferSize, 100 + static_cast<uint32_t>(bufferSize));
        }
        std::remove(path.c_str());
        if (HasFatalFailure()) return;
    }
}

// --- what the wrapped stream sees --------------------------------------------------------------

TEST(BufferStream, HandsOnWholeBlocksOfTheDefaultSize)
{
    EXPECT_EQ(BufferSize, 32768);
    RecordingStream source;
    Probe stream(source);
    EXPECT_EQ(stream.BufferCapacity(), 32768);
    const std::string data = Bytes(32768);
    ASSERT_EQ(stream.Write(data.data(), 32767), 32767);
    EXPECT_TRUE(source.Writes.empty());
    EXPECT_EQ(stream.Position(), 32767);
    ASSERT_EQ(stream.Write(data.data() + 32767, 1), 1);
    EXPECT_EQ(source.Writes, std::vector<int32_t>{32768});
    EXPECT_EQ(stream.State(), bsUnknown);
    EXPECT_EQ(stream.GetBufPosition(), 0);
    EXPECT_EQ(source.Content(), data);
    // Nothing stale is delivered from the buffer that was just written out.
    char c = 0;
    EXPECT_EQ(stream.Read(&c, 1), 0);

    // Many small writes reach the wrapped stream as whole blocks, the rest at destruction.
    RecordingStream second;
    {
        TS_BufferStream small(second);
        for (int i = 0; i < 10000; ++i) small.WriteBuffer("0123456", 7);
        EXPECT_EQ(second.Writes, (std::vector<int32_t>{32768, 32768}));
    }
    EXPECT_EQ(second.Writes, (std::vector<int32_t>{32768, 32768, 70000 - 65536}));
}

TEST(BufferStream, BufferSizeAffectsOnlyLaterStreams)
{
    RecordingStream source;
    source.WriteBuffer(Bytes(100).data(), 100);
    source.SetPosition(0);
    BufferSizeScope scope(16);
    Probe first(source);
    BufferSize = 40;
    Probe second(source);
    EXPECT_EQ(first.BufferCapacity(), 16);
    EXPECT_EQ(second.BufferCapacity(), 40);
    EXPECT_EQ(ReadString(first, 20), Bytes(20));
    EXPECT_EQ(source.Reads, (std::vector<int32_t>{16, 16}));
    BufferSize = 0;
    Probe tiny(source);
    EXPECT_EQ(tiny.BufferCapacity(), 1);
}

TEST(BufferStream, FillAndFlushEventsFirePerBlock)
{
    BufferSizeScope scope(32);
    TMemoryStream source;
    TS_BufferStream stream(source);
    int fills = 0;
    int flushes = 0;
    TObject* sender = nullptr;
    stream.OnAfterFill = [&](TObject* s) { ++fills; sender = s; };
    stream.OnAfterFlush = [&](TObject* s) { ++flushes; sender = s; };
    stream.WriteBuffer(Bytes(100).data(), 100);
    EXPECT_EQ(flushes, 3);
    EXPECT_EQ(sender, &stream);
    stream.SetPosition(0);
    EXPECT_EQ(flushes, 4);
    sender = nullptr;
    EXPECT_EQ(ReadString(stream, 100), Bytes(100));
    EXPECT_EQ(fills, 4);
    EXPECT_EQ(sender, &stream);
    EXPECT_EQ(ReadString(stream, 1), "");
    EXPECT_EQ(fills, 5); // the empty fill at the end
}

// --- positions and seeks -----------------------------------------------------------------------

TEST(BufferStream, SeekRules)
{
    struct Case {
        const char* what;
        int64_t offset;
        uint16_t origin;
        int64_t expect;
    };
    const Case cases[] = {
        {"from the beginning", 30, soFromBeginning, 30},
        {"from the current position (40)", -15, soFromCurrent, 25},
        {"origin 2 counts backwards from the end", 10, soFromEnd, 90},
        {"origin 2, offset 0 is the end", 0, soFromEnd, 100},
        {"origin 2, negative offset lies past the end", -5, soFromEnd, 105},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TMemoryStream source;
        source.WriteBuffer(Bytes(100).data(), 100);
        source.SetPosition(0);
        TS_BufferStream stream(source);
        EXPECT_EQ(ReadString(stream, 40), Bytes(40));
        EXPECT_EQ(stream.Seek(c.offset, c.origin), c.expect);
        EXPECT_EQ(stream.Position(), c.expect);
        if (c.expect < 100) {
            EXPECT_EQ(ReadString(stream, 1), Bytes(1, static_cast<int>(c.expect)));
        }
    }
}

TEST(BufferStream, SeekToTheCurrentPositionKeepsBufferedData)
{
    RecordingStream source;
    TS_BufferStream stream(source);
    stream.WriteBuffer("0123456789", 10);
    EXPECT_EQ(stream.Seek(0, soFromCurrent), 10);
    EXPECT_EQ(stream.Seek(10, soFromBeginning), 10);
    EXPECT_EQ(stream.Seek(0, soFromEnd), 10);
    EXPECT_EQ(stream.Size(), 10);
    EXPECT_TRUE(source.Writes.empty());
    EXPECT_EQ(stream.GetBufPosition(), 10);

    // Reading: the wrapped stream has read ahead, the stream reports the reader's position.
    TMemoryStream data;
    data.WriteBuffer("0123456789", 10);
    data.SetPosition(0);
    TS_BufferStream reader(data);
    EXPECT_EQ(ReadString(reader, 3), "012");
    EXPECT_EQ(data.Position(), 10);
    EXPECT_EQ(reader.GetBufPosition(), -7);
    EXPECT_EQ(reader.Position(), 3);
    EXPECT_EQ(ReadString(reader, 2), "34");
}

TEST(BufferStream, EndCountsBytesStillBuffered)
{
    // Appending after a seek to the end must not land on bytes not yet handed on.
    TMemoryStream source;
    {
        TS_BufferStream stream(source);
        stream.WriteBuffer(Bytes(100).data(), 100);
        EXPECT_EQ(stream.Size(), 100);
        EXPECT_EQ(stream.Seek(0, soFromEnd), 100);
        stream.WriteBuffer("x", 1);
        stream.SetPosition(0);
        stream.WriteBuffer("AB", 2);
        EXPECT_EQ(stream.Seek(1, soFromEnd), 100);
        EXPECT_EQ(ReadString(stream, 5), "x");
    }
    EXPECT_EQ(source.Size(), 101);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(source.Memory()), 3), std::string("AB") + Bytes(1, 2));
}

TEST(BufferStream, ListedReadWriteSequences)
{
    { // 100 bytes written, back to 0, read back; the size is 100
        TMemoryStream source;
        TS_BufferStream stream(source);
        const std::string data = Bytes(100, 7);
        stream.WriteBuffer(data.data(), 100);
        EXPECT_EQ(stream.Seek(0, soFromBeginning), 0);
        EXPECT_EQ(stream.Size(), 100);
        EXPECT_EQ(ReadString(stream, 100), data);
        EXPECT_EQ(ReadString(stream, 0), "");
    }
    { // read after write without a seek: the written bytes go first, reading continues after
        RecordingStream source;
        source.WriteBuffer("0123456789", 10);
        source.SetPosition(0);
        TS_BufferStream stream(source);
        stream.WriteBuffer("ab", 2);
        EXPECT_EQ(ReadString(stream, 3), "234");
        EXPECT_EQ(source.Content(), "ab23456789");
    }
    { // write after reading to the end appends
        TMemoryStream source;
        source.WriteBuffer("abc", 3);
        source.SetPosition(0);
        {
            TS_BufferStream stream(source);
            EXPECT_EQ(ReadString(stream, 10), "abc");
            EXPECT_TRUE(stream.IsEof());
            stream.WriteBuffer("de", 2);
        }
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(source.Memory()), 5), "abcde");
    }
    { // write in the middle of a read block goes where the reader stands
        TMemoryStream source;
        source.WriteBuffer("0123456789", 10);
        source.SetPosition(0);
        {
            TS_BufferStream stream(source);
            EXPECT_EQ(ReadString(stream, 4), "0123");
            EXPECT_EQ(stream.Write(nullptr, 0), 0); // an empty write keeps the position
            EXPECT_EQ(stream.Position(), 4);
            stream.WriteBuffer("xy", 2);
            EXPECT_EQ(ReadString(stream, 2), "67");
        }
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(source.Memory()), 10), "0123xy6789");
    }
}

TEST(BufferStream, IsEofOnlyAfterTheLastBlockIsUsed)
{
    TMemoryStream source;
    source.WriteBuffer("abc", 3);
    TS_BufferStream stream(source);
    EXPECT_FALSE(stream.IsEof()); // not read yet, though the source stands at its end
    EXPECT_EQ(stream.Seek(0, soFromBeginning), 0);
    EXPECT_EQ(ReadString(stream, 2), "ab");
    EXPECT_FALSE(stream.IsEof()); // one byte left in the buffer, the source at its end
    EXPECT_EQ(ReadString(stream, 1), "c");
    EXPECT_TRUE(stream.IsEof());
}

// --- push-back ---------------------------------------------------------------------------------

TEST(BufferStream, PutBackWorksWithinTheBytesDeliveredSinceTheLastFill)
{
    BufferSizeScope scope(4);
    TMemoryStream source;
    source.WriteBuffer("abcdefgh", 8);
    source.SetPosition(0);
    TS_BufferStream stream(source);
    EXPECT_EQ(MessageOf([&] { stream.PutBack('x'); }), "PutBack overflow");
    EXPECT_EQ(ReadString(stream, 3), "abc");
    stream.PutBack('3');
    stream.PutBack('2');
    stream.PutBack('1');
    EXPECT_THROW(stream.PutBack('0'), EStreamError);
    EXPECT_EQ(stream.Position(), 0);
    EXPECT_EQ(ReadString(stream, 5), "123de"); // the pushed bytes first, then the stream
    stream.PutBack('E');
    EXPECT_EQ(MessageOf([&] { stream.PutBack('D'); }), "PutBack overflow"); // "d" came before the fill
    EXPECT_EQ(ReadString(stream, 10), "Efgh");
}

TEST(BufferStream, PutBackIsRefusedWhileWriting)
{
    TMemoryStream source;
    {
        TS_BufferStream stream(source);
        stream.WriteBuffer("abc", 3);
        EXPECT_EQ(MessageOf([&] { stream.PutBack('x'); }), "PutBack overflow");
        char c = 0;
        EXPECT_EQ(stream.Read(&c, 0), 0); // only the flush: nothing read yet
        EXPECT_THROW(stream.PutBack('x'), EStreamError);
    }
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(source.Memory()), 3), "abc");
}

// --- failures ----------------------------------------------------------------------------------

TEST(BufferStream, ErrorTexts)
{
    TMemoryStream source;
    TS_BufferStream stream(source);
    for (const uint16_t origin : {uint16_t{3}, uint16_t{65535}}) {
        try {
            stream.Seek(0, origin);
            ADD_FAILURE() << "origin " << origin << " accepted";
        } catch (const EStreamError&) {
            ADD_FAILURE() << "a bad origin is a plain Exception";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "Invalid seek origin = " + std::to_string(origin));
        }
    }
    EXPECT_THROW(stream.Seek(int64_t{1} << 32, soFromBeginning), EStreamError);
}

TEST(BufferStream, ShortWritesAreReported)
{
    BufferSizeScope scope(8);
    { // Write counts only the bytes that reached the wrapped stream or wait in the buffer
        RecordingStream source;
        TS_BufferStream stream(source);
        source.TakeAtMost = 5;
        EXPECT_EQ(stream.Write("0123456789ABCDEFGHIJ", 20), 5);
        EXPECT_EQ(source.Content(), "01234");
        EXPECT_EQ(stream.Position(), 5);
        EXPECT_THROW(stream.WriteBuffer("01234567", 8), EWriteError);
    }
    { // bytes of earlier writes in the block are counted against neither
        RecordingStream source;
        TS_BufferStream stream(source);
        stream.WriteBuffer("abcdef", 6);
        source.TakeAtMost = 7;
        EXPECT_EQ(stream.Write("ghij", 4), 1);
        EXPECT_EQ(source.Content(), "abcdefg");
    }
    { // a seek that cannot hand on the buffer
        RecordingStream source;
        TS_BufferStream stream(source);
        stream.WriteBuffer("abc", 3);
        source.TakeAtMost = 1;
        EXPECT_EQ(MessageOf([&] { stream.Seek(0, soFromBeginning); }), "Seek error");
        EXPECT_EQ(stream.GetBufPosition(), 0);
        EXPECT_EQ(stream.Position(), 1);
    }
    { // a read that cannot hand on the buffer first
        RecordingStream source;
        TS_BufferStream stream(source);
        stream.WriteBuffer("abc", 3);
        source.TakeAtMost = 2;
        char buf[4];
        EXPECT_THROW(stream.Read(buf, 4), EWriteError);
    }
}

TEST(BufferStream, SourceErrorsPassThroughAndDestructionSwallowsThem)
{
    RecordingStream source;
    source.WriteBuffer("abc", 3);
    source.SetPosition(0);
    {
        TS_BufferStream stream(source);
        source.FailReads = true;
        char c = 0;
        EXPECT_EQ(MessageOf([&] { stream.Read(&c, 1); }), "source read failed");
        source.FailReads = false;
        stream.WriteBuffer("xy", 2);
        source.FailWrites = true;
        EXPECT_EQ(MessageOf([&] { stream.FlushBuffer(); }), "source write failed");
    } // the destructor's flush raises again and must not escape
    EXPECT_EQ(source.Content(), "abc");
}

TEST(BufferStream, MemoryHelpers)
{
    char text[] = "abcdef";
    HMemCpy(text + 1, text, 4); // overlapping
    EXPECT_STREQ(text, "aabcdf");
    char* p = text;
    HugeInc(p, 4);
    EXPECT_EQ(*p, 'd');
    HugeDec(p, 3);
    EXPECT_EQ(p, HugeOffset(text, 1));
}

} // namespace
