// RegOpenKeyExW and the other registry calls over the store of RegistryStore.h. Only
// HKEY_CLASSES_ROOT is kept; the other predefined keys answer that they hold nothing. Every change
// under the classes root brings the desktop's context-menu entries up to date (ShellActions.h).
#include "platform/include/win/winreg.h"

#include "platform/advapi32/RegistryStore.h"
#include "platform/advapi32/ShellActions.h"
#include "platform/common/WinStr.h"
#include "platform/include/win/winerror.h"

#include <memory>
#include <mutex>
#include <set>

using namespace advapi32;

namespace {

struct OpenKey {
    std::string Path;
    REGSAM Access = 0;
};

// The keys handed out: a handle is only ever one of these or a predefined key.
struct OpenKeys {
    std::mutex Lock;
    std::set<OpenKey*> Live;
};

OpenKeys& Keys()
{
    static OpenKeys keys;
    return keys;
}

// The directory of a handle; nullopt for a handle that is not ours. Predefined keys other than
// the classes root have no directory.
std::optional<std::string> PathOf(HKEY key)
{
    if (key == HKEY_CLASSES_ROOT)
        return RegistryStore::ClassesRoot();
    OpenKeys& keys = Keys();
    const std::lock_guard lock(keys.Lock);
    auto* open = reinterpret_cast<OpenKey*>(key);
    if (!keys.Live.contains(open))
        return std::nullopt;
    return open->Path;
}

bool CanSetValues(HKEY key)
{
    if (key == HKEY_CLASSES_ROOT)
        return true;
    OpenKeys& keys = Keys();
    const std::lock_guard lock(keys.Lock);
    auto* open = reinterpret_cast<OpenKey*>(key);
    return keys.Live.contains(open) && (open->Access & KEY_SET_VALUE) != 0;
}

HKEY HandOut(std::string path, REGSAM access)
{
    auto key = std::make_unique<OpenKey>(OpenKey{std::move(path), access});
    OpenKeys& keys = Keys();
    const std::lock_guard lock(keys.Lock);
    keys.Live.insert(key.get());
    return reinterpret_cast<HKEY>(key.release());
}

bool IsPredefined(HKEY key)
{
    return key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE;
}

} // namespace

extern "C" {

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    if (IsPredefined(hKey))
        return ERROR_FILE_NOT_FOUND;
    const auto parent = PathOf(hKey);
    if (!parent)
        return ERROR_INVALID_HANDLE;
    std::string path;
    if (const DWORD error = RegistryStore::Resolve(*parent, winstr::View(lpSubKey), false, path); error != ERROR_SUCCESS)
        return static_cast<LSTATUS>(error);
    *phkResult = HandOut(std::move(path), samDesired);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired, SECURITY_ATTRIBUTES* lpSecurityAttributes, PHKEY phkResult,
                               LPDWORD lpdwDisposition)
{
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    if (IsPredefined(hKey))
        return ERROR_ACCESS_DENIED;
    const auto parent = PathOf(hKey);
    if (!parent)
        return ERROR_INVALID_HANDLE;
    std::string path;
    bool created = false;
    if (const DWORD error = RegistryStore::Resolve(*parent, winstr::View(lpSubKey), true, path, &created);
        error != ERROR_SUCCESS)
        return static_cast<LSTATUS>(error);
    if (lpdwDisposition)
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    if (created)
        UpdateShellActions();
    *phkResult = HandOut(std::move(path), samDesired);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                              DWORD cbData)
{
    const auto path = PathOf(hKey);
    if (!path)
        return ERROR_INVALID_HANDLE;
    if (!CanSetValues(hKey))
        return ERROR_ACCESS_DENIED;
    if (!lpData && cbData != 0)
        return ERROR_INVALID_PARAMETER;
    Values values;
    if (const DWORD error = RegistryStore::ReadValues(*path, values); error != ERROR_SUCCESS)
        return static_cast<LSTATUS>(error);
    Value value;
    value.Type = dwType;
    if (lpData)
        value.Data.assign(lpData, lpData + cbData);
    values.Set(winstr::View(lpValueName), std::move(value));
    if (const DWORD error = RegistryStore::WriteValues(*path, values); error != ERROR_SUCCESS)
        return static_cast<LSTATUS>(error);
    UpdateShellActions();
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData)
{
    const auto path = PathOf(hKey);
    if (!path)
        return ERROR_INVALID_HANDLE;
    if (lpData && !lpcbData)
        return ERROR_INVALID_PARAMETER;
    Values values;
    if (const DWORD error = RegistryStore::ReadValues(*path, values); error != ERROR_SUCCESS)
        return static_cast<LSTATUS>(error);
    const Value* value = values.Find(winstr::View(lpValueName));
    if (!value)
        return ERROR_FILE_NOT_FOUND;
    if (lpType)
        *lpType = value->Type;
    if (!lpcbData)
        return ERROR_SUCCESS;
    const auto size = static_cast<DWORD>(value->Data.size());
    if (lpData && *lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (lpData && size)
        std::copy(value->Data.begin(), value->Data.end(), lpData);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                             LPWSTR lpClass, LPDWORD lpcchClass, FILETIME* lpftLastWriteTime)
{
    const auto path = PathOf(hKey);
    if (!path)
        return ERROR_INVALID_HANDLE;
    if (!lpName || !lpcchName)
        return ERROR_INVALID_PARAMETER;
    std::vector<std::u16string> names;
    if (const DWORD error = RegistryStore::SubkeyNames(*path, names); error != ERROR_SUCCESS)
        return static_cast<LSTATUS>(error);
    if (dwIndex >= names.size())
        return ERROR_NO_MORE_ITEMS;
    const std::u16string& name = names[dwIndex];
    if (!winstr::CopyTo(name, lpName, *lpcchName))
        return ERROR_MORE_DATA;
    *lpcchName = static_cast<DWORD>(name.size());
    if (lpcchClass)
        *lpcchClass = 0;
    if (lpftLastWriteTime)
        *lpftLastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey)
{
    const auto parent = PathOf(hKey);
    if (!parent)
        return ERROR_INVALID_HANDLE;
    // The key itself is never deleted through an empty name: a subkey must be named.
    if (winstr::View(lpSubKey).empty())
        return ERROR_ACCESS_DENIED;
    std::string path;
    if (const DWORD error = RegistryStore::Resolve(*parent, winstr::View(lpSubKey), false, path); error != ERROR_SUCCESS)
        return static_cast<LSTATUS>(error);
    if (const DWORD error = RegistryStore::DeleteKey(path); error != ERROR_SUCCESS)
        return static_cast<LSTATUS>(error);
    UpdateShellActions();
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey)
{
    if (hKey == HKEY_CLASSES_ROOT || IsPredefined(hKey))
        return ERROR_SUCCESS;
    OpenKeys& keys = Keys();
    const std::lock_guard lock(keys.Lock);
    auto* open = reinterpret_cast<OpenKey*>(hKey);
    if (!keys.Live.erase(open))
        return ERROR_INVALID_HANDLE;
    delete open;
    return ERROR_SUCCESS;
}

} // extern "C"
