// ShellExecuteExW for the verbs the program uses:
//  - "properties": the desktop's file manager shows the file's properties
//    (org.freedesktop.FileManager1.ShowItemProperties on the session bus); when none answers, a
//    properties window of our own;
//  - "open": the desktop's opener for the file, or for the address when the "file" is a URL
//    (https:, mailto:, ...), as Windows opens registered protocols.
// Other verbs have no association here. ShellExecuteW is the same call in its short form.
#include "platform/include/win/shellapi.h"

#include "platform/common/FileSource.h"
#include "platform/common/WinStr.h"
#include "platform/include/win/winbase.h"
#include "platform/shell32ui/PropertiesWindow.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QThread>
#include <QUrl>
#include <QWidget>

namespace {

// Not in winerror.h: the verb has no application associated with it.
constexpr DWORD ErrorNoAssociation = 1155;
// ShellExecute's own results in hInstApp: above 32 is success.
constexpr uintptr_t SeSuccess = 33;
constexpr uintptr_t SeErrFileNotFound = 2;
constexpr uintptr_t SeErrNoAssociation = 31;

const QString FileManagerService = QStringLiteral("org.freedesktop.FileManager1");
const QString FileManagerPath = QStringLiteral("/org/freedesktop/FileManager1");
const QString FileManagerInterface = QStringLiteral("org.freedesktop.FileManager1");
// A file manager that is started for the call needs a moment; one that has hung must not hold the
// program's window for long.
constexpr int FileManagerTimeoutMs = 4000;

QString ToQString(LPCWSTR text)
{
    const std::u16string_view view = winstr::View(text);
    return QString::fromUtf16(view.data(), static_cast<qsizetype>(view.size()));
}

std::u16string_view View(const QString& text)
{
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size())};
}

// The file's address from its name's bytes, which need not be UTF-8.
QUrl FileUrl(const QString& absolutePath)
{
    return QUrl::fromEncoded(QByteArray::fromStdString(winstr::FileUrl(View(absolutePath))), QUrl::StrictMode);
}

BOOL Fail(SHELLEXECUTEINFOW& info, DWORD error, uintptr_t shellError)
{
    info.hInstApp = reinterpret_cast<HINSTANCE>(shellError);
    SetLastError(error);
    return FALSE;
}

BOOL Succeed(SHELLEXECUTEINFOW& info)
{
    info.hInstApp = reinterpret_cast<HINSTANCE>(SeSuccess);
    return TRUE;
}

bool OnGuiThread()
{
    const auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
    return application && QThread::currentThread() == application->thread();
}

// A live widget's window, never dereferencing a handle that is not one.
QWidget* WindowOf(HWND handle)
{
    auto* const candidate = reinterpret_cast<QWidget*>(handle);
    if (!handle || reinterpret_cast<HANDLE>(handle) == INVALID_HANDLE_VALUE)
        return nullptr;
    const QWidgetList widgets = QApplication::allWidgets();
    for (QWidget* widget : widgets)
        if (widget == candidate)
            return widget->window();
    return nullptr;
}

// True when a file manager took the request: any answer but a plain reply (no bus, no such
// service, an error, no answer in time) means no.
bool AskFileManager(const QString& path)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(FileManagerService, FileManagerPath, FileManagerInterface, QStringLiteral("ShowItemProperties"));
    call << QStringList{FileUrl(path).toString(QUrl::FullyEncoded)} << QString();
    const QDBusMessage reply = bus.call(call, QDBus::Block, FileManagerTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

BOOL ShowProperties(SHELLEXECUTEINFOW& info, const QString& path)
{
    if (!OnGuiThread())
        return Fail(info, ERROR_NOT_SUPPORTED, SeErrNoAssociation);
    if (!AskFileManager(path))
        shell32ui::ShowPropertiesWindow(path, WindowOf(info.hwnd));
    return Succeed(info);
}

BOOL Open(SHELLEXECUTEINFOW& info, const QUrl& target)
{
    if (!OnGuiThread())
        return Fail(info, ERROR_NOT_SUPPORTED, SeErrNoAssociation);
    if (!QDesktopServices::openUrl(target))
        return Fail(info, ErrorNoAssociation, SeErrNoAssociation);
    return Succeed(info);
}

// "scheme:..." with a scheme of two characters or more: a drive letter ("C:") is none.
bool IsUrl(const QString& text)
{
    const qsizetype colon = text.indexOf(u':');
    if (colon < 2 || !text[0].isLetter() || text[0].unicode() > 0x7F)
        return false;
    for (qsizetype i = 1; i < colon; ++i) {
        const char16_t c = text[i].unicode();
        const bool letterOrDigit = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
        if (!letterOrDigit && c != u'+' && c != u'-' && c != u'.')
            return false;
    }
    return true;
}

} // namespace

extern "C" BOOL WINAPI ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo)
{
    if (!pExecInfo || pExecInfo->cbSize != sizeof(SHELLEXECUTEINFOW)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SHELLEXECUTEINFOW& info = *pExecInfo;
    info.hInstApp = nullptr;
    info.hProcess = nullptr;

    const QString file = ToQString(info.lpFile);
    if (file.isEmpty())
        return Fail(info, ERROR_FILE_NOT_FOUND, SeErrFileNotFound);
    // No verb is the default verb, "open"; verbs are compared as Windows does, without case.
    const QString verb = ToQString(info.lpVerb);
    const bool open = verb.isEmpty() || verb.compare(QLatin1String("open"), Qt::CaseInsensitive) == 0;
    if (IsUrl(file)) {
        const QUrl url(file, QUrl::StrictMode);
        if (!url.isValid())
            return Fail(info, ERROR_FILE_NOT_FOUND, SeErrFileNotFound);
        return open ? Open(info, url) : Fail(info, ErrorNoAssociation, SeErrNoAssociation);
    }
    const QString directory = info.lpDirectory && info.lpDirectory[0] ? ToQString(info.lpDirectory) : QDir::currentPath();
    const QString path = QFileInfo(QDir(directory), file).absoluteFilePath();
    // Asked by the name's own bytes: Qt's file classes cannot reach every name Linux allows.
    if (KindOfFile(winstr::ToFileSystem(View(path))) == FileKind::Missing)
        return Fail(info, ERROR_FILE_NOT_FOUND, SeErrFileNotFound);

    if (verb.compare(QLatin1String("properties"), Qt::CaseInsensitive) == 0)
        return ShowProperties(info, path);
    if (open)
        return Open(info, FileUrl(path));
    return Fail(info, ErrorNoAssociation, SeErrNoAssociation);
}

extern "C" HINSTANCE WINAPI ShellExecuteW(HWND hwnd, LPCWSTR lpOperation, LPCWSTR lpFile, LPCWSTR lpParameters,
                                          LPCWSTR lpDirectory, INT nShowCmd)
{
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.hwnd = hwnd;
    info.lpVerb = lpOperation;
    info.lpFile = lpFile;
    info.lpParameters = lpParameters;
    info.lpDirectory = lpDirectory;
    info.nShow = nShowCmd;
    ShellExecuteExW(&info);
    return info.hInstApp;
}
