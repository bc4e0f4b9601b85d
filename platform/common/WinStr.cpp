#include "platform/common/WinStr.h"

#include <algorithm>
#include <cstring>

namespace winstr {

size_t Length(const WCHAR* s)
{
    size_t n = 0;
    if (s)
        while (s[n] != 0)
            ++n;
    return n;
}

namespace {

// Lone surrogates U+DC80..U+DCFF carry the bytes of a file name that are not UTF-8.
constexpr char16_t EscapedByteFirst = 0xDC80;
constexpr char16_t EscapedByteLast = 0xDCFF;

std::string Encode(std::u16string_view s, bool escapedBytes)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (escapedBytes && c >= EscapedByteFirst && c <= EscapedByteLast) {
            out += static_cast<char>(c & 0xFF);
            continue;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string Decode(std::string_view s, bool escapedBytes)
{
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const auto lead = static_cast<unsigned char>(s[i]);
        const size_t need = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : 4;
        char32_t c = escapedBytes ? char32_t{0xDC00} + lead : 0xFFFD;
        size_t used = 1;
        if (need == 0) {
            c = lead;
        } else if (need < 4 && need < s.size() - i) {
            char32_t v = lead & (0x3F >> need);
            size_t k = 1;
            for (; k <= need; ++k) {
                const auto next = static_cast<unsigned char>(s[i + k]);
                if ((next & 0xC0) != 0x80)
                    break;
                v = (v << 6) | (next & 0x3F);
            }
            constexpr char32_t Minimum[] = {0, 0x80, 0x800, 0x10000};
            if (k > need && v >= Minimum[need] && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
                c = v;
                used = need + 1;
            }
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += used;
    }
    return out;
}

} // namespace

std::string ToUtf8(std::u16string_view s)
{
    return Encode(s, false);
}

std::u16string FromUtf8(std::string_view s)
{
    return Decode(s, false);
}

std::string ToFileSystem(std::u16string_view name)
{
    return Encode(name, true);
}

std::u16string FromFileSystem(std::string_view bytes)
{
    return Decode(bytes, true);
}

std::u16string ForDisplay(std::u16string_view name)
{
    std::u16string out(name);
    for (char16_t& c : out)
        if (c >= EscapedByteFirst && c <= EscapedByteLast)
            c = 0xFFFD;
    return out;
}

std::string FileUrl(std::u16string_view absoluteName)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char c : ToFileSystem(absoluteName)) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || (u != 0 && std::strchr("/-._~", c))) {
            url += c;
        } else {
            url += '%';
            url += Hex[u >> 4];
            url += Hex[u & 0xF];
        }
    }
    return url;
}

std::u16string FromLatin1(std::string_view s)
{
    std::u16string out(s.size(), u'\0');
    std::transform(s.begin(), s.end(), out.begin(), [](char c) { return static_cast<unsigned char>(c); });
    return out;
}

bool CopyTo(std::u16string_view text, WCHAR* buffer, size_t cch)
{
    if (!buffer || cch < text.size() + 1)
        return false;
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return true;
}

namespace {
template <typename C>
C FoldAscii(C c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<C>(c - 'a' + 'A') : c;
}
template <typename View>
bool EqualsFolded(View a, View b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    return true;
}
} // namespace

bool EqualsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b) { return EqualsFolded(a, b); }
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) { return EqualsFolded(a, b); }

} // namespace winstr
