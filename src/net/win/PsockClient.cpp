// TPowersock: start-up, the notification window, name lookup, connect and close, error and
// status reports, address queries (the wait: PsockWait.cpp).
#include "net/win/PsockClient.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <exception>

#include "toolkit/win/HiddenWindow.h"
#include "toolkit/win/MessagePump.h"
#include "toolkit/SysUtils.h"

std::atomic<int32_t> WinsockUsers{0};

// The portable reader of a lookup's host entry (FirstLookupAddress) assumes the system's layout.
static_assert(offsetof(hostent, h_addrtype) == 2 * sizeof(char*) && offsetof(hostent, h_length) == 2 * sizeof(char*) + 2 &&
              offsetof(hostent, h_addr_list) == 3 * sizeof(char*));

void PsockWait(DWORD MaxMs)
{
    WaitForThreadMessage(MaxMs);
    ProcessThreadMessages();
}

// The notification window: socket and lookup messages go to the component, the rest to
// DefWindowProc.
class TPowersock::TPsockWindow : public THiddenWindow {
public:
    // A hidden top-level window, not a message-only one: it is found by FindWindow and
    // EnumWindows and receives broadcasts, as every window of the program does. Recycled: the
    // component closes its socket before the window goes, so no notice of it follows, and a
    // late lookup completion names a task its next owner does not wait for.
    explicit TPsockWindow(TPowersock& Socket) : FSocket(Socket) { AllocatePooledHandle("PsockWindowClass"); }
    using THiddenWindow::SetRecycled;

protected:
    LRESULT WndProc(UINT Msg, WPARAM wParam, LPARAM lParam) override
    {
        if (Msg < CM_SOCKETMESSAGE) {
            return DefaultHandler(Msg, wParam, lParam);
        }
        TMessage message{Msg, wParam, lParam, 0};
        FSocket.Wndproc(message);
        return message.Result;
    }

private:
    TPowersock& FSocket;
};

// ---------------------------------------------------------------------------------------------
// Construction and destruction.

TPowersock::TPowersock(TComponent* AOwner) : TPowersock(AOwner, true) {}

TPowersock::TPowersock(TComponent* AOwner, bool OpenSocket) : TComponent(AOwner), FOpenSocket(OpenSocket)
{
    StatusMessage(8, "Create");
    FWindowThread = GetCurrentThreadId();
    FMessageWindow = std::make_unique<TPsockWindow>(*this);
    FHostEntryBuffer = std::make_unique<TLookupBuffer>();
    FTimeOutTimer = new TThreadTimer(this);
    FTimeOutTimer->SetEnabled(false);
    FTimeOutTimer->SetOnTimer([this](TObject*) { TimerTick(); });
    InitWinsock();
}

TPowersock::~TPowersock()
{
    // From here on no event fires, and closing the socket opens no fresh one.
    BeginDestroy();
    StatusMessage(8, "Destroy");
    try {
        Abort();
        Cancel();
        delete FTimeOutTimer;
        FTimeOutTimer = nullptr;
        // A lookup that may still finish writes into its buffer: those buffers stay behind.
        if (FLookupTask != nullptr) {
            WSACancelAsyncRequest(FLookupTask);
            (void)FHostEntryBuffer.release();
        }
        for (auto& [task, buffer] : FAbandonedLookups) {
            WSACancelAsyncRequest(task);
            (void)buffer.release();
        }
        FHostEntryBuffer.reset();
        // The socket before its window: the window may serve another component next, and a
        // closed socket is reported no more.
        RequestCloseSocket();
    } catch (...) { // a destructor reports nothing
    }
    FMessageWindow.reset();
    if (--WinsockUsers == 0) {
        WSACleanup();
    }
}

void TPowersock::InitWinsock()
{
    StatusMessage(8, "Initializing Winsock");
    try {
        if (++WinsockUsers == 1) {
            WSAStartup(0x0101, &FWSAData);
            const TWinsockDescription info{FWSAData.wVersion,
                                           FWSAData.wHighVersion,
                                           FWSAData.szDescription,
                                           FWSAData.szSystemStatus,
                                           FWSAData.iMaxSockets,
                                           FWSAData.iMaxUdpDg};
            for (const auto& line : WinsockInfoLines(info)) {
                FWSAInfo.Add(line);
            }
        }
        if (!FOpenSocket) {
            return;
        }
        try {
            TakeSocket(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
            // Only this first socket: closing it resets the connection at once.
            linger off{1, 0};
            setsockopt(FSocketHandle.Get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&off), sizeof off);
            // Without its notifications the component could never see a connect.
            if (WSAAsyncSelect(FSocketHandle.Get(), MessageWindow(), CM_SOCKETMESSAGE, PsockSelectEvents) != 0) {
                throw ESockError("No notifications");
            }
        } catch (...) {
            FSocketHandle.Reset();
            if (--WinsockUsers == 0) {
                WSACleanup();
            }
            throw;
        }
    } catch (...) {
        throw ESockError("Initializaton of windows sockets failed");
    }
}

void TPowersock::TakeSocket(SOCKET Socket)
{
    TSocketHandle taken(Socket);
    if (!taken) {
        ErrorManager(WouldBlock);
        throw ESockError("No socket");
    }
    if (taken.Get() >= NoSocket) {
        throw ERangeError("Socket handle out of range");
    }
    FSocketHandle = std::move(taken);
    FConnectTried = false;
    // A new socket starts plain.
    FTls.reset();
    FPlain.clear();
    FRawOut.clear();
}

void TPowersock::SelectEvents()
{
    WSAAsyncSelect(FSocketHandle.Get(), MessageWindow(), CM_SOCKETMESSAGE, PsockSelectEvents);
}

uint16_t TPowersock::SocketHandle() const noexcept
{
    return FSocketHandle ? static_cast<uint16_t>(FSocketHandle.Get()) : NoSocket;
}

void TPowersock::SetWindowRecycled(bool Value) noexcept
{
    if (FMessageWindow) {
        FMessageWindow->SetRecycled(Value);
    }
}

HWND TPowersock::MessageWindow() const noexcept
{
    return FMessageWindow ? FMessageWindow->Handle() : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Notifications.

void TPowersock::Wndproc(TMessage& Message)
{
    Message.Result = 0;
    try {
        const WORD event = LOWORD(Message.LParam);
        if (Message.Msg == CM_SOCKETMESSAGE) {
            // A notification of a socket closed since it was posted belongs to no connection
            // of ours.
            if (!FSocketHandle || Message.WParam != static_cast<WPARAM>(FSocketHandle.Get())) {
                return;
            }
            FAsyncOk = HIWORD(Message.LParam) == 0;
            switch (event) {
            case FD_READ:
                try {
                    if (OnDataAvailable) OnDataAvailable(this);
                } catch (...) {
                }
                break;
            case FD_ACCEPT:
                FConnected = true;
                if (OnAccept) OnAccept(this);
                break;
            case FD_CONNECT:
                FConnectSeen = true;
                if (FAsyncOk) {
                    FConnected = true;
                    if (OnConnect) OnConnect(this);
                }
                break;
            case FD_CLOSE: {
                // Data still waiting is read first: the receive step acts on the end once it
                // finds nothing more, as it does here when nothing waits.
                char first;
                if (ReceiveStep(&first, 1, true, true) == InputNone) {
                    PeerClosed();
                }
                break;
            }
            default:
                break;
            }
        } else if (Message.Msg == CM_LOOKUPMESSAGE) {
            if (event == FD_ACCEPT) {
                FAsyncOk = HIWORD(Message.LParam) == 0;
                FAsyncDone = true;
                FConnected = true;
                if (!Destroying() && OnDisconnect) OnDisconnect(this);
            } else {
                const HANDLE task = reinterpret_cast<HANDLE>(Message.WParam);
                if (task == nullptr || task != FLookupTask) {
                    // The completion of a lookup given up earlier: its buffer may go now.
                    LookupFinished(task);
                    return;
                }
                FLookupTask = nullptr;
                FAsyncOk = HIWORD(Message.LParam) == 0;
                FAsyncDone = true;
            }
        }
    } catch (...) { // a notification never fails
    }
    // What a wait looks at may have changed: one asleep on another thread looks again.
    WakeWaiter();
}

void TPowersock::LookupFinished(HANDLE Task) noexcept
{
    FAbandonedLookups.erase(std::remove_if(FAbandonedLookups.begin(), FAbandonedLookups.end(),
                                           [Task](const auto& entry) { return entry.first == Task; }),
                            FAbandonedLookups.end());
}

// ---------------------------------------------------------------------------------------------
// Name lookup and connecting.

void TPowersock::ResolveRemoteHost()
{
    StatusMessage(8, "Resolve Host");
    const std::string& name = FProxy.empty() ? FHost : FProxy;
    if (name.size() > static_cast<std::size_t>(IOBufferSize)) {
        throw ERangeError("Host name too long");
    }
    std::memcpy(IOBuffer.data(), name.data(), name.size());
    IOBuffer[name.size()] = '\0';
    FRemoteAddress.sin_addr.s_addr = inet_addr(IOBuffer.data());
    if (FRemoteAddress.sin_addr.s_addr != INADDR_NONE) {
        return;
    }
    FRemoteAddress.sin_addr.s_addr = 0;
    {
        TTimerScope timer(*this);
        FAsyncDone = false;
        FHostEntryBuffer->Name = IOBuffer.data();
        FLookupTask = WSAAsyncGetHostByName(MessageWindow(), CM_LOOKUPMESSAGE, FHostEntryBuffer->Name.c_str(),
                                            FHostEntryBuffer->Entry.data(), static_cast<int>(FHostEntryBuffer->Entry.size()));
        if (FLookupTask == nullptr) {
            // No lookup runs, so no completion would end the wait.
            FAsyncOk = false;
            FAsyncDone = true;
        }
        WaitUntil([this] { return FAsyncDone || FTimedOut; });
        if (FLookupTask != nullptr) {
            // Given up, but the system may still write into its buffer and report it later.
            WSACancelAsyncRequest(FLookupTask);
            FAbandonedLookups.emplace_back(FLookupTask, std::move(FHostEntryBuffer));
            FHostEntryBuffer = std::make_unique<TLookupBuffer>();
            FLookupTask = nullptr;
        }
    }
    if (FTimedOut) {
        throw ELookupEnded("Host Lookup Timed Out");
    }
    if (FCanceled) {
        throw ELookupEnded("Host Lookup Canceled");
    }
    uint8_t address[4];
    if (!FAsyncOk || !FirstLookupAddress(FHostEntryBuffer->Entry.data(), FHostEntryBuffer->Entry.size(), address)) {
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
    FCanceled = false;
    if (FConnected) {
        throw ESockError("Already connected");
    }
    int tries = 0;
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
        if (tries > 0 || !OnInvalidHost) {
            throw ESockError("Null Remote Address");
        }
        bool handled = false;
        OnInvalidHost(handled);
        if (!handled) {
            throw ESockError("Null Remote Address");
        }
        ++tries;
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
    int round = 0;
    while (!FConnected) {
        if (round > 0 || !OnConnectionRequired) {
            throw Exception("Not Connected");
        }
        bool handled = false;
        OnConnectionRequired(handled);
        if (!handled) {
            throw Exception("Not Connected");
        }
        ++round;
    }
}

// ---------------------------------------------------------------------------------------------
// Closing.

void TPowersock::Disconnect()
{
    StatusMessage(8, "Disconnecting");
    RequestCloseSocket();
}

void TPowersock::PeerClosed()
{
    // Once per connection: a send on the fresh socket that follows may fail as well.
    if (FConnected) {
        RequestCloseSocket();
    }
}

void TPowersock::RequestCloseSocket()
{
    StatusMessage(4, "Request Close Socket");
    FConnected = false;
    std::exception_ptr failure;
    EndTls();
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

void TPowersock::EndTls() noexcept
{
    if (!FTls) {
        return;
    }
    try {
        if (FConnected && !FTls->PeerClosed()) {
            const std::string bye = FTls->Shutdown();
            send(FSocketHandle.Get(), bye.data(), static_cast<int>(bye.size()), 0);
        }
    } catch (...) { // the socket closes all the same
    }
    FTls.reset();
    FPlain.clear();
    FRawOut.clear();
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

// ---------------------------------------------------------------------------------------------
// Errors and status.

void TPowersock::ErrorManager(uint16_t Ignore, std::string& Msg)
{
    const int err = WSAGetLastError();
    FLastErrorNo = err;
    if (err != Ignore && err > 10000) {
        RaiseSocketError(err);
    }
    Msg.clear();
}

void TPowersock::ErrorManager(uint16_t Ignore)
{
    std::string msg;
    ErrorManager(Ignore, msg);
}

void TPowersock::RaiseSocketError(int Code)
{
    FLastErrorNo = Code;
    std::string text;
    SocketErrorStr(static_cast<uint16_t>(Code), text);
    if (OnError) {
        OnError(this, static_cast<uint16_t>(Code), text);
    }
    throw ESockError(text);
}

void TPowersock::SetWSAError(uint16_t Code, std::string Msg)
{
    StatusMessage(8, "Setting Winsock Error");
    FLastErrorNo = Code;
    if (Msg.empty()) {
        SocketErrorStr(Code, Msg);
    }
    WSASetLastError(Code);
    if (OnError) {
        OnError(this, Code, Msg);
    }
}

void TPowersock::SocketErrorStr(uint16_t Code, std::string& Msg)
{
    StatusMessage(8, "Looking Up Error Message" + Msg);
    Msg = SocketErrorText(Code);
}

void TPowersock::StatusMessage(uint8_t Level, const std::string& Text)
{
    try {
        if (Level <= FReportLevel) {
            FStatus = Text;
            if (!Destroying() && OnStatus) {
                OnStatus(this, FStatus);
            }
        }
    } catch (...) { // a status report never fails the operation
    }
}

int32_t TPowersock::LastErrorNo()
{
    StatusMessage(8, "Getting LastError Number");
    return FLastErrorNo;
}

void TPowersock::SetLastErrorNo(int32_t Value)
{
    StatusMessage(8, "Setting LastError Number");
    FLastErrorNo = Value;
}

// ---------------------------------------------------------------------------------------------
// Addresses.

std::string TPowersock::GetRemoteIP()
{
    StatusMessage(8, "Getting Remote IP");
    return inet_ntoa(FRemoteAddress.sin_addr);
}

std::string TPowersock::GetLocalIP()
{
    StatusMessage(8, "Getting Local IP");
    char name[200] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    const hostent* entry = gethostbyname(name);
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4 || entry->h_addr_list == nullptr ||
        entry->h_addr_list[0] == nullptr) {
        return {};
    }
    const auto* a = reinterpret_cast<const unsigned char*>(entry->h_addr_list[0]);
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", a[0], a[1], a[2], a[3]);
    return text;
}

std::string TPowersock::GetLocalAddress()
{
    sockaddr_in local{};
    int length = sizeof local;
    getsockname(FSocketHandle.Get(), reinterpret_cast<sockaddr*>(&local), &length);
    std::string text = inet_ntoa(local.sin_addr);
    int replaced = 0;
    for (char& c : text) {
        if (c == '.' && replaced < 3) {
            c = ',';
            ++replaced;
        }
    }
    return text;
}

std::string TPowersock::GetPortString()
{
    sockaddr_in local{};
    int length = sizeof local;
    getsockname(FSocketHandle.Get(), reinterpret_cast<sockaddr*>(&local), &length);
    const auto* port = reinterpret_cast<const unsigned char*>(&local.sin_port);
    char text[16];
    std::snprintf(text, sizeof text, ",%d,%d", port[0], port[1]);
    return text;
}
