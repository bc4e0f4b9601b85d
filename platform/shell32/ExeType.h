// The executable-kind word pair of SHGetFileInfoW(SHGFI_EXETYPE).
#pragma once

#include "platform/common/PeImage.h"
#include "platform/include/win/windef.h"

#include <optional>
#include <string_view>

namespace shell32 {

// What Windows answers for a file with these headers (nullopt: not an MZ file) and this name:
//  - MZ without a new header: LOWORD "MZ", HIWORD 0;
//  - PE: LOWORD "PE"; HIWORD the subsystem version (major in the high byte) for GUI programs,
//    0 for console programs; 0 altogether for DLLs, drivers and other subsystems;
//  - NE for Windows: LOWORD "NE", HIWORD the expected Windows version; 0 for 16-bit DLLs and
//    other NE targets;
//  - 0 for LE/LX and for PE headers that cannot be read;
//  - files without an MZ header: "MZ"/0 for a .com file, "PE"/0 for a .bat or .cmd file, else 0.
[[nodiscard]] DWORD ExeTypeOf(const std::optional<pe::ExecutableInfo>& info, std::u16string_view path);

// The same for a file by path: 0 when it cannot be opened or is not a regular file.
[[nodiscard]] DWORD ExeTypeOfFile(std::u16string_view path);

} // namespace shell32
