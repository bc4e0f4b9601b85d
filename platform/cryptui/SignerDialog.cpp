#include "platform/cryptui/SignerDialog.h"

#include "platform/cryptui/CertificateDialog.h"
#include "platform/cryptui/Text.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace cryptui {

namespace {

constexpr int IndexRole = Qt::UserRole;

QString OrNotAvailable(const QString& text)
{
    return text.isEmpty() ? QStringLiteral("Not available") : text;
}

QLabel* Label(const QString& text, const QString& name = {})
{
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setTextFormat(Qt::PlainText);
    if (!name.isEmpty())
        label->setObjectName(name);
    return label;
}

} // namespace

SignerDialog::SignerDialog(QWidget* parent, SignerInfo signer, const QString& title)
    : QDialog(parent), FSigner(std::move(signer))
{
    setObjectName(QStringLiteral("signerDialog"));
    setWindowTitle(title.isEmpty() ? QStringLiteral("Digital Signature Details") : title);
    setModal(true);

    auto* tabs = new QTabWidget;
    tabs->setObjectName(QStringLiteral("pages"));
    tabs->addTab(GeneralPage(), QStringLiteral("General"));
    tabs->addTab(AdvancedPage(), QStringLiteral("Advanced"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(buttons);
    resize(480, 520);
}

QWidget* SignerDialog::GeneralPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("generalPage"));
    auto* layout = new QVBoxLayout(page);

    QLabel* heading = Label(QStringLiteral("Digital Signature Information"));
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    layout->addWidget(heading);
    layout->addWidget(Label(FSigner.StatusText(), QStringLiteral("signatureStatus")));

    auto* signerBox = new QGroupBox(QStringLiteral("Signer information"));
    auto* grid = new QGridLayout(signerBox);
    grid->addWidget(Label(QStringLiteral("Name:")), 0, 0);
    grid->addWidget(Label(OrNotAvailable(FSigner.Name()), QStringLiteral("signerName")), 0, 1);
    grid->addWidget(Label(QStringLiteral("E-mail:")), 1, 0);
    grid->addWidget(Label(OrNotAvailable(FSigner.Email()), QStringLiteral("signerEmail")), 1, 1);
    grid->addWidget(Label(QStringLiteral("Signing time:")), 2, 0);
    grid->addWidget(Label(FSigner.SigningTime() ? LongDateTime(*FSigner.SigningTime()) : OrNotAvailable({}),
                          QStringLiteral("signingTime")), 2, 1);
    grid->addWidget(Label(QStringLiteral("Digest algorithm:")), 3, 0);
    grid->addWidget(Label(OrNotAvailable(FSigner.DigestAlgorithm()), QStringLiteral("digestAlgorithm")), 3, 1);
    grid->setColumnStretch(1, 1);
    auto* view = new QPushButton(QStringLiteral("View Certificate"));
    view->setObjectName(QStringLiteral("viewCertificate"));
    view->setEnabled(!FSigner.CertificateDer().empty());
    connect(view, &QPushButton::clicked, this, [this] { ViewCertificate(); });
    grid->addWidget(view, 4, 1, Qt::AlignRight);
    layout->addWidget(signerBox);

    // The chain as the trust service judged it, when it came with the signer.
    if (const auto& judged = FSigner.JudgedChain()) {
        auto* pathBox = new QGroupBox(QStringLiteral("Certification path"));
        auto* pathLayout = new QVBoxLayout(pathBox);
        pathLayout->addWidget(Label(FSigner.JudgedAt() ? QStringLiteral("Judged at: %1").arg(LongDateTime(*FSigner.JudgedAt()))
                                                       : QStringLiteral("Judged at: Not available"),
                                    QStringLiteral("judgedAt")));
        auto* path = new QTreeWidget;
        path->setObjectName(QStringLiteral("judgedChain"));
        path->setHeaderLabels({QStringLiteral("Certificate"), QStringLiteral("Status")});
        path->setRootIsDecorated(false);
        path->setWordWrap(true);
        for (const ChainElement& element : judged->Elements) {
            // The first sentence beside the name; the whole account as the tip.
            const QString status = element.StatusText.section(u'\n', 0, 0);
            auto* item = new QTreeWidgetItem(path, {element.Name, status});
            item->setToolTip(0, element.StatusText);
            item->setToolTip(1, element.StatusText);
        }
        path->resizeColumnToContents(0);
        pathLayout->addWidget(path);
        layout->addWidget(pathBox, 1);
    }

    auto* counterBox = new QGroupBox(QStringLiteral("Countersignatures"));
    auto* counterLayout = new QVBoxLayout(counterBox);
    FCounterSigners = new QTreeWidget;
    FCounterSigners->setObjectName(QStringLiteral("counterSigners"));
    FCounterSigners->setHeaderLabels({QStringLiteral("Name of signer"), QStringLiteral("E-mail address"), QStringLiteral("Timestamp")});
    FCounterSigners->setRootIsDecorated(false);
    const auto& counters = FSigner.CounterSigners();
    for (size_t i = 0; i < counters.size(); ++i) {
        const CounterSigner& counter = counters[i];
        auto* item = new QTreeWidgetItem(FCounterSigners, {OrNotAvailable(counter.Name), OrNotAvailable(counter.Email),
                                                           counter.Time ? LongDateTime(*counter.Time) : OrNotAvailable({})});
        item->setData(0, IndexRole, static_cast<qulonglong>(i));
        item->setToolTip(0, counter.Kind == CounterSignatureKind::Rfc3161 ? QStringLiteral("RFC 3161 time stamp")
                                                                          : QStringLiteral("Counter-signature"));
    }
    for (int column = 0; column < FCounterSigners->columnCount(); ++column)
        FCounterSigners->resizeColumnToContents(column);
    counterLayout->addWidget(FCounterSigners);
    FCounterDetails = new QPushButton(QStringLiteral("Details"));
    FCounterDetails->setObjectName(QStringLiteral("counterSignerDetails"));
    FCounterDetails->setEnabled(false);
    counterLayout->addWidget(FCounterDetails, 0, Qt::AlignRight);
    connect(FCounterSigners, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { FCounterDetails->setEnabled(current != nullptr); });
    connect(FCounterDetails, &QPushButton::clicked, this, [this] { ViewCounterSigner(); });
    if (FCounterSigners->topLevelItemCount() > 0)
        FCounterSigners->setCurrentItem(FCounterSigners->topLevelItem(0));
    layout->addWidget(counterBox, 1);
    return page;
}

QWidget* SignerDialog::AdvancedPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("advancedPage"));
    auto* layout = new QVBoxLayout(page);
    FFields = new QTreeWidget;
    FFields->setObjectName(QStringLiteral("signerFields"));
    FFields->setHeaderLabels({QStringLiteral("Field"), QStringLiteral("Value")});
    FFields->setRootIsDecorated(false);
    FFields->header()->resizeSection(0, 170);
    const Fields& fields = FSigner.Details();
    for (size_t i = 0; i < fields.size(); ++i) {
        auto* item = new QTreeWidgetItem(FFields, {fields[i].Name, fields[i].Value});
        item->setData(0, IndexRole, static_cast<qulonglong>(i));
    }
    layout->addWidget(FFields, 3);
    FFieldValue = new QPlainTextEdit;
    FFieldValue->setObjectName(QStringLiteral("signerFieldValue"));
    FFieldValue->setReadOnly(true);
    FFieldValue->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    layout->addWidget(FFieldValue, 2);
    connect(FFields, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
        const Fields& all = FSigner.Details();
        const auto index = current ? current->data(0, IndexRole).toULongLong() : all.size();
        FFieldValue->setPlainText(index < all.size() ? all[index].Detail : QString());
    });
    if (FFields->topLevelItemCount() > 0)
        FFields->setCurrentItem(FFields->topLevelItem(0));
    return page;
}

void SignerDialog::ViewCertificate()
{
    if (FSigner.CertificateDer().empty())
        return;
    auto others = std::make_shared<std::vector<X509Ptr>>();
    for (const X509Ptr& certificate : FSigner.OtherCertificates())
        if (certificate && X509_up_ref(certificate.get()) == 1)
            others->emplace_back(certificate.get());
    CertificateRequest request;
    request.Der = FSigner.CertificateDer();
    request.Others = std::move(others);
    request.Chain = FSigner.JudgedChain();
    ShowCertificateDialog(this, request);
}

void SignerDialog::ViewCounterSigner()
{
    const QTreeWidgetItem* item = FCounterSigners->currentItem();
    const auto& counters = FSigner.CounterSigners();
    const auto index = item ? item->data(0, IndexRole).toULongLong() : counters.size();
    if (index < counters.size())
        ShowSignerDialog(this, counters[index].Source);
}

void ShowSignerDialog(QWidget* parent, std::shared_ptr<const SignerSource> source, const QString& title)
{
    SignerDialog dialog(parent, SignerInfo::Read(std::move(source)), title);
    dialog.exec();
}

} // namespace cryptui
