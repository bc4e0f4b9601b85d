#include "platform/common/Der.h"

#include <openssl/err.h>
#include <openssl/objects.h>

#include <algorithm>
#include <climits>

namespace der {

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int TagInteger = 2;
constexpr int TagOid = 6;
constexpr int TagSequence = 16;
constexpr int TagSet = 17;

// id-signedData, 1.2.840.113549.1.7.2, as its content octets.
constexpr uint8_t SignedDataOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};

bool Is(const Tlv& tlv, int cls, int tag, bool constructed)
{
    return tlv.Class == cls && tlv.Tag == tag && tlv.Constructed == constructed;
}

// One element from its identifier octet (low tag numbers only) and its content.
Bytes Element(uint8_t identifier, const Bytes& content)
{
    Bytes out{identifier};
    const size_t length = content.size();
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
    } else {
        int octets = 0;
        for (size_t rest = length; rest != 0; rest >>= 8)
            ++octets;
        out.push_back(static_cast<uint8_t>(0x80 | octets));
        for (int i = octets - 1; i >= 0; --i)
            out.push_back(static_cast<uint8_t>(length >> (8 * i)));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

void Append(Bytes& out, const ByteReader& bytes)
{
    out.insert(out.end(), bytes.data(), bytes.data() + bytes.size());
}

} // namespace

std::optional<Tlv> ReadTlv(const ByteReader& data, size_t off)
{
    const auto rest = data.Tail(off);
    if (!rest || rest->size() == 0)
        return std::nullopt;
    const unsigned char* p = rest->data();
    long length = 0;
    int tag = 0;
    int cls = 0;
    const long max = rest->size() > static_cast<size_t>(LONG_MAX) ? LONG_MAX : static_cast<long>(rest->size());
    const int flags = ASN1_get_object(&p, &length, &tag, &cls, max);
    // 0x80: bad header or a length past the data; 0x21 with length 0: indefinite length, which DER
    // does not allow and which we do not follow.
    if ((flags & 0x80) != 0 || (flags & 0x01) != 0 || length < 0) {
        ERR_clear_error();
        return std::nullopt;
    }
    const auto header = static_cast<size_t>(p - rest->data());
    const auto contentLength = static_cast<size_t>(length);
    if (!rest->Has(header, contentLength))
        return std::nullopt;
    Tlv tlv;
    tlv.Tag = tag;
    tlv.Class = cls;
    tlv.Constructed = (flags & V_ASN1_CONSTRUCTED) != 0;
    tlv.Whole = *rest->Sub(0, header + contentLength);
    tlv.Content = *rest->Sub(header, contentLength);
    return tlv;
}

std::optional<std::vector<Tlv>> ReadChildren(const ByteReader& content)
{
    std::vector<Tlv> children;
    size_t off = 0;
    while (off < content.size()) {
        auto tlv = ReadTlv(content, off);
        if (!tlv)
            return std::nullopt;
        off += tlv->Whole.size(); // at least two bytes: progress is guaranteed
        children.push_back(*tlv);
    }
    return children;
}

std::optional<SignedDataFields> ReadSignedData(std::span<const uint8_t> der)
{
    const auto contentInfo = ReadTlv(ByteReader(der), 0);
    if (!contentInfo || !Is(*contentInfo, V_ASN1_UNIVERSAL, TagSequence, true))
        return std::nullopt;
    const auto info = ReadChildren(contentInfo->Content);
    if (!info || info->size() < 2 || !Is((*info)[1], V_ASN1_CONTEXT_SPECIFIC, 0, true))
        return std::nullopt;
    const auto signedData = ReadTlv((*info)[1].Content, 0);
    if (!signedData || !Is(*signedData, V_ASN1_UNIVERSAL, TagSequence, true))
        return std::nullopt;
    auto fields = ReadChildren(signedData->Content);
    if (!fields)
        return std::nullopt;
    const bool exact = info->size() == 2 && signedData->Whole.size() == (*info)[1].Content.size();
    return SignedDataFields{(*info)[0], std::move(*fields), exact};
}

bool IsSignedData(const SignedDataFields& layout)
{
    const std::vector<Tlv>& f = layout.Fields;
    if (!Is(layout.ContentType, V_ASN1_UNIVERSAL, TagOid, false) ||
        !std::ranges::equal(layout.ContentType.Content.span(), SignedDataOid) || f.size() < 4 || f.size() > 6 ||
        !Is(f[0], V_ASN1_UNIVERSAL, TagInteger, false) || !Is(f[1], V_ASN1_UNIVERSAL, TagSet, true) ||
        !Is(f[2], V_ASN1_UNIVERSAL, TagSequence, true) || !Is(f.back(), V_ASN1_UNIVERSAL, TagSet, true))
        return false;
    int previous = -1;
    for (size_t i = 3; i + 1 < f.size(); ++i) {
        if (!Is(f[i], V_ASN1_CONTEXT_SPECIFIC, f[i].Tag, true) || f[i].Tag > 1 || f[i].Tag <= previous)
            return false;
        previous = f[i].Tag;
    }
    return true;
}

// CertificateChoices: a Certificate (a SEQUENCE) or one of [0] to [3]. The rewrite is made only of
// a ContentInfo that is exactly an id-signedData and its SignedData, nothing besides.
std::optional<Bytes> WithX509CertificatesOnly(std::span<const uint8_t> der)
{
    const auto layout = ReadSignedData(der);
    if (!layout || !layout->Exact || !Is(layout->ContentType, V_ASN1_UNIVERSAL, TagOid, false) ||
        !std::ranges::equal(layout->ContentType.Content.span(), SignedDataOid) || layout->Fields.size() < 4)
        return std::nullopt;

    Bytes content;
    bool dropped = false;
    for (size_t i = 0; i < layout->Fields.size(); ++i) {
        const Tlv& field = layout->Fields[i];
        if (i != 3 || !Is(field, V_ASN1_CONTEXT_SPECIFIC, 0, true)) {
            Append(content, field.Whole);
            continue;
        }
        const auto choices = ReadChildren(field.Content);
        if (!choices)
            return std::nullopt;
        Bytes certificates;
        for (const Tlv& choice : *choices) {
            if (Is(choice, V_ASN1_UNIVERSAL, TagSequence, true))
                Append(certificates, choice.Whole);
            else
                dropped = true;
        }
        const Bytes set = Element(0xA0, certificates);
        content.insert(content.end(), set.begin(), set.end());
    }
    if (!dropped)
        return std::nullopt;

    Bytes infoContent;
    Append(infoContent, layout->ContentType.Whole);
    const Bytes tagged = Element(0xA0, Element(0x30, content));
    infoContent.insert(infoContent.end(), tagged.begin(), tagged.end());
    return Element(0x30, infoContent);
}

DecodedPkcs7 DecodePkcs7(std::span<const uint8_t> der)
{
    DecodedPkcs7 decoded;
    if (der.empty() || der.size() > static_cast<size_t>(LONG_MAX))
        return decoded;
    const unsigned char* p = der.data();
    decoded.Message.reset(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
    if (decoded.Message) {
        decoded.Used = static_cast<size_t>(p - der.data());
        return decoded;
    }
    ERR_clear_error();
    const auto outer = ReadTlv(ByteReader(der), 0);
    auto rewritten = outer ? WithX509CertificatesOnly(outer->Whole.span()) : std::nullopt;
    if (!rewritten)
        return decoded;
    p = rewritten->data();
    decoded.Message.reset(d2i_PKCS7(nullptr, &p, static_cast<long>(rewritten->size())));
    if (!decoded.Message || p != rewritten->data() + rewritten->size()) {
        decoded.Message.reset();
        ERR_clear_error();
        return decoded;
    }
    decoded.Used = outer->Whole.size();
    decoded.Rewritten = std::move(*rewritten);
    return decoded;
}

} // namespace der
