#include "cert/LazyBinding.h"

#include "platform/include/win/winbase.h"

#include <atomic>

namespace lazybinding {

namespace {
std::atomic<int> LookupCount{0};
}

bool Bind(LPCWSTR moduleName, LPCSTR functionName, FARPROC& slot)
{
    if (slot)
        return true;
    ++LookupCount;
    HMODULE module = GetModuleHandleW(moduleName);
    if (!module)
        module = LoadLibraryW(moduleName);
    if (!module)
        return false;
    slot = GetProcAddress(module, functionName);
    return slot != nullptr;
}

int Lookups()
{
    return LookupCount;
}

} // namespace lazybinding
