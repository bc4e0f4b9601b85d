#include "platform/advapi32/RegistryStore.h"

#include "platform/advapi32/SafeFiles.h"

#include "platform/common/WinStr.h"
#include "platform/include/win/winerror.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

namespace advapi32 {

namespace {

constexpr char ValuesFile[] = "values";
constexpr char KeysFolder[] = "keys";
// Windows' own limits: a key name of 255 characters, 512 levels.
constexpr size_t MaxKeyName = 255;
constexpr size_t MaxDepth = 512;
// Values are a few short strings; a larger file is not one of ours.
constexpr off_t MaxValuesFile = 1 << 20;

DWORD ErrorOf(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case ELOOP:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_INVALID_FUNCTION;
    }
}

// A name as a file name: UTF-8, with '%', '/' and a leading '.' escaped.
std::string Encode(std::u16string_view name)
{
    const std::string utf8 = winstr::ToUtf8(name);
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        if (c == '%' || c == '/' || c == '\t' || c == '\n' || c == '\r' || (i == 0 && c == '.')) {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

std::u16string Decode(std::string_view text)
{
    std::string utf8;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const std::string hex(text.substr(i + 1, 2));
            char* end = nullptr;
            const long value = std::strtol(hex.c_str(), &end, 16);
            if (end == hex.c_str() + 2) {
                utf8 += static_cast<char>(value);
                i += 2;
                continue;
            }
        }
        utf8 += text[i];
    }
    return winstr::FromUtf8(utf8);
}

std::vector<std::u16string_view> Components(std::u16string_view path)
{
    std::vector<std::u16string_view> parts;
    size_t pos = 0;
    while (pos <= path.size()) {
        const size_t next = std::min(path.find(u'\\', pos), path.size());
        if (next > pos)
            parts.push_back(path.substr(pos, next - pos));
        pos = next + 1;
    }
    return parts;
}

// Where the registry's folders begin: the system's /var/lib (as it is), below which every folder
// is the registry's own and checked.
std::string Base()
{
    return SystemRoot() + "/var/lib";
}

// A refusal for the registry's being in other hands is said once, on standard error.
DWORD Refused(const Failure& failure)
{
    if (failure.Untrusted) {
        static std::mutex lock;
        static std::set<std::string> said;
        const std::lock_guard guard(lock);
        if (said.insert(failure.Problem).second)
            std::fprintf(stderr, "%s: the registry is not used: %s\n", program_invocation_short_name,
                         failure.Problem.c_str());
        return ERROR_ACCESS_DENIED;
    }
    return ErrorOf(failure.Error);
}

std::string Hex(const std::vector<uint8_t>& data)
{
    static constexpr char Digits[] = "0123456789abcdef";
    std::string out;
    for (const uint8_t b : data) {
        out += Digits[b >> 4];
        out += Digits[b & 0xF];
    }
    return out;
}

std::optional<std::vector<uint8_t>> Unhex(std::string_view text)
{
    if (text.size() % 2)
        return std::nullopt;
    std::vector<uint8_t> out;
    out.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const auto digit = [](char c) {
            return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        };
        const int high = digit(text[i]);
        const int low = digit(text[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return out;
}

} // namespace

std::string SystemRoot()
{
    const char* root = std::getenv("TESSERA_SYSTEM_ROOT");
    std::string path = root ? root : "";
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    return path;
}

const Value* Values::Find(std::u16string_view name) const
{
    for (const auto& [key, value] : FItems)
        if (winstr::EqualsIgnoreAsciiCase(key, name))
            return &value;
    return nullptr;
}

void Values::Set(std::u16string_view name, Value value)
{
    for (auto& [key, existing] : FItems)
        if (winstr::EqualsIgnoreAsciiCase(key, name)) {
            existing = std::move(value);
            return;
        }
    FItems.emplace_back(std::u16string(name), std::move(value));
}

std::string RegistryStore::ClassesRoot()
{
    return SystemRoot() + "/var/lib/tessera/registry/HKEY_CLASSES_ROOT";
}

DWORD RegistryStore::Resolve(const std::string& key, std::u16string_view path, bool create, std::string& result,
                             bool* created)
{
    if (created)
        *created = false;
    const auto parts = Components(path);
    if (parts.size() > MaxDepth)
        return ERROR_INVALID_PARAMETER;
    Failure failure;
    std::optional<TrustedFolder> current = TrustedFolder::OpenPath(Base(), key, create, failure);
    if (!current)
        return Refused(failure);
    for (const std::u16string_view part : parts) {
        if (part.size() > MaxKeyName)
            return ERROR_INVALID_PARAMETER;
        std::optional<TrustedFolder> keys = current->Child(KeysFolder, create, failure);
        if (!keys)
            return failure.Error == ENOENT && !create ? ERROR_FILE_NOT_FOUND : Refused(failure);
        std::string found;
        for (const std::string& entry : keys->Names())
            if (winstr::EqualsIgnoreAsciiCase(Decode(entry), part)) {
                found = entry;
                break;
            }
        if (found.empty()) {
            if (!create)
                return ERROR_FILE_NOT_FOUND;
            found = Encode(part);
            if (created)
                *created = true;
        }
        std::optional<TrustedFolder> next = keys->Child(found, create, failure);
        if (!next)
            return Refused(failure);
        current.reset();
        current.emplace(std::move(*next));
    }
    result = current->Path();
    return ERROR_SUCCESS;
}

DWORD RegistryStore::ReadValues(const std::string& key, Values& values)
{
    values = Values();
    Failure failure;
    const std::optional<TrustedFolder> folder = TrustedFolder::OpenPath(Base(), key, false, failure);
    const std::optional<std::string> read = folder ? folder->Read(ValuesFile, MaxValuesFile, failure) : std::nullopt;
    if (!read) {
        if (failure.Error == ENOENT)
            return ERROR_SUCCESS;
        return failure.Error == EFBIG ? ERROR_INVALID_DATA : Refused(failure);
    }
    const std::string& text = *read;
    // One value a line: name, type and data in hexadecimal, separated by tabs.
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = std::min(text.find('\n', pos), text.size());
        const std::string_view line = std::string_view(text).substr(pos, end - pos);
        pos = end + 1;
        const size_t first = line.find('\t');
        const size_t second = first == std::string_view::npos ? first : line.find('\t', first + 1);
        if (second == std::string_view::npos)
            continue;
        const auto data = Unhex(line.substr(second + 1));
        if (!data)
            continue;
        Value value;
        value.Type = static_cast<DWORD>(std::strtoul(std::string(line.substr(first + 1, second - first - 1)).c_str(),
                                                     nullptr, 10));
        value.Data = *data;
        values.Set(Decode(line.substr(0, first)), std::move(value));
    }
    return ERROR_SUCCESS;
}

DWORD RegistryStore::WriteValues(const std::string& key, const Values& values)
{
    std::string text;
    for (const auto& [name, value] : values.All())
        text += Encode(name) + "\t" + std::to_string(value.Type) + "\t" + Hex(value.Data) + "\n";
    Failure failure;
    const std::optional<TrustedFolder> folder = TrustedFolder::OpenPath(Base(), key, false, failure);
    if (!folder)
        return Refused(failure);
    int error = 0;
    return folder->Write(ValuesFile, text, error) ? ERROR_SUCCESS : ErrorOf(error);
}

DWORD RegistryStore::SubkeyNames(const std::string& key, std::vector<std::u16string>& names)
{
    names.clear();
    Failure failure;
    const std::optional<TrustedFolder> folder = TrustedFolder::OpenPath(Base(), key, false, failure);
    const std::optional<TrustedFolder> keys = folder ? folder->Child(KeysFolder, false, failure) : std::nullopt;
    if (!keys)
        return failure.Error == ENOENT ? ERROR_SUCCESS : Refused(failure);
    for (const std::string& entry : keys->Names())
        names.push_back(Decode(entry));
    const auto folded = [](std::u16string text) {
        for (char16_t& c : text)
            if (c >= u'a' && c <= u'z')
                c = static_cast<char16_t>(c - 32);
        return text;
    };
    std::sort(names.begin(), names.end(),
              [&folded](const std::u16string& a, const std::u16string& b) { return folded(a) < folded(b); });
    return ERROR_SUCCESS;
}

DWORD RegistryStore::DeleteKey(const std::string& key)
{
    const size_t slash = key.find_last_of('/');
    if (slash == std::string::npos || slash == 0)
        return ERROR_INVALID_PARAMETER;
    Failure failure;
    const std::optional<TrustedFolder> parent = TrustedFolder::OpenPath(Base(), key.substr(0, slash), false, failure);
    const std::optional<TrustedFolder> folder = parent ? parent->Child(key.substr(slash + 1), false, failure) : std::nullopt;
    if (!folder)
        return Refused(failure);
    int error = 0;
    if (const std::optional<TrustedFolder> keys = folder->Child(KeysFolder, false, failure)) {
        if (!keys->Names().empty())
            return ERROR_ACCESS_DENIED;
    } else if (failure.Error != ENOENT) {
        return Refused(failure);
    }
    if (!folder->Remove(ValuesFile, false, error) || !folder->Remove(KeysFolder, true, error) ||
        !parent->Remove(key.substr(slash + 1), true, error))
        return ErrorOf(error);
    return ERROR_SUCCESS;
}

} // namespace advapi32
