#include "toolkit/Thread.h"

#ifndef _WIN32
// The Win32 start is in win/SystemThread.cpp.
TSystemThread::~TSystemThread()
{
    Detach();
}

void TSystemThread::Start(void (*Entry)(void*), void* Argument)
{
    FThread = std::thread(Entry, Argument);
}

bool TSystemThread::Joinable() const noexcept
{
    return FThread.joinable();
}

bool TSystemThread::IsCurrent() const noexcept
{
    return FThread.get_id() == std::this_thread::get_id();
}

void TSystemThread::Join()
{
    FThread.join();
}

void TSystemThread::Detach() noexcept
{
    if (FThread.joinable()) {
        FThread.detach();
    }
}
#endif

TThread::TThread() = default;

TThread::~TThread()
{
    if (!FThread.Joinable()) {
        return;
    }
    if (FThread.IsCurrent()) {
        FThread.Detach(); // freed by its own thread, which ends right after
    } else {
        FThread.Join();
    }
}

void TThread::Resume()
{
    const std::lock_guard<std::mutex> started(FStartLock);
    if (FStarted) {
        return;
    }
    FStarted = true;
    FThread.Start(Entry, this);
}

void TThread::Entry(void* Thread) noexcept
{
    static_cast<TThread*>(Thread)->Run();
}

void TThread::WaitFor()
{
    if (FThread.Joinable() && !FThread.IsCurrent()) {
        FThread.Join();
    }
}

void TThread::Run() noexcept
{
    {
        const std::lock_guard<std::mutex> started(FStartLock);
    }
    try {
        Execute();
    } catch (...) {
        FFatalException = std::current_exception();
    }
    FFinished = true;
    if (FFreeOnTerminate) {
        delete this;
    }
}
