#include "toolkit/SysUtils.h"

#include <charconv>

bool IsSingleByteAt(std::string_view S, std::size_t Index) noexcept
{
    std::size_t i = 0;
    while (i < Index) {
        i += IsSjisLeadByte(static_cast<unsigned char>(S[i])) ? 2 : 1;
    }
    return i == Index && !(Index < S.size() && IsSjisLeadByte(static_cast<unsigned char>(S[Index])));
}

int LastDelimiter(std::string_view Delimiters, std::string_view S) noexcept
{
    int last = -1;
    for (std::size_t i = 0; i < S.size();) {
        const auto c = static_cast<unsigned char>(S[i]);
        if (IsSjisLeadByte(c)) {
            i += 2;
            continue;
        }
        if (Delimiters.find(static_cast<char>(c)) != std::string_view::npos) {
            last = static_cast<int>(i);
        }
        ++i;
    }
    return last;
}

std::string ExtractFilePath(std::string_view FileName)
{
    const int i = LastDelimiter("\\:", FileName);
    return std::string(FileName.substr(0, static_cast<std::size_t>(i + 1)));
}

std::string ExtractFileDir(std::string_view FileName, std::string_view Delimiters)
{
    int i = LastDelimiter(Delimiters, FileName);
    if (i > 0 && FileName[static_cast<std::size_t>(i)] == Delimiters.front()) {
        const auto before = static_cast<std::size_t>(i - 1);
        const bool beforeIsDelimiter =
            Delimiters.find(FileName[before]) != std::string_view::npos && IsSingleByteAt(FileName, before);
        if (!beforeIsDelimiter) {
            --i;
        }
    }
    return std::string(FileName.substr(0, static_cast<std::size_t>(i + 1)));
}

std::string ExtractFileName(std::string_view FileName)
{
    const int i = LastDelimiter("\\:", FileName);
    return std::string(FileName.substr(static_cast<std::size_t>(i + 1)));
}

std::string IncludeTrailingBackslash(std::string_view S)
{
    std::string result(S);
    if (result.empty() || LastDelimiter("\\", result) != static_cast<int>(result.size()) - 1) {
        result += '\\';
    }
    return result;
}

namespace {
unsigned char FoldAscii(unsigned char c) noexcept
{
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

template <bool IgnoreCase>
int Compare(std::string_view S1, std::string_view S2) noexcept
{
    const std::size_t n = S1.size() < S2.size() ? S1.size() : S2.size();
    bool trail = false;
    for (std::size_t i = 0; i < n; ++i) {
        auto a = static_cast<unsigned char>(S1[i]);
        auto b = static_cast<unsigned char>(S2[i]);
        if (IgnoreCase && !trail) {
            a = FoldAscii(a);
            b = FoldAscii(b);
        }
        if (a != b) {
            return a < b ? -1 : 1;
        }
        // Equal so far: both texts are at the same character boundary.
        trail = !trail && IsSjisLeadByte(a);
    }
    if (S1.size() == S2.size()) {
        return 0;
    }
    return S1.size() < S2.size() ? -1 : 1;
}
} // namespace

int AnsiCompareStr(std::string_view S1, std::string_view S2) noexcept { return Compare<false>(S1, S2); }
int AnsiCompareText(std::string_view S1, std::string_view S2) noexcept { return Compare<true>(S1, S2); }
bool SameText(std::string_view S1, std::string_view S2) noexcept { return AnsiCompareText(S1, S2) == 0; }

namespace {
template <typename Map>
std::string MapSingleBytes(std::string_view S, Map map)
{
    std::string result(S);
    for (std::size_t i = 0; i < result.size(); ++i) {
        const auto c = static_cast<unsigned char>(result[i]);
        if (IsSjisLeadByte(c)) {
            ++i;
        } else {
            result[i] = static_cast<char>(map(c));
        }
    }
    return result;
}
} // namespace

std::string UpperCase(std::string_view S)
{
    return MapSingleBytes(S, [](unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; });
}

std::string LowerCase(std::string_view S)
{
    return MapSingleBytes(S, [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; });
}

std::string Trim(std::string_view S)
{
    std::size_t b = 0;
    std::size_t e = S.size();
    while (b < e && static_cast<unsigned char>(S[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(S[e - 1]) <= ' ') --e;
    return std::string(S.substr(b, e - b));
}

std::string IntToStr(int64_t Value) { return std::to_string(Value); }

int64_t StrToIntDef(std::string_view S, int64_t Default) noexcept
{
    if (!S.empty() && S.front() == '+') {
        S.remove_prefix(1);
        if (!S.empty() && S.front() == '-') {
            return Default;
        }
    }
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(S.data(), S.data() + S.size(), value);
    if (S.empty() || ec != std::errc() || end != S.data() + S.size()) {
        return Default;
    }
    return value;
}
