#include "toolkit/win/RestartManager.h"

#include "toolkit/win/Handles.h"

#include <restartmanager.h>

#include <algorithm>

namespace {

using TRmStartSession = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using TRmRegisterResources = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
using TRmGetList = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);

std::wstring Wide(const std::string& Text)
{
    const int n = MultiByteToWideChar(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(n, 0)), L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()), wide.data(), n);
    return wide;
}

std::string Narrow(const wchar_t* Text)
{
    const int n = WideCharToMultiByte(CP_ACP, 0, Text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string narrow(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, Text, -1, narrow.data(), n, nullptr, nullptr);
    narrow.pop_back(); // the terminating zero
    return narrow;
}

// A function of a library loaded at run time, as its own type (through the generic function
// type, which any function pointer converts to and from).
template <typename F>
F LibraryFunction(const TModuleHandle& Library, const char* Name)
{
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(Library.Get(), Name)));
}

// rstrtmgr.dll from the system folder only: a copy beside Setup.exe (a download folder) must
// not be loaded in its place.
TModuleHandle LoadRestartManager()
{
    char system[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryA(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    return TModuleHandle(LoadLibraryA((std::string(system, n) + "\\rstrtmgr.dll").c_str()));
}

} // namespace

std::vector<std::string> ProgramsHolding(const std::vector<std::string>& Paths)
{
    std::vector<std::string> names;
    if (Paths.empty()) return names;
    const TModuleHandle library = LoadRestartManager();
    if (!library) return names;
    const auto start = LibraryFunction<TRmStartSession>(library, "RmStartSession");
    const auto end = LibraryFunction<TRestartSession::TEnd>(library, "RmEndSession");
    const auto registerResources = LibraryFunction<TRmRegisterResources>(library, "RmRegisterResources");
    const auto getList = LibraryFunction<TRmGetList>(library, "RmGetList");
    if (start == nullptr || end == nullptr || registerResources == nullptr || getList == nullptr) return names;

    DWORD handle = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (start(&handle, 0, key) != ERROR_SUCCESS) return names;
    const TRestartSession session(handle, end);

    std::vector<std::wstring> wide;
    for (const std::string& path : Paths) wide.push_back(Wide(path));
    std::vector<LPCWSTR> files;
    for (const std::wstring& path : wide) files.push_back(path.c_str());
    if (registerResources(session.Get(), static_cast<UINT>(files.size()), files.data(), 0, nullptr, 0, nullptr) != ERROR_SUCCESS) {
        return names;
    }
    // The list can grow between the two calls; a few rounds, then what was had.
    std::vector<RM_PROCESS_INFO> processes;
    for (int round = 0; round < 3; ++round) {
        UINT needed = 0;
        UINT count = static_cast<UINT>(processes.size());
        DWORD reasons = 0;
        const DWORD result = getList(session.Get(), &needed, &count, processes.data(), &reasons);
        if (result == ERROR_MORE_DATA) {
            processes.resize(needed);
            continue;
        }
        if (result != ERROR_SUCCESS) return names;
        processes.resize(count);
        break;
    }
    for (const RM_PROCESS_INFO& process : processes) {
        std::string name = Narrow(process.strAppName);
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(std::move(name));
        }
    }
    return names;
}
