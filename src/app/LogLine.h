// Lines of the install log (/LOG=). Portable: the file and its UTF-8 are the Win32 side's
// (InstallLog.h).
#pragma once

#include <string>
#include <string_view>

// The bytes the log file starts with: UTF-8's byte-order mark, by which editors on a Japanese
// system read the file as UTF-8 rather than as Shift_JIS.
constexpr std::string_view LogByteOrderMark = "\xEF\xBB\xBF";

struct TLogTime {
    int Year, Month, Day, Hour, Minute, Second;
};

// "2024-06-11 09:05:03 Text" and CR LF. A line break inside Text (a message of two lines)
// becomes a space, so that every step stays one line.
std::string FormatLogLine(const TLogTime& Time, std::string_view Text);
