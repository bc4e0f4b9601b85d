// Stores and certificate contexts: loading every form, decoding CERT_INFO, finding, adding,
// properties, lifetimes and saving.
#include "tests/platform/crypt32/Crypt32TestSupport.h"

#include "platform/crypt32/Objects.h"

#include <openssl/pkcs7.h>

#include <gtest/gtest.h>

#include <cstring>

using namespace crypt32test;

namespace {

Bytes PemToDer(const std::string& fixture)
{
    const auto certs = PemCertificates(CertFixture(fixture));
    return certs.empty() ? Bytes() : certs.front();
}

Bytes CrlDer(const std::string& fixture)
{
    BIO* bio = BIO_new_file(CertFixture(fixture).string().c_str(), "r");
    X509_CRL* crl = PEM_read_bio_X509_CRL(bio, nullptr, nullptr, nullptr);
    unsigned char* der = nullptr;
    const int len = i2d_X509_CRL(crl, &der);
    Bytes out(der, der + len);
    OPENSSL_free(der);
    X509_CRL_free(crl);
    BIO_free(bio);
    return out;
}

std::vector<Bytes> StoreCrls(HCERTSTORE store)
{
    std::vector<Bytes> out;
    for (PCCRL_CONTEXT c = CertEnumCRLsInStore(store, nullptr); c; c = CertEnumCRLsInStore(store, c))
        out.emplace_back(c->pbCrlEncoded, c->pbCrlEncoded + c->cbCrlEncoded);
    return out;
}

Bytes Blob(const CRYPTOAPI_BLOB& blob) { return Bytes(blob.pbData, blob.pbData + blob.cbData); }

StorePtr MemoryStore() { return StorePtr(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr)); }

StorePtr Pkcs7Store(const Bytes& der)
{
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(der.size()), const_cast<BYTE*>(der.data())};
    return StorePtr(CertOpenStore(CERT_STORE_PROV_PKCS7, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, &blob));
}

} // namespace

struct FileForm {
    const char* Fixture;
    const char* Expected; // PEM file with OpenSSL's view of the same certificates, in order
};

class StoreLoading : public ::testing::TestWithParam<FileForm> {};

TEST_P(StoreLoading, HoldsEveryCertificateInFileOrder)
{
    const StorePtr store = OpenFileStore(CertFixture(GetParam().Fixture));
    ASSERT_TRUE(store) << GetLastError();
    const auto actual = StoreCertificates(store.get());
    const auto expected = PemCertificates(CertFixture(GetParam().Expected));
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(actual, expected);
    // Thumbprints come from the exact bytes.
    PCCERT_CONTEXT c = CertEnumCertificatesInStore(store.get(), nullptr);
    BYTE sha1[20];
    DWORD size = sizeof sha1;
    ASSERT_TRUE(CertGetCertificateContextProperty(c, CERT_SHA1_HASH_PROP_ID, sha1, &size));
    EXPECT_EQ(Hex(sha1, size), Sha1Hex(expected.front()));
    EXPECT_EQ(c->hCertStore, store.get());
    EXPECT_EQ(c->dwCertEncodingType, X509_ASN_ENCODING);
    CertFreeCertificateContext(c);
}

INSTANTIATE_TEST_SUITE_P(Forms, StoreLoading,
                         ::testing::Values(FileForm{"root.cer", "root.pem"}, FileForm{"three.pem", "three.pem"},
                                           FileForm{"three.p7b", "three.pem"}, FileForm{"three.p7c", "three.pem"},
                                           FileForm{"three-crl.p7b", "three.pem"},
                                           FileForm{"text-before.pem", "v3-ku-eku.pem"},
                                           FileForm{"bom.pem", "v3-ku-eku.pem"},
                                           FileForm{"bare-base64.txt", "v3-ku-eku.pem"},
                                           FileForm{"signed-other-type.p7", "codesign.pem"},
                                           // A PKCS #7 message under "CERTIFICATE", as exports are written.
                                           FileForm{"export-three.pem", "three.pem"},
                                           FileForm{"three-ber.p7b", "three.pem"},
                                           FileForm{"zero-first.cer", "root.pem"}));

TEST(StoreLoadingFailures, FilesWithoutCertificatesGiveNull)
{
    const testsupport::TempDir dir;
    testsupport::WriteText(dir / "empty.cer", "");
    testsupport::WriteText(dir / "garbage.cer", "this is not a certificate at all\n");
    testsupport::WriteBytes(dir / "binary.cer", {0x30, 0x82, 0x10, 0x00, 0x01, 0x02});
    testsupport::WriteText(dir / "bad-pem.pem", "-----BEGIN CERTIFICATE-----\n!!!!\n-----END CERTIFICATE-----\n");
    for (const auto& path : {dir / "empty.cer", dir / "garbage.cer", dir / "binary.cer", dir / "bad-pem.pem",
                             dir / "missing.cer", CertFixture("codesign.key"), CertFixture("crl-only.pem"),
                             CertFixture("crl-only.der")}) {
        SetLastError(0);
        EXPECT_FALSE(OpenFileStore(path)) << path;
        EXPECT_NE(GetLastError(), 0u) << path;
    }
    SetLastError(0);
    EXPECT_FALSE(OpenFileStore(dir / "missing.cer"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(StoreLoading, KeepsTheCrlsOfAPkcs7)
{
    const StorePtr store = OpenFileStore(CertFixture("three-crl.p7b"));
    ASSERT_TRUE(store);
    const auto crls = StoreCrls(store.get());
    ASSERT_EQ(crls.size(), 1u);
    EXPECT_EQ(crls[0], CrlDer("root.crl"));
    EXPECT_TRUE(StoreCrls(OpenFileStore(CertFixture("three.p7b")).get()).empty());
}

// A CRL beside a certificate is kept, whatever the encoding of the file.
TEST(StoreLoading, KeepsTheCrlsBesideCertificatesInPem)
{
    const testsupport::TempDir dir;
    testsupport::WriteText(dir / "both.pem", testsupport::ReadText(CertFixture("crl-only.pem")) +
                                                 testsupport::ReadText(CertFixture("root.pem")));
    const StorePtr store = OpenFileStore(dir / "both.pem");
    ASSERT_TRUE(store);
    EXPECT_EQ(StoreCertificates(store.get()).size(), 1u);
    ASSERT_EQ(StoreCrls(store.get()).size(), 1u);
    EXPECT_EQ(StoreCrls(store.get())[0], CrlDer("root.crl"));
}

// A file of the largest size read, all begin markers that never end but one certificate at its
// end: read whole, and only it found.
TEST(StoreLoading, BeginMarkersWithoutEndsAreReadInOnePass)
{
    const testsupport::TempDir dir;
    const std::string marker = "-----BEGIN A-----\n";
    const std::string certificate = testsupport::ReadText(CertFixture("v3-ku-eku.pem"));
    std::string text;
    text.reserve(crypt32::MaxCertificateFileSize);
    while (text.size() + marker.size() + certificate.size() <= crypt32::MaxCertificateFileSize)
        text += marker;
    text += certificate;
    testsupport::WriteText(dir / "markers.pem", text);
    const StorePtr store = OpenFileStore(dir / "markers.pem");
    ASSERT_TRUE(store);
    EXPECT_EQ(StoreCertificates(store.get()), PemCertificates(CertFixture("v3-ku-eku.pem")));
}

// A certificate file is read up to a size no real one comes near; one byte more and it is refused
// before anything of it is read.
TEST(StoreLoading, AFileLargerThanAnyCertificateFileIsRefusedUnread)
{
    const testsupport::TempDir dir;
    std::string text = testsupport::ReadText(CertFixture("root.pem"));
    text.resize(crypt32::MaxCertificateFileSize, '\n');
    testsupport::WriteText(dir / "largest.pem", text);
    testsupport::WriteText(dir / "larger.pem", text + "\n");
    EXPECT_EQ(StoreCertificates(OpenFileStore(dir / "largest.pem").get()), PemCertificates(CertFixture("root.pem")));
    SetLastError(0);
    EXPECT_FALSE(OpenFileStore(dir / "larger.pem"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_FILE_ERROR));
}

TEST(StoreLoading, Pkcs7ProviderTakesOnlySignedData)
{
    const auto p7 = testsupport::ReadBytes(CertFixture("three.p7b"));
    const StorePtr store = Pkcs7Store(p7);
    ASSERT_TRUE(store);
    EXPECT_EQ(StoreCertificates(store.get()), PemCertificates(CertFixture("three.pem")));
    // Trailing padding after the message (as in a PE certificate table) is ignored.
    Bytes padded = p7;
    padded.insert(padded.end(), 7, 0);
    EXPECT_EQ(StoreCertificates(Pkcs7Store(padded).get()).size(), 3u);

    EXPECT_FALSE(Pkcs7Store(testsupport::ReadBytes(CertFixture("root.cer"))));
    EXPECT_FALSE(Pkcs7Store(Bytes{0x30, 0x03, 0x02, 0x01, 0x01}));
    EXPECT_FALSE(Pkcs7Store(Bytes(p7.begin(), p7.begin() + p7.size() / 2)));
}

TEST(CertInfo, IsFullyDecoded)
{
    const ContextPtr leaf = LoadCert("v3-ku-eku.pem");
    ASSERT_TRUE(leaf);
    const CERT_INFO* info = leaf->pCertInfo;
    EXPECT_EQ(info->dwVersion, CERT_V3);
    EXPECT_EQ(Hex(info->SerialNumber.pbData, info->SerialNumber.cbData), "0110");
    EXPECT_STREQ(info->SignatureAlgorithm.pszObjId, "1.2.840.113549.1.1.11");
    EXPECT_EQ(Blob(info->SignatureAlgorithm.Parameters), (Bytes{0x05, 0x00}));
    EXPECT_EQ(Ticks(info->NotBefore), TicksOf(2019, 1, 1));
    EXPECT_EQ(Ticks(info->NotAfter), TicksOf(2150, 1, 1)); // GeneralizedTime
    EXPECT_STREQ(info->SubjectPublicKeyInfo.Algorithm.pszObjId, "1.2.840.113549.1.1.1");
    EXPECT_EQ(info->SubjectPublicKeyInfo.PublicKey.cUnusedBits, 0u);
    EXPECT_EQ(info->SubjectPublicKeyInfo.PublicKey.cbData, 270u); // SEQUENCE { 2048-bit n, e }
    EXPECT_EQ(info->IssuerUniqueId.cbData, 0u);

    // Names and key are OpenSSL's bytes exactly.
    const Bytes der(leaf->pbCertEncoded, leaf->pbCertEncoded + leaf->cbCertEncoded);
    const unsigned char* p = der.data();
    X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_TRUE(x);
    unsigned char* name = nullptr;
    int len = i2d_X509_NAME(X509_get_subject_name(x), &name);
    EXPECT_EQ(Blob(info->Subject), Bytes(name, name + len));
    OPENSSL_free(name);
    name = nullptr;
    len = i2d_X509_NAME(X509_get_issuer_name(x), &name);
    EXPECT_EQ(Blob(info->Issuer), Bytes(name, name + len));
    OPENSSL_free(name);
    const ASN1_BIT_STRING* key = X509_get0_pubkey_bitstr(x);
    EXPECT_EQ(Blob({info->SubjectPublicKeyInfo.PublicKey.cbData, info->SubjectPublicKeyInfo.PublicKey.pbData}),
              Bytes(key->data, key->data + key->length));

    // Extensions in certificate order, as OpenSSL lists them.
    ASSERT_EQ(info->cExtension, static_cast<DWORD>(X509_get_ext_count(x)));
    for (DWORD i = 0; i < info->cExtension; ++i) {
        char oid[64];
        OBJ_obj2txt(oid, sizeof oid, X509_EXTENSION_get_object(X509_get_ext(x, static_cast<int>(i))), 1);
        EXPECT_STREQ(info->rgExtension[i].pszObjId, oid);
    }
    const CERT_EXTENSION* keyUsage = FindExtension(info, "2.5.29.15");
    ASSERT_TRUE(keyUsage);
    EXPECT_TRUE(keyUsage->fCritical);
    EXPECT_EQ(Blob(keyUsage->Value), (Bytes{0x03, 0x02, 0x05, 0xA0}));
    const CERT_EXTENSION* eku = FindExtension(info, "2.5.29.37");
    ASSERT_TRUE(eku);
    EXPECT_FALSE(eku->fCritical);
    X509_free(x);
}

TEST(CertInfo, VersionOneHasNoExtensions)
{
    const ContextPtr v1 = LoadCert("v1.pem");
    ASSERT_TRUE(v1);
    EXPECT_EQ(v1->pCertInfo->dwVersion, CERT_V1);
    EXPECT_EQ(v1->pCertInfo->cExtension, 0u);
}

TEST(CertInfo, EcKeyKeepsItsCurveParameter)
{
    const ContextPtr ec = LoadCert("ec-p256.pem");
    ASSERT_TRUE(ec);
    const auto& spki = ec->pCertInfo->SubjectPublicKeyInfo;
    EXPECT_STREQ(spki.Algorithm.pszObjId, "1.2.840.10045.2.1");
    EXPECT_EQ(Blob(spki.Algorithm.Parameters), (Bytes{0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07}));
    EXPECT_EQ(spki.PublicKey.cbData, 65u);
    EXPECT_EQ(spki.PublicKey.pbData[0], 0x04);
}

struct SerialCase {
    const char* Fixture;
    const char* LeastSignificantFirst;
};

class SerialNumbers : public ::testing::TestWithParam<SerialCase> {};

TEST_P(SerialNumbers, AreReversedContentBytes)
{
    const ContextPtr cert = LoadCert(GetParam().Fixture);
    ASSERT_TRUE(cert);
    const auto& serial = cert->pCertInfo->SerialNumber;
    EXPECT_EQ(Hex(serial.pbData, serial.cbData), GetParam().LeastSignificantFirst);
}

INSTANTIATE_TEST_SUITE_P(Cases, SerialNumbers,
                         ::testing::Values(SerialCase{"serial-leading-zero.pem", "a2c300"},
                                           SerialCase{"serial-05.pem", "05"},
                                           SerialCase{"serial-20bytes.pem",
                                                      "131211100f0e0d0c0b0a0908070605040302017f"}));

TEST(Contexts, OutliveTheirClosedStore)
{
    PCCERT_CONTEXT kept = nullptr;
    PCCRL_CONTEXT crl = nullptr;
    {
        StorePtr store = OpenFileStore(CertFixture("three-crl.p7b"));
        ASSERT_TRUE(store);
        PCCERT_CONTEXT first = CertEnumCertificatesInStore(store.get(), nullptr);
        kept = CertDuplicateCertificateContext(first);
        EXPECT_EQ(kept, first);
        CertFreeCertificateContext(first);
        crl = CertEnumCRLsInStore(store.get(), nullptr);
        ASSERT_TRUE(crl);
    }
    // The store is closed; the context and its store handle still work until freed.
    EXPECT_EQ(kept->pCertInfo->dwVersion, CERT_V3);
    EXPECT_EQ(Bytes(kept->pbCertEncoded, kept->pbCertEncoded + kept->cbCertEncoded), PemToDer("v3-ku-eku.pem"));
    EXPECT_EQ(StoreCertificates(kept->hCertStore).size(), 3u);
    EXPECT_GT(crl->cbCrlEncoded, 0u);
    EXPECT_TRUE(CertFreeCRLContext(crl));
    EXPECT_TRUE(CertFreeCertificateContext(kept));
    EXPECT_TRUE(CertFreeCertificateContext(nullptr));
    EXPECT_TRUE(CertCloseStore(nullptr, 0));
}

TEST(Contexts, CloseCheckReportsContextsStillOpen)
{
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
    const Bytes der = PemToDer("root.pem");
    PCCERT_CONTEXT added = nullptr;
    ASSERT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                                 CERT_STORE_ADD_NEW, &added));
    EXPECT_FALSE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
    EXPECT_EQ(GetLastError(), 0x8009200Fu); // CRYPT_E_PENDING_CLOSE
    EXPECT_EQ(added->hCertStore, store);
    CertFreeCertificateContext(added);
}

TEST(CreateContext, TakesExactlyOneDerCertificate)
{
    Bytes der = PemToDer("root.pem");
    const ContextPtr cert(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
    ASSERT_TRUE(cert);
    EXPECT_EQ(Bytes(cert->pbCertEncoded, cert->pbCertEncoded + cert->cbCertEncoded), der);
    EXPECT_NE(cert->hCertStore, nullptr);

    der.push_back(0);
    EXPECT_FALSE(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
    der.resize(der.size() - 10);
    EXPECT_FALSE(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
    const Bytes p7 = testsupport::ReadBytes(CertFixture("three.p7b"));
    EXPECT_FALSE(CertCreateCertificateContext(X509_ASN_ENCODING, p7.data(), static_cast<DWORD>(p7.size())));
}

TEST(Find, LocatesByHashIssuerSerialAndEncoding)
{
    const StorePtr store = OpenFileStore(CertFixture("three.pem"));
    ASSERT_TRUE(store);
    const auto certs = PemCertificates(CertFixture("three.pem"));

    BYTE digest[20];
    DWORD size = sizeof digest;
    ASSERT_TRUE(CryptHashCertificate(0, CALG_SHA1, 0, certs[1].data(), static_cast<DWORD>(certs[1].size()), digest, &size));
    CRYPT_HASH_BLOB hash{20, digest};
    ContextPtr found(CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &hash, nullptr));
    ASSERT_TRUE(found);
    EXPECT_EQ(Bytes(found->pbCertEncoded, found->pbCertEncoded + found->cbCertEncoded), certs[1]);

    // Issuer and serial, with a redundant sign byte on the serial that must not matter.
    CERT_INFO id{};
    id.Issuer = found->pCertInfo->Issuer;
    Bytes serial(found->pCertInfo->SerialNumber.pbData,
                 found->pCertInfo->SerialNumber.pbData + found->pCertInfo->SerialNumber.cbData);
    serial.push_back(0x00);
    id.SerialNumber = {static_cast<DWORD>(serial.size()), serial.data()};
    ContextPtr bySerial(CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_CERT, &id, nullptr));
    ASSERT_TRUE(bySerial);
    EXPECT_EQ(bySerial.get(), found.get());
    EXPECT_TRUE(CertCompareCertificate(X509_ASN_ENCODING, &id, found->pCertInfo));
    id.SerialNumber.cbData = 1;
    EXPECT_FALSE(CertCompareCertificate(X509_ASN_ENCODING, &id, found->pCertInfo));

    const StorePtr other = OpenFileStore(CertFixture("root.cer"));
    PCCERT_CONTEXT root = CertEnumCertificatesInStore(other.get(), nullptr);
    ContextPtr existing(CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, root, nullptr));
    ASSERT_TRUE(existing);
    EXPECT_EQ(Bytes(existing->pbCertEncoded, existing->pbCertEncoded + existing->cbCertEncoded), certs[2]);
    CertFreeCertificateContext(root);

    // Searching on from the last match finds nothing more and says so.
    SetLastError(0);
    EXPECT_FALSE(CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &hash, found.release()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
}

TEST(AddToStore, FollowsTheDisposition)
{
    const StorePtr store = MemoryStore();
    ASSERT_TRUE(store);
    EXPECT_TRUE(StoreCertificates(store.get()).empty());
    const Bytes root = PemToDer("root.pem");
    const Bytes leaf = PemToDer("v3-ku-eku.pem");
    const auto add = [&](const Bytes& der, DWORD disposition, PCCERT_CONTEXT* out = nullptr) {
        return CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(),
                                                static_cast<DWORD>(der.size()), disposition, out);
    };
    PCCERT_CONTEXT first = nullptr;
    ASSERT_TRUE(add(root, CERT_STORE_ADD_NEW, &first));
    ASSERT_TRUE(add(leaf, CERT_STORE_ADD_NEW));
    EXPECT_FALSE(add(root, CERT_STORE_ADD_NEW));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_EXISTS));

    CRYPT_DATA_BLOB name{4, const_cast<BYTE*>(reinterpret_cast<const BYTE*>(u"ab"))};
    ASSERT_TRUE(CertSetCertificateContextProperty(first, CERT_FRIENDLY_NAME_PROP_ID, 0, &name));
    PCCERT_CONTEXT existing = nullptr;
    ASSERT_TRUE(add(root, CERT_STORE_ADD_USE_EXISTING, &existing));
    EXPECT_EQ(existing, first);
    CertFreeCertificateContext(existing);

    // Replacing keeps the place in the store's order; the old context stays readable.
    PCCERT_CONTEXT replaced = nullptr;
    ASSERT_TRUE(add(root, CERT_STORE_ADD_REPLACE_EXISTING, &replaced));
    EXPECT_NE(replaced, first);
    EXPECT_EQ(StoreCertificates(store.get()), (std::vector<Bytes>{root, leaf}));
    DWORD size = 0;
    EXPECT_FALSE(CertGetCertificateContextProperty(replaced, CERT_FRIENDLY_NAME_PROP_ID, nullptr, &size));
    EXPECT_EQ(first->cbCertEncoded, root.size());
    CertFreeCertificateContext(first);
    CertFreeCertificateContext(replaced);

    ASSERT_TRUE(add(root, CERT_STORE_ADD_ALWAYS));
    EXPECT_EQ(StoreCertificates(store.get()), (std::vector<Bytes>{root, leaf, root}));

    // A context from another store is copied in.
    const ContextPtr ec = LoadCert("ec-p256.pem");
    PCCERT_CONTEXT copy = nullptr;
    ASSERT_TRUE(CertAddCertificateContextToStore(store.get(), ec.get(), CERT_STORE_ADD_NEW, &copy));
    EXPECT_EQ(copy->hCertStore, store.get());
    EXPECT_NE(copy, ec.get());
    CertFreeCertificateContext(copy);
    EXPECT_EQ(StoreCertificates(store.get()).size(), 4u);
}

TEST(AddToStore, ManyCertificatesEnumerateInOrder)
{
    const StorePtr store = MemoryStore();
    const Bytes root = PemToDer("root.pem");
    const Bytes leaf = PemToDer("v3-ku-eku.pem");
    const ContextPtr rootContext = LoadCert("root.pem");
    const ContextPtr leafContext = LoadCert("v3-ku-eku.pem");
    constexpr int Count = 15000;
    for (int i = 0; i < Count; ++i)
        ASSERT_TRUE(CertAddCertificateContextToStore(store.get(), i % 2 == 0 ? rootContext.get() : leafContext.get(),
                                                     CERT_STORE_ADD_ALWAYS, nullptr));
    int seen = 0;
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store.get(), nullptr); c;
         c = CertEnumCertificatesInStore(store.get(), c)) {
        ASSERT_EQ(c->cbCertEncoded, (seen % 2 == 0 ? root : leaf).size()) << seen;
        ++seen;
    }
    EXPECT_EQ(seen, Count);
}

TEST(Properties, FollowTheSizeConvention)
{
    const ContextPtr cert = LoadCert("root.pem");
    DWORD size = 0;
    ASSERT_TRUE(CertGetCertificateContextProperty(cert.get(), CERT_SHA1_HASH_PROP_ID, nullptr, &size));
    EXPECT_EQ(size, 20u);
    BYTE small[10];
    size = sizeof small;
    EXPECT_FALSE(CertGetCertificateContextProperty(cert.get(), CERT_SHA1_HASH_PROP_ID, small, &size));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(size, 20u);

    EXPECT_FALSE(CertGetCertificateContextProperty(cert.get(), CERT_FRIENDLY_NAME_PROP_ID, nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    EXPECT_FALSE(CertGetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));

    const Bytes usage = {0x30, 0x0A, 0x06, 0x08, 0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x03};
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(usage.size()), const_cast<BYTE*>(usage.data())};
    ASSERT_TRUE(CertSetCertificateContextProperty(cert.get(), CERT_ENHKEY_USAGE_PROP_ID, 0, &blob));
    Bytes back(64);
    size = static_cast<DWORD>(back.size());
    ASSERT_TRUE(CertGetCertificateContextProperty(cert.get(), CERT_ENHKEY_USAGE_PROP_ID, back.data(), &size));
    back.resize(size);
    EXPECT_EQ(back, usage);
    ASSERT_TRUE(CertSetCertificateContextProperty(cert.get(), CERT_ENHKEY_USAGE_PROP_ID, 0, nullptr));
    EXPECT_FALSE(CertGetCertificateContextProperty(cert.get(), CERT_ENHKEY_USAGE_PROP_ID, nullptr, &size));
}

TEST(SaveStore, RoundTripKeepsOrderAndCrls)
{
    // An order DER sorting of a SET would change: leaf, root, intermediate.
    const StorePtr store = MemoryStore();
    const auto three = PemCertificates(CertFixture("three.pem"));
    const std::vector<Bytes> order = {three[0], three[2], three[1]};
    for (const Bytes& der : order)
        ASSERT_TRUE(CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(),
                                                     static_cast<DWORD>(der.size()), CERT_STORE_ADD_ALWAYS, nullptr));

    CRYPT_DATA_BLOB blob{0, nullptr};
    ASSERT_TRUE(CertSaveStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, CERT_STORE_SAVE_AS_PKCS7,
                              CERT_STORE_SAVE_TO_MEMORY, &blob, 0));
    const DWORD needed = blob.cbData;
    Bytes saved(needed - 1);
    blob = {static_cast<DWORD>(saved.size()), saved.data()};
    EXPECT_FALSE(CertSaveStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, CERT_STORE_SAVE_AS_PKCS7,
                               CERT_STORE_SAVE_TO_MEMORY, &blob, 0));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(blob.cbData, needed);
    saved.resize(needed);
    blob = {needed, saved.data()};
    ASSERT_TRUE(CertSaveStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, CERT_STORE_SAVE_AS_PKCS7,
                              CERT_STORE_SAVE_TO_MEMORY, &blob, 0));
    EXPECT_EQ(StoreCertificates(Pkcs7Store(saved).get()), order);

    // OpenSSL reads a SignedData without signers over id-data without content.
    const unsigned char* p = saved.data();
    PKCS7* message = d2i_PKCS7(nullptr, &p, static_cast<long>(saved.size()));
    ASSERT_TRUE(message);
    EXPECT_TRUE(PKCS7_type_is_signed(message));
    EXPECT_EQ(ASN1_INTEGER_get(message->d.sign->version), 1);
    EXPECT_EQ(sk_X509_ALGOR_num(message->d.sign->md_algs), 0);
    EXPECT_EQ(sk_PKCS7_SIGNER_INFO_num(message->d.sign->signer_info), 0);
    EXPECT_EQ(OBJ_obj2nid(message->d.sign->contents->type), NID_pkcs7_data);
    EXPECT_EQ(message->d.sign->contents->d.data, nullptr);
    PKCS7_free(message);
}

TEST(SaveStore, FileRoundTripKeepsCrls)
{
    const StorePtr store = OpenFileStore(CertFixture("three-crl.p7b"));
    const testsupport::TempDir dir;
    const std::u16string path = U16((dir / "saved.p7b").string());
    testsupport::WriteText(dir / "saved.p7b", "old contents to be replaced");
    ASSERT_TRUE(CertSaveStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, CERT_STORE_SAVE_AS_PKCS7,
                              CERT_STORE_SAVE_TO_FILENAME_W, const_cast<char16_t*>(path.c_str()), 0));
    const StorePtr reopened = OpenFileStore(dir / "saved.p7b");
    ASSERT_TRUE(reopened);
    EXPECT_EQ(StoreCertificates(reopened.get()), PemCertificates(CertFixture("three.pem")));
    EXPECT_EQ(StoreCrls(reopened.get()), (std::vector<Bytes>{CrlDer("root.crl")}));
}

// Every certificate the system ships loads, and agrees with OpenSSL on serial, thumbprint and dates.
TEST(CrossCheck, SystemCertificatesAgreeWithOpenSsl)
{
    const std::filesystem::path root = "/usr/share/ca-certificates";
    ASSERT_TRUE(std::filesystem::exists(root)) << "the ca-certificates package provides the peer's data";
    int checked = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.path().extension() != ".crt")
            continue;
        const auto expected = PemCertificates(entry.path());
        const StorePtr store = OpenFileStore(entry.path());
        ASSERT_TRUE(store) << entry.path();
        const ContextPtr cert(CertEnumCertificatesInStore(store.get(), nullptr));
        ASSERT_TRUE(cert);
        const Bytes der(cert->pbCertEncoded, cert->pbCertEncoded + cert->cbCertEncoded);
        ASSERT_EQ(der, expected.front()) << entry.path();

        const unsigned char* p = der.data();
        X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
        ASSERT_TRUE(x);
        const ASN1_INTEGER* serial = X509_get0_serialNumber(x);
        Bytes serialBytes(serial->data, serial->data + serial->length);
        if (!serialBytes.empty() && (serialBytes[0] & 0x80) != 0)
            serialBytes.insert(serialBytes.begin(), 0x00);
        const auto& ours = cert->pCertInfo->SerialNumber;
        EXPECT_EQ(Bytes(ours.pbData, ours.pbData + ours.cbData), Bytes(serialBytes.rbegin(), serialBytes.rend()))
            << entry.path();

        BYTE sha1[20];
        DWORD size = sizeof sha1;
        ASSERT_TRUE(CertGetCertificateContextProperty(cert.get(), CERT_SHA1_HASH_PROP_ID, sha1, &size));
        EXPECT_EQ(Hex(sha1, size), Sha1Hex(der)) << entry.path();

        for (const auto& [time, ours_] : {std::pair{X509_get0_notBefore(x), cert->pCertInfo->NotBefore},
                                          std::pair{X509_get0_notAfter(x), cert->pCertInfo->NotAfter}}) {
            struct tm t {};
            ASSERT_TRUE(ASN1_TIME_to_tm(time, &t));
            EXPECT_EQ(Ticks(ours_), TicksOf(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec))
                << entry.path();
        }
        X509_free(x);
        ++checked;
    }
    EXPECT_GT(checked, 0);
}
