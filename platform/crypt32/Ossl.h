// OpenSSL ownership, the one translation of OpenSSL's error queue into a Windows error, and the
// library context that can read legacy PKCS #12 containers.
#pragma once

// OpenSSL's headers come before wincrypt.h: two of its structure-type macros (X509_NAME,
// PKCS7_SIGNER_INFO) are OpenSSL type names, as they are on Windows. We keep OpenSSL's meaning and
// compare structure types by number (StructType*).
#include "platform/common/OsslPtr.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "platform/include/win/winbase.h"
#include "platform/include/win/wincrypt.h"

#undef X509_NAME
#undef PKCS7_SIGNER_INFO

#include <memory>

namespace crypt32 {

// CryptDecodeObject's structure types given as small numbers.
inline constexpr uintptr_t StructTypeName = 7;
inline constexpr uintptr_t StructTypeUtcTime = 17;
inline constexpr uintptr_t StructTypeEnhancedKeyUsage = 36;
inline constexpr uintptr_t StructTypeKeyUsage = 14;
inline constexpr uintptr_t StructTypeSignerInfo = 500;

using namespace ossl;

using X509PubkeyPtr = std::unique_ptr<X509_PUBKEY, OsslFree<X509_PUBKEY_free>>;
using EvpEncodeCtxPtr = std::unique_ptr<EVP_ENCODE_CTX, OsslFree<EVP_ENCODE_CTX_free>>;
using Pkcs12Ptr = std::unique_ptr<PKCS12, OsslFree<PKCS12_free>>;
using Pkcs8Ptr = std::unique_ptr<PKCS8_PRIV_KEY_INFO, OsslFree<PKCS8_PRIV_KEY_INFO_free>>;

struct SafeBagStackFree {
    void operator()(STACK_OF(PKCS12_SAFEBAG) * s) const { sk_PKCS12_SAFEBAG_pop_free(s, PKCS12_SAFEBAG_free); }
};
struct Pkcs7StackFree {
    void operator()(STACK_OF(PKCS7) * s) const { sk_PKCS7_pop_free(s, PKCS7_free); }
};
using SafeBagsPtr = std::unique_ptr<STACK_OF(PKCS12_SAFEBAG), SafeBagStackFree>;
using AuthSafesPtr = std::unique_ptr<STACK_OF(PKCS7), Pkcs7StackFree>;

// Empties OpenSSL's error queue of this thread and returns the Windows error that best says what
// went wrong (fallback when nothing more precise is known).
DWORD TakeOpenSslError(DWORD fallback);

// Windows keeps HRESULTs such as CRYPT_E_NOT_FOUND in the DWORD last error as they are.
[[nodiscard]] constexpr DWORD ErrorCode(HRESULT hr) { return static_cast<DWORD>(hr); }
[[nodiscard]] constexpr DWORD ErrorCode(DWORD error) { return error; }

// Sets the last error and answers the failure value of the caller's return type.
template <typename E>
BOOL FailBool(E error)
{
    SetLastError(ErrorCode(error));
    return FALSE;
}
template <typename T, typename E>
T* FailNull(E error)
{
    SetLastError(ErrorCode(error));
    return nullptr;
}

// While alive, OpenSSL calls on this thread use a library context with the "default" and "legacy"
// providers, so that RC2-40 and the other old PKCS #12 ciphers decrypt without changing what the
// rest of the process has loaded.
class LegacyContextScope {
public:
    LegacyContextScope();
    ~LegacyContextScope();
    LegacyContextScope(const LegacyContextScope&) = delete;
    LegacyContextScope& operator=(const LegacyContextScope&) = delete;

private:
    OSSL_LIB_CTX* FPrevious = nullptr;
    bool FActive = false;
};

} // namespace crypt32
