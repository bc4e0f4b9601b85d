#include "platform/common/FileSource.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FileKind KindOfFile(const std::string& path)
{
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0)
        return FileKind::Missing;
    return S_ISREG(st.st_mode) ? FileKind::File : S_ISDIR(st.st_mode) ? FileKind::Folder : FileKind::Other;
}

std::optional<FileSource> FileSource::FromDescriptor(int fd)
{
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0)
        return std::nullopt;
    return FileSource(fd, static_cast<uint64_t>(st.st_size));
}

bool FileSource::ReadAt(uint64_t off, void* buffer, size_t len) const
{
    if (!Has(off, len))
        return false;
    auto* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < len) {
        const ssize_t n = pread(FFd, out + done, len - done, static_cast<off_t>(off + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::optional<std::vector<uint8_t>> FileSource::ReadRange(uint64_t off, size_t len) const
{
    if (!Has(off, len))
        return std::nullopt;
    std::vector<uint8_t> bytes(len);
    if (!ReadAt(off, bytes.data(), len))
        return std::nullopt;
    return bytes;
}

std::optional<OwnedFile> OwnedFile::Open(const std::string& path)
{
    // Without blocking: a FIFO would hold open() until a writer comes. Only a regular file is kept.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    auto source = FileSource::FromDescriptor(fd);
    if (!source) {
        close(fd);
        return std::nullopt;
    }
    return OwnedFile(fd, *source);
}

OwnedFile::~OwnedFile()
{
    if (FFd >= 0)
        close(FFd);
}
