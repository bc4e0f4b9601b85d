#include "platform/wintrust/CatalogSip.h"

#include "platform/common/WinStr.h"

#include <openssl/asn1t.h>
#include <openssl/err.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>

// A member's attributes as OpenSSL templates:
//   NameValue ::= SEQUENCE { name BMPString, flags INTEGER, value OCTET STRING }
//   MemberInfo ::= SEQUENCE { subjectType BMPString, certVersion INTEGER }
namespace {

struct NameValueContent {
    ASN1_BMPSTRING* name;
    ASN1_INTEGER* flags;
    ASN1_OCTET_STRING* value;
};

struct CatalogMemberInfo {
    ASN1_BMPSTRING* subjectType;
    ASN1_INTEGER* certVersion;
};

DECLARE_ASN1_ITEM(NameValueContent)
DECLARE_ASN1_ITEM(CatalogMemberInfo)

ASN1_SEQUENCE(NameValueContent) =
    {
        ASN1_SIMPLE(NameValueContent, name, ASN1_BMPSTRING),
        ASN1_SIMPLE(NameValueContent, flags, ASN1_INTEGER),
        ASN1_SIMPLE(NameValueContent, value, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(NameValueContent)

        ASN1_SEQUENCE(CatalogMemberInfo) =
            {
                ASN1_SIMPLE(CatalogMemberInfo, subjectType, ASN1_BMPSTRING),
                ASN1_SIMPLE(CatalogMemberInfo, certVersion, ASN1_INTEGER),
} ASN1_SEQUENCE_END(CatalogMemberInfo)

                void NameValueContent_free(NameValueContent * value)
{
    ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(value), ASN1_ITEM_rptr(NameValueContent));
}

void CatalogMemberInfo_free(CatalogMemberInfo* value)
{
    ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(value), ASN1_ITEM_rptr(CatalogMemberInfo));
}

} // namespace

namespace wintrust {

namespace {

using NameValuePtr = std::unique_ptr<NameValueContent, OsslFree<NameValueContent_free>>;
using MemberInfoPtr = std::unique_ptr<CatalogMemberInfo, OsslFree<CatalogMemberInfo_free>>;

constexpr DWORD Encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr char NameValueOid[] = "1.3.6.1.4.1.311.12.2.1";
constexpr char MemberInfoOid[] = "1.3.6.1.4.1.311.12.2.2";
constexpr std::u16string_view FileAttributeName = u"File";

template <typename T> T* DecodeItem(const ASN1_ITEM* item, std::span<const uint8_t> der)
{
    if (der.empty() || der.size() > static_cast<size_t>(LONG_MAX))
        return nullptr;
    const unsigned char* p = der.data();
    auto* value = reinterpret_cast<T*>(ASN1_item_d2i(nullptr, &p, static_cast<long>(der.size()), item));
    ERR_clear_error();
    if (value && p != der.data() + der.size()) {
        ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(value), item);
        return nullptr;
    }
    return value;
}

std::span<const uint8_t> BlobBytes(const CRYPTOAPI_BLOB& blob)
{
    return blob.cbData && blob.pbData ? std::span<const uint8_t>(blob.pbData, blob.cbData) : std::span<const uint8_t>();
}

// UTF-16 text in little-endian bytes, the NULs that end it left out.
std::u16string TextOfLittleEndian(std::span<const uint8_t> bytes)
{
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    while (!text.empty() && text.back() == 0)
        text.pop_back();
    return text;
}

std::u16string TextOfBmp(const ASN1_BMPSTRING* s)
{
    const auto bytes = StringBytes(s);
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>((bytes[i] << 8) | bytes[i + 1]));
    return text;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; a zero GUID for anything else.
GUID GuidOfText(std::u16string_view text)
{
    constexpr std::u16string_view Shape = u"{00000000-0000-0000-0000-000000000000}";
    if (text.size() != Shape.size())
        return {};
    uint8_t bytes[16] = {};
    size_t count = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (Shape[i] != u'0') {
            if (text[i] != Shape[i])
                return {};
            continue;
        }
        const int digit = winstr::HexDigit(text[i]);
        if (digit < 0)
            return {};
        bytes[count / 2] = static_cast<uint8_t>((bytes[count / 2] << 4) | digit);
        ++count;
    }
    GUID guid{};
    guid.Data1 = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
    guid.Data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
    guid.Data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
    std::copy(bytes + 8, bytes + 16, guid.Data4);
    return guid;
}

// A tag is text when its bytes are UTF-16LE; otherwise its bytes in hex stand for it.
std::u16string TagOf(const CRYPT_DATA_BLOB& identifier)
{
    const auto bytes = BlobBytes(identifier);
    if (bytes.size() % 2 == 0)
        return TextOfLittleEndian(bytes);
    return HashTag(bytes);
}

const CRYPT_ATTRIBUTE* FindAttribute(const CTL_ENTRY& entry, const char* oid)
{
    for (DWORD i = 0; i < entry.cAttribute; ++i)
        if (entry.rgAttribute[i].pszObjId && std::strcmp(entry.rgAttribute[i].pszObjId, oid) == 0 &&
            entry.rgAttribute[i].cValue > 0)
            return &entry.rgAttribute[i];
    return nullptr;
}

bool IsCatalogList(const CTL_INFO& info)
{
    for (DWORD i = 0; i < info.SubjectUsage.cUsageIdentifier; ++i)
        if (info.SubjectUsage.rgpszUsageIdentifier[i] &&
            std::strcmp(info.SubjectUsage.rgpszUsageIdentifier[i], szOID_CATALOG_LIST) == 0)
            return true;
    return false;
}

class CatalogSubject : public Subject {
public:
    explicit CatalogSubject(std::shared_ptr<const Catalog> catalog) : FCatalog(std::move(catalog)) {}

    const GUID& Type() const override { return CRYPT_SUBJTYPE_CATALOG_IMAGE; }

    // The catalog is its own signature, when it has a signer: without one it is a list that
    // nobody signed yet, as makecat leaves it.
    HRESULT Signature(Bytes& der) const override
    {
        if (!FCatalog->Signed())
            return TRUST_E_NOSIGNATURE;
        const auto message = FCatalog->Message();
        der.assign(message.begin(), message.end());
        return S_OK;
    }

    // The signature's digest covers the list itself: nothing outside it is to check.
    HRESULT CheckDigest(const SignedMessage&, DigestCheck&) const override { return S_OK; }
    bool SignsTrustList() const override { return true; }

private:
    std::shared_ptr<const Catalog> FCatalog;
};

} // namespace

Catalog::~Catalog()
{
    if (FContext)
        CertFreeCTLContext(FContext);
}

std::unique_ptr<Catalog> Catalog::Read(const FileSource& file)
{
    if (file.size() == 0 || file.size() > MaxCatalogSize)
        return nullptr;
    const auto bytes = file.ReadRange(0, static_cast<size_t>(file.size()));
    if (!bytes)
        return nullptr;
    return FromBytes(*bytes);
}

std::unique_ptr<Catalog> Catalog::FromBytes(std::span<const uint8_t> der)
{
    if (der.empty() || der.size() > MaxCatalogSize)
        return nullptr;
    PCCTL_CONTEXT context = CertCreateCTLContext(Encoding, der.data(), static_cast<DWORD>(der.size()));
    if (!context)
        return nullptr;
    auto catalog = std::make_unique<Catalog>(Key{});
    catalog->FContext = context;
    if (!context->pCtlInfo || !IsCatalogList(*context->pCtlInfo))
        return nullptr;
    DWORD signers = 0;
    DWORD size = sizeof signers;
    catalog->FSigned = context->hCryptMsg &&
                       CryptMsgGetParam(context->hCryptMsg, CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size) && signers > 0;
    return catalog;
}

std::shared_ptr<const Catalog> Catalog::Open(const FileSource& file)
{
    // Only small catalogs are kept, and a few: enough for a driver package's, while the large
    // ones Windows ships are decoded per use rather than held in memory after it. A kept catalog
    // is found by its bytes, not by its file's name or identity, which a rewrite can keep.
    constexpr uint64_t MaxKeptSize = 1024 * 1024;
    constexpr size_t MaxKept = 16;
    if (file.size() == 0 || file.size() > MaxKeptSize)
        return Read(file);
    auto bytes = file.ReadRange(0, static_cast<size_t>(file.size()));
    if (!bytes)
        return nullptr;
    struct Kept {
        Bytes Der;
        std::shared_ptr<const Catalog> Decoded;
    };
    static std::mutex lock;
    static std::deque<Kept> kept;
    {
        const std::lock_guard guard(lock);
        for (const Kept& k : kept)
            if (k.Der == *bytes)
                return k.Decoded;
    }
    std::shared_ptr<const Catalog> catalog = FromBytes(*bytes);
    if (!catalog)
        return nullptr;
    const std::lock_guard guard(lock);
    if (kept.size() >= MaxKept)
        kept.pop_front();
    kept.push_back(Kept{std::move(*bytes), catalog});
    return catalog;
}

std::span<const uint8_t> Catalog::Message() const
{
    return std::span<const uint8_t>(FContext->pbCtlEncoded, FContext->cbCtlEncoded);
}

bool Catalog::Signed() const
{
    return FSigned;
}

size_t Catalog::MemberCount() const
{
    return FContext->pCtlInfo->cCTLEntry;
}

bool Catalog::MemberDigest(size_t index, IndirectData& indirect) const
{
    if (index >= MemberCount())
        return false;
    const CRYPT_ATTRIBUTE* attribute = FindAttribute(FContext->pCtlInfo->rgCTLEntry[index], SpcIndirectDataObjId);
    return attribute && ReadIndirectData(BlobBytes(attribute->rgValue[0]), indirect);
}

bool Catalog::Member(size_t index, CatalogMember& member) const
{
    member = CatalogMember();
    if (!MemberDigest(index, member.Indirect))
        return false;
    const CTL_ENTRY& entry = FContext->pCtlInfo->rgCTLEntry[index];
    member.Tag = TagOf(entry.SubjectIdentifier);
    const auto indirect = BlobBytes(FindAttribute(entry, SpcIndirectDataObjId)->rgValue[0]);
    member.EncodedIndirectData.assign(indirect.begin(), indirect.end());
    // Name-value attributes, the "File" one naming the file.
    for (DWORD i = 0; i < entry.cAttribute; ++i) {
        const CRYPT_ATTRIBUTE& attribute = entry.rgAttribute[i];
        if (!attribute.pszObjId || std::strcmp(attribute.pszObjId, NameValueOid) != 0)
            continue;
        for (DWORD v = 0; v < attribute.cValue; ++v) {
            const NameValuePtr value(
                DecodeItem<NameValueContent>(ASN1_ITEM_rptr(NameValueContent), BlobBytes(attribute.rgValue[v])));
            if (!value)
                continue;
            CatalogNameValue named;
            named.Name = TextOfBmp(value->name);
            int64_t flags = 0;
            if (ASN1_INTEGER_get_int64(&flags, value->flags) == 1)
                named.Flags = static_cast<DWORD>(flags);
            ERR_clear_error();
            const auto bytes = StringBytes(value->value);
            named.Value.assign(bytes.begin(), bytes.end());
            if (named.Name == FileAttributeName && member.FileName.empty())
                member.FileName = TextOfLittleEndian(bytes);
            member.Attributes.push_back(std::move(named));
        }
    }
    if (const CRYPT_ATTRIBUTE* info = FindAttribute(entry, MemberInfoOid)) {
        const auto der = BlobBytes(info->rgValue[0]);
        member.EncodedMemberInfo.assign(der.begin(), der.end());
        const MemberInfoPtr value(DecodeItem<CatalogMemberInfo>(ASN1_ITEM_rptr(CatalogMemberInfo), der));
        if (value)
            member.SubjectType = GuidOfText(TextOfBmp(value->subjectType));
    }
    return true;
}

std::optional<size_t> Catalog::FindByTag(std::u16string_view tag) const
{
    for (size_t i = 0; i < MemberCount(); ++i) {
        const std::u16string candidate = TagOf(FContext->pCtlInfo->rgCTLEntry[i].SubjectIdentifier);
        const bool same = candidate.size() == tag.size() &&
                          std::equal(candidate.begin(), candidate.end(), tag.begin(), [](char16_t a, char16_t b) {
                              const auto lower = [](char16_t c) {
                                  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
                              };
                              return lower(a) == lower(b);
                          });
        if (same)
            return i;
    }
    return std::nullopt;
}

std::optional<size_t> Catalog::FindByDigest(std::span<const uint8_t> digest) const
{
    IndirectData indirect;
    for (size_t i = 0; i < MemberCount(); ++i)
        if (MemberDigest(i, indirect) && indirect.Digest.size() == digest.size() &&
            std::equal(digest.begin(), digest.end(), indirect.Digest.begin()))
            return i;
    return std::nullopt;
}

bool IsCatalogExtension(std::u16string_view extension)
{
    return extension == u".cat";
}

std::unique_ptr<Subject> OpenCatalogSubject(const FileSource& file)
{
    std::shared_ptr<const Catalog> catalog = Catalog::Open(file);
    if (!catalog)
        return nullptr;
    return std::make_unique<CatalogSubject>(std::move(catalog));
}

HRESULT CatalogFileHash(const FileSource& file, const EVP_MD* md, Bytes& hash)
{
    std::unique_ptr<Subject> subject;
    if (SUCCEEDED(OpenSubject(file, u"", subject)) && subject->Type() == CRYPT_SUBJTYPE_PE_IMAGE)
        if (const auto* image = dynamic_cast<const DigestSubject*>(subject.get()))
            return image->Digest(md, hash);
    DigestContext context(md);
    if (!context.UpdateFromFile(file, 0, file.size()))
        return TRUST_E_BAD_DIGEST;
    return context.Final(hash);
}

std::u16string HashTag(std::span<const uint8_t> hash)
{
    static constexpr char16_t Digits[] = u"0123456789ABCDEF";
    std::u16string tag;
    tag.reserve(hash.size() * 2);
    for (const uint8_t byte : hash) {
        tag.push_back(Digits[byte >> 4]);
        tag.push_back(Digits[byte & 15]);
    }
    return tag;
}

} // namespace wintrust
