// The details list of the certificate dialog: every field and extension decoded into the texts the
// dialog shows, and certificates with hostile contents shown without harm.
#include "platform/cryptui/CertificateInfo.h"

#include "platform/cryptui/Text.h"
#include "tests/platform/cryptui/CryptUITestSupport.h"
#include "tests/support/TestSupport.h"

#include <openssl/ec.h>
#include <openssl/pem.h>

#include <gtest/gtest.h>

#include <string>

using namespace cryptui;
using namespace cryptuitest;

namespace {

std::vector<uint8_t> PemToDer(const std::filesystem::path& path)
{
    const std::string pem = testsupport::ReadText(path);
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509Ptr certificate(PEM_read_bio_X509(bio, nullptr, nullptr, nullptr));
    BIO_free(bio);
    return certificate ? DerOf(certificate.get()) : std::vector<uint8_t>();
}

const Field* Find(const CertificateInfo& info, const QString& name)
{
    for (const Field& field : info.Details())
        if (field.Name == name)
            return &field;
    return nullptr;
}

QString KeyIdHex(const ASN1_OCTET_STRING* id)
{
    return id ? Hex({ASN1_STRING_get0_data(id), static_cast<size_t>(ASN1_STRING_length(id))}, false) : QString();
}

struct ExtensionCase {
    const char* Name;
    bool Critical;
    const char* Detail; // "%SKI%" and "%AKI%" stand for the key identifiers
};

const ExtensionCase EveryExtension[] = {
    {"Basic Constraints", true, "Subject Type=End Entity\nPath Length Constraint=None"},
    {"Key Usage", true, "Digital Signature, Non-Repudiation (c0)"},
    {"Enhanced Key Usage", false,
     "Code Signing (1.3.6.1.5.5.7.3.3)\nSecure Email (1.3.6.1.5.5.7.3.4)\n1.3.6.1.4.1.55555.1"},
    {"Subject Alternative Name", false,
     "DNS Name=everything.tessera.test\nRFC822 Name=everything@tessera.test\nIP Address=192.0.2.7\n"
     "IP Address=2001:db8:0:0:0:0:0:1\nURL=https://www.tessera.test/\nDirectory Address:\n"
     "     CN = Directory Name\n     O = Tessera Directory\nOther Name:\n     Principal Name=upn@tessera.test"},
    {"Subject Key Identifier", false, "%SKI%"},
    {"Authority Key Identifier", false,
     "KeyID=%AKI%\nCertificate Issuer:\n     Directory Address:\n          CN = Tessera Test Root CA\n"
     "          O = Tessera Test\n          C = DE\nCertificate SerialNumber=1000"},
    {"Certificate Policies", false,
     "[1]Certificate Policy:\n     Policy Identifier=1.3.6.1.4.1.55555.3.1\n     [1,1]Policy Qualifier Info:\n"
     "          Policy Qualifier Id=CPS\n          Qualifier:\n               https://www.tessera.test/cps\n"
     "     [1,2]Policy Qualifier Info:\n          Policy Qualifier Id=User Notice\n          Qualifier:\n"
     "               Notice Reference:\n                    Organization=Tessera Test\n"
     "                    Notice Number=1, 2\n               Notice Text=Tessera test policy\n"
     "[2]Certificate Policy:\n     Policy Identifier=All issuance policies"},
    {"Authority Information Access", false,
     "[1]Authority Info Access\n     Access Method=On-line Certificate Status Protocol (1.3.6.1.5.5.7.48.1)\n"
     "     Alternative Name:\n          URL=http://ocsp.tessera.test/\n[2]Authority Info Access\n"
     "     Access Method=Certification Authority Issuer (1.3.6.1.5.5.7.48.2)\n     Alternative Name:\n"
     "          URL=http://pki.tessera.test/intermediate.cer"},
    {"CRL Distribution Points", false,
     "[1]CRL Distribution Point\n     Distribution Point Name:\n          Full Name:\n"
     "               URL=http://pki.tessera.test/intermediate.crl"},
};

TEST(CertificateInfo, DecodesEveryKnownExtension)
{
    const auto der = PemToDer(DialogFixture("extensions.pem"));
    const auto info = CertificateInfo::Read(der);
    ASSERT_TRUE(info);
    const QString ski = KeyIdHex(X509_get0_subject_key_id(info->Certificate()));
    const QString aki = KeyIdHex(X509_get0_authority_key_id(info->Certificate()));
    ASSERT_EQ(ski.size(), 40);
    for (const ExtensionCase& c : EveryExtension) {
        SCOPED_TRACE(c.Name);
        const Field* field = Find(*info, QString::fromLatin1(c.Name));
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->Kind, FieldKind::Extension);
        EXPECT_EQ(field->Critical, c.Critical);
        QString expected = QString::fromLatin1(c.Detail);
        expected.replace(QLatin1String("%SKI%"), ski).replace(QLatin1String("%AKI%"), aki);
        EXPECT_EQ(field->Detail.toStdString(), expected.toStdString());
        // The list shows the same in one line.
        EXPECT_FALSE(field->Value.contains(QLatin1Char('\n')));
        EXPECT_TRUE(field->Value.startsWith(expected.section(QLatin1Char('\n'), 0, 0).trimmed().left(20)))
            << field->Value.toStdString();
    }
}

TEST(CertificateInfo, ShowsUnknownExtensionsAsOidAndHex)
{
    const auto info = CertificateInfo::Read(PemToDer(DialogFixture("extensions.pem")));
    ASSERT_TRUE(info);
    const Field* unknown = Find(*info, QStringLiteral("1.3.6.1.4.1.55555.2"));
    ASSERT_NE(unknown, nullptr);
    EXPECT_EQ(unknown->Kind, FieldKind::Extension);
    EXPECT_EQ(unknown->Value, QStringLiteral("04 03 01 02 03"));
    EXPECT_TRUE(unknown->Detail.startsWith(QStringLiteral("0000  04 03 01 02 03"))) << unknown->Detail.toStdString();
}

TEST(CertificateInfo, DescribesTheFieldsOfTheCertificate)
{
    const auto der = PemToDer(SharedFixture("certs/v3-ku-eku.pem"));
    const auto info = CertificateInfo::Read(der);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->IssuedTo(), QStringLiteral("leaf.tessera.test"));
    EXPECT_EQ(info->IssuedBy(), QStringLiteral("Tessera Test Intermediate CA"));
    EXPECT_EQ(info->ValidFrom(), QDateTime(QDate(2019, 1, 1), QTime(0, 0), Qt::UTC));
    EXPECT_EQ(info->ValidTo(), QDateTime(QDate(2150, 1, 1), QTime(0, 0), Qt::UTC));
    EXPECT_EQ(info->Purposes(), QStringList({QStringLiteral("Server Authentication"), QStringLiteral("Client Authentication")}));

    const std::pair<const char*, const char*> fields[] = {
        {"Version", "V3"},
        {"Serial number", "1001"},
        {"Signature algorithm", "sha256RSA"},
        {"Signature hash algorithm", "sha256"},
        {"Issuer", "Tessera Test Intermediate CA, Tessera Test, DE"},
        {"Subject", "leaf.tessera.test, Tessera Test, DE"},
        {"Public key", "RSA (2048 Bits)"},
        {"Public key parameters", "05 00"},
    };
    for (const auto& [name, value] : fields) {
        const Field* field = Find(*info, QString::fromLatin1(name));
        ASSERT_NE(field, nullptr) << name;
        EXPECT_EQ(field->Value.toStdString(), value) << name;
        EXPECT_EQ(field->Kind, FieldKind::Field) << name;
    }
    EXPECT_EQ(Find(*info, QStringLiteral("Subject"))->Detail,
              QStringLiteral("CN = leaf.tessera.test\nO = Tessera Test\nC = DE"));

    // The thumbprint is the SHA-1 of exactly the certificate's bytes.
    unsigned char sha1[20];
    unsigned int length = 0;
    ASSERT_EQ(EVP_Digest(der.data(), der.size(), sha1, &length, EVP_sha1(), nullptr), 1);
    const Field* thumbprint = Find(*info, QStringLiteral("Thumbprint"));
    ASSERT_NE(thumbprint, nullptr);
    EXPECT_EQ(thumbprint->Kind, FieldKind::Property);
    EXPECT_EQ(thumbprint->Value, Hex({sha1, length}, false));
}

TEST(CertificateInfo, ListsAllApplicationPoliciesWithoutEnhancedKeyUsage)
{
    const auto info = CertificateInfo::Read(PemToDer(SharedFixture("certs/root.pem")));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->Purposes(), QStringList{QStringLiteral("All application policies")});
    EXPECT_EQ(Find(*info, QStringLiteral("Basic Constraints"))->Detail,
              QStringLiteral("Subject Type=CA\nPath Length Constraint=None"));
    EXPECT_EQ(Find(*info, QStringLiteral("Key Usage"))->Detail,
              QStringLiteral("Certificate Signing, Off-line CRL Signing, CRL Signing (06)"));
}

TEST(CertificateInfo, ShowsTheFriendlyNameAmongTheProperties)
{
    const auto info = CertificateInfo::Read(PemToDer(SharedFixture("certs/v1.pem")), QStringLiteral("My Friend"));
    ASSERT_TRUE(info);
    const Field* friendly = Find(*info, QStringLiteral("Friendly name"));
    ASSERT_NE(friendly, nullptr);
    EXPECT_EQ(friendly->Value, QStringLiteral("My Friend"));
    EXPECT_EQ(friendly->Kind, FieldKind::Property);
    EXPECT_EQ(Find(*info, QStringLiteral("Version"))->Value, QStringLiteral("V1"));
    EXPECT_EQ(Find(*info, QStringLiteral("Public key"))->Value, QStringLiteral("ECC (256 Bits)"));
}

TEST(CertificateInfo, RefusesBytesThatAreNotOneCertificate)
{
    const auto der = PemToDer(SharedFixture("certs/v3-ku-eku.pem"));
    ASSERT_FALSE(der.empty());
    std::vector<uint8_t> trailing = der;
    trailing.push_back(0);
    const std::vector<uint8_t> cut(der.begin(), der.end() - 1);
    const std::vector<uint8_t> noise(der.size(), 0x30);
    for (const std::vector<uint8_t>* bytes : std::initializer_list<const std::vector<uint8_t>*>{&trailing, &cut, &noise})
        EXPECT_FALSE(CertificateInfo::Read(*bytes));
    EXPECT_FALSE(CertificateInfo::Read({}));
}

// A certificate whose extensions hold what their OIDs do not promise, signed so that OpenSSL reads it.
std::vector<uint8_t> HostileCertificate(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& extensions)
{
    using KeyPtr = std::unique_ptr<EVP_PKEY, OsslFree<EVP_PKEY_free>>;
    const KeyPtr key(EVP_EC_gen("P-256"));
    X509Ptr certificate(X509_new());
    if (!key || !certificate)
        return {};
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 7);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Hostile"), -1, -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 3600);
    X509_set_pubkey(certificate.get(), key.get());
    for (const auto& [oid, value] : extensions) {
        const Asn1ObjectPtr object(OBJ_txt2obj(oid.c_str(), 1));
        const Asn1OctetStringPtr octets(ASN1_OCTET_STRING_new());
        ASN1_OCTET_STRING_set(octets.get(), value.data(), static_cast<int>(value.size()));
        X509_EXTENSION* extension = X509_EXTENSION_create_by_OBJ(nullptr, object.get(), 1, octets.get());
        X509_add_ext(certificate.get(), extension, -1);
        X509_EXTENSION_free(extension);
    }
    if (X509_sign(certificate.get(), key.get(), EVP_sha256()) <= 0)
        return {};
    return DerOf(certificate.get());
}

TEST(CertificateInfo, ShowsUndecodableExtensionsAsHexWithoutHarm)
{
    // One OID long enough to be cut for the list, one longer than OpenSSL spells out at all.
    std::string longOid = "1.2";
    for (int i = 0; i < 150; ++i)
        longOid += "." + std::to_string(100000 + i);
    std::string absurdOid = longOid;
    for (int i = 150; i < 400; ++i)
        absurdOid += "." + std::to_string(100000 + i);
    const std::vector<uint8_t> huge(300 * 1024, 0x41);
    const auto der = HostileCertificate({
        {"2.5.29.15", {0x30, 0x00}},                     // key usage: a SEQUENCE, not a BIT STRING
        {"2.5.29.19", {0x30, 0x00, 0x00}},               // basic constraints with a byte too many
        {"2.5.29.17", {0x30, 0x05, 0x82, 0x10, 0x61}},   // a name that claims more than it has
        {"2.5.29.32", {0x30, 0x03, 0x30, 0x01, 0x06}},   // a policy cut in its OID
        {"1.3.6.1.5.5.7.1.1", {0x05, 0x00}},             // information access as NULL
        {"2.5.29.31", {0x30, 0x02, 0x30, 0x80}},         // indefinite length that never ends
        {longOid, {0x05, 0x00}},
        {absurdOid, {0x05, 0x00}},
        {"1.2.3.4", huge},
    });
    ASSERT_FALSE(der.empty());
    const auto info = CertificateInfo::Read(der);
    ASSERT_TRUE(info);
    const char* undecodable[] = {"Key Usage", "Basic Constraints", "Subject Alternative Name", "Certificate Policies",
                                 "Authority Information Access", "CRL Distribution Points"};
    for (const char* name : undecodable) {
        const Field* field = Find(*info, QString::fromLatin1(name));
        ASSERT_NE(field, nullptr) << name;
        EXPECT_TRUE(field->Detail.startsWith(QStringLiteral("0000  "))) << name << ": " << field->Detail.toStdString();
        EXPECT_TRUE(field->Critical) << name;
    }
    // Whatever the certificate holds, the texts stay of a size a dialog can show.
    for (const Field& field : info->Details()) {
        EXPECT_LE(field.Value.size(), MaxListValueLength) << field.Name.toStdString();
        EXPECT_LE(field.Detail.size(), MaxTextLength + 16) << field.Name.toStdString();
    }
    bool sawLongOid = false;
    for (const Field& field : info->Details())
        sawLongOid = sawLongOid || (field.Name.startsWith(QStringLiteral("1.2.100000.100001.")) && field.Name.size() <= 1024);
    EXPECT_TRUE(sawLongOid);
    bool sawAbsurdOid = false;
    for (const Field& field : info->Details())
        sawAbsurdOid = sawAbsurdOid || field.Name.startsWith(QStringLiteral("(OID 2a"));
    EXPECT_TRUE(sawAbsurdOid);
}

} // namespace
