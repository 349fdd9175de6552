// Writing payload archives: the LZSS stream the installer's decoder reads, and whole archives.
// Host side only (mkpayload, tests, benchmarks); Setup.exe carries no compressor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Compresses one entry. Input is taken in pieces of any size and compressed in blocks, so a
// file is never held whole in memory; the stream leaves through the sink as it is made.
class TLzssPacker {
public:
    // Optimal: the shortest stream the format allows for the input (a shortest-path parse over
    // the longest match at every position). Greedy: always the longest match; the benchmark's
    // yardstick.
    enum class TParse { Optimal, Greedy };
    using TSink = std::function<void(const uint8_t* Data, std::size_t Count)>;

    explicit TLzssPacker(TSink Sink, TParse Parse = TParse::Optimal);
    ~TLzssPacker();
    TLzssPacker(const TLzssPacker&) = delete;
    TLzssPacker& operator=(const TLzssPacker&) = delete;

    void Write(const uint8_t* Data, std::size_t Count);
    // Compresses what is left and delivers the last bytes. No input is taken afterwards.
    void Finish();

    uint64_t InputBytes() const noexcept;
    uint64_t OutputBytes() const noexcept;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

// The stream of one entry for Data, in memory.
std::vector<uint8_t> PackBytes(const uint8_t* Data, std::size_t Count,
                               TLzssPacker::TParse Parse = TLzssPacker::TParse::Optimal);

// Why an entry of this name cannot be carried, or an empty text when it can.
std::string EntryNameProblem(std::string_view Name);

struct TPackInput {
    std::string Name;     // as stored: code page 932, "\" between folder parts
    std::string FileName; // the file to read (host path)
};

struct TPackedEntry {
    std::string Name;
    uint64_t Size = 0;
    uint64_t StreamBytes = 0;
};

// Writes the archive of Inputs in the order given. Every input is checked before anything is
// written; on any failure Error says what and why, and no archive is left behind.
bool PackArchive(const std::string& ArchivePath, const std::vector<TPackInput>& Inputs, std::string& Error,
                 std::vector<TPackedEntry>* Packed = nullptr);
