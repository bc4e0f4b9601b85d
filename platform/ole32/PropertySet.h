// Property-set streams: the header, one section's property table, code page and dictionary, and
// each value decoded into a PROPVARIANT on demand. A section is read into memory whole (it is
// bounded by its stream and by MaxSectionSize); every count in it is checked against the bytes
// that are really there before anything is allocated.
#pragma once

#include "platform/ole32/CompoundFile.h"
#include "platform/include/win/propidl.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace propset {

// Sections larger than this are refused: writers keep property sets to a few hundred kilobytes.
inline constexpr uint32_t MaxSectionSize = 16u << 20;
inline constexpr PROPID PidBehavior = 0x80000003;

struct Header {
    uint16_t Version = 0;
    uint32_t SystemIdentifier = 0;
    CLSID Clsid{};
    std::vector<std::pair<FMTID, uint32_t>> Sections; // FMTID and offset, one or two
};

struct Property {
    PROPID Id = 0;
    uint32_t Offset = 0; // within the section
    VARTYPE Type = VT_EMPTY;
};

struct Section {
    FMTID Fmtid{};
    std::vector<uint8_t> Bytes;
    std::vector<Property> Properties; // in stored order; the first of duplicate ids wins
    std::vector<std::pair<PROPID, std::u16string>> Names; // the dictionary
    std::optional<uint16_t> CodePage;
    bool CaseSensitive = false; // behaviour property, bit 0

    [[nodiscard]] const Property* Find(PROPID id) const;
    [[nodiscard]] const std::u16string* NameOf(PROPID id) const;
    [[nodiscard]] std::optional<PROPID> IdOf(std::u16string_view name) const;
};

// STG_E_INVALIDHEADER for anything that is not a property-set stream.
[[nodiscard]] HRESULT ReadHeader(const cfb::StreamReader& stream, Header& header);
[[nodiscard]] HRESULT ReadSection(const cfb::StreamReader& stream, const Header& header, size_t index,
                                  Section& section);

// Opens the elements that the values of nonsimple property sets name (VT_STREAM, VT_STORAGE,
// VT_STREAMED_OBJECT, VT_STORED_OBJECT, VT_VERSIONED_STREAM).
class IndirectOpener {
public:
    virtual HRESULT OpenStream(std::u16string_view name, IStream** stream) = 0;
    virtual HRESULT OpenStorage(std::u16string_view name, IStorage** storage) = 0;

protected:
    ~IndirectOpener() = default;
};

// The value of one property. On failure value is VT_EMPTY and nothing is left allocated:
// STG_E_INVALIDHEADER for a malformed or unsupported value (and for nonsimple values when
// opener is null, as in simple property sets), STG_E_INSUFFICIENTMEMORY, or the opener's error.
[[nodiscard]] HRESULT ReadValue(const Section& section, const Property& property, IndirectOpener* opener,
                                PROPVARIANT& value);

} // namespace propset
