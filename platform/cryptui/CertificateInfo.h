// What the certificate dialog shows of one certificate, decoded from its DER with OpenSSL and put
// into words: the general summary and every field and extension of the details list.
#pragma once

#include "platform/cryptui/Crypto.h"
#include "platform/cryptui/Fields.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>
#include <span>
#include <vector>

namespace cryptui {

class CertificateInfo {
public:
    // nullopt when the bytes are not exactly one certificate. friendlyName is the context's
    // friendly-name property, shown among the properties when it is set.
    [[nodiscard]] static std::optional<CertificateInfo> Read(std::span<const uint8_t> der,
                                                             const QString& friendlyName = {});

    [[nodiscard]] X509* Certificate() const { return FCertificate.get(); }
    [[nodiscard]] const std::vector<uint8_t>& Der() const { return FDer; }

    // The names as the program shows them (crypt32's simple display names).
    [[nodiscard]] const QString& IssuedTo() const { return FIssuedTo; }
    [[nodiscard]] const QString& IssuedBy() const { return FIssuedBy; }
    [[nodiscard]] const std::optional<QDateTime>& ValidFrom() const { return FValidFrom; }
    [[nodiscard]] const std::optional<QDateTime>& ValidTo() const { return FValidTo; }
    // The enhanced key usages by name; "All application policies" when it has none.
    [[nodiscard]] const QStringList& Purposes() const { return FPurposes; }
    // Fields in certificate order, then the extensions in certificate order, then properties.
    [[nodiscard]] const Fields& Details() const { return FDetails; }

private:
    CertificateInfo() = default;

    X509Ptr FCertificate;
    std::vector<uint8_t> FDer;
    QString FIssuedTo;
    QString FIssuedBy;
    std::optional<QDateTime> FValidFrom;
    std::optional<QDateTime> FValidTo;
    QStringList FPurposes;
    Fields FDetails;
};

// One extension as the details list shows it: decoded for the kinds the dialog knows, its bytes
// in hex otherwise (and whenever they cannot be decoded).
[[nodiscard]] Field ExtensionField(const X509_EXTENSION* extension);

// The simple display name of a certificate's subject (or issuer), as crypt32 forms it.
[[nodiscard]] QString DisplayName(X509* certificate, bool issuer = false);

} // namespace cryptui
