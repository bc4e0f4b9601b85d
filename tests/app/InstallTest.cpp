// What `cmake --install` puts in a prefix: programs that run there alone, with their stand-ins,
// whatever the working folder and with the build tree out of reach; the desktop entry, valid and
// naming the file types Tessera opens; the metainfo; the icon in every size of the hicolor theme;
// the manual pages; what scripts read (the JSON schema, bash's completion); each package's
// documents; the folders the file managers read the context-menu entry from.
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <sstream>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// Width and height from a PNG file's header.
std::pair<uint32_t, uint32_t> PngSize(const fs::path& path)
{
    const std::vector<uint8_t> bytes = ReadBytes(path);
    if (bytes.size() < 24 || bytes[1] != 'P' || bytes[2] != 'N' || bytes[3] != 'G')
        return {0, 0};
    const auto be32 = [&](size_t at) {
        return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 | uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
    };
    return {be32(16), be32(20)};
}

class Install : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Prefix = new TempDir;
        SystemRoot = new TempDir;
        const RunResult install =
            RunProgram(TESSERA_CMAKE, {"--install", TESSERA_BUILD_DIR, "--prefix", Prefix->path().string()}, {},
                       {"TESSERA_SYSTEM_ROOT=" + SystemRoot->path().string()});
        Installed = install.ExitCode == 0;
        InstallOutput = install.Out + install.Err;
    }
    static void TearDownTestSuite()
    {
        delete Prefix;
        Prefix = nullptr;
        delete SystemRoot;
        SystemRoot = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(Installed) << InstallOutput; }

    static inline TempDir* Prefix = nullptr;
    // Where the system's folders are made.
    static inline TempDir* SystemRoot = nullptr;
    static inline bool Installed = false;
    static inline std::string InstallOutput;
};

// Runs the installed tessera-report from / in a mount namespace of its own where the build tree
// is an empty folder.
RunResult RunInstalled(const fs::path& prefix, const std::vector<std::string>& args)
{
    std::string command = "mount -t tmpfs none \"$1\" && cd / && shift && exec \"$@\"";
    std::vector<std::string> unshareArgs;
    if (geteuid() != 0)
        unshareArgs.push_back("--map-root-user");
    for (const char* a : {"--mount", "--propagation", "private", "/bin/sh", "-c"})
        unshareArgs.push_back(a);
    unshareArgs.push_back(command);
    unshareArgs.push_back("sh");
    unshareArgs.push_back(TESSERA_BUILD_DIR);
    unshareArgs.push_back((prefix / "bin/tessera-report").string());
    unshareArgs.insert(unshareArgs.end(), args.begin(), args.end());
    return RunProgram("/usr/bin/unshare", unshareArgs);
}

// Why no mount namespace can hide the build tree here (in a chroot, whose root is no mount point,
// the mounts' propagation cannot be changed; without root and user namespaces there is none); empty
// when one can.
std::string CannotHideTheBuildTree()
{
    std::vector<std::string> args;
    if (geteuid() != 0)
        args.push_back("--map-root-user");
    args.insert(args.end(), {"--mount", "--propagation", "private", "/bin/true"});
    const RunResult probe = RunProgram("/usr/bin/unshare", args);
    return probe.ExitCode == 0 ? std::string() : probe.Out + probe.Err;
}

TEST_F(Install, TheInstalledReportRunsWithoutTheBuildTree)
{
    if (const std::string why = CannotHideTheBuildTree(); !why.empty())
        GTEST_SKIP() << "no mount namespace to hide the build tree in (the package test of a bare system covers "
                        "it): "
                     << why;
    const fs::path& prefix = Prefix->path();
    // Fixtures copied beside the installation: the source tree may lie inside the build tree.
    fs::copy_file(Fixture("signed/ts-rfc3161.exe"), prefix / "signed.exe");
    fs::copy_file(Fixture("certs/three.p7b"), prefix / "three.p7b");
    fs::copy_file(Fixture("trust-tessera.pem"), prefix / "trust.pem");
    setenv("SSL_CERT_FILE", (prefix / "trust.pem").c_str(), 1);
    for (const char* file : {"signed.exe", "three.p7b"}) {
        const RunResult built = RunProgram(BinaryDir() / "tessera-report", {(prefix / file).string()});
        ASSERT_EQ(built.ExitCode, 0) << built.Err;
        const RunResult installed = RunInstalled(prefix, {(prefix / file).string()});
        EXPECT_EQ(installed.ExitCode, 0) << installed.Err;
        EXPECT_EQ(installed.Out, built.Out) << file;
    }
    // The signature was judged by the installed trust provider: the verdict names the publisher.
    EXPECT_NE(RunInstalled(prefix, {(prefix / "signed.exe").string()}).Out.find("Publisher: Tessera Test Code Signing"),
              std::string::npos);
    setenv("SSL_CERT_FILE", TESSERA_FIXTURES_DIR "/no-trust.pem", 1);
    const RunResult version = RunInstalled(prefix, {"--version"});
    EXPECT_EQ(version.Out.rfind("tessera-report (Tessera) 1.", 0), 0u) << version.Out << version.Err;
}

TEST_F(Install, TheDesktopEntryTheIconsAndTheManualPagesGoWhereTheDesktopFindsThem)
{
    const fs::path& prefix = Prefix->path();

    const fs::path entry = prefix / "share/applications/tessera.desktop";
    const RunResult validate = RunProgram("/usr/bin/desktop-file-validate", {"--no-hints", entry.string()});
    EXPECT_EQ(validate.ExitCode, 0);
    EXPECT_EQ(validate.Out + validate.Err, "");
    const std::string text = ReadText(entry);
    for (const char* type : {"application/x-ms-dos-executable;", "application/x-msi;", "application/x-ole-storage;",
                             "application/x-x509-ca-cert;", "application/pkix-cert;", "application/pkcs7-mime;",
                             "application/x-pkcs7-certificates;", "application/pkcs12;", "application/x-pem-file;"})
        EXPECT_NE(text.find(type), std::string::npos) << type;
    EXPECT_NE(text.find("\nExec=tessera %f\n"), std::string::npos);
    EXPECT_NE(text.find("\nIcon=tessera\n"), std::string::npos);

    for (const uint32_t size : {16u, 24u, 32u, 48u, 64u, 128u, 256u}) {
        const std::string folder = std::to_string(size) + "x" + std::to_string(size);
        EXPECT_EQ(PngSize(prefix / "share/icons/hicolor" / folder / "apps/tessera.png"), std::pair(size, size)) << folder;
    }
    EXPECT_NE(ReadText(prefix / "share/icons/hicolor/scalable/apps/tessera.svg").find("<svg"), std::string::npos);

    for (const char* page : {"tessera.1", "tessera-report.1"}) {
        const fs::path compressed = prefix / "share/man/man1" / (std::string(page) + ".gz");
        const fs::path path = prefix / page;
        const RunResult gunzip = RunProgram("/bin/gzip", {"-d", "-c", compressed.string()});
        ASSERT_EQ(gunzip.ExitCode, 0) << page;
        WriteText(path, gunzip.Out);
        const std::string text = gunzip.Out;
        EXPECT_NE(text.find(".TH "), std::string::npos) << page;
        EXPECT_FALSE(std::regex_search(text, std::regex("@[A-Z_]+@"))) << page << ": a placeholder was left";
        // groff reads it without a warning.
        const RunResult groff = RunProgram("/usr/bin/groff", {"-man", "-Tutf8", "-ww", "-z", path.string()});
        EXPECT_EQ(groff.ExitCode, 0) << page;
        EXPECT_EQ(groff.Err, "") << page;
    }
}

TEST_F(Install, TheMetainfoTheSchemaTheCompletionAndEachPackagesDocuments)
{
    const fs::path& prefix = Prefix->path();
    const fs::path metainfo = prefix / "share/metainfo/example.tessera.Tessera.metainfo.xml";
    const RunResult validate = RunProgram("/usr/bin/appstreamcli", {"validate", "--no-net", metainfo.string()});
    EXPECT_EQ(validate.ExitCode, 0) << validate.Out << validate.Err;
    EXPECT_NE(ReadText(metainfo).find("<launchable type=\"desktop-id\">tessera.desktop</launchable>"),
              std::string::npos);
    EXPECT_NE(ReadText(metainfo).find("<project_license>Apache-2.0</project_license>"), std::string::npos);

    EXPECT_EQ(ReadText(prefix / "share/tessera/report.schema.json"),
              ReadText(fs::path(TESSERA_SOURCE_DIR) / "docs/report.schema.json"));
    const fs::path completion = prefix / "share/bash-completion/completions/tessera-report";
    const RunResult syntax = RunProgram("/bin/bash", {"-n", completion.string()});
    EXPECT_EQ(syntax.ExitCode, 0) << syntax.Err;
    EXPECT_NE(ReadText(completion).find("complete -F _tessera_report tessera-report"), std::string::npos);
    // With bash's completion: the options the installed program's --help lists, numbers for -j.
    const fs::path library = "/usr/share/bash-completion/bash_completion";
    if (fs::exists(library)) {
        const std::string complete = "source \"$1\" && source \"$2\" && PATH=\"$3:$PATH\" && "
                                     "COMP_WORDS=(tessera-report \"$4\" \"$5\") && COMP_CWORD=2 && "
                                     "COMP_LINE=\"tessera-report $4 $5\" && COMP_POINT=${#COMP_LINE} && "
                                     "_tessera_report tessera-report \"$5\" \"$4\" 2>/dev/null; echo \"${COMPREPLY[*]}\"";
        const auto offered = [&](const std::string& previous, const std::string& word) {
            return RunProgram("/bin/bash", {"-c", complete, "bash", library.string(), completion.string(),
                                            (prefix / "bin").string(), previous, word})
                .Out;
        };
        EXPECT_EQ(offered("-r", "--j"), "--jobs= --json\n");
        EXPECT_EQ(offered("-r", "--pass"), "--password-file=\n");
        EXPECT_EQ(offered("-j", "1"), "1\n");
    }

    for (const char* package : {"tessera", "tessera-report"}) {
        const fs::path doc = prefix / "share/doc" / package;
        EXPECT_NE(ReadText(doc / "copyright").find("\nLicense: Apache-2.0\n"), std::string::npos) << package;
        const RunResult changelog = RunProgram("/bin/gzip", {"-d", "-c", (doc / "changelog.gz").string()});
        EXPECT_EQ(changelog.Out.rfind("tessera (" TESSERA_PROJECT_VERSION ") ", 0), 0u) << package << changelog.Out;
    }
}

// A file manager that runs all session long watches only the folders that existed when it started:
// they are there before the box is first ticked, and empty.
TEST_F(Install, TheFileManagersFoldersForTheContextMenuEntryAreMade)
{
    for (const char* folder : {"usr/local/share/nemo/actions", "usr/local/share/kio/servicemenus"}) {
        const fs::path path = SystemRoot->path() / folder;
        EXPECT_TRUE(fs::is_directory(path)) << folder;
        EXPECT_TRUE(fs::is_empty(path)) << folder;
    }
}

} // namespace
