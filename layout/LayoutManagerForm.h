// The layout-aware form the main window derives from: a top-level form with a layout manager that
// can save and restore its layout, centring on the work area, the desktop, a monitor or another
// form, files dropped from the desktop handed over as a list of names, the monitor it stands on,
// and window-system changes turned into events.
#pragma once

#include "layout/LayoutManagerControl.h"

#include <QRect>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QTimer;

class TLMForm : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool LayoutControl READ LayoutControl WRITE SetLayoutControl)
    Q_PROPERTY(bool LayoutReadOnly READ LayoutReadOnly WRITE SetLayoutReadOnly)
    Q_PROPERTY(bool AcceptFiles READ AcceptFiles WRITE SetAcceptFiles)

public:
    // The sender (the form) and the full names of the dropped files, in the order given.
    using TOnDropFilesEvent = std::function<void(QObject* sender, const QStringList& files)>;
    using TDisplayChangeEvent = std::function<void(QObject* sender, int width, int height, int bitsPerPixel)>;
    // Monitor numbers: indexes in QGuiApplication::screens().
    using TMonitorChangedEvent = std::function<void(QObject* sender, int oldMonitor, int newMonitor)>;

    // The window-state commands DoWindowStateChange tells apart.
    static constexpr unsigned SC_MINIMIZE = 0xF020;
    static constexpr unsigned SC_MAXIMIZE = 0xF030;
    static constexpr unsigned SC_RESTORE = 0xF120;
    // What SafeHandle gives for a window without a handle.
    static constexpr WId InvalidHandle = ~WId{0};

    // Always a window of its own, with a caption, system menu, sizing frame and minimize and
    // maximize buttons; the first one made while the application has no main form becomes it.
    explicit TLMForm(QWidget* parent = nullptr);
    // With LayoutControl on, a form that has been shown saves its whole layout manager.
    ~TLMForm() override;

    // On: the form registers itself with its manager with LayoutOptions, restores its layout at
    // every show, saves it at the end of every user move or resize, when closed and when
    // destroyed, and re-applies it without the window state after display or density changes.
    [[nodiscard]] bool LayoutControl() const { return FLC; }
    void SetLayoutControl(bool value);
    [[nodiscard]] TLayoutManagerControlOptions LayoutOptions() const { return FLMCO; }
    void SetLayoutOptions(TLayoutManagerControlOptions value);
    // Also the manager's read-only state.
    [[nodiscard]] bool LayoutReadOnly() const { return FRO; }
    void SetLayoutReadOnly(bool value);
    [[nodiscard]] bool AcceptFiles() const { return FAF; }
    void SetAcceptFiles(bool accept);

    [[nodiscard]] uint64_t UniqueId() const { return FUID; }
    [[nodiscard]] TLayoutManager* LayoutManager() const { return FLM.get(); }
    // True once the form is closed for good, and while it is destroyed.
    [[nodiscard]] bool Closing() const { return FClosing; }
    // True while a change of the monitor's density is handled.
    [[nodiscard]] bool DPIChanging() const { return FDPIChanging; }
    // The window's handle if it has one, else InvalidHandle; never makes one.
    [[nodiscard]] WId SafeHandle() const;
    // The class the form was of when complete, also while it is being destroyed and has become
    // a TLMForm again.
    [[nodiscard]] QString FormClassName() const;

    // The layout events are the manager's, which sends them with itself as sender.
    [[nodiscard]] const TNotifyEvent& OnBeforeRestore() const { return FOnBeforeRestore; }
    void SetOnBeforeRestore(TNotifyEvent handler);
    [[nodiscard]] const TNotifyEvent& OnAfterRestore() const { return FOnAfterRestore; }
    void SetOnAfterRestore(TNotifyEvent handler);
    [[nodiscard]] const TNotifyEvent& OnBeforeSave() const { return FOnBeforeSave; }
    void SetOnBeforeSave(TNotifyEvent handler);
    [[nodiscard]] const TNotifyEvent& OnAfterSave() const { return FOnAfterSave; }
    void SetOnAfterSave(TNotifyEvent handler);
    // The primary monitor's width and height and its bits per pixel, after the display changed.
    [[nodiscard]] const TDisplayChangeEvent& OnDisplayChange() const { return FOnDisplayChange; }
    void SetOnDisplayChange(TDisplayChangeEvent handler) { FOnDisplayChange = std::move(handler); }
    // The application's style or palette changed.
    [[nodiscard]] const TNotifyEvent& OnCustomStyleChanged() const { return FOnCustomStyleChanged; }
    void SetOnCustomStyleChanged(TNotifyEvent handler) { FOnCustomStyleChanged = std::move(handler); }
    [[nodiscard]] const TOnDropFilesEvent& OnDropFiles() const { return FOnDropFiles; }
    void SetOnDropFiles(TOnDropFilesEvent handler) { FOnDropFiles = std::move(handler); }
    [[nodiscard]] const TNotifyEvent& OnMaximize() const { return FOnMaximize; }
    void SetOnMaximize(TNotifyEvent handler) { FOnMaximize = std::move(handler); }
    [[nodiscard]] const TNotifyEvent& OnMinimize() const { return FOnMinimize; }
    void SetOnMinimize(TNotifyEvent handler) { FOnMinimize = std::move(handler); }
    // Every resize of a normal window while it is showing, and its return to the normal state,
    // which the window system may report both as a change of state and as a resize.
    [[nodiscard]] const TNotifyEvent& OnRestore() const { return FOnRestore; }
    void SetOnRestore(TNotifyEvent handler) { FOnRestore = std::move(handler); }
    [[nodiscard]] const TMonitorChangedEvent& OnMonitorChanged() const { return FOnMonitorChanged; }
    void SetOnMonitorChanged(TMonitorChangedEvent handler) { FOnMonitorChanged = std::move(handler); }
    // Kept for forms that set it; nothing here fires it.
    [[nodiscard]] const TNotifyEvent& OnMouseClickOutside() const { return FOnMouseClickOutside; }
    void SetOnMouseClickOutside(TNotifyEvent handler) { FOnMouseClickOutside = std::move(handler); }

    // On another form, or on the work area when there is none; a form too large for the work area
    // is shrunk first.
    void CenterTo(const QWidget* form);
    void CenterToDesktop();
    // An index outside the monitor list centres on the work area.
    void CenterToMonitor(int monitor);

    // The bounds the centring works with: the window including its frame.
    [[nodiscard]] QRect FormBounds() const;
    void SetFormBounds(const QRect& bounds);

    // A form becoming visible restores its layout first, so that it appears where it was.
    void setVisible(bool visible) override;

protected:
    // Ends the form's creation once its design is loaded: another form takes the main form's
    // storage and read-only state, the form is centred on the work area and accepts drops as
    // designed. The creation handler runs after this.
    void Loaded();

    // SC_MINIMIZE, SC_MAXIMIZE and SC_RESTORE fire OnMinimize, OnMaximize and OnRestore.
    virtual void DoWindowStateChange(unsigned command);

    // What the window system reports, as the form handles it. A user's move or resize starts
    // with the first step the window system reports and ends when the steps stop for a moment.
    void DisplayChanged();
    void DensityChanged();
    void EnterSizeMove();
    void ExitSizeMove();
    void MovingOrSizing();

    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The layout again without the window state, the options put back also when it fails.
    void RestoreWithoutState();
    void WatchScreen(QScreen* screen);
    void UserSizeMoveStep();
    // Layout work the window system starts has no caller to fail to: a failure is reported.
    template <typename Work> void Reporting(const char* what, Work&& work);

    const std::unique_ptr<TLayoutManager> FLM;
    bool FLC = false;
    TNotifyEvent FOnAfterRestore;
    TNotifyEvent FOnAfterSave;
    TNotifyEvent FOnBeforeRestore;
    TNotifyEvent FOnBeforeSave;
    TLayoutManagerControlOptions FLMCO = {loPosition, loSize, loState, loStyle};
    TDisplayChangeEvent FOnDisplayChange;
    bool FAF = false;
    TOnDropFilesEvent FOnDropFiles;
    bool FRO = false;
    bool FClosing = false;
    TNotifyEvent FOnRestore;
    TNotifyEvent FOnMaximize;
    bool FDPIChanging = false;
    TNotifyEvent FOnMouseClickOutside;
    TNotifyEvent FOnMinimize;
    int FMonNum = -1;
    TMonitorChangedEvent FOnMonitorChanged;
    const uint64_t FUID;
    TNotifyEvent FOnCustomStyleChanged;
    bool FMoving = false;
    bool FRestored = false;

    QString FClassName;
    bool FDestroying = false;
    QTimer* FSizeMoveEnd;
    std::vector<QMetaObject::Connection> FScreenConnections;
};

// The centring arithmetic, free of any window: half a difference is truncated toward zero.
namespace formcentring {

[[nodiscard]] QRect CenterTo(QRect form, const QRect* target, const QRect& workArea);
[[nodiscard]] QRect CenterOn(QRect form, const QRect& area);
[[nodiscard]] QRect CenterToMonitor(const QRect& form, int monitor, const QList<QRect>& monitors,
                                    const QRect& workArea);

} // namespace formcentring
