// A click on the main window's icon opens the about box with the program's own version, whose
// check reaches each of its three outcomes against a loopback vendor site.
#include "about/AboutDlg.h"

#include "about/ProgramVersion.h"
#include "about/UpdateCheck.h"
#include "app/Main.h"
#include "tests/about/AboutTestSupport.h"
#include "tests/support/QtApplication.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <string_view>

using namespace abouttest;
using testsupport::HttpRequest;
using testsupport::HttpResponse;
using testsupport::LoopbackHttpServer;

namespace {

const auto& App = testsupport::Application();

// What the about box showed once its check had reported.
struct Seen {
    bool Shown = false;
    QString Title;
    QString Version;
    QString LastNoticeLine;
    QString Status;
    bool Icon = false;
    bool Owned = false;
};

// The about box shown now, once its update check has reported; null before.
TdlgAbout* AboutBoxWithItsCheckDone()
{
    auto* dlg = dynamic_cast<TdlgAbout*>(QApplication::activeModalWidget());
    if (!dlg || !dlg->UpdateCheck || dlg->UpdateCheck->Active() ||
        dlg->lUpdate->text() == QLatin1String("Checking for update..."))
        return nullptr;
    return dlg;
}

TEST(IconClick, OpensTheAboutBoxWithTheProgramsVersionAndEachOutcome)
{
    TrustTestRoot();
    ProgramVersionInfo = TVersionInfo();
    ProgramVersionInfo.ProductName = QStringLiteral("Tessera");
    ProgramVersionInfo.FileVersion = QStringLiteral("1.0.0.0");
    TwndMain window({QStringLiteral("tessera")});
    window.show();

    std::string published;
    LoopbackHttpServer server(
        [&](const HttpRequest&) {
            if (published.empty()) {
                HttpResponse missing;
                missing.Status = 404;
                missing.Reason = "Not Found";
                return missing;
            }
            return PageResponse({{"TESSERAName", "Tessera"}, {"TESSERAVersion", published}});
        },
        testsupport::Fixture("tls/server.pem"), testsupport::Fixture("tls/server.key"));
    TVendorSite site = ExampleSite();
    site.UpdatePage = Q(server.Address("/webupdate.html"));
    site.UpdatePort = server.Port();
    SetVendorSite(site);

    struct Case {
        std::string Published;
        QString Status;
    };
    const Case cases[] = {
        {"1.0.0.0", QStringLiteral("You use latest version.")},
        {"1.0.0.1", QStringLiteral("New version 1.0.0.1 available. Click here to download it.")},
        {"", QStringLiteral("Cannot get update information.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Status.toStdString());
        published = c.Published;
        Seen seen;
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            TdlgAbout* dlg = AboutBoxWithItsCheckDone();
            if (!dlg)
                return;
            poll.stop();
            seen = {true,
                    dlg->windowTitle(),
                    dlg->lVer->text(),
                    dlg->mLic->toPlainText().split(u'\n').back(),
                    dlg->lUpdate->text(),
                    !dlg->Icon->pixmap().isNull(),
                    dlg->parentWidget() == &window};
            dlg->Button2->click();
        });
        poll.start();
        Click(window.Image);
        EXPECT_TRUE(seen.Shown);
        EXPECT_EQ(seen.Title, QStringLiteral("About...."));
        EXPECT_EQ(seen.Version, QStringLiteral("Version 1.0.0.0"));
        EXPECT_EQ(seen.LastNoticeLine, QStringLiteral("Based on Corvane."));
        EXPECT_EQ(seen.Status, c.Status);
        EXPECT_TRUE(seen.Icon);
        EXPECT_TRUE(seen.Owned);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
    EXPECT_EQ(server.RequestCount(), 3u);
    SetVendorSite(BuiltInVendorSite());
    TrustNothing();
}

// A click is a press and a release over the icon: released beside it, nothing opens.
TEST(IconClick, OpensOnlyWhenTheButtonIsReleasedOverTheIcon)
{
    // A vendor site nobody answers at: the check ends at once.
    TVendorSite site = ExampleSite();
    site.UpdatePage = QStringLiteral("https://127.0.0.1:1/webupdate.html");
    site.UpdatePort = 1;
    SetVendorSite(site);
    TwndMain window({QStringLiteral("tessera")});
    window.show();
    int opened = 0;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        TdlgAbout* dlg = AboutBoxWithItsCheckDone();
        if (!dlg)
            return;
        ++opened;
        dlg->Button2->click();
    });
    poll.start();
    // Pressed on the icon's middle, released at a point relative to the icon.
    const auto pressAndRelease = [&](QPoint release) {
        QWidget* icon = window.Image;
        const QPoint middle = icon->rect().center();
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(middle), QPointF(icon->mapToGlobal(middle)), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(icon, &press);
        QMouseEvent up(QEvent::MouseButtonRelease, QPointF(release), QPointF(icon->mapToGlobal(release)),
                       Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(icon, &up);
    };
    pressAndRelease(QPoint(window.Image->width() + 20, 5));
    EXPECT_EQ(opened, 0);
    pressAndRelease(QPoint(-1, -1));
    EXPECT_EQ(opened, 0);
    pressAndRelease(window.Image->rect().center() + QPoint(3, 3));
    EXPECT_EQ(opened, 1);
    SetVendorSite(BuiltInVendorSite());
}

// What a user of a build that names no vendor site sees: the about box without an update check,
// never "Cannot get update information." for a site that cannot answer.
TEST(IconClick, ABuildThatNamesNoSiteChecksForNoUpdate)
{
    if (!std::string_view(TESSERA_VENDOR_SITE).empty())
        GTEST_SKIP() << "this build names a vendor site: " << TESSERA_VENDOR_SITE;
    SetVendorSite(BuiltInVendorSite());
    TwndMain window({QStringLiteral("tessera")});
    window.show();
    bool shown = false;
    bool checking = true;
    bool statusShown = true;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dlg = dynamic_cast<TdlgAbout*>(QApplication::activeModalWidget());
        if (!dlg || !dlg->isVisible())
            return;
        poll.stop();
        shown = true;
        checking = dlg->UpdateCheck != nullptr;
        statusShown = !dlg->lUpdate->isHidden();
        dlg->Button2->click();
    });
    poll.start();
    Click(window.Image);
    EXPECT_TRUE(shown);
    EXPECT_FALSE(checking);
    EXPECT_FALSE(statusShown);
}

} // namespace
