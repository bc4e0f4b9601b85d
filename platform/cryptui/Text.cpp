#include "platform/cryptui/Text.h"

#include "platform/common/WinStr.h"

#include <QLocale>

#include <openssl/crypto.h>

#include <ctime>

namespace cryptui {

namespace {

constexpr char HexDigits[] = "0123456789abcdef";
constexpr char OidUserPrincipalName[] = "1.3.6.1.4.1.311.20.2.3";
constexpr int MaxOidLength = 1024;

void AppendHexByte(QString& out, uint8_t b)
{
    out.append(QLatin1Char(HexDigits[b >> 4]));
    out.append(QLatin1Char(HexDigits[b & 0xF]));
}

QString LeftOutNote(size_t left)
{
    return QStringLiteral(" ... (%1 more bytes)").arg(left);
}

QString IpText(const ASN1_OCTET_STRING* address)
{
    const std::span<const uint8_t> bytes(ASN1_STRING_get0_data(address), static_cast<size_t>(ASN1_STRING_length(address)));
    if (bytes.size() == 4)
        return QStringLiteral("%1.%2.%3.%4").arg(bytes[0]).arg(bytes[1]).arg(bytes[2]).arg(bytes[3]);
    if (bytes.size() == 16) {
        QStringList groups;
        for (size_t i = 0; i < 16; i += 2)
            groups.append(QString::number((bytes[i] << 8) | bytes[i + 1], 16));
        return groups.join(QLatin1Char(':'));
    }
    return Hex(bytes);
}

} // namespace

QString FromWide(LPCWSTR text)
{
    const std::u16string_view view = winstr::View(text);
    return QString::fromUtf16(view.data(), static_cast<qsizetype>(view.size()));
}

QString Hex(std::span<const uint8_t> bytes, bool spaced)
{
    const size_t shown = std::min(bytes.size(), MaxHexBytes);
    QString out;
    out.reserve(static_cast<qsizetype>(shown * 3));
    for (size_t i = 0; i < shown; ++i) {
        if (spaced && i > 0)
            out.append(QLatin1Char(' '));
        AppendHexByte(out, bytes[i]);
    }
    if (shown < bytes.size())
        out.append(LeftOutNote(bytes.size() - shown));
    return out;
}

QString HexDump(std::span<const uint8_t> bytes)
{
    const size_t shown = std::min(bytes.size(), MaxDumpBytes);
    QString out;
    out.reserve(static_cast<qsizetype>(shown * 5));
    for (size_t line = 0; line < shown; line += 16) {
        if (line > 0)
            out.append(QLatin1Char('\n'));
        out.append(QStringLiteral("%1 ").arg(line, 4, 16, QLatin1Char('0')));
        QString printable;
        for (size_t i = line; i < line + 16; ++i) {
            if (i == line + 8)
                out.append(QLatin1Char(' '));
            if (i < shown) {
                out.append(QLatin1Char(' '));
                AppendHexByte(out, bytes[i]);
                printable.append(bytes[i] >= 0x20 && bytes[i] < 0x7F ? QLatin1Char(static_cast<char>(bytes[i]))
                                                                    : QLatin1Char('.'));
            } else {
                out.append(QStringLiteral("   "));
            }
        }
        out.append(QStringLiteral("  ")).append(printable);
    }
    if (shown < bytes.size())
        out.append(QLatin1Char('\n')).append(LeftOutNote(bytes.size() - shown).trimmed());
    return out;
}

QString Clip(const QString& text, qsizetype max)
{
    if (text.size() <= max || max < 2)
        return text;
    qsizetype cut = max - 1;
    if (text.at(cut - 1).isHighSurrogate())
        --cut;
    return text.left(cut) + QChar(0x2026);
}

QString OidText(const ASN1_OBJECT* object)
{
    if (!object)
        return {};
    char small[128] = {};
    const int needed = OBJ_obj2txt(small, sizeof small, object, 1);
    if (needed <= 0) {
        // OpenSSL refuses to spell out OIDs of absurd length: their first bytes tell them apart.
        TakeOpenSslError();
        const size_t length = OBJ_length(object);
        const unsigned char* data = OBJ_get0_data(object);
        if (!data || length == 0)
            return QStringLiteral("(OID)");
        return QStringLiteral("(OID %1)").arg(Hex({data, std::min<size_t>(length, 32)}, false));
    }
    if (needed < static_cast<int>(sizeof small))
        return QString::fromLatin1(small, needed);
    // Hostile OIDs can have any number of arcs: enough of them to tell it is an OID.
    std::vector<char> large(static_cast<size_t>(std::min(needed, MaxOidLength)) + 1);
    const int written = OBJ_obj2txt(large.data(), static_cast<int>(large.size()), object, 1);
    const QString text = QString::fromLatin1(large.data(), std::min(written, static_cast<int>(large.size()) - 1));
    return written > MaxOidLength ? Clip(text + QStringLiteral(".."), MaxOidLength) : text;
}

QString FriendlyName(const QString& oid, DWORD group)
{
    if (oid.isEmpty())
        return {};
    QByteArray key = oid.toLatin1();
    const PCCRYPT_OID_INFO info = CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, key.data(), group);
    return info && info->pwszName ? FromWide(info->pwszName) : QString();
}

QString OidName(const QString& oid, DWORD group)
{
    const QString name = FriendlyName(oid, group);
    return name.isEmpty() ? oid : name;
}

QString OidNameWithNumber(const QString& oid, DWORD group)
{
    const QString name = FriendlyName(oid, group);
    return name.isEmpty() ? oid : QStringLiteral("%1 (%2)").arg(name, oid);
}

QString StringText(const ASN1_STRING* value)
{
    if (!value)
        return {};
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, value);
    if (length < 0 || !utf8) {
        TakeOpenSslError();
        const std::span<const uint8_t> raw(ASN1_STRING_get0_data(value), static_cast<size_t>(ASN1_STRING_length(value)));
        return QStringLiteral("#") + Hex(raw, false);
    }
    QString text = QString::fromUtf8(reinterpret_cast<const char*>(utf8), length);
    OPENSSL_free(utf8);
    return Clip(text, MaxTextLength);
}

namespace {

struct NamePart {
    QString Attribute;
    QString Value;
};

// Most specific first, as the name reads in the dialogs.
std::vector<NamePart> NameParts(const X509_NAME* name)
{
    std::vector<NamePart> parts;
    if (!name)
        return parts;
    const int count = X509_NAME_entry_count(name);
    for (int i = count - 1; i >= 0; --i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        if (!entry)
            continue;
        const QString oid = OidText(X509_NAME_ENTRY_get_object(entry));
        parts.push_back({OidName(oid, CRYPT_RDN_ATTR_OID_GROUP_ID), StringText(X509_NAME_ENTRY_get_data(entry))});
    }
    return parts;
}

} // namespace

QString NameLine(const X509_NAME* name)
{
    QStringList values;
    for (const NamePart& part : NameParts(name))
        values.append(part.Value);
    return Clip(values.join(QStringLiteral(", ")), MaxTextLength);
}

QStringList NameLines(const X509_NAME* name)
{
    QStringList lines;
    for (const NamePart& part : NameParts(name))
        lines.append(QStringLiteral("%1 = %2").arg(part.Attribute, part.Value));
    return lines;
}

QStringList GeneralNameLines(const GENERAL_NAME* name)
{
    if (!name)
        return {};
    switch (name->type) {
    case GEN_EMAIL: return {QStringLiteral("RFC822 Name=") + StringText(name->d.rfc822Name)};
    case GEN_DNS: return {QStringLiteral("DNS Name=") + StringText(name->d.dNSName)};
    case GEN_URI: return {QStringLiteral("URL=") + StringText(name->d.uniformResourceIdentifier)};
    case GEN_IPADD: return {QStringLiteral("IP Address=") + IpText(name->d.iPAddress)};
    case GEN_RID: return {QStringLiteral("Registered ID=") + OidText(name->d.registeredID)};
    case GEN_DIRNAME: {
        QStringList lines{QStringLiteral("Directory Address:")};
        for (const QString& line : NameLines(name->d.directoryName))
            lines.append(QStringLiteral("     ") + line);
        return lines;
    }
    case GEN_OTHERNAME: {
        const OTHERNAME* other = name->d.otherName;
        const QString oid = OidText(other ? other->type_id : nullptr);
        const ASN1_TYPE* value = other ? other->value : nullptr;
        if (oid == QLatin1String(OidUserPrincipalName) && value && value->type == V_ASN1_UTF8STRING)
            return {QStringLiteral("Other Name:"), QStringLiteral("     Principal Name=") + StringText(value->value.utf8string)};
        unsigned char* der = nullptr;
        const int length = value ? i2d_ASN1_TYPE(value, &der) : -1;
        QString hex;
        if (length > 0 && der)
            hex = Hex({der, static_cast<size_t>(length)});
        OPENSSL_free(der);
        TakeOpenSslError();
        return {QStringLiteral("Other Name:"), QStringLiteral("     %1=%2").arg(oid, hex)};
    }
    default: return {QStringLiteral("Unknown name type (%1)").arg(name->type)};
    }
}

std::optional<QDateTime> TimeOf(const ASN1_TIME* time)
{
    struct tm parts {};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1) {
        TakeOpenSslError();
        return std::nullopt;
    }
    const QDate date(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday);
    const QTime clock(parts.tm_hour, parts.tm_min, parts.tm_sec);
    if (!date.isValid() || !clock.isValid())
        return std::nullopt;
    return QDateTime(date, clock, Qt::UTC);
}

std::optional<QDateTime> TimeOf(const FILETIME& time)
{
    constexpr int64_t TicksPerMillisecond = 10'000;
    constexpr int64_t EpochDifferenceMs = 11'644'473'600'000LL; // 1601-01-01 to 1970-01-01
    const uint64_t ticks = (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    if (ticks == 0 || ticks > static_cast<uint64_t>(INT64_MAX))
        return std::nullopt;
    const int64_t ms = static_cast<int64_t>(ticks) / TicksPerMillisecond - EpochDifferenceMs;
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

QString ShortDate(const QDateTime& time)
{
    return QLocale().toString(time.toLocalTime().date(), QLocale::ShortFormat);
}

QString LongDateTime(const QDateTime& time)
{
    const QDateTime local = time.toLocalTime();
    return QLocale().toString(local.date(), QLocale::LongFormat) + QLatin1Char(' ') +
           QLocale().toString(local.time(), QLocale::LongFormat);
}

} // namespace cryptui
