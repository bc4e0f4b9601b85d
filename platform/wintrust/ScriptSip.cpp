#include "platform/wintrust/ScriptSip.h"

#include <QByteArray>

#include <algorithm>
#include <array>
#include <string>

namespace wintrust {

namespace {

struct CommentStyle {
    std::u16string_view Open;
    std::u16string_view Close;
};
constexpr CommentStyle HashComments{u"# ", u""};
constexpr CommentStyle XmlComments{u"<!-- ", u" -->"};

struct ScriptFormat {
    std::u16string_view Extension;
    const CommentStyle* Style;
};
constexpr ScriptFormat Formats[] = {
    {u".ps1", &HashComments},   {u".psm1", &HashComments}, {u".psd1", &HashComments},
    {u".ps1xml", &XmlComments}, {u".psc1", &XmlComments},  {u".cdxml", &XmlComments},
};

constexpr std::u16string_view BeginText = u"SIG # Begin signature block";
constexpr std::u16string_view EndText = u"SIG # End signature block";
// Lines are compared by their first characters; a line of the signature block is never longer.
constexpr size_t MaxLineHead = 256;
// The Base64 of the largest signature that is read.
constexpr size_t MaxBase64Size = (MaxSignatureSize + 2) / 3 * 4;
constexpr size_t TextChunk = 64 * 1024;
constexpr char16_t Replacement = 0xFFFD;

// The code units of the file's text between two byte offsets, each with the offset of the
// character it belongs to. UTF-8 is decoded as Go decodes it: a byte that does not begin a valid
// sequence is one U+FFFD.
class TextReader {
public:
    TextReader(const FileSource& file, bool utf16, uint64_t start, uint64_t end)
        : FFile(file), FUtf16(utf16), FEnd(end), FBuffer(TextChunk), FBufferStart(start)
    {
    }

    bool Next(char16_t& unit, uint64_t& offset)
    {
        if (FPendingLow != 0) {
            unit = FPendingLow;
            offset = FPendingOffset;
            FPendingLow = 0;
            return true;
        }
        const size_t available = Ensure(4);
        if (available == 0)
            return false;
        const uint8_t* b = FBuffer.data() + FPos;
        offset = FBufferStart + FPos;
        if (FUtf16) {
            if (available < 2)
                return false; // an odd last byte is no character
            unit = static_cast<char16_t>(b[0] | (b[1] << 8));
            FPos += 2;
            return true;
        }
        size_t used = 1;
        const uint32_t rune = DecodeUtf8(b, available, used);
        FPos += used;
        if (rune < 0x10000) {
            unit = static_cast<char16_t>(rune);
        } else {
            unit = static_cast<char16_t>(0xD800 + ((rune - 0x10000) >> 10));
            FPendingLow = static_cast<char16_t>(0xDC00 + ((rune - 0x10000) & 0x3FF));
            FPendingOffset = offset;
        }
        return true;
    }
    [[nodiscard]] bool Failed() const { return FFailed; }

private:
    static uint32_t DecodeUtf8(const uint8_t* b, size_t available, size_t& used)
    {
        used = 1;
        if (b[0] < 0x80)
            return b[0];
        if (b[0] < 0xC2 || b[0] > 0xF4)
            return Replacement;
        uint8_t low = 0x80;
        uint8_t high = 0xBF;
        if (b[0] == 0xE0)
            low = 0xA0; // overlong
        else if (b[0] == 0xED)
            high = 0x9F; // surrogates
        else if (b[0] == 0xF0)
            low = 0x90; // overlong
        else if (b[0] == 0xF4)
            high = 0x8F; // past U+10FFFF
        const size_t expected = b[0] >= 0xF0 ? 3 : b[0] >= 0xE0 ? 2 : 1;
        if (available - 1 < expected)
            return Replacement;
        uint32_t rune = b[0] & (b[0] >= 0xF0 ? 0x07 : b[0] >= 0xE0 ? 0x0F : 0x1F);
        for (size_t i = 1; i <= expected; ++i) {
            if (b[i] < low || b[i] > high)
                return Replacement;
            low = 0x80;
            high = 0xBF;
            rune = (rune << 6) | (b[i] & 0x3F);
        }
        used = expected + 1;
        return rune;
    }

    // At least count bytes from the current position when the text holds them; how many there are.
    size_t Ensure(size_t count)
    {
        if (FLength - FPos >= count || FFailed)
            return FLength - FPos;
        const size_t kept = FLength - FPos;
        std::copy(FBuffer.begin() + static_cast<std::ptrdiff_t>(FPos),
                  FBuffer.begin() + static_cast<std::ptrdiff_t>(FLength), FBuffer.begin());
        FBufferStart += FPos;
        FPos = 0;
        FLength = kept;
        const uint64_t next = FBufferStart + kept;
        const size_t want =
            next < FEnd ? static_cast<size_t>(std::min<uint64_t>(FBuffer.size() - kept, FEnd - next)) : 0;
        if (want > 0) {
            if (!FFile.ReadAt(next, FBuffer.data() + kept, want)) {
                FFailed = true;
                return FLength;
            }
            FLength += want;
        }
        return FLength;
    }

    const FileSource& FFile;
    bool FUtf16;
    uint64_t FEnd;
    std::vector<uint8_t> FBuffer;
    uint64_t FBufferStart;
    size_t FPos = 0;
    size_t FLength = 0;
    char16_t FPendingLow = 0;
    uint64_t FPendingOffset = 0;
    bool FFailed = false;
};

struct Line {
    uint64_t Start = 0;      // where its first character begins
    uint64_t BreakStart = 0; // where the line break before it begins (CR LF or LF)
    std::u16string Head;     // its first characters, without trailing white space
    bool Long = false;       // longer than MaxLineHead
};

bool IsSpace(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0xFEFF;
}

class LineReader {
public:
    LineReader(const FileSource& file, bool utf16, uint64_t start, uint64_t breakStart)
        : FText(file, utf16, start, file.size()), FUnitSize(utf16 ? 2 : 1), FStart(start), FBreakStart(breakStart)
    {
    }

    bool Next(Line& line)
    {
        if (FDone)
            return false;
        line = Line{};
        line.Start = FStart;
        line.BreakStart = FBreakStart;
        char16_t unit = 0;
        uint64_t offset = 0;
        bool any = false;
        uint64_t crOffset = 0;
        bool previousCr = false;
        while (FText.Next(unit, offset)) {
            any = true;
            if (unit == u'\n') {
                FBreakStart = previousCr ? crOffset : offset;
                FStart = offset + FUnitSize;
                Trim(line.Head);
                return true;
            }
            previousCr = unit == u'\r';
            if (previousCr)
                crOffset = offset;
            if (line.Head.size() < MaxLineHead)
                line.Head.push_back(unit);
            else
                line.Long = true;
        }
        FDone = true;
        Trim(line.Head);
        return any;
    }
    [[nodiscard]] bool Failed() const { return FText.Failed(); }

private:
    static void Trim(std::u16string& text)
    {
        while (!text.empty() && IsSpace(text.back()))
            text.pop_back();
    }

    TextReader FText;
    uint64_t FUnitSize;
    uint64_t FStart;
    uint64_t FBreakStart;
    bool FDone = false;
};

// Where the signature block lies and what it holds.
struct Block {
    HRESULT Found = TRUST_E_NOSIGNATURE;
    uint64_t SignedEnd = 0; // the signed text ends here: at the line break that opens the block
    Bytes Signature;        // the block's Base64, decoded
    bool TextAfter = false; // something other than white space follows the block
};

bool StartsWith(std::u16string_view text, std::u16string_view prefix)
{
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::u16string_view text, std::u16string_view suffix)
{
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::u16string Marker(const CommentStyle& style, std::u16string_view text)
{
    std::u16string marker(style.Open);
    marker += text;
    marker += style.Close;
    while (!marker.empty() && IsSpace(marker.back()))
        marker.pop_back();
    return marker;
}

Block FindBlock(const FileSource& file, bool utf16, uint64_t textStart, const CommentStyle& style)
{
    Block block;
    const std::u16string begin = Marker(style, BeginText);
    const std::u16string end = Marker(style, EndText);

    // The last line that opens a block: a script may quote the marker before its own block.
    std::optional<Line> opening;
    {
        LineReader lines(file, utf16, textStart, textStart);
        Line line;
        while (lines.Next(line))
            if (!line.Long && line.Head == begin)
                opening = line;
        if (lines.Failed())
            return block;
    }
    // A block on the first line would sign nothing.
    if (!opening || opening->Start == textStart)
        return block;

    LineReader lines(file, utf16, opening->Start, opening->BreakStart);
    Line line;
    lines.Next(line); // the opening line itself
    QByteArray base64;
    bool ended = false;
    while (lines.Next(line)) {
        if (line.Head == end) {
            ended = true;
            break;
        }
        // Every line between the markers is a comment of Base64.
        if (line.Long || line.Head.size() < style.Open.size() + style.Close.size() ||
            !StartsWith(line.Head, style.Open) || !EndsWith(line.Head, style.Close))
            return block;
        const std::u16string_view payload = std::u16string_view(line.Head).substr(
            style.Open.size(), line.Head.size() - style.Open.size() - style.Close.size());
        for (const char16_t c : payload) {
            if (c >= 0x80)
                return block;
            if (!IsSpace(c))
                base64.append(static_cast<char>(c));
        }
        if (static_cast<size_t>(base64.size()) > MaxBase64Size) {
            block.Found = DIGSIG_E_DECODE;
            return block;
        }
    }
    if (!ended || lines.Failed())
        return block;
    while (lines.Next(line))
        if (!line.Head.empty())
            block.TextAfter = true;
    // An odd last byte of UTF-16 is no character, but still something no digest covers.
    if (utf16 && file.size() % 2 != 0)
        block.TextAfter = true;

    const auto decoded = QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty()) {
        block.Found = DIGSIG_E_DECODE;
        return block;
    }
    block.Signature.assign(decoded.decoded.begin(), decoded.decoded.end());
    block.SignedEnd = opening->BreakStart;
    block.Found = S_OK;
    return block;
}

class ScriptSubject : public DigestSubject {
public:
    ScriptSubject(const FileSource& file, const CommentStyle& style) : FFile(file)
    {
        std::array<uint8_t, 2> mark{};
        FUtf16 = file.size() >= 2 && file.ReadAt(0, mark.data(), mark.size()) && mark[0] == 0xFF && mark[1] == 0xFE;
        // The byte-order mark is text too: it begins the signed text and is hashed with it.
        FBlock = FindBlock(file, FUtf16, 0, style);
    }

    const GUID& Type() const override { return SUBJTYPE_POWERSHELL_SCRIPT; }

    HRESULT Signature(Bytes& der) const override
    {
        if (FAILED(FBlock.Found))
            return FBlock.Found;
        der = FBlock.Signature;
        return S_OK;
    }

    HRESULT Digest(const EVP_MD* md, Bytes& digest) const override
    {
        if (FAILED(FBlock.Found) || FBlock.TextAfter)
            return TRUST_E_BAD_DIGEST;
        DigestContext hash(md);
        if (FUtf16) {
            if (!hash.UpdateFromFile(FFile, 0, FBlock.SignedEnd))
                return TRUST_E_BAD_DIGEST;
            return hash.Final(digest);
        }
        TextReader text(FFile, false, 0, FBlock.SignedEnd);
        Bytes units;
        units.reserve(TextChunk);
        char16_t unit = 0;
        uint64_t offset = 0;
        while (text.Next(unit, offset)) {
            units.push_back(static_cast<uint8_t>(unit & 0xFF));
            units.push_back(static_cast<uint8_t>(unit >> 8));
            if (units.size() >= TextChunk) {
                hash.Update(units);
                units.clear();
            }
        }
        if (text.Failed())
            return TRUST_E_BAD_DIGEST;
        hash.Update(units);
        return hash.Final(digest);
    }

private:
    FileSource FFile;
    bool FUtf16 = false;
    Block FBlock;
};

const ScriptFormat* FormatOf(std::u16string_view extension)
{
    for (const ScriptFormat& format : Formats)
        if (format.Extension == extension)
            return &format;
    return nullptr;
}

} // namespace

bool IsScriptExtension(std::u16string_view extension)
{
    return FormatOf(extension) != nullptr;
}

std::unique_ptr<Subject> OpenScriptSubject(const FileSource& file, std::u16string_view extension)
{
    const ScriptFormat* format = FormatOf(extension);
    return std::make_unique<ScriptSubject>(file, format ? *format->Style : HashComments);
}

} // namespace wintrust
