#include "toolkit/win/Registry.h"

#include <vector>

TRegistry::TRegistry() = default;

void TRegistry::SetRootKey(HKEY Value)
{
    CloseKey();
    FRootKey = Value;
}

HKEY TRegistry::BaseFor(std::string& Path) const
{
    if (!Path.empty() && Path.front() == '\\') {
        Path.erase(0, 1);
        return FRootKey;
    }
    return CurrentOrRoot();
}

bool TRegistry::OpenKey(const std::string& Key, bool CanCreate)
{
    std::string path = Key;
    HKEY base = BaseFor(path);
    HKEY opened = nullptr;
    LONG result;
    if (CanCreate) {
        DWORD disposition = 0;
        result = RegCreateKeyExA(base, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, FAccess, nullptr, &opened, &disposition);
    } else {
        result = RegOpenKeyExA(base, path.c_str(), 0, FAccess, &opened);
    }
    if (result != ERROR_SUCCESS) {
        FLastError = result;
        return false;
    }
    FCurrentKey.Reset(opened);
    return true;
}

std::string TRegistry::ReadString(const std::string& Name)
{
    const HKEY key = CurrentOrRoot();
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, Name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS || size == 0) {
        return std::string();
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        throw ERegistryException("'" + Name + "' のデータ型が不正です");
    }
    // One spare zero: the stored data need not end with one.
    std::vector<char> data(size + 1u, '\0');
    DWORD got = size;
    if (RegQueryValueExA(key, Name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got) != ERROR_SUCCESS) {
        throw ERegistryException("'" + Name + "' のデータ型が不正です");
    }
    return std::string(data.data());
}

void TRegistry::WriteString(const std::string& Name, const std::string& Value)
{
    const HKEY key = CurrentOrRoot();
    if (RegSetValueExA(key, Name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(Value.c_str()),
                       static_cast<DWORD>(Value.size() + 1)) != ERROR_SUCCESS) {
        throw ERegistryException("'" + Name + "' の設定に失敗しました");
    }
}

bool TRegistry::ValueExists(const std::string& Name)
{
    const HKEY key = CurrentOrRoot();
    return RegQueryValueExA(key, Name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

TRegDataType TRegistry::GetDataType(const std::string& Name)
{
    DWORD type = REG_NONE;
    if (RegQueryValueExA(CurrentOrRoot(), Name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) {
        return TRegDataType::rdUnknown;
    }
    switch (type) {
    case REG_SZ: return TRegDataType::rdString;
    case REG_EXPAND_SZ: return TRegDataType::rdExpandString;
    case REG_DWORD: return TRegDataType::rdInteger;
    case REG_BINARY: return TRegDataType::rdBinary;
    default: return TRegDataType::rdUnknown;
    }
}

bool TRegistry::DeleteKey(const std::string& Key)
{
    std::string path = Key;
    HKEY base = BaseFor(path);
    // With a subkey named, the key itself goes too.
    return !path.empty() && RegDeleteTreeA(base, path.c_str()) == ERROR_SUCCESS;
}
