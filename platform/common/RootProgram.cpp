#include "platform/common/RootProgram.h"

#include "platform/common/SignatureTrust.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>

// The built-in pack (tools/authroot-pack), linked into the program by the build.
extern "C" const unsigned char tessera_authroot_pack[];
extern "C" const unsigned char tessera_authroot_pack_end[];
// The roots Windows carries in its own store, beside the list (windows-roots.pem).
extern const char TesseraWindowsRootsPem[];

namespace trust {

namespace {

using ossl::X509Ptr;
using ossl::X509StoreCtxPtr;
using ossl::X509StorePtr;
using Bytes = std::vector<uint8_t>;
using BioPtr = std::unique_ptr<BIO, ossl::OsslFree<BIO_free>>;

struct StackFree {
    void operator()(STACK_OF(X509) * s) const { sk_X509_pop_free(s, X509_free); }
};
using X509StackPtr = std::unique_ptr<STACK_OF(X509), StackFree>;

// Microsoft Root Certificate Authority 2010: every list Windows takes is signed under it.
constexpr Sha1 ListSigningRoot = {0x3B, 0x1E, 0xFD, 0x3A, 0x66, 0xEA, 0x28, 0xB1, 0x66, 0x97,
                                  0x39, 0x47, 0x03, 0xA7, 0x2C, 0xA3, 0x40, 0xA0, 0x5B, 0xD5};
constexpr char DroppedInList[] = "/var/lib/tessera/authroot.stl";
constexpr DWORD Encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct CertContextFree {
    void operator()(PCCERT_CONTEXT c) const { CertFreeCertificateContext(c); }
};
using CertContextPtr = std::unique_ptr<const CERT_CONTEXT, CertContextFree>;
struct CtlContextFree {
    void operator()(PCCTL_CONTEXT c) const { CertFreeCTLContext(c); }
};
using CtlContextPtr = std::unique_ptr<const CTL_CONTEXT, CtlContextFree>;

std::optional<Sha1> ThumbprintOf(X509* cert)
{
    Sha1 digest{};
    unsigned int length = 0;
    if (!cert || X509_digest(cert, EVP_sha1(), digest.data(), &length) != 1 || length != digest.size()) {
        ERR_clear_error();
        return std::nullopt;
    }
    return digest;
}

X509Ptr DecodeCert(std::span<const uint8_t> der)
{
    const unsigned char* p = der.data();
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    if (!cert || p != der.data() + der.size()) {
        ERR_clear_error();
        return nullptr;
    }
    return cert;
}

int64_t UnixTimeOf(const FILETIME& time)
{
    const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<int64_t>(ticks / 10000000ULL) - 11644473600LL;
}

bool Listed(const std::vector<std::string>& purposes, std::string_view purpose)
{
    return std::find(purposes.begin(), purposes.end(), purpose) != purposes.end();
}

// A problem with a list that a person put there is said once per process on standard error; the
// built-in list stands meanwhile.
void SayOnce(const std::string& path, const char* what)
{
    static std::mutex lock;
    static std::set<std::string> said;
    const std::lock_guard guard(lock);
    if (said.insert(path + '\n' + what).second)
        std::fprintf(stderr, "%s: the root list %s is not used: %s\n", program_invocation_short_name, path.c_str(), what);
}

bool ReadWholeFile(const std::string& path, Bytes& out)
{
    struct stat info {};
    // A root list is a few hundred kilobytes; anything far larger is not one.
    constexpr off_t MaxListSize = 64 * 1024 * 1024;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > MaxListSize)
        return false;
    std::ifstream in(path, std::ios::binary);
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Compares sequence numbers kept least significant byte first, as unsigned numbers.
int CompareSequence(const CRYPT_INTEGER_BLOB& a, const CRYPT_INTEGER_BLOB& b)
{
    const auto significant = [](const CRYPT_INTEGER_BLOB& blob) {
        size_t size = blob.cbData;
        while (size > 0 && blob.pbData[size - 1] == 0)
            --size;
        return size;
    };
    const size_t sa = significant(a);
    const size_t sb = significant(b);
    if (sa != sb)
        return sa < sb ? -1 : 1;
    for (size_t i = sa; i-- > 0;)
        if (a.pbData[i] != b.pbData[i])
            return a.pbData[i] < b.pbData[i] ? -1 : 1;
    return 0;
}

std::optional<std::vector<std::string>> UsageProperty(PCCERT_CONTEXT cert, DWORD id)
{
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(cert, id, nullptr, &size))
        return std::nullopt;
    Bytes encoded(size);
    if (!CertGetCertificateContextProperty(cert, id, encoded.data(), &size))
        return std::nullopt;
    DWORD decodedSize = 0;
    if (!CryptDecodeObject(Encoding, X509_ENHANCED_KEY_USAGE, encoded.data(), size, 0, nullptr, &decodedSize))
        return std::vector<std::string>{}; // a value that does not decode grants no purpose
    std::vector<uint64_t> decoded((decodedSize + sizeof(uint64_t) - 1) / sizeof(uint64_t));
    if (!CryptDecodeObject(Encoding, X509_ENHANCED_KEY_USAGE, encoded.data(), size, 0, decoded.data(), &decodedSize))
        return std::vector<std::string>{};
    const auto* usage = reinterpret_cast<const CERT_ENHKEY_USAGE*>(decoded.data());
    std::vector<std::string> purposes;
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i)
        purposes.emplace_back(usage->rgpszUsageIdentifier[i]);
    return purposes;
}

std::optional<int64_t> TimeProperty(PCCERT_CONTEXT cert, DWORD id)
{
    FILETIME time{};
    DWORD size = sizeof time;
    if (!CertGetCertificateContextProperty(cert, id, &time, &size) || size != sizeof time)
        return std::nullopt;
    return UnixTimeOf(time);
}

std::u16string NameProperty(PCCERT_CONTEXT cert, DWORD id)
{
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(cert, id, nullptr, &size))
        return {};
    Bytes bytes(size);
    if (!CertGetCertificateContextProperty(cert, id, bytes.data(), &size))
        return {};
    std::u16string name;
    for (size_t i = 0; i + 1 < size; i += 2) {
        const auto c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (c == 0)
            break;
        name += c;
    }
    return name;
}

// The message's certificates, which may complete a list signer's chain.
X509StackPtr MessageCertificates(PCCTL_CONTEXT list)
{
    X509StackPtr certs(sk_X509_new_null());
    for (PCCERT_CONTEXT cert = nullptr; certs && (cert = CertEnumCertificatesInStore(list->hCertStore, cert));) {
        X509Ptr decoded = DecodeCert({cert->pbCertEncoded, cert->cbCertEncoded});
        if (decoded && sk_X509_push(certs.get(), decoded.get()))
            decoded.release();
    }
    return certs;
}

bool AllowsListSigning(X509* cert)
{
    const ossl::EkuPtr usages(static_cast<EXTENDED_KEY_USAGE*>(X509_get_ext_d2i(cert, NID_ext_key_usage, nullptr, nullptr)));
    ERR_clear_error();
    if (!usages)
        return (X509_get_extension_flags(cert) & EXFLAG_XKUSAGE) == 0; // no usage extension: every usage
    for (int i = 0; i < sk_ASN1_OBJECT_num(usages.get()); ++i) {
        char text[64] = {};
        const int length = OBJ_obj2txt(text, sizeof text, sk_ASN1_OBJECT_value(usages.get(), i), 1);
        if (length > 0 && static_cast<size_t>(length) < sizeof text &&
            (std::strcmp(text, szOID_ROOT_LIST_SIGNER) == 0 || std::strcmp(text, "2.5.29.37.0") == 0))
            return true;
    }
    return false;
}

// Whether the list is one to take: for root-list signing, its signature holds, and its signer
// chains to one of the anchors for that purpose as it stood when the list was made (a list stays
// good after its signer's certificate runs out, as Windows keeps using the list it has).
bool ListHolds(PCCTL_CONTEXT list, const std::vector<X509Ptr>& anchors)
{
    const CTL_INFO& info = *list->pCtlInfo;
    bool forRoots = false;
    for (DWORD i = 0; i < info.SubjectUsage.cUsageIdentifier; ++i)
        forRoots = forRoots || std::strcmp(info.SubjectUsage.rgpszUsageIdentifier[i], szOID_ROOT_LIST_SIGNER) == 0;
    if (!forRoots || anchors.empty() || !info.SubjectAlgorithm.pszObjId ||
        std::strcmp(info.SubjectAlgorithm.pszObjId, szOID_OIWSEC_sha1) != 0)
        return false;
    PCCERT_CONTEXT signerContext = nullptr;
    if (!CryptMsgGetAndVerifySigner(list->hCryptMsg, 0, nullptr, 0, &signerContext, nullptr))
        return false;
    const CertContextPtr signerOwner(signerContext);
    const X509Ptr signer = DecodeCert({signerContext->pbCertEncoded, signerContext->cbCertEncoded});
    const X509StackPtr helpers = MessageCertificates(list);
    const X509StorePtr store(X509_STORE_new());
    const X509StoreCtxPtr ctx(X509_STORE_CTX_new());
    bool anchored = store != nullptr;
    for (const X509Ptr& anchor : anchors)
        anchored = anchored && X509_STORE_add_cert(store.get(), anchor.get()) == 1;
    if (!signer || !helpers || !anchored || !ctx ||
        X509_STORE_CTX_init(ctx.get(), store.get(), signer.get(), helpers.get()) != 1) {
        ERR_clear_error();
        return false;
    }
    X509_STORE_CTX_set_time(ctx.get(), 0, static_cast<time_t>(UnixTimeOf(info.ThisUpdate)));
    const bool chained = X509_verify_cert(ctx.get()) == 1;
    bool forListSigning = chained;
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx.get());
    for (int i = 0; forListSigning && i + 1 < sk_X509_num(chain); ++i)
        forListSigning = AllowsListSigning(sk_X509_value(chain, i));
    ERR_clear_error();
    return chained && forListSigning && (X509_get_extension_flags(signer.get()) & EXFLAG_XKUSAGE) != 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------

RootVerdict Judge(const RootRules& rules, std::string_view purpose, int64_t when, int64_t endNotBefore)
{
    // A rule with a list of purposes holds for those; without one, for every purpose. A chain
    // asked for no purpose in particular meets only the rules of every purpose.
    const auto covers = [purpose](const std::optional<std::vector<std::string>>& purposes) {
        return !purposes || (!purpose.empty() && Listed(*purposes, purpose));
    };
    if (!purpose.empty() && rules.Purposes && !Listed(*rules.Purposes, purpose))
        return RootVerdict::NotValidForUsage;
    if (rules.DisallowedFrom ? when >= *rules.DisallowedFrom && covers(rules.DisallowedPurposes)
                             : rules.DisallowedPurposes && covers(rules.DisallowedPurposes))
        return RootVerdict::Distrusted;
    if (rules.NotBeforeFrom ? endNotBefore >= *rules.NotBeforeFrom && covers(rules.NotBeforePurposes)
                            : rules.NotBeforePurposes && covers(rules.NotBeforePurposes))
        return RootVerdict::Distrusted;
    return RootVerdict::Trusted;
}

RootProgram::~RootProgram()
{
    if (FList)
        CertFreeCTLContext(FList);
}

std::shared_ptr<const RootProgram> RootProgram::Load()
{
    std::shared_ptr<RootProgram> program(new RootProgram());
    const BioPtr bio(BIO_new_mem_buf(TesseraWindowsRootsPem, static_cast<int>(std::strlen(TesseraWindowsRootsPem))));
    while (bio) {
        X509Ptr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
        if (!cert)
            break;
        program->FOwnRoots.push_back(std::move(cert));
    }
    ERR_clear_error();
    program->FOwnRules.Purposes = std::vector<std::string>{szOID_PKIX_KP_CODE_SIGNING, szOID_PKIX_KP_TIMESTAMP_SIGNING};

    std::span<const uint8_t> builtInList;
    std::unique_ptr<CertIndex> builtInRoots = CertIndex::FromPack(
        std::span<const uint8_t>(tessera_authroot_pack, static_cast<size_t>(tessera_authroot_pack_end - tessera_authroot_pack)),
        builtInList);

    // Who list signers must chain to: Microsoft's root, and the one a test names.
    std::vector<X509Ptr> anchors;
    if (builtInRoots)
        if (X509Ptr microsoft = builtInRoots->ByThumbprint(ListSigningRoot))
            anchors.push_back(std::move(microsoft));
    if (const char* testRoot = std::getenv(ListSigningRootVariable); testRoot && *testRoot) {
        if (FILE* file = std::fopen(testRoot, "r")) {
            if (X509Ptr root{PEM_read_X509(file, nullptr, nullptr, nullptr)})
                anchors.push_back(std::move(root));
            std::fclose(file);
        }
        ERR_clear_error();
    }

    CtlContextPtr chosen;
    std::unique_ptr<CertIndex> chosenRoots;
    Bytes chosenBytes;
    if (builtInRoots && !builtInList.empty()) {
        CtlContextPtr list(CertCreateCTLContext(Encoding, builtInList.data(), static_cast<DWORD>(builtInList.size())));
        if (list && ListHolds(list.get(), anchors)) {
            chosen = std::move(list);
            chosenRoots = std::move(builtInRoots);
        } else {
            SayOnce("built into the program", "its signature does not verify");
        }
    }
    std::vector<std::string> paths;
    if (const char* named = std::getenv(ListFileVariable); named && *named)
        paths.emplace_back(named);
    const char* systemRoot = std::getenv("TESSERA_SYSTEM_ROOT");
    const std::string dropped = std::string(systemRoot && *systemRoot ? systemRoot : "") + DroppedInList;
    if (struct stat info {}; stat(dropped.c_str(), &info) == 0)
        paths.push_back(dropped);
    for (const std::string& path : paths) {
        Bytes bytes;
        if (!ReadWholeFile(path, bytes) || bytes.empty() || bytes.size() > 0xFFFFFFFFu) {
            SayOnce(path, "it cannot be read");
            continue;
        }
        CtlContextPtr list(CertCreateCTLContext(Encoding, bytes.data(), static_cast<DWORD>(bytes.size())));
        if (!list) {
            SayOnce(path, "it is not a certificate trust list");
            continue;
        }
        if (!ListHolds(list.get(), anchors)) {
            SayOnce(path, "its signature does not verify");
            continue;
        }
        if (chosen && CompareSequence(list->pCtlInfo->SequenceNumber, chosen->pCtlInfo->SequenceNumber) <= 0) {
            SayOnce(path, "it is not newer than the list in use");
            continue;
        }
        const std::string folder = path.substr(0, path.find_last_of('/') + 1);
        auto roots = CertIndex::FromPemFile((folder.empty() ? std::string("./") : folder) + "roots.pem");
        if (!roots) {
            SayOnce(path, "there is no roots.pem beside it");
            continue;
        }
        chosen = std::move(list);
        chosenRoots = std::move(roots);
        chosenBytes = std::move(bytes);
    }
    if (chosen) {
        const CTL_INFO& info = *chosen->pCtlInfo;
        for (DWORD i = 0; i < info.cCTLEntry; ++i) {
            const CRYPT_DATA_BLOB& id = info.rgCTLEntry[i].SubjectIdentifier;
            if (id.cbData != std::tuple_size_v<Sha1>)
                continue;
            Sha1 thumbprint{};
            std::copy(id.pbData, id.pbData + id.cbData, thumbprint.begin());
            program->FEntries.emplace(thumbprint, &info.rgCTLEntry[i]);
        }
        program->FList = chosen.release();
        program->FListBytes = std::move(chosenBytes);
        program->FRoots = std::move(chosenRoots);
    }
    return program;
}

std::shared_ptr<const RootProgram> RootProgram::Current()
{
    if (!BundledRootsEnabled())
        return nullptr;
    // What the program would be read from now: the variables and the files they name.
    std::string key;
    for (const char* variable : {ListFileVariable, ListSigningRootVariable, "TESSERA_SYSTEM_ROOT"}) {
        const char* value = std::getenv(variable);
        key += value ? value : "\x01";
        key += '\0';
        struct stat info {};
        if (value && stat(value, &info) == 0)
            key += std::to_string(info.st_ino) + ':' + std::to_string(info.st_size) + ':' +
                   std::to_string(info.st_mtim.tv_sec) + '.' + std::to_string(info.st_mtim.tv_nsec);
        key += '\0';
    }
    static std::mutex lock;
    static std::string loadedKey;
    static std::shared_ptr<const RootProgram> loaded;
    const std::lock_guard guard(lock);
    if (!loaded || key != loadedKey) {
        loaded = Load();
        loadedKey = key;
    }
    return loaded;
}

PCTL_ENTRY RootProgram::EntryOf(const Sha1& thumbprint) const
{
    const auto found = FEntries.find(thumbprint);
    return found == FEntries.end() ? nullptr : found->second;
}

PCTL_ENTRY RootProgram::EntryOf(X509* cert) const
{
    const auto thumbprint = ThumbprintOf(cert);
    return thumbprint ? EntryOf(*thumbprint) : nullptr;
}

const RootRules* RootProgram::RulesOf(X509* cert) const
{
    const auto thumbprint = ThumbprintOf(cert);
    if (!thumbprint)
        return nullptr;
    for (const X509Ptr& own : FOwnRoots)
        if (X509_cmp(own.get(), cert) == 0)
            return &FOwnRules;
    const PCTL_ENTRY entry = EntryOf(*thumbprint);
    if (!entry)
        return nullptr;
    const std::lock_guard guard(FLock);
    auto [slot, added] = FRules.try_emplace(*thumbprint);
    if (!added)
        return slot->second ? &*slot->second : nullptr;
    // The rules are the properties Windows gives the root from its entry.
    const int size = i2d_X509(cert, nullptr);
    Bytes der(size > 0 ? static_cast<size_t>(size) : 0);
    unsigned char* p = der.data();
    const CertContextPtr context(size > 0 && i2d_X509(cert, &p) == size
                                     ? CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(size))
                                     : nullptr);
    ERR_clear_error();
    if (!context || !CertSetCertificateContextPropertiesFromCTLEntry(context.get(), entry, 0))
        return nullptr;
    RootRules rules;
    rules.FriendlyName = NameProperty(context.get(), CERT_FRIENDLY_NAME_PROP_ID);
    rules.Purposes = UsageProperty(context.get(), CERT_ENHKEY_USAGE_PROP_ID);
    rules.DisallowedFrom = TimeProperty(context.get(), CERT_DISALLOWED_FILETIME_PROP_ID);
    rules.DisallowedPurposes = UsageProperty(context.get(), CERT_DISALLOWED_ENHKEY_USAGE_PROP_ID);
    rules.NotBeforeFrom = TimeProperty(context.get(), CERT_NOT_BEFORE_FILETIME_PROP_ID);
    rules.NotBeforePurposes = UsageProperty(context.get(), CERT_NOT_BEFORE_ENHKEY_USAGE_PROP_ID);
    slot->second = std::move(rules);
    return &*slot->second;
}

bool RootProgram::FromDroppedInList(X509* cert) const
{
    if (FListBytes.empty())
        return false;
    return std::none_of(FOwnRoots.begin(), FOwnRoots.end(),
                        [cert](const ossl::X509Ptr& own) { return X509_cmp(own.get(), cert) == 0; });
}

std::vector<X509*> RootProgram::RootsNamed(const X509_NAME* name) const
{
    std::vector<X509*> found;
    for (const X509Ptr& own : FOwnRoots)
        if (X509_NAME_cmp(X509_get_subject_name(own.get()), name) == 0)
            found.push_back(own.get());
    if (!FRoots)
        return found;
    // A certificate the list does not name is not one of its roots.
    const std::vector<X509*> listed =
        FRoots->Named(name, [this](const CertIndex::Entry& entry) { return FEntries.contains(entry.Thumbprint); });
    found.insert(found.end(), listed.begin(), listed.end());
    return found;
}

} // namespace trust
