// One HTTP request on libcurl, pulled by its reader: sending returns once the response's body
// begins, and reading waits for exactly as many bytes as asked for (or the end). curl receives in
// the background of those calls only, through a multi handle of its own, and is paused when the
// reader falls behind, so that memory stays bounded whatever the body's size. Each wait for the
// server is bounded as a whole, however the server spaces its bytes.
#pragma once

#include "platform/include/win/windef.h"

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace wininet {

struct Timeouts {
    // Name lookup, connection and TLS handshake.
    DWORD ConnectMs = 30'000;
    // The longest a send or a read waits for the server once connected, from the start of that
    // call (or the connection, when later), whether bytes trickle in or not.
    DWORD ReceiveMs = 30'000;
};

enum class ProxyMode { Environment, Direct, Named };

struct RequestSettings {
    std::string Agent;
    ProxyMode Proxy = ProxyMode::Environment;
    std::string ProxyName;
    std::string ProxyBypass; // comma-separated host names
    std::string Host;
    uint16_t Port = 0; // 0: the scheme's default
    std::string UserName;
    std::string Password;
    std::string Verb;   // "GET" or "HEAD"
    std::string Object; // the path and query as given
    std::string Referrer;
    std::vector<std::string> AcceptTypes;
    bool Secure = false;
    bool Http10 = false;
    bool PragmaNoCache = false;
    bool FollowRedirects = true;
    Timeouts Limits;
};

class Transfer {
public:
    explicit Transfer(RequestSettings settings);
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // Each answers a Win32 error code, ERROR_SUCCESS on success.
    // extraHeaders: "Name: value" lines separated by CR LF.
    [[nodiscard]] DWORD Send(std::string_view extraHeaders);
    [[nodiscard]] DWORD Read(void* buffer, DWORD count, DWORD& read);
    // The index-th (from 0) value of a response header of the final response.
    [[nodiscard]] DWORD Header(std::string_view name, DWORD index, std::string& value);
    [[nodiscard]] DWORD StatusCode(long& code);
    void SetTimeouts(const Timeouts& limits);

    // From any thread: a Send or Read running now or later ends with ERROR_INTERNET_OPERATION_CANCELLED.
    void Cancel();

private:
    enum class State { Ready, Sent, Failed };
    using Clock = std::chrono::steady_clock;

    [[nodiscard]] std::string Url() const;
    [[nodiscard]] DWORD Configure(std::string_view extraHeaders);
    // Lets curl work until enough() holds, the transfer ends or fails; answers the failure.
    [[nodiscard]] DWORD Drive(const std::function<bool()>& enough);
    void CollectCompletion();
    [[nodiscard]] DWORD ErrorOfCompletion() const;
    void Fail(DWORD error);
    [[nodiscard]] size_t Unread() const { return FBody.size() - FBodyRead; }

    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static int OnConnected(void* self, char*, char*, int, int);
    static CURLcode OnTlsContext(CURL*, void* sslContext, void*);

    RequestSettings FSettings;
    std::mutex FLock; // one caller at a time
    std::atomic<bool> FCancelled{false};

    CURLM* FMulti = nullptr;
    CURL* FEasy = nullptr;
    curl_slist* FHeaders = nullptr;
    std::string FUrl;
    std::string FNoProxy;

    State FState = State::Ready;
    DWORD FFailure = 0;
    bool FHeadersValid = false; // the final response's headers have arrived
    bool FDone = false;
    CURLcode FResult = CURLE_OK;
    bool FConnected = false;
    Clock::time_point FConnectedAt;

    std::vector<std::pair<std::string, std::string>> FResponseHeaders;
    size_t FResponseHeaderBytes = 0;

    std::vector<char> FBody;
    size_t FBodyRead = 0;
    size_t FWanted = 0;
    bool FBodyStarted = false;
    bool FPaused = false;
};

} // namespace wininet
