#include "cert/KavexWinCrypt.h"

#include "cert/LazyBinding.h"

using lazybinding::Forward;

namespace {
constexpr LPCWSTR Module = u"crypt32.dll";
}

bool Kavex_WinCrypt::BindFunction(LPCSTR functionName, FARPROC& slot)
{
    return lazybinding::Bind(Module, functionName, slot);
}

extern "C" {

BOOL WINAPI CryptDecodeObject(DWORD a, LPCSTR b, const BYTE* c, DWORD d, DWORD e, void* f, DWORD* g)
{
    return Forward<&CryptDecodeObject, BOOL>(Module, "CryptDecodeObject", FALSE, a, b, c, d, e, f, g);
}

BOOL WINAPI CertSaveStore(HCERTSTORE a, DWORD b, DWORD c, DWORD d, void* e, DWORD f)
{
    return Forward<&CertSaveStore, BOOL>(Module, "CertSaveStore", FALSE, a, b, c, d, e, f);
}

BOOL WINAPI CertCloseStore(HCERTSTORE a, DWORD b)
{
    return Forward<&CertCloseStore, BOOL>(Module, "CertCloseStore", FALSE, a, b);
}

BOOL WINAPI CertAddCertificateContextToStore(HCERTSTORE a, PCCERT_CONTEXT b, DWORD c, PCCERT_CONTEXT* d)
{
    return Forward<&CertAddCertificateContextToStore, BOOL>(Module, "CertAddCertificateContextToStore", FALSE, a,
                                                            b, c, d);
}

BOOL WINAPI CertGetCertificateContextProperty(PCCERT_CONTEXT a, DWORD b, void* c, DWORD* d)
{
    return Forward<&CertGetCertificateContextProperty, BOOL>(Module, "CertGetCertificateContextProperty", FALSE, a, b,
                                                             c, d);
}

BOOL WINAPI CertGetEnhancedKeyUsage(PCCERT_CONTEXT a, DWORD b, PCERT_ENHKEY_USAGE c, DWORD* d)
{
    return Forward<&CertGetEnhancedKeyUsage, BOOL>(Module, "CertGetEnhancedKeyUsage", FALSE, a, b, c, d);
}

BOOL WINAPI CryptHashCertificate(HCRYPTPROV_LEGACY a, ALG_ID b, DWORD c, const BYTE* d, DWORD e, BYTE* f, DWORD* g)
{
    return Forward<&CryptHashCertificate, BOOL>(Module, "CryptHashCertificate", FALSE, a, b, c, d, e, f, g);
}

BOOL WINAPI CertGetIntendedKeyUsage(DWORD a, PCERT_INFO b, BYTE* c, DWORD d)
{
    return Forward<&CertGetIntendedKeyUsage, BOOL>(Module, "CertGetIntendedKeyUsage", FALSE, a, b, c, d);
}

DWORD WINAPI CertGetPublicKeyLength(DWORD a, CERT_PUBLIC_KEY_INFO* b)
{
    return Forward<&CertGetPublicKeyLength, DWORD>(Module, "CertGetPublicKeyLength", 0u, a, b);
}

DWORD WINAPI CertNameToStrW(DWORD a, PCERT_NAME_BLOB b, DWORD c, LPWSTR d, DWORD e)
{
    return Forward<&CertNameToStrW, DWORD>(Module, "CertNameToStrW", 0u, a, b, c, d, e);
}

DWORD WINAPI CertGetNameStringW(PCCERT_CONTEXT a, DWORD b, DWORD c, void* d, LPWSTR e, DWORD f)
{
    return Forward<&CertGetNameStringW, DWORD>(Module, "CertGetNameStringW", 0u, a, b, c, d, e, f);
}

BOOL WINAPI CryptBinaryToStringW(const BYTE* a, DWORD b, DWORD c, LPWSTR d, DWORD* e)
{
    return Forward<&CryptBinaryToStringW, BOOL>(Module, "CryptBinaryToStringW", FALSE, a, b, c, d, e);
}

BOOL WINAPI CryptStringToBinaryW(LPCWSTR a, DWORD b, DWORD c, BYTE* d, DWORD* e, DWORD* f, DWORD* g)
{
    return Forward<&CryptStringToBinaryW, BOOL>(Module, "CryptStringToBinaryW", FALSE, a, b, c, d, e, f, g);
}

BOOL WINAPI CertFreeCertificateContext(PCCERT_CONTEXT a)
{
    return Forward<&CertFreeCertificateContext, BOOL>(Module, "CertFreeCertificateContext", FALSE, a);
}

PCCRYPT_OID_INFO WINAPI CryptFindOIDInfo(DWORD a, void* b, DWORD c)
{
    return Forward<&CryptFindOIDInfo, PCCRYPT_OID_INFO>(Module, "CryptFindOIDInfo", nullptr, a, b, c);
}

PCCERT_CONTEXT WINAPI CertCreateCertificateContext(DWORD a, const BYTE* b, DWORD c)
{
    return Forward<&CertCreateCertificateContext, PCCERT_CONTEXT>(Module, "CertCreateCertificateContext", nullptr, a,
                                                                  b, c);
}

PCCERT_CONTEXT WINAPI CertEnumCertificatesInStore(HCERTSTORE a, PCCERT_CONTEXT b)
{
    return Forward<&CertEnumCertificatesInStore, PCCERT_CONTEXT>(Module, "CertEnumCertificatesInStore", nullptr, a,
                                                                 b);
}

PCCERT_CONTEXT WINAPI CertFindCertificateInStore(HCERTSTORE a, DWORD b, DWORD c, DWORD d, const void* e,
                                                 PCCERT_CONTEXT f)
{
    return Forward<&CertFindCertificateInStore, PCCERT_CONTEXT>(Module, "CertFindCertificateInStore", nullptr, a, b,
                                                                c, d, e, f);
}

HCERTSTORE WINAPI CertOpenStore(LPCSTR a, DWORD b, HCRYPTPROV_LEGACY c, DWORD d, const void* e)
{
    return Forward<&CertOpenStore, HCERTSTORE>(Module, "CertOpenStore", nullptr, a, b, c, d, e);
}

HCERTSTORE WINAPI PFXImportCertStore(CRYPT_DATA_BLOB* a, LPCWSTR b, DWORD c)
{
    return Forward<&PFXImportCertStore, HCERTSTORE>(Module, "PFXImportCertStore", nullptr, a, b, c);
}

} // extern "C"
