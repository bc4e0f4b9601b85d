#include "fileinfo/KavexShell.h"

#include "platform/include/win/winreg.h"
#include "support/WinString.h"

#include <vector>

namespace {

QString VerbKey(const QString& className, const QString& verb)
{
    return QStringLiteral("%1\\shell\\%2").arg(className, verb);
}

void WriteString(HKEY key, const QString& name, const QString& text)
{
    const auto* data = reinterpret_cast<const BYTE*>(WStr(text));
    RegSetValueExW(key, name.isEmpty() ? nullptr : WStr(name), 0, REG_SZ, data,
                   static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
}

// Opens the key, creating it if needed; null when it cannot be had.
HKEY OpenOrCreate(const QString& path)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, WStr(path), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

// Deletes parent's subkey name and all keys below it, the deepest first.
void DeleteTree(HKEY parent, const QString& name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, WStr(name), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        // The names first: deleting while enumerating would shift the indexes.
        std::vector<QString> children;
        WCHAR buffer[256];
        for (DWORD index = 0;; ++index) {
            DWORD length = static_cast<DWORD>(std::size(buffer));
            if (RegEnumKeyExW(key, index, buffer, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            children.push_back(FromWStr(buffer, length));
        }
        for (const QString& child : children)
            DeleteTree(key, child);
        RegCloseKey(key);
    }
    RegDeleteKeyW(parent, WStr(name));
}

} // namespace

bool IsShellVerbRegistered(const QString& className, const QString& verb)
{
    if (className.isEmpty() || verb.isEmpty())
        return false;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, WStr(VerbKey(className, verb)), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void RegisterShellVerb(const QString& className, const QString& verb, const QString& path)
{
    if (className.isEmpty() || verb.isEmpty() || path.isEmpty())
        return;
    const QString quoted = u'"' + path + u'"';
    if (const HKEY key = OpenOrCreate(VerbKey(className, verb))) {
        WriteString(key, QString(), verb + QStringLiteral("..."));
        WriteString(key, QStringLiteral("Icon"), quoted + QStringLiteral(",0"));
        RegCloseKey(key);
    }
    if (const HKEY key = OpenOrCreate(VerbKey(className, verb) + QStringLiteral("\\command"))) {
        WriteString(key, QString(), quoted + QStringLiteral(" \"%1\""));
        RegCloseKey(key);
    }
}

void UnregisterShellVerb(const QString& className, const QString& verb)
{
    if (className.isEmpty() || verb.isEmpty() || !IsShellVerbRegistered(className, verb))
        return;
    DeleteTree(HKEY_CLASSES_ROOT, VerbKey(className, verb));
}
