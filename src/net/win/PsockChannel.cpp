#include "net/win/PsockChannel.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "net/PsockText.h"

namespace {

// The errors that say the connection is gone: what comes after them can only fail the same way.
bool ConnectionLost(int Error) noexcept
{
    return Error == WSAECONNRESET || Error == WSAECONNABORTED || Error == WSAENETRESET || Error == WSAESHUTDOWN;
}

// A record at a time: the plaintext taken is what one record holds.
constexpr int32_t TlsPiece = 16384;

} // namespace

TPsockChannel::TPsockChannel(const TSocketHandle& Socket, std::atomic<int32_t>& LastError, THooks Hooks)
    : FSocket(Socket), FLastError(LastError), FHooks(std::move(Hooks))
{
}

int32_t TPsockChannel::ReceiveRaw(char* Into, int32_t Max, bool Peek, bool Quiet)
{
    const int n = recv(FSocket.Get(), Into, Max, Peek ? MSG_PEEK : 0);
    if (n > 0) {
        return n;
    }
    if (n == 0) {
        FHooks.Ended();
        return InputClosed;
    }
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
        return InputNone;
    }
    FLastError = error;
    if (error == WSAENOTCONN) {
        return InputNotConnected;
    }
    if (ConnectionLost(error)) {
        FHooks.Ended();
        if (Quiet) {
            return InputClosed;
        }
    }
    if (!Quiet) {
        FHooks.Failed(error);
    }
    return InputNone;
}

int32_t TPsockChannel::Receive(char* Into, int32_t Max, bool Peek, bool Quiet)
{
    if (!FTls) {
        return ReceiveRaw(Into, Max, Peek, Quiet);
    }
    while (FPlain.empty()) {
        if (FTls->PeerClosed()) {
            FHooks.Ended();
            return InputClosed;
        }
        const int32_t n = ReceiveRaw(FRawIn.data(), static_cast<int32_t>(FRawIn.size()), false, Quiet);
        if (n <= 0) {
            return n;
        }
        try {
            FTls->Feed(std::string_view(FRawIn.data(), static_cast<std::size_t>(n)));
            FPlain += FTls->Decrypt();
        } catch (const ETlsError&) {
            TlsFailed();
            if (Quiet) {
                return InputClosed;
            }
            throw;
        }
    }
    const auto n = static_cast<int32_t>(std::min<std::size_t>(static_cast<std::size_t>(Max), FPlain.size()));
    std::memcpy(Into, FPlain.data(), static_cast<std::size_t>(n));
    if (!Peek) {
        FPlain.erase(0, static_cast<std::size_t>(n));
    }
    return n;
}

int32_t TPsockChannel::SendRaw(const char* Data, int32_t Count)
{
    const int n = send(FSocket.Get(), Data, Count, 0);
    if (n >= 0) {
        return n;
    }
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
        return -1;
    }
    if (ConnectionLost(error)) {
        FHooks.Ended();
    }
    FHooks.Failed(error);
    return -1; // Failed raises
}

int32_t TPsockChannel::Send(const char* Data, int32_t Count)
{
    if (!FTls) {
        return SendRaw(Data, Count);
    }
    if (!SendPending()) {
        return -1;
    }
    const int32_t piece = std::min(Count, TlsPiece);
    try {
        FRawOut = FTls->Encrypt(std::string_view(Data, static_cast<std::size_t>(piece)));
    } catch (const ETlsError&) {
        TlsFailed();
        throw;
    }
    SendPending();
    return piece;
}

bool TPsockChannel::SendPending()
{
    std::size_t sent = 0;
    while (sent < FRawOut.size()) {
        const int32_t n = SendRaw(FRawOut.data() + sent, static_cast<int32_t>(std::min<std::size_t>(FRawOut.size() - sent, INT32_MAX)));
        if (n <= 0) {
            break;
        }
        sent += static_cast<std::size_t>(n);
    }
    FRawOut.erase(0, sent);
    return FRawOut.empty();
}

void TPsockChannel::DropWaiting()
{
    // Room for what the socket gives beneath TLS, made when TLS is first asked for.
    FRawIn.resize(PsockBufferSize);
    while (ReceiveRaw(FRawIn.data(), static_cast<int32_t>(FRawIn.size()), false, false) > 0) {
    }
}

void TPsockChannel::BeginTls(const TTlsSettings& Settings)
{
    FRawIn.resize(PsockBufferSize);
    FHandshake = std::make_unique<TTlsClient>(Settings);
    FHandshakeDone = false;
    FRawOut = FHandshake->Start();
}

bool TPsockChannel::Handshake()
{
    for (;;) {
        if (!SendPending()) {
            return false; // the socket says when it takes more
        }
        if (FHandshakeDone) {
            return true;
        }
        std::string out;
        FHandshakeDone = FHandshake->Handshake(out);
        FRawOut += out;
        if (!out.empty() || FHandshakeDone) {
            continue;
        }
        const int32_t n = ReceiveRaw(FRawIn.data(), static_cast<int32_t>(FRawIn.size()), false, false);
        if (n == InputNone) {
            return false;
        }
        if (n <= 0) {
            throw ETlsError(ETlsError::trHandshake, 0, "TLS: the server ended the connection during the handshake");
        }
        FHandshake->Feed(std::string_view(FRawIn.data(), static_cast<std::size_t>(n)));
    }
}

void TPsockChannel::CompleteTls()
{
    // Application bytes may have come with the handshake's last message.
    FPlain = FHandshake->Decrypt();
    FTls = std::move(FHandshake);
}

void TPsockChannel::DropHandshake() noexcept
{
    FHandshake.reset();
    FRawOut.clear();
    FPlain.clear();
}

void TPsockChannel::EndTls(bool Connected) noexcept
{
    if (!FTls) {
        return;
    }
    try {
        if (Connected && !FTls->PeerClosed()) {
            const std::string bye = FTls->Shutdown();
            send(FSocket.Get(), bye.data(), static_cast<int>(bye.size()), 0);
        }
    } catch (...) { // the socket closes all the same
    }
    Reset();
}

void TPsockChannel::Reset() noexcept
{
    FTls.reset();
    FPlain.clear();
    FRawOut.clear();
}

void TPsockChannel::TlsFailed()
{
    // The session is broken: no close_notify through it, and nothing of it read or sent again.
    Reset();
    FHooks.Ended();
}
