#include "platform/wintrust/Subject.h"
#include "platform/wintrust/AppxSip.h"
#include "platform/wintrust/CabinetSip.h"
#include "platform/wintrust/CatalogSip.h"
#include "platform/wintrust/ScriptSip.h"

#include "platform/common/PeImage.h"
#include "platform/ole32/CompoundFile.h"

#include <algorithm>
#include <array>

namespace wintrust {

DigestContext::DigestContext(const EVP_MD* md) : FCtx(EVP_MD_CTX_new())
{
    FOk = FCtx && EVP_DigestInit_ex(FCtx.get(), md, nullptr) == 1;
}

void DigestContext::Update(std::span<const uint8_t> bytes)
{
    if (FOk && !bytes.empty())
        FOk = EVP_DigestUpdate(FCtx.get(), bytes.data(), bytes.size()) == 1;
}

bool DigestContext::UpdateFromFile(const FileSource& file, uint64_t offset, uint64_t length)
{
    if (!file.Has(offset, length))
        return false;
    // Grown to what the ranges ask for, up to one chunk.
    if (const auto wanted = static_cast<size_t>(std::min<uint64_t>(ReadChunk, length)); FBuffer.size() < wanted)
        FBuffer.resize(wanted);
    for (uint64_t done = 0; done < length;) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(FBuffer.size(), length - done));
        if (!file.ReadAt(offset + done, FBuffer.data(), chunk))
            return false;
        Update(std::span<const uint8_t>(FBuffer.data(), chunk));
        done += chunk;
    }
    return true;
}

HRESULT DigestContext::Final(Bytes& digest)
{
    std::array<uint8_t, EVP_MAX_MD_SIZE> out{};
    unsigned int length = 0;
    if (!FOk || EVP_DigestFinal_ex(FCtx.get(), out.data(), &length) != 1)
        return TakeOpenSslError(TRUST_E_BAD_DIGEST);
    digest.assign(out.begin(), out.begin() + length);
    return S_OK;
}

std::string DigestAlgorithmOid(const EVP_MD* md)
{
    return OidText(OBJ_nid2obj(EVP_MD_get_type(md)));
}

HRESULT DigestSubject::CheckDigest(const SignedMessage& message, DigestCheck& check) const
{
    const EVP_MD* md = message.FileDigestAlgorithm();
    if (!md)
        return TRUST_E_BAD_DIGEST;
    check.AlgorithmOid = DigestAlgorithmOid(md);
    check.Signed = message.FileDigest();
    Bytes digest;
    if (FAILED(Digest(md, digest)))
        return TRUST_E_BAD_DIGEST;
    check.File = std::move(digest);
    return check.File == check.Signed ? S_OK : TRUST_E_BAD_DIGEST;
}

std::u16string ExtensionOf(std::u16string_view path)
{
    const size_t slash = path.find_last_of(u'/');
    const std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of(u'.');
    if (dot == std::u16string_view::npos)
        return {};
    std::u16string extension(name.substr(dot));
    for (char16_t& c : extension)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    return extension;
}

namespace {

constexpr uint16_t WinCertRevision1 = 0x0100;
constexpr uint16_t WinCertRevision2 = 0x0200;
constexpr uint16_t WinCertTypePkcsSignedData = 0x0002;

constexpr std::array<uint8_t, 8> CompoundSignature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::u16string_view SignatureStream = u"\u0005DigitalSignature";
constexpr std::u16string_view MetadataStream = u"\u0005MsiDigitalSignatureEx";

void PutU32(Bytes& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutFileTime(Bytes& out, const FILETIME& t)
{
    PutU32(out, t.dwLowDateTime);
    PutU32(out, t.dwHighDateTime);
}

void PutName(Bytes& out, std::u16string_view name)
{
    for (const char16_t c : name) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
}

// ---------------------------------------------------------------------------------------------

class PeSubject : public DigestSubject {
public:
    explicit PeSubject(pe::PeImage image) : FImage(std::move(image)) {}

    const GUID& Type() const override { return CRYPT_SUBJTYPE_PE_IMAGE; }

    HRESULT Signature(Bytes& der) const override
    {
        const auto entries = FImage.Certificates();
        if (!entries || entries->empty())
            return TRUST_E_NOSIGNATURE;
        // Only the first entry counts; further entries and nested signatures are ignored.
        const pe::CertificateEntry& first = entries->front();
        if ((first.Revision != WinCertRevision2 && first.Revision != WinCertRevision1) ||
            first.Type != WinCertTypePkcsSignedData || first.Length <= 8)
            return TRUST_E_NOSIGNATURE;
        const size_t length = first.Length - 8;
        if (length > MaxSignatureSize)
            return DIGSIG_E_DECODE;
        auto bytes = FImage.file().ReadRange(first.Offset + 8, length);
        if (!bytes)
            return TRUST_E_NOSIGNATURE;
        der = std::move(*bytes);
        return S_OK;
    }

    HRESULT Digest(const EVP_MD* md, Bytes& digest) const override
    {
        const auto ranges = FImage.AuthenticodeRanges();
        if (!ranges)
            return TRUST_E_BAD_DIGEST;
        DigestContext hash(md);
        for (const pe::ByteRange& range : *ranges)
            if (!hash.UpdateFromFile(FImage.file(), range.Offset, range.Length))
                return TRUST_E_BAD_DIGEST;
        return hash.Final(digest);
    }

private:
    pe::PeImage FImage;
};

// ---------------------------------------------------------------------------------------------

// The order in which a storage's children are hashed: their names' UTF-16LE bytes compared as
// bytes, a name before any longer name it begins. (Not the order the compound-file format
// itself keeps, which compares lengths first and folds case.)
bool HashOrder(const cfb::Entry* a, const cfb::Entry* b)
{
    const std::u16string_view x = a->Name;
    const std::u16string_view y = b->Name;
    for (size_t i = 0; i < std::min(x.size(), y.size()); ++i) {
        const auto xl = static_cast<uint8_t>(x[i] & 0xFF);
        const auto yl = static_cast<uint8_t>(y[i] & 0xFF);
        if (xl != yl)
            return xl < yl;
        const auto xh = static_cast<uint8_t>(x[i] >> 8);
        const auto yh = static_cast<uint8_t>(y[i] >> 8);
        if (xh != yh)
            return xh < yh;
    }
    return x.size() < y.size();
}

class CompoundSubject : public DigestSubject {
public:
    explicit CompoundSubject(std::shared_ptr<const cfb::CompoundFile> file) : FFile(std::move(file)) {}

    const GUID& Type() const override { return CRYPT_SUBJTYPE_STRUCTURED_STORAGE; }

    HRESULT Signature(Bytes& der) const override
    {
        const cfb::Entry* entry = FFile->FindChild(FFile->Root(), SignatureStream);
        if (!entry || entry->IsStorage())
            return TRUST_E_NOSIGNATURE;
        if (entry->Size == 0)
            return TRUST_E_NOSIGNATURE;
        if (entry->Size > MaxSignatureSize)
            return DIGSIG_E_DECODE;
        cfb::StreamReader reader;
        if (FAILED(FFile->OpenStream(*entry, reader)))
            return TRUST_E_NOSIGNATURE;
        Bytes bytes(static_cast<size_t>(reader.size()));
        size_t read = 0;
        if (FAILED(reader.ReadAt(0, bytes.data(), bytes.size(), &read)) || read != bytes.size())
            return TRUST_E_NOSIGNATURE;
        der = std::move(bytes);
        return S_OK;
    }

    HRESULT Digest(const EVP_MD* md, Bytes& digest) const override
    {
        DigestContext hash(md);
        const cfb::Entry* metadata = FFile->FindChild(FFile->Root(), MetadataStream);
        if (metadata && !metadata->IsStorage()) {
            // The stored digest of the entries' metadata must be the one the file has now; it
            // then begins the data the signature's digest covers.
            Bytes computed;
            if (FAILED(MetadataDigest(md, computed)))
                return TRUST_E_BAD_DIGEST;
            Bytes stored;
            if (metadata->Size != computed.size() || FAILED(ReadStream(*metadata, stored)) || stored != computed)
                return TRUST_E_BAD_DIGEST;
            hash.Update(computed);
        }
        Bytes buffer(ReadChunk);
        const HRESULT hr = Walk(
            [&](const cfb::Entry& stream) { return HashStream(stream, hash, buffer); },
            [&](const cfb::Entry&) {},
            [&](const cfb::Entry& storage) {
                Bytes clsid;
                PutClsid(clsid, storage.Clsid);
                hash.Update(clsid);
            });
        if (FAILED(hr))
            return hr;
        return hash.Final(digest);
    }

private:
    // Visits the tree depth-first without recursion: onStream for each stream, onEnter before a
    // storage's children and onLeave after them, children in hash order; the root's signature
    // streams are left out.
    template <typename OnStream, typename OnEnter, typename OnLeave>
    HRESULT Walk(OnStream onStream, OnEnter onEnter, OnLeave onLeave) const
    {
        struct Frame {
            const cfb::Entry* Storage;
            std::vector<const cfb::Entry*> Children;
            size_t Next = 0;
        };
        std::vector<Frame> stack;
        std::vector<bool> visited;
        const auto enter = [&](const cfb::Entry& storage) -> HRESULT {
            if (storage.Id >= visited.size())
                visited.resize(storage.Id + 1);
            if (visited[storage.Id])
                return TRUST_E_BAD_DIGEST; // the reader refuses shared subtrees; never loop if one slips by
            visited[storage.Id] = true;
            Frame frame{&storage, {}, 0};
            frame.Children.reserve(storage.Children.size());
            const bool isRoot = stack.empty();
            for (const uint32_t id : storage.Children) {
                const cfb::Entry* child = FFile->EntryById(id);
                if (!child)
                    return TRUST_E_BAD_DIGEST;
                if (isRoot && !child->IsStorage() &&
                    (cfb::NamesEqual(child->Name, SignatureStream) || cfb::NamesEqual(child->Name, MetadataStream)))
                    continue;
                frame.Children.push_back(child);
            }
            std::sort(frame.Children.begin(), frame.Children.end(), HashOrder);
            onEnter(storage);
            stack.push_back(std::move(frame));
            return S_OK;
        };
        HRESULT hr = enter(FFile->Root());
        while (SUCCEEDED(hr) && !stack.empty()) {
            Frame& top = stack.back();
            if (top.Next == top.Children.size()) {
                onLeave(*top.Storage);
                stack.pop_back();
                continue;
            }
            const cfb::Entry* child = top.Children[top.Next++];
            hr = child->IsStorage() ? enter(*child) : onStream(*child);
        }
        return hr;
    }

    static void PutClsid(Bytes& out, const CLSID& clsid)
    {
        PutU32(out, clsid.Data1);
        out.push_back(static_cast<uint8_t>(clsid.Data2 & 0xFF));
        out.push_back(static_cast<uint8_t>(clsid.Data2 >> 8));
        out.push_back(static_cast<uint8_t>(clsid.Data3 & 0xFF));
        out.push_back(static_cast<uint8_t>(clsid.Data3 >> 8));
        out.insert(out.end(), std::begin(clsid.Data4), std::end(clsid.Data4));
    }

    // The metadata digest: the root's class id and state bits; for each storage on entering it
    // its name, class id, state bits, creation and modification times; for each stream its name,
    // size (low 32 bits), state bits and times. Same order and exclusions as the content.
    HRESULT MetadataDigest(const EVP_MD* md, Bytes& digest) const
    {
        DigestContext hash(md);
        const uint32_t rootId = FFile->Root().Id;
        Bytes record;
        const HRESULT hr = Walk(
            [&](const cfb::Entry& stream) {
                record.clear();
                PutName(record, stream.Name);
                PutU32(record, static_cast<uint32_t>(stream.Size & 0xFFFFFFFF));
                PutU32(record, stream.StateBits);
                PutFileTime(record, stream.Created);
                PutFileTime(record, stream.Modified);
                hash.Update(record);
                return S_OK;
            },
            [&](const cfb::Entry& storage) {
                record.clear();
                if (storage.Id != rootId)
                    PutName(record, storage.Name);
                PutClsid(record, storage.Clsid);
                PutU32(record, storage.StateBits);
                if (storage.Id != rootId) {
                    PutFileTime(record, storage.Created);
                    PutFileTime(record, storage.Modified);
                }
                hash.Update(record);
            },
            [&](const cfb::Entry&) {});
        if (FAILED(hr))
            return hr;
        return hash.Final(digest);
    }

    HRESULT HashStream(const cfb::Entry& stream, DigestContext& hash, Bytes& buffer) const
    {
        cfb::StreamReader reader;
        if (FAILED(FFile->OpenStream(stream, reader)))
            return TRUST_E_BAD_DIGEST;
        uint64_t done = 0;
        while (done < reader.size()) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), reader.size() - done));
            size_t read = 0;
            if (FAILED(reader.ReadAt(done, buffer.data(), want, &read)) || read != want)
                return TRUST_E_BAD_DIGEST;
            hash.Update(std::span<const uint8_t>(buffer.data(), read));
            done += read;
        }
        return S_OK;
    }

    // A small stream whole (the metadata digest).
    HRESULT ReadStream(const cfb::Entry& stream, Bytes& out) const
    {
        if (stream.Size > EVP_MAX_MD_SIZE)
            return TRUST_E_BAD_DIGEST;
        cfb::StreamReader reader;
        if (FAILED(FFile->OpenStream(stream, reader)))
            return TRUST_E_BAD_DIGEST;
        out.resize(static_cast<size_t>(reader.size()));
        size_t read = 0;
        if (FAILED(reader.ReadAt(0, out.data(), out.size(), &read)) || read != out.size())
            return TRUST_E_BAD_DIGEST;
        return S_OK;
    }

    std::shared_ptr<const cfb::CompoundFile> FFile;
};

} // namespace

HRESULT OpenSubject(const FileSource& file, std::u16string_view path, std::unique_ptr<Subject>& subject)
{
    subject.reset();
    std::array<uint8_t, 8> magic{};
    if (!file.ReadAt(0, magic.data(), std::min<uint64_t>(magic.size(), file.size())))
        return TRUST_E_SUBJECT_FORM_UNKNOWN;
    if (file.size() >= 2 && magic[0] == 'M' && magic[1] == 'Z') {
        pe::Error error = pe::Error::None;
        auto image = pe::PeImage::Load(file, &error);
        if (!image)
            return error == pe::Error::Malformed ? TRUST_E_NOSIGNATURE : TRUST_E_SUBJECT_FORM_UNKNOWN;
        subject = std::make_unique<PeSubject>(std::move(*image));
        return S_OK;
    }
    if (file.size() >= magic.size() && magic == CompoundSignature) {
        std::shared_ptr<const cfb::CompoundFile> compound;
        if (FAILED(cfb::CompoundFile::OpenDescriptor(file.descriptor(), compound)))
            return TRUST_E_NOSIGNATURE;
        subject = std::make_unique<CompoundSubject>(std::move(compound));
        return S_OK;
    }
    if (IsCabinet(file)) {
        subject = OpenCabinetSubject(file);
        return S_OK;
    }
    const std::u16string extension = ExtensionOf(path);
    // A catalog by its name and by what it holds: a certificate trust list of catalog members.
    if (IsCatalogExtension(extension)) {
        subject = OpenCatalogSubject(file);
        return subject ? S_OK : TRUST_E_SUBJECT_FORM_UNKNOWN;
    }
    if (IsAppxExtension(extension)) {
        subject = OpenAppxSubject(file, extension);
        return S_OK;
    }
    if (IsScriptExtension(extension)) {
        subject = OpenScriptSubject(file, extension);
        return S_OK;
    }
    return TRUST_E_SUBJECT_FORM_UNKNOWN;
}

} // namespace wintrust
