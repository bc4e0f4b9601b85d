#include "platform/wintrust/Authenticode.h"

#include "platform/common/Der.h"
#include "platform/common/SignerCheck.h"

#include <openssl/asn1t.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include <algorithm>
#include <array>
#include <climits>

// SpcIndirectDataContent as OpenSSL templates:
//   SpcAttributeTypeAndOptionalValue ::= SEQUENCE { type OBJECT IDENTIFIER, value ANY OPTIONAL }
//   DigestInfo ::= SEQUENCE { digestAlgorithm AlgorithmIdentifier, digest OCTET STRING }
//   SpcIndirectDataContent ::= SEQUENCE { data SpcAttributeTypeAndOptionalValue,
//                                         messageDigest DigestInfo }
namespace {

struct SpcAttributeTypeAndOptionalValue {
    ASN1_OBJECT* type;
    ASN1_TYPE* value;
};

struct SpcDigestInfo {
    X509_ALGOR* digestAlgorithm;
    ASN1_OCTET_STRING* digest;
};

struct SpcIndirectDataContent {
    SpcAttributeTypeAndOptionalValue* data;
    SpcDigestInfo* messageDigest;
};

DECLARE_ASN1_ITEM(SpcAttributeTypeAndOptionalValue)
DECLARE_ASN1_ITEM(SpcDigestInfo)
DECLARE_ASN1_ITEM(SpcIndirectDataContent)

ASN1_SEQUENCE(SpcAttributeTypeAndOptionalValue) = {
    ASN1_SIMPLE(SpcAttributeTypeAndOptionalValue, type, ASN1_OBJECT),
    ASN1_OPT(SpcAttributeTypeAndOptionalValue, value, ASN1_ANY),
} ASN1_SEQUENCE_END(SpcAttributeTypeAndOptionalValue)

ASN1_SEQUENCE(SpcDigestInfo) = {
    ASN1_SIMPLE(SpcDigestInfo, digestAlgorithm, X509_ALGOR),
    ASN1_SIMPLE(SpcDigestInfo, digest, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(SpcDigestInfo)

ASN1_SEQUENCE(SpcIndirectDataContent) = {
    ASN1_SIMPLE(SpcIndirectDataContent, data, SpcAttributeTypeAndOptionalValue),
    ASN1_SIMPLE(SpcIndirectDataContent, messageDigest, SpcDigestInfo),
} ASN1_SEQUENCE_END(SpcIndirectDataContent)

void SpcIndirectDataContent_free(SpcIndirectDataContent* content)
{
    ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(content), ASN1_ITEM_rptr(SpcIndirectDataContent));
}

} // namespace

namespace wintrust {

namespace {

using IndirectDataPtr = std::unique_ptr<SpcIndirectDataContent, OsslFree<SpcIndirectDataContent_free>>;

constexpr char Rfc3161CounterSignOid[] = "1.3.6.1.4.1.311.3.3.1";

// The value of a DER element: its content after the tag and length. std::nullopt unless der is
// exactly one element of definite length.
std::optional<std::span<const uint8_t>> ElementContent(std::span<const uint8_t> der)
{
    if (der.empty() || der.size() > static_cast<size_t>(LONG_MAX))
        return std::nullopt;
    const unsigned char* p = der.data();
    long length = 0;
    int tag = 0;
    int cls = 0;
    const int flags = ASN1_get_object(&p, &length, &tag, &cls, static_cast<long>(der.size()));
    if ((flags & 0x80) != 0 || (flags & 0x01) != 0) {
        ERR_clear_error();
        return std::nullopt;
    }
    const auto header = static_cast<size_t>(p - der.data());
    if (header > der.size() || static_cast<size_t>(length) != der.size() - header)
        return std::nullopt;
    return der.subspan(header);
}

bool Digest(const EVP_MD* md, std::span<const uint8_t> data, Bytes& out)
{
    std::array<uint8_t, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, md, nullptr) != 1) {
        ERR_clear_error();
        return false;
    }
    out.assign(digest.begin(), digest.begin() + length);
    return true;
}

bool SameBytes(std::span<const uint8_t> a, std::span<const uint8_t> b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

// The DER of a SEQUENCE held as an ANY value.
std::optional<std::span<const uint8_t>> SequenceDer(const ASN1_TYPE* value)
{
    if (!value || value->type != V_ASN1_SEQUENCE || !value->value.sequence)
        return std::nullopt;
    const auto bytes = StringBytes(value->value.sequence);
    if (bytes.empty())
        return std::nullopt;
    return bytes;
}

X509StackPtr CopyCertificates(STACK_OF(X509) * first, STACK_OF(X509) * second)
{
    X509StackPtr all(sk_X509_new_null());
    for (STACK_OF(X509)* certs : {first, second}) {
        for (int i = 0; all && i < sk_X509_num(certs); ++i) {
            X509* cert = sk_X509_value(certs, i);
            if (cert && X509_up_ref(cert) == 1 && !sk_X509_push(all.get(), cert))
                X509_free(cert);
        }
    }
    return all;
}

X509Ptr Share(X509* cert)
{
    if (!cert || X509_up_ref(cert) != 1)
        return nullptr;
    return X509Ptr(cert);
}

std::optional<int64_t> SigningTime(PKCS7_SIGNER_INFO* signer)
{
    const ASN1_TYPE* value = PKCS7_get_signed_attribute(signer, NID_pkcs9_signingTime);
    if (!value || (value->type != V_ASN1_UTCTIME && value->type != V_ASN1_GENERALIZEDTIME))
        return std::nullopt;
    return UnixTimeOf(value->value.utctime);
}

TimeStamp ReadLegacy(const SignedMessage& message, PKCS7_SIGNER_INFO* signer, std::span<const uint8_t> der)
{
    TimeStamp stamp;
    stamp.Kind = TimeStampKind::Legacy;
    stamp.Der.assign(der.begin(), der.end());
    stamp.Error = TRUST_E_COUNTER_SIGNER;
    const unsigned char* p = der.data();
    const Pkcs7SignerInfoPtr counter(d2i_PKCS7_SIGNER_INFO(nullptr, &p, static_cast<long>(der.size())));
    ERR_clear_error();
    if (!counter || p != der.data() + der.size())
        return stamp;
    stamp.Helpers = CopyCertificates(message.Certificates(), nullptr);
    stamp.SignerCert = Share(FindSignerCertificate(counter.get(), message.Certificates()));
    stamp.Time = SigningTime(counter.get());
    if (!stamp.SignerCert || !stamp.Time)
        return stamp;
    // The counter-signature is over the signer's encrypted digest.
    if (VerifySignerInfo(counter.get(), stamp.SignerCert.get(), StringBytes(signer->enc_digest)) == S_OK)
        stamp.Error = S_OK;
    return stamp;
}

TimeStamp ReadRfc3161(const SignedMessage& message, PKCS7_SIGNER_INFO* signer, std::span<const uint8_t> der)
{
    TimeStamp stamp;
    stamp.Kind = TimeStampKind::Rfc3161;
    stamp.Der.assign(der.begin(), der.end());
    stamp.Error = TRUST_E_TIME_STAMP;
    const der::DecodedPkcs7 decoded = der::DecodePkcs7(der);
    const Pkcs7Ptr& token = decoded.Message;
    ERR_clear_error();
    if (!token || decoded.Used != der.size() || OBJ_obj2nid(token->type) != NID_pkcs7_signed ||
        !token->d.sign || !token->d.sign->contents)
        return stamp;
    const PKCS7* inner = token->d.sign->contents;
    if (OBJ_obj2nid(inner->type) != NID_id_smime_ct_TSTInfo || !inner->d.other ||
        inner->d.other->type != V_ASN1_OCTET_STRING)
        return stamp;
    const auto tstInfo = StringBytes(inner->d.other->value.octet_string);
    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(token.get());
    if (sk_PKCS7_SIGNER_INFO_num(signers) < 1 || tstInfo.empty())
        return stamp;
    PKCS7_SIGNER_INFO* tokenSigner = sk_PKCS7_SIGNER_INFO_value(signers, 0);

    stamp.Helpers = CopyCertificates(token->d.sign->cert, message.Certificates());
    X509* cert = FindSignerCertificate(tokenSigner, token->d.sign->cert);
    if (!cert)
        cert = FindSignerCertificate(tokenSigner, message.Certificates());
    stamp.SignerCert = Share(cert);

    const unsigned char* q = tstInfo.data();
    const TstInfoPtr info(d2i_TS_TST_INFO(nullptr, &q, static_cast<long>(tstInfo.size())));
    ERR_clear_error();
    if (!info || q != tstInfo.data() + tstInfo.size())
        return stamp;
    if (const ASN1_GENERALIZEDTIME* genTime = TS_TST_INFO_get_time(info.get()))
        stamp.Time = UnixTimeOf(genTime);
    if (!stamp.SignerCert || !stamp.Time)
        return stamp;

    // The imprint is the digest of the signer's encrypted digest.
    TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(info.get());
    const X509_ALGOR* algorithm = imprint ? TS_MSG_IMPRINT_get_algo(imprint) : nullptr;
    const EVP_MD* md = algorithm ? AuthenticodeDigest(algorithm->algorithm) : nullptr;
    Bytes expected;
    if (!md || !Digest(md, StringBytes(signer->enc_digest), expected) ||
        !SameBytes(expected, StringBytes(TS_MSG_IMPRINT_get_msg(imprint))))
        return stamp;
    if (VerifySignerInfo(tokenSigner, stamp.SignerCert.get(), tstInfo) == S_OK)
        stamp.Error = S_OK;
    return stamp;
}

} // namespace

HRESULT SignedMessage::Decode(std::span<const uint8_t> der, std::unique_ptr<SignedMessage>& message)
{
    message.reset();
    if (der.empty() || der.size() > static_cast<size_t>(LONG_MAX))
        return DIGSIG_E_DECODE;
    der::DecodedPkcs7 decodedDer = der::DecodePkcs7(der);
    Pkcs7Ptr decoded = std::move(decodedDer.Message);
    ERR_clear_error();
    if (!decoded || OBJ_obj2nid(decoded->type) != NID_pkcs7_signed || !decoded->d.sign ||
        !decoded->d.sign->contents)
        return DIGSIG_E_DECODE;
    const PKCS7* inner = decoded->d.sign->contents;
    if (OidText(inner->type) != SpcIndirectDataObjId)
        return DIGSIG_E_DECODE;
    const auto contentDer = SequenceDer(inner->d.other);
    if (!contentDer)
        return DIGSIG_E_DECODE;
    const auto signedContent = ElementContent(*contentDer);
    if (!signedContent)
        return DIGSIG_E_DECODE;

    const unsigned char* q = contentDer->data();
    const IndirectDataPtr indirect(reinterpret_cast<SpcIndirectDataContent*>(
        ASN1_item_d2i(nullptr, &q, static_cast<long>(contentDer->size()), ASN1_ITEM_rptr(SpcIndirectDataContent))));
    ERR_clear_error();
    if (!indirect || q != contentDer->data() + contentDer->size())
        return DIGSIG_E_DECODE;

    auto result = std::make_unique<SignedMessage>(Key{});
    result->FDer.assign(der.data(), der.data() + decodedDer.Used);
    result->FMessage = std::move(decoded);
    result->FFileMd = AuthenticodeDigest(indirect->messageDigest->digestAlgorithm->algorithm);
    const auto digest = StringBytes(indirect->messageDigest->digest);
    result->FFileDigest.assign(digest.begin(), digest.end());
    result->FSignedContent.assign(signedContent->begin(), signedContent->end());
    message = std::move(result);
    return S_OK;
}

int SignedMessage::SignerCount() const
{
    return std::max(sk_PKCS7_SIGNER_INFO_num(PKCS7_get_signer_info(FMessage.get())), 0);
}

PKCS7_SIGNER_INFO* SignedMessage::Signer(int index) const
{
    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(FMessage.get());
    if (index < 0 || index >= sk_PKCS7_SIGNER_INFO_num(signers))
        return nullptr;
    return sk_PKCS7_SIGNER_INFO_value(signers, index);
}

STACK_OF(X509) * SignedMessage::Certificates() const { return FMessage->d.sign->cert; }

STACK_OF(X509_CRL) * SignedMessage::Crls() const { return FMessage->d.sign->crl; }

X509* FindSignerCertificate(PKCS7_SIGNER_INFO* signer, STACK_OF(X509) * certs)
{
    if (!signer || !signer->issuer_and_serial || !certs)
        return nullptr;
    X509* cert = X509_find_by_issuer_and_serial(certs, signer->issuer_and_serial->issuer,
                                                signer->issuer_and_serial->serial);
    ERR_clear_error();
    return cert;
}

HRESULT VerifySignerInfo(PKCS7_SIGNER_INFO* signer, X509* cert, std::span<const uint8_t> content)
{
    switch (signercheck::Check(signer, cert, content)) {
    case signercheck::Outcome::Holds: return S_OK;
    case signercheck::Outcome::OutOfMemory: return E_OUTOFMEMORY;
    case signercheck::Outcome::Fails: break;
    }
    return TRUST_E_BAD_DIGEST;
}

std::vector<TimeStamp> ReadTimeStamps(const SignedMessage& message, PKCS7_SIGNER_INFO* signer, size_t max)
{
    std::vector<TimeStamp> stamps;
    if (!signer)
        return stamps;
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(signer->unauth_attr) && stamps.size() < max; ++i) {
        X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(signer->unauth_attr, i);
        const ASN1_OBJECT* type = X509_ATTRIBUTE_get0_object(attribute);
        const bool legacy = OBJ_obj2nid(type) == NID_pkcs9_countersignature;
        if (!legacy && OidText(type) != Rfc3161CounterSignOid)
            continue;
        for (int v = 0; v < X509_ATTRIBUTE_count(attribute) && stamps.size() < max; ++v) {
            const auto der = SequenceDer(X509_ATTRIBUTE_get0_type(attribute, v));
            if (!der) {
                TimeStamp broken;
                broken.Kind = legacy ? TimeStampKind::Legacy : TimeStampKind::Rfc3161;
                broken.Error = legacy ? TRUST_E_COUNTER_SIGNER : TRUST_E_TIME_STAMP;
                stamps.push_back(std::move(broken));
                continue;
            }
            stamps.push_back(legacy ? ReadLegacy(message, signer, *der) : ReadRfc3161(message, signer, *der));
        }
    }
    ERR_clear_error();
    return stamps;
}

std::vector<Bytes> NestedSignatures(PKCS7_SIGNER_INFO* signer, size_t max)
{
    std::vector<Bytes> nested;
    if (!signer)
        return nested;
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(signer->unauth_attr) && nested.size() < max; ++i) {
        X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(signer->unauth_attr, i);
        if (OidText(X509_ATTRIBUTE_get0_object(attribute)) != SpcNestedSignatureObjId)
            continue;
        // A value that is no SEQUENCE still counts: it is a signature that does not decode.
        for (int v = 0; v < X509_ATTRIBUTE_count(attribute) && nested.size() < max; ++v) {
            const auto der = SequenceDer(X509_ATTRIBUTE_get0_type(attribute, v));
            nested.push_back(der ? Bytes(der->begin(), der->end()) : Bytes());
        }
    }
    ERR_clear_error();
    return nested;
}

} // namespace wintrust
