// tessera: the window.
#include "about/ProgramVersion.h"
#include "app/Main.h"
#include "platform/include/win/objidl.h"

#include <QApplication>

int main(int argc, char** argv)
{
    OleInitialize(nullptr);
    ReadProgramVersionInfo();
    int result = 0;
    {
        QApplication application(argc, argv);
        QApplication::setApplicationName(QStringLiteral("Tessera"));
        QApplication::setApplicationVersion(QStringLiteral(TESSERA_VERSION));
        QApplication::setDesktopFileName(QStringLiteral("tessera"));
        TwndMain wndMain(QApplication::arguments());
        wndMain.show();
        result = QApplication::exec();
    }
    OleUninitialize();
    return result;
}
