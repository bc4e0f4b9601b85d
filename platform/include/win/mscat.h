// Catalogs: the members a catalog lists, and the catalog administrator that finds the catalog
// that lists a file by the file's hash. Provided by libtessera-wintrust.so.
//
// On Windows the administrator's catalog database is the system's (catroot), and adding a
// catalog installs it there. Here the database of an administrator context is the catalogs added
// to it, and nothing outlives the context.
#pragma once

#include "mssip.h"

using HCATADMIN = HANDLE;
using HCATINFO = HANDLE;

// A member's indirect data: the file's hash as the catalog holds it.
struct CRYPT_ATTRIBUTE_TYPE_VALUE {
    LPSTR pszObjId;
    CRYPT_OBJID_BLOB Value;
};

struct SIP_INDIRECT_DATA {
    CRYPT_ATTRIBUTE_TYPE_VALUE Data;
    CRYPT_ALGORITHM_IDENTIFIER DigestAlgorithm;
    CRYPT_HASH_BLOB Digest;
};

struct CRYPTCATMEMBER {
    DWORD cbStruct;
    LPWSTR pwszReferenceTag; // the member's tag: for members added by hash, the hash in hex
    LPWSTR pwszFileName;     // the name its "File" attribute gives, or null
    GUID gSubjectType;       // the subject interface package its hash was made by
    DWORD fdwMemberFlags;
    SIP_INDIRECT_DATA* pIndirectData;
    DWORD dwCertVersion;
    DWORD dwReserved;
    HANDLE hReserved;
    CRYPT_ATTR_BLOB sEncodedIndirectData;
    CRYPT_ATTR_BLOB sEncodedMemberInfo;
};

struct CRYPTCATATTRIBUTE {
    DWORD cbStruct;
    LPWSTR pwszReferenceTag; // its name ("File", "OSAttr", ...)
    DWORD dwAttrTypeAndAction;
    DWORD cbValue;
    BYTE* pbValue; // as the catalog holds it: UTF-16LE text for a name-value attribute
    DWORD dwReserved;
};

// A catalog's path, without the fixed limit Windows gives it: no name the file system can open
// is longer.
inline constexpr size_t CATALOG_PATH_MAX = 32768;
struct CATALOG_INFO {
    DWORD cbStruct;
    WCHAR wszCatalogFile[CATALOG_PATH_MAX];
};

extern "C" {

// Opens a catalog file to read its members (fdwOpenFlags: only reading is supported);
// INVALID_HANDLE_VALUE when the file is no catalog.
HANDLE WINAPI CryptCATOpen(LPCWSTR pwszFileName, DWORD fdwOpenFlags, ULONG_PTR hProv, DWORD dwPublicVersion,
                           DWORD dwEncodingType);
BOOL WINAPI CryptCATClose(HANDLE hCatalog);
// The member after pPrevMember (the first for null); null after the last.
CRYPTCATMEMBER* WINAPI CryptCATEnumerateMember(HANDLE hCatalog, CRYPTCATMEMBER* pPrevMember);
// The member's attribute of that name, or null.
CRYPTCATATTRIBUTE* WINAPI CryptCATGetAttrInfo(HANDLE hCatalog, CRYPTCATMEMBER* pCatMember, LPCWSTR pwszReferenceTag);

// An administrator context whose hashes are made with pwszHashAlgorithm ("SHA1", the default,
// or "SHA256").
BOOL WINAPI CryptCATAdminAcquireContext2(HCATADMIN* phCatAdmin, const GUID* pgSubsystem, LPCWSTR pwszHashAlgorithm,
                                         const void* pStrongHashPolicy, DWORD dwFlags);
BOOL WINAPI CryptCATAdminReleaseContext(HCATADMIN hCatAdmin, DWORD dwFlags);
// Adds a catalog to the context's database; its info, or null when the file is no catalog.
HCATINFO WINAPI CryptCATAdminAddCatalog(HCATADMIN hCatAdmin, LPCWSTR pwszCatalogFile, LPCWSTR pwszSelectBaseName,
                                        DWORD dwFlags);
// The file's hash as catalogs hold it: an executable's Authenticode digest, any other file's
// digest, with the context's algorithm. The size first when pbHash is null.
BOOL WINAPI CryptCATAdminCalcHashFromFileHandle2(HCATADMIN hCatAdmin, HANDLE hFile, DWORD* pcbHash, BYTE* pbHash,
                                                 DWORD dwFlags);
// The next catalog of the database that lists the hash: after *phPrevCatInfo (which is released)
// when given, else the first. Null when there is none.
HCATINFO WINAPI CryptCATAdminEnumCatalogFromHash(HCATADMIN hCatAdmin, const BYTE* pbHash, DWORD cbHash, DWORD dwFlags,
                                                 HCATINFO* phPrevCatInfo);
BOOL WINAPI CryptCATCatalogInfoFromContext(HCATINFO hCatInfo, CATALOG_INFO* psCatInfo, DWORD dwFlags);
BOOL WINAPI CryptCATAdminReleaseCatalogContext(HCATADMIN hCatAdmin, HCATINFO hCatInfo, DWORD dwFlags);

} // extern "C"
