// Executable kinds: SHGetFileInfoW(SHGFI_EXETYPE) and kernel32's GetBinaryTypeW over the
// fixtures and over files named for the kinds Windows tells by name.
#include "platform/include/win/shellapi.h"

#include "platform/include/win/winbase.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

namespace fs = std::filesystem;

namespace {

DWORD_PTR ExeType(const fs::path& path)
{
    return SHGetFileInfoW(path.u16string().c_str(), 0, nullptr, 0, SHGFI_EXETYPE);
}

// The code, or the last error negated.
std::optional<DWORD> BinaryType(const fs::path& path, DWORD* error)
{
    DWORD type = 0xDEAD;
    SetLastError(0);
    if (!GetBinaryTypeW(path.u16string().c_str(), &type)) {
        *error = GetLastError();
        return std::nullopt;
    }
    return type;
}

struct KindCase {
    const char* Name;
    DWORD ExeType;                  // SHGFI_EXETYPE answer
    std::optional<DWORD> BinaryType; // nullopt: FALSE with ERROR_BAD_EXE_FORMAT
};

class ExecutableKinds : public testing::TestWithParam<KindCase> {};

} // namespace

TEST_P(ExecutableKinds, FromTheHeaders)
{
    const KindCase& c = GetParam();
    const fs::path path = testsupport::Fixture(std::string("pe/") + c.Name);
    EXPECT_EQ(ExeType(path), c.ExeType);
    DWORD error = 0;
    EXPECT_EQ(BinaryType(path, &error), c.BinaryType);
    if (!c.BinaryType) {
        EXPECT_EQ(error, ERROR_BAD_EXE_FORMAT);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, ExecutableKinds,
    testing::Values(KindCase{"gui.exe", 0x04004550, SCS_32BIT_BINARY},   // "PE", Windows 4.0
                    KindCase{"gui64.exe", 0x06004550, SCS_64BIT_BINARY}, // "PE", Windows 6.0
                    KindCase{"console.exe", 0x00004550, SCS_32BIT_BINARY},
                    KindCase{"console64.exe", 0x00004550, SCS_64BIT_BINARY},
                    KindCase{"posix.exe", 0x00004550, SCS_POSIX_BINARY},
                    KindCase{"signed.exe", 0x04004550, SCS_32BIT_BINARY},
                    KindCase{"library.dll", 0, std::nullopt},
                    KindCase{"ne-win16.exe", 0x030A454E, SCS_WOW_BINARY}, // "NE", Windows 3.10
                    KindCase{"ne-os2.exe", 0, SCS_OS216_BINARY},
                    KindCase{"ne-library.dll", 0, std::nullopt},
                    KindCase{"le.vxd", 0, std::nullopt},
                    KindCase{"lx.exe", 0, std::nullopt},
                    KindCase{"dos.exe", 0x00005A4D, SCS_DOS_BINARY}, // "MZ"
                    KindCase{"mz-short.bin", 0x00005A4D, SCS_DOS_BINARY},
                    KindCase{"trunc-optional.exe", 0, std::nullopt},
                    KindCase{"trunc-coff.exe", 0, std::nullopt},
                    KindCase{"section-past-end.exe", 0x00004550, SCS_32BIT_BINARY},
                    KindCase{"text.txt", 0, std::nullopt}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(ExecutableKinds, ByNameAndPath)
{
    const testsupport::TempDir dir;
    const auto text = testsupport::ReadBytes(testsupport::Fixture("pe/text.txt"));
    const auto gui = testsupport::ReadBytes(testsupport::Fixture("pe/gui.exe"));
    testsupport::WriteBytes(dir / "tool.COM", text);
    testsupport::WriteBytes(dir / "run.bat", text);
    testsupport::WriteBytes(dir / "dos.pif", text);
    testsupport::WriteBytes(dir / "gui.pif", gui);
    // A path far longer than Windows' 260 characters.
    const fs::path deep = dir / std::string(200, 'd') / std::string(200, 'e');
    fs::create_directories(deep);
    testsupport::WriteBytes(deep / "gui.exe", gui);

    DWORD error = 0;
    EXPECT_EQ(ExeType(dir / "tool.COM"), 0x00005A4Du);
    EXPECT_EQ(BinaryType(dir / "tool.COM", &error), SCS_DOS_BINARY);
    EXPECT_EQ(ExeType(dir / "run.bat"), 0x00004550u);
    EXPECT_EQ(BinaryType(dir / "run.bat", &error), std::nullopt);
    EXPECT_EQ(BinaryType(dir / "dos.pif", &error), SCS_PIF_BINARY);
    EXPECT_EQ(BinaryType(dir / "gui.pif", &error), SCS_PIF_BINARY);
    EXPECT_EQ(ExeType(deep / "gui.exe"), 0x04004550u);
    EXPECT_EQ(BinaryType(deep / "gui.exe", &error), SCS_32BIT_BINARY);

    EXPECT_EQ(ExeType(dir / "missing.exe"), 0u);
    EXPECT_EQ(BinaryType(dir / "missing.exe", &error), std::nullopt);
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ExeType(dir.path()), 0u);
    EXPECT_EQ(BinaryType(dir.path(), &error), std::nullopt);
    EXPECT_EQ(error, ERROR_ACCESS_DENIED);
}
