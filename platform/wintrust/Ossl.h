// OpenSSL ownership for the trust provider, the one translation of OpenSSL's error queue into a
// result, and the small conversions every part needs (OIDs, times).
#pragma once

// OpenSSL's headers come before wincrypt.h: X509_NAME and PKCS7_SIGNER_INFO are OpenSSL type
// names as well as structure-type macros of wincrypt.h. We keep OpenSSL's meaning.
#include "platform/common/OsslPtr.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include "platform/include/win/winbase.h"
#include "platform/include/win/wincrypt.h"

#undef X509_NAME
#undef PKCS7_SIGNER_INFO

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace wintrust {

using Bytes = std::vector<uint8_t>;

using namespace ossl;

using TstInfoPtr = std::unique_ptr<TS_TST_INFO, OsslFree<TS_TST_INFO_free>>;
using DistPointsPtr = std::unique_ptr<CRL_DIST_POINTS, OsslFree<CRL_DIST_POINTS_free>>;

struct X509StackFree {
    void operator()(STACK_OF(X509) * s) const { sk_X509_pop_free(s, X509_free); }
};
struct CrlStackFree {
    void operator()(STACK_OF(X509_CRL) * s) const { sk_X509_CRL_pop_free(s, X509_CRL_free); }
};
using X509StackPtr = std::unique_ptr<STACK_OF(X509), X509StackFree>;
using CrlStackPtr = std::unique_ptr<STACK_OF(X509_CRL), CrlStackFree>;

// Empties this thread's OpenSSL error queue and answers the result to report: E_OUTOFMEMORY when
// OpenSSL ran out of memory, otherwise the caller's own result.
[[nodiscard]] HRESULT TakeOpenSslError(HRESULT fallback);

// Dotted text of an OID ("" for null or an OID that cannot be written).
[[nodiscard]] std::string OidText(const ASN1_OBJECT* oid);

// The bytes of an OpenSSL string (octet, bit or character string); empty for null.
[[nodiscard]] std::span<const uint8_t> StringBytes(const ASN1_STRING* s);

// DER of one object through its i2d function; empty when it cannot be encoded.
template <typename T, typename I2d>
[[nodiscard]] Bytes Encode(const T* object, I2d i2d)
{
    const int length = object ? i2d(object, nullptr) : -1;
    if (length <= 0)
        return {};
    Bytes out(static_cast<size_t>(length));
    unsigned char* p = out.data();
    if (i2d(object, &p) != length)
        return {};
    return out;
}

// Seconds since 1970 of an ASN.1 time; std::nullopt when it cannot be read.
[[nodiscard]] std::optional<int64_t> UnixTimeOf(const ASN1_TIME* time);
[[nodiscard]] FILETIME FileTimeOfUnix(int64_t seconds);

// The digests Authenticode names: MD5 (old files), SHA-1, SHA-256, SHA-384, SHA-512. Null for
// anything else.
[[nodiscard]] const EVP_MD* AuthenticodeDigest(const ASN1_OBJECT* algorithm);

} // namespace wintrust
