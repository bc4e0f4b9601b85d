// 8-bit text in a Windows code page (property sets, 16-bit version resources), or UTF-16 for code
// page 1200, converted with iconv to UTF-16 or to the "ANSI" code page, which here is the
// character set of the C library's locale (nl_langinfo(CODESET)).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace codepage {

inline constexpr uint16_t Unicode = 1200;

// Bytes in codePage (no code page: the text is already "ANSI"). Conversion stops at the first
// terminator. Characters that cannot be converted become U+FFFD, or one '?' each, as Windows'
// conversion gives.
[[nodiscard]] std::u16string ToUtf16(std::span<const uint8_t> bytes, std::optional<uint16_t> codePage);
[[nodiscard]] std::string ToAnsi(std::span<const uint8_t> bytes, std::optional<uint16_t> codePage);
[[nodiscard]] std::string Utf16ToAnsi(std::u16string_view text);

// The iconv name of a Windows code page, or empty when there is none.
[[nodiscard]] std::string IconvName(uint16_t codePage);

} // namespace codepage
