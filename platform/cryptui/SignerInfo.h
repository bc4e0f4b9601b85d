// What the signer dialog shows of one signer of a signed message: its certificate, name, e-mail,
// signing time and digest algorithm, its counter-signers (time stamps) and every field of its
// signer information.
#pragma once

#include "platform/cryptui/CertificateChain.h"
#include "platform/cryptui/Crypto.h"
#include "platform/cryptui/Fields.h"

#include "platform/include/win/wintrust.h"

#include <QDateTime>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace cryptui {

// Where a signer comes from: its signer information and the certificates to look in. Kept alive
// for as long as a dialog may still open it.
struct SignerSource {
    const CMSG_SIGNER_INFO* Info = nullptr;
    HCRYPTMSG Message = nullptr;      // the message that carries the signer and certificates
    std::vector<HCERTSTORE> Stores;   // further certificates; the caller's, open while its dialog is
    FlatBuffer Buffer;                // holds Info when it was decoded here
    MessagePtr OwnedMessage;          // a time-stamp token's own message
    std::shared_ptr<const SignerSource> Parent; // keeps what a counter-signer borrows from alive
    // The signer as the trust service judged it, when the caller has the verification at hand
    // (the caller's, alive while its dialog is): its chain and moment are shown as judged.
    const CRYPT_PROVIDER_SGNR* Judged = nullptr;
};

enum class CounterSignatureKind {
    Legacy,  // PKCS #9 counter-signature (1.2.840.113549.1.9.6)
    Rfc3161, // RFC 3161 time-stamp token (1.3.6.1.4.1.311.3.3.1)
};

struct CounterSigner {
    QString Name;
    QString Email;
    std::optional<QDateTime> Time; // the time stamp: signing-time attribute or the token's genTime
    CounterSignatureKind Kind = CounterSignatureKind::Legacy;
    std::shared_ptr<const SignerSource> Source;
};

// Counter-signatures beyond this many are not listed: each costs a decode.
inline constexpr size_t MaxCounterSigners = 64;
// Rows of the advanced list beyond this many are left out.
inline constexpr size_t MaxSignerFields = 1000;

class SignerInfo {
public:
    [[nodiscard]] static SignerInfo Read(std::shared_ptr<const SignerSource> source);

    [[nodiscard]] const QString& Name() const { return FName; }   // empty when the certificate is missing
    [[nodiscard]] const QString& Email() const { return FEmail; }
    [[nodiscard]] const std::optional<QDateTime>& SigningTime() const { return FSigningTime; }
    [[nodiscard]] const QString& DigestAlgorithm() const { return FDigestAlgorithm; }
    [[nodiscard]] const QString& StatusText() const { return FStatusText; }
    [[nodiscard]] const std::vector<CounterSigner>& CounterSigners() const { return FCounterSigners; }
    [[nodiscard]] const Fields& Details() const { return FDetails; }
    // The chain as the trust service judged it and the moment it judged it at; empty when the
    // signer was not handed over with its verification.
    [[nodiscard]] const std::shared_ptr<const CertificateChain>& JudgedChain() const { return FJudgedChain; }
    [[nodiscard]] const std::optional<QDateTime>& JudgedAt() const { return FJudgedAt; }

    // The signer's certificate (empty when it is not in the message or the stores) and every other
    // certificate at hand, for its certification path.
    [[nodiscard]] const std::vector<uint8_t>& CertificateDer() const { return FCertificateDer; }
    [[nodiscard]] const std::vector<X509Ptr>& OtherCertificates() const { return FOthers; }
    [[nodiscard]] const std::shared_ptr<const SignerSource>& Source() const { return FSource; }

private:
    SignerInfo() = default;

    std::shared_ptr<const SignerSource> FSource;
    QString FName;
    QString FEmail;
    std::optional<QDateTime> FSigningTime;
    QString FDigestAlgorithm;
    QString FStatusText;
    std::vector<CounterSigner> FCounterSigners;
    Fields FDetails;
    std::shared_ptr<const CertificateChain> FJudgedChain;
    std::optional<QDateTime> FJudgedAt;
    std::vector<uint8_t> FCertificateDer;
    std::vector<X509Ptr> FOthers;
};

} // namespace cryptui
