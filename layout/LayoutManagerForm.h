// The layout-aware form the main window derives from: centring on the work area, the desktop, a
// monitor or another form, and files dropped from the desktop handed over as a list of names.
#pragma once

#include <QRect>
#include <QStringList>
#include <QWidget>

#include <functional>

class TLMForm : public QWidget {
public:
    // The sender (the form) and the full names of the dropped files, in the order given.
    using TOnDropFilesEvent = std::function<void(QObject* sender, const QStringList& files)>;

    explicit TLMForm(QWidget* parent = nullptr);

    [[nodiscard]] bool AcceptFiles() const { return FAF; }
    void SetAcceptFiles(bool accept);
    [[nodiscard]] const TOnDropFilesEvent& OnDropFiles() const { return FOnDropFiles; }
    void SetOnDropFiles(TOnDropFilesEvent handler) { FOnDropFiles = std::move(handler); }

    // On another form, or on the work area when there is none; a form too large for the work area
    // is shrunk first.
    void CenterTo(const QWidget* form);
    void CenterToDesktop();
    // An index outside the monitor list centres on the work area.
    void CenterToMonitor(int monitor);

    // The bounds the centring works with: the window including its frame.
    [[nodiscard]] QRect FormBounds() const;
    void SetFormBounds(const QRect& bounds);

protected:
    // Ends the form's creation once its design is loaded: centred on the work area, drops accepted
    // as designed. The creation handler runs after this.
    void Loaded();

    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool FAF = false;
    TOnDropFilesEvent FOnDropFiles;
};

// The centring arithmetic, free of any window: half a difference is truncated toward zero.
namespace formcentring {

[[nodiscard]] QRect CenterTo(QRect form, const QRect* target, const QRect& workArea);
[[nodiscard]] QRect CenterOn(QRect form, const QRect& area);
[[nodiscard]] QRect CenterToMonitor(const QRect& form, int monitor, const QList<QRect>& monitors,
                                    const QRect& workArea);

} // namespace formcentring
