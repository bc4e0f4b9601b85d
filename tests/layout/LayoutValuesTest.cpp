// Stored values and the built-in cipher: names, kinds written and read back, keyed values, the
// hexadecimal and code-page conversions, and duplicate names.
#include "layout/LayoutManagerControl.h"
#include "layout/LayoutManagerValues.h"
#include "tests/layout/LayoutTestSupport.h"
#include "tests/support/QtPrinters.h"

#include <QDateTime>

#include <gtest/gtest.h>

using layouttest::RecordingStorage;

namespace {

QByteArray Bytes(std::initializer_list<unsigned char> bytes)
{
    QByteArray out;
    for (const unsigned char b : bytes)
        out += static_cast<char>(b);
    return out;
}

class LayoutValues : public ::testing::Test {
protected:
    LayoutValues() { Manager.SetStorage(Storage); }

    TLayoutManagerValues& Values() { return Manager.StoredValues(); }

    std::shared_ptr<RecordingStorage> Storage = std::make_shared<RecordingStorage>();
    TLayoutManager Manager;
};

TEST_F(LayoutValues, AnAbsentNameReadsNullAndWritingItAddsAValue)
{
    EXPECT_EQ(Values().Section(), QStringLiteral("Settings"));
    EXPECT_EQ(Values().LayoutManager(), &Manager);
    const QVariant absent = Manager.GetValueByName(QStringLiteral("Width"));
    EXPECT_TRUE(absent.isNull());
    EXPECT_FALSE(absent.isValid());
    EXPECT_EQ(Values().Count(), 0);

    Values().AddItem(QStringLiteral("Width"), 1, QStringLiteral("key"));
    Manager.SetValueByName(QStringLiteral("width"), 2);
    Manager.SetValueByName(QStringLiteral("Height"), 3);
    ASSERT_EQ(Values().Count(), 2);
    // An existing value keeps its name and key; a new one has none.
    EXPECT_EQ(Values().GetItem(0)->Name(), QStringLiteral("Width"));
    EXPECT_EQ(Values().GetItem(0)->Key(), QStringLiteral("key"));
    EXPECT_EQ(Manager.GetValueByName(QStringLiteral("WIDTH")), QVariant(2));
    EXPECT_TRUE(Values().GetItem(1)->Key().isEmpty());
    EXPECT_EQ(Manager.GetValueByName(QStringLiteral("Height")), QVariant(3));
    EXPECT_THROW((void)Values().GetItem(2), ELayoutManager);
}

TEST_F(LayoutValues, EachKindIsWrittenWithItsOwnOperation)
{
    const QDateTime noon(QDate(2024, 1, 2), QTime(12, 0));
    const struct {
        QVariant Value;
        QString Write;
    } cases[] = {
        {QVariant::fromValue<qint8>(-5), QStringLiteral("WriteInteger(Settings,V,-5)")},
        {QVariant::fromValue<uint>(7), QStringLiteral("WriteInteger(Settings,V,7)")},
        {QVariant::fromValue<qint64>(-(qint64{1} << 50)), QStringLiteral("WriteInteger(Settings,V,-1125899906842624)")},
        {QVariant(1.5f), QStringLiteral("WriteFloat(Settings,V,1.5)")},
        {QVariant(true), QStringLiteral("WriteBool(Settings,V,1)")},
        {QVariant(noon), QStringLiteral("WriteDateTime(Settings,V,45293.5)")},
        {QVariant(QStringLiteral("text")), QStringLiteral("WriteString(Settings,V,text)")},
        {QVariant::fromValue<quint64>(~quint64{0}), QStringLiteral("WriteString(Settings,V,18446744073709551615)")},
        {QVariant(), QStringLiteral("WriteString(Settings,V,)")},
    };
    for (const auto& c : cases) {
        Values().Clear();
        Storage->Calls.clear();
        Values().AddItem(QStringLiteral("V"), c.Value, {});
        Values().Save();
        // No Open: each value only closes the storage after itself.
        EXPECT_EQ(Storage->Calls, (QStringList{c.Write, QStringLiteral("Close()")})) << c.Value.typeName();
    }
}

TEST_F(LayoutValues, RestoringWhatWasNeverSavedKeepsTheValueInItsWiderKind)
{
    const QDateTime noon(QDate(2024, 1, 2), QTime(12, 0, 0, 250));
    const struct {
        QVariant Value;
        QVariant Restored;
    } cases[] = {
        {QVariant::fromValue<qint8>(-5), QVariant::fromValue<qint64>(-5)},
        {QVariant::fromValue<ushort>(7), QVariant::fromValue<qint64>(7)},
        {QVariant(1.5f), QVariant(1.5)},
        {QVariant(true), QVariant(true)},
        {QVariant(noon), QVariant(noon)},
        {QVariant(QStringLiteral("text")), QVariant(QStringLiteral("text"))},
        {QVariant::fromValue<quint64>(5), QVariant(QStringLiteral("5"))},
        {QVariant(), QVariant(QString())},
    };
    for (const auto& c : cases) {
        Values().Clear();
        Values().AddItem(QStringLiteral("V"), c.Value, {});
        Values().Restore();
        const QVariant restored = Manager.GetValueByName(QStringLiteral("V"));
        EXPECT_EQ(restored.metaType(), c.Restored.metaType()) << c.Value.typeName();
        EXPECT_EQ(restored, c.Restored) << c.Value.typeName();
    }
}

TEST_F(LayoutValues, StoredValuesComeBackInTheirKind)
{
    Values().AddItem(QStringLiteral("Count"), 3, {});
    Values().AddItem(QStringLiteral("Name"), QStringLiteral("old"), {});
    Storage->Put(QStringLiteral("Settings"), QStringLiteral("Count"), QStringLiteral("12"));
    Storage->Put(QStringLiteral("Settings"), QStringLiteral("Name"), QStringLiteral("new"));
    Manager.Restore();
    EXPECT_EQ(Manager.GetValueByName(QStringLiteral("Count")), QVariant::fromValue<qint64>(12));
    EXPECT_EQ(Manager.GetValueByName(QStringLiteral("Name")), QVariant(QStringLiteral("new")));
}

TEST_F(LayoutValues, AKeyedValueIsStoredAsUpperCaseHexAndRestored)
{
    // "A" ^ "y" and "B" ^ "x": the first text byte meets the second key byte.
    Values().AddItem(QStringLiteral("Pwd"), QStringLiteral("AB"), QStringLiteral("xy"));
    Values().Save();
    EXPECT_EQ(*Storage->Find(QStringLiteral("Settings"), QStringLiteral("Pwd")), QStringLiteral("383A"));

    Manager.SetValueByName(QStringLiteral("Pwd"), QStringLiteral("changed"));
    Values().Restore();
    EXPECT_EQ(Manager.GetValueByName(QStringLiteral("Pwd")), QVariant(QStringLiteral("AB")));

    // Nothing stored: the enciphered current text is the default, which deciphers to itself.
    Storage->Sections.clear();
    Manager.SetValueByName(QStringLiteral("Pwd"), QStringLiteral("kept"));
    Values().Restore();
    EXPECT_EQ(Manager.GetValueByName(QStringLiteral("Pwd")), QVariant(QStringLiteral("kept")));

    // Characters beyond ASCII come back as they went, through the "ANSI" code page.
    Manager.SetValueByName(QStringLiteral("Pwd"), QStringLiteral("Straße €"));
    Values().Save();
    Manager.SetValueByName(QStringLiteral("Pwd"), QString());
    Values().Restore();
    EXPECT_EQ(Manager.GetValueByName(QStringLiteral("Pwd")), QVariant(QStringLiteral("Straße €")));
}

TEST(LayoutCipherer, CombinesTheTextWithTheShiftedKey)
{
    TLayoutManagerCipherer cipherer;
    const struct {
        QString Text;
        QString Key;
        QString Hex;
    } cases[] = {
        {QStringLiteral("AB"), QStringLiteral("xy"), QStringLiteral("383A")},
        // One character: every byte meets it.
        {QStringLiteral("abc"), QStringLiteral("k"), QStringLiteral("0A0908")},
        // No key: the bytes as they are.
        {QStringLiteral("AB"), QString(), QStringLiteral("4142")},
        // A key longer than the text.
        {QStringLiteral("A"), QStringLiteral("xyz"), QStringLiteral("38")},
        {QString(), QStringLiteral("xy"), QString()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cipherer.EncryptText(c.Text, c.Key), c.Hex) << c.Text.toStdString() << "/" << c.Key.toStdString();
        EXPECT_EQ(cipherer.DecryptText(c.Hex, c.Key), c.Text) << c.Hex.toStdString();
    }
    // Hexadecimal that does not read deciphers to nothing.
    EXPECT_EQ(cipherer.DecryptText(QStringLiteral("4G"), QStringLiteral("xy")), QString());
}

TEST(LayoutCipherer, HexConversions)
{
    EXPECT_EQ(TLayoutManagerCipherer::StringToHex(Bytes({0x00, 0x0A, 0xAB, 0xFF})), QStringLiteral("000AABFF"));
    const struct {
        const char* Hex;
        QByteArray Bytes;
    } cases[] = {
        {"A", Bytes({0x0A})}, {"0a1", Bytes({0x0A, 0x01})}, {"ff00", Bytes({0xFF, 0x00})}, {"", QByteArray()},
        {"zz", QByteArray()}, {"0g", QByteArray()},         {"00 1", QByteArray()},        {"-1", QByteArray()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TLayoutManagerCipherer::HexToString(QString::fromLatin1(c.Hex)), c.Bytes) << c.Hex;
}

TEST(LayoutCipherer, WideToAnsiWritesCodePages)
{
    const QString text = QStringLiteral("e\u0301€\u3042");
    // The locale of the tests is UTF-8, the "ANSI" code page with it.
    EXPECT_EQ(TLayoutManagerCipherer::WideToAnsi(text, TLayoutManagerCipherer::AnsiCodePage),
              QStringLiteral("é€\u3042").toUtf8());
    EXPECT_EQ(TLayoutManagerCipherer::WideToAnsi(text, TLayoutManagerCipherer::Utf8CodePage), text.toUtf8());
    // Composed first; what the code page cannot hold becomes "?".
    EXPECT_EQ(TLayoutManagerCipherer::WideToAnsi(text, 1252), Bytes({0xE9, 0x80, '?'}));
    // A non-spacing mark without a composed form is dropped.
    EXPECT_EQ(TLayoutManagerCipherer::WideToAnsi(QStringLiteral("q\u0301"), 1252), QByteArray("q"));
    EXPECT_EQ(TLayoutManagerCipherer::WideToAnsi(QStringLiteral("abc"), 99999), QByteArray());
    EXPECT_EQ(TLayoutManagerCipherer::WideToAnsi(QString(), 1252), QByteArray());
}

// A cipher that marks what it did.
class MarkingCipherer final : public ILayoutManagerCipherer {
public:
    QString EncryptText(const QString& text, const QString& key) override { return u'[' + text + u']'; }
    QString DecryptText(const QString& text, const QString& key) override { return text.mid(1, text.size() - 2); }
};

TEST_F(LayoutValues, AnEmptyCiphererBringsBackTheBuiltInOne)
{
    const std::shared_ptr<ILayoutManagerCipherer> builtIn = Values().Cipherer();
    ASSERT_NE(builtIn, nullptr);
    const auto marking = std::make_shared<MarkingCipherer>();
    Values().SetCipherer(marking);
    EXPECT_EQ(Values().Cipherer(), marking);
    Values().AddItem(QStringLiteral("Pwd"), QStringLiteral("AB"), QStringLiteral("xy"));
    Values().Save();
    EXPECT_EQ(*Storage->Find(QStringLiteral("Settings"), QStringLiteral("Pwd")), QStringLiteral("[AB]"));

    Values().SetCipherer(nullptr);
    EXPECT_EQ(Values().Cipherer(), builtIn);
    Values().Save();
    EXPECT_EQ(*Storage->Find(QStringLiteral("Settings"), QStringLiteral("Pwd")), QStringLiteral("383A"));
}

TEST_F(LayoutValues, DuplicateNamesAreRefused)
{
    Values().AddItem(QStringLiteral("Width"), 1, {});
    TLayoutManagerValue* other = Values().AddItem();
    EXPECT_EQ(other->Name(), QStringLiteral("TLayoutManagerValue"));
    other->SetName(QStringLiteral("Height"));
    try {
        other->SetName(QStringLiteral("WIDTH"));
        FAIL() << "no error";
    } catch (const ELayoutManager& error) {
        EXPECT_EQ(error.Message(), QStringLiteral("TLayoutManagerValue: Duplicates not allowed"));
    }
    EXPECT_EQ(other->Name(), QStringLiteral("Height"));
    // Its own name in another case is no duplicate.
    other->SetName(QStringLiteral("HEIGHT"));
    EXPECT_EQ(other->Name(), QStringLiteral("HEIGHT"));

    // Assigning a value of a taken name fails alike, after the value was taken over.
    TLayoutManagerValue source;
    source.SetName(QStringLiteral("width"));
    source.SetValue(9);
    EXPECT_THROW(other->Assign(source), ELayoutManager);
    EXPECT_EQ(other->Name(), QStringLiteral("HEIGHT"));
    EXPECT_THROW(Values().SetValue(QStringLiteral("Height"), source), ELayoutManager);

    // Adding a taken name adds nothing and raises nothing.
    Values().AddItem(QStringLiteral("width"), 5, {});
    EXPECT_EQ(Values().Count(), 2);
    EXPECT_EQ(Manager.GetValueByName(QStringLiteral("Width")), QVariant(1));
}

TEST_F(LayoutValues, AssignCopiesValueNameAndKey)
{
    TLayoutManagerValue source;
    source.SetName(QStringLiteral("Pwd"));
    source.SetValue(QStringLiteral("x"));
    source.SetKey(QStringLiteral("k"));
    TLayoutManagerValue* item = Values().AddItem();
    item->SetValue(5);
    item->Assign(source);
    EXPECT_EQ(item->Name(), QStringLiteral("Pwd"));
    EXPECT_EQ(item->Value(), QVariant(QStringLiteral("x")));
    EXPECT_EQ(item->Key(), QStringLiteral("k"));
    // An empty value empties the target.
    source.Clear();
    EXPECT_FALSE(source.IsValueStored());
    item->Assign(source);
    EXPECT_FALSE(item->IsValueStored());

    // A whole collection copies into the manager's.
    TLayoutManagerValues copy;
    copy.AddItem(QStringLiteral("A"), 1, {});
    copy.AddItem(QStringLiteral("B"), 2, QStringLiteral("k"));
    Manager.SetStoredValues(copy);
    ASSERT_EQ(Values().Count(), 2);
    EXPECT_EQ(Values().GetItem(1)->Key(), QStringLiteral("k"));
    EXPECT_EQ(Values().Section(), QStringLiteral("Settings"));
}

TEST(LayoutValuesWithoutStorage, DoNothing)
{
    TLayoutManagerValues values;
    values.AddItem(QStringLiteral("A"), 1, {});
    values.Save();
    values.Restore();
    EXPECT_EQ(values.GetValueByName(QStringLiteral("A")), QVariant(1));
}

} // namespace
