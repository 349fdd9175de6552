// TPowersock: the receive step and the send step, which every byte of the connection passes, and
// TLS beneath them (StartTls and the session's failures).
#include "net/win/PsockClient.h"

#include <algorithm>
#include <cstring>

namespace {

// The errors that say the connection is gone: what comes after them can only fail the same way.
bool ConnectionLost(int Error) noexcept
{
    return Error == WSAECONNRESET || Error == WSAECONNABORTED || Error == WSAENETRESET || Error == WSAESHUTDOWN;
}

} // namespace

int32_t TPowersock::ReceiveRaw(char* Into, int32_t Max, bool Peek, bool Quiet)
{
    const int n = recv(FSocketHandle.Get(), Into, Max, Peek ? MSG_PEEK : 0);
    if (n > 0) {
        return n;
    }
    if (n == 0) {
        PeerClosed();
        return InputClosed;
    }
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
        return InputNone;
    }
    FLastErrorNo = error;
    if (error == WSAENOTCONN) {
        return InputNotConnected;
    }
    if (ConnectionLost(error)) {
        PeerClosed();
        if (Quiet) {
            return InputClosed;
        }
    }
    if (!Quiet) {
        RaiseSocketError(error);
    }
    return InputNone;
}

int32_t TPowersock::ReceiveStep(char* Into, int32_t Max, bool Peek, bool Quiet)
{
    if (!FTls) {
        return ReceiveRaw(Into, Max, Peek, Quiet);
    }
    while (FPlain.empty()) {
        if (FTls->PeerClosed()) {
            PeerClosed();
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

int32_t TPowersock::SendRaw(const char* Data, int32_t Count)
{
    const int n = send(FSocketHandle.Get(), Data, Count, 0);
    if (n >= 0) {
        return n;
    }
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
        return -1;
    }
    if (ConnectionLost(error)) {
        PeerClosed();
    }
    RaiseSocketError(error);
}

// A record at a time: the plaintext taken is what one record holds.
constexpr int32_t TlsPiece = 16384;

int32_t TPowersock::SendStep(const char* Data, int32_t Count)
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

bool TPowersock::SendPending()
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

void TPowersock::StartTls(const TTlsSettings& Settings)
{
    StatusMessage(8, "Start TLS");
    if (FTls) {
        throw ESockError("TLS already started");
    }
    // Whatever the peer sent after its last answer and before the handshake answers nothing
    // that was asked: it is dropped, never read as a reply (a server, or someone on the line,
    // may have put commands of its own there).
    DropStaleReadNotices();
    while (ReceiveRaw(IOBuffer.data(), IOBufferSize, false, false) > 0) {
    }
    auto tls = std::make_unique<TTlsClient>(Settings);
    FRawIn.resize(IOBufferSize);
    FRawOut = tls->Start();
    bool complete = false;
    try {
        {
            TTimerScope timer(*this);
            WaitUntil([&] {
                for (;;) {
                    if (!SendPending()) {
                        return false; // the socket says when it takes more
                    }
                    if (complete) {
                        return true;
                    }
                    std::string out;
                    complete = tls->Handshake(out);
                    FRawOut += out;
                    if (!out.empty() || complete) {
                        continue;
                    }
                    const int32_t n = ReceiveRaw(FRawIn.data(), static_cast<int32_t>(FRawIn.size()), false, false);
                    if (n == InputNone) {
                        return false;
                    }
                    if (n <= 0) {
                        throw ETlsError(ETlsError::trHandshake, 0, "TLS: the server ended the connection during the handshake");
                    }
                    tls->Feed(std::string_view(FRawIn.data(), static_cast<std::size_t>(n)));
                }
            });
        }
        if (complete) {
            // Application bytes may have come with the handshake's last message.
            FPlain = tls->Decrypt();
        } else if (FTimedOut) {
            // A server that does not finish the handshake is one that cannot be reached, as one
            // that does not accept the connection: not the caller's abort.
            FCanceled = false;
            throw ETlsError(ETlsError::trTimedOut, WSAETIMEDOUT, "TLS: the server did not complete the handshake in time");
        }
    } catch (...) {
        FRawOut.clear();
        FPlain.clear();
        if (FConnected) {
            RequestCloseSocket();
        }
        throw;
    }
    if (!complete) {
        FRawOut.clear();
        if (FConnected) {
            RequestCloseSocket();
        }
        AbortEnding("TLS handshake aborted");
        throw ETlsError(ETlsError::trHandshake, 0, "TLS: the handshake did not end");
    }
    FTls = std::move(tls);
}

void TPowersock::TlsFailed()
{
    // The session is broken: no close_notify through it, and nothing of it read or sent again.
    FTls.reset();
    FPlain.clear();
    FRawOut.clear();
    PeerClosed();
}
