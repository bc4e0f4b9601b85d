#include "platform/common/SignerCheck.h"

#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <array>
#include <vector>

namespace signercheck {

namespace {

using Bytes = std::vector<uint8_t>;
using EvpPkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, ossl::OsslFree<EVP_PKEY_CTX_free>>;

std::span<const uint8_t> StringBytes(const ASN1_STRING* s)
{
    if (!s || ASN1_STRING_length(s) <= 0)
        return {};
    return {ASN1_STRING_get0_data(s), static_cast<size_t>(ASN1_STRING_length(s))};
}

bool Digest(const EVP_MD* md, std::span<const uint8_t> data, Bytes& out)
{
    std::array<uint8_t, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, md, nullptr) != 1)
        return false;
    out.assign(digest.begin(), digest.begin() + length);
    return true;
}

bool SameBytes(std::span<const uint8_t> a, std::span<const uint8_t> b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

// An RSA signature (PKCS #1 v1.5) over the bare digest of data, without the DigestInfo that names
// the digest's algorithm: how the time-stamp services of 2008 to 2019 signed, and what Windows
// accepts. The recovered block must be exactly the digest.
bool BareDigestSignatureHolds(EVP_PKEY* key, const EVP_MD* md, std::span<const uint8_t> data,
                              std::span<const uint8_t> signature)
{
    Bytes digest;
    if (!EVP_PKEY_is_a(key, "RSA") || !Digest(md, data, digest))
        return false;
    const EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
    size_t length = 0;
    if (!ctx || EVP_PKEY_verify_recover_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_verify_recover(ctx.get(), nullptr, &length, signature.data(), signature.size()) != 1)
        return false;
    Bytes recovered(length);
    return EVP_PKEY_verify_recover(ctx.get(), recovered.data(), &length, signature.data(), signature.size()) == 1 &&
           SameBytes(std::span<const uint8_t>(recovered.data(), length), digest);
}

Outcome Failure()
{
    const unsigned long first = ERR_peek_error();
    const bool memory = first != 0 && ERR_GET_REASON(first) == ERR_R_MALLOC_FAILURE;
    ERR_clear_error();
    return memory ? Outcome::OutOfMemory : Outcome::Fails;
}

Outcome CheckSignature(PKCS7_SIGNER_INFO* signer, X509* cert, std::span<const uint8_t> content)
{
    if (!signer || !cert || !signer->digest_alg || !signer->enc_digest)
        return Outcome::Fails;
    const EVP_MD* md = DigestOf(signer->digest_alg->algorithm);
    EVP_PKEY* key = X509_get0_pubkey(cert);
    if (!md || !key)
        return Failure();

    Bytes attributes;
    std::span<const uint8_t> signedBytes = content;
    if (sk_X509_ATTRIBUTE_num(signer->auth_attr) > 0) {
        const ASN1_OCTET_STRING* claimed = PKCS7_digest_from_attributes(signer->auth_attr);
        Bytes actual;
        if (!claimed || !Digest(md, content, actual) || !SameBytes(actual, StringBytes(claimed)))
            return Failure();
        // The signature covers the attributes encoded as a SET OF, not as the [0] field.
        unsigned char* encoded = nullptr;
        const int length = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(signer->auth_attr), &encoded,
                                         ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
        if (length <= 0 || !encoded)
            return Failure();
        attributes.assign(encoded, encoded + length);
        OPENSSL_free(encoded);
        signedBytes = attributes;
    }
    const ossl::EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    const auto signature = StringBytes(signer->enc_digest);
    if (ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, md, nullptr, key) == 1 &&
        EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), signedBytes.data(), signedBytes.size()) == 1)
        return Outcome::Holds;
    const Outcome failure = Failure();
    if (failure == Outcome::Fails && BareDigestSignatureHolds(key, md, signedBytes, signature))
        return Outcome::Holds;
    return failure;
}

} // namespace

const EVP_MD* DigestOf(const ASN1_OBJECT* algorithm)
{
    switch (OBJ_obj2nid(algorithm)) {
    case NID_md5: return EVP_md5();
    case NID_sha1: return EVP_sha1();
    case NID_sha256: return EVP_sha256();
    case NID_sha384: return EVP_sha384();
    case NID_sha512: return EVP_sha512();
    default: return nullptr;
    }
}

Outcome Check(PKCS7_SIGNER_INFO* signer, X509* cert, std::span<const uint8_t> content)
{
    const Outcome outcome = CheckSignature(signer, cert, content);
    ERR_clear_error();
    return outcome;
}

} // namespace signercheck
