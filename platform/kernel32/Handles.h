// File handles are descriptors in disguise (descriptor + 1), so that every stand-in that is
// handed a HANDLE can read the file, whichever library created it.
#pragma once

#include "platform/include/win/windef.h"

namespace kernel32 {

[[nodiscard]] inline HANDLE HandleFromDescriptor(int fd)
{
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd) + 1);
}

// -1 for null, INVALID_HANDLE_VALUE and anything that is not a file handle.
[[nodiscard]] inline int DescriptorFromHandle(HANDLE h)
{
    const auto v = reinterpret_cast<intptr_t>(h);
    return v >= 1 && v <= 0x7FFFFFFF ? static_cast<int>(v - 1) : -1;
}

// Win32 error code of an errno value.
[[nodiscard]] DWORD ErrorFromErrno(int error);

} // namespace kernel32
