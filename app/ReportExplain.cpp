#include "app/ReportExplain.h"

#include "cert/KavexCert.h"

#include <algorithm>

namespace {

// Names wider than this are not padded to: the status follows them after two blanks. A common
// name has at most 64 characters, so only a name made to push the column stays out of it.
constexpr qsizetype MaxNameColumn = 64;

QString Date(TDateTime utc)
{
    TDateTimeParts parts;
    if (utc == 0 || !DecodeDateTime(utc, parts))
        return QStringLiteral("(no date)");
    return QStringLiteral("%1-%2-%3")
        .arg(parts.Year, 4, 10, QLatin1Char('0'))
        .arg(parts.Month, 2, 10, QLatin1Char('0'))
        .arg(parts.Day, 2, 10, QLatin1Char('0'));
}

QString DateTime(TDateTime utc)
{
    TDateTimeParts parts;
    if (utc == 0 || !DecodeDateTime(utc, parts))
        return QStringLiteral("(no time)");
    return Date(utc) + QStringLiteral(" %1:%2:%3 UTC")
                           .arg(parts.Hour, 2, 10, QLatin1Char('0'))
                           .arg(parts.Minute, 2, 10, QLatin1Char('0'))
                           .arg(parts.Second, 2, 10, QLatin1Char('0'));
}

QString SourceText(DWORD source)
{
    switch (source) {
    case TESSERA_CERT_SOURCE_SIGNATURE: return QStringLiteral("from the signature");
    case TESSERA_CERT_SOURCE_SYSTEM_STORE: return QStringLiteral("system store");
    case TESSERA_CERT_SOURCE_CERT_FILE: return QStringLiteral("SSL_CERT_FILE");
    case TESSERA_CERT_SOURCE_CERT_DIR: return QStringLiteral("SSL_CERT_DIR");
    case TESSERA_CERT_SOURCE_BUILT_IN: return QStringLiteral("built-in roots");
    case TESSERA_CERT_SOURCE_ROOT_LIST: return QStringLiteral("root list");
    default: return QStringLiteral("source unknown");
    }
}

// RFC 5280's CRLReason in words; empty for unspecified or none.
QString ReasonText(DWORD reason)
{
    switch (reason) {
    case 1: return QStringLiteral("key compromise");
    case 2: return QStringLiteral("CA compromise");
    case 3: return QStringLiteral("affiliation changed");
    case 4: return QStringLiteral("superseded");
    case 5: return QStringLiteral("cessation of operation");
    case 6: return QStringLiteral("certificate hold");
    case 8: return QStringLiteral("remove from CRL");
    case 9: return QStringLiteral("privilege withdrawn");
    case 10: return QStringLiteral("AA compromise");
    default: return {};
    }
}

// One certificate's status in words: what is wrong with it at the judged moment, or that it is
// fine (and a root trusted from where).
QString ElementText(const TCertAccount& cert, bool last, const TChainAccount& chain, TDateTime judgedAt,
                    TDateTime now, const QString& purpose)
{
    const DWORD errors = cert.Status.dwErrorStatus;
    QStringList words;
    if ((errors & CERT_TRUST_IS_UNTRUSTED_ROOT) != 0)
        words.append(QStringLiteral("untrusted root (%1)").arg(SourceText(cert.Source)));
    else if (cert.TrustedRoot)
        words.append(QStringLiteral("trusted root (%1)").arg(SourceText(cert.Source)));
    if (last && (chain.Status.dwErrorStatus & CERT_TRUST_IS_PARTIAL_CHAIN) != 0)
        words.append(QStringLiteral("issuer not found"));
    if ((errors & CERT_TRUST_IS_NOT_SIGNATURE_VALID) != 0)
        words.append(QStringLiteral("its issuer's signature does not verify"));
    if ((errors & CERT_TRUST_IS_REVOKED) != 0) {
        QString revoked = QStringLiteral("revoked");
        if (cert.Revocation && cert.Revocation->RevokedAtUtc != 0)
            revoked += u' ' + DateTime(cert.Revocation->RevokedAtUtc);
        if (const QString reason = cert.Revocation ? ReasonText(cert.Revocation->Reason) : QString(); !reason.isEmpty())
            revoked += QStringLiteral(" (%1)").arg(reason);
        words.append(revoked);
    }
    if ((errors & CERT_TRUST_IS_NOT_TIME_VALID) != 0) {
        words.append(judgedAt < cert.NotBeforeUtc ? QStringLiteral("not valid before %1").arg(Date(cert.NotBeforeUtc))
                                                  : QStringLiteral("expired %1").arg(Date(cert.NotAfterUtc)));
    } else if (cert.NotAfterUtc != 0 && cert.NotAfterUtc < now && judgedAt <= cert.NotAfterUtc) {
        words.append(QStringLiteral("expired %1 (valid at the judged moment)").arg(Date(cert.NotAfterUtc)));
    }
    if ((errors & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) != 0)
        words.append(cert.TrustedRoot ? QStringLiteral("not trusted for %1 by Windows' root program").arg(purpose)
                                      : QStringLiteral("not valid for %1").arg(purpose));
    if ((errors & CERT_TRUST_IS_EXPLICIT_DISTRUST) != 0)
        words.append(cert.TrustedRoot ? QStringLiteral("distrusted by Windows' root program")
                                      : QStringLiteral("explicitly distrusted"));
    if ((errors & CERT_TRUST_INVALID_BASIC_CONSTRAINTS) != 0)
        words.append(QStringLiteral("its basic constraints do not allow it here"));
    if ((errors & CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT) != 0)
        words.append(QStringLiteral("a critical extension that is not supported"));
    if ((errors & (CERT_TRUST_INVALID_NAME_CONSTRAINTS | CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT |
                   CERT_TRUST_HAS_NOT_DEFINED_NAME_CONSTRAINT | CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT |
                   CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT)) != 0)
        words.append(QStringLiteral("a name constraint does not allow it"));
    if ((errors & CERT_TRUST_INVALID_POLICY_CONSTRAINTS) != 0)
        words.append(QStringLiteral("a policy constraint does not allow it"));
    if ((errors & CERT_TRUST_INVALID_EXTENSION) != 0)
        words.append(QStringLiteral("an invalid extension"));
    return words.isEmpty() ? QStringLiteral("ok") : words.join(QStringLiteral(", "));
}

void AddChain(QStringList& lines, const TChainAccount& chain, TDateTime judgedAt, TDateTime now, const QString& purpose,
              const QString& indent)
{
    qsizetype width = 0;
    for (const TCertAccount& cert : chain.Elements)
        width = std::max(width, std::min(cert.Subject.size(), MaxNameColumn));
    for (size_t i = 0; i < chain.Elements.size(); ++i) {
        const TCertAccount& cert = chain.Elements[i];
        const QString name = cert.Subject.isEmpty() ? QStringLiteral("(no name)") : cert.Subject;
        lines.append(indent + name.leftJustified(width) + QStringLiteral("  ") +
                     ElementText(cert, i + 1 == chain.Elements.size(), chain, judgedAt, now, purpose));
    }
    if (chain.Elements.empty())
        lines.append(indent + QStringLiteral("(no certificate)"));
}

// Whether a chain has a problem of its own, revocation that could not be checked aside.
bool HasProblem(const TChainAccount& chain)
{
    constexpr DWORD Unchecked = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
    return (chain.Status.dwErrorStatus & ~Unchecked) != 0 || chain.Elements.empty();
}

QString JudgedAtText(TJudgedAtReason reason)
{
    switch (reason) {
    case TJudgedAtReason::TimeStamp: return QStringLiteral("the time stamp's time");
    case TJudgedAtReason::NoTimeStamp: return QStringLiteral("now, the signature has no time stamp");
    case TJudgedAtReason::TimeStampFailed: return QStringLiteral("now, the time stamp was refused");
    case TJudgedAtReason::LifetimeSigning:
        return QStringLiteral("now, the signer's certificate is for lifetime signing");
    }
    return {};
}

QString NamesOf(const std::vector<const TCertAccount*>& certs)
{
    QStringList names;
    for (const TCertAccount* cert : certs)
        names.append(cert->Subject.isEmpty() ? QStringLiteral("(no name)") : cert->Subject);
    return names.join(QStringLiteral(", "));
}

QString RevocationText(const TChainAccount& chain)
{
    std::vector<const TCertAccount*> good;
    std::vector<const TCertAccount*> revoked;
    std::vector<const TCertAccount*> offline;
    std::vector<const TCertAccount*> unnamed;
    bool checked = false;
    for (const TCertAccount& cert : chain.Elements) {
        if (!cert.Revocation)
            continue;
        checked = true;
        switch (cert.Revocation->Result) {
        case S_OK: good.push_back(&cert); break;
        case CRYPT_E_REVOKED: revoked.push_back(&cert); break;
        case CRYPT_E_NO_REVOCATION_CHECK: unnamed.push_back(&cert); break;
        default: offline.push_back(&cert); break;
        }
    }
    if (!checked)
        return QStringLiteral("not checked");
    QStringList parts;
    if (!revoked.empty())
        parts.append(QStringLiteral("revoked: %1").arg(NamesOf(revoked)));
    if (!good.empty())
        parts.append(QStringLiteral("not revoked: %1").arg(NamesOf(good)));
    if (!offline.empty())
        parts.append(QStringLiteral("lists unreachable for %1, not held against the signature").arg(NamesOf(offline)));
    if (!unnamed.empty())
        parts.append(QStringLiteral("no list named by %1").arg(NamesOf(unnamed)));
    return parts.join(QStringLiteral("; "));
}

} // namespace

QStringList ExplainSignature(const TSignatureAccount& account, TDateTime nowUtc)
{
    const QString indent = QStringLiteral("    ");
    const QString deeper = QStringLiteral("      ");
    const QString codeSigning = QStringLiteral("code signing");
    QStringList lines;
    lines.append(indent + QStringLiteral("Chain (judged at %1, %2):")
                              .arg(DateTime(account.JudgedAtUtc), JudgedAtText(account.JudgedAtReason)));
    AddChain(lines, account.Chain, account.JudgedAtUtc, nowUtc, codeSigning, deeper);

    if (!account.TimeStamp) {
        lines.append(indent + QStringLiteral("Time stamp: none"));
    } else {
        const TTimeStampAccount& stamp = *account.TimeStamp;
        QString line = indent + QStringLiteral("Time stamp: %1, %2, %3")
                                    .arg(stamp.Kind.isEmpty() ? QStringLiteral("kind unknown") : stamp.Kind,
                                         stamp.Signer.isEmpty() ? QStringLiteral("signer unknown") : stamp.Signer,
                                         DateTime(stamp.TimeUtc));
        const bool problem = HasProblem(stamp.Chain);
        if (SUCCEEDED(stamp.Result) && !problem) {
            lines.append(line + QStringLiteral(", chain ok"));
        } else {
            lines.append(line + QStringLiteral(", refused: ") + TrustErrorText(stamp.Result));
            if (!stamp.Chain.Elements.empty())
                AddChain(lines, stamp.Chain, stamp.TimeUtc, nowUtc, QStringLiteral("time stamping"), deeper);
        }
    }
    lines.append(indent + QStringLiteral("Revocation: ") + RevocationText(account.Chain));
    if (account.Digest) {
        const TDigestAccount& digest = *account.Digest;
        QString verdict = digest.Match ? QStringLiteral("matches") : QStringLiteral("does not match");
        // An app package's record can agree while a file it covers differs from its block map.
        if (!digest.Match && !digest.File.isEmpty() && digest.File == digest.Signed)
            verdict += QStringLiteral(": the digests agree, the contents they cover do not");
        lines.append(indent + QStringLiteral("Digest: %1 %2").arg(digest.Algorithm, verdict));
        if (!digest.Match && digest.File != digest.Signed) {
            lines.append(deeper + QStringLiteral("file    ") +
                         (digest.File.isEmpty() ? QStringLiteral("(could not be computed)") : digest.File));
            lines.append(deeper + QStringLiteral("signed  ") + digest.Signed);
        }
    } else {
        // A catalog's own signature signs its list, not a digest of a file.
        lines.append(indent + QStringLiteral("Digest: none compared"));
    }
    // The same code stands for a changed file and for a signature that does not verify: say which.
    if (account.SignerResult == TRUST_E_BAD_DIGEST && (!account.Digest || account.Digest->Match))
        lines.append(indent + QStringLiteral("Signature: the signer's signature over what it signs does not verify"));
    return lines;
}
