// The Authenticode signature: a PKCS #7 SignedData whose content is SpcIndirectDataContent (the
// file's digest and the algorithm that made it) or, for a catalog, the certificate trust list
// that is the catalog itself; its signers, and the time stamps in the first
// signer's unauthenticated attributes: legacy counter-signatures (1.2.840.113549.1.9.6, a
// SignerInfo over the signer's encrypted digest) and RFC 3161 tokens (1.3.6.1.4.1.311.3.3.1, a
// SignedData over a TSTInfo whose imprint is the digest of the signer's encrypted digest).
//
// Decoding goes through OpenSSL's ASN.1 templates; nothing here walks DER by hand beyond
// stepping over one tag and length.
#pragma once

#include "platform/wintrust/Ossl.h"

#include <memory>
#include <optional>

namespace wintrust {

inline constexpr char SpcIndirectDataObjId[] = "1.3.6.1.4.1.311.2.1.4";
inline constexpr char SpcNestedSignatureObjId[] = "1.3.6.1.4.1.311.2.4.1";
inline constexpr char CertificateTrustListObjId[] = "1.3.6.1.4.1.311.10.1";

// What a signature signs: a digest of a file (SpcIndirectDataContent) or a trust list.
enum class SignedContentType { IndirectData, TrustList };

class SignedMessage {
    struct Key {
        explicit Key() = default;
    };

public:
    explicit SignedMessage(Key) {}
    // S_OK when der starts with a ContentInfo holding a SignedData whose content is
    // SpcIndirectDataContent, or a certificate trust list when trustList is allowed (trailing
    // padding is allowed); DIGSIG_E_DECODE otherwise.
    [[nodiscard]] static HRESULT Decode(std::span<const uint8_t> der, std::unique_ptr<SignedMessage>& message,
                                        bool trustList = false);

    // The message's own bytes, padding left out.
    [[nodiscard]] std::span<const uint8_t> Der() const { return FDer; }
    [[nodiscard]] SignedContentType ContentType() const { return FContentType; }
    // The indirect data's type (SPC_PE_IMAGE_DATA, SPC_SIPINFO, ...); empty for a trust list.
    [[nodiscard]] const std::string& IndirectDataType() const { return FIndirectType; }
    // The digest the signature claims for the file, and its algorithm (null when the algorithm is
    // none of MD5, SHA-1, SHA-256, SHA-384, SHA-512, and for a trust list).
    [[nodiscard]] const EVP_MD* FileDigestAlgorithm() const { return FFileMd; }
    [[nodiscard]] const Bytes& FileDigest() const { return FFileDigest; }
    // What the signer's messageDigest attribute covers: the content (SpcIndirectDataContent or
    // the trust list) without its outer tag and length.
    [[nodiscard]] std::span<const uint8_t> SignedContent() const { return FSignedContent; }

    [[nodiscard]] int SignerCount() const;
    [[nodiscard]] PKCS7_SIGNER_INFO* Signer(int index) const;
    [[nodiscard]] STACK_OF(X509) * Certificates() const;
    [[nodiscard]] STACK_OF(X509_CRL) * Crls() const;

private:
    Bytes FDer;
    Pkcs7Ptr FMessage;
    SignedContentType FContentType = SignedContentType::IndirectData;
    std::string FIndirectType;
    const EVP_MD* FFileMd = nullptr;
    Bytes FFileDigest;
    Bytes FSignedContent;
};

// What an SpcIndirectDataContent says: the type of its data and the digest it holds.
struct IndirectData {
    std::string DataType;
    std::string DigestOid;
    const EVP_MD* Md = nullptr; // null for an algorithm Authenticode does not name
    Bytes Digest;
};
// The SpcIndirectDataContent that der is exactly; false for anything else.
[[nodiscard]] bool ReadIndirectData(std::span<const uint8_t> der, IndirectData& data);

// The certificate that issued a SignerInfo (issuer and serial number) among certs, or null.
[[nodiscard]] X509* FindSignerCertificate(PKCS7_SIGNER_INFO* signer, STACK_OF(X509) * certs);

// Checks a SignerInfo made by cert over content: with authenticated attributes, their
// messageDigest against the digest of content and the signature over their DER; without, the
// signature over content. An RSA signature over the bare digest (no DigestInfo, as old
// time-stamp services made them) holds too. S_OK or TRUST_E_BAD_DIGEST.
[[nodiscard]] HRESULT VerifySignerInfo(PKCS7_SIGNER_INFO* signer, X509* cert, std::span<const uint8_t> content);

enum class TimeStampKind { Legacy, Rfc3161 };

struct TimeStamp {
    TimeStampKind Kind = TimeStampKind::Legacy;
    // The DER the counter-signer's CMSG_SIGNER_INFO comes from: the SignerInfo (legacy) or the
    // token's ContentInfo (RFC 3161).
    Bytes Der;
    // S_OK when the time stamp's own signature, digest and time are sound (its certificate chain
    // is judged apart); TRUST_E_COUNTER_SIGNER (legacy) or TRUST_E_TIME_STAMP (RFC 3161).
    HRESULT Error = S_OK;
    std::optional<int64_t> Time; // signing time (legacy) or genTime (RFC 3161), seconds since 1970
    X509Ptr SignerCert;          // null when the time stamp's signer is not among its certificates
    X509StackPtr Helpers;        // certificates that may complete its chain
};

// The time stamps of signer in attribute order, at most max of them.
[[nodiscard]] std::vector<TimeStamp> ReadTimeStamps(const SignedMessage& message, PKCS7_SIGNER_INFO* signer,
                                                    size_t max);

// The DER of the signatures nested in signer's unauthenticated attributes
// (1.3.6.1.4.1.311.2.4.1), in the order they appear, at most max of them; an empty entry for a
// value that is not a SEQUENCE.
[[nodiscard]] std::vector<Bytes> NestedSignatures(PKCS7_SIGNER_INFO* signer, size_t max);

} // namespace wintrust
