#include "platform/ole32/PropertySet.h"

#include "platform/common/ByteReader.h"
#include "platform/common/CodePage.h"
#include "platform/ole32/PropVariant.h"
#include "platform/include/win/oleauto.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace propset {
namespace {

constexpr HRESULT Malformed = STG_E_INVALIDHEADER;
// Vectors of variants may hold vectors of variants; a few levels are plenty.
constexpr int MaxVariantDepth = 4;
// What an array's header may declare.
constexpr uint32_t MaxArrayDimensions = 31;
constexpr size_t HeaderSize = 28;
constexpr size_t SectionEntrySize = 20;

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

// Values are padded to four bytes; a value that ends its section may lack the padding.
void SkipPadding(ByteCursor& c, uint64_t length)
{
    const size_t pad = static_cast<size_t>((4 - length % 4) % 4);
    c.Skip(std::min(pad, c.remaining()));
}

// CodePageString: size in bytes (terminator included), characters, padding.
std::optional<std::span<const uint8_t>> CodePageChars(ByteCursor& c)
{
    const uint32_t size = c.U32();
    auto chars = c.Take(size);
    if (!chars)
        return std::nullopt;
    SkipPadding(c, size);
    return chars;
}

// UnicodeString: length in characters (terminator included), UTF-16, padding.
std::optional<std::u16string> UnicodeChars(ByteCursor& c)
{
    const uint32_t length = c.U32();
    if (!c.ok() || length > c.remaining() / 2)
        return std::nullopt;
    auto chars = c.Take(static_cast<size_t>(length) * 2);
    if (!chars)
        return std::nullopt;
    SkipPadding(c, static_cast<uint64_t>(length) * 2);
    return codepage::ToUtf16(*chars, codepage::Unicode);
}

template <typename T>
T BitCast(uint64_t bits)
{
    T value{};
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// The least number of bytes one element of a vector of base takes; 0 for types that cannot
// be vector elements.
size_t MinimumElementSize(VARTYPE base)
{
    switch (base) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_R4: case VT_ERROR: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: case VT_FILETIME: return 8;
    case VT_CLSID: return 16;
    case VT_BSTR: case VT_LPSTR: case VT_LPWSTR: case VT_VARIANT: return 4;
    case VT_CF: return 8;
    default: return 0;
    }
}

class Decoder {
public:
    Decoder(const Section& section, IndirectOpener* opener) : FSection(section), FOpener(opener) {}

    // TypedPropertyValue: type, padding, value.
    HRESULT Typed(ByteCursor& c, PROPVARIANT& out, int depth)
    {
        std::memset(&out, 0, sizeof out);
        const VARTYPE vt = c.U16();
        c.U16();
        if (!c.ok())
            return Malformed;
        return Value(vt, c, out, depth);
    }

    HRESULT Value(VARTYPE vt, ByteCursor& c, PROPVARIANT& out, int depth)
    {
        std::memset(&out, 0, sizeof out);
        HRESULT hr = (vt & VT_VECTOR) ? Vector(vt, c, out, depth)
                     : (vt & VT_ARRAY)  ? Array(vt, c, out, depth)
                                        : Scalar(vt, c, out);
        if (SUCCEEDED(hr) && !c.ok())
            hr = Malformed;
        if (FAILED(hr))
            PropVariantClear(&out);
        return hr;
    }

private:
    HRESULT Scalar(VARTYPE vt, ByteCursor& c, PROPVARIANT& out)
    {
        switch (vt) {
        case VT_EMPTY:
        case VT_NULL: break;
        case VT_I1: out.cVal = static_cast<CHAR>(c.U8()); SkipPadding(c, 1); break;
        case VT_UI1: out.bVal = c.U8(); SkipPadding(c, 1); break;
        case VT_I2: out.iVal = static_cast<SHORT>(c.U16()); SkipPadding(c, 2); break;
        case VT_UI2: out.uiVal = c.U16(); SkipPadding(c, 2); break;
        case VT_BOOL: out.boolVal = static_cast<VARIANT_BOOL>(c.U16()); SkipPadding(c, 2); break;
        case VT_I4: out.lVal = static_cast<LONG>(c.U32()); break;
        case VT_INT: out.intVal = static_cast<INT>(c.U32()); break;
        case VT_UI4: out.ulVal = c.U32(); break;
        case VT_UINT: out.uintVal = c.U32(); break;
        case VT_ERROR: out.scode = static_cast<SCODE>(c.U32()); break;
        case VT_R4: out.fltVal = BitCast<FLOAT>(c.U32()); break;
        case VT_R8: out.dblVal = BitCast<DOUBLE>(c.U64()); break;
        case VT_DATE: out.date = BitCast<DATE>(c.U64()); break;
        case VT_I8: out.hVal.QuadPart = static_cast<LONGLONG>(c.U64()); break;
        case VT_UI8: out.uhVal.QuadPart = c.U64(); break;
        case VT_CY: out.cyVal.int64 = static_cast<LONGLONG>(c.U64()); break;
        case VT_FILETIME:
            out.filetime.dwLowDateTime = c.U32();
            out.filetime.dwHighDateTime = c.U32();
            break;
        case VT_DECIMAL: {
            // The DECIMAL's own reserved word is overlaid by vt, as in memory.
            c.U16();
            const uint8_t scale = c.U8();
            const uint8_t sign = c.U8();
            const uint32_t hi = c.U32();
            const uint64_t lo = c.U64();
            out.decVal.scale = scale;
            out.decVal.sign = sign;
            out.decVal.Hi32 = hi;
            out.decVal.Lo64 = lo;
            break;
        }
        case VT_LPSTR: return String(c, out.pszVal, out, vt);
        case VT_BSTR: return String(c, out.bstrVal, out, vt);
        case VT_LPWSTR: return String(c, out.pwszVal, out, vt);
        case VT_BLOB:
        case VT_BLOB_OBJECT: return Blob(c, out.blob, out, vt);
        case VT_CF: {
            CLIPDATA clip{};
            HRESULT hr = Clip(c, clip);
            if (FAILED(hr))
                return hr;
            out.pclipdata = static_cast<CLIPDATA*>(CoTaskMemAlloc(sizeof(CLIPDATA)));
            if (!out.pclipdata) {
                CoTaskMemFree(clip.pClipData);
                return STG_E_INSUFFICIENTMEMORY;
            }
            *out.pclipdata = clip;
            break;
        }
        case VT_CLSID: {
            auto bytes = c.Take(16);
            if (!bytes)
                return Malformed;
            out.puuid = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
            if (!out.puuid)
                return STG_E_INSUFFICIENTMEMORY;
            *out.puuid = GuidAt(ByteReader(*bytes), 0);
            break;
        }
        case VT_STREAM:
        case VT_STREAMED_OBJECT:
        case VT_STORAGE:
        case VT_STORED_OBJECT:
        case VT_VERSIONED_STREAM: return Indirect(vt, c, out);
        default: return Malformed;
        }
        if (!c.ok())
            return Malformed;
        out.vt = vt;
        return S_OK;
    }

    // BSTR and LPWSTR are the same C++ type: the VARTYPE says which string it is.
    template <typename T>
    HRESULT String(ByteCursor& c, T& slot, PROPVARIANT& out, VARTYPE vt)
    {
        if (vt == VT_LPWSTR) {
            auto text = UnicodeChars(c);
            if (!text)
                return Malformed;
            if constexpr (std::is_same_v<T, LPWSTR>)
                slot = ole32::AllocWide(*text);
        } else {
            auto chars = CodePageChars(c);
            if (!chars)
                return Malformed;
            if constexpr (std::is_same_v<T, LPSTR>)
                slot = ole32::AllocNarrow(codepage::ToAnsi(*chars, FSection.CodePage));
            else
                slot = ole32::AllocBstr(codepage::ToUtf16(*chars, FSection.CodePage));
        }
        if (!slot)
            return STG_E_INSUFFICIENTMEMORY;
        out.vt = vt;
        return S_OK;
    }

    HRESULT Blob(ByteCursor& c, BLOB& blob, PROPVARIANT& out, VARTYPE vt)
    {
        const uint32_t size = c.U32();
        auto bytes = c.Take(size);
        if (!bytes)
            return Malformed;
        SkipPadding(c, size);
        blob.cbSize = size;
        if (size) {
            blob.pBlobData = static_cast<BYTE*>(CoTaskMemAlloc(size));
            if (!blob.pBlobData)
                return STG_E_INSUFFICIENTMEMORY;
            std::memcpy(blob.pBlobData, bytes->data(), size);
        }
        out.vt = vt;
        return S_OK;
    }

    // ClipboardData: size (format and data), format, data, padding.
    HRESULT Clip(ByteCursor& c, CLIPDATA& clip)
    {
        const uint32_t size = c.U32();
        const auto format = static_cast<LONG>(c.U32());
        if (!c.ok() || size < 4)
            return Malformed;
        auto data = c.Take(size - 4);
        if (!data)
            return Malformed;
        SkipPadding(c, size - 4);
        clip.cbSize = size;
        clip.ulClipFmt = format;
        clip.pClipData = nullptr;
        if (!data->empty()) {
            clip.pClipData = static_cast<BYTE*>(CoTaskMemAlloc(data->size()));
            if (!clip.pClipData)
                return STG_E_INSUFFICIENTMEMORY;
            std::memcpy(clip.pClipData, data->data(), data->size());
        }
        return S_OK;
    }

    HRESULT Indirect(VARTYPE vt, ByteCursor& c, PROPVARIANT& out)
    {
        GUID version{};
        if (vt == VT_VERSIONED_STREAM) {
            auto bytes = c.Take(16);
            if (!bytes)
                return Malformed;
            version = GuidAt(ByteReader(*bytes), 0);
        }
        auto chars = CodePageChars(c);
        if (!chars)
            return Malformed;
        // Simple property sets have no elements for these values to name.
        if (!FOpener)
            return Malformed;
        const std::u16string name = codepage::ToUtf16(*chars, FSection.CodePage);
        if (vt == VT_STORAGE || vt == VT_STORED_OBJECT) {
            const HRESULT hr = FOpener->OpenStorage(name, &out.pStorage);
            if (FAILED(hr))
                return hr;
            out.vt = vt;
            return S_OK;
        }
        IStream* stream = nullptr;
        const HRESULT hr = FOpener->OpenStream(name, &stream);
        if (FAILED(hr))
            return hr;
        if (vt != VT_VERSIONED_STREAM) {
            out.pStream = stream;
            out.vt = vt;
            return S_OK;
        }
        out.pVersionedStream = static_cast<LPVERSIONEDSTREAM>(CoTaskMemAlloc(sizeof(VERSIONEDSTREAM)));
        if (!out.pVersionedStream) {
            stream->Release();
            return STG_E_INSUFFICIENTMEMORY;
        }
        out.pVersionedStream->guidVersion = version;
        out.pVersionedStream->pStream = stream;
        out.vt = vt;
        return S_OK;
    }

    // Allocates the elements (zeroed, so that a half-filled vector clears cleanly), marks out
    // as holding them, and reads them one by one.
    template <typename T, typename Read>
    HRESULT Fill(PROPVARIANT& out, CountedArray<T>& array, VARTYPE vt, ULONG count, Read read)
    {
        if (count) {
            array.pElems = static_cast<T*>(CoTaskMemAlloc(count * sizeof(T)));
            if (!array.pElems)
                return STG_E_INSUFFICIENTMEMORY;
            std::memset(static_cast<void*>(array.pElems), 0, count * sizeof(T));
        }
        array.cElems = count;
        out.vt = vt;
        for (ULONG i = 0; i < count; ++i) {
            const HRESULT hr = read(array.pElems[i]);
            if (FAILED(hr))
                return hr;
        }
        return S_OK;
    }

    HRESULT Vector(VARTYPE vt, ByteCursor& c, PROPVARIANT& out, int depth)
    {
        const VARTYPE base = vt & ~VT_VECTOR;
        const size_t minimum = MinimumElementSize(base);
        const uint32_t count = c.U32();
        // Counts are checked against the bytes left before anything is allocated.
        if (!c.ok() || minimum == 0 || count > c.remaining() / minimum)
            return Malformed;
        const auto ok = [&c] { return c.ok() ? S_OK : Malformed; };
        switch (base) {
        case VT_I1: return Fill(out, out.cac, vt, count, [&](CHAR& e) { e = static_cast<CHAR>(c.U8()); return ok(); });
        case VT_UI1: return Fill(out, out.caub, vt, count, [&](UCHAR& e) { e = c.U8(); return ok(); });
        case VT_I2: return Fill(out, out.cai, vt, count, [&](SHORT& e) { e = static_cast<SHORT>(c.U16()); return ok(); });
        case VT_UI2: return Fill(out, out.caui, vt, count, [&](USHORT& e) { e = c.U16(); return ok(); });
        case VT_BOOL:
            return Fill(out, out.cabool, vt, count, [&](VARIANT_BOOL& e) { e = static_cast<VARIANT_BOOL>(c.U16()); return ok(); });
        case VT_I4: return Fill(out, out.cal, vt, count, [&](LONG& e) { e = static_cast<LONG>(c.U32()); return ok(); });
        case VT_UI4: return Fill(out, out.caul, vt, count, [&](ULONG& e) { e = c.U32(); return ok(); });
        case VT_ERROR: return Fill(out, out.cascode, vt, count, [&](SCODE& e) { e = static_cast<SCODE>(c.U32()); return ok(); });
        case VT_R4: return Fill(out, out.caflt, vt, count, [&](FLOAT& e) { e = BitCast<FLOAT>(c.U32()); return ok(); });
        case VT_R8: return Fill(out, out.cadbl, vt, count, [&](DOUBLE& e) { e = BitCast<DOUBLE>(c.U64()); return ok(); });
        case VT_DATE: return Fill(out, out.cadate, vt, count, [&](DATE& e) { e = BitCast<DATE>(c.U64()); return ok(); });
        case VT_I8:
            return Fill(out, out.cah, vt, count, [&](LARGE_INTEGER& e) { e.QuadPart = static_cast<LONGLONG>(c.U64()); return ok(); });
        case VT_UI8: return Fill(out, out.cauh, vt, count, [&](ULARGE_INTEGER& e) { e.QuadPart = c.U64(); return ok(); });
        case VT_CY: return Fill(out, out.cacy, vt, count, [&](CY& e) { e.int64 = static_cast<LONGLONG>(c.U64()); return ok(); });
        case VT_FILETIME:
            return Fill(out, out.cafiletime, vt, count, [&](FILETIME& e) {
                e.dwLowDateTime = c.U32();
                e.dwHighDateTime = c.U32();
                return ok();
            });
        case VT_CLSID:
            return Fill(out, out.cauuid, vt, count, [&](CLSID& e) {
                auto bytes = c.Take(16);
                if (!bytes)
                    return Malformed;
                e = GuidAt(ByteReader(*bytes), 0);
                return S_OK;
            });
        case VT_CF: return Fill(out, out.caclipdata, vt, count, [&](CLIPDATA& e) { return Clip(c, e); });
        case VT_LPSTR:
            return Fill(out, out.calpstr, vt, count, [&](LPSTR& e) {
                auto chars = CodePageChars(c);
                if (!chars)
                    return Malformed;
                e = ole32::AllocNarrow(codepage::ToAnsi(*chars, FSection.CodePage));
                return e ? S_OK : STG_E_INSUFFICIENTMEMORY;
            });
        case VT_BSTR:
            return Fill(out, out.cabstr, vt, count, [&](BSTR& e) {
                auto chars = CodePageChars(c);
                if (!chars)
                    return Malformed;
                e = ole32::AllocBstr(codepage::ToUtf16(*chars, FSection.CodePage));
                return e ? S_OK : STG_E_INSUFFICIENTMEMORY;
            });
        case VT_LPWSTR:
            return Fill(out, out.calpwstr, vt, count, [&](LPWSTR& e) {
                auto text = UnicodeChars(c);
                if (!text)
                    return Malformed;
                e = ole32::AllocWide(*text);
                return e ? S_OK : STG_E_INSUFFICIENTMEMORY;
            });
        case VT_VARIANT:
            if (depth >= MaxVariantDepth)
                return Malformed;
            return Fill(out, out.capropvar, vt, count, [&](PROPVARIANT& e) { return Typed(c, e, depth + 1); });
        default: return Malformed;
        }
    }

    // ArrayHeader: the element type, the number of dimensions, each dimension's size and lower
    // bound; then the elements, packed as in a vector. Read into a SAFEARRAY.
    HRESULT Array(VARTYPE vt, ByteCursor& c, PROPVARIANT& out, int depth)
    {
        const VARTYPE base = vt & ~VT_ARRAY;
        const size_t minimum = base == VT_INT || base == VT_UINT ? 4 : base == VT_DECIMAL ? 16 : MinimumElementSize(base);
        const uint32_t type = c.U32();
        const uint32_t dimensions = c.U32();
        if (!c.ok() || minimum == 0 || base == VT_LPSTR || base == VT_LPWSTR || base == VT_CF || base == VT_CLSID ||
            base == VT_I8 || base == VT_UI8 || base == VT_FILETIME || type != base || dimensions < 1 ||
            dimensions > MaxArrayDimensions || dimensions > c.remaining() / 8)
            return Malformed;
        std::vector<SAFEARRAYBOUND> bounds(dimensions);
        uint64_t count = 1;
        for (SAFEARRAYBOUND& bound : bounds) {
            bound.cElements = c.U32();
            bound.lLbound = static_cast<LONG>(c.U32());
            count *= bound.cElements;
            // Counts are checked against the bytes left before anything is allocated.
            if (count > c.remaining() / minimum)
                return Malformed;
        }
        if (!c.ok())
            return Malformed;
        const size_t elementSize = ArrayElementSize(base);
        const size_t header = offsetof(SAFEARRAY, rgsabound) + dimensions * sizeof(SAFEARRAYBOUND);
        auto* array = static_cast<SAFEARRAY*>(CoTaskMemAlloc(header));
        if (!array)
            return STG_E_INSUFFICIENTMEMORY;
        std::memset(array, 0, header);
        array->cDims = static_cast<USHORT>(dimensions);
        array->fFeatures = base == VT_BSTR ? FADF_BSTR : base == VT_VARIANT ? FADF_VARIANT : 0;
        array->cbElements = static_cast<ULONG>(elementSize);
        // The last dimension first, as SAFEARRAYs keep them.
        std::copy(bounds.rbegin(), bounds.rend(), array->rgsabound);
        out.vt = vt;
        out.parray = array;
        if (count == 0)
            return S_OK;
        // Zeroed, so that an array left half-read clears cleanly.
        array->pvData = CoTaskMemAlloc(count * elementSize);
        if (!array->pvData)
            return STG_E_INSUFFICIENTMEMORY;
        std::memset(array->pvData, 0, count * elementSize);
        auto* data = static_cast<uint8_t*>(array->pvData);
        for (uint64_t i = 0; i < count; ++i) {
            void* element = data + i * elementSize;
            const HRESULT hr = ArrayElement(base, c, element, depth);
            if (FAILED(hr))
                return hr;
        }
        return c.ok() ? S_OK : Malformed;
    }

    static size_t ArrayElementSize(VARTYPE base)
    {
        switch (base) {
        case VT_I1: case VT_UI1: return 1;
        case VT_I2: case VT_UI2: case VT_BOOL: return 2;
        case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: case VT_R4: return 4;
        case VT_R8: case VT_CY: case VT_DATE: return 8;
        case VT_DECIMAL: return sizeof(DECIMAL);
        case VT_BSTR: return sizeof(BSTR);
        case VT_VARIANT: return sizeof(PROPVARIANT);
        default: return 0;
        }
    }

    HRESULT ArrayElement(VARTYPE base, ByteCursor& c, void* element, int depth)
    {
        switch (base) {
        case VT_I1: case VT_UI1: *static_cast<uint8_t*>(element) = c.U8(); break;
        case VT_I2: case VT_UI2: case VT_BOOL: *static_cast<uint16_t*>(element) = c.U16(); break;
        case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: case VT_R4:
            *static_cast<uint32_t*>(element) = c.U32();
            break;
        case VT_R8: case VT_CY: case VT_DATE: *static_cast<uint64_t*>(element) = c.U64(); break;
        case VT_DECIMAL: {
            auto bytes = c.Take(sizeof(DECIMAL));
            if (!bytes)
                return Malformed;
            std::memcpy(element, bytes->data(), sizeof(DECIMAL));
            break;
        }
        case VT_BSTR: {
            auto chars = CodePageChars(c);
            if (!chars)
                return Malformed;
            BSTR text = ole32::AllocBstr(codepage::ToUtf16(*chars, FSection.CodePage));
            if (!text)
                return STG_E_INSUFFICIENTMEMORY;
            *static_cast<BSTR*>(element) = text;
            break;
        }
        case VT_VARIANT:
            if (depth >= MaxVariantDepth)
                return Malformed;
            return Typed(c, *static_cast<PROPVARIANT*>(element), depth + 1);
        default: return Malformed;
        }
        return c.ok() ? S_OK : Malformed;
    }

    const Section& FSection;
    IndirectOpener* FOpener;
};

HRESULT ReadDictionary(const ByteReader& section, uint32_t offset, Section& out)
{
    ByteCursor c(section, offset);
    const uint32_t count = c.U32();
    // Every entry takes at least its id and its length.
    if (!c.ok() || count > c.remaining() / 8)
        return Malformed;
    const bool wide = out.CodePage == codepage::Unicode;
    out.Names.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const PROPID id = c.U32();
        const uint32_t length = c.U32();
        if (!c.ok() || (wide && length > c.remaining() / 2))
            return Malformed;
        const uint64_t bytes = wide ? static_cast<uint64_t>(length) * 2 : length;
        auto chars = c.Take(static_cast<size_t>(bytes));
        if (!chars)
            return Malformed;
        if (wide)
            SkipPadding(c, bytes);
        if (!out.NameOf(id))
            out.Names.emplace_back(id, codepage::ToUtf16(*chars, out.CodePage));
    }
    return S_OK;
}

} // namespace

const Property* Section::Find(PROPID id) const
{
    for (const Property& p : Properties)
        if (p.Id == id)
            return &p;
    return nullptr;
}

const std::u16string* Section::NameOf(PROPID id) const
{
    for (const auto& [pid, name] : Names)
        if (pid == id)
            return &name;
    return nullptr;
}

std::optional<PROPID> Section::IdOf(std::u16string_view name) const
{
    for (const auto& [pid, entry] : Names)
        if (CaseSensitive ? entry == name : cfb::NamesEqual(entry, name))
            return pid;
    return std::nullopt;
}

HRESULT ReadHeader(const cfb::StreamReader& stream, Header& header)
{
    header = Header();
    uint8_t bytes[HeaderSize + 2 * SectionEntrySize] = {};
    size_t got = 0;
    const HRESULT hr = stream.ReadAt(0, bytes, sizeof bytes, &got);
    if (FAILED(hr))
        return hr;
    const ByteReader r(bytes, got);
    if (got < HeaderSize || r.U16(0) != 0xFFFE)
        return Malformed;
    header.Version = *r.U16(2);
    header.SystemIdentifier = *r.U32(4);
    header.Clsid = GuidAt(r, 8);
    const uint32_t count = *r.U32(24);
    if (header.Version > 1 || count < 1 || count > 2 || !r.Has(HeaderSize, count * SectionEntrySize))
        return Malformed;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = HeaderSize + i * SectionEntrySize;
        header.Sections.emplace_back(GuidAt(r, at), *r.U32(at + 16));
    }
    return S_OK;
}

HRESULT ReadSection(const cfb::StreamReader& stream, const Header& header, size_t index, Section& section)
{
    section = Section();
    if (index >= header.Sections.size())
        return STG_E_INVALIDPARAMETER;
    const uint32_t offset = header.Sections[index].second;
    uint8_t head[8] = {};
    size_t got = 0;
    HRESULT hr = stream.ReadAt(offset, head, sizeof head, &got);
    if (FAILED(hr))
        return hr;
    const ByteReader h(head, got);
    if (got < sizeof head)
        return Malformed;
    const uint32_t size = *h.U32(0);
    const uint32_t count = *h.U32(4);
    if (size < 8 || size > MaxSectionSize || size > stream.size() - offset || count > (size - 8) / 8)
        return Malformed;
    section.Fmtid = header.Sections[index].first;
    section.Bytes.resize(size);
    hr = stream.ReadAt(offset, section.Bytes.data(), size, &got);
    if (FAILED(hr))
        return hr;
    if (got != size)
        return STG_E_READFAULT;

    const ByteReader s(section.Bytes.data(), section.Bytes.size());
    section.Properties.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const PROPID id = *s.U32(8 + 8 * i);
        const uint32_t at = *s.U32(12 + 8 * i);
        // Room at least for a type (or for the dictionary's count).
        if (!s.Has(at, 4))
            return Malformed;
        if (section.Find(id))
            continue;
        section.Properties.push_back(Property{id, at, id == PID_DICTIONARY ? VARTYPE(VT_EMPTY) : *s.U16(at)});
    }
    if (const Property* p = section.Find(PID_CODEPAGE); p && p->Type == VT_I2) {
        const auto value = s.U16(p->Offset + 4);
        if (!value)
            return Malformed;
        section.CodePage = *value;
    }
    if (const Property* p = section.Find(PidBehavior); p && p->Type == VT_UI4) {
        const auto value = s.U32(p->Offset + 4);
        if (!value)
            return Malformed;
        section.CaseSensitive = (*value & 1) != 0;
    }
    if (const Property* p = section.Find(PID_DICTIONARY))
        return ReadDictionary(s, p->Offset, section);
    return S_OK;
}

HRESULT ReadValue(const Section& section, const Property& property, IndirectOpener* opener, PROPVARIANT& value)
{
    std::memset(&value, 0, sizeof value);
    const ByteReader s(section.Bytes.data(), section.Bytes.size());
    ByteCursor c(s, property.Offset);
    Decoder decoder(section, opener);
    return decoder.Typed(c, value, 0);
}

} // namespace propset
