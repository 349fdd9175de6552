#include "payload_corpus.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace {
std::vector<uint8_t> Load(const std::filesystem::path& Path)
{
    std::ifstream in(Path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Files of the tree with one of the extensions, in a fixed order, joined.
std::vector<uint8_t> Sources(const std::filesystem::path& Root, const std::vector<std::string>& Extensions)
{
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(Root)) {
        if (!e.is_regular_file()) continue;
        const std::string ext = e.path().extension().string();
        if (std::find(Extensions.begin(), Extensions.end(), ext) != Extensions.end()) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    std::vector<uint8_t> all;
    for (const auto& f : files) {
        const auto data = Load(f);
        all.insert(all.end(), data.begin(), data.end());
    }
    return all;
}

// Repeats Data up to Size bytes, or cuts it there.
std::vector<uint8_t> Sized(std::vector<uint8_t> Data, std::size_t Size)
{
    if (Data.empty()) Data.push_back(0);
    std::vector<uint8_t> out;
    while (out.size() < Size) out.insert(out.end(), Data.begin(), Data.end());
    out.resize(Size);
    return out;
}
} // namespace

std::vector<TCorpusFile> MixedCorpus(std::size_t PartSize, const std::string& SelfPath)
{
    const std::filesystem::path root = SETUP_SOURCE_DIR;
    std::vector<TCorpusFile> corpus;
    std::vector<uint8_t> text;
    for (const char* dir : {"src", "tests", "tools", "bench"}) {
        const auto part = Sources(root / dir, {".cpp", ".h", ".c", ".sh", ".txt", ".cmake"});
        text.insert(text.end(), part.begin(), part.end());
    }
    corpus.push_back({"text.txt", Sized(text, PartSize)});
    corpus.push_back({"program.exe", Sized(Load(SelfPath), PartSize)});

    std::mt19937 rng(1);
    // Random bytes stand for content that is compressed already; both parsers store it as
    // literals, so its share only dilutes the size comparison.
    std::vector<uint8_t> random(PartSize / 4);
    for (auto& b : random) b = static_cast<uint8_t>(rng());
    corpus.push_back({"random.bin", random});

    std::vector<uint8_t> runs;
    while (runs.size() < PartSize / 4) runs.insert(runs.end(), 1 + rng() % 2000, static_cast<uint8_t>(rng() % 4));
    runs.resize(PartSize / 4);
    corpus.push_back({"runs.bin", runs});
    return corpus;
}
