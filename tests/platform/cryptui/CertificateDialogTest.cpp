// CryptUIDlgViewCertificateW as the program calls it: a modal dialog that returns when closed, its
// General, Details and Certification Path pages, and the calls it refuses.
#include "platform/cryptui/Crypto.h"

#include "tests/platform/cryptui/CryptUITestSupport.h"
#include "tests/support/QtApplication.h"

#include <QApplication>
#include <QDate>
#include <QLocale>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>

using namespace cryptuitest;

namespace {

constexpr DWORD HideHierarchyPage = 0x1;
constexpr DWORD HideDetailPage = 0x2;

class CertificateDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testsupport::Application(); }

    void SetUp() override
    {
        FStore = OpenFileStore(SharedFixture("certs/three.p7b"));
        ASSERT_TRUE(FStore);
        FLeaf = FirstCertificate(FStore.get());
        ASSERT_TRUE(FLeaf);
    }

    [[nodiscard]] CRYPTUI_VIEWCERTIFICATE_STRUCTW View(PCCERT_CONTEXT certificate) const
    {
        CRYPTUI_VIEWCERTIFICATE_STRUCTW view{};
        view.dwSize = sizeof view;
        view.pCertContext = certificate;
        return view;
    }

    StorePtr FStore;
    CertContextPtr FLeaf; // the first certificate of three.p7b: leaf.tessera.test
};

QTreeWidget* List(QDialog& dialog, const char* name)
{
    return dialog.findChild<QTreeWidget*>(QString::fromLatin1(name));
}

TEST_F(CertificateDialogTest, ShowsTheCertificateModallyUntilClosed)
{
    QWidget owner;
    owner.show();
    CRYPTUI_VIEWCERTIFICATE_STRUCTW view = View(FLeaf.get());
    view.hwndParent = reinterpret_cast<HWND>(&owner);
    bool returned = false;
    ModalHandler handler([&](QDialog& dialog) {
        EXPECT_FALSE(returned);
        EXPECT_TRUE(dialog.isModal());
        EXPECT_EQ(dialog.parentWidget(), &owner);
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Certificate"));

        EXPECT_EQ(TextOf(dialog, QStringLiteral("issuedTo")), QStringLiteral("leaf.tessera.test"));
        EXPECT_EQ(TextOf(dialog, QStringLiteral("issuedBy")), QStringLiteral("Tessera Test Intermediate CA"));
        EXPECT_EQ(TextOf(dialog, QStringLiteral("validFrom")), QLocale().toString(QDate(2019, 1, 1), QLocale::ShortFormat));
        EXPECT_EQ(TextOf(dialog, QStringLiteral("validTo")), QLocale().toString(QDate(2150, 1, 1), QLocale::ShortFormat));
        EXPECT_TRUE(TextOf(dialog, QStringLiteral("purposes")).contains(QStringLiteral("Server Authentication")));

        ASSERT_NE(List(dialog, "detailsList"), nullptr);
        QTreeWidget& details = *List(dialog, "detailsList");
        const auto rows = Rows(details);
        EXPECT_EQ(rows.at(QStringLiteral("Subject")), QStringLiteral("leaf.tessera.test, Tessera Test, DE"));
        EXPECT_EQ(rows.at(QStringLiteral("Issuer")), QStringLiteral("Tessera Test Intermediate CA, Tessera Test, DE"));
        EXPECT_TRUE(rows.at(QStringLiteral("Valid from")).contains(QStringLiteral("2019")));
        EXPECT_TRUE(rows.at(QStringLiteral("Valid to")).contains(QStringLiteral("2150")));
        // Every extension of the certificate, decoded.
        EXPECT_EQ(rows.at(QStringLiteral("Key Usage")), QStringLiteral("Digital Signature, Key Encipherment (a0)"));
        EXPECT_EQ(rows.at(QStringLiteral("Enhanced Key Usage")),
                  QStringLiteral("Server Authentication (1.3.6.1.5.5.7.3.1), Client Authentication (1.3.6.1.5.5.7.3.2)"));
        EXPECT_EQ(rows.at(QStringLiteral("Subject Alternative Name")), QStringLiteral("DNS Name=leaf.tessera.test"));
        int extensions = 0;
        for (int i = 0; i < details.topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = details.topLevelItem(i);
            const QString name = item->text(0);
            if (name == QLatin1String("Key Usage") || name == QLatin1String("Enhanced Key Usage") ||
                name == QLatin1String("Subject Alternative Name"))
                ++extensions;
            // The selected field's whole value is shown below the list.
            if (name == QLatin1String("Enhanced Key Usage")) {
                details.setCurrentItem(item);
                EXPECT_EQ(TextOf(dialog, QStringLiteral("detailsValue")),
                          QStringLiteral("Server Authentication (1.3.6.1.5.5.7.3.1)\nClient Authentication (1.3.6.1.5.5.7.3.2)"));
            }
        }
        EXPECT_EQ(extensions, 3);
    });
    BOOL changed = TRUE;
    EXPECT_TRUE(CryptUIDlgViewCertificateW(&view, &changed));
    returned = true;
    EXPECT_TRUE(handler.Handled());
    EXPECT_FALSE(changed);
}

// The path from the root down; the certificates come from the stores given and the trust store.
TEST_F(CertificateDialogTest, ShowsTheTrustedPathFromTheRootDown)
{
    const TrustStore trust(TestRoot());
    // A context of its own, so that the chain comes from rghStores and not from its store.
    const CertContextPtr alone(CertCreateCertificateContext(X509_ASN_ENCODING, FLeaf->pbCertEncoded, FLeaf->cbCertEncoded));
    ASSERT_TRUE(alone);
    CRYPTUI_VIEWCERTIFICATE_STRUCTW view = View(alone.get());
    HCERTSTORE stores[] = {FStore.get()};
    view.cStores = 1;
    view.rghStores = stores;
    ModalHandler handler([&](QDialog& dialog) {
        ASSERT_NE(List(dialog, "pathTree"), nullptr);
        QTreeWidget& path = *List(dialog, "pathTree");
        ASSERT_EQ(path.topLevelItemCount(), 1);
        QTreeWidgetItem* root = path.topLevelItem(0);
        EXPECT_EQ(root->text(0), QStringLiteral("Tessera Test Root CA"));
        ASSERT_EQ(root->childCount(), 1);
        QTreeWidgetItem* intermediate = root->child(0);
        EXPECT_EQ(intermediate->text(0), QStringLiteral("Tessera Test Intermediate CA"));
        ASSERT_EQ(intermediate->childCount(), 1);
        QTreeWidgetItem* leaf = intermediate->child(0);
        EXPECT_EQ(leaf->text(0), QStringLiteral("leaf.tessera.test"));
        EXPECT_EQ(leaf->childCount(), 0);
        EXPECT_EQ(path.currentItem(), leaf);
        for (QTreeWidgetItem* item : {root, intermediate, leaf}) {
            path.setCurrentItem(item);
            EXPECT_EQ(TextOf(dialog, QStringLiteral("pathStatus")), QStringLiteral("This certificate is OK."))
                << item->text(0).toStdString();
        }
        EXPECT_EQ(TextOf(dialog, QStringLiteral("generalStatus")), QStringLiteral("This certificate is OK."));
    });
    EXPECT_TRUE(CryptUIDlgViewCertificateW(&view, nullptr));
    EXPECT_TRUE(handler.Handled());
}

TEST_F(CertificateDialogTest, SaysTheRootIsNotTrustedWithoutIt)
{
    const TrustStore trust(NoTrust());
    // The certificate's own store holds the chain.
    CRYPTUI_VIEWCERTIFICATE_STRUCTW view = View(FLeaf.get());
    ModalHandler handler([&](QDialog& dialog) {
        EXPECT_TRUE(TextOf(dialog, QStringLiteral("generalStatus")).contains(QStringLiteral("not trusted")));
        ASSERT_NE(List(dialog, "pathTree"), nullptr);
        QTreeWidget& path = *List(dialog, "pathTree");
        ASSERT_EQ(path.topLevelItemCount(), 1);
        QTreeWidgetItem* root = path.topLevelItem(0);
        EXPECT_EQ(root->text(0), QStringLiteral("Tessera Test Root CA"));
        EXPECT_FALSE(root->icon(0).isNull());
        path.setCurrentItem(root);
        EXPECT_TRUE(TextOf(dialog, QStringLiteral("pathStatus")).contains(QStringLiteral("root certificate is not trusted")));
    });
    EXPECT_TRUE(CryptUIDlgViewCertificateW(&view, nullptr));
    EXPECT_TRUE(handler.Handled());
}

TEST_F(CertificateDialogTest, OpensACertificateOfThePathInAFurtherDialog)
{
    const TrustStore trust(TestRoot());
    CRYPTUI_VIEWCERTIFICATE_STRUCTW view = View(FLeaf.get());
    bool innerSeen = false;
    ModalHandler handler([&](QDialog& dialog) {
        ASSERT_NE(List(dialog, "pathTree"), nullptr);
        QTreeWidget& path = *List(dialog, "pathTree");
        ASSERT_EQ(path.topLevelItemCount(), 1);
        // The certificate on show needs no further dialog.
        EXPECT_FALSE(dialog.findChild<QPushButton*>(QStringLiteral("viewCertificate"))->isEnabled());
        path.setCurrentItem(path.topLevelItem(0)->child(0));
        ModalHandler inner(
            [&](QDialog& further) {
                innerSeen = true;
                EXPECT_TRUE(further.isModal());
                EXPECT_EQ(TextOf(further, QStringLiteral("issuedTo")), QStringLiteral("Tessera Test Intermediate CA"));
                EXPECT_EQ(TextOf(further, QStringLiteral("issuedBy")), QStringLiteral("Tessera Test Root CA"));
                // Its own path: the intermediate under the root.
                ASSERT_NE(List(further, "pathTree"), nullptr);
                QTreeWidget& furtherPath = *List(further, "pathTree");
                ASSERT_EQ(furtherPath.topLevelItemCount(), 1);
                EXPECT_EQ(furtherPath.topLevelItem(0)->childCount(), 1);
            },
            &dialog);
        Click(dialog, QStringLiteral("viewCertificate"));
        EXPECT_TRUE(inner.Handled());
    });
    EXPECT_TRUE(CryptUIDlgViewCertificateW(&view, nullptr));
    EXPECT_TRUE(handler.Handled());
    EXPECT_TRUE(innerSeen);
}

struct PagesCase {
    DWORD Flags;
    DWORD StartPage;
    std::vector<const char*> Tabs;
    int Current;
};

TEST_F(CertificateDialogTest, LeavesOutPagesAndStartsWhereAsked)
{
    const PagesCase cases[] = {
        {0, 0, {"General", "Details", "Certification Path"}, 0},
        {0, 2, {"General", "Details", "Certification Path"}, 2},
        {HideDetailPage, 1, {"General", "Certification Path"}, 1},
        {HideHierarchyPage | HideDetailPage, 0, {"General"}, 0},
        {HideHierarchyPage, 7, {"General", "Details"}, 0},
    };
    for (const PagesCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "flags " << c.Flags << " start " << c.StartPage);
        CRYPTUI_VIEWCERTIFICATE_STRUCTW view = View(FLeaf.get());
        view.dwFlags = c.Flags;
        view.nStartPage = c.StartPage;
        view.szTitle = u"Signer's certificate";
        ModalHandler handler([&](QDialog& dialog) {
            EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Signer's certificate"));
            auto* pages = dialog.findChild<QTabWidget*>(QStringLiteral("pages"));
            ASSERT_NE(pages, nullptr);
            ASSERT_EQ(pages->count(), static_cast<int>(c.Tabs.size()));
            for (int i = 0; i < pages->count(); ++i)
                EXPECT_EQ(pages->tabText(i).toStdString(), c.Tabs[static_cast<size_t>(i)]);
            EXPECT_EQ(pages->currentIndex(), c.Current);
        });
        EXPECT_TRUE(CryptUIDlgViewCertificateW(&view, nullptr));
        EXPECT_TRUE(handler.Handled());
    }
}

// Closes any dialog that opens and remembers that one did.
class NoDialogExpected {
public:
    NoDialogExpected()
    {
        FTimer.setInterval(10);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                FOpened = true;
                dialog->done(QDialog::Rejected);
            }
        });
        FTimer.start();
    }
    [[nodiscard]] bool Opened() const { return FOpened; }

private:
    QTimer FTimer;
    bool FOpened = false;
};

TEST_F(CertificateDialogTest, RefusesWhatItCannotShow)
{
    uint8_t noise[] = {0x30, 0x03, 0x02, 0x01, 0x05};
    CERT_CONTEXT notACertificate{X509_ASN_ENCODING, noise, sizeof noise, nullptr, nullptr};
    CERT_CONTEXT empty{X509_ASN_ENCODING, nullptr, 0, nullptr, nullptr};

    struct Case {
        const char* Name;
        std::function<void(CRYPTUI_VIEWCERTIFICATE_STRUCTW&)> Change;
        DWORD Error;
    };
    const Case cases[] = {
        {"size", [](auto& v) { v.dwSize -= 1; }, static_cast<DWORD>(E_INVALIDARG)},
        {"no certificate", [](auto& v) { v.pCertContext = nullptr; }, static_cast<DWORD>(E_INVALIDARG)},
        {"no bytes", [&](auto& v) { v.pCertContext = &empty; }, static_cast<DWORD>(E_INVALIDARG)},
        {"stores missing", [](auto& v) { v.cStores = 2; }, static_cast<DWORD>(E_INVALIDARG)},
        {"not a certificate", [&](auto& v) { v.pCertContext = &notACertificate; }, static_cast<DWORD>(CRYPT_E_ASN1_BADTAG)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CRYPTUI_VIEWCERTIFICATE_STRUCTW view = View(FLeaf.get());
        c.Change(view);
        const NoDialogExpected guard;
        BOOL changed = TRUE;
        SetLastError(0);
        EXPECT_FALSE(CryptUIDlgViewCertificateW(&view, &changed));
        EXPECT_EQ(GetLastError(), c.Error);
        EXPECT_FALSE(changed);
        EXPECT_FALSE(guard.Opened());
    }
    SetLastError(0);
    EXPECT_FALSE(CryptUIDlgViewCertificateW(nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
}

// The program binds the dialogs by module and function name.
TEST_F(CertificateDialogTest, IsBoundByItsWindowsNames)
{
    const HMODULE module = LoadLibraryW(u"Cryptui.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(module, "CryptUIDlgViewCertificateW")),
              reinterpret_cast<void*>(&CryptUIDlgViewCertificateW));
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(module, "CryptUIDlgViewSignerInfoW")),
              reinterpret_cast<void*>(&CryptUIDlgViewSignerInfoW));
}

} // namespace
