#include "support/DateTime.h"

#include "platform/common/Calendar.h"

#include <QDate>
#include <QLocale>
#include <QTime>

#include <cmath>

namespace {

constexpr long long MSecsPerDay = 86'400'000;

constexpr long long DaysFrom1970To1899 = calendar::DaysFromCivil(1899, 12, 30);

// The long time format without its time-zone field: the report never names a zone.
QString TimeFormatWithoutZone(const QString& format)
{
    QString result;
    bool quoted = false;
    for (QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        result += c;
    }
    return result.simplified();
}

// The short date format with the year in four digits: Windows' regional short dates write all four,
// Qt's often two, and a 2050 and a 2150 certificate must never read alike.
QString FourDigitYears(const QString& format)
{
    QString result;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format[i];
        if (c == u'\'')
            quoted = !quoted;
        if (quoted || c != u'y') {
            result += c;
            ++i;
            continue;
        }
        qsizetype run = 0;
        while (i + run < format.size() && format[i + run] == u'y')
            ++run;
        result += QStringLiteral("yyyy");
        i += run;
    }
    return result;
}

} // namespace

long long DaysFromCivil(int year, int month, int day)
{
    return calendar::DaysFromCivil(year, month, day) - DaysFrom1970To1899;
}

TDateTime EncodeDateTime(const TDateTimeParts& p)
{
    const double days = static_cast<double>(DaysFromCivil(p.Year, p.Month, p.Day));
    const double time =
        static_cast<double>(((p.Hour * 60LL + p.Minute) * 60 + p.Second) * 1000 + p.MilliSecond) / MSecsPerDay;
    return days < 0 ? days - time : days + time;
}

bool DecodeDateTime(TDateTime value, TDateTimeParts& parts)
{
    if (!std::isfinite(value) || value < -693594.0 || value >= 2958466.0)
        return false;
    long long days = static_cast<long long>(std::trunc(value));
    long long ms = std::llround(std::fabs(value - static_cast<double>(days)) * MSecsPerDay);
    if (ms >= MSecsPerDay) {
        // Rounding reached the next midnight.
        ms -= MSecsPerDay;
        days += value < 0 ? -1 : 1;
    }
    calendar::CivilFromDays(days + DaysFrom1970To1899, parts.Year, parts.Month, parts.Day);
    parts.Hour = static_cast<int>(ms / 3'600'000);
    parts.Minute = static_cast<int>(ms / 60'000 % 60);
    parts.Second = static_cast<int>(ms / 1000 % 60);
    parts.MilliSecond = static_cast<int>(ms % 1000);
    return true;
}

TDateTime SystemTimeToDateTime(const SYSTEMTIME& t)
{
    return EncodeDateTime({t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds});
}

bool DateTimeToSystemTime(TDateTime value, SYSTEMTIME& t)
{
    TDateTimeParts p;
    if (!DecodeDateTime(value, p))
        return false;
    const long long days = DaysFromCivil(p.Year, p.Month, p.Day);
    t.wYear = static_cast<WORD>(p.Year);
    t.wMonth = static_cast<WORD>(p.Month);
    t.wDay = static_cast<WORD>(p.Day);
    t.wDayOfWeek = static_cast<WORD>(calendar::DayOfWeek(days + DaysFrom1970To1899));
    t.wHour = static_cast<WORD>(p.Hour);
    t.wMinute = static_cast<WORD>(p.Minute);
    t.wSecond = static_cast<WORD>(p.Second);
    t.wMilliseconds = static_cast<WORD>(p.MilliSecond);
    return true;
}

namespace {

struct Formats {
    explicit Formats(const QLocale& locale)
        : Locale(locale), Date(FourDigitYears(locale.dateFormat(QLocale::ShortFormat))),
          Time(TimeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat)))
    {
    }
    QLocale Locale;
    QString Date;
    QString Time;
};

QString FormatDateTime(TDateTime value, const Formats& formats)
{
    TDateTimeParts p;
    if (!DecodeDateTime(value, p))
        return {};
    QString text = formats.Locale.toString(QDate(p.Year, p.Month, p.Day), formats.Date);
    if (p.Hour != 0 || p.Minute != 0 || p.Second != 0 || p.MilliSecond != 0) {
        text += u' ';
        text += formats.Locale.toString(QTime(p.Hour, p.Minute, p.Second, p.MilliSecond), formats.Time);
    }
    return text;
}

} // namespace

QString DateTimeToText(TDateTime value)
{
    // The user's settings are read once; a report writes two dates per certificate.
    static const Formats formats(QLocale::system());
    return FormatDateTime(value, formats);
}

QString DateTimeToText(TDateTime value, const QLocale& locale)
{
    return FormatDateTime(value, Formats(locale));
}
