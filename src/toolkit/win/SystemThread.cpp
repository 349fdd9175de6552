// The Win32 system thread under TThread (part of the portable toolkit library in the windows
// build; see Thread.h).
#include "toolkit/Thread.h"

#include "toolkit/win/Win.h"

#include <memory>
#include <system_error>

namespace {

struct TStart {
    void (*Entry)(void*);
    void* Argument;
};

DWORD WINAPI Begin(void* Start)
{
    const TStart start = *static_cast<TStart*>(Start);
    delete static_cast<TStart*>(Start);
    start.Entry(start.Argument);
    return 0;
}

} // namespace

TSystemThread::~TSystemThread()
{
    Detach();
}

void TSystemThread::Start(void (*Entry)(void*), void* Argument)
{
    auto start = std::make_unique<TStart>(TStart{Entry, Argument});
    DWORD id = 0;
    const HANDLE thread = CreateThread(nullptr, 0, Begin, start.get(), 0, &id);
    if (thread == nullptr) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreateThread");
    }
    (void)start.release(); // the thread's now
    FHandle = thread;
    FId = id;
}

bool TSystemThread::Joinable() const noexcept
{
    return FHandle != nullptr;
}

bool TSystemThread::IsCurrent() const noexcept
{
    return FId == GetCurrentThreadId();
}

void TSystemThread::Join()
{
    WaitForSingleObject(FHandle, INFINITE);
    Detach();
}

void TSystemThread::Detach() noexcept
{
    if (FHandle != nullptr) {
        CloseHandle(FHandle);
        FHandle = nullptr;
        FId = 0;
    }
}
