// Functions of the cryptography services are bound by name on their first call: one process-wide
// slot per function, filled at most once; a slot that stays empty is tried again on the next call.
// Modules are never unloaded.
#pragma once

#include "platform/include/win/windef.h"

#include <atomic>

namespace lazybinding {

// Fills the slot from the module's export of that name unless it already holds an address.
// The module is looked up among the loaded modules first, then loaded. True when the slot is filled.
bool Bind(LPCWSTR moduleName, LPCSTR functionName, FARPROC& slot);

// How often a module was asked for an export; for diagnostics and tests.
[[nodiscard]] int Lookups();

// The slot of one wrapper, named by the wrapper's own address. Threads may bind at once: each
// stores the same address.
template <auto Wrapper>
struct Slot {
    static inline std::atomic<decltype(Wrapper)> Address{nullptr};
};

// Calls the bound function, binding it first when needed; `missing` is the answer when the module
// or the export cannot be found, and nothing is called then.
template <auto Wrapper, typename R, typename... Args>
R Forward(LPCWSTR moduleName, LPCSTR functionName, R missing, Args... args)
{
    auto& slot = Slot<Wrapper>::Address;
    auto address = slot.load(std::memory_order_acquire);
    if (!address) {
        FARPROC bound = nullptr;
        if (Bind(moduleName, functionName, bound)) {
            address = reinterpret_cast<decltype(Wrapper)>(bound);
            slot.store(address, std::memory_order_release);
        }
    }
    return address ? address(args...) : missing;
}

} // namespace lazybinding
