// Chains from a signer's certificate to a trusted root, judged as Windows' Authenticode policy
// judges them: the roots of OpenSSL's default verify paths (SSL_CERT_FILE, SSL_CERT_DIR) and of
// Windows' root program, with that program's rules for its roots (platform/common/SignatureTrust.h), the
// certificates the signature carries as helpers, a given time, the usage the signer needs, and
// the revocation of every certificate in the chain through CRLs carried by the signature or
// fetched from the certificates' HTTP distribution points. A CRL that cannot be had, or read,
// fails nothing (Windows' answer for revocation that is offline).
#pragma once

#include "platform/wintrust/CrlFetch.h"
#include "platform/wintrust/Ossl.h"

#include <optional>
#include <vector>

namespace wintrust {

enum class Usage {
    CodeSigning,  // 1.3.6.1.5.5.7.3.3
    TimeStamping, // 1.3.6.1.5.5.7.3.8
};

struct RevocationPolicy {
    bool Check = true; // WTD_REVOKE_WHOLECHAIN without WTD_REVOCATION_CHECK_NONE
    // What fetching may still spend; null for WTD_CACHE_ONLY_URL_RETRIEVAL (no network).
    FetchBudget* Budget = nullptr;
};

// CRYPT_PROVIDER_CERT's confidence bits.
inline constexpr DWORD CertConfidenceSig = 0x10000000;
inline constexpr DWORD CertConfidenceTime = 0x01000000;
inline constexpr DWORD CertConfidenceTimeNest = 0x00100000;
inline constexpr DWORD CertConfidenceAuthIdExt = 0x00010000;
inline constexpr DWORD CertConfidenceHygiene = 0x00001000;

// What revocation checking found for one certificate (its CERT_REVOCATION_INFO).
struct ElementRevocation {
    // S_OK: its issuer's list was had and does not name it; CRYPT_E_REVOKED; CRYPT_E_NO_REVOCATION_CHECK:
    // it names nowhere to ask and no list came with the signature; CRYPT_E_REVOCATION_OFFLINE: no
    // list that could be read was had.
    HRESULT Result = S_OK;
    int64_t RevokedAt = 0; // Unix seconds, when revoked
};

struct ChainElement {
    X509Ptr Cert;
    HRESULT Error = S_OK; // what is wrong with this certificate, S_OK when nothing
    bool TrustedRoot = false;
    bool SelfSigned = false;
    DWORD RevokedReason = 0;
    DWORD Confidence = 0;
    // For a trusted root that Windows' root program lists: its entry, whose attributes are the
    // root's properties (valid while the trust store that judged the chain lives).
    PCTL_ENTRY RootEntry = nullptr;
    CERT_TRUST_STATUS Status{}; // as the chain engine sets it for this element
    DWORD Source = 0;           // where it was found: TESSERA_CERT_SOURCE_*
    std::optional<ElementRevocation> Revocation; // none when revocation was not checked for it
};

struct ChainResult {
    // S_OK; otherwise the most serious problem: TRUST_E_CERT_SIGNATURE, CERT_E_REVOKED,
    // CERT_E_CHAINING, CERT_E_UNTRUSTEDROOT, TRUST_E_EXPLICIT_DISTRUST (a key with explicit curve
    // parameters, or a root that Windows' root program distrusts), CERT_E_EXPIRED,
    // TRUST_E_BASIC_CONSTRAINTS, CERT_E_PATHLENCONST, CERT_E_CRITICAL, CERT_E_WRONG_USAGE (also
    // for a root the root program does not trust for the purpose), TRUST_E_FAIL (in that order).
    HRESULT Error = S_OK;
    std::vector<ChainElement> Elements; // the signer's certificate first, towards the root
    // The chain's: its elements' put together, and what only a chain has (CERT_TRUST_IS_PARTIAL_CHAIN).
    CERT_TRUST_STATUS Status{};
};

// The trust store of one verification, read when it is made (so a changed SSL_CERT_FILE counts
// from the next verification on).
class TrustStore {
public:
    TrustStore();
    [[nodiscard]] bool valid() const { return FStore != nullptr; }

    // Judges leaf at time `when` (seconds since 1970). helpers: the certificates that may complete
    // the chain without being trusted; crls: lists carried by the signature (may be null).
    [[nodiscard]] ChainResult Verify(X509* leaf, STACK_OF(X509) * helpers, STACK_OF(X509_CRL) * crls, int64_t when,
                                     Usage usage, const RevocationPolicy& revocation) const;

private:
    X509StorePtr FStore;
};

} // namespace wintrust
