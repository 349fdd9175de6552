// Text functions of the socket layer, shared by its users (the SMTP client splits addresses with
// NthWord), and the socket layer's own portable rules: its exceptions, error texts, reply
// numbers, the library description, the reading of a lookup's host entry. Portable. Positions
// and field numbers are 1-based, as the protocols count them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/Classes.h"

// The socket layer's failures: socket errors, with the error's text.
class ESockError : public Exception {
    using Exception::Exception;
};
// A transfer ended by Cancel, Abort or the time-out.
class EAbortError : public ESockError {
    using ESockError::ESockError;
};
// A name lookup given up by the time-out or Cancel ("Host Lookup Timed Out", "Host Lookup
// Canceled"): Connect passes these on, while it takes any other lookup failure for a name that
// does not resolve.
class ELookupEnded : public ESockError {
    using ESockError::ESockError;
};

// The socket layer's buffer: a send, a read and a line hold fewer bytes than this (a count to
// send is a 16-bit one), and a text the layer writes in one piece must be shorter.
constexpr int32_t PsockBufferSize = 65536;

// Field N of S split at Delimiter (fields numbered from 1; consecutive delimiters enclose empty
// fields; a field beyond the last is empty).
std::string NthWord(std::string_view S, char Delimiter, int32_t N);
// The 1-based position of the N-th Delimiter in S, or the length of S plus 1 when S holds fewer.
int32_t NthPos(std::string_view S, char Delimiter, int32_t N);
// Writes S followed by CR LF to Stream.
void StreamLn(TStream& Stream, std::string_view S);

// One entry of the socket error table: a Windows Sockets error code and its short text.
struct TWinsockMessage {
    int32_t Code;
    const char* Text;
};
// The 51 entries, searched in order. The last one (code 0) is never matched: code 0 is not
// looked up.
extern const TWinsockMessage WinsockMessage[51];

// The text of a socket error code: "" for 0, the code, a colon and the table's text for a known
// code, "Unknown Error No. " and the code otherwise.
std::string SocketErrorText(uint16_t Code);

// The value of the leading decimal digits of a reply line (at most 10 are taken), or 0 when it
// does not start with a digit. A value outside the 16-bit signed range raises ERangeError.
int16_t ReplyNumberOf(std::string_view Reply);

// A host entry in the layout of the system's own structure (the Win32 side checks that the two
// agree and reads the system's entries through this one).
struct THostEntry {
    char* Name;
    char** Aliases;
    int16_t AddrType;
    int16_t Length;
    char** AddrList;
};
// Whether the entry's addresses are IPv4 ones.
bool InternetEntry(const THostEntry& Entry) noexcept;

// The first IPv4 address of the host entry that an asynchronous lookup wrote at the start of
// Buffer (Size bytes), its pointers pointing into the buffer. Nothing outside
// the buffer is read: false when the entry is no IPv4 one, or when its address list or its
// first address does not lie wholly inside.
bool FirstLookupAddress(const char* Buffer, std::size_t Size, uint8_t (&Address)[4]) noexcept;

// What the socket library says about itself when it is started.
struct TWinsockDescription {
    uint16_t Version;     // shown as high byte "." low byte
    uint16_t HighVersion;
    std::string Description;
    std::string SystemStatus;
    uint16_t MaxSockets;
    uint16_t MaxUdpDg;
};
// The six lines the first socket component keeps about the library ("Version= 1.1", ...).
std::vector<std::string> WinsockInfoLines(const TWinsockDescription& Info);
