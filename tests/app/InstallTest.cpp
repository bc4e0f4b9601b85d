// What `cmake --install` puts where the desktop looks: the program's desktop entry, valid and
// naming the file types Tessera opens, and its icon in every size of the hicolor theme.
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

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

TEST(Install, TheDesktopEntryAndTheIconsGoWhereFileManagersFindThem)
{
    TempDir prefix;
    const RunResult install =
        RunProgram(TESSERA_CMAKE, {"--install", TESSERA_BUILD_DIR, "--prefix", prefix.path().string()});
    ASSERT_EQ(install.ExitCode, 0) << install.Out << install.Err;

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
}

} // namespace
