// The structured-storage wrappers and the texts of property values.
#include "storage/KavexSS.h"
#include "support/Exceptions.h"
#include "support/WinString.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>

using namespace testsupport;

namespace {

const bool LocaleSet = std::setlocale(LC_ALL, "") != nullptr;

QString CompoundFixture(const char* name)
{
    return QString::fromStdString(Fixture(std::string("compound/") + name).string());
}

// The fixture script's stream content: byte i is (seed + 31 i + i / 251) mod 256.
std::vector<uint8_t> Pattern(size_t size, unsigned seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>((seed + 31 * i + i / 251) % 256);
    return bytes;
}

std::unique_ptr<TStructuredStorage> OpenRoot(const QString& file, IStorage*& platform)
{
    platform = nullptr;
    OleCheck(StgOpenStorage(WStr(file), nullptr, StorageReadMode, nullptr, 0, &platform));
    auto root = std::make_unique<TStructuredStorage>(nullptr, platform);
    platform->Release(); // the wrapper holds its own reference
    return root;
}

TEST(StructuredStorage, ElementsOfStoragesWithTenTwentyAndTwentyFiveElements)
{
    for (const char* file : {"full-v3.cfb", "full-v4.cfb"}) {
        IStorage* platform = nullptr;
        const auto root = OpenRoot(CompoundFixture(file), platform);
        EXPECT_TRUE(root->ElementExists(QStringLiteral("MIXEDCASENAME")));
        EXPECT_TRUE(root->ElementExists(QStringLiteral("mixedcasename")));
        EXPECT_FALSE(root->ElementExists(QStringLiteral("MixedCase")));
        EXPECT_EQ(root->GetElementByName(QStringLiteral("Large")).Props.cbSize.QuadPart, 10000u);
        EXPECT_EQ(root->GetElementByName(QStringLiteral("NoSuchElement")).Props.type, 0u);
        for (const auto& [name, count] : {std::pair{"Ten", 10}, std::pair{"Twenty", 20}, std::pair{"TwentyFive", 25}}) {
            TStructuredStorage* child = root->OpenSubStorage(QString::fromLatin1(name), StorageReadMode, false);
            ASSERT_NE(child, nullptr) << name;
            EXPECT_EQ(child->GetElementCount(), count) << name;
            EXPECT_TRUE(child->AutoFree());
            EXPECT_EQ(root->LockCount(), 2);
            child->Free();
            EXPECT_EQ(root->LockCount(), 1);
        }
    }
}

TEST(StructuredStorage, StreamObjectsKeepTheirStorageLocked)
{
    IStorage* platform = nullptr;
    const auto root = OpenRoot(CompoundFixture("full-v3.cfb"), platform);
    EXPECT_EQ(root->LockCount(), 1);
    {
        std::unique_ptr<TStorageStream> stream(root->OpenStream(QStringLiteral("Small"), StorageReadMode, false));
        ASSERT_TRUE(stream);
        EXPECT_EQ(root->LockCount(), 2);
        EXPECT_EQ(stream->Size(), 100);
    }
    EXPECT_EQ(root->LockCount(), 1);
    // A path through two storages: the stream alone keeps the chain alive.
    std::unique_ptr<TStorageStream> deep(root->OpenStream(QStringLiteral("\\Sub\\Deeper\\Leaf"), StorageReadMode, false));
    ASSERT_TRUE(deep);
    EXPECT_EQ(root->LockCount(), 2);
    std::vector<uint8_t> bytes(10);
    EXPECT_EQ(deep->Read(bytes.data(), 100), 10);
    EXPECT_EQ(bytes, Pattern(10, 9));
    deep.reset();
    EXPECT_EQ(root->LockCount(), 1);
    EXPECT_EQ(root->OpenStream(QStringLiteral("NoSuchStream"), StorageReadMode, false), nullptr);
    EXPECT_THROW((void)root->OpenStream(QStringLiteral("NoSuchStorage\\Leaf"), StorageReadMode, false), EOleSysError);
    EXPECT_EQ(root->LockCount(), 1);
}

TEST(ReadStorageStream, WholeStreamsIntoMemory)
{
    const QString file = CompoundFixture("full-v4.cfb");
    TMemoryStream target;
    ReadStorageStream(file, QString(), QStringLiteral("Large"), nullptr, target);
    EXPECT_EQ(target.Bytes(), Pattern(10000, 2));
    EXPECT_EQ(target.Position(), 0);
    // A name that differs in letter case passes the existence test.
    ReadStorageStream(file, QString(), QStringLiteral("mixedCASEname"), nullptr, target);
    EXPECT_EQ(target.Bytes(), Pattern(77, 5));
    ReadStorageStream(file, QStringLiteral("\\Sub\\"), QStringLiteral("Inner"), nullptr, target);
    EXPECT_EQ(target.Bytes(), Pattern(5000, 7));
    ReadStorageStream(file, QString(), QStringLiteral("Empty"), nullptr, target);
    EXPECT_EQ(target.Size(), 0);
    ReadStorageStream(file, QStringLiteral("\\NoSuchStorage"), QStringLiteral("Inner"), nullptr, target);
    EXPECT_EQ(target.Size(), 0);

    // A converter that fails leaves the plain copy.
    ReadStorageStream(file, QString(), QStringLiteral("Small"),
                      [](TStream&, TStream& out) {
                          out.WriteBuffer("partial", 7);
                          throw EStreamError(QStringLiteral("conversion failed"));
                      },
                      target);
    EXPECT_EQ(target.Bytes(), Pattern(100, 1));
}

TEST(ReadStorageStream, FilesThatAreNotCompoundFiles)
{
    const QString text = QString::fromStdString(Fixture("pe/text.txt").string());
    EXPECT_FALSE(StorageStreamExists(text, QStringLiteral("Anything")));
    TMemoryStream target;
    target.WriteBuffer("old", 3);
    ReadStorageStream(text, QString(), QStringLiteral("Anything"), nullptr, target);
    EXPECT_EQ(target.Size(), 0);
    EXPECT_TRUE(StorageStreamExists(CompoundFixture("full-v3.cfb"), QStringLiteral("\\Sub\\Inner")));
    EXPECT_FALSE(StorageStreamExists(CompoundFixture("full-v3.cfb"), QStringLiteral("\\Missing\\Inner")));
    // A compound file that cannot be opened raises.
    EXPECT_THROW(StorageStreamExists(CompoundFixture("malformed/tree-loop.cfb"), QStringLiteral("Small")),
                 EOleSysError);
}

TEST(SplitStoragePath, StoragesAndFinalName)
{
    QString final;
    QStringList storages;
    SplitStoragePath(QStringLiteral("\\A\\B\\S"), final, storages);
    EXPECT_EQ(storages, (QStringList{QStringLiteral("A"), QStringLiteral("B")}));
    EXPECT_EQ(final, QStringLiteral("S"));
    SplitStoragePath(QStringLiteral("S"), final, storages);
    EXPECT_TRUE(storages.isEmpty());
    EXPECT_EQ(final, QStringLiteral("S"));
    SplitStoragePath(QString(), final, storages);
    EXPECT_TRUE(final.isEmpty());
}

TEST(PropertyName, ThreeSetsAndNothingElse)
{
    EXPECT_EQ(PropertyName(FMTID_SummaryInformation, 2), QStringLiteral("Title"));
    EXPECT_EQ(PropertyName(FMTID_SummaryInformation, 18), QStringLiteral("Name of creating application"));
    EXPECT_EQ(PropertyName(FMTID_DocSummaryInformation, 13), QStringLiteral("Titlesoft parts"));
    EXPECT_EQ(PropertyName(FMTID_ImageSummaryInformation, 13), QStringLiteral("Image Dimensions"));
    EXPECT_TRUE(PropertyName(FMTID_SummaryInformation, 1).isEmpty());
    EXPECT_TRUE(PropertyName(FMTID_SummaryInformation, 0).isEmpty());
    EXPECT_TRUE(PropertyName(FMTID_SummaryInformation, 20).isEmpty());
    EXPECT_TRUE(PropertyName(FMTID_UserDefinedProperties, 2).isEmpty());
    // Compared as GUID values, whatever case a registry-form text had.
    const FMTID copy = FMTID_SummaryInformation;
    EXPECT_EQ(PropertyName(copy, 4), QStringLiteral("Author"));
}

QString Text(const PROPVARIANT& value, const QString& before = QStringLiteral("unchanged"))
{
    QString text = before;
    PropVariantToText(value, text);
    return text;
}

PROPVARIANT Of(VARTYPE vt)
{
    PROPVARIANT v{};
    v.vt = vt;
    return v;
}

TEST(PropVariantToText, ValuesByType)
{
    PROPVARIANT v = Of(VT_I2);
    v.iVal = -12345;
    EXPECT_EQ(Text(v), QStringLiteral("-12345"));
    v = Of(VT_BOOL);
    v.boolVal = -1;
    EXPECT_EQ(Text(v), QStringLiteral("-1"));
    v = Of(VT_R4);
    v.fltVal = 0.1f;
    EXPECT_EQ(Text(v), QStringLiteral("0.100000001490116"));
    v = Of(VT_I1);
    v.cVal = -5;
    EXPECT_EQ(Text(v), QStringLiteral("251"));
    v = Of(VT_UI8);
    v.uhVal.QuadPart = 0xFFFFFFFFFFFFFFFFULL;
    EXPECT_EQ(Text(v), QStringLiteral("-1"));
    v = Of(VT_HRESULT);
    v.scode = static_cast<SCODE>(0x80004005);
    EXPECT_EQ(Text(v), QStringLiteral("2147500037"));
    v = Of(VT_DECIMAL);
    v.decVal.Lo64 = 0x0000000100000005ULL;
    v.decVal.scale = 2;
    EXPECT_EQ(Text(v), QStringLiteral("5"));
    v = Of(VT_FILETIME); // a duration of five minutes, shown as a date-time in UTC
    v.filetime = {3000000000u, 0};
    EXPECT_EQ(Text(v), QStringLiteral("1 Jan 1601 00:05:00"));
    v.filetime = {0, 0};
    EXPECT_EQ(Text(v), QStringLiteral("1 Jan 1601"));
    CLSID clsid = FMTID_SummaryInformation;
    v = Of(VT_CLSID);
    v.puuid = &clsid;
    EXPECT_EQ(Text(v), QStringLiteral("{F29F85E0-4FF9-1068-AB91-08002B27B3D9}"));
    char ansi[] = "Gr\xC3\xBC\xC3\x9F" "e";
    v = Of(VT_LPSTR);
    v.pszVal = ansi;
    EXPECT_EQ(Text(v), QStringLiteral("Grüße"));
    EXPECT_EQ(Text(Of(VT_NULL)), QStringLiteral("(null)"));
    EXPECT_EQ(Text(Of(VT_EMPTY)), QString());
    EXPECT_EQ(Text(Of(VT_CF)), QStringLiteral("(Clipboard format)"));
    EXPECT_EQ(Text(Of(VT_VECTOR)), QStringLiteral("(Simple counted array)"));
    // A vector, array or reference combined with a type has no text: the text stays as it was.
    EXPECT_EQ(Text(Of(VT_VECTOR | VT_LPSTR)), QStringLiteral("unchanged"));
    EXPECT_EQ(Text(Of(VT_RECORD)), QStringLiteral("unchanged"));
}

TEST(FloatToText, FifteenDigitsFixedOrScientific)
{
    EXPECT_EQ(FloatToText(0), QStringLiteral("0"));
    EXPECT_EQ(FloatToText(2.718281828459045), QStringLiteral("2.71828182845905"));
    EXPECT_EQ(FloatToText(-1500.25), QStringLiteral("-1500.25"));
    EXPECT_EQ(FloatToText(123456789012345.0), QStringLiteral("123456789012345"));
    EXPECT_EQ(FloatToText(1234567890123456.0), QStringLiteral("1.23456789012346E15"));
    EXPECT_EQ(FloatToText(0.00001), QStringLiteral("0.00001"));
    EXPECT_EQ(FloatToText(0.000001234), QStringLiteral("1.234E-6"));
    EXPECT_EQ(FloatToText(1e100), QStringLiteral("1E100"));
}

} // namespace
