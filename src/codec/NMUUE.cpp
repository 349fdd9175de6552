#include "codec/NMUUE.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

constexpr ExchangeTable MakeMimeTable()
{
    ExchangeTable t{};
    for (int v = 0; v < 64; ++v) {
        t[static_cast<std::size_t>(v)] = v < 26   ? static_cast<char>('A' + v)
                                         : v < 52 ? static_cast<char>('a' + (v - 26))
                                         : v < 62 ? static_cast<char>('0' + (v - 52))
                                         : v == 62 ? '+'
                                                   : '/';
    }
    return t;
}

constexpr ExchangeTable MakeUUTable()
{
    ExchangeTable t{};
    t[0] = '`';
    for (int v = 1; v < 64; ++v) {
        t[static_cast<std::size_t>(v)] = static_cast<char>(v + 0x20);
    }
    return t;
}

constexpr uint8_t kNotBase64 = 127;
constexpr uint8_t kPad = 64;
constexpr int kFirstTableChar = 0x2B; // "+"
constexpr int kLastTableChar = 0x7A;  // "z"

constexpr std::array<uint8_t, 80> MakeBase64Table()
{
    std::array<uint8_t, 80> t{};
    for (auto& v : t) v = kNotBase64;
    const ExchangeTable mime = MakeMimeTable();
    for (int v = 0; v < 64; ++v) {
        t[static_cast<std::size_t>(mime[static_cast<std::size_t>(v)] - kFirstTableChar)] = static_cast<uint8_t>(v);
    }
    t['=' - kFirstTableChar] = kPad;
    return t;
}

// Input bytes per encoded line: 60 characters of Base64, 61 with uuencode's length character.
constexpr int32_t kLineBytes = 45;
// ReadLnFromStream's block; a longer line is taken in pieces of this size.
constexpr int32_t kReadBlock = 200;

// Table value of a character; characters outside "+" to "z" count as not Base64.
inline uint8_t Base64Value(char c) noexcept
{
    const int u = static_cast<unsigned char>(c);
    return (u >= kFirstTableChar && u <= kLastTableChar) ? base64Table[static_cast<std::size_t>(u - kFirstTableChar)]
                                                         : kNotBase64;
}

inline bool IsBase64Digit(char c) noexcept
{
    return Base64Value(c) < kPad;
}

inline char Byte(int v) noexcept
{
    return static_cast<char>(static_cast<uint8_t>(v & 0xFF));
}

void WriteBytes(TStream& Target, const std::string& Bytes)
{
    if (!Bytes.empty()) {
        Target.WriteBuffer(Bytes.data(), static_cast<int32_t>(Bytes.size()));
    }
}

enum class LineOutcome { Continue, LastGroupMet, Stop };

// Decodes one Base64 line into Out. Stop: the whole decoding ends now, nothing of this line
// written. LastGroupMet: a group ended in "="; decoding ends after this line.
LineOutcome DecodeBase64Line(const std::string& Line, std::string& Out)
{
    const std::size_t len = Line.size();
    if (len <= 2 || Line.compare(0, 4, "====") == 0) {
        return LineOutcome::Continue;
    }
    const std::size_t last = len - 1;
    std::size_t i = 0;
    while (i < last && !IsBase64Digit(Line[i])) {
        const char c = Line[i];
        if (c == '=' || c == '\r' || c == '\n') {
            return LineOutcome::Stop;
        }
        ++i;
    }
    if (i >= last) {
        return LineOutcome::Continue;
    }
    LineOutcome outcome = LineOutcome::Continue;
    while (i < last) {
        if (Base64Value(Line[i]) == kNotBase64) {
            ++i;
            continue;
        }
        // A group starts at i (a digit or "="); i < last, so c2 lies within the line. A group cut
        // short by the line's end gives only the bytes its present characters complete.
        const int d1 = Base64Value(Line[i]);
        const int d2 = Base64Value(Line[i + 1]);
        Out += Byte((d1 << 2) | (d2 >> 4));
        if (i + 2 >= len) {
            break;
        }
        const char c3 = Line[i + 2];
        if (c3 == '=') {
            outcome = LineOutcome::LastGroupMet;
            i += 3;
            continue;
        }
        const int d3 = Base64Value(c3);
        Out += Byte((d2 << 4) | (d3 >> 2));
        if (i + 3 >= len) {
            break;
        }
        const char c4 = Line[i + 3];
        if (c4 == '=') {
            outcome = LineOutcome::LastGroupMet;
            i += 3;
            continue;
        }
        Out += Byte((d3 << 6) | Base64Value(c4));
        i += 4;
    }
    return outcome;
}

// Decodes one uuencoded data line (more than two characters, length character non-zero) into
// Out. Characters missing at the line's end count as 0, the value of the spaces that mail
// transports strip from line ends; nothing beyond the line is read.
void DecodeUULine(const std::string& Line, int Count, std::string& Out)
{
    const std::size_t len = Line.size();
    const auto digit = [&](std::size_t k) -> int { return k < len ? TNMUUProcessor::UuDEC(Line[k]) : 0; };
    std::size_t i = 1;
    for (int n = Count; n > 0; n -= 3, i += 4) {
        const int d1 = digit(i);
        const int d2 = digit(i + 1);
        const int d3 = digit(i + 2);
        const int d4 = digit(i + 3);
        Out += Byte((d1 << 2) | (d2 >> 4));
        if (n >= 2) Out += Byte((d2 << 4) | (d3 >> 2));
        if (n >= 3) Out += Byte((d3 << 6) | d4);
    }
}

} // namespace

const ExchangeTable MimeTable = MakeMimeTable();
const ExchangeTable UUTABLE = MakeUUTable();
const std::array<uint8_t, 80> base64Table = MakeBase64Table();

TNMUUProcessor::TNMUUProcessor(TComponent* AOwner) : TComponent(AOwner) {}

void TNMUUProcessor::SetEncodeTable() noexcept
{
    FEncodeTable = FMethod == uuCode ? UUTABLE : MimeTable;
}

uint8_t TNMUUProcessor::UuDEC(char C) noexcept
{
    return static_cast<uint8_t>((static_cast<unsigned char>(C) - 0x20) & 0x3F);
}

void TNMUUProcessor::CheckStreams() const
{
    if (SourceStream == nullptr || TargetStream == nullptr) {
        throw EStreamError("Stream not assigned");
    }
}

void TNMUUProcessor::Encode()
{
    CheckStreams();
    TStream& source = *SourceStream;
    TStream& target = *TargetStream;
    source.SetPosition(0);
    if (OnBeginEncode) {
        OnBeginEncode(this);
    }
    const auto finish = [&] {
        target.SetPosition(0);
        if (OnEndEncode) {
            OnEndEncode(this);
        }
    };
    try {
        EncodeLines(source, target);
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TNMUUProcessor::EncodeLines(TStream& Source, TStream& Target)
{
    SetEncodeTable();
    const ExchangeTable& table = FEncodeTable;
    const bool uu = FMethod == uuCode;
    uint8_t in[kLineBytes];
    // Length character, 60 characters, CR LF.
    char out[1 + kLineBytes / 3 * 4 + 2];
    while (Source.Position() < Source.Size()) {
        // A stream may hand over fewer bytes than asked without being at its end; a short line
        // in the middle would put Base64 padding inside the data, so the line is filled first.
        int32_t n = 0;
        while (n < kLineBytes) {
            const int32_t got = Source.Read(in + n, kLineBytes - n);
            if (got <= 0) break;
            n += got;
        }
        if (n == 0) {
            // Below its size yet yielding nothing: the rest of the source cannot be had.
            throw EReadError("Stream read error");
        }
        std::size_t o = 0;
        if (uu) {
            out[o++] = table[static_cast<std::size_t>(n)];
        }
        int32_t k = 0;
        for (; k + 3 <= n; k += 3) {
            const unsigned b0 = in[k];
            const unsigned b1 = in[k + 1];
            const unsigned b2 = in[k + 2];
            out[o++] = table[b0 >> 2];
            out[o++] = table[((b0 << 4) & 0x30) | (b1 >> 4)];
            out[o++] = table[((b1 << 2) & 0x3C) | (b2 >> 6)];
            out[o++] = table[b2 & 0x3F];
        }
        if (n - k == 1) {
            const unsigned b0 = in[k];
            out[o++] = table[b0 >> 2];
            out[o++] = table[(b0 << 4) & 0x30];
            if (!uu) {
                out[o++] = '=';
                out[o++] = '=';
            }
        } else if (n - k == 2) {
            const unsigned b0 = in[k];
            const unsigned b1 = in[k + 1];
            out[o++] = table[b0 >> 2];
            out[o++] = table[((b0 << 4) & 0x30) | (b1 >> 4)];
            out[o++] = table[(b1 << 2) & 0x3C];
            if (!uu) {
                out[o++] = '=';
            }
        }
        out[o++] = '\r';
        out[o++] = '\n';
        Target.WriteBuffer(out, static_cast<int32_t>(o));
    }
    if (uu) {
        Target.WriteBuffer("`\r\n", 3);
    }
}

void TNMUUProcessor::Decode()
{
    CheckStreams();
    if (OnBeginDecode) {
        OnBeginDecode(this);
    }
    if (FMethod == uuMime) {
        Base64Decode();
    } else {
        StdDecode();
    }
    if (OnEndDecode) {
        OnEndDecode(this);
    }
}

void TNMUUProcessor::ReadLnFromStream(TStream& Stream, std::string& Line)
{
    const int64_t start = Stream.Position();
    char block[kReadBlock];
    const int32_t n = std::max<int32_t>(0, Stream.Read(block, kReadBlock));
    const void* lf = std::memchr(block, '\n', static_cast<std::size_t>(n));
    if (lf == nullptr) {
        Line.assign(block, static_cast<std::size_t>(n));
        Stream.SetPosition(start + n);
        return;
    }
    const auto at = static_cast<const char*>(lf) - block; // 0-based index of the LF
    Line.assign(block, static_cast<std::size_t>(at > 0 ? at - 1 : 0));
    Stream.SetPosition(start + at + 1);
}

// Both decoders end when the source position reaches its size, and also when a line read
// consumes nothing: a stream that yields no more bytes below its size would otherwise be read
// forever.

void TNMUUProcessor::Base64Decode()
{
    TStream& source = *SourceStream;
    TStream& target = *TargetStream;
    std::string line;
    std::string bytes;
    for (;;) {
        const int64_t before = source.Position();
        ReadLnFromStream(source, line);
        bytes.clear();
        const LineOutcome outcome = DecodeBase64Line(line, bytes);
        if (outcome == LineOutcome::Stop) {
            return;
        }
        WriteBytes(target, bytes);
        const int64_t after = source.Position();
        if (outcome == LineOutcome::LastGroupMet || after == before || after >= source.Size()) {
            return;
        }
    }
}

void TNMUUProcessor::StdDecode()
{
    TStream& source = *SourceStream;
    TStream& target = *TargetStream;
    std::string line;
    std::string bytes;
    for (;;) {
        const int64_t before = source.Position();
        ReadLnFromStream(source, line);
        if (line.size() > 2) {
            const int count = UuDEC(line[0]);
            if (count == 0) {
                ReadLnFromStream(source, line);
            } else {
                bytes.clear();
                DecodeUULine(line, count, bytes);
                WriteBytes(target, bytes);
            }
        }
        const int64_t after = source.Position();
        if (after == before || after >= source.Size()) {
            return;
        }
    }
}
