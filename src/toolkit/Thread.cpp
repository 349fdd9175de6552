#include "toolkit/Thread.h"

TThread::TThread() = default;

TThread::~TThread()
{
    if (!FThread.joinable()) {
        return;
    }
    if (FThread.get_id() == std::this_thread::get_id()) {
        FThread.detach(); // freed by its own thread, which ends right after
    } else {
        FThread.join();
    }
}

void TThread::Resume()
{
    const std::lock_guard<std::mutex> started(FStartLock);
    if (FStarted) {
        return;
    }
    FStarted = true;
    FThread = std::thread([this] { Run(); });
}

void TThread::WaitFor()
{
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) {
        FThread.join();
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
