#include "platform/common/SignatureTrust.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

// The text of windows-roots.pem, generated into the build tree.
extern const char TesseraWindowsRootsPem[];

namespace trust {

namespace {

using BioPtr = std::unique_ptr<BIO, ossl::OsslFree<BIO_free>>;

// The roots, owned here and freed when the module that holds them is unloaded.
struct Roots {
    Roots()
    {
        const BioPtr bio(
            BIO_new_mem_buf(TesseraWindowsRootsPem, static_cast<int>(std::strlen(TesseraWindowsRootsPem))));
        while (bio) {
            X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
            if (!cert)
                break;
            Owned.emplace_back(cert);
            View.push_back(cert);
        }
        ERR_clear_error(); // the end of the text reads as "no start line"
    }
    std::vector<ossl::X509Ptr> Owned;
    std::vector<X509*> View;
};

// OpenSSL's own issuer check, which ours adds to: it is only reachable as a context's default.
X509_STORE_CTX_check_issued_fn DefaultCheckIssued()
{
    static const X509_STORE_CTX_check_issued_fn check = [] {
        X509_STORE_CTX_check_issued_fn found = nullptr;
        const ossl::X509StorePtr store(X509_STORE_new());
        const ossl::X509StoreCtxPtr ctx(X509_STORE_CTX_new());
        if (store && ctx && X509_STORE_CTX_init(ctx.get(), store.get(), nullptr, nullptr) == 1)
            found = X509_STORE_CTX_get_check_issued(ctx.get());
        ERR_clear_error();
        return found;
    }();
    return check;
}

int VerifyingIssuersIndex()
{
    static const int index = X509_STORE_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// Whether issuer's key verifies subject's signature; true when the signature's digest is one this
// OpenSSL cannot compute, since that proves nothing against the issuer.
bool SignatureVerifies(X509* subject, X509* issuer)
{
    EVP_PKEY* key = X509_get0_pubkey(issuer);
    int digest = NID_undef;
    if (!key || X509_get_signature_info(subject, &digest, nullptr, nullptr, nullptr) != 1) {
        ERR_clear_error();
        return true; // the verification proper reports it
    }
    if (digest != NID_undef) {
        EVP_MD* md = EVP_MD_fetch(nullptr, OBJ_nid2sn(digest), nullptr);
        if (!md) {
            ERR_clear_error();
            return true;
        }
        EVP_MD_free(md);
    }
    const int verified = X509_verify(subject, key);
    ERR_clear_error();
    return verified == 1;
}

int CheckIssued(X509_STORE_CTX* ctx, X509* subject, X509* issuer)
{
    const X509_STORE_CTX_check_issued_fn check = DefaultCheckIssued();
    if (check && check(ctx, subject, issuer) != 1)
        return 0;
    if (!check && X509_check_issued(issuer, subject) != X509_V_OK)
        return 0;
    if (X509_STORE_CTX_get_ex_data(ctx, VerifyingIssuersIndex()) && !SignatureVerifies(subject, issuer))
        return 0;
    return 1;
}

} // namespace

bool BundledRootsEnabled()
{
    const char* value = std::getenv(SystemOnlyVariable);
    return !value || *value == '\0' || std::strcmp(value, "0") == 0;
}

const std::vector<X509*>& BundledRoots()
{
    static const Roots roots;
    return roots.View;
}

ossl::X509StorePtr NewSignatureStore()
{
    ossl::X509StorePtr store(X509_STORE_new());
    if (!store)
        return store;
    // A missing SSL_CERT_FILE or SSL_CERT_DIR leaves the system's part empty.
    X509_STORE_set_default_paths(store.get());
    if (BundledRootsEnabled())
        for (X509* root : BundledRoots())
            X509_STORE_add_cert(store.get(), root); // one the system holds already is kept once
    X509_STORE_set_check_issued(store.get(), CheckIssued);
    ERR_clear_error();
    return store;
}

namespace {

// What a store made now would be read from: the variables and the files they name as they are.
std::string StoreSourcesKey()
{
    std::string key;
    const auto add = [&key](const char* text) {
        key += text ? text : "\x01(unset)";
        key += '\0';
    };
    const auto addFile = [&key](const char* path) {
        struct stat info {};
        if (path && stat(path, &info) == 0)
            key += std::to_string(info.st_dev) + ':' + std::to_string(info.st_ino) + ':' +
                   std::to_string(info.st_size) + ':' + std::to_string(info.st_mtim.tv_sec) + '.' +
                   std::to_string(info.st_mtim.tv_nsec);
        key += '\0';
    };
    const char* file = std::getenv(X509_get_default_cert_file_env());
    const char* dir = std::getenv(X509_get_default_cert_dir_env());
    add(file);
    add(dir);
    addFile(file ? file : X509_get_default_cert_file());
    addFile(dir ? dir : X509_get_default_cert_dir());
    key += BundledRootsEnabled() ? '1' : '0';
    return key;
}

} // namespace

ossl::X509StorePtr SharedSignatureStore()
{
    static std::mutex lock;
    static std::string key;
    static ossl::X509StorePtr store;
    const std::string now = StoreSourcesKey();
    const std::lock_guard guard(lock);
    if (!store || now != key) {
        ossl::X509StorePtr fresh = NewSignatureStore();
        if (!fresh)
            return fresh;
        store = std::move(fresh);
        key = now;
    }
    if (X509_STORE_up_ref(store.get()) != 1)
        return nullptr;
    return ossl::X509StorePtr(store.get());
}

bool PreferVerifyingIssuers(X509_STORE_CTX* ctx)
{
    static int on = 1;
    return VerifyingIssuersIndex() >= 0 && X509_STORE_CTX_set_ex_data(ctx, VerifyingIssuersIndex(), &on) == 1;
}

bool WindowsAccepts(X509_STORE_CTX* ctx)
{
    if (X509_STORE_CTX_get_error(ctx) != X509_V_ERR_INVALID_CA)
        return false;
    const int depth = X509_STORE_CTX_get_error_depth(ctx);
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx);
    X509* cert = X509_STORE_CTX_get_current_cert(ctx);
    // The certificates after the first num_untrusted came from the trust store.
    const bool anchor = depth == sk_X509_num(chain) - 1 && depth >= X509_STORE_CTX_get_num_untrusted(ctx);
    return cert && anchor && X509_self_signed(cert, 0) == 1 && (X509_get_extension_flags(cert) & EXFLAG_BCONS) == 0;
}

bool HasExplicitCurveParameters(X509* cert)
{
    EVP_PKEY* key = cert ? X509_get0_pubkey(cert) : nullptr;
    int explicitParameters = 0;
    const bool found = key && EVP_PKEY_is_a(key, "EC") &&
                       EVP_PKEY_get_int_param(key, OSSL_PKEY_PARAM_EC_DECODED_FROM_EXPLICIT_PARAMS,
                                              &explicitParameters) == 1 &&
                       explicitParameters != 0;
    ERR_clear_error();
    return found;
}

bool HasLifetimeSigning(X509* cert)
{
    static constexpr char LifetimeSigningOid[] = "1.3.6.1.4.1.311.10.3.13";
    const ossl::EkuPtr usages(
        cert ? static_cast<EXTENDED_KEY_USAGE*>(X509_get_ext_d2i(cert, NID_ext_key_usage, nullptr, nullptr)) : nullptr);
    bool found = false;
    for (int i = 0; usages && !found && i < sk_ASN1_OBJECT_num(usages.get()); ++i) {
        char text[64] = {};
        const int length = OBJ_obj2txt(text, sizeof text, sk_ASN1_OBJECT_value(usages.get(), i), 1);
        found = length > 0 && static_cast<size_t>(length) < sizeof text && std::strcmp(text, LifetimeSigningOid) == 0;
    }
    ERR_clear_error();
    return found;
}

} // namespace trust
