// UTF-16 platform strings and UTF-8 file-system names.
#pragma once

#include "platform/include/win/windef.h"

#include <string>
#include <string_view>

namespace winstr {

[[nodiscard]] size_t Length(const WCHAR* s);
[[nodiscard]] inline std::u16string_view View(const WCHAR* s)
{
    return s ? std::u16string_view(s, Length(s)) : std::u16string_view();
}
// Unpaired surrogates and invalid bytes become U+FFFD.
[[nodiscard]] std::string ToUtf8(std::u16string_view s);
[[nodiscard]] std::u16string FromUtf8(std::string_view s);
[[nodiscard]] std::u16string FromLatin1(std::string_view s);

// Copies text and NUL into a buffer of cch units; false (nothing written) when it does not fit.
bool CopyTo(std::u16string_view text, WCHAR* buffer, size_t cch);

// ASCII-only case folding, as the file system and the compound-file format compare names.
[[nodiscard]] bool EqualsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b);
[[nodiscard]] bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);

} // namespace winstr
