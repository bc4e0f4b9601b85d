#include "cert/KavexTrustAccount.h"

#include "cert/KavexCert.h"
#include "cert/KavexWinCrypt.h"
#include "cert/KavexWinTrust.h"
#include "support/WinString.h"

#include <array>
#include <cstring>
#include <utility>

namespace {

constexpr DWORD CertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr char LifetimeSigningOid[] = "1.3.6.1.4.1.311.10.3.13";

QString NameOf(PCCERT_CONTEXT cert, DWORD flags)
{
    const DWORD length = CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr, nullptr, 0);
    if (length <= 1)
        return {};
    std::vector<WCHAR> buffer(length);
    CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr, buffer.data(), length);
    return FromWStr(buffer.data(), length - 1).trimmed();
}

QString ThumbprintOf(PCCERT_CONTEXT cert, ALG_ID algorithm)
{
    std::array<BYTE, 64> digest{};
    DWORD size = digest.size();
    if (!CryptHashCertificate(0, algorithm, 0, cert->pbCertEncoded, cert->cbCertEncoded, digest.data(), &size))
        return {};
    return BytesToHex(digest.data(), size).toLower();
}

DWORD SourceOf(PCCERT_CONTEXT cert)
{
    DWORD source = 0;
    DWORD size = sizeof(source);
    if (!CertGetCertificateContextProperty(cert, TESSERA_CERT_SOURCE_PROP_ID, &source, &size) || size != sizeof(source))
        return 0;
    return source;
}

bool HasLifetimeSigning(PCCERT_CONTEXT cert)
{
    DWORD size = 0;
    if (!cert || !CertGetEnhancedKeyUsage(cert, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &size) || size == 0)
        return false;
    std::vector<uint64_t> buffer((size + sizeof(uint64_t) - 1) / sizeof(uint64_t), 0);
    auto* usages = reinterpret_cast<PCERT_ENHKEY_USAGE>(buffer.data());
    if (!CertGetEnhancedKeyUsage(cert, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usages, &size))
        return false;
    for (DWORD i = 0; i < usages->cUsageIdentifier; ++i)
        if (usages->rgpszUsageIdentifier[i] && std::strcmp(usages->rgpszUsageIdentifier[i], LifetimeSigningOid) == 0)
            return true;
    return false;
}

// The reason a CRL entry gives (its CRLReason extension, an ENUMERATED); 0 when none.
DWORD ReasonOf(const CRL_ENTRY& entry)
{
    for (DWORD i = 0; i < entry.cExtension && entry.rgExtension; ++i) {
        const CERT_EXTENSION& extension = entry.rgExtension[i];
        const CRYPT_OBJID_BLOB& value = extension.Value;
        if (extension.pszObjId && std::strcmp(extension.pszObjId, szOID_CRL_REASON_CODE) == 0 && value.cbData == 3 &&
            value.pbData && value.pbData[0] == 0x0A && value.pbData[1] == 0x01)
            return value.pbData[2];
    }
    return 0;
}

TChainAccount ChainOf(const CRYPT_PROVIDER_SGNR& signer)
{
    TChainAccount chain;
    const CERT_CHAIN_CONTEXT* context = signer.pChainContext;
    if (!context || context->cChain == 0 || !context->rgpChain || !context->rgpChain[0])
        return chain;
    chain.Status = context->TrustStatus;
    const CERT_SIMPLE_CHAIN& simple = *context->rgpChain[0];
    for (DWORD i = 0; i < simple.cElement && simple.rgpElement; ++i) {
        const CERT_CHAIN_ELEMENT* element = simple.rgpElement[i];
        PCCERT_CONTEXT cert = element ? element->pCertContext : nullptr;
        if (!cert || !cert->pCertInfo)
            break;
        TCertAccount account;
        account.Subject = NameOf(cert, 0);
        account.Issuer = NameOf(cert, CERT_NAME_ISSUER_FLAG);
        account.Sha1 = ThumbprintOf(cert, CALG_SHA1);
        account.Sha256 = ThumbprintOf(cert, CALG_SHA_256);
        account.NotBeforeUtc = ConvertFileTime(cert->pCertInfo->NotBefore, false);
        account.NotAfterUtc = ConvertFileTime(cert->pCertInfo->NotAfter, false);
        account.Source = SourceOf(cert);
        account.TrustedRoot = i < signer.csCertChain && signer.pasCertChain && signer.pasCertChain[i].fTrustedRoot;
        account.Status = element->TrustStatus;
        if (const CERT_REVOCATION_INFO* info = element->pRevocationInfo) {
            TRevocationAccount revocation;
            revocation.Result = static_cast<HRESULT>(info->dwRevocationResult);
            if (const CRL_ENTRY* entry = info->pCrlInfo ? info->pCrlInfo->pCrlEntry : nullptr) {
                revocation.RevokedAtUtc = ConvertFileTime(entry->RevocationDate, false);
                revocation.Reason = ReasonOf(*entry);
            }
            account.Revocation = revocation;
        }
        chain.Elements.push_back(std::move(account));
    }
    return chain;
}

QString HexOf(const CRYPT_DATA_BLOB& blob)
{
    if (!blob.pbData)
        return {};
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(blob.pbData), static_cast<int>(blob.cbData)).toHex());
}

// The digest check the trust provider keeps as its private data; none when it never got to compare.
std::optional<TDigestAccount> DigestOf(CRYPT_PROVIDER_DATA* data)
{
    GUID id = TESSERA_DIGEST_CHECK_ID;
    const CRYPT_PROVIDER_PRIVDATA* privateData = WTHelperGetProvPrivateDataFromChain(data, &id);
    if (!privateData || !privateData->pvProvData || privateData->cbProvData < sizeof(TESSERA_DIGEST_CHECK))
        return std::nullopt;
    const auto& check = *static_cast<const TESSERA_DIGEST_CHECK*>(privateData->pvProvData);
    TDigestAccount digest;
    const QString oid = QString::fromLatin1(check.pszAlgorithmOid ? check.pszAlgorithmOid : "");
    const QString name = OidToName(oid);
    digest.Algorithm = name.toLower();
    digest.File = HexOf(check.FileDigest);
    digest.Signed = HexOf(check.SignedDigest);
    digest.Match = check.fMatches != FALSE;
    return digest;
}

} // namespace

std::optional<TSignatureAccount> ReadSignatureAccount(HANDLE state, const QString& timeStampKind)
{
    CRYPT_PROVIDER_DATA* data = WTHelperProvDataFromStateData(state);
    CRYPT_PROVIDER_SGNR* signer = data ? WTHelperGetProvSignerFromChain(data, 0, FALSE, 0) : nullptr;
    if (!signer)
        return std::nullopt;
    TSignatureAccount account;
    account.Chain = ChainOf(*signer);
    account.JudgedAtUtc = ConvertFileTime(signer->sftVerifyAsOf, false);

    // The counter-signer whose time counts: the first the trust provider accepted, else the first.
    const CRYPT_PROVIDER_SGNR* stamp = nullptr;
    for (DWORD i = 0; i < signer->csCounterSigners && signer->pasCounterSigners; ++i) {
        const CRYPT_PROVIDER_SGNR& counter = signer->pasCounterSigners[i];
        if (!stamp || (counter.dwError == 0 && stamp->dwError != 0))
            stamp = &counter;
    }
    if (stamp) {
        TTimeStampAccount timeStamp;
        timeStamp.Kind = timeStampKind;
        timeStamp.TimeUtc = ConvertFileTime(stamp->sftVerifyAsOf, false);
        timeStamp.Result = static_cast<HRESULT>(stamp->dwError);
        timeStamp.Chain = ChainOf(*stamp);
        if (stamp->csCertChain > 0 && stamp->pasCertChain && stamp->pasCertChain[0].pCert)
            timeStamp.Signer = NameOf(stamp->pasCertChain[0].pCert, 0);
        account.TimeStamp = std::move(timeStamp);
    }
    PCCERT_CONTEXT signerCert = signer->csCertChain > 0 && signer->pasCertChain ? signer->pasCertChain[0].pCert : nullptr;
    if (HasLifetimeSigning(signerCert) && stamp && stamp->dwError == 0)
        account.JudgedAtReason = TJudgedAtReason::LifetimeSigning;
    else if (!stamp)
        account.JudgedAtReason = TJudgedAtReason::NoTimeStamp;
    else if (stamp->dwError != 0)
        account.JudgedAtReason = TJudgedAtReason::TimeStampFailed;
    else
        account.JudgedAtReason = TJudgedAtReason::TimeStamp;
    account.Digest = DigestOf(data);
    account.SignerResult = static_cast<HRESULT>(signer->dwError);
    return account;
}

QStringList ChainStatusNames(DWORD errorStatus)
{
    static const std::array<std::pair<DWORD, const char*>, 25> Names = {{
        {CERT_TRUST_IS_NOT_TIME_VALID, "CERT_TRUST_IS_NOT_TIME_VALID"},
        {CERT_TRUST_IS_NOT_TIME_NESTED, "CERT_TRUST_IS_NOT_TIME_NESTED"},
        {CERT_TRUST_IS_REVOKED, "CERT_TRUST_IS_REVOKED"},
        {CERT_TRUST_IS_NOT_SIGNATURE_VALID, "CERT_TRUST_IS_NOT_SIGNATURE_VALID"},
        {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, "CERT_TRUST_IS_NOT_VALID_FOR_USAGE"},
        {CERT_TRUST_IS_UNTRUSTED_ROOT, "CERT_TRUST_IS_UNTRUSTED_ROOT"},
        {CERT_TRUST_REVOCATION_STATUS_UNKNOWN, "CERT_TRUST_REVOCATION_STATUS_UNKNOWN"},
        {CERT_TRUST_IS_CYCLIC, "CERT_TRUST_IS_CYCLIC"},
        {CERT_TRUST_INVALID_EXTENSION, "CERT_TRUST_INVALID_EXTENSION"},
        {CERT_TRUST_INVALID_POLICY_CONSTRAINTS, "CERT_TRUST_INVALID_POLICY_CONSTRAINTS"},
        {CERT_TRUST_INVALID_BASIC_CONSTRAINTS, "CERT_TRUST_INVALID_BASIC_CONSTRAINTS"},
        {CERT_TRUST_INVALID_NAME_CONSTRAINTS, "CERT_TRUST_INVALID_NAME_CONSTRAINTS"},
        {CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT, "CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT"},
        {CERT_TRUST_HAS_NOT_DEFINED_NAME_CONSTRAINT, "CERT_TRUST_HAS_NOT_DEFINED_NAME_CONSTRAINT"},
        {CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT, "CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT"},
        {CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT, "CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT"},
        {CERT_TRUST_IS_PARTIAL_CHAIN, "CERT_TRUST_IS_PARTIAL_CHAIN"},
        {CERT_TRUST_CTL_IS_NOT_TIME_VALID, "CERT_TRUST_CTL_IS_NOT_TIME_VALID"},
        {CERT_TRUST_CTL_IS_NOT_SIGNATURE_VALID, "CERT_TRUST_CTL_IS_NOT_SIGNATURE_VALID"},
        {CERT_TRUST_CTL_IS_NOT_VALID_FOR_USAGE, "CERT_TRUST_CTL_IS_NOT_VALID_FOR_USAGE"},
        {CERT_TRUST_HAS_WEAK_SIGNATURE, "CERT_TRUST_HAS_WEAK_SIGNATURE"},
        {CERT_TRUST_IS_OFFLINE_REVOCATION, "CERT_TRUST_IS_OFFLINE_REVOCATION"},
        {CERT_TRUST_NO_ISSUANCE_CHAIN_POLICY, "CERT_TRUST_NO_ISSUANCE_CHAIN_POLICY"},
        {CERT_TRUST_IS_EXPLICIT_DISTRUST, "CERT_TRUST_IS_EXPLICIT_DISTRUST"},
        {CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT, "CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT"},
    }};
    QStringList names;
    DWORD named = 0;
    for (const auto& [flag, name] : Names) {
        named |= flag;
        if ((errorStatus & flag) != 0)
            names.append(QString::fromLatin1(name));
    }
    if (const DWORD rest = errorStatus & ~named; rest != 0)
        names.append(QStringLiteral("0x") + QStringLiteral("%1").arg(rest, 8, 16, QLatin1Char('0')).toUpper());
    return names;
}
