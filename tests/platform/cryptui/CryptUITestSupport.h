// Shared by the dialog tests: fixtures as crypt32 objects, the trust store, and a hand for the modal
// dialogs that the calls under test run.
#pragma once

#include "platform/cryptui/Crypto.h"

#include <QDialog>
#include <QString>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

class QTreeWidget;

namespace cryptuitest {

using cryptui::CertContextPtr;
using cryptui::MessagePtr;
using cryptui::StorePtr;

// A file of this folder's fixtures, or of tests/fixtures (certs/..., pe/...).
[[nodiscard]] std::filesystem::path DialogFixture(const std::string& name);
[[nodiscard]] std::filesystem::path SharedFixture(const std::string& relative);

[[nodiscard]] StorePtr OpenFileStore(const std::filesystem::path& path);
// The store's first certificate (a context of its own).
[[nodiscard]] CertContextPtr FirstCertificate(HCERTSTORE store);
[[nodiscard]] MessagePtr OpenMessage(const std::vector<uint8_t>& der);
// The signer information of a message's signer.
[[nodiscard]] cryptui::FlatBuffer SignerInfoOf(HCRYPTMSG message, DWORD index = 0);
// The PKCS #7 SignedData of a signed executable's first certificate-table entry, through imagehlp.
[[nodiscard]] std::vector<uint8_t> ExecutableSignature(const std::filesystem::path& path);

// While alive, OpenSSL's default trust store is exactly this file (an empty one when none is given).
class TrustStore {
public:
    explicit TrustStore(const std::filesystem::path& file);
    ~TrustStore();
    TrustStore(const TrustStore&) = delete;
    TrustStore& operator=(const TrustStore&) = delete;

private:
    QByteArray FPrevious;
    bool FHadPrevious;
};
[[nodiscard]] std::filesystem::path TestRoot();
[[nodiscard]] std::filesystem::path NoTrust();

// Handles the next modal dialog that opens (other than `outer`): runs the action on it, then closes
// it. The test fails when none opens within a few seconds.
class ModalHandler {
public:
    explicit ModalHandler(std::function<void(QDialog&)> action, QWidget* outer = nullptr);
    ~ModalHandler();
    ModalHandler(const ModalHandler&) = delete;
    ModalHandler& operator=(const ModalHandler&) = delete;
    [[nodiscard]] bool Handled() const { return FHandled; }

private:
    QTimer FTimer;
    int FTicks = 0;
    bool FHandled = false;
};

// The text of a label or text box of a dialog, found by object name.
[[nodiscard]] QString TextOf(const QWidget& dialog, const QString& name);
// Field name -> value of a two-column list; the first row of each name.
[[nodiscard]] std::map<QString, QString> Rows(const QTreeWidget& list);
// Clicks a push button of the dialog, found by object name.
void Click(QWidget& dialog, const QString& name);

} // namespace cryptuitest
