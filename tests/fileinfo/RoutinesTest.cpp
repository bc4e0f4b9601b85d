// Version information, file information and the executable kind of real PE fixtures.
#include "fileinfo/KavexRoutines.h"
#include "platform/include/win/shellapi.h"
#include "platform/include/win/winbase.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace testsupport;

namespace {

QString PeFixture(const char* name)
{
    return QString::fromStdString(Fixture(std::string("pe/") + name).string());
}

TEST(ReadVersionInfo, EveryFieldOfAFullResource)
{
    TVersionInfo info;
    ASSERT_TRUE(ReadVersionInfo(PeFixture("gui.exe"), info));
    EXPECT_EQ(info.FileName, PeFixture("gui.exe"));
    EXPECT_EQ(info.CompanyName, QStringLiteral("Tessera Fixtures Ltd."));
    EXPECT_EQ(info.Description, QStringLiteral("Tessera test program"));
    EXPECT_EQ(info.ProductName, QStringLiteral("Tessera Fixture Suite"));
    EXPECT_EQ(info.ProductVersionText, QStringLiteral("1.2.3.4"));
    EXPECT_EQ(info.FileVersionText, QStringLiteral("1.2.3.4"));
    EXPECT_EQ(info.Copyright, QStringLiteral("Copyright (C) 2024 Tessera Fixtures"));
    EXPECT_EQ(info.Trademarks, QStringLiteral("Tessera(TM)"));
    EXPECT_EQ(info.Comments, QStringLiteral("Made by make-fixtures.py"));
    EXPECT_EQ(info.InternalName, QStringLiteral("gui"));
    EXPECT_EQ(info.OriginalFilename, QStringLiteral("gui.exe"));
    EXPECT_EQ(info.SpecialBuild, QStringLiteral("Special build for tests"));
    EXPECT_EQ(info.BuildTimestamp, QStringLiteral("2024-05-01 12:00:00"));
    EXPECT_EQ(info.FileVersion, QStringLiteral("1.2.3.4"));
    EXPECT_EQ(info.ProductVersion, QStringLiteral("1.2.3"));
    EXPECT_EQ(info.Major * 1000 + info.Minor * 100 + info.Release * 10 + info.Build, 1234u);
    EXPECT_FALSE(info.PreReleaseBuild);
}

struct VersionCase {
    const char* File;
    const char* FileVersion;
    const char* ProductVersion;
    const char* ProductVersionText;
    const char* CompanyName;
};

class VersionVariants : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionVariants, NumericFormsAndTexts)
{
    const VersionCase& c = GetParam();
    TVersionInfo info;
    ASSERT_TRUE(ReadVersionInfo(PeFixture(c.File), info)) << c.File;
    EXPECT_EQ(info.FileVersion, QString::fromUtf8(c.FileVersion));
    EXPECT_EQ(info.ProductVersion, QString::fromUtf8(c.ProductVersion));
    EXPECT_EQ(info.ProductVersionText, QString::fromUtf8(c.ProductVersionText));
    EXPECT_EQ(info.CompanyName, QString::fromUtf8(c.CompanyName));
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, VersionVariants,
    ::testing::Values(
        // Without a translation table the strings are looked up under 040904E4.
        VersionCase{"version-notrans.exe", "3.0.0.0", "3.0.0", "", "No Translation Inc."},
        // Only the first language is read.
        VersionCase{"version-twolang.exe", "1.2.3.4", "1.2.3", "", "English Company"},
        VersionCase{"version-prerelease-b0.exe", "2.1.0.0 BETA", "2.1.0", "", ""},
        VersionCase{"version-prerelease-b7.exe", "2.1.0.7 BETA 7", "2.1.0", "", ""},
        // The numeric product version has three parts; the text keeps the string table's value.
        VersionCase{"version-product.exe", "5.4.3.2", "5.4.3", "5.4 Gold Edition", ""},
        VersionCase{"version-missing-keys.exe", "1.0.0.0", "1.2.3", "", "Only Two Keys"},
        VersionCase{"gui64.exe", "6.4.0.1", "1.2.3", "1.2.3.4", "Tessera Fixtures Ltd."},
        // A string typed as binary (its length in bytes) ends the block: read to its NUL and no
        // further (under AddressSanitizer a read past the buffer fails the test).
        VersionCase{"version-binary-string.exe", "1.2.3.4", "1.2.3", "", "Binary Typed Company"},
        // A declared length shorter than the text: the text up to its NUL.
        VersionCase{"version-short-length.exe", "1.2.3.4", "1.2.3", "", "English Company"},
        // A translation typed as text names the table read.
        VersionCase{"version-text-translation.exe", "1.2.3.4", "1.2.3", "", "Deutsche Firma"},
        VersionCase{"version-three-languages.exe", "1.2.3.4", "1.2.3", "", "English Company"},
        VersionCase{"ne-version.exe", "3.10.0.103", "3.10.0", "", "Sixteen-Bit Software"}));

TEST(ReadVersionInfo, FilesWithoutOneLeaveTheRecordEmpty)
{
    for (const char* name : {"console.exe", "dos.exe", "text.txt", "rsrc-loop.exe", "missing.exe", "version-id7.exe",
                             "ne-win16.exe"}) {
        TVersionInfo info;
        EXPECT_FALSE(ReadVersionInfo(PeFixture(name), info)) << name;
        EXPECT_EQ(info.FileName, PeFixture(name));
        EXPECT_TRUE(info.FileVersion.isEmpty() && info.ProductVersion.isEmpty() && info.CompanyName.isEmpty()) << name;
    }
}

struct KindCase {
    const char* File;
    const char* Label;
};

class ExecutableKinds : public ::testing::TestWithParam<KindCase> {};

TEST_P(ExecutableKinds, Label)
{
    EXPECT_EQ(GetBinaryTypeText(PeFixture(GetParam().File)), QString::fromLatin1(GetParam().Label));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ExecutableKinds,
                         ::testing::Values(KindCase{"gui.exe", "Win32 Executable"},
                                           KindCase{"console.exe", "Win32 Console Executable"},
                                           KindCase{"console64.exe", "Win32 Console Executable"},
                                           // A 6.0 subsystem is neither 3.x nor 4.0, and GetBinaryType
                                           // gives a 64-bit program no label.
                                           KindCase{"gui64.exe", ""},
                                           KindCase{"posix.exe", "Win32 Console Executable"},
                                           KindCase{"ne-win16.exe", "Win16 Executable"},
                                           KindCase{"ne-os2.exe", "OS/2 16 bit Executable"},
                                           KindCase{"dos.exe", "DOS Executable"},
                                           KindCase{"library.dll", ""},
                                           KindCase{"text.txt", ""}));

TEST(GetFileInfo, TypeNameSizeTimesAndAttributes)
{
    TFileInfo info;
    info.Name = QStringLiteral("kept");
    GetFileInfo(PeFixture("gui.exe"), info, false);
    EXPECT_EQ(info.Name, QStringLiteral("kept"));
    EXPECT_FALSE(info.FileType.isEmpty());
    EXPECT_EQ(info.Size, std::filesystem::file_size(Fixture("pe/gui.exe")));
    EXPECT_GT(info.Modified, EncodeDateTime({2000, 1, 1}));
    EXPECT_EQ(info.BinaryType, QStringLiteral("Win32 Executable"));
    ASSERT_NE(info.IconHandle, nullptr);
    ICONDATA icon{};
    EXPECT_TRUE(GetIconData(info.IconHandle, &icon));
    EXPECT_GT(icon.cbIcon, 0u); // the program's own icon
    DestroyIcon(info.IconHandle);

    TFileInfo missing;
    GetFileInfo(PeFixture("missing.exe"), missing, false);
    EXPECT_TRUE(missing.FileType.isEmpty());
    EXPECT_EQ(missing.Size, 0u);
    EXPECT_EQ(missing.IconHandle, nullptr);
}

TEST(GetFileInfo, SizeOfASparseFileOver4GiB)
{
    TempDir dir;
    const auto path = dir / "large.bin";
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    constexpr off_t Size = (off_t(5) << 30) + 3;
    ASSERT_EQ(ftruncate(fd, Size), 0);
    close(fd);
    TFileInfo info;
    GetFileInfo(QString::fromStdString(path.string()), info, false);
    EXPECT_EQ(info.Size, static_cast<uint64_t>(Size));
    EXPECT_EQ(info.Attributes, FILE_ATTRIBUTE_NORMAL);
}

TEST(IsExecutableFile, FirstTwoBytes)
{
    TempDir dir;
    const auto check = [&](const std::string& content) {
        WriteText(dir / "f", content);
        return IsExecutableFile(QString::fromStdString((dir / "f").string()));
    };
    EXPECT_FALSE(check(""));
    EXPECT_FALSE(check("M"));
    EXPECT_TRUE(check("MZ"));
    EXPECT_TRUE(check("MZ is also how this text begins"));
    EXPECT_FALSE(check("ZM"));
    EXPECT_FALSE(IsExecutableFile(QString::fromStdString((dir / "missing").string())));
    EXPECT_FALSE(IsExecutableFile(QString::fromStdString(dir.path().string())));
}

} // namespace
