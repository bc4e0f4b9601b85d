// The certification path: which certificates OpenSSL finds and what each one's status says, with
// and without the test root in the trust store.
#include "platform/cryptui/CertificateChain.h"

#include "tests/platform/cryptui/CryptUITestSupport.h"
#include "tests/support/TestSupport.h"

#include <openssl/pem.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace cryptui;
using namespace cryptuitest;

namespace {

X509Ptr LoadPem(const std::filesystem::path& path)
{
    const std::string pem = testsupport::ReadText(path);
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509Ptr certificate(PEM_read_bio_X509(bio, nullptr, nullptr, nullptr));
    BIO_free(bio);
    return certificate;
}

struct ChainCase {
    const char* Name;
    const char* Certificate;
    std::vector<const char*> Others;
    bool TrustRoot;
    std::vector<const char*> Names;       // certificate first
    std::vector<CertStatus> Statuses;     // certificate first
    CertStatus Overall;
    const char* OverallWords;             // a part of the chain's status text
};

const ChainCase Cases[] = {
    {"trusted", "certs/v3-ku-eku.pem", {"certs/intermediate.pem", "certs/root.pem"}, true,
     {"leaf.tessera.test", "Tessera Test Intermediate CA", "Tessera Test Root CA"},
     {CertStatus::Ok, CertStatus::Ok, CertStatus::Ok}, CertStatus::Ok, "This certificate is OK."},
    {"root from the trust store", "certs/v3-ku-eku.pem", {"certs/intermediate.pem"}, true,
     {"leaf.tessera.test", "Tessera Test Intermediate CA", "Tessera Test Root CA"},
     {CertStatus::Ok, CertStatus::Ok, CertStatus::Ok}, CertStatus::Ok, "OK"},
    {"untrusted root", "certs/v3-ku-eku.pem", {"certs/root.pem", "certs/intermediate.pem"}, false,
     {"leaf.tessera.test", "Tessera Test Intermediate CA", "Tessera Test Root CA"},
     {CertStatus::Ok, CertStatus::Ok, CertStatus::UntrustedRoot}, CertStatus::UntrustedRoot, "not trusted"},
    {"issuer not found", "certs/v3-ku-eku.pem", {}, true, {"leaf.tessera.test"}, {CertStatus::IssuerNotFound},
     CertStatus::IssuerNotFound, "could not be found"},
    {"intermediate missing", "certs/v3-ku-eku.pem", {"certs/root.pem"}, true, {"leaf.tessera.test"},
     {CertStatus::IssuerNotFound}, CertStatus::IssuerNotFound, "could not be found"},
    {"expired", "expired.pem", {"certs/intermediate.pem"}, true,
     {"Tessera Test Expired", "Tessera Test Intermediate CA", "Tessera Test Root CA"},
     {CertStatus::Expired, CertStatus::Ok, CertStatus::Ok}, CertStatus::Expired, "expired"},
    {"self-signed, untrusted", "certs/root.pem", {}, false, {"Tessera Test Root CA"}, {CertStatus::UntrustedRoot},
     CertStatus::UntrustedRoot, "not trusted"},
    {"self-signed, trusted", "certs/root.pem", {}, true, {"Tessera Test Root CA"}, {CertStatus::Ok}, CertStatus::Ok, "OK"},
};

// The certificates a signed executable's signature carries, its signer's (the end certificate,
// the one no other names as issuer) first.
std::vector<X509Ptr> SignatureCertificates(const std::filesystem::path& path)
{
    const std::vector<uint8_t> der = ExecutableSignature(path);
    const unsigned char* p = der.data();
    std::unique_ptr<PKCS7, ossl::OsslFree<PKCS7_free>> message(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
    std::vector<X509Ptr> certificates;
    if (!message || !PKCS7_type_is_signed(message.get()))
        return certificates;
    STACK_OF(X509)* certs = message->d.sign->cert;
    for (int i = 0; i < sk_X509_num(certs); ++i) {
        X509* cert = sk_X509_value(certs, i);
        X509_up_ref(cert);
        if (X509_check_ca(cert) == 0)
            certificates.insert(certificates.begin(), X509Ptr(cert));
        else
            certificates.emplace_back(cert);
    }
    return certificates;
}

std::filesystem::path FixturePath(const std::string& name)
{
    return name.rfind("certs/", 0) == 0 ? SharedFixture(name) : DialogFixture(name);
}

TEST(CertificateChain, BuildsThePathAndGivesEachCertificateItsStatus)
{
    for (const ChainCase& c : Cases) {
        SCOPED_TRACE(c.Name);
        const TrustStore trust(c.TrustRoot ? TestRoot() : NoTrust());
        const X509Ptr certificate = LoadPem(FixturePath(c.Certificate));
        ASSERT_TRUE(certificate);
        std::vector<X509Ptr> others;
        for (const char* other : c.Others)
            others.push_back(LoadPem(FixturePath(other)));

        const CertificateChain chain = BuildChain(certificate.get(), others);
        ASSERT_EQ(chain.Elements.size(), c.Names.size());
        for (size_t i = 0; i < chain.Elements.size(); ++i) {
            EXPECT_EQ(chain.Elements[i].Name.toStdString(), c.Names[i]) << i;
            EXPECT_EQ(chain.Elements[i].Status, c.Statuses[i]) << i << ": " << chain.Elements[i].StatusText.toStdString();
            EXPECT_EQ(chain.Elements[i].StatusText, StatusText(c.Statuses[i])) << i;
        }
        EXPECT_EQ(chain.Status, c.Overall);
        EXPECT_TRUE(chain.StatusText.contains(QString::fromLatin1(c.OverallWords))) << chain.StatusText.toStdString();
    }
}

TEST(CertificateChain, SaysWhatEachStatusMeans)
{
    EXPECT_TRUE(StatusText(CertStatus::Ok).contains(QStringLiteral("OK")));
    EXPECT_TRUE(StatusText(CertStatus::Expired).contains(QStringLiteral("expired")));
    EXPECT_TRUE(StatusText(CertStatus::UntrustedRoot).contains(QStringLiteral("root certificate is not trusted")));
    EXPECT_TRUE(StatusText(CertStatus::IssuerNotFound).contains(QStringLiteral("issuer")));
    EXPECT_TRUE(StatusText(CertStatus::Invalid, QStringLiteral("path length constraint exceeded"))
                    .contains(QStringLiteral("path length constraint exceeded")));
}

// A certificate that issued itself under two names (A issues B, B issues A) must not send the
// builder round in circles.
TEST(CertificateChain, StopsAtCrossSignedLoops)
{
    using KeyPtr = std::unique_ptr<EVP_PKEY, OsslFree<EVP_PKEY_free>>;
    const KeyPtr keyA(EVP_EC_gen("P-256"));
    const KeyPtr keyB(EVP_EC_gen("P-256"));
    const auto make = [](const char* subject, const char* issuer, EVP_PKEY* key, EVP_PKEY* signer) {
        X509Ptr certificate(X509_new());
        X509_set_version(certificate.get(), 2);
        ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
        X509_NAME_add_entry_by_txt(X509_get_subject_name(certificate.get()), "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(subject), -1, -1, 0);
        X509_NAME_add_entry_by_txt(X509_get_issuer_name(certificate.get()), "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(issuer), -1, -1, 0);
        X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -60);
        X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 3600);
        X509_set_pubkey(certificate.get(), key);
        X509V3_CTX context;
        X509V3_set_ctx_nodb(&context);
        X509V3_set_ctx(&context, nullptr, certificate.get(), nullptr, nullptr, 0);
        X509_EXTENSION* ca = X509V3_EXT_conf_nid(nullptr, &context, NID_basic_constraints, "critical,CA:TRUE");
        X509_add_ext(certificate.get(), ca, -1);
        X509_EXTENSION_free(ca);
        X509_sign(certificate.get(), signer, EVP_sha256());
        return certificate;
    };
    const X509Ptr leaf = make("Leaf", "A", keyB.get(), keyA.get());
    std::vector<X509Ptr> others;
    others.push_back(make("A", "B", keyA.get(), keyB.get()));
    others.push_back(make("B", "A", keyB.get(), keyA.get()));
    const TrustStore trust(NoTrust());
    const CertificateChain chain = BuildChain(leaf.get(), others);
    ASSERT_FALSE(chain.Elements.empty());
    EXPECT_LE(chain.Elements.size(), static_cast<size_t>(MaxChainDepth) + 2);
    EXPECT_NE(chain.Status, CertStatus::Ok);
}

} // namespace

TEST(CertificateChain, ARootOfWindowsRootProgramIsHeldToItsRules)
{
    // The test list (tests/fixtures/authroot) restricts its roots; the roots and the signers'
    // certificates come from the signed fixtures beside it.
    const testsupport::ScopedVariable signingRoot("TESSERA_AUTHROOT_SIGNING_ROOT",
                                                  testsupport::Fixture("authroot/list-root.pem").string());
    const testsupport::ScopedVariable list("TESSERA_AUTHROOT", testsupport::Fixture("authroot/authroot.stl").string());
    const TrustStore trust(NoTrust());
    struct Case {
        const char* Signed;
        std::optional<time_t> At;
        const char* Purpose;
        CertStatus Root;
    };
    const char* codeSigning = "1.3.6.1.5.5.7.3.3";
    const time_t beforeCutoff = 1685620800; // 2023-06-01 12:00:00 UTC
    const Case cases[] = {
        {"restricted.exe", std::nullopt, codeSigning, CertStatus::WrongUsage},
        {"restricted.exe", std::nullopt, "", CertStatus::Ok},
        {"disallowed.exe", std::nullopt, codeSigning, CertStatus::Distrusted},
        {"disallowed.exe", beforeCutoff, codeSigning, CertStatus::Ok},
        {"notbefore-early.exe", std::nullopt, codeSigning, CertStatus::Ok},
        {"notbefore-late.exe", std::nullopt, codeSigning, CertStatus::Distrusted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Signed) + " for '" + c.Purpose + "'");
        std::vector<X509Ptr> certificates = SignatureCertificates(testsupport::Fixture(std::string("authroot/") + c.Signed));
        ASSERT_EQ(certificates.size(), 2u);
        X509* signer = certificates[0].get();
        const CertificateChain chain = BuildChain(signer, certificates, c.At, c.Purpose);
        ASSERT_EQ(chain.Elements.size(), 2u);
        EXPECT_EQ(chain.Elements[0].Status, CertStatus::Ok);
        EXPECT_EQ(chain.Elements[1].Status, c.Root) << chain.Elements[1].StatusText.toStdString();
        EXPECT_EQ(chain.Status, c.Root) << chain.StatusText.toStdString();
    }
}
