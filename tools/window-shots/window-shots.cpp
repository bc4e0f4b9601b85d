// Pictures of the main window on a file and of what its three lower buttons open, for looking at
// the program the way a user does:
//   window-shots FILE OUTDIR [PASSWORD]
// writes OUTDIR/main.png, view.png, properties.png and export.png;
//   window-shots --about UPDATE_PAGE OUTDIR
// writes OUTDIR/about.png: the about box a click on the icon opens, a few seconds into its update
// check against UPDATE_PAGE (a page of your own, or "-" for the site the build names, if any).
// Offscreen by default; run under Xvfb with QT_QPA_PLATFORM=xcb for the real window system's look.
#include "about/AboutDlg.h"
#include "about/ProgramVersion.h"
#include "app/Main.h"
#include "app/PwdDlg.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <functional>
#include <string_view>

namespace {

QString Folder;

void Save(QWidget* widget, const char* name)
{
    if (widget)
        widget->grab().save(Folder + u'/' + QString::fromLatin1(name));
}

// Once a modal window is up: takes its picture, then closes it.
void ShootNextModal(const char* name, const std::function<void(QWidget*)>& close)
{
    QTimer::singleShot(500, [name, close] {
        QWidget* modal = QApplication::activeModalWidget();
        Save(modal, name);
        if (modal)
            close(modal);
    });
}

int ShootAbout(const QString& page)
{
    if (page != u'-') {
        // The update check takes the port apart from the address.
        const QUrl url(page);
        SetVendorSite({url.adjusted(QUrl::RemovePort).toString(),
                       static_cast<uint16_t>(url.port(url.scheme() == u"https" ? 443 : 80)),
                       url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemovePort).toString(),
                       BuiltInVendorSite().EMail});
    }
    TwndMain window({QStringLiteral("tessera")});
    window.show();
    // The check runs while the box is up; its outcome shows within a few seconds on loopback.
    QTimer::singleShot(4000, [] {
        QWidget* modal = QApplication::activeModalWidget();
        Save(modal, "about.png");
        if (modal)
            modal->close();
    });
    window.ImageClick();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication application(argc, argv);
    ReadProgramVersionInfo();
    if (argc < 3) {
        std::fprintf(stderr, "usage: window-shots FILE OUTDIR [PASSWORD]\n"
                             "       window-shots --about UPDATE_PAGE OUTDIR\n");
        return 2;
    }
    if (std::string_view(argv[1]) == "--about") {
        if (argc != 4) {
            std::fprintf(stderr, "usage: window-shots --about UPDATE_PAGE OUTDIR\n");
            return 2;
        }
        Folder = QString::fromLocal8Bit(argv[3]);
        return ShootAbout(QString::fromLocal8Bit(argv[2]));
    }
    Folder = QString::fromLocal8Bit(argv[2]);
    const QString password = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    TwndMain window({QStringLiteral("tessera")});
    window.show();
    if (argc > 3)
        ShootNextModal("password.png", [password](QWidget* modal) {
        if (auto* prompt = dynamic_cast<TdlgPwd*>(modal)) {
            prompt->ePwd1->setText(password);
            prompt->accept();
        }
    });
    window.OpenFile(QString::fromLocal8Bit(argv[1]));
    QApplication::processEvents();
    Save(&window, "main.png");

    const auto reject = [](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); };
    if (window.bView->isEnabled()) {
        ShootNextModal("view.png", reject);
        window.bView->click();
    }
    if (window.bExport->isEnabled()) {
        ShootNextModal("export.png", reject);
        window.bExport->click();
    }
    const QWidgetList before = QApplication::topLevelWidgets();
    window.bProps->click();
    QApplication::processEvents();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && !before.contains(w))
            Save(w, "properties.png");
    return 0;
}
