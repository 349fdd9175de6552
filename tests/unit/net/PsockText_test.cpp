#include <gtest/gtest.h>

#include "net/PsockText.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace {

TEST(PsockText, NthWordFields)
{
    const struct { const char* s; char d; int n; const char* want; } cases[] = {
        {"a,b,,c", ',', 1, "a"}, {"a,b,,c", ',', 2, "b"}, {"a,b,,c", ',', 3, ""}, {"a,b,,c", ',', 4, "c"},
        {"a,b,,c", ',', 5, ""},  {"", ',', 1, ""},        {",x", ',', 1, ""},     {",x", ',', 2, "x"},
        {"Name <a@b>", '<', 2, "a@b>"}, {"a@b>", '>', 1, "a@b"}, {"abc", ',', 0, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NthWord(c.s, c.d, c.n), c.want) << c.s << " #" << c.n;
    }
}

TEST(PsockText, NthPosCountsFromOneAndEndsPastTheText)
{
    EXPECT_EQ(NthPos("a,b", ',', 1), 2);
    EXPECT_EQ(NthPos("a,b", ',', 2), 4);
    EXPECT_EQ(NthPos("a,", ',', 1), 2);
    EXPECT_EQ(NthPos("", ',', 1), 1);
    EXPECT_EQ(NthPos(",,,", ',', 3), 3);
}

TEST(PsockText, StreamLnEndsWithCrLf)
{
    TMemoryStream stream;
    StreamLn(stream, "HELO x");
    StreamLn(stream, "");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.Memory()), static_cast<std::size_t>(stream.Size())),
              "HELO x\r\n\r\n");
}

} // namespace

namespace {

TEST(PsockText, SocketErrorTextByCode)
{
    const struct { uint16_t code; const char* want; } cases[] = {
        {0, ""},
        {10004, "10004:Interrupted system call"},
        {10035, "10035:Operation would block"},
        {10047, "10047:Address family not supported by protocol family"},
        {10049, "10049:Can't assign requested address"},
        {10054, "10054:Connection reset by peer"},
        {10057, "10057:Socket is not connected"},
        {10061, "10061:Connection refused"},
        {10065, "10065:No route to Host"},
        {10093, "10093:Successful WSAStartup not yet performed"},
        {11001, "11001:Host not found"},
        {11003, "11003:Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
        {11004, "11004:Valid name, no data record of requested type"},
        {10000, "Unknown Error No. 10000"}, // between entries
        {10072, "Unknown Error No. 10072"},
        {65535, "Unknown Error No. 65535"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SocketErrorText(c.code), c.want) << c.code;
    }
}

TEST(PsockText, ErrorTableHasEveryStandardCodeOnceAndAnUnmatchedLastEntry)
{
    std::vector<int32_t> codes;
    for (const auto& entry : WinsockMessage) codes.push_back(entry.Code);
    ASSERT_EQ(codes.size(), 51u);
    EXPECT_EQ(codes.back(), 0);
    EXPECT_STREQ(WinsockMessage[50].Text, "Unrecognized error code");
    EXPECT_TRUE(std::is_sorted(codes.begin(), codes.end() - 1));
    EXPECT_EQ(std::adjacent_find(codes.begin(), codes.end()), codes.end());
    // 10004..10071 as the standard numbers them (with its gaps), 10091..10093, 11001..11004.
    const std::vector<int32_t> want = {10004, 10009, 10013, 10014, 10022, 10024};
    EXPECT_TRUE(std::equal(want.begin(), want.end(), codes.begin()));
    EXPECT_EQ(std::count_if(codes.begin(), codes.end(), [](int32_t c) { return c >= 10035 && c <= 10071; }), 37);
}

TEST(PsockText, ReplyNumberTakesUpToTenLeadingDigits)
{
    const struct { const char* reply; int want; } cases[] = {
        {"250 ok\r\n", 250}, {"220-first\r\n", 220}, {"354", 354}, {"ok 250", 0}, {"", 0}, {"-5", 0},
        {" 250", 0},        {"00250 x", 250},        {"32767 max", 32767},
        {"0000000000250", 0}, // the eleventh digit on is not part of the number
        {"1234567890abc", -1}, {"32768", -1}, {"9999999999", -1}, {"99999999999", -1},
    };
    for (const auto& c : cases) {
        if (c.want < 0) {
            EXPECT_THROW(ReplyNumberOf(c.reply), ERangeError) << c.reply;
        } else {
            EXPECT_EQ(ReplyNumberOf(c.reply), c.want) << c.reply;
        }
    }
}

TEST(PsockText, WinsockInfoLinesShowHighByteFirst)
{
    const auto lines = WinsockInfoLines({0x0101, 0x0302, "Stack 2.0", "Running", 32767, 65467});
    const std::vector<std::string> want = {"Version= 1.1", "High Version= 3.2", "Description= Stack 2.0",
                                           "System= Running", "Max Sockets= 32767", "Max Udp pack size= 65467"};
    EXPECT_EQ(lines, want);
}


// A lookup's host entry read only inside its buffer: entries made by hand, their lists and
// addresses at the very end of a buffer of exactly its size (AddressSanitizer reports a read
// past it).
TEST(PsockText, LookupAddressIsReadOnlyInsideTheBuffer)
{
    struct TEntry { // the system's layout
        char* Name;
        char** Aliases;
        int16_t AddrType;
        int16_t Length;
        char** AddrList;
    };
    constexpr std::size_t Size = 1024, Ptr = sizeof(char*);
    const struct {
        const char* what;
        std::ptrdiff_t list;    // offset of the address list from the buffer's start
        std::ptrdiff_t address; // offset of the first address (-1: a null pointer)
        int16_t type, length;
        std::size_t size;       // the buffer's size
        bool read;
    } rows[] = {
        {"list and address inside", sizeof(TEntry), 100, 2, 4, Size, true},
        {"address in the last four bytes", sizeof(TEntry), Size - 4, 2, 4, Size, true},
        {"list in the last pointer's room", Size - Ptr, 200, 2, 4, Size, true},
        {"address one byte short of room", sizeof(TEntry), Size - 3, 2, 4, Size, false},
        {"list one byte short of room", Size - Ptr + 1, 200, 2, 4, Size, false},
        {"list past the end", Size + 16, 200, 2, 4, Size, false},
        {"list before the start", -64, 200, 2, 4, Size, false},
        {"address before the start", sizeof(TEntry), -8, 2, 4, Size, false},
        {"no address", sizeof(TEntry), -1, 2, 4, Size, false},
        {"not IPv4", sizeof(TEntry), 100, 23, 16, Size, false},
        {"IPv4 of another length", sizeof(TEntry), 100, 2, 16, Size, false},
        {"buffer smaller than an entry", sizeof(TEntry), 100, 2, 4, sizeof(TEntry) - 1, false},
    };
    // A pointer the entry holds: at an offset from the buffer's start, inside it or not.
    const auto at = [](char* Buffer, std::ptrdiff_t Offset) {
        return reinterpret_cast<char*>(reinterpret_cast<uintptr_t>(Buffer) + static_cast<uintptr_t>(Offset));
    };
    const auto fits = [](std::ptrdiff_t Offset, std::size_t Count, std::size_t Within) {
        return Offset >= 0 && static_cast<std::size_t>(Offset) + Count <= Within;
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<char> exact(row.size); // the buffer ends exactly at its size
        char* const buffer = exact.data();
        if (row.size >= sizeof(TEntry)) {
            const TEntry entry{nullptr, nullptr, row.type, row.length, reinterpret_cast<char**>(at(buffer, row.list))};
            std::memcpy(buffer, &entry, sizeof entry);
        }
        if (fits(row.list, Ptr, row.size)) {
            char* const first = row.address == -1 ? nullptr : at(buffer, row.address);
            std::memcpy(buffer + row.list, &first, Ptr);
        }
        if (fits(row.address, 4, row.size)) {
            std::memcpy(buffer + row.address, "\x7f\x00\x00\x01", 4);
        }
        uint8_t address[4] = {};
        EXPECT_EQ(FirstLookupAddress(exact.data(), exact.size(), address), row.read);
        if (row.read) {
            EXPECT_EQ(std::vector<int>(address, address + 4), (std::vector<int>{127, 0, 0, 1}));
        }
    }
}

} // namespace
