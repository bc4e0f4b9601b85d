#include "platform/advapi32/RegistryStore.h"

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

// The file names in a folder; an absent folder has none.
std::vector<std::string> Entries(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return names;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    closedir(dir);
    return names;
}

DWORD MakeFolder(const std::string& path)
{
    if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST)
        return ERROR_SUCCESS;
    return ErrorOf(errno);
}

DWORD MakeFolders(const std::string& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        if (const DWORD error = MakeFolder(path.substr(0, slash)); error != ERROR_SUCCESS)
            return error;
    return MakeFolder(path);
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
    std::string current = key;
    struct stat info {};
    if (stat(current.c_str(), &info) != 0) {
        if (!create)
            return ErrorOf(errno);
        if (const DWORD error = MakeFolders(current); error != ERROR_SUCCESS)
            return error;
    }
    for (const std::u16string_view part : parts) {
        if (part.size() > MaxKeyName)
            return ERROR_INVALID_PARAMETER;
        const std::string folder = current + "/" + KeysFolder;
        std::string found;
        for (const std::string& entry : Entries(folder))
            if (winstr::EqualsIgnoreAsciiCase(Decode(entry), part)) {
                found = entry;
                break;
            }
        if (found.empty()) {
            if (!create)
                return ERROR_FILE_NOT_FOUND;
            found = Encode(part);
            if (const DWORD error = MakeFolder(folder); error != ERROR_SUCCESS)
                return error;
            if (mkdir((folder + "/" + found).c_str(), 0755) != 0)
                return ErrorOf(errno);
            if (created)
                *created = true;
        }
        current = folder + "/" + found;
    }
    result = current;
    return ERROR_SUCCESS;
}

DWORD RegistryStore::ReadValues(const std::string& key, Values& values)
{
    values = Values();
    const std::string path = key + "/" + ValuesFile;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? ERROR_SUCCESS : ErrorOf(errno);
    struct stat info {};
    if (fstat(fd, &info) != 0 || info.st_size > MaxValuesFile) {
        close(fd);
        return ERROR_INVALID_DATA;
    }
    std::string text(static_cast<size_t>(info.st_size), '\0');
    const ssize_t read = ::read(fd, text.data(), text.size());
    close(fd);
    if (read < 0)
        return ErrorOf(errno);
    text.resize(static_cast<size_t>(read));
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
    // Written aside and put in place at once, so that a reader never sees half a file.
    const std::string path = key + "/" + ValuesFile;
    const std::string temporary = path + ".new";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return ErrorOf(errno);
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const DWORD error = ErrorOf(errno);
            close(fd);
            unlink(temporary.c_str());
            return error;
        }
        done += static_cast<size_t>(n);
    }
    if (close(fd) != 0 || rename(temporary.c_str(), path.c_str()) != 0) {
        const DWORD error = ErrorOf(errno);
        unlink(temporary.c_str());
        return error;
    }
    return ERROR_SUCCESS;
}

DWORD RegistryStore::SubkeyNames(const std::string& key, std::vector<std::u16string>& names)
{
    names.clear();
    for (const std::string& entry : Entries(key + "/" + KeysFolder))
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
    const std::string folder = key + "/" + KeysFolder;
    if (!Entries(folder).empty())
        return ERROR_ACCESS_DENIED;
    if (unlink((key + "/" + ValuesFile).c_str()) != 0 && errno != ENOENT)
        return ErrorOf(errno);
    if (rmdir(folder.c_str()) != 0 && errno != ENOENT)
        return ErrorOf(errno);
    if (rmdir(key.c_str()) != 0)
        return ErrorOf(errno);
    return ERROR_SUCCESS;
}

} // namespace advapi32
