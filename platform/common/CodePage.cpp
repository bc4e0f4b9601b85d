#include "platform/common/CodePage.h"

#include "platform/common/WinStr.h"

#include <cerrno>
#include <iconv.h>
#include <langinfo.h>
#include <vector>

namespace codepage {
namespace {

struct Iconv {
    iconv_t Handle;
    explicit Iconv(const std::string& to, const std::string& from) : Handle(iconv_open(to.c_str(), from.c_str())) {}
    ~Iconv()
    {
        if (ok())
            iconv_close(Handle);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    [[nodiscard]] bool ok() const { return Handle != reinterpret_cast<iconv_t>(-1); }
};

// Converts in full; a unit that cannot be converted (invalid, incomplete or not representable)
// is skipped and replaced. nullopt when iconv knows neither name.
std::optional<std::string> Convert(std::string_view input, const std::string& from, const std::string& to,
                                   size_t inputUnit, std::string_view replacement)
{
    Iconv cd(to, from);
    if (!cd.ok())
        return std::nullopt;
    std::string out;
    std::vector<char> buffer(256 + input.size() * 4);
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    while (true) {
        char* outPtr = buffer.data();
        size_t outLeft = buffer.size();
        const size_t rc = iconv(cd.Handle, inLeft ? &in : nullptr, &inLeft, &outPtr, &outLeft);
        out.append(buffer.data(), static_cast<size_t>(outPtr - buffer.data()));
        if (rc != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG)
            continue;
        if (inLeft == 0)
            break;
        // EILSEQ or EINVAL: one character out, a replacement in. A UTF-16 surrogate pair is
        // one character.
        out.append(replacement);
        size_t skip = std::min(inputUnit, inLeft);
        if (inputUnit == 2 && inLeft >= 4 && (static_cast<uint8_t>(in[1]) & 0xFC) == 0xD8 &&
            (static_cast<uint8_t>(in[3]) & 0xFC) == 0xDC)
            skip = 4;
        in += skip;
        inLeft -= skip;
        iconv(cd.Handle, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

std::string_view UpToTerminator(std::span<const uint8_t> bytes, bool wide)
{
    size_t n = 0;
    if (wide) {
        while (n + 1 < bytes.size() && !(bytes[n] == 0 && bytes[n + 1] == 0))
            n += 2;
    } else {
        while (n < bytes.size() && bytes[n] != 0)
            ++n;
    }
    return {reinterpret_cast<const char*>(bytes.data()), n};
}

std::string AnsiName()
{
    const char* name = nl_langinfo(CODESET);
    return name && *name ? name : "ASCII";
}

} // namespace

std::string IconvName(uint16_t codePage)
{
    switch (codePage) {
    case 1200: return "UTF-16LE";
    case 1201: return "UTF-16BE";
    case 65001: return "UTF-8";
    case 65000: return "UTF-7";
    case 20127: return "ASCII";
    case 10000: return "MACINTOSH";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    case 20932:
    case 51932: return "EUC-JP";
    case 51949: return "EUC-KR";
    case 54936: return "GB18030";
    case 50220: return "ISO-2022-JP";
    case 28603: return "ISO-8859-13";
    case 28605: return "ISO-8859-15";
    default: break;
    }
    if (codePage >= 28591 && codePage <= 28599)
        return "ISO-8859-" + std::to_string(codePage - 28590);
    if (codePage == 0)
        return {};
    // The Windows, DOS and East Asian code pages go by their numbers.
    return "CP" + std::to_string(codePage);
}

std::u16string ToUtf16(std::span<const uint8_t> bytes, std::optional<uint16_t> codePage)
{
    const bool wide = codePage && *codePage == Unicode;
    const std::string_view text = UpToTerminator(bytes, wide);
    if (wide) {
        std::u16string out(text.size() / 2, u'\0');
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = static_cast<char16_t>(static_cast<uint8_t>(text[2 * i]) | (static_cast<uint8_t>(text[2 * i + 1]) << 8));
        return out;
    }
    const std::string from = codePage ? IconvName(*codePage) : AnsiName();
    auto converted = from.empty() ? std::nullopt : Convert(text, from, "UTF-16LE", 1, "\xFD\xFF");
    if (!converted) // a code page iconv does not know: its ASCII half is still right
        return winstr::FromLatin1(text);
    std::u16string out(converted->size() / 2, u'\0');
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<uint8_t>((*converted)[2 * i]) |
                                       (static_cast<uint8_t>((*converted)[2 * i + 1]) << 8));
    return out;
}

std::string Utf16ToAnsi(std::u16string_view text)
{
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (const char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    auto converted = Convert(bytes, "UTF-16LE", AnsiName(), 2, "?");
    return converted ? *converted : winstr::ToUtf8(text);
}

std::string ToAnsi(std::span<const uint8_t> bytes, std::optional<uint16_t> codePage)
{
    if (!codePage)
        return std::string(UpToTerminator(bytes, false));
    // Through UTF-16, so that a character the "ANSI" code page lacks is one '?', whatever number
    // of bytes it takes in its own code page.
    return Utf16ToAnsi(ToUtf16(bytes, codePage));
}

} // namespace codepage
