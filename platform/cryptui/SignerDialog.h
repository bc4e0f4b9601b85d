// The signer dialog ("Digital Signature Details"): the signer, its signing time and
// counter-signers on the General page, every field of the signer information on the Advanced page.
#pragma once

#include "platform/cryptui/SignerInfo.h"

#include <QDialog>
#include <QString>

class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace cryptui {

class SignerDialog : public QDialog {
public:
    SignerDialog(QWidget* parent, SignerInfo signer, const QString& title);

private:
    QWidget* GeneralPage();
    QWidget* AdvancedPage();
    void ViewCertificate();
    void ViewCounterSigner();

    SignerInfo FSigner;
    QTreeWidget* FCounterSigners = nullptr;
    QPushButton* FCounterDetails = nullptr;
    QTreeWidget* FFields = nullptr;
    QPlainTextEdit* FFieldValue = nullptr;
};

// Shows the signer modally and returns when the dialog is closed.
void ShowSignerDialog(QWidget* parent, std::shared_ptr<const SignerSource> source, const QString& title = {});

} // namespace cryptui
