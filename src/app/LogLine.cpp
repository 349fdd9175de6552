#include "app/LogLine.h"

#include <cstdio>

std::string FormatLogLine(const TLogTime& Time, std::string_view Text)
{
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d ", Time.Year, Time.Month, Time.Day, Time.Hour,
                  Time.Minute, Time.Second);
    std::string line = stamp;
    bool afterBreak = false;
    for (const char c : Text) {
        if (c == '\r' || c == '\n') {
            afterBreak = true;
            continue;
        }
        if (afterBreak) line += ' ';
        afterBreak = false;
        line += c;
    }
    return line + "\r\n";
}
