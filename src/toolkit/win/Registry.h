// Registry access over advapi32. One accessor works on one root and at most one open key;
// releasing the accessor closes the key.
#pragma once

#include "toolkit/win/Win.h"

#include <memory>
#include <string>

#include "toolkit/Classes.h"
#include "toolkit/win/Handles.h"

class ERegistryException : public Exception { using Exception::Exception; };

// The kind of a value's data; rdUnknown for a missing value and for every other type.
enum class TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

class TRegistry : public TObject {
public:
    // Root HKEY_CURRENT_USER and full access (KEY_ALL_ACCESS), for reading as well, until set.
    TRegistry();
    ~TRegistry() override = default;

    HKEY RootKey() const noexcept { return FRootKey; }
    void SetRootKey(HKEY Value);
    REGSAM Access() const noexcept { return FAccess; }
    void SetAccess(REGSAM Value) noexcept { FAccess = Value; }
    HKEY CurrentKey() const noexcept { return FCurrentKey.Get(); }

    // A path starting with "\" is taken from the root, any other from the open key (or the root
    // when none is open). CanCreate creates missing parts (non-volatile). On success the key
    // becomes the open key; on failure the open key stays as it was.
    bool OpenKey(const std::string& Key, bool CanCreate);
    // The system's error code of the last OpenKey that failed.
    LONG LastError() const noexcept { return FLastError; }
    void CloseKey() noexcept { FCurrentKey.Reset(); }

    // A missing value, or one of size zero, reads as "". REG_SZ and REG_EXPAND_SZ are taken as
    // stored (nothing is expanded) up to the first zero byte; any other type raises
    // "'<Name>' のデータ型が不正です".
    std::string ReadString(const std::string& Name);
    // Writes REG_SZ, the size counting the terminating zero; a failure raises
    // "'<Name>' の設定に失敗しました".
    void WriteString(const std::string& Name, const std::string& Value);
    bool ValueExists(const std::string& Name);
    TRegDataType GetDataType(const std::string& Name);
    // Deletes a key and everything below it (path rules as OpenKey).
    bool DeleteKey(const std::string& Key);

private:
    HKEY BaseFor(std::string& Path) const;
    // The open key, else the root key: where values are read and written.
    HKEY CurrentOrRoot() const noexcept { return FCurrentKey ? FCurrentKey.Get() : FRootKey; }
    HKEY FRootKey = HKEY_CURRENT_USER;
    REGSAM FAccess = KEY_ALL_ACCESS;
    TRegKey FCurrentKey;
    LONG FLastError = ERROR_SUCCESS;
};
