#include "platform/shell32ui/PropertiesWindow.h"

#include "platform/common/WinStr.h"
#include "platform/include/win/winbase.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QTabWidget>
#include <QVBoxLayout>

namespace shell32ui {

namespace {

constexpr int IconSize = 32;

QLabel* Value(const QString& text, const QString& name)
{
    auto* label = new QLabel(text);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    return label;
}

QFrame* Line()
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QString TimeText(const std::optional<QDateTime>& time)
{
    if (!time)
        return QStringLiteral("Unknown");
    const QDateTime local = time->toLocalTime();
    const QLocale locale;
    return locale.toString(local.date(), QLocale::LongFormat) + QStringLiteral(", ") +
           locale.toString(local.time(), QLocale::ShortFormat);
}

class GridRows {
public:
    GridRows(QGridLayout* grid, int firstRow) : FGrid(grid), FRow(firstRow) {}
    void Add(const QString& caption, QWidget* value)
    {
        FGrid->addWidget(new QLabel(caption), FRow, 0, Qt::AlignTop);
        FGrid->addWidget(value, FRow, 1);
        ++FRow;
    }
    void AddLine()
    {
        FGrid->addWidget(Line(), FRow, 0, 1, 2);
        ++FRow;
    }

private:
    QGridLayout* FGrid;
    int FRow;
};

// A name's bytes that are not UTF-8 shown as U+FFFD.
QString Displayed(const QString& name)
{
    const std::u16string shown =
        winstr::ForDisplay(std::u16string_view(reinterpret_cast<const char16_t*>(name.utf16()), static_cast<size_t>(name.size())));
    return QString::fromUtf16(shown.data(), static_cast<qsizetype>(shown.size()));
}

} // namespace

PropertiesWindow::PropertiesWindow(const FileProperties& properties) : QWidget(nullptr, Qt::Window)
{
    setObjectName(QStringLiteral("filePropertiesWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    // The program ends when its own window closes, and the properties windows with it.
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("%1 Properties").arg(Displayed(properties.Name)));
    if (!properties.Icon.isNull())
        setWindowIcon(properties.Icon);

    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("generalPage"));
    auto* grid = new QGridLayout(page);

    auto* icon = new QLabel;
    icon->setObjectName(QStringLiteral("icon"));
    icon->setFixedSize(IconSize, IconSize);
    if (!properties.Icon.isNull())
        icon->setPixmap(properties.Icon.pixmap(IconSize, IconSize));
    auto* name = new QLineEdit(Displayed(properties.Name));
    name->setObjectName(QStringLiteral("name"));
    name->setReadOnly(true);
    grid->addWidget(icon, 0, 0);
    grid->addWidget(name, 0, 1);
    GridRows rows(grid, 1);
    rows.AddLine();

    const QString type = properties.IsFolder && properties.TypeName.isEmpty() ? QStringLiteral("Folder") : properties.TypeName;
    rows.Add(QStringLiteral("Type of file:"), Value(type, QStringLiteral("typeName")));
    if (!properties.ExecutableKind.isEmpty())
        rows.Add(QStringLiteral("Executable:"), Value(properties.ExecutableKind, QStringLiteral("executableKind")));
    rows.Add(QStringLiteral("Location:"), Value(Displayed(properties.Folder), QStringLiteral("location")));
    if (properties.Size)
        rows.Add(QStringLiteral("Size:"), Value(SizeText(*properties.Size), QStringLiteral("size")));
    rows.AddLine();
    rows.Add(QStringLiteral("Created:"), Value(TimeText(properties.Created), QStringLiteral("created")));
    rows.Add(QStringLiteral("Modified:"), Value(TimeText(properties.Modified), QStringLiteral("modified")));
    rows.Add(QStringLiteral("Accessed:"), Value(TimeText(properties.Accessed), QStringLiteral("accessed")));
    rows.AddLine();

    auto* attributes = new QWidget;
    auto* attributeRow = new QHBoxLayout(attributes);
    attributeRow->setContentsMargins(0, 0, 0, 0);
    const DWORD bits = properties.Attributes.value_or(0);
    auto* readOnly = new QCheckBox(QStringLiteral("Read-only"));
    readOnly->setObjectName(QStringLiteral("readOnly"));
    readOnly->setChecked(bits & FILE_ATTRIBUTE_READONLY);
    auto* hidden = new QCheckBox(QStringLiteral("Hidden"));
    hidden->setObjectName(QStringLiteral("hidden"));
    hidden->setChecked(bits & FILE_ATTRIBUTE_HIDDEN);
    // What the file system says; changing it is not this window's business.
    readOnly->setEnabled(false);
    hidden->setEnabled(false);
    attributeRow->addWidget(readOnly);
    attributeRow->addWidget(hidden);
    attributeRow->addStretch(1);
    rows.Add(QStringLiteral("Attributes:"), attributes);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(grid->rowCount(), 1);

    auto* tabs = new QTabWidget;
    tabs->addTab(page, QStringLiteral("General"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QWidget::close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(buttons);
    resize(380, 460);
}

void ShowPropertiesWindow(const QString& absolutePath, QWidget* near)
{
    auto* window = new PropertiesWindow(ReadFileProperties(absolutePath));
    if (near) {
        const QRect area = near->frameGeometry();
        window->move(area.center() - window->rect().center());
    }
    window->show();
}

} // namespace shell32ui
