// The listening side: TPowersock's Listen and Accept, and the server that serves each accepted
// connection with an instance of its own class on a thread of its own.
#include "net/win/PsockServer.h"

#include <algorithm>

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

uint16_t TPowersock::Accept()
{
    return AcceptConnection(true);
}

uint16_t TPowersock::AcceptConnection(bool SelectNotices)
{
    StatusMessage(4, "Accepting");
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
    if (SelectNotices) {
        WSAAsyncSelect(accepted.Get(), MessageWindow(), CM_SOCKETMESSAGE, PsockSelectEvents);
    }
    FRemoteAddress = peer;
    AbortEnding("Socket send aborted");
    return static_cast<uint16_t>(accepted.Release());
}

// ---------------------------------------------------------------------------------------------
// The client list.

int TServerClientList::Count()
{
    TCriticalSectionLock lock(FLock);
    return static_cast<int>(FItems.size());
}

bool TServerClientList::Contains(const TNMGeneralServer* Client)
{
    TCriticalSectionLock lock(FLock);
    return std::find(FItems.begin(), FItems.end(), Client) != FItems.end();
}

std::vector<TNMGeneralServer*> TServerClientList::Items()
{
    TCriticalSectionLock lock(FLock);
    return FItems;
}

void TServerClientList::Add(TNMGeneralServer* Client)
{
    TCriticalSectionLock lock(FLock);
    FItems.push_back(Client);
}

void TServerClientList::Remove(const TNMGeneralServer* Client)
{
    TCriticalSectionLock lock(FLock);
    FItems.erase(std::remove(FItems.begin(), FItems.end(), Client), FItems.end());
}

// ---------------------------------------------------------------------------------------------
// The server.

// A client (owned by a server) is handed its accepted connection at once: it opens no socket of
// its own, which would only be closed again.
TNMGeneralServer::TNMGeneralServer(TComponent* AOwner)
    : TPowersock(AOwner, dynamic_cast<TNMGeneralServer*>(AOwner) == nullptr)
{
    if (dynamic_cast<TNMGeneralServer*>(AOwner) == nullptr) {
        FClientList = std::make_unique<TServerClientList>();
        // A client thread may still post its instance's hand-back (CM_CLIENTDONE) after the
        // server has gone, naming an instance already freed: such a post must find no window,
        // and certainly not a window that serves another server by then.
        SetWindowRecycled(false);
    }
}

TNMGeneralServer::~TNMGeneralServer()
{
    try {
        Abort();
    } catch (...) {
    }
    if (FClientList) {
        for (TNMGeneralServer* client : FClientList->Items()) {
            // A Serve that takes the abort and waits again is cancelled again, each time its
            // thread has had a while to end.
            while (WaitForSingleObject(client->FServeDone.Get(), 100) == WAIT_TIMEOUT) {
                client->Cancel();
            }
            FreeClient(client);
        }
        FClientList.reset();
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
    if (FClientList) {
        FClientList->ForEach([](TNMGeneralServer* Client) { Client->Cancel(); });
    }
}

TNMGeneralServer* TNMGeneralServer::CreateClient(TComponent* AOwner)
{
    return new TNMGeneralServer(AOwner);
}

void TNMGeneralServer::ServerAccept(TObject*)
{
    {
        TCriticalSectionLock lock(ServerLock());
        try {
            FAsyncDone = true;
            // Its notices are asked for the client's own window right after; until then the
            // accepted socket reports accepts only (as the listening one), to this window,
            // where they name no socket of ours.
            TSocketHandle accepted(AcceptConnection(false));
            new InstantiateServethread(this, std::move(accepted));
        } catch (...) { // the connection is closed; the server listens on
        }
    }
    if (OnClientContact) {
        OnClientContact(this);
    }
}

void TNMGeneralServer::Wndproc(TMessage& Message)
{
    if (Message.Msg == CM_CLIENTDONE) {
        ClientDone(reinterpret_cast<TNMGeneralServer*>(Message.WParam));
        Message.Result = 0;
        return;
    }
    TPowersock::Wndproc(Message);
}

void TNMGeneralServer::PeerClosed()
{
    if (!FServed) {
        TPowersock::PeerClosed();
        return;
    }
    // OnDisconnect fires on the GUI thread. The client thread's read that finds the end has the
    // close looked at there (the notice of it may have come while data still waited).
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

void TNMGeneralServer::ClientDone(TNMGeneralServer* Client)
{
    // Only an instance of this server's own list is taken for one.
    if (FClientList && FClientList->Contains(Client)) {
        FreeClient(Client);
    }
}

void TNMGeneralServer::FreeClient(TNMGeneralServer* Client)
{
    TCriticalSectionLock lock(ServerLock());
    FClientList->Remove(Client);
    delete Client; // its windows, its timer and the connection
}

// ---------------------------------------------------------------------------------------------
// The client thread.

InstantiateServethread::InstantiateServethread(TNMGeneralServer* Server, TSocketHandle Socket)
    : FServerWindow(Server->MessageWindow())
{
    // Owned by the server: it gets no client list of its own.
    if (!Server->FClientList) {
        throw ESockError("Not a listening server");
    }
    std::unique_ptr<TNMGeneralServer> client(Server->CreateClient(Server));
    client->FServeDone.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!client->FServeDone) {
        throw ESockError("No event for the client thread");
    }
    client->FServed = true;
    client->FConnected = true;
    client->FRemoteAddress = Server->FRemoteAddress;
    client->FServeThread = this;
    client->OnConnect = Server->OnConnect;
    client->OnDisconnect = Server->OnDisconnect;
    client->FSocketHandle = std::move(Socket);
    client->FListeningServer = Server;
    // Its notices go to its own window from here on; those already posted to the server's
    // window name a socket that is not the server's, and are dropped there.
    if (WSAAsyncSelect(client->FSocketHandle.Get(), client->MessageWindow(), CM_SOCKETMESSAGE, PsockSelectEvents) != 0) {
        throw ESockError("No notifications");
    }
    FClientComponent = client.get();
    // The thread frees itself when Serve has returned; the instance is freed on the GUI thread,
    // which lists it before its hand-back can arrive (both are the GUI thread's). A thread that
    // does not start leaves nothing listed, and the connection is closed with the instance.
    SetFreeOnTerminate(true);
    Resume();
    Server->FClientList->Add(client.release());
}

InstantiateServethread::~InstantiateServethread() = default;

void InstantiateServethread::Execute()
{
    TNMGeneralServer* const client = FClientComponent;
    // A queue for this thread, so that wakes posted to its waits find it.
    MSG msg;
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    try {
        client->Serve();
    } catch (...) { // a client's failure ends its thread quietly
    }
    // This object goes once Execute returns.
    client->FServeThread = nullptr;
    // From here on the GUI thread may free the instance (a server that goes frees it as soon as
    // it sees this), so nothing of it is touched after.
    const HWND server = FServerWindow;
    SetEvent(client->FServeDone.Get());
    // Its windows and socket go on the GUI thread. When the post fails (the queue is full), the
    // server frees it when it goes.
    PostMessageA(server, CM_CLIENTDONE, reinterpret_cast<WPARAM>(client), 0);
}
