// Names as text: CertNameToStrW and CertGetNameStringW.
#include "platform/crypt32/Objects.h"

#include "platform/common/WinStr.h"

#include <openssl/err.h>

#include <algorithm>
#include <cstring>

using namespace crypt32;

namespace {

constexpr char OidCommonName[] = "2.5.4.3";
constexpr char OidOrganizationalUnit[] = "2.5.4.11";
constexpr char OidOrganization[] = "2.5.4.10";
constexpr char OidEmail[] = "1.2.840.113549.1.9.1";
constexpr char OidSubjectAltName[] = "2.5.29.17";
constexpr char OidIssuerAltName[] = "2.5.29.18";
constexpr char OidUserPrincipalName[] = "1.3.6.1.4.1.311.20.2.3";

struct NameAttribute {
    std::string Oid;
    Tlv Value;
};
using Rdn = std::vector<NameAttribute>;

std::string OidOfDer(const Tlv& oid)
{
    const unsigned char* p = oid.Whole.data();
    const Asn1ObjectPtr object(d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(oid.Whole.size())));
    if (!object) {
        ERR_clear_error();
        return {};
    }
    return OidText(object.get());
}

// Name ::= SEQUENCE OF SET OF SEQUENCE { type OID, value ANY }, in encoded order.
std::optional<std::vector<Rdn>> ParseName(std::span<const uint8_t> der)
{
    const auto name = ReadTlv(ByteReader(der), 0);
    if (!name || name->Tag != TagSequence || !name->Constructed)
        return std::nullopt;
    const auto sets = ReadChildren(name->Content);
    if (!sets)
        return std::nullopt;
    std::vector<Rdn> rdns;
    for (const Tlv& set : *sets) {
        if (set.Tag != TagSet || !set.Constructed)
            return std::nullopt;
        const auto pairs = ReadChildren(set.Content);
        if (!pairs)
            return std::nullopt;
        Rdn rdn;
        for (const Tlv& pair : *pairs) {
            const auto parts = pair.Tag == TagSequence ? ReadChildren(pair.Content) : std::nullopt;
            if (!parts || parts->size() != 2 || (*parts)[0].Tag != TagOid)
                return std::nullopt;
            std::string oid = OidOfDer((*parts)[0]);
            if (oid.empty())
                return std::nullopt;
            rdn.push_back({std::move(oid), (*parts)[1]});
        }
        rdns.push_back(std::move(rdn));
    }
    return rdns;
}

std::u16string HexOf(std::span<const uint8_t> bytes)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::u16string text;
    for (const uint8_t b : bytes) {
        text += static_cast<char16_t>(Hex[b >> 4]);
        text += static_cast<char16_t>(Hex[b & 0xF]);
    }
    return text;
}

// A value as text; nullopt for types that are not strings.
std::optional<std::u16string> StringValue(const Tlv& value)
{
    if (value.Class != V_ASN1_UNIVERSAL || value.Constructed)
        return std::nullopt;
    return DirectoryStringText(value.Tag, value.Content.span());
}

// Types that are not strings show as "#" and the hex of their DER, never quoted.
std::u16string ValueText(const Tlv& value)
{
    return StringValue(value).value_or(u"#" + HexOf(value.Whole.span()));
}

bool NeedsQuotes(std::u16string_view value)
{
    if (value.empty() || value.front() == u' ' || value.back() == u' ')
        return true;
    return value.find_first_of(u",+=\"<>#;\r\n") != std::u16string_view::npos;
}

std::u16string Quoted(std::u16string_view value)
{
    std::u16string text = u"\"";
    for (const char16_t c : value) {
        if (c == u'"')
            text += u'"';
        text += c;
    }
    text += u'"';
    return text;
}

std::u16string KeyOf(const std::string& oid, DWORD style)
{
    if (style == CERT_X500_NAME_STR) {
        const PCCRYPT_OID_INFO info =
            CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char*>(oid.c_str()), CRYPT_RDN_ATTR_OID_GROUP_ID);
        if (info && info->pwszName)
            return info->pwszName;
        return u"OID." + winstr::FromUtf8(oid);
    }
    return winstr::FromUtf8(oid);
}

std::u16string NameText(const std::vector<Rdn>& rdns, DWORD strType)
{
    const DWORD style = strType & 0xFFFF;
    const bool quoting = (strType & CERT_NAME_STR_NO_QUOTING_FLAG) == 0;
    const std::u16string rdnSeparator = (strType & CERT_NAME_STR_SEMICOLON_FLAG) != 0 ? u"; "
                                        : (strType & CERT_NAME_STR_CRLF_FLAG) != 0    ? u"\r\n"
                                                                                      : u", ";
    const std::u16string valueSeparator = (strType & CERT_NAME_STR_NO_PLUS_FLAG) != 0 ? u" " : u" + ";
    std::vector<const Rdn*> order;
    for (const Rdn& rdn : rdns)
        order.push_back(&rdn);
    if ((strType & CERT_NAME_STR_REVERSE_FLAG) != 0)
        std::reverse(order.begin(), order.end());

    std::u16string text;
    bool firstRdn = true;
    for (const Rdn* rdn : order) {
        if (!firstRdn)
            text += rdnSeparator;
        firstRdn = false;
        bool firstValue = true;
        for (const NameAttribute& attribute : *rdn) {
            if (!firstValue)
                text += valueSeparator;
            firstValue = false;
            if (style == CERT_X500_NAME_STR || style == CERT_OID_NAME_STR)
                text += KeyOf(attribute.Oid, style) + u"=";
            const auto value = StringValue(attribute.Value);
            if (!value)
                text += ValueText(attribute.Value);
            else
                text += quoting && NeedsQuotes(*value) ? Quoted(*value) : *value;
        }
    }
    return text;
}

// The Windows length convention: characters including the NUL; a short buffer gets as much as
// fits, NUL-terminated.
DWORD Emit(std::u16string_view text, LPWSTR out, DWORD cch)
{
    if (!out || cch == 0)
        return static_cast<DWORD>(text.size() + 1);
    const size_t n = std::min<size_t>(text.size(), cch - 1);
    std::copy_n(text.begin(), n, out);
    out[n] = 0;
    return static_cast<DWORD>(n + 1);
}

std::optional<std::u16string> FirstAttribute(const std::vector<Rdn>& rdns, std::string_view oid)
{
    for (const Rdn& rdn : rdns)
        for (const NameAttribute& attribute : rdn)
            if (oid.empty() || attribute.Oid == oid)
                return ValueText(attribute.Value);
    return std::nullopt;
}

std::span<const uint8_t> BlobSpan(const CRYPTOAPI_BLOB& blob)
{
    return blob.pbData ? std::span<const uint8_t>(blob.pbData, blob.cbData) : std::span<const uint8_t>();
}

std::u16string Ia5Text(const ASN1_STRING* s) { return Latin1Text({ASN1_STRING_get0_data(s), static_cast<size_t>(ASN1_STRING_length(s))}); }

// The subject's or issuer's alternative names.
class AltNames {
public:
    AltNames(const CERT_INFO* info, bool issuer)
    {
        const CERT_EXTENSION* extension = FindExtension(info, issuer ? OidIssuerAltName : OidSubjectAltName);
        if (!extension || !extension->Value.pbData)
            return;
        const unsigned char* p = extension->Value.pbData;
        FNames.reset(d2i_GENERAL_NAMES(nullptr, &p, static_cast<long>(extension->Value.cbData)));
        ERR_clear_error();
    }
    // The first name of a kind, as text.
    [[nodiscard]] std::optional<std::u16string> First(int kind) const
    {
        for (int i = 0; i < sk_GENERAL_NAME_num(FNames.get()); ++i) {
            const GENERAL_NAME* name = sk_GENERAL_NAME_value(FNames.get(), i);
            if (name->type != kind)
                continue;
            switch (kind) {
            case GEN_EMAIL:
            case GEN_DNS:
            case GEN_URI: return Ia5Text(name->d.ia5);
            case GEN_OTHERNAME: {
                if (OidText(name->d.otherName->type_id) != OidUserPrincipalName)
                    continue;
                const ASN1_TYPE* value = name->d.otherName->value;
                if (value && value->type == V_ASN1_UTF8STRING)
                    return Utf8Text({ASN1_STRING_get0_data(value->value.utf8string),
                                     static_cast<size_t>(ASN1_STRING_length(value->value.utf8string))});
                continue;
            }
            default: continue;
            }
        }
        return std::nullopt;
    }
    [[nodiscard]] std::optional<std::vector<Rdn>> FirstDirectoryName() const
    {
        for (int i = 0; i < sk_GENERAL_NAME_num(FNames.get()); ++i) {
            const GENERAL_NAME* name = sk_GENERAL_NAME_value(FNames.get(), i);
            if (name->type == GEN_DIRNAME) {
                const Bytes der = NameDer(name->d.directoryName);
                return ParseName(der);
            }
        }
        return std::nullopt;
    }

private:
    GeneralNamesPtr FNames;
};

std::u16string SimpleDisplay(const std::vector<Rdn>& rdns, const AltNames& alt)
{
    for (const char* oid : {OidCommonName, OidOrganizationalUnit, OidOrganization, OidEmail})
        if (auto text = FirstAttribute(rdns, oid))
            return *text;
    if (auto email = alt.First(GEN_EMAIL))
        return *email;
    return FirstAttribute(rdns, {}).value_or(std::u16string());
}

std::u16string NameString(PCCERT_CONTEXT context, DWORD type, DWORD flags, void* para)
{
    const CertElement* element = CertElement::From(context);
    const CERT_INFO* info = element ? element->Data().Info() : (context ? context->pCertInfo : nullptr);
    if (!info)
        return {};
    const bool issuer = (flags & CERT_NAME_ISSUER_FLAG) != 0;
    const auto rdns = ParseName(BlobSpan(issuer ? info->Issuer : info->Subject)).value_or(std::vector<Rdn>());
    const AltNames alt(info, issuer);
    // An empty name leaves the work to the alternative name's directory name.
    const auto names = [&]() -> std::vector<Rdn> {
        if (!rdns.empty())
            return rdns;
        return alt.FirstDirectoryName().value_or(std::vector<Rdn>());
    };

    switch (type) {
    case CERT_NAME_EMAIL_TYPE:
        if (auto email = alt.First(GEN_EMAIL))
            return *email;
        return FirstAttribute(rdns, OidEmail).value_or(std::u16string());
    case CERT_NAME_RDN_TYPE:
        return NameText(names(), para ? *static_cast<const DWORD*>(para) : CERT_SIMPLE_NAME_STR);
    case CERT_NAME_ATTR_TYPE:
        if (!para)
            return {};
        return FirstAttribute(names(), static_cast<const char*>(para)).value_or(std::u16string());
    case CERT_NAME_FRIENDLY_DISPLAY_TYPE:
        if (element && !issuer) {
            if (const auto friendly = element->Property(CERT_FRIENDLY_NAME_PROP_ID)) {
                std::u16string text;
                for (size_t i = 0; i + 1 < friendly->size(); i += 2)
                    text += static_cast<char16_t>((*friendly)[i] | ((*friendly)[i + 1] << 8));
                text = text.substr(0, text.find(u'\0'));
                if (!text.empty())
                    return text;
            }
        }
        return SimpleDisplay(rdns, alt);
    case CERT_NAME_SIMPLE_DISPLAY_TYPE: return SimpleDisplay(rdns, alt);
    case CERT_NAME_DNS_TYPE:
        if (auto dns = alt.First(GEN_DNS))
            return *dns;
        return FirstAttribute(rdns, OidCommonName).value_or(std::u16string());
    case CERT_NAME_URL_TYPE: return alt.First(GEN_URI).value_or(std::u16string());
    case CERT_NAME_UPN_TYPE: return alt.First(GEN_OTHERNAME).value_or(std::u16string());
    default: return {};
    }
}

} // namespace

extern "C" {

WINAPI_EXPORT DWORD WINAPI CertNameToStrW(DWORD dwCertEncodingType, PCERT_NAME_BLOB pName, DWORD dwStrType,
                                          LPWSTR psz, DWORD csz)
{
    if (!pName)
        return Emit({}, psz, csz);
    const auto rdns = ParseName(BlobSpan(*pName));
    if (!rdns) {
        SetLastError(ErrorCode(CRYPT_E_ASN1_BADTAG));
        return Emit({}, psz, csz);
    }
    return Emit(NameText(*rdns, dwStrType), psz, csz);
}

WINAPI_EXPORT DWORD WINAPI CertGetNameStringW(PCCERT_CONTEXT pCertContext, DWORD dwType, DWORD dwFlags,
                                              void* pvTypePara, LPWSTR pszNameString, DWORD cchNameString)
{
    return Emit(NameString(pCertContext, dwType, dwFlags, pvTypePara), pszNameString, cchNameString);
}

} // extern "C"
