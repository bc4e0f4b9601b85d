#include "about/AboutDlg.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

void ShowAbout(QWidget* owner, const QString& productCode, const QString& extraText, TLanguage language)
{
    QDialog dialog(owner);
    dialog.setWindowTitle(language == lngCz ? QStringLiteral("O programu") : QStringLiteral("About"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* icon = new QLabel(&dialog);
    icon->setPixmap(QIcon(QStringLiteral(":/icons/tessera-64.png")).pixmap(64, 64));
    icon->setAlignment(Qt::AlignHCenter);
    layout->addWidget(icon);
    QString text = QStringLiteral("<b>%1</b> %2").arg(QCoreApplication::applicationName(),
                                                       QCoreApplication::applicationVersion());
    text += QString(extraText).replace(QStringLiteral("\r\n"), QStringLiteral("<br>"));
    auto* label = new QLabel(text, &dialog);
    label->setAlignment(Qt::AlignHCenter);
    layout->addWidget(label);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    dialog.exec();
}
