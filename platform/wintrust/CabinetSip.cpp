#include "platform/wintrust/CabinetSip.h"

#include "platform/common/ByteReader.h"

#include <array>

namespace wintrust {

namespace {

constexpr std::array<uint8_t, 4> CabinetMagic = {'M', 'S', 'C', 'F'};
// The header up to and with the 20 reserved bytes of a signed cabinet.
constexpr size_t SignedHeaderSize = 60;
constexpr uint16_t FlagPreviousCabinet = 0x0001;
constexpr uint16_t FlagNextCabinet = 0x0002;
constexpr uint16_t FlagReservePresent = 0x0004;
constexpr uint32_t SignatureReserveSize = 20;
// What signing tools put in the first four reserved bytes.
constexpr uint32_t SignatureReserveMarker = 0x00100000;
// A cabinet name in the header is a NUL-terminated text of at most 255 bytes.
constexpr size_t MaxNameSize = 256;
constexpr size_t FolderEntrySize = 8;

// Where a signed cabinet keeps its signature, and what its digest needs from the header.
struct Layout {
    uint32_t SignatureOffset = 0;
    uint32_t SignatureSize = 0;
    uint32_t FirstFileOffset = 0;
    uint16_t Folders = 0;
    uint16_t Flags = 0;
};

// The signed cabinet's layout; TRUST_E_NOSIGNATURE for a cabinet without a signature or too
// damaged to carry one.
HRESULT ReadLayout(const FileSource& file, Layout& layout)
{
    std::array<uint8_t, SignedHeaderSize> bytes{};
    if (file.size() < bytes.size() || !file.ReadAt(0, bytes.data(), bytes.size()))
        return TRUST_E_NOSIGNATURE;
    const ByteReader header(bytes.data(), bytes.size());
    layout.FirstFileOffset = *header.U32(16);
    layout.Folders = *header.U16(26);
    layout.Flags = *header.U16(30);
    if (*header.U32(4) != 0 || (layout.Flags & FlagReservePresent) == 0)
        return TRUST_E_NOSIGNATURE;
    // cbCFHeader 20, cbCFFolder and cbCFData 0, then the reserve that places the signature.
    if (*header.U32(36) != SignatureReserveSize || *header.U32(40) != SignatureReserveMarker)
        return TRUST_E_NOSIGNATURE;
    layout.SignatureOffset = *header.U32(44);
    layout.SignatureSize = *header.U32(48);
    // The signature ends the file.
    if (layout.SignatureOffset < SignedHeaderSize || layout.SignatureSize == 0 ||
        layout.SignatureOffset > file.size() || layout.SignatureSize != file.size() - layout.SignatureOffset)
        return TRUST_E_NOSIGNATURE;
    return S_OK;
}

// The length of the NUL-terminated name at offset, its NUL included, read before end.
std::optional<uint64_t> NameLength(const FileSource& file, uint64_t offset, uint64_t end)
{
    std::array<uint8_t, MaxNameSize> name{};
    const size_t available = offset < end ? static_cast<size_t>(std::min<uint64_t>(name.size(), end - offset)) : 0;
    if (available == 0 || !file.ReadAt(offset, name.data(), available))
        return std::nullopt;
    for (size_t i = 0; i < available; ++i)
        if (name[i] == 0)
            return i + 1;
    return std::nullopt;
}

class CabinetSubject : public DigestSubject {
public:
    explicit CabinetSubject(const FileSource& file) : FFile(file) {}

    const GUID& Type() const override { return CRYPT_SUBJTYPE_CABINET_IMAGE; }

    HRESULT Signature(Bytes& der) const override
    {
        Layout layout;
        if (const HRESULT hr = ReadLayout(FFile, layout); FAILED(hr))
            return hr;
        if (layout.SignatureSize > MaxSignatureSize)
            return DIGSIG_E_DECODE;
        auto bytes = FFile.ReadRange(layout.SignatureOffset, layout.SignatureSize);
        if (!bytes)
            return TRUST_E_NOSIGNATURE;
        der = std::move(*bytes);
        return S_OK;
    }

    HRESULT Digest(const EVP_MD* md, Bytes& digest) const override
    {
        Layout layout;
        if (FAILED(ReadLayout(FFile, layout)))
            return TRUST_E_BAD_DIGEST;
        // The cabinet names and folder entries must lead exactly to the first file entry.
        uint64_t offset = SignedHeaderSize;
        for (const uint16_t flag : {FlagPreviousCabinet, FlagNextCabinet}) {
            if ((layout.Flags & flag) == 0)
                continue;
            for (int name = 0; name < 2; ++name) { // the cabinet's name, then its disk's
                const auto length = NameLength(FFile, offset, layout.SignatureOffset);
                if (!length)
                    return TRUST_E_BAD_DIGEST;
                offset += *length;
            }
        }
        offset += static_cast<uint64_t>(layout.Folders) * FolderEntrySize;
        if (offset != layout.FirstFileOffset || offset > layout.SignatureOffset)
            return TRUST_E_BAD_DIGEST;

        DigestContext hash(md);
        // The signature "MSCF"; not reserved1. The cabinet's size, reserved2, the first file's
        // offset, reserved3, the version, the folder and file counts, the flags and the set's id;
        // not the cabinet's index in the set, the reserve sizes, the marker, the signature's
        // position and size and the next four bytes. The last four reserved bytes, and from there
        // everything up to the signature.
        if (!hash.UpdateFromFile(FFile, 0, 4) || !hash.UpdateFromFile(FFile, 8, 26) ||
            !hash.UpdateFromFile(FFile, 56, layout.SignatureOffset - 56))
            return TRUST_E_BAD_DIGEST;
        return hash.Final(digest);
    }

private:
    FileSource FFile;
};

} // namespace

bool IsCabinet(const FileSource& file)
{
    std::array<uint8_t, CabinetMagic.size()> magic{};
    return file.size() >= magic.size() && file.ReadAt(0, magic.data(), magic.size()) && magic == CabinetMagic;
}

std::unique_ptr<Subject> OpenCabinetSubject(const FileSource& file)
{
    return std::make_unique<CabinetSubject>(file);
}

} // namespace wintrust
