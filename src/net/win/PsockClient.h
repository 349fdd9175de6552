// The stream-socket component: a TCP client for the GUI thread whose calls look blocking. They
// wait by pumping the thread's message loop, so the program's other handlers (a cancel button)
// run during a wait, while the socket library reports connects, arrivals and closes as messages
// to the component's hidden window. Win32 (Windows Sockets 1.1).
//
// Every operation that waits on the peer ends: by its time-out (TimeOut, when not 0), by the
// peer's close or reset, or by Cancel / Abort. Waits sleep until a message arrives for the
// thread or the time-out's deadline passes; nothing polls. Every byte of the connection passes
// one receive step and one send step.
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
#include "net/win/PsockChannel.h"
#include "net/win/PsockDeadline.h"
#include "net/win/PsockLookup.h"
#include "net/win/PsockTimer.h"
#include "net/win/PsockWaiter.h"
#include "net/win/Tls.h"

// The notification window's private messages: socket events (the event in the low word of
// lParam, its error code in the high word, the socket in wParam), and lookup completions (the
// lookup's task handle in wParam) or, after a listen that asks for them, accept events.
constexpr UINT CM_SOCKETMESSAGE = 0x465;
constexpr UINT CM_LOOKUPMESSAGE = 0x466;
// The socket events the component asks for: read, out-of-band, accept, connect and close, and
// write, which says when a socket that would not take more data takes it again (a send that
// waits sleeps until then instead of looking again and again).
constexpr long PsockSelectEvents = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
// The socket handle value that means "no socket".
constexpr uint16_t NoSocket = 0xFFFF;
// The error a non-blocking call gives when it would have to wait: never a failure.
constexpr uint16_t WouldBlock = WSAEWOULDBLOCK;

// Sleeps until a message arrives for this thread or MaxMs passes, then dispatches every pending
// message of the thread (through the application on its thread). For code that waits on a
// component from outside (tests, a program's own loop); the components wait on their own.
void PsockWait(DWORD MaxMs = INFINITE);

using TOnStatus = std::function<void(TComponent* Sender, const std::string& Status)>;
using TOnErrorEvent = std::function<void(TComponent* Sender, uint16_t Errno, const std::string& Errmsg)>;
using TOnHostResolved = std::function<void(TComponent* Sender)>;

// Instances that have started the socket library; the first starts it, the last stops it.
extern std::atomic<int32_t> WinsockUsers;

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
    // Waits until a connection has been reported or Cancel, and takes it: the new socket, owned
    // its holder, and registered for this component's notifications (a 16-bit handle);
    // RemoteAddress holds the peer. ESockError "Accepting Canceled" (Canceled stays set), "Error
    // creating Data Connection" when the report carried an error or nothing waits. AsyncDone is
    // cleared again, so the next Accept waits for the next report. Connect, Disconnect, Listen
    // and Accept run on the component's own thread only (ESockError elsewhere).
    virtual TSocketHandle Accept();
    // Resolves Proxy or Host and connects; returns when connected, else raises (OnConnect has
    // fired from the notification during the wait): "Connection Failed", "... Timed out",
    // "... Canceled", or "Connection closed by the peer" when it closed as it accepted. The socket of an earlier attempt that
    // failed is replaced by a fresh one first.
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
    // Status texts of a level up to this reach OnStatus (0 after construction: none), on the
    // component's own thread: those of a listening server's client thread (in Serve) are not given.
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
    // 64 bits: a counter of 32 would wrap after 2 GiB of a long transfer.
    int64_t BytesSent() const noexcept { return FChannel.BytesSent; }
    int64_t BytesTotal() const noexcept { return FChannel.BytesTotal; }
    int64_t BytesRecvd() const noexcept { return FChannel.BytesRecvd; }
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
    // Ends the current wait, from any thread: the operation raises its cancel or abort report.
    void Cancel();
    // Puts TLS under the connected socket: drops whatever the peer sent before (it answers
    // nothing asked), makes the handshake within the time-out and verifies the peer's
    // certificate (Settings). From then on every operation reads and writes through it, with the
    // same waits, time-outs, Cancel and counts (of the application's bytes), until the
    // connection closes. A failed handshake raises ETlsError (trTimedOut for the time-out;
    // EAbortError "TLS handshake aborted" for Cancel) and closes the connection; so does any
    // later failure of the session, before its ETlsError leaves the operation.
    void StartTls(const TTlsSettings& Settings);
    // Whether the connection goes through TLS.
    bool Secured() const noexcept { return FChannel.Secured(); }

    std::string GetRemoteIP();
    // The first address of the local host name; empty when the name does not resolve.
    std::string GetLocalIP();
    // The socket's local address as four numbers separated by commas, and its port as
    // ",high,low" (the forms file-transfer commands use).
    std::string GetLocalAddress();
    std::string GetPortString();

    // ---- data transfer. Each ends with EAbortError when Cancel, Abort or the time-out set
    // Canceled. ReadLn, Read, SendBuffer (Write, Writeln) and the captures are bounded by the
    // time-out as a whole; the senders of files and streams and AppendFile, whose transfers may
    // rightly take long, by the time-out without progress.
    // BufLen 0 sends up to the first zero byte. Counts above 65,535 raise ERangeError.
    void SendBuffer(const char* Value, int32_t BufLen);
    // Sends the text up to its first zero byte; 65,536 characters or more raise ERangeError.
    void Write(const std::string& Text);
    void Writeln(const std::string& Text);
    // Count bytes, taken as they arrive until that many are there, or fewer when the peer closes
    // first; 0: whatever waits now, at most 65,536 bytes.
    std::string Read(int32_t Count);
    // The next line through its LF; empty when the peer has closed. A line longer than 65,536
    // bytes raises ESockError (its bytes taken so far are dropped).
    std::string ReadLn();
    void SendFile(const std::string& FileName);
    void SendStream(TStream& Stream);
    // Appends what arrives to the file until the peer closes.
    void AppendFile(const std::string& FileName);
    void CaptureFile(const std::string& FileName);
    // Size -1: what one receive delivers (Stream) or everything until the peer closes (S);
    // otherwise at least Size bytes.
    void CaptureStream(TStream& Stream, int32_t Size);
    void CaptureString(std::string& S, int32_t Size);
    // Copies header lines through the blank line that ends them; the body stays.
    void FilterHeader(TStream& Stream);
    bool DataAvailable();
    // Drops up to 65,536 bytes that wait to be read.
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
    static constexpr int32_t IOBufferSize = PsockBufferSize;

    // A component on a connection accepted elsewhere (a listening server's client): it opens no
    // socket of its own; Accepted is connected and reports to this component's window from here
    // on. A peer's end only marks it not Connected and fires OnDisconnect on the window thread:
    // the socket stays until the component goes, so that a read sees the end of the data. (An
    // empty holder makes the component of the public constructor.)
    TPowersock(TComponent* AOwner, TSocketHandle Accepted);
    // Accept, but the accepted socket's notices are left for the caller to ask for where it
    // wants them (a listening server: at its client's window, at once).
    TSocketHandle TakeConnection();

    // Arms the time-out for a scope and disarms it on every way out. Scopes nest: the time-out
    // runs from the outermost one, so an operation made of several (a reply of several lines)
    // is bounded as a whole.
    class TTimerScope {
    public:
        explicit TTimerScope(TPowersock& Socket);
        ~TTimerScope();
        TTimerScope(const TTimerScope&) = delete;
        TTimerScope& operator=(const TTimerScope&) = delete;

    private:
        TPowersock& FSocket;
    };

    // ---- reports
    // Turns the pending socket error (unless it is Ignore, or up to 10,000) into OnError and
    // ESockError with its text. Msg is emptied when nothing is raised.
    void ErrorManager(uint16_t Ignore, std::string& Msg);
    void ErrorManager(uint16_t Ignore);
    // Records Code and reports it through OnError (with Msg, or the code's text); never raises.
    void SetWSAError(uint16_t Code, std::string Msg);
    void SocketErrorStr(uint16_t Code, std::string& Msg);
    void StatusMessage(uint8_t Level, const std::string& Text);
    // The time-out: sets TimedOut and AsyncDone and, through Abort, Canceled.
    void TimerFired(TObject* Sender);
    // Closes Socket (held by this component or handed to it) and nothing else.
    void Close(TSocketHandle& Socket);

    // The flags a wait looks at may be set by another thread (Cancel, a listening server's GUI
    // thread handling its client's notices).
    std::atomic<bool> FCanceled{false};
    std::atomic<bool> FAsyncDone{false};
    sockaddr_in FRemoteAddress{};

private:
    class TPsockWindow;
    // The operations that wait on the peer, each a row of one table (PsockTransfer.cpp): its
    // status text, its abort text and whether its progress restarts the time-out.
    enum class TOperation : uint8_t { SendBuffer, SendFile, SendStream, Read, ReadLn, AppendFile, CaptureFile, CaptureStream, CaptureString, StartTls };

    // ---- start-up, closing, reports
    // Starts the library for this instance and takes Accepted, or opens a socket of its own when
    // it holds none.
    void InitWinsock(TSocketHandle Accepted);
    // Takes a socket from the system: an invalid one reports the pending error, one that does
    // not fit 16 bits is closed and refused with ERangeError.
    void TakeSocket(SOCKET Socket);
    // Asks for the socket's notices at this component's window.
    bool SelectEvents() noexcept;
    // Fills the address of RemoteAddress from Proxy or Host: a dotted address directly, a name
    // through an asynchronous lookup under the time-out.
    void ResolveRemoteHost();
    // Closes the socket of a failed connect attempt and takes a fresh one, firing nothing.
    void RenewSocket();
    // Closes the socket and, unless the component is going, opens a fresh one.
    void RequestCloseSocket();
    // The peer ended the connection: closed, and a fresh socket opened (an accepted connection is
    // only marked ended).
    void PeerClosed();
    // Raises ESockError unless the caller runs on the thread that made the component (and owns
    // its windows and timer): What replaces or closes the socket its notices are matched against.
    void RequireWindowThread(const char* What) const;
    bool IsWindowThread() const noexcept { return GetCurrentThreadId() == FWindowThread; }
    // Raises ESockError (after OnError) for Code, as ErrorManager does for the pending error.
    [[noreturn]] void RaiseSocketError(int Code);

    // ---- the time-out and the one wait
    void TimerOn();
    void TimerOff();
    // Calls Done until it returns true, sleeping in between until a message arrives for the
    // thread or the time-out's deadline passes. False when Canceled ends it first (a time-out
    // sets it, but on a listening server's instance). Done is called before the first sleep.
    bool WaitUntil(const std::function<bool()>& Done);
    // What changes what a wait looks at (a notice, Cancel) calls this, from any thread.
    void WakeWaiter() noexcept { FWaiter.Wake(); }

    // ---- the operations
    // Runs Body as Operation: its status text, the time-out around it and, unless Body returns
    // false, the abort ending after it.
    void Run(TOperation Operation, const std::function<bool()>& Body);
    // When Canceled is set: clears it, fires OnAfterAbort and raises EAbortError(Text).
    void AbortEnding(const char* Text);
    // Hands Count bytes to the connection, waiting while it takes none; the file and stream
    // senders count each piece as progress (Counted). False when a send reported 0 bytes. Ends
    // early on Canceled.
    bool SendBlock(const char* Data, int32_t Count, bool Counted);
    // A transfer moved Count bytes: counted, the time-out kept or started again as the running
    // operation's row says, Event fired, the thread's messages pumped. True when Canceled.
    bool Progressed(int32_t Count, int64_t& Counter, const TNotifyEvent& Event);
    // One receive of a capture: its bytes handed to Store and counted as progress. The count; 0
    // when nothing had come, -1 when the connection has ended.
    int32_t CapturePacket(const std::function<void(const char*, int32_t)>& Store);
    // Before a reader's first look at the socket: drops the read notices already queued.
    void DropStaleReadNotices();
    // Removes the queued notifications of Socket (only its read notifications when ReadsOnly).
    void DropNotices(SOCKET Socket, bool ReadsOnly);
    // The TLS handshake under way failed or was given up: forgotten, and the connection closed.
    void HandshakeFailed();

    // ---- notices: the notification window's messages from CM_SOCKETMESSAGE on
    void Wndproc(TMessage& Message);

    // Scratch for sends, peeks and receives: 65,536 bytes and a terminating zero byte.
    std::array<char, IOBufferSize + 1> IOBuffer{};
    TStringList FWSAInfo;
    std::atomic<int32_t> FLastErrorNo{0};
    int32_t FTimeOut = 0;
    int32_t FReportLevel = 0;
    std::string FStatus;
    std::string FProxy;
    uint16_t FProxyPort = 0;
    int32_t FPort = 0;
    std::string FHost;
    std::string FTransactionReply;
    int16_t FReplyNumber = 0;
    TSocketHandle FSocketHandle;
    // The thread that made the component and owns its windows and timer.
    DWORD FWindowThread = GetCurrentThreadId();
    // On a connection accepted elsewhere (see the constructor).
    bool FAccepted = false;
    // Set by a connect attempt on the current socket; a socket once refused connects no more.
    bool FConnectTried = false;
    // The running attempt's connect notice came (a close handled in its pump may follow it).
    std::atomic<bool> FConnectSeen{false};
    std::atomic<bool> FTimedOut{false};
    std::atomic<bool> FAsyncOk{true};
    std::atomic<bool> FConnected{false};
    // The jobs: the time-out, the wait, the lookups, the bytes of the connection.
    TPsockDeadline FDeadline;
    TPsockWaiter FWaiter;
    TPsockLookup FLookup;
    TPsockChannel FChannel;
    // Declared last: the window goes first, after the socket has been closed.
    std::unique_ptr<TPsockWindow> FMessageWindow;
};
