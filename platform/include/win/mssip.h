// The subject interface packages' entry points that wintrust exports: which package claims a
// file, and the signature it finds there. Provided by libtessera-wintrust.so.
//
// On Windows crypt32 answers CryptSIPRetrieveSubjectGuid by asking the packages that wintrust and
// others register; here every package lives in wintrust, and so does the question.
#pragma once

#include "wincrypt.h"

// The subject types of the packages. The first four are Windows' own names; the PowerShell and
// app package types have no name in Windows' headers, only their values.
// {C689AAB8-8E78-11D0-8C47-00C04FC295EE}
inline constexpr GUID CRYPT_SUBJTYPE_PE_IMAGE = {
    0xC689AAB8, 0x8E78, 0x11D0, {0x8C, 0x47, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
// {C689AABA-8E78-11D0-8C47-00C04FC295EE}
inline constexpr GUID CRYPT_SUBJTYPE_CABINET_IMAGE = {
    0xC689AABA, 0x8E78, 0x11D0, {0x8C, 0x47, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
// {DE351A43-8E59-11D0-8C47-00C04FC295EE}
inline constexpr GUID CRYPT_SUBJTYPE_CATALOG_IMAGE = {
    0xDE351A43, 0x8E59, 0x11D0, {0x8C, 0x47, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
// The installer package's: {000C10F1-0000-0000-C000-000000000046}
inline constexpr GUID CRYPT_SUBJTYPE_STRUCTURED_STORAGE = {
    0x000C10F1, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {603BCC1F-4B59-4E08-B724-D2C6297EF351}
inline constexpr GUID SUBJTYPE_POWERSHELL_SCRIPT = {
    0x603BCC1F, 0x4B59, 0x4E08, {0xB7, 0x24, 0xD2, 0xC6, 0x29, 0x7E, 0xF3, 0x51}};
// {0AC5DF4B-CE07-4DE2-B76E-23C839A09FD1}
inline constexpr GUID SUBJTYPE_APPX_PACKAGE = {
    0x0AC5DF4B, 0xCE07, 0x4DE2, {0xB7, 0x6E, 0x23, 0xC8, 0x39, 0xA0, 0x9F, 0xD1}};
// {0F5F58B3-AADE-4B9A-A434-95742D92ECEB}
inline constexpr GUID SUBJTYPE_APPX_BUNDLE = {
    0x0F5F58B3, 0xAADE, 0x4B9A, {0xA4, 0x34, 0x95, 0x74, 0x2D, 0x92, 0xEC, 0xEB}};

struct SIP_SUBJECTINFO {
    DWORD cbSize;
    GUID* pgSubjectType; // the package that claims the file (CryptSIPRetrieveSubjectGuid)
    HANDLE hFile;        // the file opened for reading, or INVALID_HANDLE_VALUE: pwsFileName is opened
    LPCWSTR pwsFileName;
    LPCWSTR pwsDisplayName;
    DWORD dwReserved1;
    DWORD dwIntVersion;
    ULONG_PTR hProv;
    CRYPT_ALGORITHM_IDENTIFIER DigestAlgorithm;
    DWORD dwFlags;
    DWORD dwEncodingType;
    DWORD dwReserved2;
    DWORD fdwCAPISettings;
    DWORD fdwSecuritySettings;
    DWORD dwIndex;
    DWORD dwUnionChoice;
    void* psFlat;
    void* pClientData;
};

extern "C" {

// The package that claims the file, by its first bytes or its name: TRUE and its subject type;
// FALSE with TRUST_E_SUBJECT_FORM_UNKNOWN for a file no package claims.
BOOL WINAPI CryptSIPRetrieveSubjectGuid(LPCWSTR FileName, HANDLE hFileIn, GUID* pgSubject);

// The signature the package finds in the file (index 0 only): the PKCS #7 message's bytes, the
// size first when pbSignedDataMsg is null; FALSE with TRUST_E_NOSIGNATURE for a file without one.
BOOL WINAPI CryptSIPGetSignedDataMsg(SIP_SUBJECTINFO* pSubjectInfo, DWORD* pdwEncodingType, DWORD dwIndex,
                                     DWORD* pcbSignedDataMsg, BYTE* pbSignedDataMsg);

} // extern "C"
