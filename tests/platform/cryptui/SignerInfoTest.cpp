// The signer dialog's words: the signer found by issuer and serial number in the message, its
// signing time and counter-signers (PKCS #9 and RFC 3161), and signer information that lies.
#include "platform/cryptui/SignerInfo.h"

#include "tests/platform/cryptui/CryptUITestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using namespace cryptui;
using namespace cryptuitest;

namespace {

const QDateTime StampTime(QDate(2024, 5, 6), QTime(7, 8, 9), Qt::UTC);

// The first signer of a signed message, read as the dialog reads it.
struct OpenedSigner {
    MessagePtr Message;
    std::shared_ptr<SignerSource> Source;

    explicit OpenedSigner(const std::vector<uint8_t>& der) : Message(OpenMessage(der)), Source(std::make_shared<SignerSource>())
    {
        if (!Message)
            return;
        Source->Buffer = SignerInfoOf(Message.get());
        Source->Info = Source->Buffer.As<CMSG_SIGNER_INFO>();
        Source->Message = Message.get();
    }
    [[nodiscard]] SignerInfo Read() const { return SignerInfo::Read(Source); }
};

TEST(SignerInfo, FindsTheSignerCertificateInTheMessage)
{
    const OpenedSigner opened(testsupport::ReadBytes(SharedFixture("certs/signed-data.p7")));
    ASSERT_TRUE(opened.Message);
    const SignerInfo signer = opened.Read();
    EXPECT_EQ(signer.Name(), QStringLiteral("Tessera Test Code Signing"));
    EXPECT_TRUE(signer.Email().isEmpty());
    EXPECT_EQ(signer.DigestAlgorithm(), QStringLiteral("sha256"));
    EXPECT_TRUE(signer.CounterSigners().empty());
    // No time stamp: the time the signer gave itself, when the fixtures were made (after 2024).
    ASSERT_TRUE(signer.SigningTime());
    EXPECT_GE(signer.SigningTime()->date().year(), 2025);

    EXPECT_FALSE(signer.CertificateDer().empty());
    // The chain can be built from the message's certificates: codesign, intermediate, root.
    EXPECT_EQ(signer.OtherCertificates().size(), 3u);

    std::map<QString, QString> fields;
    for (const Field& field : signer.Details())
        fields.emplace(field.Name, field.Value);
    EXPECT_EQ(fields[QStringLiteral("Serial number")], QStringLiteral("1200"));
    EXPECT_EQ(fields[QStringLiteral("Issuer")], QStringLiteral("Tessera Test Intermediate CA, Tessera Test, DE"));
    EXPECT_EQ(fields[QStringLiteral("Digest algorithm")], QStringLiteral("sha256"));
    EXPECT_EQ(fields[QStringLiteral("Digest encryption algorithm")], QStringLiteral("RSA"));
    EXPECT_EQ(fields[QStringLiteral("Content Type")], QStringLiteral("1.2.840.113549.1.7.1"));
    EXPECT_EQ(fields.count(QStringLiteral("Message Digest")), 1u);
    EXPECT_EQ(fields.count(QStringLiteral("Signing Time")), 1u);
}

struct CounterCase {
    const char* File;
    CounterSignatureKind Kind;
};

TEST(SignerInfo, ReadsCounterSignersAndTakesTheirTime)
{
    for (const CounterCase& c : {CounterCase{"countersigned.p7", CounterSignatureKind::Legacy},
                                 CounterCase{"rfc3161-timestamped.p7", CounterSignatureKind::Rfc3161}}) {
        SCOPED_TRACE(c.File);
        const OpenedSigner opened(testsupport::ReadBytes(DialogFixture(c.File)));
        ASSERT_TRUE(opened.Message);
        const SignerInfo signer = opened.Read();
        EXPECT_EQ(signer.Name(), QStringLiteral("Tessera Test Code Signing"));
        ASSERT_EQ(signer.CounterSigners().size(), 1u);
        const CounterSigner& counter = signer.CounterSigners().front();
        EXPECT_EQ(counter.Kind, c.Kind);
        EXPECT_EQ(counter.Name, QStringLiteral("Tessera Test Time Stamping"));
        EXPECT_EQ(counter.Time, StampTime);
        // The time stamp, not the signer's own signing-time attribute.
        EXPECT_EQ(signer.SigningTime(), StampTime);

        // The counter-signer opens as a signer of its own.
        const SignerInfo inner = SignerInfo::Read(counter.Source);
        EXPECT_EQ(inner.Name(), QStringLiteral("Tessera Test Time Stamping"));
        EXPECT_EQ(inner.DigestAlgorithm(), QStringLiteral("sha256"));
        EXPECT_FALSE(inner.CertificateDer().empty());
        EXPECT_TRUE(inner.CounterSigners().empty());
    }
}

TEST(SignerInfo, SaysSoWhenTheCertificateIsMissing)
{
    const OpenedSigner opened(testsupport::ReadBytes(DialogFixture("signed-nocerts.p7")));
    ASSERT_TRUE(opened.Message);
    const SignerInfo signer = opened.Read();
    EXPECT_TRUE(signer.Name().isEmpty());
    EXPECT_TRUE(signer.CertificateDer().empty());
    EXPECT_TRUE(signer.StatusText().contains(QStringLiteral("not in the signature")));

    // A store given by the caller supplies it.
    const StorePtr store = OpenFileStore(SharedFixture("certs/codesign-chain.pem"));
    ASSERT_TRUE(store);
    opened.Source->Stores.push_back(store.get());
    const SignerInfo found = opened.Read();
    EXPECT_EQ(found.Name(), QStringLiteral("Tessera Test Code Signing"));
    EXPECT_FALSE(found.CertificateDer().empty());
}

TEST(SignerInfo, ReadsTheSignerOfASignedExecutable)
{
    const std::vector<uint8_t> signature = ExecutableSignature(SharedFixture("pe/signed.exe"));
    ASSERT_FALSE(signature.empty());
    const OpenedSigner opened(signature);
    ASSERT_TRUE(opened.Message);
    const SignerInfo signer = opened.Read();
    EXPECT_EQ(signer.Name(), QStringLiteral("Tessera Fixture Code Signing"));
    EXPECT_EQ(signer.DigestAlgorithm(), QStringLiteral("sha256"));
}

// The signer's chain is judged at the time stamp's time: an expired signer that was valid then is OK.
TEST(SignerInfo, TimeStampedExpiredSignerIsOk)
{
    const TrustStore trust(TestRoot());
    const auto status = [](const char* file) {
        const std::vector<uint8_t> signature = ExecutableSignature(SharedFixture(file));
        const OpenedSigner opened(signature);
        return opened.Read().StatusText();
    };
    EXPECT_EQ(status("signed/expired-ts-rfc3161.exe"), QStringLiteral("The signer's certificate is OK."));
    EXPECT_EQ(status("signed/expired.exe"),
              QStringLiteral("The signer's certificate or one in its chain has expired or is not yet valid."));
}

// The dialog judges signers as the signature check does: old roots without basicConstraints, a
// time stamp that does not extend a lifetime-signing certificate, a spoofed root.
TEST(SignerInfo, JudgesTheShapesOfRealFilesAsTheVerdictDoes)
{
    const TrustStore trust(SharedFixture("trust-tessera.pem"));
    const auto status = [](const char* file) {
        const std::vector<uint8_t> signature = ExecutableSignature(SharedFixture(file));
        const OpenedSigner opened(signature);
        return opened.Read().StatusText();
    };
    EXPECT_EQ(status("signed/expired-ts-old-root.exe"), QStringLiteral("The signer's certificate is OK."));
    EXPECT_EQ(status("signed/lifetime-ts.exe"), QStringLiteral("The signer's certificate is OK."));
    EXPECT_EQ(status("signed/lifetime-expired-ts.exe"),
              QStringLiteral("The signer's certificate or one in its chain has expired or is not yet valid."));
    EXPECT_EQ(status("signed/ec-spoof.exe"),
              QStringLiteral("The signer's certificate cannot be verified up to a trusted root: the root certificate "
                             "of its chain is not trusted."));
    EXPECT_EQ(status("signed/intermediate-no-bc.exe"),
              QStringLiteral("The signer's certificate or one in its chain is not valid."));
}

// Unauthenticated attributes are anyone's to write: counter-signatures that are not, and a signer
// information without a message, give a dialog with what can be read.
TEST(SignerInfo, SurvivesCounterSignaturesThatAreNot)
{
    uint8_t garbage[] = {0x30, 0x82, 0xFF, 0xFF, 0x02, 0x01};
    uint8_t empty[] = {0x30, 0x00};
    CRYPT_ATTR_BLOB values[] = {{sizeof garbage, garbage}, {sizeof empty, empty}, {0, nullptr}};
    char legacy[] = "1.2.840.113549.1.9.6";
    char rfc3161[] = "1.3.6.1.4.1.311.3.3.1";
    CRYPT_ATTRIBUTE attributes[] = {{legacy, 3, values}, {rfc3161, 3, values}, {nullptr, 3, values}, {legacy, 2, nullptr}};
    CMSG_SIGNER_INFO info{};
    info.UnauthAttrs = {4, attributes};
    info.AuthAttrs = {2, nullptr}; // counts without arrays

    auto source = std::make_shared<SignerSource>();
    source->Info = &info;
    const SignerInfo signer = SignerInfo::Read(source);
    EXPECT_TRUE(signer.CounterSigners().empty());
    EXPECT_TRUE(signer.Name().isEmpty());
    EXPECT_FALSE(signer.SigningTime());
    EXPECT_FALSE(signer.Details().empty());
}

} // namespace
