#include "layout/LayoutManagerForm.h"

#include "layout/FramePlacement.h"
#include "support/FileName.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QMoveEvent>
#include <QPointer>
#include <QResizeEvent>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QUrl>
#include <QWindowStateChangeEvent>

#include <algorithm>
#include <chrono>
#include <exception>
#include <typeinfo>

namespace {

// The window system reports a user's move or resize step by step and not its end: it has ended
// once no step came for this long.
constexpr std::chrono::milliseconds SizeMoveSettleTime{400};

// The primary monitor's area outside the task bars.
QRect WorkArea()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
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
    for (const QUrl& url : data->urls()) {
        // By the address's bytes: a name need not be UTF-8.
        QString name = FileNameFromUrl(url);
        // A folder's address may end in "/": it names the same folder.
        while (name.size() > 1 && name.endsWith(u'/'))
            name.chop(1);
        if (!name.isEmpty())
            files.append(name);
    }
    return files;
}

// The system's tick count in milliseconds, made strictly increasing so that two forms made within
// the same millisecond still differ.
uint64_t NextUniqueId()
{
    static uint64_t last = 0;
    const auto ticks =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
    last = std::max(static_cast<uint64_t>(ticks.count()), last + 1);
    return last;
}

// Pixels per inch as the window system draws them: Qt scales high-density monitors by their
// device pixel ratio and keeps their logical density at the platform's base.
double EffectiveDensity(const QScreen* screen)
{
    return screen ? screen->logicalDotsPerInch() * screen->devicePixelRatio() : 0.0;
}

constexpr Qt::WindowStates SizedStates = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;

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

TLMForm::TLMForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                          Qt::WindowCloseButtonHint),
      FLM(std::make_unique<TLayoutManager>(this)), FUID(NextUniqueId()), FSizeMoveEnd(new QTimer(this))
{
    if (!ApplicationMainForm())
        SetApplicationMainForm(this);

    FSizeMoveEnd->setSingleShot(true);
    FSizeMoveEnd->setInterval(SizeMoveSettleTime);
    connect(FSizeMoveEnd, &QTimer::timeout, this, [this] { ExitSizeMove(); });

    const auto displayChanged = [this] { DisplayChanged(); };
    FScreenConnections.push_back(connect(qGuiApp, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
        WatchScreen(screen);
        DisplayChanged();
    }));
    FScreenConnections.push_back(connect(qGuiApp, &QGuiApplication::screenRemoved, this, displayChanged));
    FScreenConnections.push_back(connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, displayChanged));
    for (QScreen* screen : QGuiApplication::screens())
        WatchScreen(screen);
}

TLMForm::~TLMForm()
{
    // The screens' notifications would otherwise reach a form that is no longer one.
    for (const QMetaObject::Connection& connection : FScreenConnections)
        disconnect(connection);
    FDestroying = true;
    FClosing = true;
    if (FLC && SafeHandle() != InvalidHandle && FRestored)
        Reporting("saving", [this] { FLM->Save(); });
    if (ApplicationMainForm() == this)
        SetApplicationMainForm(nullptr);
}

void TLMForm::WatchScreen(QScreen* screen)
{
    FScreenConnections.push_back(connect(screen, &QScreen::geometryChanged, this, [this] { DisplayChanged(); }));
    FScreenConnections.push_back(connect(screen, &QScreen::logicalDotsPerInchChanged, this, [this, screen] {
        if (monitors::Nearest(this) == screen)
            DensityChanged();
    }));
}

template <typename Work> void TLMForm::Reporting(const char* what, Work&& work)
{
    try {
        work();
    } catch (const std::exception& error) {
        qWarning("%s: %s the layout failed: %s", qPrintable(FormClassName()), what, error.what());
    }
}

void TLMForm::Loaded()
{
    auto* mainForm = qobject_cast<TLMForm*>(ApplicationMainForm());
    if (!FLM->Storage() && mainForm && mainForm != this) {
        FLM->SetStorage(mainForm->FLM->Storage());
        SetLayoutReadOnly(mainForm->LayoutReadOnly());
    }
    CenterTo(nullptr);
    setAcceptDrops(FAF);
}

QString TLMForm::FormClassName() const
{
    return FDestroying && !FClassName.isEmpty() ? FClassName : ClassNameOf(typeid(*this));
}

WId TLMForm::SafeHandle() const
{
    const WId handle = internalWinId();
    return handle ? handle : InvalidHandle;
}

void TLMForm::SetLayoutControl(bool value)
{
    FLC = value;
    if (value)
        FLM->Add(this, {}, FLMCO, {});
    else
        FLM->Delete(this);
}

void TLMForm::SetLayoutOptions(TLayoutManagerControlOptions value)
{
    FLMCO = value;
    FLM->SetOptions(this, value);
}

void TLMForm::SetLayoutReadOnly(bool value)
{
    FRO = value;
    FLM->SetReadOnly(value);
}

void TLMForm::SetAcceptFiles(bool accept)
{
    FAF = accept;
    setAcceptDrops(accept);
}

void TLMForm::SetOnBeforeRestore(TNotifyEvent handler)
{
    FOnBeforeRestore = handler;
    FLM->SetOnBeforeRestore(std::move(handler));
}

void TLMForm::SetOnAfterRestore(TNotifyEvent handler)
{
    FOnAfterRestore = handler;
    FLM->SetOnAfterRestore(std::move(handler));
}

void TLMForm::SetOnBeforeSave(TNotifyEvent handler)
{
    FOnBeforeSave = handler;
    FLM->SetOnBeforeSave(std::move(handler));
}

void TLMForm::SetOnAfterSave(TNotifyEvent handler)
{
    FOnAfterSave = handler;
    FLM->SetOnAfterSave(std::move(handler));
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

// Each centring is made by the frame, again once the window system knows it.
void TLMForm::CenterTo(const QWidget* form)
{
    const QPointer<const QWidget> other(form);
    frameplacement::PlaceByFrame(this, [this, other, centredOnForm = form != nullptr] {
        if (centredOnForm && !other)
            return;
        const QRect target = other ? other->frameGeometry() : QRect();
        SetFormBounds(formcentring::CenterTo(FormBounds(), other ? &target : nullptr, WorkArea()));
    });
}

void TLMForm::CenterToDesktop()
{
    frameplacement::PlaceByFrame(
        this, [this] { SetFormBounds(formcentring::CenterOn(FormBounds(), monitors::VirtualDesktop())); });
}

void TLMForm::CenterToMonitor(int monitor)
{
    frameplacement::PlaceByFrame(this, [this, monitor] {
        SetFormBounds(formcentring::CenterToMonitor(FormBounds(), monitor, Monitors(), WorkArea()));
    });
}

void TLMForm::setVisible(bool visible)
{
    if (visible && !isVisible()) {
        FRestored = true;
        FClassName = ClassNameOf(typeid(*this));
        // A style restored on the way hides and shows the window again: one restore is enough.
        if (FLC && !FLM->Restoring())
            Reporting("restoring", [this] { FLM->Restore(); });
    }
    QWidget::setVisible(visible);
}

void TLMForm::DoWindowStateChange(unsigned command)
{
    const TNotifyEvent* event = command == SC_MINIMIZE   ? &FOnMinimize
                                : command == SC_MAXIMIZE ? &FOnMaximize
                                : command == SC_RESTORE  ? &FOnRestore
                                                         : nullptr;
    if (event && *event)
        (*event)(this);
}

void TLMForm::RestoreWithoutState()
{
    const TLayoutManagerControlOptions options = FLMCO;
    SetLayoutOptions(options - loState);
    try {
        FLM->Restore(this);
    } catch (...) {
        SetLayoutOptions(options);
        throw;
    }
    SetLayoutOptions(options);
}

void TLMForm::DisplayChanged()
{
    if (FLC && !FDPIChanging && !FMoving)
        Reporting("restoring", [this] { RestoreWithoutState(); });
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (FOnDisplayChange && primary)
        FOnDisplayChange(this, primary->size().width(), primary->size().height(), primary->depth());
}

void TLMForm::DensityChanged()
{
    // Qt rescales the window itself; the layout is put back on top of that.
    if (FDPIChanging)
        return;
    FDPIChanging = true;
    if (FLC && !FMoving)
        Reporting("restoring", [this] { RestoreWithoutState(); });
    FDPIChanging = false;
}

void TLMForm::EnterSizeMove()
{
    FMoving = true;
}

void TLMForm::ExitSizeMove()
{
    FMoving = false;
    if (FLC)
        Reporting("saving", [this] { FLM->Save(this); });
}

void TLMForm::MovingOrSizing()
{
    const QScreen* monitor = monitors::Nearest(this);
    const int number = monitors::Number(monitor);
    if (number == FMonNum)
        return;
    const QScreen* previous = monitors::ByNumber(FMonNum);
    if (FOnMonitorChanged)
        FOnMonitorChanged(this, FMonNum, number);
    FMonNum = number;
    if (previous && monitor && EffectiveDensity(previous) != EffectiveDensity(monitor))
        DensityChanged();
}

void TLMForm::UserSizeMoveStep()
{
    if (!FMoving)
        EnterSizeMove();
    FSizeMoveEnd->start();
}

bool TLMForm::event(QEvent* event)
{
    // Known before the form's own close handling runs.
    if (event->type() == QEvent::Close)
        FClosing = testAttribute(Qt::WA_DeleteOnClose);
    const bool handled = QWidget::event(event);
    // Qt destroys the native window of a closed form right after this, so the save at destruction
    // would find no handle: the whole layout is saved now, while the form is still as the user
    // left it.
    if (event->type() == QEvent::Close && event->isAccepted() && FLC && FRestored && SafeHandle() != InvalidHandle)
        Reporting("saving", [this] { FLM->Save(); });
    return handled;
}

void TLMForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FMonNum = monitors::Number(monitors::Nearest(this));
}

void TLMForm::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    if (!isVisible())
        return;
    // Only the window system's reports can be a user's doing; the program's own moves are not.
    if (event->spontaneous())
        UserSizeMoveStep();
    MovingOrSizing();
}

void TLMForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (!isVisible())
        return;
    if (event->spontaneous())
        UserSizeMoveStep();
    MovingOrSizing();
    if (!(windowState() & SizedStates))
        DoWindowStateChange(SC_RESTORE);
}

void TLMForm::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::WindowStateChange: {
        if (!isVisible())
            break;
        const Qt::WindowStates state = windowState();
        const Qt::WindowStates old = static_cast<QWindowStateChangeEvent*>(event)->oldState();
        if (state & Qt::WindowMinimized)
            DoWindowStateChange(SC_MINIMIZE);
        else if (state & (Qt::WindowMaximized | Qt::WindowFullScreen))
            DoWindowStateChange(SC_MAXIMIZE);
        else if (old & SizedStates)
            // Back from the task bar the size is what it was, so no resize may report it.
            DoWindowStateChange(SC_RESTORE);
        break;
    }
    case QEvent::StyleChange:
    case QEvent::PaletteChange:
        if (FOnCustomStyleChanged)
            FOnCustomStyleChanged(this);
        break;
    default: break;
    }
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
