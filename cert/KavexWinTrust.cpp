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

} // extern "C"
