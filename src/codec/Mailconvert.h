// Shift_JIS text to the 7-bit ISO-2022-JP form of Japanese mail, and MIME encoded-words ("B"
// encoding) for header values. Stateless; nothing here fails.
#pragma once

#include <string>
#include <string_view>

// Converts Shift_JIS bytes, up to the first 0 byte, to ISO-2022-JP. Only ESC $ B and ESC ( B are
// written, and only where the mode changes; the result (and so every line of it) ends in ASCII.
// Bytes that are no double-byte character (half-width katakana, 0x80, 0xFD to 0xFF) pass
// through unchanged, as does a lead byte whose trail byte is invalid, together with that byte.
std::string SjisToJis(const std::string& S);

// Replaces the lead byte C1 and trail byte C2 of one double-byte character by its two JIS X 0208
// bytes. Lead bytes 0xF0 to 0xFC (user-defined characters) give first bytes 0x7F to 0x98.
void SjisPairToJis(int& C1, int& C2);

// "=?iso-2022-jp?B?" + Base64 of the bytes of S up to its first 0 byte + "?=". Always one word,
// however long: the caller's headers are neither split nor folded.
std::string MakeEncodedWord(const std::string& S);

// The Base64 character of a value 0 to 63; "=" for any other value.
char Base64Digit(int Value);
// RFC 4648 Base64 of Bytes, every byte (NUL too), padded with "=", no line breaks.
std::string Base64Text(std::string_view Bytes);
