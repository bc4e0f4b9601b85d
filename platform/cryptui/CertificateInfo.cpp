#include "platform/cryptui/CertificateInfo.h"

#include "platform/cryptui/Text.h"

#include <openssl/crypto.h>

#include <string_view>

namespace cryptui {

namespace {

constexpr DWORD ExtGroup = CRYPT_EXT_OR_ATTR_OID_GROUP_ID;
constexpr char Indent[] = "     ";

// Access methods of the information-access extensions; crypt32 has no names for them.
struct MethodName {
    std::string_view Oid;
    const char* Name;
};
constexpr MethodName AccessMethods[] = {
    {"1.3.6.1.5.5.7.48.1", "On-line Certificate Status Protocol"},
    {"1.3.6.1.5.5.7.48.2", "Certification Authority Issuer"},
    {"1.3.6.1.5.5.7.48.3", "Time Stamping"},
    {"1.3.6.1.5.5.7.48.5", "Certification Authority Repository"},
};

constexpr const char* KeyUsageNames[] = {
    "Digital Signature", "Non-Repudiation", "Key Encipherment", "Data Encipherment", "Key Agreement",
    "Certificate Signing", "Off-line CRL Signing, CRL Signing", "Encipher Only", "Decipher Only",
};

constexpr const char* ReasonNames[] = {
    "Unused", "Key Compromise", "CA Compromise", "Affiliation Changed", "Superseded",
    "Cessation of Operation", "Certificate Hold", "Privilege Withdrawn", "AA Compromise",
};

std::span<const uint8_t> BytesOf(const ASN1_STRING* s)
{
    if (!s || ASN1_STRING_length(s) <= 0)
        return {};
    return {ASN1_STRING_get0_data(s), static_cast<size_t>(ASN1_STRING_length(s))};
}

QString Indented(int level, const QString& text)
{
    QString prefix;
    for (int i = 0; i < level; ++i)
        prefix.append(QLatin1String(Indent));
    return prefix + text;
}

void AppendNames(QStringList& lines, int level, const GENERAL_NAMES* names)
{
    for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i)
        for (const QString& line : GeneralNameLines(sk_GENERAL_NAME_value(names, i)))
            lines.append(Indented(level, line));
}

// An INTEGER's content octets (two's complement, most significant first) in hex.
QString IntegerHex(const ASN1_INTEGER* value, bool spaced)
{
    unsigned char* der = nullptr;
    const int length = value ? i2d_ASN1_INTEGER(value, &der) : -1;
    QString hex;
    if (length > 0 && der) {
        const unsigned char* p = der;
        long contentLength = 0;
        int tag = 0;
        int cls = 0;
        const int flags = ASN1_get_object(&p, &contentLength, &tag, &cls, length);
        if ((flags & 0x80) == 0 && contentLength >= 0 && contentLength <= length - (p - der))
            hex = Hex({p, static_cast<size_t>(contentLength)}, spaced);
    }
    OPENSSL_free(der);
    TakeOpenSslError();
    return hex;
}

// Hex, sixteen bytes a line.
QStringList HexLines(std::span<const uint8_t> bytes)
{
    QStringList lines;
    const size_t shown = std::min(bytes.size(), MaxHexBytes);
    for (size_t at = 0; at < shown; at += 16)
        lines.append(Hex(bytes.subspan(at, std::min<size_t>(16, shown - at))));
    if (shown < bytes.size())
        lines.append(QStringLiteral("... (%1 more bytes)").arg(bytes.size() - shown));
    return lines;
}

QString ExtensionName(const QString& oid)
{
    return OidName(oid, ExtGroup);
}

QString AccessMethodName(const ASN1_OBJECT* method)
{
    const QString oid = OidText(method);
    for (const MethodName& m : AccessMethods)
        if (oid == QLatin1String(m.Oid.data(), static_cast<qsizetype>(m.Oid.size())))
            return QStringLiteral("%1 (%2)").arg(QLatin1String(m.Name), oid);
    return OidNameWithNumber(oid, 0);
}

std::optional<QStringList> KeyUsageLines(std::span<const uint8_t> der)
{
    const auto bits = DecodeWhole<ASN1_BIT_STRING, d2i_ASN1_BIT_STRING, ASN1_BIT_STRING_free>(der);
    if (!bits)
        return std::nullopt;
    QStringList names;
    for (int bit = 0; bit < static_cast<int>(std::size(KeyUsageNames)); ++bit)
        if (ASN1_BIT_STRING_get_bit(bits.get(), bit))
            names.append(QLatin1String(KeyUsageNames[bit]));
    const auto bytes = BytesOf(bits.get());
    const QString hex = Hex(bytes.first(std::min<size_t>(bytes.size(), 2)));
    const QString text = names.isEmpty() ? QStringLiteral("None") : names.join(QStringLiteral(", "));
    return QStringList{QStringLiteral("%1 (%2)").arg(text, hex)};
}

std::optional<QStringList> UsageOids(std::span<const uint8_t> der)
{
    const auto usages = DecodeWhole<EXTENDED_KEY_USAGE, d2i_EXTENDED_KEY_USAGE, EXTENDED_KEY_USAGE_free>(der);
    if (!usages)
        return std::nullopt;
    QStringList oids;
    for (int i = 0; i < sk_ASN1_OBJECT_num(usages.get()); ++i)
        oids.append(OidText(sk_ASN1_OBJECT_value(usages.get(), i)));
    return oids;
}

std::optional<QStringList> EnhancedKeyUsageLines(std::span<const uint8_t> der)
{
    auto lines = UsageOids(der);
    if (lines)
        for (QString& line : *lines)
            line = OidNameWithNumber(line, CRYPT_ENHKEY_USAGE_OID_GROUP_ID);
    return lines;
}

std::optional<QStringList> AltNameLines(std::span<const uint8_t> der)
{
    const auto names = DecodeWhole<GENERAL_NAMES, d2i_GENERAL_NAMES, GENERAL_NAMES_free>(der);
    if (!names)
        return std::nullopt;
    QStringList lines;
    AppendNames(lines, 0, names.get());
    return lines;
}

std::optional<QStringList> BasicConstraintsLines(std::span<const uint8_t> der)
{
    const auto constraints = DecodeWhole<BASIC_CONSTRAINTS, d2i_BASIC_CONSTRAINTS, BASIC_CONSTRAINTS_free>(der);
    if (!constraints)
        return std::nullopt;
    QString length = QStringLiteral("None");
    if (constraints->pathlen) {
        int64_t value = 0;
        length = ASN1_INTEGER_get_int64(&value, constraints->pathlen) == 1 && value >= 0
                     ? QString::number(value)
                     : IntegerHex(constraints->pathlen, true);
        TakeOpenSslError();
    }
    return QStringList{
        QStringLiteral("Subject Type=") + (constraints->ca ? QStringLiteral("CA") : QStringLiteral("End Entity")),
        QStringLiteral("Path Length Constraint=") + length};
}

std::optional<QStringList> KeyIdentifierLines(std::span<const uint8_t> der)
{
    const auto id = DecodeWhole<ASN1_OCTET_STRING, d2i_ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>(der);
    if (!id)
        return std::nullopt;
    return QStringList{Hex(BytesOf(id.get()), false)};
}

std::optional<QStringList> AuthorityKeyIdLines(std::span<const uint8_t> der)
{
    const auto id = DecodeWhole<AUTHORITY_KEYID, d2i_AUTHORITY_KEYID, AUTHORITY_KEYID_free>(der);
    if (!id)
        return std::nullopt;
    QStringList lines;
    if (id->keyid)
        lines.append(QStringLiteral("KeyID=") + Hex(BytesOf(id->keyid), false));
    if (id->issuer) {
        lines.append(QStringLiteral("Certificate Issuer:"));
        AppendNames(lines, 1, id->issuer);
    }
    if (id->serial)
        lines.append(QStringLiteral("Certificate SerialNumber=") + IntegerHex(id->serial, false));
    return lines;
}

void AppendQualifier(QStringList& lines, const POLICYQUALINFO* qualifier)
{
    const int nid = OBJ_obj2nid(qualifier->pqualid);
    if (nid == NID_id_qt_cps) {
        lines.append(Indented(2, QStringLiteral("Policy Qualifier Id=CPS")));
        lines.append(Indented(2, QStringLiteral("Qualifier:")));
        lines.append(Indented(3, StringText(qualifier->d.cpsuri)));
    } else if (nid == NID_id_qt_unotice) {
        lines.append(Indented(2, QStringLiteral("Policy Qualifier Id=User Notice")));
        lines.append(Indented(2, QStringLiteral("Qualifier:")));
        const USERNOTICE* notice = qualifier->d.usernotice;
        if (notice && notice->noticeref) {
            lines.append(Indented(3, QStringLiteral("Notice Reference:")));
            lines.append(Indented(4, QStringLiteral("Organization=") + StringText(notice->noticeref->organization)));
            QStringList numbers;
            for (int i = 0; i < sk_ASN1_INTEGER_num(notice->noticeref->noticenos); ++i) {
                int64_t n = 0;
                const ASN1_INTEGER* number = sk_ASN1_INTEGER_value(notice->noticeref->noticenos, i);
                numbers.append(ASN1_INTEGER_get_int64(&n, number) == 1 ? QString::number(n) : IntegerHex(number, true));
            }
            TakeOpenSslError();
            lines.append(Indented(4, QStringLiteral("Notice Number=") + numbers.join(QStringLiteral(", "))));
        }
        if (notice && notice->exptext)
            lines.append(Indented(3, QStringLiteral("Notice Text=") + StringText(notice->exptext)));
    } else {
        lines.append(Indented(2, QStringLiteral("Policy Qualifier Id=") + OidText(qualifier->pqualid)));
        lines.append(Indented(2, QStringLiteral("Qualifier:")));
        unsigned char* der = nullptr;
        const int length = qualifier->d.other ? i2d_ASN1_TYPE(qualifier->d.other, &der) : -1;
        if (length > 0 && der)
            lines.append(Indented(3, Hex({der, static_cast<size_t>(length)})));
        OPENSSL_free(der);
        TakeOpenSslError();
    }
}

std::optional<QStringList> PolicyLines(std::span<const uint8_t> der)
{
    const auto policies = DecodeWhole<CERTIFICATEPOLICIES, d2i_CERTIFICATEPOLICIES, CERTIFICATEPOLICIES_free>(der);
    if (!policies)
        return std::nullopt;
    QStringList lines;
    for (int i = 0; i < sk_POLICYINFO_num(policies.get()); ++i) {
        const POLICYINFO* policy = sk_POLICYINFO_value(policies.get(), i);
        lines.append(QStringLiteral("[%1]Certificate Policy:").arg(i + 1));
        lines.append(Indented(1, QStringLiteral("Policy Identifier=") +
                                     OidName(OidText(policy->policyid), CRYPT_POLICY_OID_GROUP_ID)));
        for (int j = 0; j < sk_POLICYQUALINFO_num(policy->qualifiers); ++j) {
            lines.append(Indented(1, QStringLiteral("[%1,%2]Policy Qualifier Info:").arg(i + 1).arg(j + 1)));
            AppendQualifier(lines, sk_POLICYQUALINFO_value(policy->qualifiers, j));
        }
    }
    return lines;
}

std::optional<QStringList> InfoAccessLines(std::span<const uint8_t> der, const QString& heading)
{
    const auto access = DecodeWhole<AUTHORITY_INFO_ACCESS, d2i_AUTHORITY_INFO_ACCESS, AUTHORITY_INFO_ACCESS_free>(der);
    if (!access)
        return std::nullopt;
    QStringList lines;
    for (int i = 0; i < sk_ACCESS_DESCRIPTION_num(access.get()); ++i) {
        const ACCESS_DESCRIPTION* description = sk_ACCESS_DESCRIPTION_value(access.get(), i);
        lines.append(QStringLiteral("[%1]%2").arg(i + 1).arg(heading));
        lines.append(Indented(1, QStringLiteral("Access Method=") + AccessMethodName(description->method)));
        lines.append(Indented(1, QStringLiteral("Alternative Name:")));
        for (const QString& line : GeneralNameLines(description->location))
            lines.append(Indented(2, line));
    }
    return lines;
}

std::optional<QStringList> DistributionPointLines(std::span<const uint8_t> der)
{
    const auto points = DecodeWhole<CRL_DIST_POINTS, d2i_CRL_DIST_POINTS, CRL_DIST_POINTS_free>(der);
    if (!points)
        return std::nullopt;
    QStringList lines;
    for (int i = 0; i < sk_DIST_POINT_num(points.get()); ++i) {
        const DIST_POINT* point = sk_DIST_POINT_value(points.get(), i);
        lines.append(QStringLiteral("[%1]CRL Distribution Point").arg(i + 1));
        if (const DIST_POINT_NAME* name = point->distpoint) {
            lines.append(Indented(1, QStringLiteral("Distribution Point Name:")));
            if (name->type == 0) {
                lines.append(Indented(2, QStringLiteral("Full Name:")));
                AppendNames(lines, 3, name->name.fullname);
            } else {
                lines.append(Indented(2, QStringLiteral("Name Relative to CRL Issuer:")));
                for (int k = 0; k < sk_X509_NAME_ENTRY_num(name->name.relativename); ++k) {
                    const X509_NAME_ENTRY* entry = sk_X509_NAME_ENTRY_value(name->name.relativename, k);
                    const QString oid = OidText(X509_NAME_ENTRY_get_object(entry));
                    lines.append(Indented(3, QStringLiteral("%1 = %2").arg(OidName(oid, CRYPT_RDN_ATTR_OID_GROUP_ID),
                                                                           StringText(X509_NAME_ENTRY_get_data(entry)))));
                }
            }
        }
        if (point->reasons) {
            QStringList reasons;
            for (int bit = 0; bit < static_cast<int>(std::size(ReasonNames)); ++bit)
                if (ASN1_BIT_STRING_get_bit(point->reasons, bit))
                    reasons.append(QLatin1String(ReasonNames[bit]));
            lines.append(Indented(1, QStringLiteral("CRL Reason=") + reasons.join(QStringLiteral(", "))));
        }
        if (point->CRLissuer) {
            lines.append(Indented(1, QStringLiteral("CRL Issuer:")));
            AppendNames(lines, 2, point->CRLissuer);
        }
    }
    return lines;
}

} // namespace

Field ExtensionField(const X509_EXTENSION* extension)
{
    const QString oid = OidText(X509_EXTENSION_get_object(const_cast<X509_EXTENSION*>(extension)));
    const std::span<const uint8_t> value = BytesOf(X509_EXTENSION_get_data(const_cast<X509_EXTENSION*>(extension)));
    const std::string key = oid.toStdString();

    std::optional<QStringList> lines;
    if (key == "2.5.29.15")
        lines = KeyUsageLines(value);
    else if (key == "2.5.29.37")
        lines = EnhancedKeyUsageLines(value);
    else if (key == "2.5.29.17" || key == "2.5.29.18")
        lines = AltNameLines(value);
    else if (key == "2.5.29.19")
        lines = BasicConstraintsLines(value);
    else if (key == "2.5.29.14")
        lines = KeyIdentifierLines(value);
    else if (key == "2.5.29.35")
        lines = AuthorityKeyIdLines(value);
    else if (key == "2.5.29.32")
        lines = PolicyLines(value);
    else if (key == "1.3.6.1.5.5.7.1.1")
        lines = InfoAccessLines(value, QStringLiteral("Authority Info Access"));
    else if (key == "1.3.6.1.5.5.7.1.11")
        lines = InfoAccessLines(value, QStringLiteral("Subject Info Access"));
    else if (key == "2.5.29.31" || key == "2.5.29.46")
        lines = DistributionPointLines(value);

    Field field;
    if (lines)
        field = LinesField(ExtensionName(oid), *lines, FieldKind::Extension);
    else
        field = {ExtensionName(oid), Clip(Hex(value), MaxListValueLength), HexDump(value), FieldKind::Extension, false};
    field.Critical = X509_EXTENSION_get_critical(extension) > 0;
    return field;
}

namespace {

QString DisplayNameOf(PCCERT_CONTEXT context, X509* certificate, bool issuer)
{
    if (context) {
        const DWORD flags = issuer ? CERT_NAME_ISSUER_FLAG : 0;
        const DWORD length = CertGetNameStringW(context, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr, nullptr, 0);
        if (length > 1) {
            std::vector<WCHAR> buffer(length);
            if (CertGetNameStringW(context, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr, buffer.data(), length) > 1)
                return Clip(FromWide(buffer.data()), MaxListValueLength);
        }
    }
    // crypt32 could not read it: the most specific part of the name.
    const X509_NAME* name = issuer ? X509_get_issuer_name(certificate) : X509_get_subject_name(certificate);
    return Clip(NameLine(name).section(QStringLiteral(", "), 0, 0), MaxListValueLength);
}

} // namespace

QString DisplayName(X509* certificate, bool issuer)
{
    return DisplayNameOf(ContextFor(certificate).get(), certificate, issuer);
}

std::optional<CertificateInfo> CertificateInfo::Read(std::span<const uint8_t> der, const QString& friendlyName)
{
    X509Ptr certificate = DecodeCertificate(der);
    if (!certificate)
        return std::nullopt;
    CertificateInfo info;
    X509* cert = certificate.get();
    info.FDer.assign(der.begin(), der.end());
    const CertContextPtr context(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
    info.FIssuedTo = DisplayNameOf(context.get(), cert, false);
    info.FIssuedBy = DisplayNameOf(context.get(), cert, true);
    info.FValidFrom = TimeOf(X509_get0_notBefore(cert));
    info.FValidTo = TimeOf(X509_get0_notAfter(cert));

    Fields& fields = info.FDetails;
    fields.push_back(SimpleField(QStringLiteral("Version"), QStringLiteral("V%1").arg(X509_get_version(cert) + 1)));
    fields.push_back(SimpleField(QStringLiteral("Serial number"), IntegerHex(X509_get0_serialNumber(cert), false)));

    const X509_ALGOR* signatureAlgorithm = nullptr;
    X509_get0_signature(nullptr, &signatureAlgorithm, cert);
    const ASN1_OBJECT* signatureOid = nullptr;
    if (signatureAlgorithm)
        X509_ALGOR_get0(&signatureOid, nullptr, nullptr, signatureAlgorithm);
    const QString signatureOidText = OidText(signatureOid);
    fields.push_back(SimpleField(QStringLiteral("Signature algorithm"), OidName(signatureOidText, CRYPT_SIGN_ALG_OID_GROUP_ID)));
    {
        QByteArray key = signatureOidText.toLatin1();
        const PCCRYPT_OID_INFO sign = CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, key.data(), CRYPT_SIGN_ALG_OID_GROUP_ID);
        ALG_ID hash = sign ? sign->Algid : 0;
        const PCCRYPT_OID_INFO hashInfo = hash ? CryptFindOIDInfo(CRYPT_OID_INFO_ALGID_KEY, &hash, CRYPT_HASH_ALG_OID_GROUP_ID) : nullptr;
        if (hashInfo && hashInfo->pwszName)
            fields.push_back(SimpleField(QStringLiteral("Signature hash algorithm"), FromWide(hashInfo->pwszName)));
    }

    fields.push_back(LinesField(QStringLiteral("Issuer"), NameLines(X509_get_issuer_name(cert))));
    fields.back().Value = Clip(NameLine(X509_get_issuer_name(cert)), MaxListValueLength);
    if (info.FValidFrom)
        fields.push_back(SimpleField(QStringLiteral("Valid from"), LongDateTime(*info.FValidFrom)));
    if (info.FValidTo)
        fields.push_back(SimpleField(QStringLiteral("Valid to"), LongDateTime(*info.FValidTo)));
    fields.push_back(LinesField(QStringLiteral("Subject"), NameLines(X509_get_subject_name(cert))));
    fields.back().Value = Clip(NameLine(X509_get_subject_name(cert)), MaxListValueLength);

    if (X509_PUBKEY* key = X509_get_X509_PUBKEY(cert)) {
        ASN1_OBJECT* keyOid = nullptr;
        const unsigned char* keyBytes = nullptr;
        int keyLength = 0;
        X509_ALGOR* keyAlgorithm = nullptr;
        if (X509_PUBKEY_get0_param(&keyOid, &keyBytes, &keyLength, &keyAlgorithm, key) == 1) {
            const QString keyName = OidName(OidText(keyOid), CRYPT_PUBKEY_ALG_OID_GROUP_ID);
            DWORD bits = 0;
            if (context && context->pCertInfo)
                bits = CertGetPublicKeyLength(X509_ASN_ENCODING, &context->pCertInfo->SubjectPublicKeyInfo);
            const QString summary = bits > 0 ? QStringLiteral("%1 (%2 Bits)").arg(keyName).arg(bits) : keyName;
            const std::span<const uint8_t> keyData(keyBytes, keyLength > 0 ? static_cast<size_t>(keyLength) : 0);
            Field keyField = LinesField(QStringLiteral("Public key"), HexLines(keyData));
            keyField.Value = summary;
            fields.push_back(keyField);

            int parameterType = V_ASN1_UNDEF;
            const void* parameter = nullptr;
            if (keyAlgorithm)
                X509_ALGOR_get0(nullptr, &parameterType, &parameter, keyAlgorithm);
            if (parameterType != V_ASN1_UNDEF) {
                unsigned char* der = nullptr;
                const Asn1TypePtr wrapped(ASN1_TYPE_new());
                int length = -1;
                if (wrapped && ASN1_TYPE_set1(wrapped.get(), parameterType, parameter) == 1)
                    length = i2d_ASN1_TYPE(wrapped.get(), &der);
                if (length > 0 && der)
                    fields.push_back(SimpleField(QStringLiteral("Public key parameters"), Hex({der, static_cast<size_t>(length)})));
                OPENSSL_free(der);
            }
        }
        TakeOpenSslError();
    }

    const ASN1_BIT_STRING* issuerUid = nullptr;
    const ASN1_BIT_STRING* subjectUid = nullptr;
    X509_get0_uids(cert, &issuerUid, &subjectUid);
    if (issuerUid)
        fields.push_back(SimpleField(QStringLiteral("Issuer unique ID"), Hex(BytesOf(issuerUid))));
    if (subjectUid)
        fields.push_back(SimpleField(QStringLiteral("Subject unique ID"), Hex(BytesOf(subjectUid))));

    bool hasUsage = false;
    for (int i = 0; i < X509_get_ext_count(cert); ++i) {
        const X509_EXTENSION* extension = X509_get_ext(cert, i);
        if (!extension)
            continue;
        fields.push_back(ExtensionField(extension));
        if (OidText(X509_EXTENSION_get_object(const_cast<X509_EXTENSION*>(extension))) == QLatin1String(szOID_ENHANCED_KEY_USAGE)) {
            const auto usages = UsageOids(BytesOf(X509_EXTENSION_get_data(const_cast<X509_EXTENSION*>(extension))));
            if (usages) {
                hasUsage = true;
                for (const QString& oid : *usages)
                    info.FPurposes.append(OidName(oid, CRYPT_ENHKEY_USAGE_OID_GROUP_ID));
            }
        }
    }
    if (!hasUsage)
        info.FPurposes.append(QStringLiteral("All application policies"));

    if (!friendlyName.isEmpty())
        fields.push_back(SimpleField(QStringLiteral("Friendly name"), friendlyName, FieldKind::Property));
    unsigned char digest[EVP_MAX_MD_SIZE] = {};
    unsigned int digestLength = 0;
    if (X509_digest(cert, EVP_sha1(), digest, &digestLength) == 1)
        fields.push_back(SimpleField(QStringLiteral("Thumbprint"), Hex({digest, digestLength}, false), FieldKind::Property));
    TakeOpenSslError();

    info.FCertificate = std::move(certificate);
    return info;
}

} // namespace cryptui
