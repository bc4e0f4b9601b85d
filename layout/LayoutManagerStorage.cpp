#include "layout/LayoutManagerStorage.h"

#include "platform/common/WinStr.h"

#include <QDateTime>
#include <QIODevice>
#include <QLocale>
#include <QMap>

#include <cmath>
#include <utility>

namespace {

constexpr QChar SectionSeparator = u'\\';
// QSettings' own separator of groups and keys.
constexpr QChar KeySeparator = u'/';

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r';
}

// Only the blanks a line's layout can hold: a value keeps other white space.
QStringView TrimBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

// The byte of two hexadecimal digits at text[i], or -1.
int HexByteAt(QStringView text, qsizetype i)
{
    if (i + 1 >= text.size())
        return -1;
    const int high = winstr::HexDigit(text[i].unicode());
    const int low = winstr::HexDigit(text[i + 1].unicode());
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

void AppendHexByte(QString& out, char16_t c)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    out += QLatin1Char(Digits[(c >> 4) & 0xF]);
    out += QLatin1Char(Digits[c & 0xF]);
}

bool IsControl(char16_t c)
{
    return c < 0x20 || c == 0x7F;
}

// A section's or a value's name as it goes into the file and into QSettings' keys: the
// characters that structure either are written as %XX.
QString EncodeName(const QString& name)
{
    QString out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        const bool atEdge = i == 0 || i == name.size() - 1;
        // A comment starts with ";" or "#", a header with "["; "/" would nest in QSettings.
        const bool special = c == u'%' || c == u'/' || c == u'\\' || c == u'=' || c == u'[' || c == u']' ||
                             IsControl(c) || (atEdge && c == u' ') || (i == 0 && (c == u';' || c == u'#'));
        if (special) {
            out += u'%';
            AppendHexByte(out, c);
        } else {
            out += QChar(c);
        }
    }
    return out;
}

QString DecodeName(QStringView name)
{
    QString out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const int byte = name[i] == u'%' ? HexByteAt(name, i + 1) : -1;
        if (byte >= 0) {
            out += QChar(static_cast<char16_t>(byte));
            i += 2;
        } else {
            out += name[i];
        }
    }
    return out;
}

QString GroupOf(const QString& section)
{
    QStringList parts = section.split(SectionSeparator);
    for (QString& part : parts)
        part = EncodeName(part);
    return parts.join(KeySeparator);
}

QString SectionOf(QStringView group)
{
    QStringList parts;
    for (QStringView part : group.split(KeySeparator))
        parts.append(DecodeName(part));
    return parts.join(SectionSeparator);
}

// Empty when the name is empty: a value needs a name.
QString KeyOf(const QString& section, const QString& name)
{
    if (name.isEmpty())
        return {};
    const QString group = GroupOf(section);
    return group.isEmpty() ? EncodeName(name) : group + KeySeparator + EncodeName(name);
}

QString EscapeValue(const QString& value)
{
    qsizetype first = 0;
    qsizetype last = value.size() - 1;
    while (first <= last && value[first] == u' ')
        ++first;
    while (last >= first && value[last] == u' ')
        --last;
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char16_t c = value[i].unicode();
        if (c == u'\\')
            out += QLatin1StringView("\\\\");
        else if (c == u'\n')
            out += QLatin1StringView("\\n");
        else if (c == u'\r')
            out += QLatin1StringView("\\r");
        else if (c == u'\t')
            out += QLatin1StringView("\\t");
        else if (c == u' ' && (i < first || i > last))
            out += QLatin1StringView("\\s");
        else if (IsControl(c)) {
            out += QLatin1StringView("\\x");
            AppendHexByte(out, c);
        } else {
            out += QChar(c);
        }
    }
    return out;
}

// An escape the writer does not make is kept as it stands.
QString UnescapeValue(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\\' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        const char16_t next = text[i + 1].unicode();
        QChar c;
        int used = 2;
        switch (next) {
        case u'\\': c = u'\\'; break;
        case u'n': c = u'\n'; break;
        case u'r': c = u'\r'; break;
        case u't': c = u'\t'; break;
        case u's': c = u' '; break;
        case u'x': {
            const int byte = HexByteAt(text, i + 2);
            if (byte >= 0) {
                c = QChar(static_cast<char16_t>(byte));
                used = 4;
            } else {
                used = 0;
            }
            break;
        }
        default: used = 0; break;
        }
        if (used == 0) {
            out += text[i];
            continue;
        }
        out += c;
        i += used - 1;
    }
    return out;
}

bool ReadIniFile(QIODevice& device, QSettings::SettingsMap& map)
{
    if (device.size() > TLayoutManagerIniStorage::MaxFileSize)
        return false;
    const QByteArray data = device.read(TLayoutManagerIniStorage::MaxFileSize + 1);
    if (data.size() > TLayoutManagerIniStorage::MaxFileSize)
        return false;
    const QString text = QString::fromUtf8(data);
    QString group;
    // Values after a header that is not closed belong to no section we could name.
    bool skipping = false;
    for (QStringView line : QStringView(text).split(u'\n')) {
        line = TrimBlanks(line);
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            skipping = !line.endsWith(u']');
            if (!skipping)
                group = TrimBlanks(line.sliced(1, line.size() - 2)).toString().replace(SectionSeparator, KeySeparator);
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (skipping || equals <= 0)
            continue;
        const QStringView name = TrimBlanks(line.first(equals));
        if (name.isEmpty())
            continue;
        const QString key = group.isEmpty() ? name.toString() : group + KeySeparator + name.toString();
        map.insert(key, UnescapeValue(TrimBlanks(line.sliced(equals + 1))));
    }
    return true;
}

bool WriteIniFile(QIODevice& device, const QSettings::SettingsMap& map)
{
    // A section's values are not adjacent among QSettings' sorted keys once sections nest, so
    // they are gathered first. The values outside any section sort first, before every header.
    QMap<QString, QList<std::pair<QString, QString>>> sections;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const qsizetype separator = it.key().lastIndexOf(KeySeparator);
        const QString group = separator < 0 ? QString() : it.key().first(separator);
        sections[group].append({it.key().sliced(separator + 1), it.value().toString()});
    }
    QByteArray out;
    for (auto it = sections.cbegin(); it != sections.cend(); ++it) {
        if (!it.key().isEmpty()) {
            if (!out.isEmpty())
                out += '\n';
            out += '[' + QString(it.key()).replace(KeySeparator, SectionSeparator).toUtf8() + "]\n";
        }
        for (const auto& [name, value] : it.value())
            out += name.toUtf8() + '=' + EscapeValue(value).toUtf8() + '\n';
    }
    return device.write(out) == out.size();
}

QSettings::Format IniFormat()
{
    // QSettings compares keys with their case outside Windows and macOS whatever a format asks.
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("ini"), ReadIniFile, WriteIniFile, Qt::CaseSensitive);
    return format;
}

// QSettings removes a key together with every key nested below it; here a value and a section of
// the same name are different things, so the nested ones are put back.
void RemoveValueOnly(QSettings& settings, const QString& key)
{
    if (!settings.contains(key))
        return;
    settings.beginGroup(key);
    const QStringList nested = settings.allKeys();
    QList<QVariant> values;
    values.reserve(nested.size());
    for (const QString& name : nested)
        values.append(settings.value(name));
    settings.endGroup();
    settings.remove(key);
    for (qsizetype i = 0; i < nested.size(); ++i)
        settings.setValue(key + KeySeparator + nested[i], values[i]);
}

QString DateTimeText(TDateTime value)
{
    TDateTimeParts p;
    if (!DecodeDateTime(value, p))
        return QString::number(value, 'g', QLocale::FloatingPointShortest);
    return QStringLiteral("%1-%2-%3T%4:%5:%6.%7")
        .arg(p.Year, 4, 10, QLatin1Char('0'))
        .arg(p.Month, 2, 10, QLatin1Char('0'))
        .arg(p.Day, 2, 10, QLatin1Char('0'))
        .arg(p.Hour, 2, 10, QLatin1Char('0'))
        .arg(p.Minute, 2, 10, QLatin1Char('0'))
        .arg(p.Second, 2, 10, QLatin1Char('0'))
        .arg(p.MilliSecond, 3, 10, QLatin1Char('0'));
}

// ISO 8601 as written above, or the plain number that a value outside the calendar is written as.
bool ParseDateTime(const QString& text, TDateTime& value)
{
    const QDateTime parsed = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (parsed.isValid() && parsed.date().year() >= 1 && parsed.date().year() <= 9999) {
        const QDate d = parsed.date();
        const QTime t = parsed.time();
        value = EncodeDateTime({d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec()});
        return true;
    }
    bool ok = false;
    const double number = text.toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return false;
    value = number;
    return true;
}

} // namespace

TLayoutManagerIniStorage::TLayoutManagerIniStorage(const QString& fileName)
    : FSettings(std::make_unique<QSettings>(fileName, IniFormat()))
{
}

TLayoutManagerIniStorage::~TLayoutManagerIniStorage() = default;

QString TLayoutManagerIniStorage::FileName() const
{
    return FSettings->fileName();
}

QSettings::Status TLayoutManagerIniStorage::Status() const
{
    return FSettings->status();
}

QString TLayoutManagerIniStorage::ReadText(const QString& section, const QString& name, bool& found) const
{
    const QString key = KeyOf(section, name);
    const QVariant value = key.isEmpty() ? QVariant() : FSettings->value(key);
    found = value.isValid();
    return value.toString();
}

bool TLayoutManagerIniStorage::Writable() const
{
    // QSettings would replace a file it could not read with what was written since.
    return FSettings->status() != QSettings::FormatError;
}

void TLayoutManagerIniStorage::WriteText(const QString& section, const QString& name, const QString& text)
{
    const QString key = KeyOf(section, name);
    if (!key.isEmpty() && Writable())
        FSettings->setValue(key, text);
}

void TLayoutManagerIniStorage::ReadSections(QStringList& list)
{
    list.clear();
    for (const QString& key : FSettings->allKeys()) {
        const qsizetype separator = key.lastIndexOf(KeySeparator);
        if (separator < 0)
            continue;
        const QString section = SectionOf(QStringView(key).first(separator));
        if (!list.contains(section, Qt::CaseInsensitive))
            list.append(section);
    }
}

void TLayoutManagerIniStorage::ReadSectionValues(const QString& section, QStringList& list)
{
    list.clear();
    FSettings->beginGroup(GroupOf(section));
    for (const QString& key : FSettings->childKeys())
        list.append(DecodeName(key) + u'=' + FSettings->value(key).toString());
    FSettings->endGroup();
}

bool TLayoutManagerIniStorage::SectionExists(const QString& section)
{
    FSettings->beginGroup(GroupOf(section));
    const bool exists = !FSettings->childKeys().isEmpty();
    FSettings->endGroup();
    return exists;
}

bool TLayoutManagerIniStorage::ValueExists(const QString& section, const QString& name)
{
    const QString key = KeyOf(section, name);
    return !key.isEmpty() && FSettings->contains(key);
}

void TLayoutManagerIniStorage::WriteInteger(const QString& section, const QString& name, int64_t value)
{
    WriteText(section, name, QString::number(value));
}

void TLayoutManagerIniStorage::WriteString(const QString& section, const QString& name, const QString& value)
{
    WriteText(section, name, value);
}

void TLayoutManagerIniStorage::WriteFloat(const QString& section, const QString& name, double value)
{
    WriteText(section, name, QString::number(value, 'g', QLocale::FloatingPointShortest));
}

void TLayoutManagerIniStorage::WriteDateTime(const QString& section, const QString& name, TDateTime value)
{
    WriteText(section, name, DateTimeText(value));
}

void TLayoutManagerIniStorage::WriteBool(const QString& section, const QString& name, bool value)
{
    WriteText(section, name, value ? QStringLiteral("1") : QStringLiteral("0"));
}

int64_t TLayoutManagerIniStorage::ReadInteger(const QString& section, const QString& name, int64_t defaultValue)
{
    bool found = false;
    const QString text = ReadText(section, name, found);
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    return found && ok ? value : defaultValue;
}

QString TLayoutManagerIniStorage::ReadString(const QString& section, const QString& name, const QString& defaultValue)
{
    bool found = false;
    const QString text = ReadText(section, name, found);
    return found ? text : defaultValue;
}

double TLayoutManagerIniStorage::ReadFloat(const QString& section, const QString& name, double defaultValue)
{
    bool found = false;
    const QString text = ReadText(section, name, found);
    bool ok = false;
    const double value = text.toDouble(&ok);
    return found && ok ? value : defaultValue;
}

TDateTime TLayoutManagerIniStorage::ReadDateTime(const QString& section, const QString& name, TDateTime defaultValue)
{
    bool found = false;
    const QString text = ReadText(section, name, found);
    TDateTime value = defaultValue;
    return found && ParseDateTime(text.trimmed(), value) ? value : defaultValue;
}

bool TLayoutManagerIniStorage::ReadBool(const QString& section, const QString& name, bool defaultValue)
{
    bool found = false;
    const QString text = ReadText(section, name, found).trimmed();
    if (!found)
        return defaultValue;
    bool ok = false;
    const qlonglong number = text.toLongLong(&ok);
    if (ok)
        return number != 0;
    if (text.compare(QLatin1StringView("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1StringView("false"), Qt::CaseInsensitive) == 0)
        return false;
    return defaultValue;
}

void TLayoutManagerIniStorage::ReadSection(const QString& section, QStringList& list)
{
    list.clear();
    FSettings->beginGroup(GroupOf(section));
    for (const QString& key : FSettings->childKeys())
        list.append(DecodeName(key));
    FSettings->endGroup();
}

void TLayoutManagerIniStorage::EraseSection(const QString& section, bool withNested)
{
    if (!Writable())
        return;
    if (!withNested) {
        ClearSection(section);
        return;
    }
    // Everything below the section's group, but not a value of the enclosing section that
    // happens to carry the section's name.
    FSettings->beginGroup(GroupOf(section));
    const QStringList keys = FSettings->childKeys();
    const QStringList groups = FSettings->childGroups();
    for (const QString& key : keys)
        FSettings->remove(key);
    for (const QString& group : groups)
        FSettings->remove(group);
    FSettings->endGroup();
}

void TLayoutManagerIniStorage::ClearSection(const QString& section)
{
    if (!Writable())
        return;
    FSettings->beginGroup(GroupOf(section));
    const QStringList keys = FSettings->childKeys();
    for (const QString& key : keys)
        RemoveValueOnly(*FSettings, key);
    FSettings->endGroup();
}

void TLayoutManagerIniStorage::DeleteValue(const QString& section, const QString& name)
{
    const QString key = KeyOf(section, name);
    if (!key.isEmpty() && Writable())
        RemoveValueOnly(*FSettings, key);
}

void TLayoutManagerIniStorage::UpdateFile()
{
    FSettings->sync();
}

void TLayoutManagerIniStorage::Open(bool readOnly) {}

void TLayoutManagerIniStorage::Close()
{
    FSettings->sync();
}
