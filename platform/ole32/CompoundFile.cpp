#include "platform/ole32/CompoundFile.h"

#include "platform/common/ByteReader.h"

#include <QChar>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cfb {
namespace {

constexpr uint8_t Signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint32_t MaxRegularSector = 0xFFFFFFFA;
constexpr uint32_t EndOfChain = 0xFFFFFFFE;
constexpr uint32_t MaxRegularId = 0xFFFFFFFA;
constexpr size_t HeaderSize = 512;
constexpr size_t HeaderDifatEntries = 109;
constexpr size_t HeaderDifatOffset = 76;
constexpr size_t DirectoryEntrySize = 128;
constexpr uint32_t MiniSectorShift = 6;
constexpr uint64_t MiniSectorSize = 1u << MiniSectorShift;
constexpr uint32_t MiniStreamCutoff = 4096;

HRESULT ErrorFromErrno(int error)
{
    switch (error) {
    case ENOENT: return STG_E_FILENOTFOUND;
    case ENOTDIR:
    case ENAMETOOLONG: return STG_E_PATHNOTFOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return STG_E_ACCESSDENIED;
    case EMFILE:
    case ENFILE: return STG_E_TOOMANYOPENFILES;
    case ENOMEM: return STG_E_INSUFFICIENTMEMORY;
    default: return STG_E_READFAULT;
    }
}

char16_t Upper(char16_t c)
{
    if (c < 0x80)
        return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
    // Simple (one-to-one) upper-case mapping; surrogates map to themselves.
    const char32_t upper = QChar::toUpper(static_cast<char32_t>(c));
    return upper <= 0xFFFF ? static_cast<char16_t>(upper) : c;
}

GUID GuidAt(const ByteReader& r, size_t off)
{
    GUID g{};
    g.Data1 = r.U32(off).value_or(0);
    g.Data2 = r.U16(off + 4).value_or(0);
    g.Data3 = r.U16(off + 6).value_or(0);
    for (size_t i = 0; i < 8; ++i)
        g.Data4[i] = r.U8(off + 8 + i).value_or(0);
    return g;
}

FILETIME FileTimeAt(const ByteReader& r, size_t off)
{
    return FILETIME{r.U32(off).value_or(0), r.U32(off + 4).value_or(0)};
}

uint64_t CeilDiv(uint64_t value, uint64_t unit) { return value / unit + (value % unit != 0 ? 1 : 0); }

// The tree links of one directory entry, needed only while the tree is walked.
struct Links {
    uint32_t Left = NoStream;
    uint32_t Right = NoStream;
    uint32_t Child = NoStream;
};

} // namespace

int CompareNames(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    for (size_t i = 0; i < a.size(); ++i) {
        const char16_t ua = Upper(a[i]);
        const char16_t ub = Upper(b[i]);
        if (ua != ub)
            return ua < ub ? -1 : 1;
    }
    return 0;
}

bool NamesEqual(std::u16string_view a, std::u16string_view b) { return CompareNames(a, b) == 0; }

// ---------------------------------------------------------------------------------------------

struct CompoundFile::Key {
    explicit Key() = default;
};

CompoundFile::CompoundFile(Key) {}

CompoundFile::~CompoundFile()
{
    if (FFd >= 0)
        close(FFd);
}

HRESULT CompoundFile::Open(const std::string& path, std::shared_ptr<const CompoundFile>& file)
{
    file.reset();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY); // a FIFO must not block
    if (fd < 0) {
        const int error = errno;
        // Windows tells a missing folder from a missing file.
        if (error == ENOENT) {
            const size_t slash = path.find_last_of('/');
            const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
            struct stat st {};
            if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
                return STG_E_PATHNOTFOUND;
        }
        return ErrorFromErrno(error);
    }
    return Adopt(fd, file);
}

HRESULT CompoundFile::OpenDescriptor(int fd, std::shared_ptr<const CompoundFile>& file)
{
    file.reset();
    if (fd < 0)
        return STG_E_INVALIDHANDLE;
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return errno == EBADF ? STG_E_INVALIDHANDLE : ErrorFromErrno(errno);
    return Adopt(copy, file);
}

HRESULT CompoundFile::Adopt(int fd, std::shared_ptr<const CompoundFile>& file)
{
    auto loaded = std::make_shared<CompoundFile>(Key{});
    loaded->FFd = fd; // closed by the destructor from here on
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return ErrorFromErrno(errno);
    if (!S_ISREG(st.st_mode))
        return STG_E_ACCESSDENIED;
    auto source = FileSource::FromDescriptor(fd);
    if (!source)
        return STG_E_READFAULT;
    loaded->FSource = *source;
    loaded->FFileSize = source->size();
    const HRESULT hr = loaded->Load();
    if (FAILED(hr))
        return hr;
    file = std::move(loaded);
    return S_OK;
}

const Entry* CompoundFile::EntryById(uint32_t id) const
{
    if (id >= FEntries.size() || FEntries[id].Id != id)
        return nullptr;
    return &FEntries[id];
}

const Entry* CompoundFile::FindChild(const Entry& storage, std::u16string_view name) const
{
    // A linear pass over the tree order rather than a descent by comparison: it finds the entry
    // even in files whose writer left the tree unsorted.
    for (const uint32_t id : storage.Children)
        if (NamesEqual(FEntries[id].Name, name))
            return &FEntries[id];
    return nullptr;
}

bool CompoundFile::ReadFile(uint64_t off, void* buffer, size_t len) const
{
    return FSource && FSource->ReadAt(off, buffer, len);
}

HRESULT CompoundFile::Load()
{
    uint8_t header[HeaderSize] = {};
    if (FFileSize < sizeof Signature)
        return STG_E_FILEALREADYEXISTS;
    const size_t headerBytes = static_cast<size_t>(std::min<uint64_t>(FFileSize, HeaderSize));
    if (!ReadFile(0, header, headerBytes))
        return STG_E_READFAULT;
    if (!std::equal(std::begin(Signature), std::end(Signature), header))
        return STG_E_FILEALREADYEXISTS;
    if (headerBytes < HeaderSize)
        return STG_E_INVALIDHEADER;

    const ByteReader h(header, sizeof header);
    const uint16_t major = *h.U16(26);
    const uint16_t byteOrder = *h.U16(28);
    const uint16_t sectorShift = *h.U16(30);
    const uint16_t miniSectorShift = *h.U16(32);
    if (byteOrder != 0xFFFE)
        return STG_E_INVALIDHEADER;
    if (!((major == 3 && sectorShift == 9) || (major == 4 && sectorShift == 12)))
        return STG_E_INVALIDHEADER;
    if (miniSectorShift != MiniSectorShift || *h.U32(56) != MiniStreamCutoff)
        return STG_E_INVALIDHEADER;
    FMajorVersion = major;
    FSectorShift = sectorShift;
    if (FFileSize < SectorSize())
        return STG_E_INVALIDHEADER;

    HRESULT hr = LoadFat(h);
    if (SUCCEEDED(hr))
        hr = LoadDirectory(*h.U32(48));
    if (SUCCEEDED(hr))
        hr = BuildTree();
    if (SUCCEEDED(hr))
        hr = LoadMiniStream(*h.U32(60));
    return hr;
}

HRESULT CompoundFile::LoadFat(const ByteReader& header)
{
    const uint64_t sectorSize = SectorSize();
    const uint32_t fatSectors = *header.U32(44);
    const uint32_t firstDifat = *header.U32(68);
    // Counts are checked against the file before anything is allocated for them.
    if (static_cast<uint64_t>(fatSectors) * sectorSize > FFileSize)
        return STG_E_DOCFILECORRUPT;

    std::vector<uint32_t> fatIds;
    fatIds.reserve(fatSectors);
    for (size_t i = 0; i < HeaderDifatEntries && fatIds.size() < fatSectors; ++i)
        fatIds.push_back(*header.U32(HeaderDifatOffset + 4 * i));

    const size_t idsPerDifat = sectorSize / 4 - 1;
    const uint64_t sectorsInFile = FFileSize >> FSectorShift;
    std::vector<uint8_t> sector(sectorSize);
    uint32_t next = firstDifat;
    uint64_t difatSeen = 0;
    while (fatIds.size() < fatSectors) {
        // More DIFAT sectors than the file holds means the chain loops.
        if (next > MaxRegularSector || ++difatSeen > sectorsInFile || !FSource->Has(SectorOffset(next), sectorSize))
            return STG_E_DOCFILECORRUPT;
        if (!ReadFile(SectorOffset(next), sector.data(), sector.size()))
            return STG_E_READFAULT;
        const ByteReader d(sector.data(), sector.size());
        for (size_t j = 0; j < idsPerDifat && fatIds.size() < fatSectors; ++j)
            fatIds.push_back(*d.U32(4 * j));
        next = *d.U32(4 * idsPerDifat);
    }

    std::vector<uint8_t> bytes;
    HRESULT hr = ReadSectors(fatIds, bytes);
    if (FAILED(hr))
        return hr;
    const ByteReader f(bytes.data(), bytes.size());
    FFat.resize(bytes.size() / 4);
    for (size_t i = 0; i < FFat.size(); ++i)
        FFat[i] = *f.U32(4 * i);
    return S_OK;
}

HRESULT CompoundFile::Chain(const std::vector<uint32_t>& table, uint64_t idLimit, uint32_t start, uint64_t need,
                            std::vector<uint32_t>& out) const
{
    out.clear();
    idLimit = std::min<uint64_t>({idLimit, table.size(), static_cast<uint64_t>(MaxRegularSector) + 1});
    // A chain of distinct ids is no longer than the table, and one run to its end mark (the
    // directory, the mini FAT) no longer than the file has sectors.
    if (need > idLimit)
        return STG_E_DOCFILECORRUPT;
    const uint64_t maxLength = need ? need : std::min<uint64_t>(idLimit, (FFileSize >> FSectorShift) + 1);
    out.reserve(static_cast<size_t>(need));
    uint32_t id = start;
    while (need == 0 ? id != EndOfChain : out.size() < need) {
        if (id >= idLimit || out.size() >= maxLength)
            return STG_E_DOCFILECORRUPT;
        out.push_back(id);
        id = table[id];
    }
    // An id met twice means the chain loops back on itself. Checked on a sorted copy: memory in
    // proportion to the chain, not to the table.
    std::vector<uint32_t> sorted(out);
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
        return STG_E_DOCFILECORRUPT;
    return S_OK;
}

HRESULT CompoundFile::ReadSectors(const std::vector<uint32_t>& chain, std::vector<uint8_t>& bytes) const
{
    const uint64_t sectorSize = SectorSize();
    for (const uint32_t id : chain)
        if (id > MaxRegularSector || !FSource->Has(SectorOffset(id), sectorSize))
            return STG_E_DOCFILECORRUPT;
    // Every sector is inside the file, so this is at most the file's size (ids are distinct
    // where the chain was followed, and the FAT's count was checked against the file).
    if (chain.size() > FFileSize / sectorSize)
        return STG_E_DOCFILECORRUPT;
    bytes.assign(chain.size() * sectorSize, 0);
    for (size_t i = 0; i < chain.size(); ++i)
        if (!ReadFile(SectorOffset(chain[i]), bytes.data() + i * sectorSize, sectorSize))
            return STG_E_READFAULT;
    return S_OK;
}

HRESULT CompoundFile::LoadDirectory(uint32_t firstSector)
{
    std::vector<uint32_t> chain;
    HRESULT hr = Chain(FFat, FFat.size(), firstSector, 0, chain);
    if (FAILED(hr))
        return hr;
    hr = ReadSectors(chain, FDirectory);
    if (FAILED(hr))
        return hr;
    const size_t count = std::min<size_t>(FDirectory.size() / DirectoryEntrySize, MaxRegularId + 1ull);
    if (count == 0)
        return STG_E_DOCFILECORRUPT;
    FEntries.resize(count);
    return S_OK;
}

HRESULT CompoundFile::BuildTree()
{
    const size_t count = FEntries.size();
    const ByteReader directory(FDirectory.data(), FDirectory.size());
    std::vector<Links> links(count);
    std::vector<bool> seen(count);

    // Reads entry id into FEntries and links; refuses ids outside the directory and entries met twice.
    const auto take = [&](uint32_t id, bool root) -> HRESULT {
        if (id >= count || seen[id])
            return STG_E_DOCFILECORRUPT;
        seen[id] = true;
        const ByteReader e = *directory.Sub(id * DirectoryEntrySize, DirectoryEntrySize);
        const uint16_t nameBytes = *e.U16(64);
        const uint8_t type = *e.U8(66);
        if (nameBytes > 64 || nameBytes % 2 != 0 || nameBytes == 0)
            return STG_E_DOCFILECORRUPT;
        if (root ? type != static_cast<uint8_t>(EntryType::Root)
                 : type != static_cast<uint8_t>(EntryType::Storage) && type != static_cast<uint8_t>(EntryType::Stream))
            return STG_E_DOCFILECORRUPT;
        Entry& entry = FEntries[id];
        entry.Id = id;
        entry.Type = static_cast<EntryType>(type);
        for (size_t i = 0; i + 1 < nameBytes / 2u; ++i) {
            const char16_t c = *e.U16(2 * i);
            if (c == 0)
                break;
            entry.Name += c;
        }
        links[id] = Links{*e.U32(68), *e.U32(72), *e.U32(76)};
        entry.Clsid = GuidAt(e, 80);
        entry.StateBits = *e.U32(96);
        entry.Created = FileTimeAt(e, 100);
        entry.Modified = FileTimeAt(e, 108);
        entry.StartSector = *e.U32(116);
        entry.Size = *e.U64(120);
        // Old writers left garbage in the high half of the size in version 3 files.
        if (FMajorVersion == 3)
            entry.Size &= 0xFFFFFFFFu;
        return S_OK;
    };

    HRESULT hr = take(0, true);
    if (FAILED(hr))
        return hr;
    // Storages are walked from a work list, their sibling trees in order with an explicit stack:
    // no recursion, and every entry is taken at most once, so loops end as corruption.
    std::vector<uint32_t> storages{0};
    std::vector<uint32_t> stack;
    for (size_t q = 0; q < storages.size(); ++q) {
        const uint32_t storage = storages[q];
        uint32_t current = links[storage].Child;
        stack.clear();
        while (current != NoStream || !stack.empty()) {
            while (current != NoStream) {
                hr = take(current, false);
                if (FAILED(hr))
                    return hr;
                stack.push_back(current);
                current = links[current].Left;
            }
            const uint32_t id = stack.back();
            stack.pop_back();
            FEntries[storage].Children.push_back(id);
            if (FEntries[id].IsStorage())
                storages.push_back(id);
            current = links[id].Right;
        }
    }
    FDirectory.clear();
    FDirectory.shrink_to_fit();
    return S_OK;
}

HRESULT CompoundFile::LoadMiniStream(uint32_t firstMiniFatSector)
{
    std::vector<uint32_t> chain;
    HRESULT hr = Chain(FFat, FFat.size(), firstMiniFatSector, 0, chain);
    if (FAILED(hr))
        return hr;
    std::vector<uint8_t> bytes;
    hr = ReadSectors(chain, bytes);
    if (FAILED(hr))
        return hr;
    const ByteReader m(bytes.data(), bytes.size());
    FMiniFat.resize(bytes.size() / 4);
    for (size_t i = 0; i < FMiniFat.size(); ++i)
        FMiniFat[i] = *m.U32(4 * i);

    const Entry& root = Root();
    if (root.Size > FFileSize)
        return STG_E_DOCFILECORRUPT;
    if (root.Size == 0)
        return S_OK;
    hr = Chain(FFat, FFat.size(), root.StartSector, CeilDiv(root.Size, SectorSize()), FMiniStreamSectors);
    if (FAILED(hr))
        return hr;
    for (const uint32_t id : FMiniStreamSectors)
        if (SectorOffset(id) >= FFileSize)
            return STG_E_DOCFILECORRUPT;
    return S_OK;
}

HRESULT CompoundFile::OpenStream(const Entry& stream, StreamReader& reader) const
{
    reader = StreamReader();
    if (stream.Type != EntryType::Stream || EntryById(stream.Id) != &stream)
        return STG_E_INVALIDPARAMETER;
    StreamReader made;
    made.FFile = shared_from_this();
    made.FSize = stream.Size;
    if (stream.Size != 0) {
        if (stream.Size < MiniStreamCutoff) {
            made.FMini = true;
            const uint64_t miniSectors = CeilDiv(Root().Size, MiniSectorSize);
            const HRESULT hr = Chain(FMiniFat, miniSectors, stream.StartSector, CeilDiv(stream.Size, MiniSectorSize),
                                     made.FSectors);
            if (FAILED(hr))
                return hr;
        } else {
            if (stream.Size > FFileSize)
                return STG_E_DOCFILECORRUPT;
            const HRESULT hr =
                Chain(FFat, FFat.size(), stream.StartSector, CeilDiv(stream.Size, SectorSize()), made.FSectors);
            if (FAILED(hr))
                return hr;
            for (const uint32_t id : made.FSectors)
                if (SectorOffset(id) >= FFileSize)
                    return STG_E_DOCFILECORRUPT;
        }
    }
    reader = std::move(made);
    return S_OK;
}

// ---------------------------------------------------------------------------------------------

HRESULT StreamReader::ReadAt(uint64_t off, void* buffer, size_t len, size_t* read) const
{
    if (read)
        *read = 0;
    if (!FFile || off >= FSize || len == 0)
        return S_OK;
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(len, FSize - off));
    auto* out = static_cast<uint8_t*>(buffer);
    const CompoundFile& file = *FFile;
    const uint64_t sectorSize = file.SectorSize();
    size_t done = 0;
    while (done < wanted) {
        const uint64_t pos = off + done;
        uint64_t fileOffset = 0;
        size_t chunk = 0;
        if (!FMini) {
            const size_t index = static_cast<size_t>(pos >> file.FSectorShift);
            const uint64_t within = pos & (sectorSize - 1);
            // Sectors that follow each other in the file are read in one go.
            size_t end = index + 1;
            while (end < FSectors.size() && FSectors[end] == FSectors[end - 1] + 1 &&
                   (end - index) * sectorSize - within < wanted - done)
                ++end;
            fileOffset = file.SectorOffset(FSectors[index]) + within;
            chunk = static_cast<size_t>(std::min<uint64_t>((end - index) * sectorSize - within, wanted - done));
        } else {
            const size_t index = static_cast<size_t>(pos >> MiniSectorShift);
            const uint64_t within = pos & (MiniSectorSize - 1);
            const uint64_t inMiniStream = (static_cast<uint64_t>(FSectors[index]) << MiniSectorShift) + within;
            const uint64_t container = inMiniStream >> file.FSectorShift;
            if (container >= file.FMiniStreamSectors.size())
                return STG_E_READFAULT;
            fileOffset = file.SectorOffset(file.FMiniStreamSectors[container]) + (inMiniStream & (sectorSize - 1));
            chunk = static_cast<size_t>(std::min<uint64_t>(MiniSectorSize - within, wanted - done));
        }
        if (!file.ReadFile(fileOffset, out + done, chunk)) {
            if (read)
                *read = done;
            return STG_E_READFAULT;
        }
        done += chunk;
    }
    if (read)
        *read = done;
    return S_OK;
}

} // namespace cfb
