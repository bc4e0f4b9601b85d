// tessera-report as a user calls it.
#include "tests/support/OtherIdentity.h"
#include "tests/support/TestSupport.h"

#include <QString>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <fstream>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

std::filesystem::path Program()
{
    return BinaryDir() / "tessera-report";
}

TEST(ReportCli, TextFileIsNotSupported)
{
    TempDir dir;
    WriteText(dir / "notes.txt", "just text\n");
    const RunResult r = RunProgram(Program(), {(dir / "notes.txt").string()});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Out, "File type is not supported\n");
    EXPECT_EQ(r.Err, "");
}

TEST(ReportCli, TwoByteMzFileIsAnUnsignedExecutable)
{
    TempDir dir;
    WriteText(dir / "mz", "MZ");
    const RunResult r = RunProgram(Program(), {(dir / "mz").string()});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Out, "Company: \nDescription: \nProduct: \nProd version: \nFile version: \nCopyright: \n\n"
                     "File is not signed\n\n");
}

TEST(ReportCli, PasswordIsOneLineOfStandardInputAndEndOfInputCancels)
{
    TempDir dir;
    WriteText(dir / "container.pfx", "not a container");
    const RunResult typed = RunProgram(Program(), {(dir / "container.pfx").string()}, "secret\n");
    EXPECT_EQ(typed.ExitCode, 0);
    EXPECT_EQ(typed.Out, "File contains no certificate or password is not valid\n");

    const RunResult cancelled = RunProgram(Program(), {(dir / "container.pfx").string()});
    EXPECT_EQ(cancelled.ExitCode, 0);
    EXPECT_EQ(cancelled.Out, "");
}

// Runs tessera-report with no input and its output in a file; its peak resident memory in KiB.
long PeakMemoryKiB(const std::vector<std::string>& args, const std::filesystem::path& output)
{
    std::vector<std::string> argv = {Program().string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& a : argv)
        pointers.push_back(a.data());
    pointers.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0)
            _exit(127);
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

// A file named as a certificate but far larger than any (250 MB of zeros) is refused without
// being read into memory.
TEST(ReportCli, AHugeFileNamedAsACertificateIsNotReadIntoMemory)
{
    TempDir dir;
    for (const char* name : {"huge.cer", "huge.pem"}) {
        SCOPED_TRACE(name);
        {
            // Sparse: no disk is spent on it.
            std::ofstream file(dir / name, std::ios::binary);
            file.seekp(250'000'000 - 1);
            file.put('\0');
        }
        const long peak = PeakMemoryKiB({(dir / name).string()}, dir / "report.txt");
        ASSERT_GT(peak, 0);
        EXPECT_EQ(ReadText(dir / "report.txt"), "File contains no certificate\n");
        EXPECT_LT(peak, 64 * 1024) << peak << " KiB";
    }
}

// With one FILE a key container's password is read from standard input in every mode that
// shows certificates; end of input cancels in each of them.
TEST(ReportCli, OneContainersPasswordComesFromStandardInputInEveryMode)
{
    const std::string container = Fixture("certs/chain.pfx").string();
    const struct {
        const char* Mode;
        std::vector<std::string> Options;
        const char* Opened;    // in the output once the password opened the container
        const char* Cancelled; // in the output when the prompt was cancelled
    } modes[] = {
        {"plain", {}, "Subject: DE, Tessera Test, leaf.tessera.test", nullptr},
        {"--all-signatures", {"--all-signatures"}, "Subject: DE, Tessera Test, leaf.tessera.test", nullptr},
        {"--json", {"--json"}, "\"certificates\":[{", "\"passwordCancelled\":true"},
    };
    for (const auto& mode : modes) {
        SCOPED_TRACE(mode.Mode);
        std::vector<std::string> args = mode.Options;
        args.push_back(container);
        const RunResult typed = RunProgram(Program(), args, "tessera\n");
        EXPECT_EQ(typed.ExitCode, 0) << typed.Err;
        EXPECT_NE(typed.Out.find(mode.Opened), std::string::npos) << typed.Out;
        EXPECT_EQ(typed.Out.find("passwordCancelled\":true"), std::string::npos) << typed.Out;
        const RunResult cancelled = RunProgram(Program(), args);
        EXPECT_EQ(cancelled.ExitCode, 0) << cancelled.Err;
        EXPECT_EQ(cancelled.Out.find(mode.Opened), std::string::npos) << cancelled.Out;
        if (mode.Cancelled)
            EXPECT_NE(cancelled.Out.find(mode.Cancelled), std::string::npos) << cancelled.Out;
    }
    // Two files: standard input is never read, the prompt counts as cancelled.
    const RunResult two = RunProgram(Program(), {"--json", container, container}, "tessera\n");
    EXPECT_EQ(two.ExitCode, 0) << two.Err;
    EXPECT_EQ(two.Out.find("\"certificates\":[{"), std::string::npos) << two.Out;
}

// Dates in the user's zone and locale: a year always in four digits (2050 and 2150 never read
// alike), and the last moment of the calendar for an expiry of 9999 that lies beyond it locally.
TEST(ReportCli, DatesKeepTheirYearAndTheirEnd)
{
    const struct {
        const char* Zone;
        const char* Locale;
        const char* File;
        const char* ValidTo;
    } cases[] = {
        {"UTC", "C.UTF-8", "certs/v3-ku-eku.pem", "1 Jan 2150"},
        {"UTC", "en_US.UTF-8", "certs/v3-ku-eku.pem", "1/1/2150"},
        {"UTC", "de_DE.UTF-8", "certs/v3-ku-eku.pem", "01.01.2150"},
        {"UTC", "fr_FR.UTF-8", "certs/v3-ku-eku.pem", "01/01/2150"},
        {"UTC", "ja_JP.UTF-8", "certs/v3-ku-eku.pem", "2150/01/01"},
        {"UTC", "en_US.UTF-8", "certs/no-expiry.pem", "12/31/9999 11:59:59 PM"},
        {"UTC", "C.UTF-8", "certs/no-expiry.pem", "31 Dec 9999 23:59:59"},
        {"Europe/Berlin", "C.UTF-8", "certs/no-expiry.pem", "31 Dec 9999 23:59:59"},
        {"Asia/Tokyo", "de_DE.UTF-8", "certs/no-expiry.pem", "31.12.9999 23:59:59"},
        {"America/New_York", "C.UTF-8", "certs/no-expiry.pem", "31 Dec 9999 18:59:59"},
    };
    for (const auto& c : cases) {
        const RunResult r = RunProgram(Program(), {Fixture(c.File).string()}, "",
                                       {std::string("TZ=") + c.Zone, std::string("LC_ALL=") + c.Locale});
        ASSERT_EQ(r.ExitCode, 0) << c.File;
        const size_t at = r.Out.find("ValidTo: ");
        ASSERT_NE(at, std::string::npos) << c.File;
        EXPECT_EQ(r.Out.substr(at, r.Out.find('\n', at) - at), std::string("ValidTo: ") + c.ValidTo)
            << c.Zone << " " << c.Locale << " " << c.File;
    }
}

// Text the locale's character set cannot hold: one "?" for each character, whatever number of
// bytes it takes in its own code page.
TEST(ReportCli, CharactersTheLocaleLacksAreOneQuestionMarkEach)
{
    const RunResult r = RunProgram(Program(), {Fixture("compound/propset-cp932.cfb").string()}, "", {"LC_ALL=C"});
    ASSERT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Out.substr(0, r.Out.find('\n')), "Title: ????????");
    const RunResult utf8 = RunProgram(Program(), {Fixture("compound/propset-cp932.cfb").string()});
    EXPECT_EQ(utf8.Out.substr(0, utf8.Out.find('\n')), "Title: 日本語のタイトル");
}

TEST(ReportCli, ErrorFollowsTheReportOnStandardErrorWithStatusOne)
{
    TempDir dir;
    std::string bytes("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    bytes += std::string(100, '\x7F');
    WriteText(dir / "broken.msi", bytes);
    const RunResult r = RunProgram(Program(), {(dir / "broken.msi").string()});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err.rfind("tessera-report: ", 0), 0u) << r.Err;
    EXPECT_GT(r.Err.size(), std::string("tessera-report: \n").size());
}

TEST(ReportCli, ExportWritesPemOrDerByTheTargetsExtension)
{
    TempDir dir;
    const std::string file = Fixture("certs/three.p7b").string();
    const RunResult pem = RunProgram(Program(), {"--export", (dir / "out.pem").string(), file});
    EXPECT_EQ(pem.ExitCode, 0) << pem.Err;
    EXPECT_EQ(pem.Out, RunProgram(Program(), {file}).Out);
    EXPECT_EQ(ReadText(dir / "out.pem").rfind("-----BEGIN CERTIFICATE-----\r\n", 0), 0u);

    const RunResult der = RunProgram(Program(), {"--export=" + (dir / "OUT.DER").string(), file});
    EXPECT_EQ(der.ExitCode, 0) << der.Err;
    const std::string bytes = ReadText(dir / "OUT.DER");
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0x30); // a DER SEQUENCE
    // The same certificates come back from the export.
    EXPECT_EQ(RunProgram(Program(), {(dir / "OUT.DER").string()}).Out, pem.Out);

    // The password entered for the report opens the container for the export too.
    const RunResult container =
        RunProgram(Program(), {"--export", (dir / "leaf.pem").string(), Fixture("certs/leaf-aes.pfx").string()},
                   "tessera\n");
    EXPECT_EQ(container.ExitCode, 0) << container.Err;
    EXPECT_NE(ReadText(dir / "leaf.pem").find("-----END CERTIFICATE-----\r\n"), std::string::npos);
}

TEST(ReportCli, ExportOfAFileWithoutCertificatesFails)
{
    TempDir dir;
    const RunResult r =
        RunProgram(Program(), {"--export", (dir / "out.pem").string(), Fixture("pe/gui.exe").string()});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Out.find("File is not signed"), std::string::npos);
    EXPECT_NE(r.Err.find("no certificates to export"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.pem"));
}

// The cryptography libraries are bound by name when first needed: without them the program still
// runs and reports what it can.
TEST(ReportCli, MissingCryptographyLibraries)
{
    TempDir modules;
    const std::string none = "TESSERA_MODULE_DIR=" + modules.path().string();
    const RunResult certificate = RunProgram(Program(), {Fixture("certs/root.cer").string()}, {}, {none});
    EXPECT_EQ(certificate.ExitCode, 0);
    EXPECT_EQ(certificate.Out, "File contains no certificate\n");

    // Certificates and the certificate table, but no trust provider.
    for (const char* library : {"libtessera-crypt32.so", "libtessera-imagehlp.so"})
        std::filesystem::create_symlink(BinaryDir() / library, modules / library);
    const RunResult signedFile = RunProgram(Program(), {Fixture("pe/signed.exe").string()}, {}, {none});
    EXPECT_EQ(signedFile.ExitCode, 0);
    EXPECT_NE(signedFile.Out.find("\n\nERROR: The trust provider is not recognized on this system\n\nCertificate X509 version 3\n"),
              std::string::npos)
        << signedFile.Out;
}

// The option names a help text lists: "-j", "--jobs", ... from the lines that describe options.
std::vector<std::string> HelpOptions(const std::string& help)
{
    std::vector<std::string> names;
    std::istringstream in(help);
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with("  -") && !line.starts_with("      --"))
            continue;
        const size_t start = line.find_first_not_of(' ');
        std::istringstream words(line.substr(start, line.find("  ", start) - start));
        for (std::string word; words >> word;)
            names.push_back(word.substr(0, std::min(word.find('='), word.find(','))));
    }
    return names;
}

// --help and --version of both programs as GNU tools write them: help within 79 columns, ending
// with where to report bugs; the version line, copyright and licence; every option of the help in
// the manual page.
TEST(ReportCli, HelpAndVersionAsGnuToolsWriteThem)
{
    for (const std::string program : {"tessera-report", "tessera"}) {
        const RunResult help = RunProgram(BinaryDir() / program, {"--help"});
        EXPECT_EQ(help.ExitCode, 0);
        EXPECT_EQ(help.Out.rfind("Usage: " + program + " ", 0), 0u) << help.Out;
        std::istringstream lines(help.Out);
        for (std::string line; std::getline(lines, line);)
            EXPECT_LE(QString::fromStdString(line).size(), 79) << program << ": " << line;
        EXPECT_TRUE(help.Out.ends_with("\nReport bugs to: tessera@tessera.example\n"
                                       "Tessera home page: <https://tessera.example>\n"))
            << help.Out;

        const RunResult version = RunProgram(BinaryDir() / program, {"--version"});
        EXPECT_EQ(version.ExitCode, 0);
        EXPECT_EQ(version.Out, program + " (Tessera) " TESSERA_PROJECT_VERSION "\n"
                                         "Copyright © 2026 The Tessera developers\n"
                                         "License Apache-2.0: <https://www.apache.org/licenses/LICENSE-2.0>.\n"
                                         "This is free software: you are free to change and redistribute it.\n"
                                         "There is NO WARRANTY, to the extent permitted by law.\n");

        const std::vector<std::string> options = HelpOptions(help.Out);
        EXPECT_GE(options.size(), 2u) << help.Out;
        const std::string page = ReadText(std::filesystem::path(TESSERA_SOURCE_DIR) / "docs" / (program + ".1.in"));
        for (std::string option : options) {
            // Dashes are "\-" in the page's source.
            for (size_t at = 0; (at = option.find('-', at)) != std::string::npos; at += 2)
                option.insert(at, "\\");
            EXPECT_NE(page.find(option), std::string::npos) << program << ".1 lacks " << option;
        }
    }
}

// As getopt_long parses: abbreviations, combined short options, "=" or the next word for an
// argument, GNU's words for what is refused, on one line whatever the argument holds.
TEST(ReportCli, OptionsAreParsedAsGetoptLongParsesThem)
{
    const std::string hint = " (try 'tessera-report --help')\n";
    const struct {
        std::vector<std::string> Args;
        int Status;
        std::string OutStart;
        std::string Err;
    } cases[] = {
        {{"--vers"}, 0, "tessera-report (Tessera) ", ""},
        {{"--he", "--frobnicate"}, 0, "Usage: tessera-report ", ""},
        {{"-rj2", Fixture("certs/v1.pem").string()}, 0, "Certificate X509 version 1\n", ""},
        {{"--all", "--jobs=1", Fixture("certs/v1.pem").string(), "--check"}, 1, Fixture("certs/v1.pem").string(), ""},
        {{"--json=1", "f"}, 2, "", "tessera-report: option '--json' doesn't allow an argument" + hint},
        {{"--recursive=yes", "f"}, 2, "", "tessera-report: option '--recursive' doesn't allow an argument" + hint},
        {{"--j", "f"}, 2, "", "tessera-report: option '--j' is ambiguous; possibilities: '--jobs' '--json'" + hint},
        {{"--frobnicate", "f"}, 2, "", "tessera-report: unrecognized option '--frobnicate'" + hint},
        {{"--frob\nnicate\x1b[2J", "f"}, 2, "", "tessera-report: unrecognized option '--frob?nicate?[2J'" + hint},
        {{"-x", "f"}, 2, "", "tessera-report: invalid option -- 'x'" + hint},
        {{"f", "-j"}, 2, "", "tessera-report: option requires an argument -- 'j'" + hint},
        {{"f", "-rj"}, 2, "", "tessera-report: option requires an argument -- 'j'" + hint},
        {{"f", "--jo"}, 2, "", "tessera-report: option '--jobs' requires an argument" + hint},
        {{"f", "--pass"}, 2, "", "tessera-report: option '--password-file' requires an argument" + hint},
        {{"-j0", "f"}, 2, "", "tessera-report: option '--jobs' needs a number of files from 1 to 1024" + hint},
        {{"--check"}, 2, "", "tessera-report: missing FILE" + hint},
    };
    for (const auto& c : cases) {
        const RunResult r = RunProgram(Program(), c.Args);
        EXPECT_EQ(r.ExitCode, c.Status) << c.Args.front();
        EXPECT_EQ(r.Out.substr(0, c.OutStart.size()), c.OutStart) << c.Args.front();
        EXPECT_EQ(r.Err, c.Err) << c.Args.front();
    }
    // Combined short options and their argument, joined or not, mean what they mean apart.
    TempDir dir;
    std::filesystem::copy_file(Fixture("signed/valid.exe"), dir / "a.exe");
    std::filesystem::copy_file(Fixture("pe/gui.exe"), dir / "b.exe");
    const RunResult apart = RunProgram(Program(), {"--check", "-r", "-j", "2", dir.path().string()});
    EXPECT_EQ(apart.ExitCode, 1);
    EXPECT_EQ(apart.Out, dir.path().string() +
                             "/a.exe: ERROR A certification chain processed correctly, but "
                             "terminated in a root certificate which isn't trusted by the trust "
                             "provider\n" +
                             dir.path().string() + "/b.exe: not signed\n");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--ch", "-rj2", dir.path().string()},
          std::vector<std::string>{dir.path().string(), "-rj", "2", "--check"}}) {
        const RunResult together = RunProgram(Program(), args);
        EXPECT_EQ(together.ExitCode, apart.ExitCode) << args.front();
        EXPECT_EQ(together.Out, apart.Out) << args.front();
    }
}

struct WrongCall {
    std::vector<std::string> Args;
};

class WrongCalls : public ::testing::TestWithParam<WrongCall> {};

TEST_P(WrongCalls, ExitTwoWithOneLine)
{
    const RunResult r = RunProgram(Program(), GetParam().Args);
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_EQ(r.Out, "");
    ASSERT_FALSE(r.Err.empty());
    EXPECT_EQ(r.Err.find('\n'), r.Err.size() - 1) << r.Err;
    EXPECT_EQ(r.Err.rfind("tessera-report: ", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Calls, WrongCalls,
                         ::testing::Values(WrongCall{{}}, WrongCall{{"--frobnicate", "x"}}, WrongCall{{"x", "--export"}},
                                           WrongCall{{"--export", "o.pem", "a", "b"}}, WrongCall{{"-j", "none", "a"}},
                                           WrongCall{{"--jobs=0", "a"}}, WrongCall{{"a", "--password-file"}}));

// Names are bytes: whatever they hold, the file is found and reported as under a plain name, and
// what is written goes to the name given.
TEST(ReportCli, AnyFileNameReachesTheFile)
{
    TempDir dir;
    const std::string plain = (dir / "plain.pem").string();
    std::filesystem::copy_file(Fixture("certs/root.pem"), plain);
    const RunResult expected = RunProgram(Program(), {plain});
    ASSERT_EQ(expected.ExitCode, 0);
    const struct {
        const char* Why;
        std::string Name;
        std::vector<std::string> Before; // arguments before the name
    } cases[] = {
        {"a byte that is not UTF-8", "bad\xffname.pem", {}},
        {"Latin-1 text", "caf\xe9.pem", {}},
        {"UTF-8 text", "caf\xc3\xa9 \xe2\x82\xac.pem", {}},
        {"an encoded surrogate", "s\xed\xa0\x80.pem", {}},
        {"a leading dash after --", "-x.pem", {"--"}},
        {"a line break", "two\nlines.pem", {}},
    };
    for (const auto& c : cases) {
        const std::string name = (dir / c.Name).string();
        std::filesystem::copy_file(Fixture("certs/root.pem"), name);
        std::vector<std::string> args = c.Before;
        args.push_back(name);
        const RunResult r = RunProgram(Program(), args);
        EXPECT_EQ(r.ExitCode, 0) << c.Why;
        EXPECT_EQ(r.Out, expected.Out) << c.Why;
        EXPECT_EQ(r.Err, "") << c.Why;
    }
    // A key container by such a name, and an export to such a name.
    const std::string container = (dir / "k\xfe.pfx").string();
    std::filesystem::copy_file(Fixture("certs/chain.pfx"), container);
    const std::string target = (dir / "out\xfd.der").string();
    const RunResult exported = RunProgram(Program(), {"--export", target, container}, "tessera\n");
    EXPECT_EQ(exported.ExitCode, 0) << exported.Err;
    EXPECT_NE(exported.Out.find("Certificate X509 version 3"), std::string::npos);
    EXPECT_EQ(ReadBytes(target).at(0), 0x30);
}

// A file that cannot be read gets the report of such a file and one line naming the problem.
TEST(ReportCli, AFileThatCannotBeReadIsReportedAndNamed)
{
    TempDir dir;
    const std::string missing = (dir / "missing\xff.pem").string();
    std::filesystem::create_directory(dir / "folder.cer");
    const std::string folder = (dir / "folder.cer").string();
    const struct {
        std::string Name;
        std::string Out;
        std::string Reason;
    } cases[] = {
        {missing, "File contains no certificate\n", "No such file or directory"},
        {folder, "File contains no certificate\n", "Is a directory"},
        {(dir / "missing.exe").string(), "File type is not supported\n", "No such file or directory"},
    };
    for (const auto& c : cases) {
        const RunResult r = RunProgram(Program(), {c.Name});
        EXPECT_EQ(r.ExitCode, 0) << c.Name;
        EXPECT_EQ(r.Out, c.Out) << c.Name;
        EXPECT_EQ(r.Err, "tessera-report: " + c.Name + ": " + c.Reason + "\n");
    }
    // Unreadable: only a user other than root is refused.
    const std::string locked = (dir / "locked.pem").string();
    std::filesystem::copy_file(Fixture("certs/root.pem"), locked);
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    if (const std::string why = CannotRunAs(Identity::Nobody); !why.empty())
        GTEST_SKIP() << why;
    const ReachableBuild reachable;
    const IdentityRun run = RunAs(Identity::Nobody, [&] {
        const RunResult r = RunProgram(reachable.Program("tessera-report"), {locked});
        return std::to_string(r.ExitCode) + "|" + r.Out + "|" + r.Err;
    });
    ASSERT_TRUE(run.Ran) << run.Output;
    EXPECT_EQ(run.Output, "0|File contains no certificate\n|tessera-report: " + locked + ": Permission denied\n");
}

// Standard output that cannot be written fails the program with a message, as GNU tools do.
TEST(ReportCli, AWriteErrorOnStandardOutputIsReported)
{
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{Fixture("certs/root.pem").string()}, std::vector<std::string>{"--help"},
          std::vector<std::string>{"--version"}}) {
        std::vector<std::string> shell = {"-c", "exec \"$0\" \"$@\" > /dev/full", Program().string()};
        shell.insert(shell.end(), args.begin(), args.end());
        const RunResult r = RunProgram("/bin/sh", shell);
        EXPECT_EQ(r.ExitCode, 1) << args.front();
        EXPECT_EQ(r.Err, "tessera-report: write error: No space left on device\n") << args.front();
    }
}

// Ctrl-C at the password prompt of a terminal ends the program with the terminal's echo back on.
TEST(ReportCli, InterruptedAtThePasswordPromptTheTerminalEchoesAgain)
{
    int terminal = -1;
    const std::string program = Program().string();
    const std::string container = Fixture("certs/chain.pfx").string();
    const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        execl(program.c_str(), program.c_str(), container.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Wait for the prompt, then type Ctrl-C as a user would.
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (seen.find("Password: ") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{terminal, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char buffer[256];
            const ssize_t n = read(terminal, buffer, sizeof buffer);
            if (n <= 0)
                break;
            seen.append(buffer, static_cast<size_t>(n));
        }
    }
    ASSERT_NE(seen.find("Password: "), std::string::npos) << seen;
    termios during{};
    ASSERT_EQ(tcgetattr(terminal, &during), 0);
    EXPECT_FALSE(during.c_lflag & ECHO);
    ASSERT_EQ(write(terminal, "\x03", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    termios after{};
    ASSERT_EQ(tcgetattr(terminal, &after), 0);
    EXPECT_TRUE(after.c_lflag & ECHO);
    close(terminal);
}

// The window program takes no option of Qt's: each names a file, and the window runs on it.
TEST(WindowCli, QtsOptionsAreFileNamesAndOnlyHelpAndVersionAreOptions)
{
    const std::filesystem::path window = BinaryDir() / "tessera";
    const std::vector<std::vector<std::string>> calls = {
        {"-platform", "nonexistent"}, // Qt would stop here: no such platform plugin
        {"-style=nonexistent", "-reverse"},
        {"--", "--help"},
    };
    for (const auto& args : calls) {
        std::vector<std::string> timed = {"2", window.string()};
        timed.insert(timed.end(), args.begin(), args.end());
        const RunResult r = RunProgram("/usr/bin/timeout", timed);
        // Still running when stopped: the window was up.
        EXPECT_EQ(r.ExitCode, 124) << args.front() << ": " << r.Err;
    }
    const RunResult help = RunProgram(window, {"--help"});
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_EQ(help.Out.rfind("Usage: tessera [FILE]\n", 0), 0u) << help.Out;
    const RunResult version = RunProgram(window, {"--version"});
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_EQ(version.Out.rfind("tessera (Tessera) 1.", 0), 0u) << version.Out;
    const RunResult full = RunProgram("/bin/sh", {"-c", "exec \"$0\" --version > /dev/full", window.string()});
    EXPECT_EQ(full.ExitCode, 1);
    EXPECT_EQ(full.Err, "tessera: write error: No space left on device\n");
}

// Without a display the window cannot open: one line says so, and the exit status is 1, whether no
// display is named or the one named cannot be reached.
TEST(WindowCli, WithoutADisplayItSaysSoInOneLine)
{
    const std::string window = (BinaryDir() / "tessera").string();
    const std::string hint = " (tessera-report FILE prints the report without one)\n";
    const struct {
        std::vector<std::string> Environment;
        std::string Err;
    } cases[] = {
        {{"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY"},
         "tessera: no display: neither DISPLAY nor WAYLAND_DISPLAY is set" + hint},
        {{"-u", "WAYLAND_DISPLAY", "DISPLAY=:7357"}, "tessera: cannot open a window on display :7357" + hint},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"-u", "QT_QPA_PLATFORM"};
        args.insert(args.end(), c.Environment.begin(), c.Environment.end());
        args.insert(args.end(), {window, Fixture("certs/v1.pem").string()});
        const RunResult r = RunProgram("/usr/bin/env", args);
        EXPECT_EQ(r.ExitCode, 1) << c.Err;
        EXPECT_EQ(r.Out, "");
        EXPECT_EQ(r.Err, c.Err);
    }
}

} // namespace

// A dropped-in root list that is not used says why once, whatever number of files is judged; one
// that verifies and is newer holds its roots to its rules, and --json names the root by the
// friendly name the list gives it.
TEST(ReportCli, ADroppedInRootListIsUsedOrRefusedOnce)
{
    const std::string roots = "SSL_CERT_FILE=" + Fixture("authroot/roots.pem").string();
    const std::string signingRoot = "TESSERA_AUTHROOT_SIGNING_ROOT=" + Fixture("authroot/list-root.pem").string();
    const std::vector<std::string> files = {Fixture("authroot/restricted.exe").string(),
                                            Fixture("authroot/notbefore-early.exe").string()};
    std::vector<std::string> args = {"--check"};
    args.insert(args.end(), files.begin(), files.end());

    const std::string spoilt = Fixture("authroot/authroot-bad-signature.stl").string();
    const RunResult refused = RunProgram(Program(), args, {}, {roots, signingRoot, "TESSERA_AUTHROOT=" + spoilt});
    EXPECT_EQ(refused.ExitCode, 0) << refused.Out;
    EXPECT_EQ(refused.Err, "tessera-report: the root list " + spoilt + " is not used: its signature does not verify\n");

    const RunResult used = RunProgram(Program(), args, {},
                                      {roots, signingRoot, "TESSERA_AUTHROOT=" + Fixture("authroot/authroot.stl").string()});
    EXPECT_EQ(used.ExitCode, 1);
    // CERT_E_WRONG_USAGE has no text of its own.
    EXPECT_EQ(used.Out, files[0] + ": ERROR Error 800B0110\n" + files[1] + ": OK Tessera Early Code Signing\n");
    EXPECT_EQ(used.Err, "");

    const RunResult json = RunProgram(Program(), {"--json", files[1]}, {},
                                      {roots, signingRoot, "TESSERA_AUTHROOT=" + Fixture("authroot/authroot.stl").string()});
    EXPECT_NE(json.Out.find(R"("rootName":"Listed Not Before Root")"), std::string::npos) << json.Out;
}

// A FIFO, a device or a socket is a file that cannot be read: reported at once, named or met in a
// walk (also through a link), never waited for; an export to a FIFO nobody reads fails at once.
TEST(ReportCli, FifosDevicesAndSocketsAreFilesThatCannotBeRead)
{
    TempDir dir;
    const std::string fifo = (dir / "pipe.exe").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_symlink(fifo, dir / "link-to-pipe.cer");
    const std::string socketPath = (dir / "socket.pem").string();
    const int listening = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    std::filesystem::copy_file(Fixture("certs/v1.pem"), dir / "v1.pem");
    // Each run is bounded, so that a regression fails here rather than hanging the suite.
    const auto run = [](const std::vector<std::string>& args) {
        std::vector<std::string> bounded = {"10", Program().string()};
        bounded.insert(bounded.end(), args.begin(), args.end());
        return RunProgram("/usr/bin/timeout", bounded);
    };

    for (const std::string& name : {fifo, std::string("/dev/zero"), socketPath}) {
        const RunResult named = run({name});
        EXPECT_EQ(named.ExitCode, 0) << name;
        // Not readable, the file is taken by its extension alone.
        EXPECT_EQ(named.Out, name == socketPath ? "File contains no certificate\n" : "File type is not supported\n") << name;
        EXPECT_EQ(named.Err, "tessera-report: " + name + ": not a regular file\n");
    }

    const RunResult walked = run({"--check", "-r", dir.path().string()});
    EXPECT_EQ(walked.ExitCode, 1);
    const std::string root = dir.path().string();
    EXPECT_EQ(walked.Out, root + "/link-to-pipe.cer: not supported\n" + root + "/pipe.exe: not supported\n" + root +
                              "/socket.pem: not supported\n" + root + "/v1.pem: not supported\n")
        << walked.Err;
    EXPECT_NE(walked.Err.find(root + "/pipe.exe: not a regular file"), std::string::npos) << walked.Err;

    const std::string target = (dir / "out.pem").string();
    ASSERT_EQ(mkfifo(target.c_str(), 0600), 0);
    const RunResult exported = run({"--export", target, (dir / "v1.pem").string()});
    EXPECT_EQ(exported.ExitCode, 1);
    EXPECT_NE(exported.Err.find("Cannot create file \"" + target + "\""), std::string::npos) << exported.Err;
    close(listening);
}

namespace {

// The output of a program run on a terminal (a pseudo-terminal), with the environment given.
std::string OnATerminal(const std::vector<std::string>& args, const std::vector<std::string>& environment)
{
    int terminal = -1;
    const std::string program = Program().string();
    const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child < 0)
        return {};
    if (child == 0) {
        for (const std::string& variable : environment)
            putenv(const_cast<char*>(variable.c_str()));
        std::vector<char*> argv = {const_cast<char*>(program.c_str())};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{terminal, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buffer[1024];
        const ssize_t n = read(terminal, buffer, sizeof buffer);
        if (n <= 0)
            break; // the program ended and closed its side
        seen.append(buffer, static_cast<size_t>(n));
    }
    waitpid(child, nullptr, 0);
    close(terminal);
    return seen;
}

// A line of --check with sha256sum's escapes undone: a line that begins with a backslash has its
// backslashes, line feeds and carriage returns escaped.
std::string Unescaped(std::string line)
{
    if (line.empty() || line.front() != '\\')
        return line;
    std::string out;
    for (size_t i = 1; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            const char c = line[++i];
            out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        } else {
            out += line[i];
        }
    }
    return out;
}

} // namespace

// Names and signers that hold line ends or escape sequences cannot forge a line of --check, nor
// move the cursor of a terminal the report is shown on.
TEST(ReportCli, NamesAndFieldsCannotForgeALineOrDriveATerminal)
{
    TempDir dir;
    const std::vector<std::string> names = {"x.exe: OK Tessera Test Code Signing\ny.exe", "back\\slash.exe",
                                            "carriage\rreturn.exe"};
    for (const std::string& name : names)
        std::filesystem::copy_file(Fixture("signed/valid.exe"), dir / name);
    std::filesystem::copy_file(Fixture("signed/forged-newline.exe"), dir / "forged-newline.exe");
    const std::string trust = "SSL_CERT_FILE=" + Fixture("trust-tessera.pem").string();

    const RunResult walked = RunProgram(Program(), {"--check", "-r", dir.path().string()}, {}, {trust});
    // One line a file, in the walk's order (by name), each the file's name and its verdict.
    std::map<std::string, std::string> expected;
    for (const std::string& name : names)
        expected[(dir / name).string()] = "OK Tessera Test Code Signing";
    expected[(dir / "forged-newline.exe").string()] = "OK Tessera Forged\n/srv/incoming/evil.exe: OK Microsoft Windows";
    std::vector<std::string> lines;
    std::istringstream stream(walked.Out);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(Unescaped(line));
    ASSERT_EQ(lines.size(), expected.size()) << walked.Out;
    size_t i = 0;
    for (const auto& [name, verdict] : expected)
        EXPECT_EQ(lines[i++], name + ": " + verdict);

    // On a terminal: the signer's escape sequences are shown, not obeyed, in every mode.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{Fixture("signed/forged-escape.exe").string()},
          std::vector<std::string>{"--check", Fixture("signed/forged-escape.exe").string()},
          std::vector<std::string>{Fixture("signed/forged-escape.exe").string(), Fixture("certs/v1.pem").string()}}) {
        const std::string shown = OnATerminal(args, {trust});
        EXPECT_EQ(shown.find('\x1b'), std::string::npos) << shown;
        EXPECT_NE(shown.find("Tessera \\e[1A\\e[2KPublisher: Microsoft Corporation"), std::string::npos) << shown;
    }
    // Off a terminal the report is exact, for scripts that read it.
    const RunResult piped = RunProgram(Program(), {Fixture("signed/forged-escape.exe").string()}, {}, {trust});
    EXPECT_NE(piped.Out.find("Publisher: Tessera \x1b[1A\x1b[2KPublisher: Microsoft Corporation\n"), std::string::npos);

    // The name of the catalog that signs a file is a field like any other.
    TempDir driver;
    std::filesystem::copy_file(Fixture("containers/driver/tessera.sys"), driver / "tessera.sys");
    std::filesystem::copy_file(Fixture("containers/driver/tessera.cat"), driver / "evil\x1b[2K.cat");
    const std::string shown = OnATerminal({(driver / "tessera.sys").string()}, {trust});
    EXPECT_EQ(shown.find('\x1b'), std::string::npos) << shown;
    EXPECT_NE(shown.find("Catalog: evil\\e[2K.cat"), std::string::npos) << shown;
}
