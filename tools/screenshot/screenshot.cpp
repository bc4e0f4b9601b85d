// Saves a picture of the whole X screen, for looking at the windows under Xvfb:
//   xvfb-run -s "-screen 0 1024x768x24" sh -c 'tessera FILE & sleep 3; screenshot out.png'
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: screenshot <file.png>\n");
        return 2;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 1;
    return screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
