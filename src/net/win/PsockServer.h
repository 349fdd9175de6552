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

// The per-client instances of a listening server; it locks itself.
class TServerClientList {
public:
    int Count();
    bool Contains(const TNMGeneralServer* Client);
    std::vector<TNMGeneralServer*> Items();
    void Add(TNMGeneralServer* Client);
    void Remove(const TNMGeneralServer* Client);
    // Runs Action for every instance with the list locked: none is unlisted (and freed) meanwhile.
    template <typename F>
    void ForEach(F Action)
    {
        TCriticalSectionLock lock(FLock);
        for (TNMGeneralServer* client : FItems) {
            Action(client);
        }
    }

private:
    TCriticalSection FLock;
    std::vector<TNMGeneralServer*> FItems;
};

// A TPowersock that listens on Port once Loaded and serves every accepted connection with a new
// instance of its own class (CreateClient; TNMServer<T> provides it), whose Serve runs on a
// thread of its own. A server owned by another server is such a per-client instance: it has no
// ClientList, its ListeningServer is the server and ServeThread its thread.
//
// Threads. The listening server and every per-client instance are made, notified and freed on
// the GUI thread: their windows belong to it, so a connection's notices arrive there while
// Serve runs on the client thread. When Serve returns, the client thread posts the instance back
// to the listening server's window, where the GUI thread removes it from ClientList and frees it
// (its windows, timer and socket), and the thread frees itself; what is still listed when the
// server goes is cancelled, waited for and freed by its destructor.
//
// From Serve, on the client thread, an instance may use: the transfer operations (ReadLn,
// Writeln, Read, Write, SendBuffer, Transaction, the file, stream and string transfers,
// DataAvailable, ClearInput), Cancel, TimeOut (its deadline is watched by the waiting thread
// itself), the flags (Canceled, Connected, TimedOut, AsyncDone), RemoteAddress and GetRemoteIP.
// Their waits sleep on the client thread's queue, which the GUI thread wakes at a notice of the
// connection that finds them asleep, as Cancel does from any thread; their pump dispatches that
// thread's own messages only (it owns no window). Not from Serve: Connect, Disconnect, Listen,
// Accept: they replace or close the socket the GUI thread's notices are matched against. To end
// the connection, return from Serve. Keep ReportLevel at 0 (as constructed) on a
// per-client instance: reports come from both threads. The events copied from the server
// (OnConnect, OnDisconnect) and OnDataAvailable fire on the GUI thread; those of the operations
// (OnPacketSent, OnPacketRecvd, OnAfterAbort, OnError) on the client thread. A peer's close
// marks the instance not Connected and fires OnDisconnect; the socket stays until the instance
// goes, so a read in Serve sees the end of the data.
class TNMGeneralServer : public TPowersock {
public:
    explicit TNMGeneralServer(TComponent* AOwner);
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
    TServerClientList* ClientList() const noexcept { return FClientList.get(); }
    TNMGeneralServer* ListeningServer() const noexcept { return FListeningServer; }
    // The thread that runs Serve; null once Serve has returned (the thread then frees itself).
    InstantiateServethread* ServeThread() const noexcept { return FServeThread; }

    TNotifyEvent OnClientContact;

protected:
    // The instance of the server's own class for one client, owned by AOwner (the listening
    // server). Every class that serves differently provides it; TNMServer<T> does.
    virtual TNMGeneralServer* CreateClient(TComponent* AOwner);
    void Wndproc(TMessage& Message) override;
    // A served connection's socket is its client thread's until the instance goes: the peer's
    // end marks it not Connected and fires OnDisconnect, and a read in Serve sees the end.
    void PeerClosed() override;

private:
    friend class InstantiateServethread;
    // A client's Serve has returned: frees the instance, when it is still listed.
    void ClientDone(TNMGeneralServer* Client);
    // Unlists and frees a client whose Serve has returned.
    void FreeClient(TNMGeneralServer* Client);

    std::unique_ptr<TServerClientList> FClientList;
    TNMGeneralServer* FListeningServer = nullptr;
    std::atomic<InstantiateServethread*> FServeThread{nullptr};
    // A per-client instance, from its making to its freeing.
    bool FServed = false;
    // Set by the client thread once Serve has returned and it touches the instance no more.
    TKernelHandle FServeDone;
};

// The server class to derive from: TNMServer<TMyServer> makes each client a TMyServer, whose
// constructor takes the owner.
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
    TNMGeneralServer* CreateClient(TComponent* AOwner) override { return new T(AOwner); }
};

// The thread of one accepted connection, made on the GUI thread by ServerAccept. It runs Serve
// of its instance (ClientComponent), hands the instance back to the GUI thread, which unlists
// and frees it, and frees itself.
class InstantiateServethread : public TThread {
public:
    // Makes the instance for Socket (taken over, closed on failure), starts the thread and lists
    // the instance. Raises when the instance cannot be made or the thread not started; nothing
    // is left running or listed then.
    InstantiateServethread(TNMGeneralServer* Server, TSocketHandle Socket);
    ~InstantiateServethread() override;

    TNMGeneralServer* ClientComponent() const noexcept { return FClientComponent; }

protected:
    void Execute() override;

private:
    TNMGeneralServer* FClientComponent = nullptr;
    // Where the instance is handed back when Serve has returned.
    HWND FServerWindow = nullptr;
};
