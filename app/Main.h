// The main window: the file being inspected, its type, the report, and the commands on the file.
#pragma once

#include "app/Inspection.h"
#include "layout/Anchors.h"
#include "layout/LayoutManagerForm.h"

#include <QStringList>

#include <exception>
#include <memory>

class QCheckBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class TMemoSink;

// The open dialog's filter: pairs of description and patterns separated by "|". The doubled ";"
// after "*.ocx" makes an empty pattern and is kept.
inline constexpr char OpenDialogFilter[] =
    "Supported files|*.exe;*.dll;*.sys;*.ocx;;*.acm;*.ax;*.cpl;*.scr;*.drv;*.tsp;*.rll;*.rs;*.tlb;*.pem;*.crt;*.cer;"
    "*.p7b;*.p7c;*.der;*.pfx;*.p12;*.msi|Portable executables|*.exe;*.dll;*.sys;*.ocx;*.acm;*.ax;*.cpl;*.scr;*.drv;"
    "*.tsp;*.rll;*.rs;*.tlb|Certificates|*.pem;*.crt;*.cer;*.p7b;*.p7c;*.der;*.pfx;*.p12|Installers|*.msi|All "
    "Files|*.*";

// The export dialog's filter: the first is PEM, the second DER.
inline constexpr char SaveDialogFilter[] = "Privacy-enhanced Electronic Mail|*.pem|Distinguished Encoding Rules|*.der";
// The extension a name filter of a Qt file dialog stands for: that of its first pattern, without
// the dot ("der" for "Distinguished Encoding Rules (*.der)"); empty when it has none.
[[nodiscard]] QString FilterExtension(const QString& nameFilter);
// The class of the shell verb: every file type.
inline const QString AllFilesClass = QStringLiteral("*");

// A "|"-separated filter as the name filters of a Qt file dialog, in the same order.
[[nodiscard]] QStringList FilterToNameFilters(const QString& filter);

// Asks the desktop to show the file's property sheet; true when the request was accepted.
bool ShowFileProperties(QWidget* ownerWindow, const QString& fileName);

// The application's error display: a box titled "Tessera" with the exception's message.
void ShowException(QWidget* owner, const std::exception& error);

class TwndMain : public TLMForm, public IInspectionHost {
public:
    // The program's command-line arguments, its own path first.
    explicit TwndMain(const QStringList& arguments, QWidget* parent = nullptr);
    ~TwndMain() override;

    // Inspects the file and writes its report; the only way a file gets inspected.
    void OpenFile(const QString& fileName);

    [[nodiscard]] const QString& Pwd() const { return FPwd; }
    // The inspected file's name as the file system has it (the edit shows it readably).
    [[nodiscard]] const QString& FileName() const { return FFileName; }
    [[nodiscard]] QStringList ReportLines() const;

    // Event handlers.
    void FormCreate();
    void FormShow();
    void FormDropFiles(QObject* sender, const QStringList& files);
    void bOpenClick();
    void ImageClick();
    void bExportClick();
    void bViewClick();
    void bPropsClick();
    void cbxShellClick();

    // The export's proposed target: the inspected file's path with the extension of the filter
    // selected now.
    [[nodiscard]] QString ProposedExportName();

    // IInspectionHost
    void ShowFileName(const QString& fileName) override;
    void ShowFileType(const QString& typeName) override;
    void EnablePropertiesCommand(bool enabled) override;
    void EnableStoreCommands(bool enabled) override;
    bool PromptPassword(QString& password) override;

    QLabel* Label1;
    QLineEdit* eFile;
    QPushButton* bOpen;
    QLabel* lType;
    QLabel* Image;
    QPlainTextEdit* Memo;
    QPushButton* bExport;
    QPushButton* bProps;
    QPushButton* bView;
    QCheckBox* cbxShell;
    // The open and save dialogs, built on first use: a file dialog starts reading its folder as
    // soon as it exists, which at start-up in a large folder would cost seconds before the window
    // shows.
    [[nodiscard]] QFileDialog* od();
    [[nodiscard]] QFileDialog* sd();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Runs an event handler; an exception leaving it is shown and the program goes on.
    template <typename Handler>
    void Handle(Handler&& handler);

    QFileDialog* Fod = nullptr;
    QFileDialog* Fsd = nullptr;
    QString FPwd;
    QString FFileName;
    QStringList FArguments;
    bool FImagePressed = false;
    TAnchorLayout FLayout;
    std::unique_ptr<TMemoSink> FMemo;
};
