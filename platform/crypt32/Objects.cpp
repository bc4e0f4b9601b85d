#include "platform/crypt32/Objects.h"

#include "platform/common/Pem.h"
#include "platform/crypt32/Strings.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace crypt32 {

namespace {

constexpr uint32_t CertMagic = 0x43435458; // "CCTX"
constexpr uint32_t CrlMagic = 0x43524C58;  // "CRLX"

struct BitFields {
    Bytes Data;
    DWORD Unused = 0;
};

// A BIT STRING's content: the count of unused bits, then the bits.
std::optional<BitFields> BitsOf(const Tlv& tlv)
{
    const ByteReader& content = tlv.Content;
    const auto unused = content.U8(0);
    if (!unused || *unused > 7 || (*unused != 0 && content.size() == 1))
        return std::nullopt;
    BitFields fields;
    const auto data = content.Tail(1)->span();
    fields.Data.assign(data.begin(), data.end());
    fields.Unused = *unused;
    return fields;
}

void WriteBits(FlatBuilder& b, size_t off, const BitFields& bits)
{
    b.Put(off + offsetof(CRYPT_BIT_BLOB, cbData), static_cast<DWORD>(bits.Data.size()));
    if (!bits.Data.empty())
        b.Link(off + offsetof(CRYPT_BIT_BLOB, pbData), b.Bytes(bits.Data));
    b.Put(off + offsetof(CRYPT_BIT_BLOB, cUnusedBits), bits.Unused);
}

std::span<const uint8_t> WholeOf(const Tlv& tlv)
{
    return tlv.Whole.span();
}

// CERT_INFO at offset 0 of b from the DER of a TBSCertificate, read field by field: OpenSSL's own
// certificate decoder also decodes the public key, which costs far more than all the rest.
bool WriteCertInfo(FlatBuilder& b, const Tlv& tbs)
{
    const auto fields = ReadChildren(tbs.Content);
    if (!IsUniversal(tbs, TagSequence) || !fields)
        return false;
    size_t i = 0;
    const auto next = [&]() -> const Tlv* { return i < fields->size() ? &(*fields)[i] : nullptr; };

    DWORD version = 0;
    if (const Tlv* v = next(); v && IsContext(*v, 0) && v->Constructed) {
        const auto inner = ReadChildren(v->Content);
        if (!inner || inner->size() != 1 || !IsUniversal((*inner)[0], TagInteger) || (*inner)[0].Content.size() != 1)
            return false;
        version = *(*inner)[0].Content.U8(0);
        ++i;
    }
    const Tlv* serial = next();
    if (!serial || !IsUniversal(*serial, TagInteger) || serial->Content.size() == 0)
        return false;
    ++i;
    const Tlv* signature = next();
    const auto signatureAlgorithm = signature ? AlgorithmOf(*signature) : std::nullopt;
    ++i;
    const Tlv* issuer = next();
    ++i;
    const Tlv* validity = next();
    ++i;
    const Tlv* subject = next();
    ++i;
    const Tlv* spki = next();
    ++i;
    if (!signatureAlgorithm || !issuer || !IsUniversal(*issuer, TagSequence) || !validity ||
        !IsUniversal(*validity, TagSequence) || !subject || !IsUniversal(*subject, TagSequence) || !spki ||
        !IsUniversal(*spki, TagSequence))
        return false;
    const auto times = ReadChildren(validity->Content);
    if (!times || times->size() != 2)
        return false;
    const auto notBefore = FileTimeOfDer(WholeOf((*times)[0]));
    const auto notAfter = FileTimeOfDer(WholeOf((*times)[1]));
    const auto keyParts = ReadChildren(spki->Content);
    if (!notBefore || !notAfter || !keyParts || keyParts->size() != 2 || !IsUniversal((*keyParts)[1], TagBitString))
        return false;
    const auto keyAlgorithm = AlgorithmOf((*keyParts)[0]);
    const auto keyBits = BitsOf((*keyParts)[1]);
    if (!keyAlgorithm || !keyBits)
        return false;

    std::optional<BitFields> issuerUid, subjectUid;
    std::vector<Tlv> extensions;
    if (const Tlv* t = next(); t && IsContext(*t, 1)) {
        if (!(issuerUid = BitsOf(*t)))
            return false;
        ++i;
    }
    if (const Tlv* t = next(); t && IsContext(*t, 2)) {
        if (!(subjectUid = BitsOf(*t)))
            return false;
        ++i;
    }
    if (const Tlv* t = next(); t && IsContext(*t, 3) && t->Constructed) {
        const auto wrapper = ReadChildren(t->Content);
        if (!wrapper || wrapper->size() != 1 || !IsUniversal((*wrapper)[0], TagSequence))
            return false;
        auto list = ReadChildren((*wrapper)[0].Content);
        if (!list)
            return false;
        extensions = std::move(*list);
        ++i;
    }
    if (i != fields->size())
        return false;

    const size_t info = b.New<CERT_INFO>();
    b.Put(info + offsetof(CERT_INFO, dwVersion), version);
    // Windows keeps the serial number least significant byte first, sign byte included.
    const auto serialBytes = serial->Content.span();
    b.Blob(info + offsetof(CERT_INFO, SerialNumber), Bytes(serialBytes.rbegin(), serialBytes.rend()));
    WriteAlgorithm(b, info + offsetof(CERT_INFO, SignatureAlgorithm), *signatureAlgorithm);
    b.Blob(info + offsetof(CERT_INFO, Issuer), WholeOf(*issuer));
    b.Put(info + offsetof(CERT_INFO, NotBefore), *notBefore);
    b.Put(info + offsetof(CERT_INFO, NotAfter), *notAfter);
    b.Blob(info + offsetof(CERT_INFO, Subject), WholeOf(*subject));
    const size_t key = info + offsetof(CERT_INFO, SubjectPublicKeyInfo);
    WriteAlgorithm(b, key + offsetof(CERT_PUBLIC_KEY_INFO, Algorithm), *keyAlgorithm);
    WriteBits(b, key + offsetof(CERT_PUBLIC_KEY_INFO, PublicKey), *keyBits);
    WriteBits(b, info + offsetof(CERT_INFO, IssuerUniqueId), issuerUid.value_or(BitFields{}));
    WriteBits(b, info + offsetof(CERT_INFO, SubjectUniqueId), subjectUid.value_or(BitFields{}));

    return WriteExtensions(b, info + offsetof(CERT_INFO, cExtension), info + offsetof(CERT_INFO, rgExtension),
                           extensions);
}

} // namespace

std::shared_ptr<const CertData> CertData::Decode(std::span<const uint8_t> der)
{
    if (der.empty() || der.size() > MaxInputSize)
        return nullptr;
    const auto outer = ReadTlv(ByteReader(der), 0);
    if (!outer || outer->Tag != TagSequence || outer->Whole.size() != der.size())
        return nullptr;
    // Certificate ::= SEQUENCE { tbsCertificate, signatureAlgorithm, signatureValue BIT STRING }
    const auto parts = ReadChildren(outer->Content);
    if (!parts || parts->size() != 3 || !AlgorithmOf((*parts)[1]) || !IsUniversal((*parts)[2], TagBitString) ||
        !BitsOf((*parts)[2]))
        return nullptr;
    FlatBuilder builder;
    if (!WriteCertInfo(builder, (*parts)[0])) {
        ERR_clear_error();
        return nullptr;
    }
    std::shared_ptr<CertData> data(new CertData());
    data->FDer.assign(der.begin(), der.end());
    data->FInfo = FlatBlock(builder);
    unsigned int length = 0;
    if (!EVP_Digest(der.data(), der.size(), data->FSha1.data(), &length, EVP_sha1(), nullptr) || length != 20) {
        ERR_clear_error();
        return nullptr;
    }
    ERR_clear_error();
    return data;
}

const CERT_EXTENSION* FindExtension(const CERT_INFO* info, std::string_view oid)
{
    if (!info)
        return nullptr;
    for (DWORD i = 0; i < info->cExtension; ++i)
        if (info->rgExtension[i].pszObjId && oid == info->rgExtension[i].pszObjId)
            return &info->rgExtension[i];
    return nullptr;
}

// ---- elements ----

CertElement::CertElement(Store* owner, size_t index, std::shared_ptr<const CertData> data)
    : Element(owner, index), FData(std::move(data))
{
    FHandle.Context.dwCertEncodingType = X509_ASN_ENCODING;
    FHandle.Context.pbCertEncoded = const_cast<BYTE*>(FData->Der().data());
    FHandle.Context.cbCertEncoded = static_cast<DWORD>(FData->Der().size());
    FHandle.Context.pCertInfo = FData->Info();
    FHandle.Context.hCertStore = owner->Handle();
    FHandle.Self = this;
    FHandle.Magic = CertMagic;
}

CertElement::~CertElement() { FHandle.Magic = 0; }

CertElement* CertElement::From(PCCERT_CONTEXT context)
{
    if (!context)
        return nullptr;
    const auto* handle = reinterpret_cast<const CertHandle*>(context);
    return handle->Magic == CertMagic ? handle->Self : nullptr;
}

std::optional<Bytes> CertElement::Property(DWORD id) const
{
    const std::lock_guard lock(FLock);
    const auto it = FProperties.find(id);
    if (it == FProperties.end())
        return std::nullopt;
    return it->second;
}

void CertElement::SetProperty(DWORD id, std::optional<Bytes> value)
{
    const std::lock_guard lock(FLock);
    if (value)
        FProperties[id] = std::move(*value);
    else
        FProperties.erase(id);
}

PropertyMap CertElement::Properties() const
{
    const std::lock_guard lock(FLock);
    return FProperties;
}

void CertElement::MergeProperties(const PropertyMap& properties)
{
    const std::lock_guard lock(FLock);
    for (const auto& [id, value] : properties)
        FProperties.emplace(id, value);
}

void CertElement::ReplaceProperties(PropertyMap properties)
{
    const std::lock_guard lock(FLock);
    FProperties = std::move(properties);
}

CrlElement::CrlElement(Store* owner, size_t index, std::shared_ptr<const Bytes> der)
    : Element(owner, index), FDer(std::move(der))
{
    FHandle.Context.dwCertEncodingType = X509_ASN_ENCODING;
    FHandle.Context.pbCrlEncoded = const_cast<BYTE*>(FDer->data());
    FHandle.Context.cbCrlEncoded = static_cast<DWORD>(FDer->size());
    FHandle.Context.pCrlInfo = nullptr; // CRL_INFO is opaque to our callers
    FHandle.Context.hCertStore = owner->Handle();
    FHandle.Self = this;
    FHandle.Magic = CrlMagic;
}

CrlElement::~CrlElement() { FHandle.Magic = 0; }

CrlElement* CrlElement::From(PCCRL_CONTEXT context)
{
    if (!context)
        return nullptr;
    const auto* handle = reinterpret_cast<const CrlHandle*>(context);
    return handle->Magic == CrlMagic ? handle->Self : nullptr;
}

PCCERT_CONTEXT Acquire(CertElement* element)
{
    element->AddRef();
    element->Owner()->AddRef();
    return element->Context();
}

void ReleaseContext(CertElement* element)
{
    Store* const owner = element->Owner();
    element->Release();
    owner->Release();
}

void ReleaseCrlContext(CrlElement* element)
{
    Store* const owner = element->Owner();
    element->Release();
    owner->Release();
}

// ---- stores ----

Store* Store::New() { return new Store(); }

Store* Store::From(HCERTSTORE handle)
{
    auto* store = static_cast<Store*>(handle);
    return store && store->FMagic == StoreMagic ? store : nullptr;
}

uint64_t Store::Release()
{
    const uint64_t left = FRefs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0)
        delete this;
    return left;
}

Store::~Store()
{
    FMagic = 0;
    for (CertElement* element : FCerts)
        element->Release();
    for (CrlElement* element : FCrls)
        element->Release();
}

CertElement* Store::AppendCert(std::shared_ptr<const CertData> data, PropertyMap properties)
{
    const std::lock_guard lock(FLock);
    auto* element = new CertElement(this, FCerts.size(), std::move(data));
    element->ReplaceProperties(std::move(properties));
    FCerts.push_back(element);
    return element;
}

void Store::AppendCrl(std::shared_ptr<const Bytes> der)
{
    const std::lock_guard lock(FLock);
    FCrls.push_back(new CrlElement(this, FCrls.size(), std::move(der)));
}

BOOL Store::Add(const std::shared_ptr<const CertData>& data, const PropertyMap& properties, DWORD disposition,
                PCCERT_CONTEXT* out)
{
    if (disposition < CERT_STORE_ADD_NEW || disposition > CERT_STORE_ADD_ALWAYS)
        return FailBool(E_INVALIDARG);
    CertElement* result = nullptr;
    CertElement* replaced = nullptr;
    {
        const std::lock_guard lock(FLock);
        const auto existing = disposition == CERT_STORE_ADD_ALWAYS
                                  ? FCerts.end()
                                  : std::find_if(FCerts.begin(), FCerts.end(), [&](const CertElement* e) {
                                        return e->Data().Sha1() == data->Sha1() && e->Data().Der() == data->Der();
                                    });
        if (existing == FCerts.end()) {
            result = new CertElement(this, FCerts.size(), data);
            result->ReplaceProperties(properties);
            FCerts.push_back(result);
        } else if (disposition == CERT_STORE_ADD_NEW) {
            return FailBool(CRYPT_E_EXISTS);
        } else if (disposition == CERT_STORE_ADD_USE_EXISTING) {
            result = *existing;
            result->MergeProperties(properties);
        } else { // replace, keeping the place in the store's order
            replaced = *existing;
            result = new CertElement(this, replaced->Index(), data);
            result->ReplaceProperties(properties);
            *existing = result;
        }
        if (out)
            *out = Acquire(result);
    }
    if (replaced)
        replaced->Release();
    return TRUE;
}

CertElement* Store::NextCert(const CertElement* prev, const std::function<bool(const CertElement&)>& match)
{
    const std::lock_guard lock(FLock);
    for (size_t i = prev ? prev->Index() + 1 : 0; i < FCerts.size(); ++i) {
        if (match(*FCerts[i])) {
            Acquire(FCerts[i]);
            return FCerts[i];
        }
    }
    return nullptr;
}

CrlElement* Store::NextCrl(const CrlElement* prev)
{
    const std::lock_guard lock(FLock);
    const size_t i = prev ? prev->Index() + 1 : 0;
    if (i >= FCrls.size())
        return nullptr;
    FCrls[i]->AddRef();
    AddRef();
    return FCrls[i];
}

std::vector<std::shared_ptr<const CertData>> Store::Certificates() const
{
    const std::lock_guard lock(FLock);
    std::vector<std::shared_ptr<const CertData>> out;
    out.reserve(FCerts.size());
    for (const CertElement* element : FCerts)
        out.push_back(element->SharedData());
    return out;
}

std::vector<Bytes> Store::Crls() const
{
    const std::lock_guard lock(FLock);
    std::vector<Bytes> out;
    out.reserve(FCrls.size());
    for (const CrlElement* element : FCrls)
        out.push_back(element->Der());
    return out;
}

size_t Store::CertCount() const
{
    const std::lock_guard lock(FLock);
    return FCerts.size();
}

// ---- loading ----

namespace {

// The elements of the [0] certificates and [1] crls fields of the SignedData inside a ContentInfo,
// as exact bytes; nullopt when the structure cannot be walked (indefinite lengths, for one).
std::optional<SignedDataParts> WalkSignedData(std::span<const uint8_t> der)
{
    const auto layout = der::ReadSignedData(der);
    if (!layout)
        return std::nullopt;
    SignedDataParts parts;
    for (size_t i = 3; i < layout->Fields.size(); ++i) {
        const Tlv& field = layout->Fields[i];
        if (field.Class != V_ASN1_CONTEXT_SPECIFIC || (field.Tag != 0 && field.Tag != 1))
            continue;
        const auto items = ReadChildren(field.Content);
        if (!items)
            return std::nullopt;
        auto& target = field.Tag == 0 ? parts.Certificates : parts.Crls;
        for (const Tlv& item : *items) {
            const auto bytes = item.Whole.span();
            target.emplace_back(bytes.begin(), bytes.end());
        }
    }
    return parts;
}

} // namespace

SignedDataParts PartsOf(const PKCS7* message, std::span<const uint8_t> der)
{
    const PKCS7_SIGNED* sign = message->d.sign;
    const int certCount = std::max(sk_X509_num(sign->cert), 0);
    const int crlCount = std::max(sk_X509_CRL_num(sign->crl), 0);
    if (auto walked = WalkSignedData(der);
        walked && walked->Certificates.size() == static_cast<size_t>(certCount) &&
        walked->Crls.size() == static_cast<size_t>(crlCount))
        return std::move(*walked);

    // Not plain DER: OpenSSL's re-encoding of each item is the best we have.
    SignedDataParts parts;
    for (int i = 0; i < certCount; ++i)
        parts.Certificates.push_back(Encode(sk_X509_value(sign->cert, i), i2d_X509));
    for (int i = 0; i < crlCount; ++i)
        parts.Crls.push_back(Encode(sk_X509_CRL_value(sign->crl, i), i2d_X509_CRL));
    return parts;
}

bool LoadSignedData(Store& store, std::span<const uint8_t> der)
{
    if (der.empty() || der.size() > MaxInputSize)
        return false;
    const der::DecodedPkcs7 decoded = der::DecodePkcs7(der);
    const PKCS7* message = decoded.Message.get();
    std::optional<SignedDataParts> walked;
    if (!message || !PKCS7_type_is_signed(message) || !message->d.sign) {
        // OpenSSL refuses a whole message for one certificate it cannot read (a name in a string
        // type it does not know); Windows reads the message, and so do we where DER lets us.
        const auto layout = der::ReadSignedData(der);
        walked = layout && der::IsSignedData(*layout) ? WalkSignedData(der) : std::nullopt;
        ERR_clear_error();
        if (!walked)
            return false;
    }
    const SignedDataParts parts = walked ? std::move(*walked) : PartsOf(message, decoded.Der(der));
    for (const Bytes& cert : parts.Certificates)
        if (auto data = CertData::Decode(cert))
            store.AppendCert(std::move(data));
    for (const Bytes& crl : parts.Crls)
        if (!crl.empty())
            store.AppendCrl(std::make_shared<const Bytes>(crl));
    ERR_clear_error();
    return true;
}

namespace {

bool LoadDer(Store& store, std::span<const uint8_t> der)
{
    // A message in BER (indefinite lengths, as some Windows tools and Java write) has no outer
    // element of definite length; OpenSSL's decoder reads it all the same.
    if (const auto outer = ReadTlv(ByteReader(der), 0)) {
        if (auto cert = CertData::Decode(outer->Whole.span())) {
            store.AppendCert(std::move(cert));
            return true;
        }
    }
    return LoadSignedData(store, der);
}

bool LoadCrl(Store& store, std::span<const uint8_t> der)
{
    const unsigned char* p = der.data();
    const X509CrlPtr crl(d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size())));
    if (!crl || p != der.data() + der.size()) {
        ERR_clear_error();
        return false;
    }
    store.AppendCrl(std::make_shared<const Bytes>(der.begin(), der.end()));
    return true;
}

// One armoured block, read by what its body holds whatever its label says, as Windows reads
// them: exports armour a PKCS #7 message as "CERTIFICATE". True for a certificate or a message;
// a CRL is kept but alone makes no certificate file, in PEM as in DER.
bool LoadPemBlock(Store& store, std::string_view label, std::span<const uint8_t> der)
{
    if (auto cert = CertData::Decode(der)) {
        store.AppendCert(std::move(cert));
        return true;
    }
    if (LoadSignedData(store, der))
        return true;
    if (LoadCrl(store, der))
        return false;
    if (label == "TRUSTED CERTIFICATE") {
        // OpenSSL's trust settings follow the certificate.
        const auto first = ReadTlv(ByteReader(der), 0);
        if (auto cert = first ? CertData::Decode(first->Whole.span()) : nullptr) {
            store.AppendCert(std::move(cert));
            return true;
        }
    }
    return false;
}

bool LoadPem(Store& store, std::string_view text)
{
    bool found = false;
    pem::ForEachBlock(text, [&](const pem::Block& block) {
        const auto der = Base64Decode(block.Body);
        if (der && !der->empty())
            found = LoadPemBlock(store, block.Label, *der) || found;
    });
    return found;
}

} // namespace

bool LoadCertificateFile(Store& store, std::span<const uint8_t> bytes)
{
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        bytes = bytes.subspan(3);
    if (bytes.empty() || bytes.size() > MaxInputSize)
        return false;
    // A text may begin with "0" too: what is not DER is read as text.
    if (bytes[0] == 0x30 && LoadDer(store, bytes))
        return true;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (LoadPem(store, text))
        return true;
    if (text.find("-----BEGIN ") != std::string_view::npos)
        return false;
    const auto der = Base64Decode(text);
    return der && !der->empty() && (*der)[0] == 0x30 && LoadDer(store, *der);
}

// ---- comparisons ----

namespace {

// Significant bytes of a little-endian two's-complement integer.
std::span<const uint8_t> Significant(const CRYPT_INTEGER_BLOB& blob)
{
    if (!blob.pbData)
        return {};
    size_t n = blob.cbData;
    while (n > 1) {
        const uint8_t top = blob.pbData[n - 1];
        const uint8_t next = blob.pbData[n - 2];
        if ((top == 0x00 && (next & 0x80) == 0) || (top == 0xFF && (next & 0x80) != 0))
            --n;
        else
            break;
    }
    return {blob.pbData, n};
}

} // namespace

bool SameInteger(const CRYPT_INTEGER_BLOB& a, const CRYPT_INTEGER_BLOB& b)
{
    const auto x = Significant(a);
    const auto y = Significant(b);
    return std::equal(x.begin(), x.end(), y.begin(), y.end());
}

bool SameBlob(const CRYPTOAPI_BLOB& a, const CRYPTOAPI_BLOB& b)
{
    if (a.cbData != b.cbData)
        return false;
    return a.cbData == 0 || (a.pbData && b.pbData && std::memcmp(a.pbData, b.pbData, a.cbData) == 0);
}

} // namespace crypt32
