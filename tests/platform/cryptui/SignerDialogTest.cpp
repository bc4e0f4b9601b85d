// CryptUIDlgViewSignerInfoW as the program calls it: the signer of a message (an S/MIME message and
// a signed executable's signature) in a modal dialog that opens the signer's certificate, and the
// counter-signers that open as signers of their own.
#include "platform/cryptui/Crypto.h"

#include "tests/platform/cryptui/CryptUITestSupport.h"
#include "tests/support/QtApplication.h"
#include "tests/support/TestSupport.h"

#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace cryptuitest;

namespace {

class SignerDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testsupport::Application(); }

    // Opens the message and fills the call's structure for its first signer.
    void Open(const std::vector<uint8_t>& der)
    {
        FMessage = OpenMessage(der);
        ASSERT_TRUE(FMessage);
        FSigner = SignerInfoOf(FMessage.get());
        FView = {};
        FView.dwSize = sizeof FView;
        FView.pSignerInfo = const_cast<CMSG_SIGNER_INFO*>(FSigner.As<CMSG_SIGNER_INFO>());
        FView.hMsg = FMessage.get();
        FView.pszOID = "1.3.6.1.5.5.7.3.3";
    }

    MessagePtr FMessage;
    cryptui::FlatBuffer FSigner;
    CRYPTUI_VIEWSIGNERINFO_STRUCTW FView{};
};

TEST_F(SignerDialogTest, ShowsTheSignerAndOpensItsCertificate)
{
    const TrustStore trust(TestRoot());
    Open(testsupport::ReadBytes(SharedFixture("certs/signed-data.p7")));
    QWidget owner;
    owner.show();
    FView.hwndParent = reinterpret_cast<HWND>(&owner);
    bool returned = false;
    bool certificateSeen = false;
    ModalHandler handler([&](QDialog& dialog) {
        EXPECT_FALSE(returned);
        EXPECT_TRUE(dialog.isModal());
        EXPECT_EQ(dialog.parentWidget(), &owner);
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Digital Signature Details"));
        EXPECT_EQ(TextOf(dialog, QStringLiteral("signerName")), QStringLiteral("Tessera Test Code Signing"));
        EXPECT_EQ(TextOf(dialog, QStringLiteral("signerEmail")), QStringLiteral("Not available"));
        EXPECT_EQ(TextOf(dialog, QStringLiteral("digestAlgorithm")), QStringLiteral("sha256"));
        EXPECT_EQ(TextOf(dialog, QStringLiteral("signatureStatus")), QStringLiteral("The signer's certificate is OK."));
        ModalHandler certificate(
            [&](QDialog& further) {
                certificateSeen = true;
                EXPECT_TRUE(further.isModal());
                EXPECT_EQ(TextOf(further, QStringLiteral("issuedTo")), QStringLiteral("Tessera Test Code Signing"));
                // The message's certificates make up its path.
                auto* path = further.findChild<QTreeWidget*>(QStringLiteral("pathTree"));
                ASSERT_NE(path, nullptr);
                ASSERT_EQ(path->topLevelItemCount(), 1);
                EXPECT_EQ(path->topLevelItem(0)->text(0), QStringLiteral("Tessera Test Root CA"));
            },
            &dialog);
        Click(dialog, QStringLiteral("viewCertificate"));
        EXPECT_TRUE(certificate.Handled());
    });
    EXPECT_TRUE(CryptUIDlgViewSignerInfoW(&FView));
    returned = true;
    EXPECT_TRUE(handler.Handled());
    EXPECT_TRUE(certificateSeen);
}

TEST_F(SignerDialogTest, ShowsTheSignerOfASignedExecutable)
{
    const std::vector<uint8_t> signature = ExecutableSignature(SharedFixture("pe/signed.exe"));
    ASSERT_FALSE(signature.empty());
    Open(signature);
    bool certificateSeen = false;
    ModalHandler handler([&](QDialog& dialog) {
        EXPECT_EQ(TextOf(dialog, QStringLiteral("signerName")), QStringLiteral("Tessera Fixture Code Signing"));
        auto* counters = dialog.findChild<QTreeWidget*>(QStringLiteral("counterSigners"));
        ASSERT_NE(counters, nullptr);
        EXPECT_EQ(counters->topLevelItemCount(), 0);
        ModalHandler certificate(
            [&](QDialog& further) {
                certificateSeen = true;
                EXPECT_EQ(TextOf(further, QStringLiteral("issuedTo")), QStringLiteral("Tessera Fixture Code Signing"));
            },
            &dialog);
        Click(dialog, QStringLiteral("viewCertificate"));
    });
    EXPECT_TRUE(CryptUIDlgViewSignerInfoW(&FView));
    EXPECT_TRUE(handler.Handled());
    EXPECT_TRUE(certificateSeen);
}

TEST_F(SignerDialogTest, ListsCounterSignersAndOpensThem)
{
    for (const char* file : {"countersigned.p7", "rfc3161-timestamped.p7"}) {
        SCOPED_TRACE(file);
        Open(testsupport::ReadBytes(DialogFixture(file)));
        bool counterSeen = false;
        ModalHandler handler([&](QDialog& dialog) {
            const QString signingTime = TextOf(dialog, QStringLiteral("signingTime"));
            EXPECT_TRUE(signingTime.contains(QStringLiteral("2024")) && signingTime.contains(QStringLiteral("07:08:09")))
                << signingTime.toStdString();
            auto* counters = dialog.findChild<QTreeWidget*>(QStringLiteral("counterSigners"));
            ASSERT_NE(counters, nullptr);
            ASSERT_EQ(counters->topLevelItemCount(), 1);
            EXPECT_EQ(counters->topLevelItem(0)->text(0), QStringLiteral("Tessera Test Time Stamping"));
            EXPECT_EQ(counters->topLevelItem(0)->text(2), signingTime);
            counters->setCurrentItem(counters->topLevelItem(0));
            ModalHandler counter(
                [&](QDialog& further) {
                    counterSeen = true;
                    EXPECT_EQ(TextOf(further, QStringLiteral("signerName")), QStringLiteral("Tessera Test Time Stamping"));
                },
                &dialog);
            Click(dialog, QStringLiteral("counterSignerDetails"));
        });
        EXPECT_TRUE(CryptUIDlgViewSignerInfoW(&FView));
        EXPECT_TRUE(handler.Handled());
        EXPECT_TRUE(counterSeen);
    }
}

// A verification's chain as WinVerifyTrust leaves it: the signer's certificate revoked (its list's
// entry at hand), the intermediate's revocation unknown for want of a list, the root fine.
struct JudgedVerification {
    std::vector<CertContextPtr> Certificates; // the signer's certificate first
    CRL_ENTRY Entry{};
    CERT_REVOCATION_CRL_INFO CrlInfo{};
    CERT_REVOCATION_INFO Revoked{};
    CERT_REVOCATION_INFO Offline{};
    CERT_CHAIN_ELEMENT Elements[3]{};
    PCERT_CHAIN_ELEMENT ElementPointers[3]{};
    CERT_SIMPLE_CHAIN Simple{};
    PCERT_SIMPLE_CHAIN SimplePointer = &Simple;
    CERT_CHAIN_CONTEXT Context{};
    CRYPT_PROVIDER_SGNR Signer{};
    CRYPT_PROVIDER_DATA Data{};
};

TEST_F(SignerDialogTest, ShowsTheChainAsTheVerificationJudgedIt)
{
    // Nothing in the trust store: what is shown is the verification's account, not judged anew.
    const TrustStore trust(NoTrust());
    Open(testsupport::ReadBytes(SharedFixture("certs/signed-data.p7")));
    JudgedVerification judged;
    const StorePtr store(CertOpenStore(CERT_STORE_PROV_MSG, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, FMessage.get()));
    for (const char* name : {"Tessera Test Code Signing", "Tessera Test Intermediate CA", "Tessera Test Root CA"}) {
        for (PCCERT_CONTEXT cert = nullptr; (cert = CertEnumCertificatesInStore(store.get(), cert)) != nullptr;) {
            WCHAR text[128] = {};
            CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, text, 128);
            if (QString::fromUtf16(text) == QLatin1String(name)) {
                judged.Certificates.emplace_back(CertDuplicateCertificateContext(cert));
                CertFreeCertificateContext(cert);
                break;
            }
        }
    }
    ASSERT_EQ(judged.Certificates.size(), 3u);
    judged.Entry.RevocationDate = {0xEE715000, 0x01DB52C5}; // 2024-12-20 10:00:00 UTC
    judged.CrlInfo = {sizeof(CERT_REVOCATION_CRL_INFO), nullptr, nullptr, &judged.Entry, FALSE};
    judged.Revoked = {sizeof(CERT_REVOCATION_INFO), static_cast<DWORD>(CRYPT_E_REVOKED), nullptr, nullptr, FALSE, 0, &judged.CrlInfo};
    judged.Offline = {sizeof(CERT_REVOCATION_INFO), static_cast<DWORD>(CRYPT_E_REVOCATION_OFFLINE), nullptr, nullptr, FALSE, 0, nullptr};
    const DWORD errors[3] = {CERT_TRUST_IS_REVOKED, CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION, 0};
    const PCERT_REVOCATION_INFO revocation[3] = {&judged.Revoked, &judged.Offline, nullptr};
    for (int i = 0; i < 3; ++i) {
        judged.Elements[i].cbSize = sizeof(CERT_CHAIN_ELEMENT);
        judged.Elements[i].pCertContext = judged.Certificates[static_cast<size_t>(i)].get();
        judged.Elements[i].TrustStatus.dwErrorStatus = errors[i];
        judged.Elements[i].pRevocationInfo = revocation[i];
        judged.ElementPointers[i] = &judged.Elements[i];
    }
    judged.Simple = {sizeof(CERT_SIMPLE_CHAIN), {errors[0] | errors[1], 0}, 3, judged.ElementPointers, nullptr, FALSE, 0};
    judged.Context.cbSize = sizeof(CERT_CHAIN_CONTEXT);
    judged.Context.TrustStatus = judged.Simple.TrustStatus;
    judged.Context.cChain = 1;
    judged.Context.rgpChain = &judged.SimplePointer;
    judged.Signer.cbStruct = sizeof(CRYPT_PROVIDER_SGNR);
    judged.Signer.sftVerifyAsOf = {0x9672D280, 0x01DAD105}; // 2024-07-08 07:08:09 UTC
    judged.Signer.psSigner = FView.pSignerInfo;
    judged.Signer.pChainContext = &judged.Context;
    judged.Data.cbStruct = sizeof(CRYPT_PROVIDER_DATA);
    judged.Data.csSigners = 1;
    judged.Data.pasSigners = &judged.Signer;
    FView.dwFlags = CRYPTUI_TESSERA_SIGNER_PROVIDER_DATA;
    FView.dwReserved = reinterpret_cast<DWORD_PTR>(&judged.Data);

    bool pathSeen = false;
    ModalHandler handler([&](QDialog& dialog) {
        EXPECT_EQ(TextOf(dialog, QStringLiteral("signatureStatus")),
                  QStringLiteral("The signer's certificate or one in its chain has been revoked by its certification authority."));
        const QString judgedAt = TextOf(dialog, QStringLiteral("judgedAt"));
        EXPECT_TRUE(judgedAt.startsWith(QStringLiteral("Judged at: ")) && judgedAt.contains(QStringLiteral("2024")) &&
                    judgedAt.contains(QStringLiteral("07:08:09")))
            << judgedAt.toStdString();
        auto* chain = dialog.findChild<QTreeWidget*>(QStringLiteral("judgedChain"));
        ASSERT_NE(chain, nullptr);
        ASSERT_EQ(chain->topLevelItemCount(), 3);
        const std::vector<std::pair<QString, QString>> rows = {
            {QStringLiteral("Tessera Test Code Signing"),
             QStringLiteral("This certificate has been revoked by its certification authority.")},
            {QStringLiteral("Tessera Test Intermediate CA"), QStringLiteral("This certificate is OK.")},
            {QStringLiteral("Tessera Test Root CA"), QStringLiteral("This certificate is OK.")},
        };
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(chain->topLevelItem(i)->text(0), rows[static_cast<size_t>(i)].first);
            EXPECT_EQ(chain->topLevelItem(i)->text(1), rows[static_cast<size_t>(i)].second);
        }
        // The whole account: when it was revoked, and why the intermediate's revocation is unknown.
        EXPECT_TRUE(chain->topLevelItem(0)->toolTip(1).contains(QStringLiteral("It was revoked on ")));
        EXPECT_TRUE(chain->topLevelItem(1)->toolTip(1).endsWith(
            QStringLiteral("Its revocation could not be checked: the revocation list could not be had.")));
        // The certificate's own dialog shows the same path rather than a new one.
        ModalHandler certificate(
            [&](QDialog& further) {
                pathSeen = true;
                EXPECT_TRUE(TextOf(further, QStringLiteral("generalStatus")).contains(QStringLiteral("revoked")))
                    << TextOf(further, QStringLiteral("generalStatus")).toStdString();
                EXPECT_TRUE(TextOf(further, QStringLiteral("pathStatus"))
                                .startsWith(QStringLiteral("This certificate has been revoked by its certification authority.")));
            },
            &dialog);
        Click(dialog, QStringLiteral("viewCertificate"));
    });
    EXPECT_TRUE(CryptUIDlgViewSignerInfoW(&FView));
    EXPECT_TRUE(handler.Handled());
    EXPECT_TRUE(pathSeen);
}

TEST_F(SignerDialogTest, ShowsWhatItHasWhenTheCertificateIsMissing)
{
    Open(testsupport::ReadBytes(DialogFixture("signed-nocerts.p7")));
    ModalHandler handler([&](QDialog& dialog) {
        EXPECT_EQ(TextOf(dialog, QStringLiteral("signerName")), QStringLiteral("Not available"));
        auto* view = dialog.findChild<QPushButton*>(QStringLiteral("viewCertificate"));
        ASSERT_NE(view, nullptr);
        EXPECT_FALSE(view->isEnabled());
    });
    EXPECT_TRUE(CryptUIDlgViewSignerInfoW(&FView));
    EXPECT_TRUE(handler.Handled());
}

TEST_F(SignerDialogTest, RefusesIncompleteCalls)
{
    Open(testsupport::ReadBytes(SharedFixture("certs/signed-data.p7")));
    CRYPTUI_VIEWSIGNERINFO_STRUCTW wrongSize = FView;
    wrongSize.dwSize = sizeof wrongSize + 4;
    CRYPTUI_VIEWSIGNERINFO_STRUCTW noSigner = FView;
    noSigner.pSignerInfo = nullptr;
    CRYPTUI_VIEWSIGNERINFO_STRUCTW noStores = FView;
    noStores.cStores = 1;
    for (const CRYPTUI_VIEWSIGNERINFO_STRUCTW* view : {&wrongSize, &noSigner, &noStores,
                                                       static_cast<CRYPTUI_VIEWSIGNERINFO_STRUCTW*>(nullptr)}) {
        SetLastError(0);
        EXPECT_FALSE(CryptUIDlgViewSignerInfoW(view));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
    }
}

} // namespace
