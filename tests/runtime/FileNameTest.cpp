// File names as bytes: every name comes back as it went, whatever its bytes; what a person sees;
// names from addresses, from the working folder and from Qt's lossy dialogs.
#include "support/FileName.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

using namespace testsupport;

namespace {

QByteArray Bytes(const std::string& text)
{
    return QByteArray::fromStdString(text);
}

TEST(FileName, EveryNameComesBackByteForByte)
{
    const struct {
        const char* Name;
        std::string Bytes;
        QString Expected; // as the program holds it
    } cases[] = {
        {"ASCII", "plain.pem", QStringLiteral("plain.pem")},
        {"UTF-8", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x94\x92.pem", QString::fromUtf8("café € 🔒.pem")},
        {"a Latin-1 byte", "bad\xffname.pem", QStringLiteral("bad") + QChar(0xDCFF) + QStringLiteral("name.pem")},
        {"a lone continuation byte", "a\x80z", QStringLiteral("a") + QChar(0xDC80) + QStringLiteral("z")},
        {"a cut sequence", "a\xe2\x82", QStringLiteral("a") + QChar(0xDCE2) + QChar(0xDC82)},
        {"an overlong slash", "\xc0\xaf", QString(QChar(0xDCC0)) + QChar(0xDCAF)},
        {"an encoded surrogate", "\xed\xa0\x80", QString(QChar(0xDCED)) + QChar(0xDCA0) + QChar(0xDC80)},
        {"beyond U+10FFFF", "\xf4\x90\x80\x80",
         QString(QChar(0xDCF4)) + QChar(0xDC90) + QChar(0xDC80) + QChar(0xDC80)},
    };
    for (const auto& c : cases) {
        const QString name = FileNameFromBytes(Bytes(c.Bytes));
        EXPECT_EQ(name, c.Expected) << c.Name;
        EXPECT_EQ(FileNameToBytes(name), Bytes(c.Bytes)) << c.Name;
    }
    // Shown with U+FFFD where bytes are not text.
    EXPECT_EQ(DisplayFileName(FileNameFromBytes(Bytes("bad\xffname"))), QStringLiteral("bad\uFFFDname"));
    EXPECT_EQ(DisplayFileName(QString::fromUtf8("café")), QString::fromUtf8("café"));
    // A lone surrogate that stands for no byte cannot be a name's: it is written as U+FFFD.
    EXPECT_EQ(FileNameToBytes(QString(QChar(0xD800))), Bytes("\xef\xbf\xbd"));
}

TEST(FileName, ArgumentsAndAddressesKeepTheirBytes)
{
    const char* argv[] = {"tessera", "bad\xffname.pem", "--", "", nullptr};
    EXPECT_EQ(ArgumentsFromBytes(4, argv),
              (QStringList{FileNameFromBytes(Bytes("bad\xffname.pem")), QStringLiteral("--"), QString()}));
    EXPECT_EQ(FileNameFromUrl(QUrl(QStringLiteral("file:///tmp/bad%FFname.pem"))),
              FileNameFromBytes(Bytes("/tmp/bad\xffname.pem")));
    EXPECT_EQ(FileNameFromUrl(QUrl(QStringLiteral("file:///tmp/caf%C3%A9%20x.pem"))), QString::fromUtf8("/tmp/café x.pem"));
    EXPECT_EQ(FileNameFromUrl(QUrl::fromLocalFile(QStringLiteral("/tmp/100%.pem"))), QStringLiteral("/tmp/100%.pem"));
    EXPECT_EQ(FileNameFromUrl(QUrl(QStringLiteral("https://tessera.example/x.pem"))), QString());
}

TEST(FileName, RelativeNamesAreTakenFromTheWorkingFolderWhateverItsBytes)
{
    TempDir dir;
    const std::string folder = (dir.path() / "w\xfe").string();
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const std::string saved = std::filesystem::current_path().string();
    ASSERT_EQ(chdir(folder.c_str()), 0);
    const QString absolute = AbsoluteFileName(QStringLiteral("sub/../x.pem"));
    ASSERT_EQ(chdir(saved.c_str()), 0);
    EXPECT_EQ(FileNameToBytes(absolute), Bytes(folder + "/x.pem"));
    EXPECT_EQ(AbsoluteFileName(QStringLiteral("/a/./b/../c")), QStringLiteral("/a/c"));
}

TEST(FileName, ANameQtDecodedIsFoundAgainAmongItsFoldersNames)
{
    TempDir dir;
    const std::string folder = (dir.path() / "f\xff").string();
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    WriteText(folder + "/a\xfe.pem", "x");
    // Two names Qt reads alike: neither can be told from the other.
    WriteText(folder + "/b\xfe.pem", "x");
    WriteText(folder + "/b\xfd.pem", "x");
    const auto lossy = [](const std::string& bytes) { return QFile::decodeName(Bytes(bytes)); };
    EXPECT_EQ(FileNameToBytes(RecoverFileName(lossy(folder + "/a\xfe.pem"))), Bytes(folder + "/a\xfe.pem"));
    EXPECT_EQ(RecoverFileName(lossy(folder + "/b\xfe.pem")), lossy(folder + "/b\xfe.pem"));
    EXPECT_EQ(RecoverFileName(lossy(folder + "/missing\xfe.pem")), lossy(folder + "/missing\xfe.pem"));
    EXPECT_EQ(RecoverFileName(QStringLiteral("/plain/name")), QStringLiteral("/plain/name"));
    EXPECT_TRUE(FolderExists(FileNameFromBytes(Bytes(folder))));
    EXPECT_FALSE(FolderExists(FileNameFromBytes(Bytes(folder + "/a\xfe.pem"))));
}

} // namespace
