#include "platform/common/ZipArchive.h"

#include "platform/common/ByteReader.h"

#include <algorithm>
#include <array>

namespace zip {

namespace {

constexpr uint32_t LocalSignature = 0x04034B50;      // "PK\3\4"
constexpr uint32_t DirectorySignature = 0x02014B50;  // "PK\1\2"
constexpr uint32_t EndSignature = 0x06054B50;        // "PK\5\6"
constexpr uint32_t Zip64EndSignature = 0x06064B50;   // "PK\6\6"
constexpr uint32_t LocatorSignature = 0x07064B50;    // "PK\6\7"
constexpr uint32_t DescriptorSignature = 0x08074B50; // "PK\7\8"

constexpr size_t EndSize = 22;
constexpr size_t LocatorSize = 20;
constexpr size_t Zip64EndFixedSize = 56;
constexpr size_t DirectoryFixedSize = 46;
constexpr size_t LocalFixedSize = 30;
constexpr size_t MaxComment = 0xFFFF;
// A central directory larger than this is refused rather than read: 64 MiB describes several
// hundred thousand entries.
constexpr uint64_t MaxDirectorySize = 64ull * 1024 * 1024;
constexpr uint16_t Zip64ExtraId = 0x0001;
constexpr uint16_t FlagEncrypted = 0x0001;
constexpr uint16_t FlagDescriptor = 0x0008;
constexpr size_t ReadChunk = 64 * 1024;

// The ZIP64 extended information of a central directory record: the 64-bit forms of the fields
// that hold all ones, in their fixed order.
bool ApplyZip64(ByteReader extra, Entry& entry, bool sizeSaturated, bool compressedSaturated, bool offsetSaturated,
                bool diskSaturated, uint32_t& disk)
{
    size_t at = 0;
    while (extra.Has(at, 4)) {
        const uint16_t id = *extra.U16(at);
        const uint16_t size = *extra.U16(at + 2);
        const auto data = extra.Sub(at + 4, size);
        if (!data)
            return false;
        if (id == Zip64ExtraId) {
            ByteCursor field(*data);
            if (sizeSaturated)
                entry.UncompressedSize = field.U64();
            if (compressedSaturated)
                entry.CompressedSize = field.U64();
            if (offsetSaturated)
                entry.LocalOffset = field.U64();
            if (diskSaturated)
                disk = field.U32();
            return field.ok();
        }
        at += 4 + size;
    }
    // Fields that hold all ones without the extension that gives their value.
    return !(sizeSaturated || compressedSaturated || offsetSaturated || diskSaturated);
}

} // namespace

std::optional<Archive> Archive::Open(const FileSource& file, Error* error)
{
    Archive archive(file);
    Error why = archive.ReadEnd();
    if (why == Error::None)
        why = archive.ReadDirectory();
    if (why == Error::None)
        why = archive.ReadLocalRecords();
    if (error)
        *error = why;
    if (why != Error::None)
        return std::nullopt;
    return archive;
}

Error Archive::ReadEnd()
{
    const uint64_t size = FFile.size();
    if (size < EndSize)
        return Error::NotZip;
    // The end record is the last thing in the file; only its comment may follow it.
    const size_t tailSize = static_cast<size_t>(std::min<uint64_t>(size, EndSize + MaxComment));
    const uint64_t tailStart = size - tailSize;
    const auto tail = FFile.ReadRange(tailStart, tailSize);
    if (!tail)
        return Error::ReadError;
    const ByteReader bytes(*tail);
    std::optional<size_t> found;
    for (size_t at = tailSize - EndSize + 1; at-- > 0;) {
        if (bytes.U32(at) == EndSignature && bytes.U16(at + 20) == tailSize - at - EndSize) {
            found = at;
            break;
        }
    }
    if (!found)
        return Error::NotZip;
    ByteCursor end(bytes, *found + 4);
    const uint16_t disk = end.U16();
    const uint16_t directoryDisk = end.U16();
    FEnd.DiskEntries = end.U16();
    FEnd.TotalEntries = end.U16();
    FEnd.DirectorySize = end.U32();
    FEnd.DirectoryOffset = end.U32();
    FEnd.CommentSize = end.U16();
    FEnd.CommentOffset = tailStart + *found + EndSize;
    if (!end.ok() || disk != 0 || directoryDisk != 0 || FEnd.DiskEntries != FEnd.TotalEntries)
        return Error::Malformed;
    const uint64_t endOffset = tailStart + *found;
    FEndStart = endOffset;
    FEntryCount = FEnd.TotalEntries;
    FDirectorySize = FEnd.DirectorySize;
    FDirectoryOffset = FEnd.DirectoryOffset;

    // A ZIP64 locator right before the end record points at the ZIP64 end record, which must lie
    // right before the locator.
    std::array<uint8_t, LocatorSize> locatorBytes{};
    if (endOffset >= LocatorSize && FFile.ReadAt(endOffset - LocatorSize, locatorBytes.data(), LocatorSize) &&
        ByteReader(locatorBytes.data(), LocatorSize).U32(0) == LocatorSignature) {
        ByteCursor locator(ByteReader(locatorBytes.data(), LocatorSize), 4);
        FEnd.LocatorDisk = locator.U32();
        const uint64_t zip64Offset = locator.U64();
        FEnd.LocatorTotalDisks = locator.U32();
        const uint64_t locatorOffset = endOffset - LocatorSize;
        if (FEnd.LocatorDisk != 0 || FEnd.LocatorTotalDisks > 1 || zip64Offset > locatorOffset ||
            locatorOffset - zip64Offset < Zip64EndFixedSize)
            return Error::Malformed;
        std::array<uint8_t, Zip64EndFixedSize> recordBytes{};
        if (!FFile.ReadAt(zip64Offset, recordBytes.data(), recordBytes.size()))
            return Error::ReadError;
        ByteCursor record(ByteReader(recordBytes.data(), recordBytes.size()));
        const uint32_t signature = record.U32();
        FEnd.Zip64RecordSize = record.U64();
        FEnd.CreatorVersion = record.U16();
        FEnd.ViewerVersion = record.U16();
        FEnd.Zip64Disk = record.U32();
        FEnd.Zip64DirectoryDisk = record.U32();
        const uint64_t diskEntries = record.U64();
        const uint64_t totalEntries = record.U64();
        FDirectorySize = record.U64();
        FDirectoryOffset = record.U64();
        // The record's size counts what follows its first twelve bytes, and reaches the locator.
        if (!record.ok() || signature != Zip64EndSignature || FEnd.Zip64RecordSize < Zip64EndFixedSize - 12 ||
            FEnd.Zip64RecordSize != locatorOffset - zip64Offset - 12 || FEnd.Zip64Disk != 0 ||
            FEnd.Zip64DirectoryDisk != 0 || diskEntries != totalEntries)
            return Error::Malformed;
        FEnd.Zip64 = true;
        FEnd.ExtensibleOffset = zip64Offset + Zip64EndFixedSize;
        FEnd.ExtensibleSize = FEnd.Zip64RecordSize - (Zip64EndFixedSize - 12);
        FEntryCount = totalEntries;
        FEndStart = zip64Offset;
    }
    // The central directory ends where the end records begin.
    if (FDirectoryOffset > FEndStart || FDirectorySize != FEndStart - FDirectoryOffset)
        return Error::Malformed;
    if (FDirectorySize > MaxDirectorySize)
        return Error::TooLarge;
    if (FEntryCount > FDirectorySize / DirectoryFixedSize)
        return Error::Malformed;
    return Error::None;
}

Error Archive::ReadDirectory()
{
    const auto directory = FFile.ReadRange(FDirectoryOffset, static_cast<size_t>(FDirectorySize));
    if (!directory)
        return Error::ReadError;
    const ByteReader bytes(*directory);
    FEntries.reserve(static_cast<size_t>(FEntryCount));
    size_t at = 0;
    for (uint64_t i = 0; i < FEntryCount; ++i) {
        ByteCursor record(bytes, at);
        if (record.U32() != DirectorySignature)
            return Error::Malformed;
        Entry entry;
        record.Skip(4); // versions
        entry.Flags = record.U16();
        entry.Method = record.U16();
        record.Skip(8); // time, date, CRC-32
        entry.CompressedSize = record.U32();
        entry.UncompressedSize = record.U32();
        const uint16_t nameSize = record.U16();
        const uint16_t extraSize = record.U16();
        const uint16_t commentSize = record.U16();
        uint32_t disk = record.U16();
        record.Skip(6); // internal and external attributes
        entry.LocalOffset = record.U32();
        const auto name = record.Take(nameSize);
        const auto extra = record.Take(extraSize);
        record.Skip(commentSize);
        if (!record.ok() || nameSize == 0)
            return Error::Malformed;
        entry.Name.assign(name->begin(), name->end());
        if (!ApplyZip64(ByteReader(*extra), entry, entry.UncompressedSize == 0xFFFFFFFF,
                        entry.CompressedSize == 0xFFFFFFFF, entry.LocalOffset == 0xFFFFFFFF, disk == 0xFFFF, disk) ||
            disk != 0)
            return Error::Malformed;
        entry.DirectoryOffset = FDirectoryOffset + at;
        entry.DirectorySize = record.position() - at;
        at = record.position();
        FEntries.push_back(std::move(entry));
    }
    if (at != bytes.size())
        return Error::Malformed;
    FByName.resize(FEntries.size());
    for (size_t i = 0; i < FByName.size(); ++i)
        FByName[i] = i;
    std::sort(FByName.begin(), FByName.end(), [&](size_t a, size_t b) { return FEntries[a].Name < FEntries[b].Name; });
    // Two entries of one name would let a reader and a checker see different files.
    for (size_t i = 1; i < FByName.size(); ++i)
        if (FEntries[FByName[i - 1]].Name == FEntries[FByName[i]].Name)
            return Error::Malformed;
    return Error::None;
}

Error Archive::ReadLocalRecords()
{
    std::vector<Entry*> byOffset;
    byOffset.reserve(FEntries.size());
    for (Entry& entry : FEntries)
        byOffset.push_back(&entry);
    std::sort(byOffset.begin(), byOffset.end(),
              [](const Entry* a, const Entry* b) { return a->LocalOffset < b->LocalOffset; });
    uint64_t expected = 0;
    for (size_t i = 0; i < byOffset.size(); ++i) {
        Entry& entry = *byOffset[i];
        // Back to back from the first byte: a gap or an overlap ends the archive here.
        if (entry.LocalOffset != expected)
            return Error::Malformed;
        const uint64_t next = i + 1 < byOffset.size() ? byOffset[i + 1]->LocalOffset : FDirectoryOffset;
        if (next < entry.LocalOffset || next - entry.LocalOffset < LocalFixedSize)
            return Error::Malformed;
        const uint64_t room = next - entry.LocalOffset;
        std::array<uint8_t, LocalFixedSize> fixed{};
        if (!FFile.ReadAt(entry.LocalOffset, fixed.data(), fixed.size()))
            return Error::ReadError;
        ByteCursor header(ByteReader(fixed.data(), fixed.size()));
        const uint32_t signature = header.U32();
        header.Skip(2);
        const uint16_t flags = header.U16();
        const uint16_t method = header.U16();
        header.Skip(16); // time, date, CRC-32 and sizes: the central directory's count
        const uint16_t nameSize = header.U16();
        const uint16_t extraSize = header.U16();
        entry.LocalHeaderSize = LocalFixedSize + nameSize + extraSize;
        if (!header.ok() || signature != LocalSignature || method != entry.Method ||
            (flags & FlagDescriptor) != (entry.Flags & FlagDescriptor) || nameSize != entry.Name.size() ||
            entry.LocalHeaderSize > room || entry.CompressedSize > room - entry.LocalHeaderSize)
            return Error::Malformed;
        std::string name(nameSize, '\0');
        if (!FFile.ReadAt(entry.LocalOffset + LocalFixedSize, name.data(), nameSize))
            return Error::ReadError;
        if (name != entry.Name)
            return Error::Malformed;
        entry.DataOffset = entry.LocalOffset + entry.LocalHeaderSize;
        const uint64_t dataEnd = entry.DataOffset + entry.CompressedSize;
        const uint64_t trailer = next - dataEnd;
        // A data descriptor (CRC-32 and both sizes, 32 or 64 bits each, with or without its
        // signature) is all that may come between the data and the next record.
        if ((entry.Flags & FlagDescriptor) == 0) {
            if (trailer != 0)
                return Error::Malformed;
        } else {
            if (trailer != 12 && trailer != 16 && trailer != 20 && trailer != 24)
                return Error::Malformed;
            std::array<uint8_t, 4> start{};
            if (!FFile.ReadAt(dataEnd, start.data(), start.size()))
                return Error::ReadError;
            const bool withSignature = ByteReader(start.data(), start.size()).U32(0) == DescriptorSignature;
            if (withSignature != (trailer == 16 || trailer == 24))
                return Error::Malformed;
        }
        entry.RecordEnd = next;
        expected = next;
    }
    if (expected != FDirectoryOffset)
        return Error::Malformed;
    return Error::None;
}

const Entry* Archive::Find(std::string_view name) const
{
    const auto found = std::lower_bound(FByName.begin(), FByName.end(), name,
                                        [&](size_t index, std::string_view key) { return FEntries[index].Name < key; });
    if (found == FByName.end() || FEntries[*found].Name != name)
        return nullptr;
    return &FEntries[*found];
}

deflate::Status Archive::Read(const Entry& entry, uint64_t maxSize, const deflate::Sink& sink) const
{
    if (entry.UncompressedSize > maxSize)
        return deflate::Status::TooLarge;
    if ((entry.Flags & FlagEncrypted) != 0)
        return deflate::Status::Malformed;
    if (entry.Method == MethodStored) {
        if (entry.CompressedSize != entry.UncompressedSize)
            return deflate::Status::Malformed;
        std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(ReadChunk, entry.CompressedSize)));
        for (uint64_t done = 0; done < entry.CompressedSize;) {
            const size_t chunk = static_cast<size_t>(std::min<uint64_t>(buffer.size(), entry.CompressedSize - done));
            if (!FFile.ReadAt(entry.DataOffset + done, buffer.data(), chunk))
                return deflate::Status::ReadError;
            if (!sink(std::span<const uint8_t>(buffer.data(), chunk)))
                return deflate::Status::Stopped;
            done += chunk;
        }
        return deflate::Status::Ok;
    }
    if (entry.Method != MethodDeflated)
        return deflate::Status::Malformed;
    const deflate::Source source = [&](uint64_t offset, uint8_t* buffer, size_t length) {
        return offset <= entry.CompressedSize && length <= entry.CompressedSize - offset &&
               FFile.ReadAt(entry.DataOffset + offset, buffer, length);
    };
    uint64_t produced = 0;
    const deflate::Status status =
        deflate::Inflate(source, entry.CompressedSize, entry.UncompressedSize, sink, &produced);
    // More data than the record declares is a lie too.
    if (status == deflate::Status::TooLarge || (status == deflate::Status::Ok && produced != entry.UncompressedSize))
        return deflate::Status::Malformed;
    return status;
}

deflate::Status Archive::ReadAll(const Entry& entry, uint64_t maxSize, std::vector<uint8_t>& content) const
{
    content.clear();
    if (entry.UncompressedSize > maxSize)
        return deflate::Status::TooLarge;
    content.reserve(static_cast<size_t>(entry.UncompressedSize));
    return Read(entry, maxSize, [&](std::span<const uint8_t> piece) {
        content.insert(content.end(), piece.begin(), piece.end());
        return true;
    });
}

} // namespace zip
