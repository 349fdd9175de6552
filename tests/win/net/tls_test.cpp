// The TLS engine under Wine over plain blocking sockets, against the TLS peer
// (tests/peers/tls_peer.py): each row connects to one of its listeners with one set of settings.
// The system's roots hold the test certificates' "system" authority (the test runs under
// tests/peers/with_system_root.sh).
#include <gtest/gtest.h>

#include "toolkit/win/Win.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <utility>

#include "net/win/Tls.h"
#include "toolkit/win/Handles.h"
#include "Loopback.h"

namespace {

std::string PeerFile(const std::string& Name)
{
    std::string path = std::string("Z:") + std::getenv("TLS_PEER_DIR") + "/" + Name;
    std::replace(path.begin(), path.end(), '/', '\\');
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A connection to a listener of the peer whose reads give up after 20 s.
TSocketHandle Connect(const std::string& Listener)
{
    const std::string ports = "\n" + PeerFile("peer.ports");
    sockaddr_in a = LoopbackAddress(std::atoi(ports.c_str() + ports.find("\n" + Listener + " ") + Listener.size() + 2));
    TSocketHandle s(socket(AF_INET, SOCK_STREAM, 0));
    const DWORD timeout = 20000;
    setsockopt(s.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    EXPECT_EQ(connect(s.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return s;
}

// A blocking send returns once all is sent.
void SendAll(SOCKET S, const std::string& Bytes)
{
    EXPECT_EQ(send(S, Bytes.data(), static_cast<int>(Bytes.size()), 0), static_cast<int>(Bytes.size()));
}

// Up to Size bytes; with Gather, once the peer has been quiet for a moment, so that one read
// takes all it sent in one go. Throws on the peer's close or silence.
std::string Receive(SOCKET S, int Size = 65536, bool Gather = false)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(S, &readable);
    timeval limit{20, 0};
    if (Gather && select(0, &readable, nullptr, nullptr, &limit) == 1) Sleep(200);
    std::string bytes(static_cast<std::size_t>(Size), '\0');
    const int n = recv(S, bytes.data(), Size, 0);
    if (n <= 0) throw Exception(n == 0 ? "the peer closed the connection" : "no answer from the peer");
    return bytes.substr(0, static_cast<std::size_t>(n));
}

struct TRow {
    const char* Listener;
    const char* ServerName;
    const char* Authority; // "ca": the test authority's PEM; "": none; else the text given
    int ReadSize;          // bytes a read takes at most during the handshake
    bool Gather;           // each handshake read waits until the server's flight is all there
    int Reason;            // -1: the handshake completes; else the ETlsError reason
    const char* Says;      // what the error's message says
    const char* Sni;       // the server name the server received ("-": none; "": no connection)
    bool SystemRoots = false; // trusted beside the authority
};

TEST(TlsClient, TableOfPeers)
{
    WSADATA started;
    WSAStartup(0x0202, &started);
    const std::string ca = PeerFile("certs/ca.pem");
    const char* const untrusted = "not from a trusted certificate authority";
    const TRow rows[] = {
        {"modern", "127.0.0.1", "ca", 65536, false, -1, "", "-"},
        {"modern", "localhost", "ca", 65536, false, -1, "", "localhost"},
        {"tls12", "localhost", "ca", 65536, true, -1, "", "localhost"},
        {"tls12", "127.0.0.1", "ca", 7, false, -1, "", "-"},
        {"modern", "localhost", "", 65536, false, ETlsError::trUntrustedAuthority, untrusted, "localhost"},
        {"rogue", "localhost", "ca", 65536, false, ETlsError::trUntrustedAuthority, untrusted, "localhost"},
        {"expired", "localhost", "ca", 65536, false, ETlsError::trExpired, "has expired or is not yet valid", "localhost"},
        {"other", "localhost", "ca", 65536, false, ETlsError::trWrongHost, "for another host than localhost", "localhost"},
        {"modern", "127.0.0.2", "ca", 65536, false, ETlsError::trWrongHost, "for another host than 127.0.0.2", "-"},
        {"tls11", "localhost", "ca", 65536, false, ETlsError::trHandshake, "no TLS 1.2", "localhost"},
        {"tls13", "localhost", "ca", 65536, false, ETlsError::trHandshake, "no TLS 1.2", "-"},
        {"plain", "localhost", "ca", 65536, false, ETlsError::trHandshake, "does not answer in TLS", "-"},
        {"modern", "localhost", "-----BEGIN CERTIFICATE-----\nnot base64\n-----END CERTIFICATE-----\n", 65536, false,
         ETlsError::trOther, "no PEM certificate", ""},
        // Below the floor: refused before anything but the handshake is sent.
        {"sha1-leaf", "localhost", "ca", 65536, false, ETlsError::trWeakCertificate, "certificate is signed with SHA-1", "localhost"},
        {"sha1-inter", "localhost", "ca", 65536, false, ETlsError::trWeakCertificate, "an intermediate certificate is signed with SHA-1",
         "localhost"},
        {"rsa1024-leaf", "localhost", "ca", 65536, false, ETlsError::trWeakCertificate,
         "the server's certificate has a 1024-bit RSA key", "localhost"},
        {"rsa1024-inter", "localhost", "ca", 65536, false, ETlsError::trWeakCertificate,
         "an intermediate certificate has a 1024-bit RSA key", "localhost"},
        // GnuTLS offers no P-192: no handshake at all.
        {"p192-leaf", "localhost", "ca", 65536, false, ETlsError::trHandshake, "no TLS 1.2", "localhost"},
        {"p192-inter", "localhost", "ca", 65536, false, ETlsError::trWeakCertificate, "an intermediate certificate has a 192-bit EC key",
         "localhost"},
        {"rsa-kx", "localhost", "ca", 65536, false, ETlsError::trWeakSuite, "has no forward secrecy (an RSA key exchange)",
         "localhost"},
        {"cbc", "localhost", "ca", 65536, false, ETlsError::trWeakSuite, "has no AEAD cipher", "localhost"},
        {"garbage", "localhost", "ca", 65536, true, ETlsError::trSession, "no TLS record after the handshake", "localhost"},
        // A root of the system's store (tests/peers/with_system_root.sh): not trusted beside the
        // embedded authority unless asked.
        {"system", "localhost", "ca", 65536, false, ETlsError::trUntrustedAuthority, untrusted, "localhost"},
        {"system", "localhost", "ca", 65536, false, -1, "", "localhost", true},
    };
    double first = 0, fastest = 1e9;
    for (const TRow& row : rows) {
        SCOPED_TRACE(std::string(row.Listener) + " as " + row.ServerName + (*row.Authority ? " with an authority" : ""));
        std::size_t sent = 0;
        try {
            TTlsClient tls({row.ServerName, row.Authority == std::string("ca") ? ca : row.Authority, row.SystemRoots});
            const TSocketHandle s = Connect(row.Listener);
            const auto begun = std::chrono::steady_clock::now();
            SendAll(s.Get(), tls.Start());
            std::string out;
            while (!tls.Handshake(out)) {
                SendAll(s.Get(), std::exchange(out, {}));
                tls.Feed(Receive(s.Get(), row.ReadSize, row.Gather));
            }
            SendAll(s.Get(), out);
            const double took = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begun).count();
            if (first == 0) first = took;
            else fastest = std::min(fastest, took);
            // The server's first line; with the whole last flight in one read, it came with it.
            std::string echo = tls.Decrypt();
            EXPECT_TRUE(!row.Gather || echo == "ready TLSv1.2\n") << echo;
            const auto receiveUntil = [&](std::size_t Size) {
                while (echo.size() < Size) {
                    tls.Feed(Receive(s.Get()));
                    echo += tls.Decrypt();
                }
            };
            receiveUntil(14);
            EXPECT_EQ(echo, "ready TLSv1.2\n");
            std::mt19937 random(20261209);
            for (const std::size_t size : {std::size_t{1}, std::size_t{16385}, std::size_t{1} << 20}) {
                std::string data(size, '\0');
                for (char& c : data) c = static_cast<char>(random());
                echo.clear();
                for (std::size_t at = 0; at < size; at += 65536) {
                    const std::string_view part = std::string_view(data).substr(at, 65536);
                    SendAll(s.Get(), tls.Encrypt(part));
                    sent += part.size();
                    receiveUntil(at + part.size());
                }
                EXPECT_TRUE(echo == data) << size << " bytes sent, " << echo.size() << " came back";
            }
            SendAll(s.Get(), tls.Shutdown());
            for (echo.clear(); !tls.PeerClosed(); echo += tls.Decrypt()) tls.Feed(Receive(s.Get()));
            EXPECT_EQ(echo, "");
            EXPECT_EQ(row.Reason, -1);
        } catch (const ETlsError& e) {
            EXPECT_EQ(e.Reason(), row.Reason) << e.what();
            EXPECT_NE(std::string(e.what()).find(row.Says), std::string::npos) << e.what();
        }
        // Every application byte the client sent reached the server (none after a refusal).
        if (*row.Sni) {
            const TSocketHandle control = Connect("control");
            SendAll(control.Get(), std::string("STATS ") + row.Listener + "\n");
            const std::string stats = Receive(control.Get());
            long long bytes = -1;
            char sni[64] = {};
            EXPECT_EQ(std::sscanf(stats.c_str(), "OK %*d %*d %lld %63s", &bytes, sni), 2) << stats;
            EXPECT_EQ(bytes, static_cast<long long>(sent));
            EXPECT_STREQ(sni, row.Sni);
        }
    }
    std::printf("TLS 1.2 handshake with the loopback peer: %.1f ms the first (Wine loads GnuTLS and the system's roots), "
                "%.1f ms at best after\n", first, fastest);
}

} // namespace
