#include "payload/Pack.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include "payload/Archive.h"
#include "payload/Lzss.h"
#include "toolkit/SysUtils.h"

namespace {
constexpr int32_t Window = Lzss::RingSize; // how far back a copy can reach
constexpr int32_t MaxLength = Lzss::MaxMatch;
constexpr int32_t MinLength = Lzss::MinMatch;
constexpr int32_t ZeroFill = Lzss::StartPosition; // ring positions before it start as FillByte
constexpr int32_t Block = 1 << 20;        // input parsed at once; bounds the packer's memory
constexpr int32_t Capacity = Window + Block + MaxLength;
constexpr int32_t Nil = -1;
// Exact costs in bits: a flag bit plus one byte, or a flag bit plus two bytes.
constexpr uint32_t LiteralBits = 9;
constexpr uint32_t MatchBits = 17;
constexpr std::size_t DrainAt = 64 * 1024;
} // namespace

// The input lives in one buffer: the history the ring still holds (first the zero fill, later
// the last 4096 bytes already parsed), the block being parsed and the lookahead after it.
// Positions are buffer indices; the byte at index i sits at ring position (i + FBase) mod 4096.
//
// Matches come from a binary tree per two-byte prefix (Head), kept in the order of the strings
// (truncated at MaxLength) starting at each position, newest at the root, so the walk from the
// root meets the longest match among all positions in the window; nodes older than the window
// end the walk. Son holds the two children of every position.
struct TLzssPacker::TImpl {
    TSink Sink;
    TParse Parse;

    std::vector<uint8_t> Buf = std::vector<uint8_t>(Capacity, Lzss::FillByte);
    std::vector<int32_t> Head = std::vector<int32_t>(65536, Nil);
    std::vector<int32_t> Son = std::vector<int32_t>(2 * static_cast<std::size_t>(Capacity), Nil);
    int32_t Fill = ZeroFill;     // bytes in Buf
    int32_t Parsed = ZeroFill;   // first position not yet parsed
    int32_t Inserted = 0;        // first position not yet in the trees
    uint64_t Base = 0;

    // Per position of a block: longest usable match and its distance; the parse.
    std::vector<uint8_t> Length = std::vector<uint8_t>(Block + MaxLength);
    std::vector<uint16_t> Distance = std::vector<uint16_t>(Block + MaxLength);
    std::vector<uint32_t> Cost = std::vector<uint32_t>(Block + MaxLength + 1);
    std::vector<uint8_t> Choice = std::vector<uint8_t>(Block + MaxLength);

    std::vector<uint8_t> Out;
    std::size_t FlagPos = 0;
    unsigned Bits = 0;
    uint64_t InputBytes = 0;
    uint64_t OutputBytes = 0;
    bool Finished = false;

    TImpl(TSink ASink, TParse AParse) : Sink(std::move(ASink)), Parse(AParse) { Out.reserve(DrainAt + 64); }

    // Inserts position Cur into its tree and returns the longest match (at most Limit bytes)
    // among the positions before it, with its position in BestPos.
    int32_t Insert(int32_t Cur, int32_t Limit, int32_t& BestPos)
    {
        const uint8_t* const buf = Buf.data();
        const uint8_t* const b = buf + Cur;
        const unsigned key = (static_cast<unsigned>(b[0]) << 8) | b[1];
        int32_t m = Head[key];
        Head[key] = Cur;
        int32_t* smaller = &Son[2 * static_cast<std::size_t>(Cur)];
        int32_t* larger = &Son[2 * static_cast<std::size_t>(Cur) + 1];
        int32_t lenSmaller = 0;
        int32_t lenLarger = 0;
        int32_t best = 0;
        for (;;) {
            if (m < 0 || Cur - m > Window) {
                *smaller = Nil;
                *larger = Nil;
                break;
            }
            const uint8_t* const a = buf + m;
            int32_t len = std::min(lenSmaller, lenLarger);
            while (len < Limit && a[len] == b[len]) ++len;
            if (len > best) {
                best = len;
                BestPos = m;
            }
            int32_t* const pair = &Son[2 * static_cast<std::size_t>(m)];
            if (len == Limit) {
                // Equal as far as matches go: the newer position takes the older one's place.
                *smaller = pair[0];
                *larger = pair[1];
                break;
            }
            if (a[len] < b[len]) {
                *smaller = m;
                smaller = &pair[1];
                m = pair[1];
                lenSmaller = len;
            } else {
                *larger = m;
                larger = &pair[0];
                m = pair[0];
                lenLarger = len;
            }
        }
        return best;
    }

    void BeginItem()
    {
        if (Bits == 0) {
            FlagPos = Out.size();
            Out.push_back(0);
        }
    }
    void EndItem(bool Literal)
    {
        if (Literal) Out[FlagPos] = static_cast<uint8_t>(Out[FlagPos] | (1u << Bits));
        Bits = (Bits + 1) & 7;
        if (Bits == 0 && Out.size() >= DrainAt) Drain();
    }
    void Drain()
    {
        if (!Out.empty()) {
            Sink(Out.data(), Out.size());
            OutputBytes += Out.size();
            Out.clear();
        }
    }
    void PutLiteral(uint8_t C)
    {
        BeginItem();
        Out.push_back(C);
        EndItem(true);
    }
    void PutMatch(int32_t Cur, int32_t Dist, int32_t Len)
    {
        const auto position = static_cast<unsigned>((Base + static_cast<uint64_t>(Cur - Dist)) & (Window - 1));
        BeginItem();
        Out.push_back(static_cast<uint8_t>(position & 0xFF));
        Out.push_back(static_cast<uint8_t>(((position >> 4) & 0xF0) | static_cast<unsigned>(Len - MinLength)));
        EndItem(false);
    }

    // Parses positions Parsed..End. Matches may look at the lookahead behind End but never
    // reach past it, so the next block starts exactly at End.
    void EncodeBlock(int32_t End)
    {
        const int32_t start = Parsed;
        const int32_t n = End - start;
        for (int32_t i = Inserted; i < End; ++i) {
            const int32_t limit = std::min(MaxLength, Fill - i);
            int32_t bestPos = 0;
            const int32_t len = limit >= 2 ? Insert(i, limit, bestPos) : 0;
            if (i >= start) {
                const int32_t usable = std::min(len, End - i);
                const auto k = static_cast<std::size_t>(i - start);
                Length[k] = static_cast<uint8_t>(usable >= MinLength ? usable : 0);
                Distance[k] = static_cast<uint16_t>(i - bestPos);
            }
        }
        Inserted = End;

        const uint8_t* const buf = Buf.data();
        if (Parse == TParse::Greedy) {
            for (int32_t k = 0; k < n;) {
                const int32_t len = Length[static_cast<std::size_t>(k)];
                if (len >= MinLength) {
                    PutMatch(start + k, Distance[static_cast<std::size_t>(k)], len);
                    k += len;
                } else {
                    PutLiteral(buf[start + k]);
                    ++k;
                }
            }
        } else {
            // Shortest path from each position to the end of the block, backwards. Any length
            // from 3 up to the longest match is a match from the same place at the same cost.
            Cost[static_cast<std::size_t>(n)] = 0;
            for (int32_t k = n - 1; k >= 0; --k) {
                const auto uk = static_cast<std::size_t>(k);
                uint32_t best = Cost[uk + 1] + LiteralBits;
                uint8_t choice = 1;
                const int32_t longest = Length[uk];
                for (int32_t len = MinLength; len <= longest; ++len) {
                    const uint32_t c = Cost[uk + static_cast<std::size_t>(len)] + MatchBits;
                    if (c <= best) {
                        best = c;
                        choice = static_cast<uint8_t>(len);
                    }
                }
                Cost[uk] = best;
                Choice[uk] = choice;
            }
            for (int32_t k = 0; k < n;) {
                const auto uk = static_cast<std::size_t>(k);
                const int32_t len = Choice[uk];
                if (len >= MinLength) {
                    PutMatch(start + k, Distance[uk], len);
                } else {
                    PutLiteral(buf[start + k]);
                }
                k += len;
            }
        }
        Parsed = End;
    }

    // Drops what the ring no longer holds from the front of the buffer.
    void Slide()
    {
        const int32_t shift = Parsed - Window;
        if (shift <= 0) return;
        std::memmove(Buf.data(), Buf.data() + shift, static_cast<std::size_t>(Fill - shift));
        const auto rebase = [shift](int32_t v) { return v >= shift ? v - shift : Nil; };
        for (int32_t i = shift; i < Inserted; ++i) {
            const auto from = 2 * static_cast<std::size_t>(i);
            const auto to = 2 * static_cast<std::size_t>(i - shift);
            Son[to] = rebase(Son[from]);
            Son[to + 1] = rebase(Son[from + 1]);
        }
        for (auto& h : Head) h = rebase(h);
        Base += static_cast<uint64_t>(shift);
        Fill -= shift;
        Parsed -= shift;
        Inserted -= shift;
    }
};

TLzssPacker::TLzssPacker(TSink Sink, TParse Parse) : FImpl(std::make_unique<TImpl>(std::move(Sink), Parse)) {}

TLzssPacker::~TLzssPacker() = default;

void TLzssPacker::Write(const uint8_t* Data, std::size_t Count)
{
    TImpl& s = *FImpl;
    s.InputBytes += Count;
    while (Count > 0) {
        const auto take = std::min(Count, static_cast<std::size_t>(Capacity - s.Fill));
        std::memcpy(s.Buf.data() + s.Fill, Data, take);
        s.Fill += static_cast<int32_t>(take);
        Data += take;
        Count -= take;
        // A block is parsed once the lookahead behind it is complete.
        if (s.Fill - s.Parsed >= Block + MaxLength) {
            s.EncodeBlock(s.Parsed + Block);
            s.Slide();
        }
    }
}

void TLzssPacker::Finish()
{
    TImpl& s = *FImpl;
    if (s.Finished) return;
    if (s.Fill > s.Parsed) s.EncodeBlock(s.Fill);
    s.Drain();
    s.Finished = true;
}

uint64_t TLzssPacker::InputBytes() const noexcept { return FImpl->InputBytes; }
uint64_t TLzssPacker::OutputBytes() const noexcept { return FImpl->OutputBytes; }

std::vector<uint8_t> PackBytes(const uint8_t* Data, std::size_t Count, TLzssPacker::TParse Parse)
{
    std::vector<uint8_t> stream;
    TLzssPacker packer([&](const uint8_t* p, std::size_t n) { stream.insert(stream.end(), p, p + n); }, Parse);
    packer.Write(Data, Count);
    packer.Finish();
    return stream;
}

std::string EntryNameProblem(std::string_view Name)
{
    if (Name.empty()) return "the name is empty";
    if (Name.size() > 255) return "the name is " + std::to_string(Name.size()) + " bytes long; at most 255 fit";
    if (Name.find('\0') != std::string_view::npos) return "the name holds a zero byte";
    if (!IsSafeEntryName(Name)) {
        return "the name would leave the install folder or is not stored by Windows as given (a \"..\" or \".\" "
               "part, a leading, doubled or trailing \"\\\", a part ending in a dot or a space, any of "
               "< > : \" / | ? * or a control character, a device name such as \"NUL\", or a broken "
               "double-byte character)";
    }
    return {};
}

namespace {
struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool PackOne(std::FILE* Archive, const TPackInput& Input, uint64_t Size, std::string& Error, TPackedEntry& Packed)
{
    FilePtr file(std::fopen(Input.FileName.c_str(), "rb"));
    if (!file) {
        Error = Input.FileName + ": cannot be opened";
        return false;
    }
    uint8_t header[1 + 255 + 4];
    std::size_t h = 0;
    header[h++] = static_cast<uint8_t>(Input.Name.size());
    std::memcpy(header + h, Input.Name.data(), Input.Name.size());
    h += Input.Name.size();
    for (int i = 0; i < 4; ++i) header[h++] = static_cast<uint8_t>(Size >> (8 * i));
    bool writeFailed = std::fwrite(header, 1, h, Archive) != h;

    TLzssPacker packer([&](const uint8_t* p, std::size_t n) {
        if (!writeFailed && std::fwrite(p, 1, n, Archive) != n) writeFailed = true;
    });
    std::vector<uint8_t> chunk(1 << 20);
    for (;;) {
        const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), file.get());
        if (n == 0) break;
        packer.Write(chunk.data(), n);
    }
    const bool readFailed = std::ferror(file.get()) != 0;
    packer.Finish();
    if (readFailed) {
        Error = Input.FileName + ": read error";
        return false;
    }
    if (packer.InputBytes() != Size) {
        Error = Input.FileName + ": changed while it was packed";
        return false;
    }
    if (writeFailed) {
        Error = "cannot write the archive";
        return false;
    }
    Packed.Name = Input.Name;
    Packed.Size = Size;
    Packed.StreamBytes = packer.OutputBytes();
    return true;
}
} // namespace

namespace {
// A file of its own beside Path for the archive being written: the old archive stays until the
// new one is complete.
std::string PartialPath(const std::string& Path)
{
    std::random_device random;
    for (;;) {
        const std::string candidate = Path + ".partial-" + std::to_string(random() % 1000000);
        std::error_code ec;
        if (!std::filesystem::exists(candidate, ec) && !ec) return candidate;
    }
}
} // namespace

bool PackArchive(const std::string& ArchivePath, const std::vector<TPackInput>& Inputs, std::string& Error,
                 std::vector<TPackedEntry>* Packed)
{
    Error.clear();
    if (Inputs.empty()) {
        Error = "no files to pack";
        return false;
    }
    std::vector<uint64_t> sizes;
    for (std::size_t i = 0; i < Inputs.size(); ++i) {
        const TPackInput& input = Inputs[i];
        const std::string problem = EntryNameProblem(input.Name);
        if (!problem.empty()) {
            Error = "\"" + input.Name + "\" (" + input.FileName + "): " + problem;
            return false;
        }
        // Windows finds a file whatever the case of its ASCII letters: the later entry would
        // replace the earlier one.
        for (std::size_t j = 0; j < i; ++j) {
            if (SameText(Inputs[j].Name, input.Name)) {
                Error = "\"" + input.Name + "\" (" + input.FileName + "): the same file as \"" + Inputs[j].Name +
                        "\" in the install folder";
                return false;
            }
        }
        std::error_code ec;
        const std::filesystem::path path(input.FileName);
        if (!std::filesystem::is_regular_file(path, ec)) {
            Error = input.FileName + ": not found or not a regular file";
            return false;
        }
        const uint64_t size = std::filesystem::file_size(path, ec);
        if (ec) {
            Error = input.FileName + ": " + ec.message();
            return false;
        }
        if (size == 0) {
            Error = input.FileName + ": the file is empty; the format cannot carry an empty file";
            return false;
        }
        if (size > 0xFFFFFFFFull) {
            Error = input.FileName + ": the file is over 4 GB; the format's size field holds 32 bits";
            return false;
        }
        // Packing the archive into itself is a mistake in the command line, whatever it holds.
        if (std::filesystem::equivalent(path, ArchivePath, ec)) {
            Error = input.FileName + ": is the archive being written";
            return false;
        }
        sizes.push_back(size);
    }

    const std::string partial = PartialPath(ArchivePath);
    FilePtr archive(std::fopen(partial.c_str(), "wb"));
    if (!archive) {
        Error = ArchivePath + ": cannot be created";
        return false;
    }
    std::vector<TPackedEntry> done;
    bool ok = true;
    for (std::size_t i = 0; i < Inputs.size() && ok; ++i) {
        TPackedEntry entry;
        ok = PackOne(archive.get(), Inputs[i], sizes[i], Error, entry);
        if (ok) done.push_back(std::move(entry));
    }
    if (std::fclose(archive.release()) != 0 && ok) {
        Error = ArchivePath + ": cannot be written";
        ok = false;
    }
    if (ok) {
        std::error_code ec;
        std::filesystem::rename(partial, ArchivePath, ec);
        if (ec) {
            Error = ArchivePath + ": " + ec.message();
            ok = false;
        }
    }
    if (!ok) {
        std::remove(partial.c_str());
        return false;
    }
    if (Packed != nullptr) *Packed = std::move(done);
    return true;
}
