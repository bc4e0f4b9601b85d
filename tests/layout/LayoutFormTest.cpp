// The layout-aware form on two offscreen screens: its defaults, window-state and monitor events,
// layout restored at show and saved at the end of a user move and at destruction, display and
// density changes, borrowed storage, and the main window built on it.
#include "app/Main.h"
#include "layout/FramePlacement.h"
#include "layout/LayoutManagerForm.h"
#include "tests/layout/LayoutTestSupport.h"
#include "tests/support/QtPrinters.h"

#include <QLineEdit>
#include <QPalette>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>

using layouttest::RecordingStorage;

namespace {

const auto& App = layouttest::ApplicationWithScreens(
    R"({"screens": [{"name": "Main", "x": 0, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 96},
                    {"name": "Side", "x": 1920, "y": 0, "width": 1280, "height": 1024, "logicalDpi": 96}]})");

const QString Plain = QStringLiteral("TfrmLayout");

// Lets the window system's reports of what the program did arrive.
void Settle()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

class LayoutForm : public ::testing::Test {
protected:
    void Control(TLMForm& form)
    {
        form.LayoutManager()->SetStorage(Storage);
        form.SetLayoutControl(true);
    }

    std::shared_ptr<RecordingStorage> Storage = std::make_shared<RecordingStorage>();
};

TEST_F(LayoutForm, IsAWindowWithItsOwnManagerAndAUniqueId)
{
    TfrmLayout form;
    TfrmLayout next;
    EXPECT_TRUE(form.isWindow());
    for (const Qt::WindowType hint :
         {Qt::WindowTitleHint, Qt::WindowSystemMenuHint, Qt::WindowMinimizeButtonHint, Qt::WindowMaximizeButtonHint})
        EXPECT_TRUE(form.windowFlags().testFlag(hint)) << hint;
    EXPECT_LT(form.UniqueId(), next.UniqueId());
    EXPECT_EQ(form.LayoutOptions(), (TLayoutManagerControlOptions{loPosition, loSize, loState, loStyle}));
    EXPECT_FALSE(form.LayoutControl());
    EXPECT_FALSE(form.LayoutReadOnly());
    EXPECT_FALSE(form.AcceptFiles());
    EXPECT_FALSE(form.Closing());
    EXPECT_FALSE(form.DPIChanging());
    EXPECT_EQ(form.LayoutManager()->Owner(), &form);
    EXPECT_EQ(form.LayoutManager()->Count(), 0);

    form.SetLayoutOptions({loSize});
    form.SetLayoutControl(true);
    ASSERT_EQ(form.LayoutManager()->Count(), 1);
    EXPECT_EQ(form.LayoutManager()->GetControl(0)->Component(), &form);
    EXPECT_EQ(form.LayoutManager()->GetControl(0)->Options(), TLayoutManagerControlOptions{loSize});
    form.SetLayoutOptions({loPosition});
    EXPECT_EQ(form.LayoutManager()->GetControl(0)->Options(), TLayoutManagerControlOptions{loPosition});
    form.SetLayoutControl(false);
    EXPECT_EQ(form.LayoutManager()->Count(), 0);
}

TEST_F(LayoutForm, WindowStateEventsFollowSizeAndStateChangesWhileShowing)
{
    TfrmLayout form;
    QStringList events;
    form.SetOnRestore([&](QObject* sender) { events.append(sender == &form ? "restore" : "?"); });
    form.SetOnMaximize([&](QObject* sender) { events.append(sender == &form ? "maximize" : "?"); });
    form.SetOnMinimize([&](QObject* sender) { events.append(sender == &form ? "minimize" : "?"); });

    form.resize(500, 400);
    form.show();
    Settle();
    EXPECT_TRUE(events.isEmpty());

    // Every step of a border drag.
    form.resize(510, 400);
    form.resize(520, 410);
    EXPECT_EQ(events, (QStringList{QStringLiteral("restore"), QStringLiteral("restore")}));

    const struct {
        Qt::WindowState State;
        QStringList Events;
    } steps[] = {
        {Qt::WindowMinimized, {QStringLiteral("minimize")}},
        // Back from the task bar at the same size.
        {Qt::WindowNoState, {QStringLiteral("restore")}},
        {Qt::WindowMaximized, {QStringLiteral("maximize")}},
    };
    for (const auto& step : steps) {
        events.clear();
        form.setWindowState(step.State);
        Settle();
        EXPECT_EQ(events, step.Events) << step.State;
    }

    // The state change and the new size may both report the restore, in the window system's order.
    events.clear();
    form.setWindowState(Qt::WindowNoState);
    Settle();
    ASSERT_FALSE(events.isEmpty());
    EXPECT_EQ(events.count(QStringLiteral("restore")), events.size()) << events.join(u' ').toStdString();
}

TEST_F(LayoutForm, OnMonitorChangedWhenTheWindowMovesToAnotherScreen)
{
    ASSERT_EQ(QGuiApplication::screens().size(), 2);
    TfrmLayout form;
    QList<QPair<int, int>> changes;
    form.SetOnMonitorChanged([&](QObject*, int oldMonitor, int newMonitor) {
        changes.append({oldMonitor, newMonitor});
    });
    form.move(2000, 100);
    form.move(100, 100);
    form.show();
    Settle();
    EXPECT_TRUE(changes.isEmpty());

    form.move(2000, 100);
    Settle();
    form.move(2100, 120);
    Settle();
    form.move(50, 50);
    Settle();
    EXPECT_EQ(changes, (QList<QPair<int, int>>{{0, 1}, {1, 0}}));
}

TEST_F(LayoutForm, RestoresAtShowAndSavesWhenDestroyedOnceShown)
{
    Storage->Put(Plain, QStringLiteral("Pos"), QStringLiteral("33,44"));
    Storage->Put(Plain, QStringLiteral("Size"), QStringLiteral("300,200"));
    {
        TfrmLayout form;
        Control(form);
        QList<QObject*> senders;
        form.SetOnBeforeRestore([&](QObject* sender) { senders.append(sender); });
        form.show();
        Settle();
        EXPECT_EQ(form.pos(), QPoint(33, 44));
        EXPECT_EQ(form.size(), QSize(300, 200));
        EXPECT_EQ(senders, QList<QObject*>{form.LayoutManager()});
        Storage->Calls.clear();
    }
    // Saved under the form's own class, although only a TLMForm was left of it by then.
    EXPECT_TRUE(Storage->Calls.contains(QStringLiteral("WriteString(TfrmLayout#3200x1080x96,Pos,33,44)")))
        << Storage->Calls.join(u'\n').toStdString();

    Storage->Calls.clear();
    {
        TfrmLayout neverShown;
        Control(neverShown);
    }
    EXPECT_TRUE(Storage->Writes().isEmpty());
}

// Closed the way a user closes it (the window's close button), the form saves its whole layout,
// values included, although Qt takes its native window with the close.
TEST_F(LayoutForm, AUsersCloseSavesTheWholeLayout)
{
    TfrmLayout form;
    Control(form);
    form.LayoutManager()->SetValueByName(QStringLiteral("Kept"), 7);
    form.show();
    Settle();
    form.move(50, 60);
    Settle();
    Storage->Calls.clear();
    ASSERT_TRUE(form.windowHandle()->close());
    Settle();
    EXPECT_FALSE(form.isVisible());
    const QStringList writes = Storage->Writes();
    EXPECT_TRUE(writes.contains(QStringLiteral("WriteString(TfrmLayout#3200x1080x96,Pos,50,60)")))
        << writes.join(u'\n').toStdString();
    EXPECT_EQ(writes.filter(QStringLiteral("Kept,7")).size(), 1) << writes.join(u'\n').toStdString();
}

// A stored layout cannot make a form vanish: sizes have a minimum, and a form no screen shows is
// brought onto the nearest one.
TEST_F(LayoutForm, ARestoredFormStaysVisibleOnAScreen)
{
    // The position is the frame's: where a form goes flush with a screen's edge depends on it.
    const struct {
        const char* Pos;
        const char* Size;
        std::function<QPoint(QSize frame)> ExpectedPos;
        QSize ExpectedSize;
    } cases[] = {
        {"33,44", "300,200", [](QSize) { return QPoint(33, 44); }, {300, 200}},
        {"33,44", "-500,-500", [](QSize) { return QPoint(33, 44); }, {120, 60}},
        {"33,44", "0,0", [](QSize) { return QPoint(33, 44); }, {120, 60}},
        {"-30000,-30000", "300,200", [](QSize) { return QPoint(0, 0); }, {300, 200}},
        {"-30000,500", "300,200", [](QSize) { return QPoint(0, 500); }, {300, 200}},
        // Beyond the second screen, on its right: back onto it, flush with its right edge.
        {"5000,100", "300,200", [](QSize frame) { return QPoint(3200 - frame.width(), 100); }, {300, 200}},
        {"100,2000", "300,200", [](QSize frame) { return QPoint(100, 1080 - frame.height()); }, {300, 200}},
        // Across both screens, or partly below one: enough of it shows.
        {"1800,100", "300,200", [](QSize) { return QPoint(1800, 100); }, {300, 200}},
        {"1700,950", "300,200", [](QSize) { return QPoint(1700, 950); }, {300, 200}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Pos) + " " + c.Size);
        // Not what the previous form saved when it went.
        Storage->Sections.clear();
        Storage->Put(Plain, QStringLiteral("Pos"), QString::fromLatin1(c.Pos));
        Storage->Put(Plain, QStringLiteral("Size"), QString::fromLatin1(c.Size));
        TfrmLayout form;
        Control(form);
        form.show();
        Settle();
        EXPECT_EQ(form.size(), c.ExpectedSize);
        EXPECT_EQ(form.pos(), c.ExpectedPos(form.frameGeometry().size()));
    }
}

TEST_F(LayoutForm, TheEndOfAUserMoveSavesTheFormOnly)
{
    TfrmLayout form;
    auto* edit = new QLineEdit(&form);
    edit->setObjectName(QStringLiteral("Edit"));
    Control(form);
    form.LayoutManager()->Add(edit, {}, {loSize});
    form.LayoutManager()->SetValueByName(QStringLiteral("Kept"), 1);
    form.show();
    Settle();
    Storage->Calls.clear();
    form.EnterSizeMove();
    form.move(70, 80);
    EXPECT_TRUE(Storage->Writes().isEmpty());
    form.ExitSizeMove();
    const QStringList writes = Storage->Writes();
    EXPECT_TRUE(writes.contains(QStringLiteral("WriteString(TfrmLayout#3200x1080x96,Pos,70,80)")));
    for (const QString& write : writes)
        EXPECT_FALSE(write.contains(QStringLiteral("Edit")) || write.contains(QStringLiteral("Settings")))
            << write.toStdString();
}

TEST_F(LayoutForm, DisplayChangesReapplyTheLayoutWithoutTheWindowState)
{
    TfrmLayout form;
    Control(form);
    form.show();
    Settle();
    Storage->Put(Plain, QStringLiteral("Pos"), QStringLiteral("30,40"));
    Storage->Put(Plain, QStringLiteral("State"), QString::number(wsMaximized));
    QList<QList<int>> displays;
    form.SetOnDisplayChange([&](QObject* sender, int width, int height, int bitsPerPixel) {
        displays.append({sender == &form, width, height, bitsPerPixel});
    });
    QScreen* primary = QGuiApplication::primaryScreen();
    Q_EMIT primary->geometryChanged(primary->geometry());
    Settle();
    EXPECT_EQ(form.pos(), QPoint(30, 40));
    EXPECT_EQ(form.windowState(), Qt::WindowNoState);
    EXPECT_EQ(form.LayoutOptions(), (TLayoutManagerControlOptions{loPosition, loSize, loState, loStyle}));
    EXPECT_EQ(displays, (QList<QList<int>>{{1, 1920, 1080, primary->depth()}}));

    // Nothing is restored during a user's move, but the event still comes.
    form.EnterSizeMove();
    Storage->Put(Plain, QStringLiteral("Pos"), QStringLiteral("50,60"));
    Q_EMIT primary->geometryChanged(primary->geometry());
    Settle();
    EXPECT_EQ(form.pos(), QPoint(30, 40));
    EXPECT_EQ(displays.size(), 2);
}

TEST_F(LayoutForm, DensityChangesReapplyTheLayoutWhileDPIChanging)
{
    TfrmLayout form;
    Control(form);
    form.show();
    Settle();
    Storage->Put(Plain, QStringLiteral("Pos"), QStringLiteral("30,40"));
    Storage->Put(Plain, QStringLiteral("State"), QString::number(wsMaximized));
    QList<bool> changing;
    Storage->Observer = [&](const QString& call) {
        if (call.startsWith(QStringLiteral("Open(")))
            changing.append(form.DPIChanging());
    };
    QScreen* screen = QGuiApplication::screens().first();
    Q_EMIT screen->logicalDotsPerInchChanged(screen->logicalDotsPerInch());
    Settle();
    EXPECT_EQ(changing, QList<bool>{true});
    EXPECT_FALSE(form.DPIChanging());
    EXPECT_EQ(form.pos(), QPoint(30, 40));
    EXPECT_EQ(form.windowState(), Qt::WindowNoState);

    // The other screen's density is not the form's.
    Q_EMIT QGuiApplication::screens().last()->logicalDotsPerInchChanged(96);
    Settle();
    EXPECT_EQ(changing.size(), 1);
    Storage->Observer = nullptr;
}

TEST_F(LayoutForm, LayoutEventsAreTheManagersWithTheManagerAsSender)
{
    TfrmLayout form;
    QList<QObject*> senders;
    const auto note = [&](QObject* sender) { senders.append(sender); };
    form.SetOnBeforeSave(note);
    form.SetOnAfterSave(note);
    form.SetOnBeforeRestore(note);
    form.SetOnAfterRestore(note);
    EXPECT_TRUE(form.LayoutManager()->OnBeforeSave());
    EXPECT_TRUE(form.LayoutManager()->OnAfterRestore());
    form.LayoutManager()->Save();
    form.LayoutManager()->Restore();
    EXPECT_EQ(senders, (QList<QObject*>(4, form.LayoutManager())));
}

// Made with a storage of its own before its creation ends.
class TfrmOwnStorage : public TLMForm {
public:
    explicit TfrmOwnStorage(std::shared_ptr<ILayoutManagerStorage> storage)
    {
        LayoutManager()->SetStorage(std::move(storage));
        Loaded();
    }
};

TEST_F(LayoutForm, AnotherFormBorrowsTheMainFormsStorageAndReadOnlyState)
{
    TfrmLayout mainForm;
    SetApplicationMainForm(&mainForm);
    mainForm.LayoutManager()->SetStorage(Storage);
    mainForm.SetLayoutReadOnly(true);

    TfrmLayout other;
    EXPECT_EQ(other.LayoutManager()->Storage(), Storage);
    EXPECT_TRUE(other.LayoutReadOnly());
    EXPECT_TRUE(other.LayoutManager()->ReadOnly());

    const auto own = std::make_shared<RecordingStorage>();
    TfrmOwnStorage withOwn(own);
    EXPECT_EQ(withOwn.LayoutManager()->Storage(), own);
    EXPECT_FALSE(withOwn.LayoutReadOnly());

    // A main form that is not layout-aware lends nothing.
    QWidget plainMain;
    SetApplicationMainForm(&plainMain);
    TfrmLayout third;
    EXPECT_EQ(third.LayoutManager()->Storage(), nullptr);
}

TEST_F(LayoutForm, ClosingOnlyWhenTheCloseFreesTheForm)
{
    TfrmLayout kept;
    kept.show();
    kept.close();
    EXPECT_FALSE(kept.Closing());

    QPointer<TfrmLayout> freed = new TfrmLayout;
    freed->setAttribute(Qt::WA_DeleteOnClose);
    freed->show();
    freed->close();
    ASSERT_TRUE(freed);
    EXPECT_TRUE(freed->Closing());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(freed);
}

TEST_F(LayoutForm, OnCustomStyleChangedForStyleAndPaletteChanges)
{
    TfrmLayout form;
    int changes = 0;
    form.SetOnCustomStyleChanged([&](QObject* sender) { changes += sender == &form; });
    QPalette palette = form.palette();
    palette.setColor(QPalette::Window, Qt::darkBlue);
    form.setPalette(palette);
    EXPECT_EQ(changes, 1);
    const std::unique_ptr<QStyle> style(QStyleFactory::create(QStringLiteral("Fusion")));
    form.setStyle(style.get());
    EXPECT_EQ(changes, 2);
    form.setStyle(nullptr);
}

TEST(MainWindowLayout, IsALayoutAwareFormWithoutLayoutControl)
{
    TwndMain window({QStringLiteral("tessera")});
    const TLMForm& form = window;
    EXPECT_EQ(ApplicationMainForm(), &window);
    EXPECT_FALSE(form.LayoutControl());
    EXPECT_EQ(form.LayoutManager()->Count(), 0);
    EXPECT_EQ(form.LayoutManager()->Storage(), nullptr);
    EXPECT_EQ(form.FormClassName(), QStringLiteral("TwndMain"));
}

// A placement made before the window is on screen is made again when it first is (the frame is
// known by then), unless the window was moved otherwise in between.
TEST(FramePlacement, PlacesAgainOnTheFirstExposeOnly)
{
    QWidget window;
    int placed = 0;
    frameplacement::PlaceByFrame(&window, [&] {
        ++placed;
        window.move(40, 30);
    });
    EXPECT_EQ(placed, 1);
    window.show();
    Settle();
    EXPECT_EQ(placed, 2);
    window.hide();
    window.show();
    Settle();
    EXPECT_EQ(placed, 2);

    QWidget restored;
    int placedRestored = 0;
    frameplacement::PlaceByFrame(&restored, [&] {
        ++placedRestored;
        restored.move(40, 30);
    });
    restored.move(300, 200); // a stored layout, restored before showing
    restored.show();
    Settle();
    EXPECT_EQ(placedRestored, 1);
    EXPECT_EQ(restored.pos(), QPoint(300, 200));
}

} // namespace
