// The about box dragged on an X11 display where a window manager offers to move windows
// (_NET_WM_MOVERESIZE): the box follows the pointer by the pointer's movement. The display is an
// Xvfb of the test's own, whose root window announces that offer while nothing acts on it, so a
// box that handed its drag to the window manager would not move at all (real ones, such as
// openbox, made it jump by its own position).
#include "about/AboutDlg.h"
#include "tests/support/QtPrinters.h"

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// An X server of the test's own for its life; its display name, empty when none could start.
class OwnDisplay {
public:
    OwnDisplay()
    {
        if (access("/usr/bin/Xvfb", X_OK) != 0)
            return;
        int ready[2];
        if (pipe2(ready, O_CLOEXEC) != 0)
            return;
        FServer = fork();
        if (FServer == 0) {
            // The display number is written to this descriptor once the server takes clients.
            const int fd = dup(ready[1]);
            const std::string displayFd = std::to_string(fd);
            // No reset when the last client leaves: the root window keeps what the test put there.
            execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", displayFd.c_str(), "-noreset", "-nolisten", "tcp", "-screen",
                  "0", "1280x1024x24", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(ready[1]);
        std::string number;
        pollfd wait{ready[0], POLLIN, 0};
        char c = 0;
        while (poll(&wait, 1, 20'000) == 1 && read(ready[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(ready[0]);
        if (!number.empty())
            FName = ":" + number;
    }
    ~OwnDisplay()
    {
        if (FServer > 0) {
            kill(FServer, SIGTERM);
            waitpid(FServer, nullptr, 0);
        }
    }
    OwnDisplay(const OwnDisplay&) = delete;
    OwnDisplay& operator=(const OwnDisplay&) = delete;

    [[nodiscard]] const std::string& Name() const { return FName; }

private:
    pid_t FServer = -1;
    std::string FName;
};

xcb_atom_t Atom(xcb_connection_t* connection, const char* name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : XCB_ATOM_NONE;
    std::free(reply);
    return atom;
}

// The root window announces, as a window manager does, that it moves windows on request.
bool AnnounceMoveResize(const std::string& display)
{
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    if (!connection || xcb_connection_has_error(connection)) {
        if (connection)
            xcb_disconnect(connection);
        return false;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const xcb_atom_t moveResize = Atom(connection, "_NET_WM_MOVERESIZE");
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, root, Atom(connection, "_NET_SUPPORTED"), XCB_ATOM_ATOM,
                        32, 1, &moveResize);
    const bool ok = xcb_flush(connection) > 0 && !xcb_connection_has_error(connection);
    xcb_disconnect(connection);
    return ok;
}

TEST(AboutDragX11, TheBoxFollowsThePointerWhereAWindowManagerOffersToMoveIt)
{
    const OwnDisplay display;
    if (display.Name().empty())
        GTEST_SKIP() << "no X server of the test's own could start (Xvfb, from tools/deps.sh --test)";
    ASSERT_TRUE(AnnounceMoveResize(display.Name()));
    setenv("DISPLAY", display.Name().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    unsetenv("XDG_CURRENT_DESKTOP");
    int argc = 1;
    char name[] = "about_x11_test";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));

    TdlgAbout dlg(nullptr);
    dlg.Setup(QString(), QString(), lngEn, VendorSiteAt(QString(), QString()));
    dlg.move(100, 100);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    // Placed where asked: no window manager places it elsewhere.
    const auto settle = [&dlg](QPoint expected) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (dlg.pos() != expected && std::chrono::steady_clock::now() < deadline)
            QTest::qWait(20);
    };
    settle(QPoint(100, 100));
    ASSERT_EQ(dlg.pos(), QPoint(100, 100));

    // Pressed on the product's name, moved by (40, 25) and released there. The pointer's place on
    // the screen is what stays: the window under it may have moved meanwhile.
    QWindow* window = dlg.windowHandle();
    const QPoint grip = dlg.lProduct->mapTo(&dlg, dlg.lProduct->rect().center());
    const QPoint pointer = window->mapToGlobal(grip) + QPoint(40, 25);
    QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, grip);
    QTest::mouseMove(window, window->mapFromGlobal(pointer));
    settle(QPoint(140, 125));
    QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, window->mapFromGlobal(pointer));
    settle(QPoint(140, 125));
    EXPECT_EQ(dlg.pos(), QPoint(140, 125));
}

} // namespace
