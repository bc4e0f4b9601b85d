// The certification path of a certificate: built by OpenSSL from the certificate, the other
// certificates at hand and the trust signatures are judged by (OpenSSL's default verify paths and
// Windows' root program, platform/common/SignatureTrust.h), or taken as the trust service judged
// it, with each certificate's status in words.
#pragma once

#include "platform/cryptui/Crypto.h"

#include <QString>

#include <ctime>
#include <optional>
#include <string_view>
#include <vector>

namespace cryptui {

enum class CertStatus {
    Ok,
    Expired,        // or not yet valid
    UntrustedRoot,  // the chain ends in a self-signed certificate the trust store does not hold
    IssuerNotFound, // the chain ends in a certificate whose issuer is nowhere to be found
    BadSignature,
    Invalid,        // anything else OpenSSL refuses (basic constraints, path length, ...)
    WrongUsage,     // a root Windows' root program does not trust for the purpose
    Distrusted,     // a root whose trust Windows' root program has withdrawn
    Revoked,        // its issuer's revocation list names it
};

struct ChainElement {
    X509Ptr Certificate;
    QString Name;       // simple display name
    CertStatus Status = CertStatus::Ok;
    QString StatusText; // what the path page says about this certificate
};

struct CertificateChain {
    std::vector<ChainElement> Elements; // the certificate first, the root (or the last one found) last
    CertStatus Status = CertStatus::Ok; // the first problem found from the certificate upwards
    QString StatusText;                 // the chain's status in one sentence
};

// Chains longer than this are refused as OpenSSL refuses them: real ones have a handful of levels.
inline constexpr int MaxChainDepth = 32;
// How many other certificates are offered to the chain builder at most.
inline constexpr size_t MaxOtherCertificates = 4096;

// others: certificates that may be intermediates (or roots, which are not trusted for being here).
// Validity is judged now, or at the time given (a time stamp's); purpose, a usage OID, is what the
// chain is for (empty: nothing in particular), which the rules of Windows' root program look at.
[[nodiscard]] CertificateChain BuildChain(X509* certificate, const std::vector<X509Ptr>& others,
                                          std::optional<time_t> at = std::nullopt, std::string_view purpose = {});

// The chain as the trust service judged it (a signer's CERT_CHAIN_CONTEXT from WinVerifyTrust),
// with each certificate's status and revocation in words; nothing is judged anew.
[[nodiscard]] CertificateChain ChainOfContext(const CERT_CHAIN_CONTEXT& context);

[[nodiscard]] QString StatusText(CertStatus status, const QString& detail = {});

} // namespace cryptui
