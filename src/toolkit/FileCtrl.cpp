#include "toolkit/FileCtrl.h"

#include "toolkit/SysUtils.h"

#if defined(_WIN32)
#include "toolkit/win/Handles.h"
const char* const PathDelimiters = "\\:";
#else
#include <cstdio>
#include <sys/stat.h>
const char* const PathDelimiters = "/";
#endif

const char* const SCannotCreateDirectory = "ディレクトリを作成することができません";

namespace {
char NativeSeparator() { return PathDelimiters[0]; }

// The text up to and including its last separator ("c:\a\b" -> "c:\a\", "ab:" -> "ab:").
std::string ParentPart(const std::string& Dir)
{
    const int i = LastDelimiter(PathDelimiters, Dir);
    return Dir.substr(0, static_cast<std::size_t>(i + 1));
}

bool CreateOneDirectory(const std::string& Dir)
{
#if defined(_WIN32)
    return CreateDirectoryA(Dir.c_str(), nullptr) != 0;
#else
    return mkdir(Dir.c_str(), 0777) == 0;
#endif
}
} // namespace

bool DirectoryExists(const std::string& Dir)
{
#if defined(_WIN32)
    const DWORD attributes = GetFileAttributesA(Dir.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
#else
    struct stat st {};
    return stat(Dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
#endif
}

bool FileExists(const std::string& FileName)
{
#if defined(_WIN32)
    const DWORD attributes = GetFileAttributesA(FileName.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
#else
    struct stat st {};
    return stat(FileName.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
#endif
}

bool IsFullPath(std::string_view Path) noexcept
{
#if defined(_WIN32)
    const auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    return (Path.size() >= 3 && isLetter(Path[0]) && Path[1] == ':' && Path[2] == '\\') ||
           (Path.size() >= 2 && Path[0] == '\\' && Path[1] == '\\');
#else
    return !Path.empty() && Path[0] == '/';
#endif
}

bool IsLink(const std::string& Path)
{
#if defined(_WIN32)
    const DWORD attributes = GetFileAttributesA(Path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
#else
    struct stat st {};
    return lstat(Path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
#endif
}

bool IsFileHeld(const std::string& Path)
{
#if defined(_WIN32)
    const TKernelHandle file(CreateFileA(Path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        return false;
    }
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
#else
    (void)Path;
    return false;
#endif
}

bool ReplaceFileWith(const std::string& Source, const std::string& Target)
{
#if defined(_WIN32)
    return MoveFileExA(Source.c_str(), Target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(Source.c_str(), Target.c_str()) == 0;
#endif
}

bool ForceDirectories(std::string Dir)
{
    // A relative text would be made under whatever the current folder is, and its parent part
    // is empty or a drive-relative stub: refused like the empty text.
    if (Dir.empty() || !IsFullPath(Dir)) {
        throw EInOutError(SCannotCreateDirectory);
    }
    // One trailing separator is dropped (a trail byte 0x5C is not one).
    if (LastDelimiter(std::string(1, NativeSeparator()), Dir) == static_cast<int>(Dir.size()) - 1) {
        Dir.pop_back();
    }
    if (Dir.size() < 3 || DirectoryExists(Dir)) {
        return true;
    }
    // A text that is its own parent part ends in a separator still ("c:\a\\" after the one
    // dropped above): it counts as created, as a root does.
    const std::string parent = ParentPart(Dir);
    if (parent == Dir) {
        return true;
    }
    if (!ForceDirectories(parent)) {
        return false;
    }
    return CreateOneDirectory(Dir);
}
