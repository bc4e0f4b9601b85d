// Icon handles as Qt icons: every image of a PE's icon group, theme icons, and handles that are none.
#include "platform/shell32ui/IconImage.h"

#include "tests/support/QtApplication.h"
#include "tests/support/TestSupport.h"

#include <QList>
#include <QSize>

#include <gtest/gtest.h>

#include <string>

namespace {

class IconImageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testsupport::Application(); }
};

std::u16string Path(const std::string& relative)
{
    return testsupport::Fixture(relative).u16string();
}

TEST_F(IconImageTest, GivesEveryImageOfAnIconGroup)
{
    struct Case {
        UINT Index;
        QList<QSize> Sizes;
    };
    // gui.exe: MAINICON with 16 and 32 pixel images, group 7 with a 16 pixel image.
    for (const Case& c : {Case{0, {QSize(16, 16), QSize(32, 32)}}, Case{1, {QSize(16, 16)}}}) {
        const HICON handle = ExtractIconW(nullptr, Path("pe/gui.exe").c_str(), c.Index);
        ASSERT_NE(handle, nullptr);
        const QIcon icon = shell32ui::IconFromHandle(handle);
        QList<QSize> sizes = icon.availableSizes();
        std::sort(sizes.begin(), sizes.end(), [](QSize a, QSize b) { return a.width() < b.width(); });
        EXPECT_EQ(sizes, c.Sizes) << c.Index;
        EXPECT_FALSE(icon.pixmap(16, 16).toImage().isNull());
        // The handle stays the caller's.
        EXPECT_TRUE(DestroyIcon(handle));
    }
}

TEST_F(IconImageTest, GivesAThemeIconForOtherFiles)
{
    std::u16string path = Path("pe/text.txt");
    WORD index = 0;
    const HICON handle = ExtractAssociatedIconW(nullptr, path.data(), &index);
    ASSERT_NE(handle, nullptr);
    ICONDATA data{};
    ASSERT_TRUE(GetIconData(handle, &data));
    ASSERT_NE(data.pszThemeName, nullptr);
    const QIcon icon = shell32ui::IconFromHandle(handle);
    EXPECT_FALSE(icon.isNull());
    EXPECT_FALSE(icon.pixmap(32, 32).isNull());
    DestroyIcon(handle);
}

TEST_F(IconImageTest, GivesNothingForHandlesThatAreNoIcons)
{
    EXPECT_TRUE(shell32ui::IconFromHandle(nullptr).isNull());
    int notAnIcon = 0;
    EXPECT_TRUE(shell32ui::IconFromHandle(reinterpret_cast<HICON>(&notAnIcon)).isNull());
    const HICON destroyed = ExtractIconW(nullptr, Path("pe/gui.exe").c_str(), 0);
    ASSERT_NE(destroyed, nullptr);
    DestroyIcon(destroyed);
    EXPECT_TRUE(shell32ui::IconFromHandle(destroyed).isNull());
}

} // namespace
