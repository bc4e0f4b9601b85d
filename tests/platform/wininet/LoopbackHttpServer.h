// An HTTP or HTTPS server on 127.0.0.1 and a port of the system's choosing, for the update-check
// tests: it records every request and answers each with what the test's handler says, including
// answers that break off, hold back or leave out their length.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

struct ssl_ctx_st;

namespace testsupport {

struct HttpRequest {
    std::string Method;
    std::string Target;
    std::string Version;
    std::vector<std::pair<std::string, std::string>> Headers;

    // The first header of that name (compared without case).
    [[nodiscard]] std::optional<std::string> Header(std::string_view name) const;
};

struct HttpResponse {
    int Status = 200;
    std::string Reason = "OK";
    std::vector<std::pair<std::string, std::string>> Headers;
    std::string Body;
    // The Content-Length line: the body's length, another length, or none at all.
    bool AnnounceLength = true;
    std::optional<size_t> AnnouncedLength;
    // Sends this many bytes of the body, then waits for Release() before sending the rest.
    std::optional<size_t> HoldAfter;
    // Waits for Release() before answering at all.
    bool HoldBeforeAnswer = false;
    // Sends this many bytes of the body, then drops the connection.
    std::optional<size_t> CutAfter;
    // Sends the body a byte at a time, this long apart: a server that is slow, not silent. Ends
    // when the server stops.
    std::optional<std::chrono::milliseconds> TrickleEvery;
};

class LoopbackHttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    // Plain HTTP.
    explicit LoopbackHttpServer(Handler handler);
    // HTTPS with a certificate (PEM, the chain below the root) and its key.
    LoopbackHttpServer(Handler handler, const std::filesystem::path& certificate, const std::filesystem::path& key);
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    [[nodiscard]] uint16_t Port() const { return FPort; }
    // "http://127.0.0.1" or "https://127.0.0.1" followed by path: the port is given apart, as the
    // update check takes it.
    [[nodiscard]] std::string Address(const std::string& path) const;
    [[nodiscard]] std::vector<HttpRequest> Requests() const;
    [[nodiscard]] size_t RequestCount() const;
    // Waits, within a generous bound, until count requests have arrived.
    bool WaitForRequests(size_t count) const;
    // TLS handshakes the client broke off (it refused the certificate).
    [[nodiscard]] int FailedHandshakes() const { return FFailedHandshakes; }
    // Lets held answers go on, now and from now on.
    void Release();

private:
    void Start();
    void Accept();
    void Serve(int client);

    Handler FHandler;
    ssl_ctx_st* FTls = nullptr; // OpenSSL's SSL_CTX, kept out of this header
    int FSocket = -1;
    int FWake[2] = {-1, -1}; // written to when the server stops, so that accepting ends at once
    uint16_t FPort = 0;
    std::atomic<bool> FStop{false};
    std::atomic<int> FFailedHandshakes{0};
    std::thread FAcceptor;
    std::vector<std::thread> FConnections;

    mutable std::mutex FLock;
    mutable std::condition_variable FChanged;
    std::vector<HttpRequest> FRequests;
    bool FReleased = false;
};

// A loopback port that refuses connections: bound, so that nobody else takes it, and never
// listening.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    [[nodiscard]] uint16_t Port() const { return FPort; }

private:
    int FSocket = -1;
    uint16_t FPort = 0;
};

// A page line that carries one named meta tag, as the vendor writes them.
[[nodiscard]] std::string MetaLine(const std::string& name, const std::string& content);

} // namespace testsupport
