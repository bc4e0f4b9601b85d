// tessera: the window.
#include "about/ProgramVersion.h"
#include "app/CommandLine.h"
#include "app/Main.h"
#include "platform/include/win/objidl.h"
#include "support/FileName.h"

#include <QApplication>

namespace {

constexpr char Usage[] =
    "Usage: tessera [FILE]\n"
    "Open Tessera's window on FILE: the certificates and signatures it carries.\n"
    "\n"
    "FILE is a Windows executable or DLL, an installer package or other compound document, a\n"
    "certificate file (.pem .p7c .p7b .cer .crt .der) or a key container (.pfx .p12). Only the\n"
    "first argument names the file; the others are ignored. Put -- before a FILE that begins\n"
    "with --.\n"
    "\n"
    "      --help     display this help and exit\n"
    "      --version  output version information and exit\n"
    "\n"
    "tessera-report prints the same report on standard output.\n";

} // namespace

int main(int argc, char** argv)
{
    // Names as the file system has them, whatever their bytes.
    QStringList arguments = ArgumentsFromBytes(argc, argv);
    if (!arguments.isEmpty() && arguments.first() == u"--help") {
        WriteOut(Usage);
        return FinishOutput("tessera", 0);
    }
    if (!arguments.isEmpty() && arguments.first() == u"--version") {
        WriteOut(VersionText());
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
        QApplication application(qtArgc, qtArgv);
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
