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

extern "C" {

BOOL WINAPI CryptUIDlgViewCertificateW(PCCRYPTUI_VIEWCERTIFICATE_STRUCTW pCertViewInfo, BOOL* pfPropertiesChanged);
BOOL WINAPI CryptUIDlgViewSignerInfoW(PCCRYPTUI_VIEWSIGNERINFO_STRUCTW pcvsi);

} // extern "C"
