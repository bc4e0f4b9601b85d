#include "tests/platform/cryptui/CryptUITestSupport.h"

#include "platform/include/win/imagehlp.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstdlib>

namespace cryptuitest {

std::filesystem::path DialogFixture(const std::string& name)
{
    return std::filesystem::path(CRYPTUI_FIXTURES_DIR) / name;
}

std::filesystem::path SharedFixture(const std::string& relative)
{
    return testsupport::Fixture(relative);
}

std::filesystem::path TestRoot()
{
    return SharedFixture("certs/root.pem");
}

std::filesystem::path NoTrust()
{
    return SharedFixture("no-trust.pem");
}

StorePtr OpenFileStore(const std::filesystem::path& path)
{
    const std::u16string name = path.u16string();
    return StorePtr(CertOpenStore(CERT_STORE_PROV_FILENAME_W, cryptui::Encoding, 0, CERT_STORE_READONLY_FLAG, name.c_str()));
}

CertContextPtr FirstCertificate(HCERTSTORE store)
{
    return CertContextPtr(CertEnumCertificatesInStore(store, nullptr));
}

MessagePtr OpenMessage(const std::vector<uint8_t>& der)
{
    MessagePtr message(CryptMsgOpenToDecode(cryptui::Encoding, 0, 0, 0, nullptr, nullptr));
    if (!message || !CryptMsgUpdate(message.get(), der.data(), static_cast<DWORD>(der.size()), TRUE))
        return nullptr;
    return message;
}

cryptui::FlatBuffer SignerInfoOf(HCRYPTMSG message, DWORD index)
{
    cryptui::FlatBuffer buffer;
    EXPECT_TRUE(cryptui::MessageParam(message, CMSG_SIGNER_INFO_PARAM, index, buffer));
    return buffer;
}

std::vector<uint8_t> ExecutableSignature(const std::filesystem::path& path)
{
    const std::u16string name = path.u16string();
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    DWORD length = 0;
    std::vector<uint8_t> entry;
    if (!ImageGetCertificateData(file, 0, nullptr, &length) && length > offsetof(WIN_CERTIFICATE, bCertificate)) {
        entry.resize(length);
        if (!ImageGetCertificateData(file, 0, reinterpret_cast<WIN_CERTIFICATE*>(entry.data()), &length))
            entry.clear();
    }
    CloseHandle(file);
    if (entry.size() <= offsetof(WIN_CERTIFICATE, bCertificate))
        return {};
    return std::vector<uint8_t>(entry.begin() + offsetof(WIN_CERTIFICATE, bCertificate), entry.end());
}

TrustStore::TrustStore(const std::filesystem::path& file)
    : FPrevious(qgetenv("SSL_CERT_FILE")), FHadPrevious(qEnvironmentVariableIsSet("SSL_CERT_FILE"))
{
    qputenv("SSL_CERT_FILE", QByteArray::fromStdString(file.string()));
}

TrustStore::~TrustStore()
{
    if (FHadPrevious)
        qputenv("SSL_CERT_FILE", FPrevious);
    else
        qunsetenv("SSL_CERT_FILE");
}

ModalHandler::ModalHandler(std::function<void(QDialog&)> action, QWidget* outer)
{
    constexpr int IntervalMs = 10;
    constexpr int GiveUpTicks = 1000;
    FTimer.setInterval(IntervalMs);
    QObject::connect(&FTimer, &QTimer::timeout, [this, action = std::move(action), outer] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog == outer || !dialog->isVisible()) {
            if (++FTicks > GiveUpTicks) {
                FTimer.stop();
                ADD_FAILURE() << "no modal dialog opened";
            }
            return;
        }
        FTimer.stop();
        FHandled = true;
        action(*dialog);
        dialog->done(QDialog::Accepted);
    });
    FTimer.start();
}

ModalHandler::~ModalHandler()
{
    FTimer.stop();
}

QString TextOf(const QWidget& dialog, const QString& name)
{
    if (const auto* label = dialog.findChild<QLabel*>(name))
        return label->text();
    if (const auto* edit = dialog.findChild<QPlainTextEdit*>(name))
        return edit->toPlainText();
    if (const auto* line = dialog.findChild<QLineEdit*>(name))
        return line->text();
    ADD_FAILURE() << "no text named " << name.toStdString();
    return {};
}

std::map<QString, QString> Rows(const QTreeWidget& list)
{
    std::map<QString, QString> rows;
    for (int i = 0; i < list.topLevelItemCount(); ++i)
        rows.emplace(list.topLevelItem(i)->text(0), list.topLevelItem(i)->text(1));
    return rows;
}

void Click(QWidget& dialog, const QString& name)
{
    auto* button = dialog.findChild<QPushButton*>(name);
    ASSERT_NE(button, nullptr) << name.toStdString();
    ASSERT_TRUE(button->isEnabled()) << name.toStdString();
    button->click();
}

} // namespace cryptuitest
