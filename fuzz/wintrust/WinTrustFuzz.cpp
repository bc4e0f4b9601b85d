// libFuzzer target for WinVerifyTrustEx on a file's bytes, as the program calls it (by handle,
// state kept), followed by a walk over everything the state offers: the signer and counter-signer
// infos, their certificates and the message. Built once per subject interface package, seeded
// with its fixtures (fuzz/targets): fuzz_wintrust_pe, _msi, _cab, _script (the input named .ps1)
// and _appx (named .msix).
//
// Revocation is asked for with cache-only retrieval, so that no input makes the fuzzer fetch
// from the network; the test root and the time-stamp root are trusted, so that chains verify.
#include "platform/include/win/winbase.h"
#include "platform/include/win/wintrust.h"
#include "platform/kernel32/Handles.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

volatile uint8_t Sink = 0;

void Touch(const void* data, size_t size)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i)
        Sink = Sink + bytes[i];
}

void TouchAttributes(const CRYPT_ATTRIBUTES& attributes)
{
    for (DWORD i = 0; i < attributes.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = attributes.rgAttr[i];
        for (const char* p = attribute.pszObjId; p && *p; ++p)
            Sink = Sink + static_cast<uint8_t>(*p);
        for (DWORD v = 0; v < attribute.cValue; ++v)
            Touch(attribute.rgValue[v].pbData, attribute.rgValue[v].cbData);
    }
}

void TouchSigner(CRYPT_PROVIDER_SGNR* signer)
{
    if (const CMSG_SIGNER_INFO* info = signer->psSigner) {
        Touch(info->Issuer.pbData, info->Issuer.cbData);
        Touch(info->SerialNumber.pbData, info->SerialNumber.cbData);
        Touch(info->EncryptedHash.pbData, info->EncryptedHash.cbData);
        TouchAttributes(info->AuthAttrs);
        TouchAttributes(info->UnauthAttrs);
    }
    for (DWORD i = 0;; ++i) {
        const CRYPT_PROVIDER_CERT* cert = WTHelperGetProvCertFromChain(signer, i);
        if (!cert)
            break;
        Touch(cert->pCert->pbCertEncoded, cert->pCert->cbCertEncoded);
        Sink = Sink + static_cast<uint8_t>(cert->dwError + cert->fTrustedRoot);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("SSL_CERT_FILE", TESSERA_FUZZ_ANCHORS, 1);
    setenv("SSL_CERT_DIR", "/nonexistent", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int fd = memfd_create("fuzz-wintrust", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) {
        close(fd);
        return 0;
    }
    const std::u16string path = TESSERA_FUZZ_INPUT_NAME;
    WINTRUST_FILE_INFO file{sizeof file, path.c_str(), kernel32::HandleFromDescriptor(fd), nullptr};
    WINTRUST_DATA request{};
    request.cbStruct = sizeof request;
    request.dwUIChoice = WTD_UI_NONE;
    request.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    request.dwUnionChoice = WTD_CHOICE_FILE;
    request.pFile = &file;
    request.dwStateAction = WTD_STATEACTION_VERIFY;
    request.dwProvFlags = WTD_SAFER_FLAG | WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const HRESULT result = WinVerifyTrustEx(reinterpret_cast<HWND>(INVALID_HANDLE_VALUE), &action, &request);
    Sink = Sink + static_cast<uint8_t>(result);

    if (CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(request.hWVTStateData)) {
        for (DWORD s = 0;; ++s) {
            CRYPT_PROVIDER_SGNR* signer = WTHelperGetProvSignerFromChain(provider, s, FALSE, 0);
            if (!signer)
                break;
            TouchSigner(signer);
            for (DWORD c = 0;; ++c) {
                CRYPT_PROVIDER_SGNR* counter = WTHelperGetProvSignerFromChain(provider, s, TRUE, c);
                if (!counter)
                    break;
                TouchSigner(counter);
            }
        }
        if (provider->hMsg) {
            DWORD count = 0;
            DWORD cb = sizeof count;
            CryptMsgGetParam(provider->hMsg, CMSG_CERT_COUNT_PARAM, 0, &count, &cb);
            Sink = Sink + static_cast<uint8_t>(count);
        }
    }
    request.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrustEx(reinterpret_cast<HWND>(INVALID_HANDLE_VALUE), &action, &request);
    close(fd);
    return 0;
}
