// CryptDecodeObject for the structures the program reads out of signatures.
#include "platform/crypt32/Objects.h"

#include <openssl/asn1t.h>
#include <openssl/err.h>

#include <cstring>
#include <string_view>

// Authenticode's publisher information (SpcSpOpusInfo) as OpenSSL templates:
//   SpcString ::= CHOICE { unicode [0] IMPLICIT BMPString, ascii [1] IMPLICIT IA5String }
//   SpcSerializedObject ::= SEQUENCE { classId OCTET STRING, serializedData OCTET STRING }
//   SpcLink ::= CHOICE { url [0] IMPLICIT IA5String, moniker [1] IMPLICIT SpcSerializedObject,
//                        file [2] EXPLICIT SpcString }
//   SpcSpOpusInfo ::= SEQUENCE { programName [0] EXPLICIT SpcString OPTIONAL,
//                                moreInfo [1] EXPLICIT SpcLink OPTIONAL,
//                                publisherInfo [2] EXPLICIT SpcLink OPTIONAL }
// publisherInfo is what Windows' own encoder writes after moreInfo; reading it costs nothing.
namespace {

struct SpcString {
    int type;
    union {
        ASN1_BMPSTRING* unicode;
        ASN1_IA5STRING* ascii;
    } value;
};

struct SpcSerializedObject {
    ASN1_OCTET_STRING* classId;
    ASN1_OCTET_STRING* serializedData;
};

struct SpcLink {
    int type;
    union {
        ASN1_IA5STRING* url;
        SpcSerializedObject* moniker;
        SpcString* file;
    } value;
};

struct SpcSpOpusInfo {
    SpcString* programName;
    SpcLink* moreInfo;
    SpcLink* publisherInfo;
};

DECLARE_ASN1_ITEM(SpcString)
DECLARE_ASN1_ITEM(SpcSerializedObject)
DECLARE_ASN1_ITEM(SpcLink)
DECLARE_ASN1_ITEM(SpcSpOpusInfo)

ASN1_CHOICE(SpcString) = {
    ASN1_IMP(SpcString, value.unicode, ASN1_BMPSTRING, 0),
    ASN1_IMP(SpcString, value.ascii, ASN1_IA5STRING, 1),
} ASN1_CHOICE_END(SpcString)

ASN1_SEQUENCE(SpcSerializedObject) = {
    ASN1_SIMPLE(SpcSerializedObject, classId, ASN1_OCTET_STRING),
    ASN1_SIMPLE(SpcSerializedObject, serializedData, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(SpcSerializedObject)

ASN1_CHOICE(SpcLink) = {
    ASN1_IMP(SpcLink, value.url, ASN1_IA5STRING, 0),
    ASN1_IMP(SpcLink, value.moniker, SpcSerializedObject, 1),
    ASN1_EXP(SpcLink, value.file, SpcString, 2),
} ASN1_CHOICE_END(SpcLink)

ASN1_SEQUENCE(SpcSpOpusInfo) = {
    ASN1_EXP_OPT(SpcSpOpusInfo, programName, SpcString, 0),
    ASN1_EXP_OPT(SpcSpOpusInfo, moreInfo, SpcLink, 1),
    ASN1_EXP_OPT(SpcSpOpusInfo, publisherInfo, SpcLink, 2),
} ASN1_SEQUENCE_END(SpcSpOpusInfo)

SpcSpOpusInfo* d2i_SpcSpOpusInfo(SpcSpOpusInfo** out, const unsigned char** in, long length)
{
    return reinterpret_cast<SpcSpOpusInfo*>(
        ASN1_item_d2i(reinterpret_cast<ASN1_VALUE**>(out), in, length, ASN1_ITEM_rptr(SpcSpOpusInfo)));
}

void SpcSpOpusInfo_free(SpcSpOpusInfo* info)
{
    ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(info), ASN1_ITEM_rptr(SpcSpOpusInfo));
}

} // namespace

using namespace crypt32;

namespace {

using OpusInfoPtr = std::unique_ptr<SpcSpOpusInfo, OsslFree<SpcSpOpusInfo_free>>;
using SignerInfoPtr = Pkcs7SignerInfoPtr;

constexpr DWORD DecodeAllocFlag = 0x8000;
constexpr char OidSigningTime[] = "1.2.840.113549.1.9.5";
constexpr char OidKeyUsage[] = "2.5.29.15";

std::span<const uint8_t> StringBytes(const ASN1_STRING* s)
{
    return {ASN1_STRING_get0_data(s), static_cast<size_t>(ASN1_STRING_length(s))};
}

std::u16string SpcStringText(const SpcString* s)
{
    if (!s)
        return {};
    return s->type == 0 ? BmpText(StringBytes(s->value.unicode)) : Latin1Text(StringBytes(s->value.ascii));
}

void WriteLink(FlatBuilder& b, size_t slot, const SpcLink* link)
{
    if (!link)
        return;
    const size_t off = b.New<SPC_LINK>();
    b.Link(slot, off);
    switch (link->type) {
    case 0:
        b.Put(off + offsetof(SPC_LINK, dwLinkChoice), SPC_URL_LINK_CHOICE);
        b.WStringPointer(off + offsetof(SPC_LINK, pwszUrl), Latin1Text(StringBytes(link->value.url)));
        break;
    case 1: {
        b.Put(off + offsetof(SPC_LINK, dwLinkChoice), SPC_MONIKER_LINK_CHOICE);
        const size_t moniker = off + offsetof(SPC_LINK, Moniker);
        const auto classId = StringBytes(link->value.moniker->classId);
        for (size_t i = 0; i < std::min<size_t>(classId.size(), 16); ++i)
            b.Put(moniker + offsetof(SPC_SERIALIZED_OBJECT, ClassId) + i, classId[i]);
        b.Blob(moniker + offsetof(SPC_SERIALIZED_OBJECT, SerializedData), StringBytes(link->value.moniker->serializedData));
        break;
    }
    default:
        b.Put(off + offsetof(SPC_LINK, dwLinkChoice), SPC_FILE_LINK_CHOICE);
        b.WStringPointer(off + offsetof(SPC_LINK, pwszFile), SpcStringText(link->value.file));
        break;
    }
}

// d2i over all of the bytes; nullptr when they are not exactly one value.
template <typename T, typename D2i, typename Free>
std::unique_ptr<T, Free> DecodeWhole(std::span<const uint8_t> der, D2i d2i)
{
    const unsigned char* p = der.data();
    std::unique_ptr<T, Free> value(d2i(nullptr, &p, static_cast<long>(der.size())));
    if (!value || p != der.data() + der.size()) {
        ERR_clear_error();
        return nullptr;
    }
    return value;
}

BOOL DecodeOpusInfo(std::span<const uint8_t> der, void* out, DWORD* pcb)
{
    const auto info = DecodeWhole<SpcSpOpusInfo, decltype(&d2i_SpcSpOpusInfo), OsslFree<SpcSpOpusInfo_free>>(
        der, d2i_SpcSpOpusInfo);
    if (!info)
        return FailBool(CRYPT_E_ASN1_BADTAG);
    FlatBuilder b;
    const size_t off = b.New<SPC_SP_OPUS_INFO>();
    if (info->programName)
        b.WStringPointer(off + offsetof(SPC_SP_OPUS_INFO, pwszProgramName), SpcStringText(info->programName));
    WriteLink(b, off + offsetof(SPC_SP_OPUS_INFO, pMoreInfo), info->moreInfo);
    WriteLink(b, off + offsetof(SPC_SP_OPUS_INFO, pPublisherInfo), info->publisherInfo);
    return b.CopyOut(out, pcb);
}

BOOL DecodeTime(std::span<const uint8_t> der, void* out, DWORD* pcb)
{
    const auto time = FileTimeOfDer(der);
    if (!time)
        return FailBool(CRYPT_E_ASN1_BADTAG);
    const auto* raw = reinterpret_cast<const uint8_t*>(&*time);
    return CopyBytesOut(std::span<const uint8_t>(raw, sizeof(FILETIME)), out, pcb);
}

BOOL DecodeSignerInfo(std::span<const uint8_t> der, void* out, DWORD* pcb)
{
    const auto signer = DecodeWhole<PKCS7_SIGNER_INFO, decltype(&d2i_PKCS7_SIGNER_INFO),
                                    OsslFree<PKCS7_SIGNER_INFO_free>>(der, d2i_PKCS7_SIGNER_INFO);
    const auto fields = signer ? SignerOf(signer.get()) : std::nullopt;
    if (!fields)
        return FailBool(CRYPT_E_ASN1_BADTAG);
    FlatBuilder b;
    WriteSignerInfo(b, *fields);
    return b.CopyOut(out, pcb);
}

BOOL DecodeUsage(std::span<const uint8_t> der, void* out, DWORD* pcb)
{
    const auto oids = DecodeEnhancedKeyUsage(der);
    if (!oids)
        return FailBool(CRYPT_E_ASN1_BADTAG);
    return CopyUsageOut(*oids, out, pcb);
}

BOOL DecodeKeyUsage(std::span<const uint8_t> der, void* out, DWORD* pcb)
{
    const auto bits = DecodeWhole<ASN1_BIT_STRING, decltype(&d2i_ASN1_BIT_STRING), OsslFree<ASN1_BIT_STRING_free>>(
        der, d2i_ASN1_BIT_STRING);
    if (!bits)
        return FailBool(CRYPT_E_ASN1_BADTAG);
    FlatBuilder b;
    const size_t off = b.New<CRYPT_BIT_BLOB>();
    b.Put(off + offsetof(CRYPT_BIT_BLOB, cbData), static_cast<DWORD>(bits->length));
    if (bits->length > 0)
        b.Link(off + offsetof(CRYPT_BIT_BLOB, pbData), b.Bytes(StringBytes(bits.get())));
    const DWORD unused = (bits->flags & ASN1_STRING_FLAG_BITS_LEFT) != 0 ? static_cast<DWORD>(bits->flags & 7) : 0;
    b.Put(off + offsetof(CRYPT_BIT_BLOB, cUnusedBits), unused);
    return b.CopyOut(out, pcb);
}

} // namespace

extern "C" {

WINAPI_EXPORT BOOL WINAPI CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE* pbEncoded,
                                            DWORD cbEncoded, DWORD dwFlags, void* pvStructInfo, DWORD* pcbStructInfo)
{
    if (!lpszStructType || !pcbStructInfo || (!pbEncoded && cbEncoded != 0) || (dwFlags & DecodeAllocFlag) != 0)
        return FailBool(E_INVALIDARG);
    if (cbEncoded == 0)
        return FailBool(CRYPT_E_ASN1_EOD);
    if (cbEncoded > MaxInputSize)
        return FailBool(CRYPT_E_ASN1_LARGE);
    const std::span<const uint8_t> der(pbEncoded, cbEncoded);

    const auto number = reinterpret_cast<uintptr_t>(lpszStructType);
    if (number <= 0xFFFF) {
        switch (number) {
        case StructTypeUtcTime: return DecodeTime(der, pvStructInfo, pcbStructInfo);
        case StructTypeSignerInfo: return DecodeSignerInfo(der, pvStructInfo, pcbStructInfo);
        case StructTypeEnhancedKeyUsage: return DecodeUsage(der, pvStructInfo, pcbStructInfo);
        case StructTypeKeyUsage: return DecodeKeyUsage(der, pvStructInfo, pcbStructInfo);
        default: break;
        }
    } else {
        const std::string_view oid(lpszStructType);
        if (oid == SPC_SP_OPUS_INFO_OBJID)
            return DecodeOpusInfo(der, pvStructInfo, pcbStructInfo);
        if (oid == OidSigningTime)
            return DecodeTime(der, pvStructInfo, pcbStructInfo);
        if (oid == szOID_ENHANCED_KEY_USAGE)
            return DecodeUsage(der, pvStructInfo, pcbStructInfo);
        if (oid == OidKeyUsage)
            return DecodeKeyUsage(der, pvStructInfo, pcbStructInfo);
    }
    // What Windows says when no decoder is installed for the type.
    return FailBool(ERROR_FILE_NOT_FOUND);
}

} // extern "C"
