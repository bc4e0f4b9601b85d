// The folders and files the registry and the context-menu entries are kept in, handled so that
// root is never led by another user: a managed folder is opened without following links, and its
// content is trusted (read, or written into) only when it is owned by root or by the caller and
// nobody else may write into it; files are made new (never through a link or over a planted file)
// with their modes given explicitly, whatever the umask.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace advapi32 {

inline constexpr unsigned FolderMode = 0755;
inline constexpr unsigned FileMode = 0644;

// Why a folder or file was not had.
struct Failure {
    int Error = 0;          // errno-style
    std::string Problem;    // the path and what is wrong with it
    bool Untrusted = false; // a link, or owned or writable by someone else: a refusal to say
};

class TrustedFolder {
public:
    // base is a folder of the system (opened as it is, links followed); each of managed is a
    // folder below it, the last below the one before, opened without following a link, made
    // (FolderMode) when create is true and it is missing, and refused when it is not trusted.
    // failure says why when nothing is returned.
    [[nodiscard]] static std::optional<TrustedFolder> Open(const std::string& base, std::span<const std::string> managed,
                                                           bool create, Failure& failure);
    // The folder at path, its part after base managed.
    [[nodiscard]] static std::optional<TrustedFolder> OpenPath(const std::string& base, const std::string& path,
                                                               bool create, Failure& failure);

    TrustedFolder(TrustedFolder&& other) noexcept : FFd(other.FFd), FPath(std::move(other.FPath)) { other.FFd = -1; }
    TrustedFolder& operator=(TrustedFolder&&) = delete;
    TrustedFolder(const TrustedFolder&) = delete;
    ~TrustedFolder();

    [[nodiscard]] const std::string& Path() const { return FPath; }

    // A subfolder, made when create is true; refused when not trusted.
    [[nodiscard]] std::optional<TrustedFolder> Child(const std::string& name, bool create, Failure& failure) const;
    // The names in the folder, "." and ".." left out.
    [[nodiscard]] std::vector<std::string> Names() const;
    // A file's whole content when it is a trusted regular file of at most maxSize bytes; nullopt
    // and why (ENOENT when there is none, EFBIG when it is larger).
    [[nodiscard]] std::optional<std::string> Read(const std::string& name, size_t maxSize, Failure& failure) const;
    // Replaces name by a new file of text (FileMode): written aside as a new file and renamed over
    // it, so that a reader never sees half of it. False with errno-style error.
    [[nodiscard]] bool Write(const std::string& name, std::string_view text, int& error) const;
    // Removes a file or an empty folder; absent counts as removed.
    [[nodiscard]] bool Remove(const std::string& name, bool folder, int& error) const;

private:
    TrustedFolder(int fd, std::string path) : FFd(fd), FPath(std::move(path)) {}
    int FFd;
    std::string FPath;
};

} // namespace advapi32
