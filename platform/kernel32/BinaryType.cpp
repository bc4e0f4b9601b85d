// GetBinaryTypeW: the kind of program a file is, from its headers (and, for .pif and
// headerless .com files, from its name) as Windows tells it.
#include "platform/include/win/winbase.h"

#include "platform/common/FileSource.h"
#include "platform/common/PeImage.h"
#include "platform/common/WinStr.h"
#include "platform/kernel32/Handles.h"

#include <cerrno>
#include <optional>
#include <string>

namespace {

std::string LowerExtension(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = path.substr(dot);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

std::optional<DWORD> BinaryTypeOf(const std::optional<pe::ExecutableInfo>& info, const std::string& ext)
{
    if (!info) {
        if (ext == ".com")
            return SCS_DOS_BINARY;
        return std::nullopt;
    }
    // DLLs are not programs: Windows answers ERROR_BAD_EXE_FORMAT for them.
    if (info->IsLibrary())
        return std::nullopt;
    switch (info->Format) {
    case pe::ExecutableFormat::Dos:
        return SCS_DOS_BINARY;
    case pe::ExecutableFormat::Ne:
        switch (info->NeTargetOs) {
        case pe::NeTargetOs2: return SCS_OS216_BINARY;
        case 0: // unknown target: Windows 2.x programs
        case pe::NeTargetWindows:
        case pe::NeTargetWindows386: return SCS_WOW_BINARY;
        default: return SCS_DOS_BINARY;
        }
    case pe::ExecutableFormat::Pe:
        if (info->Pe32Plus)
            return SCS_64BIT_BINARY;
        if (info->Subsystem == pe::SubsystemPosixCui)
            return SCS_POSIX_BINARY;
        return SCS_32BIT_BINARY;
    case pe::ExecutableFormat::Le:
    case pe::ExecutableFormat::Lx:
    case pe::ExecutableFormat::BadPe:
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

extern "C" BOOL WINAPI GetBinaryTypeW(LPCWSTR lpApplicationName, LPDWORD lpBinaryType)
{
    if (!lpApplicationName || !*lpApplicationName || !lpBinaryType) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string path = winstr::ToFileSystem(winstr::View(lpApplicationName));
    errno = 0;
    const auto file = OwnedFile::Open(path);
    if (!file) {
        // A folder or a device opens but is not a file.
        SetLastError(errno != 0 ? kernel32::ErrorFromErrno(errno) : ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const std::string ext = LowerExtension(path);
    if (ext == ".pif") {
        *lpBinaryType = SCS_PIF_BINARY;
        return TRUE;
    }
    const auto type = BinaryTypeOf(pe::ProbeExecutable(file->source()), ext);
    if (!type) {
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return FALSE;
    }
    *lpBinaryType = *type;
    return TRUE;
}
