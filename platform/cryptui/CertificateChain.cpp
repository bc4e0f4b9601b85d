#include "platform/cryptui/CertificateChain.h"

#include "platform/cryptui/CertificateInfo.h"
#include "platform/cryptui/Text.h"

#include "platform/common/ChainBuilder.h"
#include "platform/common/SignatureTrust.h"

#include <algorithm>
#include <map>

namespace cryptui {

namespace {

struct Problem {
    CertStatus Status;
    QString Detail;
};

// What OpenSSL reports, sorted by depth; a certificate shows its most telling problem.
class Problems {
public:
    void Add(int depth, int error)
    {
        const Problem problem{StatusOf(error), QString::fromUtf8(X509_verify_cert_error_string(error))};
        const auto it = FByDepth.find(depth);
        if (it == FByDepth.end() || Rank(problem.Status) > Rank(it->second.Status))
            FByDepth[depth] = problem;
    }
    // A problem of our own rather than OpenSSL's.
    void Set(int depth, CertStatus status)
    {
        const auto it = FByDepth.find(depth);
        if (it == FByDepth.end() || Rank(status) > Rank(it->second.Status))
            FByDepth[depth] = Problem{status, {}};
    }
    [[nodiscard]] const Problem* At(int depth) const
    {
        const auto it = FByDepth.find(depth);
        return it == FByDepth.end() ? nullptr : &it->second;
    }
    [[nodiscard]] bool Any(CertStatus status) const
    {
        return std::any_of(FByDepth.begin(), FByDepth.end(), [status](const auto& p) { return p.second.Status == status; });
    }

private:
    static CertStatus StatusOf(int error)
    {
        switch (error) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
        case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
        case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD: return CertStatus::Expired;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED:
        case X509_V_ERR_CERT_REJECTED: return CertStatus::UntrustedRoot;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE: return CertStatus::IssuerNotFound;
        case X509_V_ERR_CERT_SIGNATURE_FAILURE:
        case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
        case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY: return CertStatus::BadSignature;
        default: return CertStatus::Invalid;
        }
    }
    static int Rank(CertStatus status)
    {
        switch (status) {
        case CertStatus::Ok: return 0;
        case CertStatus::Invalid: return 1;
        case CertStatus::Expired: return 2;
        case CertStatus::IssuerNotFound: return 3;
        case CertStatus::UntrustedRoot: return 4;
        case CertStatus::BadSignature: return 5;
        case CertStatus::WrongUsage: return 1;
        case CertStatus::Distrusted: return 4;
        case CertStatus::Revoked: return 5;
        }
        return 0;
    }

    std::map<int, Problem> FByDepth;
};

QString ChainText(CertStatus status, bool atCertificate, const QString& detail)
{
    switch (status) {
    case CertStatus::Ok: return QStringLiteral("This certificate is OK.");
    case CertStatus::UntrustedRoot:
        return atCertificate ? StatusText(status)
                             : QStringLiteral("This certificate cannot be verified up to a trusted root: the root "
                                              "certificate of its chain is not trusted.");
    case CertStatus::IssuerNotFound:
        return atCertificate ? StatusText(status)
                             : QStringLiteral("This certificate cannot be verified up to a trusted root: the issuer "
                                              "of a certificate in its chain could not be found.");
    case CertStatus::Expired:
        return atCertificate ? StatusText(status)
                             : QStringLiteral("A certificate in this certificate's chain has expired or is not yet valid.");
    case CertStatus::BadSignature:
        return atCertificate ? StatusText(status)
                             : QStringLiteral("A certificate in this certificate's chain has an invalid digital signature.");
    case CertStatus::Invalid:
        return atCertificate ? StatusText(status, detail)
                             : QStringLiteral("A certificate in this certificate's chain is not valid: %1.").arg(detail);
    case CertStatus::WrongUsage:
        return atCertificate ? StatusText(status)
                             : QStringLiteral("The root certificate of this certificate's chain is not trusted for "
                                              "this purpose.");
    case CertStatus::Distrusted:
        return atCertificate ? StatusText(status)
                             : QStringLiteral("The root certificate of this certificate's chain is no longer trusted: "
                                              "Windows' root program has withdrawn its trust.");
    case CertStatus::Revoked:
        return atCertificate ? StatusText(status)
                             : QStringLiteral("A certificate in this certificate's chain has been revoked by its "
                                              "certification authority.");
    }
    return {};
}

// An element's most telling problem among the chain engine's flags, and its detail for Invalid.
Problem ProblemOf(DWORD errors, bool last, bool partial)
{
    if ((errors & CERT_TRUST_IS_NOT_SIGNATURE_VALID) != 0)
        return {CertStatus::BadSignature, {}};
    if ((errors & CERT_TRUST_IS_REVOKED) != 0)
        return {CertStatus::Revoked, {}};
    if ((errors & CERT_TRUST_IS_UNTRUSTED_ROOT) != 0)
        return {CertStatus::UntrustedRoot, {}};
    if (last && partial)
        return {CertStatus::IssuerNotFound, {}};
    if ((errors & CERT_TRUST_IS_EXPLICIT_DISTRUST) != 0)
        return last ? Problem{CertStatus::Distrusted, {}} : Problem{CertStatus::Invalid, QStringLiteral("it is explicitly distrusted")};
    if ((errors & CERT_TRUST_IS_NOT_TIME_VALID) != 0)
        return {CertStatus::Expired, {}};
    if ((errors & CERT_TRUST_INVALID_BASIC_CONSTRAINTS) != 0)
        return {CertStatus::Invalid, QStringLiteral("its basic constraints do not allow it here")};
    if ((errors & CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT) != 0)
        return {CertStatus::Invalid, QStringLiteral("it has a critical extension that is not supported")};
    if ((errors & (CERT_TRUST_INVALID_NAME_CONSTRAINTS | CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT |
                   CERT_TRUST_HAS_NOT_DEFINED_NAME_CONSTRAINT | CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT |
                   CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT)) != 0)
        return {CertStatus::Invalid, QStringLiteral("a name constraint does not allow it")};
    if ((errors & CERT_TRUST_INVALID_POLICY_CONSTRAINTS) != 0)
        return {CertStatus::Invalid, QStringLiteral("a policy constraint does not allow it")};
    if ((errors & CERT_TRUST_INVALID_EXTENSION) != 0)
        return {CertStatus::Invalid, QStringLiteral("it has an invalid extension")};
    if ((errors & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) != 0)
        return last ? Problem{CertStatus::WrongUsage, {}} : Problem{CertStatus::Invalid, QStringLiteral("it is not valid for this purpose")};
    return {CertStatus::Ok, {}};
}

// What revocation checking found, as a sentence after the status; empty when it was not checked.
QString RevocationText(const CERT_REVOCATION_INFO* info)
{
    if (!info)
        return {};
    switch (static_cast<HRESULT>(info->dwRevocationResult)) {
    case S_OK: return QStringLiteral("Its issuer's revocation list does not name it.");
    case CRYPT_E_REVOKED: {
        const CRL_ENTRY* entry = info->pCrlInfo ? info->pCrlInfo->pCrlEntry : nullptr;
        const auto when = entry ? TimeOf(entry->RevocationDate) : std::nullopt;
        return when ? QStringLiteral("It was revoked on %1.").arg(LongDateTime(*when)) : QString();
    }
    case CRYPT_E_NO_REVOCATION_CHECK:
        return QStringLiteral("Its revocation could not be checked: it names no revocation list.");
    case CRYPT_E_REVOCATION_OFFLINE:
        return QStringLiteral("Its revocation could not be checked: the revocation list could not be had.");
    default: return QStringLiteral("Its revocation could not be checked.");
    }
}

} // namespace

QString StatusText(CertStatus status, const QString& detail)
{
    switch (status) {
    case CertStatus::Ok: return QStringLiteral("This certificate is OK.");
    case CertStatus::Expired: return QStringLiteral("This certificate has expired or is not yet valid.");
    case CertStatus::UntrustedRoot:
        return QStringLiteral("This root certificate is not trusted: it is not in the trust store.");
    case CertStatus::IssuerNotFound: return QStringLiteral("The issuer of this certificate could not be found.");
    case CertStatus::BadSignature: return QStringLiteral("This certificate has an invalid digital signature.");
    case CertStatus::Invalid:
        return detail.isEmpty() ? QStringLiteral("This certificate is not valid.")
                                : QStringLiteral("This certificate is not valid: %1.").arg(detail);
    case CertStatus::WrongUsage:
        return QStringLiteral("This root certificate is not trusted for this purpose.");
    case CertStatus::Distrusted:
        return QStringLiteral("This root certificate is no longer trusted: Windows' root program has withdrawn its "
                              "trust.");
    case CertStatus::Revoked: return QStringLiteral("This certificate has been revoked by its certification authority.");
    }
    return {};
}

CertificateChain ChainOfContext(const CERT_CHAIN_CONTEXT& context)
{
    CertificateChain chain;
    if (context.cChain == 0 || !context.rgpChain || !context.rgpChain[0])
        return chain;
    const CERT_SIMPLE_CHAIN& simple = *context.rgpChain[0];
    const bool partial = (context.TrustStatus.dwErrorStatus & CERT_TRUST_IS_PARTIAL_CHAIN) != 0;
    QString firstDetail;
    bool firstAtCertificate = false;
    for (DWORD i = 0; i < simple.cElement && simple.rgpElement; ++i) {
        const CERT_CHAIN_ELEMENT* from = simple.rgpElement[i];
        if (!from || !from->pCertContext || !from->pCertContext->pbCertEncoded)
            break;
        X509Ptr certificate = DecodeCertificate({from->pCertContext->pbCertEncoded, from->pCertContext->cbCertEncoded});
        if (!certificate)
            break;
        ChainElement element;
        element.Name = DisplayName(certificate.get());
        element.Certificate = std::move(certificate);
        const Problem problem = ProblemOf(from->TrustStatus.dwErrorStatus, i + 1 == simple.cElement, partial);
        element.Status = problem.Status;
        element.StatusText = StatusText(problem.Status, problem.Detail);
        if (const QString revocation = RevocationText(from->pRevocationInfo); !revocation.isEmpty())
            element.StatusText += u'\n' + revocation;
        if (chain.Status == CertStatus::Ok && element.Status != CertStatus::Ok) {
            chain.Status = element.Status;
            firstDetail = problem.Detail;
            firstAtCertificate = i == 0;
        }
        chain.Elements.push_back(std::move(element));
    }
    if (chain.Status == CertStatus::UntrustedRoot || chain.Status == CertStatus::IssuerNotFound)
        firstAtCertificate = false;
    chain.StatusText = ChainText(chain.Status, firstAtCertificate, firstDetail);
    return chain;
}

CertificateChain BuildChain(X509* certificate, const std::vector<X509Ptr>& others, std::optional<time_t> at,
                            std::string_view purpose)
{
    CertificateChain chain;
    if (!certificate)
        return chain;

    // The trust signatures are judged by; a missing or unreadable store of the system's trusts
    // nothing of its own.
    const X509StorePtr trust(trust::NewSignatureStore());
    const X509StackPtr untrusted(sk_X509_new_null());
    bool ready = trust && untrusted;
    for (size_t i = 0; ready && i < others.size() && i < MaxOtherCertificates; ++i) {
        if (!others[i] || X509_up_ref(others[i].get()) != 1)
            continue;
        if (sk_X509_push(untrusted.get(), others[i].get()) <= 0) {
            X509_free(others[i].get());
            ready = false;
        }
    }
    trust::BuiltChain built;
    if (ready) {
        trust::ChainRequest request;
        request.Leaf = certificate;
        request.Helpers = untrusted.get();
        request.When = at.value_or(std::time(nullptr));
        request.Purpose = std::string(purpose);
        request.MaxDepth = MaxChainDepth;
        request.CheckRootSignature = true;
        built = trust::BuildChain(trust.get(), request);
    }
    Problems problems;
    for (const trust::ChainProblem& problem : built.Problems)
        problems.Add(problem.Depth, problem.Code);
    for (int i = 0; i < built.Count(); ++i) {
        X509* element = sk_X509_value(built.Certificates.get(), i);
        if (!element || X509_up_ref(element) != 1)
            continue;
        if (trust::HasExplicitCurveParameters(element))
            problems.Add(static_cast<int>(chain.Elements.size()), X509_V_ERR_EC_KEY_EXPLICIT_PARAMS);
        chain.Elements.push_back({X509Ptr(element), {}, CertStatus::Ok, {}});
    }

    // A chain that ends in a root of Windows' root program is held to that root's rules.
    if (!chain.Elements.empty() && built.EndsInTrustedRoot()) {
        const int top = static_cast<int>(chain.Elements.size()) - 1;
        if (built.Root == trust::RootVerdict::NotValidForUsage)
            problems.Set(top, CertStatus::WrongUsage);
        else if (built.Root == trust::RootVerdict::Distrusted)
            problems.Set(top, CertStatus::Distrusted);
    }

    // Without a chain from OpenSSL the certificate still stands on its own.
    if (chain.Elements.empty() && X509_up_ref(certificate) == 1) {
        chain.Elements.push_back({X509Ptr(certificate), {}, CertStatus::IssuerNotFound, {}});
        problems.Add(0, X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY);
    }

    QString firstDetail;
    bool firstAtCertificate = false;
    for (size_t depth = 0; depth < chain.Elements.size(); ++depth) {
        ChainElement& element = chain.Elements[depth];
        element.Name = DisplayName(element.Certificate.get());
        const Problem* problem = problems.At(static_cast<int>(depth));
        element.Status = problem ? problem->Status : CertStatus::Ok;
        element.StatusText = StatusText(element.Status, problem ? problem->Detail : QString());
        if (chain.Status == CertStatus::Ok && element.Status != CertStatus::Ok) {
            chain.Status = element.Status;
            firstDetail = problem->Detail;
            firstAtCertificate = depth == 0;
        }
    }
    // A self-signed certificate is its own root: its being untrusted is the chain's being untrusted.
    if (chain.Status == CertStatus::UntrustedRoot || chain.Status == CertStatus::IssuerNotFound)
        firstAtCertificate = false;
    chain.StatusText = ChainText(chain.Status, firstAtCertificate, firstDetail);
    return chain;
}

} // namespace cryptui
