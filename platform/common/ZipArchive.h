// ZIP archives laid out as app packages are: the local records back to back from the first byte,
// the central directory right after them, then the end records (with their ZIP64 forms when the
// archive needs them). An archive laid out otherwise is refused when it is opened: entries that
// overlap, leave gaps, point outside the file or share a name, a central directory that does not
// end where the end records begin, more than one disk.
//
// Entries are read stored or deflated, streamed, and never past the size their record declares.
#pragma once

#include "platform/common/FileSource.h"
#include "platform/common/Inflate.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zip {

inline constexpr uint16_t MethodStored = 0;
inline constexpr uint16_t MethodDeflated = 8;

struct Entry {
    std::string Name; // the name's bytes as the record holds them
    uint16_t Flags = 0;
    uint16_t Method = 0;
    uint64_t CompressedSize = 0;
    uint64_t UncompressedSize = 0;
    uint64_t LocalOffset = 0;     // where its local record begins
    uint64_t LocalHeaderSize = 0; // the local header with its name and extra field
    uint64_t DataOffset = 0;
    uint64_t RecordEnd = 0;       // after its data (and data descriptor): where the next record begins
    uint64_t DirectoryOffset = 0; // its record in the central directory
    uint64_t DirectorySize = 0;
};

// The end records as the archive holds them, for a digest that rebuilds them.
struct EndRecords {
    bool Zip64 = false;
    // ZIP64 end record (when Zip64): its declared size, versions and disks, and where its
    // extensible data lies.
    uint64_t Zip64RecordSize = 0;
    uint16_t CreatorVersion = 0;
    uint16_t ViewerVersion = 0;
    uint32_t Zip64Disk = 0;
    uint32_t Zip64DirectoryDisk = 0;
    uint64_t ExtensibleOffset = 0;
    uint64_t ExtensibleSize = 0;
    // ZIP64 locator.
    uint32_t LocatorDisk = 0;
    uint32_t LocatorTotalDisks = 0;
    // The classic end record's fields as stored (0xFFFF and 0xFFFFFFFF mean "see ZIP64").
    uint16_t DiskEntries = 0;
    uint16_t TotalEntries = 0;
    uint32_t DirectorySize = 0;
    uint32_t DirectoryOffset = 0;
    uint16_t CommentSize = 0;
    uint64_t CommentOffset = 0;
};

enum class Error { None, NotZip, Malformed, TooLarge, ReadError };

class Archive {
public:
    // The archive in file, or std::nullopt and why (NotZip: no end record at all).
    [[nodiscard]] static std::optional<Archive> Open(const FileSource& file, Error* error = nullptr);

    [[nodiscard]] const FileSource& file() const { return FFile; }
    // In the order of the central directory.
    [[nodiscard]] const std::vector<Entry>& Entries() const { return FEntries; }
    // The entry of that exact name, or null.
    [[nodiscard]] const Entry* Find(std::string_view name) const;
    [[nodiscard]] uint64_t DirectoryOffset() const { return FDirectoryOffset; }
    [[nodiscard]] uint64_t DirectorySize() const { return FDirectorySize; }
    [[nodiscard]] const EndRecords& End() const { return FEnd; }

    // The entry's content, stored or inflated, handed to sink in pieces; Malformed when it is
    // not exactly the size its record declares, TooLarge when that is more than maxSize.
    [[nodiscard]] deflate::Status Read(const Entry& entry, uint64_t maxSize, const deflate::Sink& sink) const;
    // The whole content of a small entry.
    [[nodiscard]] deflate::Status ReadAll(const Entry& entry, uint64_t maxSize, std::vector<uint8_t>& content) const;

private:
    explicit Archive(const FileSource& file) : FFile(file) {}
    [[nodiscard]] Error ReadEnd();
    [[nodiscard]] Error ReadDirectory();
    [[nodiscard]] Error ReadLocalRecords();

    FileSource FFile;
    std::vector<Entry> FEntries;
    std::vector<size_t> FByName; // indexes of FEntries sorted by name
    uint64_t FDirectoryOffset = 0;
    uint64_t FDirectorySize = 0;
    uint64_t FEntryCount = 0;
    uint64_t FEndStart = 0; // where the end records begin
    EndRecords FEnd;
};

} // namespace zip
