#include "layout/FramePlacement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace frameplacement {

namespace {

// Watches a window for its first expose, then places it again, unless something else has moved
// it since (a stored layout restored at show), and goes.
class FirstExpose final : public QObject {
public:
    FirstExpose(QWindow* handle, QWidget* window, std::function<void()> place)
        : QObject(handle), FWindow(window), FPlaced(window->pos()), FPlace(std::move(place))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* window = static_cast<QWindow*>(watched);
        if (event->type() == QEvent::Expose && window->isExposed()) {
            window->removeEventFilter(this);
            deleteLater();
            if (FWindow && FWindow->pos() == FPlaced)
                FPlace();
        }
        return false;
    }

private:
    QPointer<QWidget> FWindow;
    QPoint FPlaced;
    std::function<void()> FPlace;
};

} // namespace

bool CanPlaceWindows()
{
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void PlaceByFrame(QWidget* window, std::function<void()> place)
{
    if (!CanPlaceWindows())
        return;
    place();
    window->winId(); // the native window, whose expose tells that the frame is there
    QWindow* handle = window->windowHandle();
    if (!handle || handle->isExposed())
        return;
    handle->installEventFilter(new FirstExpose(handle, window, std::move(place)));
}

} // namespace frameplacement
