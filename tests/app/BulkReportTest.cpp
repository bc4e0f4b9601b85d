// tessera-report over many files: headers, JSON lines, --check and its exit status, folders walked,
// jobs in parallel with the output in order, passwords from a file, nested signatures.
#include "tests/support/JsonSchema.h"
#include "tests/support/OtherIdentity.h"
#include "tests/support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <optional>
#include <sstream>
#include <thread>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

std::string Program()
{
    return (BinaryDir() / "tessera-report").string();
}

// Runs tessera-report in the fixtures folder, so that the names in its output are short and the
// same on every machine; the test roots trusted when asked.
RunResult Report(const std::vector<std::string>& args, bool trusted = true, const std::string& input = {},
              const std::string& folder = TESSERA_FIXTURES_DIR)
{
    std::vector<std::string> shell = {"-c", "cd \"$0\" && exec \"$@\"", folder, Program()};
    shell.insert(shell.end(), args.begin(), args.end());
    const std::string trust = "SSL_CERT_FILE=" + Fixture(trusted ? "trust-tessera.pem" : "no-trust.pem").string();
    return RunProgram("/bin/sh", shell, input, {trust});
}

std::string Golden(const std::string& name)
{
    return (fs::path(TESSERA_SOURCE_DIR) / "tests/golden/cli" / name).string();
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

QJsonObject ParseLine(const std::string& line)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
    return document.object();
}

TEST(BulkReport, ReportsOfSeveralFilesUnderTheirNames)
{
    const struct {
        const char* Golden;
        std::vector<std::string> Args;
    } cases[] = {
        {"two-files.txt", {"certs/v1.pem", "pe/gui.exe"}},
        {"three-files-all-signatures.txt",
         {"--all-signatures", "signed/dual-signed.exe", "signed/nested.exe", "compound/full-v3.cfb"}},
        {"two-files.jsonl", {"--json", "certs/v3-ku-eku.pem", "signed/ts-rfc3161.exe"}},
        {"three-files.jsonl", {"--json", "signed/dual-signed.exe", "compound/one-file.msi", "certs/chain.pfx"}},
    };
    for (const auto& c : cases) {
        const RunResult r = Report(c.Args);
        EXPECT_EQ(r.ExitCode, 0) << c.Golden << r.Err;
        EXPECT_EQ(r.Err, "") << c.Golden;
        const std::string difference = CompareGolden(MaskJudgedNow(r.Out), Golden(c.Golden));
        EXPECT_TRUE(difference.empty()) << c.Golden << ": " << difference;
    }
    // One file and no option: the report as ever, without a header.
    const RunResult one = Report({"certs/v1.pem"});
    EXPECT_EQ(one.Out.rfind("Certificate X509 version 1\n", 0), 0u) << one.Out;
}

// The explanation only adds its indented lines after each verdict: without them the report is
// the one without --explain, byte for byte. --check, one line a file, refuses it.
TEST(BulkReport, ExplainAddsItsLinesAndNothingElse)
{
    const std::vector<std::string> files = {"signed/valid.exe", "signed/expired-ts-rfc3161.exe", "signed/nested.exe",
                                            "certs/v1.pem"};
    std::vector<std::string> explained = {"--explain", "--all-signatures"};
    explained.insert(explained.end(), files.begin(), files.end());
    std::vector<std::string> plain = {"--all-signatures"};
    plain.insert(plain.end(), files.begin(), files.end());
    const RunResult with = Report(explained);
    const RunResult without = Report(plain);
    ASSERT_EQ(with.ExitCode, 0) << with.Err;
    std::string stripped;
    size_t accounts = 0;
    for (const std::string& line : Lines(with.Out)) {
        if (line.rfind("    ", 0) == 0) {
            accounts += line.rfind("    Chain (judged at ", 0) == 0 ? 1 : 0;
            continue;
        }
        stripped += line + "\n";
    }
    EXPECT_EQ(stripped, without.Out);
    // valid, expired-ts, and nested's primary and nested signature; none for a certificate file.
    EXPECT_EQ(accounts, 4u) << with.Out;
    EXPECT_NE(with.Out.find("    Chain (judged at 2020-06-01 12:00:00 UTC, the time stamp's time):\n"
                            "      Tessera Expired Code Signing  expired 2021-01-01 (valid at the judged moment)\n"),
              std::string::npos)
        << with.Out;

    const RunResult refused = Report({"--check", "--explain", "signed/valid.exe"});
    EXPECT_EQ(refused.ExitCode, 2);
    EXPECT_EQ(refused.Out, "");
    EXPECT_NE(refused.Err.find("'--explain'"), std::string::npos) << refused.Err;
}

TEST(BulkReport, EveryJsonLineFollowsTheSchema)
{
    const QJsonObject schema = LoadJsonSchema("docs/report.schema.json");
    TempDir dir;
    // A broken compound file stops its inspection: its line says so.
    std::string broken("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    broken += std::string(100, '\x7F');
    WriteText(dir / "broken.doc", broken);
    std::filesystem::copy_file(Fixture("certs/root.pem"), dir / "odd\xffname.pem");
    const RunResult r = Report({"--json", "--check", "-r", ".", (dir / "broken.doc").string(),
                                (dir / "odd\xffname.pem").string(), (dir / "missing.exe").string()});
    EXPECT_EQ(r.ExitCode, 1);
    const std::vector<std::string> lines = Lines(r.Out);
    ASSERT_GT(lines.size(), 100u);
    for (const std::string& line : lines) {
        const QStringList problems = ValidateJson(ParseLine(line), schema);
        EXPECT_TRUE(problems.isEmpty()) << line << "\n" << problems.join(u'\n').toStdString();
    }
    const QJsonObject error = ParseLine(lines[lines.size() - 3]);
    EXPECT_TRUE(error.contains(u"error"));
    EXPECT_EQ(error.value(u"check").toObject().value(u"status").toString(), QStringLiteral("ERROR"));
    // A file that cannot be read says why, beside what the report shows of it.
    const QJsonObject missing = ParseLine(lines.back());
    EXPECT_EQ(missing.value(u"error").toString(), QStringLiteral("No such file or directory"));
    EXPECT_EQ(missing.value(u"kind").toString(), QStringLiteral("unsupported"));
    EXPECT_EQ(missing.value(u"check").toObject().value(u"status").toString(), QStringLiteral("not supported"));
    const QJsonObject odd = ParseLine(lines[lines.size() - 2]);
    EXPECT_EQ(odd.value(u"path").toString(), QString::fromStdString((dir / "odd").string()) + QChar(0xFFFD) +
                                                 QStringLiteral("name.pem"));
    EXPECT_EQ(QByteArray::fromBase64(odd.value(u"pathBase64").toString().toLatin1()).toStdString(),
              (dir / "odd\xffname.pem").string());
    EXPECT_NE(r.Err.find("broken.doc: "), std::string::npos) << r.Err;
}

TEST(BulkReport, TheValidatorSeesWhatBreaksTheSchema)
{
    const QJsonObject schema = LoadJsonSchema("docs/report.schema.json");
    const QJsonObject good{{QStringLiteral("path"), QStringLiteral("x")}, {QStringLiteral("kind"), QStringLiteral("unsupported")}};
    EXPECT_TRUE(ValidateJson(good, schema).isEmpty());
    const struct {
        const char* Why;
        QJsonObject Object;
    } bad[] = {
        {"no path", QJsonObject{{QStringLiteral("kind"), QStringLiteral("unsupported")}}},
        {"a kind not listed", QJsonObject{{QStringLiteral("path"), QStringLiteral("x")}, {QStringLiteral("kind"), QStringLiteral("other")}}},
        {"a property not described", QJsonObject{{QStringLiteral("path"), QStringLiteral("x")}, {QStringLiteral("extra"), 1}}},
        {"a number for a text", QJsonObject{{QStringLiteral("path"), 5}}},
        {"a signature without its fields",
         QJsonObject{{QStringLiteral("path"), QStringLiteral("x")}, {QStringLiteral("signatures"), QJsonArray{QJsonObject{}}}}},
        {"a thumbprint of the wrong form",
         QJsonObject{{QStringLiteral("path"), QStringLiteral("x")},
                     {QStringLiteral("certificates"), QJsonArray{QJsonObject{{QStringLiteral("thumbprint"), QStringLiteral("XYZ")}}}}}},
    };
    for (const auto& b : bad)
        EXPECT_FALSE(ValidateJson(b.Object, schema).isEmpty()) << b.Why;
}

TEST(BulkReport, CheckGivesALineAFileAndTheVerdictAsExitStatus)
{
    const struct {
        std::vector<std::string> Files;
        int Status;
        std::string Out;
    } cases[] = {
        {{"signed/valid.exe"}, 0, "signed/valid.exe: OK Tessera Test Code Signing\n"},
        {{"signed/valid.exe", "signed/dual-signed.exe", "signed/msi-ts.msi"}, 0,
         "signed/valid.exe: OK Tessera Test Code Signing\nsigned/dual-signed.exe: OK Tessera Test Code Signing\n"
         "signed/msi-ts.msi: OK Tessera Test Code Signing\n"},
        {{"signed/valid.exe", "signed/untrusted-root.exe"}, 1,
         "signed/valid.exe: OK Tessera Test Code Signing\nsigned/untrusted-root.exe: ERROR A certification chain "
         "processed correctly, but terminated in a root certificate which isn't trusted by the trust provider\n"},
        {{"signed/bad-digest.exe"}, 1,
         "signed/bad-digest.exe: ERROR Error 80096010\n"},
        {{"pe/gui.exe"}, 1, "pe/gui.exe: not signed\n"},
        {{"compound/one-file.msi"}, 1, "compound/one-file.msi: not signed\n"},
        {{"certs/root.pem"}, 1, "certs/root.pem: not supported\n"},
        // The signed containers: cabinets, scripts, app packages.
        {{"containers/cab/ts.cab", "containers/script/utf16.ps1", "containers/appx/valid.msixbundle"}, 0,
         "containers/cab/ts.cab: OK Tessera Test Code Signing\ncontainers/script/utf16.ps1: OK Tessera Test Code "
         "Signing\ncontainers/appx/valid.msixbundle: OK Tessera Test Code Signing\n"},
        {{"containers/script/text-after.ps1", "containers/appx/unsigned.msix"}, 1,
         "containers/script/text-after.ps1: ERROR Error 80096010\ncontainers/appx/unsigned.msix: not signed\n"},
        {{"missing.exe"}, 1, "missing.exe: not supported\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--check"};
        args.insert(args.end(), c.Files.begin(), c.Files.end());
        const RunResult r = Report(args);
        EXPECT_EQ(r.ExitCode, c.Status) << c.Files.front();
        EXPECT_EQ(r.Out, c.Out);
    }
    const RunResult wrong = Report({"--check", "--jobs", "0", "signed/valid.exe"});
    EXPECT_EQ(wrong.ExitCode, 2);
    EXPECT_EQ(wrong.Out, "");
}

// Catalog signing: the files of a driver package are signed by the catalog beside them, or by one
// named with --catalog; a catalog lists its members in JSON.
TEST(BulkReport, CatalogsSignTheFilesTheyList)
{
    const RunResult folder = Report({"--check", "-r", "containers/driver-changed"});
    EXPECT_EQ(folder.ExitCode, 1);
    EXPECT_EQ(folder.Out, "containers/driver-changed/tessera.cat: OK Tessera Test Code Signing\n"
                          "containers/driver-changed/tessera.dll: OK Tessera Test Code Signing\n"
                          "containers/driver-changed/tessera.inf: OK Tessera Test Code Signing\n"
                          "containers/driver-changed/tessera.sys: not signed\n");

    const RunResult given =
        Report({"--check", "--catalog", "containers/driver/tessera.cat", "pe/console64.exe", "pe/gui.exe"});
    EXPECT_EQ(given.ExitCode, 1);
    EXPECT_EQ(given.Out, "pe/console64.exe: OK Tessera Test Code Signing\npe/gui.exe: not signed\n");
    const RunResult one = Report({"--catalog=containers/driver/tessera.cat", "pe/console64.exe"});
    EXPECT_EQ(one.ExitCode, 0);
    EXPECT_NE(one.Out.find("\nPublisher: Tessera Test Code Signing\n"), std::string::npos) << one.Out;
    EXPECT_NE(one.Out.find("\nCatalog: tessera.cat\n\nCertificate X509 version 3\n"), std::string::npos) << one.Out;

    const RunResult json = Report({"--json", "--catalog", "containers/driver/tessera.cat", "pe/console64.exe",
                                   "containers/driver/tessera.cat"});
    EXPECT_EQ(json.ExitCode, 0) << json.Err;
    const std::vector<std::string> lines = Lines(json.Out);
    ASSERT_EQ(lines.size(), 2u);
    const QJsonObject member = ParseLine(lines[0]);
    EXPECT_EQ(member.value(u"kind").toString(), QStringLiteral("executable"));
    EXPECT_EQ(member.value(u"signatures").toArray().first().toObject().value(u"catalog").toString(),
              QStringLiteral("containers/driver/tessera.cat"));
    const QJsonObject catalog = ParseLine(lines[1]);
    EXPECT_EQ(catalog.value(u"kind").toString(), QStringLiteral("catalog"));
    EXPECT_EQ(catalog.value(u"memberCount").toInt(), 3);
    QStringList names;
    for (const QJsonValue m : catalog.value(u"members").toArray()) {
        names.append(m.toObject().value(u"fileName").toString());
        EXPECT_EQ(m.toObject().value(u"hashAlgorithm").toString(), QStringLiteral("sha256"));
        EXPECT_EQ(m.toObject().value(u"tag").toString().toLower(), m.toObject().value(u"hash").toString());
    }
    EXPECT_EQ(names, (QStringList{QStringLiteral("tessera.dll"), QStringLiteral("tessera.inf"), QStringLiteral("tessera.sys")}));

    EXPECT_EQ(Report({"--catalog"}).ExitCode, 2);
}

TEST(BulkReport, JobsInParallelKeepTheOrderOfTheFiles)
{
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(Fixture("signed")))
        if (entry.path().extension() == ".exe" || entry.path().extension() == ".msi")
            files.push_back("signed/" + entry.path().filename().string());
    std::sort(files.begin(), files.end());
    std::reverse(files.begin(), files.end()); // an order no walk would give
    for (const char* mode : {"--check", "--json", "--all-signatures"}) {
        std::vector<std::string> one = {mode, "-j", "1"};
        one.insert(one.end(), files.begin(), files.end());
        std::vector<std::string> two = {mode, "--jobs=2"};
        two.insert(two.end(), files.begin(), files.end());
        const RunResult serial = Report(one);
        const RunResult parallel = Report(two);
        EXPECT_EQ(parallel.ExitCode, serial.ExitCode) << mode;
        // The same, but for the moment "now" a signature without a time stamp is judged at.
        EXPECT_EQ(MaskJudgedNow(parallel.Out), MaskJudgedNow(serial.Out)) << mode;
        // Each file in its place.
        size_t at = 0;
        for (const std::string& file : files) {
            at = parallel.Out.find(file, at);
            ASSERT_NE(at, std::string::npos) << mode << ": " << file << " out of order";
        }
    }
}

// A loopback server that accepts one connection and never answers, and keeps when the connection
// came and when its client gave up on it.
class SilentListener {
public:
    explicit SilentListener(uint16_t port)
    {
        FSocket = ListenOnLoopback(port, 4);
        if (FSocket < 0)
            return;
        FThread = std::thread([this] {
            pollfd wait{FSocket, POLLIN, 0};
            if (poll(&wait, 1, 30000) <= 0)
                return;
            const int client = accept(FSocket, nullptr, nullptr);
            FAccepted = std::chrono::steady_clock::now();
            char buffer[512];
            // Read the request and whatever follows until the client closes the connection.
            for (pollfd in{client, POLLIN, 0}; poll(&in, 1, 30000) > 0 && recv(client, buffer, sizeof buffer, 0) > 0;)
                in.revents = 0;
            FClosed = std::chrono::steady_clock::now();
            close(client);
        });
    }
    ~SilentListener()
    {
        if (FThread.joinable())
            FThread.join();
        if (FSocket >= 0)
            close(FSocket);
    }
    [[nodiscard]] bool listening() const { return FSocket >= 0; }
    // After the listener is done (its thread joined).
    void Wait()
    {
        if (FThread.joinable())
            FThread.join();
    }
    [[nodiscard]] std::optional<std::chrono::steady_clock::time_point> Accepted() const { return FAccepted; }
    [[nodiscard]] std::optional<std::chrono::steady_clock::time_point> Closed() const { return FClosed; }

private:
    int FSocket = -1;
    std::thread FThread;
    std::optional<std::chrono::steady_clock::time_point> FAccepted;
    std::optional<std::chrono::steady_clock::time_point> FClosed;
};

// Two files whose revocation lists never come (each names a server of its own): the second file's
// server is asked while the first's is still waited for only when two files are inspected at once.
TEST(BulkReport, TwoJobsInspectTwoFilesAtOnce)
{
    SilentListener first(48112);  // signed/crl-silent.exe's first distribution point
    SilentListener second(48120); // the first signature of signed/crl-silent-nested.exe
    ASSERT_TRUE(first.listening() && second.listening()) << "loopback ports 48112 and 48120 are taken";
    const RunResult r = Report({"-j", "2", "signed/crl-silent.exe", "signed/crl-silent-nested.exe"}, false);
    first.Wait();
    second.Wait();
    ASSERT_TRUE(first.Accepted() && first.Closed() && second.Accepted() && second.Closed()) << r.Out << r.Err;
    const bool together = *second.Accepted() < *first.Closed() && *first.Accepted() < *second.Closed();
    EXPECT_TRUE(together) << "the second file's list was not asked for while the first's was waited for";
    const size_t a = r.Out.find("==> signed/crl-silent.exe <==");
    const size_t b = r.Out.find("==> signed/crl-silent-nested.exe <==");
    ASSERT_NE(a, std::string::npos) << r.Out;
    ASSERT_NE(b, std::string::npos) << r.Out;
    EXPECT_LT(a, b);
}

TEST(BulkReport, FoldersAreWalkedInOrderWithoutFollowingLinks)
{
    if (const std::string why = CannotRunAs(Identity::Nobody); !why.empty())
        GTEST_SKIP() << why;
    TempDir dir;
    fs::create_directories(dir / "tree/b");
    fs::create_directories(dir / "tree/a");
    fs::create_directories(dir / "elsewhere");
    fs::copy_file(Fixture("signed/valid.exe"), dir / "tree/b/2.exe");
    fs::copy_file(Fixture("signed/valid.exe"), dir / "tree/a/1.exe");
    fs::copy_file(Fixture("pe/gui.exe"), dir / "tree/0.exe");
    fs::copy_file(Fixture("pe/gui.exe"), dir / "elsewhere/hidden.exe");
    fs::create_directory_symlink(dir / "elsewhere", dir / "tree/link-to-folder");
    fs::create_symlink(dir / "tree/0.exe", dir / "tree/link-to-file.exe");
    fs::create_directories(dir / "tree/closed");
    fs::copy_file(Fixture("pe/gui.exe"), dir / "tree/closed/3.exe");
    // Closed to everyone, its owner too: run without root, the other user stands in a user
    // namespace for the test's own user, who owns the folder.
    fs::permissions(dir / "tree/closed", fs::perms::none);
    fs::permissions(dir.path(), fs::perms(0755));
    fs::permissions(dir / "tree", fs::perms(0755));
    fs::permissions(dir / "tree/a", fs::perms(0755));
    fs::permissions(dir / "tree/b", fs::perms(0755));
    const std::string tree = (dir / "tree").string();
    const ReachableBuild reachable;
    const std::string trust = "SSL_CERT_FILE=" + reachable.Fixture("trust-tessera.pem").string();
    const IdentityRun run = RunAs(Identity::Nobody, [&] {
        const RunResult r = RunProgram(reachable.Program("tessera-report"), {"--check", "-r", tree}, {}, {trust});
        return std::to_string(r.ExitCode) + "\n" + r.Out + "--\n" + r.Err;
    });
    fs::permissions(dir / "tree/closed", fs::perms::owner_all); // so that it can be removed
    ASSERT_TRUE(run.Ran) << run.Output;
    EXPECT_EQ(run.Output, "1\n" + tree + "/0.exe: not signed\n" + tree + "/a/1.exe: OK Tessera Test Code Signing\n" +
                              tree + "/b/2.exe: OK Tessera Test Code Signing\n" + tree +
                              "/link-to-file.exe: not signed\n--\ntessera-report: " + tree +
                              "/closed: Permission denied\n");
}

TEST(BulkReport, KeyContainersTakeThePasswordFileAndNeverReadStandardInput)
{
    TempDir dir;
    WriteText(dir / "password", "tessera\n");
    const std::vector<std::string> files = {"certs/chain.pfx", "certs/v1.pem"};
    std::vector<std::string> args = {"--json", "--password-file", (dir / "password").string()};
    args.insert(args.end(), files.begin(), files.end());
    const RunResult given = Report(args);
    EXPECT_EQ(given.ExitCode, 0) << given.Err;
    const QJsonObject container = ParseLine(Lines(given.Out).at(0));
    EXPECT_FALSE(container.value(u"passwordCancelled").toBool());
    EXPECT_GT(container.value(u"certificates").toArray().size(), 0);

    // Without the file, the password typed on standard input is not read: the prompt is cancelled.
    std::vector<std::string> bare = {"--json"};
    bare.insert(bare.end(), files.begin(), files.end());
    const RunResult cancelled = Report(bare, true, "tessera\n");
    const QJsonObject closed = ParseLine(Lines(cancelled.Out).at(0));
    EXPECT_TRUE(closed.value(u"passwordCancelled").toBool());
    EXPECT_EQ(closed.value(u"certificates").toArray().size(), 0);

    // One file: the password file stands in for the terminal too.
    const RunResult single = Report({"--password-file", (dir / "password").string(), "certs/chain.pfx"});
    EXPECT_NE(single.Out.find("Certificate X509 version 3"), std::string::npos) << single.Out;
    const RunResult missing = Report({"--password-file", (dir / "absent").string(), "certs/chain.pfx"});
    EXPECT_EQ(missing.ExitCode, 2);
}

// A password line is read up to 64 KiB and refused beyond it, never read until memory runs out:
// from a file, from the prompt of the plain report and from that of --json.
TEST(BulkReport, APasswordLineBeyondAnyPasswordIsRefused)
{
    TempDir dir;
    const std::string longest(64 * 1024, 'x');
    WriteText(dir / "longest", longest + "\n");
    WriteText(dir / "longer", longest + "x\n");

    const RunResult zero = Report({"--password-file", "/dev/zero", "certs/chain.pfx"});
    EXPECT_EQ(zero.ExitCode, 1);
    EXPECT_EQ(zero.Out, "");
    EXPECT_EQ(zero.Err, "tessera-report: /dev/zero: the password is longer than 65536 bytes\n");
    const RunResult longer = Report({"--password-file", (dir / "longer").string(), "certs/chain.pfx"});
    EXPECT_EQ(longer.ExitCode, 1);
    EXPECT_EQ(longer.Err, "tessera-report: " + (dir / "longer").string() + ": the password is longer than 65536 bytes\n");
    // The longest line is a password like any other, here a wrong one.
    const RunResult longest_ = Report({"--password-file", (dir / "longest").string(), "certs/chain.pfx"});
    EXPECT_EQ(longest_.ExitCode, 0) << longest_.Err;
    EXPECT_EQ(longest_.Out, "File contains no certificate or password is not valid\n");

    const auto fromZero = [](const std::vector<std::string>& args) {
        std::vector<std::string> shell = {"-c", "cd \"$0\" && exec \"$@\" < /dev/zero", TESSERA_FIXTURES_DIR,
                                          Program()};
        shell.insert(shell.end(), args.begin(), args.end());
        return RunProgram("/bin/sh", shell, {}, {"SSL_CERT_FILE=" + Fixture("trust-tessera.pem").string()});
    };
    const RunResult prompt = fromZero({"certs/chain.pfx"});
    EXPECT_EQ(prompt.ExitCode, 1);
    EXPECT_EQ(prompt.Err, "tessera-report: the password on standard input is longer than 65536 bytes\n");
    const RunResult json = fromZero({"--json", "certs/chain.pfx"});
    EXPECT_EQ(json.ExitCode, 1);
    EXPECT_EQ(json.Out, "{\"error\":\"the password on standard input is longer than 65536 bytes\","
                        "\"path\":\"certs/chain.pfx\"}\n");
}

} // namespace
