#include "platform/include/win/winbase.h"

extern "C" BOOL WINAPI GetBinaryTypeW(LPCWSTR lpApplicationName, LPDWORD lpBinaryType)
{
    SetLastError(ERROR_BAD_EXE_FORMAT);
    return FALSE;
}
