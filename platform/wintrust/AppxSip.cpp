#include "platform/wintrust/AppxSip.h"

#include <QByteArray>
#include <QXmlStreamReader>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>

namespace wintrust {

namespace {

constexpr std::u16string_view Extensions[] = {u".appx", u".msix", u".appxbundle", u".msixbundle"};

constexpr std::string_view SignatureName = "AppxSignature.p7x";
constexpr std::string_view BlockMapName = "AppxBlockMap.xml";
constexpr std::string_view ContentTypesName = "[Content_Types].xml";
constexpr std::string_view CodeIntegrityName = "AppxMetadata/CodeIntegrity.cat";
constexpr std::string_view BundleManifestName = "AppxMetadata/AppxBundleManifest.xml";

constexpr std::array<uint8_t, 4> SignatureMagic = {'P', 'K', 'C', 'X'};
constexpr std::array<char, 4> RecordMagic = {'A', 'P', 'P', 'X'};
constexpr std::array<char, 4> TagRecords = {'A', 'X', 'P', 'C'};
constexpr std::array<char, 4> TagDirectory = {'A', 'X', 'C', 'D'};
constexpr std::array<char, 4> TagContentTypes = {'A', 'X', 'C', 'T'};
constexpr std::array<char, 4> TagBlockMap = {'A', 'X', 'B', 'M'};
constexpr std::array<char, 4> TagCodeIntegrity = {'A', 'X', 'C', 'I'};
constexpr std::array<std::array<char, 4>, 5> Tags = {TagRecords, TagDirectory, TagContentTypes, TagBlockMap,
                                                     TagCodeIntegrity};

constexpr uint64_t BlockSize = 64 * 1024;
// The package's own XML and catalog are read whole; the block map of a package of 10 GB does not
// come near this.
constexpr uint64_t MaxMetadataSize = 16ull * 1024 * 1024;
constexpr uint32_t EndSignature = 0x06054B50;
constexpr uint32_t Zip64EndSignature = 0x06064B50;
constexpr uint32_t LocatorSignature = 0x07064B50;

void PutU16(Bytes& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(Bytes& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutU64(Bytes& out, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

const EVP_MD* HashMethod(QStringView uri)
{
    if (uri == u"http://www.w3.org/2001/04/xmlenc#sha256")
        return EVP_sha256();
    if (uri == u"http://www.w3.org/2001/04/xmldsig-more#sha384")
        return EVP_sha384();
    if (uri == u"http://www.w3.org/2001/04/xmlenc#sha512")
        return EVP_sha512();
    return nullptr;
}

std::optional<uint64_t> Number(QStringView text)
{
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok, 10);
    if (!ok || text.isEmpty() || !text.front().isDigit())
        return std::nullopt;
    return value;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The name the block map gives an archive entry: part names are percent-encoded in the archive,
// and the block map separates folders with '\'. std::nullopt for an encoding that is broken.
std::optional<std::string> BlockMapNameOf(std::string_view entryName)
{
    std::string name;
    name.reserve(entryName.size());
    for (size_t i = 0; i < entryName.size(); ++i) {
        char c = entryName[i];
        if (c == '%') {
            if (entryName.size() - i < 3)
                return std::nullopt;
            const int high = HexValue(entryName[i + 1]);
            const int low = HexValue(entryName[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            c = static_cast<char>(high * 16 + low);
            i += 2;
        } else if (c == '/') {
            c = '\\';
        }
        name.push_back(c);
    }
    return name;
}

// The hashes of one 64 KiB block after another of a file's content.
class BlockHasher {
public:
    BlockHasher(const EVP_MD* md, const std::vector<Bytes>& expected) : FMd(md), FExpected(expected), FContext(md) {}

    bool Take(std::span<const uint8_t> piece)
    {
        while (!piece.empty()) {
            const size_t take = static_cast<size_t>(std::min<uint64_t>(piece.size(), BlockSize - FInBlock));
            FContext.Update(piece.first(take));
            FInBlock += take;
            piece = piece.subspan(take);
            if (FInBlock == BlockSize && !EndBlock())
                return false;
        }
        return true;
    }
    // The last, shorter block; true when every block matched.
    bool Finish()
    {
        if (FInBlock > 0 && !EndBlock())
            return false;
        return FNext == FExpected.size();
    }

private:
    bool EndBlock()
    {
        Bytes digest;
        if (FNext >= FExpected.size() || FAILED(FContext.Final(digest)) || digest != FExpected[FNext])
            return false;
        ++FNext;
        FInBlock = 0;
        FContext = DigestContext(FMd);
        return true;
    }

    const EVP_MD* FMd;
    const std::vector<Bytes>& FExpected;
    DigestContext FContext;
    uint64_t FInBlock = 0;
    size_t FNext = 0;
};

class AppxSubject : public Subject {
public:
    AppxSubject(const FileSource& file, bool bundleByName)
    {
        FPackage = zip::Archive::Open(file);
        FBundle = bundleByName || (FPackage && FPackage->Find(BundleManifestName));
    }

    const GUID& Type() const override { return FBundle ? SUBJTYPE_APPX_BUNDLE : SUBJTYPE_APPX_PACKAGE; }

    HRESULT Signature(Bytes& der) const override
    {
        const zip::Entry* entry = FPackage ? FPackage->Find(SignatureName) : nullptr;
        if (!entry)
            return TRUST_E_NOSIGNATURE;
        Bytes content;
        if (FPackage->ReadAll(*entry, MaxSignatureSize + SignatureMagic.size(), content) != deflate::Status::Ok ||
            content.size() <= SignatureMagic.size() ||
            !std::equal(SignatureMagic.begin(), SignatureMagic.end(), content.begin()))
            return DIGSIG_E_DECODE;
        der.assign(content.begin() + SignatureMagic.size(), content.end());
        return S_OK;
    }

    HRESULT CheckDigest(const SignedMessage& message, DigestCheck& check) const override
    {
        if (!FPackage)
            return TRUST_E_BAD_DIGEST;
        const zip::Archive& package = *FPackage;
        Bytes blockMapXml;
        BlockMap map;
        const zip::Entry* blockMapEntry = package.Find(BlockMapName);
        if (!blockMapEntry || package.ReadAll(*blockMapEntry, MaxMetadataSize, blockMapXml) != deflate::Status::Ok ||
            !ParseBlockMap(blockMapXml, map))
            return TRUST_E_BAD_DIGEST;

        check.AlgorithmOid = DigestAlgorithmOid(map.Md);
        check.Signed = message.FileDigest();
        std::map<std::string, Bytes, std::less<>> claimed;
        if (!ReadRecord(message.FileDigest(), static_cast<size_t>(EVP_MD_get_size(map.Md)), claimed))
            return TRUST_E_BAD_DIGEST;
        const zip::Entry* codeIntegrity = package.Find(CodeIntegrityName);
        if (claimed.size() != (codeIntegrity ? 5u : 4u))
            return TRUST_E_BAD_DIGEST;

        // The package's record as it is, built in the order signing tools write it, compared part
        // by part.
        Bytes record(RecordMagic.begin(), RecordMagic.end());
        bool same = true;
        const auto compare = [&](const std::array<char, 4>& tag, bool computed, const Bytes& digest) {
            same = same && computed && Matches(claimed, tag, digest);
            if (computed) {
                record.insert(record.end(), tag.begin(), tag.end());
                record.insert(record.end(), digest.begin(), digest.end());
            }
        };
        Bytes digest;
        compare(TagRecords, SUCCEEDED(RecordsDigest(package, map.Md, digest)), digest);
        compare(TagDirectory, SUCCEEDED(DirectoryDigest(package, map.Md, digest)), digest);
        compare(TagContentTypes, ContentDigest(package, ContentTypesName, map.Md, digest), digest);
        DigestContext blockMapHash(map.Md);
        blockMapHash.Update(blockMapXml);
        compare(TagBlockMap, SUCCEEDED(blockMapHash.Final(digest)), digest);
        if (codeIntegrity)
            compare(TagCodeIntegrity, ContentDigest(package, CodeIntegrityName, map.Md, digest), digest);
        check.File = std::move(record);
        if (!same)
            return TRUST_E_BAD_DIGEST;

        uint64_t budget = InflateBudget(package.file().size());
        return CheckBlockMap(package, map, budget);
    }

private:
    // "APPX" and its tagged hashes, each tag once.
    static bool ReadRecord(const Bytes& record, size_t hashSize, std::map<std::string, Bytes, std::less<>>& hashes)
    {
        if (record.size() < RecordMagic.size() || !std::equal(RecordMagic.begin(), RecordMagic.end(), record.begin()))
            return false;
        size_t at = RecordMagic.size();
        while (at < record.size()) {
            if (record.size() - at < 4 + hashSize)
                return false;
            std::string tag(record.begin() + static_cast<std::ptrdiff_t>(at),
                            record.begin() + static_cast<std::ptrdiff_t>(at + 4));
            const bool known = std::any_of(Tags.begin(), Tags.end(), [&](const std::array<char, 4>& t) {
                return std::equal(t.begin(), t.end(), tag.begin());
            });
            if (!known || hashes.count(tag) != 0)
                return false;
            hashes.emplace(std::move(tag), Bytes(record.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                                 record.begin() + static_cast<std::ptrdiff_t>(at + 4 + hashSize)));
            at += 4 + hashSize;
        }
        return true;
    }

    static bool Matches(const std::map<std::string, Bytes, std::less<>>& claimed, const std::array<char, 4>& tag,
                        const Bytes& digest)
    {
        const auto found = claimed.find(std::string_view(tag.data(), tag.size()));
        return found != claimed.end() && found->second == digest;
    }

    // The local records as the file holds them, in their order, the signature's left out.
    static HRESULT RecordsDigest(const zip::Archive& package, const EVP_MD* md, Bytes& digest)
    {
        std::vector<const zip::Entry*> records;
        for (const zip::Entry& entry : package.Entries())
            if (entry.Name != SignatureName)
                records.push_back(&entry);
        std::sort(records.begin(), records.end(),
                  [](const zip::Entry* a, const zip::Entry* b) { return a->LocalOffset < b->LocalOffset; });
        DigestContext hash(md);
        for (const zip::Entry* entry : records)
            if (!hash.UpdateFromFile(package.file(), entry->LocalOffset, entry->RecordEnd - entry->LocalOffset))
                return TRUST_E_BAD_DIGEST;
        return hash.Final(digest);
    }

    // The central directory's records but the signature's, then the end records as they would
    // read without the signature: its entry and its local record taken out.
    static HRESULT DirectoryDigest(const zip::Archive& package, const EVP_MD* md, Bytes& digest)
    {
        DigestContext hash(md);
        uint64_t count = 0;
        uint64_t directorySize = 0;
        uint64_t directoryOffset = 0;
        for (const zip::Entry& entry : package.Entries()) {
            if (entry.Name == SignatureName)
                continue;
            if (!hash.UpdateFromFile(package.file(), entry.DirectoryOffset, entry.DirectorySize))
                return TRUST_E_BAD_DIGEST;
            ++count;
            directorySize += entry.DirectorySize;
            directoryOffset += entry.RecordEnd - entry.LocalOffset;
        }
        const zip::EndRecords& end = package.End();
        Bytes records;
        if (end.Zip64) {
            PutU32(records, Zip64EndSignature);
            PutU64(records, end.Zip64RecordSize);
            PutU16(records, end.CreatorVersion);
            PutU16(records, end.ViewerVersion);
            PutU32(records, end.Zip64Disk);
            PutU32(records, end.Zip64DirectoryDisk);
            PutU64(records, count);
            PutU64(records, count);
            PutU64(records, directorySize);
            PutU64(records, directoryOffset);
            hash.Update(records);
            records.clear();
            if (!hash.UpdateFromFile(package.file(), end.ExtensibleOffset, end.ExtensibleSize))
                return TRUST_E_BAD_DIGEST;
            PutU32(records, LocatorSignature);
            PutU32(records, end.LocatorDisk);
            PutU64(records, directoryOffset + directorySize);
            PutU32(records, end.LocatorTotalDisks);
        }
        // The disk numbers are written as zeros; a field that defers to ZIP64 keeps doing so.
        PutU32(records, EndSignature);
        PutU16(records, 0);
        PutU16(records, 0);
        PutU16(records, end.DiskEntries == 0xFFFF ? 0xFFFF : static_cast<uint16_t>(count));
        PutU16(records, end.TotalEntries == 0xFFFF ? 0xFFFF : static_cast<uint16_t>(count));
        PutU32(records, end.DirectorySize == 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<uint32_t>(directorySize));
        PutU32(records, end.DirectoryOffset == 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<uint32_t>(directoryOffset));
        PutU16(records, end.CommentSize);
        hash.Update(records);
        if (!hash.UpdateFromFile(package.file(), end.CommentOffset, end.CommentSize))
            return TRUST_E_BAD_DIGEST;
        return hash.Final(digest);
    }

    static bool ContentDigest(const zip::Archive& package, std::string_view name, const EVP_MD* md, Bytes& digest)
    {
        const zip::Entry* entry = package.Find(name);
        if (!entry)
            return false;
        DigestContext hash(md);
        const deflate::Status status = package.Read(*entry, MaxMetadataSize, [&](std::span<const uint8_t> piece) {
            hash.Update(piece);
            return true;
        });
        return status == deflate::Status::Ok && SUCCEEDED(hash.Final(digest));
    }

    std::optional<zip::Archive> FPackage;
    bool FBundle = false;
};

} // namespace

bool IsAppxExtension(std::u16string_view extension)
{
    return std::find(std::begin(Extensions), std::end(Extensions), extension) != std::end(Extensions);
}

std::unique_ptr<Subject> OpenAppxSubject(const FileSource& file, std::u16string_view extension)
{
    return std::make_unique<AppxSubject>(file, extension.ends_with(u"bundle"));
}

uint64_t InflateBudget(uint64_t packageSize)
{
    constexpr uint64_t Base = 16ull * 1024 * 1024;
    constexpr uint64_t Ratio = 32;
    return packageSize > (UINT64_MAX - Base) / Ratio ? UINT64_MAX : Base + Ratio * packageSize;
}

bool ParseBlockMap(std::span<const uint8_t> xml, BlockMap& map)
{
    map = BlockMap();
    QXmlStreamReader reader(
        QByteArray::fromRawData(reinterpret_cast<const char*>(xml.data()), static_cast<qsizetype>(xml.size())));
    bool inRoot = false;
    BlockMap::File* file = nullptr;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::EndElement) {
            if (reader.name() == u"File")
                file = nullptr;
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        const QStringView name = reader.name();
        const QXmlStreamAttributes attributes = reader.attributes();
        if (!inRoot) {
            if (name != u"BlockMap" || !(map.Md = HashMethod(attributes.value(QStringLiteral("HashMethod")))))
                return false;
            inRoot = true;
        } else if (name == u"File" && !file) {
            BlockMap::File entry;
            entry.Name = attributes.value(QStringLiteral("Name")).toString().toStdString();
            const auto size = Number(attributes.value(QStringLiteral("Size")));
            const auto lfhSize = Number(attributes.value(QStringLiteral("LfhSize")));
            if (entry.Name.empty() || !size || !lfhSize)
                return false;
            entry.Size = *size;
            entry.LfhSize = *lfhSize;
            map.Files.push_back(std::move(entry));
            file = &map.Files.back();
        } else if (name == u"Block" && file) {
            const auto hash = QByteArray::fromBase64Encoding(attributes.value(QStringLiteral("Hash")).toLatin1(),
                                                             QByteArray::AbortOnBase64DecodingErrors);
            if (!hash || static_cast<int>(hash.decoded.size()) != EVP_MD_get_size(map.Md))
                return false;
            file->BlockHashes.emplace_back(hash.decoded.begin(), hash.decoded.end());
        } else {
            return false;
        }
    }
    return inRoot && !reader.hasError();
}

HRESULT CheckBlockMap(const zip::Archive& package, const BlockMap& map, uint64_t& budget)
{
    if (!map.Md)
        return TRUST_E_BAD_DIGEST;
    // Every entry but the signature, the block map and the content types has its file in the
    // block map, and every file there is an entry.
    std::map<std::string, const zip::Entry*, std::less<>> entries;
    for (const zip::Entry& entry : package.Entries()) {
        if (entry.Name == SignatureName || entry.Name == BlockMapName || entry.Name == ContentTypesName)
            continue;
        const auto name = BlockMapNameOf(entry.Name);
        if (!name || !entries.emplace(*name, &entry).second)
            return TRUST_E_BAD_DIGEST;
    }
    if (entries.size() != map.Files.size())
        return TRUST_E_BAD_DIGEST;
    for (const BlockMap::File& file : map.Files) {
        const auto found = entries.find(file.Name);
        if (found == entries.end())
            return TRUST_E_BAD_DIGEST;
        const zip::Entry& entry = *found->second;
        entries.erase(found); // a file named twice finds nothing the second time
        const uint64_t blocks = file.Size / BlockSize + (file.Size % BlockSize != 0 ? 1 : 0);
        if (entry.UncompressedSize != file.Size || entry.LocalHeaderSize != file.LfhSize ||
            file.BlockHashes.size() != blocks)
            return TRUST_E_BAD_DIGEST;
        if (file.Size > budget)
            return TRUST_E_BAD_DIGEST;
        budget -= file.Size;
        BlockHasher hasher(map.Md, file.BlockHashes);
        const deflate::Status status =
            package.Read(entry, file.Size, [&](std::span<const uint8_t> piece) { return hasher.Take(piece); });
        if (status != deflate::Status::Ok || !hasher.Finish())
            return TRUST_E_BAD_DIGEST;
    }
    return S_OK;
}

} // namespace wintrust
