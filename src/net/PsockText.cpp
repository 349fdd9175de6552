#include "net/PsockText.h"

#include <cstring>

#include "toolkit/SysUtils.h"

std::string NthWord(std::string_view S, char Delimiter, int32_t N)
{
    std::string result;
    int32_t count = 0;
    for (const char c : S) {
        if (c == Delimiter) {
            if (++count >= N) break;
        } else if (count == N - 1) {
            result += c;
        }
    }
    return result;
}

int32_t NthPos(std::string_view S, char Delimiter, int32_t N)
{
    int32_t count = 0;
    for (std::size_t i = 0; i < S.size(); ++i) {
        if (S[i] == Delimiter && ++count == N) {
            return static_cast<int32_t>(i + 1);
        }
    }
    return static_cast<int32_t>(S.size() + 1);
}

void StreamLn(TStream& Stream, std::string_view S)
{
    std::string line(S);
    line += "\r\n";
    Stream.WriteBuffer(line.data(), static_cast<int32_t>(line.size()));
}

const TWinsockMessage WinsockMessage[51] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Wrong protocol type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to Host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Incompatible version of WINSOCK.DLL"},
    {10093, "Successful WSAStartup not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-Authoritative Host not found"},
    {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record of requested type"},
    {0, "Unrecognized error code"},
};

std::string SocketErrorText(uint16_t Code)
{
    if (Code == 0) {
        return {};
    }
    std::string msg;
    for (const auto& entry : WinsockMessage) {
        if (entry.Code == Code) {
            msg = IntToStr(Code) + ":" + entry.Text;
        }
    }
    if (msg.empty()) {
        msg = "Unknown Error No. " + IntToStr(Code);
    }
    return msg;
}

int16_t ReplyNumberOf(std::string_view Reply)
{
    // Ten digits at most: the value then fits 64 bits whatever the digits are.
    int64_t value = 0;
    std::size_t digits = 0;
    while (digits < Reply.size() && digits < 10 && Reply[digits] >= '0' && Reply[digits] <= '9') {
        value = value * 10 + (Reply[digits] - '0');
        ++digits;
    }
    if (value > INT16_MAX) {
        throw ERangeError("Reply number out of range: " + std::string(Reply.substr(0, digits)));
    }
    return static_cast<int16_t>(value);
}

bool InternetEntry(const THostEntry& Entry) noexcept
{
    constexpr int16_t InternetFamily = 2;
    return Entry.AddrType == InternetFamily && Entry.Length == 4;
}

namespace {

// The offset in the buffer of P, when Count bytes from there lie inside it.
bool InsideBuffer(const char* Buffer, std::size_t Size, const void* P, std::size_t Count, std::size_t& At) noexcept
{
    const auto a = reinterpret_cast<uintptr_t>(P), b = reinterpret_cast<uintptr_t>(Buffer);
    if (a < b || a - b > Size || Size - (a - b) < Count) return false;
    At = a - b;
    return true;
}

} // namespace

bool FirstLookupAddress(const char* Buffer, std::size_t Size, uint8_t (&Address)[4]) noexcept
{
    THostEntry entry;
    if (Size < sizeof entry) return false;
    std::memcpy(&entry, Buffer, sizeof entry);
    std::size_t list = 0, first = 0;
    if (!InternetEntry(entry) || !InsideBuffer(Buffer, Size, entry.AddrList, sizeof(char*), list)) {
        return false;
    }
    const char* address = nullptr;
    std::memcpy(&address, Buffer + list, sizeof address);
    if (address == nullptr || !InsideBuffer(Buffer, Size, address, 4, first)) return false;
    std::memcpy(Address, Buffer + first, 4);
    return true;
}

namespace {

std::string VersionText(uint16_t Version)
{
    return IntToStr(Version >> 8) + "." + IntToStr(Version & 0xFF);
}

} // namespace

std::vector<std::string> WinsockInfoLines(const TWinsockDescription& Info)
{
    return {
        "Version= " + VersionText(Info.Version),
        "High Version= " + VersionText(Info.HighVersion),
        "Description= " + Info.Description,
        "System= " + Info.SystemStatus,
        "Max Sockets= " + IntToStr(Info.MaxSockets),
        "Max Udp pack size= " + IntToStr(Info.MaxUdpDg),
    };
}
