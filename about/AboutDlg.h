// The about box, opened by a click on the program's icon: the program's name, version, copyright
// and description, the terms of use, a notice, links to the author and the vendor, and the result
// of an update check that it runs by itself each time it is shown. It speaks English or Czech.
#pragma once

#include "layout/Anchors.h"

#include <QColor>
#include <QDialog>
#include <QEvent>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <optional>

class QLabel;
class QMouseEvent;
class QPlainTextEdit;
class QPushButton;
class TAnimatedImage;
class TUpdateCheck;

enum TLanguage : unsigned char { lngEn, lngCz };

// Where the vendor publishes.
struct TVendorSite {
    QString UpdatePage; // the update page, fetched with the port below
    uint16_t UpdatePort = 443;
    QString HomePage; // opened by its link; the update status opens paths on it
    QString EMail;    // the author's "mailto:" address
};

// The site at an address ("https://host[:port][/path]"): its update page is "webupdate.html"
// there. An empty address is no site: no update page and no home page.
[[nodiscard]] TVendorSite VendorSiteAt(const QString& address, const QString& email);
// The site the build names (TESSERA_VENDOR_SITE and TESSERA_VENDOR_EMAIL), empty unless set.
[[nodiscard]] TVendorSite BuiltInVendorSite();

// The site the program's about box uses: the built-in one unless replaced (tests serve their own
// pages on loopback). Used on the user-interface thread only.
[[nodiscard]] const TVendorSite& VendorSite();
void SetVendorSite(const TVendorSite& site);

// A coloured area of the dialog whose controls keep their design places and anchors.
class TPanel : public QWidget {
public:
    TPanel(QWidget* parent, QSize designClient, const QColor& colour);
    [[nodiscard]] TAnchorLayout& Layout() { return FLayout; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    TAnchorLayout FLayout;
};

class TdlgAbout : public QDialog {
public:
    // The message that starts the check once the dialog is on screen and its modal loop runs.
    static constexpr QEvent::Type WM_CHECKUPDATE = static_cast<QEvent::Type>(QEvent::User + 1);

    // Borderless, over its owner and above it.
    explicit TdlgAbout(QWidget* owner);
    ~TdlgAbout() override;

    // Fills the dialog for a showing: an empty product code, or a site without an update page,
    // means no update check; otherwise the check asks the site's update page for the tags named
    // after the product code.
    void Setup(const QString& productCode, const QString& extraText, TLanguage language, const TVendorSite& site);

    [[nodiscard]] TLanguage Lang() const { return FLang; }

    // Event handlers.
    void FormCreate();
    void FormShow();
    void WMCheckUpdate();
    void FormClose();
    void FormMouseDown(const QMouseEvent& event);
    void lUpdateClick();
    void cmEmail();
    void cmHomepage();
    void UpdateCheckDownloadError(QObject* Sender);
    void UpdateCheckNoUpdateFound(QObject* Sender);
    void UpdateCheckUpdateAvailable(QObject* Sender, const QString& CurrentVersion, const QString& NewVersion,
                                    bool& CanUpdate);

    // Closing aborts a running check and closes the dialog as soon as the check has returned.
    void done(int result) override;
    // Escape and closing the window are the OK button.
    void reject() override;

    // Owned by the dialog; null without a product code.
    TUpdateCheck* UpdateCheck = nullptr;

    TPanel* Panel2;
    QLabel* Icon;
    QLabel* lProduct;
    QLabel* lVer;
    QLabel* lCR;
    QLabel* lDesc;
    QLabel* Image1;
    QLabel* pLic;
    TPanel* Panel1;
    QPlainTextEdit* mLic;
    QWidget* Panel4;
    QLabel* lEmail;
    QLabel* lWWW;
    TPanel* Panel3;
    TAnimatedImage* icoWait;
    QLabel* icoOK;
    QLabel* icoWarn;
    QLabel* lUpdate;
    QPushButton* Button2;

protected:
    void showEvent(QShowEvent* event) override;
    void customEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Places the panels as the form aligns them: header and banner at the top, status row at the
    // bottom, the body between; then their controls.
    void AlignPanels();
    void ShowOutcome(QLabel* sign, const QString& text);
    void Open(const QString& address);

    TAnchorLayout FLayout;
    TLanguage FLang = lngEn;
    TVendorSite FSite;
    // A close asked for while the check ran: done once it has ended.
    std::optional<int> FPendingResult;
    // Where pointer and window were when a drag of the window began.
    struct DragStart {
        QPoint Pointer;
        QPoint Window;
    };
    std::optional<DragStart> FDragStart;
};

// Builds the dialog, shows it modally over the owner and frees it when it has closed.
void ShowAbout(QWidget* owner, const QString& productCode, const QString& extraText, TLanguage language);
