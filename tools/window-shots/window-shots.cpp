// Pictures of the main window on a file and of what its three lower buttons open, for looking at
// the program the way a user does:
//   window-shots FILE OUTDIR [PASSWORD]
// writes OUTDIR/main.png, view.png, properties.png and export.png;
//   window-shots --about UPDATE_PAGE OUTDIR
// writes OUTDIR/about.png: the about box a click on the icon opens, a few seconds into its update
// check against UPDATE_PAGE (a page of your own, or "-" for the site the build names, if any).
// Offscreen by default; run under Xvfb with QT_QPA_PLATFORM=xcb for the real window system's look.
// A picture that could not be taken is named on standard error, and the exit status is then 1; so
// is a stand-in library missing beside the program, without which the pictures would show another
// report than the program's.
#include "about/AboutDlg.h"
#include "about/ProgramVersion.h"
#include "app/Main.h"
#include "app/PwdDlg.h"

#include <QApplication>
#include <QDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <functional>
#include <string_view>
#include <utility>

namespace {

QString Folder;
// The pictures not taken, each with the reason.
QStringList Missing;

void NotTaken(const char* name, const char* reason)
{
    Missing.append(QString::fromLatin1(name) + QStringLiteral(": not taken: ") + QString::fromLatin1(reason));
}

void Save(QWidget* widget, const char* name, const char* whyNone)
{
    if (!widget)
        NotTaken(name, whyNone);
    else if (!widget->grab().save(Folder + u'/' + QString::fromLatin1(name)))
        NotTaken(name, "it could not be written");
}

// Once a modal window is up: takes its picture, then closes it.
void ShootNextModal(const char* name, const std::function<void(QWidget*)>& close)
{
    QTimer::singleShot(500, [name, close] {
        QWidget* modal = QApplication::activeModalWidget();
        Save(modal, name, "no dialog opened");
        if (modal)
            close(modal);
    });
}

// The stand-ins the window loads by name beside the program; without one it reports what it can,
// and its pictures would not be the program's.
bool StandInsPresent()
{
    bool present = true;
    const QString folder = QCoreApplication::applicationDirPath();
    for (const char* module : {"crypt32", "wintrust", "cryptui", "imagehlp"}) {
        const QString file =
            folder + QStringLiteral("/libtessera-") + QString::fromLatin1(module) + QStringLiteral(".so");
        if (!QFileInfo::exists(file)) {
            std::fprintf(stderr, "window-shots: %s is missing\n", qPrintable(file));
            present = false;
        }
    }
    return present;
}

// Names the pictures not taken; the exit status.
int Finish()
{
    for (const QString& line : std::as_const(Missing))
        std::fprintf(stderr, "window-shots: %s\n", qPrintable(line));
    return Missing.isEmpty() ? 0 : 1;
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
        Save(modal, "about.png", "the about box did not open");
        if (modal)
            modal->close();
    });
    window.ImageClick();
    return Finish();
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication application(argc, argv);
    ReadProgramVersionInfo();
    if (!StandInsPresent())
        return 1;
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
    Save(&window, "main.png", "");

    const auto reject = [](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); };
    for (const auto& [button, name] : {std::pair{window.bView, "view.png"}, std::pair{window.bExport, "export.png"}}) {
        if (!button->isEnabled()) {
            NotTaken(name, "its button is disabled: the file gave no certificates");
            continue;
        }
        ShootNextModal(name, reject);
        button->click();
    }
    const QWidgetList before = QApplication::topLevelWidgets();
    window.bProps->click();
    QApplication::processEvents();
    QWidget* properties = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && !before.contains(w))
            properties = w;
    Save(properties, "properties.png", "no window of Tessera's own opened (a file manager may have shown them)");
    return Finish();
}
