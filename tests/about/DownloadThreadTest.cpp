// The download worker against loopback servers: addresses taken apart, text and binary mode,
// progress handed to the creating thread, aborts and the files a failure leaves.
#include "about/DownloadThread.h"

#include "platform/include/win/wininet.h"
#include "tests/about/AboutTestSupport.h"
#include "tests/support/QtApplication.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestSupport.h"

#include <QThread>

#include <gtest/gtest.h>

#include <memory>

using namespace abouttest;
using testsupport::HttpRequest;
using testsupport::HttpResponse;
using testsupport::LoopbackHttpServer;

namespace {

const auto& App = testsupport::Application();

struct Progress {
    QObject* Sender;
    bool InCreatingThread;
    int32_t Total;
    int32_t Downloaded;
};

struct Options {
    QString AltURL;
    bool Binary = false;
    bool SaveToFile = false;
    QString FileName;
    TDownloadEvent Callback;
};

// A worker run to its end while this thread processes its events, as the update check waits.
std::unique_ptr<TDownloadThread> Download(const QString& url, uint16_t port, Options options = {})
{
    auto worker = std::make_unique<TDownloadThread>(url, options.AltURL, QString(), QString(), port, options.Binary,
                                                    options.SaveToFile, options.FileName, options.Callback);
    EXPECT_TRUE(WaitUntil([&] { return worker->Terminated(); }));
    return worker;
}

HttpResponse Body(std::string body)
{
    HttpResponse response;
    response.Body = std::move(body);
    return response;
}

TEST(ParseURL, TakesHostAndPathApart)
{
    struct Case {
        const char* URL;
        const char* Host;
        const char* Path;
    };
    const Case cases[] = {
        {"https://h/webupdate.html", "h", "/webupdate.html"},
        {"HTTP://Tessera.Example/Dir/Page.html", "Tessera.Example", "/Dir/Page.html"},
        {"hTtPs://h/", "h", "/"},
        // A scheme only counts at the start: the query's address is no host.
        {"http://h/page?next=http://evil.example/x", "h", "/page?next=http://evil.example/x"},
        {"https://h/a?u=https://evil.example/b", "h", "/a?u=https://evil.example/b"},
        {"https://h/a?u=http://evil.example/b", "h", "/a?u=http://evil.example/b"},
        // A host alone.
        {"https://h", "h", "/"},
        // No "/": a name relative to another address.
        {"setup.zip", "", "setup.zip"},
        {"", "", ""},
        // Without a scheme the text up to the first "/" is the host.
        {"h/dir/x", "h", "/dir/x"},
        {"http:///x", "", "/x"},
        // Port and user information stay in the host; the port comes from elsewhere.
        {"http://h:8080/x", "h:8080", "/x"},
        {"http://user@h/x", "user@h", "/x"},
    };
    for (const Case& c : cases) {
        QString host = QStringLiteral("stale");
        QString path = QStringLiteral("stale");
        TDownloadThread::ParseURL(QString::fromLatin1(c.URL), host, path);
        EXPECT_EQ(host, QString::fromLatin1(c.Host)) << c.URL;
        EXPECT_EQ(path, QString::fromLatin1(c.Path)) << c.URL;
    }
}

TEST(DownloadThread, CollectsTheBodyAsLinesEndedByCrLfOrCrLf)
{
    LoopbackHttpServer server([](const HttpRequest&) { return Body("one\r\ntwo\rthree\nfour\r\n\r\nsix\r\n"); });
    const auto worker = Download(Q(server.Address("/page.html")), server.Port());
    EXPECT_TRUE(worker->Success());
    EXPECT_EQ(worker->Error(), QString());
    EXPECT_EQ(worker->Info(), QStringList({"one", "two", "three", "four", "", "six"}));
}

TEST(DownloadThread, ConvertsTheWholePageSoThatNoCharacterBreaksAtAChunk)
{
    // "é" is two bytes in UTF-8; the first ends the first chunk of 1025 bytes. A zero byte ends
    // the text of its chunk.
    const std::string first = std::string(1024, 'a') + "\xC3";
    const std::string second = std::string("\xA9 done\r\nnext") + '\0' + "hidden";
    LoopbackHttpServer server([&](const HttpRequest&) { return Body(first + second); });
    const auto worker = Download(Q(server.Address("/page.html")), server.Port());
    ASSERT_TRUE(worker->Success());
    EXPECT_EQ(worker->Info(), QStringList({QString(1024, u'a') + QStringLiteral("é done"), "next"}));
}

TEST(DownloadThread, HandsEveryChunksProgressToTheCreatingThread)
{
    LoopbackHttpServer server([](const HttpRequest&) { return Body(std::string(3000, 'x')); });
    std::vector<Progress> calls;
    Options options;
    options.Callback = [&](QObject* sender, int32_t total, int32_t downloaded) {
        calls.push_back({sender, QThread::currentThread() == App.thread(), total, downloaded});
    };
    const auto worker = Download(Q(server.Address("/page.html")), server.Port(), options);
    ASSERT_TRUE(worker->Success());
    ASSERT_EQ(calls.size(), 3u);
    const int32_t expected[] = {1025, 2050, 3000};
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].Sender, worker.get());
        EXPECT_TRUE(calls[i].InCreatingThread);
        EXPECT_EQ(calls[i].Total, 3000);
        EXPECT_EQ(calls[i].Downloaded, expected[i]);
    }
}

TEST(DownloadThread, FetchesARelativeNameFromTheOtherAddressesHost)
{
    LoopbackHttpServer server([](const HttpRequest&) { return Body("zip"); });
    Options options;
    options.AltURL = Q(server.Address("/dir/page.html"));
    const auto worker = Download(QStringLiteral("setup.zip"), server.Port(), options);
    EXPECT_TRUE(worker->Success());
    ASSERT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(server.Requests().front().Target, "/setup.zip");
}

TEST(DownloadThread, SecureOnlyForAnAddressThatBeginsWithHttps)
{
    TrustTestRoot();
    LoopbackHttpServer secure([](const HttpRequest&) { return Body("secure"); }, testsupport::Fixture("tls/server.pem"),
                              testsupport::Fixture("tls/server.key"));
    const auto worker = Download(Q(secure.Address("/webupdate.html")), secure.Port());
    EXPECT_TRUE(worker->Success());
    EXPECT_EQ(worker->Info(), QStringList({"secure"}));
    ASSERT_EQ(secure.RequestCount(), 1u);
    EXPECT_EQ(secure.Requests().front().Header("Pragma"), "no-cache");
    EXPECT_EQ(secure.Requests().front().Version, "HTTP/1.0");

    // An https address in the query does not make a plain address secure.
    LoopbackHttpServer plain([](const HttpRequest&) { return Body("plain"); });
    const auto other = Download(Q(plain.Address("/page.html?mirror=https://127.0.0.1/")), plain.Port());
    EXPECT_TRUE(other->Success());
    ASSERT_EQ(plain.RequestCount(), 1u);
    EXPECT_FALSE(plain.Requests().front().Header("Pragma"));
    TrustNothing();
}

TEST(DownloadThread, SavesABinaryBodyOfExactlyTheAnnouncedLength)
{
    const testsupport::TempDir dir;
    std::string body(4000, '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i % 251);
    LoopbackHttpServer server([&](const HttpRequest& r) {
        HttpResponse response = Body(body);
        response.AnnounceLength = r.Target != "/unannounced.bin";
        if (r.Target == "/short.bin") {
            response.AnnouncedLength = 5000;
            response.CutAfter = 3000;
        }
        return response;
    });
    Options options;
    options.Binary = true;
    options.SaveToFile = true;

    options.FileName = Q((dir / "whole.bin").string());
    const auto whole = Download(Q(server.Address("/whole.bin")), server.Port(), options);
    EXPECT_TRUE(whole->Success());
    EXPECT_EQ(testsupport::ReadText(dir / "whole.bin"), body);

    // Without a length there is nothing to hold the body against: no file at all.
    options.FileName = Q((dir / "unannounced.bin").string());
    const auto unannounced = Download(Q(server.Address("/unannounced.bin")), server.Port(), options);
    EXPECT_FALSE(unannounced->Success());
    EXPECT_EQ(unannounced->Error(), ErrorText(ERROR_HTTP_HEADER_NOT_FOUND));
    EXPECT_FALSE(std::filesystem::exists(dir / "unannounced.bin"));

    // Fewer bytes than announced: the part that came stays on disk.
    options.FileName = Q((dir / "short.bin").string());
    const auto partial = Download(Q(server.Address("/short.bin")), server.Port(), options);
    EXPECT_FALSE(partial->Success());
    EXPECT_EQ(partial->Error(), ErrorText(ERROR_INTERNET_CONNECTION_ABORTED));
    EXPECT_EQ(testsupport::ReadText(dir / "short.bin"), body.substr(0, 3000));
}

TEST(DownloadThread, StopsAtTheNextCheckAfterAnAbortAndKeepsWhatWasWritten)
{
    const testsupport::TempDir dir;
    LoopbackHttpServer server([](const HttpRequest&) {
        HttpResponse response = Body(std::string(4000, 'a'));
        response.HoldAfter = 2000;
        return response;
    });
    for (const bool save : {false, true}) {
        SCOPED_TRACE(save ? "saving" : "text");
        Options options;
        options.Binary = save;
        options.SaveToFile = save;
        options.FileName = Q((dir / "aborted.bin").string());
        int calls = 0;
        options.Callback = [&](QObject* sender, int32_t, int32_t) {
            ++calls;
            static_cast<TDownloadThread*>(sender)->Abort();
        };
        const auto worker = Download(Q(server.Address("/page.html")), server.Port(), options);
        EXPECT_FALSE(worker->Success());
        EXPECT_EQ(worker->Error(), QString());
        EXPECT_TRUE(worker->Info().isEmpty());
        EXPECT_EQ(calls, 1);
        if (save) {
            EXPECT_EQ(testsupport::ReadText(dir / "aborted.bin"), std::string(1025, 'a'));
        }
    }
    server.Release();
}

TEST(DownloadThread, RefusesAPageLargerThanItsBound)
{
    LoopbackHttpServer server([](const HttpRequest&) { return Body(std::string(MaxPageSize + 1, 'p')); });
    const auto worker = Download(Q(server.Address("/huge.html")), server.Port());
    EXPECT_FALSE(worker->Success());
    EXPECT_EQ(worker->Error(), QStringLiteral("The page is larger than 1048576 bytes."));
    EXPECT_TRUE(worker->Info().isEmpty());
}

TEST(DownloadThread, ReportsWhyATransferFailed)
{
    LoopbackHttpServer server([](const HttpRequest&) { return Body("data"); });
    Options options;
    options.Binary = true;
    options.SaveToFile = true;
    options.FileName = QStringLiteral("/nonexistent-folder/setup.bin");
    const auto unwritable = Download(Q(server.Address("/setup.bin")), server.Port(), options);
    EXPECT_FALSE(unwritable->Success());
    EXPECT_TRUE(unwritable->Error().startsWith(QStringLiteral("Cannot create file \"/nonexistent-folder/setup.bin\".")))
        << unwritable->Error().toStdString();

    // A port nothing listens on: the text mode's read names the cause.
    const testsupport::RefusingPort refusing;
    const auto worker = Download(QStringLiteral("http://127.0.0.1/page.html"), refusing.Port());
    EXPECT_FALSE(worker->Success());
    EXPECT_EQ(worker->Error(), ErrorText(ERROR_INTERNET_CANNOT_CONNECT));
    EXPECT_FALSE(worker->Error().isEmpty());
}

} // namespace
