// tessera-report as a user calls it.
#include "tests/support/OtherIdentity.h"
#include "tests/support/TestSupport.h"

#include <QString>

#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>

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
