// ShellExecuteExW "properties" on a private session bus: the file manager gets the file's URI; when
// none answers (no service, an error, silence) our own properties window opens, beside the program's
// window and not under it.
#include "platform/include/win/shellapi.h"

#include "platform/include/win/winbase.h"
#include "tests/platform/shell32ui/FakeFileManager.h"
#include "tests/platform/shell32ui/PrivateBus.h"
#include "tests/support/QtApplication.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QUrl>
#include <QWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

using shell32uitest::FakeFileManager;
using shell32uitest::PrivateBus;

namespace {

class PropertiesVerbTest : public ::testing::Test {
protected:
    // The bus comes first: Qt connects to the session bus named in the environment when it first
    // needs it, and it must never be the desktop's.
    static void SetUpTestSuite()
    {
        BusFolder = std::make_unique<testsupport::TempDir>();
        Bus = std::make_unique<PrivateBus>(BusFolder->path());
        qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray::fromStdString(Bus->Address()));
        testsupport::Application();
    }
    static void TearDownTestSuite()
    {
        Bus.reset();
        BusFolder.reset();
    }

    void SetUp() override
    {
        ASSERT_FALSE(Bus->Address().empty()) << "dbus-daemon did not start";
        // A name with a space and a non-ASCII letter, to see the URI encoded.
        FFile = FFolder / "my gui \xc3\xbc.exe";
        std::filesystem::copy_file(testsupport::Fixture("pe/gui.exe"), FFile);
    }

    void TearDown() override
    {
        for (QWidget* window : PropertiesWindows())
            window->close();
        QApplication::processEvents();
    }

    [[nodiscard]] static QList<QWidget*> PropertiesWindows()
    {
        QList<QWidget*> windows;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->objectName() == QLatin1String("filePropertiesWindow") && widget->isVisible())
                windows.append(widget);
        return windows;
    }

    BOOL ShowProperties(HWND owner = nullptr)
    {
        const std::u16string file = FFile.u16string();
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_INVOKEIDLIST;
        info.hwnd = owner;
        info.lpVerb = u"properties";
        info.lpFile = file.c_str();
        info.nShow = SW_SHOW;
        const BOOL result = ShellExecuteExW(&info);
        if (result) {
            EXPECT_GT(reinterpret_cast<uintptr_t>(info.hInstApp), 32u);
        }
        return result;
    }

    [[nodiscard]] QString Uri() const
    {
        return QUrl::fromLocalFile(QString::fromStdString(FFile.string())).toString(QUrl::FullyEncoded);
    }

    static inline std::unique_ptr<testsupport::TempDir> BusFolder;
    static inline std::unique_ptr<PrivateBus> Bus;
    testsupport::TempDir FFolderOwner;
    const std::filesystem::path& FFolder = FFolderOwner.path();
    std::filesystem::path FFile;
};

QString LabelText(const QWidget& window, const char* name)
{
    const auto* label = window.findChild<QLabel*>(QString::fromLatin1(name));
    return label ? label->text() : QString();
}

TEST_F(PropertiesVerbTest, AsksTheFileManagerWithTheFilesUri)
{
    const FakeFileManager fileManager(QString::fromStdString(Bus->Address()), FakeFileManager::Answer::Reply);
    ASSERT_TRUE(fileManager.Registered());
    EXPECT_TRUE(ShowProperties());
    const auto calls = fileManager.Calls();
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls.front().Uris, QStringList{Uri()});
    EXPECT_TRUE(Uri().endsWith(QStringLiteral("/my%20gui%20%C3%BC.exe"))) << Uri().toStdString();
    // The file manager shows them: no window of ours.
    EXPECT_TRUE(PropertiesWindows().isEmpty());
}

TEST_F(PropertiesVerbTest, OpensItsOwnWindowWhenNoFileManagerAnswers)
{
    struct Case {
        const char* Name;
        bool Service;
        FakeFileManager::Answer Answer;
    };
    const Case cases[] = {
        {"no file manager", false, FakeFileManager::Answer::Reply},
        {"an error", true, FakeFileManager::Answer::Error},
        {"no answer in time", true, FakeFileManager::Answer::Silence},
    };
    const auto size = std::filesystem::file_size(FFile);
    SHFILEINFOW type{};
    const std::u16string file = FFile.u16string();
    ASSERT_TRUE(SHGetFileInfoW(file.c_str(), 0, &type, sizeof type, SHGFI_TYPENAME));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::unique_ptr<FakeFileManager> fileManager;
        if (c.Service) {
            fileManager = std::make_unique<FakeFileManager>(QString::fromStdString(Bus->Address()), c.Answer);
            ASSERT_TRUE(fileManager->Registered());
        }
        EXPECT_TRUE(ShowProperties());
        if (fileManager) {
            EXPECT_EQ(fileManager->Calls().size(), 1);
        }

        // The call has returned and the window is still open: it is not modal.
        const QList<QWidget*> windows = PropertiesWindows();
        ASSERT_EQ(windows.size(), 1);
        const QWidget& window = *windows.front();
        EXPECT_FALSE(window.isModal());
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        EXPECT_TRUE(LabelText(window, "size").contains(QStringLiteral("(%1 bytes)").arg(QLocale().toString(static_cast<qulonglong>(size)))))
            << LabelText(window, "size").toStdString();
        EXPECT_EQ(LabelText(window, "typeName"), QString::fromUtf16(type.szTypeName));
        EXPECT_FALSE(LabelText(window, "typeName").isEmpty());
        EXPECT_EQ(LabelText(window, "executableKind"), QStringLiteral("32-bit Windows program (graphical, Windows 4.0)"));
        windows.front()->close();
        QApplication::processEvents();
    }
}

TEST_F(PropertiesVerbTest, OwnWindowsStayOpenBesideTheProgramsWindow)
{
    auto program = std::make_unique<QWidget>();
    program->show();
    const HWND owner = reinterpret_cast<HWND>(program.get());
    EXPECT_TRUE(ShowProperties(owner));
    EXPECT_TRUE(ShowProperties(owner));
    QList<QWidget*> windows = PropertiesWindows();
    ASSERT_EQ(windows.size(), 2);
    for (QWidget* window : windows) {
        EXPECT_EQ(window->parentWidget(), nullptr);
        EXPECT_TRUE(window->isWindow());
        // Closing the program's window ends the program, and these windows with it.
        EXPECT_FALSE(window->testAttribute(Qt::WA_QuitOnClose));
    }
    program->close();
    program.reset();
    QApplication::processEvents();
    EXPECT_EQ(PropertiesWindows().size(), 2);
}

} // namespace
