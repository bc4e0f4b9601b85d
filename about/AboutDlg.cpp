#include "about/AboutDlg.h"

#include "about/AboutPictures.h"
#include "about/ProgramVersion.h"
#include "about/UpdateCheck.h"
#include "platform/include/win/shellapi.h"
#include "support/WinString.h"

#include <QApplication>
#include <QFont>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QUrl>
#include <QWindow>

#include <initializer_list>

namespace {

// The run-time texts of one language.
struct TAboutTexts {
    QString Caption;
    QString Version;
    QString CheckFailed;
    QString Latest;
    QString NewVersion; // "%s": the published version
    QString UsageTerms;
    QString Notice;
};

const TAboutTexts& Texts(TLanguage language)
{
    static const TAboutTexts English{
        QStringLiteral("About"),
        QStringLiteral("Version"),
        QStringLiteral("Cannot get update information."),
        QStringLiteral("You use latest version."),
        QStringLiteral("New version %s available. Click here to download it."),
        QStringLiteral("Free software under the Apache License 2.0. Provided as is, without warranty of any kind."),
        QStringLiteral("Tessera shows the certificates and signatures that a file carries and writes what it finds as "
                       "a plain-text report. It reads the files it inspects and never changes them.\r\n"
                       "\r\n"
                       "Tessera is free software under the Apache License, Version 2.0: you may use, change and share "
                       "it on its terms. It is provided as is, without warranty of any kind.\r\n"
                       "\r\n"
                       "Tessera is built with Qt (GNU LGPL version 3), OpenSSL (Apache License 2.0) and libcurl "
                       "(curl license). These components remain the work of their authors and are used under their "
                       "licences.")};
    static const TAboutTexts Czech{
        QStringLiteral("O programu"),
        QStringLiteral("Verze"),
        QStringLiteral("Nelze získat informace o verzi"),
        QStringLiteral("Máte poslední verzi."),
        QStringLiteral("Nová verze %s je k dispozici. Pokud ji chcete stáhnout, klikněte zde."),
        QStringLiteral("Svobodný software pod licencí Apache License 2.0. Poskytováno tak, jak je, bez jakékoli "
                       "záruky."),
        QStringLiteral("Tessera zobrazuje certifikáty a podpisy, které soubor nese, a zjištění vypisuje jako textovou "
                       "zprávu. Zkoumané soubory pouze čte a nikdy je nemění.\r\n"
                       "\r\n"
                       "Tessera je svobodný software pod licencí Apache License, verze 2.0: smíte ji používat, "
                       "upravovat a šířit za jejích podmínek. Je poskytována tak, jak je, bez jakékoli záruky.\r\n"
                       "\r\n"
                       "Tessera je postavena na knihovnách Qt (GNU LGPL verze 3), OpenSSL (Apache License 2.0) "
                       "a libcurl (licence curl). Tyto součásti zůstávají dílem svých autorů a jsou použity podle "
                       "jejich licencí.")};
    return language == lngCz ? Czech : English;
}

// Fills each "%s" of a format with the next argument.
QString Format(const QString& format, std::initializer_list<QString> arguments)
{
    QString text;
    auto argument = arguments.begin();
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format[i] == u'%' && i + 1 < format.size() && format[i + 1] == u's' && argument != arguments.end()) {
            text += *argument++;
            ++i;
        } else {
            text += format[i];
        }
    }
    return text;
}

// Line breaks of any kind as the memo takes them.
QString PlainLines(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

// An address as a label shows it: without its scheme.
QString WithoutScheme(const QString& address)
{
    for (const QLatin1String scheme : {QLatin1String("https://"), QLatin1String("http://"), QLatin1String("mailto:")})
        if (address.startsWith(scheme, Qt::CaseInsensitive))
            return address.mid(scheme.size());
    return address;
}

// A path on the site: whatever the page gives stays below the home page, on its host.
QString SitePath(const QString& homePage, const QString& path)
{
    if (path.isEmpty())
        return homePage;
    QString base = homePage;
    while (base.endsWith(u'/'))
        base.chop(1);
    qsizetype start = 0;
    while (start < path.size() && (path[start] == u'/' || path[start] == u'\\'))
        ++start;
    return base + u'/' + path.mid(start);
}

// The memo's lines as it shows them, after word wrap at its width.
int DisplayedLineCount(const QPlainTextEdit& memo)
{
    QTextDocument document;
    document.setDefaultFont(memo.font());
    document.setDocumentMargin(memo.document()->documentMargin());
    document.setPlainText(memo.toPlainText());
    document.setTextWidth(memo.width() - 2 * memo.frameWidth());
    (void)document.size(); // lays the document out
    int lines = 0;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        lines += block.layout() ? block.layout()->lineCount() : 1;
    return lines;
}

void SetTextColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    widget->setPalette(palette);
}

const QColor Body(221, 221, 221);
const QColor StatusRow(160, 160, 164);
const QColor Navy(0, 0, 128);
const QColor Grey(128, 128, 128);

TVendorSite& CurrentSite()
{
    static TVendorSite site = BuiltInVendorSite();
    return site;
}

} // namespace

TVendorSite VendorSiteAt(const QString& address, const QString& email)
{
    TVendorSite site;
    site.EMail = email;
    QString home = address.trimmed();
    while (home.endsWith(u'/'))
        home.chop(1);
    if (home.isEmpty())
        return site;
    // The update check takes the port apart from the address.
    const QUrl url(home);
    site.UpdatePort =
        static_cast<uint16_t>(url.port(url.scheme().compare(u"http", Qt::CaseInsensitive) == 0 ? 80 : 443));
    site.UpdatePage = url.adjusted(QUrl::RemovePort).toString() + QLatin1String("/webupdate.html");
    site.HomePage = home;
    return site;
}

TVendorSite BuiltInVendorSite()
{
    return VendorSiteAt(QStringLiteral(TESSERA_VENDOR_SITE), QStringLiteral(TESSERA_VENDOR_EMAIL));
}

const TVendorSite& VendorSite()
{
    return CurrentSite();
}

void SetVendorSite(const TVendorSite& site)
{
    CurrentSite() = site;
}

// ---------------------------------------------------------------------------------------------

TPanel::TPanel(QWidget* parent, QSize designClient, const QColor& colour) : QWidget(parent), FLayout(this, designClient)
{
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, colour);
    setPalette(palette);
    setAutoFillBackground(true);
}

void TPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    FLayout.Apply();
}

// ---------------------------------------------------------------------------------------------

TdlgAbout::TdlgAbout(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint), FLayout(this, QSize(600, 390))
{
    setObjectName(QStringLiteral("dlgAbout"));
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(FLayout.Scale(11));
    setFont(font);
    // The form's black shows as a one-pixel frame around the panels.
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
    setAutoFillBackground(true);
    setFixedSize(FLayout.ScaledClientSize());

    // Header.
    Panel2 = new TPanel(this, QSize(598, 117), Qt::white);
    Icon = new QLabel(Panel2);
    lProduct = new QLabel(Panel2);
    QFont productFont = font;
    productFont.setBold(true);
    productFont.setPixelSize(FLayout.Scale(19));
    lProduct->setFont(productFont);
    lVer = new QLabel(Panel2);
    QFont bold = font;
    bold.setBold(true);
    lVer->setFont(bold);
    lCR = new QLabel(Panel2);
    lDesc = new QLabel(Panel2);
    lDesc->setWordWrap(true);
    lDesc->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1 = new QLabel(Panel2);
    for (QLabel* label : {lProduct, lVer, lCR})
        SetTextColour(label, Qt::black);
    SetTextColour(lDesc, Navy);
    TAnchorLayout& header = Panel2->Layout();
    header.Place(Icon, {10, 8, 32, 32}, akLeft | akTop);
    header.PlaceGrowing(lProduct, {55, 8, 0, 23}, akLeft | akTop, false);
    header.PlaceGrowing(lVer, {55, 34, 0, 13}, akLeft | akTop, false);
    header.PlaceGrowing(lCR, {55, 53, 0, 13}, akLeft | akTop, false);
    header.Place(lDesc, {55, 77, 532, 34}, akLeft | akTop | akRight);
    header.Place(Image1, {468, 8, 120, 59}, akTop | akRight);

    // Usage-terms banner, hidden until it has a text.
    pLic = new QLabel(this);
    pLic->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    pLic->setFont(bold);
    pLic->setAutoFillBackground(true);
    QPalette banner = pLic->palette();
    banner.setColor(QPalette::Window, Qt::yellow);
    banner.setColor(QPalette::WindowText, Qt::black);
    pLic->setPalette(banner);
    pLic->hide();

    // Body: the notice and the link row.
    Panel1 = new TPanel(this, QSize(598, 203), Body);
    mLic = new QPlainTextEdit(Panel1);
    mLic->setReadOnly(true);
    mLic->setFrameShape(QFrame::NoFrame);
    mLic->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    mLic->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mLic->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette memo = mLic->palette();
    memo.setColor(QPalette::Base, Body);
    memo.setColor(QPalette::Text, Qt::black);
    mLic->setPalette(memo);
    Panel4 = new QWidget(Panel1);
    auto* links = new QHBoxLayout(Panel4);
    links->setContentsMargins(FLayout.Scale(10), 0, FLayout.Scale(10), 0);
    links->setSpacing(FLayout.Scale(10));
    lEmail = new QLabel(Panel4);
    lWWW = new QLabel(Panel4);
    lWWW->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lEmail->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QFont linkFont(QStringLiteral("Consolas"));
    linkFont.setStyleHint(QFont::Monospace);
    linkFont.setPixelSize(FLayout.Scale(11));
    linkFont.setUnderline(true);
    for (QLabel* link : {lEmail, lWWW}) {
        link->setFont(linkFont);
        SetTextColour(link, Grey);
        link->setCursor(Qt::PointingHandCursor);
    }
    links->addWidget(lEmail);
    links->addStretch(1);
    links->addWidget(lWWW);
    Panel1->Layout().Place(mLic, {10, 10, 578, 173}, akLeft | akTop | akRight | akBottom);
    Panel1->Layout().Place(Panel4, {0, 183, 598, 20}, akLeft | akRight | akBottom);

    // Status row.
    Panel3 = new TPanel(this, QSize(598, 44), StatusRow);
    icoWait = new TAnimatedImage(Panel3);
    icoOK = new QLabel(Panel3);
    icoWarn = new QLabel(Panel3);
    lUpdate = new QLabel(QStringLiteral("Checking for update..."), Panel3);
    lUpdate->setCursor(Qt::PointingHandCursor);
    SetTextColour(lUpdate, Qt::black);
    Button2 = new QPushButton(QStringLiteral("OK"), Panel3);
    Button2->setDefault(true);
    Button2->setAutoDefault(true);
    for (QWidget* w : std::initializer_list<QWidget*>{icoWait, icoOK, icoWarn, lUpdate})
        w->hide();
    TAnchorLayout& status = Panel3->Layout();
    status.Place(icoWait, {12, 14, 16, 16}, akLeft | akTop);
    status.Place(icoOK, {14, 14, 16, 16}, akLeft | akTop);
    status.Place(icoWarn, {14, 14, 16, 16}, akLeft | akTop);
    status.PlaceGrowing(lUpdate, {34, 16, 0, 13}, akLeft | akTop, false);
    status.Place(Button2, {512, 10, 75, 25}, akRight | akBottom);

    const qreal ratio = devicePixelRatioF();
    Image1->setPixmap(LogoPicture(QSize(FLayout.Scale(120), FLayout.Scale(59)), ratio));
    icoOK->setPixmap(OkPicture(FLayout.Scale(16), ratio));
    icoWarn->setPixmap(WarningPicture(FLayout.Scale(16), ratio));

    // Dragging on these moves the borderless window.
    for (QWidget* w :
         std::initializer_list<QWidget*>{Panel2, lDesc, Icon, lProduct, lVer, Image1, lCR, icoWait, icoOK, icoWarn})
        w->installEventFilter(this);
    for (QWidget* w : std::initializer_list<QWidget*>{lUpdate, lEmail, lWWW})
        w->installEventFilter(this);
    connect(Button2, &QPushButton::clicked, this, &QDialog::accept);
    Button2->setFocus();

    AlignPanels();
    FormCreate();
}

TdlgAbout::~TdlgAbout() = default;

void TdlgAbout::FormCreate()
{
    // The application's icon, as the owner's window shows it.
    Icon->setPixmap(windowIcon().pixmap(FLayout.Scale(32), FLayout.Scale(32)));
    UpdateCheck = nullptr;
}

void TdlgAbout::Setup(const QString& productCode, const QString& extraText, TLanguage language, const TVendorSite& site)
{
    FLang = language;
    FSite = site;
    const TAboutTexts& texts = Texts(FLang);
    // Without a page to ask, a check could only fail: there is none, as without a product code.
    if (!productCode.isEmpty() && !site.UpdatePage.isEmpty()) {
        UpdateCheck = new TUpdateCheck(this);
        UpdateCheck->SetOptions({uoOverwrite});
        UpdateCheck->SetHTTPPort(site.UpdatePort);
        UpdateCheck->ProductInfo().SetURL(site.UpdatePage);
        UpdateCheck->ProductInfo().SetVersion(ProgramVersionInfo.FileVersion);
        TTagInfo& tags = UpdateCheck->TagInfo();
        tags.SetAuthor(productCode + QLatin1String("Author"));
        tags.SetEmail(productCode + QLatin1String("Email"));
        tags.SetClientFileName(productCode + QLatin1String("File"));
        tags.SetDownload(productCode + QLatin1String("Download"));
        tags.SetProductName(productCode + QLatin1String("Name"));
        tags.SetRedirection(productCode + QLatin1String("Redirection"));
        tags.SetRunParameters(productCode + QLatin1String("RunParameters"));
        tags.SetVersion(productCode + QLatin1String("Version"));
        tags.SetMD5(productCode + QLatin1String("MD5"));
        tags.SetPage(productCode + QLatin1String("Page"));
        UpdateCheck->SetOnUpdateAvailable(
            [this](QObject* sender, const QString& current, const QString& published, bool& canUpdate) {
                UpdateCheckUpdateAvailable(sender, current, published, canUpdate);
            });
        UpdateCheck->SetOnNoUpdateFound([this](QObject* sender) { UpdateCheckNoUpdateFound(sender); });
        UpdateCheck->SetOnDownloadError([this](QObject* sender) { UpdateCheckDownloadError(sender); });
    }

    const TVersionInfo& version = ProgramVersionInfo;
    lProduct->setText(version.ProductName);
    QString versionLine = Format(QStringLiteral("%s %s"), {texts.Version, version.FileVersion});
    if (version.DebugBuild)
        versionLine += QLatin1String(" DEBUG");
    lVer->setText(versionLine);
    lVer->setToolTip(version.BuildTimestamp);
    lEmail->setText(WithoutScheme(site.EMail));
    lWWW->setText(WithoutScheme(site.HomePage));
    lCR->setText(version.Copyright);
    lDesc->setText(!version.Comments.isEmpty() ? version.Comments : version.Description);
    setWindowTitle(Format(QStringLiteral("%s...."), {texts.Caption}));

    const QString terms = QStringLiteral("    ") + texts.UsageTerms;
    pLic->setText(terms);
    pLic->setVisible(!terms.trimmed().isEmpty());

    QString notice = PlainLines(texts.Notice);
    if (!extraText.isEmpty())
        notice += u'\n' + PlainLines(extraText);
    mLic->setPlainText(notice);

    AlignPanels();
    QTextCursor caret = mLic->textCursor();
    caret.movePosition(QTextCursor::Start);
    mLic->setTextCursor(caret);
    if (DisplayedLineCount(*mLic) > 12)
        mLic->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void TdlgAbout::AlignPanels()
{
    const int m = FLayout.Scale(1);
    const int width = this->width() - 2 * m;
    int top = m;
    Panel2->setGeometry(m, top, width, FLayout.Scale(117));
    top += Panel2->height();
    if (!pLic->isHidden()) {
        pLic->setGeometry(m, top, width, FLayout.Scale(24));
        top += pLic->height();
    }
    const int statusTop = height() - m - FLayout.Scale(44);
    Panel3->setGeometry(m, statusTop, width, FLayout.Scale(44));
    Panel1->setGeometry(m, top, width, statusTop - top);
    // Labels take the width their texts need now.
    for (TPanel* panel : {Panel2, Panel1, Panel3})
        panel->Layout().Apply();
}

void TdlgAbout::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    AlignPanels();
}

void TdlgAbout::FormShow()
{
    if (UpdateCheck)
        QCoreApplication::postEvent(this, new QEvent(WM_CHECKUPDATE));
}

void TdlgAbout::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TdlgAbout::customEvent(QEvent* event)
{
    if (event->type() == WM_CHECKUPDATE)
        WMCheckUpdate();
    else
        QDialog::customEvent(event);
}

void TdlgAbout::WMCheckUpdate()
{
    if (!UpdateCheck)
        return;
    lUpdate->show();
    icoWait->show();
    icoWait->Start();
    AlignPanels();
    // Runs here, inside the modal loop: the check processes events while its worker runs.
    UpdateCheck->CheckForAnUpdate();
    // A nested call (the message came twice) returns at once; the outer one closes.
    if (FPendingResult && !UpdateCheck->Active()) {
        const int result = *FPendingResult;
        FPendingResult.reset();
        done(result);
    }
}

void TdlgAbout::done(int result)
{
    if (UpdateCheck && UpdateCheck->Active()) {
        // The check ends at once (its transfer is cancelled, whatever the server does) and the
        // dialog closes when the check's call returns.
        FPendingResult = result;
        UpdateCheck->Abort();
        return;
    }
    FormClose();
    QDialog::done(result);
}

void TdlgAbout::reject()
{
    done(QDialog::Accepted);
}

void TdlgAbout::FormClose()
{
    if (UpdateCheck)
        UpdateCheck->Abort();
}

void TdlgAbout::ShowOutcome(QLabel* sign, const QString& text)
{
    icoWait->Stop();
    icoWait->hide();
    sign->show();
    lUpdate->setText(text);
    AlignPanels();
}

void TdlgAbout::UpdateCheckDownloadError(QObject*)
{
    ShowOutcome(icoWarn, Texts(FLang).CheckFailed);
}

void TdlgAbout::UpdateCheckNoUpdateFound(QObject*)
{
    ShowOutcome(icoOK, Texts(FLang).Latest);
}

void TdlgAbout::UpdateCheckUpdateAvailable(QObject*, const QString&, const QString& NewVersion, bool& CanUpdate)
{
    // The box only tells; the user downloads from the vendor's page.
    CanUpdate = false;
    ShowOutcome(icoWarn, Format(Texts(FLang).NewVersion, {NewVersion}));
}

void TdlgAbout::Open(const QString& address)
{
    ShellExecuteW(reinterpret_cast<HWND>(static_cast<QWidget*>(this)), u"open", WStr(address), nullptr, nullptr,
                  SW_SHOWNORMAL);
}

void TdlgAbout::lUpdateClick()
{
    QString path;
    if (UpdateCheck)
        path = !UpdateCheck->Page().isEmpty() ? UpdateCheck->Page() : UpdateCheck->UpdateURL();
    Open(SitePath(FSite.HomePage, path));
}

void TdlgAbout::cmEmail()
{
    Open(FSite.EMail);
}

void TdlgAbout::cmHomepage()
{
    Open(FSite.HomePage);
}

void TdlgAbout::FormMouseDown(const QMouseEvent& event)
{
    // Wayland lets no client place its own window: the compositor moves it. Elsewhere the dialog
    // follows the pointer itself, by the pointer's movement since the press; X11 window managers
    // asked to move it (_NET_WM_MOVERESIZE) were seen to make it jump by its own position.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")) && windowHandle() &&
        windowHandle()->startSystemMove())
        return;
    FDragStart = DragStart{event.globalPosition().toPoint(), pos()};
}

bool TdlgAbout::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease && type != QEvent::MouseMove)
        return QDialog::eventFilter(watched, event);
    const auto& mouse = *static_cast<const QMouseEvent*>(event);
    if (mouse.button() != Qt::LeftButton && !(mouse.buttons() & Qt::LeftButton))
        return QDialog::eventFilter(watched, event);

    if (watched == lUpdate || watched == lEmail || watched == lWWW) {
        // A click: released over the link it was pressed on.
        if (type == QEvent::MouseButtonRelease &&
            static_cast<QWidget*>(watched)->rect().contains(mouse.position().toPoint())) {
            if (watched == lUpdate)
                lUpdateClick();
            else if (watched == lEmail)
                cmEmail();
            else
                cmHomepage();
        }
        return true;
    }
    if (type == QEvent::MouseButtonPress)
        FormMouseDown(mouse);
    else if (type == QEvent::MouseMove && FDragStart)
        move(FDragStart->Window + (mouse.globalPosition().toPoint() - FDragStart->Pointer));
    else if (type == QEvent::MouseButtonRelease)
        FDragStart.reset();
    return true;
}

// ---------------------------------------------------------------------------------------------

void ShowAbout(QWidget* owner, const QString& productCode, const QString& extraText, TLanguage language)
{
    TdlgAbout dlgAbout(owner);
    dlgAbout.Setup(productCode, extraText, language, VendorSite());
    dlgAbout.exec();
}
