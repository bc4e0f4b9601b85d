#include "platform/advapi32/SafeFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace advapi32 {

namespace {

// Root trusts what root or the caller owns and nobody else can change.
bool Trusted(const struct stat& info)
{
    return (info.st_uid == 0 || info.st_uid == geteuid()) && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string WhyNotTrusted(const std::string& path, const struct stat& info)
{
    if (info.st_uid != 0 && info.st_uid != geteuid())
        return path + " belongs to another user";
    return path + " is writable by other users";
}

// The folders of base that are missing, made as a system's folders are (FolderMode).
bool MakeBase(const std::string& base)
{
    for (size_t slash = base.find('/', 1);; slash = base.find('/', slash + 1)) {
        const std::string part = base.substr(0, slash);
        if (mkdir(part.c_str(), FolderMode) == 0)
            chmod(part.c_str(), FolderMode); // whatever the umask
        else if (errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            return true;
    }
}

bool WriteAll(int fd, std::string_view text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

std::optional<TrustedFolder> TrustedFolder::Open(const std::string& base, std::span<const std::string> managed,
                                                 bool create, Failure& failure)
{
    int fd = open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && create && MakeBase(base))
        fd = open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        failure = {errno, base + ": " + std::strerror(errno), false};
        return std::nullopt;
    }
    TrustedFolder folder(fd, base);
    for (const std::string& name : managed) {
        auto child = folder.Child(name, create, failure);
        if (!child)
            return std::nullopt;
        std::swap(folder.FFd, child->FFd);
        folder.FPath = std::move(child->FPath);
    }
    return folder;
}

std::optional<TrustedFolder> TrustedFolder::OpenPath(const std::string& base, const std::string& path, bool create,
                                                     Failure& failure)
{
    if (path != base && !path.starts_with(base + "/")) {
        failure = {EINVAL, path + " is not below " + base, false};
        return std::nullopt;
    }
    std::vector<std::string> managed;
    for (size_t pos = base.size(); pos < path.size();) {
        const size_t start = pos + 1;
        const size_t end = std::min(path.find('/', start), path.size());
        if (end > start)
            managed.push_back(path.substr(start, end - start));
        pos = end;
    }
    return Open(base, managed, create, failure);
}

TrustedFolder::~TrustedFolder()
{
    if (FFd >= 0)
        close(FFd);
}

std::optional<TrustedFolder> TrustedFolder::Child(const std::string& name, bool create, Failure& failure) const
{
    const std::string path = FPath + "/" + name;
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        failure = {EINVAL, path + " is no folder name", false};
        return std::nullopt;
    }
    bool made = false;
    int fd = openat(FFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && create) {
        made = mkdirat(FFd, name.c_str(), FolderMode) == 0;
        if (!made && errno != EEXIST) {
            failure = {errno, path + ": " + std::strerror(errno), false};
            return std::nullopt;
        }
        fd = openat(FFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0) {
        // A link where a folder should be: ELOOP (or ENOTDIR for a link to a file).
        const int error = errno;
        struct stat link {};
        const bool isLink = fstatat(FFd, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(link.st_mode);
        failure = {error, path + (isLink ? std::string(" is a link") : ": " + std::string(std::strerror(error))), isLink};
        return std::nullopt;
    }
    TrustedFolder child(fd, path);
    if (made)
        fchmod(fd, FolderMode); // whatever the umask
    struct stat info {};
    if (fstat(fd, &info) != 0 || !Trusted(info)) {
        failure = {EACCES, WhyNotTrusted(path, info), true};
        return std::nullopt;
    }
    return child;
}

std::vector<std::string> TrustedFolder::Names() const
{
    std::vector<std::string> names;
    const int copy = dup(FFd);
    DIR* dir = copy >= 0 ? fdopendir(copy) : nullptr;
    if (!dir) {
        if (copy >= 0)
            close(copy);
        return names;
    }
    rewinddir(dir);
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    closedir(dir);
    return names;
}

std::optional<std::string> TrustedFolder::Read(const std::string& name, size_t maxSize, Failure& failure) const
{
    const std::string path = FPath + "/" + name;
    const int fd = openat(FFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const bool isLink = errno == ELOOP;
        failure = {errno, path + (isLink ? std::string(" is a link") : ": " + std::string(std::strerror(errno))), isLink};
        return std::nullopt;
    }
    struct stat info {};
    std::optional<std::string> text;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        failure = {EINVAL, path + " is not a regular file", true};
    } else if (!Trusted(info)) {
        failure = {EACCES, WhyNotTrusted(path, info), true};
    } else if (static_cast<uint64_t>(info.st_size) > maxSize) {
        failure = {EFBIG, path + " is too large", false};
    } else {
        std::string content(static_cast<size_t>(info.st_size), '\0');
        size_t done = 0;
        while (done < content.size()) {
            const ssize_t n = pread(fd, content.data() + done, content.size() - done, static_cast<off_t>(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        content.resize(done);
        text = std::move(content);
    }
    close(fd);
    return text;
}

bool TrustedFolder::Write(const std::string& name, std::string_view text, int& error) const
{
    // A new file of our own beside the old one: O_EXCL and O_NOFOLLOW never write through what
    // someone else put there. One left behind by an interrupted write is ours to remove (nobody
    // else can write into a trusted folder).
    const std::string temporary = "." + name + ".new";
    int fd = openat(FFd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, FileMode);
    if (fd < 0 && errno == EEXIST && unlinkat(FFd, temporary.c_str(), 0) == 0)
        fd = openat(FFd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, FileMode);
    if (fd < 0) {
        error = errno;
        return false;
    }
    const bool written = fchmod(fd, FileMode) == 0 && WriteAll(fd, text);
    error = errno;
    if (close(fd) != 0 || !written || renameat(FFd, temporary.c_str(), FFd, name.c_str()) != 0) {
        if (written)
            error = errno;
        unlinkat(FFd, temporary.c_str(), 0);
        return false;
    }
    return true;
}

bool TrustedFolder::Remove(const std::string& name, bool folder, int& error) const
{
    if (unlinkat(FFd, name.c_str(), folder ? AT_REMOVEDIR : 0) == 0 || errno == ENOENT)
        return true;
    error = errno;
    return false;
}

} // namespace advapi32
