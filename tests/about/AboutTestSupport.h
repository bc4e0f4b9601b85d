// Shared by the about-box and update-check tests: a stand-in for the desktop's opener, update
// pages, bounded waits and the trust store.
#pragma once

#include "about/AboutDlg.h"
#include "tests/platform/wininet/LoopbackHttpServer.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QPoint>
#include <QUrl>

#include <functional>
#include <string>
#include <utility>
#include <vector>

class QWidget;

namespace abouttest {

// Records what the desktop would have opened.
class Opener : public QObject {
    Q_OBJECT
public:
    QList<QUrl> Opened;
public slots:
    void open(const QUrl& url) { Opened.append(url); }
};

// Sends the schemes the program opens to an Opener while it lives.
class OpenerScope {
public:
    explicit OpenerScope(Opener& opener);
    ~OpenerScope();
    OpenerScope(const OpenerScope&) = delete;
    OpenerScope& operator=(const OpenerScope&) = delete;
};

// An update page: one meta tag per line, between a little HTML.
[[nodiscard]] std::string Page(const std::vector<std::pair<std::string, std::string>>& tags);
[[nodiscard]] testsupport::HttpResponse PageResponse(const std::vector<std::pair<std::string, std::string>>& tags);

// Processes events until the condition holds; false when a generous bound passed first.
bool WaitUntil(const std::function<bool()>& condition);

// A vendor's site as a release would name it; the tests' own pages replace its update page.
[[nodiscard]] TVendorSite ExampleSite();

// The tests' root as the system's only trusted one, or no root at all.
void TrustTestRoot();
void TrustNothing();

// A left click on the middle of a widget, as the window system delivers it.
void Click(QWidget* widget);
// A left-button press at a point of a widget, a move by an offset, and the release.
void Drag(QWidget* widget, QPoint from, QPoint by);

// The system's text for a Win32 error, as the update check reports it.
[[nodiscard]] QString ErrorText(uint32_t error);

[[nodiscard]] inline QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

} // namespace abouttest
