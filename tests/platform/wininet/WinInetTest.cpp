// The wininet stand-in against loopback servers: the request as the update check makes it, TLS
// with the system's trust store only and full verification, the errors of failed transfers and
// their texts, lengths, partial bodies, credentials, redirections and cancelling a read.
#include "platform/include/win/wininet.h"

#include "platform/include/win/winbase.h"
#include "platform/include/win/winerror.h"
#include "tests/platform/wininet/LoopbackHttpServer.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

using testsupport::Fixture;
using testsupport::HttpRequest;
using testsupport::HttpResponse;
using testsupport::LoopbackHttpServer;

namespace {

std::u16string Wide(const std::string& s)
{
    return {s.begin(), s.end()};
}

// The system's text for an error, without its line end; empty when it has none.
std::u16string MessageText(DWORD error)
{
    WCHAR buffer[512];
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                   buffer, 512, nullptr);
    std::u16string text(buffer, n);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n'))
        text.pop_back();
    return text;
}

// A session, a connection and a request, closed in the order the update check closes them.
struct Exchange {
    Exchange(const std::string& host, uint16_t port, const std::string& path, DWORD flags,
             const std::u16string& user = {}, const std::u16string& password = {})
    {
        Internet = InternetOpenW(u"TUpdateCheck", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        Connection = InternetConnectW(Internet, Wide(host).c_str(), port, user.c_str(), password.c_str(),
                                      INTERNET_SERVICE_HTTP, 0, 0);
        LPCWSTR accept[] = {u"*/*", nullptr};
        Request = HttpOpenRequestW(Connection, u"GET", Wide(path).c_str(), u"HTTP/1.0", u"", accept, flags, 0);
    }
    ~Exchange()
    {
        for (HINTERNET h : {Request, Connection, Internet})
            if (h)
                InternetCloseHandle(h);
    }
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    // Sends; the last error when that failed, else ERROR_SUCCESS.
    DWORD Send()
    {
        SetLastError(ERROR_SUCCESS);
        return HttpSendRequestW(Request, nullptr, 0, nullptr, 0) ? ERROR_SUCCESS : GetLastError();
    }

    // Reads to the end in chunks of the update check's size; the error that ended it, if any.
    DWORD ReadAll(std::string& body, size_t* largestChunk = nullptr)
    {
        char buffer[1025];
        for (;;) {
            DWORD read = 0;
            if (!InternetReadFile(Request, buffer, sizeof buffer, &read))
                return GetLastError();
            if (read == 0)
                return ERROR_SUCCESS;
            if (largestChunk)
                *largestChunk = std::max<size_t>(*largestChunk, read);
            body.append(buffer, read);
        }
    }

    HINTERNET Internet = nullptr;
    HINTERNET Connection = nullptr;
    HINTERNET Request = nullptr;
};

constexpr DWORD PlainFlags = INTERNET_FLAG_RELOAD;
constexpr DWORD SecureFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_SECURE | INTERNET_FLAG_PRAGMA_NOCACHE;

HttpResponse Page(std::string body)
{
    HttpResponse response;
    response.Body = std::move(body);
    return response;
}

class WinInetTest : public ::testing::Test {
protected:
    void SetUp() override { TrustTestRoot(); }
    void TearDown() override { setenv("SSL_CERT_FILE", Fixture("no-trust.pem").c_str(), 1); }
    static void TrustTestRoot() { setenv("SSL_CERT_FILE", Fixture("tls/ca.pem").c_str(), 1); }

    static std::unique_ptr<LoopbackHttpServer> Https(const std::string& certificate, LoopbackHttpServer::Handler h)
    {
        return std::make_unique<LoopbackHttpServer>(std::move(h), Fixture("tls/" + certificate),
                                                    Fixture("tls/server.key"));
    }
};

TEST_F(WinInetTest, SendsTheRequestAsTheUpdateCheckMakesIt)
{
    const std::string body(5000, 'x');
    LoopbackHttpServer server([&](const HttpRequest&) { return Page(body); });
    Exchange exchange("127.0.0.1", server.Port(), "/dir/page.html?from=http://elsewhere/", PlainFlags);
    ASSERT_EQ(exchange.Send(), ERROR_SUCCESS);

    WCHAR length[512];
    DWORD size = sizeof length;
    DWORD index = 0;
    ASSERT_TRUE(HttpQueryInfoW(exchange.Request, HTTP_QUERY_CONTENT_LENGTH, length, &size, &index));
    EXPECT_EQ(std::u16string(length, size / sizeof(WCHAR)), u"5000");
    EXPECT_EQ(index, 1u);

    std::string received;
    size_t largest = 0;
    EXPECT_EQ(exchange.ReadAll(received, &largest), ERROR_SUCCESS);
    EXPECT_EQ(received, body);
    // Each read fills the buffer until the body runs out.
    EXPECT_EQ(largest, 1025u);

    const std::vector<HttpRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const HttpRequest& r = requests.front();
    EXPECT_EQ(r.Method, "GET");
    EXPECT_EQ(r.Target, "/dir/page.html?from=http://elsewhere/");
    EXPECT_EQ(r.Version, "HTTP/1.0");
    EXPECT_EQ(r.Header("Accept"), "*/*");
    EXPECT_EQ(r.Header("User-Agent"), "TUpdateCheck");
    EXPECT_EQ(r.Header("Host"), "127.0.0.1:" + std::to_string(server.Port()));
    EXPECT_FALSE(r.Header("Pragma"));
    EXPECT_FALSE(r.Header("Authorization"));
}

TEST_F(WinInetTest, SecureRequestsTrustTheSystemStoreAndBypassCaches)
{
    auto server = Https("server.pem", [](const HttpRequest&) { return Page("secure page"); });
    Exchange exchange("127.0.0.1", server->Port(), "/webupdate.html", SecureFlags);
    ASSERT_EQ(exchange.Send(), ERROR_SUCCESS);
    DWORD status = 0;
    DWORD size = sizeof status;
    ASSERT_TRUE(
        HttpQueryInfoW(exchange.Request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr));
    EXPECT_EQ(status, 200u);
    std::string body;
    EXPECT_EQ(exchange.ReadAll(body), ERROR_SUCCESS);
    EXPECT_EQ(body, "secure page");
    ASSERT_EQ(server->RequestCount(), 1u);
    EXPECT_EQ(server->Requests().front().Header("Pragma"), "no-cache");
}

TEST_F(WinInetTest, SecureRequestsRefuseServersThatCannotProveTheirIdentity)
{
    struct Case {
        const char* Certificate;
        bool TrustRoot;
        DWORD Error;
    };
    // The flags that waive the name and the dates weaken nothing.
    const DWORD waiving = SecureFlags | INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
    const Case cases[] = {
        {"other-host.pem", true, ERROR_INTERNET_SEC_CERT_CN_INVALID},
        {"expired.pem", true, ERROR_INTERNET_SEC_CERT_DATE_INVALID},
        // The test root is not in the system's store: the program's bundled roots do not count.
        {"server.pem", false, ERROR_INTERNET_INVALID_CA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Certificate);
        if (c.TrustRoot)
            TrustTestRoot();
        else
            setenv("SSL_CERT_FILE", Fixture("no-trust.pem").c_str(), 1);
        auto server = Https(c.Certificate, [](const HttpRequest&) { return Page("must not be read"); });
        for (const DWORD flags : {SecureFlags, waiving}) {
            Exchange exchange("127.0.0.1", server->Port(), "/webupdate.html", flags);
            EXPECT_EQ(exchange.Send(), c.Error);
            std::string body;
            EXPECT_EQ(exchange.ReadAll(body), c.Error);
            EXPECT_TRUE(body.empty());
        }
        EXPECT_EQ(server->RequestCount(), 0u);
        EXPECT_FALSE(MessageText(c.Error).empty());
    }
}

TEST_F(WinInetTest, FailuresAreReportedByEveryLaterCallWithTheirOwnWords)
{
    const testsupport::RefusingPort refusing;

    LoopbackHttpServer silent([](const HttpRequest&) {
        HttpResponse r = Page("late");
        r.HoldBeforeAnswer = true;
        return r;
    });

    struct Case {
        const char* What;
        std::string Host;
        uint16_t Port;
        DWORD Error;
    };
    const Case cases[] = {
        {"connection refused", "127.0.0.1", refusing.Port(), ERROR_INTERNET_CANNOT_CONNECT},
        // A port written into the host name stays part of it: no such name.
        {"host not found", "127.0.0.1:" + std::to_string(silent.Port()), 80, ERROR_INTERNET_NAME_NOT_RESOLVED},
        {"no host", "", 80, ERROR_INTERNET_NAME_NOT_RESOLVED},
        {"timeout", "127.0.0.1", silent.Port(), ERROR_INTERNET_TIMEOUT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        Exchange exchange(c.Host, c.Port, "/page.html", PlainFlags);
        DWORD timeout = 300;
        ASSERT_TRUE(InternetSetOptionW(exchange.Request, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout));
        EXPECT_EQ(exchange.Send(), c.Error);
        WCHAR text[512];
        DWORD size = sizeof text;
        DWORD index = 0;
        EXPECT_FALSE(HttpQueryInfoW(exchange.Request, HTTP_QUERY_CONTENT_LENGTH, text, &size, &index));
        EXPECT_EQ(GetLastError(), c.Error);
        std::string body;
        EXPECT_EQ(exchange.ReadAll(body), c.Error);
        EXPECT_FALSE(MessageText(c.Error).empty());
    }
    silent.Release();
}

TEST_F(WinInetTest, AnswersTheContentLengthOnlyWhenTheServerAnnouncedIt)
{
    LoopbackHttpServer server([](const HttpRequest& r) {
        HttpResponse response = Page("0123456789");
        response.AnnounceLength = r.Target != "/unannounced";
        return response;
    });
    {
        Exchange exchange("127.0.0.1", server.Port(), "/unannounced", PlainFlags);
        ASSERT_EQ(exchange.Send(), ERROR_SUCCESS);
        WCHAR text[512];
        DWORD size = sizeof text;
        EXPECT_FALSE(HttpQueryInfoW(exchange.Request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);
        EXPECT_FALSE(MessageText(ERROR_HTTP_HEADER_NOT_FOUND).empty());
        // The body then ends when the connection does.
        std::string body;
        EXPECT_EQ(exchange.ReadAll(body), ERROR_SUCCESS);
        EXPECT_EQ(body, "0123456789");
    }
    Exchange exchange("127.0.0.1", server.Port(), "/announced", PlainFlags);
    ASSERT_EQ(exchange.Send(), ERROR_SUCCESS);
    WCHAR small[2];
    DWORD size = sizeof small;
    EXPECT_FALSE(HttpQueryInfoW(exchange.Request, HTTP_QUERY_CONTENT_LENGTH, small, &size, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, 3 * sizeof(WCHAR)); // "10" and its NUL
    DWORD number = 0;
    size = sizeof number;
    ASSERT_TRUE(
        HttpQueryInfoW(exchange.Request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &number, &size, nullptr));
    EXPECT_EQ(number, 10u);
    DWORD second = 1;
    size = sizeof small;
    EXPECT_FALSE(HttpQueryInfoW(exchange.Request, HTTP_QUERY_CONTENT_LENGTH, small, &size, &second));
    EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);
}

TEST_F(WinInetTest, DeliversWhatArrivedBeforeAConnectionBrokeOff)
{
    const std::string body(5000, 'p');
    LoopbackHttpServer server([&](const HttpRequest&) {
        HttpResponse response = Page(body);
        response.CutAfter = 3000;
        return response;
    });
    Exchange exchange("127.0.0.1", server.Port(), "/setup.bin", PlainFlags);
    ASSERT_EQ(exchange.Send(), ERROR_SUCCESS);
    std::string received;
    EXPECT_EQ(exchange.ReadAll(received), ERROR_INTERNET_CONNECTION_ABORTED);
    EXPECT_EQ(received, body.substr(0, 3000));
}

TEST_F(WinInetTest, LargeBodiesArriveWholeWhateverTheReadersPace)
{
    std::string body(3 * 1024 * 1024 + 7, '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 7 + i / 1000);
    LoopbackHttpServer server([&](const HttpRequest&) { return Page(body); });
    Exchange exchange("127.0.0.1", server.Port(), "/big", PlainFlags);
    ASSERT_EQ(exchange.Send(), ERROR_SUCCESS);
    // A reader that lingers lets the transfer fill its buffer and wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::string received;
    EXPECT_EQ(exchange.ReadAll(received), ERROR_SUCCESS);
    EXPECT_TRUE(received == body);
}

TEST_F(WinInetTest, SendsCredentialsWhenTheServerAsksForThem)
{
    LoopbackHttpServer server([](const HttpRequest& r) {
        if (r.Header("Authorization") == "Basic dXNlcjpzZWNyZXQ=") // user:secret
            return Page("welcome");
        HttpResponse denied = Page("who are you?");
        denied.Status = 401;
        denied.Reason = "Unauthorized";
        denied.Headers.emplace_back("WWW-Authenticate", "Basic realm=\"updates\"");
        return denied;
    });
    Exchange exchange("127.0.0.1", server.Port(), "/private.html", PlainFlags, u"user", u"secret");
    ASSERT_EQ(exchange.Send(), ERROR_SUCCESS);
    std::string body;
    EXPECT_EQ(exchange.ReadAll(body), ERROR_SUCCESS);
    EXPECT_EQ(body, "welcome");
    // Without credentials nothing is sent unasked, and the server's own answer is the body.
    Exchange anonymous("127.0.0.1", server.Port(), "/private.html", PlainFlags);
    ASSERT_EQ(anonymous.Send(), ERROR_SUCCESS);
    std::string refusal;
    EXPECT_EQ(anonymous.ReadAll(refusal), ERROR_SUCCESS);
    EXPECT_EQ(refusal, "who are you?");
}

TEST_F(WinInetTest, FollowsRedirectionsButNeverFromSecureToPlain)
{
    LoopbackHttpServer plain([](const HttpRequest& r) {
        if (r.Target == "/new.html")
            return Page("moved here");
        HttpResponse moved = Page("see elsewhere");
        moved.Status = 302;
        moved.Reason = "Found";
        moved.Headers.emplace_back("Location", "/new.html");
        return moved;
    });
    {
        Exchange exchange("127.0.0.1", plain.Port(), "/old.html", PlainFlags);
        ASSERT_EQ(exchange.Send(), ERROR_SUCCESS);
        std::string body;
        EXPECT_EQ(exchange.ReadAll(body), ERROR_SUCCESS);
        EXPECT_EQ(body, "moved here");
    }
    const std::string target = "http://127.0.0.1:" + std::to_string(plain.Port()) + "/new.html";
    auto secure = Https("server.pem", [&](const HttpRequest&) {
        HttpResponse moved = Page("");
        moved.Status = 302;
        moved.Reason = "Found";
        moved.Headers.emplace_back("Location", target);
        return moved;
    });
    Exchange exchange("127.0.0.1", secure->Port(), "/webupdate.html", SecureFlags);
    EXPECT_NE(exchange.Send(), ERROR_SUCCESS);
    EXPECT_EQ(plain.RequestCount(), 2u);
}

// True while the thread waits in poll(): inside a read, once it has looked its handle up.
bool WaitsInPoll(pid_t thread)
{
    std::ifstream file("/proc/self/task/" + std::to_string(thread) + "/syscall");
    long number = -1;
    file >> number;
#ifdef SYS_poll
    if (number == SYS_poll)
        return true;
#endif
    return number == SYS_ppoll;
}

TEST_F(WinInetTest, ClosingARequestEndsAReadThatWaits)
{
    LoopbackHttpServer server([](const HttpRequest&) {
        HttpResponse response = Page(std::string(100, 'h'));
        response.HoldAfter = 10;
        return response;
    });
    Exchange exchange("127.0.0.1", server.Port(), "/held", PlainFlags);
    ASSERT_EQ(exchange.Send(), ERROR_SUCCESS);
    std::atomic<pid_t> readerId{0};
    BOOL result = TRUE;
    DWORD error = 0;
    std::thread reader([&] {
        readerId = gettid();
        char buffer[1025];
        DWORD read = 0;
        result = InternetReadFile(exchange.Request, buffer, sizeof buffer, &read);
        error = GetLastError();
    });
    // The reader waits for the rest of its chunk; the handle goes meanwhile.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((readerId == 0 || !WaitsInPoll(readerId)) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(InternetCloseHandle(exchange.Request));
    reader.join();
    exchange.Request = nullptr;
    EXPECT_FALSE(result);
    EXPECT_EQ(error, ERROR_INTERNET_OPERATION_CANCELLED);
    server.Release();
}

// A server that sends a byte now and then cannot hold a read longer than the receive timeout:
// what came is delivered, and the timeout follows.
TEST_F(WinInetTest, AReadEndsWithinTheReceiveTimeoutHoweverTheServerSpacesItsBytes)
{
    using namespace std::chrono_literals;
    LoopbackHttpServer server([](const HttpRequest&) {
        HttpResponse response = Page(std::string(100, 't'));
        response.TrickleEvery = 100ms;
        return response;
    });
    Exchange exchange("127.0.0.1", server.Port(), "/slow", PlainFlags);
    DWORD timeout = 500;
    ASSERT_TRUE(InternetSetOptionW(exchange.Request, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout));
    ASSERT_EQ(exchange.Send(), ERROR_SUCCESS);
    const auto start = std::chrono::steady_clock::now();
    std::string received;
    EXPECT_EQ(exchange.ReadAll(received), ERROR_INTERNET_TIMEOUT);
    const auto took = std::chrono::steady_clock::now() - start;
    // The whole body would take 10 s.
    EXPECT_LT(took, 3s) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    EXPECT_FALSE(received.empty());
    EXPECT_LT(received.size(), 100u);
    EXPECT_EQ(received, std::string(received.size(), 't'));
}

TEST_F(WinInetTest, RefusesHandlesOfTheWrongKindAndLineBreaksInHeaderTexts)
{
    // A line break would start a header line of the caller's making.
    EXPECT_EQ(InternetOpenW(u"TUpdateCheck\r\nX-Injected: 1", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    HINTERNET internet = InternetOpenW(u"TUpdateCheck", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    ASSERT_NE(internet, nullptr);
    LPCWSTR accept[] = {u"*/*", nullptr};
    EXPECT_EQ(HttpOpenRequestW(internet, u"GET", u"/", u"HTTP/1.0", u"", accept, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    DWORD read = 0;
    char buffer[16];
    EXPECT_FALSE(InternetReadFile(internet, buffer, sizeof buffer, &read));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    EXPECT_TRUE(InternetCloseHandle(internet));
    // Closed handles and made-up ones are no handles.
    EXPECT_FALSE(InternetCloseHandle(internet));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(InternetConnectW(nullptr, u"h", 80, u"", u"", INTERNET_SERVICE_HTTP, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    HINTERNET session = InternetOpenW(u"TUpdateCheck", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET connection = InternetConnectW(session, u"127.0.0.1", 80, u"", u"", INTERNET_SERVICE_HTTP, 0, 0);
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(HttpOpenRequestW(connection, u"GET", u"/", u"HTTP/1.0", u"http://h/\nX-Injected: 1", accept, 0, 0),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    InternetCloseHandle(connection);
    InternetCloseHandle(session);
}

} // namespace
