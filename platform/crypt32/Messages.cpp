// Decoding PKCS #7 messages: CryptMsgOpenToDecode, CryptMsgUpdate, CryptMsgGetParam and friends.
#include "platform/crypt32/Objects.h"

#include "platform/common/SignerCheck.h"

#include <openssl/err.h>
#include <openssl/objects.h>

#include <algorithm>
#include <atomic>
#include <vector>

using namespace crypt32;

namespace {

// Not in winerror.h: a parameter asked for before the message is complete.
constexpr HRESULT CryptEStreamMsgNotReady = HR(0x80091010);

constexpr DWORD MsgData = 1;
constexpr DWORD MsgSigned = 2;
constexpr DWORD MsgEnveloped = 3;
constexpr DWORD MsgSignedAndEnveloped = 4;
constexpr DWORD MsgHashed = 5;
constexpr DWORD MsgEncrypted = 6;

DWORD MessageType(const PKCS7* message)
{
    switch (OBJ_obj2nid(message->type)) {
    case NID_pkcs7_data: return MsgData;
    case NID_pkcs7_signed: return MsgSigned;
    case NID_pkcs7_enveloped: return MsgEnveloped;
    case NID_pkcs7_signedAndEnveloped: return MsgSignedAndEnveloped;
    case NID_pkcs7_digest: return MsgHashed;
    case NID_pkcs7_encrypted: return MsgEncrypted;
    default: return 0;
    }
}

class Message {
public:
    static constexpr uint32_t MessageMagic = 0x434D5347; // "CMSG"

    explicit Message(DWORD expectedType) : FExpectedType(expectedType) {}
    [[nodiscard]] static Message* From(HCRYPTMSG handle)
    {
        auto* message = static_cast<Message*>(handle);
        return message && message->FMagic == MessageMagic ? message : nullptr;
    }
    void AddRef() { FRefs.fetch_add(1, std::memory_order_relaxed); }
    void Release()
    {
        if (FRefs.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete this;
    }

    BOOL Update(const BYTE* data, DWORD size, BOOL final)
    {
        if (FDecoded)
            return FailBool(CRYPT_E_MSG_ERROR);
        if ((!data && size != 0) || size > MaxInputSize - FPending.size())
            return FailBool(E_INVALIDARG);
        FPending.insert(FPending.end(), data, data + size);
        return final ? Decode() : TRUE;
    }

    BOOL GetParam(DWORD param, DWORD index, void* out, DWORD* pcb) const;
    BOOL GetAndVerifySigner(std::span<Store* const> stores, DWORD flags, PCCERT_CONTEXT* signer,
                            DWORD* signerIndex) const;

    [[nodiscard]] bool IsSignedData() const { return FDecoded && FType == MsgSigned; }
    [[nodiscard]] const SignedDataParts& Parts() const { return FParts; }

private:
    ~Message() { FMagic = 0; }

    // rewritten: what OpenSSL decoded, when it is not FEncoded (see der::DecodePkcs7).
    bool TryDecode(std::span<const uint8_t> der, Bytes& rewritten)
    {
        der::DecodedPkcs7 decoded = der::DecodePkcs7(der);
        if (!decoded.Message)
            return false;
        FEncoded.assign(der.data(), der.data() + decoded.Used);
        FMessage = std::move(decoded.Message);
        rewritten = std::move(decoded.Rewritten);
        return true;
    }

    BOOL Decode()
    {
        if (FPending.empty())
            return FailBool(CRYPT_E_ASN1_EOD);
        Bytes rewritten;
        bool ok = TryDecode(FPending, rewritten);
        if (!ok && FExpectedType == MsgSigned) {
            // A SignedData without its ContentInfo, as older senders wrote them.
            ERR_clear_error();
            Bytes wrapped = Encode(OBJ_nid2obj(NID_pkcs7_signed), i2d_ASN1_OBJECT);
            const auto inner = ReadTlv(ByteReader(FPending), 0);
            if (inner) {
                Bytes explicitField(static_cast<size_t>(ASN1_object_size(1, static_cast<int>(inner->Whole.size()), 0)));
                unsigned char* p = explicitField.data();
                ASN1_put_object(&p, 1, static_cast<int>(inner->Whole.size()), 0, V_ASN1_CONTEXT_SPECIFIC);
                std::copy(inner->Whole.span().begin(), inner->Whole.span().end(), p);
                wrapped.insert(wrapped.end(), explicitField.begin(), explicitField.end());
                Bytes contentInfo(static_cast<size_t>(ASN1_object_size(1, static_cast<int>(wrapped.size()), V_ASN1_SEQUENCE)));
                p = contentInfo.data();
                ASN1_put_object(&p, 1, static_cast<int>(wrapped.size()), V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL);
                std::copy(wrapped.begin(), wrapped.end(), p);
                ok = TryDecode(contentInfo, rewritten);
            }
        }
        FPending.clear();
        FPending.shrink_to_fit();
        if (!ok)
            return FailBool(TakeOpenSslError(ErrorCode(CRYPT_E_ASN1_BADTAG)));
        FType = MessageType(FMessage.get());
        if (FType == 0 || (FExpectedType != 0 && FType != FExpectedType)) {
            FMessage.reset();
            return FailBool(CRYPT_E_INVALID_MSG_TYPE);
        }
        if (FType == MsgSigned) {
            if (!FMessage->d.sign || !FMessage->d.sign->contents) {
                FMessage.reset();
                return FailBool(CRYPT_E_ASN1_BADTAG);
            }
            FParts = PartsOf(FMessage.get(), rewritten.empty() ? FEncoded : rewritten);
        }
        FDecoded = true;
        ERR_clear_error();
        return TRUE;
    }

    [[nodiscard]] Bytes Content() const;
    // What the signers' messageDigest covers: the octets of id-data, else the content's value
    // without its tag and length.
    [[nodiscard]] Bytes SignedContent() const;

    uint32_t FMagic = MessageMagic;
    std::atomic<uint32_t> FRefs{1};
    DWORD FExpectedType;
    DWORD FType = 0;
    bool FDecoded = false;
    Bytes FPending;
    Bytes FEncoded;
    Pkcs7Ptr FMessage;
    SignedDataParts FParts;
};

BOOL CopyDword(DWORD value, void* out, DWORD* pcb)
{
    const auto* raw = reinterpret_cast<const uint8_t*>(&value);
    return CopyBytesOut(std::span<const uint8_t>(raw, sizeof value), out, pcb);
}

// What Windows gives as the content: the octets of id-data, else the DER of the content value.
Bytes Message::Content() const
{
    if (FType == MsgData) {
        const ASN1_OCTET_STRING* octets = FMessage->d.data;
        return octets ? Bytes(octets->data, octets->data + octets->length) : Bytes();
    }
    const PKCS7* inner = FMessage->d.sign->contents;
    if (OBJ_obj2nid(inner->type) == NID_pkcs7_data) {
        const ASN1_OCTET_STRING* octets = inner->d.data;
        return octets ? Bytes(octets->data, octets->data + octets->length) : Bytes();
    }
    // The content as the message has it: encapContentInfo's [0] field's value.
    if (const auto layout = der::ReadSignedData(FEncoded); layout && layout->Fields.size() >= 3) {
        const auto encapsulated = ReadChildren(layout->Fields[2].Content);
        if (encapsulated && encapsulated->size() == 2 && (*encapsulated)[1].Class == V_ASN1_CONTEXT_SPECIFIC)
            if (const auto value = ReadTlv((*encapsulated)[1].Content, 0))
                return Bytes(value->Whole.span().begin(), value->Whole.span().end());
    }
    // Else (a BER message) as OpenSSL keeps it, less its wrapper: the [0] field's value.
    const Bytes contentInfo = Encode(inner, i2d_PKCS7);
    const auto outer = ReadTlv(ByteReader(contentInfo), 0);
    const auto fields = outer ? ReadChildren(outer->Content) : std::nullopt;
    if (!fields || fields->size() < 2)
        return {};
    const auto value = (*fields)[1].Content.span();
    return Bytes(value.begin(), value.end());
}

Bytes Message::SignedContent() const
{
    Bytes content = Content();
    if (OBJ_obj2nid(FMessage->d.sign->contents->type) == NID_pkcs7_data)
        return content;
    const auto value = ReadTlv(ByteReader(content), 0);
    if (!value || value->Whole.size() != content.size())
        return {};
    const auto bytes = value->Content.span();
    return Bytes(bytes.begin(), bytes.end());
}

// The certificate among certs that issued signer (its issuer and serial number), or null.
X509* IssuerOf(PKCS7_SIGNER_INFO* signer, STACK_OF(X509) * certs)
{
    if (!signer->issuer_and_serial || !certs)
        return nullptr;
    X509* cert = X509_find_by_issuer_and_serial(certs, signer->issuer_and_serial->issuer,
                                                signer->issuer_and_serial->serial);
    ERR_clear_error();
    return cert;
}

struct X509StackFree {
    void operator()(STACK_OF(X509) * s) const { sk_X509_pop_free(s, X509_free); }
};

BOOL Message::GetAndVerifySigner(std::span<Store* const> stores, DWORD flags, PCCERT_CONTEXT* signerOut,
                                 DWORD* signerIndex) const
{
    if (!FDecoded || FType != MsgSigned)
        return FailBool(CRYPT_E_INVALID_MSG_TYPE);
    // The candidates: the message's own certificates unless only the given stores are trusted,
    // then those of the stores.
    std::unique_ptr<STACK_OF(X509), X509StackFree> candidates(sk_X509_new_null());
    if (!candidates)
        return FailBool(E_OUTOFMEMORY);
    const auto add = [&](std::span<const uint8_t> der) {
        const unsigned char* p = der.data();
        X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
        if (cert && !sk_X509_push(candidates.get(), cert))
            X509_free(cert);
    };
    if ((flags & CMSG_TRUSTED_SIGNER_FLAG) == 0)
        for (const Bytes& der : FParts.Certificates)
            add(der);
    for (const Store* store : stores)
        for (const auto& cert : store->Certificates())
            add(cert->Der());
    ERR_clear_error();

    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(FMessage.get());
    const int count = std::max(sk_PKCS7_SIGNER_INFO_num(signers), 0);
    int first = 0;
    int last = count;
    if ((flags & CMSG_USE_SIGNER_INDEX_FLAG) != 0) {
        if (!signerIndex || *signerIndex >= static_cast<DWORD>(count))
            return FailBool(CRYPT_E_INVALID_INDEX);
        first = static_cast<int>(*signerIndex);
        last = first + 1;
    }
    const Bytes content = SignedContent();
    bool found = false;
    for (int i = first; i < last; ++i) {
        PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(signers, i);
        X509* cert = signer ? IssuerOf(signer, candidates.get()) : nullptr;
        if (!cert)
            continue;
        found = true;
        if ((flags & CMSG_SIGNER_ONLY_FLAG) == 0 && signercheck::Check(signer, cert, content) != signercheck::Outcome::Holds)
            continue;
        if (signerOut) {
            const Bytes der = Encode(cert, i2d_X509);
            *signerOut = der.empty() ? nullptr : CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
            if (!*signerOut)
                return FailBool(E_OUTOFMEMORY);
        }
        if (signerIndex)
            *signerIndex = static_cast<DWORD>(i);
        return TRUE;
    }
    return FailBool(found ? CRYPT_E_NO_TRUSTED_SIGNER : CRYPT_E_SIGNER_NOT_FOUND);
}

BOOL Message::GetParam(DWORD param, DWORD index, void* out, DWORD* pcb) const
{
    if (!pcb)
        return FailBool(E_INVALIDARG);
    if (!FDecoded)
        return FailBool(CryptEStreamMsgNotReady);
    if (param == CMSG_TYPE_PARAM)
        return CopyDword(FType, out, pcb);
    if (param == CMSG_ENCODED_MESSAGE)
        return CopyBytesOut(FEncoded, out, pcb);
    if (param == CMSG_CONTENT_PARAM && FType == MsgData)
        return CopyBytesOut(Content(), out, pcb);
    if (FType != MsgSigned)
        return FailBool(CRYPT_E_INVALID_MSG_TYPE);

    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(FMessage.get());
    const int signerCount = std::max(sk_PKCS7_SIGNER_INFO_num(signers), 0);
    switch (param) {
    case CMSG_CONTENT_PARAM: return CopyBytesOut(Content(), out, pcb);
    case CMSG_INNER_CONTENT_TYPE_PARAM: {
        const std::string oid = OidText(FMessage->d.sign->contents->type);
        const auto* raw = reinterpret_cast<const uint8_t*>(oid.c_str());
        return CopyBytesOut(std::span<const uint8_t>(raw, oid.size() + 1), out, pcb);
    }
    case CMSG_SIGNER_COUNT_PARAM: return CopyDword(static_cast<DWORD>(signerCount), out, pcb);
    case CMSG_SIGNER_INFO_PARAM:
    case CMSG_SIGNER_CERT_INFO_PARAM: {
        if (index >= static_cast<DWORD>(signerCount))
            return FailBool(CRYPT_E_INVALID_INDEX);
        const auto signer = SignerOf(sk_PKCS7_SIGNER_INFO_value(signers, static_cast<int>(index)));
        if (!signer)
            return FailBool(CRYPT_E_ASN1_BADTAG);
        FlatBuilder b;
        if (param == CMSG_SIGNER_INFO_PARAM) {
            WriteSignerInfo(b, *signer);
        } else {
            const size_t info = b.New<CERT_INFO>();
            b.Blob(info + offsetof(CERT_INFO, Issuer), signer->Issuer);
            b.Blob(info + offsetof(CERT_INFO, SerialNumber), signer->Serial);
        }
        return b.CopyOut(out, pcb);
    }
    case CMSG_CERT_COUNT_PARAM: return CopyDword(static_cast<DWORD>(FParts.Certificates.size()), out, pcb);
    case CMSG_CERT_PARAM:
        if (index >= FParts.Certificates.size())
            return FailBool(CRYPT_E_INVALID_INDEX);
        return CopyBytesOut(FParts.Certificates[index], out, pcb);
    case CMSG_CRL_COUNT_PARAM: return CopyDword(static_cast<DWORD>(FParts.Crls.size()), out, pcb);
    case CMSG_CRL_PARAM:
        if (index >= FParts.Crls.size())
            return FailBool(CRYPT_E_INVALID_INDEX);
        return CopyBytesOut(FParts.Crls[index], out, pcb);
    default: return FailBool(E_INVALIDARG);
    }
}

} // namespace

namespace crypt32 {

bool LoadFromMessage(Store& store, HCRYPTMSG handle)
{
    const Message* message = Message::From(handle);
    if (!message || !message->IsSignedData())
        return false;
    for (const Bytes& cert : message->Parts().Certificates)
        if (auto data = CertData::Decode(cert))
            store.AppendCert(std::move(data));
    for (const Bytes& crl : message->Parts().Crls)
        if (!crl.empty())
            store.AppendCrl(std::make_shared<const Bytes>(crl));
    return true;
}

} // namespace crypt32

extern "C" {

WINAPI_EXPORT HCRYPTMSG WINAPI CryptMsgOpenToDecode(DWORD dwMsgEncodingType, DWORD dwFlags, DWORD dwMsgType,
                                                    HCRYPTPROV_LEGACY hCryptProv, PCERT_INFO pRecipientInfo,
                                                    void* pStreamInfo)
{
    // Streaming decode is not offered: callers hand the whole message to CryptMsgUpdate.
    if ((dwMsgEncodingType & PKCS_7_ASN_ENCODING) == 0 || pStreamInfo || dwMsgType > MsgEncrypted)
        return FailNull<void>(E_INVALIDARG);
    return new Message(dwMsgType);
}

WINAPI_EXPORT BOOL WINAPI CryptMsgUpdate(HCRYPTMSG hCryptMsg, const BYTE* pbData, DWORD cbData, BOOL fFinal)
{
    Message* message = Message::From(hCryptMsg);
    if (!message)
        return FailBool(E_INVALIDARG);
    return message->Update(pbData, cbData, fFinal);
}

WINAPI_EXPORT BOOL WINAPI CryptMsgGetParam(HCRYPTMSG hCryptMsg, DWORD dwParamType, DWORD dwIndex, void* pvData,
                                           DWORD* pcbData)
{
    const Message* message = Message::From(hCryptMsg);
    if (!message)
        return FailBool(E_INVALIDARG);
    return message->GetParam(dwParamType, dwIndex, pvData, pcbData);
}

WINAPI_EXPORT BOOL WINAPI CryptMsgGetAndVerifySigner(HCRYPTMSG hCryptMsg, DWORD cSignerStore,
                                                     HCERTSTORE* rghSignerStore, DWORD dwFlags,
                                                     PCCERT_CONTEXT* ppSigner, DWORD* pdwSignerIndex)
{
    if (ppSigner)
        *ppSigner = nullptr;
    const Message* message = Message::From(hCryptMsg);
    if (!message || (cSignerStore > 0 && !rghSignerStore))
        return FailBool(E_INVALIDARG);
    std::vector<Store*> stores;
    for (DWORD i = 0; i < cSignerStore; ++i) {
        Store* store = Store::From(rghSignerStore[i]);
        if (!store)
            return FailBool(E_INVALIDARG);
        stores.push_back(store);
    }
    return message->GetAndVerifySigner(stores, dwFlags, ppSigner, pdwSignerIndex);
}

WINAPI_EXPORT HCRYPTMSG WINAPI CryptMsgDuplicate(HCRYPTMSG hCryptMsg)
{
    Message* message = Message::From(hCryptMsg);
    if (message)
        message->AddRef();
    return message;
}

WINAPI_EXPORT BOOL WINAPI CryptMsgClose(HCRYPTMSG hCryptMsg)
{
    if (Message* message = Message::From(hCryptMsg))
        message->Release();
    return TRUE;
}

} // extern "C"
