#include "platform/cryptui/CertificateDialog.h"

#include "platform/cryptui/Text.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace cryptui {

namespace {

enum DetailFilter { ShowAll, ShowVersion1, ShowExtensions, ShowCritical, ShowProperties };

constexpr int IndexRole = Qt::UserRole;

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

QLabel* BoldLabel(const QString& text)
{
    QLabel* label = Label(text);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

QFrame* Line()
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

bool Shows(const Field& field, int filter)
{
    switch (filter) {
    case ShowVersion1: return field.Kind == FieldKind::Field;
    case ShowExtensions: return field.Kind == FieldKind::Extension;
    case ShowCritical: return field.Kind == FieldKind::Extension && field.Critical;
    case ShowProperties: return field.Kind == FieldKind::Property;
    default: return true;
    }
}

QIcon StatusIcon(CertStatus status)
{
    QStyle* style = QApplication::style();
    return status == CertStatus::Ok ? QIcon() : style->standardIcon(QStyle::SP_MessageBoxWarning);
}

} // namespace

CertificateDialog::CertificateDialog(QWidget* parent, CertificateInfo info, const CertificateRequest& request)
    : QDialog(parent), FInfo(std::move(info)), FOthers(request.Others)
{
    setObjectName(QStringLiteral("certificateDialog"));
    setWindowTitle(request.Title.isEmpty() ? QStringLiteral("Certificate") : request.Title);
    setModal(true);
    static const std::vector<X509Ptr> none;
    FChain = request.Chain ? request.Chain
                           : std::make_shared<const CertificateChain>(BuildChain(FInfo.Certificate(), FOthers ? *FOthers : none));

    auto* tabs = new QTabWidget;
    tabs->setObjectName(QStringLiteral("pages"));
    tabs->addTab(GeneralPage(), QStringLiteral("General"));
    if (!(request.Flags & HideDetailPage))
        tabs->addTab(DetailsPage(), QStringLiteral("Details"));
    if (!(request.Flags & HideHierarchyPage))
        tabs->addTab(PathPage(), QStringLiteral("Certification Path"));
    if (request.StartPage < static_cast<DWORD>(tabs->count()))
        tabs->setCurrentIndex(static_cast<int>(request.StartPage));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(buttons);
    resize(520, 560);
}

QWidget* CertificateDialog::GeneralPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("generalPage"));
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(BoldLabel(QStringLiteral("Certificate Information")));
    layout->addWidget(Line());

    QLabel* status = Label(FChain->StatusText, QStringLiteral("generalStatus"));
    layout->addWidget(status);
    layout->addWidget(Label(QStringLiteral("This certificate is intended for the following purpose(s):")));
    QStringList bullets;
    for (const QString& purpose : FInfo.Purposes())
        bullets.append(QStringLiteral("\u2022 ") + purpose);
    QLabel* purposes = Label(bullets.join(QLatin1Char('\n')), QStringLiteral("purposes"));
    purposes->setIndent(16);
    layout->addWidget(purposes);
    layout->addWidget(Line());

    auto* grid = new QGridLayout;
    grid->addWidget(BoldLabel(QStringLiteral("Issued to:")), 0, 0, Qt::AlignTop);
    grid->addWidget(Label(FInfo.IssuedTo(), QStringLiteral("issuedTo")), 0, 1, 1, 3);
    grid->addWidget(BoldLabel(QStringLiteral("Issued by:")), 1, 0, Qt::AlignTop);
    grid->addWidget(Label(FInfo.IssuedBy(), QStringLiteral("issuedBy")), 1, 1, 1, 3);
    grid->addWidget(BoldLabel(QStringLiteral("Valid from")), 2, 0);
    grid->addWidget(Label(FInfo.ValidFrom() ? ShortDate(*FInfo.ValidFrom()) : QString(), QStringLiteral("validFrom")), 2, 1);
    grid->addWidget(BoldLabel(QStringLiteral("to")), 2, 2);
    grid->addWidget(Label(FInfo.ValidTo() ? ShortDate(*FInfo.ValidTo()) : QString(), QStringLiteral("validTo")), 2, 3);
    grid->setColumnStretch(3, 1);
    grid->setVerticalSpacing(12);
    layout->addLayout(grid);
    layout->addStretch(1);
    return page;
}

QWidget* CertificateDialog::DetailsPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("detailsPage"));
    auto* layout = new QVBoxLayout(page);

    auto* showRow = new QHBoxLayout;
    showRow->addWidget(Label(QStringLiteral("Show:")));
    FShow = new QComboBox;
    FShow->setObjectName(QStringLiteral("detailsShow"));
    FShow->addItems({QStringLiteral("<All>"), QStringLiteral("Version 1 Fields Only"), QStringLiteral("Extensions Only"),
                     QStringLiteral("Critical Extensions Only"), QStringLiteral("Properties Only")});
    showRow->addWidget(FShow, 1);
    layout->addLayout(showRow);

    FDetails = new QTreeWidget;
    FDetails->setObjectName(QStringLiteral("detailsList"));
    FDetails->setHeaderLabels({QStringLiteral("Field"), QStringLiteral("Value")});
    FDetails->setRootIsDecorated(false);
    FDetails->setUniformRowHeights(true);
    FDetails->header()->resizeSection(0, 170);
    layout->addWidget(FDetails, 3);

    FDetailValue = new QPlainTextEdit;
    FDetailValue->setObjectName(QStringLiteral("detailsValue"));
    FDetailValue->setReadOnly(true);
    FDetailValue->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    layout->addWidget(FDetailValue, 2);

    connect(FShow, &QComboBox::currentIndexChanged, this, [this](int filter) { ShowDetails(filter); });
    connect(FDetails, &QTreeWidget::currentItemChanged, this, [this] { ShowSelectedField(); });
    ShowDetails(ShowAll);
    return page;
}

void CertificateDialog::ShowDetails(int filter)
{
    FDetails->clear();
    const Fields& fields = FInfo.Details();
    const QIcon critical = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
    for (size_t i = 0; i < fields.size(); ++i) {
        const Field& field = fields[i];
        if (!Shows(field, filter))
            continue;
        auto* item = new QTreeWidgetItem(FDetails, {field.Name, field.Value});
        item->setData(0, IndexRole, static_cast<qulonglong>(i));
        if (field.Critical) {
            item->setIcon(0, critical);
            item->setToolTip(0, QStringLiteral("Critical extension"));
        }
    }
    if (FDetails->topLevelItemCount() > 0)
        FDetails->setCurrentItem(FDetails->topLevelItem(0));
    else
        FDetailValue->clear();
}

void CertificateDialog::ShowSelectedField()
{
    const QTreeWidgetItem* item = FDetails->currentItem();
    const Fields& fields = FInfo.Details();
    const auto index = item ? item->data(0, IndexRole).toULongLong() : fields.size();
    FDetailValue->setPlainText(index < fields.size() ? fields[index].Detail : QString());
}

QWidget* CertificateDialog::PathPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("pathPage"));
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(Label(QStringLiteral("Certification path")));

    FPath = new QTreeWidget;
    FPath->setObjectName(QStringLiteral("pathTree"));
    FPath->setHeaderHidden(true);
    FPath->setColumnCount(1);
    layout->addWidget(FPath, 3);

    FViewCertificate = new QPushButton(QStringLiteral("View Certificate"));
    FViewCertificate->setObjectName(QStringLiteral("viewCertificate"));
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(FViewCertificate);
    layout->addLayout(buttonRow);

    layout->addWidget(Label(QStringLiteral("Certificate status:")));
    FPathStatus = new QPlainTextEdit;
    FPathStatus->setObjectName(QStringLiteral("pathStatus"));
    FPathStatus->setReadOnly(true);
    FPathStatus->setMaximumHeight(80);
    layout->addWidget(FPathStatus, 1);

    // From the root (or the last certificate found) down to this certificate.
    QTreeWidgetItem* parentItem = nullptr;
    QTreeWidgetItem* own = nullptr;
    for (size_t depth = FChain->Elements.size(); depth-- > 0;) {
        const ChainElement& element = FChain->Elements[depth];
        auto* item = parentItem ? new QTreeWidgetItem(parentItem, {element.Name}) : new QTreeWidgetItem(FPath, {element.Name});
        item->setData(0, IndexRole, static_cast<qulonglong>(depth));
        item->setIcon(0, StatusIcon(element.Status));
        item->setToolTip(0, element.StatusText);
        parentItem = item;
        own = item;
    }
    FPath->expandAll();
    connect(FPath, &QTreeWidget::currentItemChanged, this, [this] { ShowSelectedPathElement(); });
    connect(FViewCertificate, &QPushButton::clicked, this, [this] { ViewSelectedPathElement(); });
    if (own)
        FPath->setCurrentItem(own);
    ShowSelectedPathElement();
    return page;
}

void CertificateDialog::ShowSelectedPathElement()
{
    const QTreeWidgetItem* item = FPath->currentItem();
    const auto depth = item ? item->data(0, IndexRole).toULongLong() : FChain->Elements.size();
    if (depth >= FChain->Elements.size()) {
        FPathStatus->clear();
        FViewCertificate->setEnabled(false);
        return;
    }
    FPathStatus->setPlainText(FChain->Elements[depth].StatusText);
    // The certificate on show needs no further dialog.
    FViewCertificate->setEnabled(depth != 0);
}

void CertificateDialog::ViewSelectedPathElement()
{
    const QTreeWidgetItem* item = FPath->currentItem();
    const auto depth = item ? item->data(0, IndexRole).toULongLong() : 0;
    if (depth == 0 || depth >= FChain->Elements.size())
        return;
    const std::vector<uint8_t> der = DerOf(FChain->Elements[depth].Certificate.get());
    CertificateRequest request;
    request.Der = der;
    request.Others = FOthers;
    ShowCertificateDialog(this, request);
}

bool ShowCertificateDialog(QWidget* parent, const CertificateRequest& request)
{
    auto info = CertificateInfo::Read(request.Der, request.FriendlyName);
    if (!info)
        return false;
    CertificateDialog dialog(parent, std::move(*info), request);
    dialog.exec();
    return true;
}

} // namespace cryptui
