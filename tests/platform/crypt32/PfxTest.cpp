// PFXImportCertStore: passwords, key marking, friendly names, legacy and modern containers.
#include "tests/platform/crypt32/Crypt32TestSupport.h"

#include <gtest/gtest.h>

using namespace crypt32test;

namespace {

StorePtr Import(const Bytes& pfx, const char16_t* password)
{
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(pfx.size()), const_cast<BYTE*>(pfx.data())};
    return StorePtr(PFXImportCertStore(&blob, password, 0));
}

StorePtr ImportFixture(const std::string& name, const char16_t* password)
{
    return Import(testsupport::ReadBytes(CertFixture(name)), password);
}

std::u16string FriendlyName(PCCERT_CONTEXT cert)
{
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(cert, CERT_FRIENDLY_NAME_PROP_ID, nullptr, &size))
        return u"<none>";
    std::u16string name(size / 2, u'\0');
    EXPECT_TRUE(CertGetCertificateContextProperty(cert, CERT_FRIENDLY_NAME_PROP_ID, name.data(), &size));
    EXPECT_EQ(name.back(), u'\0');
    name.pop_back();
    return name;
}

} // namespace

struct PfxCase {
    const char* Fixture;
    const char16_t* Password;
    const char* Expected;  // PEM with the certificates in container order
    int KeyedIndex;        // the certificate whose key is in the container, or -1
};

class PfxImport : public ::testing::TestWithParam<PfxCase> {};

TEST_P(PfxImport, LoadsCertificatesAndMarksTheKey)
{
    const PfxCase& c = GetParam();
    const StorePtr store = ImportFixture(c.Fixture, c.Password);
    ASSERT_TRUE(store) << std::hex << GetLastError();
    EXPECT_EQ(StoreCertificates(store.get()), PemCertificates(CertFixture(c.Expected)));

    int index = 0;
    for (PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store.get(), nullptr); cert;
         cert = CertEnumCertificatesInStore(store.get(), cert), ++index) {
        DWORD size = 0;
        const bool keyed = CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size);
        EXPECT_EQ(keyed, index == c.KeyedIndex) << index;
        EXPECT_EQ(FriendlyName(cert), index == c.KeyedIndex ? u"Tessera Test Leaf" : u"<none>") << index;
    }

    const ContextPtr withKey(
        CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_HAS_PRIVATE_KEY, nullptr, nullptr));
    if (c.KeyedIndex < 0) {
        EXPECT_FALSE(withKey);
        return;
    }
    ASSERT_TRUE(withKey);
    EXPECT_EQ(Bytes(withKey->pbCertEncoded, withKey->pbCertEncoded + withKey->cbCertEncoded),
              PemCertificates(CertFixture(c.Expected))[static_cast<size_t>(c.KeyedIndex)]);
    EXPECT_FALSE(CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_HAS_PRIVATE_KEY, nullptr,
                                            CertDuplicateCertificateContext(withKey.get())));
}

INSTANTIATE_TEST_SUITE_P(Containers, PfxImport,
                         ::testing::Values(PfxCase{"leaf-aes.pfx", u"tessera", "v3-ku-eku.pem", 0},
                                           PfxCase{"leaf-legacy.pfx", u"tessera", "v3-ku-eku.pem", 0},
                                           PfxCase{"certs-only.pfx", u"tessera", "three.pem", -1},
                                           PfxCase{"empty-password.pfx", u"", "v3-ku-eku.pem", 0},
                                           PfxCase{"chain.pfx", u"tessera", "three.pem", 0}));

TEST(PfxImportFailures, WrongPasswordAndDamageGiveNull)
{
    for (const char* name : {"leaf-aes.pfx", "leaf-legacy.pfx"}) {
        SetLastError(0);
        EXPECT_FALSE(ImportFixture(name, u"wrong")) << name;
        EXPECT_EQ(GetLastError(), 86u) << name; // ERROR_INVALID_PASSWORD
        EXPECT_FALSE(ImportFixture(name, u"")) << name;
    }
    EXPECT_FALSE(ImportFixture("empty-password.pfx", u"tessera"));

    const Bytes pfx = testsupport::ReadBytes(CertFixture("leaf-aes.pfx"));
    EXPECT_FALSE(Import(Bytes(pfx.begin(), pfx.begin() + pfx.size() / 2), u"tessera"));
    Bytes flipped = pfx;
    flipped[flipped.size() / 2] ^= 0x5A;
    EXPECT_FALSE(Import(flipped, u"tessera"));
    EXPECT_FALSE(Import(testsupport::ReadBytes(CertFixture("root.cer")), u"tessera"));
    EXPECT_FALSE(PFXImportCertStore(nullptr, u"tessera", 0));
}
