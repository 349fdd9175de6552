// The listening side under Wine: Listen and Accept of the component, and the server that serves
// each client on a thread of its own, against plain blocking client sockets on threads of the
// test. The process's windows and handles are counted before and after, so whatever a client
// leaves behind shows.
#include <gtest/gtest.h>

#include "toolkit/win/Win.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "toolkit/win/Forms.h"
#include "toolkit/win/HiddenWindow.h"
#include "net/win/Psock.h"
#include "Loopback.h"

namespace {

// The test's own sockets work before any component has started the library.
const bool SocketsStarted = [] {
    WSADATA data;
    return WSAStartup(0x0202, &data) == 0;
}();

// A blocking client on 127.0.0.1. Every receive gives up after 10 s, so a server that never
// answers fails the test instead of hanging it.
struct TClient {
    explicit TClient(int Port) : Socket(socket(AF_INET, SOCK_STREAM, 0))
    {
        DWORD wait = 10000;
        setsockopt(Socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait);
        const sockaddr_in a = LoopbackAddress(Port);
        Connected = connect(Socket, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    }
    ~TClient() { closesocket(Socket); }
    TClient(const TClient&) = delete;
    void Send(const std::string& S) { send(Socket, S.data(), static_cast<int>(S.size()), 0); }
    // Through the next LF, or what came before the end.
    std::string Line()
    {
        std::string line;
        for (char c; (line.empty() || line.back() != '\n') && recv(Socket, &c, 1, 0) == 1;) line += c;
        return line;
    }
    // The server has ended the connection (an orderly end or a reset), not just kept silent.
    bool Ended()
    {
        char c;
        return recv(Socket, &c, 1, 0) <= 0 && WSAGetLastError() != WSAETIMEDOUT;
    }
    SOCKET Socket;
    bool Connected;
};

template <typename Pred>
bool PumpUntil(Pred Done, DWORD Ms = 20000)
{
    for (const DWORD start = GetTickCount(); !Done(); PsockWait(10)) {
        if (GetTickCount() - start > Ms) return false;
    }
    return true;
}

// The socket layer's windows of this process in use (with an object; idle ones wait in their
// thread's pool), or the idle ones. Top-level windows: EnumWindows lists no message-only window,
// so a window made message-only is missed and shows in the counts.
struct TLayerCount {
    bool Idle;
    int Count;
};
BOOL CALLBACK CountLayerWindow(HWND Window, LPARAM Param)
{
    auto& count = *reinterpret_cast<TLayerCount*>(Param);
    // Another test program on the same display has windows of these classes too.
    DWORD process = 0;
    GetWindowThreadProcessId(Window, &process);
    if (process != GetCurrentProcessId()) return TRUE;
    char name[32] = {};
    GetClassNameA(Window, name, sizeof name);
    if ((std::string(name) == "PsockWindowClass" || std::string(name) == "TmrWindowClass") &&
        (THiddenWindow::FromHandle(Window) == nullptr) == count.Idle) {
        ++count.Count;
    }
    return TRUE;
}
int LayerWindows(bool Idle = false)
{
    TLayerCount count{Idle, 0};
    EnumWindows(CountLayerWindow, reinterpret_cast<LPARAM>(&count));
    return count.Count;
}

// The process's open handles (sockets included). Wine does not answer GetProcessHandleCount, so
// the values are probed: the system hands out the lowest free one, and a long run of unused
// values ends the table.
DWORD Handles()
{
    DWORD count = 0, flags = 0;
    for (uintptr_t h = 4, misses = 0; misses < 512; h += 4) {
        GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags) ? (++count, misses = 0) : ++misses;
    }
    return count;
}

// What the clients of the test servers saw of themselves, from their own threads.
struct TServed {
    DWORD Thread;
    bool HasList;
    TNMGeneralServer* Listening;
    DWORD WindowThread;
    bool TimedOut;
    std::string Failure;
};
// Kept without a lock: a contended lock makes its wait object once, which would show in the
// handle count.
std::array<TServed, 256> Served;
std::atomic<int> ServedNext{0}, ServedDone{0};
void Record(TNMGeneralServer& Client, std::string Failure = {})
{
    Served[static_cast<std::size_t>(ServedNext++)] = {GetCurrentThreadId(), Client.ClientList() != nullptr,
                                                      Client.ListeningServer(),
                                                      GetWindowThreadProcessId(Client.MessageWindow(), nullptr),
                                                      Client.TimedOut(), std::move(Failure)};
    ++ServedDone;
}
// Once every client recorded has ended.
std::vector<TServed> TakeServed()
{
    std::vector<TServed> taken(Served.begin(), Served.begin() + ServedDone.load());
    ServedNext = ServedDone = 0;
    return taken;
}

// Answers every line with "echo " and the line, until the client closes.
class TEchoServer : public TNMServer<TEchoServer> {
public:
    using TNMServer::TNMServer;
    void Serve() override
    {
        Record(*this);
        for (std::string line = ReadLn(); !line.empty(); line = ReadLn()) {
            Writeln("echo " + line.substr(0, line.find_first_of("\r\n")));
        }
    }
};

// Waits for one line (under TimeOut, which on a server instance only sets TimedOut) and records
// what ended the wait. Its instances cannot be made while Refuse is set.
class TOneLineServer : public TNMServer<TOneLineServer> {
public:
    static inline int32_t WaitTimeOut = 0;
    static inline bool Refuse = false;
    using TNMServer::TNMServer;
    explicit TOneLineServer(TServedConnection Connection) : TNMServer(std::move(Connection))
    {
        if (Refuse) throw Exception("refused");
    }
    void Serve() override
    {
        SetTimeOut(WaitTimeOut);
        try {
            const std::string line = ReadLn();
            Record(*this, line.empty() ? "closed" : "line " + line);
        } catch (const Exception& e) {
            Record(*this, e.Message());
        }
    }
};

// A server listening on a free port, with counters for its events.
template <typename T>
struct TRunning {
    explicit TRunning(TComponent* Owner = nullptr) : Server(new T(Owner))
    {
        Server->OnClientContact = [this](TObject* Sender) { Contacts += Sender == Server; };
        Server->OnDisconnect = [this](TObject*) { GetCurrentThreadId() == Gui ? ++Disconnects : ++OffGuiDisconnects; };
        Server->Loaded();
        Port = LocalPort(Server->SocketHandle());
    }
    ~TRunning() { delete Server; }
    bool Drained() { return PumpUntil([&] { return Server->ClientList()->Count() == 0; }); }
    T* Server;
    int Port = 0;
    int Contacts = 0;
    int Disconnects = 0;
    std::atomic<int> OffGuiDisconnects{0};
    DWORD Gui = GetCurrentThreadId();
};

// Runs Body for each of Count clients at once, on threads of their own, while this thread pumps.
void Clients(int Count, const std::function<void(int)>& Body)
{
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < Count; ++i) {
        threads.emplace_back([&, i] {
            Body(i);
            ++done;
        });
    }
    EXPECT_TRUE(PumpUntil([&] { return done == Count; }, 60000));
    for (auto& t : threads) t.join();
}

std::string RaisedBy(const std::function<void()>& F)
{
    try {
        F();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "";
}

// ---------------------------------------------------------------------------------------------

TEST(Server, EveryClientGetsEveryAnswerAndLeavesNoWindowOrHandleBehind)
{
    TRunning<TEchoServer> run;
    ASSERT_NE(run.Server->ClientList(), nullptr);
    EXPECT_EQ(run.Server->ListeningServer(), nullptr);
    // A burst first: whatever the system makes once for a process (for its sockets, for many
    // threads at once) is there before the count; so are the debug-output objects (a named
    // mutex, its event and the directory of named objects), which the system's libraries make at
    // their first debug message, at times only under load.
    OutputDebugStringA("");
    Clients(50, [&](int) {
        TClient c(run.Port);
        for (int line = 0; line < 3; ++line) c.Send("x\r\n"), c.Line();
    });
    ASSERT_TRUE(run.Drained());
    TakeServed();
    int disconnects = 0;
    // What each round leaves: a client that leaks leaves a handle every time; what the system
    // makes once, on its own time (under load, in the middle of a round), shows in one round only.
    std::vector<int> grown;
    for (const int count : {1, 50, 50}) {
        SCOPED_TRACE(count);
        const int windows = LayerWindows();
        const DWORD handles = Handles();
        run.Contacts = run.Disconnects = 0;
        std::atomic<int> wrong{0};
        Clients(count, [&](int i) {
            TClient c(run.Port);
            for (int line = 0; line < 3; ++line) {
                const std::string text = "client " + std::to_string(i) + " line " + std::to_string(line);
                c.Send(text + "\r\n");
                wrong += c.Line() != "echo " + text + "\r\n";
            }
        });
        EXPECT_EQ(wrong, 0);
        ASSERT_TRUE(run.Drained());
        EXPECT_EQ(run.Contacts, count);
        disconnects += run.Disconnects;
        const std::vector<TServed> served = TakeServed();
        ASSERT_EQ(static_cast<int>(served.size()), count);
        for (const TServed& s : served) {
            EXPECT_NE(s.Thread, run.Gui);
            EXPECT_FALSE(s.HasList);
            EXPECT_EQ(s.Listening, run.Server);
            EXPECT_EQ(s.WindowThread, run.Gui); // its window is the GUI thread's
        }
        // Each instance's window and socket, and its thread, went with it.
        EXPECT_EQ(LayerWindows(), windows);
        PumpUntil([&] { return Handles() == handles; }, 2000);
        grown.push_back(static_cast<int>(Handles()) - static_cast<int>(handles));
        EXPECT_EQ(run.Server->ComponentCount(), 0); // the clients are the list's alone
        // Kept for the next clients, within the pool's bound for each of the two classes.
        EXPECT_LE(LayerWindows(true), 2 * static_cast<int>(HiddenWindowPoolSize));
    }
    EXPECT_LE(grown[0] + grown[1] + grown[2], 1) << grown[0] << ", " << grown[1] << ", " << grown[2];
    EXPECT_TRUE(grown[1] == 0 || grown[2] == 0) << grown[1] << ", " << grown[2];
    // A peer's close reaches the server's OnDisconnect on the GUI thread (unless the instance
    // went first, when Serve saw the end before the notice came).
    EXPECT_GT(disconnects, 0);
    EXPECT_EQ(run.OffGuiDisconnects, 0);
}

TPowersock* Waiting = nullptr;
void CALLBACK CancelWaiting(HWND, UINT, UINT_PTR Id, DWORD)
{
    KillTimer(nullptr, Id);
    Waiting->Cancel();
}

TEST(Server, ListeningComponentReportsOnEitherMessageAndAcceptsEachConnection)
{
    for (const bool flag : {true, false}) {
        SCOPED_TRACE(flag);
        TPowersock sock(nullptr);
        int accepts = 0, disconnects = 0;
        sock.OnAccept = [&](TObject*) { ++accepts; };
        sock.OnDisconnect = [&](TObject*) { ++disconnects; };
        sock.Listen(flag);
        const int port = LocalPort(sock.SocketHandle());
        ASSERT_NE(port, 0);
        TClient first(port), second(port);
        ASSERT_TRUE(first.Connected && second.Connected);
        // Listen(True): the report on the second message number, for a caller waiting in Accept.
        ASSERT_TRUE(PumpUntil([&] { return (flag ? disconnects : accepts) > 0; }, 5000));
        EXPECT_EQ(flag ? accepts : disconnects, 0);
        EXPECT_EQ(sock.AsyncDone(), flag);
        EXPECT_TRUE(sock.Connected());
        if (!flag) continue;
        for (TClient* client : {&first, &second}) {
            const TSocketHandle held = sock.Accept();
            const SOCKET accepted = held.Get();
            EXPECT_EQ(ntohs(sock.RemoteAddress().sin_port), LocalPort(client->Socket));
            EXPECT_EQ(sock.GetRemoteIP(), "127.0.0.1");
            client->Send("ping\n");
            char buffer[8] = {};
            EXPECT_TRUE(PumpUntil([&] { return recv(accepted, buffer, sizeof buffer, MSG_PEEK) == 5; }, 5000));
            EXPECT_EQ(std::string(buffer), "ping\n");
            send(accepted, "pong\n", 5, 0);
            EXPECT_EQ(client->Line(), "pong\n");
        }
        EXPECT_EQ(accepts, 0);
        // Both taken, the next Accept waits for the next connection: a cancel from a handler
        // ends it.
        Waiting = &sock;
        ASSERT_NE(SetTimer(nullptr, 0, 50, CancelWaiting), 0u);
        EXPECT_EQ(RaisedBy([&] { sock.Accept(); }), "Accepting Canceled");
        EXPECT_TRUE(sock.Canceled());
    }
}

TEST(Server, AcceptRefusesWhatIsNoConnection)
{
    struct Case {
        const char* Name;
        std::function<void(TPowersock&)> Before; // on the listening component, before Accept
        const char* Raised;
        bool CanceledAfter;
    };
    const Case cases[] = {
        {"cancel before a connection", [](TPowersock& s) { s.Cancel(); }, "Accepting Canceled", true},
        {"a report with an error",
         [](TPowersock& s) { PostMessageA(s.MessageWindow(), CM_LOOKUPMESSAGE, s.SocketHandle(), WSAMAKESELECTREPLY(FD_ACCEPT, WSAECONNABORTED)); },
         "Error creating Data Connection", false},
        {"a report with nothing waiting",
         [](TPowersock& s) { PostMessageA(s.MessageWindow(), CM_LOOKUPMESSAGE, s.SocketHandle(), WSAMAKESELECTREPLY(FD_ACCEPT, 0)); },
         "Error creating Data Connection", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TPowersock sock(nullptr);
        sock.Listen(true);
        c.Before(sock);
        EXPECT_EQ(RaisedBy([&] { sock.Accept(); }), c.Raised);
        EXPECT_EQ(sock.Canceled(), c.CanceledAfter);
    }
}

TEST(Server, PortsThatCannotBeListenedOnAreRefused)
{
    // A port taken by another socket of the process.
    const SOCKET taken = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(taken, 1);
    const int busy = LocalPort(taken);
    for (const auto& [port, raised] : std::vector<std::pair<int32_t, std::string>>{
             {70000, "Port out of range: 70000"}, {-1, "Port out of range: -1"}, {busy, "10048:Address already in use"}}) {
        SCOPED_TRACE(port);
        TNMGeneralServer server(nullptr);
        uint16_t errno_ = 0;
        server.OnError = [&](TComponent*, uint16_t Code, const std::string&) { errno_ = Code; };
        server.SetPort(port);
        EXPECT_EQ(RaisedBy([&] { server.Loaded(); }), raised);
        EXPECT_EQ(errno_, port == busy ? 10048 : 0);
    }
    closesocket(taken);
}

TEST(Server, AbortCancelsEveryListedClientAndNotTheServer)
{
    TRunning<TOneLineServer> run;
    TOneLineServer::WaitTimeOut = 0;
    std::vector<std::unique_ptr<TClient>> clients;
    for (int i = 0; i < 3; ++i) clients.push_back(std::make_unique<TClient>(run.Port));
    ASSERT_TRUE(PumpUntil([&] { return run.Server->ClientList()->Count() == 3; }));
    run.Server->Abort();
    ASSERT_TRUE(run.Drained());
    EXPECT_FALSE(run.Server->Canceled());
    for (const TServed& s : TakeServed()) EXPECT_EQ(s.Failure, "Socket readln aborted");
    for (auto& c : clients) EXPECT_TRUE(c->Ended());
    // The server serves on.
    TClient next(run.Port);
    next.Send("after\n");
    ASSERT_TRUE(run.Drained());
    ASSERT_TRUE(PumpUntil([] { return ServedDone == 1; }));
    EXPECT_EQ(TakeServed()[0].Failure, "line after\n");
}

TEST(Server, ATimeOutArmedOnTheClientThreadSetsTimedOutOnly)
{
    TRunning<TOneLineServer> run;
    TOneLineServer::WaitTimeOut = 100;
    TClient client(run.Port);
    ASSERT_TRUE(PumpUntil([&] { return run.Server->ClientList()->Count() == 1; }));
    TNMGeneralServer* instance = run.Server->ClientList()->Items()[0];
    // Its system timer is set on the GUI thread, whose message loop fires it.
    ASSERT_TRUE(PumpUntil([&] { return instance->TimedOut(); }, 5000));
    client.Send("late\n"); // the wait went on
    ASSERT_TRUE(run.Drained());
    const std::vector<TServed> served = TakeServed();
    ASSERT_EQ(served.size(), 1u);
    EXPECT_EQ(served[0].Failure, "line late\n");
    EXPECT_TRUE(served[0].TimedOut);
    TOneLineServer::WaitTimeOut = 0;
}

// Says hello and fails: the failure ends that client alone.
class TFailingServer : public TNMServer<TFailingServer> {
public:
    using TNMServer::TNMServer;
    void Serve() override
    {
        // What replaces or closes the socket is refused on the client thread, and the status
        // texts of this thread are not given.
        int given = 0;
        SetReportLevel(8);
        OnStatus = [&given](TComponent*, const std::string&) { ++given; };
        std::string refused;
        const std::function<void()> calls[] = {[this] { Disconnect(); }, [this] { Listen(false); }, [this] { Accept(); }};
        for (const auto& call : calls) {
            try {
                call();
            } catch (const ESockError& e) {
                refused += "|" + e.Message();
            }
        }
        OnStatus = nullptr;
        Record(*this, (OnConnect ? "has OnConnect" : "no OnConnect") + refused + "|" + std::to_string(given) + " statuses");
        Writeln("hello");
        throw Exception("serve failed");
    }
};

TEST(Server, AFailingServeEndsItsClientQuietlyAndTheServerReportsItsSteps)
{
    std::vector<std::string> statuses;
    auto* server = new TFailingServer(nullptr);
    server->OnConnect = [](TObject*) {};
    server->SetReportLevel(8);
    server->OnStatus = [&](TComponent*, const std::string& S) { statuses.push_back(S); };
    server->Loaded();
    for (int i = 0; i < 2; ++i) {
        TClient client(LocalPort(server->SocketHandle()));
        std::string line;
        std::thread reader([&] { line = client.Line(); });
        EXPECT_TRUE(PumpUntil([&] { return server->ClientList()->Count() == 0 && ServedDone == i + 1; }));
        reader.join();
        EXPECT_EQ(line, "hello\r\n");
        EXPECT_TRUE(client.Ended());
    }
    delete server;
    const std::vector<TServed> served = TakeServed();
    ASSERT_EQ(served.size(), 2u);
    for (const TServed& s : served) {
        EXPECT_EQ(s.Failure, "has OnConnect" // copied to each client
                             "|Disconnect is called on the component's own thread only"
                             "|Listen is called on the component's own thread only"
                             "|Accept is called on the component's own thread only|0 statuses");
    }
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Listening"), statuses.end());
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "Accepting"), 2);
}

TEST(Server, FailuresInServerAcceptAreSwallowedAndStillReportTheContact)
{
    TRunning<TOneLineServer> run;
    // The instance cannot be made: the connection is closed, not left open and unserved.
    TOneLineServer::Refuse = true;
    {
        TClient refused(run.Port);
        ASSERT_TRUE(PumpUntil([&] { return run.Contacts == 1; }));
        EXPECT_EQ(run.Server->ClientList()->Count(), 0);
        EXPECT_TRUE(refused.Ended());
    }
    TOneLineServer::Refuse = false;
    TClient served(run.Port);
    served.Send("served\n");
    ASSERT_TRUE(PumpUntil([&] { return ServedDone == 1 && run.Contacts == 2; }));
    EXPECT_EQ(TakeServed()[0].Failure, "line served\n");
    // A cancelled server accepts nothing, reports the contact all the same.
    run.Server->Cancel();
    TClient ignored(run.Port);
    ASSERT_TRUE(PumpUntil([&] { return run.Contacts == 3; }));
    EXPECT_EQ(run.Server->ClientList()->Count(), 0);
    EXPECT_TRUE(run.Server->Canceled());
}

TEST(Server, DestroyedWhileClientsAreConnectedEndsThemAndItself)
{
    const int windows = LayerWindows();
    for (const bool waiting : {false, true}) {
        SCOPED_TRACE(waiting);
        std::vector<std::unique_ptr<TClient>> clients;
        HWND serverWindow = nullptr;
        {
            TComponent form(nullptr); // a server on a form goes with the form
            auto* server = new TEchoServer(&form);
            server->Loaded();
            ASSERT_NE(server->ClientList(), nullptr);
            // The window its client threads hand their instances back to.
            serverWindow = FindWindowExA(nullptr, nullptr, "PsockServerWindowClass", nullptr);
            ASSERT_NE(serverWindow, nullptr);
            const int port = LocalPort(server->SocketHandle());
            for (int i = 0; i < 5; ++i) clients.push_back(std::make_unique<TClient>(port));
            ASSERT_TRUE(PumpUntil([&] { return server->ClientList()->Count() == 5; }));
            // The server's and each client's notification and timer windows.
            EXPECT_EQ(LayerWindows(), windows + 12);
            if (waiting) {
                // Each answered once and waiting for its next line. The notices that wake the
                // client threads come through this thread's loop, which runs meanwhile.
                std::vector<std::string> lines(clients.size());
                std::atomic<std::size_t> read{0};
                std::thread reader([&] {
                    for (auto& c : clients) c->Send("once\n");
                    for (std::size_t i = 0; i < clients.size(); ++i, ++read) lines[i] = clients[i]->Line();
                });
                EXPECT_TRUE(PumpUntil([&] { return read == clients.size(); }));
                reader.join();
                for (const std::string& line : lines) EXPECT_EQ(line, "echo once\r\n");
            }
        }
        for (auto& c : clients) EXPECT_TRUE(c->Ended());
        EXPECT_EQ(LayerWindows(), windows);
        // A late hand-back of a client finds no window where the server was, not one that
        // serves another server by then.
        EXPECT_FALSE(IsWindow(serverWindow));
        TakeServed();
    }
}

} // namespace
