// The object model: decoded certificates shared by the contexts that show them, reference-counted
// store members (certificate and CRL contexts) and reference-counted stores.
//
// References: a context given to a caller holds one reference on its element and one on its store,
// so hCertStore stays valid until the context is freed; a store holds one reference on each of its
// members and drops them when its last reference goes.
#pragma once

#include "platform/crypt32/Asn1.h"
#include "platform/crypt32/Flat.h"

#include <array>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace crypt32 {

// Files and blobs larger than this are refused rather than read.
inline constexpr size_t MaxInputSize = 256u * 1024 * 1024;
// A certificate file (a store opened by file name) larger than this is refused before a byte of it
// is read: the largest real ones, bundles of a whole trust store, hold a few hundred kilobytes.
// The report on one of this size full of certificates (4,500 of them) stays within 64 MiB.
inline constexpr size_t MaxCertificateFileSize = 4u * 1024 * 1024;

using Sha1Digest = std::array<uint8_t, 20>;

// One certificate: its exact DER and its fully decoded CERT_INFO. Immutable once made.
class CertData {
public:
    // Exactly one DER certificate, every byte used; nullptr when OpenSSL or we cannot read it.
    static std::shared_ptr<const CertData> Decode(std::span<const uint8_t> der);

    [[nodiscard]] const Bytes& Der() const { return FDer; }
    [[nodiscard]] CERT_INFO* Info() const { return FInfo.As<CERT_INFO>(); }
    [[nodiscard]] const Sha1Digest& Sha1() const { return FSha1; }

private:
    CertData() = default;
    Bytes FDer;
    FlatBlock FInfo;
    Sha1Digest FSha1{};
};

[[nodiscard]] const CERT_EXTENSION* FindExtension(const CERT_INFO* info, std::string_view oid);

class Store;

class Element {
public:
    Element(const Element&) = delete;
    Element& operator=(const Element&) = delete;
    void AddRef() { FRefs.fetch_add(1, std::memory_order_relaxed); }
    void Release()
    {
        if (FRefs.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete this;
    }
    [[nodiscard]] Store* Owner() const { return FOwner; }
    [[nodiscard]] size_t Index() const { return FIndex; }

protected:
    Element(Store* owner, size_t index) : FOwner(owner), FIndex(index) {}
    virtual ~Element() = default;

private:
    std::atomic<uint32_t> FRefs{1};
    Store* FOwner;
    size_t FIndex;
};

class CertElement;
class CrlElement;

// The caller sees Context; the rest lets us find our way back from the pointer it hands us.
struct CertHandle {
    CERT_CONTEXT Context;
    CertElement* Self;
    uint32_t Magic;
};
struct CrlHandle {
    CRL_CONTEXT Context;
    CrlElement* Self;
    uint32_t Magic;
};
static_assert(std::is_standard_layout_v<CertHandle> && std::is_standard_layout_v<CrlHandle>);

using PropertyMap = std::map<DWORD, Bytes>;

class CertElement final : public Element {
public:
    CertElement(Store* owner, size_t index, std::shared_ptr<const CertData> data);

    [[nodiscard]] static CertElement* From(PCCERT_CONTEXT context);
    [[nodiscard]] PCCERT_CONTEXT Context() const { return &FHandle.Context; }
    [[nodiscard]] const CertData& Data() const { return *FData; }
    [[nodiscard]] const std::shared_ptr<const CertData>& SharedData() const { return FData; }

    [[nodiscard]] std::optional<Bytes> Property(DWORD id) const;
    void SetProperty(DWORD id, std::optional<Bytes> value);
    [[nodiscard]] PropertyMap Properties() const;
    // Adds the properties that this element does not have yet.
    void MergeProperties(const PropertyMap& properties);
    void ReplaceProperties(PropertyMap properties);

private:
    ~CertElement() override;
    CertHandle FHandle;
    std::shared_ptr<const CertData> FData;
    mutable std::mutex FLock;
    PropertyMap FProperties;
};

class CrlElement final : public Element {
public:
    CrlElement(Store* owner, size_t index, std::shared_ptr<const Bytes> der);
    [[nodiscard]] static CrlElement* From(PCCRL_CONTEXT context);
    [[nodiscard]] PCCRL_CONTEXT Context() const { return &FHandle.Context; }
    [[nodiscard]] const Bytes& Der() const { return *FDer; }

private:
    ~CrlElement() override;
    CrlHandle FHandle;
    std::shared_ptr<const Bytes> FDer;
};

class Store {
public:
    // A new empty store with one reference, the caller's.
    static Store* New();
    [[nodiscard]] static Store* From(HCERTSTORE handle);
    [[nodiscard]] HCERTSTORE Handle() { return this; }

    void AddRef() { FRefs.fetch_add(1, std::memory_order_relaxed); }
    // Returns the references left.
    uint64_t Release();

    // Appends a member (the store's reference only).
    CertElement* AppendCert(std::shared_ptr<const CertData> data, PropertyMap properties = {});
    void AppendCrl(std::shared_ptr<const Bytes> der);

    // CertAddCertificateContextToStore's dispositions; out (optional) gets a caller reference.
    BOOL Add(const std::shared_ptr<const CertData>& data, const PropertyMap& properties, DWORD disposition,
             PCCERT_CONTEXT* out);

    // The first member after prev (from the start when null) that matches, with a caller reference.
    CertElement* NextCert(const CertElement* prev, const std::function<bool(const CertElement&)>& match);
    CrlElement* NextCrl(const CrlElement* prev);

    [[nodiscard]] std::vector<std::shared_ptr<const CertData>> Certificates() const;
    [[nodiscard]] std::vector<Bytes> Crls() const;
    [[nodiscard]] size_t CertCount() const;

private:
    Store() = default;
    ~Store();
    static constexpr uint32_t StoreMagic = 0x43535452; // "CSTR"
    uint32_t FMagic = StoreMagic;
    std::atomic<uint64_t> FRefs{1};
    mutable std::mutex FLock;
    std::vector<CertElement*> FCerts;
    std::vector<CrlElement*> FCrls;
};

// A context for the caller: one reference on the element, one on its store.
PCCERT_CONTEXT Acquire(CertElement* element);
void ReleaseContext(CertElement* element);
void ReleaseCrlContext(CrlElement* element);

// Loading. Each returns false when the bytes are not of that form; what was found is appended.
// A PKCS #7 SignedData (ContentInfo; trailing bytes after it are ignored): certificates and CRLs in
// message order.
bool LoadSignedData(Store& store, std::span<const uint8_t> der);
// A certificate file's contents: DER certificate, DER PKCS #7, PEM blocks, bare Base64.
bool LoadCertificateFile(Store& store, std::span<const uint8_t> bytes);

// The certificates and CRLs of a message opened with CryptMsgOpenToDecode; false when the handle is
// not a decoded SignedData.
bool LoadFromMessage(Store& store, HCRYPTMSG message);

// The exact DER of the certificates and CRLs a SignedData carries, in message order.
struct SignedDataParts {
    std::vector<Bytes> Certificates;
    std::vector<Bytes> Crls;
};
[[nodiscard]] SignedDataParts PartsOf(const PKCS7* message, std::span<const uint8_t> der);

// CERT_KEY_PROV_INFO_PROP_ID as we keep it (a CRYPT_KEY_PROV_INFO's fields, packed).
[[nodiscard]] Bytes PackKeyProvInfo(std::u16string_view container, std::u16string_view provider, DWORD provType,
                                    DWORD flags, DWORD keySpec);

// Enhanced key usage: the OIDs of a DER ExtendedKeyUsage, and CERT_ENHKEY_USAGE in one flat buffer.
[[nodiscard]] std::optional<std::vector<std::string>> DecodeEnhancedKeyUsage(std::span<const uint8_t> der);
BOOL CopyUsageOut(const std::vector<std::string>& oids, void* out, DWORD* pcb);

// Compares integers kept least significant byte first, ignoring sign-extension bytes.
[[nodiscard]] bool SameInteger(const CRYPT_INTEGER_BLOB& a, const CRYPT_INTEGER_BLOB& b);
[[nodiscard]] bool SameBlob(const CRYPTOAPI_BLOB& a, const CRYPTOAPI_BLOB& b);

} // namespace crypt32
