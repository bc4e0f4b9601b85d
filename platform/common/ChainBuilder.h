// Chain building as Windows' chain engine does it, shared by the signature check and the
// viewers: OpenSSL builds the chain through a store of NewSignatureStore (SignatureTrust.h), every
// problem is noted and the building goes on, and where the first chain has a flaw that another
// path avoids, the other path is taken, as Windows weighs the chains it finds and keeps the best:
//   - an issuer found by name whose key does not verify the signature (a spoofed root's genuine
//     namesake) gives way to one that verifies;
//   - a root that Windows' root program does not trust for the purpose, or has withdrawn its trust
//     from, gives way to a path through a cross-certificate to a root it does trust (time-stamp
//     authorities carry such cross-certificates in their tokens).
#pragma once

#include "platform/common/OsslPtr.h"
#include "platform/common/RootProgram.h"

#include <cstdint>
#include <string>
#include <vector>

namespace trust {

struct ChainProblem {
    int Depth; // 0: the end certificate
    int Code;  // OpenSSL's X509_V_ERR_*
};

struct X509StackFree {
    void operator()(STACK_OF(X509) * s) const { sk_X509_pop_free(s, X509_free); }
};
using X509StackPtr = std::unique_ptr<STACK_OF(X509), X509StackFree>;

struct ChainRequest {
    X509* Leaf = nullptr;
    STACK_OF(X509)* Helpers = nullptr;  // certificates that may complete the chain, not trusted
    STACK_OF(X509_CRL)* Crls = nullptr; // when given, every certificate's revocation is checked
    int64_t When = 0;                   // the moment the chain is judged at, Unix seconds
    std::string Purpose;                // a usage OID; empty for none in particular
    int MaxDepth = 16;
    bool CheckRootSignature = false; // the self-signature of the root is checked too
};

struct BuiltChain {
    X509StackPtr Certificates; // the end certificate first
    int Untrusted = 0;         // how many of them came from the end certificate and the helpers
    // OpenSSL's problems, but for those Windows' chain engine does not raise (WindowsAccepts).
    std::vector<ChainProblem> Problems;
    // What Windows' root program says of the chain's root, when the chain ends in a trusted root.
    RootVerdict Root = RootVerdict::Trusted;

    [[nodiscard]] bool Has(int code) const;
    [[nodiscard]] bool EndsInTrustedRoot() const;
    [[nodiscard]] int Count() const;
};

// Builds and judges the chain of request.Leaf through store (made by NewSignatureStore).
[[nodiscard]] BuiltChain BuildChain(X509_STORE* store, const ChainRequest& request);

} // namespace trust
