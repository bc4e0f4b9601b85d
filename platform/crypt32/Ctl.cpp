// Certificate trust lists: CertCreateCTLContext and the functions that read a list.
//
//   CertificateTrustList ::= SEQUENCE {
//       version              INTEGER DEFAULT v1,
//       subjectUsage         SEQUENCE OF OBJECT IDENTIFIER,
//       listIdentifier       OCTET STRING OPTIONAL,
//       sequenceNumber       INTEGER OPTIONAL,
//       ctlThisUpdate        Time,
//       ctlNextUpdate        Time OPTIONAL,
//       subjectAlgorithm     AlgorithmIdentifier,
//       trustedSubjects      SEQUENCE OF SEQUENCE {
//                                subjectIdentifier OCTET STRING,
//                                subjectAttributes SET OF Attribute OPTIONAL } OPTIONAL,
//       ctlExtensions        [0] EXPLICIT Extensions OPTIONAL }
//
// The list is the content (szOID_CTL) of a PKCS #7 SignedData. Its subjects are walked in place
// and written straight into the CTL_INFO block: a catalog may list a great many files, and no
// decoded object per subject is kept besides what the caller sees.
#include "platform/crypt32/Objects.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <charconv>
#include <cstring>

using namespace crypt32;

namespace {

constexpr uint32_t CtlMagic = 0x43544C58; // "CTLX"
constexpr DWORD Encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

class CtlObject;

struct CtlHandle {
    CTL_CONTEXT Context;
    CtlObject* Self;
    uint32_t Magic;
};
static_assert(std::is_standard_layout_v<CtlHandle>);

struct MessageCloser {
    void operator()(void* message) const { CryptMsgClose(message); }
};
using MessagePtr = std::unique_ptr<void, MessageCloser>;

// The OID texts already written, by their DER: a list's subjects carry the same few attribute
// types over and over, and each is written once.
using OidTexts = std::map<std::span<const uint8_t>, size_t, decltype([](std::span<const uint8_t> a, std::span<const uint8_t> b) {
                              return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
                          })>;

// The fields of one attribute: its OID and the DER of each value.
bool WriteAttribute(FlatBuilder& b, size_t item, const Tlv& attribute, OidTexts& texts)
{
    // Attribute ::= SEQUENCE { type OBJECT IDENTIFIER, values SET OF ANY }
    const auto parts = IsUniversal(attribute, TagSequence) ? ReadChildren(attribute.Content) : std::nullopt;
    if (!parts || parts->size() != 2 || !IsUniversal((*parts)[1], TagSet))
        return false;
    const auto values = ReadChildren((*parts)[1].Content);
    if (!values)
        return false;
    const std::span<const uint8_t> type = (*parts)[0].Whole.span();
    auto text = texts.find(type);
    if (text == texts.end()) {
        const auto oid = OidOf((*parts)[0]);
        if (!oid)
            return false;
        text = texts.emplace(type, b.String(*oid)).first;
    }
    b.Link(item + offsetof(CRYPT_ATTRIBUTE, pszObjId), text->second);
    b.Put(item + offsetof(CRYPT_ATTRIBUTE, cValue), static_cast<DWORD>(values->size()));
    if (values->empty())
        return true;
    const size_t blobs = b.New<CRYPT_ATTR_BLOB>(values->size());
    b.Link(item + offsetof(CRYPT_ATTRIBUTE, rgValue), blobs);
    for (size_t v = 0; v < values->size(); ++v)
        b.Blob(blobs + v * sizeof(CRYPT_ATTR_BLOB), (*values)[v].Whole.span());
    return true;
}

// The subjects, written as the CTL_ENTRY array whose count and pointer are at countOff and
// arrayOff.
bool WriteEntries(FlatBuilder& b, size_t countOff, size_t arrayOff, const ByteReader& subjects)
{
    size_t count = 0;
    for (size_t off = 0; off < subjects.size(); ++count) {
        const auto entry = ReadTlv(subjects, off);
        if (!entry)
            return false;
        off += entry->Whole.size(); // at least two bytes: progress is guaranteed
    }
    if (count > 0xFFFFFFFFu)
        return false;
    b.Put(countOff, static_cast<DWORD>(count));
    if (count == 0)
        return true;
    // The block holds about what the list's DER does, and a little per subject.
    b.ReserveCapacity(subjects.size() * 2 + count * sizeof(CTL_ENTRY));
    const size_t array = b.New<CTL_ENTRY>(count);
    b.Link(arrayOff, array);
    OidTexts texts;
    size_t off = 0;
    for (size_t i = 0; i < count; ++i) {
        const auto entry = ReadTlv(subjects, off);
        off += entry->Whole.size();
        if (!IsUniversal(*entry, TagSequence))
            return false;
        const auto identifier = ReadTlv(entry->Content, 0);
        if (!identifier || !IsUniversal(*identifier, TagOctetString) || identifier->Constructed)
            return false;
        const size_t item = array + i * sizeof(CTL_ENTRY);
        b.Blob(item + offsetof(CTL_ENTRY, SubjectIdentifier), identifier->Content.span());
        const size_t rest = identifier->Whole.size();
        if (rest == entry->Content.size())
            continue;
        const auto attributes = ReadTlv(entry->Content, rest);
        if (!attributes || !IsUniversal(*attributes, TagSet) || rest + attributes->Whole.size() != entry->Content.size())
            return false;
        const auto list = ReadChildren(attributes->Content);
        if (!list)
            return false;
        b.Put(item + offsetof(CTL_ENTRY, cAttribute), static_cast<DWORD>(list->size()));
        if (list->empty())
            continue;
        const size_t attributeArray = b.New<CRYPT_ATTRIBUTE>(list->size());
        b.Link(item + offsetof(CTL_ENTRY, rgAttribute), attributeArray);
        for (size_t a = 0; a < list->size(); ++a)
            if (!WriteAttribute(b, attributeArray + a * sizeof(CRYPT_ATTRIBUTE), (*list)[a], texts))
                return false;
    }
    return true;
}

// CTL_INFO at offset 0 of b from the DER of a CertificateTrustList.
bool WriteCtlInfo(FlatBuilder& b, std::span<const uint8_t> der)
{
    const auto list = ReadTlv(ByteReader(der), 0);
    if (!list || !IsUniversal(*list, TagSequence) || list->Whole.size() != der.size())
        return false;
    const ByteReader& fields = list->Content;
    size_t off = 0;
    const auto next = [&]() { return ReadTlv(fields, off); };
    const auto take = [&](const Tlv& tlv) { off += tlv.Whole.size(); };

    const size_t info = b.New<CTL_INFO>();
    auto field = next();
    if (field && IsUniversal(*field, TagInteger)) {
        if (field->Content.size() != 1)
            return false;
        b.Put(info + offsetof(CTL_INFO, dwVersion), static_cast<DWORD>(*field->Content.U8(0)));
        take(*field);
        field = next();
    }
    if (!field || !IsUniversal(*field, TagSequence))
        return false;
    const auto usages = ReadChildren(field->Content);
    if (!usages)
        return false;
    std::vector<std::string> oids;
    for (const Tlv& usage : *usages) {
        auto oid = OidOf(usage);
        if (!oid)
            return false;
        oids.push_back(std::move(*oid));
    }
    const size_t usage = info + offsetof(CTL_INFO, SubjectUsage);
    b.Put(usage + offsetof(CTL_USAGE, cUsageIdentifier), static_cast<DWORD>(oids.size()));
    if (!oids.empty()) {
        const size_t pointers = b.New<LPSTR>(oids.size());
        b.Link(usage + offsetof(CTL_USAGE, rgpszUsageIdentifier), pointers);
        for (size_t i = 0; i < oids.size(); ++i)
            b.StringPointer(pointers + i * sizeof(LPSTR), oids[i]);
    }
    take(*field);
    field = next();
    if (field && IsUniversal(*field, TagOctetString) && !field->Constructed) {
        b.Blob(info + offsetof(CTL_INFO, ListIdentifier), field->Content.span());
        take(*field);
        field = next();
    }
    if (field && IsUniversal(*field, TagInteger)) {
        const auto bytes = field->Content.span();
        if (bytes.empty())
            return false;
        b.Blob(info + offsetof(CTL_INFO, SequenceNumber), Bytes(bytes.rbegin(), bytes.rend()));
        take(*field);
        field = next();
    }
    const auto thisUpdate = field ? FileTimeOfDer(field->Whole.span()) : std::nullopt;
    if (!thisUpdate)
        return false;
    b.Put(info + offsetof(CTL_INFO, ThisUpdate), *thisUpdate);
    take(*field);
    field = next();
    if (field && (IsUniversal(*field, V_ASN1_UTCTIME) || IsUniversal(*field, V_ASN1_GENERALIZEDTIME))) {
        const auto nextUpdate = FileTimeOfDer(field->Whole.span());
        if (!nextUpdate)
            return false;
        b.Put(info + offsetof(CTL_INFO, NextUpdate), *nextUpdate);
        take(*field);
        field = next();
    }
    const auto algorithm = field ? AlgorithmOf(*field) : std::nullopt;
    if (!algorithm)
        return false;
    WriteAlgorithm(b, info + offsetof(CTL_INFO, SubjectAlgorithm), *algorithm);
    take(*field);
    field = next();
    if (field && IsUniversal(*field, TagSequence)) {
        if (!WriteEntries(b, info + offsetof(CTL_INFO, cCTLEntry), info + offsetof(CTL_INFO, rgCTLEntry),
                          field->Content))
            return false;
        take(*field);
        field = next();
    }
    if (field && IsContext(*field, 0) && field->Constructed) {
        const auto wrapper = ReadChildren(field->Content);
        if (!wrapper || wrapper->size() != 1 || !IsUniversal((*wrapper)[0], TagSequence))
            return false;
        const auto extensions = ReadChildren((*wrapper)[0].Content);
        if (!extensions ||
            !WriteExtensions(b, info + offsetof(CTL_INFO, cExtension), info + offsetof(CTL_INFO, rgExtension),
                             *extensions))
            return false;
        take(*field);
    }
    return off == fields.size();
}

// One list: its message, the decoded CTL_INFO and the store of the message's certificates.
class CtlObject {
public:
    static CtlObject* Create(std::span<const uint8_t> der);

    [[nodiscard]] static CtlObject* From(PCCTL_CONTEXT context)
    {
        const auto* handle = reinterpret_cast<const CtlHandle*>(context);
        return handle && handle->Magic == CtlMagic ? handle->Self : nullptr;
    }
    [[nodiscard]] PCCTL_CONTEXT Context() const { return &FHandle.Context; }

    void AddRef() { FRefs.fetch_add(1, std::memory_order_relaxed); }
    void Release()
    {
        if (FRefs.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete this;
    }

private:
    CtlObject() = default;
    ~CtlObject()
    {
        FHandle.Magic = 0;
        if (FHandle.Context.hCertStore)
            CertCloseStore(FHandle.Context.hCertStore, 0);
    }

    std::atomic<uint32_t> FRefs{1};
    Bytes FEncoded;
    Bytes FContent;
    FlatBlock FInfo;
    MessagePtr FMessage;
    CtlHandle FHandle{};
};

CtlObject* CtlObject::Create(std::span<const uint8_t> der)
{
    MessagePtr message(CryptMsgOpenToDecode(Encoding, 0, CMSG_SIGNED, 0, nullptr, nullptr));
    if (!message || !CryptMsgUpdate(message.get(), der.data(), static_cast<DWORD>(der.size()), TRUE))
        return nullptr; // the last error says why
    DWORD size = 0;
    char type[64] = {};
    size = sizeof type;
    if (!CryptMsgGetParam(message.get(), CMSG_INNER_CONTENT_TYPE_PARAM, 0, type, &size) ||
        std::strncmp(type, szOID_CTL, sizeof type) != 0)
        return FailNull<CtlObject>(CRYPT_E_INVALID_MSG_TYPE);

    std::unique_ptr<CtlObject, void (*)(CtlObject*)> ctl(new CtlObject(), [](CtlObject* c) { c->Release(); });
    size = 0;
    if (!CryptMsgGetParam(message.get(), CMSG_CONTENT_PARAM, 0, nullptr, &size))
        return nullptr;
    ctl->FContent.resize(size);
    if (!CryptMsgGetParam(message.get(), CMSG_CONTENT_PARAM, 0, ctl->FContent.data(), &size))
        return nullptr;
    ctl->FContent.resize(size);
    FlatBuilder builder;
    if (!WriteCtlInfo(builder, ctl->FContent)) {
        ERR_clear_error();
        return FailNull<CtlObject>(CRYPT_E_ASN1_BADTAG);
    }
    ctl->FInfo = FlatBlock(builder);
    size = 0;
    if (!CryptMsgGetParam(message.get(), CMSG_ENCODED_MESSAGE, 0, nullptr, &size))
        return nullptr;
    ctl->FEncoded.resize(size);
    if (!CryptMsgGetParam(message.get(), CMSG_ENCODED_MESSAGE, 0, ctl->FEncoded.data(), &size))
        return nullptr;

    CTL_CONTEXT& context = ctl->FHandle.Context;
    context.dwMsgAndCertEncodingType = Encoding;
    context.pbCtlEncoded = ctl->FEncoded.data();
    context.cbCtlEncoded = static_cast<DWORD>(ctl->FEncoded.size());
    context.pCtlInfo = ctl->FInfo.As<CTL_INFO>();
    context.hCertStore = CertOpenStore(CERT_STORE_PROV_MSG, Encoding, 0, 0, message.get());
    context.hCryptMsg = message.get();
    context.pbCtlContent = ctl->FContent.data();
    context.cbCtlContent = static_cast<DWORD>(ctl->FContent.size());
    ctl->FHandle.Self = ctl.get();
    ctl->FHandle.Magic = CtlMagic;
    ctl->FMessage = std::move(message);
    return ctl.release();
}

bool SameBytes(const CRYPT_DATA_BLOB& blob, std::span<const uint8_t> bytes)
{
    return blob.cbData == bytes.size() && (bytes.empty() || std::memcmp(blob.pbData, bytes.data(), bytes.size()) == 0);
}

// The hash of a certificate as the list's subject algorithm names it; empty for an algorithm
// other than SHA-1, MD5 or SHA-256.
Bytes SubjectHash(PCCERT_CONTEXT cert, const CRYPT_ALGORITHM_IDENTIFIER& algorithm)
{
    const std::string_view oid = algorithm.pszObjId ? algorithm.pszObjId : "";
    const EVP_MD* md = oid == szOID_OIWSEC_sha1 || oid == "1.2.840.113549.1.1.5" ? EVP_sha1()
                       : oid == "1.2.840.113549.2.5"                            ? EVP_md5()
                       : oid == "2.16.840.1.101.3.4.2.1"                        ? EVP_sha256()
                                                                                : nullptr;
    Bytes digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (!md || EVP_Digest(cert->pbCertEncoded, cert->cbCertEncoded, digest.data(), &length, md, nullptr) != 1) {
        ERR_clear_error();
        return {};
    }
    digest.resize(length);
    return digest;
}

} // namespace

extern "C" {

WINAPI_EXPORT PCCTL_CONTEXT WINAPI CertCreateCTLContext(DWORD dwMsgAndCertEncodingType, const BYTE* pbCtlEncoded,
                                                        DWORD cbCtlEncoded)
{
    if ((dwMsgAndCertEncodingType & PKCS_7_ASN_ENCODING) == 0 || !pbCtlEncoded || cbCtlEncoded == 0)
        return FailNull<const CTL_CONTEXT>(E_INVALIDARG);
    CtlObject* ctl = CtlObject::Create(std::span<const uint8_t>(pbCtlEncoded, cbCtlEncoded));
    return ctl ? ctl->Context() : nullptr;
}

WINAPI_EXPORT PCCTL_CONTEXT WINAPI CertDuplicateCTLContext(PCCTL_CONTEXT pCtlContext)
{
    CtlObject* ctl = CtlObject::From(pCtlContext);
    if (!ctl)
        return nullptr;
    ctl->AddRef();
    return pCtlContext;
}

WINAPI_EXPORT BOOL WINAPI CertFreeCTLContext(PCCTL_CONTEXT pCtlContext)
{
    if (CtlObject* ctl = CtlObject::From(pCtlContext))
        ctl->Release();
    return TRUE;
}

WINAPI_EXPORT PCTL_ENTRY WINAPI CertFindSubjectInCTL(DWORD dwEncodingType, DWORD dwSubjectType, void* pvSubject,
                                                     PCCTL_CONTEXT pCtlContext, DWORD dwFlags)
{
    const CtlObject* ctl = CtlObject::From(pCtlContext);
    if (!ctl || !pvSubject)
        return FailNull<CTL_ENTRY>(E_INVALIDARG);
    const CTL_INFO& info = *pCtlContext->pCtlInfo;
    Bytes identifier;
    if (dwSubjectType == CTL_CERT_SUBJECT_TYPE) {
        identifier = SubjectHash(static_cast<PCCERT_CONTEXT>(pvSubject), info.SubjectAlgorithm);
        if (identifier.empty())
            return FailNull<CTL_ENTRY>(CRYPT_E_NOT_FOUND);
    } else if (dwSubjectType == CTL_ANY_SUBJECT_TYPE) {
        const auto* any = static_cast<const CTL_ANY_SUBJECT_INFO*>(pvSubject);
        if (!any->SubjectIdentifier.pbData && any->SubjectIdentifier.cbData != 0)
            return FailNull<CTL_ENTRY>(E_INVALIDARG);
        identifier.assign(any->SubjectIdentifier.pbData, any->SubjectIdentifier.pbData + any->SubjectIdentifier.cbData);
    } else {
        return FailNull<CTL_ENTRY>(E_INVALIDARG);
    }
    for (DWORD i = 0; i < info.cCTLEntry; ++i)
        if (SameBytes(info.rgCTLEntry[i].SubjectIdentifier, identifier))
            return &info.rgCTLEntry[i];
    return FailNull<CTL_ENTRY>(CRYPT_E_NOT_FOUND);
}

WINAPI_EXPORT BOOL WINAPI CertSetCertificateContextPropertiesFromCTLEntry(PCCERT_CONTEXT pCertContext,
                                                                          PCTL_ENTRY pCtlEntry, DWORD dwFlags)
{
    if (!CertElement::From(pCertContext) || !pCtlEntry)
        return FailBool(E_INVALIDARG);
    constexpr std::string_view prefix = szOID_CERT_PROP_ID_PREFIX;
    for (DWORD i = 0; i < pCtlEntry->cAttribute; ++i) {
        const CRYPT_ATTRIBUTE& attribute = pCtlEntry->rgAttribute[i];
        const std::string_view oid = attribute.pszObjId ? attribute.pszObjId : "";
        if (!oid.starts_with(prefix) || attribute.cValue == 0)
            continue;
        DWORD id = 0;
        const std::string_view number = oid.substr(prefix.size());
        const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), id);
        if (error != std::errc() || end != number.data() + number.size() || id == 0)
            continue;
        // The value is an OCTET STRING holding the property as Windows keeps it.
        const CRYPT_ATTR_BLOB& value = attribute.rgValue[0];
        const auto octets = ReadTlv(ByteReader(value.pbData, value.cbData), 0);
        if (!octets || !IsUniversal(*octets, TagOctetString) || octets->Constructed ||
            octets->Whole.size() != value.cbData)
            continue;
        CRYPT_DATA_BLOB blob{static_cast<DWORD>(octets->Content.size()), const_cast<BYTE*>(octets->Content.data())};
        if (!CertSetCertificateContextProperty(pCertContext, id, 0, &blob))
            return FALSE;
    }
    return TRUE;
}

} // extern "C"
