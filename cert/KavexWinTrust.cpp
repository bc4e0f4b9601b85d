#include "cert/KavexWinTrust.h"

#include "cert/LazyBinding.h"

using lazybinding::Forward;

namespace {
constexpr LPCWSTR Module = u"wintrust.dll";
}

void Kavex_WinTrust::BindFunction(LPCSTR functionName, FARPROC& slot)
{
    lazybinding::Bind(Module, functionName, slot);
}

extern "C" {

HRESULT WINAPI WinVerifyTrustEx(HWND a, GUID* b, WINTRUST_DATA* c)
{
    return Forward<&WinVerifyTrustEx, HRESULT>(Module, "WinVerifyTrustEx", TRUST_E_PROVIDER_UNKNOWN, a, b, c);
}

BOOL WINAPI CryptSIPRetrieveSubjectGuid(LPCWSTR a, HANDLE b, GUID* c)
{
    return Forward<&CryptSIPRetrieveSubjectGuid, BOOL>(Module, "CryptSIPRetrieveSubjectGuid", FALSE, a, b, c);
}

BOOL WINAPI CryptSIPGetSignedDataMsg(SIP_SUBJECTINFO* a, DWORD* b, DWORD c, DWORD* d, BYTE* e)
{
    return Forward<&CryptSIPGetSignedDataMsg, BOOL>(Module, "CryptSIPGetSignedDataMsg", FALSE, a, b, c, d, e);
}

HANDLE WINAPI CryptCATOpen(LPCWSTR a, DWORD b, ULONG_PTR c, DWORD d, DWORD e)
{
    return Forward<&CryptCATOpen, HANDLE>(Module, "CryptCATOpen", INVALID_HANDLE_VALUE, a, b, c, d, e);
}

BOOL WINAPI CryptCATClose(HANDLE a)
{
    return Forward<&CryptCATClose, BOOL>(Module, "CryptCATClose", FALSE, a);
}

CRYPTCATMEMBER* WINAPI CryptCATEnumerateMember(HANDLE a, CRYPTCATMEMBER* b)
{
    return Forward<&CryptCATEnumerateMember, CRYPTCATMEMBER*>(Module, "CryptCATEnumerateMember", nullptr, a, b);
}

CRYPTCATATTRIBUTE* WINAPI CryptCATGetAttrInfo(HANDLE a, CRYPTCATMEMBER* b, LPCWSTR c)
{
    return Forward<&CryptCATGetAttrInfo, CRYPTCATATTRIBUTE*>(Module, "CryptCATGetAttrInfo", nullptr, a, b, c);
}

BOOL WINAPI CryptCATAdminAcquireContext2(HCATADMIN* a, const GUID* b, LPCWSTR c, const void* d, DWORD e)
{
    return Forward<&CryptCATAdminAcquireContext2, BOOL>(Module, "CryptCATAdminAcquireContext2", FALSE, a, b, c, d, e);
}

BOOL WINAPI CryptCATAdminReleaseContext(HCATADMIN a, DWORD b)
{
    return Forward<&CryptCATAdminReleaseContext, BOOL>(Module, "CryptCATAdminReleaseContext", FALSE, a, b);
}

HCATINFO WINAPI CryptCATAdminAddCatalog(HCATADMIN a, LPCWSTR b, LPCWSTR c, DWORD d)
{
    return Forward<&CryptCATAdminAddCatalog, HCATINFO>(Module, "CryptCATAdminAddCatalog", nullptr, a, b, c, d);
}

BOOL WINAPI CryptCATAdminCalcHashFromFileHandle2(HCATADMIN a, HANDLE b, DWORD* c, BYTE* d, DWORD e)
{
    return Forward<&CryptCATAdminCalcHashFromFileHandle2, BOOL>(Module, "CryptCATAdminCalcHashFromFileHandle2", FALSE,
                                                                a, b, c, d, e);
}

HCATINFO WINAPI CryptCATAdminEnumCatalogFromHash(HCATADMIN a, const BYTE* b, DWORD c, DWORD d, HCATINFO* e)
{
    return Forward<&CryptCATAdminEnumCatalogFromHash, HCATINFO>(Module, "CryptCATAdminEnumCatalogFromHash", nullptr, a,
                                                                b, c, d, e);
}

BOOL WINAPI CryptCATCatalogInfoFromContext(HCATINFO a, CATALOG_INFO* b, DWORD c)
{
    return Forward<&CryptCATCatalogInfoFromContext, BOOL>(Module, "CryptCATCatalogInfoFromContext", FALSE, a, b, c);
}

BOOL WINAPI CryptCATAdminReleaseCatalogContext(HCATADMIN a, HCATINFO b, DWORD c)
{
    return Forward<&CryptCATAdminReleaseCatalogContext, BOOL>(Module, "CryptCATAdminReleaseCatalogContext", FALSE, a, b,
                                                              c);
}

CRYPT_PROVIDER_DATA* WINAPI WTHelperProvDataFromStateData(HANDLE a)
{
    return Forward<&WTHelperProvDataFromStateData, CRYPT_PROVIDER_DATA*>(Module, "WTHelperProvDataFromStateData",
                                                                         nullptr, a);
}

CRYPT_PROVIDER_SGNR* WINAPI WTHelperGetProvSignerFromChain(CRYPT_PROVIDER_DATA* a, DWORD b, BOOL c, DWORD d)
{
    return Forward<&WTHelperGetProvSignerFromChain, CRYPT_PROVIDER_SGNR*>(Module, "WTHelperGetProvSignerFromChain",
                                                                          nullptr, a, b, c, d);
}

CRYPT_PROVIDER_CERT* WINAPI WTHelperGetProvCertFromChain(CRYPT_PROVIDER_SGNR* a, DWORD b)
{
    return Forward<&WTHelperGetProvCertFromChain, CRYPT_PROVIDER_CERT*>(Module, "WTHelperGetProvCertFromChain",
                                                                        nullptr, a, b);
}

CRYPT_PROVIDER_PRIVDATA* WINAPI WTHelperGetProvPrivateDataFromChain(CRYPT_PROVIDER_DATA* a, GUID* b)
{
    return Forward<&WTHelperGetProvPrivateDataFromChain, CRYPT_PROVIDER_PRIVDATA*>(
        Module, "WTHelperGetProvPrivateDataFromChain", nullptr, a, b);
}

} // extern "C"
