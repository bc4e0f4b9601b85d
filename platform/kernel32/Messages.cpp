// The system's message texts for the error codes the stand-ins report.
#include "platform/include/win/winbase.h"

#include "platform/common/WinStr.h"
#include "platform/include/win/wininet.h"

#include <string_view>

namespace {

struct Message {
    DWORD code;
    std::u16string_view text;
};

// Windows words these with "%1" where the caller may insert a name; without inserts it stays.
constexpr Message Messages[] = {
    {ERROR_SUCCESS, u"The operation completed successfully."},
    {ERROR_INVALID_FUNCTION, u"Incorrect function."},
    {ERROR_FILE_NOT_FOUND, u"The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, u"The system cannot find the path specified."},
    {ERROR_ACCESS_DENIED, u"Access is denied."},
    {ERROR_INVALID_HANDLE, u"The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, u"Not enough memory resources are available to process this command."},
    {ERROR_BAD_FORMAT, u"An attempt was made to load a program with an incorrect format."},
    {ERROR_INVALID_DATA, u"The data is invalid."},
    {ERROR_OUTOFMEMORY, u"Not enough memory resources are available to complete this operation."},
    {ERROR_SHARING_VIOLATION, u"The process cannot access the file because it is being used by another process."},
    {ERROR_HANDLE_EOF, u"Reached the end of the file."},
    {ERROR_NOT_SUPPORTED, u"The request is not supported."},
    {ERROR_FILE_EXISTS, u"The file exists."},
    {ERROR_INVALID_PARAMETER, u"The parameter is incorrect."},
    {ERROR_INSUFFICIENT_BUFFER, u"The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, u"The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_MOD_NOT_FOUND, u"The specified module could not be found."},
    {ERROR_PROC_NOT_FOUND, u"The specified procedure could not be found."},
    {ERROR_BAD_EXE_FORMAT, u"%1 is not a valid Win32 application."},
    {ERROR_FILENAME_EXCED_RANGE, u"The filename or extension is too long."},
    {ERROR_MORE_DATA, u"More data is available."},
    {ERROR_NO_MORE_ITEMS, u"No more data is available."},
    {static_cast<DWORD>(E_NOTIMPL), u"Not implemented"},
    {static_cast<DWORD>(E_NOINTERFACE), u"No such interface supported"},
    {static_cast<DWORD>(E_POINTER), u"Invalid pointer"},
    {static_cast<DWORD>(E_ABORT), u"Operation aborted"},
    {static_cast<DWORD>(E_FAIL), u"Unspecified error"},
    {static_cast<DWORD>(E_UNEXPECTED), u"Catastrophic failure"},
    {static_cast<DWORD>(STG_E_INVALIDFUNCTION), u"Unable to perform requested operation."},
    {static_cast<DWORD>(STG_E_FILENOTFOUND), u"%1 could not be found."},
    {static_cast<DWORD>(STG_E_PATHNOTFOUND), u"The path %1 could not be found."},
    {static_cast<DWORD>(STG_E_TOOMANYOPENFILES), u"There are insufficient resources to open another file."},
    {static_cast<DWORD>(STG_E_INVALIDHANDLE), u"Attempted an operation on an invalid object."},
    {static_cast<DWORD>(STG_E_INSUFFICIENTMEMORY), u"There is insufficient memory available to complete operation."},
    {static_cast<DWORD>(STG_E_INVALIDPOINTER), u"Invalid pointer error."},
    {static_cast<DWORD>(STG_E_NOMOREFILES), u"There are no more entries to return."},
    {static_cast<DWORD>(STG_E_DISKISWRITEPROTECTED), u"Disk is write-protected."},
    {static_cast<DWORD>(STG_E_SEEKERROR), u"An error occurred during a seek operation."},
    {static_cast<DWORD>(STG_E_WRITEFAULT), u"A disk error occurred during a write operation."},
    {static_cast<DWORD>(STG_E_READFAULT), u"A disk error occurred during a read operation."},
    {static_cast<DWORD>(STG_E_SHAREVIOLATION), u"A share violation has occurred."},
    {static_cast<DWORD>(STG_E_LOCKVIOLATION), u"A lock violation has occurred."},
    {static_cast<DWORD>(STG_E_FILEALREADYEXISTS), u"%1 already exists."},
    {static_cast<DWORD>(STG_E_INVALIDPARAMETER), u"Invalid parameter error."},
    {static_cast<DWORD>(STG_E_MEDIUMFULL), u"There is insufficient disk space to complete operation."},
    {static_cast<DWORD>(STG_E_PROPSETMISMATCHED), u"Illegal write of non-simple property to simple property set."},
    {static_cast<DWORD>(STG_E_ABNORMALAPIEXIT), u"An API call exited abnormally."},
    {static_cast<DWORD>(STG_E_INVALIDHEADER), u"The file %1 is not a valid compound file."},
    {static_cast<DWORD>(STG_E_INVALIDNAME), u"The name %1 is not valid."},
    {static_cast<DWORD>(STG_E_UNKNOWN), u"An unexpected error occurred."},
    {static_cast<DWORD>(STG_E_UNIMPLEMENTEDFUNCTION), u"That function is not implemented."},
    {static_cast<DWORD>(STG_E_INVALIDFLAG), u"Invalid flag error."},
    {static_cast<DWORD>(STG_E_INUSE), u"Attempted to use an object that is busy."},
    {static_cast<DWORD>(STG_E_NOTCURRENT), u"The storage has been changed since the last commit."},
    {static_cast<DWORD>(STG_E_REVERTED), u"Attempted to use an object that has ceased to exist."},
    {static_cast<DWORD>(STG_E_CANTSAVE), u"Can't save."},
    {static_cast<DWORD>(STG_E_OLDFORMAT), u"The compound file %1 was produced with an incompatible version of storage."},
    {static_cast<DWORD>(STG_E_OLDDLL), u"The compound file %1 was produced with a newer version of storage."},
    {static_cast<DWORD>(STG_E_SHAREREQUIRED), u"Share.exe or equivalent is required for operation."},
    {static_cast<DWORD>(STG_E_NOTFILEBASEDSTORAGE), u"Illegal operation called on non-file based storage."},
    {static_cast<DWORD>(STG_E_EXTANTMARSHALLINGS), u"Illegal operation called on object with extant marshallings."},
    {static_cast<DWORD>(STG_E_DOCFILECORRUPT), u"The docfile has been corrupted."},
    {static_cast<DWORD>(STG_E_BADBASEADDRESS), u"OLE32.DLL has been loaded at the wrong address."},
    {static_cast<DWORD>(STG_E_INCOMPLETE), u"The file download was aborted abnormally.  The file is incomplete."},
    {static_cast<DWORD>(STG_E_TERMINATED), u"The file download has been terminated."},
    // The Internet services (wininet).
    {ERROR_INTERNET_TIMEOUT, u"The operation timed out."},
    {ERROR_INTERNET_INTERNAL_ERROR, u"An internal error occurred in the Internet services."},
    {ERROR_INTERNET_INVALID_URL, u"The URL is invalid."},
    {ERROR_INTERNET_UNRECOGNIZED_SCHEME, u"The URL uses a protocol that is not supported."},
    {ERROR_INTERNET_NAME_NOT_RESOLVED, u"The server name or address could not be resolved."},
    {ERROR_INTERNET_INVALID_OPTION, u"The option is not known."},
    {ERROR_INTERNET_OPERATION_CANCELLED, u"The operation was canceled."},
    {ERROR_INTERNET_INCORRECT_HANDLE_TYPE, u"The handle is of the wrong type for this operation."},
    {ERROR_INTERNET_INCORRECT_HANDLE_STATE, u"The handle is not in the state this operation needs."},
    {ERROR_INTERNET_CANNOT_CONNECT, u"A connection with the server could not be established."},
    {ERROR_INTERNET_CONNECTION_ABORTED, u"The connection with the server ended before the transfer was complete."},
    {ERROR_INTERNET_CONNECTION_RESET, u"The connection with the server was reset."},
    {ERROR_INTERNET_SEC_CERT_DATE_INVALID, u"The server's certificate has expired or is not yet valid."},
    {ERROR_INTERNET_SEC_CERT_CN_INVALID, u"The server's certificate was issued for another host name."},
    {ERROR_INTERNET_INVALID_CA, u"The server's certificate was not issued by a trusted authority."},
    {ERROR_HTTP_HEADER_NOT_FOUND, u"The requested header was not found."},
    {ERROR_HTTP_INVALID_SERVER_RESPONSE, u"The server's response could not be understood."},
    {ERROR_HTTP_REDIRECT_FAILED, u"The redirection could not be followed."},
    {ERROR_INTERNET_SECURITY_CHANNEL_ERROR, u"A secure connection with the server could not be established."},
    {ERROR_INTERNET_SEC_INVALID_CERT, u"The server's certificate is invalid."},
};

} // namespace

extern "C" DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                                       LPWSTR lpBuffer, DWORD nSize, void* Arguments)
{
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) || !lpBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // A Win32 error wrapped in an HRESULT reads as the error itself.
    DWORD code = dwMessageId;
    if ((code & 0xFFFF0000) == 0x80070000)
        code &= 0xFFFF;
    for (const Message& m : Messages) {
        if (m.code != code)
            continue;
        std::u16string text(m.text);
        text += u"\r\n";
        if (!winstr::CopyTo(text, lpBuffer, nSize)) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        return static_cast<DWORD>(text.size());
    }
    SetLastError(317); // ERROR_MR_MID_NOT_FOUND
    return 0;
}
