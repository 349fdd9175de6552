// Shift_JIS to ISO-2022-JP of arbitrary bytes: nothing read beyond the text, the result ends in
// ASCII mode, stays within its size bound, and its encoded-word's Base64 (the unit's own) decodes
// with the processor's decoder back to the converted text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codec/Mailconvert.h"
#include "uu_transform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 16)) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string jis = SjisToJis(text);
    const size_t length = std::strlen(text.c_str());
    if (jis.size() > length + 3 * (length + 1)) std::abort();
    if (jis.find('\0') != std::string::npos) std::abort();
    // The text ends in ASCII mode: the last escape sequence written is ESC ( B (an ESC of the
    // input itself is copied as it is, so the check needs an input without one).
    const size_t lastEscape = jis.rfind('\x1B');
    if (text.find('\x1B') == std::string::npos && lastEscape != std::string::npos &&
        jis.compare(lastEscape, 3, "\x1B(B") != 0) {
        std::abort();
    }

    const std::string word = MakeEncodedWord(jis);
    const std::string prefix = "=?iso-2022-jp?B?";
    if (word.compare(0, prefix.size(), prefix) != 0 || word.compare(word.size() - 2, 2, "?=") != 0) std::abort();
    const std::string body = word.substr(prefix.size(), word.size() - prefix.size() - 2) + "\r\n";
    // The processor's reader takes a long line in blocks of 200 characters, whole groups each.
    if (UUTransform(uuMime, false, body.data(), body.size()) != jis) std::abort();
    return 0;
}
