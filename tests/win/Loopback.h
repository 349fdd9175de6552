// Plain blocking sockets on 127.0.0.1: the peers and yardsticks of the socket-layer tests and
// benchmarks. Whoever gets a socket from here closes it.
#pragma once

#include "toolkit/win/Win.h"

inline sockaddr_in LoopbackAddress(int Port = 0)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<u_short>(Port));
    return a;
}

inline int LocalPort(SOCKET Socket)
{
    sockaddr_in a{};
    int length = sizeof a;
    getsockname(Socket, reinterpret_cast<sockaddr*>(&a), &length);
    return ntohs(a.sin_port);
}

// Listening on a port the system picks, given back in Port.
inline SOCKET ListenOnLoopback(int Backlog, int& Port)
{
    const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = LoopbackAddress();
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(s, Backlog);
    Port = LocalPort(s);
    return s;
}
