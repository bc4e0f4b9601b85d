#include "tests/about/AboutTestSupport.h"

#include "support/Exceptions.h"
#include "tests/support/QtApplication.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>

#include <cstdlib>

namespace abouttest {

namespace {

const char* const Schemes[] = {"http", "https", "mailto", "file"};

} // namespace

OpenerScope::OpenerScope(Opener& opener)
{
    for (const char* scheme : Schemes)
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &opener, "open");
}

OpenerScope::~OpenerScope()
{
    for (const char* scheme : Schemes)
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
}

std::string Page(const std::vector<std::pair<std::string, std::string>>& tags)
{
    std::string page = "<HTML>\r\n<HEAD>\r\n<TITLE>Updates</TITLE>\r\n";
    for (const auto& [name, content] : tags)
        page += testsupport::MetaLine(name, content) + "\r\n";
    page += "</HEAD>\r\n<BODY>Updates</BODY>\r\n</HTML>\r\n";
    return page;
}

testsupport::HttpResponse PageResponse(const std::vector<std::pair<std::string, std::string>>& tags)
{
    testsupport::HttpResponse response;
    response.Body = Page(tags);
    return response;
}

bool WaitUntil(const std::function<bool()>& condition)
{
    testsupport::Application();
    // Waits for events as the update check does; the timer wakes the wait now and then so that
    // the bound is looked at.
    QTimer wake;
    wake.start(50);
    const QDeadlineTimer deadline(60'000);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void TrustTestRoot()
{
    setenv("SSL_CERT_FILE", testsupport::Fixture("tls/ca.pem").c_str(), 1);
}

void TrustNothing()
{
    setenv("SSL_CERT_FILE", testsupport::Fixture("no-trust.pem").c_str(), 1);
}

namespace {

void Send(QWidget* widget, QEvent::Type type, QPoint local, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(local), QPointF(widget->mapToGlobal(local)), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

} // namespace

TVendorSite ExampleSite()
{
    return VendorSiteAt(QStringLiteral("https://tessera.example"), QStringLiteral("mailto:tessera@tessera.example"));
}

void Click(QWidget* widget)
{
    const QPoint middle = widget->rect().center();
    Send(widget, QEvent::MouseButtonPress, middle, Qt::LeftButton, Qt::LeftButton);
    Send(widget, QEvent::MouseButtonRelease, middle, Qt::LeftButton, Qt::NoButton);
}

void Drag(QWidget* widget, QPoint from, QPoint by)
{
    Send(widget, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    // The widget moves with the window: the point under the mouse is where the press was.
    const QPoint global = widget->mapToGlobal(from) + by;
    QMouseEvent move(QEvent::MouseMove, QPointF(from + by), QPointF(global), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(from), QPointF(global), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &release);
}

QString ErrorText(uint32_t error)
{
    return SysErrorMessage(error);
}

} // namespace abouttest
