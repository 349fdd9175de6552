// The bytes of a socket component's connection: the receive step and the send step, which every
// byte passes, TLS beneath them once it has been started, and the counts of a transfer. Win32
// (Windows Sockets 1.1).
#pragma once

#include "toolkit/win/Win.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/win/Handles.h"
#include "net/win/Tls.h"

// What a look at the connection found, besides a count of bytes (> 0).
constexpr int32_t InputClosed = 0;        // the peer has ended the connection
constexpr int32_t InputNone = -1;         // nothing has come (yet)
constexpr int32_t InputNotConnected = -2; // the socket is not connected (LastErrorNo 10057)

class TPsockChannel {
public:
    // What the channel tells the component it carries bytes for.
    struct THooks {
        // The connection has ended (closed, reset, or its TLS session failed).
        std::function<void()> Ended;
        // A socket error: records and reports it, then raises ESockError.
        std::function<void(int Error)> Failed;
    };
    // Socket is the component's, read at every step (it is replaced after a close).
    TPsockChannel(const TSocketHandle& Socket, std::atomic<int32_t>& LastError, THooks Hooks);

    // Copies up to Max waiting bytes to Into, leaving them waiting (Peek) or taking them. A
    // connection that ended (closed or reset) is acted on here (Ended) and reported as
    // InputClosed, or, for a reset, raised as the socket error it is unless Quiet; any other
    // socket error is raised too, unless Quiet (then InputNone).
    int32_t Receive(char* Into, int32_t Max, bool Peek, bool Quiet = false);
    // Hands up to Count bytes to the connection: the count taken (0 only when the system says
    // so), or -1 when it takes nothing now. A connection that ended is acted on (Ended) before
    // its socket error is raised. Through TLS, what it takes may not all be on the wire yet:
    // SendPending says when it is.
    int32_t Send(const char* Data, int32_t Count);
    // Sends what TLS has made of the bytes taken and not yet sent; true when nothing is left.
    bool SendPending();
    // Drops whatever the socket holds now, beneath TLS (before a handshake).
    void DropWaiting();

    // ---- TLS
    bool Secured() const noexcept { return FTls != nullptr; }
    // Starts a handshake with Settings on the plain connection.
    void BeginTls(const TTlsSettings& Settings);
    // Moves the handshake on as far as the socket lets it: true when it is complete, false when
    // it waits for the socket (to take more, or to bring the server's next message). ETlsError
    // when it fails or the server ends the connection.
    bool Handshake();
    // The complete handshake's session carries the connection from here on.
    void CompleteTls();
    // Forgets the handshake and whatever it had not sent.
    void DropHandshake() noexcept;
    // Ends TLS on a socket that is closing: the close_notify when Connected and the socket takes
    // it now. The connection is plain again.
    void EndTls(bool Connected) noexcept;
    // A new socket starts plain. A handshake under way keeps its session (it fails at its next
    // step, on the socket that is not connected).
    void Reset() noexcept;

    // The counts of the running transfer, 64 bits: a counter of 32 would wrap after 2 GiB.
    int64_t BytesSent = 0;
    int64_t BytesTotal = 0;
    int64_t BytesRecvd = 0;

private:
    int32_t ReceiveRaw(char* Into, int32_t Max, bool Peek, bool Quiet);
    int32_t SendRaw(const char* Data, int32_t Count);
    // The session failed: the connection ends as at a peer's close, without a close_notify.
    void TlsFailed();

    const TSocketHandle& FSocket;
    std::atomic<int32_t>& FLastError;
    THooks FHooks;
    // The session, what it decrypted and nobody read yet (TLS reads whole records, so the
    // channel holds what follows a line), what it encrypted and the socket did not take yet, and
    // room for what the socket gives.
    std::unique_ptr<TTlsClient> FTls;
    std::unique_ptr<TTlsClient> FHandshake;
    bool FHandshakeDone = false;
    std::string FPlain;
    std::string FRawOut;
    std::vector<char> FRawIn;
};
