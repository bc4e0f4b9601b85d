// Holds one reference of a COM-style interface and releases it.
#pragma once

#include <utility>

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : FPtr(std::exchange(other.FPtr, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other) {
            Reset();
            FPtr = std::exchange(other.FPtr, nullptr);
        }
        return *this;
    }
    ~ComPtr() { Reset(); }

    // Takes a reference the caller already holds.
    static ComPtr Attach(T* p)
    {
        ComPtr c;
        c.FPtr = p;
        return c;
    }

    void Reset()
    {
        if (FPtr)
            std::exchange(FPtr, nullptr)->Release();
    }
    // For out parameters: the old reference is released first.
    T** Out()
    {
        Reset();
        return &FPtr;
    }
    [[nodiscard]] T* Get() const { return FPtr; }
    T* operator->() const { return FPtr; }
    explicit operator bool() const { return FPtr != nullptr; }

private:
    T* FPtr = nullptr;
};
