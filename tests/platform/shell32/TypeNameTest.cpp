// SHGetFileInfoW(SHGFI_TYPENAME): the shared-mime-info comment of the file's content type.
#include "platform/include/win/shellapi.h"

#include "platform/include/win/winbase.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

std::optional<std::u16string> TypeName(const fs::path& path, UINT extra = 0, DWORD attributes = 0)
{
    SHFILEINFOW info{};
    std::fill(std::begin(info.szTypeName), std::end(info.szTypeName), u'#');
    if (SHGetFileInfoW(path.u16string().c_str(), attributes, &info, sizeof info, SHGFI_TYPENAME | extra) != 1)
        return std::nullopt;
    return std::u16string(info.szTypeName);
}

} // namespace

TEST(TypeName, ComesFromTheContent)
{
    const testsupport::TempDir dir;
    // Content decides where the name says nothing.
    testsupport::WriteBytes(dir / "program", testsupport::ReadBytes(testsupport::Fixture("pe/gui.exe")));
    testsupport::WriteBytes(dir / "notes", testsupport::ReadBytes(testsupport::Fixture("pe/text.txt")));

    EXPECT_EQ(TypeName(testsupport::Fixture("pe/gui.exe")), u"DOS/Windows executable");
    EXPECT_EQ(TypeName(dir / "program"), u"DOS/Windows executable");
    EXPECT_EQ(TypeName(testsupport::Fixture("pe/text.txt")), u"plain text document");
    EXPECT_EQ(TypeName(dir / "notes"), u"plain text document");
    EXPECT_EQ(TypeName(dir.path()), u"folder");
}

TEST(TypeName, MissingFilesAndNamesOnly)
{
    const testsupport::TempDir dir;
    EXPECT_EQ(TypeName(dir / "missing.txt"), std::nullopt);
    EXPECT_EQ(SHGetFileInfoW(nullptr, 0, nullptr, 0, SHGFI_TYPENAME), 0u);
    SHFILEINFOW info{};
    EXPECT_EQ(SHGetFileInfoW(u"", 0, &info, sizeof info, SHGFI_TYPENAME), 0u);
    // With the attributes given, the file need not exist.
    EXPECT_EQ(TypeName(dir / "missing.txt", SHGFI_USEFILEATTRIBUTES, FILE_ATTRIBUTE_NORMAL), u"plain text document");
    EXPECT_EQ(TypeName(dir / "missing", SHGFI_USEFILEATTRIBUTES, FILE_ATTRIBUTE_DIRECTORY), u"folder");
}
