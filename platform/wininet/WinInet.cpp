// wininet on libcurl: sessions, connections and requests behind opaque handles. Sessions and
// connections only hold settings; a request owns one transfer (Transfer.h).
#include "platform/include/win/wininet.h"

#include "platform/common/WinStr.h"
#include "platform/include/win/winbase.h"
#include "platform/include/win/winerror.h"
#include "platform/wininet/Transfer.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace {

using wininet::ProxyMode;
using wininet::RequestSettings;
using wininet::Timeouts;
using wininet::Transfer;

struct Object {
    virtual ~Object() = default;
    std::mutex Lock; // guards the settings below and in the derived objects
};

// A session or a connection: the settings that handles made from it start with.
struct Template final : Object {
    explicit Template(bool connection) : Connection(connection) {}
    const bool Connection;
    RequestSettings Settings;
};

struct Request final : Object {
    explicit Request(const RequestSettings& settings) : Limits(settings.Limits), Exchange(settings) {}
    Timeouts Limits;
    Transfer Exchange;
};

// Handle values are never reused, so a stale handle can only miss, never hit another object.
class HandleTable {
public:
    HINTERNET Add(std::shared_ptr<Object> object)
    {
        const std::lock_guard lock(FLock);
        FNext += 4;
        FObjects.emplace(FNext, std::move(object));
        return reinterpret_cast<HINTERNET>(FNext);
    }

    [[nodiscard]] std::shared_ptr<Object> Find(HINTERNET handle)
    {
        const std::lock_guard lock(FLock);
        const auto found = FObjects.find(reinterpret_cast<uintptr_t>(handle));
        return found == FObjects.end() ? nullptr : found->second;
    }

    [[nodiscard]] std::shared_ptr<Object> Remove(HINTERNET handle)
    {
        const std::lock_guard lock(FLock);
        const auto found = FObjects.find(reinterpret_cast<uintptr_t>(handle));
        if (found == FObjects.end())
            return nullptr;
        std::shared_ptr<Object> object = std::move(found->second);
        FObjects.erase(found);
        return object;
    }

private:
    std::mutex FLock;
    std::unordered_map<uintptr_t, std::shared_ptr<Object>> FObjects;
    uintptr_t FNext = 0x1000;
};

HandleTable& Handles()
{
    static HandleTable table;
    return table;
}

template <typename T> T* Failed(DWORD error)
{
    SetLastError(error);
    return nullptr;
}

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// The object of a handle when it is of the wanted kind; otherwise null with the last error set.
template <typename T> std::shared_ptr<T> Lookup(HINTERNET handle)
{
    const std::shared_ptr<Object> object = Handles().Find(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    std::shared_ptr<T> typed = std::dynamic_pointer_cast<T>(object);
    if (!typed)
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return typed;
}

std::shared_ptr<Template> LookupTemplate(HINTERNET handle, bool connection)
{
    std::shared_ptr<Template> t = Lookup<Template>(handle);
    if (t && t->Connection != connection) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        return nullptr;
    }
    return t;
}

std::string Utf8(LPCWSTR text)
{
    return winstr::ToUtf8(winstr::View(text));
}

// Text that goes into a header line whole: a line break in it would start a header of its own.
bool OneLine(const std::string& text)
{
    return text.find_first_of("\r\n") == std::string::npos;
}

// Windows separates bypass entries with semicolons or blanks; "<local>" (names without a dot)
// has no counterpart in curl's list and is left out.
std::string BypassList(LPCWSTR bypass)
{
    std::string list;
    std::string entry;
    const std::string text = Utf8(bypass) + ';';
    for (const char c : text) {
        if (c != ';' && c != ' ' && c != ',' && c != '\t') {
            entry += c;
            continue;
        }
        if (!entry.empty() && entry != "<local>")
            list += (list.empty() ? "" : ",") + entry;
        entry.clear();
    }
    return list;
}

// Header text of HttpSendRequestW: dwHeadersLength -1 (or 0) means up to the NUL.
std::string HeaderText(LPCWSTR headers, DWORD length)
{
    if (!headers)
        return {};
    if (length == 0xFFFFFFFF || length == 0)
        return Utf8(headers);
    return winstr::ToUtf8(std::u16string_view(headers, length));
}

} // namespace

extern "C" {

HINTERNET WINAPI InternetOpenW(LPCWSTR lpszAgent, DWORD dwAccessType, LPCWSTR lpszProxy, LPCWSTR lpszProxyBypass,
                               DWORD dwFlags)
{
    // Only synchronous requests exist here: flags (asynchronous, offline, ...) cannot be honoured.
    if (dwFlags != 0)
        return Failed<void>(ERROR_INVALID_PARAMETER);
    auto session = std::make_shared<Template>(false);
    RequestSettings& s = session->Settings;
    s.Agent = Utf8(lpszAgent);
    if (!OneLine(s.Agent))
        return Failed<void>(ERROR_INVALID_PARAMETER);
    switch (dwAccessType) {
    case INTERNET_OPEN_TYPE_PRECONFIG:
    case 4: // INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY
        s.Proxy = ProxyMode::Environment;
        break;
    case INTERNET_OPEN_TYPE_DIRECT: s.Proxy = ProxyMode::Direct; break;
    case INTERNET_OPEN_TYPE_PROXY:
        s.Proxy = ProxyMode::Named;
        s.ProxyName = Utf8(lpszProxy);
        s.ProxyBypass = BypassList(lpszProxyBypass);
        if (s.ProxyName.empty())
            return Failed<void>(ERROR_INVALID_PARAMETER);
        break;
    default: return Failed<void>(ERROR_INVALID_PARAMETER);
    }
    return Handles().Add(std::move(session));
}

HINTERNET WINAPI InternetConnectW(HINTERNET hInternet, LPCWSTR lpszServerName, INTERNET_PORT nServerPort,
                                  LPCWSTR lpszUserName, LPCWSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                                  DWORD_PTR dwContext)
{
    const std::shared_ptr<Template> session = LookupTemplate(hInternet, false);
    if (!session)
        return nullptr;
    if (!lpszServerName || dwService != INTERNET_SERVICE_HTTP)
        return Failed<void>(ERROR_INVALID_PARAMETER);
    auto connection = std::make_shared<Template>(true);
    {
        const std::lock_guard lock(session->Lock);
        connection->Settings = session->Settings;
    }
    RequestSettings& s = connection->Settings;
    // An empty name is taken as given; it fails when the request is sent, as a name that cannot
    // be resolved.
    s.Host = Utf8(lpszServerName);
    s.Port = nServerPort;
    s.UserName = Utf8(lpszUserName);
    s.Password = Utf8(lpszPassword);
    return Handles().Add(std::move(connection));
}

HINTERNET WINAPI HttpOpenRequestW(HINTERNET hConnect, LPCWSTR lpszVerb, LPCWSTR lpszObjectName, LPCWSTR lpszVersion,
                                  LPCWSTR lpszReferrer, LPCWSTR* lplpszAcceptTypes, DWORD dwFlags, DWORD_PTR dwContext)
{
    const std::shared_ptr<Template> connection = LookupTemplate(hConnect, true);
    if (!connection)
        return nullptr;
    RequestSettings s;
    {
        const std::lock_guard lock(connection->Lock);
        s = connection->Settings;
    }
    s.Verb = lpszVerb && lpszVerb[0] ? Utf8(lpszVerb) : std::string("GET");
    if (s.Verb != "GET" && s.Verb != "HEAD")
        return Failed<void>(ERROR_NOT_SUPPORTED);
    const std::string version = Utf8(lpszVersion);
    if (!version.empty() && version != "HTTP/1.0" && version != "HTTP/1.1")
        return Failed<void>(ERROR_INVALID_PARAMETER);
    s.Http10 = version == "HTTP/1.0";
    s.Object = Utf8(lpszObjectName);
    s.Referrer = Utf8(lpszReferrer);
    for (LPCWSTR* type = lplpszAcceptTypes; type && *type; ++type)
        s.AcceptTypes.push_back(Utf8(*type));
    for (const std::string& text : s.AcceptTypes)
        if (!OneLine(text))
            return Failed<void>(ERROR_INVALID_PARAMETER);
    if (!OneLine(s.Referrer))
        return Failed<void>(ERROR_INVALID_PARAMETER);
    s.Secure = (dwFlags & INTERNET_FLAG_SECURE) != 0;
    s.PragmaNoCache = (dwFlags & INTERNET_FLAG_PRAGMA_NOCACHE) != 0;
    s.FollowRedirects = (dwFlags & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0;
    return Handles().Add(std::make_shared<Request>(s));
}

BOOL WINAPI HttpSendRequestW(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength, LPVOID lpOptional,
                             DWORD dwOptionalLength)
{
    const std::shared_ptr<Request> request = Lookup<Request>(hRequest);
    if (!request)
        return FALSE;
    // GET and HEAD carry no body.
    if (lpOptional && dwOptionalLength > 0)
        return Fail(ERROR_NOT_SUPPORTED);
    const DWORD error = request->Exchange.Send(HeaderText(lpszHeaders, dwHeadersLength));
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

BOOL WINAPI HttpQueryInfoW(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer, LPDWORD lpdwBufferLength,
                           LPDWORD lpdwIndex)
{
    const std::shared_ptr<Request> request = Lookup<Request>(hRequest);
    if (!request)
        return FALSE;
    if (!lpdwBufferLength)
        return Fail(ERROR_INVALID_PARAMETER);
    const DWORD level = dwInfoLevel & 0xFFFF;
    const DWORD modifiers = dwInfoLevel & 0xFFFF0000;
    if (modifiers != 0 && modifiers != HTTP_QUERY_FLAG_NUMBER)
        return Fail(ERROR_INVALID_PARAMETER);
    const DWORD index = lpdwIndex ? *lpdwIndex : 0;

    std::string value;
    if (level == HTTP_QUERY_CONTENT_LENGTH) {
        if (const DWORD error = request->Exchange.Header("Content-Length", index, value); error != ERROR_SUCCESS)
            return Fail(error);
    } else if (level == HTTP_QUERY_STATUS_CODE) {
        long code = 0;
        if (const DWORD error = request->Exchange.StatusCode(code); error != ERROR_SUCCESS)
            return Fail(error);
        if (index > 0)
            return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
        value = std::to_string(code);
    } else {
        return Fail(ERROR_NOT_SUPPORTED);
    }

    if (modifiers == HTTP_QUERY_FLAG_NUMBER) {
        if (value.empty() || value.size() > 10 || value.find_first_not_of("0123456789") != std::string::npos ||
            std::stoull(value) > 0xFFFFFFFFull)
            return Fail(ERROR_INVALID_DATA);
        if (!lpBuffer || *lpdwBufferLength < sizeof(DWORD)) {
            *lpdwBufferLength = sizeof(DWORD);
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        const auto number = static_cast<DWORD>(std::stoull(value));
        std::memcpy(lpBuffer, &number, sizeof number);
        *lpdwBufferLength = sizeof(DWORD);
    } else {
        const std::u16string text = winstr::FromLatin1(value);
        const DWORD needed = static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
        if (!lpBuffer || *lpdwBufferLength < needed) {
            *lpdwBufferLength = needed;
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        std::memcpy(lpBuffer, text.c_str(), needed);
        *lpdwBufferLength = needed - sizeof(WCHAR);
    }
    if (lpdwIndex)
        ++*lpdwIndex;
    return TRUE;
}

BOOL WINAPI InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                             LPDWORD lpdwNumberOfBytesRead)
{
    const std::shared_ptr<Request> request = Lookup<Request>(hFile);
    if (!request)
        return FALSE;
    if (!lpdwNumberOfBytesRead || (!lpBuffer && dwNumberOfBytesToRead > 0))
        return Fail(ERROR_INVALID_PARAMETER);
    *lpdwNumberOfBytesRead = 0;
    DWORD read = 0;
    const DWORD error = request->Exchange.Read(lpBuffer, dwNumberOfBytesToRead, read);
    if (error != ERROR_SUCCESS)
        return Fail(error);
    *lpdwNumberOfBytesRead = read;
    return TRUE;
}

BOOL WINAPI InternetSetOptionW(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength)
{
    if (dwOption != INTERNET_OPTION_CONNECT_TIMEOUT && dwOption != INTERNET_OPTION_RECEIVE_TIMEOUT)
        return Fail(ERROR_INTERNET_INVALID_OPTION);
    if (!lpBuffer || dwBufferLength < sizeof(DWORD))
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD milliseconds = 0;
    std::memcpy(&milliseconds, lpBuffer, sizeof milliseconds);
    const auto apply = [&](Timeouts& limits) {
        (dwOption == INTERNET_OPTION_CONNECT_TIMEOUT ? limits.ConnectMs : limits.ReceiveMs) = milliseconds;
    };
    const std::shared_ptr<Object> object = Handles().Find(hInternet);
    if (!object)
        return Fail(ERROR_INVALID_HANDLE);
    const std::lock_guard lock(object->Lock);
    if (auto* t = dynamic_cast<Template*>(object.get())) {
        apply(t->Settings.Limits);
    } else if (auto* r = dynamic_cast<Request*>(object.get())) {
        apply(r->Limits);
        r->Exchange.SetTimeouts(r->Limits);
    }
    return TRUE;
}

BOOL WINAPI InternetCloseHandle(HINTERNET hInternet)
{
    const std::shared_ptr<Object> object = Handles().Remove(hInternet);
    if (!object)
        return Fail(ERROR_INVALID_HANDLE);
    // A read in another thread holds its own reference; it ends now, and the transfer with it.
    if (auto* request = dynamic_cast<Request*>(object.get()))
        request->Exchange.Cancel();
    return TRUE;
}

} // extern "C"
