// Reading DER for the stand-in: element boundaries from platform/common/Der.h, values through
// OpenSSL's types, and the conversions into Windows shapes (FILETIME, least-significant-first
// integers, dotted OIDs, UTF-16 texts).
#pragma once

#include "platform/common/ByteReader.h"
#include "platform/common/Der.h"
#include "platform/crypt32/Flat.h"
#include "platform/crypt32/Ossl.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace crypt32 {

using Bytes = std::vector<uint8_t>;

// Universal tags we look at.
inline constexpr int TagInteger = 2;
inline constexpr int TagBitString = 3;
inline constexpr int TagOctetString = 4;
inline constexpr int TagOid = 6;
inline constexpr int TagSequence = 16;
inline constexpr int TagSet = 17;

using der::ReadChildren;
using der::ReadTlv;
using der::Tlv;

[[nodiscard]] std::string OidText(const ASN1_OBJECT* object);

// 100-ns ticks since 1601 of a UTCTime or GeneralizedTime (fractions of a second kept).
[[nodiscard]] std::optional<FILETIME> FileTimeOf(const ASN1_TIME* time);
// A DER-encoded UTCTime or GeneralizedTime, all bytes used.
[[nodiscard]] std::optional<FILETIME> FileTimeOfDer(std::span<const uint8_t> der);

// The content bytes of a DER INTEGER, least significant first (sign byte included), as Windows
// keeps serial numbers.
[[nodiscard]] Bytes IntegerLittleEndian(const ASN1_INTEGER* value);

// DER of any OpenSSL object through its i2d function; empty on failure.
template <typename T, typename F>
[[nodiscard]] Bytes Encode(const T* object, F i2d)
{
    Bytes out;
    if (!object)
        return out;
    const int len = i2d(object, nullptr);
    if (len <= 0)
        return out;
    out.resize(static_cast<size_t>(len));
    unsigned char* p = out.data();
    if (i2d(object, &p) != len)
        out.clear();
    return out;
}

[[nodiscard]] Bytes NameDer(const X509_NAME* name);

[[nodiscard]] bool IsUniversal(const Tlv& tlv, int tag);
[[nodiscard]] bool IsContext(const Tlv& tlv, int tag);
// The dotted text of an OBJECT IDENTIFIER element.
[[nodiscard]] std::optional<std::string> OidOf(const Tlv& tlv);

struct AlgorithmFields {
    std::string Oid;
    Bytes Parameters; // DER, empty when absent
};
[[nodiscard]] AlgorithmFields AlgorithmOf(const X509_ALGOR* algorithm);
// AlgorithmIdentifier ::= SEQUENCE { algorithm OID, parameters ANY OPTIONAL }
[[nodiscard]] std::optional<AlgorithmFields> AlgorithmOf(const Tlv& tlv);
void WriteAlgorithm(FlatBuilder& b, size_t off, const AlgorithmFields& algorithm);
// A count of CERT_EXTENSIONs at countOff and the pointer to their array at arrayOff, from the
// Extension elements; false when one of them is malformed.
[[nodiscard]] bool WriteExtensions(FlatBuilder& b, size_t countOff, size_t arrayOff, const std::vector<Tlv>& extensions);

// A directory-string value as text: UTF8String, PrintableString, IA5String, NumericString,
// VisibleString, BMPString, UniversalString, and T61String, VideotexString, GraphicString and
// GeneralString (UTF-8 where they hold it, else Latin-1); nullopt for other types.
[[nodiscard]] std::optional<std::u16string> DirectoryStringText(int tag, std::span<const uint8_t> content);
[[nodiscard]] std::u16string Latin1Text(std::span<const uint8_t> bytes);
[[nodiscard]] std::u16string Utf8Text(std::span<const uint8_t> bytes);
[[nodiscard]] bool IsUtf8(std::span<const uint8_t> bytes); // strictly: no overlong forms or surrogates
[[nodiscard]] std::u16string BmpText(std::span<const uint8_t> bytes);

// A SignerInfo in Windows terms.
struct AttributeFields {
    std::string Oid;
    std::vector<Bytes> Values; // each value's DER
};
struct SignerFields {
    DWORD Version = 0;
    Bytes Issuer;
    Bytes Serial; // least significant first
    AlgorithmFields HashAlgorithm;
    AlgorithmFields HashEncryptionAlgorithm;
    Bytes EncryptedHash;
    std::vector<AttributeFields> AuthAttrs;
    std::vector<AttributeFields> UnauthAttrs;
};
[[nodiscard]] std::optional<SignerFields> SignerOf(const PKCS7_SIGNER_INFO* signer);
// CMSG_SIGNER_INFO at offset 0 of b.
void WriteSignerInfo(FlatBuilder& b, const SignerFields& signer);

} // namespace crypt32
