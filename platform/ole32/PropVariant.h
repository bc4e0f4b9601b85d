// Allocation of what PROPVARIANTs point to, so that PropVariantClear can free all of it:
// CoTaskMemAlloc for strings, blobs and arrays, length-prefixed blocks for BSTRs.
#pragma once

#include "platform/include/win/propidl.h"

#include <string_view>

namespace ole32 {

// Null when memory runs out.
[[nodiscard]] BSTR AllocBstr(std::u16string_view text);
[[nodiscard]] LPWSTR AllocWide(std::u16string_view text);
[[nodiscard]] LPSTR AllocNarrow(std::string_view text);

} // namespace ole32
