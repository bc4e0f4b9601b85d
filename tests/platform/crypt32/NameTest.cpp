// Names as text (both styles, quoting, flags), the display-name rule and the OID table.
#include "tests/platform/crypt32/Crypt32TestSupport.h"

#include <gtest/gtest.h>

using namespace crypt32test;

namespace {

std::string NameToStr(CERT_NAME_BLOB* name, DWORD type)
{
    const DWORD length = CertNameToStrW(X509_ASN_ENCODING, name, type, nullptr, 0);
    std::u16string text(length, u'\0');
    EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING, name, type, text.data(), length), length);
    EXPECT_EQ(text.back(), u'\0');
    text.pop_back();
    return Narrow(text);
}

std::string SubjectText(const std::string& fixture, DWORD type)
{
    const ContextPtr cert = LoadCert(fixture);
    EXPECT_TRUE(cert) << fixture;
    return cert ? NameToStr(&cert->pCertInfo->Subject, type) : std::string();
}

std::string NameString(PCCERT_CONTEXT cert, DWORD type, DWORD flags = 0, void* para = nullptr)
{
    const DWORD length = CertGetNameStringW(cert, type, flags, para, nullptr, 0);
    std::u16string text(length, u'\0');
    EXPECT_EQ(CertGetNameStringW(cert, type, flags, para, text.data(), length), length);
    text.pop_back();
    return Narrow(text);
}

std::string NameOfDer(const Bytes& der, DWORD type)
{
    CERT_NAME_BLOB blob{static_cast<DWORD>(der.size()), const_cast<BYTE*>(der.data())};
    return NameToStr(&blob, type);
}

Bytes Attribute(const Bytes& oid, const Bytes& value) { return Der(0x31, Der(0x30, Cat({oid, value}))); }

const Bytes OidCn = {0x06, 0x03, 0x55, 0x04, 0x03};

} // namespace

struct NameCase {
    const char* Fixture;
    const char* X500;
    const char* Simple;
};

class NameStyles : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameStyles, QuoteWhatNeedsQuoting)
{
    EXPECT_EQ(SubjectText(GetParam().Fixture, CERT_X500_NAME_STR), GetParam().X500);
    EXPECT_EQ(SubjectText(GetParam().Fixture, CERT_SIMPLE_NAME_STR), GetParam().Simple);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, NameStyles,
    ::testing::Values(
        NameCase{"v3-ku-eku.pem", "C=DE, O=Tessera Test, CN=leaf.tessera.test", "DE, Tessera Test, leaf.tessera.test"},
        NameCase{"name-comma.pem", "O=Tessera Test, CN=\"Doe, John\"", "Tessera Test, \"Doe, John\""},
        NameCase{"name-plus.pem", "O=Tessera Test, CN=\"R+D Lab\"", "Tessera Test, \"R+D Lab\""},
        NameCase{"name-quote.pem", "O=Tessera Test, CN=\"Say \"\"hi\"\"\"", "Tessera Test, \"Say \"\"hi\"\"\""},
        NameCase{"name-leading-space.pem", "O=Tessera Test, CN=\" Leading Space\"", "Tessera Test, \" Leading Space\""},
        NameCase{"name-multivalued.pem", "O=Tessera Test, CN=Multi + OU=Valued", "Tessera Test, Multi + Valued"},
        NameCase{"name-email.pem", "O=Tessera Test, CN=Mail User, E=mail@example.com",
                 "Tessera Test, Mail User, mail@example.com"},
        NameCase{"name-specials.pem", "OU=\"#hash\", L=\"semi;colon\", S=\"<angle>\", CN=\"x=y\"",
                 "\"#hash\", \"semi;colon\", \"<angle>\", \"x=y\""}));

TEST(NameFlags, ChangeSeparatorsOrderAndQuoting)
{
    EXPECT_EQ(SubjectText("v3-ku-eku.pem", CERT_X500_NAME_STR | CERT_NAME_STR_SEMICOLON_FLAG),
              "C=DE; O=Tessera Test; CN=leaf.tessera.test");
    EXPECT_EQ(SubjectText("v3-ku-eku.pem", CERT_X500_NAME_STR | CERT_NAME_STR_CRLF_FLAG),
              "C=DE\r\nO=Tessera Test\r\nCN=leaf.tessera.test");
    EXPECT_EQ(SubjectText("v3-ku-eku.pem", CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG),
              "CN=leaf.tessera.test, O=Tessera Test, C=DE");
    EXPECT_EQ(SubjectText("name-comma.pem", CERT_X500_NAME_STR | CERT_NAME_STR_NO_QUOTING_FLAG),
              "O=Tessera Test, CN=Doe, John");
    EXPECT_EQ(SubjectText("name-multivalued.pem", CERT_X500_NAME_STR | CERT_NAME_STR_NO_PLUS_FLAG),
              "O=Tessera Test, CN=Multi OU=Valued");
    EXPECT_EQ(SubjectText("v3-ku-eku.pem", CERT_OID_NAME_STR), "2.5.4.6=DE, 2.5.4.10=Tessera Test, 2.5.4.3=leaf.tessera.test");
}

TEST(NameValues, StringTypesUnknownTypesAndEmptyValues)
{
    const Bytes name = Der(0x30, Cat({Attribute(OidCn, {0x1E, 0x04, 0x00, 0x41, 0x00, 0x62}),       // BMPString "Ab"
                                      Attribute(OidCn, {0x1C, 0x04, 0x00, 0x00, 0x00, 0xE9}),       // UniversalString
                                      Attribute(OidCn, {0x14, 0x01, 0xE9}),                         // T61String, Latin-1
                                      Attribute(OidCn, {0x0C, 0x02, 0xC3, 0xA9}),                   // UTF8String
                                      Attribute(OidCn, {0x0C, 0x00}),                               // empty
                                      Attribute({0x06, 0x03, 0x2A, 0x03, 0x04}, {0x02, 0x01, 0x05})})); // 1.2.3.4 INTEGER
    EXPECT_EQ(NameOfDer(name, CERT_X500_NAME_STR),
              "CN=Ab, CN=\xC3\xA9, CN=\xC3\xA9, CN=\xC3\xA9, CN=\"\", OID.1.2.3.4=#020105");
    EXPECT_EQ(NameOfDer(name, CERT_SIMPLE_NAME_STR), "Ab, \xC3\xA9, \xC3\xA9, \xC3\xA9, \"\", #020105");
}

TEST(NameLength, FollowsTheWindowsConvention)
{
    const Bytes empty = {0x30, 0x00};
    CERT_NAME_BLOB blob{2, const_cast<BYTE*>(empty.data())};
    char16_t buffer[8] = {u'x', u'x'};
    EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, nullptr, 0), 1u);
    EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, buffer, 8), 1u);
    EXPECT_EQ(buffer[0], u'\0');

    const ContextPtr cert = LoadCert("v3-ku-eku.pem");
    char16_t shortBuffer[5];
    EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING, &cert->pCertInfo->Subject, CERT_X500_NAME_STR, shortBuffer, 5), 5u);
    EXPECT_EQ(std::u16string(shortBuffer), u"C=DE");
    EXPECT_EQ(CertGetNameStringW(cert.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, shortBuffer, 5), 5u);
    EXPECT_EQ(std::u16string(shortBuffer), u"leaf");

    const Bytes garbage = {0x30, 0x05, 0x31};
    blob = {3, const_cast<BYTE*>(garbage.data())};
    EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, nullptr, 0), 1u);
}

struct DisplayCase {
    const char* Fixture;
    const char* Display;
};

class DisplayName : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(DisplayName, FollowsTheWindowsRule)
{
    const ContextPtr cert = LoadCert(GetParam().Fixture);
    ASSERT_TRUE(cert);
    EXPECT_EQ(NameString(cert.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE), GetParam().Display);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DisplayName,
                         ::testing::Values(DisplayCase{"v3-ku-eku.pem", "leaf.tessera.test"},
                                           DisplayCase{"no-cn-ou.pem", "Unit Name"},
                                           DisplayCase{"no-cn-o.pem", "Org Only"},
                                           DisplayCase{"email-only.pem", "only@example.com"},
                                           DisplayCase{"san-email.pem", "alt@example.com"},
                                           DisplayCase{"country-only.pem", "DE"},
                                           DisplayCase{"name-multivalued.pem", "Multi"}));

TEST(NameString, OtherTypesAndTheIssuer)
{
    const ContextPtr leaf = LoadCert("v3-ku-eku.pem");
    EXPECT_EQ(NameString(leaf.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG), "Tessera Test Intermediate CA");
    EXPECT_EQ(NameString(leaf.get(), CERT_NAME_EMAIL_TYPE), "");
    EXPECT_EQ(CertGetNameStringW(leaf.get(), CERT_NAME_EMAIL_TYPE, 0, nullptr, nullptr, 0), 1u);
    char organization[] = "2.5.4.10";
    EXPECT_EQ(NameString(leaf.get(), CERT_NAME_ATTR_TYPE, 0, organization), "Tessera Test");
    EXPECT_EQ(NameString(leaf.get(), CERT_NAME_ATTR_TYPE, CERT_NAME_ISSUER_FLAG, organization), "Tessera Test");
    EXPECT_EQ(NameString(leaf.get(), CERT_NAME_DNS_TYPE), "leaf.tessera.test");
    DWORD style = CERT_X500_NAME_STR;
    EXPECT_EQ(NameString(leaf.get(), CERT_NAME_RDN_TYPE, 0, &style), "C=DE, O=Tessera Test, CN=leaf.tessera.test");

    EXPECT_EQ(NameString(LoadCert("name-email.pem").get(), CERT_NAME_EMAIL_TYPE), "mail@example.com");
    EXPECT_EQ(NameString(LoadCert("san-email.pem").get(), CERT_NAME_EMAIL_TYPE), "alt@example.com");

    const std::u16string friendly = u"Friendly";
    CRYPT_DATA_BLOB blob{static_cast<DWORD>((friendly.size() + 1) * 2),
                         reinterpret_cast<BYTE*>(const_cast<char16_t*>(friendly.c_str()))};
    ASSERT_TRUE(CertSetCertificateContextProperty(leaf.get(), CERT_FRIENDLY_NAME_PROP_ID, 0, &blob));
    EXPECT_EQ(NameString(leaf.get(), CERT_NAME_FRIENDLY_DISPLAY_TYPE), "Friendly");
}

struct OidCase {
    const char* Oid;
    DWORD Group;
    const char* Name;
};

class OidInfo : public ::testing::TestWithParam<OidCase> {};

TEST_P(OidInfo, HasTheWindowsFriendlyName)
{
    for (const DWORD group : {GetParam().Group, DWORD{0}}) {
        const PCCRYPT_OID_INFO info =
            CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char*>(GetParam().Oid), group);
        ASSERT_TRUE(info) << GetParam().Oid;
        EXPECT_EQ(Narrow(info->pwszName), GetParam().Name);
        EXPECT_EQ(info->dwGroupId, GetParam().Group);
        EXPECT_EQ(info->cbSize, sizeof(CRYPT_OID_INFO));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, OidInfo,
    ::testing::Values(OidCase{"1.2.840.113549.1.1.11", CRYPT_SIGN_ALG_OID_GROUP_ID, "sha256RSA"},
                      OidCase{"1.2.840.113549.1.1.10", CRYPT_SIGN_ALG_OID_GROUP_ID, "RSASSA-PSS"},
                      OidCase{"1.2.840.10045.4.3.3", CRYPT_SIGN_ALG_OID_GROUP_ID, "sha384ECDSA"},
                      OidCase{"1.2.840.10040.4.3", CRYPT_SIGN_ALG_OID_GROUP_ID, "sha1DSA"},
                      OidCase{"1.2.840.10045.2.1", CRYPT_PUBKEY_ALG_OID_GROUP_ID, "ECC"},
                      OidCase{"1.2.840.113549.1.1.1", CRYPT_PUBKEY_ALG_OID_GROUP_ID, "RSA"},
                      OidCase{"2.16.840.1.101.3.4.2.1", CRYPT_HASH_ALG_OID_GROUP_ID, "sha256"},
                      OidCase{"1.3.6.1.5.5.7.3.3", CRYPT_ENHKEY_USAGE_OID_GROUP_ID, "Code Signing"},
                      OidCase{"1.3.6.1.5.5.7.3.8", CRYPT_ENHKEY_USAGE_OID_GROUP_ID, "Time Stamping"},
                      OidCase{"1.3.6.1.4.1.311.61.1.1", CRYPT_ENHKEY_USAGE_OID_GROUP_ID, "Kernel Mode Code Signing"},
                      OidCase{"1.3.6.1.4.1.311.10.3.13", CRYPT_ENHKEY_USAGE_OID_GROUP_ID, "Lifetime Signing"},
                      OidCase{"2.5.29.37.0", CRYPT_ENHKEY_USAGE_OID_GROUP_ID, "Any Purpose"},
                      OidCase{"2.5.4.11", CRYPT_RDN_ATTR_OID_GROUP_ID, "OU"},
                      OidCase{"2.5.29.19", CRYPT_EXT_OR_ATTR_OID_GROUP_ID, "Basic Constraints"}));

TEST(OidInfoLookups, ByNameAlgidAndMisses)
{
    char unknown[] = "1.2.3.4.5";
    EXPECT_FALSE(CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, unknown, 0));
    char codeSigning[] = "1.3.6.1.5.5.7.3.3";
    EXPECT_FALSE(CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, codeSigning, CRYPT_HASH_ALG_OID_GROUP_ID));

    char16_t name[] = u"SHA256";
    const PCCRYPT_OID_INFO byName = CryptFindOIDInfo(CRYPT_OID_INFO_NAME_KEY, name, CRYPT_HASH_ALG_OID_GROUP_ID);
    ASSERT_TRUE(byName);
    EXPECT_STREQ(byName->pszOID, "2.16.840.1.101.3.4.2.1");
    ALG_ID algid = CALG_SHA1;
    const PCCRYPT_OID_INFO byAlgid = CryptFindOIDInfo(CRYPT_OID_INFO_ALGID_KEY, &algid, 0);
    ASSERT_TRUE(byAlgid);
    EXPECT_STREQ(byAlgid->pszOID, "1.3.14.3.2.26");
}
