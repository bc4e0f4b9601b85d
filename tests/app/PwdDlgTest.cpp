// The password prompt.
#include "app/PwdDlg.h"
#include "tests/support/QtApplication.h"
#include "tests/support/QtPrinters.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const auto& App = Application();

TEST(PwdDlg, Layout)
{
    TdlgPwd dialog(nullptr);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Certificate"));
    EXPECT_EQ(dialog.size(), QSize(356, 93));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_EQ(dialog.ePwd1->geometry(), QRect(115, 16, 219, 21));
    EXPECT_EQ(dialog.Label6->geometry().right(), 112);
    EXPECT_EQ(dialog.Panel1->geometry(), QRect(0, 52, 356, 41));
    EXPECT_EQ(dialog.bCancel->geometry(), QRect(275, 8, 75, 25));
    EXPECT_EQ(dialog.bOK->geometry(), QRect(200, 8, 75, 25));
    EXPECT_TRUE(dialog.bOK->isDefault());
    EXPECT_EQ(dialog.bOK->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(dialog.bCancel->cursor().shape(), Qt::PointingHandCursor);
    // Tab goes from the field to Cancel before OK.
    const auto nextTabStop = [](QWidget* w) {
        QWidget* next = w->nextInFocusChain();
        while (!(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        return next;
    };
    EXPECT_EQ(nextTabStop(dialog.ePwd1), dialog.bCancel);
    EXPECT_EQ(nextTabStop(dialog.bCancel), dialog.bOK);
}

TEST(PwdDlg, FiftyCharactersMaskedWithStars)
{
    TdlgPwd dialog(nullptr);
    QTest::keyClicks(dialog.ePwd1, QString(51, u'x'));
    EXPECT_EQ(dialog.ePwd1->text(), QString(50, u'x'));
    EXPECT_EQ(dialog.ePwd1->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog.ePwd1->displayText(), QString(50, u'*'));
}

TEST(PwdDlg, RevealButtonTogglesAndReturns)
{
    TdlgPwd dialog(nullptr);
    QTest::keyClicks(dialog.ePwd1, QStringLiteral("abc"));
    const qint64 hiddenGlyph = dialog.ePwd1RightButton->icon().cacheKey();
    dialog.ePwd1RightButton->trigger();
    EXPECT_EQ(dialog.ePwd1->displayText(), QStringLiteral("abc"));
    EXPECT_NE(dialog.ePwd1RightButton->icon().cacheKey(), hiddenGlyph);
    dialog.ePwd1RightButton->trigger();
    EXPECT_EQ(dialog.ePwd1->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog.ePwd1->displayText(), QStringLiteral("***"));
}

struct PromptCase {
    const char* Name;
    const char* Typed;
    int Key; // pressed in the field; 0 = click Cancel
    bool Confirmed;
    const char* Password;
};

class Prompt : public ::testing::TestWithParam<PromptCase> {};

TEST_P(Prompt, Answer)
{
    const PromptCase c = GetParam();
    QTimer::singleShot(0, [c] {
        auto* dialog = static_cast<TdlgPwd*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(dialog->ePwd1->text().isEmpty());
        QTest::keyClicks(dialog->ePwd1, QString::fromLatin1(c.Typed));
        if (c.Key)
            QTest::keyClick(dialog->ePwd1, static_cast<Qt::Key>(c.Key));
        else
            dialog->bCancel->click();
    });
    QString password = QStringLiteral("left over");
    EXPECT_EQ(PromptPassword(nullptr, password), c.Confirmed);
    EXPECT_EQ(password, QString::fromLatin1(c.Password));
}

INSTANTIATE_TEST_SUITE_P(Keys, Prompt,
                         ::testing::Values(PromptCase{"Enter", "secret", Qt::Key_Return, true, "secret"},
                                           PromptCase{"EnterOnEmpty", "", Qt::Key_Return, true, ""},
                                           PromptCase{"Escape", "secret", Qt::Key_Escape, false, ""},
                                           PromptCase{"Cancel", "secret", 0, false, ""}),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
