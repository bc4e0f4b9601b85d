// Key usage, enhanced key usage, key length and certificate hashes.
#include "platform/crypt32/Objects.h"

#include <openssl/err.h>
#include <openssl/objects.h>

#include <algorithm>
#include <cstring>

using namespace crypt32;

namespace {

std::optional<std::vector<std::string>> DecodeUsage(std::span<const uint8_t> der)
{
    if (der.empty() || der.size() > MaxInputSize)
        return std::nullopt;
    const unsigned char* p = der.data();
    const EkuPtr usage(d2i_EXTENDED_KEY_USAGE(nullptr, &p, static_cast<long>(der.size())));
    if (!usage || p != der.data() + der.size()) {
        ERR_clear_error();
        return std::nullopt;
    }
    std::vector<std::string> oids;
    for (int i = 0; i < sk_ASN1_OBJECT_num(usage.get()); ++i)
        oids.push_back(OidText(sk_ASN1_OBJECT_value(usage.get(), i)));
    return oids;
}

// Bits of a DER INTEGER's magnitude (leading zero bytes left out).
DWORD IntegerBits(const Tlv& integer)
{
    const auto bytes = integer.Content.span();
    size_t first = 0;
    while (first < bytes.size() && bytes[first] == 0)
        ++first;
    if (first == bytes.size())
        return 0;
    DWORD bits = static_cast<DWORD>(bytes.size() - first - 1) * 8;
    for (unsigned value = bytes[first]; value != 0; value >>= 1)
        ++bits;
    return bits;
}

// The first INTEGER of a SEQUENCE of INTEGERs (an RSA key's modulus, DSA's prime p).
std::optional<DWORD> FirstIntegerBits(std::span<const uint8_t> der)
{
    const auto sequence = ReadTlv(ByteReader(der), 0);
    if (!sequence || sequence->Tag != TagSequence || sequence->Whole.size() != der.size())
        return std::nullopt;
    const auto first = ReadTlv(sequence->Content, 0);
    if (!first || first->Tag != TagInteger)
        return std::nullopt;
    return IntegerBits(*first);
}

struct NamedCurve {
    const char* Oid;
    DWORD Bits;
};

// The named curves one meets, by the DER of their OID (the algorithm parameters of an EC key).
const NamedCurve NamedCurves[] = {
    {"1.2.840.10045.3.1.7", 256}, {"1.3.132.0.34", 384}, {"1.3.132.0.35", 521}, {"1.3.132.0.10", 256},
    {"1.3.132.0.33", 224}, {"1.2.840.10045.3.1.1", 192}, {"1.3.36.3.3.2.8.1.1.7", 256},
    {"1.3.36.3.3.2.8.1.1.11", 384}, {"1.3.36.3.3.2.8.1.1.13", 512},
};

std::optional<DWORD> NamedCurveBits(std::span<const uint8_t> parameters)
{
    const auto tlv = ReadTlv(ByteReader(parameters), 0);
    if (!tlv || tlv->Tag != TagOid)
        return std::nullopt;
    const unsigned char* p = tlv->Whole.data();
    const Asn1ObjectPtr object(d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(tlv->Whole.size())));
    ERR_clear_error();
    if (!object)
        return std::nullopt;
    const std::string oid = OidText(object.get());
    for (const NamedCurve& curve : NamedCurves)
        if (oid == curve.Oid)
            return curve.Bits;
    return std::nullopt;
}

// The sizes that can be read straight from the encoding; OpenSSL's key decoding is slow, and a
// report asks for the size of every certificate.
std::optional<DWORD> KnownKeyBits(std::string_view oid, const CERT_PUBLIC_KEY_INFO& key)
{
    const std::span<const uint8_t> bits(key.PublicKey.pbData, key.PublicKey.pbData ? key.PublicKey.cbData : 0);
    const std::span<const uint8_t> parameters(key.Algorithm.Parameters.pbData,
                                              key.Algorithm.Parameters.pbData ? key.Algorithm.Parameters.cbData : 0);
    if (oid == "1.2.840.113549.1.1.1" || oid == "1.2.840.113549.1.1.10") // RSA, RSASSA-PSS
        return FirstIntegerBits(bits);
    if (oid == "1.2.840.10045.2.1") // EC
        return NamedCurveBits(parameters);
    if (oid == "1.2.840.10040.4.1") // DSA: the prime p of the parameters
        return FirstIntegerBits(parameters);
    return std::nullopt;
}

const EVP_MD* DigestOf(ALG_ID algid)
{
    switch (algid) {
    case 0:
    case CALG_SHA1: return EVP_sha1();
    case CALG_MD5: return EVP_md5();
    case CALG_SHA_256: return EVP_sha256();
    case CALG_SHA_384: return EVP_sha384();
    case CALG_SHA_512: return EVP_sha512();
    default: return nullptr;
    }
}

} // namespace

namespace crypt32 {

// CERT_ENHKEY_USAGE at offset 0, then the pointer array, then the OID texts.
BOOL CopyUsageOut(const std::vector<std::string>& oids, void* out, DWORD* pcb)
{
    FlatBuilder b;
    const size_t usage = b.New<CERT_ENHKEY_USAGE>();
    b.Put(usage + offsetof(CERT_ENHKEY_USAGE, cUsageIdentifier), static_cast<DWORD>(oids.size()));
    if (!oids.empty()) {
        const size_t array = b.New<LPSTR>(oids.size());
        b.Link(usage + offsetof(CERT_ENHKEY_USAGE, rgpszUsageIdentifier), array);
        for (size_t i = 0; i < oids.size(); ++i)
            b.StringPointer(array + i * sizeof(LPSTR), oids[i]);
    }
    return b.CopyOut(out, pcb);
}

std::optional<std::vector<std::string>> DecodeEnhancedKeyUsage(std::span<const uint8_t> der)
{
    return DecodeUsage(der);
}

} // namespace crypt32

extern "C" {

WINAPI_EXPORT BOOL WINAPI CertGetIntendedKeyUsage(DWORD dwCertEncodingType, PCERT_INFO pCertInfo, BYTE* pbKeyUsage,
                                                  DWORD cbKeyUsage)
{
    if (pbKeyUsage && cbKeyUsage > 0)
        std::memset(pbKeyUsage, 0, cbKeyUsage);
    std::span<const uint8_t> encoded;
    if (const CERT_EXTENSION* extension = FindExtension(pCertInfo, szOID_KEY_USAGE);
        extension && extension->Value.pbData) {
        encoded = {extension->Value.pbData, extension->Value.cbData};
    } else if (const CERT_EXTENSION* attributes = FindExtension(pCertInfo, szOID_KEY_ATTRIBUTES);
               attributes && attributes->Value.pbData) {
        // The key-attributes extension of the 1990s: SEQUENCE { keyIdentifier OCTET STRING
        // OPTIONAL, intendedKeyUsage BIT STRING OPTIONAL, privateKeyUsagePeriod OPTIONAL }.
        const auto value = ReadTlv(ByteReader(attributes->Value.pbData, attributes->Value.cbData), 0);
        const bool sequence = value && value->Class == V_ASN1_UNIVERSAL && value->Tag == TagSequence;
        const auto fields = sequence ? ReadChildren(value->Content) : std::nullopt;
        for (size_t i = 0; fields && i < fields->size() && encoded.empty(); ++i) {
            const Tlv& field = (*fields)[i];
            if (field.Class == V_ASN1_UNIVERSAL && field.Tag == TagBitString && !field.Constructed)
                encoded = field.Whole.span();
        }
    }
    if (encoded.empty()) {
        SetLastError(ERROR_SUCCESS);
        return FALSE;
    }
    const unsigned char* p = encoded.data();
    const Asn1BitStringPtr bits(d2i_ASN1_BIT_STRING(nullptr, &p, static_cast<long>(encoded.size())));
    if (!bits) {
        return FailBool(TakeOpenSslError(ErrorCode(CRYPT_E_ASN1_BADTAG)));
    }
    // An empty BIT STRING names no usage: the zeroed bytes already say so.
    if (pbKeyUsage && bits->data && bits->length > 0)
        std::memcpy(pbKeyUsage, bits->data, std::min<size_t>(cbKeyUsage, static_cast<size_t>(bits->length)));
    return TRUE;
}

WINAPI_EXPORT BOOL WINAPI CertGetEnhancedKeyUsage(PCCERT_CONTEXT pCertContext, DWORD dwFlags,
                                                  PCERT_ENHKEY_USAGE pUsage, DWORD* pcbUsage)
{
    const CertElement* element = CertElement::From(pCertContext);
    const CERT_INFO* info = element ? element->Data().Info() : (pCertContext ? pCertContext->pCertInfo : nullptr);
    if (!info || !pcbUsage)
        return FailBool(E_INVALIDARG);

    std::optional<std::vector<std::string>> fromExtension;
    std::optional<std::vector<std::string>> fromProperty;
    if ((dwFlags & CERT_FIND_PROP_ONLY_ENHKEY_USAGE_FLAG) == 0) {
        if (const CERT_EXTENSION* extension = FindExtension(info, szOID_ENHANCED_KEY_USAGE)) {
            fromExtension = DecodeUsage({extension->Value.pbData, extension->Value.cbData});
            if (!fromExtension)
                return FailBool(CRYPT_E_ASN1_BADTAG);
        }
    }
    if ((dwFlags & CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG) == 0 && element) {
        if (const auto property = element->Property(CERT_ENHKEY_USAGE_PROP_ID)) {
            fromProperty = DecodeUsage(*property);
            if (!fromProperty)
                return FailBool(CRYPT_E_ASN1_BADTAG);
        }
    }

    std::vector<std::string> oids;
    if (fromExtension && fromProperty) {
        for (const std::string& oid : *fromExtension)
            if (std::find(fromProperty->begin(), fromProperty->end(), oid) != fromProperty->end())
                oids.push_back(oid);
    } else if (fromExtension || fromProperty) {
        oids = fromExtension ? *fromExtension : *fromProperty;
    }
    const BOOL ok = CopyUsageOut(oids, pUsage, pcbUsage);
    // With no usage listed the last error tells "good for all" (CRYPT_E_NOT_FOUND) from "good for none".
    if (ok && oids.empty())
        SetLastError(fromExtension || fromProperty ? ERROR_SUCCESS : ErrorCode(CRYPT_E_NOT_FOUND));
    return ok;
}

WINAPI_EXPORT DWORD WINAPI CertGetPublicKeyLength(DWORD dwCertEncodingType, CERT_PUBLIC_KEY_INFO* pPublicKey)
{
    if (!pPublicKey || !pPublicKey->Algorithm.pszObjId) {
        SetLastError(ErrorCode(E_INVALIDARG));
        return 0;
    }
    const std::string_view oid = pPublicKey->Algorithm.pszObjId;
    // OpenSSL counts the security bits of the Edwards and Montgomery curves; Windows shows the field size.
    if (oid == "1.3.101.112" || oid == "1.3.101.110")
        return 255;
    if (oid == "1.3.101.113" || oid == "1.3.101.111")
        return 448;

    if (const auto known = KnownKeyBits(oid, *pPublicKey); known && *known > 0)
        return *known;

    // Rebuild the SubjectPublicKeyInfo and let OpenSSL read the key from it.
    Asn1ObjectPtr object(OBJ_txt2obj(pPublicKey->Algorithm.pszObjId, 1));
    Asn1TypePtr parameters;
    const CRYPT_OBJID_BLOB& rawParameters = pPublicKey->Algorithm.Parameters;
    if (rawParameters.cbData > 0 && rawParameters.pbData) {
        const unsigned char* p = rawParameters.pbData;
        parameters.reset(d2i_ASN1_TYPE(nullptr, &p, static_cast<long>(rawParameters.cbData)));
    }
    const X509PubkeyPtr spki(X509_PUBKEY_new());
    // An end-of-contents "value" is no parameter: X509_ALGOR_set0 would not take it (and it would leak).
    const bool badParameters = rawParameters.cbData > 0 && (!parameters || parameters->type == V_ASN1_EOC);
    if (!object || !spki || badParameters || pPublicKey->PublicKey.cbData > MaxInputSize) {
        ERR_clear_error();
        return 0;
    }
    auto* key = static_cast<unsigned char*>(OPENSSL_malloc(pPublicKey->PublicKey.cbData + 1));
    if (!key)
        return 0;
    if (pPublicKey->PublicKey.cbData > 0 && pPublicKey->PublicKey.pbData)
        std::memcpy(key, pPublicKey->PublicKey.pbData, pPublicKey->PublicKey.cbData);
    const int parameterType = parameters ? parameters->type : V_ASN1_UNDEF;
    void* parameterValue = nullptr;
    if (parameters) {
        // X509_PUBKEY_set0_param takes the value of the ASN1_TYPE, not the ASN1_TYPE itself.
        parameterValue = parameters->value.ptr;
        parameters->value.ptr = nullptr;
        if (parameterType == V_ASN1_NULL)
            parameterValue = nullptr;
    }
    if (!X509_PUBKEY_set0_param(spki.get(), object.release(), parameterType, parameterValue, key,
                                static_cast<int>(pPublicKey->PublicKey.cbData))) {
        // Nothing was taken over: the value goes back to its owner to be freed there.
        if (parameters && parameterValue)
            parameters->value.ptr = static_cast<char*>(parameterValue);
        OPENSSL_free(key);
        ERR_clear_error();
        return 0;
    }
    const Bytes der = Encode(spki.get(), i2d_X509_PUBKEY);
    const unsigned char* p = der.data();
    const EvpPkeyPtr pkey(der.empty() ? nullptr : d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size())));
    const int bits = pkey ? EVP_PKEY_get_bits(pkey.get()) : 0;
    ERR_clear_error();
    return bits > 0 ? static_cast<DWORD>(bits) : 0;
}

WINAPI_EXPORT BOOL WINAPI CryptHashCertificate(HCRYPTPROV_LEGACY hCryptProv, ALG_ID Algid, DWORD dwFlags,
                                               const BYTE* pbEncoded, DWORD cbEncoded, BYTE* pbComputedHash,
                                               DWORD* pcbComputedHash)
{
    const EVP_MD* md = DigestOf(Algid);
    if (!md)
        return FailBool(NTE_BAD_ALGID);
    if (!pcbComputedHash || (!pbEncoded && cbEncoded != 0))
        return FailBool(E_INVALIDARG);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    static const unsigned char Empty = 0;
    if (!EVP_Digest(pbEncoded ? pbEncoded : &Empty, cbEncoded, digest, &length, md, nullptr))
        return FailBool(TakeOpenSslError(ErrorCode(NTE_BAD_ALGID)));
    return CopyBytesOut(std::span<const uint8_t>(digest, length), pbComputedHash, pcbComputedHash);
}

} // extern "C"
