// The password prompt shown before a key container is opened.
#pragma once

#include <QDialog>

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

class TdlgPwd : public QDialog {
public:
    explicit TdlgPwd(QWidget* owner);

    // Toggles between hidden ("*") and shown text.
    void ePwdRightButtonClick();

    QLabel* Label6;
    QLineEdit* ePwd1;
    QAction* ePwd1RightButton;
    QFrame* Panel1;
    QPushButton* bCancel;
    QPushButton* bOK;

protected:
    void showEvent(QShowEvent* event) override;
};

// Asks for the password: true and the entered text (possibly empty) on OK or Enter; false and an
// empty password on Cancel, Esc or the close box.
bool PromptPassword(QWidget* owner, QString& password);

// The reveal button's two glyphs.
[[nodiscard]] QIcon HiddenTextGlyph();
[[nodiscard]] QIcon ShownTextGlyph();
