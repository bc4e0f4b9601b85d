// The layout manager against a storage that records every call: section names, what a form and a
// control write and read back, properties by kind, registration, events and the read-only and
// restoring guards.
#include "layout/LayoutManagerControl.h"
#include "layout/LayoutManagerForm.h"
#include "tests/layout/LayoutTestSupport.h"
#include "tests/support/QtPrinters.h"

#include <QFrame>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

using layouttest::RecordingStorage;

namespace {

const auto& App = layouttest::ApplicationWithScreens(
    R"({"screens": [{"name": "Main", "x": 0, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 96}]})");

const QString Plain = QStringLiteral("TfrmLayout");
const QString Resolved = QStringLiteral("TfrmLayout#1920x1080x96");
const QString PanelSection = QStringLiteral("TfrmLayout#1920x1080x96\\Panel");

class LayoutManager : public ::testing::Test {
protected:
    // A layout-aware form keeping its layout in Storage.
    void Control(TfrmLayout& form)
    {
        form.LayoutManager()->SetStorage(Storage);
        form.SetLayoutControl(true);
    }

    // A panel named "Panel" on the form, registered for its properties with the form's manager.
    TTestPanel* RegisteredPanel(TfrmLayout& form, const QStringList& properties)
    {
        auto* panel = new TTestPanel(&form);
        panel->setObjectName(QStringLiteral("Panel"));
        form.LayoutManager()->SetStorage(Storage);
        form.LayoutManager()->Add(panel, properties);
        return panel;
    }

    std::shared_ptr<RecordingStorage> Storage = std::make_shared<RecordingStorage>();
};

TEST(LayoutSections, FollowClassesOwnersAndResolution)
{
    TfrmLayout form;
    auto* memo = new QPlainTextEdit(&form);
    memo->setObjectName(QStringLiteral("Memo"));
    auto* frame = new QFrame(&form);
    auto* edit = new QLineEdit(frame);
    edit->setObjectName(QStringLiteral("Edit"));
    QObject root;
    auto* leaf = new QObject(&root);
    leaf->setObjectName(QStringLiteral("Leaf"));
    TStringList list;

    TLayoutManager& lm = *form.LayoutManager();
    ASSERT_EQ(lm.Add(&form, {}, {}), 0);
    ASSERT_EQ(lm.Add(memo, {}, {}), 1);
    ASSERT_EQ(lm.Add(edit, {}, {}), 2);
    ASSERT_EQ(lm.Add(leaf, {}), 3);
    ASSERT_EQ(lm.Add(&list, {}), 4);

    const struct {
        int Entry;
        QString PlainSection;
        QString ResolutionSection;
        QString FormClass;
    } cases[] = {
        {0, Plain, Resolved, Plain},
        {1, QStringLiteral("TfrmLayout\\Memo"), QStringLiteral("TfrmLayout#1920x1080x96\\Memo"), Plain},
        {2, QStringLiteral("TfrmLayout\\QFrame\\Edit"), QStringLiteral("TfrmLayout#1920x1080x96\\QFrame\\Edit"), Plain},
        // Without a form among its owners a section has no resolution.
        {3, QStringLiteral("QObject\\Leaf"), QStringLiteral("QObject\\Leaf"), QString()},
        // What is not a component is named by its class.
        {4, QStringLiteral("TStringList"), QStringLiteral("TStringList#1920x1080x96"), QStringLiteral("TStringList")},
    };
    for (const auto& c : cases) {
        const TLayoutManagerControl* entry = lm.GetControl(c.Entry);
        EXPECT_EQ(entry->GetSection(false, -1), c.PlainSection) << c.Entry;
        EXPECT_EQ(entry->GetSection(true, -1), c.ResolutionSection) << c.Entry;
        EXPECT_EQ(entry->GetFormClassName(), c.FormClass) << c.Entry;
    }
}

TEST_F(LayoutManager, RestoreSectionFollowsTheStoredMonitorOrTheNearestOne)
{
    TfrmLayout form;
    auto* memo = new QPlainTextEdit(&form);
    memo->setObjectName(QStringLiteral("Memo"));
    TLayoutManager& lm = *form.LayoutManager();
    lm.SetStorage(Storage);
    lm.Add(memo, {}, {loSize});
    EXPECT_EQ(lm.GetControl(0)->GetRestoreSection(), QStringLiteral("TfrmLayout#1920x1080x96\\Memo"));
    EXPECT_EQ(Storage->Calls, QStringList{QStringLiteral("ReadInteger(TfrmLayout,Monitor)")});
    // A monitor that is gone, or a number out of any range, stands for the nearest monitor.
    for (const char* stored : {"3", "-1", "99999999999999"}) {
        Storage->Put(Plain, QStringLiteral("Monitor"), QString::fromLatin1(stored));
        EXPECT_EQ(lm.GetControl(0)->GetRestoreSection(), QStringLiteral("TfrmLayout#1920x1080x96\\Memo")) << stored;
    }
}

TEST_F(LayoutManager, MaximizedFormWritesStateAndAlignButNoBounds)
{
    TfrmLayout form;
    Control(form);
    form.setWindowState(Qt::WindowMaximized);
    form.LayoutManager()->Save(&form);
    EXPECT_EQ(Storage->Writes(), (QStringList{
                                     QStringLiteral("WriteInteger(TfrmLayout#1920x1080x96,Align,0)"),
                                     QStringLiteral("WriteInteger(TfrmLayout#1920x1080x96,State,2)"),
                                     QStringLiteral("WriteInteger(TfrmLayout#1920x1080x96,Style,0)"),
                                     QStringLiteral("WriteBool(TfrmLayout,LayoutReadOnly,0)"),
                                     QStringLiteral("WriteInteger(TfrmLayout,Monitor,0)"),
                                     QStringLiteral("WriteString(TfrmLayout,Resolution,1920x1080x96)"),
                                 }));
    EXPECT_EQ(Storage->Calls.first(), QStringLiteral("Open(0)"));
    EXPECT_EQ(Storage->Calls.last(), QStringLiteral("Close()"));

    // The next time the form is maximized again and keeps its normal bounds as designed.
    TfrmLayout next;
    Control(next);
    const QRect designed = next.geometry();
    next.LayoutManager()->Restore(&next);
    EXPECT_TRUE(next.windowState().testFlag(Qt::WindowMaximized));
    EXPECT_EQ(next.geometry(), designed);
}

TEST_F(LayoutManager, MinimizedFormWritesNoStateAndRestoreLeavesTheStateAlone)
{
    TfrmLayout form;
    Control(form);
    form.setWindowState(Qt::WindowMinimized);
    form.LayoutManager()->Save(&form);
    for (const QString& write : Storage->Writes())
        EXPECT_FALSE(write.contains(QStringLiteral(",State,")) || write.contains(QStringLiteral(",Pos,")) ||
                     write.contains(QStringLiteral(",Size,")))
            << write.toStdString();

    TfrmLayout next;
    Control(next);
    next.LayoutManager()->Restore(&next);
    EXPECT_EQ(next.windowState(), Qt::WindowNoState);
}

TEST_F(LayoutManager, PosAndSizeTextsOnlyChangeWhatReads)
{
    const struct {
        const char* Pos;
        const char* Size;
        QPoint ExpectedPos;
        QSize ExpectedSize;
    } cases[] = {
        {"100", "500", {50, 60}, {400, 300}},
        {"abc,20", "640,abc", {50, 20}, {640, 300}},
        {"30,40", "320,200", {30, 40}, {320, 200}},
        {"", ",", {50, 60}, {400, 300}},
        // A window cannot grow beyond the desktop, whatever the storage says.
        {"7,8", "100000,99999999999", {7, 8}, {1920, 300}},
    };
    for (const auto& c : cases) {
        TfrmLayout form;
        Control(form);
        form.move(50, 60);
        form.resize(400, 300);
        Storage->Sections.clear();
        Storage->Put(Plain, QStringLiteral("Pos"), QString::fromLatin1(c.Pos));
        Storage->Put(Plain, QStringLiteral("Size"), QString::fromLatin1(c.Size));
        form.LayoutManager()->Restore(&form);
        EXPECT_EQ(form.pos(), c.ExpectedPos) << c.Pos;
        EXPECT_EQ(form.size(), c.ExpectedSize) << c.Size;
    }
}

TEST_F(LayoutManager, DisplayIndependentLayoutUsesThePlainSectionOnly)
{
    TfrmLayout form;
    Control(form);
    form.SetLayoutOptions({loPosition, loSize, loDisplayIndependent});
    form.move(11, 12);
    form.resize(300, 200);
    form.LayoutManager()->Save(&form);
    EXPECT_EQ(Storage->Writes(), (QStringList{
                                     QStringLiteral("WriteString(TfrmLayout,Size,300,200)"),
                                     QStringLiteral("WriteString(TfrmLayout,Pos,11,12)"),
                                     QStringLiteral("WriteInteger(TfrmLayout,Align,0)"),
                                     QStringLiteral("WriteBool(TfrmLayout,LayoutReadOnly,0)"),
                                     QStringLiteral("WriteInteger(TfrmLayout,Monitor,0)"),
                                     QStringLiteral("WriteString(TfrmLayout,Resolution,1920x1080x96)"),
                                 }));

    // A resolution section is there, and ignored.
    Storage->Put(Resolved, QStringLiteral("Pos"), QStringLiteral("1,2"));
    form.move(0, 0);
    form.LayoutManager()->Restore(&form);
    EXPECT_EQ(form.pos(), QPoint(11, 12));

    // Depending on the display, the resolution section comes first.
    form.SetLayoutOptions({loPosition, loSize});
    form.LayoutManager()->Restore(&form);
    EXPECT_EQ(form.pos(), QPoint(1, 2));
}

TEST_F(LayoutManager, LayoutAwareFormKeepsReadOnlyMonitorAndResolutionInItsPlainSection)
{
    const TLayoutManagerControlOptions optionSets[] = {
        {}, {loDisplayIndependent}, {loPosition, loSize, loState, loStyle}};
    for (const TLayoutManagerControlOptions options : optionSets) {
        TfrmLayout form;
        Control(form);
        form.SetLayoutOptions(options);
        form.SetLayoutReadOnly(false);
        Storage->Calls.clear();
        form.LayoutManager()->Save(&form);
        const QStringList writes = Storage->Writes();
        EXPECT_TRUE(writes.contains(QStringLiteral("WriteBool(TfrmLayout,LayoutReadOnly,0)"))) << options.ToBits();
        EXPECT_TRUE(writes.contains(QStringLiteral("WriteInteger(TfrmLayout,Monitor,0)"))) << options.ToBits();
        EXPECT_TRUE(writes.contains(QStringLiteral("WriteString(TfrmLayout,Resolution,1920x1080x96)")))
            << options.ToBits();
    }
    // Read back from the plain section too, whatever section the rest comes from.
    Storage->Put(Resolved, QStringLiteral("Pos"), QStringLiteral("1,2"));
    Storage->Put(Plain, QStringLiteral("LayoutReadOnly"), QStringLiteral("1"));
    TfrmLayout form;
    Control(form);
    form.LayoutManager()->Restore(&form);
    EXPECT_TRUE(form.LayoutReadOnly());
    EXPECT_TRUE(form.LayoutManager()->ReadOnly());
}

TEST_F(LayoutManager, TheMainFormNeverGetsItsStyleRestored)
{
    TfrmLayout mainForm;
    SetApplicationMainForm(&mainForm);
    TfrmLayout other;
    Control(mainForm);
    Control(other);
    Storage->Put(Plain, QStringLiteral("Style"), QString::number(fsStayOnTop));
    mainForm.LayoutManager()->Restore(&mainForm);
    other.LayoutManager()->Restore(&other);
    EXPECT_FALSE(mainForm.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(other.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST(LayoutManagerRegistration, AComponentIsRegisteredOnce)
{
    TLayoutManager lm;
    QWidget widget;
    QObject object;
    EXPECT_EQ(lm.Add(&widget, {QStringLiteral("b"), QStringLiteral("A"), QStringLiteral("a"), QStringLiteral("c")}), 0);
    EXPECT_EQ(lm.Add(&widget, {}), -1);
    EXPECT_EQ(lm.Add(&widget, {}, {loSize}), -1);
    EXPECT_EQ(lm.Add(static_cast<QObject*>(nullptr), {}), -1);
    EXPECT_EQ(lm.Add(static_cast<QWidget*>(nullptr), {}, {loSize}), -1);
    EXPECT_EQ(lm.Add(&object, {}), 1);
    EXPECT_EQ(lm.Count(), 2);
    // Property names sorted ignoring case, the first of equal ones kept.
    EXPECT_EQ(lm.GetControl(0)->Properties(),
              (QStringList{QStringLiteral("A"), QStringLiteral("b"), QStringLiteral("c")}));
    EXPECT_TRUE(lm.GetControl(0)->Options().IsEmpty());
    // Options are for windowed controls only.
    lm.SetOptions(&widget, {loSize});
    EXPECT_EQ(lm.GetControl(0)->Options(), TLayoutManagerControlOptions{loSize});
    lm.GetControl(1)->SetOptions({loSize});
    EXPECT_TRUE(lm.GetControl(1)->Options().IsEmpty());
    EXPECT_THROW((void)lm.GetControl(2), ELayoutManager);

    lm.Delete(&widget);
    EXPECT_EQ(lm.Count(), 1);
    EXPECT_EQ(lm.FindComponent(&widget), -1);
    EXPECT_EQ(lm.FindComponent(&object), 0);
}

TEST_F(LayoutManager, AControlKeepsItsBoundsVisibilityEnablementAndAlignment)
{
    TfrmLayout form;
    auto* panel = new TTestPanel(&form);
    panel->setObjectName(QStringLiteral("Panel"));
    panel->setGeometry(10, 20, 100, 30);
    panel->hide();
    panel->setEnabled(false);
    TLayoutManager& lm = *form.LayoutManager();
    lm.SetStorage(Storage);
    lm.Add(panel, {}, {loSize, loPosition, loState});
    lm.Save(panel);
    const QString& section = PanelSection;
    EXPECT_EQ(Storage->Writes(), (QStringList{
                                     QStringLiteral("WriteInteger(%1,Width,100)").arg(section),
                                     QStringLiteral("WriteInteger(%1,Height,30)").arg(section),
                                     QStringLiteral("WriteInteger(%1,Left,10)").arg(section),
                                     QStringLiteral("WriteInteger(%1,Top,20)").arg(section),
                                     QStringLiteral("WriteBool(%1,Visible,0)").arg(section),
                                     QStringLiteral("WriteBool(%1,Enabled,0)").arg(section),
                                 }));

    panel->setGeometry(0, 0, 5, 5);
    panel->show();
    panel->setEnabled(true);
    Storage->Put(section, QStringLiteral("Align"), QString::number(alClient));
    lm.Restore(panel);
    EXPECT_EQ(panel->geometry(), QRect(10, 20, 100, 30));
    EXPECT_TRUE(panel->isHidden());
    EXPECT_FALSE(panel->isEnabled());
    EXPECT_EQ(panel->Align(), alClient);

    // Values that are no alignment, or sizes no widget can have, are input from outside.
    Storage->Put(section, QStringLiteral("Align"), QStringLiteral("42"));
    Storage->Put(section, QStringLiteral("Width"), QStringLiteral("-99999999999"));
    Storage->Put(section, QStringLiteral("Height"), QStringLiteral("99999999999"));
    lm.Restore(panel);
    EXPECT_EQ(panel->Align(), alClient);
    EXPECT_EQ(panel->size(), QSize(0, QWIDGETSIZE_MAX));
}

TEST_F(LayoutManager, PropertiesAreKeptByKindUnderTheirDeclaredNames)
{
    TfrmLayout form;
    TTestPanel* panel = RegisteredPanel(
        form, {QStringLiteral("caption"), QStringLiteral("Number"), QStringLiteral("Unsigned"), QStringLiteral("Big"),
               QStringLiteral("Ratio"), QStringLiteral("Letter"), QStringLiteral("Flag"), QStringLiteral("Policy"),
               QStringLiteral("Alignment"), QStringLiteral("Area"), QStringLiteral("Missing")});
    const qint64 big = (qint64{1} << 40) + 3;
    panel->SetNumber(-7);
    panel->SetUnsigned(0xFFFFFFFFu);
    panel->SetBig(big);
    panel->SetRatio(2.5);
    panel->SetCaption(QStringLiteral("Größe"));
    panel->SetLetter(u'Z');
    panel->SetFlag(true);
    panel->SetPolicy(Qt::StrongFocus);
    panel->SetAlignment(Qt::AlignRight | Qt::AlignBottom);
    panel->SetArea(QRect(1, 2, 3, 4));
    TLayoutManager& lm = *form.LayoutManager();
    lm.Save(panel);
    const QString& t = PanelSection;
    EXPECT_EQ(Storage->Writes(), (QStringList{
                                     QStringLiteral("WriteInteger(%1,Alignment,66)").arg(t),
                                     QStringLiteral("WriteInteger(%1,Big,1099511627779)").arg(t),
                                     QStringLiteral("WriteString(%1,Caption,Größe)").arg(t),
                                     QStringLiteral("WriteInteger(%1,Flag,1)").arg(t),
                                     QStringLiteral("WriteString(%1,Letter,Z)").arg(t),
                                     QStringLiteral("WriteInteger(%1,Number,-7)").arg(t),
                                     QStringLiteral("WriteInteger(%1,Policy,11)").arg(t),
                                     QStringLiteral("WriteFloat(%1,Ratio,2.5)").arg(t),
                                     // A 32-bit ordinal is stored as a signed one.
                                     QStringLiteral("WriteInteger(%1,Unsigned,-1)").arg(t),
                                 }));

    panel->SetNumber(0);
    panel->SetUnsigned(0);
    panel->SetBig(0);
    panel->SetRatio(0);
    panel->SetCaption({});
    panel->SetLetter({});
    panel->SetFlag(false);
    panel->SetPolicy(Qt::NoFocus);
    panel->SetAlignment({});
    lm.Restore(panel);
    EXPECT_EQ(panel->Number(), -7);
    EXPECT_EQ(panel->Unsigned(), 0xFFFFFFFFu);
    EXPECT_EQ(panel->Big(), big);
    EXPECT_EQ(panel->Ratio(), 2.5);
    EXPECT_EQ(panel->Caption(), QStringLiteral("Größe"));
    EXPECT_EQ(panel->Letter(), QChar(u'Z'));
    EXPECT_TRUE(panel->Flag());
    EXPECT_EQ(panel->Policy(), Qt::StrongFocus);
    EXPECT_EQ(panel->Alignment(), Qt::AlignRight | Qt::AlignBottom);
}

TEST_F(LayoutManager, StringListLinesAppendOnEveryRestore)
{
    TfrmLayout form;
    TTestPanel* panel = RegisteredPanel(form, {QStringLiteral("Items")});
    TLayoutManager& lm = *form.LayoutManager();
    const QString lines = QStringLiteral("TfrmLayout\\Panel\\Items");
    Storage->Put(lines, QStringLiteral("Count"), QStringLiteral("2"));
    Storage->Put(lines, QStringLiteral("0"), QStringLiteral("a"));
    Storage->Put(lines, QStringLiteral("1"), QStringLiteral("b"));
    panel->Items()->Add(QStringLiteral("x"));
    lm.Restore(panel);
    lm.Restore(panel);
    EXPECT_EQ(panel->Items()->Lines(), (QStringList{QStringLiteral("x"), QStringLiteral("a"), QStringLiteral("b"),
                                                    QStringLiteral("a"), QStringLiteral("b")}));

    // A count is input from outside: no more lines come than the section holds.
    Storage->Put(lines, QStringLiteral("Count"), QStringLiteral("1000000000"));
    panel->Items()->Clear();
    lm.Restore(panel);
    EXPECT_EQ(panel->Items()->Lines(), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
}

TEST_F(LayoutManager, StringListIsSavedByItsLinesOrWhenEmptyByItsNamePath)
{
    TfrmLayout form;
    TTestPanel* panel = RegisteredPanel(form, {QStringLiteral("Items")});
    TLayoutManager& lm = *form.LayoutManager();
    const QString& t = PanelSection;

    lm.Save(panel);
    EXPECT_EQ(Storage->Writes(), QStringList{QStringLiteral("WriteString(%1,Items,Panel.Items)").arg(t)});

    panel->Items()->SetLines({QStringLiteral("a"), QStringLiteral("b")});
    Storage->Calls.clear();
    lm.Save(panel);
    EXPECT_EQ(Storage->Writes(), (QStringList{
                                     QStringLiteral("ClearSection(%1)").arg(t),
                                     QStringLiteral("WriteInteger(%1\\Items,Count,2)").arg(t),
                                     QStringLiteral("WriteString(%1\\Items,0,a)").arg(t),
                                     QStringLiteral("WriteString(%1\\Items,1,b)").arg(t),
                                 }));

    // Emptied, the list leaves none of its earlier lines to come back.
    panel->Items()->Clear();
    lm.Save(panel);
    lm.Restore(panel);
    EXPECT_EQ(panel->Items()->Count(), 0);
}

TEST_F(LayoutManager, ObjectPropertiesAreKeptByComponentNames)
{
    TfrmLayout form;
    form.setObjectName(QStringLiteral("frmLayout"));
    TfrmOther otherForm;
    otherForm.setObjectName(QStringLiteral("frmOther"));
    auto* foreign = new QLineEdit(&otherForm);
    foreign->setObjectName(QStringLiteral("Edit"));
    auto* local = new QLineEdit(&form);
    local->setObjectName(QStringLiteral("Local"));
    auto* plainObject = new QObject(&form);
    plainObject->setObjectName(QStringLiteral("Plain"));
    TTestPanel* panel = RegisteredPanel(form, {QStringLiteral("Buddy")});
    TLayoutManager& lm = *form.LayoutManager();
    const QString& t = PanelSection;

    // Owned by another form: that form's name, ".", the component's name.
    panel->SetBuddy(foreign);
    lm.Save(panel);
    EXPECT_EQ(*Storage->Find(t, QStringLiteral("Buddy")), QStringLiteral("frmOther.Edit"));
    panel->SetBuddy(nullptr);
    lm.Restore(panel);
    EXPECT_EQ(panel->Buddy(), foreign);

    // Owned by the same form: the name alone.
    panel->SetBuddy(local);
    lm.Save(panel);
    EXPECT_EQ(*Storage->Find(t, QStringLiteral("Buddy")), QStringLiteral("Local"));
    panel->SetBuddy(nullptr);
    lm.Restore(panel);
    EXPECT_EQ(panel->Buddy(), local);

    // A component of another class than the property's, or one that is not there, changes nothing.
    for (const char* stored : {"Plain", "Nowhere", "frmNone.Edit", ".Edit"}) {
        Storage->Put(t, QStringLiteral("Buddy"), QString::fromLatin1(stored));
        lm.Restore(panel);
        EXPECT_EQ(panel->Buddy(), local) << stored;
    }

    // Nothing held: the value goes.
    panel->SetBuddy(nullptr);
    Storage->Calls.clear();
    lm.Save(panel);
    EXPECT_TRUE(Storage->Calls.contains(QStringLiteral("DeleteValue(%1,Buddy)").arg(t)));
    EXPECT_EQ(Storage->Find(t, QStringLiteral("Buddy")), nullptr);
}

TEST_F(LayoutManager, ReadOnlyAndRestoringManagersSaveNothing)
{
    TLayoutManager lm;
    lm.SetStorage(Storage);
    QWidget widget;
    lm.Add(&widget, {}, {loSize});
    int saveEvents = 0;
    lm.SetOnBeforeSave([&](QObject*) { ++saveEvents; });
    lm.SetOnAfterSave([&](QObject*) { ++saveEvents; });

    lm.SetReadOnly(true);
    lm.Save();
    lm.Save(&widget);
    EXPECT_TRUE(Storage->Calls.isEmpty());
    EXPECT_EQ(saveEvents, 0);

    lm.SetReadOnly(false);
    bool restoringSeen = false;
    lm.SetOnBeforeRestore([&](QObject*) {
        restoringSeen = lm.Restoring();
        lm.Save();
    });
    lm.Restore();
    EXPECT_TRUE(restoringSeen);
    EXPECT_FALSE(lm.Restoring());
    EXPECT_TRUE(Storage->Writes().isEmpty());
    EXPECT_EQ(saveEvents, 0);

    lm.Save();
    EXPECT_EQ(saveEvents, 2);
    EXPECT_FALSE(Storage->Writes().isEmpty());
}

TEST_F(LayoutManager, AFailingStorageEndsTheRestoreClosedAndNoLongerRestoring)
{
    TfrmLayout form;
    Control(form);
    Storage->FailingOperation = QStringLiteral("ReadInteger");
    bool afterRestore = false;
    form.LayoutManager()->SetOnAfterRestore([&](QObject*) { afterRestore = true; });
    EXPECT_THROW(form.LayoutManager()->Restore(), std::runtime_error);
    EXPECT_EQ(Storage->Calls.last(), QStringLiteral("Close()"));
    EXPECT_FALSE(form.LayoutManager()->Restoring());
    EXPECT_FALSE(afterRestore);
}

TEST(LayoutManagerWithoutStorage, DoesNothing)
{
    TLayoutManager lm;
    QWidget widget;
    widget.resize(120, 80);
    lm.Add(&widget, {}, {loSize, loPosition, loState});
    lm.Save();
    lm.Restore();
    lm.DeleteData();
    lm.Clear(true);
    EXPECT_EQ(widget.size(), QSize(120, 80));
    QStringList list{QStringLiteral("stale")};
    lm.ReadSavedProps(QStringLiteral("Section"), list);
    EXPECT_TRUE(list.isEmpty());
    EXPECT_EQ(lm.ReadSavedProp(QStringLiteral("Section"), QStringLiteral("Name"), 42), QVariant(QStringLiteral("42")));
}

TEST_F(LayoutManager, ReadsSavedPropsBetweenOpenAndClose)
{
    TLayoutManager lm;
    lm.SetStorage(Storage);
    Storage->Put(QStringLiteral("S"), QStringLiteral("A"), QStringLiteral("1"));
    Storage->Put(QStringLiteral("S"), QStringLiteral("B"), QStringLiteral("two"));
    QStringList names;
    lm.ReadSavedProps(QStringLiteral("S"), names);
    EXPECT_EQ(names, (QStringList{QStringLiteral("A"), QStringLiteral("B")}));
    EXPECT_EQ(lm.ReadSavedProp(QStringLiteral("S"), QStringLiteral("B"), 0), QVariant(QStringLiteral("two")));
    EXPECT_EQ(lm.ReadSavedProp(QStringLiteral("S"), QStringLiteral("C"), 3), QVariant(QStringLiteral("3")));
    EXPECT_EQ(Storage->Calls,
              (QStringList{QStringLiteral("Open(1)"), QStringLiteral("ReadSection(S)"), QStringLiteral("Close()"),
                           QStringLiteral("Open(1)"), QStringLiteral("ReadString(S,B)"), QStringLiteral("Close()"),
                           QStringLiteral("Open(1)"), QStringLiteral("ReadString(S,C)"), QStringLiteral("Close()")}));
}

TEST_F(LayoutManager, WholeSaveRunsEntriesThenValuesBetweenItsEvents)
{
    TLayoutManager lm;
    lm.SetStorage(Storage);
    QWidget widget;
    widget.resize(120, 80);
    lm.Add(&widget, {}, {loSize});
    lm.SetValueByName(QStringLiteral("Count"), 5);
    QList<QObject*> senders;
    lm.SetOnBeforeSave([&](QObject* sender) {
        senders.append(sender);
        Storage->Calls.append(QStringLiteral("OnBeforeSave"));
    });
    lm.SetOnAfterSave([&](QObject* sender) {
        senders.append(sender);
        Storage->Calls.append(QStringLiteral("OnAfterSave"));
    });
    lm.Save();
    const QStringList& calls = Storage->Calls;
    EXPECT_EQ(calls.first(), QStringLiteral("OnBeforeSave"));
    EXPECT_EQ(calls.last(), QStringLiteral("OnAfterSave"));
    // A widget without a parent is a form of its own.
    EXPECT_LT(calls.indexOf(QStringLiteral("WriteString(QWidget#1920x1080x96,Size,120,80)")),
              calls.indexOf(QStringLiteral("WriteInteger(Settings,Count,5)")));
    EXPECT_EQ(senders, (QList<QObject*>{&lm, &lm}));
}

TEST_F(LayoutManager, ANewStorageClosesTheOldOneInEveryEntry)
{
    TLayoutManager lm;
    lm.SetStorage(Storage);
    QWidget a;
    QWidget b;
    lm.Add(&a, {});
    lm.Add(&b, {});
    const auto next = std::make_shared<RecordingStorage>();
    lm.SetStorage(next);
    EXPECT_EQ(Storage->CallsOf(QStringLiteral("Close")).size(), 2);
    EXPECT_EQ(lm.GetControl(0)->Storage(), next);
    EXPECT_EQ(lm.GetControl(1)->Storage(), next);
    lm.SetStorage(next);
    EXPECT_TRUE(next->Calls.isEmpty());
}

// A hook that notes what the manager asks of it.
class RecordingLayout final : public TLayoutManagerControlLayout {
public:
    explicit RecordingLayout(QStringList& log) : FLog(log) {}
    void SaveDefault(bool force) override { FLog.append(QStringLiteral("SaveDefault(%1)").arg(force)); }
    void Save() override { FLog.append(QStringLiteral("Save")); }
    void RestoreDefault() override { FLog.append(QStringLiteral("RestoreDefault")); }
    void Restore() override { FLog.append(QStringLiteral("Restore")); }

private:
    QStringList& FLog;
};

TEST_F(LayoutManager, HooksSaveDefaultsFollowTheirEntryAndAreDetached)
{
    TfrmLayout form;
    auto* edit = new QLineEdit(&form);
    edit->setObjectName(QStringLiteral("Edit"));
    TLayoutManager& lm = *form.LayoutManager();
    lm.SetStorage(Storage);
    QStringList log;
    std::shared_ptr<RecordingLayout> hook;
    ASSERT_EQ(lm.Add(edit, {}, {loSize}, [&] { return hook = std::make_shared<RecordingLayout>(log); }), 0);
    EXPECT_EQ(log, QStringList{QStringLiteral("SaveDefault(0)")});
    EXPECT_EQ(hook->GetLayoutManagerControl(), lm.GetControl(0));
    EXPECT_EQ(hook->GetLayoutSection(true, -1), QStringLiteral("TfrmLayout#1920x1080x96\\Edit\\Layout"));

    lm.Save(edit);
    lm.Restore(edit);
    EXPECT_EQ(log, (QStringList{QStringLiteral("SaveDefault(0)"), QStringLiteral("Save"), QStringLiteral("Restore")}));

    Storage->Calls.clear();
    hook->DeleteData();
    EXPECT_EQ(Storage->Calls,
              (QStringList{QStringLiteral("EraseSection(TfrmLayout\\Edit\\Layout,1)"), QStringLiteral("Close()")}));

    lm.Delete(edit);
    EXPECT_EQ(hook->GetLayoutManagerControl(), nullptr);

    // A read-only manager leaves the defaults unsaved.
    lm.SetReadOnly(true);
    log.clear();
    lm.Add(edit, {}, {loSize}, [&] { return std::make_shared<RecordingLayout>(log); });
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(LayoutManager, ClearWithDataErasesEveryEntrysPlainSection)
{
    TfrmLayout form;
    auto* edit = new QLineEdit(&form);
    edit->setObjectName(QStringLiteral("Edit"));
    TLayoutManager& lm = *form.LayoutManager();
    lm.SetStorage(Storage);
    lm.Add(&form, {}, {loSize});
    lm.Add(edit, {}, {loSize});
    lm.Clear(true);
    EXPECT_EQ(Storage->CallsOf(QStringLiteral("EraseSection")),
              (QStringList{QStringLiteral("EraseSection(TfrmLayout,1)"),
                           QStringLiteral("EraseSection(TfrmLayout\\Edit,1)")}));
    EXPECT_EQ(lm.Count(), 0);
}

TEST_F(LayoutManager, AnEntryOutlivingItsComponentDoesNothing)
{
    TLayoutManager lm;
    lm.SetStorage(Storage);
    auto widget = std::make_unique<QWidget>();
    lm.Add(widget.get(), {}, {loSize});
    widget.reset();
    lm.Save();
    lm.Restore();
    EXPECT_TRUE(Storage->Writes().isEmpty());
    EXPECT_EQ(lm.GetControl(0)->Component(), nullptr);
}

} // namespace
