// The certificate dialog: General, Details and Certification Path pages, as the Windows
// certificate dialog has them.
#pragma once

#include "platform/cryptui/CertificateChain.h"
#include "platform/cryptui/CertificateInfo.h"
#include "platform/cryptui/Crypto.h"

#include <QDialog>
#include <QString>

#include <memory>
#include <span>
#include <vector>

class QComboBox;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace cryptui {

// Pages that can be left out (CRYPTUI_VIEWCERTIFICATE_STRUCTW::dwFlags).
inline constexpr DWORD HideHierarchyPage = 0x1; // CRYPTUI_HIDE_HIERARCHYPAGE
inline constexpr DWORD HideDetailPage = 0x2;    // CRYPTUI_HIDE_DETAILPAGE

using SharedCertificates = std::shared_ptr<const std::vector<X509Ptr>>;

struct CertificateRequest {
    std::span<const uint8_t> Der;
    SharedCertificates Others; // candidates for the certification path
    QString Title;             // empty: "Certificate"
    QString FriendlyName;
    DWORD Flags = 0;
    DWORD StartPage = 0;
    // The certification path as the trust service judged it; built anew when null.
    std::shared_ptr<const CertificateChain> Chain;
};

class CertificateDialog : public QDialog {
public:
    CertificateDialog(QWidget* parent, CertificateInfo info, const CertificateRequest& request);

private:
    QWidget* GeneralPage();
    QWidget* DetailsPage();
    QWidget* PathPage();
    void ShowDetails(int filter);
    void ShowSelectedField();
    void ShowSelectedPathElement();
    void ViewSelectedPathElement();

    CertificateInfo FInfo;
    SharedCertificates FOthers;
    std::shared_ptr<const CertificateChain> FChain;
    QComboBox* FShow = nullptr;
    QTreeWidget* FDetails = nullptr;
    QPlainTextEdit* FDetailValue = nullptr;
    QTreeWidget* FPath = nullptr;
    QPlainTextEdit* FPathStatus = nullptr;
    QPushButton* FViewCertificate = nullptr;
};

// Shows the certificate modally and returns when the dialog is closed; false (and nothing shown)
// when the bytes are not a certificate.
bool ShowCertificateDialog(QWidget* parent, const CertificateRequest& request);

} // namespace cryptui
