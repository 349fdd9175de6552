// A TLS client session over the system's SChannel (SSPI), driven by bytes: it never touches a
// socket. The caller sends what it returns and feeds it what arrives; the socket layer puts it
// under its receive and send steps.
//
//   TTlsClient tls({"mail.example.com", ""});
//   send(tls.Start());
//   while (!tls.Handshake(out)) { send(out); tls.Feed(recv()); }   // out: bytes to send
//   send(out);
//   send(tls.Encrypt("EHLO ...")); tls.Feed(recv()); plain += tls.Decrypt();
//   send(tls.Shutdown());
//
// TLS 1.2 is offered and nothing older is accepted (TLS 1.3: see Tls.cpp). The server's
// certificate must chain to a trusted root (the one extra authority of the settings, the
// system's roots, or both: see TTlsSettings), be within its validity period and name the server
// (a DNS name, or the IP address when ServerName is an address). Revocation is not checked (it
// would fetch lists from the network in the middle of a handshake).
//
// The floor of strength, checked on the negotiated session whatever SChannel was asked for: a
// suite with an ephemeral (EC)DH key exchange and an AEAD cipher of 128 bits or more; no
// certificate of the chain (leaf, intermediates) signed with MD5 or SHA-1 or anything but
// SHA-2 with RSA, RSA-PSS or ECDSA; every key of the chain RSA of 2048 bits or more or EC of
// 256 bits or more. After the handshake, the session takes only records of the alert,
// handshake and application types; a renegotiation is refused.
#pragma once

#include "toolkit/Classes.h"
#include "toolkit/win/Handles.h"

#include <string>
#include <string_view>

struct TTlsSettings {
    // The host name (sent as SNI) or IP address (never sent; RFC 6066 forbids addresses in SNI)
    // that the certificate must name.
    std::string ServerName;
    // One certificate authority in PEM; empty: none.
    std::string ExtraAuthority;
    // With an ExtraAuthority: whether the system's roots are trusted too (false: that authority
    // is the only root). Without one the system's roots are the only ones, whatever this says.
    bool TrustSystemRoots = false;
};

// A TLS failure, with a message for a user's status line.
class ETlsError : public Exception {
public:
    enum TReason {
        trUntrustedAuthority, // the chain ends at no trusted root
        trExpired,            // a certificate of the chain is expired or not yet valid
        trWrongHost,          // the certificate names another host
        trHandshake,          // no common protocol version or cipher, or a broken handshake
        trWeakCertificate,    // a certificate of the chain is signed or keyed below the floor
        trWeakSuite,          // the negotiated suite has no forward secrecy or no AEAD cipher
        trTimedOut,           // the handshake did not end within the connection's time-out
        trSession,            // after the handshake: a record that is no TLS, altered or refused
        trOther               // anything else; the message holds the status in hex
    };
    ETlsError(TReason Reason, long Status, std::string Message);
    TReason Reason() const noexcept { return FReason; }
    // The SSPI or certificate-policy status that caused it.
    long Status() const noexcept { return FStatus; }

private:
    TReason FReason;
    long FStatus;
};

class TTlsClient {
public:
    // Acquires the credentials; raises ETlsError (trOther) when the extra authority is no PEM
    // certificate or SChannel refuses the credentials.
    explicit TTlsClient(TTlsSettings Settings);
    TTlsClient(const TTlsClient&) = delete;
    TTlsClient& operator=(const TTlsClient&) = delete;

    // The first bytes of the handshake (the client's hello).
    std::string Start();
    // Bytes received from the server; kept until a Handshake or Decrypt uses them.
    void Feed(std::string_view Received);
    // One handshake step over what was fed: appends the bytes to send to Send and returns true
    // once the handshake is complete and the certificate verified (send Send even then). Bytes
    // that follow the handshake's last message stay for Decrypt.
    bool Handshake(std::string& Send);
    bool Established() const noexcept { return FEstablished; }

    // Records of Plain (each at most the session's largest record), ready to send.
    std::string Encrypt(std::string_view Plain);
    // The plaintext of every complete record fed so far; a partial record stays for later.
    std::string Decrypt();
    // The server has sent close_notify; Decrypt gives nothing more.
    bool PeerClosed() const noexcept { return FPeerClosed; }
    // The close_notify to send; the session sends nothing after it.
    std::string Shutdown();

private:
    // One InitializeSecurityContext call over Input (none: the first call, or the shutdown's):
    // its status, what it left of Input (SECBUFFER_EXTRA) and its reply.
    std::string Step(const std::string_view* Input, SecBuffer* Extra, long& Status);
    // The negotiated protocol and suite against the floor (TlsVerify.cpp).
    void VerifyConnection();
    // The server's chain: trust, validity, name and strength (TlsVerify.cpp).
    void VerifyServerCertificate();
    std::string_view Pending() const noexcept { return std::string_view(FIn).substr(FInStart); }
    // Drops what a call used of Pending(), given how many bytes at its end it left (SECBUFFER_EXTRA).
    void Consumed(unsigned long Left) noexcept { FInStart = FIn.size() - Left; }

    TTlsSettings FSettings;
    std::string FAddress; // ServerName as an address (4 or 16 bytes); empty for a host name
    TCertContext FAuthority;
    TCredentials FCredentials;
    TSecurityContext FContext;
    // Received bytes not used yet: FIn from FInStart on (compacted when more arrives, so a feed
    // of many records is moved once, not once per record).
    std::string FIn;
    std::size_t FInStart = 0;
    unsigned long FHeader = 0, FTrailer = 0, FMaxMessage = 0;
    bool FEstablished = false, FPeerClosed = false, FShutdown = false;
};
