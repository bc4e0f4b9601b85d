#include "platform/include/win/winbase.h"

#include "platform/common/WinStr.h"
#include "platform/kernel32/Handles.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

thread_local DWORD LastError = ERROR_SUCCESS;

bool Fail(DWORD error)
{
    LastError = error;
    return false;
}

// Windows counts file times from 1601 in 100-nanosecond steps.
FILETIME ToFileTime(const struct timespec& ts)
{
    constexpr int64_t EpochDifference = 11'644'473'600LL; // seconds from 1601-01-01 to 1970-01-01
    const int64_t ticks = (static_cast<int64_t>(ts.tv_sec) + EpochDifference) * 10'000'000 + ts.tv_nsec / 100;
    const auto v = static_cast<uint64_t>(ticks < 0 ? 0 : ticks);
    return {static_cast<DWORD>(v & 0xFFFFFFFF), static_cast<DWORD>(v >> 32)};
}

std::string BaseName(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

namespace kernel32 {

DWORD ErrorFromErrno(int error)
{
    switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    default: return ERROR_INVALID_FUNCTION;
    }
}

} // namespace kernel32

using kernel32::DescriptorFromHandle;

extern "C" {

DWORD WINAPI GetLastError() { return LastError; }
void WINAPI SetLastError(DWORD dwErrCode) { LastError = dwErrCode; }

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          SECURITY_ATTRIBUTES* lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile)
{
    if (!lpFileName || lpFileName[0] == 0) {
        Fail(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // Never blocking in open(): a FIFO without a writer (or, for writing, without a reader) would
    // hold the caller forever; regular files do not care.
    int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    const bool read = dwDesiredAccess & GENERIC_READ;
    const bool write = dwDesiredAccess & GENERIC_WRITE;
    flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    switch (dwCreationDisposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
    default:
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::string path = winstr::ToFileSystem(winstr::View(lpFileName));
    const int fd = open(path.c_str(), flags, 0666);
    if (fd < 0) {
        Fail(kernel32::ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    // What was opened blocks as usual from now on (a pipe with a reader, a terminal).
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // As on Windows, a folder opens only with backup semantics.
    struct stat st {};
    if (!(dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        Fail(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    LastError = ERROR_SUCCESS;
    return kernel32::HandleFromDescriptor(fd);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     void* lpOverlapped)
{
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = 0;
    const int fd = DescriptorFromHandle(hFile);
    if (fd < 0)
        return Fail(ERROR_INVALID_HANDLE);
    auto* out = static_cast<char*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToRead) {
        const ssize_t n = read(fd, out + done, nNumberOfBytesToRead - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Fail(kernel32::ErrorFromErrno(errno));
        if (n == 0)
            break;
        done += static_cast<DWORD>(n);
    }
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = done;
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      void* lpOverlapped)
{
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = 0;
    const int fd = DescriptorFromHandle(hFile);
    if (fd < 0)
        return Fail(ERROR_INVALID_HANDLE);
    const auto* in = static_cast<const char*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToWrite) {
        const ssize_t n = write(fd, in + done, nNumberOfBytesToWrite - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Fail(kernel32::ErrorFromErrno(errno));
        done += static_cast<DWORD>(n);
    }
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = done;
    return TRUE;
}

BOOL WINAPI GetFileSizeEx(HANDLE hFile, LARGE_INTEGER* lpFileSize)
{
    struct stat st {};
    const int fd = DescriptorFromHandle(hFile);
    if (fd < 0 || !lpFileSize)
        return Fail(ERROR_INVALID_HANDLE);
    if (fstat(fd, &st) != 0)
        return Fail(kernel32::ErrorFromErrno(errno));
    lpFileSize->QuadPart = st.st_size;
    return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh)
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(hFile, &size))
        return INVALID_FILE_SIZE;
    if (lpFileSizeHigh)
        *lpFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(size.QuadPart) >> 32);
    LastError = ERROR_SUCCESS;
    return static_cast<DWORD>(size.QuadPart & 0xFFFFFFFF);
}

BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, LARGE_INTEGER* lpNewFilePointer,
                             DWORD dwMoveMethod)
{
    const int fd = DescriptorFromHandle(hFile);
    if (fd < 0)
        return Fail(ERROR_INVALID_HANDLE);
    const int whence = dwMoveMethod == FILE_BEGIN ? SEEK_SET : dwMoveMethod == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    const off_t pos = lseek(fd, static_cast<off_t>(liDistanceToMove.QuadPart), whence);
    if (pos < 0)
        return Fail(kernel32::ErrorFromErrno(errno));
    if (lpNewFilePointer)
        lpNewFilePointer->QuadPart = pos;
    return TRUE;
}

BOOL WINAPI GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION info)
{
    const int fd = DescriptorFromHandle(hFile);
    if (fd < 0 || !info)
        return Fail(ERROR_INVALID_HANDLE);
    struct statx sx {};
    if (statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return Fail(kernel32::ErrorFromErrno(errno));
    const auto ts = [](const struct statx_timestamp& t) { return timespec{t.tv_sec, t.tv_nsec}; };

    DWORD attributes = 0;
    if (S_ISDIR(sx.stx_mode))
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if ((sx.stx_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        attributes |= FILE_ATTRIBUTE_READONLY;
    // Dot-names are what Linux hides; the name comes from the descriptor's link.
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    std::string target(4096, '\0');
    const ssize_t n = readlink(link, target.data(), target.size());
    if (n > 0) {
        target.resize(static_cast<size_t>(n));
        const std::string name = BaseName(target);
        if (name.size() > 1 && name[0] == '.' && name != "..")
            attributes |= FILE_ATTRIBUTE_HIDDEN;
    }
    if (attributes == 0)
        attributes = FILE_ATTRIBUTE_NORMAL;

    info->dwFileAttributes = attributes;
    info->ftCreationTime = ToFileTime(ts(sx.stx_mask & STATX_BTIME ? sx.stx_btime : sx.stx_ctime));
    info->ftLastAccessTime = ToFileTime(ts(sx.stx_atime));
    info->ftLastWriteTime = ToFileTime(ts(sx.stx_mtime));
    info->dwVolumeSerialNumber = static_cast<DWORD>(makedev(sx.stx_dev_major, sx.stx_dev_minor));
    info->nFileSizeHigh = static_cast<DWORD>(sx.stx_size >> 32);
    info->nFileSizeLow = static_cast<DWORD>(sx.stx_size & 0xFFFFFFFF);
    info->nNumberOfLinks = sx.stx_nlink;
    info->nFileIndexHigh = static_cast<DWORD>(sx.stx_ino >> 32);
    info->nFileIndexLow = static_cast<DWORD>(sx.stx_ino & 0xFFFFFFFF);
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    const int fd = DescriptorFromHandle(hObject);
    if (fd < 0 || close(fd) != 0)
        return Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

DWORD WINAPI GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer)
{
    // TMPDIR when it names an absolute path, as every Linux program takes it; /tmp otherwise.
    const char* tmpdir = std::getenv("TMPDIR");
    std::string path = tmpdir && tmpdir[0] == '/' ? tmpdir : "/tmp";
    if (path.back() != '/')
        path += '/';
    const std::u16string text = winstr::FromFileSystem(path);
    if (!lpBuffer || nBufferLength <= text.size())
        return static_cast<DWORD>(text.size() + 1);
    winstr::CopyTo(text, lpBuffer, nBufferLength);
    return static_cast<DWORD>(text.size());
}

HANDLE WINAPI GetCurrentProcess()
{
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
}

HANDLE WINAPI GetCurrentThread()
{
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));
}

UINT WINAPI SetErrorMode(UINT uMode)
{
    // There are no error boxes to suppress here; the mode is only remembered.
    static UINT mode = 0;
    const UINT previous = mode;
    mode = uMode;
    return previous;
}

} // extern "C"
