// What the properties window shows: the platform's file information for real files, and the
// window built from it.
#include "platform/shell32ui/FileProperties.h"

#include "platform/include/win/shellapi.h"
#include "platform/include/win/winbase.h"
#include "platform/shell32ui/PropertiesWindow.h"
#include "tests/support/QtApplication.h"
#include "tests/support/TestSupport.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

class FilePropertiesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testsupport::Application(); }
};

QString Q(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

QString TypeNameOf(const QString& path)
{
    SHFILEINFOW info{};
    const std::u16string wide = path.toStdU16String();
    if (!SHGetFileInfoW(wide.c_str(), 0, &info, sizeof info, SHGFI_TYPENAME))
        return {};
    return QString::fromUtf16(info.szTypeName);
}

TEST_F(FilePropertiesTest, TellsTheKindOfProgram)
{
    const std::pair<const char*, const char*> cases[] = {
        {"pe/gui.exe", "32-bit Windows program (graphical, Windows 4.0)"},
        {"pe/gui64.exe", "64-bit Windows program (graphical, Windows 6.0)"},
        {"pe/console.exe", "32-bit Windows program (console)"},
        {"pe/dos.exe", "MS-DOS program"},
        {"pe/ne-win16.exe", "16-bit Windows program (graphical, Windows 3.10)"},
        {"pe/library.dll", ""},
        {"pe/text.txt", ""},
    };
    for (const auto& [file, kind] : cases) {
        const auto properties = shell32ui::ReadFileProperties(Q(testsupport::Fixture(file)));
        EXPECT_EQ(properties.ExecutableKind.toStdString(), kind) << file;
    }
}

TEST_F(FilePropertiesTest, ReadsSizeTimesAttributesTypeAndIcon)
{
    const testsupport::TempDir dir;
    const auto path = dir / ".hidden program.exe";
    std::filesystem::copy_file(testsupport::Fixture("pe/gui.exe"), path);
    QFile file(Q(path));
    const QDateTime modified(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::UTC);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(modified, QFileDevice::FileModificationTime));
    file.close();
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);

    const auto properties = shell32ui::ReadFileProperties(Q(path));
    EXPECT_EQ(properties.Name, QStringLiteral(".hidden program.exe"));
    EXPECT_EQ(properties.Folder, Q(dir.path()));
    EXPECT_EQ(properties.Size, std::optional<uint64_t>(std::filesystem::file_size(path)));
    EXPECT_EQ(properties.Modified, modified);
    EXPECT_TRUE(properties.Created);
    EXPECT_TRUE(properties.Accessed);
    ASSERT_TRUE(properties.Attributes);
    EXPECT_TRUE(*properties.Attributes & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(*properties.Attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_FALSE(properties.TypeName.isEmpty());
    EXPECT_EQ(properties.TypeName, TypeNameOf(Q(path)));
    EXPECT_FALSE(properties.Icon.isNull());
    EXPECT_FALSE(properties.IsFolder);
}

TEST_F(FilePropertiesTest, DescribesFoldersWithoutASize)
{
    const testsupport::TempDir dir;
    const auto properties = shell32ui::ReadFileProperties(Q(dir.path()));
    EXPECT_TRUE(properties.IsFolder);
    EXPECT_FALSE(properties.Size);
    ASSERT_TRUE(properties.Attributes);
    EXPECT_TRUE(*properties.Attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(properties.ExecutableKind.isEmpty());
}

TEST_F(FilePropertiesTest, WindowShowsTheProperties)
{
    shell32ui::FileProperties properties;
    properties.Path = QStringLiteral("/data/setup.exe");
    properties.Name = QStringLiteral("setup.exe");
    properties.Folder = QStringLiteral("/data");
    properties.TypeName = QStringLiteral("DOS/Windows executable");
    properties.Size = 3'500'000;
    properties.Modified = QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::UTC);
    properties.Attributes = FILE_ATTRIBUTE_READONLY;
    properties.ExecutableKind = QStringLiteral("32-bit Windows program (console)");
    const shell32ui::PropertiesWindow window(properties);

    const auto text = [&](const char* name) {
        if (const auto* label = window.findChild<QLabel*>(QString::fromLatin1(name)))
            return label->text();
        if (const auto* line = window.findChild<QLineEdit*>(QString::fromLatin1(name)))
            return line->text();
        ADD_FAILURE() << name;
        return QString();
    };
    EXPECT_EQ(window.windowTitle(), QStringLiteral("setup.exe Properties"));
    EXPECT_EQ(text("name"), QStringLiteral("setup.exe"));
    EXPECT_EQ(text("typeName"), QStringLiteral("DOS/Windows executable"));
    EXPECT_EQ(text("location"), QStringLiteral("/data"));
    EXPECT_EQ(text("executableKind"), QStringLiteral("32-bit Windows program (console)"));
    // Bytes exactly (in the user's locale's digits), and in a unit a person reads.
    EXPECT_TRUE(text("size").contains(QStringLiteral("(%1 bytes)").arg(QLocale().toString(3'500'000))))
        << text("size").toStdString();
    EXPECT_TRUE(text("size").contains(QStringLiteral("MiB")) || text("size").contains(QStringLiteral("MB")))
        << text("size").toStdString();
    EXPECT_TRUE(text("modified").contains(QStringLiteral("2021"))) << text("modified").toStdString();
    EXPECT_EQ(text("created"), QStringLiteral("Unknown"));
    EXPECT_TRUE(window.findChild<QCheckBox*>(QStringLiteral("readOnly"))->isChecked());
    EXPECT_FALSE(window.findChild<QCheckBox*>(QStringLiteral("hidden"))->isChecked());
    EXPECT_FALSE(window.testAttribute(Qt::WA_QuitOnClose));
    EXPECT_TRUE(window.isWindow());
}

} // namespace
