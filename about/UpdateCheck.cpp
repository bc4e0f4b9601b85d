#include "about/UpdateCheck.h"

#include "platform/include/win/shellapi.h"
#include "platform/include/win/winbase.h"
#include "support/WinString.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringView>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// Without regard to case, for the letters a-z and A-Z only: other letters compare as they are.
char16_t UpperAscii(char16_t c)
{
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

bool SameText(QStringView a, QStringView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i].unicode()) != UpperAscii(b[i].unicode()))
            return false;
    return true;
}

qsizetype IndexOfIgnoreAsciiCase(QStringView text, QStringView what)
{
    for (qsizetype i = 0; i + what.size() <= text.size(); ++i)
        if (SameText(text.mid(i, what.size()), what))
            return i;
    return -1;
}

// The text from start up to the next double quote within 255 characters; empty when there is
// none, so that names and values longer than 254 characters read as empty.
QString QuotedFrom(QStringView line, qsizetype start)
{
    const QStringView piece = line.mid(start, 255);
    const qsizetype quote = piece.indexOf(u'"');
    return quote < 0 ? QString() : piece.left(quote).toString();
}

// An integer, or 0 for a text that is not one.
int IntOrZero(QStringView text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok ? value : 0;
}

std::u16string_view CodeUnits(const QString& text)
{
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size())};
}

// A decimal number with "." as its separator, whatever the locale; none for anything else.
std::optional<double> DecimalNumber(const QString& text)
{
    QString trimmed = text.trimmed();
    if (trimmed.startsWith(u'+'))
        trimmed.remove(0, 1);
    if (trimmed.isEmpty())
        return std::nullopt;
    std::string ascii;
    for (const QChar c : trimmed) {
        if (c.unicode() > 0x7F)
            return std::nullopt;
        ascii += static_cast<char>(c.unicode());
    }
    double value = 0;
    const auto [end, error] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (error != std::errc() || end != ascii.data() + ascii.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// The page names a file, never where it goes: only the name's last component counts.
QString BareFileName(const QString& name)
{
    const QString last = name.mid(std::max(name.lastIndexOf(u'/'), name.lastIndexOf(u'\\')) + 1);
    return last == QLatin1String(".") || last == QLatin1String("..") ? QString() : last;
}

bool FileExists(const QString& fileName)
{
    const QFileInfo info(fileName);
    return info.exists() && !info.isDir();
}

} // namespace

// ---------------------------------------------------------------------------------------------

TProductInfo::TProductInfo() : FVersion(QStringLiteral("1.0"))
{
    SetURL(QString());
}

void TProductInfo::SetURL(const QString& value)
{
    const bool scheme = value.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
                        value.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
    FURL = scheme ? value : QStringLiteral("http://") + value;
}

TTagInfo::TTagInfo()
    : FAuthor(QStringLiteral("Author")), FEmail(QStringLiteral("Email")), FClientFileName(QStringLiteral("File")),
      FDownload(QStringLiteral("Download")), FProductName(QStringLiteral("Name")),
      FRedirection(QStringLiteral("Redirection")), FRunParameters(QStringLiteral("RunParameters")),
      FVersion(QStringLiteral("Version")), FMD5(QStringLiteral("MD5")), FPage(QStringLiteral("Page"))
{
}

QString ExtractContent(const QString& line)
{
    const QStringView view = QStringView(line).left(MaxLineLength);
    const qsizetype c = IndexOfIgnoreAsciiCase(view, u"CONTENT=");
    // After CONTENT= and the quote that opens the value.
    return c < 0 ? QString() : QuotedFrom(view, c + 9);
}

// ---------------------------------------------------------------------------------------------

TUpdateCheck::TUpdateCheck(QObject* AOwner)
    : QObject(AOwner), FProductInfo(std::make_unique<TProductInfo>()), FTagInfo(std::make_unique<TTagInfo>())
{
}

TUpdateCheck::~TUpdateCheck()
{
    Abort();
}

void TUpdateCheck::Abort()
{
    if (FThread)
        FThread->Abort();
}

void TUpdateCheck::DoBeforeDownload(const QString& FileName)
{
    if (FOnBeforeDownload)
        FOnBeforeDownload(this, FileName);
}

void TUpdateCheck::DoDownloadError()
{
    if (FOnDownloadError)
        FOnDownloadError(this);
}

void TUpdateCheck::DoAfterDownload(const QString& FileName)
{
    if (FOnAfterDownload)
        FOnAfterDownload(this, FileName);
}

void TUpdateCheck::DoNoUpdateFound()
{
    if (FOnNoUpdateFound)
        FOnNoUpdateFound(this);
}

void TUpdateCheck::DoAfterGetInfo()
{
    if (FOnAfterGetInfo)
        FOnAfterGetInfo(this);
}

void TUpdateCheck::DoBeforeGetInfo()
{
    if (FOnBeforeGetInfo)
        FOnBeforeGetInfo(this);
}

void TUpdateCheck::DoCannotExecute()
{
    if (FOnCannotExecute)
        FOnCannotExecute(this);
}

void TUpdateCheck::GetTargetFileName(QString& FileName)
{
    const QString name = BareFileName(FClientFileName);
    if (!FTargetFolder.isEmpty() && QFileInfo(FTargetFolder).isDir()) {
        FileName = FTargetFolder.endsWith(u'/') ? FTargetFolder + name : FTargetFolder + u'/' + name;
        return;
    }
    FileName.clear();
    const DWORD size = GetTempPathW(0, nullptr);
    if (size == 0)
        return;
    std::vector<WCHAR> buffer(size);
    const DWORD length = GetTempPathW(size, buffer.data());
    if (length == 0 || length >= size)
        return;
    FileName = FromWStr(buffer.data(), length) + name;
}

std::unique_ptr<TDownloadThread> TUpdateCheck::Transfer(const QString& address, bool binary, const QString& fileName)
{
    auto worker = std::make_unique<TDownloadThread>(address, FProductInfo->URL(), FUserName, FPassword,
                                                    static_cast<uint16_t>(FHTTPPort & 0xFFFF), binary, binary, fileName,
                                                    FOnDownload);
    FThread = worker.get();
    // The events of this thread go on while the worker runs: its progress, and the user's clicks.
    try {
        while (!worker->Terminated()) {
            if (QCoreApplication::instance())
                QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            else
                worker->WaitFor();
        }
    } catch (...) {
        // The worker goes with the exception: nothing may point to it.
        FThread = nullptr;
        throw;
    }
    return worker;
}

void TUpdateCheck::GetInfo()
{
    QStringList fetched;
    for (;;) {
        FProductVersion.clear();
        FUpdateURL.clear();
        FAuthor.clear();
        FEMail.clear();
        FProductName.clear();
        FRunParameters.clear();
        FMD5.clear();
        const QString address = FRedirectionURL.isEmpty() ? FProductInfo->URL() : FRedirectionURL;
        // A chain of pages ends: never a page twice, never more than MaxPages.
        if (fetched.contains(address) || fetched.size() >= MaxPages) {
            FDownloadResult = false;
            FDownloadError = fetched.contains(address) ? QStringLiteral("redirection loop")
                                                       : QStringLiteral("too many redirections");
            DoDownloadError();
            return;
        }
        fetched.append(address);
        {
            std::unique_ptr<TDownloadThread> worker = Transfer(address, false, QString());
            const struct Release {
                TDownloadThread*& Thread;
                ~Release() { Thread = nullptr; } // before the worker is freed, also on an exception
            } release{FThread};
            FDownloadResult = worker->Success();
            if (FDownloadResult) {
                FInfo = worker->Info();
            } else {
                FDownloadError = worker->Error();
                DoDownloadError();
            }
        }
        if (!FDownloadResult)
            return;
        ParseInfo();
        if (FRedirectionURL.isEmpty())
            return;
    }
}

void TUpdateCheck::ParseInfo()
{
    for (QString* field : {&FRedirectionURL, &FProductVersion, &FUpdateURL, &FClientFileName, &FAuthor, &FEMail,
                           &FProductName, &FRunParameters, &FMD5, &FPage})
        field->clear();
    const TTagInfo& tags = *FTagInfo;
    // In this order: the first name that matches takes the value.
    const std::pair<const QString*, QString*> fields[] = {
        {&tags.ProductName(), &FProductName},
        {&tags.ClientFileName(), &FClientFileName},
        {&tags.Version(), &FProductVersion},
        {&tags.Author(), &FAuthor},
        {&tags.Email(), &FEMail},
        {&tags.Download(), &FUpdateURL},
        {&tags.Redirection(), &FRedirectionURL},
        {&tags.RunParameters(), &FRunParameters},
        {&tags.MD5(), &FMD5},
        {&tags.Page(), &FPage},
    };
    for (const QString& text : std::as_const(FInfo)) {
        const QStringView line = QStringView(text).left(MaxLineLength);
        const qsizetype k = line.indexOf(u"META NAME");
        if (k < 0)
            continue;
        // The name follows META NAME and two more characters (on a good page, =").
        const QString name = QuotedFrom(line, k + 11);
        const QString value = ExtractContent(text);
        for (const auto& [tag, field] : fields) {
            if (SameText(name, *tag)) {
                *field = value;
                break;
            }
        }
    }
}

bool TUpdateCheck::IsNewVersion()
{
    const QString& current = FProductInfo->Version();
    const QString& published = FProductVersion;
    bool newer = false;
    switch (FProductInfo->VersionFormat()) {
    case vfStandard: {
        // Part by part along the running version; once the published one has no "." left, its
        // last part meets each remaining part of the running one.
        QStringView c = current;
        QStringView n = published;
        for (;;) {
            const qsizetype i = c.indexOf(u'.') + 1; // 1-based, 0 when there is none
            const qsizetype j = n.indexOf(u'.') + 1;
            const int cv = IntOrZero(i ? c.left(i - 1) : c);
            const int nv = IntOrZero(j ? n.left(j - 1) : n);
            if (nv != cv) {
                newer = nv > cv;
                break;
            }
            c = c.mid(i);
            n = n.mid(j);
            if (i == 0)
                break;
        }
        break;
    }
    case vfString: newer = CodeUnits(published) > CodeUnits(current); break;
    case vfNumber: {
        const std::optional<double> c = DecimalNumber(current);
        const std::optional<double> n = DecimalNumber(published);
        newer = c && n && *n > *c;
        break;
    }
    }
    if (!newer)
        DoNoUpdateFound();
    return newer;
}

void TUpdateCheck::GetUpdateFile()
{
    FDownloadError = QStringLiteral("GetUpdateFile");
    GetTargetFileName(FFileName);
    if (FOnGetClientFileName)
        FOnGetClientFileName(this, FFileName);
    FDownloadResult = false;
    if (FileExists(FFileName)) {
        bool overwrite = FOptions.Contains(uoOverwrite);
        if (FOnClientFileExists)
            FOnClientFileExists(this, FFileName, overwrite);
        if (!overwrite) {
            FDownloadError = QStringLiteral("Overwrite error");
            DoDownloadError();
            return;
        }
    }
    FDownloadError = QStringLiteral("Download started");
    DoBeforeDownload(FFileName);
    // A name without "http" is relative to the update page's folder.
    if (!FUpdateURL.contains(QLatin1String("http"))) {
        const QString& page = FProductInfo->URL();
        FUpdateURL = page.left(page.lastIndexOf(u'/') + 1) + FUpdateURL;
    }
    std::unique_ptr<TDownloadThread> worker = Transfer(FUpdateURL, true, FFileName);
    const struct Release {
        TDownloadThread*& Thread;
        ~Release() { Thread = nullptr; }
    } release{FThread};
    FDownloadResult = worker->Success();
    if (FDownloadResult) {
        DoAfterDownload(FFileName);
    } else {
        FDownloadError = worker->Error();
        DoDownloadError();
    }
}

bool TUpdateCheck::CheckForAnUpdate()
{
    if (FActive)
        return false;
    FActive = true;
    // Cleared however the check ends, an exception from an event handler included.
    const struct Deactivate {
        bool& Active;
        ~Deactivate() { Active = false; }
    } deactivate{FActive};

    FRedirectionURL.clear();
    DoBeforeGetInfo();
    GetInfo();
    DoAfterGetInfo();
    if (FProductName.isEmpty() || FProductVersion.isEmpty()) {
        FDownloadError = QStringLiteral("empty info");
        DoDownloadError();
        FDownloadResult = false;
    }
    if (!FDownloadResult || !IsNewVersion())
        return false;

    bool canUpdate = true;
    if (FOnUpdateAvailable)
        FOnUpdateAvailable(this, FProductInfo->Version(), FProductVersion, canUpdate);
    if (!canUpdate)
        return false;

    GetUpdateFile();
    if (!FDownloadResult)
        return false;
    if (FOptions.Contains(uoRunUpdate)) {
        const HINSTANCE launched =
            ShellExecuteW(nullptr, u"open", WStr(FFileName), WStr(FRunParameters), u"", SW_SHOWNORMAL);
        if (reinterpret_cast<uintptr_t>(launched) <= 32)
            DoCannotExecute();
        // The update takes over, whether or not it could be started.
        if (FOptions.Contains(uoTerminate))
            std::exit(EXIT_SUCCESS);
    }
    return true;
}
