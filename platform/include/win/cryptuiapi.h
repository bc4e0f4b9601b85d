// cryptui: the certificate and signer dialogs. Provided by libtessera-cryptui.so.
#pragma once

#include "wintrust.h"

struct PROPSHEETPAGEW;
using LPCPROPSHEETPAGEW = const PROPSHEETPAGEW*;

struct CRYPTUI_VIEWCERTIFICATE_STRUCTW {
    DWORD dwSize;
    HWND hwndParent;
    DWORD dwFlags;
    LPCWSTR szTitle;
    PCCERT_CONTEXT pCertContext;
    LPCSTR* rgszPurposes;
    DWORD cPurposes;
    union {
        const CRYPT_PROVIDER_DATA* pCryptProviderData;
        HANDLE hWVTStateData;
    };
    BOOL fpCryptProviderDataTrustedUsage;
    DWORD idxSigner;
    DWORD idxCert;
    BOOL fCounterSigner;
    DWORD idxCounterSigner;
    DWORD cStores;
    HCERTSTORE* rghStores;
    DWORD cPropSheetPages;
    LPCPROPSHEETPAGEW rgPropSheetPages;
    DWORD nStartPage;
};
using PCCRYPTUI_VIEWCERTIFICATE_STRUCTW = const CRYPTUI_VIEWCERTIFICATE_STRUCTW*;

struct CRYPTUI_VIEWSIGNERINFO_STRUCTW {
    DWORD dwSize;
    HWND hwndParent;
    DWORD dwFlags;
    LPCWSTR szTitle;
    CMSG_SIGNER_INFO* pSignerInfo;
    HCRYPTMSG hMsg;
    LPCSTR pszOID;
    DWORD_PTR dwReserved;
    DWORD cStores;
    HCERTSTORE* rghStores;
    DWORD cPropSheetPages;
    LPCPROPSHEETPAGEW rgPropSheetPages;
};
using PCCRYPTUI_VIEWSIGNERINFO_STRUCTW = const CRYPTUI_VIEWSIGNERINFO_STRUCTW*;

// Tessera's: with this flag, dwReserved is the const CRYPT_PROVIDER_DATA* of the verification that
// judged pSignerInfo (alive while the dialog shows), as CRYPTUI_VIEWCERTIFICATE_STRUCTW's
// pCryptProviderData is for a certificate: the dialog shows the chain, its status and the moment
// as they were judged instead of judging them anew.
inline constexpr DWORD CRYPTUI_TESSERA_SIGNER_PROVIDER_DATA = 0x80000000;

extern "C" {

BOOL WINAPI CryptUIDlgViewCertificateW(PCCRYPTUI_VIEWCERTIFICATE_STRUCTW pCertViewInfo, BOOL* pfPropertiesChanged);
BOOL WINAPI CryptUIDlgViewSignerInfoW(PCCRYPTUI_VIEWSIGNERINFO_STRUCTW pcvsi);

} // extern "C"
