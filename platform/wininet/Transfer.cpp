#include "platform/wininet/Transfer.h"

#include "platform/include/win/winerror.h"
#include "platform/include/win/wininet.h"

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace wininet {

namespace {

// curl is held back once this much of the body waits unread (or what the reader asked for, when
// that is more): a slow reader never makes the transfer buffer the whole body.
constexpr size_t HighWater = 64 * 1024;
// Header lines kept of one response; the rest is not looked at.
constexpr size_t MaxHeaderBytes = 64 * 1024;
constexpr int MaxRedirections = 10;

void InitCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

bool IsIpv6(const std::string& text)
{
    in6_addr address{};
    return inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

// A name, an IPv4 address or an IPv6 address (bracketed or not). Anything that would change the
// meaning of the address it is put into (a port, user information, a path) cannot be resolved.
bool ValidHost(const std::string& host)
{
    if (host.empty())
        return false;
    if (host.front() == '[')
        return host.size() > 2 && host.back() == ']' && IsIpv6(host.substr(1, host.size() - 2));
    if (host.find(':') != std::string::npos)
        return IsIpv6(host);
    return std::none_of(host.begin(), host.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= 0x20 || u == 0x7F || std::strchr("/?#@[]\\%\"<>^`{|}", c) != nullptr;
    });
}

// The object name as a request target: rooted, with bytes that may not appear in one escaped.
std::string RequestTarget(std::string_view object)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string target;
    if (object.empty() || object.front() != '/')
        target += '/';
    for (const char c : object) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || std::strchr("\"<>\\^`{|}", c) != nullptr) {
            target += '%';
            target += Hex[u >> 4];
            target += Hex[u & 0xF];
        } else {
            target += c;
        }
    }
    return target;
}

// Loopback is never reached through a proxy.
std::string NoProxyList(std::string_view more)
{
    std::string list = "127.0.0.1,localhost,::1";
    if (!more.empty()) {
        list += ',';
        list += more;
    }
    return list;
}

std::string EnvironmentNoProxy()
{
    for (const char* name : {"no_proxy", "NO_PROXY"})
        if (const char* value = std::getenv(name); value && *value)
            return value;
    return {};
}

DWORD CertificateError(long verifyResult)
{
    switch (verifyResult) {
    // curl checks the host name itself once the handshake (and so the chain) has passed, and
    // before it reads the chain's result: a refused name leaves the result at OK or at curl's
    // "not yet verified" mark, X509_V_ERR_UNSPECIFIED.
    case X509_V_OK:
    case X509_V_ERR_UNSPECIFIED:
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: return ERROR_INTERNET_SEC_CERT_CN_INVALID;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD: return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED: return ERROR_INTERNET_INVALID_CA;
    default: return ERROR_INTERNET_SEC_INVALID_CERT;
    }
}

DWORD ErrorFromCurl(CURLcode code, long verifyResult)
{
    switch (code) {
    case CURLE_OK: return ERROR_SUCCESS;
    case CURLE_UNSUPPORTED_PROTOCOL: return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_URL_MALFORMAT: return ERROR_INTERNET_INVALID_URL;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST: return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT: return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT: return ERROR_INTERNET_TIMEOUT;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_GOT_NOTHING:
    case CURLE_BAD_CONTENT_ENCODING: return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_PARTIAL_FILE: return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR: return ERROR_INTERNET_CONNECTION_RESET;
    case CURLE_TOO_MANY_REDIRECTS: return ERROR_HTTP_REDIRECT_FAILED;
    case CURLE_OUT_OF_MEMORY: return ERROR_NOT_ENOUGH_MEMORY;
    case CURLE_ABORTED_BY_CALLBACK: return ERROR_INTERNET_OPERATION_CANCELLED;
    case CURLE_PEER_FAILED_VERIFICATION: return CertificateError(verifyResult);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS: return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    default: return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

} // namespace

Transfer::Transfer(RequestSettings settings) : FSettings(std::move(settings))
{
    InitCurl();
    FMulti = curl_multi_init();
    FEasy = curl_easy_init();
}

Transfer::~Transfer()
{
    if (FMulti && FEasy)
        curl_multi_remove_handle(FMulti, FEasy);
    if (FEasy)
        curl_easy_cleanup(FEasy);
    if (FMulti)
        curl_multi_cleanup(FMulti);
    curl_slist_free_all(FHeaders);
}

std::string Transfer::Url() const
{
    const std::string& host = FSettings.Host;
    const bool bracket = host.front() != '[' && host.find(':') != std::string::npos;
    const uint16_t port = FSettings.Port ? FSettings.Port : (FSettings.Secure ? 443 : 80);
    return std::string(FSettings.Secure ? "https://" : "http://") + (bracket ? "[" + host + "]" : host) + ':' +
           std::to_string(port) + RequestTarget(FSettings.Object);
}

DWORD Transfer::Configure(std::string_view extraHeaders)
{
    if (!FMulti || !FEasy)
        return ERROR_NOT_ENOUGH_MEMORY;
    if (!ValidHost(FSettings.Host))
        return ERROR_INTERNET_NAME_NOT_RESOLVED;
    FUrl = Url();
    CURL* const c = FEasy;
    curl_easy_setopt(c, CURLOPT_URL, FUrl.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    // Never from a secure address to a plain one.
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, FSettings.Secure ? "https" : "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, FSettings.FollowRedirects ? 1L : 0L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, static_cast<long>(MaxRedirections));
    curl_easy_setopt(c, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION,
                     static_cast<long>(FSettings.Http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1));
    if (FSettings.Verb == "HEAD")
        curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
#if LIBCURL_VERSION_NUM >= 0x075700
    // A name lookup still running when the request is closed is left behind, not waited for.
    curl_easy_setopt(c, CURLOPT_QUICK_EXIT, 1L);
#endif
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(FSettings.Limits.ConnectMs));

    // TLS trusts the system's store alone, through OpenSSL's default paths (SSL_CERT_FILE and
    // SSL_CERT_DIR included), never curl's built-in bundle path; the server proves chain, host
    // name and dates. Set for plain requests too: a redirection may lead to HTTPS.
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(c, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(c, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(c, CURLOPT_SSL_CTX_FUNCTION, &Transfer::OnTlsContext);
    curl_easy_setopt(c, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
#if LIBCURL_VERSION_NUM >= 0x075700
    curl_easy_setopt(c, CURLOPT_CA_CACHE_TIMEOUT, 0L);
#endif

    switch (FSettings.Proxy) {
    case ProxyMode::Environment: FNoProxy = NoProxyList(EnvironmentNoProxy()); break;
    case ProxyMode::Direct:
        curl_easy_setopt(c, CURLOPT_PROXY, "");
        FNoProxy = NoProxyList({});
        break;
    case ProxyMode::Named:
        curl_easy_setopt(c, CURLOPT_PROXY, FSettings.ProxyName.c_str());
        FNoProxy = NoProxyList(FSettings.ProxyBypass);
        break;
    }
    curl_easy_setopt(c, CURLOPT_NOPROXY, FNoProxy.c_str());

    if (!FSettings.UserName.empty()) {
        curl_easy_setopt(c, CURLOPT_USERNAME, FSettings.UserName.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, FSettings.Password.c_str());
        curl_easy_setopt(c, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
    }
    if (!FSettings.Agent.empty())
        curl_easy_setopt(c, CURLOPT_USERAGENT, FSettings.Agent.c_str());
    if (!FSettings.Referrer.empty())
        curl_easy_setopt(c, CURLOPT_REFERER, FSettings.Referrer.c_str());

    std::vector<std::string> lines;
    std::string accept = "Accept:";
    for (size_t i = 0; i < FSettings.AcceptTypes.size(); ++i)
        accept += (i ? ", " : " ") + FSettings.AcceptTypes[i];
    lines.push_back(accept); // without types no Accept line at all
    if (FSettings.PragmaNoCache)
        lines.emplace_back("Pragma: no-cache");
    while (!extraHeaders.empty()) {
        const size_t end = extraHeaders.find_first_of("\r\n");
        const std::string_view line = Trim(extraHeaders.substr(0, end));
        if (!line.empty() && line.find(':') != std::string_view::npos)
            lines.emplace_back(line);
        extraHeaders.remove_prefix(end == std::string_view::npos ? extraHeaders.size() : end + 1);
    }
    for (const std::string& line : lines) {
        curl_slist* const next = curl_slist_append(FHeaders, line.c_str());
        if (!next)
            return ERROR_NOT_ENOUGH_MEMORY;
        FHeaders = next;
    }
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, FHeaders);

    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(c, CURLOPT_PREREQFUNCTION, &Transfer::OnConnected);
    curl_easy_setopt(c, CURLOPT_PREREQDATA, this);

    if (curl_multi_add_handle(FMulti, FEasy) != CURLM_OK)
        return ERROR_INTERNET_INTERNAL_ERROR;
    return ERROR_SUCCESS;
}

DWORD Transfer::Drive(const std::function<bool()>& enough)
{
    const Clock::time_point waitStart = Clock::now();
    for (;;) {
        if (FCancelled)
            return ERROR_INTERNET_OPERATION_CANCELLED;
        int running = 0;
        if (curl_multi_perform(FMulti, &running) != CURLM_OK)
            return ERROR_INTERNET_INTERNAL_ERROR;
        CollectCompletion();
        if (FDone || enough())
            return ERROR_SUCCESS;
        // The receive timeout bounds this wait as a whole, counted from its start or the
        // connection, whichever is later: a server that sends a byte now and then cannot stretch
        // it, and time the reader spent elsewhere is not the server's.
        int waitMs = 1000;
        if (FConnected && !FPaused) {
            const Clock::time_point since = std::max(FConnectedAt, waitStart);
            const auto left = std::chrono::milliseconds(FSettings.Limits.ReceiveMs) - (Clock::now() - since);
            if (left <= Clock::duration::zero()) {
                return ERROR_INTERNET_TIMEOUT;
            }
            const auto leftMs = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            waitMs = static_cast<int>(std::clamp<decltype(leftMs)>(leftMs, 1, 1000));
        }
        if (curl_multi_poll(FMulti, nullptr, 0, waitMs, nullptr) != CURLM_OK)
            return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

void Transfer::CollectCompletion()
{
    int left = 0;
    while (const CURLMsg* message = curl_multi_info_read(FMulti, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == FEasy) {
            FDone = true;
            FResult = message->data.result;
        }
    }
}

DWORD Transfer::ErrorOfCompletion() const
{
    long verifyResult = X509_V_OK;
    curl_easy_getinfo(FEasy, CURLINFO_SSL_VERIFYRESULT, &verifyResult);
    return ErrorFromCurl(FResult, verifyResult);
}

void Transfer::Fail(DWORD error)
{
    if (FState == State::Failed)
        return;
    FState = State::Failed;
    FFailure = error;
    // Closes the connection now rather than when the handle goes.
    curl_multi_remove_handle(FMulti, FEasy);
}

DWORD Transfer::Send(std::string_view extraHeaders)
{
    const std::lock_guard lock(FLock);
    if (FState != State::Ready)
        return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    FState = State::Sent;
    DWORD error = Configure(extraHeaders);
    if (error == ERROR_SUCCESS)
        error = Drive([this] { return FBodyStarted; });
    if (error == ERROR_SUCCESS && FDone && !FBodyStarted)
        error = ErrorOfCompletion();
    if (error != ERROR_SUCCESS) {
        Fail(error);
        return error;
    }
    FHeadersValid = true;
    return ERROR_SUCCESS;
}

DWORD Transfer::Read(void* buffer, DWORD count, DWORD& read)
{
    const std::lock_guard lock(FLock);
    read = 0;
    if (FState == State::Ready)
        return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    if (FCancelled)
        return ERROR_INTERNET_OPERATION_CANCELLED;
    if (FState == State::Sent && !FDone && Unread() < count) {
        FWanted = count;
        if (FPaused) {
            FPaused = false;
            curl_easy_pause(FEasy, CURLPAUSE_CONT);
        }
        const DWORD error = Drive([this, count] { return Unread() >= count; });
        FWanted = 0;
        if (error == ERROR_INTERNET_OPERATION_CANCELLED)
            return error;
        if (error != ERROR_SUCCESS)
            Fail(error);
    }
    if (FState == State::Sent && FDone && FResult != CURLE_OK)
        Fail(ErrorOfCompletion());
    // What arrived before a failure is delivered first; the failure comes with the next read.
    const size_t n = std::min<size_t>(count, Unread());
    if (n == 0 && FState == State::Failed)
        return FFailure;
    if (n > 0)
        std::memcpy(buffer, FBody.data() + FBodyRead, n);
    FBodyRead += n;
    if (FBodyRead == FBody.size() || FBodyRead >= HighWater) {
        FBody.erase(FBody.begin(), FBody.begin() + static_cast<std::ptrdiff_t>(FBodyRead));
        FBodyRead = 0;
    }
    read = static_cast<DWORD>(n);
    return ERROR_SUCCESS;
}

DWORD Transfer::Header(std::string_view name, DWORD index, std::string& value)
{
    const std::lock_guard lock(FLock);
    if (!FHeadersValid)
        return FState == State::Ready ? ERROR_INTERNET_INCORRECT_HANDLE_STATE : FFailure;
    for (const auto& [key, text] : FResponseHeaders) {
        if (!EqualsIgnoreCase(key, name))
            continue;
        if (index-- == 0) {
            value = text;
            return ERROR_SUCCESS;
        }
    }
    return ERROR_HTTP_HEADER_NOT_FOUND;
}

DWORD Transfer::StatusCode(long& code)
{
    const std::lock_guard lock(FLock);
    if (!FHeadersValid)
        return FState == State::Ready ? ERROR_INTERNET_INCORRECT_HANDLE_STATE : FFailure;
    code = 0;
    curl_easy_getinfo(FEasy, CURLINFO_RESPONSE_CODE, &code);
    return ERROR_SUCCESS;
}

void Transfer::SetTimeouts(const Timeouts& limits)
{
    const std::lock_guard lock(FLock);
    FSettings.Limits = limits;
}

void Transfer::Cancel()
{
    FCancelled = true;
    if (FMulti)
        curl_multi_wakeup(FMulti);
}

size_t Transfer::OnHeader(char* data, size_t size, size_t count, void* self)
{
    auto* const t = static_cast<Transfer*>(self);
    const size_t n = size * count;
    const std::string_view line = Trim(std::string_view(data, n));
    if (line.substr(0, 5) == "HTTP/") {
        // Each response (a redirection, an authentication round, the final one) starts afresh.
        t->FResponseHeaders.clear();
        t->FResponseHeaderBytes = 0;
    } else if (const size_t colon = line.find(':');
               colon != std::string_view::npos && t->FResponseHeaderBytes + n <= MaxHeaderBytes) {
        t->FResponseHeaders.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
        t->FResponseHeaderBytes += n;
    }
    return n;
}

size_t Transfer::OnBody(char* data, size_t size, size_t count, void* self)
{
    auto* const t = static_cast<Transfer*>(self);
    const size_t n = size * count;
    if (t->Unread() > 0 && t->Unread() >= std::max(HighWater, t->FWanted)) {
        t->FPaused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    t->FBody.insert(t->FBody.end(), data, data + n);
    t->FBodyStarted = true;
    return n;
}

int Transfer::OnConnected(void* self, char*, char*, int, int)
{
    auto* const t = static_cast<Transfer*>(self);
    t->FConnected = true;
    t->FConnectedAt = Clock::now();
    return CURL_PREREQFUNC_OK;
}

CURLcode Transfer::OnTlsContext(CURL*, void* sslContext, void*)
{
    return SSL_CTX_set_default_verify_paths(static_cast<SSL_CTX*>(sslContext)) == 1 ? CURLE_OK
                                                                                    : CURLE_SSL_CACERT_BADFILE;
}

} // namespace wininet
