#include "tests/platform/wininet/LoopbackHttpServer.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <stdexcept>

namespace testsupport {

namespace {

// Generous bounds: they only keep a broken test from hanging.
constexpr auto HoldLimit = std::chrono::seconds(60);
constexpr int IoTimeoutMs = 20'000;
constexpr size_t MaxRequestSize = 64 * 1024;

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// One accepted connection, plain or TLS.
class Connection {
public:
    Connection(int socket, SSL_CTX* tls) : FSocket(socket)
    {
        timeval timeout{IoTimeoutMs / 1000, 0};
        setsockopt(FSocket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        setsockopt(FSocket, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        if (tls) {
            FSsl = SSL_new(tls);
            SSL_set_fd(FSsl, FSocket);
        }
    }
    ~Connection()
    {
        if (FSsl)
            SSL_free(FSsl);
        close(FSocket);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Handshake()
    {
        if (!FSsl)
            return true;
        const bool ok = SSL_accept(FSsl) == 1;
        ERR_clear_error();
        return ok;
    }

    ssize_t Read(char* buffer, size_t size)
    {
        if (!FSsl)
            return recv(FSocket, buffer, size, 0);
        const int n = SSL_read(FSsl, buffer, static_cast<int>(size));
        ERR_clear_error();
        return n;
    }

    bool Write(std::string_view data)
    {
        while (!data.empty()) {
            ssize_t n = 0;
            if (FSsl) {
                n = SSL_write(FSsl, data.data(), static_cast<int>(data.size()));
                ERR_clear_error();
            } else {
                n = send(FSocket, data.data(), data.size(), MSG_NOSIGNAL);
            }
            if (n <= 0)
                return false;
            data.remove_prefix(static_cast<size_t>(n));
        }
        return true;
    }

    // An orderly end, so that a body without a length ends cleanly for the client.
    void Finish()
    {
        if (FSsl) {
            SSL_shutdown(FSsl);
            ERR_clear_error();
        }
        shutdown(FSocket, SHUT_WR);
    }

private:
    int FSocket;
    SSL* FSsl = nullptr;
};

std::optional<HttpRequest> ReadRequest(Connection& connection)
{
    std::string text;
    char chunk[4096];
    while (text.find("\r\n\r\n") == std::string::npos) {
        if (text.size() > MaxRequestSize)
            return std::nullopt;
        const ssize_t n = connection.Read(chunk, sizeof chunk);
        if (n <= 0)
            return std::nullopt;
        text.append(chunk, static_cast<size_t>(n));
    }
    HttpRequest request;
    std::string_view rest(text.data(), text.find("\r\n\r\n") + 2);
    bool first = true;
    while (!rest.empty()) {
        const size_t end = rest.find("\r\n");
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end + 2);
        if (first) {
            const size_t a = line.find(' ');
            const size_t b = line.rfind(' ');
            if (a == std::string_view::npos || b == a)
                return std::nullopt;
            request.Method = line.substr(0, a);
            request.Target = line.substr(a + 1, b - a - 1);
            request.Version = line.substr(b + 1);
            first = false;
        } else if (const size_t colon = line.find(':'); colon != std::string_view::npos) {
            request.Headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
        }
    }
    return request;
}

} // namespace

std::optional<std::string> HttpRequest::Header(std::string_view name) const
{
    for (const auto& [key, value] : Headers)
        if (SameName(key, name))
            return value;
    return std::nullopt;
}

LoopbackHttpServer::LoopbackHttpServer(Handler handler) : FHandler(std::move(handler))
{
    Start();
}

LoopbackHttpServer::LoopbackHttpServer(Handler handler, const std::filesystem::path& certificate,
                                       const std::filesystem::path& key)
    : FHandler(std::move(handler))
{
    FTls = SSL_CTX_new(TLS_server_method());
    if (!FTls || SSL_CTX_use_certificate_chain_file(FTls, certificate.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(FTls, key.c_str(), SSL_FILETYPE_PEM) != 1)
        throw std::runtime_error("cannot load the server's certificate " + certificate.string());
    Start();
}

void LoopbackHttpServer::Start()
{
    // A client that goes away mid-answer must not end the test program.
    std::signal(SIGPIPE, SIG_IGN);
    FSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (FSocket < 0 || bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(FSocket, 16) != 0 || getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error(std::string("cannot listen on loopback: ") + std::strerror(errno));
    FPort = ntohs(address.sin_port);
    if (pipe2(FWake, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("cannot make a pipe: ") + std::strerror(errno));
    FAcceptor = std::thread([this] { Accept(); });
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    FStop = true;
    {
        const std::lock_guard lock(FLock);
        FReleased = true;
    }
    FChanged.notify_all();
    if (FWake[1] >= 0)
        (void)write(FWake[1], "x", 1);
    if (FAcceptor.joinable())
        FAcceptor.join();
    for (std::thread& connection : FConnections)
        connection.join();
    if (FSocket >= 0)
        close(FSocket);
    for (const int end : FWake)
        if (end >= 0)
            close(end);
    if (FTls)
        SSL_CTX_free(FTls);
}

std::string LoopbackHttpServer::Address(const std::string& path) const
{
    return std::string(FTls ? "https://127.0.0.1" : "http://127.0.0.1") + path;
}

std::vector<HttpRequest> LoopbackHttpServer::Requests() const
{
    const std::lock_guard lock(FLock);
    return FRequests;
}

size_t LoopbackHttpServer::RequestCount() const
{
    const std::lock_guard lock(FLock);
    return FRequests.size();
}

bool LoopbackHttpServer::WaitForRequests(size_t count) const
{
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, HoldLimit, [&] { return FRequests.size() >= count; });
}

void LoopbackHttpServer::Release()
{
    {
        const std::lock_guard lock(FLock);
        FReleased = true;
    }
    FChanged.notify_all();
}

void LoopbackHttpServer::Accept()
{
    while (!FStop) {
        pollfd waiting[2] = {{FSocket, POLLIN, 0}, {FWake[0], POLLIN, 0}};
        if (poll(waiting, 2, -1) <= 0 || !(waiting[0].revents & POLLIN))
            continue;
        const int client = accept4(FSocket, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0)
            FConnections.emplace_back([this, client] { Serve(client); });
    }
}

void LoopbackHttpServer::Serve(int client)
{
    Connection connection(client, FTls);
    if (!connection.Handshake()) {
        ++FFailedHandshakes;
        return;
    }
    const std::optional<HttpRequest> request = ReadRequest(connection);
    if (!request)
        return;
    {
        const std::lock_guard lock(FLock);
        FRequests.push_back(*request);
    }
    FChanged.notify_all();
    const HttpResponse response = FHandler(*request);
    const auto hold = [this] {
        std::unique_lock lock(FLock);
        FChanged.wait_for(lock, HoldLimit, [this] { return FReleased; });
    };
    if (response.HoldBeforeAnswer)
        hold();

    std::string head = "HTTP/1.0 " + std::to_string(response.Status) + ' ' + response.Reason + "\r\n";
    for (const auto& [name, value] : response.Headers)
        head += name + ": " + value + "\r\n";
    if (response.AnnounceLength)
        head += "Content-Length: " + std::to_string(response.AnnouncedLength.value_or(response.Body.size())) + "\r\n";
    head += "Connection: close\r\n\r\n";
    if (!connection.Write(head))
        return;

    std::string_view body = response.Body;
    if (response.CutAfter && *response.CutAfter < body.size()) {
        // Broken off: no orderly end.
        connection.Write(body.substr(0, *response.CutAfter));
        return;
    }
    if (response.TrickleEvery) {
        for (size_t i = 0; i < body.size(); ++i) {
            if (!connection.Write(body.substr(i, 1)))
                return;
            std::unique_lock lock(FLock);
            if (FChanged.wait_for(lock, *response.TrickleEvery, [this] { return FStop.load(); }))
                return;
        }
        connection.Finish();
        return;
    }
    if (response.HoldAfter && *response.HoldAfter < body.size()) {
        if (!connection.Write(body.substr(0, *response.HoldAfter)))
            return;
        body.remove_prefix(*response.HoldAfter);
        hold();
    }
    if (connection.Write(body))
        connection.Finish();
}

RefusingPort::RefusingPort()
{
    FSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (FSocket < 0 || bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error(std::string("cannot bind on loopback: ") + std::strerror(errno));
    FPort = ntohs(address.sin_port);
}

RefusingPort::~RefusingPort()
{
    if (FSocket >= 0)
        close(FSocket);
}

std::string MetaLine(const std::string& name, const std::string& content)
{
    return "<META NAME=\"" + name + "\" CONTENT=\"" + content + "\">";
}

} // namespace testsupport
