// Host symbolic links for the payload tests: planted natively with the file system library, and
// under Wine by the host's own "ln", which Wine starts like any program (a Windows program
// cannot make a host link, and Wine's link functions make none).
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#if defined(_WIN32)
#include "toolkit/win/Win.h"
#endif

namespace payload_test {

#if defined(_WIN32)
namespace detail {
// The host path of a Windows path; empty outside Wine.
inline std::string HostPath(const std::string& Path)
{
    using TToUnix = char*(CDECL*)(LPCWSTR);
    const auto toUnix =
        reinterpret_cast<TToUnix>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
    if (toUnix == nullptr) return {};
    wchar_t wide[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, Path.c_str(), -1, wide, MAX_PATH) == 0) return {};
    char* unix = toUnix(wide);
    if (unix == nullptr) return {};
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}
} // namespace detail
#endif

// Makes Link a symbolic link to Target (a file or folder that need not exist). False when this
// platform cannot make one here.
inline bool PlantLink(const std::string& Target, const std::string& Link)
{
#if defined(_WIN32)
    const std::string target = detail::HostPath(Target);
    const std::string link = detail::HostPath(Link);
    if (target.empty() || link.empty()) return false;
    // Wine starts a host program without waiting for it, and its process handle is signalled at
    // once: the shell leaves a marker file after "ln", and the marker is awaited instead.
    const std::string marker = Link + ".planted";
    const std::string hostMarker = detail::HostPath(marker);
    if (hostMarker.empty()) return false;
    // Wine splits the command line by the Windows rules: the script is one quoted argument.
    std::string command = "sh -c \"ln -s \\\"" + target + "\\\" \\\"" + link + "\\\"; touch \\\"" + hostMarker + "\\\"\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA("Z:\\bin\\sh", command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int waited = 0; GetFileAttributesA(marker.c_str()) == INVALID_FILE_ATTRIBUTES; waited += 10) {
        if (waited >= 10000) return false;
        Sleep(10);
    }
    DeleteFileA(marker.c_str());
    return true;
#else
    std::error_code ec;
    std::filesystem::create_symlink(Target, Link, ec);
    return !ec;
#endif
}

// Whether the platform reports Path as a link: natively always, under Wine only for a link to a
// folder (a reparse point); a link to a file looks like the file it leads to.
inline bool PlatformReportsLink(const std::string& Path)
{
#if defined(_WIN32)
    const DWORD attributes = GetFileAttributesA(Path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
#else
    std::error_code ec;
    return std::filesystem::is_symlink(std::filesystem::symlink_status(Path, ec));
#endif
}

} // namespace payload_test
