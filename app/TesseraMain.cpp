// tessera: the window.
#include "about/ProgramVersion.h"
#include "app/Main.h"
#include "platform/include/win/objidl.h"

#include <QApplication>

#include <cstdio>
#include <string_view>

int main(int argc, char** argv)
{
    ReadProgramVersionInfo();
    // The program's version, read from its own version resource as the about box reads it.
    if (argc > 1 && std::string_view(argv[1]) == "--version") {
        std::printf("Tessera %s\n%s\n", qPrintable(ProgramVersionInfo.FileVersion),
                    qPrintable(ProgramVersionInfo.Copyright));
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
    }
    OleInitialize(nullptr);
    int result = 0;
    {
        QApplication application(argc, argv);
        QApplication::setApplicationName(QStringLiteral("Tessera"));
        QApplication::setApplicationVersion(ProgramVersionInfo.FileVersion);
        QApplication::setDesktopFileName(QStringLiteral("tessera"));
        TwndMain wndMain(QApplication::arguments());
        wndMain.show();
        result = QApplication::exec();
    }
    OleUninitialize();
    return result;
}
