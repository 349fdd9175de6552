// The socket layer under Wine, against a server thread of its own on loopback.
//
// Waiting: a ReadLn that waits 5 s for a server that says nothing, in CPU seconds per wall second
// of this process and the wineserver together; the yardstick is the wait that pumps without
// sleeping (peek, dispatch, again), which keeps a core busy.
// Round trips: Transaction against a server that answers every line at once, against a plain
// blocking send and receive-until-LF loop on the same server.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "BenchUtil.h"
#include "Loopback.h"
#include "toolkit/win/Forms.h"
#include "net/win/Psock.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration D)
{
    return std::chrono::duration<double>(D).count();
}

double ProcessCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto value = [](const FILETIME& t) {
        return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return value(kernel) + value(user);
}

// utime + stime of a /proc/<pid>/stat text (fields 14 and 15, after the parenthesised name), in
// clock ticks of 1/100 s; -1 when the text is not one.
double StatCpuSeconds(const std::string& Stat)
{
    const std::size_t close = Stat.rfind(')');
    if (close == std::string::npos) return -1;
    unsigned long long utime = 0, stime = 0;
    if (std::sscanf(Stat.c_str() + close + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) != 2) {
        return -1;
    }
    return static_cast<double>(utime + stime) / 100.0;
}

std::string ReadText(const std::string& Path)
{
    std::string text;
    if (FILE* f = std::fopen(Path.c_str(), "rb")) {
        char buffer[1024];
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, f);
        text.assign(buffer, n);
        std::fclose(f);
    }
    return text;
}

// The wineserver's /proc entry, seen through drive Z:. Wine opens files through its server, so
// "self" there is the server; otherwise the server whose environment names this prefix.
std::string WineserverStatPath()
{
    const std::string self = "Z:\\proc\\self\\stat";
    if (ReadText(self).find("(wineserver") != std::string::npos) return self;
    char prefix[MAX_PATH] = {};
    if (GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix) == 0) return {};
    const std::string wanted = std::string("WINEPREFIX=") + prefix;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA("Z:\\proc\\*", &entry);
    if (find == INVALID_HANDLE_VALUE) return {};
    std::string found;
    do {
        const std::string dir = std::string("Z:\\proc\\") + entry.cFileName;
        if (ReadText(dir + "\\comm").rfind("wineserver", 0) != 0) continue;
        std::string env = ReadText(dir + "\\environ");
        env.push_back('\0');
        if (env.find(wanted + '\0') != std::string::npos) {
            found = dir + "\\stat";
            break;
        }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return found;
}

struct TCpuMeter {
    std::string ServerStat = WineserverStatPath();
    double Process = 0, Server = 0;
    Clock::time_point Start;
    void Begin()
    {
        Process = ProcessCpuSeconds();
        Server = StatCpuSeconds(ReadText(ServerStat));
        Start = Clock::now();
    }
    // CPU seconds per wall second since Begin: this process, and the wineserver (-1: unknown).
    std::pair<double, double> End() const
    {
        const double wall = Seconds(Clock::now() - Start);
        const double server = StatCpuSeconds(ReadText(ServerStat));
        return {std::max(0.0, ProcessCpuSeconds() - Process) / wall, Server < 0 || server < 0 ? -1 : (server - Server) / wall};
    }
};

// A loopback server: every connection on a thread of its own. Silent, or answering each line
// with "250 ok" at once.
class TServer {
public:
    explicit TServer(bool Answer, std::string Greeting = {}) : FAnswer(Answer), FGreeting(std::move(Greeting))
    {
        FListener = ListenOnLoopback(4, FPort);
        FThread = std::thread([this] {
            for (;;) {
                const SOCKET s = accept(FListener, nullptr, nullptr);
                if (s == INVALID_SOCKET) return;
                std::thread([this, s] { Serve(s); }).detach();
            }
        });
    }
    ~TServer()
    {
        closesocket(FListener);
        FThread.detach();
    }
    int Port() const { return FPort; }

private:
    void Serve(SOCKET S)
    {
        const BOOL on = TRUE;
        setsockopt(S, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        if (!FGreeting.empty()) send(S, FGreeting.data(), static_cast<int>(FGreeting.size()), 0);
        char buffer[4096];
        int n;
        while ((n = recv(S, buffer, sizeof buffer, 0)) > 0) {
            if (!FAnswer) continue;
            for (int i = 0; i < n; ++i) {
                if (buffer[i] == '\n') send(S, "250 ok\r\n", 8, 0);
            }
        }
        closesocket(S);
    }
    bool FAnswer;
    std::string FGreeting;
    SOCKET FListener;
    int FPort = 0;
    std::thread FThread;
};

SOCKET BlockingConnect(int Port)
{
    const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    const BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    const sockaddr_in a = LoopbackAddress(Port);
    connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    return s;
}

void ConnectComponent(TPowersock& Sock, int Port)
{
    Sock.SetHost("127.0.0.1");
    Sock.SetPort(Port);
    Sock.Connect();
    const BOOL on = TRUE;
    setsockopt(Sock.SocketHandle(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

// Cancels the component's wait from the message loop after a while, as a cancel button would.
TPowersock* CancelTarget = nullptr;
void CALLBACK CancelLater(HWND, UINT, UINT_PTR Id, DWORD)
{
    KillTimer(nullptr, Id);
    CancelTarget->Cancel();
}

double Total(const std::pair<double, double>& Cpu)
{
    return Cpu.first + std::max(Cpu.second, 0.0);
}

bool WaitBench()
{
    TServer silent(false);
    TServer partial(false, "abc");
    TCpuMeter meter;
    std::printf("wineserver: %s\n", meter.ServerStat.empty() ? "not found, its CPU is not counted" : meter.ServerStat.c_str());

    // The wait as it was: peek, dispatch what is pending, again.
    auto* spinning = new TPowersock(nullptr);
    ConnectComponent(*spinning, silent.Port());
    meter.Begin();
    const auto spinEnd = Clock::now() + std::chrono::seconds(2);
    char peek[16];
    while (Clock::now() < spinEnd) {
        recv(spinning->SocketHandle(), peek, sizeof peek, MSG_PEEK);
        Application->ProcessMessages();
    }
    const auto spin = meter.End();
    delete spinning;

    auto* sock = new TPowersock(nullptr);
    ConnectComponent(*sock, silent.Port());
    sock->SetTimeOut(5000);
    meter.Begin();
    try {
        sock->ReadLn();
    } catch (const EAbortError&) { // the time-out, as expected
    }
    const auto line = meter.End();
    delete sock;

    // Read(10) with 3 bytes waiting: they are taken, and the read waits for the rest without a
    // time-out; a cancel ends it after 5 s. (The CPU counts tick in hundredths of a second: the
    // waits are long enough for one tick to stay below the goal.)
    sock = new TPowersock(nullptr);
    ConnectComponent(*sock, partial.Port());
    while (!sock->DataAvailable()) PsockWait(10);
    CancelTarget = sock;
    SetTimer(nullptr, 0, 5000, CancelLater);
    meter.Begin();
    try {
        sock->Read(10);
    } catch (const EAbortError&) { // the cancel
    }
    const auto read = meter.End();
    delete sock;

    std::printf("wait cpu/wall (process + wineserver): spinning %.3f (%.3f + %.3f), ReadLn %.4f (%.4f + %.4f), "
                "Read(10) of 3 bytes %.4f (%.4f + %.4f)\n",
                Total(spin), spin.first, spin.second, Total(line), line.first, line.second, Total(read), read.first,
                read.second);
    bool ok = ReportRatio("psock ReadLn wait, CPU seconds per wall second", Total(line), "<=", 0.005);
    ok = ReportRatio("psock Read(10) wait on 3 bytes, CPU seconds per wall second", Total(read), "<=", 0.005) && ok;
    return ok;
}

// Round trips per second of Trip, over Span seconds.
template <typename F>
double TripsPerSecond(double Span, F&& Trip)
{
    long trips = 0;
    const auto start = Clock::now();
    while (Seconds(Clock::now() - start) < Span) {
        if (!Trip()) return 0;
        ++trips;
    }
    return static_cast<double>(trips) / Seconds(Clock::now() - start);
}

bool RoundTripBench()
{
    TServer server(true);
    const SOCKET plain = BlockingConnect(server.Port());
    auto* sock = new TPowersock(nullptr);
    ConnectComponent(*sock, server.Port());
    sock->SetTimeOut(10000); // armed and disarmed by every send and read, as the mail client has it

    const auto plainTrip = [&] {
        char buffer[256];
        send(plain, "NOOP\r\n", 6, 0);
        int got = 0;
        while (got == 0 || buffer[got - 1] != '\n') {
            const int n = recv(plain, buffer + got, static_cast<int>(sizeof buffer) - got, 0);
            if (n <= 0) return false;
            got += n;
        }
        return true;
    };
    const auto transaction = [&] { return sock->Transaction("NOOP") == "250 ok\r\n"; };
    // Rounds taken in pairs, the median of the pairs' ratios kept: the machine is shared, and
    // load that comes and goes would otherwise fall on one side only.
    std::vector<double> ratios;
    double plainRate = 0, rate = 0;
    for (int round = 0; round < 11; ++round) {
        const double a = TripsPerSecond(0.2, plainTrip);
        const double b = TripsPerSecond(0.2, transaction);
        if (a == 0 || b == 0) {
            std::printf("round trips: a reply went missing\n");
            return false;
        }
        plainRate = std::max(plainRate, a);
        rate = std::max(rate, b);
        ratios.push_back(b / a);
    }
    std::sort(ratios.begin(), ratios.end());
    closesocket(plain);
    delete sock;
    std::printf("round trips/s (best round): blocking send/recv %.0f, Transaction %.0f; pair ratios %.2f..%.2f\n",
                plainRate, rate, ratios.front(), ratios.back());
    return ReportRatio("psock Transaction round trips vs blocking loop (median of pairs)", ratios[ratios.size() / 2],
                       ">=", 0.5);
}

} // namespace

int main()
{
    WSADATA data;
    WSAStartup(0x0101, &data);
    bool ok = WaitBench();
    ok = RoundTripBench() && ok;
    std::fflush(stdout);
    return ok ? 0 : 1;
}
