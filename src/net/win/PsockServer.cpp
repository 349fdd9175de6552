// The listening side: TPowersock's Listen and Accept, and the server that serves each accepted
// connection with an instance of its own class on a thread of its own.
#include "net/win/PsockServer.h"

#include <algorithm>

#include "toolkit/win/HiddenWindow.h"
#include "toolkit/SysUtils.h"

namespace {

// Serializes accepting (the accept and the start of its client) against freeing finished
// clients, across every server of the process.
TCriticalSection& ServerLock()
{
    static TCriticalSection lock;
    return lock;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Listening and accepting.

void TPowersock::Listen(bool Flag)
{
    StatusMessage(8, "Listening");
    RequireWindowThread("Listen");
    if (FPort < 0 || FPort > 0xFFFF) {
        throw ERangeError("Port out of range: " + IntToStr(FPort));
    }
    FRemoteAddress = sockaddr_in{};
    FRemoteAddress.sin_family = AF_INET;
    FRemoteAddress.sin_port = htons(static_cast<u_short>(FPort));
    FRemoteAddress.sin_addr.s_addr = htonl(INADDR_ANY);
    FAsyncDone = false;
    // A port that cannot be had would otherwise leave the socket listening on one the system
    // picks, where no client looks.
    if (bind(FSocketHandle.Get(), reinterpret_cast<const sockaddr*>(&FRemoteAddress), sizeof FRemoteAddress) ==
        SOCKET_ERROR) {
        ErrorManager(WouldBlock);
    }
    WSAAsyncSelect(FSocketHandle.Get(), MessageWindow(), Flag ? CM_LOOKUPMESSAGE : CM_SOCKETMESSAGE, FD_ACCEPT);
    if (listen(FSocketHandle.Get(), PsockListenBacklog) == SOCKET_ERROR) {
        ErrorManager(WouldBlock);
    }
}

TSocketHandle TPowersock::Accept()
{
    TSocketHandle accepted = TakeConnection();
    WSAAsyncSelect(accepted.Get(), MessageWindow(), CM_SOCKETMESSAGE, PsockSelectEvents);
    return accepted;
}

TSocketHandle TPowersock::TakeConnection()
{
    StatusMessage(4, "Accepting");
    RequireWindowThread("Accept");
    WaitUntil([this] { return FAsyncDone.load(); });
    if (FCanceled) {
        throw ESockError("Accepting Canceled");
    }
    if (!FAsyncOk) {
        throw ESockError("Error creating Data Connection");
    }
    sockaddr_in peer{};
    int length = sizeof peer;
    TSocketHandle accepted(accept(FSocketHandle.Get(), reinterpret_cast<sockaddr*>(&peer), &length));
    // Taken: the next report (posted when more connections wait) is for the next Accept.
    FAsyncDone = false;
    if (!accepted) {
        ErrorManager(WouldBlock);
        throw ESockError("Error creating Data Connection"); // nothing was waiting after all
    }
    if (accepted.Get() >= NoSocket) {
        throw ERangeError("Socket handle out of range");
    }
    FRemoteAddress = peer;
    AbortEnding("Socket send aborted");
    return accepted;
}

// ---------------------------------------------------------------------------------------------
// The client list.

TServerClientList::TServerClientList() = default;
TServerClientList::~TServerClientList() = default;

int TServerClientList::Count()
{
    TCriticalSectionLock lock(FLock);
    return static_cast<int>(FItems.size());
}

bool TServerClientList::Contains(const TNMGeneralServer* Client)
{
    TCriticalSectionLock lock(FLock);
    return std::any_of(FItems.begin(), FItems.end(), [Client](const auto& item) { return item.get() == Client; });
}

std::vector<TNMGeneralServer*> TServerClientList::Items()
{
    TCriticalSectionLock lock(FLock);
    std::vector<TNMGeneralServer*> items;
    for (const auto& item : FItems) {
        items.push_back(item.get());
    }
    return items;
}

void TServerClientList::Add(std::unique_ptr<TNMGeneralServer> Client)
{
    TCriticalSectionLock lock(FLock);
    FItems.push_back(std::move(Client));
}

std::unique_ptr<TNMGeneralServer> TServerClientList::Take(const TNMGeneralServer* Client)
{
    TCriticalSectionLock lock(FLock);
    const auto at = std::find_if(FItems.begin(), FItems.end(), [Client](const auto& item) { return item.get() == Client; });
    if (at == FItems.end()) {
        return nullptr;
    }
    std::unique_ptr<TNMGeneralServer> taken = std::move(*at);
    FItems.erase(at);
    return taken;
}

// ---------------------------------------------------------------------------------------------
// The two roles.

class TServerListener::THandBackWindow : public THiddenWindow {
public:
    explicit THandBackWindow(TServerListener& Listener) : FListener(Listener) { AllocateHandle("PsockServerWindowClass"); }

protected:
    LRESULT WndProc(UINT Msg, WPARAM wParam, LPARAM lParam) override
    {
        if (Msg != CM_CLIENTDONE) {
            return DefaultHandler(Msg, wParam, lParam);
        }
        FListener.ClientDone(reinterpret_cast<TNMGeneralServer*>(wParam));
        return 0;
    }

private:
    TServerListener& FListener;
};

TServerListener::TServerListener() : FWindow(std::make_unique<THandBackWindow>(*this))
{
    if (FWindow->Handle() == nullptr) {
        throw ESockError("No window for the server");
    }
}

TServerListener::~TServerListener() = default;

HWND TServerListener::HandBackWindow() const noexcept
{
    return FWindow->Handle();
}

void TServerListener::ClientDone(TNMGeneralServer* Client)
{
    // Only an instance of this server's own list is taken for one; it goes under the lock that
    // keeps accepting out.
    TCriticalSectionLock lock(ServerLock());
    std::unique_ptr<TNMGeneralServer> done = Clients.Take(Client);
    done.reset(); // its windows, its timer and the connection
}

TServedClient::TServedClient(TNMGeneralServer& Server, HWND HandBack)
    : ListeningServer(Server), FDone(CreateEventA(nullptr, TRUE, FALSE, nullptr)), FHandBack(HandBack)
{
    if (!FDone) {
        throw ESockError("No event for the client thread");
    }
}

void TServedClient::Run(TNMGeneralServer& Client) noexcept
{
    // A queue for this thread, so that wakes posted to its waits find it.
    MSG msg;
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    try {
        Client.Serve();
    } catch (...) { // a client's failure ends its thread quietly
    }
    Thread = nullptr;
    // From here on the GUI thread may free the instance, and this with it (a server that goes
    // frees it as soon as it sees the event), so nothing of either is touched after.
    const HWND handBack = FHandBack;
    SetEvent(FDone.Get());
    // When the post fails (the queue is full), the server frees the instance when it goes.
    PostMessageA(handBack, CM_CLIENTDONE, reinterpret_cast<WPARAM>(&Client), 0);
}

bool TServedClient::Returned(DWORD Ms) const noexcept
{
    return WaitForSingleObject(FDone.Get(), Ms) != WAIT_TIMEOUT;
}

// ---------------------------------------------------------------------------------------------
// The server.

TNMGeneralServer::TNMGeneralServer(TComponent* AOwner)
    : TPowersock(AOwner), FListener(std::make_unique<TServerListener>())
{
}

TNMGeneralServer::TNMGeneralServer(TServedConnection Connection)
    : TPowersock(nullptr, std::move(Connection.Socket)),
      FServed(std::make_unique<TServedClient>(Connection.Server, Connection.Server.FListener->HandBackWindow()))
{
    FRemoteAddress = Connection.Server.RemoteAddress();
    OnConnect = Connection.Server.OnConnect;
    OnDisconnect = Connection.Server.OnDisconnect;
}

TNMGeneralServer::~TNMGeneralServer()
{
    try {
        Abort();
    } catch (...) {
    }
    if (FListener) {
        for (TNMGeneralServer* client : FListener->Clients.Items()) {
            // A Serve that takes the abort and waits again is cancelled again, each time its
            // thread has had a while to end.
            while (!client->FServed->Returned(100)) {
                client->Cancel();
            }
            TCriticalSectionLock lock(ServerLock());
            FListener->Clients.Take(client).reset();
        }
        FListener.reset();
    }
}

void TNMGeneralServer::Loaded()
{
    TPowersock::Loaded();
    ServerLock();
    OnAccept = [this](TObject* Sender) { ServerAccept(Sender); };
    Listen(false);
}

void TNMGeneralServer::Abort()
{
    StatusMessage(8, "Abort");
    if (FListener) {
        FListener->Clients.ForEach([](TNMGeneralServer* Client) { Client->Cancel(); });
    }
}

std::unique_ptr<TNMGeneralServer> TNMGeneralServer::CreateClient(TServedConnection Connection)
{
    return std::make_unique<TNMGeneralServer>(std::move(Connection));
}

void TNMGeneralServer::ServerAccept(TObject*)
{
    {
        TCriticalSectionLock lock(ServerLock());
        try {
            // A per-client instance has no clients to serve.
            if (!FListener) {
                throw ESockError("Not a listening server");
            }
            FAsyncDone = true;
            // The instance asks for the connection's notices at its own window; until then the
            // accepted socket reports accepts only (as the listening one), to this window, where
            // they name no socket of ours.
            std::unique_ptr<TNMGeneralServer> client = CreateClient({*this, TakeConnection()});
            // The instance is listed before its hand-back can arrive (both are this thread's). A
            // thread that does not start leaves nothing listed, and the connection is closed with
            // the instance.
            new InstantiateServethread(*client, *client->FServed);
            FListener->Clients.Add(std::move(client));
        } catch (...) { // the connection is closed; the server listens on
        }
    }
    if (OnClientContact) {
        OnClientContact(this);
    }
}

// ---------------------------------------------------------------------------------------------
// The client thread.

InstantiateServethread::InstantiateServethread(TNMGeneralServer& Client, TServedClient& Served)
    : FClient(Client), FServed(Served)
{
    // The thread frees itself when Serve has returned; the instance is freed on the GUI thread.
    SetFreeOnTerminate(true);
    FServed.Thread = this;
    try {
        Resume();
    } catch (...) {
        FServed.Thread = nullptr;
        throw;
    }
}

InstantiateServethread::~InstantiateServethread() = default;

void InstantiateServethread::Execute()
{
    FServed.Run(FClient);
}
