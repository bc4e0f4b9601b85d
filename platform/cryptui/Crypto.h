// What every part of the dialogs shares: OpenSSL and crypt32 objects with their owners, and the one
// place where OpenSSL's error queue is read and cleared.
#pragma once

// OpenSSL's headers come before wincrypt.h: two of its structure-type macros (X509_NAME,
// PKCS7_SIGNER_INFO) are OpenSSL type names. OpenSSL keeps its meaning here; the structure types
// of CryptDecodeObject are given by number (StructType*).
#include "platform/common/OsslPtr.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include "platform/include/win/cryptuiapi.h"
#include "platform/include/win/winbase.h"

#undef X509_NAME
#undef PKCS7_SIGNER_INFO

#include <QString>

#include <climits>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace cryptui {

inline constexpr DWORD Encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
inline const LPCSTR StructTypeSignerInfo = reinterpret_cast<LPCSTR>(uintptr_t{500});

using namespace ossl;

using Asn1OctetStringPtr = std::unique_ptr<ASN1_OCTET_STRING, OsslFree<ASN1_OCTET_STRING_free>>;
using BasicConstraintsPtr = std::unique_ptr<BASIC_CONSTRAINTS, OsslFree<BASIC_CONSTRAINTS_free>>;
using AuthorityKeyIdPtr = std::unique_ptr<AUTHORITY_KEYID, OsslFree<AUTHORITY_KEYID_free>>;
using PoliciesPtr = std::unique_ptr<CERTIFICATEPOLICIES, OsslFree<CERTIFICATEPOLICIES_free>>;
using InfoAccessPtr = std::unique_ptr<AUTHORITY_INFO_ACCESS, OsslFree<AUTHORITY_INFO_ACCESS_free>>;
using DistPointsPtr = std::unique_ptr<CRL_DIST_POINTS, OsslFree<CRL_DIST_POINTS_free>>;
using TstInfoPtr = std::unique_ptr<TS_TST_INFO, OsslFree<TS_TST_INFO_free>>;

struct X509StackFree {
    void operator()(STACK_OF(X509) * s) const { sk_X509_pop_free(s, X509_free); }
};
using X509StackPtr = std::unique_ptr<STACK_OF(X509), X509StackFree>;

// d2i over exactly these bytes: nullptr when they are not one whole value (trailing bytes
// included). The OpenSSL error queue is left empty either way.
template <typename T, auto D2i, auto Free>
std::unique_ptr<T, OsslFree<Free>> DecodeWhole(std::span<const uint8_t> der);

// crypt32 handles.
struct CertContextFree {
    void operator()(PCCERT_CONTEXT c) const { CertFreeCertificateContext(c); }
};
struct StoreClose {
    void operator()(void* s) const { CertCloseStore(s, 0); }
};
struct MessageClose {
    void operator()(void* m) const { CryptMsgClose(m); }
};
using CertContextPtr = std::unique_ptr<const CERT_CONTEXT, CertContextFree>;
using StorePtr = std::unique_ptr<void, StoreClose>;
using MessagePtr = std::unique_ptr<void, MessageClose>;

// Empties this thread's OpenSSL error queue and says what its first entry was (empty when the
// queue was empty).
QString TakeOpenSslError();

// A certificate's DER as OpenSSL reads it: nullptr unless the bytes are exactly one certificate.
[[nodiscard]] X509Ptr DecodeCertificate(std::span<const uint8_t> der);
// Every certificate of a crypt32 store that OpenSSL can read, at most `limit` of them.
void CollectCertificates(HCERTSTORE store, std::vector<X509Ptr>& out, size_t limit);
// A crypt32 context for the same bytes, for the name functions of crypt32.
[[nodiscard]] CertContextPtr ContextFor(X509* certificate);
[[nodiscard]] std::vector<uint8_t> DerOf(X509* certificate);

// Memory for crypt32's flat results: aligned for every structure it holds.
class FlatBuffer {
public:
    void Resize(DWORD bytes) { FWords.assign((size_t{bytes} + sizeof(uint64_t) - 1) / sizeof(uint64_t) + 1, 0); }
    [[nodiscard]] void* Data() { return FWords.data(); }
    [[nodiscard]] DWORD Size() const { return static_cast<DWORD>(FWords.size() * sizeof(uint64_t)); }
    template <typename T>
    [[nodiscard]] const T* As() const
    {
        return FWords.empty() ? nullptr : reinterpret_cast<const T*>(FWords.data());
    }

private:
    std::vector<uint64_t> FWords;
};

// CryptDecodeObject into a buffer of its own; false when crypt32 cannot decode the bytes.
[[nodiscard]] bool DecodeObject(LPCSTR structType, std::span<const uint8_t> der, FlatBuffer& out);
// CryptMsgGetParam into a buffer of its own.
[[nodiscard]] bool MessageParam(HCRYPTMSG message, DWORD param, DWORD index, FlatBuffer& out,
                                DWORD* size = nullptr);

template <typename T, auto D2i, auto Free>
std::unique_ptr<T, OsslFree<Free>> DecodeWhole(std::span<const uint8_t> der)
{
    if (der.empty() || der.size() > static_cast<size_t>(LONG_MAX))
        return nullptr;
    const unsigned char* p = der.data();
    std::unique_ptr<T, OsslFree<Free>> value(D2i(nullptr, &p, static_cast<long>(der.size())));
    if (!value || p != der.data() + der.size()) {
        TakeOpenSslError();
        return nullptr;
    }
    return value;
}

} // namespace cryptui
