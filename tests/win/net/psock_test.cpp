// The socket layer under Wine against scripted loopback peers: the timer, start-up, windows,
// status and errors, connecting, lines and replies.
#include "PsockTestUtil.h"

namespace {
using namespace psocktest;

// ---------------------------------------------------------------------------------------------
// The timer.

TEST(ThreadTimer, StartsOnlyWithIntervalEnabledAndHandler)
{
    TThreadTimer timer(nullptr);
    EXPECT_EQ(ClassOf(timer.TimerWindow()), "TmrWindowClass");
    EXPECT_EQ(SendMessageA(timer.TimerWindow(), WM_ACTIVATEAPP, TRUE, 0), 0);
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000u);
    EXPECT_FALSE(KillTimer(timer.TimerWindow(), 1)); // no handler yet: no system timer
    int ticks = 0;
    timer.SetInterval(0);
    timer.SetOnTimer([&](TObject* Sender) { ticks += Sender == &timer; });
    PumpFor(100);
    EXPECT_EQ(ticks, 0);
    EXPECT_FALSE(KillTimer(timer.TimerWindow(), 1)); // no system timer was set
    timer.SetInterval(20);
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; })); // periodic
    timer.SetEnabled(false);
    const int stopped = ticks;
    PumpFor(100);
    EXPECT_EQ(ticks, stopped);
}

TEST(ThreadTimer, SameIntervalAgainDoesNotRestartTheCount)
{
    TThreadTimer timer(nullptr);
    DWORD first = 0;
    const DWORD start = GetTickCount();
    timer.SetInterval(400);
    timer.SetOnTimer([&](TObject*) {
        if (first == 0) first = GetTickCount() - start;
    });
    PumpFor(300);
    timer.SetInterval(400);
    timer.SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return first != 0; }));
    EXPECT_LT(first, 650u); // a restart would have fired at 700 ms at the earliest
}

// A new Interval or a new OnTimer starts the count again; a timer the system cannot set is "No
// Timer" (its window gone behind its back).
TEST(ThreadTimer, ChangesRestartTheCountAndAFailureIsNoTimer)
{
    for (const bool handler : {false, true}) {
        SCOPED_TRACE(handler ? "OnTimer" : "Interval");
        TThreadTimer timer(nullptr);
        DWORD fired = 0;
        const DWORD start = GetTickCount();
        const auto record = [&](TObject*) {
            if (fired == 0) fired = GetTickCount() - start;
        };
        timer.SetInterval(400);
        timer.SetOnTimer(record);
        PumpFor(300);
        handler ? timer.SetOnTimer(record) : (timer.SetInterval(401), void());
        ASSERT_TRUE(PumpUntil([&] { return fired != 0; }));
        EXPECT_GE(fired, 650u); // counted from the change, at 300 ms
    }
    TThreadTimer timer(nullptr);
    timer.SetInterval(50);
    DestroyWindow(timer.TimerWindow());
    std::string raised;
    try {
        timer.SetOnTimer([](TObject*) {});
    } catch (const Exception& e) {
        raised = e.Message();
    }
    EXPECT_EQ(raised, "No Timer");
}

TEST(ThreadTimer, HandlerExceptionIsShownAndTheTimerKeepsFiring)
{
    Boxes.clear();
    MessageBoxFunc = RecordBox;
    auto* timer = new TThreadTimer(nullptr);
    const HWND window = timer->TimerWindow();
    timer->SetInterval(20);
    timer->SetOnTimer([](TObject*) { throw Exception("tick failed"); });
    EXPECT_TRUE(PumpUntil([] { return Boxes.size() >= 2; }));
    EXPECT_EQ(Boxes[0], "tick failed.");
    delete timer;
    EXPECT_EQ(THiddenWindow::FromHandle(window), nullptr); // destroyed, or idle in the pool
    const std::size_t shown = Boxes.size();
    PumpFor(80);
    EXPECT_EQ(Boxes.size(), shown);
    MessageBoxFunc = SystemMessageBox;
}

// ---------------------------------------------------------------------------------------------
// Recycled windows.

// What was meant for a window's previous owner reaches its next one neither from the queue
// (removed when the window is taken) nor later (the receiver takes no such message for its own).
TEST(RecycledWindows, WhatThePreviousOwnerLeftIsHarmless)
{
    // A tick, queued before the timer went, and one that comes when the window serves a
    // timer that is not armed.
    {
        auto* old = new TThreadTimer(nullptr);
        const HWND window = old->TimerWindow();
        PostMessageA(window, WM_TIMER, 1, 0);
        delete old;
        int ticks = 0;
        TThreadTimer timer(nullptr);
        timer.SetEnabled(false);
        timer.SetOnTimer([&](TObject*) { ++ticks; });
        ASSERT_EQ(timer.TimerWindow(), window);
        PumpFor(50);
        PostMessageA(window, WM_TIMER, 1, 0);
        PumpFor(50);
        EXPECT_EQ(ticks, 0);
        timer.SetInterval(60000);
        timer.SetEnabled(true);
        PostMessageA(window, WM_TIMER, 2, 0); // not its number
        PostMessageA(window, WM_TIMER, 1, 0);
        PumpFor(50);
        EXPECT_EQ(ticks, 1);
    }
    // Socket notices and lookup completions of the previous component, queued when it went: a
    // connect for every socket number near its own (its successor's socket may get the same
    // number), an accept on the second number, a lookup completion.
    struct {
        int connects = 0;
        void Count(TPowersock& S)
        {
            S.OnConnect = [this](TObject*) { ++connects; };
        }
    } seen;
    auto* old = new TPowersock(nullptr);
    const HWND window = old->MessageWindow();
    const auto socketNumber = static_cast<WPARAM>(old->SocketHandle());
    for (WPARAM s = socketNumber > 256 ? socketNumber - 256 : 4; s < socketNumber + 256; s += 4) {
        PostMessageA(window, CM_SOCKETMESSAGE, s, FD_CONNECT);
    }
    PostMessageA(window, CM_LOOKUPMESSAGE, socketNumber, WSAMAKESELECTREPLY(FD_ACCEPT, 0));
    PostMessageA(window, CM_LOOKUPMESSAGE, 0x1234, WSAMAKEASYNCREPLY(64, 0));
    delete old;
    TPowersock sock(nullptr);
    ASSERT_EQ(sock.MessageWindow(), window);
    seen.Count(sock);
    const uint16_t own = sock.SocketHandle();
    PumpFor(50);
    // A lookup completion that comes later names a task this component does not wait for.
    PostMessageA(window, CM_LOOKUPMESSAGE, 0x1234, WSAMAKEASYNCREPLY(64, 0));
    PumpFor(50);
    EXPECT_EQ(seen.connects, 0);
    EXPECT_FALSE(sock.Connected());
    EXPECT_FALSE(sock.AsyncDone());
    // Its own notices still arrive.
    PostMessageA(window, CM_SOCKETMESSAGE, own, FD_CONNECT);
    PumpFor(50);
    EXPECT_EQ(seen.connects, 1);
    EXPECT_TRUE(sock.Connected());
}

// ---------------------------------------------------------------------------------------------
// Start-up, windows, status and errors.

TEST(PsockStart, FirstInstanceStartsTheLibraryAndDescribesIt)
{
    ASSERT_EQ(WinsockUsers.load(), 0);
    auto* first = new TPowersock(nullptr);
    auto* second = new TPowersock(nullptr);
    EXPECT_EQ(WinsockUsers.load(), 2);
    ASSERT_EQ(first->WSAInfo().Count(), 6);
    EXPECT_EQ(first->WSAInfo()[0], "Version= 1.1");
    EXPECT_EQ(first->WSAInfo()[4].rfind("Max Sockets= ", 0), 0u);
    EXPECT_EQ(second->WSAInfo().Count(), 0);
    EXPECT_EQ(ClassOf(first->MessageWindow()), "PsockWindowClass");
    EXPECT_NE(first->MessageWindow(), second->MessageWindow());
    EXPECT_NE(first->SocketHandle(), NoSocket);
    EXPECT_NE(first->SocketHandle(), second->SocketHandle());
    EXPECT_EQ(first->ReportLevel(), 0);
    EXPECT_EQ(first->TimeOut(), 0);
    EXPECT_FALSE(first->Connected());
    delete first;
    EXPECT_EQ(WinsockUsers.load(), 1);
    delete second;
    EXPECT_EQ(WinsockUsers.load(), 0);
}

BOOL CALLBACK CollectTopLevel(HWND Window, LPARAM Found)
{
    reinterpret_cast<std::vector<HWND>*>(Found)->push_back(Window);
    return TRUE;
}

// Each window is a hidden top-level one, there from construction (the timer's before it is
// armed): EnumWindows and FindWindow see it, which they never do a message-only window.
TEST(PsockStart, WindowsAreHiddenTopLevelWindowsFromConstruction)
{
    TPowersock sock(nullptr);
    TThreadTimer timer(nullptr);
    std::vector<HWND> topLevel;
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&topLevel));
    const struct {
        HWND window;
        const char* cls;
    } cases[] = {{sock.MessageWindow(), "PsockWindowClass"}, {timer.TimerWindow(), "TmrWindowClass"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cls);
        ASSERT_NE(c.window, nullptr);
        EXPECT_EQ(ClassOf(c.window), c.cls);
        EXPECT_NE(std::find(topLevel.begin(), topLevel.end(), c.window), topLevel.end());
        bool found = false;
        for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, c.cls, "")) != nullptr;) found = found || w == c.window;
        EXPECT_TRUE(found);
        EXPECT_EQ(GetAncestor(c.window, GA_PARENT), GetDesktopWindow());
        EXPECT_EQ(GetWindow(c.window, GW_OWNER), nullptr);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(c.window, GWL_STYLE)) & (WS_POPUP | WS_CHILD | WS_VISIBLE), DWORD(WS_POPUP));
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(c.window, GWL_EXSTYLE)) & WS_EX_TOOLWINDOW, DWORD(WS_EX_TOOLWINDOW));
        RECT r{};
        GetWindowRect(c.window, &r);
        EXPECT_EQ(r.right - r.left, 0);
        EXPECT_EQ(r.bottom - r.top, 0);
        EXPECT_EQ(GetWindowTextLengthA(c.window), 0);
    }
}

TEST_F(Psock, StatusTextsFollowTheReportLevel)
{
    const struct {
        int level;
        std::vector<std::string> want;
    } cases[] = {
        {0, {}},
        {1, {"250 ok\r\n"}},
        {4, {"Sending Buffer", "250 ok\r\n", "Request Close Socket"}},
        {8, {"Connecting", "Resolve Host", "Timer On", "Timer Off", "Transaction", "Writeln", "Write",
             "Sending Buffer", "Timer On", "Timer Off", "ReadLn", "Timer On", "Timer Off", "250 ok\r\n",
             "Disconnecting", "Request Close Socket"}},
    };
    for (const auto& c : cases) {
        TPeer peer([](TPeer& p) {
            p.RecvLine();
            p.Send("250 ok\r\n");
            p.Recv();
        });
        Sock->SetReportLevel(8);
        Sock->SetHost("127.0.0.1");
        Sock->SetPort(peer.Port());
        Sock->SetReportLevel(c.level);
        Statuses.clear();
        Sock->Connect();
        Sock->Transaction("NOOP");
        Sock->Disconnect();
        EXPECT_EQ(Statuses, c.want) << "level " << c.level;
    }
}

TEST_F(Psock, SocketErrorsFireOnErrorBeforeTheException)
{
    const struct {
        int code;
        const char* raised; // "" when nothing is raised
    } cases[] = {
        {0, ""},
        {WSAEWOULDBLOCK, ""},
        {9999, ""},
        {10000, ""},
        {WSAECONNRESET, "10054:Connection reset by peer"},
        {12000, "Unknown Error No. 12000"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> log;
        Sock->OnError = [&](TComponent* Sender, uint16_t Errno, const std::string& Text) {
            log.push_back((Sender == Sock ? "" : "?") + std::to_string(Errno) + " " + Text);
        };
        WSASetLastError(c.code);
        std::string msg = "left";
        const std::string raised = Raised<ESockError>([&] { Sock->ErrorManager(WSAEWOULDBLOCK, msg); });
        EXPECT_EQ(raised, c.raised) << c.code;
        EXPECT_EQ(Sock->LastErrorNo(), c.code);
        if (*c.raised) {
            EXPECT_EQ(log, std::vector<std::string>{std::to_string(c.code) + " " + c.raised});
        } else {
            EXPECT_TRUE(log.empty()) << c.code;
            EXPECT_EQ(msg, "");
        }
    }
    std::vector<std::string> log;
    Sock->OnError = [&](TComponent*, uint16_t Errno, const std::string& Text) { log.push_back(std::to_string(Errno) + Text); };
    Sock->SetWSAError(WSAECONNREFUSED, "");
    Sock->SetWSAError(10050, "own text");
    EXPECT_EQ(log, (std::vector<std::string>{"1006110061:Connection refused", "10050own text"}));
    EXPECT_EQ(WSAGetLastError(), 10050);
    std::string incoming = " for 10061";
    Sock->SocketErrorStr(10061, incoming);
    EXPECT_EQ(incoming, "10061:Connection refused");
    EXPECT_EQ(Count("Looking Up Error Message for 10061"), 1);
}

// ---------------------------------------------------------------------------------------------
// Connecting.

TEST_F(Psock, ConnectsAndTellsItsAddresses)
{
    TPeer peer([](TPeer& p) { p.Recv(); });
    int connects = 0;
    Sock->OnConnect = [&](TObject*) { ++connects; };
    ConnectTo(peer);
    EXPECT_TRUE(Sock->Connected());
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(Sock->GetRemoteIP(), "127.0.0.1");
    EXPECT_EQ(Sock->GetLocalAddress(), "127,0,0,1");
    const int port = LocalPort(Sock->SocketHandle());
    EXPECT_EQ(Sock->GetPortString(), "," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF));
    EXPECT_EQ(Raised<ESockError>([&] { Sock->Connect(); }), "Already connected");
    const std::string local_ip = Sock->GetLocalIP();
    EXPECT_TRUE(local_ip.empty() || inet_addr(local_ip.c_str()) != INADDR_NONE) << local_ip;
}

TEST_F(Psock, HostsAreLookedUpUnlessDottedAndOnInvalidHostIsAskedOnce)
{
    TPeer peer([](TPeer& p) { p.Recv(); }, 8); // accepts one; the other connections wait
    enum { None, TimeOut, Cancel };
    const struct {
        const char* host;
        int handler;       // -1 none, 0 leaves Handled, 1 sets it, 2 sets it and mends Host
        int during;        // what happens as the lookup's wait begins
        const char* raised; // "" for a connection
        int asks, resolved, timerOns;
    } cases[] = {
        {"127.0.0.1", -1, None, "", 0, 0, 1}, // the connect's own wait, no lookup
        {"localhost", -1, None, "", 0, 1, 2},
        {"no-such-host.invalid", -1, None, "Null Remote Address", 0, 0, 1},
        {"no-such-host.invalid", 0, None, "Null Remote Address", 1, 0, 1},
        {"no-such-host.invalid", 1, None, "Null Remote Address", 1, 0, 2},
        {"no-such-host.invalid", 2, None, "", 1, 0, 2},
        {"localhost", 1, TimeOut, "Host Lookup Timed Out", 0, 0, 1},
        {"localhost", 1, Cancel, "Host Lookup Canceled", 0, 0, 1},
        {"255.255.255.255", -1, None, "*", 0, 1, -1}, // INADDR_NONE is no dotted address
    };
    for (const auto& c : cases) {
        int asks = 0, resolved = 0;
        Sock->OnHostResolved = [&](TComponent*) { ++resolved; };
        Sock->OnInvalidHost = nullptr;
        if (c.handler >= 0) {
            Sock->OnInvalidHost = [&](bool& Handled) {
                ++asks;
                Handled = c.handler > 0;
                if (c.handler == 2) Sock->SetHost("127.0.0.1");
            };
        }
        // The time-out or a cancel is posted at the lookup's "Timer On": dispatched in the wait,
        // before the lookup's completion.
        std::optional<TLater> during;
        Statuses.clear();
        Sock->OnStatus = [&](TComponent*, const std::string& S) {
            Statuses.push_back(S);
            if (S == "Timer On" && c.during != None && !during) {
                during.emplace(0, [&] { c.during == TimeOut ? Sock->TimerFired(nullptr) : Sock->Cancel(); });
            }
        };
        Sock->SetHost(c.host);
        Sock->SetPort(peer.Port());
        Sock->SetTimeOut(1000);
        const std::string raised = Raised([&] { Sock->Connect(); });
        if (*c.raised == '*') {
            EXPECT_NE(raised, "") << c.host; // nothing listens on the broadcast address
            EXPECT_EQ(Sock->RemoteAddress().sin_addr.s_addr, INADDR_NONE);
        } else {
            EXPECT_EQ(raised, c.raised) << c.host << " " << c.handler;
        }
        EXPECT_EQ(asks, c.asks) << c.host << " " << c.handler;
        EXPECT_EQ(resolved, c.resolved) << c.host << " " << c.handler;
        if (c.timerOns >= 0) {
            EXPECT_EQ(Count("Timer On"), c.timerOns) << c.host << " " << c.handler;
        }
        EXPECT_EQ(Sock->TimedOut(), c.during == TimeOut);
        if (raised.empty()) {
            EXPECT_EQ(Sock->GetRemoteIP(), "127.0.0.1");
            Sock->Disconnect();
        }
    }
    // The lookups given up still complete, into buffers of their own.
    PumpFor(100);
}

TEST_F(Psock, RefusedConnectionFailsWithoutOnError)
{
    TPeer closed(nullptr);
    const int port = closed.Port();
    closesocket(closed.Listener()); // nothing listens there any more
    std::vector<std::string> log;
    Sock->OnError = [&](TComponent*, uint16_t, const std::string&) { log.push_back("error"); };
    Sock->OnConnectionFailed = [&](TObject*) { log.push_back("failed"); };
    Sock->SetLastErrorNo(4242);
    Sock->SetHost("127.0.0.1");
    Sock->SetPort(port);
    try {
        Sock->Connect();
        log.push_back("connected");
    } catch (const ESockError& e) {
        log.push_back(e.Message());
    }
    EXPECT_EQ(log, (std::vector<std::string>{"failed", "Connection Failed"}));
    EXPECT_EQ(Sock->LastErrorNo(), 4242);
    EXPECT_FALSE(Sock->Connected());
    // The failed attempt keeps its socket; the next Connect replaces it, as that socket would
    // take no second connect.
    const uint16_t refused = Sock->SocketHandle();
    PumpFor(30);
    EXPECT_EQ(Sock->SocketHandle(), refused);
    TPeer peer([](TPeer& p) { p.Send("second\r\n"); p.Recv(); });
    ConnectTo(peer);
    EXPECT_EQ(Sock->ReadLn(), "second\r\n");
}

// A peer that accepts and closes at once: its connect and close notices are handled in one pump
// (the wait starts only after both came), and the attempt fails at once, not at its time-out.
TEST_F(Psock, APeerThatClosesAsItAcceptsFailsTheConnectAtOnce)
{
    TPeer peer([](TPeer& p) { p.Close(); });
    std::vector<std::string> log;
    Sock->OnConnectionFailed = [&](TObject*) { log.push_back("failed"); };
    Sock->SetReportLevel(8);
    Sock->OnStatus = [](TComponent*, const std::string& S) {
        if (S == "Timer On") Sleep(300);
    };
    Sock->SetHost("127.0.0.1");
    Sock->SetPort(peer.Port());
    Sock->SetTimeOut(5000);
    const auto start = std::chrono::steady_clock::now();
    log.push_back(Raised<ESockError>([&] { Sock->Connect(); }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(log, (std::vector<std::string>{"failed", "Connection closed by the peer"}));
    EXPECT_FALSE(Sock->Connected() || Sock->TimedOut());
}

TEST_F(Psock, ConnectEndsByTimeOutOrCancel)
{
    // A listener whose queue is full: further connection requests are not answered.
    TPeer full(nullptr, 0);
    std::vector<SOCKET> fillers;
    for (int i = 0; i < 4; ++i) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        u_long on = 1;
        ioctlsocket(s, FIONBIO, &on);
        const sockaddr_in a = LoopbackAddress(full.Port());
        connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
        fillers.push_back(s);
    }
    Sleep(100);
    Sock->SetHost("127.0.0.1");
    Sock->SetPort(full.Port());
    Sock->SetTimeOut(1000);
    std::vector<std::string> log;
    Sock->OnConnectionFailed = [&](TObject*) { log.push_back("failed"); };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Raised<ESockError>([&] { Sock->Connect(); }), "Connection Timed out");
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::seconds(10));
    EXPECT_TRUE(Sock->TimedOut());
    Sock->Disconnect();

    Sock->SetTimeOut(0);
    const TLater cancel(150, [&] { Sock->Cancel(); });
    EXPECT_EQ(Raised<ESockError>([&] { Sock->Connect(); }), "Connection Canceled");
    EXPECT_EQ(log, (std::vector<std::string>{"failed", "failed"}));
    for (SOCKET s : fillers) closesocket(s);
}

TEST_F(Psock, NoticesFireTheirEventsAndHandlerFaultsStayInside)
{
    const struct {
        UINT msg;
        WORD event, error;
        const char* fired; // events, in order
        bool connected;
    } cases[] = {
        {CM_SOCKETMESSAGE, FD_READ, 0, "data", false},
        {CM_SOCKETMESSAGE, FD_OOB, 0, "", false},
        {CM_SOCKETMESSAGE, FD_CONNECT, WSAECONNREFUSED, "", false},
        {CM_SOCKETMESSAGE, FD_CONNECT, 0, "connect", true},
        {CM_SOCKETMESSAGE, FD_ACCEPT, 0, "accept", true},
        {CM_LOOKUPMESSAGE, FD_ACCEPT, 0, "disconnect", true}, // an accept reported on the second number
    };
    for (const auto& c : cases) {
        std::string fired;
        const auto record = [&](const char* What) {
            return [&fired, What](TObject*) {
                fired += What;
                throw Exception("handler fault");
            };
        };
        Sock->OnDataAvailable = record("data");
        Sock->OnConnect = record("connect");
        Sock->OnAccept = record("accept");
        Sock->OnDisconnect = record("disconnect");
        PostMessageA(Sock->MessageWindow(), c.msg, Sock->SocketHandle(), MAKELPARAM(c.event, c.error));
        PumpFor(30);
        EXPECT_EQ(fired, c.fired) << c.msg << "/" << c.event;
        EXPECT_EQ(Sock->Connected(), c.connected) << c.msg << "/" << c.event;
        Sock->OnDisconnect = nullptr;
        Sock->Disconnect();
    }
    EXPECT_EQ(SendMessageA(Sock->MessageWindow(), WM_USER, 0, 0), 0); // below the socket messages
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(Psock, ProxyIsConnectedToInsteadOfTheHost)
{
    TPeer proxy([](TPeer& p) { p.Send("via proxy\r\n"); p.Recv(); });
    Sock->SetHost("no-such-host.invalid");
    Sock->SetPort(1);
    Sock->SetProxy("127.0.0.1");
    Sock->SetProxyPort(static_cast<uint16_t>(proxy.Port()));
    Sock->Connect();
    EXPECT_EQ(ntohs(Sock->RemoteAddress().sin_port), proxy.Port());
    EXPECT_EQ(Sock->ReadLn(), "via proxy\r\n");
}

TEST_F(Psock, CertifyConnectAsksOnceAndRaisesThePlainException)
{
    TPeer peer([](TPeer& p) { p.Recv(); });
    const struct {
        int mode; // 0 no handler, 1 not handled, 2 handled without connecting, 3 connects
        const char* raised;
    } cases[] = {{0, "Not Connected"}, {1, "Not Connected"}, {2, "Not Connected"}, {3, ""}};
    for (const auto& c : cases) {
        int asks = 0;
        Sock->OnConnectionRequired = nullptr;
        if (c.mode > 0) {
            Sock->OnConnectionRequired = [&](bool& Handled) {
                ++asks;
                Handled = c.mode >= 2;
                if (c.mode == 3) ConnectTo(peer);
            };
        }
        std::string raised;
        try {
            Sock->CertifyConnect();
        } catch (const ESockError&) {
            raised = "ESockError";
        } catch (const Exception& e) {
            raised = e.Message();
        }
        EXPECT_EQ(raised, c.raised) << c.mode;
        EXPECT_EQ(asks, c.mode > 0 ? 1 : 0);
    }
}

TEST_F(Psock, DisconnectGivesAFreshSocketThatConnectsAgain)
{
    {
        TPeer peer([](TPeer& p) { p.Recv(); });
        int disconnects = 0;
        Sock->OnDisconnect = [&](TObject*) { ++disconnects; };
        ConnectTo(peer);
        Sock->Disconnect();
        EXPECT_EQ(disconnects, 1);
        EXPECT_FALSE(Sock->Connected());
        EXPECT_NE(Sock->SocketHandle(), NoSocket);
    }
    TPeer again([](TPeer& p) { p.Send("hello again\r\n"); p.Recv(); });
    ConnectTo(again);
    EXPECT_EQ(Sock->ReadLn(), "hello again\r\n");
}

TEST_F(Psock, DestroyingAConnectedComponentFiresNothing)
{
    TPeer peer([](TPeer& p) { p.Recv(); });
    auto* sock = new TPowersock(nullptr);
    int fired = 0;
    sock->SetReportLevel(8);
    sock->SetHost("127.0.0.1");
    sock->SetPort(peer.Port());
    sock->Connect();
    sock->OnDisconnect = [&](TObject*) { ++fired; };
    sock->OnStatus = [&](TComponent*, const std::string&) { ++fired; };
    delete sock;
    EXPECT_EQ(fired, 0);
}

// ---------------------------------------------------------------------------------------------
// Lines and replies.

TEST_F(Psock, GreetingAndMultiLineReplies)
{
    TPeer peer([](TPeer& p) {
        p.Send("220-first\r\n220-second\r\n220 last\r\n");
        p.RecvLine();
        p.Send("250-a\r\n250 b\r\n");
        p.RecvLine();
        p.Send("no number\r\n");
        p.RecvLine();
        p.Send("65536 too big\r\n");
        p.RecvLine();
        p.Close();
    });
    ConnectTo(peer);
    EXPECT_EQ(Sock->ReadLn(), "220-first\r\n");
    EXPECT_EQ(Sock->ReadLn(), "220-second\r\n");
    EXPECT_EQ(Sock->ReadLn(), "220 last\r\n");
    EXPECT_EQ(Sock->Transaction("EHLO x"), "250-a\r\n");
    EXPECT_EQ(Sock->ReplyNumber(), 250);
    EXPECT_EQ(Sock->ReadLn(), "250 b\r\n");
    EXPECT_EQ(Sock->Transaction("NOOP"), "no number\r\n");
    EXPECT_EQ(Sock->ReplyNumber(), 0);
    EXPECT_THROW(Sock->Transaction("BIG"), ERangeError);
    EXPECT_EQ(Sock->TransactionReply(), "65536 too big\r\n");
    Sock->SetReportLevel(1);
    Statuses.clear();
    EXPECT_EQ(Sock->Transaction("QUIT"), ""); // closed
    EXPECT_EQ(Sock->ReplyNumber(), 0);
    EXPECT_EQ(Sock->TransactionReply(), "");
    EXPECT_TRUE(Statuses.empty());
    EXPECT_EQ(peer.Finish(), "EHLO x\r\nNOOP\r\nBIG\r\nQUIT\r\n");
}

TEST_F(Psock, LinesArriveInPiecesAndWhatFollowsStays)
{
    TPeer peer([](TPeer& p) {
        for (const char* piece : {"25", "0 o", "k\r", "\nA\r\nB", "C", "\r\n", "abc"}) {
            p.Send(piece);
            Sleep(40);
        }
        Sleep(100);
        p.Send("defg");
        p.Recv();
    });
    ConnectTo(peer);
    EXPECT_EQ(Sock->ReadLn(), "250 ok\r\n");
    EXPECT_EQ(Sock->ReadLn(), "A\r\n");
    EXPECT_TRUE(PumpUntil([&] { return Sock->DataAvailable(); }));
    EXPECT_EQ(Sock->Read(1), "B");
    EXPECT_EQ(Sock->ReadLn(), "C\r\n");
    EXPECT_EQ(Sock->Read(5), "abcde"); // waits for the rest, then leaves what follows
    EXPECT_EQ(Sock->Read(0), "fg");
    EXPECT_EQ(Count("Read( 5 )"), 1);
}

TEST_F(Psock, WritesSendTheTextUpToItsFirstZeroByte)
{
    TPeer peer([](TPeer& p) {
        p.Recv(6 + 65535);
        p.Send("done\r\n");
        p.Recv();
    });
    ConnectTo(peer);
    Sock->Writeln("");
    Sock->Write(std::string("ab\0cd", 5));
    const char raw[] = "xyz";
    Sock->SendBuffer(raw, 2);
    Sock->Write(std::string(65535, 'b'));
    EXPECT_EQ(Sock->ReadLn(), "done\r\n");
    Sock->Disconnect();
    EXPECT_EQ(peer.Finish(), "\r\nabxy" + std::string(65535, 'b'));
}

TEST_F(Psock, CountsThatDoNotFitTheirWidthAreRangeErrors)
{
    TPeer peer([](TPeer& p) {
        p.Send(std::string(70000, 'w'));
        p.Recv();
    });
    ConnectTo(peer);
    ASSERT_TRUE(PumpUntil([&] {
        char buffer[65536];
        return recv(Sock->SocketHandle(), buffer, sizeof buffer, MSG_PEEK) == 65536;
    }));
    const char raw[] = "xyz";
    const struct {
        const char* what;
        std::function<void()> run;
    } cases[] = {
        {"Write of 65,536", [&] { Sock->Write(std::string(65536, 'a')); }},
        {"SendBuffer of 65,536", [&] { Sock->SendBuffer(raw, 65536); }},
        {"SendBuffer of -1", [&] { Sock->SendBuffer(raw, -1); }},
        {"Read of 65,536", [&] { Sock->Read(65536); }},
        {"Read of -1", [&] { Sock->Read(-1); }},
        {"negative time-out", [&] { Sock->SetTimeOut(-1); Sock->ReadLn(); }},
        {"host name of 65,537", [&] { Sock->Disconnect(); Sock->SetHost(std::string(65537, 'h')); Sock->Connect(); }},
    };
    for (const auto& c : cases) {
        EXPECT_THROW(c.run(), ERangeError) << c.what;
    }
}


} // namespace
