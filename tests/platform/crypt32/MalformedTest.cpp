// Regression inputs kept from fuzzing (tests/fixtures/malformed/crypt32): every entry point takes
// them without crashing, and what it does accept it can walk to the end.
#include "tests/platform/crypt32/Crypt32TestSupport.h"

#include <gtest/gtest.h>

using namespace crypt32test;

namespace {

// Walks a store to its end; every certificate it holds has bytes and a decoded CERT_INFO.
void Walk(HCERTSTORE store)
{
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c; c = CertEnumCertificatesInStore(store, c)) {
        EXPECT_GT(c->cbCertEncoded, 0u);
        EXPECT_NE(c->pCertInfo, nullptr);
    }
}

} // namespace

TEST(Malformed, EveryEntryPointSurvivesTheRegressionFiles)
{
    const auto folder = testsupport::Fixture("malformed/crypt32");
    ASSERT_TRUE(std::filesystem::exists(folder));
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.path().extension() == ".md")
            continue;
        ++files;
        const Bytes bytes = testsupport::ReadBytes(entry.path());
        const auto size = static_cast<DWORD>(bytes.size());

        if (const StorePtr store = OpenFileStore(entry.path()))
            Walk(store.get());
        CRYPT_DATA_BLOB blob{size, const_cast<BYTE*>(bytes.data())};
        if (const StorePtr store{CertOpenStore(CERT_STORE_PROV_PKCS7, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, &blob)})
            Walk(store.get());
        if (const StorePtr store{PFXImportCertStore(&blob, u"tessera", 0)})
            Walk(store.get());
        if (const ContextPtr cert{CertCreateCertificateContext(X509_ASN_ENCODING, bytes.data(), size)}) {
            CertGetPublicKeyLength(X509_ASN_ENCODING, &cert->pCertInfo->SubjectPublicKeyInfo);
            CertGetNameStringW(cert.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
        }
        CERT_NAME_BLOB name{size, const_cast<BYTE*>(bytes.data())};
        EXPECT_GE(CertNameToStrW(X509_ASN_ENCODING, &name, CERT_X500_NAME_STR, nullptr, 0), 1u);
        for (const LPCSTR type : {static_cast<LPCSTR>(SPC_SP_OPUS_INFO_OBJID), PKCS_UTC_TIME, PKCS7_SIGNER_INFO_TYPE,
                                  X509_ENHANCED_KEY_USAGE}) {
            DWORD cb = 0;
            CryptDecodeObject(X509_ASN_ENCODING, type, bytes.data(), size, 0, nullptr, &cb);
        }
        const MsgPtr message(CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr));
        if (CryptMsgUpdate(message.get(), bytes.data(), size, TRUE)) {
            DWORD cb = 0;
            CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &cb);
            CryptMsgGetParam(message.get(), CMSG_CONTENT_PARAM, 0, nullptr, &cb);
        }
    }
    EXPECT_GT(files, 0);
}
