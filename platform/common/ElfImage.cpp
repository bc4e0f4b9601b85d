#include "platform/common/ElfImage.h"

#include "platform/common/ByteReader.h"

namespace elf {

namespace {

constexpr uint8_t ElfClass32 = 1;
constexpr uint8_t ElfClass64 = 2;
constexpr uint8_t LittleEndian = 1;
constexpr uint32_t NoBits = 8;            // SHT_NOBITS: a section without bytes in the file
constexpr uint16_t ExtendedIndex = 0xFFFF; // SHN_XINDEX
constexpr size_t MaxSections = 65536;
constexpr size_t MaxNameLength = 256;

struct Layout {
    size_t HeaderSize;
    size_t TableOffsetField, EntrySizeField, CountField, NamesIndexField;
    size_t NameField, TypeField, OffsetField, SizeField, LinkField;
    bool Wide; // 64-bit fields
};

constexpr Layout Elf32{52, 0x20, 0x2E, 0x30, 0x32, 0x00, 0x04, 0x10, 0x14, 0x18, false};
constexpr Layout Elf64{64, 0x28, 0x3A, 0x3C, 0x3E, 0x00, 0x04, 0x18, 0x20, 0x28, true};

std::optional<uint64_t> Address(const ByteReader& r, size_t off, bool wide)
{
    if (wide)
        return r.U64(off);
    if (const auto v = r.U32(off))
        return *v;
    return std::nullopt;
}

struct Section {
    uint32_t Name = 0;
    uint32_t Type = 0;
    uint64_t Offset = 0;
    uint64_t Size = 0;
    uint32_t Link = 0;
};

} // namespace

bool IsElf(const FileSource& file)
{
    uint8_t magic[4] = {};
    return file.ReadAt(0, magic, sizeof magic) && magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' &&
           magic[3] == 'F';
}

std::optional<std::vector<uint8_t>> ReadSection(const FileSource& file, std::string_view name, size_t maxSize)
{
    const auto identification = file.ReadRange(0, 16);
    if (!identification || !IsElf(file) || (*identification)[5] != LittleEndian)
        return std::nullopt;
    const uint8_t elfClass = (*identification)[4];
    if (elfClass != ElfClass32 && elfClass != ElfClass64)
        return std::nullopt;
    const Layout& layout = elfClass == ElfClass64 ? Elf64 : Elf32;
    const auto headerBytes = file.ReadRange(0, layout.HeaderSize);
    if (!headerBytes)
        return std::nullopt;
    const ByteReader header(*headerBytes);
    const auto tableOffset = Address(header, layout.TableOffsetField, layout.Wide);
    const uint16_t entrySize = *header.U16(layout.EntrySizeField);
    const size_t minimumEntry = layout.LinkField + 4;
    if (!tableOffset || *tableOffset == 0 || entrySize < minimumEntry)
        return std::nullopt;

    const auto readSection = [&](uint64_t index) -> std::optional<Section> {
        const auto bytes = file.ReadRange(*tableOffset + index * entrySize, entrySize);
        if (!bytes)
            return std::nullopt;
        const ByteReader r(*bytes);
        Section s;
        s.Name = *r.U32(layout.NameField);
        s.Type = *r.U32(layout.TypeField);
        s.Offset = *Address(r, layout.OffsetField, layout.Wide);
        s.Size = *Address(r, layout.SizeField, layout.Wide);
        s.Link = *r.U32(layout.LinkField);
        return s;
    };
    // Section 0 holds the real count and names index when they do not fit the header.
    const auto first = readSection(0);
    if (!first)
        return std::nullopt;
    uint64_t count = *header.U16(layout.CountField);
    if (count == 0)
        count = first->Size;
    uint64_t namesIndex = *header.U16(layout.NamesIndexField);
    if (namesIndex == ExtendedIndex)
        namesIndex = first->Link;
    if (count > MaxSections || !file.Has(*tableOffset, count * entrySize) || namesIndex >= count)
        return std::nullopt;
    const auto names = readSection(namesIndex);
    if (!names || names->Type == NoBits || !file.Has(names->Offset, names->Size))
        return std::nullopt;

    for (uint64_t i = 1; i < count; ++i) {
        const auto section = readSection(i);
        if (!section)
            return std::nullopt;
        if (section->Name >= names->Size || section->Type == NoBits)
            continue;
        const size_t length = static_cast<size_t>(std::min<uint64_t>(MaxNameLength + 1, names->Size - section->Name));
        const auto text = file.ReadRange(names->Offset + section->Name, length);
        if (!text)
            return std::nullopt;
        const std::string_view found(reinterpret_cast<const char*>(text->data()), text->size());
        if (found.substr(0, found.find('\0')) != name)
            continue;
        if (section->Size > maxSize || !file.Has(section->Offset, section->Size))
            return std::nullopt;
        return file.ReadRange(section->Offset, static_cast<size_t>(section->Size));
    }
    return std::nullopt;
}

} // namespace elf
