// TPowersock: data transfer over the connected socket. Nothing is read ahead inside the
// component: the readers look, then take exactly the bytes they need, so whatever follows a
// line stays in the socket for the next call. Every byte goes through the channel's receive and
// send steps (PsockChannel.h), every wait through WaitUntil, every operation through Run.
#include "net/win/PsockClient.h"

#include <algorithm>
#include <cstring>

#include "toolkit/win/MessagePump.h"
#include "toolkit/SysUtils.h"

namespace {

// A count given to a 16-bit parameter.
int32_t Count16(int64_t Count, const char* What)
{
    if (Count < 0 || Count > 0xFFFF) {
        throw ERangeError(std::string(What) + " out of range: " + IntToStr(Count));
    }
    return static_cast<int32_t>(Count);
}

} // namespace

bool TPowersock::SendBlock(const char* Data, int32_t Count, bool Counted)
{
    int32_t sent = 0;
    bool ended = false;
    WaitUntil([&] {
        while (sent < Count) {
            const int32_t n = FChannel.Send(Data + sent, Count - sent);
            if (n < 0) {
                return false; // the socket says when it takes more
            }
            if (n == 0) {
                ended = true;
                return true;
            }
            sent += n;
            if (Counted && Progressed(n, FChannel.BytesSent, OnPacketSent)) {
                return true;
            }
        }
        return FChannel.SendPending();
    });
    return !ended;
}

// ---------------------------------------------------------------------------------------------
// Sending.

void TPowersock::SendBuffer(const char* Value, int32_t BufLen)
{
    int32_t length = Count16(BufLen, "Buffer length");
    Run(TOperation::SendBuffer, [&] {
        if (!FCanceled) {
            if (length == 0 && Value != nullptr) {
                length = Count16(static_cast<int64_t>(strnlen(Value, IOBufferSize)), "Buffer length");
            }
            SendBlock(Value, length, false);
        }
        return true;
    });
}

void TPowersock::Write(const std::string& Text)
{
    StatusMessage(8, "Write");
    const std::size_t length = std::min(Text.size(), static_cast<std::size_t>(IOBufferSize));
    std::memcpy(IOBuffer.data(), Text.data(), length);
    IOBuffer[length] = '\0';
    SendBuffer(IOBuffer.data(), 0);
}

void TPowersock::Writeln(const std::string& Text)
{
    StatusMessage(8, "Writeln");
    Write(Text + "\r\n");
}

void TPowersock::SendFile(const std::string& FileName)
{
    Run(TOperation::SendFile, [&] {
        TFileStream file(FileName, fmOpenRead);
        const int64_t size = file.Size();
        while (!FCanceled) {
            const int32_t block = file.Read(IOBuffer.data(), IOBufferSize);
            SendBlock(IOBuffer.data(), block, true);
            // A file that ends before its size (it shrank) ends the send too.
            if (block <= 0 || file.Position() >= size) {
                break;
            }
        }
        return true;
    });
}

void TPowersock::SendStream(TStream& Stream)
{
    Run(TOperation::SendStream, [&] {
        Stream.SetPosition(0);
        if (FCanceled) {
            return true;
        }
        FChannel.BytesSent = 0;
        const int64_t size = Stream.Size();
        FChannel.BytesTotal = size;
        while (!FCanceled && Stream.Position() < size) {
            const auto want = static_cast<int32_t>(std::min<int64_t>(size - Stream.Position(), IOBufferSize));
            const int32_t block = Stream.Read(IOBuffer.data(), want);
            if (block <= 0) {
                break;
            }
            if (!SendBlock(IOBuffer.data(), block, true)) {
                return false; // the system took nothing: no abort to report
            }
        }
        return true;
    });
}

// ---------------------------------------------------------------------------------------------
// Reading.

// A peek of bytes that stay in the socket makes the system post a read notice, after the fact;
// once the bytes are taken that notice is stale and would wake the next wait for nothing.
// Notices queued before a read looks at the socket tell it nothing its own look does not, and a
// look that finds nothing makes the system post one for the next arrival: so a reader drops them
// before its first look, without losing one that matters.
void TPowersock::DropStaleReadNotices()
{
    DropNotices(FSocketHandle.Get(), true);
}

std::string TPowersock::Read(int32_t Count)
{
    const int32_t count = Count16(Count, "Read count");
    StatusMessage(8, "Read( " + IntToStr(count) + " )");
    int32_t got = 0;
    Run(TOperation::Read, [&] {
        DropStaleReadNotices();
        if (count == 0) {
            // Whatever waits, as much as the buffer takes.
            got = std::max(FChannel.Receive(IOBuffer.data(), IOBufferSize, false), 0);
            return true;
        }
        // Taken as they come: the system may hold back more than it lets a look see.
        WaitUntil([&] {
            while (got < count) {
                const int32_t n = FChannel.Receive(IOBuffer.data() + got, count - got, false);
                if (n == InputClosed || n == InputNotConnected) {
                    return true; // what came before the end is the result
                }
                if (n < 0) {
                    return false;
                }
                got += n;
            }
            return true;
        });
        return true;
    });
    return std::string(IOBuffer.data(), static_cast<std::size_t>(got));
}

std::string TPowersock::ReadLn()
{
    std::string line;
    bool found = false;
    Run(TOperation::ReadLn, [&] {
        DropStaleReadNotices();
        bool closed = false;
        int32_t got = 0; // bytes of the line already taken; they hold no LF
        WaitUntil([&] {
            for (;;) {
                if (got >= IOBufferSize) {
                    // No room left to look for the line's end.
                    throw ESockError("Socket readln line too long");
                }
                char* const room = IOBuffer.data() + got;
                const int32_t n = FChannel.Receive(room, IOBufferSize - got, true);
                if (n == InputClosed) {
                    closed = true;
                    return true;
                }
                if (n == InputNotConnected) {
                    return true;
                }
                if (n < 0) {
                    return false;
                }
                if (const void* lf = std::memchr(room, '\n', static_cast<std::size_t>(n))) {
                    const auto through = static_cast<int32_t>(static_cast<const char*>(lf) - room) + 1;
                    const int32_t taken = FChannel.Receive(room, through, false);
                    line.append(room, static_cast<std::size_t>(std::max(taken, 0)));
                    found = true;
                    return true;
                }
                const int32_t taken = FChannel.Receive(room, n, false);
                if (taken > 0) {
                    line.append(room, static_cast<std::size_t>(taken));
                    got += taken;
                }
            }
        });
        // A closed connection ends the line at once, whatever else happened.
        found = found && !closed;
        return !closed;
    });
    return found ? line : std::string();
}

std::string TPowersock::Transaction(const std::string& Command)
{
    StatusMessage(8, "Transaction");
    FReplyNumber = 0;
    Writeln(Command);
    std::string reply = ReadLn();
    FTransactionReply = reply;
    if (!reply.empty()) {
        StatusMessage(1, reply);
        FReplyNumber = ReplyNumberOf(reply);
    }
    return reply;
}

// ---------------------------------------------------------------------------------------------
// Receiving into files, streams and strings.

void TPowersock::AppendFile(const std::string& FileName)
{
    Run(TOperation::AppendFile, [&] {
        FChannel.BytesRecvd = 0;
        TFileStream file(FileName, fmOpenWrite);
        file.Seek(0, soFromEnd);
        WaitUntil([&] {
            while (FConnected) {
                const int32_t n = FChannel.Receive(IOBuffer.data(), IOBufferSize, false);
                if (n == InputNone) {
                    return false;
                }
                if (n <= 0) {
                    break;
                }
                file.WriteBuffer(IOBuffer.data(), n);
                if (Progressed(n, FChannel.BytesRecvd, OnPacketRecvd)) {
                    return true;
                }
            }
            return true;
        });
        return true;
    });
}

int32_t TPowersock::CapturePacket(const std::function<void(const char*, int32_t)>& Store)
{
    const int32_t n = FChannel.Receive(IOBuffer.data(), IOBufferSize, false);
    if (n == InputNone) {
        return 0;
    }
    if (n <= 0) {
        return -1;
    }
    Store(IOBuffer.data(), n);
    Progressed(n, FChannel.BytesRecvd, OnPacketRecvd);
    return n;
}

void TPowersock::CaptureFile(const std::string& FileName)
{
    Run(TOperation::CaptureFile, [&] {
        FChannel.BytesRecvd = 0;
        TFileStream file(FileName, fmCreate);
        const auto store = [&](const char* Data, int32_t Count) { file.WriteBuffer(Data, Count); };
        WaitUntil([&] {
            int32_t n;
            while ((n = CapturePacket(store)) > 0 && !FCanceled) {
            }
            return n < 0;
        });
        return true;
    });
}

void TPowersock::CaptureStream(TStream& Stream, int32_t Size)
{
    Run(TOperation::CaptureStream, [&] {
        FChannel.BytesRecvd = 0;
        const auto store = [&](const char* Data, int32_t Count) { Stream.WriteBuffer(Data, Count); };
        if (Size == -1) {
            // What one receive delivers, nothing when nothing waits.
            if (!FCanceled) {
                CapturePacket(store);
            }
            return true;
        }
        WaitUntil([&] {
            while (Stream.Size() < Size) {
                const int32_t n = CapturePacket(store);
                if (n <= 0 || FCanceled) {
                    return n != 0;
                }
            }
            return true;
        });
        return true;
    });
}

void TPowersock::CaptureString(std::string& S, int32_t Size)
{
    Run(TOperation::CaptureString, [&] {
        S.clear();
        FChannel.BytesRecvd = 0;
        const auto store = [&](const char* Data, int32_t Count) { S.append(Data, static_cast<std::size_t>(Count)); };
        WaitUntil([&] {
            while (Size == -1 || static_cast<int64_t>(S.size()) < Size) {
                const int32_t n = CapturePacket(store);
                if (n <= 0 || FCanceled) {
                    return n != 0;
                }
            }
            return true;
        });
        return true;
    });
}

void TPowersock::FilterHeader(TStream& Stream)
{
    StatusMessage(8, "FilterHeader");
    for (;;) {
        const std::string line = ReadLn();
        if (line.empty()) {
            return;
        }
        Stream.WriteBuffer(line.data(), static_cast<int32_t>(line.size()));
        if (line == "\n" || line == "\r\n") {
            return;
        }
    }
}

bool TPowersock::DataAvailable()
{
    StatusMessage(8, "Data Available");
    char first;
    return FChannel.Receive(&first, 1, true, true) >= 1;
}

void TPowersock::ClearInput()
{
    StatusMessage(8, "Clearing Input");
    FChannel.Receive(IOBuffer.data(), IOBufferSize, false, true);
}
