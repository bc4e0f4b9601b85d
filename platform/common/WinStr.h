// UTF-16 platform strings, UTF-8 text and file-system names.
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

// File names. Linux names are bytes, and need not be UTF-8; the platform's are UTF-16. Each byte
// that is not part of valid UTF-8 travels as the lone surrogate U+DC00 + byte (U+DC80..U+DCFF)
// and turns back into that byte, so that every name reaches the file system as it came from it.
[[nodiscard]] std::string ToFileSystem(std::u16string_view name);
[[nodiscard]] std::u16string FromFileSystem(std::string_view bytes);
// The name as a person reads it: the bytes that are not UTF-8 as U+FFFD.
[[nodiscard]] std::u16string ForDisplay(std::u16string_view name);
// An absolute file name as a "file://" address, its bytes percent-encoded where they must be.
[[nodiscard]] std::string FileUrl(std::u16string_view absoluteName);

// Copies text and NUL into a buffer of cch units; false (nothing written) when it does not fit.
bool CopyTo(std::u16string_view text, WCHAR* buffer, size_t cch);

// ASCII-only case folding, as the file system and the compound-file format compare names.
[[nodiscard]] bool EqualsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b);
[[nodiscard]] bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);

// A hexadecimal digit's value, either case; -1 for any other character.
[[nodiscard]] constexpr int HexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

} // namespace winstr
