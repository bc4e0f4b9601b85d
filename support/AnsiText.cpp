#include "support/AnsiText.h"

#include <cerrno>
#include <iconv.h>
#include <langinfo.h>

#include <string>

namespace {

// Converts with iconv, replacing what does not convert, and hands the output to append piece by
// piece (whole characters each); false when iconv has no such conversion.
template <typename Append>
bool Convert(const char* from, const char* to, std::string_view in, Append append, std::string_view replacement,
             size_t inputUnit)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    std::string buffer(4096, '\0');
    while (srcLeft > 0) {
        char* dst = buffer.data();
        size_t dstLeft = buffer.size();
        const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        append(std::string_view(buffer.data(), buffer.size() - dstLeft));
        if (rc == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // An invalid or incomplete sequence: replace one unit and go on.
            const size_t skip = std::min(srcLeft, inputUnit);
            src += skip;
            srcLeft -= skip;
            append(replacement);
        }
    }
    iconv_close(cd);
    return true;
}

const char* AnsiCharset()
{
    const char* codeset = nl_langinfo(CODESET);
    return codeset && *codeset ? codeset : "UTF-8";
}

} // namespace

QString AnsiToString(std::string_view bytes)
{
    // Straight into the text: no character of any code page takes more UTF-16 units than bytes,
    // so the text is made once, at its final size, however large the input.
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    static constexpr std::string_view ReplacementUtf16("\xFD\xFF", 2);
    const auto append = [&text](std::string_view utf16) {
        text.append(QStringView(reinterpret_cast<const char16_t*>(utf16.data()), static_cast<qsizetype>(utf16.size() / 2)));
    };
    if (!Convert(AnsiCharset(), "UTF-16LE", bytes, append, ReplacementUtf16, 1))
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return text;
}

QByteArray StringToAnsi(const QString& text)
{
    const std::string_view utf16(reinterpret_cast<const char*>(text.utf16()), static_cast<size_t>(text.size()) * 2);
    QByteArray out;
    const auto append = [&out](std::string_view piece) { out.append(piece.data(), static_cast<qsizetype>(piece.size())); };
    if (!Convert("UTF-16LE", AnsiCharset(), utf16, append, "?", 2))
        return text.toUtf8();
    return out;
}
