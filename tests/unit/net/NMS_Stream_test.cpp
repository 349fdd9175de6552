// The buffered stream against a plain byte vector under random operations, then what a model
// cannot see: the blocks the wrapped stream is handed, push-back room, error texts, short writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "net/NMS_Stream.h"

namespace {

class BufferSizeScope {
public:
    explicit BufferSizeScope(int32_t size) : FSaved(BufferSize) { BufferSize = size; }
    ~BufferSizeScope() { BufferSize = FSaved; }

private:
    int32_t FSaved;
};

// A memory stream recording the writes it is handed; it can take only part of one, or fail.
class RecordingStream : public TMemoryStream {
public:
    int32_t Write(const void* Buffer, int32_t Count) override
    {
        if (Fail) throw EWriteError("source write failed");
        Writes.push_back(Count);
        return TMemoryStream::Write(Buffer, TakeAtMost < 0 ? Count : std::min(Count, TakeAtMost));
    }
    std::string Content() { return std::string(reinterpret_cast<const char*>(Memory()), static_cast<std::size_t>(Size())); }
    std::vector<int32_t> Writes;
    int32_t TakeAtMost = -1;
    bool Fail = false;
};

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

// Random writes, reads (each maybe followed by push-backs), seeks from every origin (origin 2
// counting backwards), flushes and size checks; the wrapped stream must end up with the model.
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
            const auto op = rng() % 7;
            if (op == 0) {
                std::vector<uint8_t> data(static_cast<std::size_t>(length()));
                for (auto& b : data) b = static_cast<uint8_t>(rng());
                ASSERT_EQ(stream.Write(data.data(), static_cast<int32_t>(data.size())), static_cast<int32_t>(data.size()));
                if (!data.empty() && pos + static_cast<int64_t>(data.size()) > size()) model.resize(static_cast<std::size_t>(pos) + data.size());
                std::copy(data.begin(), data.end(), model.begin() + static_cast<std::ptrdiff_t>(pos));
                pos += static_cast<int64_t>(data.size());
            } else if (op <= 2) {
                const int32_t want = length();
                std::vector<uint8_t> got(static_cast<std::size_t>(want));
                const int32_t n = stream.Read(got.data(), want);
                ASSERT_EQ(n, std::clamp<int64_t>(size() - pos, 0, want));
                ASSERT_TRUE(std::equal(got.begin(), got.begin() + n, model.begin() + static_cast<std::ptrdiff_t>(pos)));
                pos += n;
                if (n < want) { // ended on an empty fill: nothing delivered since, no room
                    ASSERT_THROW(stream.PutBack('?'), EStreamError);
                } else if (n > 0 && rng() % 2 == 0) { // a foreign byte comes out first, then the real one goes back
                    const auto other = static_cast<uint8_t>(rng());
                    stream.PutBack(static_cast<char>(other));
                    uint8_t back = 0;
                    ASSERT_EQ(stream.Read(&back, 1), 1);
                    ASSERT_EQ(back, other);
                    stream.PutBack(static_cast<char>(model[static_cast<std::size_t>(--pos)]));
                }
                ASSERT_TRUE(!stream.IsEof() || pos == size());
            } else if (op == 3) { // within the content or just past it
                const auto target = static_cast<int64_t>(rng() % static_cast<uint32_t>(size() + 2));
                const auto origin = static_cast<uint16_t>(rng() % 3);
                const int64_t offset = origin == soFromBeginning ? target : origin == soFromCurrent ? target - pos : size() - target;
                ASSERT_EQ(stream.Seek(offset, origin), target);
                pos = target;
            } else if (op == 4) {
                ASSERT_TRUE(stream.FlushBuffer());
            } else {
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

TEST(BufferStream, MatchesByteModel)
{
    uint32_t seed = 1;
    for (const int32_t bufferSize : {1, 2, 7, 64, 32768}) {
        for (int round = 0; round < 3; ++round) {
            TMemoryStream source;
            RunModel(source, bufferSize, seed++);
            if (HasFatalFailure()) return;
        }
    }
    const std::string path = (std::filesystem::temp_directory_path() / "setup_net_bufstream.bin").string();
    {
        TFileStream file(path, fmCreate);
        RunModel(file, 5, seed);
    }
    std::remove(path.c_str());
}

TEST(BufferStream, HandsOnWholeBlocks)
{
    EXPECT_EQ(BufferSize, 32768);
    RecordingStream source;
    int flushes = 0;
    {
        TS_BufferStream stream(source);
        stream.OnAfterFlush = [&](TObject* sender) { flushes += sender == &stream; };
        const std::string data(32768, 'a');
        stream.WriteBuffer(data.data(), 32767);
        EXPECT_TRUE(source.Writes.empty());
        EXPECT_EQ(stream.Seek(0, soFromCurrent), 32767); // keeps the buffered bytes
        stream.WriteBuffer("b", 1);
        EXPECT_EQ(source.Writes, std::vector<int32_t>{32768});
        EXPECT_EQ(stream.GetBufPosition(), 0);
        EXPECT_EQ(ReadString(stream, 1), ""); // nothing stale from the block just written
        for (int i = 0; i < 10000; ++i) stream.WriteBuffer("0123456", 7);
        EXPECT_EQ(source.Writes, (std::vector<int32_t>{32768, 32768, 32768}));
    }
    EXPECT_EQ(source.Writes.back(), 32768 + 70000 - 3 * 32768);
    EXPECT_EQ(flushes, 4);
}

TEST(BufferStream, ListedSequences)
{
    TMemoryStream source;
    TS_BufferStream stream(source);
    const std::string data = "0123456789" + std::string(90, 'x');
    stream.WriteBuffer(data.data(), 100);
    EXPECT_EQ(stream.Seek(0, soFromBeginning), 0);
    EXPECT_EQ(stream.Size(), 100);
    EXPECT_EQ(ReadString(stream, 100), data);
    EXPECT_TRUE(stream.IsEof());
    stream.WriteBuffer("end", 3); // after reading to the end: appends
    EXPECT_EQ(stream.Seek(10, soFromEnd), 93);
    EXPECT_EQ(ReadString(stream, 1), "x");
    EXPECT_EQ(ReadString(stream, 0), "");
    stream.SetPosition(2);
    stream.WriteBuffer("ab", 2); // read after write: the bytes go first, reading continues after
    EXPECT_EQ(ReadString(stream, 3), "456");
    stream.WriteBuffer("", 0); // an empty write in a read block keeps the position
    EXPECT_EQ(stream.Position(), 7);
    EXPECT_EQ(stream.Seek(-2, soFromEnd), 105);
    EXPECT_EQ(stream.Seek(0, soFromEnd), 103);
    stream.WriteBuffer("!", 1);
    EXPECT_EQ(stream.Size(), 104); // bytes not yet handed on count towards the end
    stream.SetPosition(0);
    EXPECT_EQ(ReadString(stream, 200), "01ab456789" + std::string(90, 'x') + "end!");
}

TEST(BufferStream, PutBackWithinTheBytesDeliveredSinceTheLastFill)
{
    BufferSizeScope scope(4);
    TMemoryStream source;
    source.WriteBuffer("abcdefgh", 8);
    source.SetPosition(0);
    TS_BufferStream stream(source);
    EXPECT_EQ(MessageOf([&] { stream.PutBack('x'); }), "PutBack overflow");
    EXPECT_EQ(ReadString(stream, 3), "abc");
    for (const char c : {'3', '2', '1'}) stream.PutBack(c);
    EXPECT_EQ(MessageOf([&] { stream.PutBack('0'); }), "PutBack overflow");
    EXPECT_EQ(ReadString(stream, 5), "123de");
    stream.PutBack('E');
    EXPECT_THROW(stream.PutBack('D'), EStreamError); // "d" came before the last fill
    EXPECT_EQ(ReadString(stream, 10), "Efgh");
    stream.WriteBuffer("ij", 2); // bytes still to be written are not delivered ones
    EXPECT_EQ(MessageOf([&] { stream.PutBack('x'); }), "PutBack overflow");
}

TEST(BufferStream, FailuresAndTheirTexts)
{
    BufferSizeScope scope(8);
    RecordingStream source;
    auto stream = std::make_unique<TS_BufferStream>(source);
    for (const uint16_t origin : {uint16_t{3}, uint16_t{65535}}) {
        EXPECT_EQ(MessageOf([&] { stream->Seek(0, origin); }), "Invalid seek origin = " + std::to_string(origin));
    }
    ASSERT_THROW(stream->Seek(int64_t{1} << 32, soFromBeginning), EStreamError);

    stream->WriteBuffer("abcdef", 6);
    source.TakeAtMost = 7; // of the 8-byte block, 7 go through: 1 of this call's 2 bytes
    EXPECT_EQ(stream->Write("ghijklmnopqrst", 14), 1);
    EXPECT_EQ(source.Content(), "abcdefg");
    EXPECT_EQ(stream->Position(), 7);
    EXPECT_THROW(stream->WriteBuffer("01234567", 8), EWriteError); // the last block of a call too

    stream->WriteBuffer("xyz", 3);
    source.TakeAtMost = 1;
    EXPECT_EQ(MessageOf([&] { stream->Seek(0, soFromBeginning); }), "Seek error");
    EXPECT_EQ(stream->Position(), 15); // the rest of the buffer is gone
    stream->WriteBuffer("xyz", 3);
    char c = 0;
    EXPECT_THROW(stream->Read(&c, 1), EWriteError); // not read past bytes silently lost

    source.TakeAtMost = -1;
    stream->WriteBuffer("pq", 2);
    source.Fail = true;
    EXPECT_EQ(MessageOf([&] { stream->FlushBuffer(); }), "source write failed");
    EXPECT_NO_THROW(stream.reset()); // the destructor's flush fails again and must not escape
}

} // namespace
