// Key usages, key lengths, hashes, the text forms of binary data and CryptDecodeObject.
#include "tests/platform/crypt32/Crypt32TestSupport.h"

#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <cstring>

using namespace crypt32test;

namespace {

std::vector<std::string> Usages(PCCERT_CONTEXT cert, DWORD flags, DWORD* lastError = nullptr)
{
    DWORD size = 0;
    EXPECT_TRUE(CertGetEnhancedKeyUsage(cert, flags, nullptr, &size));
    std::vector<std::max_align_t> buffer(size / sizeof(std::max_align_t) + 1);
    auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
    SetLastError(0xDEAD);
    EXPECT_TRUE(CertGetEnhancedKeyUsage(cert, flags, usage, &size));
    if (lastError)
        *lastError = GetLastError();
    std::vector<std::string> oids;
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i)
        oids.emplace_back(usage->rgpszUsageIdentifier[i]);
    return oids;
}

std::string BinaryToString(const Bytes& bytes, DWORD flags)
{
    DWORD cch = 0;
    EXPECT_TRUE(CryptBinaryToStringW(bytes.data(), static_cast<DWORD>(bytes.size()), flags, nullptr, &cch));
    std::u16string text(cch, u'\0');
    EXPECT_TRUE(CryptBinaryToStringW(bytes.data(), static_cast<DWORD>(bytes.size()), flags, text.data(), &cch));
    EXPECT_EQ(cch + 1, text.size()) << "with a buffer the count leaves out the NUL";
    text.resize(cch);
    return Narrow(text);
}

std::optional<Bytes> StringToBinary(const std::u16string& text, DWORD flags, DWORD* skip = nullptr,
                                    DWORD* used = nullptr)
{
    DWORD size = 0;
    if (!CryptStringToBinaryW(text.c_str(), 0, flags, nullptr, &size, nullptr, nullptr))
        return std::nullopt;
    Bytes out(size);
    EXPECT_TRUE(CryptStringToBinaryW(text.c_str(), static_cast<DWORD>(text.size()), flags, out.data(), &size, skip, used));
    out.resize(size);
    return out;
}

template <typename T>
std::vector<std::max_align_t> Decode(LPCSTR type, const Bytes& der, BOOL* ok = nullptr)
{
    DWORD size = 0;
    const BOOL first = CryptDecodeObject(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, type, der.data(),
                                         static_cast<DWORD>(der.size()), 0, nullptr, &size);
    if (ok)
        *ok = first;
    if (!first)
        return {};
    std::vector<std::max_align_t> buffer(size / sizeof(std::max_align_t) + 1);
    EXPECT_TRUE(CryptDecodeObject(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, type, der.data(),
                                  static_cast<DWORD>(der.size()), 0, buffer.data(), &size));
    return buffer;
}

Bytes Bmp(const std::u16string& text)
{
    Bytes out;
    for (const char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c >> 8));
        out.push_back(static_cast<uint8_t>(c & 0xFF));
    }
    return out;
}

} // namespace

struct KeyUsageCase {
    const char* Fixture;
    BOOL Present;
    BYTE First;
};

class IntendedKeyUsage : public ::testing::TestWithParam<KeyUsageCase> {};

TEST_P(IntendedKeyUsage, CopiesTheBits)
{
    const ContextPtr cert = LoadCert(GetParam().Fixture);
    ASSERT_TRUE(cert);
    BYTE bits[2] = {0xFF, 0xFF};
    EXPECT_EQ(CertGetIntendedKeyUsage(X509_ASN_ENCODING, cert->pCertInfo, bits, sizeof bits), GetParam().Present);
    EXPECT_EQ(bits[0], GetParam().First);
    EXPECT_EQ(bits[1], 0);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, IntendedKeyUsage,
    ::testing::Values(KeyUsageCase{"ku-certsign-crlsign.pem", TRUE, CERT_KEY_CERT_SIGN_KEY_USAGE | CERT_CRL_SIGN_KEY_USAGE},
                      KeyUsageCase{"ku-digsig-dataenc.pem", TRUE,
                                   CERT_DIGITAL_SIGNATURE_KEY_USAGE | CERT_DATA_ENCIPHERMENT_KEY_USAGE},
                      KeyUsageCase{"ku-encipheronly.pem", TRUE, CERT_ENCIPHER_ONLY_KEY_USAGE},
                      KeyUsageCase{"v3-ku-eku.pem", TRUE,
                                   CERT_DIGITAL_SIGNATURE_KEY_USAGE | CERT_KEY_ENCIPHERMENT_KEY_USAGE},
                      KeyUsageCase{"ec-p256.pem", FALSE, 0}));

TEST(IntendedKeyUsageEdge, AnEmptyBitStringNamesNoUsage)
{
    BYTE empty[] = {0x03, 0x01, 0x00};
    CERT_EXTENSION extension{const_cast<char*>(szOID_KEY_USAGE), FALSE, {sizeof empty, empty}};
    CERT_INFO info{};
    info.cExtension = 1;
    info.rgExtension = &extension;
    BYTE bits[2] = {0xFF, 0xFF};
    EXPECT_TRUE(CertGetIntendedKeyUsage(X509_ASN_ENCODING, &info, bits, sizeof bits));
    EXPECT_EQ(bits[0], 0);
    EXPECT_EQ(bits[1], 0);
}

TEST(EnhancedKeyUsage, ExtensionPropertyAndTheirIntersection)
{
    const ContextPtr leaf = LoadCert("v3-ku-eku.pem");
    EXPECT_EQ(Usages(leaf.get(), 0), (std::vector<std::string>{"1.3.6.1.5.5.7.3.1", "1.3.6.1.5.5.7.3.2"}));
    EXPECT_EQ(Usages(LoadCert("codesign.pem").get(), 0), (std::vector<std::string>{"1.3.6.1.5.5.7.3.3"}));

    DWORD error = 0;
    const ContextPtr plain = LoadCert("ec-p256.pem");
    EXPECT_TRUE(Usages(plain.get(), 0, &error).empty());
    EXPECT_EQ(error, static_cast<DWORD>(CRYPT_E_NOT_FOUND)); // good for every use

    // clientAuth + codeSigning as the property.
    const Bytes property = Der(0x30, Cat({Der(0x06, {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x02}),
                                          Der(0x06, {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x03})}));
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(property.size()), const_cast<BYTE*>(property.data())};
    ASSERT_TRUE(CertSetCertificateContextProperty(leaf.get(), CERT_ENHKEY_USAGE_PROP_ID, 0, &blob));
    ASSERT_TRUE(CertSetCertificateContextProperty(plain.get(), CERT_ENHKEY_USAGE_PROP_ID, 0, &blob));
    EXPECT_EQ(Usages(leaf.get(), 0), (std::vector<std::string>{"1.3.6.1.5.5.7.3.2"}));
    EXPECT_EQ(Usages(leaf.get(), CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG).size(), 2u);
    EXPECT_EQ(Usages(leaf.get(), CERT_FIND_PROP_ONLY_ENHKEY_USAGE_FLAG),
              (std::vector<std::string>{"1.3.6.1.5.5.7.3.2", "1.3.6.1.5.5.7.3.3"}));
    EXPECT_EQ(Usages(plain.get(), 0).size(), 2u);

    // Disjoint extension and property: good for no use, and the last error says so.
    const Bytes timeStamping = Der(0x30, Der(0x06, {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x08}));
    blob = {static_cast<DWORD>(timeStamping.size()), const_cast<BYTE*>(timeStamping.data())};
    ASSERT_TRUE(CertSetCertificateContextProperty(leaf.get(), CERT_ENHKEY_USAGE_PROP_ID, 0, &blob));
    EXPECT_TRUE(Usages(leaf.get(), 0, &error).empty());
    EXPECT_EQ(error, 0u);

    DWORD size = 0;
    ASSERT_TRUE(CertGetEnhancedKeyUsage(leaf.get(), CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &size));
    std::vector<std::max_align_t> small(1);
    DWORD tooSmall = sizeof(CERT_ENHKEY_USAGE);
    EXPECT_FALSE(CertGetEnhancedKeyUsage(leaf.get(), CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG,
                                         reinterpret_cast<CERT_ENHKEY_USAGE*>(small.data()), &tooSmall));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(tooSmall, size);
}

struct KeyLengthCase {
    const char* Fixture;
    DWORD Bits;
};

class PublicKeyLength : public ::testing::TestWithParam<KeyLengthCase> {};

TEST_P(PublicKeyLength, IsTheKeySize)
{
    const ContextPtr cert = LoadCert(GetParam().Fixture);
    ASSERT_TRUE(cert);
    EXPECT_EQ(CertGetPublicKeyLength(X509_ASN_ENCODING, &cert->pCertInfo->SubjectPublicKeyInfo), GetParam().Bits);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, PublicKeyLength,
                         ::testing::Values(KeyLengthCase{"v3-ku-eku.pem", 2048}, KeyLengthCase{"rsa-3072.pem", 3072},
                                           KeyLengthCase{"rsa-4096.pem", 4096}, KeyLengthCase{"ec-p256.pem", 256},
                                           KeyLengthCase{"ec-p384.pem", 384}, KeyLengthCase{"ec-p521.pem", 521},
                                           KeyLengthCase{"ed25519.pem", 255}));

TEST(PublicKeyLengthFailures, UnreadableKeysAreZero)
{
    const ContextPtr cert = LoadCert("v3-ku-eku.pem");
    CERT_PUBLIC_KEY_INFO key = cert->pCertInfo->SubjectPublicKeyInfo;
    key.PublicKey.cbData = 10;
    EXPECT_EQ(CertGetPublicKeyLength(X509_ASN_ENCODING, &key), 0u);
    char unknown[] = "1.2.3.4";
    key = cert->pCertInfo->SubjectPublicKeyInfo;
    key.Algorithm.pszObjId = unknown;
    EXPECT_EQ(CertGetPublicKeyLength(X509_ASN_ENCODING, &key), 0u);
    // Parameters that are an end-of-contents marker, or no DER at all.
    for (Bytes parameters : {Bytes{0x00, 0x00}, Bytes{0x30, 0x05, 0x01}}) {
        key.Algorithm.Parameters = {static_cast<DWORD>(parameters.size()), parameters.data()};
        EXPECT_EQ(CertGetPublicKeyLength(X509_ASN_ENCODING, &key), 0u);
    }
}

TEST(HashCertificate, MatchesOpenSsl)
{
    const ContextPtr cert = LoadCert("root.pem");
    const struct {
        ALG_ID Algid;
        const EVP_MD* Md;
    } cases[] = {{CALG_SHA1, EVP_sha1()}, {CALG_MD5, EVP_md5()}, {CALG_SHA_256, EVP_sha256()},
                 {CALG_SHA_384, EVP_sha384()}, {CALG_SHA_512, EVP_sha512()}};
    for (const auto& c : cases) {
        unsigned char expected[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_Digest(cert->pbCertEncoded, cert->cbCertEncoded, expected, &length, c.Md, nullptr);
        DWORD size = 0;
        ASSERT_TRUE(CryptHashCertificate(0, c.Algid, 0, cert->pbCertEncoded, cert->cbCertEncoded, nullptr, &size));
        ASSERT_EQ(size, length);
        Bytes digest(size);
        ASSERT_TRUE(CryptHashCertificate(0, c.Algid, 0, cert->pbCertEncoded, cert->cbCertEncoded, digest.data(), &size));
        EXPECT_EQ(digest, Bytes(expected, expected + length));
        size = 4;
        EXPECT_FALSE(CryptHashCertificate(0, c.Algid, 0, cert->pbCertEncoded, cert->cbCertEncoded, digest.data(), &size));
        EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    }
    DWORD size = 0;
    EXPECT_FALSE(CryptHashCertificate(0, 0x1234, 0, cert->pbCertEncoded, cert->cbCertEncoded, nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_ALGID));
}

TEST(BinaryToString, HexLayout)
{
    Bytes bytes(18);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i == 17 ? 0xAB : i);
    EXPECT_EQ(BinaryToString(bytes, CRYPT_STRING_HEX),
              "00 01 02 03 04 05 06 07  08 09 0a 0b 0c 0d 0e 0f\r\n10 ab\r\n");
    EXPECT_EQ(BinaryToString(bytes, CRYPT_STRING_HEX | CRYPT_STRING_NOCR),
              "00 01 02 03 04 05 06 07  08 09 0a 0b 0c 0d 0e 0f\n10 ab\n");
    EXPECT_EQ(BinaryToString(Bytes(bytes.begin(), bytes.begin() + 9), CRYPT_STRING_HEX | CRYPT_STRING_NOCRLF),
              "00 01 02 03 04 05 06 07  08");
    EXPECT_EQ(BinaryToString({0xDE, 0xAD, 0xBE, 0xEF}, CRYPT_STRING_HEXRAW), "deadbeef\r\n");
}

TEST(BinaryToString, Base64Layout)
{
    Bytes bytes(100);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 7);
    std::string flat(140, '\0');
    flat.resize(static_cast<size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(flat.data()), bytes.data(), 100)));
    ASSERT_EQ(flat.size(), 136u);
    const std::string body = flat.substr(0, 64) + "\r\n" + flat.substr(64, 64) + "\r\n" + flat.substr(128) + "\r\n";
    EXPECT_EQ(BinaryToString(bytes, CRYPT_STRING_BASE64), body);
    EXPECT_EQ(BinaryToString(bytes, CRYPT_STRING_BASE64 | CRYPT_STRING_NOCR),
              flat.substr(0, 64) + "\n" + flat.substr(64, 64) + "\n" + flat.substr(128) + "\n");
    EXPECT_EQ(BinaryToString(bytes, CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF), flat);
    EXPECT_EQ(BinaryToString(bytes, CRYPT_STRING_BASE64HEADER),
              "-----BEGIN CERTIFICATE-----\r\n" + body + "-----END CERTIFICATE-----\r\n");

    DWORD cch = 0;
    ASSERT_TRUE(CryptBinaryToStringW(bytes.data(), 100, CRYPT_STRING_BASE64, nullptr, &cch));
    EXPECT_EQ(cch, body.size() + 1); // size with the NUL
    std::u16string text(10, u'\0');
    cch = 10;
    EXPECT_FALSE(CryptBinaryToStringW(bytes.data(), 100, CRYPT_STRING_BASE64, text.data(), &cch));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
}

TEST(StringToBinary, Base64FormsAndHex)
{
    const Bytes der = testsupport::ReadBytes(CertFixture("root.cer"));
    const std::string pem = testsupport::ReadText(CertFixture("root.pem"));
    DWORD skip = 99;
    DWORD used = 99;
    EXPECT_EQ(StringToBinary(U16("preamble\n" + pem), CRYPT_STRING_BASE64_ANY, &skip, &used), der);
    EXPECT_EQ(skip, 9u);
    EXPECT_EQ(used, CRYPT_STRING_BASE64HEADER);
    EXPECT_EQ(StringToBinary(U16(pem), CRYPT_STRING_BASE64HEADER), der);

    const std::string body = pem.substr(pem.find('\n') + 1, pem.find("-----END") - pem.find('\n') - 1);
    EXPECT_EQ(StringToBinary(U16(body), CRYPT_STRING_BASE64_ANY, nullptr, &used), der);
    EXPECT_EQ(used, CRYPT_STRING_BASE64);
    EXPECT_EQ(StringToBinary(U16(body), CRYPT_STRING_BASE64), der);
    EXPECT_FALSE(StringToBinary(U16(body), CRYPT_STRING_BASE64HEADER));
    EXPECT_FALSE(StringToBinary(U16(body + "*"), CRYPT_STRING_BASE64_ANY));
    EXPECT_FALSE(StringToBinary(u"AQID\u00e9", CRYPT_STRING_BASE64));

    EXPECT_EQ(StringToBinary(u"de ad\r\nbe ef", CRYPT_STRING_HEX), (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
    EXPECT_EQ(StringToBinary(u"00 01 02 03 04 05 06 07  08\r\n", CRYPT_STRING_HEX_ANY),
              (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(StringToBinary(u"DEADBEEF", CRYPT_STRING_HEXRAW), (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
    EXPECT_FALSE(StringToBinary(u"dea", CRYPT_STRING_HEX));
    EXPECT_FALSE(StringToBinary(u"zz", CRYPT_STRING_HEX));

    // An explicit length stops before the rest of the text; a short buffer is told the size.
    const std::u16string text = u"AQIDBA==garbage";
    DWORD size = 0;
    ASSERT_TRUE(CryptStringToBinaryW(text.c_str(), 8, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr));
    EXPECT_EQ(size, 4u);
    BYTE small[2];
    size = 2;
    EXPECT_FALSE(CryptStringToBinaryW(text.c_str(), 8, CRYPT_STRING_BASE64, small, &size, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u);
}

TEST(DecodeOpusInfo, ProgramNameAndLinks)
{
    // programName as BMPString, moreInfo as a URL, publisherInfo as a file link in ASCII.
    const Bytes der = Der(0x30, Cat({Der(0xA0, Der(0x80, Bmp(u"Tessera \u00e9"))),
                                     Der(0xA1, Der(0x80, Ascii("https://example.com/more"))),
                                     Der(0xA2, Der(0xA2, Der(0x81, Ascii("setup.exe"))))}));
    const auto buffer = Decode<SPC_SP_OPUS_INFO>(SPC_SP_OPUS_INFO_OBJID, der);
    ASSERT_FALSE(buffer.empty());
    const auto* info = reinterpret_cast<const SPC_SP_OPUS_INFO*>(buffer.data());
    ASSERT_TRUE(info->pwszProgramName);
    EXPECT_EQ(std::u16string(info->pwszProgramName), u"Tessera \u00e9");
    ASSERT_TRUE(info->pMoreInfo);
    EXPECT_EQ(info->pMoreInfo->dwLinkChoice, SPC_URL_LINK_CHOICE);
    EXPECT_EQ(std::u16string(info->pMoreInfo->pwszUrl), u"https://example.com/more");
    ASSERT_TRUE(info->pPublisherInfo);
    EXPECT_EQ(info->pPublisherInfo->dwLinkChoice, SPC_FILE_LINK_CHOICE);
    EXPECT_EQ(std::u16string(info->pPublisherInfo->pwszFile), u"setup.exe");
}

TEST(DecodeOpusInfo, EmptyAsciiMonikerAndMalformed)
{
    const auto empty = Decode<SPC_SP_OPUS_INFO>(SPC_SP_OPUS_INFO_OBJID, {0x30, 0x00});
    ASSERT_FALSE(empty.empty());
    const auto* none = reinterpret_cast<const SPC_SP_OPUS_INFO*>(empty.data());
    EXPECT_FALSE(none->pwszProgramName);
    EXPECT_FALSE(none->pMoreInfo);
    EXPECT_FALSE(none->pPublisherInfo);

    const Bytes classId = {0xA6, 0xB5, 0x86, 0xD5, 0xB4, 0xA1, 0x24, 0x66, 0xAE, 0x05, 0xA2, 0x17, 0xDA, 0x8E, 0x60, 0xD6};
    const Bytes der = Der(0x30, Cat({Der(0xA0, Der(0x81, Ascii("App"))),
                                     Der(0xA1, Der(0xA1, Cat({Der(0x04, classId), Der(0x04, {1, 2, 3})})))}));
    const auto buffer = Decode<SPC_SP_OPUS_INFO>(SPC_SP_OPUS_INFO_OBJID, der);
    ASSERT_FALSE(buffer.empty());
    const auto* info = reinterpret_cast<const SPC_SP_OPUS_INFO*>(buffer.data());
    EXPECT_EQ(std::u16string(info->pwszProgramName), u"App");
    ASSERT_TRUE(info->pMoreInfo);
    EXPECT_EQ(info->pMoreInfo->dwLinkChoice, SPC_MONIKER_LINK_CHOICE);
    EXPECT_EQ(Bytes(info->pMoreInfo->Moniker.ClassId, info->pMoreInfo->Moniker.ClassId + 16), classId);
    EXPECT_EQ(Bytes(info->pMoreInfo->Moniker.SerializedData.pbData,
                    info->pMoreInfo->Moniker.SerializedData.pbData + info->pMoreInfo->Moniker.SerializedData.cbData),
              (Bytes{1, 2, 3}));

    // The size convention, and bytes that are not an SpcSpOpusInfo.
    DWORD size = 0;
    ASSERT_TRUE(CryptDecodeObject(X509_ASN_ENCODING, SPC_SP_OPUS_INFO_OBJID, der.data(), static_cast<DWORD>(der.size()),
                                  0, nullptr, &size));
    std::vector<std::max_align_t> small(1);
    DWORD tooSmall = 8;
    EXPECT_FALSE(CryptDecodeObject(X509_ASN_ENCODING, SPC_SP_OPUS_INFO_OBJID, der.data(),
                                   static_cast<DWORD>(der.size()), 0, small.data(), &tooSmall));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(tooSmall, size);
    BOOL ok = TRUE;
    Decode<SPC_SP_OPUS_INFO>(SPC_SP_OPUS_INFO_OBJID, Bytes(der.begin(), der.end() - 1), &ok);
    EXPECT_FALSE(ok);
    Decode<SPC_SP_OPUS_INFO>(SPC_SP_OPUS_INFO_OBJID, Cat({der, {0x00}}), &ok);
    EXPECT_FALSE(ok);
}

TEST(DecodeTime, UtcAndGeneralizedTime)
{
    const struct {
        Bytes Der;
        uint64_t Ticks;
    } cases[] = {
        {Der(0x17, Ascii("190101000000Z")), TicksOf(2019, 1, 1)},
        {Der(0x17, Ascii("491231235959Z")), TicksOf(2049, 12, 31, 23, 59, 59)},
        {Der(0x17, Ascii("500101000000Z")), TicksOf(1950, 1, 1)},
        {Der(0x18, Ascii("20500101120000.5Z")), TicksOf(2050, 1, 1, 12) + 5'000'000},
        {Der(0x18, Ascii("99991231235959Z")), TicksOf(9999, 12, 31, 23, 59, 59)},
    };
    for (const auto& c : cases) {
        for (const LPCSTR type : {static_cast<LPCSTR>(szOID_RSA_signingTime), PKCS_UTC_TIME}) {
            const auto buffer = Decode<FILETIME>(type, c.Der);
            ASSERT_FALSE(buffer.empty());
            EXPECT_EQ(Ticks(*reinterpret_cast<const FILETIME*>(buffer.data())), c.Ticks);
        }
    }
    BOOL ok = TRUE;
    Decode<FILETIME>(szOID_RSA_signingTime, Der(0x17, Ascii("19010100000Z")), &ok);
    EXPECT_FALSE(ok);
    Decode<FILETIME>(szOID_RSA_signingTime, Der(0x04, Ascii("190101000000Z")), &ok);
    EXPECT_FALSE(ok);
    Decode<FILETIME>("1.2.3.4", Der(0x17, Ascii("190101000000Z")), &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(DecodeUsage, ExtensionValue)
{
    const ContextPtr leaf = LoadCert("v3-ku-eku.pem");
    const CERT_EXTENSION* extension = FindExtension(leaf->pCertInfo, szOID_ENHANCED_KEY_USAGE);
    ASSERT_TRUE(extension);
    const CERT_EXTENSION& eku = *extension;
    const Bytes value(eku.Value.pbData, eku.Value.pbData + eku.Value.cbData);
    for (const LPCSTR type : {X509_ENHANCED_KEY_USAGE, static_cast<LPCSTR>(szOID_ENHANCED_KEY_USAGE)}) {
        const auto buffer = Decode<CERT_ENHKEY_USAGE>(type, value);
        ASSERT_FALSE(buffer.empty());
        const auto* usage = reinterpret_cast<const CERT_ENHKEY_USAGE*>(buffer.data());
        ASSERT_EQ(usage->cUsageIdentifier, 2u);
        EXPECT_STREQ(usage->rgpszUsageIdentifier[0], "1.3.6.1.5.5.7.3.1");
        EXPECT_STREQ(usage->rgpszUsageIdentifier[1], "1.3.6.1.5.5.7.3.2");
    }
}
