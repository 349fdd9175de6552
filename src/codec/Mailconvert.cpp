#include "codec/Mailconvert.h"

#include <cstddef>

#include "toolkit/SysUtils.h"

namespace {

constexpr char kEnterJis[] = "\x1B$B";
constexpr char kEnterAscii[] = "\x1B(B";

constexpr bool IsValidTrailByte(unsigned char c) noexcept
{
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}

// The text ends at its first 0 byte, as it would for a C string handed over by the window.
std::size_t TextLength(const std::string& S) noexcept
{
    const std::size_t zero = S.find('\0');
    return zero == std::string::npos ? S.size() : zero;
}

} // namespace

void SjisPairToJis(int& C1, int& C2)
{
    const bool highTrail = C2 >= 0x9F;
    if (C1 <= 0x9F) {
        C1 = 2 * C1 - (highTrail ? 224 : 225);
    } else {
        C1 = 2 * C1 - (highTrail ? 352 : 353);
    }
    if (C2 < 0x7F) {
        C2 -= 31;
    } else if (C2 < 0x9F) {
        C2 -= 32;
    } else {
        C2 -= 126;
    }
}

std::string SjisToJis(const std::string& S)
{
    const std::size_t length = TextLength(S);
    std::string result;
    result.reserve(length + 8);
    bool jis = false;
    std::size_t i = 0;
    while (i < length) {
        const auto c = static_cast<unsigned char>(S[i++]);
        if (!IsSjisLeadByte(c)) {
            if (jis) {
                result += kEnterAscii;
                jis = false;
            }
            result += static_cast<char>(c);
            continue;
        }
        if (!jis) {
            result += kEnterJis;
            jis = true;
        }
        if (i >= length) {
            // A lead byte with nothing after it: kept as it is; the text ends here.
            result += static_cast<char>(c);
            break;
        }
        const auto t = static_cast<unsigned char>(S[i++]);
        if (IsValidTrailByte(t)) {
            int j1 = c;
            int j2 = t;
            SjisPairToJis(j1, j2);
            result += static_cast<char>(j1);
            result += static_cast<char>(j2);
        } else {
            // Both bytes stay inside the JIS X 0208 run, unchanged.
            result += static_cast<char>(c);
            result += static_cast<char>(t);
        }
    }
    if (jis) {
        result += kEnterAscii;
    }
    return result;
}

char Base64Digit(int Value)
{
    if (Value >= 0 && Value <= 25) return static_cast<char>('A' + Value);
    if (Value >= 26 && Value <= 51) return static_cast<char>('a' + (Value - 26));
    if (Value >= 52 && Value <= 61) return static_cast<char>('0' + (Value - 52));
    if (Value == 62) return '+';
    if (Value == 63) return '/';
    return '=';
}

std::string Base64Text(std::string_view Bytes)
{
    std::string result;
    result.reserve((Bytes.size() + 2) / 3 * 4);
    const auto byteAt = [Bytes](std::size_t k) { return static_cast<int>(static_cast<unsigned char>(Bytes[k])); };
    const std::size_t length = Bytes.size();
    std::size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const int b0 = byteAt(i);
        const int b1 = byteAt(i + 1);
        const int b2 = byteAt(i + 2);
        result += Base64Digit(b0 >> 2);
        result += Base64Digit(((b0 & 3) << 4) | (b1 >> 4));
        result += Base64Digit(((b1 & 15) << 2) | (b2 >> 6));
        result += Base64Digit(b2 & 63);
    }
    if (length - i == 1) {
        const int b0 = byteAt(i);
        result += Base64Digit(b0 >> 2);
        result += Base64Digit((b0 & 3) << 4);
        result += "==";
    } else if (length - i == 2) {
        const int b0 = byteAt(i);
        const int b1 = byteAt(i + 1);
        result += Base64Digit(b0 >> 2);
        result += Base64Digit(((b0 & 3) << 4) | (b1 >> 4));
        result += Base64Digit((b1 & 15) << 2);
        result += '=';
    }
    return result;
}

std::string MakeEncodedWord(const std::string& S)
{
    return "=?iso-2022-jp?B?" + Base64Text(std::string_view(S).substr(0, TextLength(S))) + "?=";
}
