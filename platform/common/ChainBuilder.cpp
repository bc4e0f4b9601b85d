#include "platform/common/ChainBuilder.h"

#include "platform/common/SignatureTrust.h"

#include <openssl/err.h>

#include <algorithm>

namespace trust {

namespace {

int CollectProblems(int ok, X509_STORE_CTX* ctx)
{
    if (!ok && !WindowsAccepts(ctx)) {
        auto* problems = static_cast<std::vector<ChainProblem>*>(X509_STORE_CTX_get_app_data(ctx));
        if (problems && problems->size() < 256)
            problems->push_back({X509_STORE_CTX_get_error_depth(ctx), X509_STORE_CTX_get_error(ctx)});
    }
    // Go on to the end, so that the whole chain is built and every problem is known, whichever
    // OpenSSL meets first.
    return 1;
}

bool HasSignatureFailure(const BuiltChain& chain)
{
    return chain.Has(X509_V_ERR_CERT_SIGNATURE_FAILURE) || chain.Has(X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE) ||
           chain.Has(X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY);
}

// An issuer could not be found.
bool IsIncomplete(const BuiltChain& chain)
{
    return chain.Has(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT) || chain.Has(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY) ||
           chain.Has(X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE);
}

bool EndsUntrusted(const BuiltChain& chain)
{
    return chain.Has(X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT) || chain.Has(X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN) ||
           chain.Has(X509_V_ERR_CERT_UNTRUSTED);
}

BuiltChain Run(X509_STORE* store, const ChainRequest& request, bool verifyingIssuers, bool avoidRefusedRoots)
{
    BuiltChain chain;
    const ossl::X509StoreCtxPtr ctx(X509_STORE_CTX_new());
    RootAvoidance avoidance{request.Purpose, request.When, request.Leaf};
    if (!ctx || X509_STORE_CTX_init(ctx.get(), store, request.Leaf, request.Helpers) != 1 ||
        (verifyingIssuers && !PreferVerifyingIssuers(ctx.get())) ||
        (avoidRefusedRoots && !AvoidRefusedRoots(ctx.get(), &avoidance))) {
        ERR_clear_error();
        chain.Problems.push_back({0, X509_V_ERR_UNSPECIFIED});
        return chain;
    }
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
    X509_VERIFY_PARAM_set_time(param, static_cast<time_t>(request.When));
    X509_VERIFY_PARAM_set_depth(param, request.MaxDepth);
    if (request.CheckRootSignature)
        X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_CHECK_SS_SIGNATURE);
    if (request.Crls) {
        X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
        X509_STORE_CTX_set0_crls(ctx.get(), request.Crls);
    }
    X509_STORE_CTX_set_verify_cb(ctx.get(), CollectProblems);
    X509_STORE_CTX_set_app_data(ctx.get(), &chain.Problems);
    if (X509_verify_cert(ctx.get()) < 0 && chain.Problems.empty())
        chain.Problems.push_back({0, X509_V_ERR_UNSPECIFIED});
    X509_STORE_CTX_set_app_data(ctx.get(), nullptr);
    chain.Certificates.reset(X509_STORE_CTX_get1_chain(ctx.get()));
    chain.Untrusted = X509_STORE_CTX_get_num_untrusted(ctx.get());
    ERR_clear_error();
    if (chain.EndsInTrustedRoot())
        chain.Root = JudgeRoot(store, sk_X509_value(chain.Certificates.get(), chain.Count() - 1), request.Leaf,
                               request.Purpose, request.When);
    return chain;
}

} // namespace

bool BuiltChain::Has(int code) const
{
    return std::any_of(Problems.begin(), Problems.end(), [code](const ChainProblem& p) { return p.Code == code; });
}

int BuiltChain::Count() const
{
    return Certificates ? sk_X509_num(Certificates.get()) : 0;
}

bool BuiltChain::EndsInTrustedRoot() const
{
    // The certificates after the first Untrusted came from the trust store.
    return Count() > Untrusted && Count() > 0 && !IsIncomplete(*this) && !EndsUntrusted(*this);
}

BuiltChain BuildChain(X509_STORE* store, const ChainRequest& request)
{
    if (!store || !request.Leaf) {
        BuiltChain none;
        none.Problems.push_back({0, X509_V_ERR_UNSPECIFIED});
        return none;
    }
    bool verifyingIssuers = false;
    BuiltChain chain = Run(store, request, false, false);
    if (HasSignatureFailure(chain)) {
        BuiltChain verifying = Run(store, request, true, false);
        if (!HasSignatureFailure(verifying) && !IsIncomplete(verifying)) {
            chain = std::move(verifying);
            verifyingIssuers = true;
        }
    }
    if (chain.EndsInTrustedRoot() && chain.Root != RootVerdict::Trusted) {
        BuiltChain other = Run(store, request, verifyingIssuers, true);
        if (other.EndsInTrustedRoot() && other.Root == RootVerdict::Trusted && !HasSignatureFailure(other))
            chain = std::move(other);
    }
    return chain;
}

} // namespace trust
