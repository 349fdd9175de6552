// The listening side of the socket layer: a server that listens on a port and serves every
// accepted connection with an instance of its own class on a thread of its own. Win32.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "toolkit/Thread.h"
#include "toolkit/win/Handles.h"
#include "net/win/PsockClient.h"

// Private to the listening server: a client thread whose Serve has returned hands its instance
// back to the thread that owns the instance's windows (wParam: the instance).
constexpr UINT CM_CLIENTDONE = 0x467;
// Connections the system keeps waiting for Accept. One would refuse (Windows) or drop (the
// stacks that retry a dropped connect a second later) every client of a burst beyond the first
// two while the GUI thread is busy; this asks for the most the system allows.
constexpr int PsockListenBacklog = 0x7FFFFFFF;

class TNMGeneralServer;
class InstantiateServethread;

// What a listening server hands the instance it makes for an accepted connection: the server and
// the connection's socket, owned.
struct TServedConnection {
    TNMGeneralServer& Server;
    TSocketHandle Socket;
};

// The per-client instances of a listening server, and their one owner; it locks itself.
class TServerClientList {
public:
    TServerClientList();
    ~TServerClientList();
    int Count();
    bool Contains(const TNMGeneralServer* Client);
    std::vector<TNMGeneralServer*> Items();
    void Add(std::unique_ptr<TNMGeneralServer> Client);
    // Unlists Client and hands it over; null when it is not listed.
    std::unique_ptr<TNMGeneralServer> Take(const TNMGeneralServer* Client);
    // Runs Action for every instance with the list locked: none is unlisted (and freed) meanwhile.
    template <typename F>
    void ForEach(F Action)
    {
        TCriticalSectionLock lock(FLock);
        for (const auto& client : FItems) {
            Action(client.get());
        }
    }

private:
    TCriticalSection FLock;
    std::vector<std::unique_ptr<TNMGeneralServer>> FItems;
};

// The listening role of a server: the clients it serves and the window their threads hand them
// back to. That window is its own and no pooled one: a client thread may still post a hand-back
// after the server has gone, naming an instance already freed, and such a post must find no
// window, and certainly not one that serves another server by then.
class TServerListener {
public:
    TServerListener();
    // Cancels every client, waits until each thread's Serve has returned (cancelling again one
    // that waits again) and frees them.
    ~TServerListener();
    TServerListener(const TServerListener&) = delete;
    TServerListener& operator=(const TServerListener&) = delete;

    TServerClientList Clients;
    HWND HandBackWindow() const noexcept;

private:
    class THandBackWindow;
    // A client's Serve has returned: frees the instance, when it is still listed.
    void ClientDone(TNMGeneralServer* Client);
    std::unique_ptr<THandBackWindow> FWindow;
};

// The served role of a server instance: the listening server, the thread that runs its Serve,
// and the event that thread sets once Serve has returned and it touches the instance no more.
class TServedClient {
public:
    // Raises when the system has no event for it.
    TServedClient(TNMGeneralServer& Server, HWND HandBack);
    TServedClient(const TServedClient&) = delete;
    TServedClient& operator=(const TServedClient&) = delete;

    TNMGeneralServer& ListeningServer;
    // Null once Serve has returned (the thread then frees itself).
    std::atomic<InstantiateServethread*> Thread{nullptr};
    // On the client thread: runs Client's Serve and hands Client back to the GUI thread.
    void Run(TNMGeneralServer& Client) noexcept;
    // Whether Serve returned within Ms milliseconds.
    bool Returned(DWORD Ms) const noexcept;

private:
    TKernelHandle FDone;
    const HWND FHandBack;
};

// A TPowersock that listens on Port once Loaded and serves every accepted connection with a new
// instance of its own class (CreateClient; TNMServer<T> provides it), whose Serve runs on a
// thread of its own. Which role an instance plays is its constructor's: the one that takes an
// owner makes a listening server, with a ClientList; the one that takes a TServedConnection a
// per-client instance, whose ListeningServer is the server and ServeThread its thread. The
// ClientList alone owns the per-client instances.
//
// Threads. The listening server and every per-client instance are made, notified and freed on
// the GUI thread: their windows belong to it, so a connection's notices arrive there while
// Serve runs on the client thread. When Serve returns, the client thread posts the instance back
// to the listening server, where the GUI thread unlists and frees it (its windows, timer and
// socket), and the thread frees itself; what is still listed when the server goes is cancelled,
// waited for and freed by its destructor.
//
// From Serve, on the client thread, an instance may use: the transfer operations (ReadLn,
// Writeln, Read, Write, SendBuffer, Transaction, the file, stream and string transfers,
// DataAvailable, ClearInput), Cancel, TimeOut (its deadline is watched by the waiting thread
// itself), the flags (Canceled, Connected, TimedOut, AsyncDone), RemoteAddress and GetRemoteIP.
// Their waits sleep on the client thread's queue, which the GUI thread wakes at a notice of the
// connection that finds them asleep, as Cancel does from any thread; their pump dispatches that
// thread's own messages only (it owns no window). Connect, Disconnect, Listen and Accept raise
// there (they replace or close the socket the GUI thread's notices are matched against): to end
// the connection, return from Serve. Status texts are reported on the GUI thread only. The
// events copied from the server (OnConnect, OnDisconnect) and OnDataAvailable fire on the GUI
// thread; those of the operations (OnPacketSent, OnPacketRecvd, OnAfterAbort, OnError) on the
// client thread. A peer's close marks the instance not Connected and fires OnDisconnect; the
// socket stays until the instance goes, so a read in Serve sees the end of the data.
class TNMGeneralServer : public TPowersock {
public:
    // A listening server.
    explicit TNMGeneralServer(TComponent* AOwner);
    // A per-client instance on the accepted connection, owned by nobody until its server lists
    // it; RemoteAddress, OnConnect and OnDisconnect are the server's.
    explicit TNMGeneralServer(TServedConnection Connection);
    // Aborts every client, waits until each thread's Serve has returned (cancelling again one
    // that waits again) and frees them, then the server. A Serve must therefore return once its
    // waits are cancelled, which every wait of the socket layer does.
    ~TNMGeneralServer() override;

    // Starts listening on Port with OnAccept := ServerAccept.
    void Loaded() override;
    // A server connects nowhere.
    void Connect() override {}
    // Cancels every listed client; the server's own Canceled stays as it is.
    void Abort() override;
    // The per-client protocol, on the client's thread; nothing by default. An exception ends
    // the client quietly.
    virtual void Serve() {}

    // On the GUI thread, from the accept notice: accepts the connection and starts its client.
    // Failures are swallowed (the connection is closed); OnClientContact fires in every case.
    void ServerAccept(TObject* Sender);

    // Null on a per-client instance.
    TServerClientList* ClientList() const noexcept { return FListener ? &FListener->Clients : nullptr; }
    TNMGeneralServer* ListeningServer() const noexcept { return FServed ? &FServed->ListeningServer : nullptr; }
    // The thread that runs Serve; null once Serve has returned (the thread then frees itself).
    InstantiateServethread* ServeThread() const noexcept { return FServed ? FServed->Thread.load() : nullptr; }

    TNotifyEvent OnClientContact;

protected:
    // The instance of the server's own class for one client. Every class that serves
    // differently provides it; TNMServer<T> does.
    virtual std::unique_ptr<TNMGeneralServer> CreateClient(TServedConnection Connection);

private:
    // One of the two, for the instance's life.
    std::unique_ptr<TServerListener> FListener;
    std::unique_ptr<TServedClient> FServed;
};

// The server class to derive from: TNMServer<TMyServer> makes each client a TMyServer, which
// takes both constructors over (a class with constructors of its own provides both).
//
//     class TEchoServer : public TNMServer<TEchoServer> {
//     public:
//         using TNMServer::TNMServer;
//         void Serve() override { ... ReadLn() ... Writeln(...) ... }
//     };
template <typename T>
class TNMServer : public TNMGeneralServer {
public:
    using TNMGeneralServer::TNMGeneralServer;

protected:
    std::unique_ptr<TNMGeneralServer> CreateClient(TServedConnection Connection) override
    {
        return std::make_unique<T>(std::move(Connection));
    }
};

// The thread of one accepted connection, made on the GUI thread by ServerAccept for a client
// that is listed right after. It runs Serve of its instance (ClientComponent), hands the
// instance back to the GUI thread, which unlists and frees it, and frees itself.
class InstantiateServethread : public TThread {
public:
    // Starts the thread; raises when it cannot (nothing then runs).
    InstantiateServethread(TNMGeneralServer& Client, TServedClient& Served);
    ~InstantiateServethread() override;

    TNMGeneralServer* ClientComponent() const noexcept { return &FClient; }

protected:
    void Execute() override;

private:
    TNMGeneralServer& FClient;
    TServedClient& FServed;
};
