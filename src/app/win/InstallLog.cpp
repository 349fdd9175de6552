#include "app/win/InstallLog.h"

#include "app/LogLine.h"

namespace {

std::string Utf8(const std::string& Text)
{
    if (Text.empty()) return {};
    const int wide = MultiByteToWideChar(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()), w.data(), wide);
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

} // namespace

bool TInstallLog::Open(const std::string& Path)
{
    FFile.Reset(CreateFileA(Path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!FFile) return false;
    Write(std::string(LogByteOrderMark));
    return true;
}

void TInstallLog::Write(const std::string& Bytes)
{
    DWORD written = 0;
    // A log that can no longer be written does not stop the install it records.
    WriteFile(FFile.Get(), Bytes.data(), static_cast<DWORD>(Bytes.size()), &written, nullptr);
}

void TInstallLog::Line(const std::string& Text)
{
    if (!FFile) return;
    const DWORD error = GetLastError(); // a caller may still want the step's own
    SYSTEMTIME now{};
    GetLocalTime(&now);
    const TLogTime time{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
    Write(Utf8(FormatLogLine(time, Text)));
    SetLastError(error);
}

void TInstallLog::Failure(const std::string& Text, DWORD Error)
{
    const std::string why = Error != 0 ? SystemErrorText(Error) : std::string();
    Line("失敗: " + Text + (why.empty() ? "" : "（" + why + "）"));
}

std::string SystemErrorText(DWORD Error)
{
    TLocalMem<char> text;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, Error, 0, reinterpret_cast<char*>(text.Put()), 0, nullptr);
    std::string message(n > 0 && text ? text.Get() : "", n);
    while (!message.empty() && (message.back() == '\r' || message.back() == '\n' || message.back() == ' ')) {
        message.pop_back();
    }
    return message;
}
