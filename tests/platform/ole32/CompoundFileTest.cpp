// The compound-file reader itself: the API the installer-package digest is computed with.
#include "platform/ole32/CompoundFile.h"

#include "tests/platform/ole32/Ole32TestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace ole32test;

namespace {

std::shared_ptr<const cfb::CompoundFile> Load(const std::string& name)
{
    std::shared_ptr<const cfb::CompoundFile> file;
    EXPECT_EQ(cfb::CompoundFile::Open(CompoundFixture(name).string(), file), S_OK) << name;
    return file;
}

const cfb::Entry* Find(const cfb::CompoundFile& file, const std::string& slashPath)
{
    const cfb::Entry* current = &file.Root();
    size_t start = 0;
    while (current && start <= slashPath.size()) {
        const size_t end = std::min(slashPath.find('/', start), slashPath.size());
        current = file.FindChild(*current, U16(slashPath.substr(start, end - start)));
        start = end + 1;
    }
    return current;
}

std::vector<uint8_t> ReadThrough(const cfb::CompoundFile& file, const cfb::Entry& entry, size_t chunk)
{
    cfb::StreamReader reader;
    EXPECT_EQ(file.OpenStream(entry, reader), S_OK);
    std::vector<uint8_t> out;
    std::vector<uint8_t> buffer(chunk);
    for (uint64_t off = 0;; off += chunk) {
        size_t got = 0;
        EXPECT_EQ(reader.ReadAt(off, buffer.data(), chunk, &got), S_OK);
        if (got == 0)
            break;
        out.insert(out.end(), buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(got));
    }
    return out;
}

std::vector<std::string> ChildNames(const cfb::CompoundFile& file, const cfb::Entry& storage)
{
    std::vector<std::string> names;
    for (const uint32_t id : storage.Children)
        names.push_back(U8(file.EntryById(id)->Name.c_str()));
    return names;
}

class CompoundFileVersions : public testing::TestWithParam<int> {
protected:
    std::shared_ptr<const cfb::CompoundFile> File = Load("full-v" + std::to_string(GetParam()) + ".cfb");
};

TEST_P(CompoundFileVersions, HeaderAndRoot)
{
    ASSERT_TRUE(File);
    EXPECT_EQ(File->MajorVersion(), GetParam());
    EXPECT_EQ(File->SectorSize(), GetParam() == 3 ? 512u : 4096u);
    const cfb::Entry& root = File->Root();
    EXPECT_EQ(root.Type, cfb::EntryType::Root);
    EXPECT_EQ(U8(root.Name.c_str()), "Root Entry");
    EXPECT_EQ(root.Clsid, Guid("000C1084-0000-0000-C000-000000000046"));
    EXPECT_EQ(Ticks(root.Modified), 132567987060000000u);
}

TEST_P(CompoundFileVersions, ChildrenInTheFormatsNameOrder)
{
    ASSERT_TRUE(File);
    // Shorter names first, then by upper-cased code units (U+0005 before letters).
    const std::vector<std::string> expected = {
        "Sub", "Ten", "Empty", "Large", "Small", "Twenty", "Ünïcödé", "Just4095", "TwentyFive", "Exactly4096",
        "MixedCaseName", "\x05NotAPropertySet", "\x05SummaryInformation", "\x05" "2jl2rhillc4sedwse3mf2id2zh",
        "\x05" "3ctwdv3f4ywuegwtoyhus3qj3c", "\x05" "DocumentSummaryInformation"};
    EXPECT_EQ(ChildNames(*File, File->Root()), expected);
    const cfb::Entry* mixed = Find(*File, "TwentyFive");
    ASSERT_TRUE(mixed);
    const std::vector<std::string> mixedExpected = {"E0",  "E1",  "E2",  "E3",  "E4",  "E5",   "E6",   "E7",   "E8",
                                                    "E9",  "E10", "E11", "E12", "E13", "E14",  "E15",  "E16",  "E17",
                                                    "E18", "E19", "Dir0", "Dir1", "Dir2", "Dir3", "Dir4"};
    EXPECT_EQ(ChildNames(*File, *mixed), mixedExpected);
}

TEST_P(CompoundFileVersions, EntryDetails)
{
    ASSERT_TRUE(File);
    const cfb::Entry* sub = Find(*File, "Sub");
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->Type, cfb::EntryType::Storage);
    EXPECT_EQ(sub->Clsid, Guid("12345678-9ABC-4DEF-8123-456789ABCDEF"));
    EXPECT_EQ(sub->StateBits, 0x1234u);
    EXPECT_EQ(Ticks(sub->Created), 131908718450000000u);
    EXPECT_EQ(Ticks(sub->Modified), 133170047980000000u);
    const cfb::Entry* large = Find(*File, "Large");
    ASSERT_TRUE(large);
    EXPECT_EQ(large->Type, cfb::EntryType::Stream);
    EXPECT_EQ(large->Size, 10000u);
    EXPECT_TRUE(large->Children.empty());
}

TEST_P(CompoundFileVersions, StreamsReadCompletely)
{
    ASSERT_TRUE(File);
    struct Case {
        const char* Path;
        size_t Size;
        unsigned Seed;
    };
    // Below, at and above the mini-stream cutoff, empty, nested.
    const Case cases[] = {{"Small", 100, 1},        {"Large", 10000, 2},    {"Exactly4096", 4096, 3},
                          {"Just4095", 4095, 4},    {"Empty", 0, 0},        {"MixedCaseName", 77, 5},
                          {"Ünïcödé", 64, 6},       {"Sub/Inner", 5000, 7}, {"Sub/Deeper/Leaf", 10, 9},
                          {"Ten/S09", 9, 9},        {"TwentyFive/E19", 19, 119}};
    for (const Case& c : cases) {
        const cfb::Entry* entry = Find(*File, c.Path);
        ASSERT_TRUE(entry) << c.Path;
        EXPECT_EQ(entry->Size, c.Size) << c.Path;
        // Odd chunk sizes cross sector and mini-sector boundaries.
        for (const size_t chunk : {size_t(1) << 20, size_t(333), size_t(64)})
            EXPECT_EQ(ReadThrough(*File, *entry, chunk), Pattern(c.Size, c.Seed)) << c.Path << " by " << chunk;
    }
}

TEST_P(CompoundFileVersions, ReadsAtAndPastTheEnd)
{
    ASSERT_TRUE(File);
    cfb::StreamReader reader;
    ASSERT_EQ(File->OpenStream(*Find(*File, "Large"), reader), S_OK);
    uint8_t buffer[16];
    size_t got = 99;
    EXPECT_EQ(reader.ReadAt(9990, buffer, sizeof buffer, &got), S_OK);
    EXPECT_EQ(got, 10u);
    EXPECT_EQ(reader.ReadAt(10000, buffer, sizeof buffer, &got), S_OK);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(reader.ReadAt(UINT64_MAX, buffer, sizeof buffer, &got), S_OK);
    EXPECT_EQ(got, 0u);
}

TEST_P(CompoundFileVersions, LookupIgnoresCase)
{
    ASSERT_TRUE(File);
    const cfb::Entry& root = File->Root();
    for (const char* name : {"MixedCaseName", "mixedcasename", "MIXEDCASENAME", "mIxEdCaSeNaMe"}) {
        const cfb::Entry* entry = File->FindChild(root, U16(name));
        ASSERT_TRUE(entry) << name;
        EXPECT_EQ(U8(entry->Name.c_str()), "MixedCaseName");
    }
    // Beyond ASCII too.
    ASSERT_TRUE(File->FindChild(root, U16("ÜNÏCÖDÉ")));
    EXPECT_EQ(File->FindChild(root, U16("MixedCaseNam")), nullptr);
    EXPECT_EQ(File->FindChild(root, U16("Inner")), nullptr); // not a direct child
}

INSTANTIATE_TEST_SUITE_P(V, CompoundFileVersions, testing::Values(3, 4));

TEST(CompoundFile, NameOrder)
{
    EXPECT_LT(cfb::CompareNames(u"Zz", u"aaa"), 0);
    EXPECT_EQ(cfb::CompareNames(u"abc", u"ABC"), 0);
    EXPECT_LT(cfb::CompareNames(u"abc", u"ABD"), 0);
    EXPECT_GT(cfb::CompareNames(u"\u00FC", u"T"), 0); // Ü sorts after the letters
}

TEST(CompoundFile, FatFoundThroughTheDifatChain)
{
    auto file = Load("difat.cfb");
    ASSERT_TRUE(file);
    const cfb::Entry* inside = Find(*file, "Folder/Inside");
    ASSERT_TRUE(inside);
    EXPECT_EQ(ReadThrough(*file, *inside, 4096), Pattern(700, 3));
    EXPECT_EQ(ReadThrough(*file, *Find(*file, "Large"), 4096), Pattern(10000, 2));
}

TEST(CompoundFile, DescriptorMayBeClosedByTheCaller)
{
    const int fd = open(CompoundFixture("no-suminfo.cfb").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::shared_ptr<const cfb::CompoundFile> file;
    ASSERT_EQ(cfb::CompoundFile::OpenDescriptor(fd, file), S_OK);
    close(fd);
    EXPECT_EQ(ReadThrough(*file, *Find(*file, "Large"), 512), Pattern(10000, 2));
    EXPECT_EQ(cfb::CompoundFile::OpenDescriptor(-1, file), STG_E_INVALIDHANDLE);
}

TEST(CompoundFile, ReaderKeepsTheFileOpen)
{
    cfb::StreamReader reader;
    {
        auto file = Load("no-suminfo.cfb");
        ASSERT_TRUE(file);
        ASSERT_EQ(file->OpenStream(*Find(*file, "Small"), reader), S_OK);
    }
    std::vector<uint8_t> bytes(100);
    size_t got = 0;
    EXPECT_EQ(reader.ReadAt(0, bytes.data(), bytes.size(), &got), S_OK);
    EXPECT_EQ(bytes, Pattern(100, 1));
}

TEST(CompoundFile, FileShrunkUnderTheReaderIsAReadFault)
{
    // The reader goes by the sizes it saw when it opened the file; bytes gone since are a
    // read fault, not a short read.
    testsupport::TempDir dir;
    const auto copy = dir / "shrinking.cfb";
    testsupport::WriteBytes(copy, testsupport::ReadBytes(CompoundFixture("no-suminfo.cfb")));
    std::shared_ptr<const cfb::CompoundFile> file;
    ASSERT_EQ(cfb::CompoundFile::Open(copy.string(), file), S_OK);
    cfb::StreamReader reader;
    ASSERT_EQ(file->OpenStream(*Find(*file, "Large"), reader), S_OK);
    ASSERT_EQ(truncate(copy.c_str(), 2048), 0);
    std::vector<uint8_t> buffer(10000);
    size_t got = 0;
    EXPECT_EQ(reader.ReadAt(0, buffer.data(), buffer.size(), &got), STG_E_READFAULT);
    EXPECT_LT(got, 10000u);
}

} // namespace
