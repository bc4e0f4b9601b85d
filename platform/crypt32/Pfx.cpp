// PFXImportCertStore: the certificates of a PKCS #12 container, in container order, with the
// private-key marking and friendly names Windows gives them. A container that asks for more key
// derivation in all than MaxDerivationWork is refused with CRYPT_E_SECURITY_SETTINGS, before any
// derivation where the container shows what it asks for, and as soon as it asks otherwise.
#include "platform/crypt32/Objects.h"

#include "platform/common/WinStr.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cstring>

using namespace crypt32;

namespace {

// Not in winerror.h: the password does not open the container.
constexpr DWORD ErrorInvalidPassword = 86;
// The key derivation one import may spend in all, over the MAC, every safe and every key and every
// password tried, in iterations (a quarter of a second of SHA-1, well under a second even in a
// sanitizer build): real tools write a few thousand iterations per derivation (OpenSSL 2048,
// Windows 2000, Java 10000). A limit per derivation alone would let a container of a thousand
// bags hold the caller for an hour.
constexpr uint64_t MaxDerivationWork = 500'000;
// scrypt's memory, 128 * N * r bytes, at most.
constexpr uint64_t MaxScryptMemory = 64u << 20;
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

enum class Opened { Yes, No, OutOfBounds };

// What is left of the import's derivation work.
class DerivationBudget {
public:
    // False, and nothing taken, when work is more than is left.
    bool Take(uint64_t work)
    {
        if (work > FLeft)
            return false;
        FLeft -= work;
        return true;
    }

private:
    uint64_t FLeft = MaxDerivationWork;
};

using Pbe2ParamPtr = std::unique_ptr<PBE2PARAM, OsslFree<PBE2PARAM_free>>;
using Pbkdf2ParamPtr = std::unique_ptr<PBKDF2PARAM, OsslFree<PBKDF2PARAM_free>>;
using ScryptParamsPtr = std::unique_ptr<SCRYPT_PARAMS, OsslFree<SCRYPT_PARAMS_free>>;
using PbeParamPtr = std::unique_ptr<PBEPARAM, OsslFree<PBEPARAM_free>>;

// A count from the container; an absent one is 1, one that is not a count is out of bounds.
uint64_t CountOf(const ASN1_INTEGER* value)
{
    uint64_t count = 1;
    if (value && ASN1_INTEGER_get_uint64(&count, value) != 1) {
        ERR_clear_error();
        return UINT64_MAX;
    }
    return count;
}

// How much key derivation a password-based algorithm asks for: the iterations of PBKDF2, twice
// those of PKCS #5 and PKCS #12 PBE (a key and an IV are derived), N * r * p of scrypt (or
// UINT64_MAX when it would take more memory than allowed). 0 for anything else, which decryption
// refuses.
uint64_t DerivationWork(const X509_ALGOR* algorithm)
{
    if (!algorithm || !algorithm->parameter)
        return 0;
    if (OBJ_obj2nid(algorithm->algorithm) != NID_pbes2) {
        const PbeParamPtr pbe(
            static_cast<PBEPARAM*>(ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBEPARAM), algorithm->parameter)));
        ERR_clear_error();
        const uint64_t iterations = pbe ? CountOf(pbe->iter) : 0;
        return iterations > UINT64_MAX / 2 ? UINT64_MAX : 2 * iterations;
    }
    const Pbe2ParamPtr pbes2(
        static_cast<PBE2PARAM*>(ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBE2PARAM), algorithm->parameter)));
    ERR_clear_error();
    if (!pbes2 || !pbes2->keyfunc || !pbes2->keyfunc->parameter)
        return 0;
    switch (OBJ_obj2nid(pbes2->keyfunc->algorithm)) {
    case NID_id_pbkdf2: {
        const Pbkdf2ParamPtr kdf(static_cast<PBKDF2PARAM*>(
            ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBKDF2PARAM), pbes2->keyfunc->parameter)));
        ERR_clear_error();
        return kdf ? CountOf(kdf->iter) : 0;
    }
    case NID_id_scrypt: {
        const ScryptParamsPtr kdf(static_cast<SCRYPT_PARAMS*>(
            ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(SCRYPT_PARAMS), pbes2->keyfunc->parameter)));
        ERR_clear_error();
        if (!kdf)
            return 0;
        const uint64_t n = CountOf(kdf->costParameter);
        const uint64_t r = CountOf(kdf->blockSize);
        const uint64_t p = CountOf(kdf->parallelizationParameter);
        if (n > MaxDerivationWork || r > MaxDerivationWork || p > MaxDerivationWork ||
            static_cast<unsigned __int128>(n) * r * 128 > MaxScryptMemory)
            return UINT64_MAX;
        const unsigned __int128 work = static_cast<unsigned __int128>(n) * r * p;
        return work > MaxDerivationWork ? UINT64_MAX : static_cast<uint64_t>(work);
    }
    default: return 0;
    }
}

const X509_ALGOR* ShroudedKeyAlgorithm(const PKCS12_SAFEBAG* bag)
{
    const X509_SIG* shrouded = PKCS12_SAFEBAG_get0_pkcs8(bag);
    const X509_ALGOR* algorithm = nullptr;
    if (shrouded)
        X509_SIG_get0(shrouded, &algorithm, nullptr);
    return algorithm;
}

// The derivation the bags ask for, as far as it can be seen without deriving anything, taken
// from the budget; false when it is more than the budget holds.
bool TakeBagsWork(const STACK_OF(PKCS12_SAFEBAG) * bags, int depth, DerivationBudget& budget)
{
    if (depth > MaxBagDepth)
        return true; // refused as damaged when read
    for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
        const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
        const int type = PKCS12_SAFEBAG_get_nid(bag);
        if (type == NID_pkcs8ShroudedKeyBag && !budget.Take(DerivationWork(ShroudedKeyAlgorithm(bag))))
            return false;
        if (type == NID_safeContentsBag && !TakeBagsWork(PKCS12_SAFEBAG_get0_safes(bag), depth + 1, budget))
            return false;
    }
    return true;
}

// The MAC's iterations and the encryption of every safe and of every key bag in a plain safe:
// what one password costs, as far as the container shows it.
bool ContainerWithinBounds(const PKCS12* container, const STACK_OF(PKCS7) * safes)
{
    DerivationBudget budget;
    if (PKCS12_mac_present(container)) {
        const ASN1_INTEGER* iterations = nullptr;
        PKCS12_get0_mac(nullptr, nullptr, nullptr, &iterations, container);
        if (!budget.Take(CountOf(iterations)))
            return false;
    }
    for (int i = 0; i < sk_PKCS7_num(safes); ++i) {
        PKCS7* safe = sk_PKCS7_value(safes, i);
        switch (OBJ_obj2nid(safe->type)) {
        case NID_pkcs7_encrypted:
            if (safe->d.encrypted && safe->d.encrypted->enc_data &&
                !budget.Take(DerivationWork(safe->d.encrypted->enc_data->algorithm)))
                return false;
            break;
        case NID_pkcs7_data: {
            const SafeBagsPtr bags(PKCS12_unpack_p7data(safe));
            ERR_clear_error();
            if (bags && !TakeBagsWork(bags.get(), 0, budget))
                return false;
            break;
        }
        default: break;
        }
    }
    return true;
}

// False when a bag that should open does not: a wrong password or a damaged container. A key
// bag in an encrypted safe is only seen once the safe is open, and is checked then.
Opened ReadBags(const STACK_OF(PKCS12_SAFEBAG) * bags, const Password& password, int depth, Contents& out,
               DerivationBudget& budget)
{
    if (depth > MaxBagDepth)
        return Opened::No;
    const int count = sk_PKCS12_SAFEBAG_num(bags);
    for (int i = 0; i < count; ++i) {
        const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
        switch (PKCS12_SAFEBAG_get_nid(bag)) {
        case NID_certBag: {
            if (PKCS12_SAFEBAG_get_bag_nid(bag) != NID_x509Certificate)
                break;
            auto der = CertificateOfBag(bag);
            if (!der)
                return Opened::No;
            out.Certs.push_back({std::move(*der), LocalKeyId(bag), FriendlyName(bag)});
            break;
        }
        case NID_keyBag: {
            const PKCS8_PRIV_KEY_INFO* info = PKCS12_SAFEBAG_get0_p8inf(bag);
            EvpPkeyPtr key(info ? EVP_PKCS82PKEY(info) : nullptr);
            if (!key)
                return Opened::No;
            out.Keys.push_back({LocalKeyId(bag), std::move(key), FriendlyName(bag)});
            break;
        }
        case NID_pkcs8ShroudedKeyBag: {
            if (!budget.Take(DerivationWork(ShroudedKeyAlgorithm(bag))))
                return Opened::OutOfBounds;
            const Pkcs8Ptr info(PKCS12_decrypt_skey(bag, password.Text, password.Length));
            EvpPkeyPtr key(info ? EVP_PKCS82PKEY(info.get()) : nullptr);
            if (!key)
                return Opened::No;
            out.Keys.push_back({LocalKeyId(bag), std::move(key), FriendlyName(bag)});
            break;
        }
        case NID_safeContentsBag:
            if (const Opened inner = ReadBags(PKCS12_SAFEBAG_get0_safes(bag), password, depth + 1, out, budget);
                inner != Opened::Yes)
                return inner;
            break;
        default: break; // CRL and secret bags carry nothing we show
        }
    }
    return Opened::Yes;
}

Opened ReadContainer(PKCS12* container, const STACK_OF(PKCS7) * safes, const Password& password, Contents& contents,
                     DerivationBudget& budget)
{
    if (PKCS12_mac_present(container)) {
        const ASN1_INTEGER* iterations = nullptr;
        PKCS12_get0_mac(nullptr, nullptr, nullptr, &iterations, container);
        if (!budget.Take(CountOf(iterations)))
            return Opened::OutOfBounds;
        if (!PKCS12_verify_mac(container, password.Text, password.Length))
            return Opened::No;
    }
    const int count = sk_PKCS7_num(safes);
    for (int i = 0; i < count; ++i) {
        PKCS7* safe = sk_PKCS7_value(safes, i);
        SafeBagsPtr bags;
        switch (OBJ_obj2nid(safe->type)) {
        case NID_pkcs7_data: bags.reset(PKCS12_unpack_p7data(safe)); break;
        case NID_pkcs7_encrypted:
            if (!safe->d.encrypted || !safe->d.encrypted->enc_data ||
                !budget.Take(DerivationWork(safe->d.encrypted->enc_data->algorithm)))
                return safe->d.encrypted && safe->d.encrypted->enc_data ? Opened::OutOfBounds : Opened::No;
            bags.reset(PKCS12_unpack_p7encdata(safe, password.Text, password.Length));
            break;
        default: continue; // public-key protected safes need a key we do not have
        }
        if (!bags)
            return Opened::No;
        if (const Opened opened = ReadBags(bags.get(), password, 0, contents, budget); opened != Opened::Yes)
            return opened;
    }
    return Opened::Yes;
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

    const AuthSafesPtr safes(PKCS12_unpack_authsafes(container.get()));
    if (!safes)
        return FailNull<void>(TakeOpenSslError(ErrorCode(CRYPT_E_ASN1_BADTAG)));
    if (!ContainerWithinBounds(container.get(), safes.get()))
        return FailNull<void>(CRYPT_E_SECURITY_SETTINGS);

    // An empty password may have been made as the empty text or as no password at all: Windows
    // tries both, and so do we.
    const std::string text = winstr::ToUtf8(winstr::View(szPassword));
    std::vector<Password> candidates;
    if (text.empty())
        candidates = {{"", 0}, {nullptr, 0}};
    else
        candidates = {{text.c_str(), static_cast<int>(text.size())}};

    // One budget for every password tried.
    DerivationBudget budget;
    for (const Password& password : candidates) {
        Contents contents;
        const Opened opened = ReadContainer(container.get(), safes.get(), password, contents, budget);
        ERR_clear_error();
        if (opened == Opened::Yes)
            return MakeStore(contents);
        if (opened == Opened::OutOfBounds)
            return FailNull<void>(CRYPT_E_SECURITY_SETTINGS);
    }
    return FailNull<void>(ErrorInvalidPassword);
}

} // extern "C"
