// TPowersock: start-up, the notification window, error and status reports, address queries
// (connecting, securing and closing: PsockConnect.cpp; the time-out and the wait: PsockWait.cpp;
// the operations: PsockTransfer.cpp).
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

// The portable host entry is the system's.
static_assert(sizeof(hostent) == sizeof(THostEntry) && offsetof(hostent, h_addrtype) == offsetof(THostEntry, AddrType) &&
              offsetof(hostent, h_length) == offsetof(THostEntry, Length) &&
              offsetof(hostent, h_addr_list) == offsetof(THostEntry, AddrList));

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

TPowersock::TPowersock(TComponent* AOwner) : TPowersock(AOwner, TSocketHandle()) {}

TPowersock::TPowersock(TComponent* AOwner, TSocketHandle Accepted)
    : TComponent(AOwner),
      FDeadline([this] { TimerFired(nullptr); }),
      FChannel(FSocketHandle, FLastErrorNo, {[this] { PeerClosed(); }, [this](int Error) { RaiseSocketError(Error); }})
{
    StatusMessage(8, "Create");
    FMessageWindow = std::make_unique<TPsockWindow>(*this);
    InitWinsock(std::move(Accepted));
}

TPowersock::~TPowersock()
{
    // From here on no event fires, and closing the socket opens no fresh one.
    BeginDestroy();
    StatusMessage(8, "Destroy");
    try {
        Abort();
        Cancel();
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

void TPowersock::InitWinsock(TSocketHandle Accepted)
{
    StatusMessage(8, "Initializing Winsock");
    try {
        if (++WinsockUsers == 1) {
            WSADATA data{};
            WSAStartup(0x0101, &data);
            const TWinsockDescription info{data.wVersion,       data.wHighVersion, data.szDescription,
                                           data.szSystemStatus, data.iMaxSockets,  data.iMaxUdpDg};
            for (const auto& line : WinsockInfoLines(info)) {
                FWSAInfo.Add(line);
            }
        }
        try {
            if (!Accepted) {
                TakeSocket(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
                // Only this first socket: closing it resets the connection at once.
                linger off{1, 0};
                setsockopt(FSocketHandle.Get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&off), sizeof off);
            } else {
                FSocketHandle = std::move(Accepted);
                FAccepted = true;
                FConnected = true;
            }
            // Without its notifications the component could never see a connect, nor a served
            // connection its data.
            if (!SelectEvents()) {
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
    FAccepted = false;
    FChannel.Reset();
}

bool TPowersock::SelectEvents() noexcept
{
    return WSAAsyncSelect(FSocketHandle.Get(), MessageWindow(), CM_SOCKETMESSAGE, PsockSelectEvents) == 0;
}

uint16_t TPowersock::SocketHandle() const noexcept
{
    return FSocketHandle ? static_cast<uint16_t>(FSocketHandle.Get()) : NoSocket;
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
                if (FChannel.Receive(&first, 1, true, true) == InputNone) {
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
                if (!FLookup.Completed(reinterpret_cast<HANDLE>(Message.WParam))) {
                    return; // a lookup given up earlier
                }
                FAsyncOk = HIWORD(Message.LParam) == 0;
                FAsyncDone = true;
            }
        }
    } catch (...) { // a notification never fails
    }
    // What a wait looks at may have changed: one asleep on another thread looks again.
    WakeWaiter();
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
        // FStatus and the handler are the component's thread's.
        if (Level <= FReportLevel && IsWindowThread()) {
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
    const auto* entry = reinterpret_cast<const THostEntry*>(gethostbyname(name));
    if (entry == nullptr || !InternetEntry(*entry) || entry->AddrList == nullptr || entry->AddrList[0] == nullptr) {
        return {};
    }
    const auto* a = reinterpret_cast<const unsigned char*>(entry->AddrList[0]);
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
