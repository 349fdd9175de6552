// The class library's thread: a portable wrapper of one system thread that runs Execute of a
// derived class. Portable: no platform header is included here.
#pragma once

#include <atomic>
#include <exception>
#include <mutex>
#include <thread>

#include "toolkit/Classes.h"

// One system thread. Win32 starts it with the system's own call: through the C++ runtime's
// thread layer a start costs the starting thread about a third more (measured under Wine),
// which a listening server pays on its GUI thread for every client.
class TSystemThread {
public:
    TSystemThread() noexcept = default;
    // A thread still running is let go.
    ~TSystemThread();
    TSystemThread(const TSystemThread&) = delete;
    TSystemThread& operator=(const TSystemThread&) = delete;

    // Runs Entry(Argument) on a new thread; std::system_error when the system makes none.
    void Start(void (*Entry)(void*), void* Argument);
    bool Joinable() const noexcept;
    bool IsCurrent() const noexcept;
    void Join();
    void Detach() noexcept;

private:
#ifdef _WIN32
    void* FHandle = nullptr;
    unsigned long FId = 0;
#else
    std::thread FThread;
#endif
};

// Created suspended: Resume starts the system thread, which runs Execute once. The object
// outlives the system thread unless FreeOnTerminate is set, in which case the thread deletes it
// right after Execute (it must then be created with new, and nobody else may delete it).
//
// An exception that leaves Execute ends the thread quietly; FatalException keeps it for whoever
// looks after the thread is Finished.
class TThread : public TObject {
public:
    TThread();
    // Waits for a started thread to end (Terminate first, when Execute watches Terminated); on
    // the thread itself (FreeOnTerminate) it lets the system thread go instead. A derived class
    // whose Execute uses its own members calls WaitFor in its destructor, before they go.
    ~TThread() override;

    // Starts the thread; later calls do nothing.
    void Resume();
    // Asks Execute to end: it is expected to watch Terminated.
    void Terminate() noexcept { FTerminated = true; }
    // Blocks until Execute has returned; at once when the thread never started.
    void WaitFor();

    bool Suspended() const noexcept { return !FStarted; }
    bool Terminated() const noexcept { return FTerminated; }
    bool Finished() const noexcept { return FFinished; }
    bool FreeOnTerminate() const noexcept { return FFreeOnTerminate; }
    // Set before Resume.
    void SetFreeOnTerminate(bool Value) noexcept { FFreeOnTerminate = Value; }
    std::exception_ptr FatalException() const noexcept { return FFatalException; }

protected:
    virtual void Execute() = 0;

private:
    void Run() noexcept;
    static void Entry(void* Thread) noexcept;

    // Held by Resume until FThread is assigned: the thread (which may free the object) starts
    // its work only then.
    std::mutex FStartLock;
    TSystemThread FThread;
    bool FStarted = false;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FFreeOnTerminate{false};
    std::exception_ptr FFatalException;
};
