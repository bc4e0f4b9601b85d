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

TEST(ReportCli, HelpAndVersion)
{
    const RunResult help = RunProgram(Program(), {"--help"});
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_NE(help.Out.find("Usage: tessera-report"), std::string::npos);
    const RunResult version = RunProgram(Program(), {"--version"});
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_EQ(version.Out.rfind("tessera-report (Tessera) ", 0), 0u);
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
                         ::testing::Values(WrongCall{{}}, WrongCall{{"--frobnicate", "x"}}, WrongCall{{"a", "b"}}));

} // namespace
