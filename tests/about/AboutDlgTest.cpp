// The about box on the offscreen platform: its texts in both languages, the version line, the
// panels, the update status against a loopback HTTPS server, closing during a check, the links
// and moving the borderless window.
#include "about/AboutDlg.h"

#include "about/AboutPictures.h"
#include "about/ProgramVersion.h"
#include "about/UpdateCheck.h"
#include "tests/about/AboutTestSupport.h"
#include "tests/support/QtApplication.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestSupport.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>

using namespace abouttest;
using testsupport::HttpRequest;
using testsupport::HttpResponse;
using testsupport::LoopbackHttpServer;

namespace {

const auto& App = testsupport::Application();

const QString Checking = QStringLiteral("Checking for update...");

TVersionInfo TesseraVersion()
{
    TVersionInfo info;
    info.ProductName = QStringLiteral("Tessera");
    info.FileVersion = QStringLiteral("1.2.3.4");
    info.Copyright = QStringLiteral("Copyright 2026 The Tessera authors");
    info.Description = QStringLiteral("Certificate and signature inspector");
    info.BuildTimestamp = QStringLiteral("2026-12-10 15:48:26");
    return info;
}

TVendorSite Site(const LoopbackHttpServer* server)
{
    TVendorSite site = ExampleSite();
    if (server) {
        site.UpdatePage = Q(server->Address("/webupdate.html"));
        site.UpdatePort = server->Port();
    }
    return site;
}

QStringList MemoLines(const QPlainTextEdit& memo)
{
    return memo.toPlainText().split(u'\n');
}

// The update page, whose answer the test changes as it goes.
class VendorServer {
public:
    VendorServer()
        : FServer([this](const HttpRequest&) { return Answer(); }, testsupport::Fixture("tls/server.pem"),
                  testsupport::Fixture("tls/server.key"))
    {
    }

    void Publish(HttpResponse response)
    {
        const std::lock_guard lock(FLock);
        FResponse = std::move(response);
    }
    LoopbackHttpServer& Server() { return FServer; }

private:
    HttpResponse Answer()
    {
        const std::lock_guard lock(FLock);
        return FResponse;
    }

    std::mutex FLock;
    HttpResponse FResponse;
    LoopbackHttpServer FServer;
};

HttpResponse NotFound()
{
    HttpResponse response;
    response.Status = 404;
    response.Reason = "Not Found";
    response.Body = "<HTML><BODY>Not Found</BODY></HTML>";
    return response;
}

class AboutDlg : public ::testing::Test {
protected:
    void SetUp() override
    {
        ProgramVersionInfo = TesseraVersion();
        TrustTestRoot();
    }
    void TearDown() override
    {
        ProgramVersionInfo = TVersionInfo();
        TrustNothing();
    }

    // Shows the dialog and lets its check run to an outcome.
    static void ShowAndCheck(TdlgAbout& dlg)
    {
        dlg.show();
        ASSERT_TRUE(WaitUntil([&] { return dlg.lUpdate->text() != Checking; }));
        ASSERT_TRUE(WaitUntil([&] { return !dlg.UpdateCheck->Active(); }));
    }
};

TEST_F(AboutDlg, ShowsTheProgramItsTermsAndTheCallersTextInEnglish)
{
    TdlgAbout dlg(nullptr);
    dlg.Setup(QString(), QStringLiteral("\r\nBased on Corvane."), lngEn, Site(nullptr));
    EXPECT_EQ(dlg.objectName(), QStringLiteral("dlgAbout"));
    EXPECT_TRUE(dlg.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("About...."));
    EXPECT_EQ(dlg.lProduct->text(), QStringLiteral("Tessera"));
    EXPECT_EQ(dlg.lVer->text(), QStringLiteral("Version 1.2.3.4"));
    EXPECT_EQ(dlg.lVer->toolTip(), QStringLiteral("2026-12-10 15:48:26"));
    EXPECT_EQ(dlg.lCR->text(), QStringLiteral("Copyright 2026 The Tessera authors"));
    EXPECT_EQ(dlg.lDesc->text(), QStringLiteral("Certificate and signature inspector"));
    EXPECT_EQ(dlg.lEmail->text(), QStringLiteral("tessera@tessera.example"));
    EXPECT_EQ(dlg.lWWW->text(), QStringLiteral("tessera.example"));

    EXPECT_FALSE(dlg.pLic->isHidden());
    EXPECT_EQ(dlg.pLic->text(),
              QStringLiteral(
                  "    Free software under the Apache License 2.0. Provided as is, without warranty of any kind."));
    const QStringList lines = MemoLines(*dlg.mLic);
    ASSERT_GE(lines.size(), 3);
    EXPECT_TRUE(lines.front().startsWith(QStringLiteral("Tessera shows the certificates")))
        << lines.front().toStdString();
    // The licence the program is under, among the notice's lines as displayed.
    EXPECT_TRUE(
        lines.join(u' ').contains(QStringLiteral("Tessera is free software under the Apache License, Version 2.0")))
        << lines.join(u'\n').toStdString();
    EXPECT_EQ(lines.mid(lines.size() - 2), QStringList({"", "Based on Corvane."}));
    EXPECT_EQ(dlg.mLic->textCursor().position(), 0);
    EXPECT_FALSE(dlg.mLic->textCursor().hasSelection());
    EXPECT_TRUE(dlg.mLic->isReadOnly());
    EXPECT_EQ(dlg.mLic->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

    // No product code: no check, and the status row holds only the OK button.
    EXPECT_EQ(dlg.UpdateCheck, nullptr);
    dlg.show();
    QCoreApplication::processEvents();
    for (QWidget* w : std::initializer_list<QWidget*>{dlg.lUpdate, dlg.icoWait, dlg.icoOK, dlg.icoWarn})
        EXPECT_TRUE(w->isHidden());
    EXPECT_TRUE(dlg.Button2->isVisible());
    EXPECT_EQ(dlg.Button2->text(), QStringLiteral("OK"));
    EXPECT_TRUE(dlg.Button2->isDefault());
}

TEST_F(AboutDlg, LaysOutItsPanelsAsDesigned)
{
    TdlgAbout dlg(nullptr);
    dlg.Setup(QStringLiteral("TESSERA"), QString(), lngEn, Site(nullptr));
    EXPECT_EQ(dlg.size(), QSize(600, 390));
    // A one-pixel frame of the form's black around the panels.
    EXPECT_EQ(dlg.palette().color(QPalette::Window), QColor(Qt::black));
    EXPECT_EQ(dlg.Panel2->geometry(), QRect(1, 1, 598, 117));
    EXPECT_EQ(dlg.pLic->geometry(), QRect(1, 118, 598, 24));
    EXPECT_EQ(dlg.Panel1->geometry(), QRect(1, 142, 598, 203));
    EXPECT_EQ(dlg.Panel3->geometry(), QRect(1, 345, 598, 44));
    EXPECT_EQ(dlg.Panel2->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_EQ(dlg.pLic->palette().color(QPalette::Window), QColor(Qt::yellow));
    EXPECT_EQ(dlg.Panel1->palette().color(QPalette::Window), QColor(221, 221, 221));
    EXPECT_EQ(dlg.Panel3->palette().color(QPalette::Window), QColor(160, 160, 164));
    EXPECT_EQ(dlg.lDesc->palette().color(QPalette::WindowText), QColor(0, 0, 128));

    EXPECT_EQ(dlg.Icon->geometry(), QRect(10, 8, 32, 32));
    EXPECT_EQ(dlg.lProduct->geometry().topLeft(), QPoint(55, 8));
    EXPECT_EQ(dlg.lVer->geometry().topLeft(), QPoint(55, 34));
    EXPECT_EQ(dlg.lCR->geometry().topLeft(), QPoint(55, 53));
    EXPECT_EQ(dlg.lDesc->geometry(), QRect(55, 77, 532, 34));
    EXPECT_EQ(dlg.Image1->geometry(), QRect(468, 8, 120, 59));
    EXPECT_EQ(dlg.mLic->geometry(), QRect(10, 10, 578, 173));
    EXPECT_EQ(dlg.Panel4->geometry(), QRect(0, 183, 598, 20));
    EXPECT_EQ(dlg.icoWait->geometry(), QRect(12, 14, 16, 16));
    EXPECT_EQ(dlg.icoOK->geometry(), QRect(14, 14, 16, 16));
    EXPECT_EQ(dlg.lUpdate->geometry().topLeft(), QPoint(34, 16));
    EXPECT_EQ(dlg.Button2->geometry(), QRect(512, 10, 75, 25));
    EXPECT_TRUE(dlg.lProduct->font().bold());
    EXPECT_EQ(dlg.lProduct->font().pixelSize(), 19);
    EXPECT_TRUE(dlg.lVer->font().bold());
    EXPECT_TRUE(dlg.lEmail->font().underline());
    for (QWidget* w : std::initializer_list<QWidget*>{dlg.lUpdate, dlg.lEmail, dlg.lWWW})
        EXPECT_EQ(w->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_FALSE(dlg.Image1->pixmap().isNull());
}

TEST_F(AboutDlg, SpeaksCzechWhenAskedButShowsTheDesignCaptionUntilTheCheckReports)
{
    VendorServer vendor;
    vendor.Publish(NotFound());
    TdlgAbout dlg(nullptr);
    dlg.Setup(QStringLiteral("TESSERA"), QStringLiteral("\r\nBased on Corvane."), lngCz, Site(&vendor.Server()));
    EXPECT_EQ(dlg.Lang(), lngCz);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("O programu...."));
    EXPECT_EQ(dlg.lVer->text(), QStringLiteral("Verze 1.2.3.4"));
    EXPECT_EQ(
        dlg.pLic->text(),
        QStringLiteral(
            "    Svobodný software pod licencí Apache License 2.0. Poskytováno tak, jak je, bez jakékoli záruky."));
    EXPECT_TRUE(MemoLines(*dlg.mLic).front().startsWith(QStringLiteral("Tessera zobrazuje")));
    EXPECT_TRUE(MemoLines(*dlg.mLic).join(u' ').contains(QStringLiteral("pod licencí Apache License, verze 2.0")));
    EXPECT_EQ(MemoLines(*dlg.mLic).back(), QStringLiteral("Based on Corvane."));
    EXPECT_EQ(dlg.lUpdate->text(), Checking);
    ShowAndCheck(dlg);
    EXPECT_EQ(dlg.lUpdate->text(), QStringLiteral("Nelze získat informace o verzi"));

    struct Case {
        const char* Published;
        QString Text;
    };
    const Case cases[] = {
        {"1.2.3.4", QStringLiteral("Máte poslední verzi.")},
        {"1.3", QStringLiteral("Nová verze 1.3 je k dispozici. Pokud ji chcete stáhnout, klikněte zde.")}};
    for (const Case& c : cases) {
        vendor.Publish(PageResponse({{"TESSERAName", "Tessera"}, {"TESSERAVersion", c.Published}}));
        TdlgAbout again(nullptr);
        again.Setup(QStringLiteral("TESSERA"), QString(), lngCz, Site(&vendor.Server()));
        ShowAndCheck(again);
        EXPECT_EQ(again.lUpdate->text(), c.Text);
    }
}

TEST_F(AboutDlg, WritesTheVersionLineAndDescriptionFromTheVersionProfile)
{
    struct Case {
        bool Debug;
        const char* Comments;
        const char* VersionLine;
        const char* Description;
    };
    const Case cases[] = {
        {false, "", "Version 1.2.3.4", "Certificate and signature inspector"},
        {true, "", "Version 1.2.3.4 DEBUG", "Certificate and signature inspector"},
        {false, "Comments come first", "Version 1.2.3.4", "Comments come first"},
    };
    for (const Case& c : cases) {
        ProgramVersionInfo.DebugBuild = c.Debug;
        ProgramVersionInfo.Comments = QString::fromLatin1(c.Comments);
        TdlgAbout dlg(nullptr);
        dlg.Setup(QString(), QString(), lngEn, Site(nullptr));
        EXPECT_EQ(dlg.lVer->text(), QString::fromLatin1(c.VersionLine));
        EXPECT_EQ(dlg.lDesc->text(), QString::fromLatin1(c.Description));
    }
    // A program without a version resource: empty labels, the version word and a space.
    ProgramVersionInfo = TVersionInfo();
    TdlgAbout dlg(nullptr);
    dlg.Setup(QString(), QString(), lngEn, Site(nullptr));
    EXPECT_EQ(dlg.lVer->text(), QStringLiteral("Version "));
    EXPECT_EQ(dlg.lProduct->text(), QString());
    EXPECT_EQ(dlg.lCR->text(), QString());
    EXPECT_EQ(dlg.lDesc->text(), QString());
}

TEST_F(AboutDlg, ShowsTheOutcomeOfTheCheckItStartsOnceItIsOnScreen)
{
    VendorServer vendor;
    struct Case {
        HttpResponse Page;
        bool Ok;
        QString Text;
    };
    const Case cases[] = {
        {PageResponse({{"TESSERAName", "Tessera"}, {"TESSERAVersion", "1.2.3.4"}}), true,
         QStringLiteral("You use latest version.")},
        {PageResponse({{"TESSERAName", "Tessera"}, {"TESSERAVersion", "2.0.0.0"}}), false,
         QStringLiteral("New version 2.0.0.0 available. Click here to download it.")},
        // The tags of another product are not ours.
        {PageResponse({{"Name", "Tessera"}, {"Version", "2.0.0.0"}}), false,
         QStringLiteral("Cannot get update information.")},
        {NotFound(), false, QStringLiteral("Cannot get update information.")},
    };
    size_t requests = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text.toStdString());
        vendor.Publish(c.Page);
        TdlgAbout dlg(nullptr);
        dlg.Setup(QStringLiteral("TESSERA"), QString(), lngEn, Site(&vendor.Server()));
        ASSERT_NE(dlg.UpdateCheck, nullptr);
        EXPECT_EQ(dlg.UpdateCheck->ProductInfo().Version(), QStringLiteral("1.2.3.4"));
        dlg.show();
        // Shown, but the check waits for the dialog's own message.
        EXPECT_EQ(vendor.Server().RequestCount(), requests);
        EXPECT_TRUE(dlg.lUpdate->isHidden());
        ShowAndCheck(dlg);
        EXPECT_EQ(vendor.Server().RequestCount(), ++requests);
        EXPECT_EQ(dlg.lUpdate->text(), c.Text);
        EXPECT_TRUE(dlg.lUpdate->isVisible());
        EXPECT_TRUE(dlg.icoWait->isHidden());
        EXPECT_FALSE(dlg.icoWait->Animating());
        EXPECT_EQ(dlg.icoOK->isVisible(), c.Ok);
        EXPECT_EQ(dlg.icoWarn->isVisible(), !c.Ok);
        // Nothing was downloaded: the box only tells.
        EXPECT_FALSE(dlg.UpdateCheck->Active());
    }
    const HttpRequest request = vendor.Server().Requests().back();
    EXPECT_EQ(request.Target, "/webupdate.html");
    EXPECT_EQ(request.Header("Pragma"), "no-cache");
}

// OK, Escape and the window's close button end a running check and close the box at once,
// whether the server says nothing or sends a byte now and then.
TEST_F(AboutDlg, ClosingDuringARunningCheckClosesWithinASecondWhateverTheServerDoes)
{
    using namespace std::chrono_literals;
    const HttpResponse page = PageResponse({{"TESSERAName", "Tessera"}, {"TESSERAVersion", "1.2.3.4"}});
    HttpResponse silent = page;
    silent.HoldBeforeAnswer = true;
    HttpResponse trickling = page;
    trickling.TrickleEvery = 5s;
    const struct {
        const char* Server;
        const HttpResponse& Response;
    } servers[] = {{"silent", silent}, {"a byte every 5 s", trickling}};
    const struct {
        const char* Way;
        std::function<void(TdlgAbout&)> Close;
    } ways[] = {
        {"OK", [](TdlgAbout& dlg) { dlg.Button2->click(); }},
        {"Escape",
         [](TdlgAbout& dlg) {
             QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
             QCoreApplication::sendEvent(dlg.Button2, &escape);
         }},
        {"close button", [](TdlgAbout& dlg) { dlg.close(); }},
    };
    for (const auto& server : servers) {
        for (const auto& way : ways) {
            SCOPED_TRACE(std::string(way.Way) + ", " + server.Server);
            VendorServer vendor;
            vendor.Publish(server.Response);
            TdlgAbout dlg(nullptr);
            dlg.Setup(QStringLiteral("TESSERA"), QString(), lngEn, Site(&vendor.Server()));
            bool activeWhenClosed = false;
            std::chrono::steady_clock::time_point closedAt;
            QTimer poll;
            poll.setInterval(10);
            QObject::connect(&poll, &QTimer::timeout, [&] {
                if (vendor.Server().RequestCount() == 0)
                    return;
                poll.stop();
                // The worker waits for the server now: in its read, or before the answer.
                QTimer::singleShot(300, &dlg, [&] {
                    activeWhenClosed = dlg.UpdateCheck->Active();
                    closedAt = std::chrono::steady_clock::now();
                    way.Close(dlg);
                });
            });
            poll.start();
            // A bound, only against a hang.
            QTimer::singleShot(60'000, &dlg, [&] { vendor.Server().Release(); });
            EXPECT_EQ(dlg.exec(), QDialog::Accepted);
            const auto took = std::chrono::steady_clock::now() - closedAt;
            EXPECT_TRUE(activeWhenClosed);
            EXPECT_LT(took, 1s) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
            EXPECT_FALSE(dlg.isVisible());
            EXPECT_FALSE(dlg.UpdateCheck->Active());
            EXPECT_NE(dlg.lUpdate->text(), QStringLiteral("You use latest version."));
        }
    }
}

// A site without an update page (a build that names no vendor site): the box asks nobody and
// shows no update status, as without a product code.
TEST_F(AboutDlg, WithoutAnUpdatePageThereIsNoCheckAndNoStatus)
{
    TdlgAbout dlg(nullptr);
    dlg.Setup(QStringLiteral("TESSERA"), QString(), lngEn, VendorSiteAt(QString(), QString()));
    EXPECT_EQ(dlg.UpdateCheck, nullptr);
    dlg.show();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    for (const QWidget* status :
         std::initializer_list<const QWidget*>{dlg.lUpdate, dlg.icoWait, dlg.icoOK, dlg.icoWarn})
        EXPECT_TRUE(status->isHidden()) << status->metaObject()->className();
    EXPECT_TRUE(dlg.lWWW->text().isEmpty());
}

TEST(VendorSite, TakesTheUpdatePageAndItsPortFromTheSitesAddress)
{
    const struct {
        const char* Address;
        const char* UpdatePage;
        uint16_t Port;
        const char* HomePage;
    } cases[] = {
        {"", "", 443, ""},
        {"https://tessera.example", "https://tessera.example/webupdate.html", 443, "https://tessera.example"},
        {"https://tessera.example/", "https://tessera.example/webupdate.html", 443, "https://tessera.example"},
        {"http://tessera.example:8080/sub/", "http://tessera.example/sub/webupdate.html", 8080,
         "http://tessera.example:8080/sub"},
        {"https://127.0.0.1:8443", "https://127.0.0.1/webupdate.html", 8443, "https://127.0.0.1:8443"},
    };
    for (const auto& c : cases) {
        const TVendorSite site = VendorSiteAt(QString::fromLatin1(c.Address), QStringLiteral("mailto:a@b.example"));
        EXPECT_EQ(site.UpdatePage, QString::fromLatin1(c.UpdatePage)) << c.Address;
        EXPECT_EQ(site.UpdatePort, c.Port) << c.Address;
        EXPECT_EQ(site.HomePage, QString::fromLatin1(c.HomePage)) << c.Address;
        EXPECT_EQ(site.EMail, QStringLiteral("mailto:a@b.example")) << c.Address;
    }
}

TEST_F(AboutDlg, EscapeClosesAsTheOkButtonDoes)
{
    TdlgAbout dlg(nullptr);
    dlg.Setup(QString(), QString(), lngEn, Site(nullptr));
    QTimer::singleShot(0, &dlg, [&] {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(dlg.Button2, &escape);
    });
    EXPECT_EQ(dlg.exec(), QDialog::Accepted);
}

TEST_F(AboutDlg, LinksOpenTheAuthorsAddressAndPathsOfTheVendorsSite)
{
    Opener opener;
    const OpenerScope scope(opener);
    VendorServer vendor;
    TdlgAbout plain(nullptr);
    plain.Setup(QString(), QString(), lngEn, Site(&vendor.Server()));
    plain.show();
    Click(plain.lEmail);
    Click(plain.lWWW);
    EXPECT_EQ(opener.Opened, QList<QUrl>({QUrl(QStringLiteral("mailto:tessera@tessera.example")),
                                          QUrl(QStringLiteral("https://tessera.example"))}));

    struct Case {
        std::vector<std::pair<std::string, std::string>> Tags;
        const char* Opens;
    };
    const Case cases[] = {
        {{{"TESSERAPage", "/download.html"}, {"TESSERADownload", "files/setup.zip"}},
         "https://tessera.example/download.html"},
        {{{"TESSERADownload", "files/setup.zip"}}, "https://tessera.example/files/setup.zip"},
        // Whatever the page says stays a path on the vendor's host.
        {{{"TESSERAPage", "@evil.example/steal"}}, "https://tessera.example/@evil.example/steal"},
        {{{"TESSERAPage", ".evil.example/"}}, "https://tessera.example/.evil.example/"},
    };
    for (const Case& c : cases) {
        auto tags = c.Tags;
        tags.insert(tags.begin(), {{"TESSERAName", "Tessera"}, {"TESSERAVersion", "2.0"}});
        vendor.Publish(PageResponse(tags));
        TdlgAbout dlg(nullptr);
        dlg.Setup(QStringLiteral("TESSERA"), QString(), lngEn, Site(&vendor.Server()));
        ShowAndCheck(dlg);
        opener.Opened.clear();
        Click(dlg.lUpdate);
        ASSERT_EQ(opener.Opened.size(), 1);
        EXPECT_EQ(opener.Opened.front(), QUrl(QString::fromLatin1(c.Opens)));
        EXPECT_EQ(opener.Opened.front().host(), QStringLiteral("tessera.example"));
    }
}

TEST_F(AboutDlg, DraggingTheHeaderMovesTheBorderlessWindow)
{
    TdlgAbout dlg(nullptr);
    dlg.Setup(QString(), QString(), lngEn, Site(nullptr));
    dlg.move(100, 100);
    dlg.show();
    QCoreApplication::processEvents();
    for (QWidget* handle : std::initializer_list<QWidget*>{dlg.lProduct, dlg.Panel2, dlg.Image1}) {
        const QPoint before = dlg.pos();
        Drag(handle, QPoint(5, 5), QPoint(30, 20));
        EXPECT_EQ(dlg.pos(), before + QPoint(30, 20));
    }
    // The notice is no handle.
    const QPoint before = dlg.pos();
    Drag(dlg.mLic->viewport(), QPoint(5, 5), QPoint(30, 20));
    EXPECT_EQ(dlg.pos(), before);
}

TEST_F(AboutDlg, ALongNoticeGetsAScrollBar)
{
    QString extra;
    for (int i = 0; i < 12; ++i)
        extra += QStringLiteral("\r\nLine %1").arg(i);
    TdlgAbout dlg(nullptr);
    dlg.Setup(QString(), extra, lngEn, Site(nullptr));
    EXPECT_EQ(dlg.mLic->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

} // namespace
