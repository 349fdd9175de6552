// TPowersock: data transfer over the connected socket. Nothing is read ahead inside the
// component: the readers peek, then take exactly the bytes they return, so whatever follows a
// line stays in the socket for the next call.
#include "net/Psock.h"

#include <algorithm>
#include <cstring>

#include "toolkit/win/Forms.h"
#include "toolkit/SysUtils.h"

namespace {

constexpr uint16_t WouldBlock = WSAEWOULDBLOCK;

// A count given to a 16-bit parameter.
int32_t Count16(int64_t Count, const char* What)
{
    if (Count < 0 || Count > 0xFFFF) {
        throw ERangeError(std::string(What) + " out of range: " + IntToStr(Count));
    }
    return static_cast<int32_t>(Count);
}

} // namespace

void TPowersock::AbortEnding(const char* Text)
{
    if (FCanceled) {
        FCanceled = false;
        if (OnAfterAbort) {
            OnAfterAbort(this);
        }
        throw EAbortError(Text);
    }
}

// ---------------------------------------------------------------------------------------------
// Sending.

void TPowersock::SendBuffer(const char* Value, int32_t BufLen)
{
    int32_t length = Count16(BufLen, "Buffer length");
    StatusMessage(4, "Sending Buffer");
    {
        TTimerScope timer(*this);
        if (!FCanceled) {
            if (length == 0 && Value != nullptr) {
                length = Count16(static_cast<int64_t>(strnlen(Value, IOBufferSize)), "Buffer length");
            }
            int32_t remaining = length;
            while (remaining > 0) {
                const int n = send(FSocketHandle.Get(), Value + (length - remaining), remaining, 0);
                if (n == 0) {
                    break;
                }
                if (n < 0) {
                    ErrorManager(WouldBlock);
                    // No notification says when the socket takes data again: a short sleep.
                    WaitForNotice();
                } else {
                    remaining -= n;
                }
                if (FCanceled) {
                    break;
                }
            }
        }
    }
    AbortEnding("Socket send aborted");
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

bool TPowersock::SendBlock(const char* Data, int32_t Count)
{
    int32_t sent = 0;
    while (sent < Count && !FCanceled) {
        const int n = send(FSocketHandle.Get(), Data + sent, Count - sent, 0);
        if (n == 0) {
            return false;
        }
        if (n > 0) {
            sent += n;
            FBytesSent += n;
            if (OnPacketSent) {
                OnPacketSent(this);
            }
            Application->ProcessMessages();
        } else {
            ErrorManager(WouldBlock);
            WaitForNotice();
        }
    }
    return true;
}

void TPowersock::SendFile(const std::string& FileName)
{
    StatusMessage(8, "SendFile");
    {
        TFileStream file(FileName, fmOpenRead);
        const int64_t size = file.Size();
        while (!FCanceled) {
            const int32_t block = file.Read(IOBuffer.data(), IOBufferSize);
            SendBlock(IOBuffer.data(), block);
            // A file that ends before its size (it shrank) ends the send too.
            if (block <= 0 || file.Position() >= size) {
                break;
            }
        }
    }
    AbortEnding("Socket send aborted");
}

void TPowersock::SendStream(TStream& Stream)
{
    StatusMessage(8, "SendStream");
    Stream.SetPosition(0);
    if (!FCanceled) {
        FBytesSent = 0;
        const int64_t size = Stream.Size();
        FBytesTotal = size;
        while (!FCanceled && Stream.Position() < size) {
            const auto want = static_cast<int32_t>(std::min<int64_t>(size - Stream.Position(), IOBufferSize));
            const int32_t block = Stream.Read(IOBuffer.data(), want);
            if (block <= 0) {
                break;
            }
            if (!SendBlock(IOBuffer.data(), block)) {
                return;
            }
        }
    }
    AbortEnding("Socket send aborted");
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
    int32_t count = Count16(Count, "Read count");
    StatusMessage(8, "Read( " + IntToStr(count) + " )");
    DropStaleReadNotices();
    if (count == 0) {
        const int n = recv(FSocketHandle.Get(), IOBuffer.data(), IOBufferSize, MSG_PEEK);
        if (n < 0) {
            ErrorManager(WouldBlock);
        }
        if (n <= 0) {
            AbortEnding("Socket send aborted");
            return {};
        }
        count = Count16(n, "Read count");
    } else {
        for (;;) {
            const int n = recv(FSocketHandle.Get(), IOBuffer.data(), IOBufferSize, MSG_PEEK);
            if (n >= count) {
                break;
            }
            if (n == 0) {
                return {};
            }
            if (n < 0) {
                ErrorManager(WouldBlock);
            } else {
                // A look that leaves the bytes there makes the system post a read notice of
                // them; dispatched here, it does not end the sleep below.
                Application->ProcessMessages();
            }
            WaitForNotice();
            if (FCanceled) {
                break;
            }
        }
    }
    AbortEnding("Socket send aborted");
    const int n = recv(FSocketHandle.Get(), IOBuffer.data(), count, 0);
    return n > 0 ? std::string(IOBuffer.data(), static_cast<std::size_t>(n)) : std::string();
}

std::string TPowersock::ReadLn()
{
    StatusMessage(8, "ReadLn");
    std::string line;
    int32_t got = 0; // bytes of the line already taken; they hold no LF
    int32_t lineEnd = -1;
    {
        TTimerScope timer(*this);
        DropStaleReadNotices();
        do {
            if (got >= IOBufferSize) {
                // No room left to look for the line's end.
                throw ESockError("Socket readln line too long");
            }
            char* const room = IOBuffer.data() + got;
            const int n = recv(FSocketHandle.Get(), room, IOBufferSize - got, MSG_PEEK);
            if (n == 0) {
                return {};
            }
            if (n > 0) {
                if (const void* lf = std::memchr(room, '\n', static_cast<std::size_t>(n))) {
                    lineEnd = got + static_cast<int32_t>(static_cast<const char*>(lf) - room);
                    break;
                }
                const int taken = recv(FSocketHandle.Get(), room, n, 0);
                if (taken > 0) {
                    line.append(room, static_cast<std::size_t>(taken));
                    got += taken;
                }
                Application->ProcessMessages();
            } else {
                const int err = WSAGetLastError();
                FLastErrorNo = err;
                if (err == WSAENOTCONN) {
                    break;
                }
                ErrorManager(WouldBlock);
                WaitForNotice();
            }
        } while (!FCanceled);
    }
    AbortEnding("Socket readln aborted");
    if (lineEnd < 0) {
        return {};
    }
    char* const room = IOBuffer.data() + got;
    const int taken = recv(FSocketHandle.Get(), room, lineEnd + 1 - got, 0);
    if (taken > 0) {
        line.append(room, static_cast<std::size_t>(taken));
    }
    return line;
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
    StatusMessage(8, "Append File");
    FBytesRecvd = 0;
    {
        TFileStream file(FileName, fmOpenWrite);
        file.Seek(0, soFromEnd);
        while (FConnected && !FCanceled) {
            const int n = recv(FSocketHandle.Get(), IOBuffer.data(), IOBufferSize, 0);
            if (n > 0) {
                file.WriteBuffer(IOBuffer.data(), n);
                FBytesRecvd += n;
                if (OnPacketRecvd) {
                    OnPacketRecvd(this);
                }
                Application->ProcessMessages();
                continue;
            }
            if (n < 0) {
                ErrorManager(WouldBlock);
            }
            // Nothing came: the close notification or more data ends the sleep.
            WaitForNotice();
        }
    }
    AbortEnding("Socket send aborted");
}

bool TPowersock::CapturePacket(const std::function<void(const char*, int32_t)>& Store)
{
    const int32_t n = CaptureReceive();
    if (n < 0) {
        return false;
    }
    if (n > 0) {
        Store(IOBuffer.data(), n);
        FBytesRecvd += n;
        if (OnPacketRecvd) {
            OnPacketRecvd(this);
        }
        TimerOn();
        Application->ProcessMessages();
    }
    return true;
}

int32_t TPowersock::CaptureReceive()
{
    const int n = recv(FSocketHandle.Get(), IOBuffer.data(), IOBufferSize, 0);
    if (n != SOCKET_ERROR) {
        return n > 0 ? n : -1;
    }
    FLastErrorNo = WSAGetLastError();
    if (FLastErrorNo == WSAENOTCONN) {
        return -1;
    }
    ErrorManager(WouldBlock);
    WaitForNotice();
    return 0;
}

void TPowersock::CaptureFile(const std::string& FileName)
{
    StatusMessage(8, "CaptureFile");
    FBytesRecvd = 0;
    {
        TTimerScope timer(*this);
        TFileStream file(FileName, fmCreate);
        while (!FCanceled && CapturePacket([&](const char* Data, int32_t Count) { file.WriteBuffer(Data, Count); })) {
        }
    }
    AbortEnding("Socket send aborted");
}

void TPowersock::CaptureStream(TStream& Stream, int32_t Size)
{
    StatusMessage(8, "Capture Stream");
    FBytesRecvd = 0;
    {
        TTimerScope timer(*this);
        while (!FCanceled && (Size == -1 || Stream.Size() < Size)) {
            if (!CapturePacket([&](const char* Data, int32_t Count) { Stream.WriteBuffer(Data, Count); })) {
                break;
            }
            if (Size == -1) {
                break;
            }
        }
    }
    AbortEnding("Socket capture aborted");
}

void TPowersock::CaptureString(std::string& S, int32_t Size)
{
    StatusMessage(8, "Capture String");
    S.clear();
    FBytesRecvd = 0;
    {
        TTimerScope timer(*this);
        while (!FCanceled && (Size == -1 || static_cast<int64_t>(S.size()) < Size) &&
               CapturePacket([&](const char* Data, int32_t Count) { S.append(Data, static_cast<std::size_t>(Count)); })) {
        }
    }
    AbortEnding("Socket capture aborted");
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
    return recv(FSocketHandle.Get(), &first, 1, MSG_PEEK) >= 1;
}

void TPowersock::ClearInput()
{
    StatusMessage(8, "Clearing Input");
    recv(FSocketHandle.Get(), IOBuffer.data(), IOBufferSize, 0);
}
