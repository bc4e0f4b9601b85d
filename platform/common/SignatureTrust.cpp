#include "platform/common/SignatureTrust.h"

#include "platform/common/CertIndex.h"
#include "platform/common/RootProgram.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace trust {

namespace {

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

int AvoidanceIndex()
{
    static const int index = X509_STORE_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
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

// What a store of NewSignatureStore finds certificates in besides its own lookups: the system's
// trust file, indexed by subject, and the root program. Kept in the store.
struct StoreSources {
    std::unique_ptr<CertIndex> SystemFile;
    bool FileNamed = false;   // SSL_CERT_FILE named the file
    bool FoldersNamed = false; // SSL_CERT_DIR named the folders
    std::shared_ptr<const RootProgram> Program;
};

int SourcesIndex()
{
    static const int index = X509_STORE_get_ex_new_index(
        0, nullptr, nullptr, nullptr,
        [](void*, void* data, CRYPTO_EX_DATA*, int, long, void*) { delete static_cast<StoreSources*>(data); });
    return index;
}

const StoreSources* SourcesOf(X509_STORE* store)
{
    return store ? static_cast<const StoreSources*>(X509_STORE_get_ex_data(store, SourcesIndex())) : nullptr;
}

struct X509StackFree {
    void operator()(STACK_OF(X509) * s) const { sk_X509_pop_free(s, X509_free); }
};
using X509StackPtr = std::unique_ptr<STACK_OF(X509), X509StackFree>;

// The certificates named name: those of the store (the system's hashed folders, loaded as its
// lookup loads them), of the system's trust file and of the root program, the last two decoded only
// when a chain asks for their name.
STACK_OF(X509) * LookupCerts(X509_STORE_CTX* ctx, const X509_NAME* name)
{
    X509StackPtr found(X509_STORE_CTX_get1_certs(ctx, const_cast<X509_NAME*>(name)));
    ERR_clear_error();
    std::vector<X509*> roots;
    if (const StoreSources* sources = SourcesOf(X509_STORE_CTX_get0_store(ctx))) {
        if (sources->SystemFile)
            roots = sources->SystemFile->Named(name);
        if (sources->Program) {
            const std::vector<X509*> listed = sources->Program->RootsNamed(name);
            roots.insert(roots.end(), listed.begin(), listed.end());
        }
    }
    if (roots.empty())
        return found.release();
    if (!found)
        found.reset(sk_X509_new_null());
    for (X509* root : roots) {
        bool held = false;
        for (int i = 0; found && !held && i < sk_X509_num(found.get()); ++i)
            held = X509_cmp(sk_X509_value(found.get(), i), root) == 0;
        if (found && !held && X509_up_ref(root) == 1 && !sk_X509_push(found.get(), root))
            X509_free(root);
    }
    return found.release();
}

// The issuer of x among LookupCerts: as OpenSSL chooses, the first that issued it and is valid at
// the verification's time, else the first that issued it.
int GetIssuer(X509** issuer, X509_STORE_CTX* ctx, X509* x)
{
    *issuer = nullptr;
    const X509StackPtr candidates(LookupCerts(ctx, X509_get_issuer_name(x)));
    const X509_STORE_CTX_check_issued_fn checkIssued = X509_STORE_CTX_get_check_issued(ctx);
    const X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx);
    time_t when = (X509_VERIFY_PARAM_get_flags(param) & X509_V_FLAG_USE_CHECK_TIME) != 0 ? X509_VERIFY_PARAM_get_time(param)
                                                                                        : time(nullptr);
    const auto* avoidance = static_cast<const RootAvoidance*>(X509_STORE_CTX_get_ex_data(ctx, AvoidanceIndex()));
    X509* chosen = nullptr;
    for (int i = 0; i < sk_X509_num(candidates.get()); ++i) {
        X509* candidate = sk_X509_value(candidates.get(), i);
        if (!checkIssued(ctx, x, candidate))
            continue;
        if (avoidance && JudgeRoot(X509_STORE_CTX_get0_store(ctx), candidate, avoidance->End, avoidance->Purpose,
                                   avoidance->When) != RootVerdict::Trusted)
            continue;
        const bool current = X509_cmp_time(X509_get0_notBefore(candidate), &when) <= 0 &&
                             X509_cmp_time(X509_get0_notAfter(candidate), &when) >= 0;
        if (!chosen || current)
            chosen = candidate;
        if (current)
            break;
    }
    ERR_clear_error();
    if (!chosen || X509_up_ref(chosen) != 1)
        return 0;
    *issuer = chosen;
    return 1;
}

} // namespace

bool BundledRootsEnabled()
{
    const char* value = std::getenv(SystemOnlyVariable);
    return !value || *value == '\0' || std::strcmp(value, "0") == 0;
}

ossl::X509StorePtr NewSignatureStore()
{
    ossl::X509StorePtr store(X509_STORE_new());
    if (!store)
        return store;
    // OpenSSL's default paths, as X509_STORE_set_default_paths takes them, but the file indexed
    // rather than decoded whole. A missing SSL_CERT_FILE or SSL_CERT_DIR leaves its part empty.
    auto sources = std::make_unique<StoreSources>();
    const char* file = std::getenv(X509_get_default_cert_file_env());
    std::vector<ossl::X509CrlPtr> crls;
    sources->SystemFile = CertIndex::FromPemFile(file ? file : X509_get_default_cert_file(), &crls);
    sources->FileNamed = file != nullptr;
    for (const ossl::X509CrlPtr& crl : crls)
        X509_STORE_add_crl(store.get(), crl.get());
    const char* folders = std::getenv(X509_get_default_cert_dir_env());
    sources->FoldersNamed = folders != nullptr;
    if (X509_LOOKUP* lookup = X509_STORE_add_lookup(store.get(), X509_LOOKUP_hash_dir()))
        X509_LOOKUP_add_dir(lookup, folders ? folders : X509_get_default_cert_dir(), X509_FILETYPE_PEM);
    sources->Program = RootProgram::Current();
    if (X509_STORE_set_ex_data(store.get(), SourcesIndex(), sources.get()) == 1)
        sources.release();
    X509_STORE_set_lookup_certs(store.get(), LookupCerts);
    X509_STORE_set_get_issuer(store.get(), GetIssuer);
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
    // The root program in force, which a dropped-in list can change.
    key += std::to_string(reinterpret_cast<uintptr_t>(RootProgram::Current().get()));
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

std::shared_ptr<const RootProgram> RootProgramOf(X509_STORE* store)
{
    const StoreSources* sources = SourcesOf(store);
    return sources ? sources->Program : nullptr;
}

DWORD SourceOf(X509_STORE* store, X509* cert)
{
    const StoreSources* sources = SourcesOf(store);
    if (!sources || !cert)
        return 0;
    const auto holds = [cert](const std::vector<X509*>& named) {
        return std::any_of(named.begin(), named.end(), [cert](X509* other) { return X509_cmp(other, cert) == 0; });
    };
    const X509_NAME* subject = X509_get_subject_name(cert);
    if (sources->SystemFile && holds(sources->SystemFile->Named(subject)))
        return sources->FileNamed ? TESSERA_CERT_SOURCE_CERT_FILE : TESSERA_CERT_SOURCE_SYSTEM_STORE;
    if (sources->Program && holds(sources->Program->RootsNamed(subject)))
        return sources->Program->FromDroppedInList(cert) ? TESSERA_CERT_SOURCE_ROOT_LIST : TESSERA_CERT_SOURCE_BUILT_IN;
    // Neither: the hashed folders are the store's only other source.
    return sources->FoldersNamed ? TESSERA_CERT_SOURCE_CERT_DIR : TESSERA_CERT_SOURCE_SYSTEM_STORE;
}

RootVerdict JudgeRoot(X509_STORE* store, X509* root, X509* end, std::string_view purpose, int64_t when)
{
    const std::shared_ptr<const RootProgram> program = RootProgramOf(store);
    const RootRules* rules = program && root ? program->RulesOf(root) : nullptr;
    if (!rules)
        return RootVerdict::Trusted;
    int days = 0;
    int seconds = 0;
    const ossl::Asn1TimePtr epoch(ASN1_TIME_set(nullptr, 0));
    const ASN1_TIME* notBefore = end ? X509_get0_notBefore(end) : nullptr;
    const bool dated = epoch && notBefore && ASN1_TIME_diff(&days, &seconds, epoch.get(), notBefore) == 1;
    ERR_clear_error();
    const int64_t endNotBefore = dated ? static_cast<int64_t>(days) * 86400 + seconds : when;
    return Judge(*rules, purpose, when, endNotBefore);
}

bool AvoidRefusedRoots(X509_STORE_CTX* ctx, const RootAvoidance* avoidance)
{
    return AvoidanceIndex() >= 0 &&
           X509_STORE_CTX_set_ex_data(ctx, AvoidanceIndex(), const_cast<RootAvoidance*>(avoidance)) == 1;
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
