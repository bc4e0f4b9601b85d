// Reference counting for the COM-style objects of this stand-in.
#pragma once

#include "platform/include/win/objidl.h"

#include <atomic>
#include <utility>

namespace ole32 {

// The count of one object; it starts at one, the reference its creator hands out.
class RefCount {
public:
    ULONG Add() { return FCount.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Drop() { return FCount.fetch_sub(1, std::memory_order_acq_rel) - 1; }

private:
    std::atomic<ULONG> FCount{1};
};

// The IUnknown part of an object that implements one interface: QueryInterface answers for
// IUnknown and for each identifier given (the interface's own and those it derives from), and
// the last Release deletes the object.
template <typename Interface, const IID&... Iids>
class ComObject : public Interface {
public:
    HRESULT QueryInterface(REFIID riid, void** ppvObject) final
    {
        if (!ppvObject)
            return E_POINTER;
        *ppvObject = nullptr;
        if (riid != IID_IUnknown && !((riid == Iids) || ...))
            return E_NOINTERFACE;
        *ppvObject = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() final { return FRefs.Add(); }
    ULONG Release() final
    {
        const ULONG n = FRefs.Drop();
        if (n == 0)
            delete this;
        return n;
    }

    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

protected:
    ComObject() = default;
    virtual ~ComObject() = default;

private:
    RefCount FRefs;
};

// One reference to an object, released when the holder goes.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    // Takes over a reference the caller owns.
    [[nodiscard]] static ComPtr Adopt(T* p)
    {
        ComPtr c;
        c.FPtr = p;
        return c;
    }
    // Takes a reference of its own.
    [[nodiscard]] static ComPtr Share(T* p)
    {
        if (p)
            p->AddRef();
        return Adopt(p);
    }
    ComPtr(const ComPtr& other) : FPtr(other.FPtr)
    {
        if (FPtr)
            FPtr->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : FPtr(std::exchange(other.FPtr, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept
    {
        std::swap(FPtr, other.FPtr);
        return *this;
    }
    ~ComPtr()
    {
        if (FPtr)
            FPtr->Release();
    }

    [[nodiscard]] T* get() const { return FPtr; }
    T* operator->() const { return FPtr; }
    explicit operator bool() const { return FPtr != nullptr; }
    // Hands the reference to the caller.
    [[nodiscard]] T* Detach() { return std::exchange(FPtr, nullptr); }
    // Drops the reference held and gives the slot to an out parameter.
    [[nodiscard]] T** Put()
    {
        *this = ComPtr();
        return &FPtr;
    }

private:
    T* FPtr = nullptr;
};

// A new object with its one initial reference; its last Release deletes it.
template <typename T, typename... Args>
[[nodiscard]] T* MakeObject(Args&&... args)
{
    return new T(std::forward<Args>(args)...);
}

} // namespace ole32
