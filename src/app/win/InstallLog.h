// The install log of /LOG=: one line per step in UTF-8 with a byte-order mark (LogLine.h),
// each line handed to the system at once, so that what happened before a crash is in the file.
#pragma once

#include "toolkit/win/Win.h"

#include <string>

#include "toolkit/win/Handles.h"

class TInstallLog {
public:
    // Without Open the lines go nowhere: the road logs whether or not a log was asked for.
    TInstallLog() = default;
    // Creates the file, or empties it; others may read it meanwhile. False when it cannot be
    // opened (GetLastError tells why).
    bool Open(const std::string& Path);
    bool IsOpen() const noexcept { return static_cast<bool>(FFile); }
    // Text in the system code page, time-stamped.
    void Line(const std::string& Text);
    // "失敗: " + Text, and the system's text for Error when it has one.
    void Failure(const std::string& Text, DWORD Error);

private:
    void Write(const std::string& Bytes);
    TKernelHandle FFile;
};

// The system's text for an error code or HRESULT (FormatMessageA), without its line break;
// empty when the system has none.
std::string SystemErrorText(DWORD Error);
