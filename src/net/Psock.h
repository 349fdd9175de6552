// The socket layer: a timer with a hidden window of its own, the stream-socket component on
// which the mail client is built, and the listening server that serves each accepted client on
// a thread of its own. Win32 (Windows Sockets 1.1), GUI thread.
//
// The component's calls look blocking: they wait by pumping the thread's message loop, so the
// program's other handlers (a cancel button) run during a wait, while the socket library
// reports connects, arrivals and closes as messages to the component's hidden window. A wait
// sleeps until a message arrives or a short slice passes; it never spins.
#pragma once

#include "toolkit/win/Win.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/Classes.h"
#include "toolkit/win/Handles.h"
#include "net/PsockText.h"
#include "toolkit/Thread.h"

// ---------------------------------------------------------------------------------------------
// Shared pieces.

// A message as the components' window procedures see it; Result is the answer.
struct TMessage {
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    LRESULT Result;
};

// The notification window's private messages: socket events (the event in the low word of
// lParam, its error code in the high word, the socket in wParam), and lookup completions (the
// lookup's task handle in wParam) or, after a listen that asks for them, accept events.
constexpr UINT CM_SOCKETMESSAGE = 0x465;
constexpr UINT CM_LOOKUPMESSAGE = 0x466;
// Private to the listening server: a client thread whose Serve has returned hands its instance
// back to the thread that owns the instance's windows (wParam: the client's thread object).
constexpr UINT CM_CLIENTDONE = 0x467;
// Private to the component: a time-out armed on another thread than the component's, for the
// component's own thread to set its system timer.
constexpr UINT CM_ARMTIMER = 0x468;
// The socket events the component asks for: read, out-of-band, accept, connect, close.
constexpr long PsockSelectEvents = 0x3D;
// The socket handle value that means "no socket".
constexpr uint16_t NoSocket = 0xFFFF;
// The most a wait sleeps before it looks at its flags again when no message comes.
constexpr DWORD PsockWaitSlice = 10;
// Connections the system keeps waiting for Accept. One would refuse (Windows) or drop (the
// stacks that retry a dropped connect a second later) every client of a burst beyond the first
// two while the GUI thread is busy; this asks for the most the system allows.
constexpr int PsockListenBacklog = 0x7FFFFFFF;

// Sleeps until a message arrives for this thread or PsockWaitSlice passes, then dispatches every
// pending message. Every wait of the socket layer goes through here.
void PsockWait();

class ESockError : public Exception {
    using Exception::Exception;
};
// A transfer ended by Cancel, Abort or the time-out.
class EAbortError : public ESockError {
    using ESockError::ESockError;
};

using TOnStatus = std::function<void(TComponent* Sender, const std::string& Status)>;
using TOnErrorEvent = std::function<void(TComponent* Sender, uint16_t Errno, const std::string& Errmsg)>;
using TOnHostResolved = std::function<void(TComponent* Sender)>;

// Instances that have started the socket library; the first starts it, the last stops it.
extern std::atomic<int32_t> WinsockUsers;

// ---------------------------------------------------------------------------------------------
// A periodic timer that works without a form, on the thread that created it: system timer 1 of
// a hidden window of class "TmrWindowClass". OnTimer fires every Interval milliseconds while
// Enabled, Interval is not 0 and OnTimer is assigned; an exception from it is shown by the
// application and the timer keeps running.
class TThreadTimer : public TComponent {
public:
    explicit TThreadTimer(TComponent* AOwner);
    ~TThreadTimer() override;

    bool Enabled() const noexcept { return FEnabled; }
    // Enabled and Interval restart the system timer only when their value changes, so setting
    // the same value again leaves the running count alone. "No Timer" when the system has none
    // left.
    void SetEnabled(bool Value);
    uint32_t Interval() const noexcept { return FInterval; }
    void SetInterval(uint32_t Value);
    const TNotifyEvent& OnTimer() const noexcept { return FOnTimer; }
    void SetOnTimer(TNotifyEvent Value);
    // Made with the timer, on its thread; null when the system could make none (the timer then
    // raises "No Timer" when armed).
    HWND TimerWindow() const noexcept;

protected:
    virtual void Timer();
    void UpdateTimer();
    void Wndproc(TMessage& Message);

private:
    class TTimerWindow;
    uint32_t FInterval = 1000;
    std::unique_ptr<TTimerWindow> FTimerWindow;
    TNotifyEvent FOnTimer;
    bool FEnabled = true;
    // Declared after the window: the system timer goes before the window does.
    TTimerId FTimerId;
};

// ---------------------------------------------------------------------------------------------
// A TCP client socket for the GUI thread. It owns a hidden notification window (class
// "PsockWindowClass"), a time-out timer and, from construction to destruction, one socket: an
// unconnected one after every close, so that it can connect again.
//
// Socket handles are kept to 16 bits (NoSocket, 0xFFFF, when there is none); a system handle
// that does not fit is refused. Failures of socket calls fire OnError and raise ESockError with
// the error's text; "would block" is never one.
class TPowersock : public TComponent {
public:
    explicit TPowersock(TComponent* AOwner);
    ~TPowersock() override;

    // ---- virtual operations, in their slot order (the listening side's Accept goes first)
    // Waits (pumping messages) until a connection has been reported or Cancel, and takes it:
    // the new socket, owned by the caller and registered for this component's notifications;
    // RemoteAddress holds the peer. ESockError "Accepting Canceled" (Canceled stays set),
    // "Error creating Data Connection" when the report carried an error or nothing waits.
    // AsyncDone is cleared again, so the next Accept waits for the next report.
    virtual uint16_t Accept();
    // Resolves Proxy or Host and connects; returns when connected, else raises (OnConnect has
    // fired from the notification during the wait).
    virtual void Connect();
    virtual void Disconnect();
    // Sends Command and a line end and reads one reply line (terminator included); its leading
    // number goes to ReplyNumber.
    virtual std::string Transaction(const std::string& Command);
    virtual void Abort();

    // ---- properties
    const std::string& Host() const noexcept { return FHost; }
    void SetHost(const std::string& Value) { FHost = Value; }
    // Connect uses the low 16 bits.
    int32_t Port() const noexcept { return FPort; }
    void SetPort(int32_t Value) noexcept { FPort = Value; }
    // Milliseconds; 0 waits without a time-out. A negative value is refused when a wait arms it.
    int32_t TimeOut() const noexcept { return FTimeOut; }
    void SetTimeOut(int32_t Value) noexcept { FTimeOut = Value; }
    // Status texts of a level up to this reach OnStatus (0 after construction: none).
    int32_t ReportLevel() const noexcept { return FReportLevel; }
    void SetReportLevel(int32_t Value) noexcept { FReportLevel = Value; }
    const std::string& Proxy() const noexcept { return FProxy; }
    void SetProxy(const std::string& Value) { FProxy = Value; }
    uint16_t ProxyPort() const noexcept { return FProxyPort; }
    void SetProxyPort(uint16_t Value) noexcept { FProxyPort = Value; }

    const std::string& Status() const noexcept { return FStatus; }
    const std::string& TransactionReply() const noexcept { return FTransactionReply; }
    int16_t ReplyNumber() const noexcept { return FReplyNumber; }
    bool Connected() const noexcept { return FConnected; }
    bool Canceled() const noexcept { return FCanceled; }
    bool TimedOut() const noexcept { return FTimedOut; }
    // Report "Getting LastError Number" / "Setting LastError Number".
    int32_t LastErrorNo();
    void SetLastErrorNo(int32_t Value);
    int64_t BytesSent() const noexcept { return FBytesSent; }
    int64_t BytesTotal() const noexcept { return FBytesTotal; }
    int64_t BytesRecvd() const noexcept { return FBytesRecvd; }
    // Lines describing the socket library, filled by the instance that started it.
    const TStringList& WSAInfo() const noexcept { return FWSAInfo; }
    uint16_t SocketHandle() const noexcept;
    HWND MessageWindow() const noexcept;
    const sockaddr_in& RemoteAddress() const noexcept { return FRemoteAddress; }

    bool AsyncDone() const noexcept { return FAsyncDone; }
    bool AsyncOk() const noexcept { return FAsyncOk; }

    // ---- operations
    // Listens on Port (16 bits, else ERangeError) of every local address. Each incoming
    // connection fires OnAccept (Flag false); with Flag true it sets AsyncDone and Connected and
    // fires OnDisconnect instead, for a caller that waits in Accept. A port that cannot be bound
    // raises ESockError with the error's text.
    void Listen(bool Flag);
    // Makes sure a connection is up, asking OnConnectionRequired once; Exception "Not Connected".
    void CertifyConnect();
    // Ends the current wait: the operation raises its cancel or abort report.
    void Cancel();
    // Fills the address of RemoteAddress from Proxy or Host: a dotted address directly, a name
    // through an asynchronous lookup under the time-out.
    void ResolveRemoteHost();
    // Closes the socket and, unless the component is going, opens a fresh one.
    void RequestCloseSocket();
    // Closes Socket (held by this component or handed to it) and nothing else.
    void Close(TSocketHandle& Socket);
    void TimerOn();
    void TimerOff();
    // The time-out: sets TimedOut and, through Abort, Canceled.
    void TimerFired(TObject* Sender);
    // Turns the pending socket error (unless it is Ignore, or up to 10,000) into OnError and
    // ESockError with its text. Msg is emptied when nothing is raised.
    void ErrorManager(uint16_t Ignore, std::string& Msg);
    void ErrorManager(uint16_t Ignore);
    // Records Code and reports it through OnError (with Msg, or the code's text); never raises.
    void SetWSAError(uint16_t Code, std::string Msg);
    void SocketErrorStr(uint16_t Code, std::string& Msg);
    void StatusMessage(uint8_t Level, const std::string& Text);

    std::string GetRemoteIP();
    // The first address of the local host name; empty when the name does not resolve.
    std::string GetLocalIP();
    // The socket's local address as four numbers separated by commas, and its port as
    // ",high,low" (the forms file-transfer commands use).
    std::string GetLocalAddress();
    std::string GetPortString();

    // ---- data transfer. Each waits by pumping messages and ends with EAbortError when
    // Cancel, Abort or the time-out set Canceled.
    // BufLen 0 sends up to the first zero byte. Counts above 65,535 raise ERangeError.
    void SendBuffer(const char* Value, int32_t BufLen);
    // Sends the text up to its first zero byte; 65,536 characters or more raise ERangeError.
    void Write(const std::string& Text);
    void Writeln(const std::string& Text);
    // Count bytes, waiting until that many are there; 0: whatever waits. Empty when the peer
    // has closed.
    std::string Read(int32_t Count);
    // The next line through its LF; empty when the peer has closed. A line longer than 65,536
    // bytes raises ESockError (its bytes taken so far are dropped).
    std::string ReadLn();
    void SendFile(const std::string& FileName);
    void SendStream(TStream& Stream);
    void AppendFile(const std::string& FileName);
    void CaptureFile(const std::string& FileName);
    // Size -1: what one receive delivers (Stream) or everything until the peer closes (S);
    // otherwise at least Size bytes.
    void CaptureStream(TStream& Stream, int32_t Size);
    void CaptureString(std::string& S, int32_t Size);
    // Copies header lines through the blank line that ends them; the body stays.
    void FilterHeader(TStream& Stream);
    bool DataAvailable();
    void ClearInput();

    // ---- events
    TNotifyEvent OnDisconnect;
    TNotifyEvent OnConnect;
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    TOnStatus OnStatus;
    TNotifyEvent OnConnectionFailed;
    TNotifyEvent OnPacketSent;
    THandlerEvent OnConnectionRequired;
    TOnErrorEvent OnError;
    TNotifyEvent OnPacketRecvd;
    TNotifyEvent OnDataAvailable;
    TNotifyEvent OnAccept;
    TNotifyEvent OnAfterAbort;

protected:
    static constexpr int32_t IOBufferSize = 65536;

    // OpenSocket false: the component starts without a socket, for one that is handed a socket
    // at once (a listening server's client, given its accepted connection).
    TPowersock(TComponent* AOwner, bool OpenSocket);

    // Arms the time-out for a scope and disarms it on every way out.
    class TTimerScope {
    public:
        explicit TTimerScope(TPowersock& Socket) : FSocket(Socket) { FSocket.TimerOn(); }
        ~TTimerScope()
        {
            try {
                FSocket.TimerOff();
            } catch (...) { // TimerOff itself cannot fail
            }
        }
        TTimerScope(const TTimerScope&) = delete;
        TTimerScope& operator=(const TTimerScope&) = delete;

    private:
        TPowersock& FSocket;
    };

    void InitWinsock();
    // The transfer operations' wait: PsockWait (a listening server's client waits its own way).
    virtual void WaitForNotice();
    // Accept; the accepted socket's notices go to this component's window when SelectNotices,
    // else the caller asks for them where it wants them (a listening server: its client's).
    uint16_t AcceptConnection(bool SelectNotices);
    // Whether the notification window goes back to the thread's pool of windows when the
    // component goes (true after construction) or is destroyed.
    void SetWindowRecycled(bool Value) noexcept;
    // Handles the notification window's messages from CM_SOCKETMESSAGE on.
    virtual void Wndproc(TMessage& Message);
    // Takes a socket from the system into FSocketHandle: an invalid one reports the pending
    // error, one that does not fit 16 bits is closed and refused with ERangeError.
    void TakeSocket(SOCKET Socket);
    void SelectEvents();
    // When Canceled is set: clears it, fires OnAfterAbort and raises EAbortError(Text).
    void AbortEnding(const char* Text);
    // Removes the queued notifications of Socket (only its read notifications when ReadsOnly).
    void DropNotices(SOCKET Socket, bool ReadsOnly);
    // Before a reader's first look at the socket: drops the read notices already queued.
    void DropStaleReadNotices();
    // One receive of the capture operations into IOBuffer: the bytes taken, 0 when nothing had
    // come (after a wait), -1 when the peer has closed or the socket is not connected.
    int32_t CaptureReceive();
    // One step of a capture: what came is handed to Store, counted and reported, and the time-out
    // starts again. False when the connection has ended.
    bool CapturePacket(const std::function<void(const char*, int32_t)>& Store);
    // Hands Count bytes at Data to the socket as the file and stream senders do; false when a
    // send reported 0 bytes.
    bool SendBlock(const char* Data, int32_t Count);

    // Scratch for sends, peeks and receives: 65,536 bytes and a terminating zero byte.
    std::array<char, IOBufferSize + 1> IOBuffer{};
    TStringList FWSAInfo;
    int64_t FBytesSent = 0;
    // Shared with the listening server's client threads: read there without a lock.
    std::atomic<bool> FCanceled{false};
    int32_t FLastErrorNo = 0;
    int32_t FTimeOut = 0;
    int32_t FReportLevel = 0;
    std::string FStatus;
    std::string FProxy;
    uint16_t FProxyPort = 0;
    TThreadTimer* FTimeOutTimer = nullptr; // owned (a child component)
    std::atomic<bool> FAsyncOk{true};
    std::atomic<bool> FTimedOut{false};
    int32_t FPort = 0;
    int64_t FBytesTotal = 0;
    int64_t FBytesRecvd = 0;
    std::atomic<bool> FAsyncDone{false};
    WSADATA FWSAData{};
    sockaddr_in FRemoteAddress{};
    std::string FHost;
    std::string FTransactionReply;
    int16_t FReplyNumber = 0;
    TSocketHandle FSocketHandle;
    std::atomic<bool> FConnected{false};

private:
    class TPsockWindow;
    // What the system may use until a lookup completes: the name and the buffer for its entry.
    struct TLookupBuffer {
        std::array<char, 1024> Entry;
        std::string Name;
    };
    // Fills the address from the host entry of the finished lookup; false when the entry holds
    // no IPv4 address inside the buffer.
    bool TakeLookupAddress();
    void LookupFinished(HANDLE Task) noexcept;

    // The timer's OnTimer: fires the time-out once the deadline has passed.
    void TimerTick();

    // Sets the system timer for a count that runs (on the component's thread).
    void ArmTimer();

    std::unique_ptr<TPsockWindow> FMessageWindow;
    bool FOpenSocket = true;
    // The thread that made the component and owns its windows and timer.
    DWORD FWindowThread = 0;
    // The count is also started and stopped by a listening server's client thread, while the
    // ticks arrive on the component's thread.
    std::atomic<bool> FTimerOn{false};
    std::atomic<int32_t> FTimerTimeOut{0};
    std::atomic<std::chrono::steady_clock::rep> FDeadline{0};
    // The host entry of the running lookup is written here by the system. A lookup given up
    // (time-out, cancel) may still write into its buffer later, so that buffer is kept until its
    // completion arrives; lookups still open when the component goes leave theirs behind.
    std::unique_ptr<TLookupBuffer> FHostEntryBuffer;
    HANDLE FLookupTask = nullptr;
    std::vector<std::pair<HANDLE, std::unique_ptr<TLookupBuffer>>> FAbandonedLookups;
};

// ---------------------------------------------------------------------------------------------
// The listening server.

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
// the GUI thread: their windows and timers belong to it, so a connection's notices and time-outs
// arrive there while Serve runs on the client thread. When Serve returns, the client thread
// posts the instance back to the listening server's window, where the GUI thread removes it from
// ClientList and frees it (its windows, timer and socket), and the thread frees itself; what is
// still listed when the server goes is cancelled, waited for and freed by its destructor.
//
// From Serve, on the client thread, an instance may use: the transfer operations (ReadLn,
// Writeln, Read, Write, SendBuffer, Transaction, the file, stream and string transfers,
// DataAvailable, ClearInput), Cancel, TimeOut (a count armed there is set by the GUI thread), the
// flags (Canceled, Connected, TimedOut, AsyncDone), RemoteAddress and GetRemoteIP. Their waits
// sleep on the client thread's queue, which the GUI thread wakes at a notice of the connection
// that finds them asleep; their pump dispatches that thread's own messages only (it owns no
// window), which asks nothing of the GUI thread. Not from Serve: Connect, Disconnect, RequestCloseSocket, Listen, Accept,
// ResolveRemoteHost: they replace or close the socket the GUI thread's notices are matched
// against. To end the connection, return from Serve. Keep ReportLevel at 0 (as constructed) on a
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
    // waits are cancelled.
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
    // The thread that runs Serve; it frees itself once Serve has returned.
    InstantiateServethread* ServeThread() const noexcept { return FServeThread; }

    TNotifyEvent OnClientContact;

protected:
    // The instance of the server's own class for one client, owned by AOwner (the listening
    // server). Every class that serves differently provides it; TNMServer<T> does.
    virtual TNMGeneralServer* CreateClient(TComponent* AOwner);
    void Wndproc(TMessage& Message) override;
    // On the client thread, a wait sleeps only when no notice of the connection has come since
    // its last wait (else the caller looks again at once), and says so first: the GUI thread
    // wakes a sleeping client thread only, which spares it a post for most notices.
    void WaitForNotice() override;

private:
    friend class InstantiateServethread;
    // A client's Serve has returned: frees the instance, when it is still listed.
    void ClientDone(TNMGeneralServer* Client);
    // Unlists and frees a client whose Serve has returned.
    void FreeClient(TNMGeneralServer* Client);
    // Wakes the client thread's wait after a notice of its connection.
    void WakeServeThread() noexcept;

    std::unique_ptr<TServerClientList> FClientList;
    TNMGeneralServer* FListeningServer = nullptr;
    InstantiateServethread* FServeThread = nullptr;
    std::atomic<DWORD> FServeThreadId{0};
    // Notices of the connection handled on the GUI thread; the count the client thread saw at
    // the end of its last wait; whether it sleeps.
    std::atomic<uint32_t> FNotices{0};
    uint32_t FNoticesSeen = 0;
    std::atomic<bool> FServeAsleep{false};
    // Set by the client thread once Serve has returned and it touches the instance no more.
    std::atomic<bool> FServeDone{false};
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
    // Makes the instance for Socket (taken over, closed on failure), lists it and starts the
    // thread. Raises when the instance cannot be made; nothing is left running then.
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
