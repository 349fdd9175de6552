// The listening server under Wine, against 50 client threads on loopback, each connecting again
// and again: connect, one line, its answer, close.
//
// Clients served per second by an echo server of the socket layer (its accepts on the GUI
// thread, a thread per client), against a plain blocking Winsock echo server with a thread per
// client, in alternating pairs of rounds (median ratio). Then the process's handles after 1,000
// clients against before, and what a backlog of 1 does to a burst of 50 connects.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "BenchUtil.h"
#include "Loopback.h"
#include "toolkit/win/Forms.h"
#include "net/win/Psock.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int Concurrent = 50;
double Seconds(Clock::duration D)
{
    return std::chrono::duration<double>(D).count();
}

class TEchoServer : public TNMServer<TEchoServer> {
public:
    using TNMServer::TNMServer;
    void Serve() override
    {
        for (std::string line = ReadLn(); !line.empty(); line = ReadLn()) {
            Writeln("echo " + line.substr(0, line.find_first_of("\r\n")));
        }
    }
};

// Reads through the first LF; false when the connection ends first.
bool RecvLine(SOCKET S, std::string& Line)
{
    char buffer[256];
    Line.clear();
    for (;;) {
        const int n = recv(S, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        Line.append(buffer, static_cast<std::size_t>(n));
        if (Line.back() == '\n') return true;
    }
}

// Count clients, Concurrent at a time; Pump runs on this thread until they are done. False when
// an answer went missing.
template <typename P>
bool RunClients(int Port, int Count, P Pump)
{
    std::atomic<int> next{0}, done{0};
    std::atomic<bool> ok{true};
    std::vector<std::thread> threads;
    for (int t = 0; t < Concurrent; ++t) {
        threads.emplace_back([&] {
            while (next++ < Count) {
                const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
                DWORD wait = 10000; // a lost answer fails the round instead of hanging it
                setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait);
                const sockaddr_in a = LoopbackAddress(Port);
                std::string answer;
                if (connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || send(s, "ping\r\n", 6, 0) != 6 ||
                    !RecvLine(s, answer) || answer != "echo ping\r\n") {
                    ok = false;
                    std::printf("client failed: answer '%s' error %d\n", answer.c_str(), WSAGetLastError());
                }
                closesocket(s);
                ++done;
            }
        });
    }
    Pump([&] { return done.load() >= Count; });
    for (auto& t : threads) t.join();
    return ok;
}

// The yardstick: accept in a loop, a blocking thread per client that answers each line.
class TPlainServer {
public:
    TPlainServer()
    {
        FListener = ListenOnLoopback(SOMAXCONN, Port);
        FAcceptor = std::thread([this] {
            for (;;) {
                const SOCKET c = accept(FListener, nullptr, nullptr);
                if (c == INVALID_SOCKET) break;
                ++FRunning;
                auto* job = new TJob{this, c};
                if (HANDLE thread = CreateThread(nullptr, 0, Answer, job, 0, nullptr)) {
                    CloseHandle(thread);
                } else {
                    delete job;
                    closesocket(c);
                    --FRunning;
                }
            }
        });
    }
    ~TPlainServer()
    {
        closesocket(FListener);
        FAcceptor.join();
        while (FRunning > 0) Sleep(1);
    }
    int Port = 0;

private:
    struct TJob {
        TPlainServer* Server;
        SOCKET Client;
    };
    static DWORD WINAPI Answer(void* Job)
    {
        const TJob job = *static_cast<TJob*>(Job);
        delete static_cast<TJob*>(Job);
        std::string line;
        while (RecvLine(job.Client, line)) {
            const std::string answer = "echo " + line.substr(0, line.find_first_of("\r\n")) + "\r\n";
            send(job.Client, answer.data(), static_cast<int>(answer.size()), 0);
        }
        closesocket(job.Client);
        --job.Server->FRunning;
        return 0;
    }
    SOCKET FListener;
    std::thread FAcceptor;
    std::atomic<int> FRunning{0};
};

// The process's open handles, probed (Wine does not answer GetProcessHandleCount): the system
// hands out the lowest free value, and a long run of unused ones ends the table.
DWORD Handles()
{
    DWORD count = 0, flags = 0;
    for (uintptr_t h = 4, misses = 0; misses < 512; h += 4) {
        if (GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags)) {
            ++count;
            misses = 0;
        } else {
            ++misses;
        }
    }
    return count;
}

// The socket layer's windows of the process (top-level windows, as they are made).
BOOL CALLBACK CountLayerWindow(HWND Window, LPARAM Count)
{
    char name[32] = {};
    GetClassNameA(Window, name, sizeof name);
    if (std::string(name) == "PsockWindowClass" || std::string(name) == "TmrWindowClass") ++*reinterpret_cast<int*>(Count);
    return TRUE;
}
int Windows()
{
    int count = 0;
    EnumWindows(CountLayerWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

bool ServerBench()
{
    auto* server = new TEchoServer(nullptr);
    server->Loaded();
    const int port = LocalPort(server->SocketHandle());
    // The GUI thread pumps (PsockWait's two steps, the sleep timed) until the clients are done
    // and freed.
    double idle = 0, total = 0;
    const auto pumpServer = [&](auto Done) {
        auto s0 = Clock::now();
        while (!Done() || server->ClientList()->Count() > 0) {
            auto t0 = Clock::now();
            MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            idle += Seconds(Clock::now() - t0);
            Application->ProcessMessages();
        }
        total += Seconds(Clock::now() - s0);
    };
    const auto pumpNothing = [](auto Done) {
        while (!Done()) Sleep(1);
    };
    TPlainServer plain;
    bool answered = RunClients(port, 200, pumpServer) && RunClients(plain.Port, 200, pumpNothing); // warm-up

    constexpr int PerRound = 500;
    std::vector<double> ratios;
    double best = 0, bestPlain = 0;
    for (int pair = 0; pair < 5; ++pair) {
        auto t0 = Clock::now();
        answered = RunClients(plain.Port, PerRound, pumpNothing) && answered;
        const double plainRate = PerRound / Seconds(Clock::now() - t0);
        t0 = Clock::now();
        answered = RunClients(port, PerRound, pumpServer) && answered;
        const double rate = PerRound / Seconds(Clock::now() - t0);
        ratios.push_back(rate / plainRate);
        best = std::max(best, rate);
        bestPlain = std::max(bestPlain, plainRate);
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("clients/s with %d at once (best round): blocking thread per client %.0f, server %.0f; pair ratios "
                "%.2f..%.2f\n",
                Concurrent, bestPlain, best, ratios.front(), ratios.back());
    bool ok = ReportRatio("server clients per second vs blocking thread-per-client server (median of pairs)",
                          ratios[ratios.size() / 2], ">=", 0.5);

    const DWORD before = Handles();
    const int windows = Windows();
    answered = RunClients(port, 1000, pumpServer) && answered;
    const DWORD after = Handles();
    const int windowsAfter = Windows();
    std::printf("handles %lu before 1000 clients, %lu after; windows %d before, %d after\n", before, after, windows,
                windowsAfter);
    ok = ReportRatio("server handles after 1000 clients vs before", static_cast<double>(after) / before, "<=", 1.0) && ok;
    std::printf("GUI thread asleep %.2f s of the %.2f s it served (information)\n", idle, total);
    delete server;
    if (!answered) std::printf("server: an answer went missing\n");
    return ok && answered;
}

// 50 connects at once to a listener that accepts nothing for 300 ms: how many the system takes.
int ConnectedWithin300ms(int Backlog)
{
    int port = 0;
    const SOCKET listener = ListenOnLoopback(Backlog, port);
    const sockaddr_in a = LoopbackAddress(port);
    std::vector<SOCKET> clients;
    for (int i = 0; i < Concurrent; ++i) {
        const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
        clients.push_back(s);
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(300);
    std::vector<bool> connected(clients.size());
    while (Clock::now() < deadline) {
        fd_set writable;
        FD_ZERO(&writable);
        for (std::size_t i = 0; i < clients.size(); ++i) {
            if (!connected[i]) FD_SET(clients[i], &writable);
        }
        timeval wait{0, 20000};
        if (select(0, nullptr, &writable, nullptr, &wait) > 0) {
            for (std::size_t i = 0; i < clients.size(); ++i) {
                if (FD_ISSET(clients[i], &writable)) connected[i] = true;
            }
        }
    }
    for (SOCKET s : clients) closesocket(s);
    closesocket(listener);
    return static_cast<int>(std::count(connected.begin(), connected.end(), true));
}

void BacklogFigure()
{
    const int one = ConnectedWithin300ms(1);
    const int most = ConnectedWithin300ms(PsockListenBacklog);
    std::printf("burst of %d connects, nothing accepted for 0.3 s: backlog 1 takes %d, the server's backlog %d "
                "(information)\n",
                Concurrent, one, most);
}

} // namespace

int main()
{
    WSADATA data;
    WSAStartup(0x0202, &data);
    BacklogFigure();
    const bool ok = ServerBench();
    std::fflush(stdout);
    return ok ? 0 : 1;
}
