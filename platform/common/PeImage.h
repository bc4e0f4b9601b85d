// The one reader of portable executables (and the recogniser of the older MZ, NE and LE/LX
// kinds) shared by the stand-ins that look into executables: imagehlp's certificate table,
// version resources, icons and executable kinds.
//
// It reads a FileSource by range and never holds the whole file: headers, the section table,
// one resource directory table at a time and the data a caller asks for. Every size and offset
// from the file is checked against the real file size (a file of 4 GiB and more works; offsets
// are 64-bit). A malformed file gives a clean failure (std::nullopt), never a read outside the
// file or an allocation larger than the data that is really there.
#pragma once

#include "platform/common/FileSource.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pe {

inline constexpr uint16_t DosSignature = 0x5A4D; // "MZ"
inline constexpr uint16_t NeSignature = 0x454E;  // "NE"
inline constexpr uint16_t LeSignature = 0x454C;  // "LE"
inline constexpr uint16_t LxSignature = 0x584C;  // "LX"
inline constexpr uint32_t PeSignature = 0x00004550; // "PE\0\0"

inline constexpr uint16_t OptionalMagicPe32 = 0x10B;
inline constexpr uint16_t OptionalMagicPe32Plus = 0x20B;

inline constexpr uint16_t MachineI386 = 0x014C;
inline constexpr uint16_t MachineAmd64 = 0x8664;
inline constexpr uint16_t MachineArm64 = 0xAA64;

inline constexpr uint16_t FileExecutableImage = 0x0002;
inline constexpr uint16_t FileDll = 0x2000;

inline constexpr uint16_t SubsystemNative = 1;
inline constexpr uint16_t SubsystemWindowsGui = 2;
inline constexpr uint16_t SubsystemWindowsCui = 3;
inline constexpr uint16_t SubsystemOs2Cui = 5;
inline constexpr uint16_t SubsystemPosixCui = 7;
inline constexpr uint16_t SubsystemWindowsCeGui = 9;

inline constexpr size_t DirectoryResource = 2;
inline constexpr size_t DirectorySecurity = 4; // the attribute-certificate table: a file offset, not an RVA
inline constexpr size_t MaxDirectories = 16;

inline constexpr uint16_t RtIcon = 3;
inline constexpr uint16_t RtGroupIcon = 14;
inline constexpr uint16_t RtVersion = 16;

inline constexpr uint8_t NeTargetOs2 = 1;
inline constexpr uint8_t NeTargetWindows = 2;
inline constexpr uint8_t NeTargetWindows386 = 4;
inline constexpr uint16_t NeLibraryModule = 0x8000;

enum class Error {
    None,
    Unreadable,    // the file could not be read
    NotExecutable, // no "MZ" at the start
    NotPe,         // an MZ file without a PE header
    Malformed,     // a PE header that is truncated or contradicts itself
};

// A range of the file: [Offset, Offset + Length).
struct ByteRange {
    uint64_t Offset = 0;
    uint64_t Length = 0;
    bool operator==(const ByteRange&) const = default;
};

struct Section {
    std::string Name; // up to 8 bytes, trailing NULs removed
    uint32_t VirtualSize = 0;
    uint32_t VirtualAddress = 0;
    uint32_t SizeOfRawData = 0;
    uint32_t PointerToRawData = 0;
    uint32_t Characteristics = 0;
};

struct DataDirectory {
    uint32_t VirtualAddress = 0;
    uint32_t Size = 0;
};

// One entry of the attribute-certificate table. Offset is where its 8-byte WIN_CERTIFICATE
// header starts; Length is its dwLength (header included, alignment padding excluded).
struct CertificateEntry {
    uint64_t Offset = 0;
    uint32_t Length = 0;
    uint16_t Revision = 0;
    uint16_t Type = 0;
};

// A resource type, name or language as asked for: by number, by name (compared ignoring ASCII
// case, as resource names are), "the first entry at this level", or, for languages, the one
// Windows' loader takes for a user of a language: language-neutral (0) first, then the user's
// language, then another of its primary language, then the first.
class ResourceKey {
public:
    [[nodiscard]] static ResourceKey Id(uint16_t id) { return ResourceKey(Kind::Id, id, {}); }
    [[nodiscard]] static ResourceKey Name(std::u16string name) { return ResourceKey(Kind::Name, 0, std::move(name)); }
    [[nodiscard]] static ResourceKey First() { return ResourceKey(Kind::First, 0, {}); }
    [[nodiscard]] static ResourceKey LanguageFor(uint16_t user) { return ResourceKey(Kind::LanguageFor, user, {}); }

    enum class Kind { Id, Name, First, LanguageFor };
    [[nodiscard]] Kind kind() const { return FKind; }
    [[nodiscard]] uint16_t id() const { return FId; }
    [[nodiscard]] const std::u16string& name() const { return FName; }

private:
    ResourceKey(Kind kind, uint16_t id, std::u16string name) : FKind(kind), FId(id), FName(std::move(name)) {}
    Kind FKind;
    uint16_t FId;
    std::u16string FName;
};

// The name of one entry of a resource directory table.
struct ResourceEntryName {
    bool IsId = true;
    uint16_t Id = 0;
    std::u16string Name;
    bool operator==(const ResourceEntryName&) const = default;
};

// Where a resource's bytes are. Offset and Size are checked: the whole range lies inside the
// raw data of one section (or the headers) and inside the file.
struct ResourceData {
    uint64_t Offset = 0;
    uint32_t Size = 0;
    uint32_t CodePage = 0;
    uint16_t Language = 0; // the language entry's id (0 when the language is named)
};

enum class ExecutableFormat {
    Dos,   // MZ without a recognised new header
    Ne,    // 16-bit new executable (Windows 3.x, OS/2 1.x)
    Le,    // linear executable (virtual device drivers)
    Lx,    // linear executable (OS/2 2.x)
    Pe,    // portable executable with readable headers
    BadPe, // "PE\0\0" present but the headers are truncated or inconsistent
};

// What the headers say about an MZ file, for the executable-kind questions of the shell and
// kernel32.
struct ExecutableInfo {
    ExecutableFormat Format = ExecutableFormat::Dos;
    uint32_t NewHeaderOffset = 0; // e_lfanew, when there is a new header
    // NE
    uint8_t NeTargetOs = 0;                // ne_exetyp
    uint16_t NeExpectedWindowsVersion = 0; // ne_expver: major in the high byte
    uint16_t NeFlags = 0;                  // ne_flags
    // PE
    bool Pe32Plus = false;
    uint16_t Machine = 0;
    uint16_t Characteristics = 0;
    uint16_t Subsystem = 0;
    uint16_t SubsystemMajorVersion = 0;
    uint16_t SubsystemMinorVersion = 0;

    [[nodiscard]] bool IsLibrary() const
    {
        if (Format == ExecutableFormat::Pe)
            return (Characteristics & FileDll) != 0;
        if (Format == ExecutableFormat::Ne)
            return (NeFlags & NeLibraryModule) != 0;
        return false;
    }
};

// The kind of executable a file is by its headers; std::nullopt for a file that does not start
// with "MZ" or cannot be read. An MZ file too short for a new-header offset is a DOS program.
[[nodiscard]] std::optional<ExecutableInfo> ProbeExecutable(const FileSource& file);

class PeImage {
public:
    // Reads and checks the DOS header, the PE signature, the COFF header, the optional header,
    // the data directories and the section table. Sections, resources and certificates are
    // checked when they are asked for.
    [[nodiscard]] static std::optional<PeImage> Load(const FileSource& file, Error* error = nullptr);

    [[nodiscard]] const FileSource& file() const { return FFile; }

    [[nodiscard]] uint32_t NewHeaderOffset() const { return FNewHeader; }
    [[nodiscard]] uint16_t Machine() const { return FMachine; }
    [[nodiscard]] uint16_t Characteristics() const { return FCharacteristics; }
    [[nodiscard]] bool IsDll() const { return (FCharacteristics & FileDll) != 0; }
    [[nodiscard]] uint16_t OptionalMagic() const { return FMagic; }
    [[nodiscard]] bool IsPe32Plus() const { return FMagic == OptionalMagicPe32Plus; }
    [[nodiscard]] uint16_t Subsystem() const { return FSubsystem; }
    [[nodiscard]] uint16_t SubsystemMajorVersion() const { return FSubsystemMajor; }
    [[nodiscard]] uint16_t SubsystemMinorVersion() const { return FSubsystemMinor; }
    [[nodiscard]] uint16_t DllCharacteristics() const { return FDllCharacteristics; }
    [[nodiscard]] uint32_t SizeOfHeaders() const { return FSizeOfHeaders; }

    // File offset of the optional header and of its 4-byte CheckSum field.
    [[nodiscard]] uint64_t OptionalHeaderOffset() const { return FOptionalHeader; }
    [[nodiscard]] uint64_t CheckSumOffset() const { return FOptionalHeader + 64; }

    // Data directories: NumberOfRvaAndSizes, capped at 16 and at what the declared optional
    // header holds.
    [[nodiscard]] size_t DirectoryCount() const { return FDirectories.size(); }
    [[nodiscard]] std::optional<DataDirectory> Directory(size_t index) const;
    // File offset of a directory's 8-byte entry in the optional header.
    [[nodiscard]] std::optional<uint64_t> DirectoryEntryOffset(size_t index) const;

    // The section table in file order; its count is capped by what fits in the file.
    [[nodiscard]] const std::vector<Section>& Sections() const { return FSections; }

    // The file offset of [rva, rva + length) when the whole range lies in the raw data of one
    // section, or in the headers, and in the file.
    [[nodiscard]] std::optional<uint64_t> RvaToOffset(uint32_t rva, uint32_t length) const;

    // --- Resources (type / name / language) ---
    // std::nullopt when the image has no such resource or its resource tree is malformed (a
    // table outside the resource directory, a subdirectory where data belongs or the other way
    // round, a loop, data outside the file).
    [[nodiscard]] std::optional<ResourceData> FindResource(const ResourceKey& type, const ResourceKey& name,
                                                           const ResourceKey& language) const;
    // The names under one resource type, in directory order (named entries first, then ids).
    // An empty list when the type is absent; std::nullopt when the tree is malformed.
    [[nodiscard]] std::optional<std::vector<ResourceEntryName>> ResourceNames(const ResourceKey& type) const;
    // A resource's bytes, when it is no larger than maxSize.
    [[nodiscard]] std::optional<std::vector<uint8_t>> ReadResource(const ResourceData& data, size_t maxSize) const;

    // --- Attribute certificates ---
    // Data directory 4 as a file range: Length 0 when the image is unsigned; std::nullopt when
    // the table lies (partly) outside the file.
    [[nodiscard]] std::optional<ByteRange> CertificateTable() const;
    // The entries of the table, each starting on an 8-byte boundary from the table start. An
    // empty list for an unsigned image; std::nullopt when the table lies outside the file, an
    // entry is shorter than its header or longer than the rest of the table, or the table holds
    // more than 4096 entries.
    [[nodiscard]] std::optional<std::vector<CertificateEntry>> Certificates() const;

    // --- Authenticode ---
    // The ranges of the file that the Authenticode digest of a PE image covers, in file order:
    // every byte of the file once, except the CheckSum field (4 bytes), data directory 4 (8
    // bytes) and the certificate table itself. This is how signers hash an image: the section
    // table plays no part, so headers that overlap the first section, gaps between sections and
    // data after the last one are each hashed once, where they lie. Bytes after the certificate
    // table are hashed too: data appended to a signed file breaks its signature.
    // Empty ranges are left out. std::nullopt when the image has fewer than 5 data directories,
    // or its certificate table lies (partly) outside the file or starts before the end of data
    // directory 4.
    [[nodiscard]] std::optional<std::vector<ByteRange>> AuthenticodeRanges() const;

private:
    explicit PeImage(const FileSource& file) : FFile(file) {}

    struct RawResourceEntry {
        uint32_t NameField;
        uint32_t OffsetField;
    };
    [[nodiscard]] std::optional<std::vector<RawResourceEntry>> ReadResourceTable(uint32_t tableOffset) const;
    [[nodiscard]] std::optional<ResourceEntryName> ReadResourceName(uint32_t nameField) const;
    [[nodiscard]] std::optional<RawResourceEntry> SelectResource(const std::vector<RawResourceEntry>& table,
                                                                 const ResourceKey& key) const;
    [[nodiscard]] std::optional<uint32_t> ResourceSubdirectory(const RawResourceEntry& entry,
                                                               const std::vector<uint32_t>& visited) const;

    FileSource FFile;
    uint32_t FNewHeader = 0;
    uint16_t FMachine = 0;
    uint16_t FCharacteristics = 0;
    uint16_t FMagic = 0;
    uint16_t FSubsystem = 0;
    uint16_t FSubsystemMajor = 0;
    uint16_t FSubsystemMinor = 0;
    uint16_t FDllCharacteristics = 0;
    uint32_t FSizeOfHeaders = 0;
    uint64_t FOptionalHeader = 0;
    uint64_t FDirectoriesOffset = 0;
    std::vector<DataDirectory> FDirectories;
    std::vector<Section> FSections;
};

} // namespace pe
