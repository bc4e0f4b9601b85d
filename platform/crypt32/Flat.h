// Windows hands decoded structures back in one caller-supplied buffer: the structure first, then
// everything its pointers point at. FlatBuilder lays such a buffer out with offsets in place of
// pointers and relocates them when the bytes are copied to their final address.
#pragma once

#include "platform/crypt32/Ossl.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace crypt32 {

class FlatBuilder {
public:
    static constexpr size_t Alignment = alignof(std::max_align_t);

    // Zero-filled room for size bytes, aligned; returns its offset.
    size_t Reserve(size_t size, size_t align = alignof(void*))
    {
        const size_t off = (FBytes.size() + align - 1) / align * align;
        FBytes.resize(off + size, 0);
        return off;
    }
    // Room for size bytes in all, so that a block of many parts is not moved as it grows.
    void ReserveCapacity(size_t size)
    {
        FBytes.reserve(size);
        FLinks.reserve(size / 32);
    }
    template <typename T>
    size_t New(size_t count = 1)
    {
        return Reserve(sizeof(T) * count, alignof(T));
    }
    template <typename T>
    void Put(size_t off, const T& value)
    {
        std::memcpy(FBytes.data() + off, &value, sizeof(T));
    }
    // A pointer-sized slot at slotOff that must point at targetOff once placed.
    void Link(size_t slotOff, size_t targetOff)
    {
        const auto value = static_cast<uintptr_t>(targetOff);
        std::memcpy(FBytes.data() + slotOff, &value, sizeof value);
        FLinks.push_back(slotOff);
    }
    size_t Bytes(std::span<const uint8_t> data)
    {
        const size_t off = Reserve(data.size(), 1);
        if (!data.empty())
            std::memcpy(FBytes.data() + off, data.data(), data.size());
        return off;
    }
    size_t String(std::string_view text)
    {
        const size_t off = Reserve(text.size() + 1, 1);
        if (!text.empty())
            std::memcpy(FBytes.data() + off, text.data(), text.size());
        return off;
    }
    size_t WString(std::u16string_view text)
    {
        const size_t off = Reserve((text.size() + 1) * sizeof(char16_t), alignof(char16_t));
        if (!text.empty())
            std::memcpy(FBytes.data() + off, text.data(), text.size() * sizeof(char16_t));
        return off;
    }
    // A CRYPTOAPI_BLOB at blobOff describing a copy of data (null pointer when empty).
    void Blob(size_t blobOff, std::span<const uint8_t> data)
    {
        Put(blobOff + offsetof(CRYPTOAPI_BLOB, cbData), static_cast<DWORD>(data.size()));
        if (!data.empty())
            Link(blobOff + offsetof(CRYPTOAPI_BLOB, pbData), Bytes(data));
    }
    void StringPointer(size_t slotOff, std::string_view text) { Link(slotOff, String(text)); }
    void WStringPointer(size_t slotOff, std::u16string_view text) { Link(slotOff, WString(text)); }

    [[nodiscard]] size_t size() const { return FBytes.size(); }

    // Copies to out (at least size() bytes, suitably aligned) and relocates the pointers.
    void PlaceAt(void* out) const
    {
        auto* base = static_cast<uint8_t*>(out);
        std::memcpy(base, FBytes.data(), FBytes.size());
        for (const size_t slot : FLinks) {
            uintptr_t value = 0;
            std::memcpy(&value, base + slot, sizeof value);
            value += reinterpret_cast<uintptr_t>(base);
            std::memcpy(base + slot, &value, sizeof value);
        }
    }

    // The Windows size convention: a null buffer asks for the size; a short one gets ERROR_MORE_DATA
    // and the size needed.
    BOOL CopyOut(void* out, DWORD* pcb) const
    {
        if (!pcb)
            return FailBool(ERROR_INVALID_PARAMETER);
        if (FBytes.size() > 0xFFFFFFFFu)
            return FailBool(ERROR_NOT_ENOUGH_MEMORY);
        const auto needed = static_cast<DWORD>(FBytes.size());
        if (!out) {
            *pcb = needed;
            return TRUE;
        }
        if (*pcb < needed) {
            *pcb = needed;
            return FailBool(ERROR_MORE_DATA);
        }
        PlaceAt(out);
        *pcb = needed;
        return TRUE;
    }

private:
    std::vector<uint8_t> FBytes;
    std::vector<size_t> FLinks;
};

// A placed FlatBuilder owned by a C++ object (a context's CERT_INFO).
class FlatBlock {
public:
    FlatBlock() = default;
    explicit FlatBlock(const FlatBuilder& builder)
        : FStorage(std::make_unique<std::max_align_t[]>(builder.size() / sizeof(std::max_align_t) + 1))
    {
        builder.PlaceAt(FStorage.get());
    }
    template <typename T>
    [[nodiscard]] T* As() const
    {
        return reinterpret_cast<T*>(FStorage.get());
    }

private:
    std::unique_ptr<std::max_align_t[]> FStorage;
};

// Copies plain bytes under the same size convention.
inline BOOL CopyBytesOut(std::span<const uint8_t> data, void* out, DWORD* pcb)
{
    if (!pcb)
        return FailBool(ERROR_INVALID_PARAMETER);
    const auto needed = static_cast<DWORD>(data.size());
    if (!out) {
        *pcb = needed;
        return TRUE;
    }
    if (*pcb < needed) {
        *pcb = needed;
        return FailBool(ERROR_MORE_DATA);
    }
    if (!data.empty())
        std::memcpy(out, data.data(), data.size());
    *pcb = needed;
    return TRUE;
}

} // namespace crypt32
