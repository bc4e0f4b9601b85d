// Random access to a file's bytes by offset, checked against the file's real size. Large files
// are never read whole: callers ask for the ranges they need.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What a path names in the file system, links followed.
enum class FileKind { Missing, File, Folder, Other };
[[nodiscard]] FileKind KindOfFile(const std::string& path);

class FileSource {
public:
    // Takes a descriptor the caller keeps open (and closes) for the life of this object.
    static std::optional<FileSource> FromDescriptor(int fd);

    [[nodiscard]] uint64_t size() const { return FSize; }
    [[nodiscard]] int descriptor() const { return FFd; }
    [[nodiscard]] bool Has(uint64_t off, uint64_t len) const { return off <= FSize && len <= FSize - off; }

    // Exactly len bytes at off, or false when the range is outside the file or the read fails.
    bool ReadAt(uint64_t off, void* buffer, size_t len) const;
    [[nodiscard]] std::optional<std::vector<uint8_t>> ReadRange(uint64_t off, size_t len) const;

private:
    FileSource(int fd, uint64_t size) : FFd(fd), FSize(size) {}
    int FFd;
    uint64_t FSize;
};

// An opened read-only file that closes itself.
class OwnedFile {
public:
    static std::optional<OwnedFile> Open(const std::string& path);
    OwnedFile(OwnedFile&& other) noexcept : FFd(other.FFd), FSource(other.FSource) { other.FFd = -1; }
    OwnedFile& operator=(OwnedFile&&) = delete;
    OwnedFile(const OwnedFile&) = delete;
    ~OwnedFile();

    [[nodiscard]] const FileSource& source() const { return FSource; }

private:
    OwnedFile(int fd, FileSource source) : FFd(fd), FSource(source) {}
    int FFd;
    FileSource FSource;
};
