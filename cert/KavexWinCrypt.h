// The program's binding of "crypt32.dll": the wrappers carry the platform functions' own names
// (declared in wincrypt.h) and bind each function on its first call. When the library or the
// export is missing, a wrapper answers 0, FALSE or null without calling anything.
#pragma once

#include "platform/include/win/wincrypt.h"

namespace Kavex_WinCrypt {
// Binds a crypt32 function into its slot; true when the slot is filled.
bool BindFunction(LPCSTR functionName, FARPROC& slot);
} // namespace Kavex_WinCrypt

// The second names forward to the wide-character wrappers.
inline DWORD CertNameToStr(DWORD encoding, PCERT_NAME_BLOB name, DWORD strType, LPWSTR psz, DWORD csz)
{
    return CertNameToStrW(encoding, name, strType, psz, csz);
}
inline DWORD CertGetNameString(PCCERT_CONTEXT cert, DWORD type, DWORD flags, void* typePara, LPWSTR name,
                               DWORD cch)
{
    return CertGetNameStringW(cert, type, flags, typePara, name, cch);
}
inline BOOL CryptBinaryToString(const BYTE* binary, DWORD cb, DWORD flags, LPWSTR text, DWORD* cch)
{
    return CryptBinaryToStringW(binary, cb, flags, text, cch);
}
inline BOOL CryptStringToBinary(LPCWSTR text, DWORD cch, DWORD flags, BYTE* binary, DWORD* cb, DWORD* skip,
                                DWORD* outFlags)
{
    return CryptStringToBinaryW(text, cch, flags, binary, cb, skip, outFlags);
}
