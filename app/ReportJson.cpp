#include "app/ReportJson.h"

#include "support/FileName.h"

#include <QJsonArray>

namespace {

QString KindName(TInspectedKind kind)
{
    switch (kind) {
    case TInspectedKind::Compound: return QStringLiteral("compound");
    case TInspectedKind::Executable: return QStringLiteral("executable");
    case TInspectedKind::Certificates: return QStringLiteral("certificates");
    case TInspectedKind::KeyContainer: return QStringLiteral("keyContainer");
    case TInspectedKind::Unsupported: break;
    }
    return QStringLiteral("unsupported");
}

// ISO 8601 in UTC, or null for a time outside the calendar (or none).
QJsonValue IsoTime(TDateTime utc)
{
    TDateTimeParts parts;
    if (utc == 0 || !DecodeDateTime(utc, parts))
        return QJsonValue::Null;
    return QStringLiteral("%1-%2-%3T%4:%5:%6Z")
        .arg(parts.Year, 4, 10, QLatin1Char('0'))
        .arg(parts.Month, 2, 10, QLatin1Char('0'))
        .arg(parts.Day, 2, 10, QLatin1Char('0'))
        .arg(parts.Hour, 2, 10, QLatin1Char('0'))
        .arg(parts.Minute, 2, 10, QLatin1Char('0'))
        .arg(parts.Second, 2, 10, QLatin1Char('0'));
}

QJsonValue TextOrNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QString Hex32(uint32_t value)
{
    return QStringLiteral("0x") + QString::number(value, 16).rightJustified(8, u'0').toUpper();
}

QJsonObject VersionToJson(const TVersionInfo& v)
{
    return QJsonObject{
        {QStringLiteral("companyName"), v.CompanyName},
        {QStringLiteral("description"), v.Description},
        {QStringLiteral("productName"), v.ProductName},
        {QStringLiteral("productVersion"), v.ProductVersion},
        {QStringLiteral("fileVersion"), v.FileVersion},
        {QStringLiteral("productVersionText"), v.ProductVersionText},
        {QStringLiteral("fileVersionText"), v.FileVersionText},
        {QStringLiteral("copyright"), v.Copyright},
        {QStringLiteral("trademarks"), v.Trademarks},
        {QStringLiteral("comments"), v.Comments},
        {QStringLiteral("internalName"), v.InternalName},
        {QStringLiteral("originalFilename"), v.OriginalFilename},
        {QStringLiteral("specialBuild"), v.SpecialBuild},
        {QStringLiteral("buildTimestamp"), v.BuildTimestamp},
        {QStringLiteral("debugBuild"), v.DebugBuild},
        {QStringLiteral("preReleaseBuild"), v.PreReleaseBuild},
        {QStringLiteral("privateBuild"), v.PrivateBuild},
    };
}

QJsonObject SignatureToJson(const TSignatureVerdict& s)
{
    const auto code = static_cast<uint32_t>(s.Result);
    QJsonObject o{
        {QStringLiteral("index"), static_cast<int>(s.Index)},
        {QStringLiteral("nested"), s.Index > 0},
        {QStringLiteral("valid"), s.Result == 0},
        {QStringLiteral("result"), static_cast<double>(code)},
        {QStringLiteral("resultHex"), Hex32(code)},
        {QStringLiteral("resultName"), TextOrNull(TrustErrorName(s.Result))},
        {QStringLiteral("text"), s.Result == 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(TrustErrorText(s.Result))},
        {QStringLiteral("publisher"), TextOrNull(s.Publisher)},
        {QStringLiteral("programName"), TextOrNull(s.ProgramName)},
        {QStringLiteral("publisherLink"), TextOrNull(s.PublisherLink)},
        {QStringLiteral("moreInfoLink"), TextOrNull(s.MoreInfoLink)},
        {QStringLiteral("signingDate"), IsoTime(s.SigningDateUtc)},
        {QStringLiteral("timeStamp"), TextOrNull(s.TimeStampKind)},
        {QStringLiteral("digestAlgorithm"), TextOrNull(s.DigestAlgorithm)},
        {QStringLiteral("digestAlgorithmOid"), TextOrNull(s.DigestAlgorithmOid)},
        {QStringLiteral("rootName"), TextOrNull(s.RootName)},
    };
    return o;
}

QJsonObject CertificateToJson(const TCertContextInfo& c)
{
    QJsonArray keyUsage;
    for (const auto& u : c.KeyUsages)
        keyUsage.append(QJsonObject{{QStringLiteral("name"), u.Name}, {QStringLiteral("bit"), u.Bit}});
    QJsonArray enhanced;
    for (const auto& u : c.EnhancedKeyUsages)
        enhanced.append(QJsonObject{{QStringLiteral("name"), u.Name}, {QStringLiteral("oid"), u.Oid}});
    return QJsonObject{
        {QStringLiteral("encoding"), c.Encoding},
        {QStringLiteral("version"), c.Version},
        {QStringLiteral("issuer"), c.Issuer},
        {QStringLiteral("subject"), c.Subject},
        {QStringLiteral("issuerX500"), c.QIssuer},
        {QStringLiteral("subjectX500"), c.QSubject},
        {QStringLiteral("serial"), c.Serial},
        {QStringLiteral("signatureAlgorithm"), c.SignatureAlgorithm},
        {QStringLiteral("publicKeyAlgorithm"), c.PublicKeyAlgorithm},
        {QStringLiteral("publicKeyBits"), c.PublicKeyBits},
        {QStringLiteral("validFrom"), IsoTime(c.ValidFromUtc)},
        {QStringLiteral("validTo"), IsoTime(c.ValidToUtc)},
        {QStringLiteral("keyUsage"), keyUsage},
        {QStringLiteral("extendedKeyUsage"), enhanced},
        {QStringLiteral("thumbprint"), c.Thumbprint},
        {QStringLiteral("sha256Thumbprint"), c.Sha256Thumbprint},
    };
}

// The path as text; a name whose bytes are not all UTF-8 also gives them, base64.
void AddPath(QJsonObject& object, const QString& path)
{
    const QString shown = DisplayFileName(path);
    object.insert(QStringLiteral("path"), shown);
    if (shown != path)
        object.insert(QStringLiteral("pathBase64"), QString::fromLatin1(FileNameToBytes(path).toBase64()));
}

} // namespace

QString TCheckVerdict::Line() const
{
    switch (State) {
    case Status::Ok: return QStringLiteral("OK ") + Text;
    case Status::Error: return QStringLiteral("ERROR ") + Text;
    case Status::NotSigned: return QStringLiteral("not signed");
    case Status::NotSupported: break;
    }
    return QStringLiteral("not supported");
}

TCheckVerdict CheckVerdictOf(const TInspectionRecord& record)
{
    TCheckVerdict verdict;
    if (!record.Signable)
        return verdict;
    if (record.Signatures.empty()) {
        verdict.State = TCheckVerdict::Status::NotSigned;
        return verdict;
    }
    const TSignatureVerdict& primary = record.Signatures.front();
    verdict.State = primary.Result == 0 ? TCheckVerdict::Status::Ok : TCheckVerdict::Status::Error;
    verdict.Text = primary.Result == 0 ? primary.Publisher : TrustErrorText(primary.Result);
    return verdict;
}

QJsonObject InspectionToJson(const TInspectionRecord& record, const QString& path)
{
    QJsonObject o;
    AddPath(o, path);
    o.insert(QStringLiteral("kind"), KindName(record.Kind));
    o.insert(QStringLiteral("type"), record.TypeName);
    if (!record.Message.isEmpty())
        o.insert(QStringLiteral("message"), record.Message);
    if (record.Kind == TInspectedKind::KeyContainer)
        o.insert(QStringLiteral("passwordCancelled"), record.Cancelled);
    if (record.Kind == TInspectedKind::Compound) {
        QJsonArray summary;
        for (const TSummaryProperty& p : record.Summary)
            summary.append(QJsonObject{{QStringLiteral("id"), static_cast<double>(p.Id)},
                                       {QStringLiteral("name"), p.Name},
                                       {QStringLiteral("text"), p.Text}});
        o.insert(QStringLiteral("summary"), summary);
    }
    if (record.Version)
        o.insert(QStringLiteral("version"), VersionToJson(*record.Version));
    if (record.Signable) {
        o.insert(QStringLiteral("signed"), !record.Signatures.empty());
        QJsonArray signatures;
        for (const TSignatureVerdict& s : record.Signatures)
            signatures.append(SignatureToJson(s));
        o.insert(QStringLiteral("signatures"), signatures);
    }
    QJsonArray certificates;
    for (const TCertContextInfo& c : record.Certificates)
        certificates.append(CertificateToJson(c));
    o.insert(QStringLiteral("certificates"), certificates);
    return o;
}

QJsonObject InspectionErrorToJson(const QString& path, const QString& error)
{
    QJsonObject o;
    AddPath(o, path);
    o.insert(QStringLiteral("error"), error);
    return o;
}

void AddCheckVerdict(QJsonObject& object, const TCheckVerdict& verdict)
{
    static const char* const Names[] = {"OK", "ERROR", "not signed", "not supported"};
    object.insert(QStringLiteral("check"),
                  QJsonObject{{QStringLiteral("status"), QString::fromLatin1(Names[static_cast<int>(verdict.State)])},
                              {QStringLiteral("passed"), verdict.Passed()},
                              {QStringLiteral("text"), TextOrNull(verdict.Text)}});
}
