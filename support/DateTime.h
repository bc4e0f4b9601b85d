// Date-time values: days since 1899-12-30, the fraction being the time of day. Before that day
// the whole part is negative and the fraction still counts forward from midnight
// (-1.25 is 1899-12-29 06:00).
#pragma once

#include "platform/include/win/windef.h"

#include <QLocale>
#include <QString>

using TDateTime = double;

struct TDateTimeParts {
    int Year = 1899;
    int Month = 12;
    int Day = 30;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int MilliSecond = 0;
};

// Days since 1899-12-30 of a day of the proleptic Gregorian calendar.
[[nodiscard]] long long DaysFromCivil(int year, int month, int day);

[[nodiscard]] TDateTime EncodeDateTime(const TDateTimeParts& parts);
// False for values outside the calendar (not finite, or beyond the years 1 to 9999).
[[nodiscard]] bool DecodeDateTime(TDateTime value, TDateTimeParts& parts);
[[nodiscard]] TDateTime SystemTimeToDateTime(const SYSTEMTIME& time);
[[nodiscard]] bool DateTimeToSystemTime(TDateTime value, SYSTEMTIME& time);

// The user's short date (its year always in four digits), a blank and the long time (without a
// time-zone name); the time is left out when the value lies exactly on midnight. Empty for a value
// outside the calendar.
[[nodiscard]] QString DateTimeToText(TDateTime value);
// The same in the formats of another locale.
[[nodiscard]] QString DateTimeToText(TDateTime value, const QLocale& locale);
