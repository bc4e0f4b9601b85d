// Damaged files give clean failures; the fuzzer's findings replay without harm.
#include "platform/ole32/CompoundFile.h"
#include "platform/include/win/propidl.h"

#include "fuzz/ole32/Ole32Walk.h"
#include "tests/platform/ole32/Ole32TestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using namespace ole32test;

namespace {

TEST(Malformed, OpenFailsCleanly)
{
    struct Case {
        const char* File;
        HRESULT Expected;
    };
    const Case cases[] = {
        {"truncated.cfb", STG_E_DOCFILECORRUPT},       {"fat-cycle.cfb", STG_E_DOCFILECORRUPT},
        {"tree-loop.cfb", STG_E_DOCFILECORRUPT},       {"tree-bad-id.cfb", STG_E_DOCFILECORRUPT},
        {"sector-shift-30.cfb", STG_E_INVALIDHEADER},  {"byte-order.cfb", STG_E_INVALIDHEADER},
        {"short-header.cfb", STG_E_INVALIDHEADER},     {"fat-count-huge.cfb", STG_E_DOCFILECORRUPT},
        {"ministream-huge.cfb", STG_E_DOCFILECORRUPT}, {"not-compound.bin", STG_E_FILEALREADYEXISTS},
        {"empty.bin", STG_E_FILEALREADYEXISTS},
    };
    for (const Case& c : cases) {
        HRESULT hr = S_OK;
        Com<IStorage> root = OpenRoot(CompoundFixture(std::string("malformed/") + c.File), &hr);
        EXPECT_EQ(hr, c.Expected) << c.File;
        EXPECT_FALSE(root) << c.File;
    }
}

TEST(Malformed, DamagedStreamLeavesTheRestReadable)
{
    struct Case {
        const char* File;
        HRESULT Expected;
    };
    const Case cases[] = {{"stream-chain-cycle.cfb", STG_E_DOCFILECORRUPT},
                          {"stream-chain-short.cfb", STG_E_DOCFILECORRUPT},
                          {"stream-size-huge.cfb", STG_E_DOCFILECORRUPT}};
    for (const Case& c : cases) {
        Com<IStorage> root = OpenRoot(CompoundFixture(std::string("malformed/") + c.File));
        ASSERT_TRUE(root) << c.File;
        HRESULT hr = S_OK;
        EXPECT_FALSE(OpenStreamPath(root.get(), "Large", &hr)) << c.File;
        EXPECT_EQ(hr, c.Expected) << c.File;
        Com<IStream> small = OpenStreamPath(root.get(), "Small");
        ASSERT_TRUE(small) << c.File;
        EXPECT_EQ(ReadAll(small.get()), Pattern(100, 1)) << c.File;
        Com<IStream> inside = OpenStreamPath(root.get(), "Folder/Inside");
        ASSERT_TRUE(inside) << c.File;
        EXPECT_EQ(ReadAll(inside.get()), Pattern(700, 3)) << c.File;
    }
}

TEST(Malformed, DamagedPropertySets)
{
    struct Case {
        const char* File;
        HRESULT Expected;
    };
    const Case cases[] = {{"propset-bad-offset.cfb", STG_E_INVALIDHEADER},
                          {"propset-bad-count.cfb", STG_E_INVALIDHEADER},
                          {"propset-value-outside.cfb", STG_E_INVALIDHEADER},
                          {"propset-huge-dictionary.cfb", STG_E_INVALIDHEADER}};
    for (const Case& c : cases) {
        Com<IStorage> root = OpenRoot(CompoundFixture(std::string("malformed/") + c.File));
        ASSERT_TRUE(root) << c.File;
        Com<IPropertySetStorage> sets;
        ASSERT_EQ(root->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(sets.Put())), S_OK);
        Com<IPropertyStorage> set;
        EXPECT_EQ(sets->Open(FMTID_SummaryInformation, STGM_READ | STGM_SHARE_EXCLUSIVE, set.Put()), c.Expected) << c.File;
        EXPECT_FALSE(set);
        // Enum leaves out what does not parse.
        Com<IEnumSTATPROPSETSTG> listed;
        ASSERT_EQ(sets->Enum(listed.Put()), S_OK);
        STATPROPSETSTG stat;
        EXPECT_EQ(listed->Next(1, &stat, nullptr), S_FALSE) << c.File;
    }
}

TEST(Malformed, DamagedValuesFailAlone)
{
    UseUtf8Locale();
    Com<IStorage> root = OpenRoot(CompoundFixture("malformed/propset-bad-values.cfb"));
    ASSERT_TRUE(root);
    Com<IPropertySetStorage> sets;
    ASSERT_EQ(root->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(sets.Put())), S_OK);
    Com<IPropertyStorage> set;
    ASSERT_EQ(sets->Open(FMTID_SummaryInformation, STGM_READ | STGM_SHARE_EXCLUSIVE, set.Put()), S_OK);
    PROPSPEC key{};
    key.ulKind = PRSPEC_PROPID;
    PROPVARIANT value{};
    key.propid = 2;
    ASSERT_EQ(set->ReadMultiple(1, &key, &value), S_OK);
    EXPECT_STREQ(value.pszVal, "still fine");
    PropVariantClear(&value);
    // A vector of 2^30 elements, a string longer than its section, an array (not supported),
    // variants nested past the limit.
    for (const PROPID id : {3u, 4u, 5u, 6u}) {
        key.propid = id;
        EXPECT_EQ(set->ReadMultiple(1, &key, &value), STG_E_INVALIDHEADER) << id;
        EXPECT_EQ(value.vt, VT_EMPTY) << id;
    }
}

TEST(Malformed, ReaderRefusesBeforeAllocating)
{
    // The counts of these files would ask for gigabytes; the refusals come from checks
    // against the file's size, so they are quick and small.
    for (const char* name : {"fat-count-huge.cfb", "ministream-huge.cfb"}) {
        std::shared_ptr<const cfb::CompoundFile> file;
        EXPECT_EQ(cfb::CompoundFile::Open(CompoundFixture(std::string("malformed/") + name).string(), file),
                  STG_E_DOCFILECORRUPT);
        EXPECT_FALSE(file);
    }
}

// Every file the fuzzer kept, and every fixture, goes through the fuzzer's whole walk.
TEST(Malformed, WalkEveryFixtureAndFinding)
{
    std::vector<std::filesystem::path> files;
    for (const char* dir : {"compound", "compound/malformed", "malformed/ole32"}) {
        const auto folder = testsupport::Fixture(dir);
        if (!std::filesystem::is_directory(folder))
            continue;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.is_regular_file() && entry.path().extension() != ".py" && entry.path().extension() != ".md" &&
                entry.path().extension() != ".wxs")
                files.push_back(entry.path());
    }
    ASSERT_GT(files.size(), 25u);
    size_t opened = 0;
    for (const auto& path : files) {
        const std::u16string name = WidePath(path);
        opened += SUCCEEDED(ole32walk::WalkFile(name.c_str())) ? 1 : 0;
    }
    EXPECT_GE(opened, 10u);
}

} // namespace
