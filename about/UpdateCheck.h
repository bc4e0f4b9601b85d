// The update check: asks the vendor's update page whether a newer version of the running program
// exists. The page is fetched in a worker thread (TDownloadThread) while the calling thread keeps
// processing its events; a fixed set of named meta tags is read from it, the published version is
// compared with the running one, and the outcome is reported through events. On request it also
// downloads the update file, launches it and ends the program.
#pragma once

#include "about/DownloadThread.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>

// The page's lines are looked at up to this length; what follows on a longer line is not read.
inline constexpr qsizetype MaxLineLength = 64 * 1024;
// Pages fetched in one check, the first included: a chain of redirections ends here.
inline constexpr int MaxPages = 10;

enum TVersionFormat : uint8_t { vfStandard, vfString, vfNumber };

// The running product: the update page's address and the version compared with the page's.
class TProductInfo {
public:
    TProductInfo();

    [[nodiscard]] const QString& URL() const { return FURL; }
    // An address without "http://" or "https://" at its start (in any letter case) gets "http://".
    void SetURL(const QString& value);
    [[nodiscard]] const QString& Version() const { return FVersion; }
    void SetVersion(const QString& value) { FVersion = value; }
    [[nodiscard]] TVersionFormat VersionFormat() const { return FVersionFormat; }
    void SetVersionFormat(TVersionFormat value) { FVersionFormat = value; }

private:
    QString FURL;
    QString FVersion;
    TVersionFormat FVersionFormat = vfStandard;
};

// The names of the meta tags looked for on the page, compared without regard to letter case.
class TTagInfo {
public:
    TTagInfo();

    [[nodiscard]] const QString& Author() const { return FAuthor; }
    void SetAuthor(const QString& value) { FAuthor = value; }
    [[nodiscard]] const QString& Email() const { return FEmail; }
    void SetEmail(const QString& value) { FEmail = value; }
    [[nodiscard]] const QString& ClientFileName() const { return FClientFileName; }
    void SetClientFileName(const QString& value) { FClientFileName = value; }
    [[nodiscard]] const QString& Download() const { return FDownload; }
    void SetDownload(const QString& value) { FDownload = value; }
    [[nodiscard]] const QString& ProductName() const { return FProductName; }
    void SetProductName(const QString& value) { FProductName = value; }
    [[nodiscard]] const QString& Redirection() const { return FRedirection; }
    void SetRedirection(const QString& value) { FRedirection = value; }
    [[nodiscard]] const QString& RunParameters() const { return FRunParameters; }
    void SetRunParameters(const QString& value) { FRunParameters = value; }
    [[nodiscard]] const QString& Version() const { return FVersion; }
    void SetVersion(const QString& value) { FVersion = value; }
    [[nodiscard]] const QString& MD5() const { return FMD5; }
    void SetMD5(const QString& value) { FMD5 = value; }
    [[nodiscard]] const QString& Page() const { return FPage; }
    void SetPage(const QString& value) { FPage = value; }

private:
    QString FAuthor;
    QString FEmail;
    QString FClientFileName;
    QString FDownload;
    QString FProductName;
    QString FRedirection;
    QString FRunParameters;
    QString FVersion;
    QString FMD5;
    QString FPage;
};

enum TUpdateOption : uint8_t { uoRunUpdate, uoTerminate, uoOverwrite };

// A set of update options in one byte: bit n is the option of ordinal n.
class TUpdateOptions {
public:
    constexpr TUpdateOptions() = default;
    constexpr TUpdateOptions(std::initializer_list<TUpdateOption> options)
    {
        for (const TUpdateOption option : options)
            FBits = static_cast<uint8_t>(FBits | (1u << option));
    }
    [[nodiscard]] constexpr bool Contains(TUpdateOption option) const { return (FBits >> option) & 1u; }
    [[nodiscard]] constexpr uint8_t Bits() const { return FBits; }
    constexpr bool operator==(const TUpdateOptions&) const = default;

private:
    uint8_t FBits = 0;
};

using TNotifyEvent = std::function<void(QObject* Sender)>;
using TGetClientFileNameEvent = std::function<void(QObject* Sender, QString& FileName)>;
using TDownloadFileEvent = std::function<void(QObject* Sender, const QString& FileName)>;
using TClientFileExistsEvent = std::function<void(QObject* Sender, QString& FileName, bool& Overwrite)>;
using TUpdateAvailableEvent =
    std::function<void(QObject* Sender, const QString& CurrentVersion, const QString& NewVersion, bool& CanUpdate)>;

// The value of a page line's CONTENT="..." (the letters of CONTENT= in any case): the text up to
// the next double quote, empty when that is more than 254 characters on, or when the line has no
// CONTENT= at all.
[[nodiscard]] QString ExtractContent(const QString& line);

class TUpdateCheck : public QObject {
public:
    explicit TUpdateCheck(QObject* AOwner = nullptr);
    // Aborts a running transfer and does not wait for it: the owner must not destroy the component
    // while CheckForAnUpdate runs.
    ~TUpdateCheck() override;
    TUpdateCheck(const TUpdateCheck&) = delete;
    TUpdateCheck& operator=(const TUpdateCheck&) = delete;

    // Asks the running transfer, if any, to end.
    void Abort();
    // The whole check, on the thread whose events are processed while it waits: true only when an
    // update file was downloaded. A call while a check runs returns false at once and fires nothing.
    bool CheckForAnUpdate();

    [[nodiscard]] TTagInfo& TagInfo() { return *FTagInfo; }
    [[nodiscard]] TProductInfo& ProductInfo() { return *FProductInfo; }
    [[nodiscard]] const QString& UserName() const { return FUserName; }
    void SetUserName(const QString& value) { FUserName = value; }
    [[nodiscard]] const QString& Password() const { return FPassword; }
    void SetPassword(const QString& value) { FPassword = value; }
    [[nodiscard]] TUpdateOptions Options() const { return FOptions; }
    void SetOptions(TUpdateOptions value) { FOptions = value; }
    [[nodiscard]] const QString& TargetFolder() const { return FTargetFolder; }
    void SetTargetFolder(const QString& value) { FTargetFolder = value; }
    // Only the low 16 bits are used.
    [[nodiscard]] uint32_t HTTPPort() const { return FHTTPPort; }
    void SetHTTPPort(uint32_t value) { FHTTPPort = value; }

    void SetOnBeforeDownload(TDownloadFileEvent handler) { FOnBeforeDownload = std::move(handler); }
    void SetOnAfterDownload(TDownloadFileEvent handler) { FOnAfterDownload = std::move(handler); }
    // Progress of every transfer, in the thread that runs the check; Sender is the worker.
    void SetOnDownload(TDownloadEvent handler) { FOnDownload = std::move(handler); }
    void SetOnDownloadError(TNotifyEvent handler) { FOnDownloadError = std::move(handler); }
    void SetOnUpdateAvailable(TUpdateAvailableEvent handler) { FOnUpdateAvailable = std::move(handler); }
    void SetOnGetClientFileName(TGetClientFileNameEvent handler) { FOnGetClientFileName = std::move(handler); }
    void SetOnClientFileExists(TClientFileExistsEvent handler) { FOnClientFileExists = std::move(handler); }
    void SetOnBeforeGetInfo(TNotifyEvent handler) { FOnBeforeGetInfo = std::move(handler); }
    void SetOnCannotExecute(TNotifyEvent handler) { FOnCannotExecute = std::move(handler); }
    void SetOnAfterGetInfo(TNotifyEvent handler) { FOnAfterGetInfo = std::move(handler); }
    void SetOnNoUpdateFound(TNotifyEvent handler) { FOnNoUpdateFound = std::move(handler); }

    // What the last page said; kept until the next check.
    [[nodiscard]] const QString& ProductVersion() const { return FProductVersion; }
    [[nodiscard]] const QString& UpdateURL() const { return FUpdateURL; }
    [[nodiscard]] const QString& ClientFileName() const { return FClientFileName; }
    [[nodiscard]] const QString& RedirectionURL() const { return FRedirectionURL; }
    [[nodiscard]] const QString& Author() const { return FAuthor; }
    [[nodiscard]] const QString& EMail() const { return FEMail; }
    [[nodiscard]] const QString& ProductName() const { return FProductName; }
    [[nodiscard]] const QString& RunParameters() const { return FRunParameters; }
    [[nodiscard]] const QString& MD5() const { return FMD5; }
    [[nodiscard]] const QString& Page() const { return FPage; }
    // The last step begun or the last failure: "GetUpdateFile", "Download started", "Overwrite
    // error", "empty info", a redirection refused, or the worker's error text (empty after an abort).
    [[nodiscard]] const QString& DownloadError() const { return FDownloadError; }
    // The page's lines as last fetched.
    [[nodiscard]] const QStringList& Info() const { return FInfo; }
    // The downloaded update file's full name.
    [[nodiscard]] const QString& FileName() const { return FFileName; }
    [[nodiscard]] bool Active() const { return FActive; }
    // The worker's thread while one exists, else null.
    [[nodiscard]] Qt::HANDLE ThreadId() const { return FThread ? FThread->ThreadId() : nullptr; }

protected:
    // Each calls its event with Sender = this when the event is assigned.
    virtual void DoBeforeDownload(const QString& FileName);
    virtual void DoDownloadError();
    virtual void DoAfterDownload(const QString& FileName);
    virtual void DoNoUpdateFound();
    virtual void DoAfterGetInfo();
    virtual void DoBeforeGetInfo();
    virtual void DoCannotExecute();
    // The target folder (when it is an existing folder) or the temporary folder, followed by the
    // page's file name; empty when the temporary folder cannot be obtained.
    virtual void GetTargetFileName(QString& FileName);

    // The steps of the check.
    void GetInfo();
    void ParseInfo();
    [[nodiscard]] bool IsNewVersion();
    void GetUpdateFile();
    // The page's lines, as ParseInfo reads them.
    void SetInfo(const QStringList& lines) { FInfo = lines; }

private:
    // One transfer in a worker; the events of this thread are processed until it has ended.
    std::unique_ptr<TDownloadThread> Transfer(const QString& address, bool binary, const QString& fileName);

    std::unique_ptr<TProductInfo> FProductInfo;
    std::unique_ptr<TTagInfo> FTagInfo;
    TUpdateOptions FOptions{uoRunUpdate, uoTerminate};
    bool FActive = false;
    QString FFileName;
    QString FUserName;
    QString FPassword;
    QStringList FInfo;
    TDownloadEvent FOnDownload;
    TNotifyEvent FOnDownloadError;
    TNotifyEvent FOnNoUpdateFound;
    TNotifyEvent FOnBeforeGetInfo;
    TNotifyEvent FOnAfterGetInfo;
    TNotifyEvent FOnCannotExecute;
    TDownloadFileEvent FOnBeforeDownload;
    TDownloadFileEvent FOnAfterDownload;
    TClientFileExistsEvent FOnClientFileExists;
    TGetClientFileNameEvent FOnGetClientFileName;
    TUpdateAvailableEvent FOnUpdateAvailable;
    QString FProductVersion;
    QString FUpdateURL;
    QString FClientFileName;
    QString FRedirectionURL;
    QString FAuthor;
    QString FEMail;
    QString FProductName;
    QString FRunParameters;
    QString FMD5;
    QString FPage;
    bool FDownloadResult = false;
    QString FDownloadError;
    QString FTargetFolder;
    uint32_t FHTTPPort = 80;
    // The running worker, owned by the step that made it.
    TDownloadThread* FThread = nullptr;
};
