#include "app/Main.h"

#include "support/ControlText.h"

#include "about/AboutDlg.h"
#include "about/ProgramVersion.h"
#include "app/PwdDlg.h"
#include "cert/KavexCert.h"
#include "cert/KavexWinCrypt.h"
#include "fileinfo/KavexRoutines.h"
#include "fileinfo/KavexShell.h"
#include "platform/include/win/objidl.h"
#include "platform/include/win/shellapi.h"
#include "support/FileName.h"
#include "support/WinString.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>

// The memo as the report sink: lines gather during a batch and are shown at once when it ends.
class TMemoSink final : public IReportSink {
public:
    explicit TMemoSink(QPlainTextEdit* memo) : FMemo(memo) {}

    void Clear() override
    {
        FLines.clear();
        FMemo->clear();
    }
    void BeginBatch() override
    {
        if (FBatch++ == 0)
            FMemo->setUpdatesEnabled(false);
    }
    void EndBatch() override
    {
        if (FBatch > 0 && --FBatch == 0) {
            Show();
            FMemo->setUpdatesEnabled(true);
        }
    }
    void AddLine(const QString& line) override
    {
        // A line is one line, whatever its fields hold.
        FLines.append(WindowVisible(line));
        if (FBatch == 0)
            Show();
    }
    void CaretToTop() override
    {
        FCaretToTop = true;
        if (FBatch == 0)
            Show();
    }
    [[nodiscard]] const QStringList& Lines() const { return FLines; }

private:
    void Show()
    {
        FMemo->setPlainText(FLines.join(u'\n'));
        FMemo->moveCursor(FCaretToTop ? QTextCursor::Start : QTextCursor::End);
        if (FCaretToTop) {
            FMemo->horizontalScrollBar()->setValue(0);
            FMemo->verticalScrollBar()->setValue(0);
        }
        FCaretToTop = false;
    }

    QPlainTextEdit* FMemo;
    QStringList FLines;
    int FBatch = 0;
    bool FCaretToTop = false;
};

// The export's save dialog refuses, and stays open for, a name whose folder does not exist. A name
// typed without extension gets that of the filter chosen, as Windows' save dialog gives it.
class TSaveDialog final : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override
    {
        setDefaultSuffix(FilterExtension(selectedNameFilter()));
        const QStringList files = selectedFiles();
        if (!files.isEmpty()) {
            const QString name = RecoverFileName(files.first());
            const QString folder = name.left(std::max<qsizetype>(name.lastIndexOf(u'/'), 1));
            if (!FolderExists(folder)) {
                QMessageBox::warning(this, windowTitle().isEmpty() ? QStringLiteral("Save As") : windowTitle(),
                                     QStringLiteral("%1\nThe folder does not exist.\nCheck the folder name and try again.")
                                         .arg(DisplayFileName(name)));
                return;
            }
        }
        QFileDialog::accept();
    }
};

QStringList FilterToNameFilters(const QString& filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList nameFilters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(u';');
        // On Windows "*.*" matches every name, with a dot or without; Qt would take it literally.
        for (QString& pattern : patterns)
            if (pattern == u"*.*")
                pattern = QStringLiteral("*");
        nameFilters.append(parts[i] + QStringLiteral(" (") + patterns.join(u' ') + u')');
    }
    return nameFilters;
}

QString FilterExtension(const QString& nameFilter)
{
    const qsizetype open = nameFilter.indexOf(QLatin1String("(*."));
    if (open < 0)
        return {};
    const qsizetype start = open + 3;
    qsizetype end = start;
    while (end < nameFilter.size() && nameFilter[end] != u' ' && nameFilter[end] != u')' && nameFilter[end] != u'*')
        ++end;
    return nameFilter.mid(start, end - start);
}

void ShowException(QWidget* owner, const std::exception& error)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Tessera"), QString::fromUtf8(error.what()),
                    QMessageBox::Ok, owner);
    box.exec();
}

template <typename Handler>
void TwndMain::Handle(Handler&& handler)
{
    try {
        handler();
    } catch (const std::exception& error) {
        ShowException(this, error);
    }
}

// The icons are compiled into this library; a static library registers them itself.
static void InitResources()
{
    Q_INIT_RESOURCE(tessera);
}

TwndMain::TwndMain(const QStringList& arguments, QWidget* parent)
    : TLMForm(parent), FArguments(arguments), FLayout(this, QSize(726, 416))
{
    InitResources();
    setWindowTitle(QStringLiteral("Tessera"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/tessera-256.png")));
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(FLayout.Scale(11));
    setFont(font);

    Label1 = new QLabel(QStringLiteral("File:"), this);
    Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    eFile = new QLineEdit(this);
    eFile->setReadOnly(true);
    QPalette filePalette = eFile->palette();
    filePalette.setColor(QPalette::Base, palette().color(QPalette::Window));
    eFile->setPalette(filePalette);
    bOpen = new QPushButton(QStringLiteral("Open..."), this);
    lType = new QLabel(this);
    QFont bold = font;
    bold.setBold(true);
    lType->setFont(bold);
    Image = new QLabel(this);
    Image->installEventFilter(this);
    Memo = new QPlainTextEdit(this);
    Memo->setReadOnly(true);
    Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    bExport = new QPushButton(QStringLiteral("Export to..."), this);
    bProps = new QPushButton(QStringLiteral("File properties..."), this);
    bView = new QPushButton(QStringLiteral("View certificate..."), this);
    cbxShell = new QCheckBox(QStringLiteral("Shell Integration"), this);
    for (QWidget* w : std::initializer_list<QWidget*>{bOpen, Image, bExport, bProps, bView, cbxShell})
        w->setCursor(Qt::PointingHandCursor);
    for (QPushButton* b : {bExport, bProps, bView})
        b->setEnabled(false);
    // Enter presses the focused button, as on Windows and GTK desktops; Qt gives that to the
    // buttons of dialogs only.
    for (QPushButton* b : {bOpen, bExport, bProps, bView})
        b->setAutoDefault(true);

    FLayout.PlaceGrowing(Label1, {31, 19, 20, 13}, akLeft | akTop, true);
    FLayout.Place(eFile, {60, 16, 562, 21}, akLeft | akTop | akRight);
    FLayout.Place(bOpen, {628, 14, 75, 25}, akTop | akRight);
    FLayout.PlaceGrowing(lType, {60, 47, 0, 13}, akLeft | akTop, false);
    FLayout.Place(Image, {19, 66, 32, 32}, akLeft | akTop);
    FLayout.Place(Memo, {60, 66, 643, 304}, akLeft | akTop | akRight | akBottom);
    FLayout.Place(bExport, {291, 381, 122, 25}, akRight | akBottom);
    FLayout.Place(bProps, {453, 381, 122, 25}, akRight | akBottom);
    FLayout.Place(bView, {581, 381, 122, 25}, akRight | akBottom);
    FLayout.PlaceGrowing(cbxShell, {60, 385, 97, 17}, akLeft | akBottom, false);
    resize(FLayout.ScaledClientSize());
    FLayout.Apply();

    setTabOrder(eFile, bOpen);
    setTabOrder(bOpen, Memo);
    setTabOrder(Memo, bExport);
    setTabOrder(bExport, bProps);
    setTabOrder(bProps, bView);
    setTabOrder(bView, cbxShell);
    for (QWidget* w : std::initializer_list<QWidget*>{Label1, lType, Image})
        w->setFocusPolicy(Qt::NoFocus);
    bOpen->setFocus();

    FMemo = std::make_unique<TMemoSink>(Memo);

    connect(bOpen, &QPushButton::clicked, this, [this] { Handle([this] { bOpenClick(); }); });
    connect(bExport, &QPushButton::clicked, this, [this] { Handle([this] { bExportClick(); }); });
    connect(bView, &QPushButton::clicked, this, [this] { Handle([this] { bViewClick(); }); });
    connect(bProps, &QPushButton::clicked, this, [this] { Handle([this] { bPropsClick(); }); });
    // Clicked by the user only: the box set as a display does not come here.
    connect(cbxShell, &QCheckBox::clicked, this, [this] { Handle([this] { cbxShellClick(); }); });
    SetAcceptFiles(true);
    SetOnDropFiles([this](QObject* sender, const QStringList& files) {
        Handle([&] { FormDropFiles(sender, files); });
    });

    Loaded();
    Handle([this] { FormCreate(); });
}

TwndMain::~TwndMain() = default;

QFileDialog* TwndMain::od()
{
    if (!Fod) {
        Fod = new QFileDialog(this);
        Fod->setFileMode(QFileDialog::ExistingFile);
        Fod->setAcceptMode(QFileDialog::AcceptOpen);
        Fod->setNameFilters(FilterToNameFilters(QString::fromLatin1(OpenDialogFilter)));
    }
    return Fod;
}

QFileDialog* TwndMain::sd()
{
    if (!Fsd) {
        Fsd = new TSaveDialog(this);
        Fsd->setAcceptMode(QFileDialog::AcceptSave);
        Fsd->setFileMode(QFileDialog::AnyFile);
        Fsd->setNameFilters(FilterToNameFilters(QString::fromLatin1(SaveDialogFilter)));
        Fsd->selectNameFilter(Fsd->nameFilters().value(0));
        Fsd->setSizeGripEnabled(true);
    }
    return Fsd;
}

void TwndMain::FormCreate()
{
    Image->setPixmap(QIcon(QStringLiteral(":/icons/tessera-32.png")).pixmap(FLayout.Scale(32), FLayout.Scale(32)));
    // A display of the state only: setting the box does not run its click action.
    cbxShell->setChecked(IsShellVerbRegistered(AllFilesClass, ProgramVersionInfo.ProductName));
    CenterToDesktop();
}

void TwndMain::cbxShellClick()
{
    const QString verb = ProgramVersionInfo.ProductName;
    if (IsAdministrator()) {
        if (cbxShell->isChecked())
            RegisterShellVerb(AllFilesClass, verb, ProgramFilePath());
        else
            UnregisterShellVerb(AllFilesClass, verb);
    } else {
        QMessageBox::warning(this, QStringLiteral("Warning"),
                             QStringLiteral("Run application under administrator rights and try again."));
    }
    // Whatever happened, the box shows what the registry holds now.
    cbxShell->setChecked(IsShellVerbRegistered(AllFilesClass, verb));
}

void TwndMain::FormShow()
{
    // The first argument after the program's own path; further ones are ignored, none is an option.
    // A name relative to the working folder is shown as the full path it stands for.
    if (FArguments.size() > 1)
        OpenFile(AbsoluteFileName(FArguments[1]));
}

void TwndMain::FormDropFiles(QObject* sender, const QStringList& files)
{
    if (!files.isEmpty())
        OpenFile(files.first());
}

void TwndMain::bOpenClick()
{
    // The filter chosen last stays chosen.
    if (od()->exec() == QDialog::Accepted && !od()->selectedFiles().isEmpty())
        OpenFile(RecoverFileName(od()->selectedFiles().first()));
}

void TwndMain::ImageClick()
{
    ShowAbout(this, QStringLiteral("TESSERA"), QStringLiteral("\r\nBased on Corvane."), lngEn);
}

QString TwndMain::ProposedExportName()
{
    const QString& fileName = FFileName;
    const QString extension = ExtractFileExt(fileName);
    return fileName.left(fileName.size() - extension.size()) + u'.' + FilterExtension(sd()->selectedNameFilter());
}

void TwndMain::bExportClick()
{
    const QString proposal = ProposedExportName();
    QFileDialog* const dialog = sd();
    dialog->setDirectory(QFileInfo(proposal).absolutePath());
    dialog->selectFile(QFileInfo(proposal).fileName());
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return;
    const QString target = RecoverFileName(dialog->selectedFiles().first());
    const auto close = [](void* s) { CertCloseStore(s, 0); };
    const std::unique_ptr<void, decltype(close)> store(OpenInspectedFileStore(FFileName, FPwd), close);
    if (!store)
        return;
    // The filter chosen in the dialog decides, whatever the name's extension; nothing is reported.
    if (dialog->nameFilters().indexOf(dialog->selectedNameFilter()) == 1)
        ExportStoreToDerFile(store.get(), target);
    else
        ExportStoreToPemFile(store.get(), target);
}

void TwndMain::bViewClick()
{
    const QString& fileName = FFileName;
    const HWND owner = reinterpret_cast<HWND>(static_cast<QWidget*>(this));
    const QString extension = InspectedExtension(fileName);
    if (StgIsStorageFile(WStr(fileName)) == S_OK || IsExecutableFile(fileName))
        ViewFileSigner(fileName, owner);
    else if (IsListedExtension(extension, CertificateFileExtensions))
        ViewCertificateFile(owner, fileName);
    else if (IsListedExtension(extension, KeyContainerExtensions))
        ViewPfxCertificate(owner, fileName, FPwd);
}

void TwndMain::bPropsClick()
{
    ShowFileProperties(this, FFileName);
}

bool ShowFileProperties(QWidget* ownerWindow, const QString& fileName)
{
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_INVOKEIDLIST;
    info.hwnd = reinterpret_cast<HWND>(ownerWindow);
    info.lpVerb = u"properties";
    info.lpFile = WStr(fileName);
    info.nShow = SW_SHOW;
    return ShellExecuteExW(&info);
}

void TwndMain::OpenFile(const QString& fileName)
{
    InspectFile(fileName, FPwd, *FMemo, *this);
}

QStringList TwndMain::ReportLines() const
{
    return FMemo->Lines();
}

void TwndMain::ShowFileName(const QString& fileName)
{
    FFileName = fileName;
    eFile->setText(DisplayFileName(fileName));
    eFile->setCursorPosition(0);
}

void TwndMain::ShowFileType(const QString& typeName)
{
    lType->setText(typeName);
    FLayout.Apply();
}

void TwndMain::EnablePropertiesCommand(bool enabled)
{
    bProps->setEnabled(enabled);
}

void TwndMain::EnableStoreCommands(bool enabled)
{
    bView->setEnabled(enabled);
    bExport->setEnabled(enabled);
}

bool TwndMain::PromptPassword(QString& password)
{
    return ::PromptPassword(this, password);
}

void TwndMain::showEvent(QShowEvent* event)
{
    TLMForm::showEvent(event);
    if (!event->spontaneous())
        Handle([this] { FormShow(); });
}

void TwndMain::resizeEvent(QResizeEvent* event)
{
    TLMForm::resizeEvent(event);
    FLayout.Apply();
}

bool TwndMain::eventFilter(QObject* watched, QEvent* event)
{
    // A click: pressed on the icon and released over it.
    if (watched == Image && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            return TLMForm::eventFilter(watched, event);
        if (event->type() == QEvent::MouseButtonPress) {
            FImagePressed = true;
            return true;
        }
        const bool clicked = FImagePressed && Image->rect().contains(mouse->position().toPoint());
        FImagePressed = false;
        if (clicked)
            Handle([this] { ImageClick(); });
        return true;
    }
    return TLMForm::eventFilter(watched, event);
}
