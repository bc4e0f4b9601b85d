// The one bounds-checked reader every parser of untrusted bytes goes through.
// A range [off, off + len) is inside when off <= size && len <= size - off: never computed as
// off + len, which can wrap. Fields are little-endian and decoded byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

class ByteReader {
public:
    ByteReader() = default;
    ByteReader(const uint8_t* data, size_t size) : FData(data), FSize(data ? size : 0) {}
    explicit ByteReader(std::span<const uint8_t> bytes) : ByteReader(bytes.data(), bytes.size()) {}

    [[nodiscard]] size_t size() const { return FSize; }
    [[nodiscard]] const uint8_t* data() const { return FData; }
    [[nodiscard]] std::span<const uint8_t> span() const { return {FData, FSize}; }

    [[nodiscard]] bool Has(size_t off, size_t len) const { return off <= FSize && len <= FSize - off; }

    [[nodiscard]] std::optional<ByteReader> Sub(size_t off, size_t len) const
    {
        if (!Has(off, len))
            return std::nullopt;
        return ByteReader(FData + off, len);
    }
    // From off to the end.
    [[nodiscard]] std::optional<ByteReader> Tail(size_t off) const
    {
        if (off > FSize)
            return std::nullopt;
        return ByteReader(FData + off, FSize - off);
    }
    [[nodiscard]] std::optional<std::span<const uint8_t>> Bytes(size_t off, size_t len) const
    {
        if (!Has(off, len))
            return std::nullopt;
        return std::span<const uint8_t>(FData + off, len);
    }

    [[nodiscard]] std::optional<uint8_t> U8(size_t off) const
    {
        if (!Has(off, 1))
            return std::nullopt;
        return FData[off];
    }
    [[nodiscard]] std::optional<uint16_t> U16(size_t off) const
    {
        if (!Has(off, 2))
            return std::nullopt;
        return static_cast<uint16_t>(FData[off] | (FData[off + 1] << 8));
    }
    [[nodiscard]] std::optional<uint32_t> U32(size_t off) const
    {
        if (!Has(off, 4))
            return std::nullopt;
        return static_cast<uint32_t>(FData[off]) | (static_cast<uint32_t>(FData[off + 1]) << 8) |
               (static_cast<uint32_t>(FData[off + 2]) << 16) | (static_cast<uint32_t>(FData[off + 3]) << 24);
    }
    [[nodiscard]] std::optional<uint64_t> U64(size_t off) const
    {
        const auto lo = U32(off);
        const auto hi = off <= SIZE_MAX - 4 ? U32(off + 4) : std::nullopt;
        if (!lo || !hi)
            return std::nullopt;
        return static_cast<uint64_t>(*lo) | (static_cast<uint64_t>(*hi) << 32);
    }

private:
    const uint8_t* FData = nullptr;
    size_t FSize = 0;
};

// Sequential reading with a sticky failure: after the first read past the end every further
// read fails too and ok() stays false.
class ByteCursor {
public:
    explicit ByteCursor(ByteReader reader, size_t position = 0) : FReader(reader), FPos(position)
    {
        FOk = position <= reader.size();
    }

    [[nodiscard]] bool ok() const { return FOk; }
    [[nodiscard]] size_t position() const { return FPos; }
    [[nodiscard]] size_t remaining() const { return FOk ? FReader.size() - FPos : 0; }

    bool Skip(size_t n) { return Take(n).has_value(); }
    bool AlignTo(size_t alignment)
    {
        const size_t pad = (alignment - FPos % alignment) % alignment;
        return Skip(pad);
    }
    std::optional<std::span<const uint8_t>> Take(size_t n)
    {
        if (!FOk || !FReader.Has(FPos, n)) {
            FOk = false;
            return std::nullopt;
        }
        auto bytes = FReader.Bytes(FPos, n);
        FPos += n;
        return bytes;
    }
    uint8_t U8() { return Field(FReader.U8(FPos), 1); }
    uint16_t U16() { return Field(FReader.U16(FPos), 2); }
    uint32_t U32() { return Field(FReader.U32(FPos), 4); }
    uint64_t U64() { return Field(FReader.U64(FPos), 8); }

private:
    template <typename T>
    T Field(std::optional<T> value, size_t width)
    {
        if (!FOk || !value) {
            FOk = false;
            return T{};
        }
        FPos += width;
        return *value;
    }

    ByteReader FReader;
    size_t FPos;
    bool FOk;
};
