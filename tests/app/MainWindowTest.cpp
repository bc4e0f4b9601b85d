// The main window on the offscreen platform: its controls, their layout, the ways a file is chosen.
#include "about/ProgramVersion.h"
#include "app/Main.h"
#include "app/PwdDlg.h"
#include "fileinfo/KavexShell.h"
#include "support/FileName.h"
#include "tests/support/OtherIdentity.h"
#include "tests/support/QtApplication.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestSupport.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QTreeWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const auto& App = Application();

QString Path(const std::filesystem::path& p)
{
    return QString::fromStdString(p.string());
}

// Hands a drop to the window as the window system does once the platform's drag manager has
// found its target.
void Deliver(QWidget& window, QDropEvent& drop)
{
    static_cast<QObject&>(window).event(&drop);
}

// Answers the next modal dialog once it is shown.
template <typename Answer>
void WhenModal(Answer answer)
{
    QTimer::singleShot(0, [answer] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal)
            answer(modal);
    });
}

TEST(MainWindow, ControlsAtTheirDesignPlaces)
{
    TwndMain w({QStringLiteral("tessera")});
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Tessera"));
    EXPECT_EQ(w.size(), QSize(726, 416));
    EXPECT_EQ(w.eFile->geometry(), QRect(60, 16, 562, 21));
    EXPECT_EQ(w.bOpen->geometry(), QRect(628, 14, 75, 25));
    EXPECT_EQ(w.Image->geometry(), QRect(19, 66, 32, 32));
    EXPECT_EQ(w.Memo->geometry(), QRect(60, 66, 643, 304));
    EXPECT_EQ(w.bExport->geometry(), QRect(291, 381, 122, 25));
    EXPECT_EQ(w.bProps->geometry(), QRect(453, 381, 122, 25));
    EXPECT_EQ(w.bView->geometry(), QRect(581, 381, 122, 25));
    EXPECT_EQ(w.cbxShell->geometry().topLeft(), QPoint(60, 385));
    // A right-aligned label keeps its right edge and grows to the left when its text needs it.
    EXPECT_EQ(w.Label1->geometry().right(), 50);
    EXPECT_EQ(w.Label1->text(), QStringLiteral("File:"));
    EXPECT_EQ(w.lType->geometry().left(), 60);
    EXPECT_TRUE(w.lType->font().bold());

    EXPECT_EQ(w.bOpen->text(), QStringLiteral("Open..."));
    EXPECT_EQ(w.bExport->text(), QStringLiteral("Export to..."));
    EXPECT_EQ(w.bProps->text(), QStringLiteral("File properties..."));
    EXPECT_EQ(w.bView->text(), QStringLiteral("View certificate..."));
    EXPECT_EQ(w.cbxShell->text(), QStringLiteral("Shell Integration"));
    EXPECT_TRUE(w.eFile->isReadOnly());
    EXPECT_TRUE(w.Memo->isReadOnly());
    EXPECT_EQ(w.Memo->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(w.Memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(w.Memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    for (QWidget* c : std::initializer_list<QWidget*>{w.bOpen, w.Image, w.bExport, w.bProps, w.bView, w.cbxShell})
        EXPECT_EQ(c->cursor().shape(), Qt::PointingHandCursor) << c->metaObject()->className();
    EXPECT_FALSE(w.Image->pixmap().isNull());
}

TEST(MainWindow, StartsEmptyWithTheLowerButtonsDisabled)
{
    TwndMain w({QStringLiteral("tessera")});
    w.show();
    EXPECT_TRUE(w.eFile->text().isEmpty());
    EXPECT_TRUE(w.lType->text().isEmpty());
    EXPECT_TRUE(w.Memo->toPlainText().isEmpty());
    EXPECT_FALSE(w.bExport->isEnabled());
    EXPECT_FALSE(w.bProps->isEnabled());
    EXPECT_FALSE(w.bView->isEnabled());
    EXPECT_EQ(w.focusWidget(), w.bOpen);
}

TEST(MainWindow, TabOrder)
{
    TwndMain w({QStringLiteral("tessera")});
    const std::vector<QWidget*> order = {w.eFile, w.bOpen, w.Memo, w.bExport, w.bProps, w.bView, w.cbxShell};
    for (size_t i = 0; i + 1 < order.size(); ++i) {
        QWidget* next = order[i]->nextInFocusChain();
        while (next != order[i + 1] && !(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        EXPECT_EQ(next, order[i + 1]) << i;
    }
}

TEST(MainWindow, OpenDialogFilterKeepsItsText)
{
    EXPECT_STREQ(OpenDialogFilter,
                 "Supported files|*.exe;*.dll;*.sys;*.ocx;;*.acm;*.ax;*.cpl;*.scr;*.drv;*.tsp;*.rll;*.rs;*.tlb;*.pem;"
                 "*.crt;*.cer;*.p7b;*.p7c;*.der;*.pfx;*.p12;*.msi|Portable executables|*.exe;*.dll;*.sys;*.ocx;*.acm;"
                 "*.ax;*.cpl;*.scr;*.drv;*.tsp;*.rll;*.rs;*.tlb|Certificates|*.pem;*.crt;*.cer;*.p7b;*.p7c;*.der;*.pfx;"
                 "*.p12|Installers|*.msi|All Files|*.*");
    TwndMain w({QStringLiteral("tessera")});
    const QStringList filters = w.od()->nameFilters();
    ASSERT_EQ(filters.size(), 5);
    // The empty pattern of the doubled ";" has no form in the dialog's list.
    EXPECT_TRUE(filters[0].startsWith(QStringLiteral("Supported files (*.exe *.dll *.sys *.ocx *.acm *.ax"))) << filters[0].toStdString();
    EXPECT_TRUE(filters[0].endsWith(QStringLiteral("*.pfx *.p12 *.msi)"))) << filters[0].toStdString();
    EXPECT_EQ(filters[3], QStringLiteral("Installers (*.msi)"));
    EXPECT_EQ(filters[4], QStringLiteral("All Files (*)"));
}

TEST(MainWindow, ResizingFollowsTheAnchors)
{
    TwndMain w({QStringLiteral("tessera")});
    w.show();
    w.resize(826, 516);
    EXPECT_EQ(w.eFile->geometry(), QRect(60, 16, 662, 21));
    EXPECT_EQ(w.bOpen->geometry(), QRect(728, 14, 75, 25));
    EXPECT_EQ(w.Image->geometry(), QRect(19, 66, 32, 32));
    EXPECT_EQ(w.Memo->geometry(), QRect(60, 66, 743, 404));
    EXPECT_EQ(w.bExport->geometry(), QRect(391, 481, 122, 25));
    EXPECT_EQ(w.bProps->geometry(), QRect(553, 481, 122, 25));
    EXPECT_EQ(w.bView->geometry(), QRect(681, 481, 122, 25));
    EXPECT_EQ(w.cbxShell->geometry().topLeft(), QPoint(60, 485));
}

TEST(MainWindow, OnlyTheFirstArgumentIsInspected)
{
    TempDir dir;
    WriteText(dir / "first.txt", "text");
    WriteText(dir / "second.exe", "MZ");
    TwndMain w({QStringLiteral("tessera"), Path(dir / "first.txt"), Path(dir / "second.exe")});
    w.show();
    EXPECT_EQ(w.eFile->text(), Path(dir / "first.txt"));
    EXPECT_EQ(w.ReportLines(), QStringList{QStringLiteral("File type is not supported")});
    EXPECT_TRUE(w.bProps->isEnabled());
    EXPECT_FALSE(w.bView->isEnabled());
}

TEST(MainWindow, DroppedFilesInspectTheFirst)
{
    TempDir dir;
    QList<QUrl> urls;
    for (const char* name : {"one.exe", "two.txt", "three.cer"}) {
        WriteText(dir / name, "MZ");
        urls.append(QUrl::fromLocalFile(Path(dir / name)));
    }
    TwndMain w({QStringLiteral("tessera")});
    w.show();
    QMimeData data;
    data.setUrls(urls);
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    Deliver(w, drop);
    EXPECT_EQ(w.eFile->text(), Path(dir / "one.exe"));
    EXPECT_EQ(w.ReportLines().value(7), QStringLiteral("File is not signed"));
}

TEST(MainWindow, CancelledOpenDialogChangesNothing)
{
    TempDir dir;
    WriteText(dir / "container.pfx", "not a container");
    TwndMain w({QStringLiteral("tessera")});
    WhenModal([](QWidget* modal) {
        auto* prompt = qobject_cast<QDialog*>(modal);
        static_cast<TdlgPwd*>(prompt)->ePwd1->setText(QStringLiteral("typed"));
        prompt->accept();
    });
    w.OpenFile(Path(dir / "container.pfx"));
    const QStringList report = w.ReportLines();
    ASSERT_EQ(report, QStringList{QStringLiteral("File contains no certificate or password is not valid")});
    EXPECT_EQ(w.Pwd(), QStringLiteral("typed"));

    WhenModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    w.bOpen->click();
    EXPECT_EQ(w.ReportLines(), report);
    EXPECT_EQ(w.Pwd(), QStringLiteral("typed"));
    EXPECT_EQ(w.eFile->text(), Path(dir / "container.pfx"));
    EXPECT_TRUE(w.bProps->isEnabled());
    EXPECT_FALSE(w.bExport->isEnabled());
}

TEST(MainWindow, OpenDialogInspectsTheChosenFile)
{
    TempDir dir;
    WriteText(dir / "chosen.exe", "MZ");
    TwndMain w({QStringLiteral("tessera")});
    WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->selectedNameFilter(), dialog->nameFilters().first());
        dialog->selectFile(Path(dir / "chosen.exe"));
        QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
    });
    w.bOpen->click();
    EXPECT_EQ(w.eFile->text(), Path(dir / "chosen.exe"));
    EXPECT_EQ(w.ReportLines().size(), 9);
}

// A compound file whose header is all there is to it: recognised, but it cannot be opened.
void WriteBrokenCompoundFile(const std::filesystem::path& path)
{
    std::string bytes("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    bytes += std::string(100, '\x7F');
    WriteText(path, bytes);
}

TEST(MainWindow, ErrorOfAnInspectionIsShownAndTheProgramGoesOn)
{
    TempDir dir;
    WriteBrokenCompoundFile(dir / "broken.doc");
    TwndMain w({QStringLiteral("tessera")});
    QString title, message;
    WhenModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        message = box->text();
        box->accept();
    });
    WriteText(dir / "next.txt", "text");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Path(dir / "broken.doc"))});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    Deliver(w, drop);
    EXPECT_EQ(title, QStringLiteral("Tessera"));
    EXPECT_FALSE(message.isEmpty());
    EXPECT_EQ(w.eFile->text(), Path(dir / "broken.doc"));
    EXPECT_TRUE(w.ReportLines().join(QString()).isEmpty());
    EXPECT_TRUE(w.bProps->isEnabled());
    EXPECT_FALSE(w.bView->isEnabled());

    w.OpenFile(Path(dir / "next.txt"));
    EXPECT_EQ(w.ReportLines(), QStringList{QStringLiteral("File type is not supported")});
}

// The save dialog proposes the inspected file's name with the selected filter's extension, keeps
// the filter from one export to the next, and the filter chosen in it decides the encoding.
TEST(MainWindow, ExportFollowsTheSaveDialogsFilter)
{
    TempDir dir;
    std::filesystem::copy_file(Fixture("certs/three.p7b"), dir / "three.p7b");
    TwndMain w({QStringLiteral("tessera")});
    w.OpenFile(Path(dir / "three.p7b"));
    ASSERT_TRUE(w.bExport->isEnabled());

    QString proposal;
    WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_EQ(dialog, w.sd());
        proposal = dialog->selectedFiles().value(0);
        QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
    });
    w.bExport->click();
    EXPECT_EQ(proposal, Path(dir / "three.pem"));
    EXPECT_EQ(ReadText(dir / "three.pem").rfind("-----BEGIN CERTIFICATE-----\r\n", 0), 0u);
    // What the window writes it reads back.
    const QStringList report = w.ReportLines();
    w.OpenFile(Path(dir / "three.pem"));
    EXPECT_EQ(w.ReportLines(), report);
    w.OpenFile(Path(dir / "three.p7b"));

    // DER chosen in the dialog while the name still says .pem: DER is written under that name.
    WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        dialog->selectNameFilter(dialog->nameFilters().value(1));
        // Typed by the user after choosing the filter (choosing it turned the name's suffix to .der).
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(QStringLiteral("chosen.pem"));
        QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
    });
    w.bExport->click();
    const std::string der = ReadText(dir / "chosen.pem");
    ASSERT_FALSE(der.empty());
    EXPECT_EQ(static_cast<unsigned char>(der[0]), 0x30);
    w.OpenFile(Path(dir / "chosen.pem"));
    EXPECT_EQ(w.ReportLines(), report);
    w.OpenFile(Path(dir / "three.p7b"));

    WhenModal([&](QWidget* modal) {
        proposal = qobject_cast<QFileDialog*>(modal)->selectedFiles().value(0);
        qobject_cast<QDialog*>(modal)->reject();
    });
    w.bExport->click();
    EXPECT_EQ(proposal, Path(dir / "three.der"));
}

// A cabinet, a script and an app package as an executable: View shows the signer, Export writes
// the signature's certificates, and the report of what was written is their blocks.
TEST(MainWindow, SignedContainersViewTheirSignerAndExportItsCertificates)
{
    for (const char* fixture : {"containers/cab/ts.cab", "containers/script/valid.ps1", "containers/appx/valid.msix"}) {
        TempDir dir;
        const std::filesystem::path file = dir / std::filesystem::path(fixture).filename();
        std::filesystem::copy_file(Fixture(fixture), file);
        TwndMain w({QStringLiteral("tessera")});
        w.OpenFile(Path(file));
        ASSERT_TRUE(w.bView->isEnabled()) << fixture;
        ASSERT_TRUE(w.bExport->isEnabled()) << fixture;
        EXPECT_TRUE(w.bProps->isEnabled()) << fixture;

        QString title;
        WhenModal([&](QWidget* modal) {
            title = modal->windowTitle();
            qobject_cast<QDialog*>(modal)->reject();
        });
        w.bView->click();
        EXPECT_EQ(title, QStringLiteral("Digital Signature Details")) << fixture;

        WhenModal([&](QWidget* modal) { QMetaObject::invokeMethod(modal, "accept", Qt::DirectConnection); });
        w.bExport->click();
        const QStringList report = w.ReportLines();
        const qsizetype blocks = report.indexOf(QStringLiteral("Certificate X509 version 3"));
        ASSERT_GT(blocks, 0) << fixture;
        const std::filesystem::path exported = std::filesystem::path(file).replace_extension(".pem");
        ASSERT_TRUE(std::filesystem::exists(exported)) << fixture;
        w.OpenFile(Path(exported));
        EXPECT_EQ(w.ReportLines(), report.mid(blocks)) << fixture;
    }
}

// A driver package: the executable without a signature of its own shows the signer of the catalog
// beside it, and exports the catalog's certificates; away from the catalog it has none.
TEST(MainWindow, ACatalogSignedFileViewsAndExportsTheCatalogsSignature)
{
    TempDir dir;
    for (const char* name : {"tessera.sys", "tessera.cat"})
        std::filesystem::copy_file(Fixture(std::string("containers/driver/") + name), dir / name);
    TwndMain w({QStringLiteral("tessera")});
    w.OpenFile(Path(dir / "tessera.sys"));
    EXPECT_TRUE(w.ReportLines().contains(QStringLiteral("Catalog: tessera.cat")));
    ASSERT_TRUE(w.bView->isEnabled());
    ASSERT_TRUE(w.bExport->isEnabled());

    QString title;
    WhenModal([&](QWidget* modal) {
        title = modal->windowTitle();
        qobject_cast<QDialog*>(modal)->reject();
    });
    w.bView->click();
    EXPECT_EQ(title, QStringLiteral("Digital Signature Details"));

    WhenModal([&](QWidget* modal) { QMetaObject::invokeMethod(modal, "accept", Qt::DirectConnection); });
    w.bExport->click();
    w.OpenFile(Path(dir / "tessera.cat"));
    const QStringList catalogReport = w.ReportLines();
    w.OpenFile(Path(dir / "tessera.pem"));
    EXPECT_EQ(w.ReportLines(), catalogReport.mid(catalogReport.indexOf(QStringLiteral("Certificate X509 version 3"))));

    std::filesystem::remove(dir / "tessera.cat");
    w.OpenFile(Path(dir / "tessera.sys"));
    EXPECT_TRUE(w.ReportLines().contains(QStringLiteral("File is not signed")));
    EXPECT_FALSE(w.bView->isEnabled());
}

// A name typed without extension gets the extension of the filter chosen, as on Windows; a name
// with one keeps it, and the filter decides the encoding.
TEST(MainWindow, ANameWithoutExtensionGetsTheChosenFiltersExtension)
{
    TempDir dir;
    std::filesystem::copy_file(Fixture("certs/three.p7b"), dir / "three.p7b");
    TwndMain w({QStringLiteral("tessera")});
    w.OpenFile(Path(dir / "three.p7b"));
    const QStringList report = w.ReportLines();
    const struct {
        int Filter;
        const char* Typed;
        const char* Written;
        bool Der;
    } cases[] = {
        {1, "bundle-der", "bundle-der.der", true},
        {0, "bundle-pem", "bundle-pem.pem", false},
        {1, "kept.pem", "kept.pem", true},
        {0, "kept.der", "kept.der", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Typed);
        WhenModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            dialog->selectNameFilter(dialog->nameFilters().value(c.Filter));
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            name->setText(QString::fromLatin1(c.Typed));
            QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
        });
        w.bExport->click();
        EXPECT_EQ(std::filesystem::exists(dir / c.Typed), std::string_view(c.Typed) == c.Written);
        const std::string written = ReadText(dir / c.Written);
        ASSERT_FALSE(written.empty());
        EXPECT_EQ(static_cast<unsigned char>(written[0]) == 0x30, c.Der);
        TwndMain reader({QStringLiteral("tessera")});
        reader.OpenFile(Path(dir / c.Written));
        EXPECT_EQ(reader.ReportLines(), report);
    }
}

// Nothing reads a folder before the user asks for a dialog: the start in a folder of many files
// costs no more than in an empty one.
TEST(MainWindow, TheFileDialogsAreBuiltOnFirstUse)
{
    TwndMain w({QStringLiteral("tessera")});
    w.show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(w.findChildren<QFileDialog*>().isEmpty());
    EXPECT_TRUE(w.findChildren<QFileSystemModel*>().isEmpty());
    WhenModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    w.bOpen->click();
    EXPECT_EQ(w.findChildren<QFileDialog*>(), QList<QFileDialog*>{w.od()});
}

// Enter and Return press the focused button, as Space does.
TEST(MainWindow, EnterPressesTheFocusedButton)
{
    TwndMain w({QStringLiteral("tessera")});
    w.OpenFile(Path(Fixture("certs/three.p7b")));
    w.show();
    QApplication::setActiveWindow(&w);
    for (QPushButton* button : {w.bOpen, w.bExport, w.bProps, w.bView}) {
        ASSERT_TRUE(button->isEnabled()) << button->text().toStdString();
        // Only the press is looked at here, not what the button then does.
        QObject::disconnect(button, &QPushButton::clicked, &w, nullptr);
        int clicks = 0;
        QObject::connect(button, &QPushButton::clicked, &w, [&] { ++clicks; });
        button->setFocus();
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space})
            QTest::keyClick(button, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        EXPECT_EQ(clicks, 3) << button->text().toStdString();
    }
}

// The check box of the context-menu entry, over a temporary system root and with the product
// name the program would read from itself.
class ShellIntegration : public ::testing::Test {
protected:
    void SetUp() override
    {
        FSaved = ProgramVersionInfo;
        ProgramVersionInfo.ProductName = QStringLiteral("Tessera");
    }
    void TearDown() override { ProgramVersionInfo = FSaved; }

    bool MenuEntriesExist() const
    {
        return std::filesystem::exists(FRoot.path() / "usr/local/share/kio/servicemenus/tessera-verb-Tessera.desktop") &&
               std::filesystem::exists(FRoot.path() / "usr/local/share/nemo/actions/tessera-verb-Tessera.nemo_action");
    }

    TemporarySystemRoot FRoot;
    TVersionInfo FSaved;
};

// Clicks the box in a window of its own as the given user; what the window showed at start and
// after the click.
std::string ClickAs(Identity identity)
{
    const IdentityRun run = RunAs(identity, [] {
        TwndMain w({QStringLiteral("tessera")});
        std::string shown = w.cbxShell->isChecked() ? "ticked, " : "cleared, ";
        std::string message = "no message";
        WhenModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            message = box ? box->windowTitle().toStdString() + ": " + box->text().toStdString() : "another dialog";
            modal->close();
        });
        w.cbxShell->click();
        return shown + message + (w.cbxShell->isChecked() ? ", ticked" : ", cleared");
    });
    return run.Ran ? run.Output : "did not run: " + run.Output;
}

TEST_F(ShellIntegration, TickingRegistersClearingRemovesAndANewWindowShowsTheState)
{
    if (const std::string why = CannotRunAs(Identity::Root); !why.empty())
        GTEST_SKIP() << why;
    EXPECT_EQ(ClickAs(Identity::Root), "cleared, no message, ticked");
    EXPECT_TRUE(IsShellVerbRegistered(AllFilesClass, QStringLiteral("Tessera")));
    EXPECT_TRUE(MenuEntriesExist());
    EXPECT_EQ(ClickAs(Identity::Root), "ticked, no message, cleared");
    EXPECT_FALSE(IsShellVerbRegistered(AllFilesClass, QStringLiteral("Tessera")));
    EXPECT_FALSE(MenuEntriesExist());
}

TEST_F(ShellIntegration, WithoutAProductNameTheBoxNeverTicks)
{
    if (const std::string why = CannotRunAs(Identity::Root); !why.empty())
        GTEST_SKIP() << why;
    ProgramVersionInfo.ProductName.clear();
    EXPECT_EQ(ClickAs(Identity::Root), "cleared, no message, cleared");
    EXPECT_FALSE(std::filesystem::exists(FRoot.path() / "var"));
}

TEST_F(ShellIntegration, AUserWhoIsNoAdministratorIsToldAndNothingChanges)
{
    if (const std::string why = CannotRunAs(Identity::Nobody); !why.empty())
        GTEST_SKIP() << why;
    EXPECT_EQ(ClickAs(Identity::Nobody),
              "cleared, Warning: Run application under administrator rights and try again., cleared");
    EXPECT_FALSE(std::filesystem::exists(FRoot.path() / "var"));
    // Registered already: clearing is refused the same way.
    RegisterShellVerb(AllFilesClass, QStringLiteral("Tessera"), QStringLiteral("/usr/bin/tessera"));
    EXPECT_EQ(ClickAs(Identity::Nobody),
              "ticked, Warning: Run application under administrator rights and try again., ticked");
    EXPECT_TRUE(IsShellVerbRegistered(AllFilesClass, QStringLiteral("Tessera")));
}

TEST_F(ShellIntegration, AnAdministratorWithoutWriteAccessGetsNoMessageAndTheBoxShowsTheRegistry)
{
    if (const std::string why = CannotRunAs(Identity::AdministratorsMember); !why.empty())
        GTEST_SKIP() << why;
    FRoot.SetWritable(false);
    EXPECT_EQ(ClickAs(Identity::AdministratorsMember), "cleared, no message, cleared");
    FRoot.SetWritable(true);
    EXPECT_FALSE(IsShellVerbRegistered(AllFilesClass, QStringLiteral("Tessera")));
}

TEST(FormDrop, HandlerGetsEveryNameWholeAndInOrder)
{
    TempDir dir;
    const std::string longName = std::string(200, 'a') + std::string(100, 'b') + ".cer";
    QList<QUrl> urls;
    QStringList expected;
    for (const std::string& name : {std::string("b.txt"), longName, std::string("a.txt")}) {
        WriteText(dir / name, "x");
        urls.append(QUrl::fromLocalFile(Path(dir / name)));
        expected.append(Path(dir / name));
    }
    TwndMain w({QStringLiteral("tessera")});
    w.show();
    QStringList received;
    int calls = 0;
    w.SetOnDropFiles([&](QObject* sender, const QStringList& files) {
        EXPECT_EQ(sender, &w);
        received = files;
        ++calls;
    });
    QMimeData data;
    data.setUrls(urls);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    Deliver(w, drop);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(received, expected);
    EXPECT_GT(received[1].size(), 300);
}

// Dropped names as the file system has them: bytes that are not UTF-8 kept, a folder's address
// ending in "/" taken as the folder.
TEST(FormDrop, NamesKeepTheirBytesAndAFolderLosesItsTrailingSlash)
{
    TempDir dir;
    const std::string odd = (dir / "bad\xffname.pem").string();
    std::filesystem::copy_file(Fixture("certs/root.pem"), odd);
    std::filesystem::create_directory(dir / "folder");
    const struct {
        const char* Why;
        QUrl Url;
        QString Expected;
    } cases[] = {
        {"a byte that is not UTF-8", QUrl::fromEncoded(QByteArray("file://") + QByteArray::fromStdString(odd).toPercentEncoding("/")),
         FileNameFromBytes(QByteArray::fromStdString(odd))},
        {"a folder with a slash", QUrl::fromLocalFile(Path(dir / "folder") + u'/'), Path(dir / "folder")},
        {"the root", QUrl(QStringLiteral("file:///")), QStringLiteral("/")},
    };
    TwndMain w({QStringLiteral("tessera")});
    w.show();
    for (const auto& c : cases) {
        QStringList received;
        w.SetOnDropFiles([&](QObject*, const QStringList& files) { received = files; });
        QMimeData data;
        data.setUrls({c.Url});
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        Deliver(w, drop);
        EXPECT_EQ(received, QStringList{c.Expected}) << c.Why;
    }
    // Dropped on the window itself: the file is inspected by its real name and shown readably.
    const QStringList expected = [&] {
        TwndMain plain({QStringLiteral("tessera")});
        plain.OpenFile(Path(Fixture("certs/root.pem")));
        return plain.ReportLines();
    }();
    TwndMain window({QStringLiteral("tessera")});
    window.show();
    QMimeData data;
    data.setUrls({cases[0].Url});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    Deliver(window, drop);
    EXPECT_EQ(window.ReportLines(), expected);
    EXPECT_EQ(window.FileName(), cases[0].Expected);
    EXPECT_EQ(window.eFile->text(), DisplayFileName(cases[0].Expected));
    EXPECT_TRUE(window.eFile->text().contains(QChar(0xFFFD)));
}

// A name from the command line that is not UTF-8 opens as any other; the folder part of a
// relative name is the working folder.
TEST(MainWindow, TheFirstArgumentIsInspectedByItsBytes)
{
    TempDir dir;
    const std::string odd = (dir / "k\xfe.p7b").string();
    std::filesystem::copy_file(Fixture("certs/three.p7b"), odd);
    TwndMain plain({QStringLiteral("tessera")});
    plain.OpenFile(Path(Fixture("certs/three.p7b")));
    const char* argv[] = {"tessera", odd.c_str()};
    QStringList arguments = ArgumentsFromBytes(2, argv);
    arguments.prepend(QStringLiteral("tessera"));
    TwndMain w(arguments);
    w.show();
    EXPECT_EQ(w.ReportLines(), plain.ReportLines());
    EXPECT_EQ(FileNameToBytes(w.FileName()), QByteArray::fromStdString(odd));
    EXPECT_TRUE(w.bExport->isEnabled());
}

// "All Files" lists every name, with a dot or without; the filter chosen last is chosen again.
TEST(MainWindow, OpenDialogListsEveryFileAndKeepsTheFilterChosen)
{
    TempDir dir;
    WriteText(dir / "noextension", "x");
    WriteText(dir / "other.txt", "x");
    TwndMain w({QStringLiteral("tessera")});
    w.od()->setDirectory(Path(dir.path()));
    QStringList listed;
    QString filterAtSecondOpen;
    WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        dialog->selectNameFilter(dialog->nameFilters().value(4));
        auto* view = dialog->findChild<QListView*>(QStringLiteral("listView"));
        ASSERT_NE(view, nullptr);
        // The folder is read in the background; a name left out never comes.
        static_cast<void>(QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) >= 2; }, 5000));
        for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
            listed.append(view->model()->index(row, 0, view->rootIndex()).data().toString());
        dialog->reject();
    });
    w.bOpen->click();
    listed.sort();
    EXPECT_EQ(listed, (QStringList{QStringLiteral("noextension"), QStringLiteral("other.txt")}));
    WhenModal([&](QWidget* modal) {
        filterAtSecondOpen = qobject_cast<QFileDialog*>(modal)->selectedNameFilter();
        qobject_cast<QDialog*>(modal)->reject();
    });
    w.bOpen->click();
    EXPECT_EQ(filterAtSecondOpen, QStringLiteral("All Files (*)"));
}

// The save dialog refuses a name in a folder that does not exist and stays open; nothing is
// written.
TEST(MainWindow, SaveDialogRefusesAFolderThatDoesNotExist)
{
    TempDir dir;
    std::filesystem::copy_file(Fixture("certs/three.p7b"), dir / "three.p7b");
    TwndMain w({QStringLiteral("tessera")});
    w.OpenFile(Path(dir / "three.p7b"));
    QString message;
    bool stayedOpen = false;
    WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(Path(dir / "missing" / "x.pem"));
        WhenModal([&](QWidget* box) {
            message = qobject_cast<QMessageBox*>(box) ? qobject_cast<QMessageBox*>(box)->text() : QString();
            box->close();
        });
        QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
        stayedOpen = dialog->isVisible();
        dialog->reject();
    });
    w.bExport->click();
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(message, Path(dir / "missing" / "x.pem") +
                           QStringLiteral("\nThe folder does not exist.\nCheck the folder name and try again."));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

struct CentringCase {
    const char* Name;
    QRect Form;
    std::optional<QRect> Target;
    QRect WorkArea;
    QRect Expected;
};

class Centring : public ::testing::TestWithParam<CentringCase> {};

TEST_P(Centring, Arithmetic)
{
    const CentringCase& c = GetParam();
    const QRect* target = c.Target ? &*c.Target : nullptr;
    EXPECT_EQ(formcentring::CenterTo(c.Form, target, c.WorkArea), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Centring,
    ::testing::Values(
        CentringCase{"WorkArea", {100, 100, 400, 300}, std::nullopt, {0, 0, 1920, 1040}, {760, 370, 400, 300}},
        CentringCase{"OffsetWorkArea", {0, 0, 400, 300}, std::nullopt, {0, 30, 1920, 1010}, {760, 385, 400, 300}},
        CentringCase{"OddHalfTruncates", {0, 0, 400, 301}, std::nullopt, {0, 0, 1921, 1040}, {760, 369, 400, 301}},
        // Shrunk so that its edges fit the work area's width and height measured from the origin.
        CentringCase{"Oversized", {100, 50, 3000, 2000}, std::nullopt, {0, 0, 1920, 1080}, {50, 25, 1820, 1030}},
        CentringCase{"OnAForm", {0, 0, 200, 100}, QRect(300, 200, 601, 401), {0, 0, 1920, 1080}, {500, 350, 200, 100}},
        // Half of a negative difference truncates toward zero.
        CentringCase{"OnASmallerForm", {0, 0, 400, 300}, QRect(10, 10, 101, 101), {0, 0, 1920, 1080},
                     {-139, -89, 400, 300}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Centring, MonitorsAndDesktop)
{
    const QList<QRect> monitors = {{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}};
    const QRect workArea(0, 0, 1920, 1040);
    const QRect form(5, 5, 400, 300);
    EXPECT_EQ(formcentring::CenterToMonitor(form, 1, monitors, workArea), QRect(2360, 362, 400, 300));
    EXPECT_EQ(formcentring::CenterToMonitor(form, -1, monitors, workArea), QRect(760, 370, 400, 300));
    EXPECT_EQ(formcentring::CenterToMonitor(form, 2, monitors, workArea), QRect(760, 370, 400, 300));
    // The desktop spans both monitors and nothing is shrunk.
    EXPECT_EQ(formcentring::CenterOn(QRect(0, 0, 4000, 300), QRect(0, 0, 3200, 1080)), QRect(-400, 390, 4000, 300));
}

} // namespace

// A signer's name that holds a line feed is one line of the report in the window, its line feed
// shown, not obeyed.
TEST(MainWindow, AFieldsLineEndIsShownNotObeyed)
{
    TwndMain w({QStringLiteral("tessera")});
    qputenv("SSL_CERT_FILE", QByteArray::fromStdString(testsupport::Fixture("trust-tessera.pem").string()));
    w.OpenFile(Path(testsupport::Fixture("signed/forged-newline.exe")));
    qputenv("SSL_CERT_FILE", QByteArray::fromStdString(testsupport::Fixture("no-trust.pem").string()));
    const QStringList lines = w.Memo->toPlainText().split(u'\n');
    ASSERT_GT(lines.size(), 7);
    EXPECT_EQ(lines[7], QString::fromUtf16(u"Publisher: Tessera Forged\u240A/srv/incoming/evil.exe: OK Microsoft Windows"));
    EXPECT_EQ(lines[8], QStringLiteral("Program name: Tessera Test Program"));
}

// View certificate on a signed file: the signer dialog shows the chain the verification judged,
// at the moment it judged it (the time stamp's), not a chain built anew for now.
TEST(MainWindow, ViewCertificateShowsTheChainAsTheVerificationJudgedIt)
{
    TwndMain w({QStringLiteral("tessera")});
    qputenv("SSL_CERT_FILE", QByteArray::fromStdString(testsupport::Fixture("trust-tessera.pem").string()));
    w.OpenFile(Path(testsupport::Fixture("signed/expired-ts-rfc3161.exe")));
    QString judgedAt;
    std::vector<std::pair<QString, QString>> rows;
    WhenModal([&](QWidget* modal) {
        if (auto* label = modal->findChild<QLabel*>(QStringLiteral("judgedAt")))
            judgedAt = label->text();
        if (auto* chain = modal->findChild<QTreeWidget*>(QStringLiteral("judgedChain")))
            for (int i = 0; i < chain->topLevelItemCount(); ++i)
                rows.emplace_back(chain->topLevelItem(i)->text(0), chain->topLevelItem(i)->text(1));
        qobject_cast<QDialog*>(modal)->reject();
    });
    w.bView->click();
    qputenv("SSL_CERT_FILE", QByteArray::fromStdString(testsupport::Fixture("no-trust.pem").string()));
    EXPECT_TRUE(judgedAt.startsWith(QStringLiteral("Judged at: ")) && judgedAt.contains(QStringLiteral("2020")))
        << judgedAt.toStdString();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].first, QStringLiteral("Tessera Expired Code Signing"));
    EXPECT_EQ(rows[1].first, QStringLiteral("Tessera Test Intermediate CA"));
    EXPECT_EQ(rows[2].first, QStringLiteral("Tessera Test Root CA"));
    // Expired now, but valid when the time stamp was made: the path holds.
    for (const auto& [name, status] : rows)
        EXPECT_EQ(status, QStringLiteral("This certificate is OK.")) << name.toStdString();
}
