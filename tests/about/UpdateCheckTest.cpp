// The update check: reading the page's tags, comparing versions in the three formats, and whole
// checks against loopback servers (redirections, error pages, aborts, downloads and launches).
#include "about/UpdateCheck.h"

#include "platform/include/win/wininet.h"
#include "tests/about/AboutTestSupport.h"
#include "tests/support/QtApplication.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace abouttest;
using testsupport::HttpRequest;
using testsupport::HttpResponse;
using testsupport::LoopbackHttpServer;

namespace {

const auto& App = testsupport::Application();

// The steps of the check, reachable one by one.
class Steps : public TUpdateCheck {
public:
    using TUpdateCheck::GetTargetFileName;
    using TUpdateCheck::IsNewVersion;
    using TUpdateCheck::ParseInfo;
    using TUpdateCheck::SetInfo;
};

// Every event of a check, in order; DownloadError with the text it was fired with.
struct Events {
    QStringList Log;
    // What OnUpdateAvailable answers.
    bool CanUpdate = true;

    void Attach(TUpdateCheck& check)
    {
        check.SetOnBeforeGetInfo([this](QObject*) { Log << QStringLiteral("BeforeGetInfo"); });
        check.SetOnAfterGetInfo([this](QObject*) { Log << QStringLiteral("AfterGetInfo"); });
        check.SetOnDownloadError([this, &check](QObject* sender) {
            EXPECT_EQ(sender, &check);
            Log << QStringLiteral("DownloadError:") + check.DownloadError();
        });
        check.SetOnNoUpdateFound([this](QObject*) { Log << QStringLiteral("NoUpdateFound"); });
        check.SetOnUpdateAvailable([this](QObject*, const QString& current, const QString& published, bool& canUpdate) {
            Log << QStringLiteral("UpdateAvailable:%1->%2").arg(current, published);
            canUpdate = CanUpdate;
        });
        check.SetOnBeforeDownload(
            [this](QObject*, const QString& file) { Log << QStringLiteral("BeforeDownload:") + file; });
        check.SetOnAfterDownload(
            [this](QObject*, const QString& file) { Log << QStringLiteral("AfterDownload:") + file; });
        check.SetOnCannotExecute([this](QObject*) { Log << QStringLiteral("CannotExecute"); });
    }
};

// A check of the page at path on the server, for the running version given.
void Configure(TUpdateCheck& check, const LoopbackHttpServer& server, const std::string& path,
               const QString& version = QStringLiteral("1.2.3.4"))
{
    check.ProductInfo().SetURL(Q(server.Address(path)));
    check.ProductInfo().SetVersion(version);
    check.SetHTTPPort(server.Port());
    check.SetOptions({});
}

// ---------------------------------------------------------------------------------------------

TEST(UpdateCheck, StartsWithItsDocumentedSettings)
{
    TUpdateCheck check;
    EXPECT_EQ(check.ProductInfo().URL(), QStringLiteral("http://"));
    EXPECT_EQ(check.ProductInfo().Version(), QStringLiteral("1.0"));
    EXPECT_EQ(check.ProductInfo().VersionFormat(), vfStandard);
    EXPECT_EQ(check.Options().Bits(), 0x03); // uoRunUpdate, uoTerminate
    EXPECT_EQ(check.HTTPPort(), 80u);
    EXPECT_FALSE(check.Active());
    EXPECT_EQ(check.ThreadId(), nullptr);
    const TTagInfo& tags = check.TagInfo();
    EXPECT_EQ(QStringList({tags.Author(), tags.Email(), tags.ClientFileName(), tags.Download(), tags.ProductName(),
                           tags.Redirection(), tags.RunParameters(), tags.Version(), tags.MD5(), tags.Page()}),
              QStringList({"Author", "Email", "File", "Download", "Name", "Redirection", "RunParameters", "Version",
                           "MD5", "Page"}));
    EXPECT_EQ(TUpdateOptions({uoOverwrite}).Bits(), 0x04);
}

TEST(ProductInfo, GivesAnAddressWithoutSchemeHttp)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", "http://"},          {"h/page.html", "http://h/page.html"}, {"HTTPS://h/x", "HTTPS://h/x"},
        {"Http://h", "Http://h"}, {"ftp://h/x", "http://ftp://h/x"},
    };
    for (const auto& [given, stored] : cases) {
        TProductInfo info;
        info.SetURL(QString::fromLatin1(given));
        EXPECT_EQ(info.URL(), QString::fromLatin1(stored)) << given;
    }
}

TEST(ExtractContent, ReadsTheQuotedValueAfterContentInAnyCase)
{
    const QString longest(254, u'v');
    const std::pair<QString, QString> cases[] = {
        {R"(<META NAME="Version" CONTENT="1.2.3">)", "1.2.3"},
        {R"(<meta name="x" content="lower">)", "lower"},
        {R"(<META NAME="x" CoNtEnT="mixed">)", "mixed"},
        {R"(<META NAME="x" CONTENT="">)", ""},
        {R"(<META NAME="x" CONTENT=")" + longest + R"(">)", longest},
        // Too long, or never closed: empty.
        {R"(<META NAME="x" CONTENT=")" + longest + R"(v">)", ""},
        {R"(<META NAME="x" CONTENT="open)", ""},
        // No CONTENT= at all: no value.
        {R"(<META NAME="Version">1.2.3")", ""},
        {"", ""},
    };
    for (const auto& [line, value] : cases)
        EXPECT_EQ(ExtractContent(line), value) << line.toStdString();
}

TEST(ParseInfo, ReadsNamedMetaTagsLineByLine)
{
    Steps check;
    check.SetInfo({
        R"(<META NAME="Name" CONTENT="Tessera">)",
        R"(<META NAME="version" CONTENT="1.0">)",
        R"(<META NAME="Version" CONTENT="2.0">)", // a later line wins
        R"(<meta name="Author" content="lower-case meta name is not read">)",
        R"(<META NAME="Author" CONTENT="Kit Author"><META NAME="Email" CONTENT="second tag on the line">)",
        R"(<META NAME="EMAIL" content="kit@tessera.example">)",
        R"(<META NAME="File" CONTENT="setup.bin">)",
        R"(<META NAME="Download" CONTENT="files/setup.bin">)",
        R"(<META NAME="RunParameters" CONTENT="/quiet">)",
        R"(<META NAME="MD5" CONTENT="00112233445566778899aabbccddeeff">)",
        R"(<META NAME="Page" CONTENT="/download.html">)",
        R"(<META NAME="Unknown" CONTENT="ignored">)",
        // A later line wins, also one without a value.
        R"(META NAME="Page")",
        // Lines that end early.
        "META NAME",
        "<META NAME=",
    });
    check.ParseInfo();
    EXPECT_EQ(check.ProductName(), QStringLiteral("Tessera"));
    EXPECT_EQ(check.ProductVersion(), QStringLiteral("2.0"));
    EXPECT_EQ(check.Author(), QStringLiteral("Kit Author"));
    EXPECT_EQ(check.EMail(), QStringLiteral("kit@tessera.example"));
    EXPECT_EQ(check.ClientFileName(), QStringLiteral("setup.bin"));
    EXPECT_EQ(check.UpdateURL(), QStringLiteral("files/setup.bin"));
    EXPECT_EQ(check.RunParameters(), QStringLiteral("/quiet"));
    EXPECT_EQ(check.MD5(), QStringLiteral("00112233445566778899aabbccddeeff"));
    EXPECT_EQ(check.Page(), QString());
    EXPECT_EQ(check.RedirectionURL(), QString());

    // Every value is cleared first; a name past the line's readable part is not seen.
    check.SetInfo({QString(MaxLineLength, u' ') + R"(<META NAME="Name" CONTENT="far">)",
                   R"(<META NAME="Redirection" CONTENT="http://h/next.html">)"});
    check.ParseInfo();
    EXPECT_EQ(check.ProductName(), QString());
    EXPECT_EQ(check.ProductVersion(), QString());
    EXPECT_EQ(check.RedirectionURL(), QStringLiteral("http://h/next.html"));

    // A name of 254 characters is read; one of 255 reads as empty.
    Steps names;
    names.TagInfo().SetPage(QString(254, u'p'));
    names.TagInfo().SetMD5(QString(255, u'm'));
    names.SetInfo({R"(<META NAME=")" + QString(254, u'p') + R"(" CONTENT="page">)",
                   R"(<META NAME=")" + QString(255, u'm') + R"(" CONTENT="md5">)"});
    names.ParseInfo();
    EXPECT_EQ(names.Page(), QStringLiteral("page"));
    EXPECT_EQ(names.MD5(), QString());
}

// ---------------------------------------------------------------------------------------------

struct VersionCase {
    const char* Current;
    const char* Published;
    bool Newer;
};

void ExpectComparisons(TVersionFormat format, std::initializer_list<VersionCase> cases)
{
    for (const VersionCase& c : cases) {
        Steps check;
        int notFound = 0;
        check.SetOnNoUpdateFound([&](QObject*) { ++notFound; });
        check.ProductInfo().SetVersion(QString::fromLatin1(c.Current));
        check.ProductInfo().SetVersionFormat(format);
        check.SetInfo({R"(<META NAME="Version" CONTENT=")" + QString::fromLatin1(c.Published) + R"(">)"});
        check.ParseInfo();
        EXPECT_EQ(check.IsNewVersion(), c.Newer) << c.Current << " against " << c.Published;
        EXPECT_EQ(notFound, c.Newer ? 0 : 1) << c.Current << " against " << c.Published;
    }
}

TEST(IsNewVersion, ComparesStandardVersionsPartByPart)
{
    ExpectComparisons(vfStandard, {
                                      {"1.2.3.4", "1.2.10.0", true},
                                      {"1.2.3.4", "1.2.3.4", false},
                                      {"1.2", "1.2.1", false},
                                      {"1.2.0", "1.2", true},
                                      {"1.2.3", "1.2", false},
                                      {"2.0", "1.9.9", false},
                                      {"10.0", "9.9", false},
                                      {"1.x.3", "1.0.4", true}, // a part that is not a number is 0
                                      {"1.a", "1.1", true},
                                      {"1.99999999999", "1.1", true},
                                      {"", "1.0", true}, // no running version: the first part decides
                                      {"", "0.9", false},
                                      {"1.0", "", false},
                                  });
}

TEST(IsNewVersion, ComparesStringsByCodeUnits)
{
    ExpectComparisons(vfString, {
                                    {"1.9", "1.10", false},
                                    {"1.10", "1.9", true},
                                    {"1.0", "1.0", false},
                                    {"1.0", "1.0a", true},
                                    {"a", "B", false},
                                });
}

TEST(IsNewVersion, ComparesDecimalNumbers)
{
    ExpectComparisons(vfNumber, {
                                    {"1.5", "1.50", false},
                                    {"1.5", "1.6", true},
                                    {"2", "1e1", true},
                                    {"x", "2", false},
                                    {"1", "y", false},
                                    {"1", "1,5", false},
                                    {"1", "inf", false},
                                    {"1", "", false},
                                });
}

// ---------------------------------------------------------------------------------------------

TEST(CheckForAnUpdate, FindsNoNewerVersionOnAPageWithTheSameVersion)
{
    LoopbackHttpServer server([](const HttpRequest&) {
        return PageResponse({{"Name", "Tessera"}, {"Version", "1.2.3.4"}});
    });
    TUpdateCheck check;
    Configure(check, server, "/webupdate.html");
    Events events;
    events.Attach(check);
    EXPECT_FALSE(check.CheckForAnUpdate());
    EXPECT_EQ(events.Log, QStringList({"BeforeGetInfo", "AfterGetInfo", "NoUpdateFound"}));
    EXPECT_EQ(check.ProductName(), QStringLiteral("Tessera"));
    EXPECT_FALSE(check.Active());
    ASSERT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(server.Requests().front().Target, "/webupdate.html");
}

TEST(CheckForAnUpdate, ReadsTheTagsOfASecurePageInTheirManyShapes)
{
    TrustTestRoot();
    const std::string longValue(255, 'x');
    LoopbackHttpServer server(
        [&](const HttpRequest&) {
            HttpResponse page;
            page.Body = "<html><head>\r\n"
                        "<meta name=\"Name\" content=\"lower-case meta name: not read\">\r\n"
                        "<META NAME=\"Name\" CoNtEnT=\"Tessera\">\n"
                        "<META NAME=\"Author\" CONTENT=\"first\">\r"
                        "<META NAME=\"Author\" CONTENT=\"second\">\r\n"
                        "<META NAME=\"Email\" CONTENT=\"" +
                        longValue +
                        "\">\r\n"
                        "<META NAME=\"VERSION\" content=\"1.2.3.4\">\r\n"
                        "</head></html>";
            return page;
        },
        testsupport::Fixture("tls/server.pem"), testsupport::Fixture("tls/server.key"));
    TUpdateCheck check;
    Configure(check, server, "/webupdate.html");
    Events events;
    events.Attach(check);
    EXPECT_FALSE(check.CheckForAnUpdate());
    EXPECT_EQ(events.Log, QStringList({"BeforeGetInfo", "AfterGetInfo", "NoUpdateFound"}));
    EXPECT_EQ(check.ProductName(), QStringLiteral("Tessera"));
    EXPECT_EQ(check.Author(), QStringLiteral("second"));
    EXPECT_EQ(check.EMail(), QString());
    EXPECT_EQ(check.ProductVersion(), QStringLiteral("1.2.3.4"));
    TrustNothing();
}

TEST(CheckForAnUpdate, FollowsRedirectionsAndOnlyTheLastPageDecides)
{
    std::string third;
    LoopbackHttpServer server([&](const HttpRequest& r) {
        if (r.Target == "/first.html")
            return PageResponse({{"Name", "Old"}, {"Version", "9.0"}, {"Redirection", third + "/second.html"}});
        if (r.Target == "/second.html")
            return PageResponse({{"Redirection", third + "/third.html"}});
        return PageResponse({{"Name", "Tessera"}, {"Version", "1.2.3.4"}});
    });
    third = server.Address("");
    TUpdateCheck check;
    Configure(check, server, "/first.html");
    Events events;
    events.Attach(check);
    EXPECT_FALSE(check.CheckForAnUpdate());
    EXPECT_EQ(events.Log, QStringList({"BeforeGetInfo", "AfterGetInfo", "NoUpdateFound"}));
    std::vector<std::string> targets;
    for (const HttpRequest& r : server.Requests())
        targets.push_back(r.Target);
    EXPECT_EQ(targets, std::vector<std::string>({"/first.html", "/second.html", "/third.html"}));
}

TEST(CheckForAnUpdate, NeverFetchesAPageTwiceNorMoreThanTenPages)
{
    std::string base;
    LoopbackHttpServer server([&](const HttpRequest& r) {
        // a -> b -> a; /n<k> -> /n<k+1> without end.
        if (r.Target == "/a.html")
            return PageResponse({{"Name", "T"}, {"Version", "9"}, {"Redirection", base + "/b.html"}});
        if (r.Target == "/b.html")
            return PageResponse({{"Name", "T"}, {"Version", "9"}, {"Redirection", base + "/a.html"}});
        const int k = std::atoi(r.Target.c_str() + 2);
        return PageResponse({{"Name", "T"}, {"Version", "9"}, {"Redirection", base + "/n" + std::to_string(k + 1)}});
    });
    base = server.Address("");
    {
        TUpdateCheck check;
        Configure(check, server, "/a.html");
        Events events;
        events.Attach(check);
        EXPECT_FALSE(check.CheckForAnUpdate());
        EXPECT_EQ(events.Log, QStringList({"BeforeGetInfo", "DownloadError:redirection loop", "AfterGetInfo",
                                           "DownloadError:empty info"}));
        EXPECT_EQ(server.RequestCount(), 2u);
    }
    TUpdateCheck check;
    Configure(check, server, "/n1");
    Events events;
    events.Attach(check);
    EXPECT_FALSE(check.CheckForAnUpdate());
    EXPECT_EQ(events.Log, QStringList({"BeforeGetInfo", "DownloadError:too many redirections", "AfterGetInfo",
                                       "DownloadError:empty info"}));
    EXPECT_EQ(server.RequestCount(), 2u + MaxPages);
}

TEST(CheckForAnUpdate, EndsInEmptyInfoWithoutNameOrVersion)
{
    LoopbackHttpServer server([](const HttpRequest& r) {
        if (r.Target == "/missing.html") {
            HttpResponse notFound;
            notFound.Status = 404;
            notFound.Reason = "Not Found";
            notFound.Body = "<HTML><BODY>Not Found</BODY></HTML>\r\n";
            return notFound;
        }
        return PageResponse({{"Version", "9.0"}});
    });
    for (const char* path : {"/missing.html", "/nameless.html"}) {
        SCOPED_TRACE(path);
        TUpdateCheck check;
        Configure(check, server, path);
        Events events;
        events.Attach(check);
        EXPECT_FALSE(check.CheckForAnUpdate());
        // The error page was fetched and read like any page: one error, no verdict on versions.
        EXPECT_EQ(events.Log, QStringList({"BeforeGetInfo", "AfterGetInfo", "DownloadError:empty info"}));
        EXPECT_EQ(check.DownloadError(), QStringLiteral("empty info"));
    }
}

TEST(CheckForAnUpdate, ReportsAFailedFetchTwiceFirstWithItsCause)
{
    const testsupport::RefusingPort refusing;
    TUpdateCheck check;
    check.ProductInfo().SetURL(QStringLiteral("http://127.0.0.1/webupdate.html"));
    check.SetHTTPPort(refusing.Port());
    Events events;
    events.Attach(check);
    EXPECT_FALSE(check.CheckForAnUpdate());
    EXPECT_EQ(events.Log, QStringList({"BeforeGetInfo", "DownloadError:" + ErrorText(ERROR_INTERNET_CANNOT_CONNECT),
                                       "AfterGetInfo", "DownloadError:empty info"}));
}

TEST(CheckForAnUpdate, RefusesAServerWhoseCertificateNamesAnotherHost)
{
    TrustTestRoot();
    LoopbackHttpServer server(
        [](const HttpRequest&) {
            return PageResponse({{"Name", "T"}, {"Version", "9"}});
        },
        testsupport::Fixture("tls/other-host.pem"), testsupport::Fixture("tls/server.key"));
    TUpdateCheck check;
    Configure(check, server, "/webupdate.html");
    Events events;
    events.Attach(check);
    EXPECT_FALSE(check.CheckForAnUpdate());
    EXPECT_EQ(events.Log,
              QStringList({"BeforeGetInfo", "DownloadError:" + ErrorText(ERROR_INTERNET_SEC_CERT_CN_INVALID),
                           "AfterGetInfo", "DownloadError:empty info"}));
    EXPECT_EQ(server.RequestCount(), 0u);
    TrustNothing();
}

TEST(CheckForAnUpdate, AnAbortDuringTheFetchEndsInTwoErrors)
{
    LoopbackHttpServer server([](const HttpRequest&) {
        HttpResponse response = PageResponse({{"Name", "Tessera"}, {"Version", "9.0"}});
        response.Body = std::string(2000, ' ') + response.Body;
        response.HoldAfter = 1500;
        return response;
    });
    TUpdateCheck check;
    Configure(check, server, "/webupdate.html");
    Events events;
    events.Attach(check);
    check.SetOnDownload([&](QObject*, int32_t, int32_t) { check.Abort(); });
    EXPECT_FALSE(check.CheckForAnUpdate());
    EXPECT_EQ(events.Log, QStringList({"BeforeGetInfo", "DownloadError:", "AfterGetInfo", "DownloadError:empty info"}));
    server.Release();
}

TEST(CheckForAnUpdate, ASecondCheckDuringACheckReturnsAtOnceAndFiresNothing)
{
    LoopbackHttpServer server([](const HttpRequest&) {
        return PageResponse({{"Name", "Tessera"}, {"Version", "1.2.3.4"}});
    });
    TUpdateCheck check;
    Configure(check, server, "/webupdate.html");
    Events events;
    events.Attach(check);
    int progress = 0;
    bool nestedResult = true;
    qsizetype eventsDuringNested = -1;
    Qt::HANDLE worker = nullptr;
    check.SetOnDownload([&](QObject*, int32_t, int32_t) {
        if (progress++ > 0)
            return;
        EXPECT_TRUE(check.Active());
        worker = check.ThreadId();
        const qsizetype before = events.Log.size();
        nestedResult = check.CheckForAnUpdate();
        eventsDuringNested = events.Log.size() - before;
    });
    EXPECT_FALSE(check.CheckForAnUpdate());
    EXPECT_FALSE(nestedResult);
    EXPECT_EQ(eventsDuringNested, 0);
    EXPECT_NE(worker, nullptr);
    EXPECT_NE(worker, QThread::currentThreadId());
    EXPECT_EQ(check.ThreadId(), nullptr);
    EXPECT_EQ(events.Log, QStringList({"BeforeGetInfo", "AfterGetInfo", "NoUpdateFound"}));
    EXPECT_EQ(server.RequestCount(), 1u);
}

// ---------------------------------------------------------------------------------------------

class UpdateDownload : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (size_t i = 0; i < FFile.size(); ++i)
            FFile[i] = static_cast<char>(i % 253);
    }

    // An update page at /dir/webupdate.html with a newer version and the file fields given.
    LoopbackHttpServer Server(std::vector<std::pair<std::string, std::string>> fields = {
                                  {"File", "setup.bin"}, {"Download", "files/setup.bin"}})
    {
        fields.insert(fields.begin(), {{"Name", "Tessera"}, {"Version", "2.0.0.0"}});
        return LoopbackHttpServer([this, fields](const HttpRequest& r) {
            if (r.Target == "/dir/webupdate.html")
                return PageResponse(fields);
            HttpResponse file;
            file.Body = FFile;
            file.AnnounceLength = r.Target != "/dir/files/unannounced.bin";
            if (r.Target == "/dir/files/short.bin") {
                file.AnnouncedLength = FFile.size() + 1000;
                file.CutAfter = 3000;
            }
            return file;
        });
    }

    void Configure(TUpdateCheck& check, const LoopbackHttpServer& server)
    {
        ::Configure(check, server, "/dir/webupdate.html");
        check.SetTargetFolder(Q(FDir.path().string()));
        FEvents.Attach(check);
    }

    [[nodiscard]] QString Target(const std::string& name) const { return Q((FDir / name).string()); }

    std::string FFile = std::string(5000, '\0');
    testsupport::TempDir FDir;
    Events FEvents;
};

TEST_F(UpdateDownload, DownloadsTheFileOfANewerVersionBesideTheRelativePage)
{
    LoopbackHttpServer server = Server();
    TUpdateCheck check;
    Configure(check, server);
    std::vector<std::pair<int32_t, int32_t>> progress;
    check.SetOnDownload([&](QObject*, int32_t total, int32_t downloaded) { progress.emplace_back(total, downloaded); });
    EXPECT_TRUE(check.CheckForAnUpdate());
    const QString file = Target("setup.bin");
    EXPECT_EQ(check.FileName(), file);
    EXPECT_EQ(FEvents.Log, QStringList({"BeforeGetInfo", "AfterGetInfo", "UpdateAvailable:1.2.3.4->2.0.0.0",
                                        "BeforeDownload:" + file, "AfterDownload:" + file}));
    EXPECT_EQ(testsupport::ReadText(FDir / "setup.bin"), FFile);
    EXPECT_EQ(check.DownloadError(), QStringLiteral("Download started"));
    EXPECT_EQ(server.Requests().back().Target, "/dir/files/setup.bin");
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), std::make_pair(int32_t{5000}, int32_t{5000}));
}

TEST_F(UpdateDownload, DeclinedInOnUpdateAvailableDownloadsNothing)
{
    LoopbackHttpServer server = Server();
    TUpdateCheck check;
    Configure(check, server);
    FEvents.CanUpdate = false;
    EXPECT_FALSE(check.CheckForAnUpdate());
    EXPECT_EQ(FEvents.Log, QStringList({"BeforeGetInfo", "AfterGetInfo", "UpdateAvailable:1.2.3.4->2.0.0.0"}));
    EXPECT_EQ(server.RequestCount(), 1u);
}

TEST_F(UpdateDownload, FailsWithoutALengthAndWithFewerBytesKeepingThePart)
{
    struct Case {
        const char* Name;
        uint32_t Error;
        bool FileRemains;
    };
    const Case cases[] = {{"unannounced.bin", ERROR_HTTP_HEADER_NOT_FOUND, false},
                          {"short.bin", ERROR_INTERNET_CONNECTION_ABORTED, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        LoopbackHttpServer server = Server({{"File", c.Name}, {"Download", std::string("files/") + c.Name}});
        TUpdateCheck check;
        FEvents.Log.clear();
        Configure(check, server);
        EXPECT_FALSE(check.CheckForAnUpdate());
        const QString file = Target(c.Name);
        EXPECT_EQ(FEvents.Log, QStringList({"BeforeGetInfo", "AfterGetInfo", "UpdateAvailable:1.2.3.4->2.0.0.0",
                                            "BeforeDownload:" + file, "DownloadError:" + ErrorText(c.Error)}));
        EXPECT_EQ(std::filesystem::exists(FDir / c.Name), c.FileRemains);
        if (c.FileRemains) {
            EXPECT_EQ(testsupport::ReadText(FDir / c.Name), FFile.substr(0, 3000));
        }
    }
}

TEST_F(UpdateDownload, OverwritesAnExistingFileOnlyWhenAllowed)
{
    LoopbackHttpServer server = Server();
    testsupport::WriteText(FDir / "setup.bin", "old");
    {
        TUpdateCheck check;
        Configure(check, server);
        EXPECT_FALSE(check.CheckForAnUpdate());
        EXPECT_EQ(FEvents.Log.back(), QStringLiteral("DownloadError:Overwrite error"));
        EXPECT_EQ(testsupport::ReadText(FDir / "setup.bin"), "old");
        EXPECT_EQ(server.RequestCount(), 1u);
    }
    {
        // The event decides, and may choose another name.
        TUpdateCheck check;
        Configure(check, server);
        check.SetOnClientFileExists([&](QObject*, QString& fileName, bool& overwrite) {
            EXPECT_FALSE(overwrite);
            fileName = Target("renamed.bin");
            overwrite = true;
        });
        EXPECT_TRUE(check.CheckForAnUpdate());
        EXPECT_EQ(testsupport::ReadText(FDir / "renamed.bin"), FFile);
        EXPECT_EQ(testsupport::ReadText(FDir / "setup.bin"), "old");
    }
    TUpdateCheck check;
    Configure(check, server);
    check.SetOptions({uoOverwrite});
    EXPECT_TRUE(check.CheckForAnUpdate());
    EXPECT_EQ(testsupport::ReadText(FDir / "setup.bin"), FFile);
}

TEST_F(UpdateDownload, TheFileGoesIntoItsFolderWhateverThePageCallsIt)
{
    const testsupport::TempDir temporary;
    setenv("TMPDIR", temporary.path().c_str(), 1);
    struct Case {
        const char* Given;
        const char* Stored;
        bool TargetFolder;
    };
    const Case cases[] = {
        {"../../escape.bin", "escape.bin", true},
        {"..\\..\\escape2.bin", "escape2.bin", true},
        {"/etc/absolute.bin", "absolute.bin", true},
        {"temp.bin", "temp.bin", false}, // no target folder: the temporary folder
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Given);
        LoopbackHttpServer server = Server({{"File", c.Given}, {"Download", "files/setup.bin"}});
        TUpdateCheck check;
        Configure(check, server);
        if (!c.TargetFolder)
            check.SetTargetFolder(Q((FDir / "no such folder").string()));
        EXPECT_TRUE(check.CheckForAnUpdate());
        const std::filesystem::path expected = (c.TargetFolder ? FDir.path() : temporary.path()) / c.Stored;
        EXPECT_EQ(check.FileName(), Q(expected.string()));
        EXPECT_EQ(testsupport::ReadText(expected), FFile);
    }
    // The name the event gives is taken as it is.
    LoopbackHttpServer server = Server();
    TUpdateCheck check;
    Configure(check, server);
    check.SetOnGetClientFileName([&](QObject*, QString& fileName) { fileName = Target("chosen.bin"); });
    EXPECT_TRUE(check.CheckForAnUpdate());
    EXPECT_EQ(testsupport::ReadText(FDir / "chosen.bin"), FFile);
    unsetenv("TMPDIR");
}

TEST_F(UpdateDownload, LaunchesTheDownloadedFileWithTheDesktopsOpener)
{
    Opener opener;
    const OpenerScope scope(opener);
    LoopbackHttpServer server =
        Server({{"File", "setup.bin"}, {"Download", "files/setup.bin"}, {"RunParameters", "/q"}});
    {
        TUpdateCheck check;
        Configure(check, server);
        check.SetOptions({uoRunUpdate});
        EXPECT_TRUE(check.CheckForAnUpdate());
        EXPECT_EQ(opener.Opened, QList<QUrl>({QUrl::fromLocalFile(Target("setup.bin"))}));
        EXPECT_FALSE(FEvents.Log.contains(QStringLiteral("CannotExecute")));
    }
    // A file that is gone by then cannot be started.
    TUpdateCheck check;
    FEvents.Log.clear();
    Configure(check, server);
    check.SetOptions({uoRunUpdate, uoOverwrite});
    check.SetOnAfterDownload([](QObject*, const QString& file) { QFile::remove(file); });
    EXPECT_TRUE(check.CheckForAnUpdate());
    EXPECT_EQ(FEvents.Log.back(), QStringLiteral("CannotExecute"));
    EXPECT_EQ(opener.Opened.size(), 1);
}

TEST_F(UpdateDownload, EndsTheProgramAfterLaunchingWhenAskedTo)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto checkAndLaunch = [this] {
        Opener opener;
        const OpenerScope scope(opener);
        LoopbackHttpServer server = Server();
        TUpdateCheck check;
        Configure(check, server);
        check.SetOptions({uoRunUpdate, uoTerminate});
        check.CheckForAnUpdate();
        std::fprintf(stderr, "still running\n");
        std::_Exit(3);
    };
    EXPECT_EXIT(checkAndLaunch(), ::testing::ExitedWithCode(0), "");
}

} // namespace
