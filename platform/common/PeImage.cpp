#include "platform/common/PeImage.h"

#include "platform/common/ByteReader.h"
#include "platform/common/WinStr.h"

#include <algorithm>

namespace pe {

namespace {

constexpr size_t DosHeaderSize = 64;
constexpr size_t NewHeaderField = 0x3C; // e_lfanew
constexpr size_t CoffHeaderSize = 20;
constexpr size_t SectionHeaderSize = 40;
constexpr size_t NeHeaderSize = 0x40;
constexpr size_t ResourceTableHeaderSize = 16;
constexpr size_t ResourceEntrySize = 8;
constexpr size_t ResourceDataEntrySize = 16;
constexpr uint32_t ResourceHighBit = 0x80000000;
constexpr size_t CertificateHeaderSize = 8;
// Real tables hold one entry, rarely a few; a table of millions of tiny entries is an attack on
// memory and time, not a signature.
constexpr size_t MaxCertificateEntries = 4096;

// Optional-header field offsets shared by PE32 and PE32+.
constexpr size_t OptMajorSubsystemVersion = 48;
constexpr size_t OptMinorSubsystemVersion = 50;
constexpr size_t OptSizeOfHeaders = 60;
constexpr size_t OptSubsystem = 68;
constexpr size_t OptDllCharacteristics = 70;
// Where the two layouts differ (the 64-bit one has 8-byte image base and stack/heap sizes).
constexpr size_t OptNumberOfRvaAndSizes32 = 92;
constexpr size_t OptDirectories32 = 96;
constexpr size_t OptNumberOfRvaAndSizes64 = 108;
constexpr size_t OptDirectories64 = 112;
constexpr size_t OptLargestFixedPart = OptDirectories64 + MaxDirectories * 8;

constexpr uint64_t AlignUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// Reads a small header range, shorter when the file ends first; empty on a read error.
std::optional<std::vector<uint8_t>> ReadUpTo(const FileSource& file, uint64_t off, size_t len)
{
    if (off > file.size())
        return std::vector<uint8_t>{};
    const uint64_t available = file.size() - off;
    const size_t n = available < len ? static_cast<size_t>(available) : len;
    return file.ReadRange(off, n);
}

std::optional<ExecutableInfo> InfoFromPe(const PeImage& image)
{
    ExecutableInfo info;
    info.Format = ExecutableFormat::Pe;
    info.NewHeaderOffset = image.NewHeaderOffset();
    info.Pe32Plus = image.IsPe32Plus();
    info.Machine = image.Machine();
    info.Characteristics = image.Characteristics();
    info.Subsystem = image.Subsystem();
    info.SubsystemMajorVersion = image.SubsystemMajorVersion();
    info.SubsystemMinorVersion = image.SubsystemMinorVersion();
    return info;
}

} // namespace

std::optional<ExecutableInfo> ProbeExecutable(const FileSource& file)
{
    const auto dos = ReadUpTo(file, 0, DosHeaderSize);
    if (!dos)
        return std::nullopt;
    const ByteReader header(*dos);
    if (header.U16(0) != DosSignature)
        return std::nullopt;
    ExecutableInfo info;
    const auto newHeader = header.U32(NewHeaderField);
    if (!newHeader)
        return info;
    const auto signature = ReadUpTo(file, *newHeader, NeHeaderSize);
    if (!signature)
        return std::nullopt;
    const ByteReader next(*signature);
    if (next.U32(0) == PeSignature) {
        if (const auto image = PeImage::Load(file))
            return InfoFromPe(*image);
        info.Format = ExecutableFormat::BadPe;
        info.NewHeaderOffset = *newHeader;
        return info;
    }
    const auto magic = next.U16(0);
    if (magic == NeSignature && next.size() >= NeHeaderSize) {
        info.Format = ExecutableFormat::Ne;
        info.NewHeaderOffset = *newHeader;
        info.NeFlags = *next.U16(0x0C);
        info.NeTargetOs = *next.U8(0x36);
        info.NeExpectedWindowsVersion = *next.U16(0x3E);
    } else if (magic == LeSignature || magic == LxSignature) {
        info.Format = magic == LeSignature ? ExecutableFormat::Le : ExecutableFormat::Lx;
        info.NewHeaderOffset = *newHeader;
    }
    return info;
}

std::optional<PeImage> PeImage::Load(const FileSource& file, Error* error)
{
    const auto fail = [error](Error e) -> std::optional<PeImage> {
        if (error)
            *error = e;
        return std::nullopt;
    };
    if (error)
        *error = Error::None;

    const auto dos = ReadUpTo(file, 0, DosHeaderSize);
    if (!dos)
        return fail(Error::Unreadable);
    const ByteReader dosHeader(*dos);
    if (dosHeader.U16(0) != DosSignature)
        return fail(Error::NotExecutable);
    const auto newHeader = dosHeader.U32(NewHeaderField);
    if (!newHeader)
        return fail(Error::NotPe);

    const auto signature = ReadUpTo(file, *newHeader, 4 + CoffHeaderSize);
    if (!signature)
        return fail(Error::Unreadable);
    const ByteReader nt(*signature);
    if (nt.U32(0) != PeSignature)
        return fail(Error::NotPe);
    if (nt.size() < 4 + CoffHeaderSize)
        return fail(Error::Malformed);

    PeImage image(file);
    image.FNewHeader = *newHeader;
    image.FMachine = *nt.U16(4);
    const uint16_t sectionCount = *nt.U16(4 + 2);
    const uint16_t optionalSize = *nt.U16(4 + 16);
    image.FCharacteristics = *nt.U16(4 + 18);
    image.FOptionalHeader = uint64_t{*newHeader} + 4 + CoffHeaderSize;

    // The optional header as declared, but never more than its largest fixed layout.
    const auto optional = ReadUpTo(file, image.FOptionalHeader, std::min<size_t>(optionalSize, OptLargestFixedPart));
    if (!optional)
        return fail(Error::Unreadable);
    const ByteReader opt(*optional);
    const auto magic = opt.U16(0);
    if (magic != OptionalMagicPe32 && magic != OptionalMagicPe32Plus)
        return fail(Error::Malformed);
    image.FMagic = *magic;
    const bool plus = *magic == OptionalMagicPe32Plus;
    const size_t countField = plus ? OptNumberOfRvaAndSizes64 : OptNumberOfRvaAndSizes32;
    const size_t directoriesAt = plus ? OptDirectories64 : OptDirectories32;
    // Everything up to the directories must be there, in the file and in the declared size.
    if (opt.size() < directoriesAt)
        return fail(Error::Malformed);
    image.FSubsystemMajor = *opt.U16(OptMajorSubsystemVersion);
    image.FSubsystemMinor = *opt.U16(OptMinorSubsystemVersion);
    image.FSizeOfHeaders = *opt.U32(OptSizeOfHeaders);
    image.FSubsystem = *opt.U16(OptSubsystem);
    image.FDllCharacteristics = *opt.U16(OptDllCharacteristics);
    image.FDirectoriesOffset = image.FOptionalHeader + directoriesAt;

    const uint32_t declaredDirectories = *opt.U32(countField);
    const size_t fitting = (opt.size() - directoriesAt) / 8;
    const size_t directoryCount = std::min<size_t>({declaredDirectories, MaxDirectories, fitting});
    image.FDirectories.reserve(directoryCount);
    for (size_t i = 0; i < directoryCount; ++i)
        image.FDirectories.push_back({*opt.U32(directoriesAt + i * 8), *opt.U32(directoriesAt + i * 8 + 4)});

    // The section table follows the declared optional header; take as many entries as fit.
    const uint64_t tableOffset = image.FOptionalHeader + optionalSize;
    const uint64_t room = tableOffset <= file.size() ? file.size() - tableOffset : 0;
    const size_t count = static_cast<size_t>(std::min<uint64_t>(sectionCount, room / SectionHeaderSize));
    const auto table = file.ReadRange(tableOffset, count * SectionHeaderSize);
    if (!table)
        return fail(count == 0 ? Error::Malformed : Error::Unreadable);
    const ByteReader sections(*table);
    image.FSections.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const size_t at = i * SectionHeaderSize;
        Section s;
        const auto name = *sections.Bytes(at, 8);
        s.Name.assign(name.begin(), std::find(name.begin(), name.end(), uint8_t{0}));
        s.VirtualSize = *sections.U32(at + 8);
        s.VirtualAddress = *sections.U32(at + 12);
        s.SizeOfRawData = *sections.U32(at + 16);
        s.PointerToRawData = *sections.U32(at + 20);
        s.Characteristics = *sections.U32(at + 36);
        image.FSections.push_back(std::move(s));
    }
    return image;
}

std::optional<DataDirectory> PeImage::Directory(size_t index) const
{
    if (index >= FDirectories.size())
        return std::nullopt;
    return FDirectories[index];
}

std::optional<uint64_t> PeImage::DirectoryEntryOffset(size_t index) const
{
    if (index >= FDirectories.size())
        return std::nullopt;
    return FDirectoriesOffset + index * 8;
}

std::optional<uint64_t> PeImage::RvaToOffset(uint32_t rva, uint32_t length) const
{
    for (const Section& s : FSections) {
        const uint32_t span = s.VirtualSize != 0 ? s.VirtualSize : s.SizeOfRawData;
        if (rva < s.VirtualAddress || rva - s.VirtualAddress >= span)
            continue;
        const uint32_t delta = rva - s.VirtualAddress;
        // The range must be backed by raw data: the zero-filled tail of a section has none.
        if (delta > s.SizeOfRawData || length > s.SizeOfRawData - delta)
            return std::nullopt;
        const uint64_t off = uint64_t{s.PointerToRawData} + delta;
        if (!FFile.Has(off, length))
            return std::nullopt;
        return off;
    }
    // The headers are mapped at their file offsets.
    if (rva < FSizeOfHeaders && length <= FSizeOfHeaders - rva && FFile.Has(rva, length))
        return uint64_t{rva};
    return std::nullopt;
}

// --- Resources ---

std::optional<std::vector<PeImage::RawResourceEntry>> PeImage::ReadResourceTable(uint32_t tableOffset) const
{
    const auto root = Directory(DirectoryResource);
    if (!root || root->VirtualAddress == 0 || root->Size == 0)
        return std::nullopt;
    // Tables lie inside the resource directory; entries beyond it are not there.
    if (tableOffset > root->Size || ResourceTableHeaderSize > root->Size - tableOffset)
        return std::nullopt;
    const uint64_t rva = uint64_t{root->VirtualAddress} + tableOffset;
    if (rva > UINT32_MAX)
        return std::nullopt;
    const auto headerAt = RvaToOffset(static_cast<uint32_t>(rva), ResourceTableHeaderSize);
    if (!headerAt)
        return std::nullopt;
    const auto header = FFile.ReadRange(*headerAt, ResourceTableHeaderSize);
    if (!header)
        return std::nullopt;
    const ByteReader h(*header);
    const size_t declared = size_t{*h.U16(12)} + *h.U16(14);
    const size_t fitting = (root->Size - tableOffset - ResourceTableHeaderSize) / ResourceEntrySize;
    const size_t count = std::min(declared, fitting);
    std::vector<RawResourceEntry> entries;
    if (count == 0)
        return entries;
    const auto entriesAt = RvaToOffset(static_cast<uint32_t>(rva + ResourceTableHeaderSize),
                                       static_cast<uint32_t>(count * ResourceEntrySize));
    if (!entriesAt)
        return std::nullopt;
    const auto bytes = FFile.ReadRange(*entriesAt, count * ResourceEntrySize);
    if (!bytes)
        return std::nullopt;
    const ByteReader e(*bytes);
    entries.reserve(count);
    for (size_t i = 0; i < count; ++i)
        entries.push_back({*e.U32(i * ResourceEntrySize), *e.U32(i * ResourceEntrySize + 4)});
    return entries;
}

std::optional<ResourceEntryName> PeImage::ReadResourceName(uint32_t nameField) const
{
    ResourceEntryName name;
    if (!(nameField & ResourceHighBit)) {
        name.IsId = true;
        name.Id = static_cast<uint16_t>(nameField & 0xFFFF);
        return name;
    }
    // A counted UTF-16 string relative to the resource directory.
    const auto root = Directory(DirectoryResource);
    const uint32_t at = nameField & ~ResourceHighBit;
    if (!root || at > root->Size || 2 > root->Size - at)
        return std::nullopt;
    const uint64_t rva = uint64_t{root->VirtualAddress} + at;
    if (rva > UINT32_MAX - 2)
        return std::nullopt;
    const auto lengthAt = RvaToOffset(static_cast<uint32_t>(rva), 2);
    if (!lengthAt)
        return std::nullopt;
    const auto lengthBytes = FFile.ReadRange(*lengthAt, 2);
    if (!lengthBytes)
        return std::nullopt;
    const uint16_t length = *ByteReader(*lengthBytes).U16(0);
    const auto textAt = RvaToOffset(static_cast<uint32_t>(rva + 2), uint32_t{length} * 2);
    if (!textAt)
        return std::nullopt;
    const auto text = FFile.ReadRange(*textAt, size_t{length} * 2);
    if (!text)
        return std::nullopt;
    const ByteReader t(*text);
    name.IsId = false;
    name.Name.resize(length);
    for (size_t i = 0; i < length; ++i)
        name.Name[i] = static_cast<char16_t>(*t.U16(i * 2));
    return name;
}

std::optional<PeImage::RawResourceEntry> PeImage::SelectResource(const std::vector<RawResourceEntry>& table,
                                                                 const ResourceKey& key) const
{
    if (key.kind() == ResourceKey::Kind::First) {
        if (table.empty())
            return std::nullopt;
        return table.front();
    }
    if (key.kind() == ResourceKey::Kind::LanguageFor) {
        // Three passes: language-neutral, the user's language, another of its primary language.
        constexpr uint16_t Neutral = 0;
        constexpr uint16_t PrimaryMask = 0x3FF;
        const uint16_t user = key.id();
        for (int pass = 0; pass < 3; ++pass) {
            for (const RawResourceEntry& entry : table) {
                if (entry.NameField & ResourceHighBit)
                    continue;
                const auto id = static_cast<uint16_t>(entry.NameField & 0xFFFF);
                if ((pass == 0 && id == Neutral) || (pass == 1 && id == user) ||
                    (pass == 2 && (id & PrimaryMask) == (user & PrimaryMask)))
                    return entry;
            }
        }
        if (table.empty())
            return std::nullopt;
        return table.front();
    }
    for (const RawResourceEntry& entry : table) {
        const bool named = entry.NameField & ResourceHighBit;
        if (key.kind() == ResourceKey::Kind::Id) {
            if (!named && (entry.NameField & 0xFFFF) == key.id())
                return entry;
            continue;
        }
        if (!named)
            continue;
        const auto name = ReadResourceName(entry.NameField);
        if (name && winstr::EqualsIgnoreAsciiCase(name->Name, key.name()))
            return entry;
    }
    return std::nullopt;
}

std::optional<uint32_t> PeImage::ResourceSubdirectory(const RawResourceEntry& entry,
                                                      const std::vector<uint32_t>& visited) const
{
    if (!(entry.OffsetField & ResourceHighBit))
        return std::nullopt;
    const uint32_t at = entry.OffsetField & ~ResourceHighBit;
    // A table that is already on the path would make the tree a loop.
    if (std::find(visited.begin(), visited.end(), at) != visited.end())
        return std::nullopt;
    return at;
}

std::optional<ResourceData> PeImage::FindResource(const ResourceKey& type, const ResourceKey& name,
                                                  const ResourceKey& language) const
{
    std::vector<uint32_t> visited{0};
    const auto types = ReadResourceTable(0);
    if (!types)
        return std::nullopt;
    const auto typeEntry = SelectResource(*types, type);
    if (!typeEntry)
        return std::nullopt;
    const auto namesAt = ResourceSubdirectory(*typeEntry, visited);
    if (!namesAt)
        return std::nullopt;
    visited.push_back(*namesAt);
    const auto names = ReadResourceTable(*namesAt);
    if (!names)
        return std::nullopt;
    const auto nameEntry = SelectResource(*names, name);
    if (!nameEntry)
        return std::nullopt;
    const auto languagesAt = ResourceSubdirectory(*nameEntry, visited);
    if (!languagesAt)
        return std::nullopt;
    const auto languages = ReadResourceTable(*languagesAt);
    if (!languages)
        return std::nullopt;
    const auto languageEntry = SelectResource(*languages, language);
    // The third level holds data entries: a further subdirectory is not a resource.
    if (!languageEntry || (languageEntry->OffsetField & ResourceHighBit))
        return std::nullopt;

    const auto root = Directory(DirectoryResource);
    const uint32_t at = languageEntry->OffsetField;
    if (at > root->Size || ResourceDataEntrySize > root->Size - at)
        return std::nullopt;
    const uint64_t rva = uint64_t{root->VirtualAddress} + at;
    if (rva > UINT32_MAX)
        return std::nullopt;
    const auto entryAt = RvaToOffset(static_cast<uint32_t>(rva), ResourceDataEntrySize);
    if (!entryAt)
        return std::nullopt;
    const auto entryBytes = FFile.ReadRange(*entryAt, ResourceDataEntrySize);
    if (!entryBytes)
        return std::nullopt;
    const ByteReader e(*entryBytes);
    const uint32_t dataRva = *e.U32(0);
    ResourceData data;
    data.Size = *e.U32(4);
    data.CodePage = *e.U32(8);
    data.Language = (languageEntry->NameField & ResourceHighBit) ? 0 : languageEntry->NameField & 0xFFFF;
    // OffsetToData is an RVA; the bytes must be in the file.
    const auto dataAt = RvaToOffset(dataRva, data.Size);
    if (!dataAt)
        return std::nullopt;
    data.Offset = *dataAt;
    return data;
}

std::optional<std::vector<ResourceEntryName>> PeImage::ResourceNames(const ResourceKey& type) const
{
    std::vector<ResourceEntryName> result;
    const auto root = Directory(DirectoryResource);
    if (!root || root->VirtualAddress == 0 || root->Size == 0)
        return result;
    const auto types = ReadResourceTable(0);
    if (!types)
        return std::nullopt;
    const auto typeEntry = SelectResource(*types, type);
    if (!typeEntry)
        return result;
    const auto namesAt = ResourceSubdirectory(*typeEntry, {0});
    if (!namesAt)
        return std::nullopt;
    const auto names = ReadResourceTable(*namesAt);
    if (!names)
        return std::nullopt;
    result.reserve(names->size());
    for (const RawResourceEntry& entry : *names) {
        auto name = ReadResourceName(entry.NameField);
        if (!name)
            return std::nullopt;
        result.push_back(std::move(*name));
    }
    return result;
}

std::optional<std::vector<uint8_t>> PeImage::ReadResource(const ResourceData& data, size_t maxSize) const
{
    if (data.Size > maxSize)
        return std::nullopt;
    return FFile.ReadRange(data.Offset, data.Size);
}

// --- Attribute certificates ---

std::optional<ByteRange> PeImage::CertificateTable() const
{
    const auto directory = Directory(DirectorySecurity);
    if (!directory || directory->Size == 0)
        return ByteRange{};
    // The table's "virtual address" is a file offset: the table is not mapped into memory.
    if (!FFile.Has(directory->VirtualAddress, directory->Size))
        return std::nullopt;
    return ByteRange{directory->VirtualAddress, directory->Size};
}

std::optional<std::vector<CertificateEntry>> PeImage::Certificates() const
{
    const auto table = CertificateTable();
    if (!table)
        return std::nullopt;
    std::vector<CertificateEntry> entries;
    uint64_t pos = 0;
    // Each entry starts 8-byte aligned from the table start; fewer than 8 bytes left is padding.
    while (pos < table->Length && table->Length - pos >= CertificateHeaderSize) {
        const auto header = FFile.ReadRange(table->Offset + pos, CertificateHeaderSize);
        if (!header)
            return std::nullopt;
        const ByteReader h(*header);
        CertificateEntry entry;
        entry.Offset = table->Offset + pos;
        entry.Length = *h.U32(0);
        entry.Revision = *h.U16(4);
        entry.Type = *h.U16(6);
        if (entry.Length < CertificateHeaderSize || entry.Length > table->Length - pos ||
            entries.size() == MaxCertificateEntries)
            return std::nullopt;
        entries.push_back(entry);
        pos = AlignUp(pos + entry.Length, 8);
    }
    return entries;
}

// --- Authenticode ---

std::optional<std::vector<ByteRange>> PeImage::AuthenticodeRanges() const
{
    const auto certificateEntry = DirectoryEntryOffset(DirectorySecurity);
    const auto table = CertificateTable();
    if (!certificateEntry || !table)
        return std::nullopt;
    const uint64_t checksum = CheckSumOffset();
    const uint64_t entryEnd = *certificateEntry + 8;
    const uint64_t fileEnd = FFile.size();
    if (entryEnd > fileEnd)
        return std::nullopt;
    // A table that would swallow the fields the digest skips cannot be told apart from them.
    const bool signedImage = table->Length != 0;
    if (signedImage && table->Offset < entryEnd)
        return std::nullopt;

    std::vector<ByteRange> ranges;
    const auto add = [&ranges](uint64_t from, uint64_t to) {
        if (to > from)
            ranges.push_back({from, to - from});
    };
    add(0, checksum);
    add(checksum + 4, *certificateEntry);
    if (signedImage) {
        add(entryEnd, table->Offset);
        add(table->Offset + table->Length, fileEnd);
    } else {
        add(entryEnd, fileEnd);
    }
    return ranges;
}

} // namespace pe
