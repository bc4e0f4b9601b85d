// DER for the stand-ins built on OpenSSL: element boundaries through OpenSSL's header decoder and
// the one bounds-checked reader, and PKCS #7 SignedData decoding that also takes what CMS allows.
#pragma once

#include "platform/common/ByteReader.h"
#include "platform/common/OsslPtr.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace der {

struct Tlv {
    int Tag = 0;
    int Class = 0; // V_ASN1_UNIVERSAL, V_ASN1_CONTEXT_SPECIFIC, ...
    bool Constructed = false;
    ByteReader Whole;   // header and content
    ByteReader Content; // content only
};

// The element at off, definite length only; nullopt when its header or length does not fit.
[[nodiscard]] std::optional<Tlv> ReadTlv(const ByteReader& data, size_t off);
// The elements of a constructed value in order; nullopt when one of them is malformed.
[[nodiscard]] std::optional<std::vector<Tlv>> ReadChildren(const ByteReader& content);

// The fields of the SignedData in a ContentInfo (ContentInfo ::= SEQUENCE { contentType,
// content [0] EXPLICIT SignedData }), in order: version, digestAlgorithms, encapContentInfo, then
// the optional certificates [0] and crls [1], then signerInfos.
struct SignedDataFields {
    Tlv ContentType;
    std::vector<Tlv> Fields;
    bool Exact = false; // the ContentInfo holds nothing besides its content type and the SignedData
};
// nullopt when the ContentInfo at the start of der cannot be walked that far.
[[nodiscard]] std::optional<SignedDataFields> ReadSignedData(std::span<const uint8_t> der);
// Whether the walked fields are those of an id-signedData: version, digestAlgorithms,
// encapContentInfo, at most the [0] and [1] sets, and signerInfos, each of its type.
[[nodiscard]] bool IsSignedData(const SignedDataFields& layout);

// A ContentInfo holding a SignedData, with the entries of its certificate set that are not X.509
// certificates left out: CMS lets that set hold attribute certificates and other formats
// (Microsoft's time-stamp tokens carry an attribute certificate), which OpenSSL's PKCS #7
// decoder refuses. No signature covers that set, so nothing verified changes. nullopt when der
// is no such ContentInfo or has nothing to leave out.
[[nodiscard]] std::optional<std::vector<uint8_t>> WithX509CertificatesOnly(std::span<const uint8_t> der);

struct DecodedPkcs7 {
    ossl::Pkcs7Ptr Message;
    size_t Used = 0;                // bytes of the input the message takes
    std::vector<uint8_t> Rewritten; // what was decoded when the input had to be rewritten

    // The DER the message was decoded from.
    [[nodiscard]] std::span<const uint8_t> Der(std::span<const uint8_t> input) const
    {
        return Rewritten.empty() ? input.first(Used) : std::span<const uint8_t>(Rewritten);
    }
};

// d2i_PKCS7 of the ContentInfo at the start of der (trailing bytes allowed); when OpenSSL refuses
// it, of WithX509CertificatesOnly(der) instead. Message is null when neither decodes.
[[nodiscard]] DecodedPkcs7 DecodePkcs7(std::span<const uint8_t> der);

} // namespace der
