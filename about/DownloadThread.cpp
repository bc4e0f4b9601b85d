#include "about/DownloadThread.h"

#include "platform/include/win/winbase.h"
#include "platform/include/win/wininet.h"
#include "support/AnsiText.h"
#include "support/Exceptions.h"
#include "support/WinString.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <system_error>
#include <utility>

namespace {

// Closes request, connection and Internet handle, in this order, however the transfer ends. The
// request is shared with the worker's Abort, which may close it first from another thread.
class InternetHandles {
public:
    explicit InternetHandles(std::atomic<HINTERNET>& request) : Request(request) {}
    InternetHandles(const InternetHandles&) = delete;
    InternetHandles& operator=(const InternetHandles&) = delete;
    ~InternetHandles() { Close(); }

    void Close()
    {
        if (const HINTERNET request = Request.exchange(nullptr))
            InternetCloseHandle(request);
        for (HINTERNET* handle : {&Connection, &Internet}) {
            if (*handle)
                InternetCloseHandle(*handle);
            *handle = nullptr;
        }
    }

    HINTERNET Internet = nullptr;
    HINTERNET Connection = nullptr;
    std::atomic<HINTERNET>& Request;
};

// Lines end at CR, LF or CR LF; a break at the very end starts no further line.
QStringList SplitLines(const QString& text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.append(text.mid(start));
    return lines;
}

QString LastErrorText()
{
    return SysErrorMessage(GetLastError());
}

} // namespace

TDownloadThread::TDownloadThread(const QString& AURL, const QString& AAltURL, const QString& AUserName,
                                 const QString& APassword, uint16_t APort, bool ABinary, bool ASaveToFile,
                                 const QString& AFileName, TDownloadEvent ACallback)
    : FURL(AURL), FAltURL(AAltURL), FUserName(AUserName), FPassword(APassword), FFileName(AFileName), FPort(APort),
      FBinary(ABinary), FSaveToFile(ASaveToFile), FCallback(std::move(ACallback))
{
    try {
        FThread = std::thread([this] { Execute(); });
    } catch (const std::system_error&) {
        // The system could not make the thread: the transfer ends here, failed.
        FError = QStringLiteral("The download thread could not be started.");
        FTerminated.store(true, std::memory_order_release);
        return;
    }
    // The thread's identifier is known from here on.
    std::unique_lock lock(FHandoverLock);
    FHandoverDone.wait(lock, [this] { return FThreadId != nullptr; });
}

TDownloadThread::~TDownloadThread()
{
    {
        const std::lock_guard lock(FHandoverLock);
        FHandoverClosed = true;
    }
    FHandoverDone.notify_all();
    Abort();
    WaitFor();
}

void TDownloadThread::Abort()
{
    FAborting = true;
    // Whoever takes the handle closes it; the worker, seeing the flag, uses it no more.
    if (const HINTERNET request = FRequest.exchange(nullptr))
        InternetCloseHandle(request);
}

void TDownloadThread::WaitFor()
{
    if (FThread.joinable())
        FThread.join();
}

void TDownloadThread::Execute()
{
    {
        const std::lock_guard lock(FHandoverLock);
        FThreadId = QThread::currentThreadId();
    }
    FHandoverDone.notify_all();
    FSuccess = DoDownload();
    QObject* const application = QCoreApplication::instance();
    // The owner may free the worker as soon as it sees the flag: nothing of it is touched after.
    FTerminated.store(true, std::memory_order_release);
    // Wakes an owner that waits for events, so that it sees the flag now.
    if (application)
        QMetaObject::invokeMethod(
            application, [] {}, Qt::QueuedConnection);
}

void TDownloadThread::ParseURL(const QString& URL, QString& Host, QString& Path)
{
    // Only a scheme at the start is one: an address whose query holds "http://" keeps its host.
    QString rest = URL;
    bool scheme = true;
    if (rest.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        rest.remove(0, 7);
    else if (rest.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        rest.remove(0, 8);
    else
        scheme = false;
    const qsizetype slash = rest.indexOf(u'/');
    if (slash < 0) {
        // With a scheme the text is a host alone; without one, a name relative to another address.
        Host = scheme ? rest : QString();
        Path = scheme ? QStringLiteral("/") : rest;
        return;
    }
    Host = rest.left(slash);
    Path = rest.mid(slash);
}

bool TDownloadThread::DoDownload()
{
    InternetHandles handles(FRequest);
    QFile file;
    try {
        QString host;
        QString path;
        ParseURL(FURL, host, path);
        // The address that gives the host gives the scheme: a relative name is fetched as the
        // other address is.
        const QString* hostAddress = &FURL;
        if (host.isEmpty()) {
            QString altPath;
            ParseURL(FAltURL, host, altPath);
            hostAddress = &FAltURL;
        }
        const bool secure = hostAddress->startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
        // Secure requests verify the server fully: no flag waives the host name or the dates.
        const DWORD flags =
            INTERNET_FLAG_RELOAD | (secure ? INTERNET_FLAG_SECURE | INTERNET_FLAG_PRAGMA_NOCACHE : DWORD{0});

        handles.Internet = InternetOpenW(u"TUpdateCheck", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        handles.Connection = InternetConnectW(handles.Internet, WStr(host), FPort, WStr(FUserName), WStr(FPassword),
                                              INTERNET_SERVICE_HTTP, 0, 0);
        LPCWSTR acceptTypes[] = {u"*/*", nullptr};
        const HINTERNET request =
            HttpOpenRequestW(handles.Connection, u"GET", WStr(path), u"HTTP/1.0", u"", acceptTypes, flags, 0);
        handles.Request = request;
        // An abort that came before the request was there has nothing to close: it ends here.
        if (FAborting)
            return false;
        // Not looked at: a request that could not be sent fails the steps below with its error.
        HttpSendRequestW(request, nullptr, 0, nullptr, 0);
        if (FAborting)
            return false;

        WCHAR lengthText[512];
        DWORD lengthSize = sizeof lengthText;
        DWORD index = 0;
        const bool announced = HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, lengthText, &lengthSize, &index);
        if (FAborting)
            return false;
        if (!announced && FBinary) {
            FError = LastErrorText();
            return false;
        }
        if (announced) {
            bool number = false;
            const int32_t value = FromWStr(lengthText, lengthSize / sizeof(WCHAR)).toInt(&number);
            FFileSize = number ? value : 0;
        }

        FDownloadedSize = 0;
        QByteArray page;
        if (FSaveToFile) {
            file.setFileName(FFileName);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                throw EFCreateError(QStringLiteral("Cannot create file \"%1\". %2").arg(FFileName, file.errorString()));
        }
        char buffer[1025];
        for (;;) {
            if (FAborting)
                return false;
            DWORD read = 0;
            if (!InternetReadFile(request, buffer, sizeof buffer, &read)) {
                // Cancelled by an abort: not the server's failure, and no partial success.
                if (FAborting)
                    return false;
                FError = LastErrorText();
                break;
            }
            FDownloadSize = read;
            if (FDownloadSize == 0)
                break;
            if (FSaveToFile) {
                // More bytes than announced can never end in success: stop rather than fill the disk.
                if (int64_t{FDownloadedSize} + FDownloadSize > int64_t{FFileSize})
                    throw Exception(QStringLiteral("The server sent more data than it announced."));
                if (file.write(buffer, read) != static_cast<qint64>(read))
                    throw EStreamError(QStringLiteral("Stream write error"));
            } else {
                if (FDownloadedSize + FDownloadSize > MaxPageSize)
                    throw Exception(QStringLiteral("The page is larger than %1 bytes.").arg(MaxPageSize));
                // A chunk's text ends at a zero byte. The bytes are converted once the page is
                // complete, so that a character split between two chunks stays whole.
                const char* const end = std::find(buffer, buffer + read, '\0');
                page.append(buffer, end - buffer);
            }
            FDownloadedSize += FDownloadSize;
            Synchronize();
        }

        bool result = false;
        QString text;
        if (FSaveToFile) {
            result = int64_t{FFileSize} == int64_t{FDownloadedSize};
            file.close();
        } else {
            text = AnsiToString(std::string_view(page.constData(), static_cast<size_t>(page.size())));
            text.truncate(static_cast<qsizetype>(FDownloadedSize));
            // A read that failed after some bytes still delivers what came, with the error kept.
            result = FDownloadedSize != 0;
        }
        handles.Close();
        if (result && !FSaveToFile)
            FInfo = SplitLines(text);
        return result;
    } catch (const Exception& error) {
        FError = error.Message();
    } catch (const std::exception& error) {
        FError = QString::fromUtf8(error.what());
    }
    return false;
}

void TDownloadThread::DoProgress()
{
    if (FCallback)
        FCallback(this, FFileSize, static_cast<int32_t>(FDownloadedSize));
}

void TDownloadThread::Synchronize()
{
    // Without an application there is no event loop to hand the progress to.
    if (!QCoreApplication::instance())
        return;
    uint64_t ticket = 0;
    {
        const std::lock_guard lock(FHandoverLock);
        if (FHandoverClosed)
            return;
        ticket = ++FHandoversPosted;
    }
    // Runs in the thread the worker object lives in, its creator's; if the worker is destroyed
    // first, the call is dropped with it and the destructor has released the wait below.
    QMetaObject::invokeMethod(
        this,
        [this] {
            DoProgress();
            {
                const std::lock_guard lock(FHandoverLock);
                ++FHandoversRun;
            }
            FHandoverDone.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(FHandoverLock);
    FHandoverDone.wait(lock, [this, ticket] { return FHandoverClosed || FHandoversRun >= ticket; });
}
