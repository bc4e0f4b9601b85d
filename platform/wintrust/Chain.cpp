#include "platform/wintrust/Chain.h"

#include "platform/common/ChainBuilder.h"
#include "platform/common/SignatureTrust.h"

#include <openssl/err.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <set>
#include <string>

namespace wintrust {

namespace {

// Chains longer than this are not followed.
constexpr int MaxChainDepth = 16;
// Distribution points looked at for one chain at most.
constexpr size_t MaxCrlUrls = 16;

using ReasonPtr = std::unique_ptr<ASN1_ENUMERATED, OsslFree<ASN1_ENUMERATED_free>>;

// OpenSSL's errors about a certificate's revocation list: the list was not had, or not usable.
bool IsRevocationProblem(int code)
{
    switch (code) {
    case X509_V_ERR_UNABLE_TO_GET_CRL:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CRL_SIGNATURE:
    case X509_V_ERR_CRL_SIGNATURE_FAILURE:
    case X509_V_ERR_CRL_NOT_YET_VALID:
    case X509_V_ERR_CRL_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD:
    case X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD:
    case X509_V_ERR_UNABLE_TO_GET_CRL_ISSUER:
    case X509_V_ERR_KEYUSAGE_NO_CRL_SIGN:
    case X509_V_ERR_DIFFERENT_CRL_SCOPE:
    case X509_V_ERR_UNHANDLED_CRITICAL_CRL_EXTENSION:
    case X509_V_ERR_CRL_PATH_VALIDATION_ERROR: return true;
    default: return false;
    }
}

// The Windows result of one OpenSSL verification error; S_OK for those Windows lets pass (a
// CRL that is missing, stale or unreadable is revocation that is offline).
HRESULT ResultOf(int code)
{
    if (IsRevocationProblem(code))
        return S_OK;
    switch (code) {
    case X509_V_OK: return S_OK;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY: return TRUST_E_CERT_SIGNATURE;
    case X509_V_ERR_CERT_REVOKED: return CERT_E_REVOKED;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_CHAIN_TOO_LONG: return CERT_E_CHAINING;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_REJECTED: return CERT_E_UNTRUSTEDROOT;
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD: return CERT_E_EXPIRED;
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_INVALID_NON_CA: return TRUST_E_BASIC_CONSTRAINTS;
    case X509_V_ERR_PATH_LENGTH_EXCEEDED: return CERT_E_PATHLENCONST;
    case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION: return CERT_E_CRITICAL;
    case X509_V_ERR_INVALID_PURPOSE: return CERT_E_WRONG_USAGE;
    case X509_V_ERR_EC_KEY_EXPLICIT_PARAMS: return TRUST_E_EXPLICIT_DISTRUST;
    default: return TRUST_E_FAIL;
    }
}

// The chain engine's trust error for one OpenSSL verification error; 0 for the revocation
// problems, which are judged per certificate apart.
DWORD TrustErrorOf(int code)
{
    switch (code) {
    case X509_V_OK: return CERT_TRUST_NO_ERROR;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY: return CERT_TRUST_IS_NOT_SIGNATURE_VALID;
    case X509_V_ERR_CERT_REVOKED: return CERT_TRUST_IS_REVOKED;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_CHAIN_TOO_LONG: return CERT_TRUST_IS_PARTIAL_CHAIN;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_REJECTED: return CERT_TRUST_IS_UNTRUSTED_ROOT;
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD: return CERT_TRUST_IS_NOT_TIME_VALID;
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_INVALID_NON_CA:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED: return CERT_TRUST_INVALID_BASIC_CONSTRAINTS;
    case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION: return CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT;
    case X509_V_ERR_INVALID_PURPOSE: return CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
    case X509_V_ERR_EC_KEY_EXPLICIT_PARAMS: return CERT_TRUST_IS_EXPLICIT_DISTRUST;
    case X509_V_ERR_PERMITTED_VIOLATION: return CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT;
    case X509_V_ERR_EXCLUDED_VIOLATION: return CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT;
    case X509_V_ERR_SUBTREE_MINMAX:
    case X509_V_ERR_UNSUPPORTED_CONSTRAINT_TYPE:
    case X509_V_ERR_UNSUPPORTED_CONSTRAINT_SYNTAX:
    case X509_V_ERR_UNSUPPORTED_NAME_SYNTAX: return CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT;
    case X509_V_ERR_INVALID_POLICY_EXTENSION:
    case X509_V_ERR_NO_EXPLICIT_POLICY: return CERT_TRUST_INVALID_POLICY_CONSTRAINTS;
    default: return IsRevocationProblem(code) ? CERT_TRUST_NO_ERROR : CERT_TRUST_INVALID_EXTENSION;
    }
}

// How the chain engine found issuer to be cert's: by the key identifier cert names, or by name.
DWORD IssuerMatchOf(X509* cert, X509* issuer)
{
    const ASN1_OCTET_STRING* named = X509_get0_authority_key_id(cert);
    const ASN1_OCTET_STRING* key = X509_get0_subject_key_id(issuer);
    if (named && key && ASN1_OCTET_STRING_cmp(named, key) == 0)
        return CERT_TRUST_HAS_KEY_MATCH_ISSUER;
    return CERT_TRUST_HAS_NAME_MATCH_ISSUER;
}

// Lower is more serious. A certificate refused for its explicit curve parameters comes after an
// untrusted root: a spoofed root is first of all not the trusted one it imitates.
int Rank(HRESULT hr)
{
    static constexpr std::array<HRESULT, 11> Order = {
        TRUST_E_CERT_SIGNATURE,    CERT_E_REVOKED,      CERT_E_CHAINING, CERT_E_UNTRUSTEDROOT,
        TRUST_E_EXPLICIT_DISTRUST, CERT_E_EXPIRED,      TRUST_E_BASIC_CONSTRAINTS, CERT_E_PATHLENCONST,
        CERT_E_CRITICAL,           CERT_E_WRONG_USAGE,  TRUST_E_FAIL};
    const auto it = std::find(Order.begin(), Order.end(), hr);
    return static_cast<int>(it - Order.begin());
}

HRESULT MoreSerious(HRESULT a, HRESULT b)
{
    if (a == S_OK)
        return b;
    if (b == S_OK)
        return a;
    return Rank(b) < Rank(a) ? b : a;
}

bool AllowsUsage(X509* cert, Usage usage)
{
    if ((X509_get_extension_flags(cert) & EXFLAG_XKUSAGE) == 0)
        return true; // no extended key usage: every usage
    const uint32_t usages = X509_get_extended_key_usage(cert);
    const uint32_t wanted = usage == Usage::CodeSigning ? XKU_CODE_SIGN : XKU_TIMESTAMP;
    return (usages & (wanted | XKU_ANYEKU)) != 0;
}

X509Ptr Share(X509* cert)
{
    if (!cert || X509_up_ref(cert) != 1)
        return nullptr;
    return X509Ptr(cert);
}

// cert's entry in one of crls; null when none names it.
X509_REVOKED* RevocationEntry(X509* cert, STACK_OF(X509_CRL) * crls)
{
    for (int i = 0; i < sk_X509_CRL_num(crls); ++i) {
        X509_REVOKED* entry = nullptr;
        if (X509_CRL_get0_by_cert(sk_X509_CRL_value(crls, i), &entry, cert) == 1 && entry)
            return entry;
    }
    ERR_clear_error();
    return nullptr;
}

DWORD RevocationReason(const X509_REVOKED* entry)
{
    const ReasonPtr reason(
        static_cast<ASN1_ENUMERATED*>(X509_REVOKED_get_ext_d2i(entry, NID_crl_reason, nullptr, nullptr)));
    const long value = reason ? ASN1_ENUMERATED_get(reason.get()) : 0;
    ERR_clear_error();
    return value > 0 ? static_cast<DWORD>(value) : 0;
}

int64_t UnixTime(const ASN1_TIME* time)
{
    struct tm parts {};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1)
        return 0;
    return static_cast<int64_t>(timegm(&parts));
}

} // namespace

TrustStore::TrustStore() : FStore(trust::SharedSignatureStore()) {}

ChainResult TrustStore::Verify(X509* leaf, STACK_OF(X509) * helpers, STACK_OF(X509_CRL) * crls, int64_t when,
                               Usage usage, const RevocationPolicy& revocation) const
{
    ChainResult result;
    if (!FStore || !leaf) {
        result.Error = TRUST_E_FAIL;
        return result;
    }
    trust::ChainRequest request;
    request.Leaf = leaf;
    request.Helpers = helpers;
    request.When = when;
    request.Purpose = usage == Usage::CodeSigning ? szOID_PKIX_KP_CODE_SIGNING : szOID_PKIX_KP_TIMESTAMP_SIGNING;
    request.MaxDepth = MaxChainDepth;
    trust::BuiltChain pass = trust::BuildChain(FStore.get(), request);

    CrlStackPtr lists;
    if (revocation.Check && pass.Certificates) {
        lists.reset(sk_X509_CRL_new_null());
        for (int i = 0; lists && i < sk_X509_CRL_num(crls); ++i)
            if (X509_CRL* crl = sk_X509_CRL_value(crls, i); crl && X509_CRL_up_ref(crl) == 1 &&
                                                            !sk_X509_CRL_push(lists.get(), crl))
                X509_CRL_free(crl);
        // Each certificate that has an issuer in the chain: its first distribution point that
        // gives a list.
        std::set<std::string> tried;
        for (int i = 0; lists && i < pass.Count(); ++i) {
            X509* cert = sk_X509_value(pass.Certificates.get(), i);
            if (X509_self_signed(cert, 0) == 1)
                continue;
            for (const std::string& url : CrlDistributionUrls(cert)) {
                if (tried.size() >= MaxCrlUrls || !tried.insert(url).second)
                    continue;
                X509CrlPtr crl = FetchCrl(url, revocation.Budget);
                if (crl && sk_X509_CRL_push(lists.get(), crl.get())) {
                    crl.release();
                    break;
                }
            }
        }
        ERR_clear_error();
        if (lists) {
            request.Crls = lists.get();
            pass = trust::BuildChain(FStore.get(), request);
        }
    }

    const int count = pass.Count();
    result.Elements.resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        X509* cert = sk_X509_value(pass.Certificates.get(), i);
        ChainElement& element = result.Elements[static_cast<size_t>(i)];
        element.Cert = Share(cert);
        element.SelfSigned = X509_self_signed(cert, 0) == 1;
        element.Confidence = CertConfidenceSig | CertConfidenceTime | CertConfidenceTimeNest |
                             CertConfidenceAuthIdExt | CertConfidenceHygiene;
        // The end certificate and the helpers came from the signature, the rest from the store.
        element.Source = i < pass.Untrusted ? TESSERA_CERT_SOURCE_SIGNATURE : trust::SourceOf(FStore.get(), cert);
        if (element.SelfSigned)
            element.Status.dwInfoStatus |= CERT_TRUST_IS_SELF_SIGNED | IssuerMatchOf(cert, cert);
        else if (i + 1 < count)
            element.Status.dwInfoStatus |= IssuerMatchOf(cert, sk_X509_value(pass.Certificates.get(), i + 1));
        if (!AllowsUsage(cert, usage)) {
            element.Error = CERT_E_WRONG_USAGE;
            element.Status.dwErrorStatus |= CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
        }
    }
    if (count > pass.Untrusted && count > 0)
        result.Elements.back().TrustedRoot = true;

    std::vector<bool> listMissing(static_cast<size_t>(count), false);
    for (const trust::ChainProblem& problem : pass.Problems) {
        const bool atElement = problem.Depth >= 0 && problem.Depth < count;
        const DWORD flag = TrustErrorOf(problem.Code);
        if (flag == CERT_TRUST_IS_PARTIAL_CHAIN)
            result.Status.dwErrorStatus |= flag;
        else if (atElement)
            result.Elements[static_cast<size_t>(problem.Depth)].Status.dwErrorStatus |= flag;
        if (atElement && IsRevocationProblem(problem.Code))
            listMissing[static_cast<size_t>(problem.Depth)] = true;
        const HRESULT hr = ResultOf(problem.Code);
        if (hr == S_OK)
            continue;
        result.Error = MoreSerious(result.Error, hr);
        if (atElement) {
            ChainElement& element = result.Elements[static_cast<size_t>(problem.Depth)];
            element.Error = MoreSerious(element.Error, hr);
            if (hr == TRUST_E_CERT_SIGNATURE || hr == CERT_E_CHAINING)
                element.Confidence &= ~CertConfidenceSig;
            if (hr == CERT_E_EXPIRED)
                element.Confidence &= ~CertConfidenceTime;
        }
    }
    // A chain that ends in a root of Windows' root program is held to that root's rules: the
    // purposes it is trusted for, and the dates from which it is not.
    if (count > 0 && result.Elements.back().TrustedRoot) {
        ChainElement& root = result.Elements.back();
        if (const auto program = trust::RootProgramOf(FStore.get()))
            root.RootEntry = program->EntryOf(root.Cert.get());
        switch (pass.Root) {
        case trust::RootVerdict::Trusted: break;
        case trust::RootVerdict::NotValidForUsage:
            root.Error = MoreSerious(root.Error, CERT_E_WRONG_USAGE);
            root.Status.dwErrorStatus |= CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
            break;
        case trust::RootVerdict::Distrusted:
            root.Error = MoreSerious(root.Error, TRUST_E_EXPLICIT_DISTRUST);
            root.Status.dwErrorStatus |= CERT_TRUST_IS_EXPLICIT_DISTRUST;
            break;
        }
    }
    // What revocation checking found for each certificate but a root, whose revocation nobody
    // can say: the list had names it or not, or no list was had (revocation unknown, and offline
    // when the certificate names where to ask).
    const bool revocationChecked = revocation.Check && lists != nullptr;
    for (int i = 0; revocationChecked && i < count; ++i) {
        ChainElement& element = result.Elements[static_cast<size_t>(i)];
        if (element.SelfSigned)
            continue;
        ElementRevocation found;
        if ((element.Status.dwErrorStatus & CERT_TRUST_IS_REVOKED) != 0) {
            found.Result = CRYPT_E_REVOKED;
            if (const X509_REVOKED* entry = RevocationEntry(element.Cert.get(), lists.get())) {
                element.RevokedReason = RevocationReason(entry);
                found.RevokedAt = UnixTime(X509_REVOKED_get0_revocationDate(entry));
            }
        } else if (listMissing[static_cast<size_t>(i)]) {
            const bool asked = !CrlDistributionUrls(element.Cert.get()).empty();
            found.Result = asked ? CRYPT_E_REVOCATION_OFFLINE : CRYPT_E_NO_REVOCATION_CHECK;
            element.Status.dwErrorStatus |=
                CERT_TRUST_REVOCATION_STATUS_UNKNOWN | (asked ? CERT_TRUST_IS_OFFLINE_REVOCATION : 0);
        }
        element.Revocation = found;
    }
    // A key with explicit curve parameters is refused for what it is, whatever else its
    // certificate shows; the chain as a whole keeps its most serious problem.
    for (ChainElement& element : result.Elements) {
        if (trust::HasExplicitCurveParameters(element.Cert.get())) {
            element.Error = TRUST_E_EXPLICIT_DISTRUST;
            element.Confidence &= ~CertConfidenceSig;
            element.Status.dwErrorStatus |= CERT_TRUST_IS_EXPLICIT_DISTRUST;
        }
        result.Error = MoreSerious(result.Error, element.Error);
        result.Status.dwErrorStatus |= element.Status.dwErrorStatus;
    }
    if (count == 0)
        result.Error = MoreSerious(result.Error, TRUST_E_FAIL);
    return result;
}

} // namespace wintrust
