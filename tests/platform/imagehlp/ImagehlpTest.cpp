// libtessera-imagehlp.so bound by name, as the program binds it at start-up: certificate
// enumeration with type filters, whole entries with the size-query convention, bad input.
#include "platform/include/win/imagehlp.h"

#include "platform/include/win/winbase.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using EnumerateFn = decltype(&ImageEnumerateCertificates);
using GetDataFn = decltype(&ImageGetCertificateData);

class Imagehlp : public testing::Test {
protected:
    void SetUp() override
    {
        FModule = LoadLibraryW(u"IMAGEHLP.DLL");
        ASSERT_NE(FModule, nullptr);
        Enumerate = reinterpret_cast<EnumerateFn>(GetProcAddress(FModule, "ImageEnumerateCertificates"));
        GetData = reinterpret_cast<GetDataFn>(GetProcAddress(FModule, "ImageGetCertificateData"));
        ASSERT_NE(Enumerate, nullptr);
        ASSERT_NE(GetData, nullptr);
    }
    void TearDown() override
    {
        for (HANDLE h : FHandles)
            CloseHandle(h);
        if (FModule)
            FreeLibrary(FModule);
    }
    HANDLE Open(const std::string& fixture)
    {
        const std::u16string path = testsupport::Fixture("pe/" + fixture).u16string();
        const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            throw std::runtime_error("cannot open " + fixture);
        FHandles.push_back(h);
        return h;
    }

    EnumerateFn Enumerate = nullptr;
    GetDataFn GetData = nullptr;

private:
    HMODULE FModule = nullptr;
    std::vector<HANDLE> FHandles;
};

uint32_t U32(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

} // namespace

struct EnumerateCase {
    const char* Name;
    WORD Filter;
    BOOL Result;
    DWORD Count;
    std::vector<DWORD> Indices;
    DWORD Error; // when Result is FALSE
};

class ImagehlpEnumerate : public Imagehlp, public testing::WithParamInterface<EnumerateCase> {};

TEST_P(ImagehlpEnumerate, CountsAndIndexes)
{
    const EnumerateCase& c = GetParam();
    DWORD count = 0xDEAD;
    DWORD indices[128];
    std::fill(std::begin(indices), std::end(indices), 0xFFFFFFFF);
    SetLastError(0);
    EXPECT_EQ(Enumerate(Open(c.Name), c.Filter, &count, indices, 128), c.Result);
    if (!c.Result) {
        EXPECT_EQ(GetLastError(), c.Error);
        return;
    }
    EXPECT_EQ(count, c.Count);
    for (size_t i = 0; i < c.Indices.size(); ++i)
        EXPECT_EQ(indices[i], c.Indices[i]) << i;
    EXPECT_EQ(indices[c.Indices.size()], 0xFFFFFFFFu);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, ImagehlpEnumerate,
    testing::Values(EnumerateCase{"signed.exe", CERT_SECTION_TYPE_ANY, TRUE, 1, {0}, 0},
                    EnumerateCase{"signed64.exe", CERT_SECTION_TYPE_ANY, TRUE, 1, {0}, 0},
                    EnumerateCase{"signed-multi.exe", CERT_SECTION_TYPE_ANY, TRUE, 3, {0, 1, 2}, 0},
                    EnumerateCase{"signed-multi.exe", WIN_CERT_TYPE_PKCS_SIGNED_DATA, TRUE, 2, {0, 1}, 0},
                    EnumerateCase{"signed-multi.exe", WIN_CERT_TYPE_X509, TRUE, 1, {2}, 0},
                    EnumerateCase{"signed.exe", WIN_CERT_TYPE_X509, TRUE, 0, {}, 0},
                    EnumerateCase{"gui.exe", CERT_SECTION_TYPE_ANY, TRUE, 0, {}, 0},
                    EnumerateCase{"library.dll", CERT_SECTION_TYPE_ANY, TRUE, 0, {}, 0},
                    EnumerateCase{"text.txt", CERT_SECTION_TYPE_ANY, FALSE, 0, {}, ERROR_BAD_EXE_FORMAT},
                    EnumerateCase{"dos.exe", CERT_SECTION_TYPE_ANY, FALSE, 0, {}, ERROR_BAD_EXE_FORMAT},
                    EnumerateCase{"trunc-optional.exe", CERT_SECTION_TYPE_ANY, FALSE, 0, {}, ERROR_BAD_EXE_FORMAT},
                    EnumerateCase{"cert-table-past-end.exe", CERT_SECTION_TYPE_ANY, FALSE, 0, {}, ERROR_INVALID_DATA},
                    EnumerateCase{"cert-entry-too-long.exe", CERT_SECTION_TYPE_ANY, FALSE, 0, {}, ERROR_INVALID_DATA}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_F(Imagehlp, WritesNoMoreIndexesThanAskedFor)
{
    DWORD count = 0;
    DWORD indices[3] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    ASSERT_TRUE(Enumerate(Open("signed-multi.exe"), CERT_SECTION_TYPE_ANY, &count, indices, 1));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(indices[0], 0u);
    EXPECT_EQ(indices[1], 0xFFFFFFFFu);
    ASSERT_TRUE(Enumerate(Open("signed-multi.exe"), CERT_SECTION_TYPE_ANY, &count, nullptr, 0));
    EXPECT_EQ(count, 3u);
}

TEST_F(Imagehlp, GivesTheWholeEntryAfterASizeQuery)
{
    const auto bytes = testsupport::ReadBytes(testsupport::Fixture("pe/signed-multi.exe"));
    const HANDLE h = Open("signed-multi.exe");
    // Directory 4 of a PE32 image: 0x80 + 24 + 96 + 32.
    const uint32_t tableOffset = U32(bytes, 0x80 + 24 + 96 + 32);
    uint64_t entryOffset = tableOffset;
    for (DWORD index = 0; index < 3; ++index) {
        const uint32_t length = U32(bytes, entryOffset);
        DWORD required = 0;
        SetLastError(0);
        EXPECT_FALSE(GetData(h, index, nullptr, &required));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        EXPECT_EQ(required, length);

        std::vector<uint8_t> buffer(required + 16, 0xCC);
        DWORD small = required - 1;
        SetLastError(0);
        EXPECT_FALSE(GetData(h, index, reinterpret_cast<LPWIN_CERTIFICATE>(buffer.data()), &small));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        EXPECT_EQ(small, length);
        EXPECT_EQ(buffer[0], 0xCC);

        DWORD size = static_cast<DWORD>(buffer.size());
        ASSERT_TRUE(GetData(h, index, reinterpret_cast<LPWIN_CERTIFICATE>(buffer.data()), &size));
        EXPECT_EQ(size, length);
        // Header included, exactly dwLength bytes, nothing written past them.
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + length, bytes.begin() + entryOffset)) << index;
        EXPECT_EQ(buffer[length], 0xCC);
        const auto* certificate = reinterpret_cast<const WIN_CERTIFICATE*>(buffer.data());
        EXPECT_EQ(certificate->dwLength, length);
        EXPECT_EQ(certificate->wRevision, WIN_CERT_REVISION_2_0);
        EXPECT_EQ(certificate->wCertificateType, index < 2 ? WIN_CERT_TYPE_PKCS_SIGNED_DATA : WIN_CERT_TYPE_X509);
        entryOffset = (entryOffset + length + 7) / 8 * 8;
    }
    DWORD required = 0;
    SetLastError(0);
    EXPECT_FALSE(GetData(h, 3, nullptr, &required));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(Imagehlp, LeavesTheFilePositionAlone)
{
    const HANDLE h = Open("signed.exe");
    LARGE_INTEGER to{};
    to.QuadPart = 5;
    ASSERT_TRUE(SetFilePointerEx(h, to, nullptr, FILE_BEGIN));
    DWORD count = 0;
    DWORD index = 0;
    ASSERT_TRUE(Enumerate(h, CERT_SECTION_TYPE_ANY, &count, &index, 1));
    DWORD required = 0;
    EXPECT_FALSE(GetData(h, 0, nullptr, &required));
    std::vector<uint8_t> buffer(required);
    ASSERT_TRUE(GetData(h, 0, reinterpret_cast<LPWIN_CERTIFICATE>(buffer.data()), &required));
    LARGE_INTEGER now{};
    to.QuadPart = 0;
    ASSERT_TRUE(SetFilePointerEx(h, to, &now, FILE_CURRENT));
    EXPECT_EQ(now.QuadPart, 5);
}

TEST_F(Imagehlp, RefusesBadHandlesAndArguments)
{
    DWORD count = 0;
    DWORD required = 0;
    for (const HANDLE bad : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        SetLastError(0);
        EXPECT_FALSE(Enumerate(bad, CERT_SECTION_TYPE_ANY, &count, nullptr, 0));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(0);
        EXPECT_FALSE(GetData(bad, 0, nullptr, &required));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    SetLastError(0);
    EXPECT_FALSE(Enumerate(Open("signed.exe"), CERT_SECTION_TYPE_ANY, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}
