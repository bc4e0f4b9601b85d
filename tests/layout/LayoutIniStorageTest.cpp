// The INI-file storage: a form's layout and a control's properties kept in a file and read back
// by a new storage, texts of every shape, nested sections, and files that are not what they
// should be.
#include "layout/LayoutManagerControl.h"
#include "layout/LayoutManagerForm.h"
#include "layout/LayoutManagerStorage.h"
#include "tests/layout/LayoutTestSupport.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <limits>

using testsupport::ReadText;
using testsupport::TempDir;
using testsupport::WriteText;

namespace {

const auto& App = layouttest::ApplicationWithScreens(
    R"({"screens": [{"name": "Main", "x": 0, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 96}]})");

QString Path(const std::filesystem::path& p)
{
    return QString::fromStdString(p.string());
}

// A form with a panel whose layout and properties it keeps in the file.
struct KeptForm {
    explicit KeptForm(const QString& file)
        : Storage(std::make_shared<TLayoutManagerIniStorage>(file)), Panel(new TTestPanel(&Form))
    {
        Panel->setObjectName(QStringLiteral("Panel"));
        Form.LayoutManager()->SetStorage(Storage);
        Form.SetLayoutControl(true);
        Form.LayoutManager()->Add(
            Panel,
            {QStringLiteral("Caption"), QStringLiteral("Number"), QStringLiteral("Items"), QStringLiteral("Ratio")},
            {loSize});
    }

    std::shared_ptr<TLayoutManagerIniStorage> Storage;
    TfrmLayout Form;
    TTestPanel* Panel;
};

TEST(LayoutIniStorage, KeepsAFormsGeometryAndAControlsPropertiesInAFile)
{
    TempDir dir;
    const QString file = Path(dir / "layout.ini");
    const QDateTime when(QDate(2024, 2, 29), QTime(23, 59, 58, 125));
    const QString caption = QStringLiteral(" two\nlines = [x] \\ €");
    {
        KeptForm kept(file);
        kept.Form.move(123, 77);
        kept.Form.resize(640, 480);
        kept.Panel->resize(200, 100);
        kept.Panel->SetCaption(caption);
        kept.Panel->SetNumber(-42);
        kept.Panel->Items()->SetLines({QStringLiteral("one"), QStringLiteral("two")});
        kept.Panel->SetRatio(0.1);
        kept.Form.LayoutManager()->SetValueByName(QStringLiteral("When"), when);
        kept.Form.LayoutManager()->Save();
        EXPECT_EQ(kept.Storage->Status(), QSettings::NoError);
    }
    const std::string text = ReadText(dir / "layout.ini");
    for (const char* line : {"[TfrmLayout#1920x1080x96]\nAlign=0\nPos=123,77\nSize=640,480\nState=0\nStyle=0\n",
                             "[TfrmLayout]\nLayoutReadOnly=0\nMonitor=0\nResolution=1920x1080x96\n",
                             "[TfrmLayout#1920x1080x96\\Panel\\Items]\n0=one\n1=two\nCount=2\n",
                             "[Settings]\nWhen=2024-02-29T23:59:58.125\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\nin\n" << text.substr(0, 2000);

    KeptForm restored(file);
    restored.Form.LayoutManager()->SetValueByName(QStringLiteral("When"), QDateTime(QDate(2000, 1, 1), QTime()));
    restored.Form.LayoutManager()->Restore();
    EXPECT_EQ(restored.Form.pos(), QPoint(123, 77));
    EXPECT_EQ(restored.Form.size(), QSize(640, 480));
    EXPECT_EQ(restored.Panel->size(), QSize(200, 100));
    EXPECT_EQ(restored.Panel->Caption(), caption);
    EXPECT_EQ(restored.Panel->Number(), -42);
    EXPECT_EQ(restored.Panel->Items()->Lines(), (QStringList{QStringLiteral("one"), QStringLiteral("two")}));
    EXPECT_EQ(restored.Panel->Ratio(), 0.1);
    EXPECT_EQ(restored.Form.LayoutManager()->GetValueByName(QStringLiteral("When")), QVariant(when));
}

TEST(LayoutIniStorage, TextsOfEveryShapeComeBack)
{
    TempDir dir;
    const QString file = Path(dir / "texts.ini");
    const struct {
        QString Section;
        QString Name;
        QString Value;
    } cases[] = {
        {QStringLiteral("A"), QStringLiteral("plain"), QStringLiteral("text")},
        {QStringLiteral("A\\B"), QStringLiteral("name = [with]; # marks"), QStringLiteral("  blanks at both ends  ")},
        {QStringLiteral("A"), QStringLiteral("%41"), QStringLiteral("back\\slash\\n, tab\t, line\r\nend, \x01")},
        {QStringLiteral("Ünïcödé\\Sección"), QStringLiteral("ключ"), QStringLiteral("значение €")},
        {QStringLiteral("A"), QStringLiteral(" spaced "), QString()},
        // A slash is no nesting, and a value that looks like QSettings' own notation stays text.
        {QStringLiteral("A/B"), QStringLiteral("x/y"), QStringLiteral("@Variant(\\0\\0\\0\\x7f)")},
    };
    {
        TLayoutManagerIniStorage storage(file);
        for (const auto& c : cases)
            storage.WriteString(c.Section, c.Name, c.Value);
        storage.WriteInteger(QStringLiteral("N"), QStringLiteral("Min"), std::numeric_limits<int64_t>::min());
        storage.WriteInteger(QStringLiteral("N"), QStringLiteral("Max"), std::numeric_limits<int64_t>::max());
        storage.WriteFloat(QStringLiteral("N"), QStringLiteral("Tenth"), 0.1);
        storage.WriteFloat(QStringLiteral("N"), QStringLiteral("Tiny"), -1e-300);
        storage.WriteBool(QStringLiteral("N"), QStringLiteral("Yes"), true);
        // Before the calendar's first year a date-time is kept as its number.
        storage.WriteDateTime(QStringLiteral("N"), QStringLiteral("Early"), -700000.25);
        storage.WriteDateTime(QStringLiteral("N"), QStringLiteral("Noon"), 45293.5);
        storage.Close();
        EXPECT_EQ(storage.Status(), QSettings::NoError);
    }
    TLayoutManagerIniStorage storage(file);
    for (const auto& c : cases) {
        EXPECT_TRUE(storage.ValueExists(c.Section, c.Name)) << c.Name.toStdString();
        EXPECT_EQ(storage.ReadString(c.Section, c.Name, QStringLiteral("default")), c.Value) << c.Name.toStdString();
    }
    EXPECT_EQ(storage.ReadInteger(QStringLiteral("N"), QStringLiteral("Min"), 0), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(storage.ReadInteger(QStringLiteral("N"), QStringLiteral("Max"), 0), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(storage.ReadFloat(QStringLiteral("N"), QStringLiteral("Tenth"), 0), 0.1);
    EXPECT_EQ(storage.ReadFloat(QStringLiteral("N"), QStringLiteral("Tiny"), 0), -1e-300);
    EXPECT_TRUE(storage.ReadBool(QStringLiteral("N"), QStringLiteral("Yes"), false));
    EXPECT_EQ(storage.ReadDateTime(QStringLiteral("N"), QStringLiteral("Early"), 0), -700000.25);
    EXPECT_EQ(storage.ReadDateTime(QStringLiteral("N"), QStringLiteral("Noon"), 0), 45293.5);

    QStringList names;
    storage.ReadSection(QStringLiteral("A"), names);
    EXPECT_EQ(names, (QStringList{QStringLiteral(" spaced "), QStringLiteral("%41"), QStringLiteral("plain")}));
    QStringList sections;
    storage.ReadSections(sections);
    for (const char* section : {"A", "A\\B", "A/B", "N"})
        EXPECT_TRUE(sections.contains(QString::fromLatin1(section))) << section;
    EXPECT_TRUE(sections.contains(QStringLiteral("Ünïcödé\\Sección")));
    QStringList lines;
    storage.ReadSectionValues(QStringLiteral("A\\B"), lines);
    EXPECT_EQ(lines, QStringList{QStringLiteral("name = [with]; # marks=  blanks at both ends  ")});
}

TEST(LayoutIniStorage, SectionsNestWithoutTouchingValuesOfTheSameName)
{
    TempDir dir;
    TLayoutManagerIniStorage storage(Path(dir / "nested.ini"));
    const QString form = QStringLiteral("F");
    const QString memo = QStringLiteral("F\\Memo");
    const QString items = QStringLiteral("F\\Memo\\Items");
    const auto fill = [&] {
        storage.WriteString(form, QStringLiteral("Memo"), QStringLiteral("a value of F"));
        storage.WriteInteger(memo, QStringLiteral("Width"), 10);
        storage.WriteInteger(items, QStringLiteral("Count"), 1);
    };
    fill();
    EXPECT_TRUE(storage.SectionExists(form));
    EXPECT_FALSE(storage.SectionExists(QStringLiteral("G")));

    storage.ClearSection(form);
    EXPECT_FALSE(storage.SectionExists(form));
    EXPECT_EQ(storage.ReadInteger(memo, QStringLiteral("Width"), 0), 10);
    EXPECT_EQ(storage.ReadInteger(items, QStringLiteral("Count"), 0), 1);

    fill();
    storage.DeleteValue(form, QStringLiteral("Memo"));
    EXPECT_FALSE(storage.ValueExists(form, QStringLiteral("Memo")));
    EXPECT_EQ(storage.ReadInteger(memo, QStringLiteral("Width"), 0), 10);

    fill();
    storage.EraseSection(memo, true);
    EXPECT_FALSE(storage.SectionExists(memo));
    EXPECT_FALSE(storage.SectionExists(items));
    EXPECT_EQ(storage.ReadString(form, QStringLiteral("Memo"), {}), QStringLiteral("a value of F"));

    fill();
    storage.EraseSection(memo, false);
    EXPECT_FALSE(storage.SectionExists(memo));
    EXPECT_TRUE(storage.SectionExists(items));
}

TEST(LayoutIniStorage, AFileFromOutsideReadsWhatParsesAndDefaultsTheRest)
{
    TempDir dir;
    WriteText(dir / "odd.ini", "a line without an equals sign\n"
                               "Root=outside any section\n"
                               "[Unclosed\n"
                               "Skipped=1\n"
                               "[S]\r\n"
                               "  Width = 42  \r\n"
                               "Count=abc\n"
                               "Huge=99999999999999999999999\n"
                               "Flag=yes\n"
                               "On=true\n"
                               "When=2024-13-45T99:00:00\n"
                               "Far=1e400\n"
                               "=nameless\n"
                               "Escapes=a\\qb\\x4\\\n"
                               "; a comment\n"
                               "# another\n"
                               "Bytes=\xff\xfe\n");
    TLayoutManagerIniStorage storage(Path(dir / "odd.ini"));
    const QString s = QStringLiteral("S");
    EXPECT_EQ(storage.ReadInteger(s, QStringLiteral("Width"), 0), 42);
    EXPECT_EQ(storage.ReadInteger(s, QStringLiteral("Count"), 7), 7);
    EXPECT_EQ(storage.ReadInteger(s, QStringLiteral("Huge"), 7), 7);
    EXPECT_TRUE(storage.ReadBool(s, QStringLiteral("Flag"), true));
    EXPECT_FALSE(storage.ReadBool(s, QStringLiteral("Flag"), false));
    EXPECT_TRUE(storage.ReadBool(s, QStringLiteral("On"), false));
    EXPECT_EQ(storage.ReadDateTime(s, QStringLiteral("When"), 1.5), 1.5);
    EXPECT_EQ(storage.ReadFloat(s, QStringLiteral("Far"), 1.5), 1.5);
    EXPECT_EQ(storage.ReadString(s, QStringLiteral("Escapes"), {}), QStringLiteral("a\\qb\\x4\\"));
    EXPECT_EQ(storage.ReadString(s, QStringLiteral("Bytes"), {}), QStringLiteral("\uFFFD\uFFFD"));
    EXPECT_EQ(storage.ReadString({}, QStringLiteral("Root"), {}), QStringLiteral("outside any section"));
    EXPECT_FALSE(storage.ValueExists(QStringLiteral("Unclosed"), QStringLiteral("Skipped")));
    EXPECT_FALSE(storage.ValueExists(s, {}));
}

TEST(LayoutIniStorage, AnOversizedFileIsNeitherReadNorOverwritten)
{
    TempDir dir;
    std::string text = "[S]\nA=1\n";
    text.resize(static_cast<size_t>(TLayoutManagerIniStorage::MaxFileSize) + 1, ';');
    WriteText(dir / "big.ini", text);
    TLayoutManagerIniStorage storage(Path(dir / "big.ini"));
    EXPECT_EQ(storage.ReadInteger(QStringLiteral("S"), QStringLiteral("A"), 5), 5);
    storage.WriteInteger(QStringLiteral("S"), QStringLiteral("B"), 2);
    storage.Close();
    EXPECT_EQ(storage.Status(), QSettings::FormatError);
    EXPECT_TRUE(ReadText(dir / "big.ini") == text);
}

} // namespace
