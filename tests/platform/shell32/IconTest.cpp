// Icons: group counts, .ico bytes assembled from a PE's resources, theme icons for files
// without one, and the life of icon handles.
#include "platform/include/win/shellapi.h"

#include "platform/include/win/winbase.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr UINT CountIcons = 0xFFFFFFFF;

std::u16string PathOf(const std::string& fixture) { return testsupport::Fixture("pe/" + fixture).u16string(); }

uintptr_t Count(const std::u16string& path)
{
    return reinterpret_cast<uintptr_t>(ExtractIconW(nullptr, path.c_str(), CountIcons));
}

// The images of an .ico file: (width, image bytes). Checks the directory on the way.
std::vector<std::pair<int, std::vector<uint8_t>>> IcoImages(const ICONDATA& data)
{
    const auto u16 = [&](size_t at) { return data.pbIcon[at] | (data.pbIcon[at + 1] << 8); };
    const auto u32 = [&](size_t at) { return static_cast<uint32_t>(u16(at) | (u16(at + 2) << 16)); };
    EXPECT_GE(data.cbIcon, 6u);
    EXPECT_EQ(u16(0), 0);
    EXPECT_EQ(u16(2), 1);
    std::vector<std::pair<int, std::vector<uint8_t>>> images;
    const int count = u16(4);
    for (int i = 0; i < count; ++i) {
        const size_t entry = 6 + 16 * static_cast<size_t>(i);
        const uint32_t size = u32(entry + 8);
        const uint32_t offset = u32(entry + 12);
        EXPECT_LE(uint64_t{offset} + size, data.cbIcon);
        if (uint64_t{offset} + size > data.cbIcon)
            break;
        images.emplace_back(data.pbIcon[entry], std::vector<uint8_t>(data.pbIcon + offset, data.pbIcon + offset + size));
    }
    return images;
}

bool IsPng(const std::vector<uint8_t>& bytes)
{
    static const uint8_t Signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return bytes.size() > sizeof Signature && std::equal(std::begin(Signature), std::end(Signature), bytes.begin());
}

} // namespace

TEST(Icons, CountsIconGroups)
{
    const testsupport::TempDir dir;
    EXPECT_EQ(Count(PathOf("gui.exe")), 2u);
    EXPECT_EQ(Count(PathOf("signed.exe")), 2u);
    EXPECT_EQ(Count(PathOf("console.exe")), 0u);
    EXPECT_EQ(Count(PathOf("ne-win16.exe")), 0u);
    EXPECT_EQ(Count(PathOf("rsrc-loop.exe")), 0u);
    EXPECT_EQ(Count(PathOf("text.txt")), 0u);
    EXPECT_EQ(Count((dir / "missing.exe").u16string()), 0u);
}

TEST(Icons, AssemblesIcoFilesFromGroups)
{
    const std::u16string gui = PathOf("gui.exe");
    const HICON first = ExtractIconW(nullptr, gui.c_str(), 0);
    const HICON second = ExtractIconW(nullptr, gui.c_str(), 1);
    const HICON byId = ExtractIconW(nullptr, gui.c_str(), static_cast<UINT>(-7));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_NE(byId, nullptr);

    ICONDATA data{};
    ASSERT_TRUE(GetIconData(first, &data));
    EXPECT_EQ(data.pszThemeName, nullptr);
    const auto images = IcoImages(data);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].first, 16);
    EXPECT_EQ(images[1].first, 32);
    EXPECT_TRUE(IsPng(images[0].second));
    EXPECT_TRUE(IsPng(images[1].second));
    EXPECT_NE(images[0].second, images[1].second);

    ICONDATA one{}, same{};
    ASSERT_TRUE(GetIconData(second, &one));
    ASSERT_TRUE(GetIconData(byId, &same));
    ASSERT_EQ(IcoImages(one).size(), 1u);
    EXPECT_EQ(std::vector<uint8_t>(one.pbIcon, one.pbIcon + one.cbIcon),
              std::vector<uint8_t>(same.pbIcon, same.pbIcon + same.cbIcon));

    for (const HICON h : {first, second, byId})
        EXPECT_TRUE(DestroyIcon(h));
}

TEST(Icons, MissingGroupsAndOtherFiles)
{
    const std::u16string gui = PathOf("gui.exe");
    EXPECT_EQ(ExtractIconW(nullptr, gui.c_str(), 2), nullptr);
    EXPECT_EQ(ExtractIconW(nullptr, gui.c_str(), static_cast<UINT>(-5)), nullptr);
    EXPECT_EQ(ExtractIconW(nullptr, PathOf("console.exe").c_str(), 0), nullptr);
    // A file that is neither an executable nor an icon gives 1, as Windows documents; it is no
    // icon handle.
    const HICON notIcon = ExtractIconW(nullptr, PathOf("text.txt").c_str(), 0);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(notIcon), 1u);
    ICONDATA data{};
    EXPECT_FALSE(GetIconData(notIcon, &data));
    EXPECT_FALSE(DestroyIcon(notIcon));
    EXPECT_EQ(ExtractIconW(nullptr, nullptr, 0), nullptr);
}

TEST(Icons, AssociatedIconIsTheFilesOwnOrItsTypes)
{
    const testsupport::TempDir dir;
    struct Case {
        std::u16string Path;
        const char16_t* Theme; // null: the file's own icon
    };
    const Case cases[] = {
        {PathOf("gui.exe"), nullptr},
        {PathOf("console.exe"), u"application-x-ms-dos-executable"},
        {PathOf("text.txt"), u"text-plain"},
        {dir.path().u16string(), u"inode-directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Path.begin(), c.Path.end()));
        std::u16string path = c.Path;
        WORD index = 0;
        const HICON icon = ExtractAssociatedIconW(nullptr, path.data(), &index);
        ASSERT_NE(icon, nullptr);
        ICONDATA data{};
        ASSERT_TRUE(GetIconData(icon, &data));
        if (c.Theme) {
            EXPECT_EQ(data.cbIcon, 0u);
            EXPECT_EQ(data.pbIcon, nullptr);
            ASSERT_NE(data.pszThemeName, nullptr);
            EXPECT_EQ(std::u16string(data.pszThemeName), c.Theme);
        } else {
            EXPECT_EQ(IcoImages(data).size(), 2u);
            EXPECT_EQ(data.pszThemeName, nullptr);
        }
        EXPECT_TRUE(DestroyIcon(icon));
    }
    std::u16string missing = (dir / "missing.txt").u16string();
    WORD index = 0;
    EXPECT_EQ(ExtractAssociatedIconW(nullptr, missing.data(), &index), nullptr);
}

TEST(Icons, HandlesLiveUntilDestroyed)
{
    const HICON icon = ExtractIconW(nullptr, PathOf("gui.exe").c_str(), 0);
    ASSERT_NE(icon, nullptr);
    ICONDATA data{};
    EXPECT_FALSE(GetIconData(icon, nullptr));
    EXPECT_TRUE(GetIconData(icon, &data));
    EXPECT_TRUE(DestroyIcon(icon));
    SetLastError(0);
    EXPECT_FALSE(DestroyIcon(icon));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(GetIconData(icon, &data));
    EXPECT_FALSE(DestroyIcon(nullptr));
}
