// The trust that signatures are judged by, shared by the Authenticode check and the viewers:
// OpenSSL's default verify paths (SSL_CERT_FILE, SSL_CERT_DIR), then Windows' root program
// (platform/common/RootProgram.h: the roots Windows trusts, each with the purposes and dates of
// its trust, built into the program). Nothing that makes a TLS connection uses these roots.
//
// And where Windows' chain engine judges otherwise than OpenSSL does by default: roots of the
// 1990s without basicConstraints are CAs, an issuer whose key verifies the signature is preferred
// to one that only has the right name, keys with explicit curve parameters are refused, and a
// chain that ends in a root of the root program is held to that root's rules, whichever source
// supplied it.
#pragma once

#include "platform/common/OsslPtr.h"
#include "platform/common/RootProgram.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace trust {

// When set (to anything but "" or "0"), signatures are judged by the system's store alone.
inline constexpr char SystemOnlyVariable[] = "TESSERA_SYSTEM_TRUST_ONLY";

[[nodiscard]] bool BundledRootsEnabled();

// A store for judging signatures: the default verify paths, then the root program's roots unless
// built-in trust is turned off. Read when it is made, so a changed SSL_CERT_FILE counts from the next store on.
// Chain building through it can be told to take only issuers that verify (PreferVerifyingIssuers).
// Null when OpenSSL has no memory left.
[[nodiscard]] ossl::X509StorePtr NewSignatureStore();
// The same store, kept for the process and shared (reference-counted) between verifications and
// threads while the variables and the files they name stay as they were; a change to any of them
// makes a new one. Reading the system's bundle for every file would cost more than many a check.
[[nodiscard]] ossl::X509StorePtr SharedSignatureStore();

// The root program a store of NewSignatureStore was made with; null when it has none.
[[nodiscard]] std::shared_ptr<const RootProgram> RootProgramOf(X509_STORE* store);

// Where a store of NewSignatureStore has a certificate of its own from (a TESSERA_CERT_SOURCE_*
// value); 0 for a null store or certificate.
[[nodiscard]] DWORD SourceOf(X509_STORE* store, X509* cert);

// How the root program judges a chain built through store that ends in root: for purpose (a
// usage OID, empty for none in particular), at when (Unix seconds), end being the chain's end
// certificate. Trusted when the program says nothing of the root (an administrator's own root, a
// test root in SSL_CERT_FILE).
[[nodiscard]] RootVerdict JudgeRoot(X509_STORE* store, X509* root, X509* end, std::string_view purpose, int64_t when);

// What a chain is built for, so that its building can pass over a root that Windows' root program
// refuses for it when another path exists (AvoidRefusedRoots).
struct RootAvoidance {
    std::string Purpose; // a usage OID, empty for none in particular
    int64_t When = 0;    // the moment the chain is judged at, Unix seconds
    X509* End = nullptr; // the chain's end certificate
};
// From now on, chain building in ctx does not take as an issuer a root that the root program
// refuses for avoidance (which must outlive ctx's verification). False when ctx cannot carry it.
bool AvoidRefusedRoots(X509_STORE_CTX* ctx, const RootAvoidance* avoidance);

// From now on, chain building in ctx (made from a store of NewSignatureStore) takes as the issuer
// of a certificate only one whose key verifies its signature, as Windows does where it can. An
// issuer found by name alone that does not verify (a spoofed root's genuine namesake) is passed
// over for one that does. Signatures in algorithms OpenSSL cannot check (MD2) are not held
// against the issuer. False when ctx cannot carry the setting.
bool PreferVerifyingIssuers(X509_STORE_CTX* ctx);

// For a verify callback: whether the problem ctx reports now is one Windows' chain engine does
// not raise. That is OpenSSL's "invalid CA certificate" for the top of the chain when it is a
// self-signed certificate from the trust store that carries no basicConstraints at all (the
// roots of the 1990s); an intermediate without basicConstraints stays refused.
[[nodiscard]] bool WindowsAccepts(X509_STORE_CTX* ctx);

// A key whose elliptic curve is given by explicit parameters instead of a name: the shape of the
// curve-spoofing attack on Windows (CVE-2020-0601), and refused wherever it appears in a chain.
[[nodiscard]] bool HasExplicitCurveParameters(X509* cert);

// Whether cert's extended key usage holds Lifetime Signing (1.3.6.1.4.1.311.10.3.13): its
// signatures end with it, so a time stamp does not move the time its chain is judged at.
[[nodiscard]] bool HasLifetimeSigning(X509* cert);

} // namespace trust
