#include "platform/wintrust/CrlFetch.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <strings.h>
#include <sys/stat.h>

namespace wintrust {

namespace {

struct CurlCleanup {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using CurlPtr = std::unique_ptr<CURL, CurlCleanup>;
using BioPtr = std::unique_ptr<BIO, OsslFree<BIO_free>>;

// A server that did not answer is not asked again for this long: every file judged meanwhile
// would wait for it once more. An unreachable list fails nothing, so the verdicts stay the same.
constexpr int64_t SilenceMs = 2 * 60 * 1000;

struct Cache {
    std::mutex Lock;
    std::map<std::string, X509CrlPtr> Lists;
    // Servers (host and port) that did not answer in time or whose name did not resolve, and until
    // when they are left alone.
    std::map<std::string, int64_t> SilentServers;
    // A name lookup or connection to a server off this machine that ran out of time: the network
    // is not answering, and nothing is fetched until then.
    int64_t OfflineUntil = 0;
};

Cache& TheCache()
{
    static Cache cache;
    return cache;
}

void InitCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t Collect(char* data, size_t size, size_t count, void* user)
{
    auto* body = static_cast<Bytes*>(user);
    const size_t n = size * count;
    if (n > MaxCrlSize - std::min(body->size(), MaxCrlSize))
        return 0; // makes curl stop with a write error
    body->insert(body->end(), data, data + n);
    return n;
}

// Loopback is never sent through a proxy: tests serve their lists there.
std::string NoProxyList()
{
    std::string list = "127.0.0.1,localhost,::1";
    for (const char* name : {"no_proxy", "NO_PROXY"}) {
        if (const char* value = std::getenv(name); value && *value) {
            list += ',';
            list += value;
            break;
        }
    }
    return list;
}

struct Downloaded {
    X509CrlPtr Crl;
    bool TimedOut = false;
    bool Unresolved = false; // the name did not resolve (which may take a while to learn)
    bool Connected = false;
};

// "host:port" of an http URL, lower-cased; empty when there is none.
std::string ServerOf(const std::string& url)
{
    const size_t start = url.find("://");
    if (start == std::string::npos)
        return {};
    std::string server = url.substr(start + 3, url.find_first_of("/?#", start + 3) - (start + 3));
    if (const size_t at = server.rfind('@'); at != std::string::npos)
        server.erase(0, at + 1);
    for (char& c : server)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return server;
}

bool IsLoopback(const std::string& server)
{
    return server.starts_with("127.") || server.starts_with("localhost") || server.starts_with("[::1]");
}

Downloaded Download(const std::string& url, long timeoutMs)
{
    InitCurl();
    Downloaded result;
    const CurlPtr curl(curl_easy_init());
    if (!curl)
        return result;
    Bytes body;
    const std::string noProxy = NoProxyList();
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 3L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
#if LIBCURL_VERSION_NUM >= 0x075700
    // A name lookup still running when the time is up is left behind, not waited for at clean-up.
    curl_easy_setopt(c, CURLOPT_QUICK_EXIT, 1L);
#endif
    curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(c, CURLOPT_NOPROXY, noProxy.c_str());
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(MaxCrlSize));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
    const CURLcode code = curl_easy_perform(c);
    result.TimedOut = code == CURLE_OPERATION_TIMEDOUT;
    result.Unresolved = code == CURLE_COULDNT_RESOLVE_HOST;
    long connectCode = 0;
    double connectTime = 0;
    result.Connected = (curl_easy_getinfo(c, CURLINFO_HTTP_CONNECTCODE, &connectCode) == CURLE_OK && connectCode) ||
                       (curl_easy_getinfo(c, CURLINFO_CONNECT_TIME, &connectTime) == CURLE_OK && connectTime > 0);
    if (code != CURLE_OK || body.empty())
        return result;

    const unsigned char* p = body.data();
    result.Crl.reset(d2i_X509_CRL(nullptr, &p, static_cast<long>(body.size())));
    if (!result.Crl) {
        ERR_clear_error();
        const BioPtr bio(BIO_new_mem_buf(body.data(), static_cast<int>(body.size())));
        if (bio)
            result.Crl.reset(PEM_read_bio_X509_CRL(bio.get(), nullptr, nullptr, nullptr));
    }
    ERR_clear_error();
    return result;
}

X509CrlPtr Share(X509_CRL* crl)
{
    if (!crl || X509_CRL_up_ref(crl) != 1)
        return nullptr;
    return X509CrlPtr(crl);
}

int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

FetchBudget::FetchBudget(size_t fetches, long milliseconds)
    : FFetchesLeft(fetches), FMillisecondsLeft(milliseconds), FLastUsedMs(NowMs())
{
}

long FetchBudget::Take()
{
    const std::lock_guard guard(FLock);
    FLastUsedMs = NowMs();
    if (FFetchesLeft == 0 || FMillisecondsLeft <= 0)
        return 0;
    --FFetchesLeft;
    return static_cast<long>(std::min<int64_t>(FMillisecondsLeft, CrlFetchTimeoutMs));
}

void FetchBudget::Spend(int64_t milliseconds)
{
    const std::lock_guard guard(FLock);
    FMillisecondsLeft -= std::max<int64_t>(milliseconds, 0);
    FLastUsedMs = NowMs();
}

void FetchBudget::Stop()
{
    const std::lock_guard guard(FLock);
    FFetchesLeft = 0;
}

int64_t FetchBudget::LastUsedMs() const
{
    const std::lock_guard guard(FLock);
    return FLastUsedMs;
}

// A file's budget is kept this long after it was last used: verifications of one file follow
// each other closely, and a server that took the time is left alone by then anyway.
constexpr int64_t BudgetKeptMs = 30 * 1000;

std::shared_ptr<FetchBudget> FileFetchBudget(int fd, size_t fetches, long milliseconds)
{
    // A file is known by its device, inode, size and modification time: the same file named
    // twice shares its budget, a changed one gets a new one.
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0)
        return std::make_shared<FetchBudget>(fetches, milliseconds);
    const std::string key = std::to_string(info.st_dev) + ':' + std::to_string(info.st_ino) + ':' +
                            std::to_string(info.st_size) + ':' + std::to_string(info.st_mtim.tv_sec) + '.' +
                            std::to_string(info.st_mtim.tv_nsec);
    static std::mutex lock;
    static std::map<std::string, std::shared_ptr<FetchBudget>> budgets;
    const std::lock_guard guard(lock);
    const int64_t now = NowMs();
    std::erase_if(budgets, [now](const auto& entry) { return entry.second->LastUsedMs() + BudgetKeptMs < now; });
    auto& budget = budgets[key];
    if (!budget)
        budget = std::make_shared<FetchBudget>(fetches, milliseconds);
    return budget;
}

X509CrlPtr FetchCrl(const std::string& url, FetchBudget* budget)
{
    Cache& cache = TheCache();
    const std::string server = ServerOf(url);
    {
        const std::lock_guard lock(cache.Lock);
        if (const auto found = cache.Lists.find(url); found != cache.Lists.end())
            return Share(found->second.get());
        const int64_t now = NowMs();
        if (const auto silent = cache.SilentServers.find(server);
            silent != cache.SilentServers.end() && now < silent->second)
            return nullptr;
        if (now < cache.OfflineUntil && !IsLoopback(server))
            return nullptr;
    }
    const long timeoutMs = budget ? budget->Take() : 0;
    if (timeoutMs <= 0)
        return nullptr;
    // Fetched without the lock: a slow server must not hold up other threads' verifications.
    const int64_t started = NowMs();
    Downloaded downloaded = Download(url, timeoutMs);
    budget->Spend(NowMs() - started);
    if (downloaded.TimedOut)
        budget->Stop();
    if (!downloaded.Crl) {
        // A refused connection is learnt at once; what costs time to learn is remembered: no
        // answer, no name, and an answer that is no list (which may have been large).
        if (downloaded.TimedOut || downloaded.Unresolved || downloaded.Connected) {
            const std::lock_guard lock(cache.Lock);
            const int64_t until = NowMs() + SilenceMs;
            cache.SilentServers[server] = until;
            if (downloaded.TimedOut && !downloaded.Connected && !IsLoopback(server))
                cache.OfflineUntil = until;
        }
        return nullptr;
    }
    const std::lock_guard lock(cache.Lock);
    const auto [it, added] = cache.Lists.emplace(url, std::move(downloaded.Crl));
    return Share(it->second.get());
}

std::vector<std::string> CrlDistributionUrls(X509* cert)
{
    std::vector<std::string> urls;
    const DistPointsPtr points(
        static_cast<CRL_DIST_POINTS*>(X509_get_ext_d2i(cert, NID_crl_distribution_points, nullptr, nullptr)));
    ERR_clear_error();
    if (!points)
        return urls;
    for (int i = 0; i < sk_DIST_POINT_num(points.get()); ++i) {
        const DIST_POINT* point = sk_DIST_POINT_value(points.get(), i);
        if (!point || !point->distpoint || point->distpoint->type != 0)
            continue;
        const GENERAL_NAMES* names = point->distpoint->name.fullname;
        for (int j = 0; j < sk_GENERAL_NAME_num(names); ++j) {
            const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, j);
            if (!name || name->type != GEN_URI)
                continue;
            const auto bytes = StringBytes(name->d.uniformResourceIdentifier);
            std::string url(bytes.begin(), bytes.end());
            if (url.size() > 7 && strncasecmp(url.c_str(), "http://", 7) == 0 && url.find('\0') == std::string::npos)
                urls.push_back(std::move(url));
        }
    }
    return urls;
}

} // namespace wintrust
