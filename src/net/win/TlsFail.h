// The failures of the TLS session's units (Tls.cpp, TlsVerify.cpp): ETlsError with a message
// for a user's status line and the status in hex.
#pragma once

#include "net/win/Tls.h"
#include "toolkit/win/Win.h"

#include <cstdio>
#include <string>

namespace tlsfail {

inline std::string Hex(long Status)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(Status));
    return text;
}

[[noreturn]] inline void Fail(long Status, const char* What)
{
    throw ETlsError(ETlsError::trOther, Status, std::string("TLS error in ") + What + ": status " + Hex(Status));
}

[[noreturn]] inline void FailHandshake(long Status,
                                       const char* Why = "the server offers no TLS 1.2 with a cipher in common, or broke the protocol")
{
    throw ETlsError(ETlsError::trHandshake, Status, std::string("TLS handshake failed: ") + Why + " (" + Hex(Status) + ")");
}

[[noreturn]] inline void FailLast(const char* What)
{
    Fail(static_cast<long>(GetLastError()), What);
}

} // namespace tlsfail
