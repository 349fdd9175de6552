// TPowersock: name lookup, connecting and closing.
#include "net/win/PsockClient.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

// ---------------------------------------------------------------------------------------------
// Name lookup and connecting.

void TPowersock::ResolveRemoteHost()
{
    StatusMessage(8, "Resolve Host");
    const std::string& name = FProxy.empty() ? FHost : FProxy;
    if (name.size() > static_cast<std::size_t>(IOBufferSize)) {
        throw ERangeError("Host name too long");
    }
    // The name up to a zero byte it may hold, as the system reads it.
    const std::string text(name.c_str());
    FRemoteAddress.sin_addr.s_addr = inet_addr(text.c_str());
    if (FRemoteAddress.sin_addr.s_addr != INADDR_NONE) {
        return;
    }
    FRemoteAddress.sin_addr.s_addr = 0;
    {
        TTimerScope timer(*this);
        FAsyncDone = false;
        if (!FLookup.Start(MessageWindow(), CM_LOOKUPMESSAGE, text)) {
            // No lookup runs, so no completion would end the wait.
            FAsyncOk = false;
            FAsyncDone = true;
        }
        WaitUntil([this] { return FAsyncDone || FTimedOut; });
        // Given up, but the system may still write into its buffer and report it later.
        FLookup.GiveUp();
    }
    if (FTimedOut) {
        throw ELookupEnded("Host Lookup Timed Out");
    }
    if (FCanceled) {
        throw ELookupEnded("Host Lookup Canceled");
    }
    uint8_t address[4];
    if (!FAsyncOk || !FLookup.Address(address)) {
        throw ESockError("Host Lookup Failed");
    }
    std::memcpy(&FRemoteAddress.sin_addr.s_addr, address, 4);
    if (OnHostResolved) {
        OnHostResolved(this);
    }
}

void TPowersock::RenewSocket()
{
    const SOCKET old = FSocketHandle.Release();
    closesocket(old);
    DropNotices(old, false);
    TakeSocket(socket(AF_INET, SOCK_STREAM, 0));
    SelectEvents();
}

void TPowersock::Connect()
{
    StatusMessage(8, "Connecting");
    RequireWindowThread("Connect");
    FCanceled = false;
    if (FConnected) {
        throw ESockError("Already connected");
    }
    bool asked = false;
    for (;;) {
        try {
            ResolveRemoteHost();
        } catch (const ELookupEnded&) {
            throw;
        } catch (const ESockError&) { // a name that does not resolve: asked about below
        }
        if (FRemoteAddress.sin_addr.s_addr != 0) {
            break;
        }
        if (!AskHandlerOnce(asked, OnInvalidHost)) {
            throw ESockError("Null Remote Address");
        }
    }
    // A socket whose connect was refused or given up takes no second one.
    if (FConnectTried) {
        RenewSocket();
    }
    FRemoteAddress.sin_family = AF_INET;
    FRemoteAddress.sin_port = htons(FProxy.empty() ? static_cast<u_short>(FPort & 0xFFFF) : FProxyPort);
    FAsyncDone = false;
    FAsyncOk = true;
    FConnectTried = true;
    FConnectSeen = false;
    // "Would block" is how a non-blocking connect starts, not an error: LastErrorNo keeps
    // what it held, and so does a refusal, which only the notification reports.
    if (connect(FSocketHandle.Get(), reinterpret_cast<const sockaddr*>(&FRemoteAddress), sizeof FRemoteAddress) ==
            SOCKET_ERROR &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        ErrorManager(WouldBlock);
    }
    {
        TTimerScope timer(*this);
        // The connect notice ends the wait even when a close notice handled in the same pump
        // has already closed the connection again.
        WaitUntil([this] { return FConnected || FConnectSeen || FTimedOut || !FAsyncOk; });
    }
    if (!FTimedOut && !FCanceled && FAsyncOk && FConnected) {
        return;
    }
    if (OnConnectionFailed) {
        OnConnectionFailed(this);
    }
    if (FTimedOut) {
        throw ESockError("Connection Timed out");
    }
    if (FCanceled) {
        throw ESockError("Connection Canceled");
    }
    throw ESockError(FAsyncOk && FConnectSeen ? "Connection closed by the peer" : "Connection Failed");
}

void TPowersock::CertifyConnect()
{
    StatusMessage(8, "Checking Connection");
    bool asked = false;
    while (!FConnected) {
        if (!AskHandlerOnce(asked, OnConnectionRequired)) {
            throw Exception("Not Connected");
        }
    }
}

// ---------------------------------------------------------------------------------------------
// TLS.

void TPowersock::StartTls(const TTlsSettings& Settings)
{
    bool begun = false;
    try {
        Run(TOperation::StartTls, [&] {
            if (FChannel.Secured()) {
                throw ESockError("TLS already started");
            }
            // Whatever the peer sent after its last answer and before the handshake answers
            // nothing that was asked: it is dropped, never read as a reply (a server, or someone
            // on the line, may have put commands of its own there).
            DropStaleReadNotices();
            FChannel.DropWaiting();
            FChannel.BeginTls(Settings);
            begun = true;
            if (WaitUntil([this] { return FChannel.Handshake(); })) {
                FChannel.CompleteTls();
                return true;
            }
            HandshakeFailed();
            if (FTimedOut) {
                // A server that does not finish the handshake is one that cannot be reached, as
                // one that does not accept the connection: not the caller's abort.
                FCanceled = false;
                throw ETlsError(ETlsError::trTimedOut, WSAETIMEDOUT, "TLS: the server did not complete the handshake in time");
            }
            return true; // cancelled: "TLS handshake aborted"
        });
    } catch (...) {
        if (begun && !FChannel.Secured()) {
            HandshakeFailed();
        }
        throw;
    }
}

void TPowersock::HandshakeFailed()
{
    FChannel.DropHandshake();
    if (FConnected) {
        RequestCloseSocket();
    }
}

// ---------------------------------------------------------------------------------------------
// Closing.

void TPowersock::Disconnect()
{
    StatusMessage(8, "Disconnecting");
    RequireWindowThread("Disconnect");
    RequestCloseSocket();
}

void TPowersock::PeerClosed()
{
    if (!FAccepted) {
        // Once per connection: a send on the fresh socket that follows may fail as well.
        if (FConnected) {
            RequestCloseSocket();
        }
        return;
    }
    // OnDisconnect fires on the window thread. A read on another thread that finds the end has
    // the close looked at there (the notice of it may have come while data still waited).
    if (!IsWindowThread()) {
        if (FConnected) {
            PostMessageA(MessageWindow(), CM_SOCKETMESSAGE, static_cast<WPARAM>(FSocketHandle.Get()), FD_CLOSE);
        }
        return;
    }
    if (FConnected.exchange(false) && !Destroying() && OnDisconnect) {
        OnDisconnect(this);
    }
}

void TPowersock::RequireWindowThread(const char* What) const
{
    if (!IsWindowThread()) {
        throw ESockError(std::string(What) + " is called on the component's own thread only");
    }
}

void TPowersock::RequestCloseSocket()
{
    StatusMessage(4, "Request Close Socket");
    // The close_notify goes out while the connection is still up.
    FChannel.EndTls(FConnected.exchange(false));
    std::exception_ptr failure;
    if (FSocketHandle) {
        const SOCKET closing = FSocketHandle.Release();
        const bool closed = closesocket(closing) == 0;
        // Notifications already queued for it would be taken for the next socket's, which
        // may get the same number. A component that goes leaves its window, whose queue is
        // emptied when the window is taken again (or that is destroyed).
        if (!Destroying()) {
            DropNotices(closing, false);
        }
        // The fresh socket is made whatever the report raises, so that the component can
        // always connect again.
        try {
            if (!closed) {
                ErrorManager(WouldBlock);
            } else if (!Destroying() && OnDisconnect) {
                OnDisconnect(this);
            }
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (!Destroying() && !FSocketHandle) {
        TakeSocket(socket(AF_INET, SOCK_STREAM, 0));
        SelectEvents();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void TPowersock::DropNotices(SOCKET Socket, bool ReadsOnly)
{
    const HWND window = MessageWindow();
    // A listening server's client thread sees no message of the window, which is the GUI
    // thread's.
    if (window == nullptr || GetCurrentThreadId() != FWindowThread) {
        return;
    }
    MSG notice;
    std::vector<MSG> others;
    while (PeekMessageA(&notice, window, CM_SOCKETMESSAGE, CM_SOCKETMESSAGE, PM_REMOVE)) {
        if (notice.wParam != static_cast<WPARAM>(Socket) || (ReadsOnly && LOWORD(notice.lParam) != FD_READ)) {
            others.push_back(notice);
        }
    }
    for (const MSG& other : others) {
        PostMessageA(window, other.message, other.wParam, other.lParam);
    }
}

void TPowersock::Close(TSocketHandle& Socket)
{
    StatusMessage(8, "Closing Socket");
    Socket.Reset();
}
