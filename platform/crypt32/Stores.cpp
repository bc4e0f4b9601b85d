// Stores and certificate contexts: opening, enumerating, finding, adding, properties, saving.
#include "platform/crypt32/Objects.h"

#include "platform/common/FileSource.h"
#include "platform/common/WinStr.h"
#include "platform/kernel32/Handles.h"

#include <openssl/err.h>
#include <openssl/objects.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace crypt32;

namespace {

// Not in winerror.h: CertCloseStore's answer under CERT_CLOSE_STORE_CHECK_FLAG while contexts are open.
constexpr HRESULT CryptEPendingClose = HR(0x8009200F);
constexpr uintptr_t ProviderFileName = 8;
constexpr uintptr_t ProviderMemory = 2;
constexpr uintptr_t ProviderPkcs7 = 5;
constexpr uintptr_t ProviderMessage = 1;
constexpr DWORD SaveToFile = 1; // CERT_STORE_SAVE_TO_FILE: a HANDLE

// The provider given by number, or by one of the names Windows also accepts.
uintptr_t ProviderId(LPCSTR provider)
{
    const auto id = reinterpret_cast<uintptr_t>(provider);
    if (id <= 0xFFFF)
        return id;
    const std::string_view name(provider);
    if (winstr::EqualsIgnoreAsciiCase(name, "Memory"))
        return ProviderMemory;
    if (winstr::EqualsIgnoreAsciiCase(name, "File"))
        return ProviderFileName;
    if (winstr::EqualsIgnoreAsciiCase(name, "PKCS7"))
        return ProviderPkcs7;
    return 0;
}

HCERTSTORE OpenFileStore(LPCWSTR path)
{
    if (!path || !path[0])
        return FailNull<void>(ERROR_INVALID_PARAMETER);
    errno = 0;
    const auto file = OwnedFile::Open(winstr::ToFileSystem(winstr::View(path)));
    if (!file)
        return FailNull<void>(errno != 0 ? kernel32::ErrorFromErrno(errno) : ERROR_FILE_NOT_FOUND);
    if (file->source().size() > MaxCertificateFileSize)
        return FailNull<void>(CRYPT_E_FILE_ERROR);
    const auto bytes = file->source().ReadRange(0, static_cast<size_t>(file->source().size()));
    if (!bytes)
        return FailNull<void>(CRYPT_E_FILE_ERROR);
    Store* store = Store::New();
    if (!LoadCertificateFile(*store, *bytes)) {
        store->Release();
        return FailNull<void>(CRYPT_E_NO_MATCH);
    }
    return store->Handle();
}

HCERTSTORE OpenPkcs7Store(const void* para)
{
    const auto* blob = static_cast<const CRYPT_DATA_BLOB*>(para);
    if (!blob || (!blob->pbData && blob->cbData != 0))
        return FailNull<void>(E_INVALIDARG);
    Store* store = Store::New();
    if (!LoadSignedData(*store, std::span<const uint8_t>(blob->pbData, blob->cbData))) {
        store->Release();
        return FailNull<void>(CRYPT_E_ASN1_BADTAG);
    }
    return store->Handle();
}

HCERTSTORE OpenMessageStore(const void* para)
{
    Store* store = Store::New();
    if (!LoadFromMessage(*store, const_cast<void*>(para))) {
        store->Release();
        return FailNull<void>(E_INVALIDARG);
    }
    return store->Handle();
}

// What CERT_STORE_ADD_* and CertFind compare: the same encoding.
bool SameEncoding(const CertElement& e, PCCERT_CONTEXT other)
{
    return other && other->pbCertEncoded && e.Data().Der().size() == other->cbCertEncoded &&
           std::memcmp(e.Data().Der().data(), other->pbCertEncoded, other->cbCertEncoded) == 0;
}

Sha1Digest Thumbprint(const CertElement& e)
{
    const auto property = e.Property(CERT_SHA1_HASH_PROP_ID);
    if (property && property->size() == 20) {
        Sha1Digest digest{};
        std::memcpy(digest.data(), property->data(), 20);
        return digest;
    }
    return e.Data().Sha1();
}

// CRYPT_KEY_PROV_INFO as Windows lays it out; wincrypt.h leaves it to the caller.
struct KeyProvInfo {
    LPWSTR pwszContainerName;
    LPWSTR pwszProvName;
    DWORD dwProvType;
    DWORD dwFlags;
    DWORD cProvParam;
    void* rgProvParam;
    DWORD dwKeySpec;
};

BOOL UnpackKeyProvInfo(const Bytes& packed, void* out, DWORD* pcb)
{
    FlatBuilder b;
    const size_t off = b.New<KeyProvInfo>();
    if (packed.size() >= 12) {
        DWORD value = 0;
        std::memcpy(&value, packed.data(), 4);
        b.Put(off + offsetof(KeyProvInfo, dwProvType), value);
        std::memcpy(&value, packed.data() + 4, 4);
        b.Put(off + offsetof(KeyProvInfo, dwFlags), value);
        std::memcpy(&value, packed.data() + 8, 4);
        b.Put(off + offsetof(KeyProvInfo, dwKeySpec), value);
        std::u16string names[2];
        size_t which = 0;
        for (size_t i = 12; i + 1 < packed.size() && which < 2; i += 2) {
            const char16_t c = static_cast<char16_t>(packed[i] | (packed[i + 1] << 8));
            if (c == 0)
                ++which;
            else
                names[which] += c;
        }
        b.WStringPointer(off + offsetof(KeyProvInfo, pwszContainerName), names[0]);
        b.WStringPointer(off + offsetof(KeyProvInfo, pwszProvName), names[1]);
    }
    return b.CopyOut(out, pcb);
}

Bytes ObjectDer(int nid) { return Encode(OBJ_nid2obj(nid), i2d_ASN1_OBJECT); }

// One DER element around content, through OpenSSL's header writer.
std::optional<Bytes> Wrap(int tag, int cls, std::span<const uint8_t> content)
{
    if (content.size() > static_cast<size_t>(INT_MAX) - 16)
        return std::nullopt;
    const int length = static_cast<int>(content.size());
    const int total = ASN1_object_size(1, length, tag);
    if (total <= 0)
        return std::nullopt;
    Bytes out(static_cast<size_t>(total));
    unsigned char* p = out.data();
    ASN1_put_object(&p, 1, length, tag, cls);
    if (!content.empty())
        std::memcpy(p, content.data(), content.size());
    return out;
}

void Append(Bytes& to, std::span<const uint8_t> bytes) { to.insert(to.end(), bytes.begin(), bytes.end()); }

// A SignedData without signers (version 1, no digest algorithms, id-data without content) carrying
// the store's certificates and CRLs exactly as they are and in store order.
std::optional<Bytes> EncodeCertificateBag(const Store& store)
{
    const auto certificates = store.Certificates();
    const auto crls = store.Crls();
    Bytes body = {0x02, 0x01, 0x01, 0x31, 0x00}; // version 1, empty digestAlgorithms
    const auto innerType = Wrap(V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL, ObjectDer(NID_pkcs7_data));
    if (!innerType)
        return std::nullopt;
    Append(body, *innerType);
    if (!certificates.empty()) {
        Bytes items;
        for (const auto& cert : certificates)
            Append(items, cert->Der());
        const auto field = Wrap(0, V_ASN1_CONTEXT_SPECIFIC, items);
        if (!field)
            return std::nullopt;
        Append(body, *field);
    }
    if (!crls.empty()) {
        Bytes items;
        for (const auto& crl : crls)
            Append(items, crl);
        const auto field = Wrap(1, V_ASN1_CONTEXT_SPECIFIC, items);
        if (!field)
            return std::nullopt;
        Append(body, *field);
    }
    Append(body, Bytes{0x31, 0x00}); // no signerInfos
    const auto signedData = Wrap(V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL, body);
    if (!signedData)
        return std::nullopt;
    const auto explicitContent = Wrap(0, V_ASN1_CONTEXT_SPECIFIC, *signedData);
    if (!explicitContent)
        return std::nullopt;
    Bytes contentInfo = ObjectDer(NID_pkcs7_signed);
    Append(contentInfo, *explicitContent);
    return Wrap(V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL, contentInfo);
}

BOOL WriteAll(int fd, const Bytes& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return FailBool(kernel32::ErrorFromErrno(errno));
        done += static_cast<size_t>(n);
    }
    return TRUE;
}

} // namespace

namespace crypt32 {

// Type, flags and key spec, then the two names, each ended by a NUL.
Bytes PackKeyProvInfo(std::u16string_view container, std::u16string_view provider, DWORD provType, DWORD flags,
                      DWORD keySpec)
{
    Bytes out(12);
    std::memcpy(out.data(), &provType, 4);
    std::memcpy(out.data() + 4, &flags, 4);
    std::memcpy(out.data() + 8, &keySpec, 4);
    for (const std::u16string_view text : {container, provider}) {
        for (const char16_t c : text) {
            out.push_back(static_cast<uint8_t>(c & 0xFF));
            out.push_back(static_cast<uint8_t>(c >> 8));
        }
        out.push_back(0);
        out.push_back(0);
    }
    return out;
}

} // namespace crypt32

extern "C" {

WINAPI_EXPORT HCERTSTORE WINAPI CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType,
                                              HCRYPTPROV_LEGACY hCryptProv, DWORD dwFlags, const void* pvPara)
{
    switch (ProviderId(lpszStoreProvider)) {
    case ProviderMemory: return Store::New()->Handle();
    case ProviderFileName: return OpenFileStore(static_cast<LPCWSTR>(pvPara));
    case ProviderPkcs7: return OpenPkcs7Store(pvPara);
    case ProviderMessage: return OpenMessageStore(pvPara);
    default: return FailNull<void>(ERROR_FILE_NOT_FOUND); // what Windows says of an unknown provider
    }
}

WINAPI_EXPORT BOOL WINAPI CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags)
{
    if (!hCertStore)
        return TRUE;
    Store* store = Store::From(hCertStore);
    if (!store)
        return FailBool(E_INVALIDARG);
    // CERT_CLOSE_STORE_FORCE_FLAG is treated as a plain close: contexts still held stay valid.
    const uint64_t left = store->Release();
    if ((dwFlags & CERT_CLOSE_STORE_CHECK_FLAG) != 0 && left > 0)
        return FailBool(CryptEPendingClose);
    return TRUE;
}

WINAPI_EXPORT PCCERT_CONTEXT WINAPI CertEnumCertificatesInStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pPrevCertContext)
{
    return CertFindCertificateInStore(hCertStore, X509_ASN_ENCODING, 0, CERT_FIND_ANY, nullptr, pPrevCertContext);
}

WINAPI_EXPORT PCCERT_CONTEXT WINAPI CertFindCertificateInStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                                               DWORD dwFindFlags, DWORD dwFindType,
                                                               const void* pvFindPara, PCCERT_CONTEXT pPrevCertContext)
{
    Store* store = Store::From(hCertStore);
    CertElement* prev = CertElement::From(pPrevCertContext);
    const auto give_up = [&](DWORD error) {
        if (prev)
            ReleaseContext(prev);
        return FailNull<const CERT_CONTEXT>(error);
    };
    if (!store || (pPrevCertContext && (!prev || prev->Owner() != store)))
        return give_up(ErrorCode(E_INVALIDARG));

    std::function<bool(const CertElement&)> match;
    switch (dwFindType) {
    case CERT_FIND_ANY: match = [](const CertElement&) { return true; }; break;
    case CERT_FIND_HAS_PRIVATE_KEY:
        match = [](const CertElement& e) { return e.Property(CERT_KEY_PROV_INFO_PROP_ID).has_value(); };
        break;
    case CERT_FIND_SHA1_HASH: {
        const auto* hash = static_cast<const CRYPT_HASH_BLOB*>(pvFindPara);
        if (!hash || (!hash->pbData && hash->cbData != 0))
            return give_up(ErrorCode(E_INVALIDARG));
        match = [hash](const CertElement& e) {
            const Sha1Digest digest = Thumbprint(e);
            return hash->cbData == digest.size() && std::memcmp(hash->pbData, digest.data(), digest.size()) == 0;
        };
        break;
    }
    case CERT_FIND_SUBJECT_CERT: {
        const auto* id = static_cast<const CERT_INFO*>(pvFindPara);
        if (!id)
            return give_up(ErrorCode(E_INVALIDARG));
        match = [id](const CertElement& e) {
            const CERT_INFO* info = e.Data().Info();
            return SameBlob(info->Issuer, id->Issuer) && SameInteger(info->SerialNumber, id->SerialNumber);
        };
        break;
    }
    case CERT_FIND_EXISTING: {
        const auto* other = static_cast<PCCERT_CONTEXT>(pvFindPara);
        if (!other)
            return give_up(ErrorCode(E_INVALIDARG));
        match = [other](const CertElement& e) { return SameEncoding(e, other); };
        break;
    }
    default: return give_up(ErrorCode(E_INVALIDARG));
    }

    CertElement* next = store->NextCert(prev, match);
    if (prev)
        ReleaseContext(prev);
    if (!next)
        return FailNull<const CERT_CONTEXT>(CRYPT_E_NOT_FOUND);
    return next->Context();
}

WINAPI_EXPORT PCCERT_CONTEXT WINAPI CertCreateCertificateContext(DWORD dwCertEncodingType, const BYTE* pbCertEncoded,
                                                                 DWORD cbCertEncoded)
{
    if ((dwCertEncodingType & X509_ASN_ENCODING) == 0 || !pbCertEncoded)
        return FailNull<const CERT_CONTEXT>(E_INVALIDARG);
    auto data = CertData::Decode(std::span<const uint8_t>(pbCertEncoded, cbCertEncoded));
    if (!data)
        return FailNull<const CERT_CONTEXT>(CRYPT_E_ASN1_BADTAG);
    // A private store of one: it lives as long as the context does.
    Store* store = Store::New();
    CertElement* element = store->AppendCert(std::move(data));
    const PCCERT_CONTEXT context = Acquire(element);
    store->Release();
    return context;
}

WINAPI_EXPORT PCCERT_CONTEXT WINAPI CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext)
{
    CertElement* element = CertElement::From(pCertContext);
    return element ? Acquire(element) : nullptr;
}

WINAPI_EXPORT BOOL WINAPI CertFreeCertificateContext(PCCERT_CONTEXT pCertContext)
{
    if (CertElement* element = CertElement::From(pCertContext))
        ReleaseContext(element);
    return TRUE;
}

WINAPI_EXPORT BOOL WINAPI CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext,
                                                           DWORD dwAddDisposition, PCCERT_CONTEXT* ppStoreContext)
{
    if (ppStoreContext)
        *ppStoreContext = nullptr;
    Store* store = Store::From(hCertStore);
    const CertElement* element = CertElement::From(pCertContext);
    if (!store || !element)
        return FailBool(E_INVALIDARG);
    return store->Add(element->SharedData(), element->Properties(), dwAddDisposition, ppStoreContext);
}

WINAPI_EXPORT BOOL WINAPI CertAddEncodedCertificateToStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                                           const BYTE* pbCertEncoded, DWORD cbCertEncoded,
                                                           DWORD dwAddDisposition, PCCERT_CONTEXT* ppCertContext)
{
    if (ppCertContext)
        *ppCertContext = nullptr;
    Store* store = Store::From(hCertStore);
    if (!store || !pbCertEncoded)
        return FailBool(E_INVALIDARG);
    const auto data = CertData::Decode(std::span<const uint8_t>(pbCertEncoded, cbCertEncoded));
    if (!data)
        return FailBool(CRYPT_E_ASN1_BADTAG);
    return store->Add(data, {}, dwAddDisposition, ppCertContext);
}

WINAPI_EXPORT PCCRL_CONTEXT WINAPI CertEnumCRLsInStore(HCERTSTORE hCertStore, PCCRL_CONTEXT pPrevCrlContext)
{
    Store* store = Store::From(hCertStore);
    CrlElement* prev = CrlElement::From(pPrevCrlContext);
    if (!store || (pPrevCrlContext && (!prev || prev->Owner() != store))) {
        if (prev)
            ReleaseCrlContext(prev);
        return FailNull<const CRL_CONTEXT>(E_INVALIDARG);
    }
    CrlElement* next = store->NextCrl(prev);
    if (prev)
        ReleaseCrlContext(prev);
    if (!next)
        return FailNull<const CRL_CONTEXT>(CRYPT_E_NOT_FOUND);
    return next->Context();
}

WINAPI_EXPORT BOOL WINAPI CertFreeCRLContext(PCCRL_CONTEXT pCrlContext)
{
    if (CrlElement* element = CrlElement::From(pCrlContext))
        ReleaseCrlContext(element);
    return TRUE;
}

WINAPI_EXPORT BOOL WINAPI CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                                            void* pvData, DWORD* pcbData)
{
    const CertElement* element = CertElement::From(pCertContext);
    if (!element || !pcbData)
        return FailBool(E_INVALIDARG);
    if (dwPropId == CERT_SHA1_HASH_PROP_ID) {
        const Sha1Digest digest = Thumbprint(*element);
        return CopyBytesOut(digest, pvData, pcbData);
    }
    const auto value = element->Property(dwPropId);
    if (!value)
        return FailBool(CRYPT_E_NOT_FOUND);
    if (dwPropId == CERT_KEY_PROV_INFO_PROP_ID)
        return UnpackKeyProvInfo(*value, pvData, pcbData);
    return CopyBytesOut(*value, pvData, pcbData);
}

WINAPI_EXPORT BOOL WINAPI CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                                            DWORD dwFlags, const void* pvData)
{
    CertElement* element = CertElement::From(pCertContext);
    if (!element || dwPropId == 0)
        return FailBool(E_INVALIDARG);
    if (!pvData) {
        element->SetProperty(dwPropId, std::nullopt);
        return TRUE;
    }
    if (dwPropId == CERT_KEY_PROV_INFO_PROP_ID) {
        const auto* info = static_cast<const KeyProvInfo*>(pvData);
        element->SetProperty(dwPropId, PackKeyProvInfo(winstr::View(info->pwszContainerName),
                                                       winstr::View(info->pwszProvName), info->dwProvType,
                                                       info->dwFlags, info->dwKeySpec));
        return TRUE;
    }
    if (dwPropId == CERT_KEY_CONTEXT_PROP_ID)
        return FailBool(E_NOTIMPL); // no key handles here
    const auto* blob = static_cast<const CRYPT_DATA_BLOB*>(pvData);
    if (!blob->pbData && blob->cbData != 0)
        return FailBool(E_INVALIDARG);
    element->SetProperty(dwPropId, Bytes(blob->pbData, blob->pbData + blob->cbData));
    return TRUE;
}

WINAPI_EXPORT BOOL WINAPI CertCompareCertificate(DWORD dwCertEncodingType, PCERT_INFO pCertId1, PCERT_INFO pCertId2)
{
    if (!pCertId1 || !pCertId2)
        return FALSE;
    return SameBlob(pCertId1->Issuer, pCertId2->Issuer) && SameInteger(pCertId1->SerialNumber, pCertId2->SerialNumber);
}

WINAPI_EXPORT BOOL WINAPI CertSaveStore(HCERTSTORE hCertStore, DWORD dwEncodingType, DWORD dwSaveAs, DWORD dwSaveTo,
                                        void* pvSaveToPara, DWORD dwFlags)
{
    const Store* store = Store::From(hCertStore);
    if (!store || !pvSaveToPara)
        return FailBool(E_INVALIDARG);
    if (dwSaveAs != CERT_STORE_SAVE_AS_PKCS7)
        return FailBool(ERROR_NOT_SUPPORTED);
    const auto der = EncodeCertificateBag(*store);
    if (!der)
        return FailBool(ERROR_NOT_ENOUGH_MEMORY);

    switch (dwSaveTo) {
    case CERT_STORE_SAVE_TO_MEMORY: {
        auto* blob = static_cast<CRYPT_DATA_BLOB*>(pvSaveToPara);
        return CopyBytesOut(*der, blob->pbData, &blob->cbData);
    }
    case CERT_STORE_SAVE_TO_FILENAME_W: {
        const std::string path = winstr::ToFileSystem(winstr::View(static_cast<LPCWSTR>(pvSaveToPara)));
        // A FIFO without a reader is refused at once rather than waited for.
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
        if (fd < 0)
            return FailBool(kernel32::ErrorFromErrno(errno));
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        const BOOL written = WriteAll(fd, *der);
        const DWORD error = GetLastError();
        if (close(fd) != 0 && written)
            return FailBool(kernel32::ErrorFromErrno(errno));
        if (!written)
            SetLastError(error);
        return written;
    }
    case SaveToFile: {
        const int fd = kernel32::DescriptorFromHandle(static_cast<HANDLE>(pvSaveToPara));
        if (fd < 0)
            return FailBool(ERROR_INVALID_HANDLE);
        return WriteAll(fd, *der);
    }
    default: return FailBool(E_INVALIDARG);
    }
}

} // extern "C"
