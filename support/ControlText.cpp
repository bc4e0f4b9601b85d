#include "support/ControlText.h"

#include <cstdio>

namespace {

// The code point of the UTF-8 sequence at bytes[i] and its length; length 0 when the bytes there
// are no valid sequence.
std::pair<char32_t, size_t> DecodeUtf8(std::string_view bytes, size_t i)
{
    const auto b = [&](size_t k) { return static_cast<unsigned char>(bytes[i + k]); };
    const unsigned char lead = b(0);
    size_t length = 0;
    char32_t c = 0;
    if (lead < 0x80)
        return {lead, 1};
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
    } else {
        return {0, 0};
    }
    if (length > bytes.size() - i)
        return {0, 0};
    for (size_t k = 1; k < length; ++k) {
        if ((b(k) & 0xC0) != 0x80)
            return {0, 0};
        c = (c << 6) | (b(k) & 0x3F);
    }
    if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)) || (c >= 0xD800 && c <= 0xDFFF))
        return {0, 0};
    return {c, length};
}

std::string Escaped(char32_t c)
{
    switch (c) {
    case '\n': return "\\n";
    case '\r': return "\\r";
    case 0x1B: return "\\e";
    case '\a': return "\\a";
    case '\b': return "\\b";
    case '\f': return "\\f";
    case '\v': return "\\v";
    default: break;
    }
    char text[12];
    if (c < 0x80)
        std::snprintf(text, sizeof text, "\\x%02x", static_cast<unsigned>(c));
    else
        std::snprintf(text, sizeof text, "\\u%04x", static_cast<unsigned>(c));
    return text;
}

} // namespace

bool IsActingControl(char32_t c)
{
    return (c < 0x20 && c != '\t') || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

std::string TerminalVisible(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        const auto [c, length] = DecodeUtf8(bytes, i);
        if (length == 0) {
            // Not UTF-8: left as it is, unless an 8-bit terminal would take it for a C1 control.
            const auto byte = static_cast<unsigned char>(bytes[i]);
            if (byte >= 0x80 && byte <= 0x9F) {
                char text[8];
                std::snprintf(text, sizeof text, "\\x%02x", byte);
                out += text;
            } else {
                out += bytes[i];
            }
            ++i;
            continue;
        }
        if (IsActingControl(c))
            out += Escaped(c);
        else
            out.append(bytes.substr(i, length));
        i += length;
    }
    return out;
}

QString WindowVisible(const QString& line)
{
    QString out;
    bool changed = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar unit = line[i];
        char32_t c = unit.unicode();
        // A surrogate pair is never an acting control: kept whole.
        if (unit.isHighSurrogate() && i + 1 < line.size() && line[i + 1].isLowSurrogate()) {
            out += unit;
            out += line[++i];
            continue;
        }
        if (!IsActingControl(c)) {
            out += unit;
            continue;
        }
        changed = true;
        out += c < 0x20 ? QChar(static_cast<char16_t>(0x2400 + c)) : c == 0x7F ? QChar(0x2421) : QChar(0xFFFD);
    }
    return changed ? out : line;
}

std::string CheckLine(std::string_view name, std::string_view verdict)
{
    bool escaped = false;
    const auto escape = [&escaped](std::string_view text) {
        std::string out;
        for (const char c : text) {
            switch (c) {
            case '\\': out += "\\\\"; escaped = true; break;
            case '\n': out += "\\n"; escaped = true; break;
            case '\r': out += "\\r"; escaped = true; break;
            default: out += c;
            }
        }
        return out;
    };
    const std::string line = escape(name) + ": " + escape(verdict);
    return (escaped ? "\\" : "") + line + "\n";
}
