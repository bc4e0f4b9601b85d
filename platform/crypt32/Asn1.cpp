#include "platform/crypt32/Asn1.h"

#include "platform/common/Calendar.h"
#include "platform/common/WinStr.h"

#include <openssl/err.h>
#include <openssl/objects.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <ctime>

namespace crypt32 {

std::string OidText(const ASN1_OBJECT* object)
{
    if (!object)
        return {};
    char small[128];
    const int needed = OBJ_obj2txt(small, sizeof small, object, 1);
    if (needed <= 0) {
        ERR_clear_error();
        return {};
    }
    if (static_cast<size_t>(needed) < sizeof small)
        return std::string(small, static_cast<size_t>(needed));
    std::string text(static_cast<size_t>(needed) + 1, '\0');
    OBJ_obj2txt(text.data(), needed + 1, object, 1);
    text.resize(static_cast<size_t>(needed));
    return text;
}

std::optional<FILETIME> FileTimeOf(const ASN1_TIME* time)
{
    struct tm parts {};
    if (!time || !ASN1_TIME_to_tm(time, &parts)) {
        ERR_clear_error();
        return std::nullopt;
    }
    const int year = parts.tm_year + 1900;
    if (year < 1601 || year > 9999)
        return std::nullopt;
    const int64_t days = calendar::DaysFromCivil(year, parts.tm_mon + 1, parts.tm_mday) -
                         calendar::DaysFromCivil(1601, 1, 1);
    const int64_t seconds = days * 86400 + parts.tm_hour * 3600 + parts.tm_min * 60 + parts.tm_sec;
    uint64_t ticks = static_cast<uint64_t>(seconds) * 10'000'000u;

    // GeneralizedTime may carry a fraction of a second after the 14 digits.
    if (ASN1_STRING_type(time) == V_ASN1_GENERALIZEDTIME) {
        const unsigned char* text = ASN1_STRING_get0_data(time);
        const int length = ASN1_STRING_length(time);
        if (length > 15 && (text[14] == '.' || text[14] == ',')) {
            uint64_t fraction = 0;
            int digits = 0;
            for (int i = 15; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
                if (digits < 7) {
                    fraction = fraction * 10 + (text[i] - '0');
                    ++digits;
                }
            }
            for (; digits < 7; ++digits)
                fraction *= 10;
            ticks += fraction;
        }
    }
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

std::optional<FILETIME> FileTimeOfDer(std::span<const uint8_t> der)
{
    if (der.empty() || der.size() > static_cast<size_t>(LONG_MAX))
        return std::nullopt;
    const unsigned char* p = der.data();
    const Asn1TimePtr time(d2i_ASN1_TIME(nullptr, &p, static_cast<long>(der.size())));
    if (!time || p != der.data() + der.size()) {
        ERR_clear_error();
        return std::nullopt;
    }
    return FileTimeOf(time.get());
}

Bytes IntegerLittleEndian(const ASN1_INTEGER* value)
{
    const Bytes der = Encode(value, i2d_ASN1_INTEGER);
    const auto tlv = ReadTlv(ByteReader(der.data(), der.size()), 0);
    if (!tlv)
        return {};
    const auto content = tlv->Content.span();
    return Bytes(content.rbegin(), content.rend());
}

Bytes NameDer(const X509_NAME* name)
{
    const unsigned char* der = nullptr;
    size_t length = 0;
    if (!name || !X509_NAME_get0_der(name, &der, &length)) {
        ERR_clear_error();
        return {};
    }
    return Bytes(der, der + length);
}

bool IsUniversal(const Tlv& tlv, int tag)
{
    return tlv.Class == V_ASN1_UNIVERSAL && tlv.Tag == tag;
}

bool IsContext(const Tlv& tlv, int tag)
{
    return tlv.Class == V_ASN1_CONTEXT_SPECIFIC && tlv.Tag == tag;
}

namespace {

// The dotted text of an OID's content when every arc fits 63 bits, as OBJ_obj2txt writes it; an
// OID is read for every extension and attribute, and OpenSSL's way through BIO_snprintf costs
// more than all the rest of a certificate. nullopt for what only OpenSSL should judge.
std::optional<std::string> FastOidText(std::span<const uint8_t> content)
{
    if (content.empty() || (content.back() & 0x80) != 0)
        return std::nullopt;
    std::string text;
    text.reserve(content.size() * 3);
    uint64_t arc = 0;
    bool first = true;
    bool start = true;
    char digits[24];
    const auto append = [&](uint64_t value) {
        const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
        text.append(digits, end);
    };
    for (const uint8_t byte : content) {
        if (start && byte == 0x80)
            return std::nullopt; // a padded arc, which DER does not allow
        if ((arc >> 56) != 0)
            return std::nullopt;
        arc = (arc << 7) | (byte & 0x7F);
        start = (byte & 0x80) == 0;
        if (!start)
            continue;
        if (first) {
            const uint64_t top = arc < 40 ? 0 : arc < 80 ? 1 : 2;
            append(top);
            text += '.';
            append(arc - 40 * top);
            first = false;
        } else {
            text += '.';
            append(arc);
        }
        arc = 0;
    }
    return text;
}

} // namespace

std::optional<std::string> OidOf(const Tlv& tlv)
{
    if (!IsUniversal(tlv, TagOid) || tlv.Constructed)
        return std::nullopt;
    if (auto text = FastOidText(tlv.Content.span()))
        return text;
    const unsigned char* p = tlv.Whole.data();
    const Asn1ObjectPtr object(d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(tlv.Whole.size())));
    if (!object) {
        ERR_clear_error();
        return std::nullopt;
    }
    return OidText(object.get());
}

// AlgorithmIdentifier ::= SEQUENCE { algorithm OID, parameters ANY OPTIONAL }
std::optional<AlgorithmFields> AlgorithmOf(const Tlv& tlv)
{
    if (!IsUniversal(tlv, TagSequence))
        return std::nullopt;
    const auto parts = ReadChildren(tlv.Content);
    if (!parts || parts->empty() || parts->size() > 2)
        return std::nullopt;
    auto oid = OidOf((*parts)[0]);
    if (!oid)
        return std::nullopt;
    AlgorithmFields fields{std::move(*oid), {}};
    if (parts->size() == 2) {
        const auto parameters = (*parts)[1].Whole.span();
        fields.Parameters.assign(parameters.begin(), parameters.end());
    }
    return fields;
}

bool WriteExtensions(FlatBuilder& b, size_t countOff, size_t arrayOff, const std::vector<Tlv>& extensions)
{
    b.Put(countOff, static_cast<DWORD>(extensions.size()));
    if (!extensions.empty()) {
        const size_t array = b.New<CERT_EXTENSION>(extensions.size());
        b.Link(arrayOff, array);
        for (size_t e = 0; e < extensions.size(); ++e) {
            // Extension ::= SEQUENCE { extnID OID, critical BOOLEAN DEFAULT FALSE, extnValue OCTET STRING }
            const auto parts = IsUniversal(extensions[e], TagSequence) ? ReadChildren(extensions[e].Content)
                                                                         : std::nullopt;
            if (!parts || parts->size() < 2 || parts->size() > 3)
                return false;
            const auto oid = OidOf((*parts)[0]);
            bool critical = false;
            if (parts->size() == 3) {
                const Tlv& flag = (*parts)[1];
                if (!IsUniversal(flag, V_ASN1_BOOLEAN) || flag.Content.size() != 1)
                    return false;
                critical = *flag.Content.U8(0) != 0;
            }
            const Tlv& value = parts->back();
            if (!oid || !IsUniversal(value, TagOctetString) || value.Constructed)
                return false;
            const size_t item = array + e * sizeof(CERT_EXTENSION);
            b.StringPointer(item + offsetof(CERT_EXTENSION, pszObjId), *oid);
            b.Put(item + offsetof(CERT_EXTENSION, fCritical), static_cast<BOOL>(critical));
            b.Blob(item + offsetof(CERT_EXTENSION, Value), value.Content.span());
        }
    }
    return true;
}

AlgorithmFields AlgorithmOf(const X509_ALGOR* algorithm)
{
    AlgorithmFields fields;
    if (!algorithm)
        return fields;
    const ASN1_OBJECT* object = nullptr;
    int parameterType = V_ASN1_UNDEF;
    const void* parameter = nullptr;
    X509_ALGOR_get0(&object, &parameterType, &parameter, algorithm);
    fields.Oid = OidText(object);
    if (parameterType != V_ASN1_UNDEF && algorithm->parameter)
        fields.Parameters = Encode(algorithm->parameter, i2d_ASN1_TYPE);
    return fields;
}

void WriteAlgorithm(FlatBuilder& b, size_t off, const AlgorithmFields& algorithm)
{
    b.StringPointer(off + offsetof(CRYPT_ALGORITHM_IDENTIFIER, pszObjId), algorithm.Oid);
    b.Blob(off + offsetof(CRYPT_ALGORITHM_IDENTIFIER, Parameters), algorithm.Parameters);
}

std::u16string Latin1Text(std::span<const uint8_t> bytes)
{
    return std::u16string(bytes.begin(), bytes.end());
}

std::u16string Utf8Text(std::span<const uint8_t> bytes)
{
    return winstr::FromUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

bool IsUtf8(std::span<const uint8_t> bytes)
{
    size_t i = 0;
    while (i < bytes.size()) {
        const uint8_t lead = bytes[i];
        size_t length = 0;
        char32_t c = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            c = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            c = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            c = lead & 0x07;
        } else {
            return false;
        }
        if (length > bytes.size() - i)
            return false;
        for (size_t k = 1; k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (bytes[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
        if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
            (c >= 0xD800 && c <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

std::u16string BmpText(std::span<const uint8_t> bytes)
{
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>((bytes[i] << 8) | bytes[i + 1]);
    return text;
}

namespace {

std::u16string UniversalText(std::span<const uint8_t> bytes)
{
    std::u16string text;
    for (size_t i = 0; i + 3 < bytes.size(); i += 4) {
        char32_t c = (char32_t(bytes[i]) << 24) | (char32_t(bytes[i + 1]) << 16) | (char32_t(bytes[i + 2]) << 8) |
                     bytes[i + 3];
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;
        if (c >= 0x10000) {
            c -= 0x10000;
            text += static_cast<char16_t>(0xD800 + (c >> 10));
            text += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            text += static_cast<char16_t>(c);
        }
    }
    return text;
}

std::vector<AttributeFields> AttributesOf(const STACK_OF(X509_ATTRIBUTE) * attributes)
{
    std::vector<AttributeFields> out;
    const int count = sk_X509_ATTRIBUTE_num(attributes);
    for (int i = 0; i < count; ++i) {
        X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(attributes, i);
        AttributeFields fields;
        fields.Oid = OidText(X509_ATTRIBUTE_get0_object(attribute));
        const int values = X509_ATTRIBUTE_count(attribute);
        for (int v = 0; v < values; ++v)
            fields.Values.push_back(Encode(X509_ATTRIBUTE_get0_type(attribute, v), i2d_ASN1_TYPE));
        out.push_back(std::move(fields));
    }
    return out;
}

void WriteAttributes(FlatBuilder& b, size_t off, const std::vector<AttributeFields>& attributes)
{
    b.Put(off + offsetof(CRYPT_ATTRIBUTES, cAttr), static_cast<DWORD>(attributes.size()));
    if (attributes.empty())
        return;
    const size_t array = b.New<CRYPT_ATTRIBUTE>(attributes.size());
    b.Link(off + offsetof(CRYPT_ATTRIBUTES, rgAttr), array);
    for (size_t i = 0; i < attributes.size(); ++i) {
        const size_t item = array + i * sizeof(CRYPT_ATTRIBUTE);
        b.StringPointer(item + offsetof(CRYPT_ATTRIBUTE, pszObjId), attributes[i].Oid);
        const auto& values = attributes[i].Values;
        b.Put(item + offsetof(CRYPT_ATTRIBUTE, cValue), static_cast<DWORD>(values.size()));
        if (values.empty())
            continue;
        const size_t blobs = b.New<CRYPT_ATTR_BLOB>(values.size());
        b.Link(item + offsetof(CRYPT_ATTRIBUTE, rgValue), blobs);
        for (size_t v = 0; v < values.size(); ++v)
            b.Blob(blobs + v * sizeof(CRYPT_ATTR_BLOB), values[v]);
    }
}

} // namespace

std::optional<std::u16string> DirectoryStringText(int tag, std::span<const uint8_t> content)
{
    switch (tag) {
    case V_ASN1_UTF8STRING: return Utf8Text(content);
    case V_ASN1_PRINTABLESTRING:
    case V_ASN1_IA5STRING:
    case V_ASN1_NUMERICSTRING:
    case V_ASN1_VISIBLESTRING: return Latin1Text(content);
    // The 8-bit types of old directories: issuers wrote UTF-8 into them as often as Latin-1, and
    // Windows tries UTF-8 first.
    case V_ASN1_T61STRING:
    case V_ASN1_VIDEOTEXSTRING:
    case V_ASN1_GRAPHICSTRING:
    case V_ASN1_GENERALSTRING: return IsUtf8(content) ? Utf8Text(content) : Latin1Text(content);
    case V_ASN1_BMPSTRING: return BmpText(content);
    case V_ASN1_UNIVERSALSTRING: return UniversalText(content);
    default: return std::nullopt;
    }
}

std::optional<SignerFields> SignerOf(const PKCS7_SIGNER_INFO* signer)
{
    if (!signer || !signer->issuer_and_serial || !signer->enc_digest)
        return std::nullopt;
    SignerFields fields;
    fields.Version = static_cast<DWORD>(ASN1_INTEGER_get(signer->version));
    fields.Issuer = NameDer(signer->issuer_and_serial->issuer);
    fields.Serial = IntegerLittleEndian(signer->issuer_and_serial->serial);
    fields.HashAlgorithm = AlgorithmOf(signer->digest_alg);
    fields.HashEncryptionAlgorithm = AlgorithmOf(signer->digest_enc_alg);
    const unsigned char* hash = ASN1_STRING_get0_data(signer->enc_digest);
    fields.EncryptedHash.assign(hash, hash + ASN1_STRING_length(signer->enc_digest));
    fields.AuthAttrs = AttributesOf(signer->auth_attr);
    fields.UnauthAttrs = AttributesOf(signer->unauth_attr);
    ERR_clear_error();
    return fields;
}

void WriteSignerInfo(FlatBuilder& b, const SignerFields& signer)
{
    const size_t off = b.New<CMSG_SIGNER_INFO>();
    b.Put(off + offsetof(CMSG_SIGNER_INFO, dwVersion), signer.Version);
    b.Blob(off + offsetof(CMSG_SIGNER_INFO, Issuer), signer.Issuer);
    b.Blob(off + offsetof(CMSG_SIGNER_INFO, SerialNumber), signer.Serial);
    WriteAlgorithm(b, off + offsetof(CMSG_SIGNER_INFO, HashAlgorithm), signer.HashAlgorithm);
    WriteAlgorithm(b, off + offsetof(CMSG_SIGNER_INFO, HashEncryptionAlgorithm), signer.HashEncryptionAlgorithm);
    b.Blob(off + offsetof(CMSG_SIGNER_INFO, EncryptedHash), signer.EncryptedHash);
    WriteAttributes(b, off + offsetof(CMSG_SIGNER_INFO, AuthAttrs), signer.AuthAttrs);
    WriteAttributes(b, off + offsetof(CMSG_SIGNER_INFO, UnauthAttrs), signer.UnauthAttrs);
}

} // namespace crypt32
