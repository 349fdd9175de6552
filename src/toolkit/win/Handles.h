// One owner for every kind of handle the program takes from the system. Each holder frees its
// handle exactly once, on every way out of the scope that holds it; nothing is freed by hand.
#pragma once

#include "toolkit/win/Win.h"

#include <imm.h>
#include <objbase.h>
#include <wincrypt.h>
#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#include <sspi.h>

#include <utility>

// A move-only owner of one handle. Traits give the handle type, its empty value, what counts as
// empty (some kinds have two) and how it is freed.
template <typename Traits>
class TUniqueHandle {
public:
    using THandle = typename Traits::THandle;

    TUniqueHandle() noexcept = default;
    explicit TUniqueHandle(THandle Handle) noexcept : FHandle(Handle) {}
    ~TUniqueHandle() { Reset(); }
    TUniqueHandle(TUniqueHandle&& Other) noexcept : FHandle(Other.Release()) {}
    TUniqueHandle& operator=(TUniqueHandle&& Other) noexcept
    {
        if (this != &Other) Reset(Other.Release());
        return *this;
    }
    TUniqueHandle(const TUniqueHandle&) = delete;
    TUniqueHandle& operator=(const TUniqueHandle&) = delete;

    THandle Get() const noexcept { return FHandle; }
    explicit operator bool() const noexcept { return Traits::Valid(FHandle); }
    // Gives the handle up without freeing it.
    THandle Release() noexcept { return std::exchange(FHandle, Traits::Empty()); }
    void Reset(THandle Handle = Traits::Empty()) noexcept
    {
        const THandle old = std::exchange(FHandle, Handle);
        if (Traits::Valid(old)) Traits::Free(old);
    }
    // For an API that returns the handle through a pointer: frees the held one first.
    THandle* Put() noexcept
    {
        Reset();
        return &FHandle;
    }

private:
    THandle FHandle = Traits::Empty();
};

namespace HandleTraits {

template <typename H, auto FreeFunction>
struct TNullEmpty {
    using THandle = H;
    static constexpr THandle Empty() noexcept { return nullptr; }
    static bool Valid(THandle Handle) noexcept { return Handle != nullptr; }
    static void Free(THandle Handle) noexcept { FreeFunction(Handle); }
};

// Kernel objects: the functions that make them fail with either null or INVALID_HANDLE_VALUE.
struct TKernel {
    using THandle = HANDLE;
    static THandle Empty() noexcept { return nullptr; }
    static bool Valid(THandle Handle) noexcept { return Handle != nullptr && Handle != INVALID_HANDLE_VALUE; }
    static void Free(THandle Handle) noexcept { CloseHandle(Handle); }
};

struct TFind {
    using THandle = HANDLE;
    static THandle Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static bool Valid(THandle Handle) noexcept { return Handle != INVALID_HANDLE_VALUE && Handle != nullptr; }
    static void Free(THandle Handle) noexcept { FindClose(Handle); }
};

struct TSocket {
    using THandle = SOCKET;
    static constexpr THandle Empty() noexcept { return INVALID_SOCKET; }
    static bool Valid(THandle Handle) noexcept { return Handle != INVALID_SOCKET; }
    static void Free(THandle Handle) noexcept { closesocket(Handle); }
};

// SSPI credential and context handles are two-word values whose empty value is -1 in both.
template <typename H, auto FreeFunction>
struct TSspi {
    using THandle = H;
    static THandle Empty() noexcept { return THandle{~ULONG_PTR{0}, ~ULONG_PTR{0}}; }
    static bool Valid(THandle Handle) noexcept { return Handle.dwLower != ~ULONG_PTR{0} && Handle.dwUpper != ~ULONG_PTR{0}; }
    static void Free(THandle Handle) noexcept { FreeFunction(&Handle); }
};

inline void FreeRegKey(HKEY Key) noexcept { RegCloseKey(Key); }
inline void FreeGdiObject(HGDIOBJ Object) noexcept { DeleteObject(Object); }
inline void FreeMemoryDC(HDC DC) noexcept { DeleteDC(DC); }
inline void FreeWindow(HWND Window) noexcept { DestroyWindow(Window); }
inline void FreeCoTaskMem(void* Memory) noexcept { CoTaskMemFree(Memory); }
inline void FreeLocalMem(void* Memory) noexcept { LocalFree(Memory); }
inline void FreeCertContext(PCCERT_CONTEXT Context) noexcept { CertFreeCertificateContext(Context); }
inline void FreeCertStore(HCERTSTORE Store) noexcept { CertCloseStore(Store, 0); }
inline void FreeCertChain(PCCERT_CHAIN_CONTEXT Chain) noexcept { CertFreeCertificateChain(Chain); }
inline void FreeCertChainEngine(HCERTCHAINENGINE Engine) noexcept { CertFreeCertificateChainEngine(Engine); }
inline void FreeSspiBuffer(void* Buffer) noexcept { FreeContextBuffer(Buffer); }
inline void FreeCredentials(PCredHandle Handle) noexcept { FreeCredentialsHandle(Handle); }
inline void FreeSecurityContext(PCtxtHandle Handle) noexcept { DeleteSecurityContext(Handle); }
inline void FreeLoadedLibrary(HMODULE Module) noexcept { FreeLibrary(Module); }

} // namespace HandleTraits

// A key opened or created by the registry functions; the predefined root keys are never held.
using TRegKey = TUniqueHandle<HandleTraits::TNullEmpty<HKEY, HandleTraits::FreeRegKey>>;
using TKernelHandle = TUniqueHandle<HandleTraits::TKernel>;
using TFindHandle = TUniqueHandle<HandleTraits::TFind>;
using TSocketHandle = TUniqueHandle<HandleTraits::TSocket>;
// A window this thread created; it must be destroyed by the same thread.
using TWindowHandle = TUniqueHandle<HandleTraits::TNullEmpty<HWND, HandleTraits::FreeWindow>>;
template <typename H>
using TGdiHandle = TUniqueHandle<HandleTraits::TNullEmpty<H, HandleTraits::FreeGdiObject>>;
using TFontHandle = TGdiHandle<HFONT>;
using TBrushHandle = TGdiHandle<HBRUSH>;
using TBitmapHandle = TGdiHandle<HBITMAP>;
using TPenHandle = TGdiHandle<HPEN>;
// A DC from CreateCompatibleDC.
using TMemoryDC = TUniqueHandle<HandleTraits::TNullEmpty<HDC, HandleTraits::FreeMemoryDC>>;

// A library loaded at run time (LoadLibraryA), for a system service that older systems lack.
using TModuleHandle = TUniqueHandle<HandleTraits::TNullEmpty<HMODULE, HandleTraits::FreeLoadedLibrary>>;

// Memory a system function allocated with LocalAlloc for the caller (CRYPT_DECODE_ALLOC_FLAG).
template <typename T>
using TLocalMem = TUniqueHandle<HandleTraits::TNullEmpty<T*, HandleTraits::FreeLocalMem>>;
// Certificates (crypt32): a certificate, a store, a built chain, a chain engine of our own.
using TCertContext = TUniqueHandle<HandleTraits::TNullEmpty<PCCERT_CONTEXT, HandleTraits::FreeCertContext>>;
using TCertStore = TUniqueHandle<HandleTraits::TNullEmpty<HCERTSTORE, HandleTraits::FreeCertStore>>;
using TCertChain = TUniqueHandle<HandleTraits::TNullEmpty<PCCERT_CHAIN_CONTEXT, HandleTraits::FreeCertChain>>;
using TCertChainEngine = TUniqueHandle<HandleTraits::TNullEmpty<HCERTCHAINENGINE, HandleTraits::FreeCertChainEngine>>;
// SSPI (secur32): credentials, a security context, and a buffer the package allocated.
using TCredentials = TUniqueHandle<HandleTraits::TSspi<CredHandle, HandleTraits::FreeCredentials>>;
using TSecurityContext = TUniqueHandle<HandleTraits::TSspi<CtxtHandle, HandleTraits::FreeSecurityContext>>;
using TSspiBuffer = TUniqueHandle<HandleTraits::TNullEmpty<void*, HandleTraits::FreeSspiBuffer>>;

// Memory the shell or COM allocated for the caller (an item list, a string), freed with
// CoTaskMemFree.
template <typename T>
using TCoTaskMem = TUniqueHandle<HandleTraits::TNullEmpty<T*, HandleTraits::FreeCoTaskMem>>;

// A DC from GetDC, released to the window it came from (null: the screen).
class TWindowDC {
public:
    explicit TWindowDC(HWND Window) noexcept : FWindow(Window), FDC(GetDC(Window)) {}
    ~TWindowDC()
    {
        if (FDC != nullptr) ReleaseDC(FWindow, FDC);
    }
    TWindowDC(const TWindowDC&) = delete;
    TWindowDC& operator=(const TWindowDC&) = delete;
    HDC Get() const noexcept { return FDC; }
    explicit operator bool() const noexcept { return FDC != nullptr; }

private:
    HWND FWindow;
    HDC FDC;
};

// BeginPaint / EndPaint around a WM_PAINT handler, also when the painting raises.
class TPaintDC {
public:
    explicit TPaintDC(HWND Window) noexcept : FWindow(Window) { FDC = BeginPaint(Window, &FPaint); }
    ~TPaintDC() { EndPaint(FWindow, &FPaint); }
    TPaintDC(const TPaintDC&) = delete;
    TPaintDC& operator=(const TPaintDC&) = delete;
    HDC Get() const noexcept { return FDC; }
    const PAINTSTRUCT& Paint() const noexcept { return FPaint; }

private:
    HWND FWindow;
    PAINTSTRUCT FPaint{};
    HDC FDC = nullptr;
};

// An object selected into a DC for the holder's lifetime; the previous one is selected back.
class TSelectedObject {
public:
    TSelectedObject(HDC DC, HGDIOBJ Object) noexcept : FDC(DC), FOld(SelectObject(DC, Object)) {}
    ~TSelectedObject()
    {
        if (FOld != nullptr && FOld != HGDI_ERROR) SelectObject(FDC, FOld);
    }
    TSelectedObject(const TSelectedObject&) = delete;
    TSelectedObject& operator=(const TSelectedObject&) = delete;

private:
    HDC FDC;
    HGDIOBJ FOld;
};

// CoInitialize for the holder's lifetime: balanced only when it succeeded (S_FALSE, "already
// initialised", included, which still has to be matched by CoUninitialize).
class TComInitialization {
public:
    TComInitialization() noexcept : FCode(CoInitialize(nullptr)) {}
    ~TComInitialization()
    {
        if (SUCCEEDED(FCode)) CoUninitialize();
    }
    TComInitialization(const TComInitialization&) = delete;
    TComInitialization& operator=(const TComInitialization&) = delete;
    HRESULT Code() const noexcept { return FCode; }

private:
    HRESULT FCode;
};

// One reference to a COM interface, released on every way out. Declare it after the
// TComInitialization it lives in, so it is released before the apartment goes.
template <typename T>
class TComRef {
public:
    TComRef() noexcept = default;
    ~TComRef()
    {
        if (FPtr != nullptr) FPtr->Release();
    }
    TComRef(const TComRef&) = delete;
    TComRef& operator=(const TComRef&) = delete;
    // For the out parameter of CoCreateInstance / QueryInterface: releases a held reference first.
    void** Put() noexcept
    {
        if (FPtr != nullptr) std::exchange(FPtr, nullptr)->Release();
        return reinterpret_cast<void**>(&FPtr);
    }
    T* Get() const noexcept { return FPtr; }
    T* operator->() const noexcept { return FPtr; }
    explicit operator bool() const noexcept { return FPtr != nullptr; }

private:
    T* FPtr = nullptr;
};

// The input context of a window (ImmGetContext), released to the window again; empty when the
// window has no input method.
class TInputContext {
public:
    explicit TInputContext(HWND Window) noexcept : FWindow(Window), FContext(ImmGetContext(Window)) {}
    ~TInputContext()
    {
        if (FContext != nullptr) ImmReleaseContext(FWindow, FContext);
    }
    TInputContext(const TInputContext&) = delete;
    TInputContext& operator=(const TInputContext&) = delete;
    HIMC Get() const noexcept { return FContext; }
    explicit operator bool() const noexcept { return FContext != nullptr; }

private:
    HWND FWindow;
    HIMC FContext;
};

// System timer Id of a window, killed when the holder goes (before its window, if declared after it).
class TTimerId {
public:
    TTimerId() noexcept = default;
    ~TTimerId() { Kill(); }
    TTimerId(const TTimerId&) = delete;
    TTimerId& operator=(const TTimerId&) = delete;
    // SetTimer on Window; false when the system has no timer left.
    bool Set(HWND Window, UINT_PTR Id, UINT Interval) noexcept
    {
        Kill();
        if (SetTimer(Window, Id, Interval, nullptr) == 0) return false;
        FWindow = Window;
        FId = Id;
        return true;
    }
    void Kill() noexcept
    {
        if (FId != 0) KillTimer(FWindow, FId);
        FWindow = nullptr;
        FId = 0;
    }
    bool Running() const noexcept { return FId != 0; }

private:
    HWND FWindow = nullptr;
    UINT_PTR FId = 0;
};

// A critical section for the holder's lifetime.
class TCriticalSection {
public:
    TCriticalSection() noexcept { InitializeCriticalSection(&FSection); }
    ~TCriticalSection() { DeleteCriticalSection(&FSection); }
    TCriticalSection(const TCriticalSection&) = delete;
    TCriticalSection& operator=(const TCriticalSection&) = delete;
    void Enter() noexcept { EnterCriticalSection(&FSection); }
    void Leave() noexcept { LeaveCriticalSection(&FSection); }

private:
    CRITICAL_SECTION FSection;
};

// Holds a critical section entered for a scope; it is left on every way out.
class TCriticalSectionLock {
public:
    explicit TCriticalSectionLock(TCriticalSection& Section) noexcept : FSection(Section) { FSection.Enter(); }
    ~TCriticalSectionLock() { FSection.Leave(); }
    TCriticalSectionLock(const TCriticalSectionLock&) = delete;
    TCriticalSectionLock& operator=(const TCriticalSectionLock&) = delete;

private:
    TCriticalSection& FSection;
};

// A Restart Manager session, ended through the library's own function (rstrtmgr is loaded at
// run time, so the function comes with the session). Declare it after the TModuleHandle it
// lives in. Empty when End is null.
class TRestartSession {
public:
    using TEnd = DWORD(WINAPI*)(DWORD Session);
    TRestartSession(DWORD Session, TEnd End) noexcept : FSession(Session), FEnd(End) {}
    ~TRestartSession()
    {
        if (FEnd != nullptr) FEnd(FSession);
    }
    TRestartSession(const TRestartSession&) = delete;
    TRestartSession& operator=(const TRestartSession&) = delete;
    DWORD Get() const noexcept { return FSession; }

private:
    DWORD FSession;
    TEnd FEnd;
};
