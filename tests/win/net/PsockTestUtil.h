// The socket-layer tests' peers and helpers: scripted loopback peers on a thread of the test
// (plain blocking sockets, doing what a real server would and what it would not: silence, floods,
// drips, half lines, resets), handlers run from the message loop, and the component's fixture.
#pragma once

#include <gtest/gtest.h>

#include "toolkit/win/Win.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "toolkit/win/Forms.h"
#include "toolkit/win/HiddenWindow.h"
#include "net/win/Psock.h"
#include "Loopback.h"

namespace psocktest {

inline void StartSockets()
{
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        WSAStartup(0x0202, &data);
    });
}

// One connection accepted on 127.0.0.1 and served by Script on its own thread. Its waits look
// at the clock between short selects, so that the end of the test ends them.
class TPeer {
public:
    explicit TPeer(std::function<void(TPeer&)> Script, int Backlog = 1)
    {
        StartSockets();
        FListener = ListenOnLoopback(Backlog, FPort);
        if (Script) {
            FThread = std::thread([this, Script] {
                if (Readable(FListener)) {
                    FConn = accept(FListener, nullptr, nullptr);
                    Script(*this);
                }
                Close();
            });
        }
    }
    ~TPeer()
    {
        FEnding = true;
        Finish();
        closesocket(FListener);
    }
    int Port() const { return FPort; }
    SOCKET Listener() const { return FListener; }
    // Waits for the script to end; what it read.
    const std::string& Finish()
    {
        if (FThread.joinable()) FThread.join();
        return Received;
    }

    // All of S (a blocking send may take less than it is given); false once the connection or
    // the test has ended.
    bool Send(const std::string& S)
    {
        for (std::size_t at = 0; at < S.size();) {
            const int n = send(FConn, S.data() + at, static_cast<int>(S.size() - at), 0);
            if (n <= 0) return false;
            at += static_cast<std::size_t>(n);
        }
        return !FEnding;
    }
    // Up to Count bytes, through the first LF when Line, or until the connection ends.
    std::string Recv(std::size_t Count = SIZE_MAX, bool Line = false)
    {
        std::string got;
        char buffer[4096];
        int n = 0;
        while (got.size() < Count && Readable(FConn) &&
               (n = recv(FConn, buffer, Line ? 1 : static_cast<int>(std::min(Count - got.size(), sizeof buffer)), 0)) > 0) {
            got.append(buffer, static_cast<std::size_t>(n));
            if (Line && buffer[0] == '\n') break;
        }
        Received += got;
        return got;
    }
    std::string RecvLine() { return Recv(SIZE_MAX, true); }
    // Keeps the connection open, reading nothing, until the test ends.
    void Hold()
    {
        while (!FEnding) Sleep(5);
    }
    void Close()
    {
        if (FConn != INVALID_SOCKET) closesocket(FConn);
        FConn = INVALID_SOCKET;
    }
    // Closes with a reset instead of the orderly end.
    void Reset()
    {
        linger off{1, 0};
        setsockopt(FConn, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&off), sizeof off);
        Close();
    }
    std::string Received;

private:
    // False once the test ends first.
    bool Readable(SOCKET S) const
    {
        while (!FEnding) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(S, &set);
            timeval wait{0, 20000};
            if (select(0, &set, nullptr, nullptr, &wait) != 0) return true;
        }
        return false;
    }
    std::atomic<bool> FEnding{false};
    SOCKET FListener = INVALID_SOCKET;
    SOCKET FConn = INVALID_SOCKET;
    int FPort = 0;
    std::thread FThread;
};

// Runs Action from the message loop, as a handler of the program would: after Ms milliseconds,
// or (0) when a message posted now is dispatched, before anything posted later.
class TLater {
public:
    TLater(UINT Ms, std::function<void()> Action)
    {
        FAction = std::move(Action);
        Ms != 0 ? (void)SetTimer(Window(), 1, Ms, nullptr) : (void)PostMessageA(Window(), WM_APP, 0, 0);
    }
    ~TLater()
    {
        KillTimer(Window(), 1);
        FAction = nullptr;
    }

private:
    static LRESULT CALLBACK Proc(HWND W, UINT Msg, WPARAM wParam, LPARAM lParam)
    {
        if ((Msg == WM_APP || Msg == WM_TIMER) && FAction) {
            KillTimer(W, 1);
            std::exchange(FAction, nullptr)();
            return 0;
        }
        return DefWindowProcA(W, Msg, wParam, lParam);
    }
    static HWND Window()
    {
        static const HWND window = [] {
            WNDCLASSA wc{};
            wc.lpfnWndProc = Proc;
            wc.hInstance = GetModuleHandleA(nullptr);
            wc.lpszClassName = "PsockTestLater";
            RegisterClassA(&wc);
            return CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
        }();
        return window;
    }
    static inline std::function<void()> FAction;
};

inline void PumpFor(DWORD Ms)
{
    const DWORD start = GetTickCount();
    for (DWORD passed = 0; passed < Ms; passed = GetTickCount() - start) PsockWait(Ms - passed);
}
// What Done looks at may be changed by a peer's thread, which posts nothing: looked at again
// every 10 ms.
template <typename Pred>
bool PumpUntil(Pred Done, DWORD Ms = 3000)
{
    const DWORD start = GetTickCount();
    while (!Done()) {
        if (GetTickCount() - start > Ms) return false;
        PsockWait(10);
    }
    return true;
}

inline std::vector<std::string> Boxes;
inline int RecordBox(HWND, const std::string& Text, const std::string&, UINT)
{
    Boxes.push_back(Text);
    return IDOK;
}

inline std::string ClassOf(HWND Window)
{
    char name[64] = {};
    GetClassNameA(Window, name, sizeof name);
    return name;
}

// The component with the internals its tests drive directly.
class TTestSock : public TPowersock {
public:
    using TPowersock::TPowersock;
    using TPowersock::ErrorManager;
    using TPowersock::SetWSAError;
    using TPowersock::SocketErrorStr;
    using TPowersock::TimerFired;
    using TPowersock::Close;
};

class Psock : public ::testing::Test {
protected:
    void SetUp() override
    {
        Boxes.clear();
        MessageBoxFunc = RecordBox;
        Sock = new TTestSock(nullptr);
        Sock->SetReportLevel(8);
        Sock->SetTimeOut(3000); // a fault shows as a failure, not as a hung run
        Sock->OnStatus = [this](TComponent*, const std::string& S) { Statuses.push_back(S); };
    }
    void TearDown() override
    {
        delete Sock;
        MessageBoxFunc = SystemMessageBox;
    }
    void ConnectTo(const TPeer& Peer)
    {
        Sock->SetHost("127.0.0.1");
        Sock->SetPort(Peer.Port());
        Sock->Connect();
    }
    // The exception text of F, or "" when it raised nothing.
    template <typename E = Exception, typename F>
    static std::string Raised(F&& f)
    {
        try {
            f();
        } catch (const E& e) {
            return e.Message();
        }
        return "";
    }
    int Count(const std::string& Status) const
    {
        return static_cast<int>(std::count(Statuses.begin(), Statuses.end(), Status));
    }

    TTestSock* Sock = nullptr;
    std::vector<std::string> Statuses;
};

inline std::string TempFile(const std::string& Name, const std::string& Content)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const std::string path = std::string(folder) + "psock_" + std::to_string(now.QuadPart) + "_" + Name;
    std::ofstream(path, std::ios::binary) << Content;
    return path;
}
inline std::string FileContent(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
inline std::string Pattern(std::size_t Size)
{
    std::string s(Size, '\0');
    for (std::size_t i = 0; i < Size; ++i) s[i] = static_cast<char>(i * 7 + i / 251);
    return s;
}

} // namespace psocktest
