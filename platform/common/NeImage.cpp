#include "platform/common/NeImage.h"

#include "platform/common/ByteReader.h"

namespace ne {

namespace {

constexpr uint16_t NeSignature = 0x454E; // "NE"
constexpr size_t NewHeaderOffsetField = 0x3C;
constexpr size_t NeHeaderSize = 0x40;
constexpr size_t ResourceTableField = 0x24;
constexpr size_t ResidentNamesField = 0x26;
constexpr uint16_t IntegerId = 0x8000;
constexpr size_t TypeInfoSize = 8;
constexpr size_t NameInfoSize = 12;
// The loader shifts 16-bit offsets by at most this much: larger shifts would reach past 4 GiB.
constexpr uint16_t MaxAlignShift = 16;
// The table is bounded by the 16-bit offsets that locate it.
constexpr size_t MaxTableSize = 0xFFFF;

} // namespace

std::optional<std::vector<uint8_t>> ReadResource(const FileSource& file, uint16_t type, uint16_t id, size_t maxSize)
{
    const auto dos = file.ReadRange(0, NewHeaderOffsetField + 4);
    const auto newHeader = dos ? ByteReader(*dos).U32(NewHeaderOffsetField) : std::nullopt;
    if (!newHeader)
        return std::nullopt;
    const auto headerBytes = file.ReadRange(*newHeader, NeHeaderSize);
    if (!headerBytes)
        return std::nullopt;
    const ByteReader header(*headerBytes);
    if (header.U16(0) != NeSignature)
        return std::nullopt;
    const uint16_t tableField = *header.U16(ResourceTableField);
    const uint16_t namesField = *header.U16(ResidentNamesField);
    if (tableField == namesField)
        return std::nullopt; // no resources
    // The table runs up to the resident-name table that follows it, or to the end of the file.
    const uint64_t tableAt = uint64_t{*newHeader} + tableField;
    if (!file.Has(tableAt, 0))
        return std::nullopt;
    const uint64_t available = std::min<uint64_t>(file.size() - tableAt, MaxTableSize);
    const uint64_t declared = namesField > tableField ? namesField - tableField : available;
    const auto tableBytes = file.ReadRange(tableAt, static_cast<size_t>(std::min(declared, available)));
    if (!tableBytes)
        return std::nullopt;
    const ByteReader table(*tableBytes);
    const auto shift = table.U16(0);
    if (!shift || *shift > MaxAlignShift)
        return std::nullopt;

    size_t pos = 2;
    // Each type takes at least its eight bytes: the walk ends with the table.
    while (const auto typeId = table.U16(pos)) {
        if (*typeId == 0)
            return std::nullopt; // the end of the types
        const auto count = table.U16(pos + 2);
        if (!count || !table.Has(pos + TypeInfoSize, size_t{*count} * NameInfoSize))
            return std::nullopt;
        const size_t names = pos + TypeInfoSize;
        if (*typeId == (IntegerId | type)) {
            for (size_t i = 0; i < *count; ++i) {
                const size_t at = names + i * NameInfoSize;
                if (*table.U16(at + 6) != (IntegerId | id))
                    continue;
                const uint64_t offset = uint64_t{*table.U16(at)} << *shift;
                const uint64_t length = uint64_t{*table.U16(at + 2)} << *shift;
                // The length counts whole alignment units: the resource may end before it.
                const uint64_t size = std::min<uint64_t>(length, file.Has(offset, 0) ? file.size() - offset : 0);
                if (size == 0 || size > maxSize)
                    return std::nullopt;
                return file.ReadRange(offset, static_cast<size_t>(size));
            }
        }
        pos = names + size_t{*count} * NameInfoSize;
    }
    return std::nullopt;
}

} // namespace ne
