// wintrust: Authenticode verification and its provider data. Provided by libtessera-wintrust.so.
#pragma once

#include "wincrypt.h"

// {00AAC56B-CD44-11D0-8CC2-00C04FC295EE}
inline constexpr GUID WINTRUST_ACTION_GENERIC_VERIFY_V2 = {
    0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

inline constexpr DWORD WTD_UI_ALL = 1;
inline constexpr DWORD WTD_UI_NONE = 2;
inline constexpr DWORD WTD_UI_NOBAD = 3;
inline constexpr DWORD WTD_UI_NOGOOD = 4;

inline constexpr DWORD WTD_REVOKE_NONE = 0;
inline constexpr DWORD WTD_REVOKE_WHOLECHAIN = 1;

inline constexpr DWORD WTD_CHOICE_FILE = 1;
inline constexpr DWORD WTD_CHOICE_CATALOG = 2;
inline constexpr DWORD WTD_CHOICE_BLOB = 3;
inline constexpr DWORD WTD_CHOICE_SIGNER = 4;
inline constexpr DWORD WTD_CHOICE_CERT = 5;

inline constexpr DWORD WTD_STATEACTION_IGNORE = 0;
inline constexpr DWORD WTD_STATEACTION_VERIFY = 1;
inline constexpr DWORD WTD_STATEACTION_CLOSE = 2;

inline constexpr DWORD WTD_SAFER_FLAG = 0x100;
inline constexpr DWORD WTD_REVOCATION_CHECK_NONE = 0x10;
inline constexpr DWORD WTD_CACHE_ONLY_URL_RETRIEVAL = 0x1000;

inline constexpr DWORD WTD_UICONTEXT_EXECUTE = 0;

struct WINTRUST_FILE_INFO {
    DWORD cbStruct;
    LPCWSTR pcwszFilePath;
    HANDLE hFile;
    GUID* pgKnownSubject;
};

// Which signature of a file to judge (Windows 8 and later): dwIndex 0 is the primary signature,
// 1 and up the secondary ones nested in it, in the order they appear.
inline constexpr DWORD WSS_VERIFY_SPECIFIC = 0x00000001;
inline constexpr DWORD WSS_GET_SECONDARY_SIG_COUNT = 0x00000002;

struct CERT_STRONG_SIGN_PARA;

struct WINTRUST_SIGNATURE_SETTINGS {
    DWORD cbStruct;
    DWORD dwIndex;
    DWORD dwFlags;
    DWORD cSecondarySigs;      // out, with WSS_GET_SECONDARY_SIG_COUNT
    DWORD dwVerifiedSigIndex;  // out: the signature that was judged
    CERT_STRONG_SIGN_PARA* pCryptoPolicy;
};

// A caller of an older Windows passes a cbStruct that ends before pSignatureSettings.
struct WINTRUST_DATA {
    DWORD cbStruct;
    LPVOID pPolicyCallbackData;
    LPVOID pSIPClientData;
    DWORD dwUIChoice;
    DWORD fdwRevocationChecks;
    DWORD dwUnionChoice;
    union {
        WINTRUST_FILE_INFO* pFile;
        void* pCatalog;
        void* pBlob;
        void* pSgnr;
        void* pCert;
    };
    DWORD dwStateAction;
    HANDLE hWVTStateData;
    WCHAR* pwszURLReference;
    DWORD dwProvFlags;
    DWORD dwUIContext;
    WINTRUST_SIGNATURE_SETTINGS* pSignatureSettings;
};
using PWINTRUST_DATA = WINTRUST_DATA*;

inline constexpr DWORD SGNR_TYPE_TIMESTAMP = 0x00000010;

struct CRYPT_PROVIDER_CERT {
    DWORD cbStruct;
    PCCERT_CONTEXT pCert;
    BOOL fCommercial;
    BOOL fTrustedRoot;
    BOOL fSelfSigned;
    BOOL fTestCert;
    DWORD dwRevokedReason;
    DWORD dwConfidence;
    DWORD dwError;
    CTL_CONTEXT* pTrustListContext;
    BOOL fTrustListSignerCert;
    PCCTL_CONTEXT pCtlContext;
    DWORD dwCtlError;
    BOOL fIsCyclic;
    PCERT_CHAIN_ELEMENT pChainElement; // the element of the signer's chain context
};

struct CRYPT_PROVIDER_SGNR {
    DWORD cbStruct;
    FILETIME sftVerifyAsOf;
    DWORD csCertChain;
    CRYPT_PROVIDER_CERT* pasCertChain;
    DWORD dwSignerType;
    CMSG_SIGNER_INFO* psSigner;
    DWORD dwError;
    DWORD csCounterSigners;
    CRYPT_PROVIDER_SGNR* pasCounterSigners;
    // The chain as the chain engine built and judged it at sftVerifyAsOf: one simple chain, its
    // elements those of pasCertChain.
    PCCERT_CHAIN_CONTEXT pChainContext;
};

// The part of the provider data that callers read; the trust provider keeps more behind it.
struct CRYPT_PROVIDER_DATA {
    DWORD cbStruct;
    WINTRUST_DATA* pWintrustData;
    BOOL fOpenedFile;
    HWND hWndParent;
    GUID* pgActionID;
    DWORD dwError;
    DWORD dwRegSecuritySettings;
    DWORD dwRegPolicySettings;
    DWORD chStores;
    HCERTSTORE* pahStores;
    DWORD dwEncoding;
    HCRYPTMSG hMsg;
    DWORD csSigners;
    CRYPT_PROVIDER_SGNR* pasSigners;
    DWORD dwFinalError;
};

extern "C" {

LONG WINAPI WinVerifyTrust(HWND hwnd, GUID* pgActionID, LPVOID pWVTData);
HRESULT WINAPI WinVerifyTrustEx(HWND hwnd, GUID* pgActionID, WINTRUST_DATA* pWinTrustData);
CRYPT_PROVIDER_DATA* WINAPI WTHelperProvDataFromStateData(HANDLE hStateData);
CRYPT_PROVIDER_SGNR* WINAPI WTHelperGetProvSignerFromChain(CRYPT_PROVIDER_DATA* pProvData, DWORD idxSigner,
                                                           BOOL fCounterSigner, DWORD idxCounterSigner);
CRYPT_PROVIDER_CERT* WINAPI WTHelperGetProvCertFromChain(CRYPT_PROVIDER_SGNR* pSgnr, DWORD idxCert);

} // extern "C"
