// OpenSSL objects owned by std::unique_ptr with their free functions, for the stand-ins built on
// OpenSSL. Include it before wincrypt.h: X509_NAME and PKCS7_SIGNER_INFO are OpenSSL type names as
// well as structure-type macros there.
#pragma once

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <memory>

namespace ossl {

template <auto FreeFunction>
struct OsslFree {
    template <typename T>
    void operator()(T* p) const
    {
        FreeFunction(p);
    }
};

using X509Ptr = std::unique_ptr<X509, OsslFree<X509_free>>;
using X509CrlPtr = std::unique_ptr<X509_CRL, OsslFree<X509_CRL_free>>;
using X509NamePtr = std::unique_ptr<X509_NAME, OsslFree<X509_NAME_free>>;
using X509StorePtr = std::unique_ptr<X509_STORE, OsslFree<X509_STORE_free>>;
using X509StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, OsslFree<X509_STORE_CTX_free>>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, OsslFree<EVP_PKEY_free>>;
using EvpMdCtxPtr = std::unique_ptr<EVP_MD_CTX, OsslFree<EVP_MD_CTX_free>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, OsslFree<PKCS7_free>>;
using Pkcs7SignerInfoPtr = std::unique_ptr<PKCS7_SIGNER_INFO, OsslFree<PKCS7_SIGNER_INFO_free>>;
using Asn1ObjectPtr = std::unique_ptr<ASN1_OBJECT, OsslFree<ASN1_OBJECT_free>>;
using Asn1TypePtr = std::unique_ptr<ASN1_TYPE, OsslFree<ASN1_TYPE_free>>;
using Asn1TimePtr = std::unique_ptr<ASN1_TIME, OsslFree<ASN1_TIME_free>>;
using Asn1BitStringPtr = std::unique_ptr<ASN1_BIT_STRING, OsslFree<ASN1_BIT_STRING_free>>;
using GeneralNamesPtr = std::unique_ptr<GENERAL_NAMES, OsslFree<GENERAL_NAMES_free>>;
using EkuPtr = std::unique_ptr<EXTENDED_KEY_USAGE, OsslFree<EXTENDED_KEY_USAGE_free>>;

} // namespace ossl
