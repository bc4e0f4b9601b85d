#include "app/PwdDlg.h"

#include "layout/Anchors.h"
#include "layout/FramePlacement.h"

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>

namespace {

constexpr int MaxPasswordLength = 50;

// An eye, crossed out when the text is hidden.
QIcon EyeGlyph(bool crossed)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(0x30, 0x30, 0x30);
    p.setPen(QPen(ink, 2.5));
    QPainterPath lid;
    lid.moveTo(3, 16);
    lid.quadTo(16, 3, 29, 16);
    lid.quadTo(16, 29, 3, 16);
    p.drawPath(lid);
    p.setBrush(ink);
    p.drawEllipse(QPointF(16, 16), 4.5, 4.5);
    if (crossed) {
        p.setPen(QPen(Qt::white, 6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(6, 26), QPointF(26, 6));
        p.setPen(QPen(ink, 2.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(6, 26), QPointF(26, 6));
    }
    return QIcon(pixmap);
}

} // namespace

QIcon HiddenTextGlyph()
{
    return EyeGlyph(true);
}

QIcon ShownTextGlyph()
{
    return EyeGlyph(false);
}

TdlgPwd::TdlgPwd(QWidget* owner) : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Certificate"));
    QFont font(QStringLiteral("Tahoma"));
    TAnchorLayout layout(this, QSize(356, 93));
    font.setPixelSize(layout.Scale(11));
    setFont(font);

    Label6 = new QLabel(QStringLiteral("Password:"), this);
    Label6->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    ePwd1 = new QLineEdit(this);
    ePwd1->setMaxLength(MaxPasswordLength);
    ePwd1->setEchoMode(QLineEdit::Password);
    ePwd1->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    ePwd1RightButton = ePwd1->addAction(HiddenTextGlyph(), QLineEdit::TrailingPosition);
    connect(ePwd1RightButton, &QAction::triggered, this, [this] { ePwdRightButtonClick(); });

    Panel1 = new QFrame(this);
    Panel1->setFrameShape(QFrame::NoFrame);
    auto* bevel = new QFrame(Panel1);
    bevel->setFrameShape(QFrame::HLine);
    bevel->setFrameShadow(QFrame::Sunken);
    bCancel = new QPushButton(QStringLiteral("Cancel"), Panel1);
    bOK = new QPushButton(QStringLiteral("OK"), Panel1);
    for (QPushButton* b : {bCancel, bOK})
        b->setCursor(Qt::PointingHandCursor);
    bOK->setDefault(true);
    connect(bOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);

    layout.PlaceGrowing(Label6, {63, 19, 50, 13}, akLeft | akTop, true);
    layout.Place(ePwd1, {115, 16, 219, 21}, akLeft | akTop);
    layout.Place(Panel1, {0, 52, 356, 41}, akLeft | akTop);
    TAnchorLayout panelLayout(Panel1, QSize(356, 41));
    panelLayout.Place(bevel, {0, 0, 356, 2}, akLeft | akTop | akRight);
    panelLayout.Place(bCancel, {275, 8, 75, 25}, akTop | akRight);
    panelLayout.Place(bOK, {200, 8, 75, 25}, akTop | akRight);
    setFixedSize(layout.ScaledClientSize());
    layout.Apply();
    panelLayout.Apply();

    // Tab goes from the field to Cancel before OK.
    setTabOrder(ePwd1, bCancel);
    setTabOrder(bCancel, bOK);
    ePwd1->setFocus();
}

void TdlgPwd::ePwdRightButtonClick()
{
    if (ePwd1->echoMode() == QLineEdit::Password) {
        ePwd1->setEchoMode(QLineEdit::Normal);
        ePwd1RightButton->setIcon(ShownTextGlyph());
    } else {
        ePwd1->setEchoMode(QLineEdit::Password);
        ePwd1RightButton->setIcon(HiddenTextGlyph());
    }
}

void TdlgPwd::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    // Centred on the main window, frame on frame.
    if (const QWidget* owner = parentWidget()) {
        frameplacement::PlaceByFrame(this, [this, owner = QPointer<const QWidget>(owner->window())] {
            if (!owner)
                return;
            const QRect area = owner->frameGeometry();
            move(area.left() + (area.width() - frameGeometry().width()) / 2,
                 area.top() + (area.height() - frameGeometry().height()) / 2);
        });
    }
    ePwd1->setFocus();
}

bool PromptPassword(QWidget* owner, QString& password)
{
    password.clear();
    TdlgPwd dialog(owner);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    password = dialog.ePwd1->text();
    return true;
}
