// A socket component's asynchronous name lookups. Win32 (Windows Sockets 1.1).
#pragma once

#include "toolkit/win/Win.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The system writes a lookup's host entry into a buffer of the lookup's own and reports its
// completion to a window later. A lookup given up (time-out, Cancel) may still write into its
// buffer, so that buffer is kept until its completion arrives; those still open when the owner
// goes are left behind.
class TPsockLookup {
public:
    TPsockLookup();
    ~TPsockLookup();
    TPsockLookup(const TPsockLookup&) = delete;
    TPsockLookup& operator=(const TPsockLookup&) = delete;

    // Starts looking Name up; the completion is posted to Window as Message, the task in wParam.
    // False when the system starts none (no completion will come).
    bool Start(HWND Window, UINT Message, const std::string& Name);
    // Whether a lookup runs (started, neither completed nor given up).
    bool Running() const noexcept { return FTask != nullptr; }
    // A completion: true when it ends the running lookup; one of a lookup given up frees that
    // lookup's buffer.
    bool Completed(HANDLE Task) noexcept;
    // The running lookup is given up; its completion may still come.
    void GiveUp();
    // The first IPv4 address of the last completed lookup.
    bool Address(uint8_t (&Address)[4]) const noexcept;

private:
    struct TBuffer {
        std::array<char, 1024> Entry;
        std::string Name;
    };
    std::unique_ptr<TBuffer> FBuffer;
    HANDLE FTask = nullptr;
    std::vector<std::pair<HANDLE, std::unique_ptr<TBuffer>>> FAbandoned;
};
