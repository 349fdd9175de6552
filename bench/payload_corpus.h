// The mixed corpus of the payload benchmarks: text, program files, random bytes and runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TCorpusFile {
    std::string Name;
    std::vector<uint8_t> Data;
};

// Text: this project's own sources; a program: the benchmark's own executable; random bytes
// and runs of a few values, made with fixed seeds. Text and program are repeated or cut to
// PartSize bytes, random bytes and runs take a quarter of that each.
std::vector<TCorpusFile> MixedCorpus(std::size_t PartSize, const std::string& SelfPath);
