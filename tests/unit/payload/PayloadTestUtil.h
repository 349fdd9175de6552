// Shared by the payload tests: scratch folders, archive assembly, a recording progress sink and
// a byte-at-a-time model of the decoder to compare the real one against.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "payload/Archive.h"

namespace payload_test {

using Bytes = std::vector<uint8_t>;

inline Bytes B(std::initializer_list<int> values)
{
    Bytes b;
    for (int v : values) b.push_back(static_cast<uint8_t>(v));
    return b;
}

inline Bytes B(std::string_view text) { return Bytes(text.begin(), text.end()); }

// A folder of its own under the temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        static std::atomic<int> counter{0};
        std::random_device rd;
        FPath = std::filesystem::temp_directory_path() /
                ("setup_payload_" + std::to_string(rd()) + "_" + std::to_string(counter++));
        std::filesystem::create_directories(FPath);
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return FPath; }
    std::string operator/(const std::string& Name) const { return (FPath / Name).string(); }
    std::string Str() const { return FPath.string(); }

private:
    std::filesystem::path FPath;
};

inline void WriteFile(const std::string& Path, const Bytes& Data)
{
    std::ofstream out(Path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(Data.data()), static_cast<std::streamsize>(Data.size()));
    ASSERT_TRUE(out.good()) << Path;
}

inline Bytes ReadFile(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Archive bytes, entry by entry.
class ArchiveBuilder {
public:
    ArchiveBuilder& Entry(std::string_view Name, uint32_t Size, const Bytes& Stream)
    {
        Header(Name, Size);
        return Raw(Stream);
    }
    ArchiveBuilder& Header(std::string_view Name, uint32_t Size)
    {
        FBytes.push_back(static_cast<uint8_t>(Name.size()));
        FBytes.insert(FBytes.end(), Name.begin(), Name.end());
        for (int i = 0; i < 4; ++i) FBytes.push_back(static_cast<uint8_t>(Size >> (8 * i)));
        return *this;
    }
    ArchiveBuilder& Raw(const Bytes& Data)
    {
        FBytes.insert(FBytes.end(), Data.begin(), Data.end());
        return *this;
    }
    const Bytes& Get() const { return FBytes; }

private:
    Bytes FBytes;
};

// Every call of the walk, in order, as text: "S size", "W path", "C consumed/size", "F",
// "E message".
class Recorder : public TExtractProgress {
public:
    void Starting(uint64_t ArchiveSize) override { Log.push_back("S " + std::to_string(ArchiveSize)); }
    void Writing(const std::string& Path) override
    {
        Log.push_back("W " + Path);
        if (OnWriting) OnWriting(Path);
    }
    void Consumed(uint64_t Consumed, uint64_t ArchiveSize) override
    {
        Log.push_back("C " + std::to_string(Consumed) + "/" + std::to_string(ArchiveSize));
    }
    void Finished() override { Log.push_back("F"); }
    void ShowError(const std::string& Message) override
    {
        Log.push_back("E " + Message);
        Errors.push_back(Message);
    }
    // Each question about files in use, "U file|file...", answered by OnFilesInUse (else Cancel).
    bool RetryFilesInUse(const std::vector<std::string>& Files) override
    {
        std::string line = "U ";
        for (const auto& f : Files) line += (line.size() > 2 ? "|" : "") + f;
        Log.push_back(line);
        return OnFilesInUse && OnFilesInUse(Files);
    }
    std::function<void(const std::string&)> OnWriting;
    std::function<bool(const std::vector<std::string>&)> OnFilesInUse;
    bool Has(const std::string& Line) const
    {
        for (const auto& l : Log) {
            if (l == Line) return true;
        }
        return false;
    }
    std::vector<std::string> Log;
    std::vector<std::string> Errors;
};

// The decoder exactly as the format describes it, one byte at a time, with a ring that carries
// over from entry to entry like the real one's.
class ModelDecoder {
public:
    ModelDecoder() { std::memset(FRing, 0, sizeof FRing); }

    // Decodes one entry's stream from In at Pos; Pos ends after the stream's last item.
    Bytes Decode(const Bytes& In, std::size_t& Pos, uint32_t Size)
    {
        std::memset(FRing, 0, 4078);
        unsigned r = 4078;
        Bytes out;
        unsigned flags = 0;
        const auto get = [&]() -> int { return Pos < In.size() ? In[Pos++] : -1; };
        const auto put = [&](uint8_t c) {
            out.push_back(c);
            FRing[r] = c;
            r = (r + 1) & 4095;
        };
        while (out.size() < Size) {
            flags >>= 1;
            if ((flags & 256) == 0) {
                const int c = get();
                if (c < 0) break;
                flags = static_cast<unsigned>(c) | 0xFF00;
            }
            if (flags & 1) {
                const int c = get();
                if (c < 0) break;
                put(static_cast<uint8_t>(c));
            } else {
                const int b1 = get();
                if (b1 < 0) break;
                const int b2 = get();
                if (b2 < 0) break;
                const unsigned p = static_cast<unsigned>(b1) | ((static_cast<unsigned>(b2) & 0xF0) << 4);
                const unsigned n = (static_cast<unsigned>(b2) & 0x0F) + 3;
                for (unsigned k = 0; k < n && out.size() < Size; ++k) put(FRing[(p + k) & 4095]);
            }
        }
        return out;
    }

private:
    uint8_t FRing[4096];
};

// A valid stream of Size decoded bytes whose items follow the given mix: LiteralPercent of the
// items are literals; back-references go to recent bytes, into the zero fill or anywhere.
// The last flag byte keeps unused bits when Size is reached inside a group.
inline Bytes GenerateStream(std::mt19937& Rng, uint32_t Size, unsigned LiteralPercent)
{
    Bytes s;
    uint64_t produced = 0;
    while (produced < Size) {
        const std::size_t flagPos = s.size();
        s.push_back(0);
        for (unsigned bit = 0; bit < 8 && produced < Size; ++bit) {
            if (Rng() % 100 < LiteralPercent) {
                s[flagPos] = static_cast<uint8_t>(s[flagPos] | (1u << bit));
                s.push_back(static_cast<uint8_t>(Rng() % 4 == 0 ? 'a' + Rng() % 4 : Rng()));
                ++produced;
                continue;
            }
            const unsigned r = static_cast<unsigned>((4078 + produced) & 4095);
            const auto pick = [&](unsigned Range) { return static_cast<unsigned>(Rng() % Range); };
            unsigned p = 0;
            switch (pick(4)) {
            case 0: p = (r - 1 - pick(20)) & 4095; break;   // overlapping or close
            case 1: p = (r - 1 - pick(4096)) & 4095; break; // anywhere in the window
            case 2: p = pick(4078); break;                  // often the zero fill
            default: p = r; break;                          // the byte 4096 back
            }
            const unsigned n = 3 + pick(16);
            s.push_back(static_cast<uint8_t>(p & 0xFF));
            s.push_back(static_cast<uint8_t>(((p >> 4) & 0xF0) | (n - 3)));
            produced += std::min<uint64_t>(n, Size - produced);
        }
    }
    return s;
}

} // namespace payload_test
