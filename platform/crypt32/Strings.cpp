// Binary data as text and back: CryptBinaryToStringW and CryptStringToBinaryW.
#include "platform/crypt32/Strings.h"

#include "platform/common/WinStr.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

namespace crypt32 {

namespace {

// Base64 decoded in one pass through a small buffer of whole groups: nothing the size of the
// text is copied, whatever its size.
template <typename Char>
std::optional<Bytes> DecodeBase64(std::basic_string_view<Char> text)
{
    Bytes out;
    out.reserve(text.size() / 4 * 3 + 3);
    std::array<unsigned char, 4096> group{}; // a multiple of four characters
    size_t filled = 0;
    size_t count = 0;
    size_t padding = 0;
    const auto flush = [&] {
        if (filled == 0)
            return true;
        const size_t at = out.size();
        out.resize(at + filled / 4 * 3);
        const int length = EVP_DecodeBlock(out.data() + at, group.data(), static_cast<int>(filled));
        filled = 0;
        return length >= 0;
    };
    for (const Char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        const bool digit = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
                           c == '/';
        // Padding only at the end, at most two.
        if (c == '=' ? ++padding > 2 : !digit || padding > 0)
            return std::nullopt;
        group[filled++] = static_cast<unsigned char>(c);
        ++count;
        if (filled == group.size() && !flush())
            return std::nullopt;
    }
    // Missing padding is supplied.
    if (count % 4 == 1)
        return std::nullopt;
    while (count % 4 != 0) {
        group[filled++] = '=';
        ++count;
        ++padding;
    }
    if (padding > 2 || !flush())
        return std::nullopt;
    out.resize(out.size() - padding);
    return out;
}

} // namespace

std::optional<Bytes> Base64Decode(std::string_view text)
{
    return DecodeBase64(text);
}

std::optional<Bytes> Base64Decode(std::u16string_view text)
{
    return DecodeBase64(text);
}

std::string Base64Encode(std::span<const uint8_t> bytes)
{
    std::string out;
    constexpr size_t Chunk = 48 * 1024; // whole groups of three, well inside int
    for (size_t off = 0; off < bytes.size(); off += Chunk) {
        const size_t n = std::min(Chunk, bytes.size() - off);
        std::string piece(4 * ((n + 2) / 3) + 1, '\0');
        const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(piece.data()), bytes.data() + off,
                                            static_cast<int>(n));
        out.append(piece.data(), static_cast<size_t>(std::max(written, 0)));
    }
    return out;
}

} // namespace crypt32

using namespace crypt32;

namespace {

constexpr DWORD FormatMask = 0x0000FFFF;
constexpr DWORD Base64RequestHeader = 0x3;
constexpr DWORD Base64X509CrlHeader = 0x9;

std::string LineBreak(DWORD flags)
{
    if ((flags & CRYPT_STRING_NOCRLF) != 0)
        return {};
    return (flags & CRYPT_STRING_NOCR) != 0 ? "\n" : "\r\n";
}

std::string Base64Lines(std::span<const uint8_t> bytes, const std::string& lineBreak)
{
    const std::string flat = Base64Encode(bytes);
    if (lineBreak.empty())
        return flat;
    std::string text;
    for (size_t off = 0; off < flat.size(); off += 64)
        text += flat.substr(off, 64) + lineBreak;
    return text;
}

std::string HexLines(std::span<const uint8_t> bytes, const std::string& lineBreak)
{
    static constexpr char Hex[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const size_t column = i % 16;
        if (column == 8)
            text += "  ";
        else if (column != 0)
            text += ' ';
        text += Hex[bytes[i] >> 4];
        text += Hex[bytes[i] & 0xF];
        if (column == 15 || i + 1 == bytes.size())
            text += lineBreak;
    }
    return text;
}

std::string HexRaw(std::span<const uint8_t> bytes, const std::string& lineBreak)
{
    static constexpr char Hex[] = "0123456789abcdef";
    std::string text;
    for (const uint8_t b : bytes) {
        text += Hex[b >> 4];
        text += Hex[b & 0xF];
    }
    return text + lineBreak;
}

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

// Pairs of hex digits, white space allowed between pairs.
std::optional<Bytes> HexDecode(std::u16string_view text)
{
    Bytes out;
    size_t i = 0;
    while (i < text.size()) {
        if (IsSpace(text[i])) {
            ++i;
            continue;
        }
        if (i + 1 >= text.size())
            return std::nullopt;
        const int high = winstr::HexDigit(text[i]);
        const int low = winstr::HexDigit(text[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out.push_back(static_cast<uint8_t>(high * 16 + low));
        i += 2;
    }
    return out;
}

struct Decoded {
    Bytes Data;
    DWORD Skip = 0;
    DWORD Format = 0;
};

// "-----BEGIN ...-----" Base64 "-----END ...-----", text before the armour skipped.
std::optional<Decoded> DecodeArmoured(std::u16string_view text, DWORD format)
{
    const size_t begin = text.find(u"-----BEGIN ");
    if (begin == std::u16string_view::npos)
        return std::nullopt;
    const size_t headerEnd = text.find(u"-----", begin + 11);
    if (headerEnd == std::u16string_view::npos)
        return std::nullopt;
    const size_t bodyStart = headerEnd + 5;
    const size_t end = text.find(u"-----END ", bodyStart);
    if (end == std::u16string_view::npos || begin > 0xFFFFFFFFu)
        return std::nullopt;
    auto data = Base64Decode(text.substr(bodyStart, end - bodyStart));
    if (!data)
        return std::nullopt;
    return Decoded{std::move(*data), static_cast<DWORD>(begin), format};
}

std::optional<Decoded> DecodePlainBase64(std::u16string_view text)
{
    auto data = Base64Decode(text);
    if (!data)
        return std::nullopt;
    return Decoded{std::move(*data), 0, CRYPT_STRING_BASE64};
}

std::optional<Decoded> DecodeString(std::u16string_view text, DWORD format)
{
    switch (format) {
    case CRYPT_STRING_BASE64HEADER:
    case Base64RequestHeader:
    case Base64X509CrlHeader: return DecodeArmoured(text, format);
    case CRYPT_STRING_BASE64: return DecodePlainBase64(text);
    case CRYPT_STRING_BASE64_ANY:
        if (auto armoured = DecodeArmoured(text, CRYPT_STRING_BASE64HEADER))
            return armoured;
        return DecodePlainBase64(text);
    case CRYPT_STRING_ANY:
        if (auto armoured = DecodeArmoured(text, CRYPT_STRING_BASE64HEADER))
            return armoured;
        if (auto plain = DecodePlainBase64(text))
            return plain;
        [[fallthrough]];
    case CRYPT_STRING_BINARY: {
        const auto* raw = reinterpret_cast<const uint8_t*>(text.data());
        return Decoded{Bytes(raw, raw + text.size() * sizeof(char16_t)), 0, CRYPT_STRING_BINARY};
    }
    case CRYPT_STRING_HEX:
    case CRYPT_STRING_HEXRAW:
    case CRYPT_STRING_HEX_ANY: {
        auto data = HexDecode(text);
        if (!data)
            return std::nullopt;
        return Decoded{std::move(*data), 0, format == CRYPT_STRING_HEX_ANY ? CRYPT_STRING_HEX : format};
    }
    default: return std::nullopt;
    }
}

} // namespace

extern "C" {

WINAPI_EXPORT BOOL WINAPI CryptBinaryToStringW(const BYTE* pbBinary, DWORD cbBinary, DWORD dwFlags, LPWSTR pszString,
                                               DWORD* pcchString)
{
    if (!pcchString || (!pbBinary && cbBinary != 0))
        return FailBool(E_INVALIDARG);
    const std::span<const uint8_t> bytes(pbBinary, cbBinary);
    const std::string lineBreak = LineBreak(dwFlags);
    std::string text;
    switch (dwFlags & FormatMask) {
    case CRYPT_STRING_BASE64HEADER:
        text = "-----BEGIN CERTIFICATE-----" + lineBreak + Base64Lines(bytes, lineBreak) + "-----END CERTIFICATE-----" +
               lineBreak;
        break;
    case CRYPT_STRING_BASE64: text = Base64Lines(bytes, lineBreak); break;
    case CRYPT_STRING_HEX: text = HexLines(bytes, lineBreak); break;
    case CRYPT_STRING_HEXRAW: text = HexRaw(bytes, lineBreak); break;
    default: return FailBool(E_INVALIDARG);
    }
    const size_t needed = text.size() + 1;
    if (needed > 0xFFFFFFFFu)
        return FailBool(ERROR_NOT_ENOUGH_MEMORY);
    if (!pszString) {
        *pcchString = static_cast<DWORD>(needed);
        return TRUE;
    }
    if (*pcchString < needed) {
        *pcchString = static_cast<DWORD>(needed);
        return FailBool(ERROR_MORE_DATA);
    }
    std::copy(text.begin(), text.end(), pszString);
    pszString[text.size()] = 0;
    *pcchString = static_cast<DWORD>(text.size());
    return TRUE;
}

WINAPI_EXPORT BOOL WINAPI CryptStringToBinaryW(LPCWSTR pszString, DWORD cchString, DWORD dwFlags, BYTE* pbBinary,
                                               DWORD* pcbBinary, DWORD* pdwSkip, DWORD* pdwFlags)
{
    if (!pszString || !pcbBinary)
        return FailBool(E_INVALIDARG);
    const std::u16string_view text =
        cchString == 0 ? winstr::View(pszString) : std::u16string_view(pszString, cchString);
    const auto decoded = DecodeString(text, dwFlags & FormatMask);
    if (!decoded)
        return FailBool(ERROR_INVALID_DATA);
    if (!CopyBytesOut(decoded->Data, pbBinary, pcbBinary))
        return FALSE;
    if (pdwSkip)
        *pdwSkip = decoded->Skip;
    if (pdwFlags)
        *pdwFlags = decoded->Format;
    return TRUE;
}

} // extern "C"
