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
