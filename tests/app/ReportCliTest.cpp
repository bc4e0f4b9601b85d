// tessera-report as a user calls it.
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

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

TEST(ReportCli, HelpAndVersion)
{
    const RunResult help = RunProgram(Program(), {"--help"});
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_NE(help.Out.find("Usage: tessera-report"), std::string::npos);
    const RunResult version = RunProgram(Program(), {"--version"});
    EXPECT_EQ(version.ExitCode, 0);
    // The version the program reads from its own version resource, then the copyright line.
    EXPECT_EQ(version.Out.rfind("Tessera 1.", 0), 0u) << version.Out;
    EXPECT_NE(version.Out.find("\nCopyright © "), std::string::npos) << version.Out;
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
                         ::testing::Values(WrongCall{{}}, WrongCall{{"--frobnicate", "x"}}, WrongCall{{"a", "b"}},
                                           WrongCall{{"x", "--export"}}));

} // namespace
