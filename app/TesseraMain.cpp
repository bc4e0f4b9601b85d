// tessera: the window.
#include "about/ProgramVersion.h"
#include "app/CommandLine.h"
#include "app/Main.h"
#include "platform/include/win/objidl.h"
#include "support/FileName.h"

#include <QApplication>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

namespace {

constexpr char Usage[] =
    "Usage: tessera [FILE]\n"
    "Open Tessera's window on FILE: the certificates and signatures it carries.\n"
    "\n"
    "FILE is a Windows executable or DLL, an installer package or other compound\n"
    "document, a certificate file (.pem .p7c .p7b .cer .crt .der) or a key container\n"
    "(.pfx .p12). Only the first argument names the file; the others are ignored.\n"
    "Put -- before a FILE that begins with --.\n"
    "\n"
    "      --help     display this help and exit\n"
    "      --version  output version information and exit\n"
    "\n"
    "tessera-report prints the same report on standard output.\n"
    "\n";;

// Qt's messages while the application starts: held back, because a platform plugin that reaches
// no display writes several of them and then aborts the program. A failure is one line instead,
// and exit status 1.
struct THeldMessage {
    QtMsgType Type;
    QByteArray Category;
    QString Text;
};
QList<THeldMessage> HeldMessages;

void HoldStartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtFatalMsg) {
        HeldMessages.append({type, QByteArray(context.category), message});
        return;
    }
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    std::string why = "no display: neither DISPLAY nor WAYLAND_DISPLAY is set";
    if ((x11 && *x11) || (wayland && *wayland))
        why = std::string("cannot open a window on display ") + (wayland && *wayland ? wayland : x11);
    std::fprintf(stderr, "tessera: %s (tessera-report FILE prints the report without one)\n", why.c_str());
    std::fflush(stderr);
    _exit(1);
}

} // namespace

int main(int argc, char** argv)
{
    // Names as the file system has them, whatever their bytes.
    QStringList arguments = ArgumentsFromBytes(argc, argv);
    if (!arguments.isEmpty() && arguments.first() == u"--help") {
        WriteOut(Usage + HelpFooter());
        return FinishOutput("tessera", 0);
    }
    if (!arguments.isEmpty() && arguments.first() == u"--version") {
        WriteOut(VersionText("tessera"));
        return FinishOutput("tessera", 0);
    }
    if (!arguments.isEmpty() && arguments.first() == u"--")
        arguments.removeFirst();
    ReadProgramVersionInfo();
    OleInitialize(nullptr);
    int result = 0;
    {
        // Qt sees no argument but the program's name: none of its own options (-reverse, -style,
        // -platform, ...) is taken from the user's, which all name files.
        int qtArgc = 1;
        char* qtArgv[] = {argv[0], nullptr};
        const QtMessageHandler qtHandler = qInstallMessageHandler(HoldStartupMessage);
        QApplication application(qtArgc, qtArgv);
        qInstallMessageHandler(qtHandler);
        for (const THeldMessage& held : std::as_const(HeldMessages)) {
            const QMessageLogContext context(nullptr, 0, nullptr, held.Category.constData());
            qt_message_output(held.Type, context, held.Text);
        }
        HeldMessages.clear();
        QApplication::setApplicationName(QStringLiteral("Tessera"));
        QApplication::setApplicationVersion(ProgramVersionInfo.FileVersion);
        QApplication::setDesktopFileName(QStringLiteral("tessera"));
        arguments.prepend(QApplication::applicationFilePath());
        TwndMain wndMain(arguments);
        wndMain.show();
        result = QApplication::exec();
    }
    OleUninitialize();
    return result;
}
