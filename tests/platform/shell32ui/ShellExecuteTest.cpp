// ShellExecuteExW's "open" through the desktop's opener, the verbs it has no association for and
// the calls it refuses. ("properties" is tested on a private bus: shell32ui_dbus_test.)
#include "platform/include/win/shellapi.h"

#include "platform/include/win/winbase.h"
#include "tests/support/QtApplication.h"
#include "tests/support/TestSupport.h"

#include <QDesktopServices>
#include <QObject>
#include <QUrl>

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr DWORD ErrorNoAssociation = 1155;
constexpr uintptr_t SeErrFileNotFound = 2;
constexpr uintptr_t SeErrNoAssociation = 31;

} // namespace

// Stands in for the desktop's opener of local files.
class Opener : public QObject {
    Q_OBJECT
public:
    QList<QUrl> Opened;
public slots:
    void open(const QUrl& url) { Opened.append(url); }
};

namespace {

class ShellExecuteTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testsupport::Application(); }
    void SetUp() override { QDesktopServices::setUrlHandler(QStringLiteral("file"), &FOpener, "open"); }
    void TearDown() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

    [[nodiscard]] static SHELLEXECUTEINFOW Info(LPCWSTR verb, LPCWSTR file)
    {
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_INVOKEIDLIST;
        info.lpVerb = verb;
        info.lpFile = file;
        info.nShow = SW_SHOW;
        return info;
    }

    Opener FOpener;
};

TEST_F(ShellExecuteTest, OpensTheFileWithTheDesktopsOpener)
{
    const testsupport::TempDir dir;
    const auto path = dir / "report file.txt";
    testsupport::WriteText(path, "text\n");
    const std::u16string file = path.u16string();
    const std::u16string folder = dir.path().u16string();
    const std::u16string name = u"report file.txt";

    struct Case {
        LPCWSTR Verb;
        LPCWSTR File;
        LPCWSTR Directory;
    };
    // "open", no verb (the default verb), any case, and a name relative to lpDirectory.
    const Case cases[] = {{u"open", file.c_str(), nullptr}, {nullptr, file.c_str(), nullptr},
                          {u"Open", file.c_str(), nullptr}, {u"open", name.c_str(), folder.c_str()}};
    for (const Case& c : cases) {
        FOpener.Opened.clear();
        SHELLEXECUTEINFOW info = Info(c.Verb, c.File);
        info.lpDirectory = c.Directory;
        EXPECT_TRUE(ShellExecuteExW(&info));
        EXPECT_GT(reinterpret_cast<uintptr_t>(info.hInstApp), 32u);
        ASSERT_EQ(FOpener.Opened.size(), 1);
        EXPECT_EQ(FOpener.Opened.front(), QUrl::fromLocalFile(QString::fromStdString(path.string())));
    }
}

TEST_F(ShellExecuteTest, HasNoAssociationForOtherVerbs)
{
    const std::u16string file = testsupport::Fixture("pe/gui.exe").u16string();
    for (LPCWSTR verb : {u"edit", u"print", u"runas", u"explore", u"propertiesx"}) {
        SHELLEXECUTEINFOW info = Info(verb, file.c_str());
        SetLastError(0);
        EXPECT_FALSE(ShellExecuteExW(&info));
        EXPECT_EQ(GetLastError(), ErrorNoAssociation);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(info.hInstApp), SeErrNoAssociation);
    }
    EXPECT_TRUE(FOpener.Opened.isEmpty());
}

TEST_F(ShellExecuteTest, RefusesMissingFilesAndBadCalls)
{
    const std::u16string missing = (testsupport::Fixture("pe") / "no such file.exe").u16string();
    for (LPCWSTR verb : {u"open", u"properties"}) {
        for (LPCWSTR file : {missing.c_str(), u"", static_cast<LPCWSTR>(nullptr)}) {
            SHELLEXECUTEINFOW info = Info(verb, file);
            SetLastError(0);
            EXPECT_FALSE(ShellExecuteExW(&info));
            EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(info.hInstApp), SeErrFileNotFound);
        }
    }
    const std::u16string file = testsupport::Fixture("pe/gui.exe").u16string();
    SHELLEXECUTEINFOW info = Info(u"open", file.c_str());
    info.cbSize = sizeof info - 8;
    SetLastError(0);
    EXPECT_FALSE(ShellExecuteExW(&info));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(ShellExecuteExW(nullptr));
    EXPECT_TRUE(FOpener.Opened.isEmpty());
}

} // namespace

#include "ShellExecuteTest.moc"
