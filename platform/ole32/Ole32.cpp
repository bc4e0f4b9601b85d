// OLE basics: initialisation, task memory, and the compound-file test.
#include "platform/include/win/objidl.h"
#include "platform/include/win/propidl.h"

#include "platform/common/WinStr.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr unsigned char CompoundFileSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

HRESULT StorageErrorFromErrno(int error)
{
    switch (error) {
    case ENOENT: return STG_E_FILENOTFOUND;
    case ENOTDIR: return STG_E_PATHNOTFOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return STG_E_ACCESSDENIED;
    case EMFILE:
    case ENFILE: return STG_E_TOOMANYOPENFILES;
    case ENOMEM: return STG_E_INSUFFICIENTMEMORY;
    default: return STG_E_READFAULT;
    }
}

} // namespace

extern "C" {

HRESULT WINAPI OleInitialize(LPVOID) { return S_OK; }
void WINAPI OleUninitialize() {}

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb == 0 ? 1 : cb); }
void WINAPI CoTaskMemFree(LPVOID pv) { std::free(pv); }

HRESULT WINAPI StgIsStorageFile(const WCHAR* pwcsName)
{
    if (!pwcsName || pwcsName[0] == 0)
        return STG_E_INVALIDNAME;
    const std::string path = winstr::ToFileSystem(winstr::View(pwcsName));
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY); // a FIFO must not block
    if (fd < 0)
        return StorageErrorFromErrno(errno);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return STG_E_ACCESSDENIED;
    }
    unsigned char header[8] = {};
    ssize_t n;
    do {
        n = pread(fd, header, sizeof header, 0);
    } while (n < 0 && errno == EINTR);
    close(fd);
    if (n < 0)
        return STG_E_READFAULT;
    if (n < static_cast<ssize_t>(sizeof header))
        return S_FALSE;
    for (size_t i = 0; i < sizeof header; ++i)
        if (header[i] != CompoundFileSignature[i])
            return S_FALSE;
    return S_OK;
}

} // extern "C"
