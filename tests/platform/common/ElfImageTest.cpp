// Sections of ELF files as the version reader finds them, and ELF files that lie about theirs.
#include "platform/common/ElfImage.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

using namespace testsupport;

namespace {

// A small ELF file: header, section names, the payload, then the section table (null section,
// names, payload). Offsets of the fields differ between the 32- and 64-bit forms.
struct ElfFile {
    bool Wide = true;
    std::vector<uint8_t> Bytes;
    size_t Table = 0;

    size_t EntrySize() const { return Wide ? 64 : 40; }
    size_t Entry(size_t index) const { return Table + index * EntrySize(); }

    void Put(size_t offset, uint64_t value, size_t width)
    {
        for (size_t i = 0; i < width; ++i)
            Bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
    // Header fields.
    void SetTableOffset(uint64_t v) { Wide ? Put(0x28, v, 8) : Put(0x20, v, 4); }
    void SetEntrySize(uint16_t v) { Put(Wide ? 0x3A : 0x2E, v, 2); }
    void SetCount(uint16_t v) { Put(Wide ? 0x3C : 0x30, v, 2); }
    void SetNamesIndex(uint16_t v) { Put(Wide ? 0x3E : 0x32, v, 2); }
    // Section fields.
    void SetName(size_t index, uint32_t v) { Put(Entry(index), v, 4); }
    void SetType(size_t index, uint32_t v) { Put(Entry(index) + 4, v, 4); }
    void SetOffset(size_t index, uint64_t v) { Wide ? Put(Entry(index) + 0x18, v, 8) : Put(Entry(index) + 0x10, v, 4); }
    void SetSize(size_t index, uint64_t v) { Wide ? Put(Entry(index) + 0x20, v, 8) : Put(Entry(index) + 0x14, v, 4); }
    void SetLink(size_t index, uint32_t v) { Put(Entry(index) + (Wide ? 0x28 : 0x18), v, 4); }
};

const std::string Payload = "version block";

ElfFile MakeElf(bool wide)
{
    ElfFile elf;
    elf.Wide = wide;
    const size_t headerSize = wide ? 64 : 52;
    const std::string names = std::string("\0.shstrtab\0.tessera.version\0", 28);
    elf.Bytes.assign(headerSize, 0);
    const uint8_t ident[] = {0x7F, 'E', 'L', 'F', static_cast<uint8_t>(wide ? 2 : 1), 1, 1};
    std::memcpy(elf.Bytes.data(), ident, sizeof ident);
    const size_t namesAt = elf.Bytes.size();
    elf.Bytes.insert(elf.Bytes.end(), names.begin(), names.end());
    const size_t payloadAt = elf.Bytes.size();
    elf.Bytes.insert(elf.Bytes.end(), Payload.begin(), Payload.end());
    elf.Bytes.resize((elf.Bytes.size() + 7) & ~size_t{7});
    elf.Table = elf.Bytes.size();
    elf.Bytes.resize(elf.Table + 3 * elf.EntrySize());
    elf.SetTableOffset(elf.Table);
    elf.SetEntrySize(static_cast<uint16_t>(elf.EntrySize()));
    elf.SetCount(3);
    elf.SetNamesIndex(1);
    elf.SetName(1, 1);
    elf.SetType(1, 3);
    elf.SetOffset(1, namesAt);
    elf.SetSize(1, names.size());
    elf.SetName(2, 11);
    elf.SetType(2, 1);
    elf.SetOffset(2, payloadAt);
    elf.SetSize(2, Payload.size());
    return elf;
}

std::optional<std::string> Section(const std::vector<uint8_t>& bytes, size_t maxSize = 4096)
{
    TempDir dir;
    WriteBytes(dir / "file", bytes);
    const auto file = OwnedFile::Open((dir / "file").string());
    if (!file)
        return std::nullopt;
    const auto section = elf::ReadSection(file->source(), elf::VersionSection, maxSize);
    if (!section)
        return std::nullopt;
    return std::string(section->begin(), section->end());
}

TEST(ElfImage, FindsTheSectionByNameOrNothingWhenTheFileLies)
{
    const struct {
        const char* Name;
        std::function<void(ElfFile&)> Change;
        bool Found;
    } cases[] = {
        {"as made", [](ElfFile&) {}, true},
        {"count and names index in section 0",
         [](ElfFile& e) {
             e.SetCount(0);
             e.SetSize(0, 3);
             e.SetNamesIndex(0xFFFF);
             e.SetLink(0, 1);
         },
         true},
        {"big-endian", [](ElfFile& e) { e.Bytes[5] = 2; }, false},
        {"unknown class", [](ElfFile& e) { e.Bytes[4] = 3; }, false},
        {"no section table", [](ElfFile& e) { e.SetTableOffset(0); }, false},
        {"table past the end", [](ElfFile& e) { e.SetTableOffset(e.Bytes.size()); }, false},
        {"table offset at the top of the address space", [](ElfFile& e) { e.SetTableOffset(~uint64_t{0} - 8); }, false},
        {"entries too small for their fields", [](ElfFile& e) { e.SetEntrySize(8); }, false},
        {"more sections than the file holds", [](ElfFile& e) { e.SetCount(4); }, false},
        {"names index past the count", [](ElfFile& e) { e.SetNamesIndex(3); }, false},
        {"names past the end", [](ElfFile& e) { e.SetOffset(1, e.Bytes.size()); }, false},
        {"names without bytes", [](ElfFile& e) { e.SetType(1, 8); }, false},
        {"name offset past the names", [](ElfFile& e) { e.SetName(2, 1000); }, false},
        {"name cut by the end of the names", [](ElfFile& e) { e.SetSize(1, 14); }, false},
        {"another name", [](ElfFile& e) { e.SetName(2, 12); }, false},
        {"payload past the end", [](ElfFile& e) { e.SetOffset(2, e.Bytes.size() - 4); }, false},
        {"payload without bytes", [](ElfFile& e) { e.SetType(2, 8); }, false},
        {"payload of an absurd size", [](ElfFile& e) { e.SetSize(2, ~uint64_t{0}); }, false},
        {"extended count of an absurd size", [](ElfFile& e) { e.SetCount(0); e.SetSize(0, ~uint64_t{0}); }, false},
        {"cut inside the header", [](ElfFile& e) { e.Bytes.resize(30); }, false},
    };
    for (const bool wide : {true, false}) {
        for (const auto& c : cases) {
            ElfFile elf = MakeElf(wide);
            c.Change(elf);
            const auto section = Section(elf.Bytes);
            EXPECT_EQ(section.has_value(), c.Found) << c.Name << (wide ? " (64-bit)" : " (32-bit)");
            if (section && c.Found) {
                EXPECT_EQ(*section, Payload) << c.Name;
            }
        }
    }
}

TEST(ElfImage, ASectionLargerThanAskedForIsNotRead)
{
    const ElfFile elf = MakeElf(true);
    EXPECT_EQ(Section(elf.Bytes, Payload.size()), Payload);
    EXPECT_EQ(Section(elf.Bytes, Payload.size() - 1), std::nullopt);
}

TEST(ElfImage, TheProgramsCarryTheirVersionSectionAndOtherExecutablesDoNot)
{
    for (const char* program : {"tessera", "tessera-report"}) {
        const auto file = OwnedFile::Open((BinaryDir() / program).string());
        ASSERT_TRUE(file) << program;
        const auto section = elf::ReadSection(file->source(), elf::VersionSection, 65536);
        ASSERT_TRUE(section) << program;
        EXPECT_GT(section->size(), 100u) << program;
    }
    const auto shell = OwnedFile::Open("/bin/sh");
    ASSERT_TRUE(shell);
    EXPECT_TRUE(elf::IsElf(shell->source()));
    EXPECT_EQ(elf::ReadSection(shell->source(), elf::VersionSection, 65536), std::nullopt);
}

} // namespace
