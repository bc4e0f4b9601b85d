// The program's own version profile, the administrator test and the shell verb for all files,
// each against a temporary system root and, where it matters, as users other than root.
#include "fileinfo/KavexRoutines.h"
#include "fileinfo/KavexShell.h"
#include "platform/include/win/winreg.h"
#include "tests/support/OtherIdentity.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

QString Q(const fs::path& path)
{
    return QString::fromStdString(path.string());
}

TEST(ProgramVersion, TheProgramsDescribeThemselvesFromTheirOwnSection)
{
    for (const char* program : {"tessera", "tessera-report"}) {
        TVersionInfo info;
        ASSERT_TRUE(ReadVersionInfo(Q(BinaryDir() / program), info)) << program;
        EXPECT_EQ(info.ProductName, QStringLiteral("Tessera"));
        EXPECT_EQ(info.FileVersionText, QStringLiteral(TESSERA_PROJECT_VERSION));
        EXPECT_EQ(info.ProductVersionText, QStringLiteral(TESSERA_PROJECT_VERSION));
        EXPECT_EQ(info.FileVersion, QStringLiteral(TESSERA_PROJECT_VERSION ".0"));
        EXPECT_EQ(info.CompanyName, QStringLiteral("The Tessera developers"));
        EXPECT_EQ(info.Copyright, QStringLiteral("Copyright © 2026 The Tessera developers"));
        EXPECT_FALSE(info.Description.isEmpty());
        EXPECT_FALSE(info.Comments.isEmpty());
        EXPECT_FALSE(info.BuildTimestamp.isEmpty());
        EXPECT_EQ(info.DebugBuild, TESSERA_DEBUG_BUILD != 0);

        // --version prints what the program read from itself.
        const RunResult run = RunProgram(BinaryDir() / program, {"--version"});
        EXPECT_EQ(run.ExitCode, 0) << program;
        EXPECT_EQ(run.Out.substr(0, run.Out.find("\nLicense ")),
                  std::string(program) + " (" + info.ProductName.toStdString() + ") " +
                      info.ProductVersion.toStdString() + "\n" + info.Copyright.toStdString());
    }
}

TEST(ProgramVersion, AProgramWithoutTheSectionHasAnEmptyProfile)
{
    TempDir dir;
    const fs::path stripped = dir / "tessera";
    const RunResult copy = RunProgram("/usr/bin/objcopy",
                                      {"--remove-section", ".tessera.version", (BinaryDir() / "tessera").string(),
                                       stripped.string()});
    ASSERT_EQ(copy.ExitCode, 0) << copy.Err;
    TVersionInfo info;
    EXPECT_FALSE(ReadVersionInfo(Q(stripped), info));
    EXPECT_EQ(info.FileName, Q(stripped));
    EXPECT_TRUE(info.ProductName.isEmpty());
    EXPECT_TRUE(info.FileVersion.isEmpty());
    // Other ELF files are alike.
    EXPECT_FALSE(ReadVersionInfo(QStringLiteral("/bin/sh"), info));
    EXPECT_TRUE(info.ProductName.isEmpty());
}

TEST(Administrator, RootAndMembersOfTheAdministeringGroupNotOthers)
{
    if (const std::string why = CannotRunAs(Identity::Nobody); !why.empty())
        GTEST_SKIP() << why;
    if (const std::string why = CannotRunAs(Identity::AdministratorsMember); !why.empty())
        GTEST_SKIP() << why;
    if (geteuid() == 0) {
        EXPECT_TRUE(IsAdministrator());
    }
    const auto answer = [] { return std::string(IsAdministrator() ? "administrator" : "user"); };
    const IdentityRun nobody = RunAs(Identity::Nobody, answer);
    ASSERT_TRUE(nobody.Ran) << nobody.Output;
    EXPECT_EQ(nobody.Output, "user");
    // Membership counts even though the process runs without root's rights.
    const IdentityRun member = RunAs(Identity::AdministratorsMember, answer);
    ASSERT_TRUE(member.Ran) << member.Output;
    EXPECT_EQ(member.Output, "administrator");
}

// The keys below a key and its string values, as one text: "name=value" lines, subkeys indented.
std::string Dump(HKEY parent, const std::u16string& path, int depth = 0)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<missing>";
    std::string text;
    const std::string indent(depth * 2, ' ');
    for (const char16_t* name : {u"", u"Icon", u"Extra"}) {
        WCHAR buffer[512];
        DWORD size = sizeof buffer;
        DWORD type = 0;
        if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS)
            text += indent + (*name ? QString::fromUtf16(name).toStdString() : "@") + "=" +
                    QString::fromUtf16(buffer).toStdString() + "\n";
    }
    std::vector<std::u16string> children;
    for (DWORD index = 0;; ++index) {
        WCHAR buffer[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, buffer, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        children.emplace_back(buffer, length);
    }
    for (const auto& child : children)
        text += indent + "[" + QString::fromStdU16String(child).toStdString() + "]\n" + Dump(key, child, depth + 1);
    RegCloseKey(key);
    return text;
}

class ShellVerb : public ::testing::Test {
protected:
    TemporarySystemRoot FRoot;
};

TEST_F(ShellVerb, RegisteringAgainOverwritesTheValuesWithTheCurrentPath)
{
    RegisterShellVerb(QStringLiteral("*"), QStringLiteral("Tessera"), QStringLiteral("/old/place/tessera"));
    RegisterShellVerb(QStringLiteral("*"), QStringLiteral("Tessera"), QStringLiteral("/new place/tessera"));
    EXPECT_TRUE(IsShellVerbRegistered(QStringLiteral("*"), QStringLiteral("tessera")));
    EXPECT_EQ(Dump(HKEY_CLASSES_ROOT, u"*"),
              "[shell]\n"
              "  [Tessera]\n"
              "    @=Tessera...\n"
              "    Icon=\"/new place/tessera\",0\n"
              "    [command]\n"
              "      @=\"/new place/tessera\" \"%1\"\n");
}

TEST_F(ShellVerb, UnregisteringRemovesEverythingBelowTheVerbKey)
{
    RegisterShellVerb(QStringLiteral("*"), QStringLiteral("Tessera"), QStringLiteral("/usr/bin/tessera"));
    RegisterShellVerb(QStringLiteral("*"), QStringLiteral("Other"), QStringLiteral("/usr/bin/other"));
    HKEY key = nullptr;
    for (const char16_t* path : {u"*\\shell\\Tessera\\command\\deeper\\deepest", u"*\\shell\\Tessera\\added"}) {
        ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const std::u16string extra = u"extra";
        RegSetValueExW(key, u"Extra", 0, REG_SZ, reinterpret_cast<const BYTE*>(extra.c_str()), 12);
        RegCloseKey(key);
    }
    UnregisterShellVerb(QStringLiteral("*"), QStringLiteral("TESSERA"));
    EXPECT_FALSE(IsShellVerbRegistered(QStringLiteral("*"), QStringLiteral("Tessera")));
    // The other verb and the shell key stay.
    EXPECT_EQ(Dump(HKEY_CLASSES_ROOT, u"*"),
              "[shell]\n"
              "  [Other]\n"
              "    @=Other...\n"
              "    Icon=\"/usr/bin/other\",0\n"
              "    [command]\n"
              "      @=\"/usr/bin/other\" \"%1\"\n");
    // Nothing to remove: nothing happens.
    UnregisterShellVerb(QStringLiteral("*"), QStringLiteral("Tessera"));
    EXPECT_TRUE(IsShellVerbRegistered(QStringLiteral("*"), QStringLiteral("Other")));
}

TEST_F(ShellVerb, AVerbKeyWithoutItsCommandStillCountsAsRegistered)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, u"*\\shell\\Tessera", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_TRUE(IsShellVerbRegistered(QStringLiteral("*"), QStringLiteral("Tessera")));
    // Another class's verb is not this one.
    EXPECT_FALSE(IsShellVerbRegistered(QStringLiteral("txtfile"), QStringLiteral("Tessera")));
    UnregisterShellVerb(QStringLiteral("*"), QStringLiteral("Tessera"));
    EXPECT_FALSE(IsShellVerbRegistered(QStringLiteral("*"), QStringLiteral("Tessera")));
}

TEST_F(ShellVerb, AnEmptyNameOrPathDoesNothing)
{
    RegisterShellVerb(QStringLiteral("*"), QStringLiteral("Tessera"), QStringLiteral("/usr/bin/tessera"));
    const std::string before = Dump(HKEY_CLASSES_ROOT, u"");
    // "*\shell\" would name the shell key itself.
    EXPECT_FALSE(IsShellVerbRegistered(QStringLiteral("*"), QString()));
    EXPECT_FALSE(IsShellVerbRegistered(QString(), QStringLiteral("Tessera")));
    RegisterShellVerb(QStringLiteral("*"), QString(), QStringLiteral("/usr/bin/tessera"));
    RegisterShellVerb(QString(), QStringLiteral("Tessera"), QStringLiteral("/usr/bin/tessera"));
    RegisterShellVerb(QStringLiteral("*"), QStringLiteral("Other"), QString());
    UnregisterShellVerb(QStringLiteral("*"), QString());
    UnregisterShellVerb(QString(), QStringLiteral("Tessera"));
    EXPECT_EQ(Dump(HKEY_CLASSES_ROOT, u""), before);
}

TEST_F(ShellVerb, AnAdministratorWithoutWriteAccessChangesNothing)
{
    if (const std::string why = CannotRunAs(Identity::AdministratorsMember); !why.empty())
        GTEST_SKIP() << why;
    RegisterShellVerb(QStringLiteral("*"), QStringLiteral("Kept"), QStringLiteral("/usr/bin/kept"));
    const std::string before = Dump(HKEY_CLASSES_ROOT, u"");
    FRoot.SetWritable(false);
    const IdentityRun run = RunAs(Identity::AdministratorsMember, [] {
        RegisterShellVerb(QStringLiteral("*"), QStringLiteral("Tessera"), QStringLiteral("/usr/bin/tessera"));
        UnregisterShellVerb(QStringLiteral("*"), QStringLiteral("Kept"));
        return std::string(IsAdministrator() ? "administrator" : "user") + " " +
               (IsShellVerbRegistered(QStringLiteral("*"), QStringLiteral("Tessera")) ? "registered" : "absent");
    });
    FRoot.SetWritable(true);
    ASSERT_TRUE(run.Ran) << run.Output;
    EXPECT_EQ(run.Output, "administrator absent");
    EXPECT_EQ(Dump(HKEY_CLASSES_ROOT, u""), before);
}

} // namespace
