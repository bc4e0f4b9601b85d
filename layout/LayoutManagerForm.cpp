#include "layout/LayoutManagerForm.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QScreen>
#include <QUrl>

namespace {

// The primary monitor's area outside the task bars.
QRect WorkArea()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

// The rectangle spanning all monitors.
QRect Desktop()
{
    QRect desktop;
    for (const QScreen* screen : QGuiApplication::screens())
        desktop = desktop.united(screen->geometry());
    return desktop;
}

QList<QRect> Monitors()
{
    QList<QRect> monitors;
    for (const QScreen* screen : QGuiApplication::screens())
        monitors.append(screen->geometry());
    return monitors;
}

QStringList LocalFiles(const QMimeData* data)
{
    QStringList files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            files.append(url.toLocalFile());
    return files;
}

} // namespace

namespace formcentring {

QRect CenterTo(QRect form, const QRect* target, const QRect& workArea)
{
    // The comparison uses the work area's width and height, not its right and bottom edges.
    if (form.left() + form.width() > workArea.width())
        form.setWidth(workArea.width() - form.left());
    if (form.top() + form.height() > workArea.height())
        form.setHeight(workArea.height() - form.top());
    if (target) {
        form.moveLeft(target->left() + (target->width() - form.width()) / 2);
        form.moveTop(target->top() + (target->height() - form.height()) / 2);
        return form;
    }
    return CenterOn(form, workArea);
}

QRect CenterOn(QRect form, const QRect& area)
{
    form.moveTop((area.height() - form.height()) / 2 + area.top());
    form.moveLeft((area.width() - form.width()) / 2 + area.left());
    return form;
}

QRect CenterToMonitor(const QRect& form, int monitor, const QList<QRect>& monitors, const QRect& workArea)
{
    if (monitor < 0 || monitor >= monitors.size())
        return CenterTo(form, nullptr, workArea);
    return CenterOn(form, monitors[monitor]);
}

} // namespace formcentring

TLMForm::TLMForm(QWidget* parent) : QWidget(parent) {}

void TLMForm::Loaded()
{
    CenterTo(nullptr);
    setAcceptDrops(FAF);
}

void TLMForm::SetAcceptFiles(bool accept)
{
    FAF = accept;
    setAcceptDrops(accept);
}

QRect TLMForm::FormBounds() const
{
    return frameGeometry();
}

void TLMForm::SetFormBounds(const QRect& bounds)
{
    const QRect frame = frameGeometry();
    const QSize frameExtra = frame.size() - size();
    resize(bounds.size() - frameExtra);
    move(bounds.topLeft());
}

void TLMForm::CenterTo(const QWidget* form)
{
    const QRect target = form ? form->frameGeometry() : QRect();
    SetFormBounds(formcentring::CenterTo(FormBounds(), form ? &target : nullptr, WorkArea()));
}

void TLMForm::CenterToDesktop()
{
    SetFormBounds(formcentring::CenterOn(FormBounds(), Desktop()));
}

void TLMForm::CenterToMonitor(int monitor)
{
    SetFormBounds(formcentring::CenterToMonitor(FormBounds(), monitor, Monitors(), WorkArea()));
}

void TLMForm::dragEnterEvent(QDragEnterEvent* event)
{
    if (FAF && !LocalFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TLMForm::dragMoveEvent(QDragMoveEvent* event)
{
    if (FAF && !LocalFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TLMForm::dropEvent(QDropEvent* event)
{
    // Names are handed over whole, however long.
    const QStringList files = LocalFiles(event->mimeData());
    if (!FAF || files.isEmpty())
        return;
    event->acceptProposedAction();
    if (FOnDropFiles)
        FOnDropFiles(this, files);
}
