// PFXImportCertStore: the certificates of a PKCS #12 container, in container order, with the
// private-key marking and friendly names Windows gives them.
#include "platform/crypt32/Objects.h"

#include "platform/common/WinStr.h"

#include <openssl/err.h>
#include <openssl/objects.h>

#include <cstring>

using namespace crypt32;

namespace {

// Not in winerror.h: the password does not open the container.
constexpr DWORD ErrorInvalidPassword = 86;
// Bags inside bags: real containers nest at most once.
constexpr int MaxBagDepth = 4;
constexpr DWORD ProvRsaFull = 1;
constexpr DWORD AtKeyExchange = 1;

struct Password {
    const char* Text; // null: the absent password, which is not the same as the empty one
    int Length;
};

struct KeyEntry {
    Bytes LocalKeyId;
    EvpPkeyPtr Key;
    std::u16string FriendlyName;
};

struct CertEntry {
    Bytes Der;
    Bytes LocalKeyId;
    std::u16string FriendlyName;
};

struct Contents {
    std::vector<CertEntry> Certs;
    std::vector<KeyEntry> Keys;
};

Bytes LocalKeyId(const PKCS12_SAFEBAG* bag)
{
    const ASN1_TYPE* id = PKCS12_SAFEBAG_get0_attr(bag, NID_localKeyID);
    if (!id || id->type != V_ASN1_OCTET_STRING)
        return {};
    const ASN1_OCTET_STRING* octets = id->value.octet_string;
    return Bytes(octets->data, octets->data + octets->length);
}

std::u16string FriendlyName(const PKCS12_SAFEBAG* bag)
{
    char* name = PKCS12_get_friendlyname(const_cast<PKCS12_SAFEBAG*>(bag));
    if (!name)
        return {};
    std::u16string text = winstr::FromUtf8(name);
    OPENSSL_free(name);
    return text;
}

// The certificate's exact bytes: SafeBag { bagId, [0] { CertBag { certId, [0] { OCTET STRING } } } }.
// OpenSSL offers the certificate only decoded, and re-encoding could change its thumbprint.
std::optional<Bytes> CertificateOfBag(const PKCS12_SAFEBAG* bag)
{
    const Bytes encoded = Encode(bag, i2d_PKCS12_SAFEBAG);
    const auto safeBag = ReadTlv(ByteReader(encoded), 0);
    const auto bagFields = safeBag ? ReadChildren(safeBag->Content) : std::nullopt;
    if (!bagFields || bagFields->size() < 2)
        return std::nullopt;
    const auto certBag = ReadTlv((*bagFields)[1].Content, 0);
    const auto certFields = certBag ? ReadChildren(certBag->Content) : std::nullopt;
    if (!certFields || certFields->size() < 2)
        return std::nullopt;
    const auto octets = ReadTlv((*certFields)[1].Content, 0);
    if (!octets || octets->Tag != TagOctetString || octets->Constructed)
        return std::nullopt;
    const auto bytes = octets->Content.span();
    return Bytes(bytes.begin(), bytes.end());
}

// False when a bag that should open does not: a wrong password or a damaged container.
bool ReadBags(const STACK_OF(PKCS12_SAFEBAG) * bags, const Password& password, int depth, Contents& out)
{
    if (depth > MaxBagDepth)
        return false;
    const int count = sk_PKCS12_SAFEBAG_num(bags);
    for (int i = 0; i < count; ++i) {
        const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
        switch (PKCS12_SAFEBAG_get_nid(bag)) {
        case NID_certBag: {
            if (PKCS12_SAFEBAG_get_bag_nid(bag) != NID_x509Certificate)
                break;
            auto der = CertificateOfBag(bag);
            if (!der)
                return false;
            out.Certs.push_back({std::move(*der), LocalKeyId(bag), FriendlyName(bag)});
            break;
        }
        case NID_keyBag: {
            const PKCS8_PRIV_KEY_INFO* info = PKCS12_SAFEBAG_get0_p8inf(bag);
            EvpPkeyPtr key(info ? EVP_PKCS82PKEY(info) : nullptr);
            if (!key)
                return false;
            out.Keys.push_back({LocalKeyId(bag), std::move(key), FriendlyName(bag)});
            break;
        }
        case NID_pkcs8ShroudedKeyBag: {
            const Pkcs8Ptr info(PKCS12_decrypt_skey(bag, password.Text, password.Length));
            EvpPkeyPtr key(info ? EVP_PKCS82PKEY(info.get()) : nullptr);
            if (!key)
                return false;
            out.Keys.push_back({LocalKeyId(bag), std::move(key), FriendlyName(bag)});
            break;
        }
        case NID_safeContentsBag:
            if (!ReadBags(PKCS12_SAFEBAG_get0_safes(bag), password, depth + 1, out))
                return false;
            break;
        default: break; // CRL and secret bags carry nothing we show
        }
    }
    return true;
}

std::optional<Contents> ReadContainer(PKCS12* container, const Password& password)
{
    if (PKCS12_mac_present(container) && !PKCS12_verify_mac(container, password.Text, password.Length))
        return std::nullopt;
    const AuthSafesPtr safes(PKCS12_unpack_authsafes(container));
    if (!safes)
        return std::nullopt;
    Contents contents;
    const int count = sk_PKCS7_num(safes.get());
    for (int i = 0; i < count; ++i) {
        PKCS7* safe = sk_PKCS7_value(safes.get(), i);
        SafeBagsPtr bags;
        switch (OBJ_obj2nid(safe->type)) {
        case NID_pkcs7_data: bags.reset(PKCS12_unpack_p7data(safe)); break;
        case NID_pkcs7_encrypted: bags.reset(PKCS12_unpack_p7encdata(safe, password.Text, password.Length)); break;
        default: continue; // public-key protected safes need a key we do not have
        }
        if (!bags || !ReadBags(bags.get(), password, 0, contents))
            return std::nullopt;
    }
    return contents;
}

// The key that belongs to a certificate: by localKeyId, else by comparing public keys.
const KeyEntry* KeyOf(const CertEntry& cert, const std::vector<KeyEntry>& keys)
{
    if (!cert.LocalKeyId.empty())
        for (const KeyEntry& key : keys)
            if (key.LocalKeyId == cert.LocalKeyId)
                return &key;
    if (keys.empty())
        return nullptr;
    const unsigned char* p = cert.Der.data();
    const X509Ptr x(d2i_X509(nullptr, &p, static_cast<long>(cert.Der.size())));
    if (!x)
        return nullptr;
    for (const KeyEntry& key : keys)
        if (X509_check_private_key(x.get(), key.Key.get()) == 1)
            return &key;
    ERR_clear_error();
    return nullptr;
}

Bytes WideProperty(std::u16string_view text)
{
    Bytes out;
    for (const char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::u16string ContainerName(const Sha1Digest& thumbprint)
{
    static constexpr char Hex[] = "0123456789abcdef";
    std::u16string name = u"tessera-pfx-";
    for (const uint8_t b : thumbprint) {
        name += static_cast<char16_t>(Hex[b >> 4]);
        name += static_cast<char16_t>(Hex[b & 0xF]);
    }
    return name;
}

HCERTSTORE MakeStore(const Contents& contents)
{
    Store* store = Store::New();
    for (const CertEntry& cert : contents.Certs) {
        auto data = CertData::Decode(cert.Der);
        if (!data)
            continue;
        PropertyMap properties;
        const KeyEntry* key = KeyOf(cert, contents.Keys);
        const std::u16string& name = !cert.FriendlyName.empty() || !key ? cert.FriendlyName : key->FriendlyName;
        if (!name.empty())
            properties[CERT_FRIENDLY_NAME_PROP_ID] = WideProperty(name);
        if (key)
            properties[CERT_KEY_PROV_INFO_PROP_ID] =
                PackKeyProvInfo(ContainerName(data->Sha1()), u"Microsoft Enhanced Cryptographic Provider v1.0",
                                ProvRsaFull, 0, AtKeyExchange);
        store->AppendCert(std::move(data), std::move(properties));
    }
    return store->Handle();
}

} // namespace

extern "C" {

WINAPI_EXPORT HCERTSTORE WINAPI PFXImportCertStore(CRYPT_DATA_BLOB* pPFX, LPCWSTR szPassword, DWORD dwFlags)
{
    if (!pPFX || !pPFX->pbData || pPFX->cbData == 0)
        return FailNull<void>(E_INVALIDARG);
    if (pPFX->cbData > MaxInputSize)
        return FailNull<void>(CRYPT_E_ASN1_LARGE);

    const LegacyContextScope legacy;
    const unsigned char* p = pPFX->pbData;
    const Pkcs12Ptr container(d2i_PKCS12(nullptr, &p, static_cast<long>(pPFX->cbData)));
    if (!container)
        return FailNull<void>(TakeOpenSslError(ErrorCode(CRYPT_E_ASN1_BADTAG)));

    // An empty password may have been made as the empty text or as no password at all: Windows
    // tries both, and so do we.
    const std::string text = winstr::ToUtf8(winstr::View(szPassword));
    std::vector<Password> candidates;
    if (text.empty())
        candidates = {{"", 0}, {nullptr, 0}};
    else
        candidates = {{text.c_str(), static_cast<int>(text.size())}};

    for (const Password& password : candidates) {
        const auto contents = ReadContainer(container.get(), password);
        ERR_clear_error();
        if (contents)
            return MakeStore(*contents);
    }
    return FailNull<void>(ErrorInvalidPassword);
}

} // extern "C"
