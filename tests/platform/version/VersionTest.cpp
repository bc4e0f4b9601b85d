// The version stand-in by path over the PE fixtures, and VerQueryValueW over hand-built blocks
// that are malformed in the ways a hostile file can be.
#include "platform/include/win/winver.h"

#include "platform/include/win/winbase.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

std::u16string PathOf(const std::string& fixture) { return testsupport::Fixture("pe/" + fixture).u16string(); }

// A version block loaded as the program loads it: ask the size, then copy into a buffer of
// 32-bit words so that the block is aligned.
struct LoadedBlock {
    std::vector<uint32_t> Words;
    DWORD Size = 0;
    const void* data() const { return Words.data(); }
};

std::optional<LoadedBlock> Load(const std::u16string& path)
{
    DWORD handle = 0xFFFF;
    LoadedBlock block;
    block.Size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    EXPECT_EQ(handle, 0u);
    if (block.Size == 0)
        return std::nullopt;
    block.Words.assign((block.Size + 3) / 4, 0);
    if (!GetFileVersionInfoW(path.c_str(), 0, block.Size, block.Words.data()))
        return std::nullopt;
    return block;
}

// A text value read as the program reads it: up to its NUL, and never past the block, whose
// root claims its size.
std::optional<std::u16string> Text(const void* block, const std::u16string& subBlock, UINT* lengthOut = nullptr)
{
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block, subBlock.c_str(), &value, &length))
        return std::nullopt;
    if (lengthOut)
        *lengthOut = length;
    const auto* bytes = static_cast<const uint8_t*>(block);
    const auto* end = reinterpret_cast<const char16_t*>(bytes + (bytes[0] | (bytes[1] << 8)));
    std::u16string text;
    for (const auto* c = static_cast<const char16_t*>(value); c < end && *c != 0; ++c)
        text += *c;
    return text;
}

const VS_FIXEDFILEINFO* Fixed(const void* block)
{
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block, u"\\", &value, &length) || length != sizeof(VS_FIXEDFILEINFO))
        return nullptr;
    return static_cast<const VS_FIXEDFILEINFO*>(value);
}

std::vector<std::pair<WORD, WORD>> Translations(const void* block)
{
    void* value = nullptr;
    UINT length = 0;
    std::vector<std::pair<WORD, WORD>> pairs;
    if (!VerQueryValueW(block, u"\\VarFileInfo\\Translation", &value, &length))
        return pairs;
    const auto* words = static_cast<const WORD*>(value);
    for (UINT i = 0; i + 4 <= length; i += 4)
        pairs.emplace_back(words[i / 2], words[i / 2 + 1]);
    return pairs;
}

} // namespace

TEST(Version, ReadsTheFixedInformationAndTranslation)
{
    const auto block = Load(PathOf("gui.exe"));
    ASSERT_TRUE(block);
    const VS_FIXEDFILEINFO* fixed = Fixed(block->data());
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwSignature, VS_FFI_SIGNATURE);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010002u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00030004u);
    EXPECT_EQ(fixed->dwFileFlags & VS_FF_PRERELEASE, 0u);
    EXPECT_EQ(Translations(block->data()), (std::vector<std::pair<WORD, WORD>>{{0x0409, 0x04B0}}));
    // An empty path is the root as well.
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block->data(), u"", &value, &length));
    EXPECT_EQ(value, fixed);
}

struct StringCase {
    const char16_t* Key;
    const char16_t* Value;
};

class VersionStrings : public testing::TestWithParam<StringCase> {};

TEST_P(VersionStrings, FindsEveryKeyIgnoringCase)
{
    const auto block = Load(PathOf("gui.exe"));
    ASSERT_TRUE(block);
    const std::u16string key = GetParam().Key;
    const std::u16string expected = GetParam().Value;
    UINT length = 0;
    EXPECT_EQ(Text(block->data(), u"\\StringFileInfo\\040904B0\\" + key, &length), expected);
    EXPECT_EQ(length, expected.size() + 1); // characters, NUL included
    std::u16string lower = u"\\stringfileinfo\\040904b0\\" + key;
    std::u16string upper = lower;
    for (char16_t& c : lower)
        c = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
    for (char16_t& c : upper)
        c = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
    EXPECT_EQ(Text(block->data(), lower), expected);
    EXPECT_EQ(Text(block->data(), upper), expected);
}

INSTANTIATE_TEST_SUITE_P(
    AllKeys, VersionStrings,
    testing::Values(StringCase{u"CompanyName", u"Tessera Fixtures Ltd."},
                    StringCase{u"FileDescription", u"Tessera test program"},
                    StringCase{u"ProductName", u"Tessera Fixture Suite"}, StringCase{u"ProductVersion", u"1.2.3.4"},
                    StringCase{u"FileVersion", u"1.2.3.4"},
                    StringCase{u"LegalCopyright", u"Copyright (C) 2024 Tessera Fixtures"},
                    StringCase{u"LegalTrademarks", u"Tessera(TM)"}, StringCase{u"Comments", u"Made by make-fixtures.py"},
                    StringCase{u"InternalName", u"gui"}, StringCase{u"OriginalFileName", u"gui.exe"},
                    StringCase{u"SpecialBuild", u"Special build for tests"},
                    StringCase{u"PrivateBuild", u"Private build for tests"},
                    StringCase{u"BuildTimestamp", u"2024-05-01 12:00:00"}),
    [](const auto& info) { return "key" + std::to_string(info.index); });

struct FileCase {
    const char* Name;
    const char16_t* SubBlock;
    const char16_t* Expected; // null: the query fails
};

class VersionFiles : public testing::TestWithParam<FileCase> {};

TEST_P(VersionFiles, AnswersQueries)
{
    const auto block = Load(PathOf(GetParam().Name));
    ASSERT_TRUE(block);
    const auto text = Text(block->data(), GetParam().SubBlock);
    if (GetParam().Expected) {
        EXPECT_EQ(text, std::u16string(GetParam().Expected));
    } else {
        EXPECT_EQ(text, std::nullopt);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, VersionFiles,
    testing::Values(
        FileCase{"gui.exe", u"\\StringFileInfo\\040904B0\\NoSuchKey", nullptr},
        FileCase{"gui.exe", u"\\StringFileInfo\\040904E4\\CompanyName", nullptr},
        FileCase{"gui.exe", u"\\StringFileInfo\\040904B0\\Company", nullptr}, // no prefix matches
        FileCase{"gui.exe", u"\\\\StringFileInfo\\\\040904B0\\CompanyName", u"Tessera Fixtures Ltd."},
        FileCase{"version-notrans.exe", u"\\StringFileInfo\\040904E4\\CompanyName", u"No Translation Inc."},
        FileCase{"version-twolang.exe", u"\\StringFileInfo\\040904B0\\ProductName", u"English Product"},
        FileCase{"version-twolang.exe", u"\\StringFileInfo\\040504E2\\CompanyName", u"Česká společnost"},
        FileCase{"version-product.exe", u"\\StringFileInfo\\040904B0\\ProductVersion", u"5.4 Gold Edition"},
        FileCase{"version-missing-keys.exe", u"\\StringFileInfo\\040904B0\\CompanyName", u"Only Two Keys"},
        FileCase{"version-missing-keys.exe", u"\\StringFileInfo\\040904B0\\Comments", nullptr},
        FileCase{"version-missing-keys.exe", u"\\StringFileInfo\\040904B0\\BuildTimestamp", nullptr},
        FileCase{"gui64.exe", u"\\StringFileInfo\\040904B0\\OriginalFileName", u"gui.exe"},
        FileCase{"library.dll", u"\\StringFileInfo\\040904B0\\InternalName", u"gui"},
        // A string whose length runs past its table: the table cannot be read, its neighbours can.
        FileCase{"version-bad-child.exe", u"\\StringFileInfo\\040904B0\\CompanyName", nullptr},
        FileCase{"version-bad-child.exe", u"\\StringFileInfo\\040904B0\\ProductName", nullptr},
        // A string typed as binary, and one whose declared length falls short of its text: read to
        // the NUL, inside the block.
        FileCase{"version-binary-string.exe", u"\\StringFileInfo\\040904B0\\CompanyName", u"Binary Typed Company"},
        FileCase{"version-short-length.exe", u"\\StringFileInfo\\040904B0\\CompanyName", u"English Company"},
        // The strings of a 16-bit executable, widened from its code page.
        FileCase{"ne-version.exe", u"\\StringFileInfo\\040904E4\\ProductName", u"Tessera Héritage"},
        FileCase{"ne-version.exe", u"\\StringFileInfo\\040904E4\\LegalCopyright", u"© 1993"}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(Version, FixedInformationOfTheVariants)
{
    struct Expected {
        const char* Name;
        DWORD FileMS, FileLS, ProductMS, ProductLS, Flags;
        size_t Translations;
    };
    const Expected cases[] = {
        {"version-prerelease-b0.exe", 0x00020001, 0x00000000, 0x00020001, 0x00000000, VS_FF_PRERELEASE, 1},
        {"version-prerelease-b7.exe", 0x00020001, 0x00000007, 0x00020001, 0x00000007, VS_FF_PRERELEASE, 1},
        {"version-product.exe", 0x00050004, 0x00030002, 0x00050004, 0x00030002, 0, 1},
        {"version-notrans.exe", 0x00030000, 0x00000000, 0x00030000, 0x00000000, 0, 0},
        {"version-twolang.exe", 0x00010002, 0x00030004, 0x00010002, 0x00030004, 0, 2},
        {"gui64.exe", 0x00060004, 0x00000001, 0x00010002, 0x00030004, 0, 1},
        {"version-bad-child.exe", 0x00010002, 0x00030004, 0x00010002, 0x00030004, 0, 1},
    };
    for (const Expected& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto block = Load(PathOf(c.Name));
        ASSERT_TRUE(block);
        const VS_FIXEDFILEINFO* fixed = Fixed(block->data());
        ASSERT_NE(fixed, nullptr);
        EXPECT_EQ(fixed->dwFileVersionMS, c.FileMS);
        EXPECT_EQ(fixed->dwFileVersionLS, c.FileLS);
        EXPECT_EQ(fixed->dwProductVersionMS, c.ProductMS);
        EXPECT_EQ(fixed->dwProductVersionLS, c.ProductLS);
        EXPECT_EQ(fixed->dwFileFlags, c.Flags);
        EXPECT_EQ(Translations(block->data()).size(), c.Translations);
    }
    const auto twoLanguages = Load(PathOf("version-twolang.exe"));
    EXPECT_EQ(Translations(twoLanguages->data()),
              (std::vector<std::pair<WORD, WORD>>{{0x0409, 0x04B0}, {0x0405, 0x04E2}}));
}

// Lengths as the node declares them: characters for text, bytes for binary values, whatever the
// value is; a translation typed as text is handed back all the same.
TEST(Version, LengthsAreTheDeclaredOnes)
{
    const struct {
        const char* File;
        const char16_t* SubBlock;
        UINT Length;
    } cases[] = {
        {"version-binary-string.exe", u"\\StringFileInfo\\040904B0\\CompanyName", 42},
        {"version-short-length.exe", u"\\StringFileInfo\\040904B0\\CompanyName", 4},
        {"version-text-translation.exe", u"\\VarFileInfo\\Translation", 4},
        {"gui.exe", u"\\VarFileInfo\\Translation", 4},
    };
    for (const auto& c : cases) {
        const auto block = Load(PathOf(c.File));
        ASSERT_TRUE(block) << c.File;
        void* value = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(block->data(), c.SubBlock, &value, &length)) << c.File;
        EXPECT_EQ(length, c.Length) << c.File;
    }
    const auto german = Load(PathOf("version-text-translation.exe"));
    EXPECT_EQ(Translations(german->data()), (std::vector<std::pair<WORD, WORD>>{{0x0407, 0x04B0}}));
}

// Resource id 1 only, in the language Windows' loader takes: language-neutral, then the user's,
// then another of its primary language, then the first.
TEST(Version, TheLoadersChoiceOfResource)
{
    const struct {
        const char* File;
        const char* Locale;
        const char16_t* Table;
        const char16_t* Company; // null: no version resource at all
    } cases[] = {
        {"version-three-languages.exe", "C.UTF-8", u"040904B0", u"English Company"},
        {"version-three-languages.exe", "en_GB.UTF-8", u"040904B0", u"English Company"},
        {"version-three-languages.exe", "ja_JP.UTF-8", u"041104B0", u"日本の会社"},
        {"version-three-languages.exe", "de_AT.UTF-8", u"040704B0", u"Deutsche Firma"},
        {"version-three-languages.exe", "fr_FR.UTF-8", u"040704B0", u"Deutsche Firma"},
        {"version-neutral.exe", "C.UTF-8", u"000004B0", u"Neutral Company"},
        {"version-id7.exe", "C.UTF-8", u"040904B0", nullptr},
    };
    const std::string previous = std::getenv("LC_ALL");
    for (const auto& c : cases) {
        setenv("LC_ALL", c.Locale, 1);
        const auto block = Load(PathOf(c.File));
        if (!c.Company) {
            EXPECT_FALSE(block) << c.File;
            continue;
        }
        ASSERT_TRUE(block) << c.File << " " << c.Locale;
        EXPECT_EQ(Text(block->data(), std::u16string(u"\\StringFileInfo\\") + c.Table + u"\\CompanyName"),
                  std::u16string(c.Company))
            << c.File << " " << c.Locale;
    }
    setenv("LC_ALL", previous.c_str(), 1);
}

TEST(Version, FilesWithoutAVersionResource)
{
    const testsupport::TempDir dir;
    struct Case {
        std::u16string Path;
        DWORD Error;
    };
    const Case cases[] = {
        {PathOf("console.exe"), ERROR_RESOURCE_TYPE_NOT_FOUND},
        {PathOf("text.txt"), ERROR_RESOURCE_TYPE_NOT_FOUND},
        {PathOf("dos.exe"), ERROR_RESOURCE_TYPE_NOT_FOUND},
        {PathOf("ne-win16.exe"), ERROR_RESOURCE_TYPE_NOT_FOUND},
        {PathOf("trunc-optional.exe"), ERROR_RESOURCE_TYPE_NOT_FOUND},
        {PathOf("rsrc-loop.exe"), ERROR_RESOURCE_TYPE_NOT_FOUND},
        {PathOf("rsrc-data-past-end.exe"), ERROR_RESOURCE_TYPE_NOT_FOUND},
        {(dir / "missing.exe").u16string(), ERROR_FILE_NOT_FOUND},
        {dir.path().u16string(), ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Path.begin(), c.Path.end()));
        DWORD handle = 7;
        SetLastError(0);
        EXPECT_EQ(GetFileVersionInfoSizeW(c.Path.c_str(), &handle), 0u);
        EXPECT_EQ(GetLastError(), c.Error);
        EXPECT_EQ(handle, 0u);
        uint32_t buffer[64] = {};
        SetLastError(0);
        EXPECT_FALSE(GetFileVersionInfoW(c.Path.c_str(), 0, sizeof buffer, buffer));
        EXPECT_EQ(GetLastError(), c.Error);
    }
}

// A buffer shorter than the block takes its start; queries then stay inside the buffer.
TEST(Version, ShortBufferCutsTheBlock)
{
    const auto full = Load(PathOf("gui.exe"));
    ASSERT_TRUE(full);
    constexpr DWORD Short = 100; // the fixed information ends at 92
    std::vector<uint32_t> buffer(Short / 4, 0);
    ASSERT_TRUE(GetFileVersionInfoW(PathOf("gui.exe").c_str(), 0, Short, buffer.data()));
    EXPECT_EQ(buffer[0] & 0xFFFF, Short);
    EXPECT_NE(Fixed(buffer.data()), nullptr);
    EXPECT_EQ(Text(buffer.data(), u"\\StringFileInfo\\040904B0\\CompanyName"), std::nullopt);
    EXPECT_TRUE(Translations(buffer.data()).empty());
}

// --- Hand-built blocks ---

namespace {

// One node: header, key, padding, value, padding, children (each child padded to 32 bits).
std::vector<uint8_t> Node(const std::u16string& key, const std::vector<uint8_t>& value, bool text,
                          const std::vector<std::vector<uint8_t>>& children = {})
{
    std::vector<uint8_t> out(6, 0);
    for (char16_t c : key + u'\0') {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    while (out.size() % 4)
        out.push_back(0);
    out.insert(out.end(), value.begin(), value.end());
    for (const auto& child : children) {
        while (out.size() % 4)
            out.push_back(0);
        out.insert(out.end(), child.begin(), child.end());
    }
    const size_t valueLength = text ? value.size() / 2 : value.size();
    out[0] = static_cast<uint8_t>(out.size() & 0xFF);
    out[1] = static_cast<uint8_t>(out.size() >> 8);
    out[2] = static_cast<uint8_t>(valueLength & 0xFF);
    out[3] = static_cast<uint8_t>(valueLength >> 8);
    out[4] = text ? 1 : 0;
    return out;
}

std::vector<uint8_t> TextValue(const std::u16string& s)
{
    std::vector<uint8_t> out;
    for (char16_t c : s + u'\0') {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    return out;
}

std::vector<uint8_t> FixedValue()
{
    std::vector<uint8_t> v(sizeof(VS_FIXEDFILEINFO), 0);
    const DWORD signature = VS_FFI_SIGNATURE;
    std::memcpy(v.data(), &signature, 4);
    return v;
}

// VS_VERSION_INFO { StringFileInfo { 040904B0 { "Name" = "Value", "Other" = "Second" } } }
std::vector<uint8_t> GoodBlock()
{
    return Node(u"VS_VERSION_INFO", FixedValue(), false,
                {Node(u"StringFileInfo", {}, true,
                      {Node(u"040904B0", {}, true,
                            {Node(u"Name", TextValue(u"Value"), true), Node(u"Other", TextValue(u"Second"), true)})})});
}

size_t Find(const std::vector<uint8_t>& block, const std::u16string& key)
{
    const std::vector<uint8_t> needle = TextValue(key);
    const auto it = std::search(block.begin(), block.end(), needle.begin(), needle.end() - 2);
    return static_cast<size_t>(it - block.begin()) - 6; // the node header before the key
}

void PutU16(std::vector<uint8_t>& block, size_t at, uint16_t v)
{
    block[at] = static_cast<uint8_t>(v & 0xFF);
    block[at + 1] = static_cast<uint8_t>(v >> 8);
}

struct BlockCase {
    const char* What;
    void (*Mutate)(std::vector<uint8_t>&);
    bool Root;  // "\" still answers
    bool Name;  // "\StringFileInfo\040904B0\Name" still answers
    bool Other; // "...\Other" still answers
};

class VersionBlocks : public testing::TestWithParam<BlockCase> {};

} // namespace

TEST_P(VersionBlocks, NeverReadOutsideTheBlock)
{
    std::vector<uint8_t> bytes = GoodBlock();
    GetParam().Mutate(bytes);
    // Copy to an aligned buffer exactly as long as the root claims, so that a read past the
    // block is a read past the allocation.
    const size_t claimed = bytes[0] | (bytes[1] << 8);
    std::vector<uint32_t> words((std::max<size_t>(claimed, 2) + 3) / 4, 0);
    std::memcpy(words.data(), bytes.data(), std::min(bytes.size(), words.size() * 4));
    EXPECT_EQ(Fixed(words.data()) != nullptr, GetParam().Root);
    EXPECT_EQ(Text(words.data(), u"\\StringFileInfo\\040904B0\\Name").has_value(), GetParam().Name);
    EXPECT_EQ(Text(words.data(), u"\\StringFileInfo\\040904B0\\Other").has_value(), GetParam().Other);
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, VersionBlocks,
    testing::Values(
        BlockCase{"intact", [](std::vector<uint8_t>&) {}, true, true, true},
        BlockCase{"child longer than its parent",
                  [](std::vector<uint8_t>& b) { PutU16(b, Find(b, u"Other"), 0x400); }, true, true, false},
        BlockCase{"child shorter than a header", [](std::vector<uint8_t>& b) { PutU16(b, Find(b, u"Other"), 4); },
                  true, true, false},
        BlockCase{"table longer than the root",
                  [](std::vector<uint8_t>& b) { PutU16(b, Find(b, u"StringFileInfo"), 0xFFF0); }, true, false, false},
        // Handed back as Windows hands it back: the reader stops at the block's end.
        BlockCase{"text without its NUL inside the node",
                  [](std::vector<uint8_t>& b) {
                      const size_t at = Find(b, u"Name");
                      const size_t length = b[at] | (b[at + 1] << 8);
                      PutU16(b, at + length - 2, u'!');
                  },
                  true, true, true},
        BlockCase{"binary value longer than its node",
                  [](std::vector<uint8_t>& b) { PutU16(b, 2, 0x2000); }, false, false, false},
        BlockCase{"wrong fixed-information signature", [](std::vector<uint8_t>& b) { b[40] ^= 0xFF; }, false, true,
                  true},
        BlockCase{"root cut inside its key", [](std::vector<uint8_t>& b) { PutU16(b, 0, 12); }, false, false, false},
        BlockCase{"root shorter than a header", [](std::vector<uint8_t>& b) { PutU16(b, 0, 2); }, false, false,
                  false}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(Version, RefusesAMisalignedBlock)
{
    const std::vector<uint8_t> bytes = GoodBlock();
    std::vector<uint32_t> words(bytes.size() / 4 + 2, 0);
    auto* shifted = reinterpret_cast<uint8_t*>(words.data()) + 2;
    std::memcpy(shifted, bytes.data(), bytes.size());
    void* value = nullptr;
    UINT length = 0;
    EXPECT_FALSE(VerQueryValueW(shifted, u"\\", &value, &length));
    EXPECT_FALSE(VerQueryValueW(nullptr, u"\\", &value, &length));
}
