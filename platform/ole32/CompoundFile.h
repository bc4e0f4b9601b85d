// A read-only compound-file reader: header, DIFAT, FAT, mini FAT, mini stream and the directory
// with its per-storage trees. The FAT, mini FAT and directory are held in memory (never more than
// the file's size); stream bytes are read from the file by range when asked for.
//
// Every structure is checked when the file is opened; a stream's sector chain is checked when
// the stream is opened, so one damaged stream does not hide the rest of the file.
#pragma once

#include "platform/common/FileSource.h"
#include "platform/include/win/windef.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class ByteReader;

namespace cfb {

inline constexpr uint32_t NoStream = 0xFFFFFFFF;

enum class EntryType : uint8_t {
    Storage = 1,
    Stream = 2,
    Root = 5,
};

// One directory entry that is part of the tree. Only entries reachable from the root are kept.
struct Entry {
    uint32_t Id = NoStream;
    std::u16string Name;
    EntryType Type = EntryType::Stream;
    CLSID Clsid{};
    uint32_t StateBits = 0;
    FILETIME Created{};
    FILETIME Modified{};
    uint32_t StartSector = 0;
    // For the root: the size of the mini stream. Version 3 files keep only the low 32 bits.
    uint64_t Size = 0;
    // Storages and the root: ids of the direct children in tree order (the format's name order).
    std::vector<uint32_t> Children;

    [[nodiscard]] bool IsStorage() const { return Type != EntryType::Stream; }
};

class CompoundFile;

// The bytes of one stream. Its sector chain is resolved and checked when the reader is made;
// the bytes themselves are read from the file on each call. Keeps the file open.
class StreamReader {
public:
    [[nodiscard]] uint64_t size() const { return FSize; }
    // Up to len bytes from off into buffer; fewer only at the end of the stream (none at or past
    // it). S_OK, or STG_E_READFAULT when the file cannot deliver the bytes (truncated, I/O error).
    [[nodiscard]] HRESULT ReadAt(uint64_t off, void* buffer, size_t len, size_t* read) const;

private:
    friend class CompoundFile;
    std::shared_ptr<const CompoundFile> FFile;
    std::vector<uint32_t> FSectors; // sector ids, or mini-sector ids for a stream in the mini stream
    bool FMini = false;
    uint64_t FSize = 0;
};

class CompoundFile : public std::enable_shared_from_this<CompoundFile> {
    struct Key;

public:
    // S_OK and the file; STG_E_FILENOTFOUND, STG_E_PATHNOTFOUND, STG_E_ACCESSDENIED,
    // STG_E_TOOMANYOPENFILES for the file system; STG_E_FILEALREADYEXISTS for a file that is not a
    // compound file; STG_E_INVALIDHEADER, STG_E_DOCFILECORRUPT, STG_E_READFAULT for damaged ones.
    [[nodiscard]] static HRESULT Open(const std::string& path, std::shared_ptr<const CompoundFile>& file);
    // The same over a descriptor the caller keeps. The reader works on a duplicate, so the caller
    // may close its descriptor at any time.
    [[nodiscard]] static HRESULT OpenDescriptor(int fd, std::shared_ptr<const CompoundFile>& file);

    explicit CompoundFile(Key); // only through Open
    ~CompoundFile();
    CompoundFile(const CompoundFile&) = delete;
    CompoundFile& operator=(const CompoundFile&) = delete;

    [[nodiscard]] uint16_t MajorVersion() const { return FMajorVersion; }
    [[nodiscard]] uint32_t SectorSize() const { return 1u << FSectorShift; }
    [[nodiscard]] uint64_t FileSize() const { return FFileSize; }

    [[nodiscard]] const Entry& Root() const { return FEntries[0]; }
    // Null for ids that are not part of the tree.
    [[nodiscard]] const Entry* EntryById(uint32_t id) const;
    // The direct child of a storage with this name, compared as the format compares names
    // (case-insensitively); null when there is none.
    [[nodiscard]] const Entry* FindChild(const Entry& storage, std::u16string_view name) const;

    // S_OK and a reader; STG_E_INVALIDPARAMETER for a storage; STG_E_DOCFILECORRUPT when the
    // stream's chain is cyclic, too short, leaves the file or its size exceeds the file.
    [[nodiscard]] HRESULT OpenStream(const Entry& stream, StreamReader& reader) const;

private:
    friend class StreamReader;
    static HRESULT Adopt(int fd, std::shared_ptr<const CompoundFile>& file);
    HRESULT Load();
    HRESULT LoadFat(const ByteReader& header);
    HRESULT LoadDirectory(uint32_t firstSector);
    HRESULT BuildTree();
    HRESULT LoadMiniStream(uint32_t firstMiniFatSector);
    // Follows a chain through table (the FAT or the mini FAT) from start. With need == 0 the
    // chain runs to its end mark; otherwise exactly need ids are taken. Ids must be below
    // idLimit, and no id may come twice.
    HRESULT Chain(const std::vector<uint32_t>& table, uint64_t idLimit, uint32_t start, uint64_t need,
                  std::vector<uint32_t>& out) const;
    // Whole sectors of the file, one after the other.
    HRESULT ReadSectors(const std::vector<uint32_t>& chain, std::vector<uint8_t>& bytes) const;
    [[nodiscard]] uint64_t SectorOffset(uint32_t id) const { return (static_cast<uint64_t>(id) + 1) << FSectorShift; }
    [[nodiscard]] bool ReadFile(uint64_t off, void* buffer, size_t len) const;

    int FFd = -1;
    std::optional<FileSource> FSource;
    uint64_t FFileSize = 0;
    uint16_t FMajorVersion = 0;
    uint32_t FSectorShift = 9;
    std::vector<uint32_t> FFat;
    std::vector<uint32_t> FMiniFat;
    std::vector<uint32_t> FMiniStreamSectors;
    std::vector<uint8_t> FDirectory;   // raw entries, only while the tree is built
    std::vector<Entry> FEntries;       // by id; unreachable ones have Id == NoStream
};

// The format's name order: shorter names first, then by upper-cased UTF-16 code units.
[[nodiscard]] int CompareNames(std::u16string_view a, std::u16string_view b);
[[nodiscard]] bool NamesEqual(std::u16string_view a, std::u16string_view b);

} // namespace cfb
