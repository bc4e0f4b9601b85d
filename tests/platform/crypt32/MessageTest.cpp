// CryptMsg*: parameters of decoded SignedData messages, and stores made from them.
#include "tests/platform/crypt32/Crypt32TestSupport.h"

#include <openssl/pkcs7.h>

#include <gtest/gtest.h>

using namespace crypt32test;

namespace {

MsgPtr OpenMessage(const Bytes& der, DWORD type = 0)
{
    MsgPtr message(CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, type, 0, nullptr, nullptr));
    EXPECT_TRUE(message);
    if (!CryptMsgUpdate(message.get(), der.data(), static_cast<DWORD>(der.size()), TRUE))
        return nullptr;
    return message;
}

Bytes Param(HCRYPTMSG message, DWORD param, DWORD index = 0)
{
    DWORD size = 0;
    if (!CryptMsgGetParam(message, param, index, nullptr, &size))
        return {};
    Bytes out(size);
    EXPECT_TRUE(CryptMsgGetParam(message, param, index, out.data(), &size));
    out.resize(size);
    return out;
}

DWORD DwordParam(HCRYPTMSG message, DWORD param)
{
    DWORD value = 0xFFFFFFFF;
    DWORD size = sizeof value;
    EXPECT_TRUE(CryptMsgGetParam(message, param, 0, &value, &size));
    EXPECT_EQ(size, sizeof value);
    return value;
}

Bytes Blob(const CRYPTOAPI_BLOB& blob) { return Bytes(blob.pbData, blob.pbData + blob.cbData); }

} // namespace

TEST(Message, SignedDataParameters)
{
    const Bytes der = testsupport::ReadBytes(CertFixture("signed-data.p7"));
    const MsgPtr message = OpenMessage(der);
    ASSERT_TRUE(message);
    EXPECT_EQ(DwordParam(message.get(), CMSG_TYPE_PARAM), CMSG_SIGNED);
    const Bytes innerType = Param(message.get(), CMSG_INNER_CONTENT_TYPE_PARAM);
    EXPECT_STREQ(reinterpret_cast<const char*>(innerType.data()), "1.2.840.113549.1.7.1");
    EXPECT_EQ(Param(message.get(), CMSG_CONTENT_PARAM), Ascii("Tessera signed content\n"));
    EXPECT_EQ(Param(message.get(), CMSG_ENCODED_MESSAGE), der);

    // Certificates as OpenSSL sees them in the message, in message order.
    const unsigned char* p = der.data();
    PKCS7* reference = d2i_PKCS7(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_TRUE(reference);
    const int count = sk_X509_num(reference->d.sign->cert);
    ASSERT_EQ(DwordParam(message.get(), CMSG_CERT_COUNT_PARAM), static_cast<DWORD>(count));
    for (int i = 0; i < count; ++i) {
        unsigned char* cert = nullptr;
        const int len = i2d_X509(sk_X509_value(reference->d.sign->cert, i), &cert);
        EXPECT_EQ(Param(message.get(), CMSG_CERT_PARAM, static_cast<DWORD>(i)), Bytes(cert, cert + len));
        OPENSSL_free(cert);
    }
    PKCS7_free(reference);
    DWORD size = 0;
    EXPECT_FALSE(CryptMsgGetParam(message.get(), CMSG_CERT_PARAM, static_cast<DWORD>(count), nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_INVALID_INDEX));
    EXPECT_EQ(DwordParam(message.get(), CMSG_CRL_COUNT_PARAM), 0u);

    // The signer: issued by the intermediate, serial 0x1200, SHA-256 with RSA, signed attributes.
    ASSERT_EQ(DwordParam(message.get(), CMSG_SIGNER_COUNT_PARAM), 1u);
    const Bytes signerBuffer = Param(message.get(), CMSG_SIGNER_INFO_PARAM);
    std::vector<std::max_align_t> aligned(signerBuffer.size() / sizeof(std::max_align_t) + 1);
    DWORD signerSize = static_cast<DWORD>(aligned.size() * sizeof(std::max_align_t));
    ASSERT_TRUE(CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, aligned.data(), &signerSize));
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(aligned.data());
    const ContextPtr intermediate = LoadCert("intermediate.pem");
    EXPECT_EQ(signer->dwVersion, 1u);
    EXPECT_EQ(Blob(signer->Issuer), Blob(intermediate->pCertInfo->Subject));
    EXPECT_EQ(Blob(signer->SerialNumber), (Bytes{0x00, 0x12}));
    EXPECT_STREQ(signer->HashAlgorithm.pszObjId, "2.16.840.1.101.3.4.2.1");
    EXPECT_STREQ(signer->HashEncryptionAlgorithm.pszObjId, "1.2.840.113549.1.1.1");
    EXPECT_EQ(signer->EncryptedHash.cbData, 256u);
    EXPECT_EQ(signer->UnauthAttrs.cAttr, 0u);
    std::vector<std::string> oids;
    const CRYPT_ATTRIBUTE* signingTime = nullptr;
    for (DWORD i = 0; i < signer->AuthAttrs.cAttr; ++i) {
        oids.emplace_back(signer->AuthAttrs.rgAttr[i].pszObjId);
        if (oids.back() == szOID_RSA_signingTime)
            signingTime = &signer->AuthAttrs.rgAttr[i];
    }
    EXPECT_EQ(oids.front(), "1.2.840.113549.1.9.3"); // content type comes first, as encoded
    ASSERT_TRUE(signingTime);
    ASSERT_EQ(signingTime->cValue, 1u);
    FILETIME when{};
    size = sizeof when;
    ASSERT_TRUE(CryptDecodeObject(X509_ASN_ENCODING, szOID_RSA_signingTime, signingTime->rgValue[0].pbData,
                                  signingTime->rgValue[0].cbData, 0, &when, &size));
    EXPECT_GT(Ticks(when), TicksOf(2020, 1, 1));

    // The same signer through CryptDecodeObject, and its issuer and serial finding the certificate.
    const Bytes certInfoBuffer = Param(message.get(), CMSG_SIGNER_CERT_INFO_PARAM);
    ASSERT_FALSE(certInfoBuffer.empty());
    std::vector<std::max_align_t> certInfo(certInfoBuffer.size() / sizeof(std::max_align_t) + 1);
    size = static_cast<DWORD>(certInfo.size() * sizeof(std::max_align_t));
    ASSERT_TRUE(CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, certInfo.data(), &size));
    const StorePtr store(CertOpenStore(CERT_STORE_PROV_MSG, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, message.get()));
    ASSERT_TRUE(store);
    const ContextPtr signerCert(CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_CERT,
                                                           certInfo.data(), nullptr));
    ASSERT_TRUE(signerCert);
    EXPECT_EQ(Bytes(signerCert->pbCertEncoded, signerCert->pbCertEncoded + signerCert->cbCertEncoded),
              PemCertificates(CertFixture("codesign.pem")).front());
}

TEST(Message, NonDataContentType)
{
    const Bytes der = testsupport::ReadBytes(CertFixture("signed-other-type.p7"));
    const MsgPtr message = OpenMessage(der, CMSG_SIGNED);
    ASSERT_TRUE(message);
    const Bytes innerType = Param(message.get(), CMSG_INNER_CONTENT_TYPE_PARAM);
    EXPECT_STREQ(reinterpret_cast<const char*>(innerType.data()), "1.3.6.1.4.1.311.2.1.4");
    // The content value's DER: here the OCTET STRING that "openssl cms" wraps around it.
    EXPECT_EQ(Param(message.get(), CMSG_CONTENT_PARAM), Der(0x04, Ascii("Tessera signed content\n")));
    EXPECT_EQ(DwordParam(message.get(), CMSG_SIGNER_COUNT_PARAM), 1u);
}

TEST(Message, DuplicateAndClose)
{
    const MsgPtr message = OpenMessage(testsupport::ReadBytes(CertFixture("signed-data.p7")));
    HCRYPTMSG copy = CryptMsgDuplicate(message.get());
    EXPECT_EQ(copy, message.get());
    EXPECT_TRUE(CryptMsgClose(copy));
    EXPECT_EQ(DwordParam(message.get(), CMSG_TYPE_PARAM), CMSG_SIGNED);
    EXPECT_TRUE(CryptMsgClose(nullptr));
}

TEST(Message, RefusesWhatIsNotAMessage)
{
    MsgPtr message(CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr));
    DWORD size = 0;
    EXPECT_FALSE(CryptMsgGetParam(message.get(), CMSG_TYPE_PARAM, 0, nullptr, &size)); // nothing decoded yet
    const Bytes cert = testsupport::ReadBytes(CertFixture("root.cer"));
    EXPECT_FALSE(CryptMsgUpdate(message.get(), cert.data(), static_cast<DWORD>(cert.size()), TRUE));
    EXPECT_FALSE(CertOpenStore(CERT_STORE_PROV_MSG, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, message.get()));

    const Bytes der = testsupport::ReadBytes(CertFixture("signed-data.p7"));
    MsgPtr truncated(CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr));
    EXPECT_FALSE(CryptMsgUpdate(truncated.get(), der.data(), static_cast<DWORD>(der.size() - 100), TRUE));
    // In pieces, the last one final.
    MsgPtr pieces(CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr));
    ASSERT_TRUE(CryptMsgUpdate(pieces.get(), der.data(), 100, FALSE));
    ASSERT_TRUE(CryptMsgUpdate(pieces.get(), der.data() + 100, static_cast<DWORD>(der.size() - 100), TRUE));
    EXPECT_EQ(DwordParam(pieces.get(), CMSG_SIGNER_COUNT_PARAM), 1u);
}
