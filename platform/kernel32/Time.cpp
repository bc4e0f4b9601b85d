// File times, system times and time zones. The local zone is the C library's (TZ, /etc/localtime):
// a conversion for a date uses the rules that were in force on that date.
#include "platform/include/win/winbase.h"

#include "platform/common/Calendar.h"
#include "platform/common/WinStr.h"

#include <cstring>
#include <ctime>

namespace {

constexpr uint64_t TicksPerMillisecond = 10'000;
constexpr uint64_t TicksPerDay = 864'000'000'000ULL;
constexpr int64_t Days1601To1970 = -calendar::DaysFromCivil(1601, 1, 1);

bool ValidSystemTime(const SYSTEMTIME& t)
{
    return t.wYear >= 1601 && t.wYear <= 30827 && t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 &&
           t.wDay <= calendar::DaysInMonth(t.wYear, t.wMonth) && t.wHour < 24 && t.wMinute < 60 && t.wSecond < 60 &&
           t.wMilliseconds < 1000;
}

// Seconds since 1970 of a SYSTEMTIME read as UTC; milliseconds apart.
int64_t ToUnixSeconds(const SYSTEMTIME& t)
{
    return calendar::DaysFromCivil(t.wYear, t.wMonth, t.wDay) * 86400 + t.wHour * 3600 + t.wMinute * 60 + t.wSecond;
}

void FromUnixSeconds(int64_t seconds, WORD milliseconds, SYSTEMTIME& t)
{
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int y = 0, m = 0, d = 0;
    calendar::CivilFromDays(days, y, m, d);
    t.wYear = static_cast<WORD>(y);
    t.wMonth = static_cast<WORD>(m);
    t.wDay = static_cast<WORD>(d);
    t.wDayOfWeek = static_cast<WORD>(calendar::DayOfWeek(days));
    t.wHour = static_cast<WORD>(rest / 3600);
    t.wMinute = static_cast<WORD>(rest / 60 % 60);
    t.wSecond = static_cast<WORD>(rest % 60);
    t.wMilliseconds = milliseconds;
}

void CurrentZone(TIME_ZONE_INFORMATION& tz, bool& daylightNow)
{
    tzset();
    std::memset(&tz, 0, sizeof tz);
    const time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    daylightNow = local.tm_isdst > 0;
    // The standard offset: the current one, less the hour of daylight saving when it applies.
    const long standardOffset = local.tm_gmtoff - (daylightNow ? 3600 : 0);
    tz.Bias = static_cast<LONG>(-standardOffset / 60);
    tz.StandardBias = 0;
    tz.DaylightBias = daylight ? -60 : 0;
    const auto name = [](const char* s, WCHAR* out) {
        const std::u16string text = winstr::FromUtf8(s ? s : "");
        winstr::CopyTo(std::u16string_view(text).substr(0, 31), out, 32);
    };
    name(tzname[0], tz.StandardName);
    name(tzname[1], tz.DaylightName);
}

// The n-th (5 = last) weekday of a month at a time of day, as the rules of a TIME_ZONE_INFORMATION
// give it; in seconds of that year's local clock since 1970.
int64_t TransitionSeconds(const SYSTEMTIME& rule, int year)
{
    if (rule.wYear != 0)
        return ToUnixSeconds(rule);
    const int64_t first = calendar::DaysFromCivil(year, rule.wMonth, 1);
    int day = 1 + (rule.wDayOfWeek - calendar::DayOfWeek(first) + 7) % 7 + (rule.wDay - 1) * 7;
    while (day > calendar::DaysInMonth(year, rule.wMonth))
        day -= 7;
    return (first + day - 1) * 86400 + rule.wHour * 3600 + rule.wMinute * 60 + rule.wSecond;
}

// Windows' own reading of a zone given by its rules: bias, and daylight saving between the two dates.
int64_t LocalSecondsByRules(const TIME_ZONE_INFORMATION& tz, int64_t utc, int year)
{
    const int64_t standard = utc - int64_t(tz.Bias + tz.StandardBias) * 60;
    if (tz.DaylightDate.wMonth == 0 || tz.StandardDate.wMonth == 0)
        return standard;
    const int64_t daylightLocal = utc - int64_t(tz.Bias + tz.DaylightBias) * 60;
    // Transitions are given in the local time that is in force before them.
    const int64_t toDaylight = TransitionSeconds(tz.DaylightDate, year);
    const int64_t toStandard = TransitionSeconds(tz.StandardDate, year);
    const bool inDaylight = toDaylight < toStandard ? (standard >= toDaylight && daylightLocal < toStandard)
                                                    : !(daylightLocal >= toStandard && standard < toDaylight);
    return inDaylight ? daylightLocal : standard;
}

} // namespace

extern "C" {

BOOL WINAPI FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime)
{
    if (!lpFileTime || !lpSystemTime) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const uint64_t ticks = (uint64_t(lpFileTime->dwHighDateTime) << 32) | lpFileTime->dwLowDateTime;
    if (ticks > 0x7FFFFFFFFFFFFFFFULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto days = static_cast<int64_t>(ticks / TicksPerDay);
    const uint64_t ms = ticks % TicksPerDay / TicksPerMillisecond;
    FromUnixSeconds((days - Days1601To1970) * 86400 + static_cast<int64_t>(ms / 1000), static_cast<WORD>(ms % 1000),
                    *lpSystemTime);
    return TRUE;
}

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime)
{
    if (!lpSystemTime || !lpFileTime || !ValidSystemTime(*lpSystemTime)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const SYSTEMTIME& t = *lpSystemTime;
    const auto days = static_cast<uint64_t>(calendar::DaysFromCivil(t.wYear, t.wMonth, t.wDay) + Days1601To1970);
    const uint64_t ms = ((t.wHour * 60ULL + t.wMinute) * 60 + t.wSecond) * 1000 + t.wMilliseconds;
    const uint64_t ticks = days * TicksPerDay + ms * TicksPerMillisecond;
    lpFileTime->dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
    lpFileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return TRUE;
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime)
{
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    const uint64_t ticks =
        static_cast<uint64_t>(now.tv_sec + Days1601To1970 * 86400) * 10'000'000 + static_cast<uint64_t>(now.tv_nsec) / 100;
    lpSystemTimeAsFileTime->dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
    lpSystemTimeAsFileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

DWORD WINAPI GetTimeZoneInformation(LPTIME_ZONE_INFORMATION lpTimeZoneInformation)
{
    if (!lpTimeZoneInformation) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return TIME_ZONE_ID_INVALID;
    }
    bool daylightNow = false;
    CurrentZone(*lpTimeZoneInformation, daylightNow);
    if (!daylight)
        return TIME_ZONE_ID_UNKNOWN;
    return daylightNow ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

BOOL WINAPI SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION* lpTimeZoneInformation,
                                            const SYSTEMTIME* lpUniversalTime, LPSYSTEMTIME lpLocalTime)
{
    if (!lpUniversalTime || !lpLocalTime || !ValidSystemTime(*lpUniversalTime)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const int64_t utc = ToUnixSeconds(*lpUniversalTime);
    const WORD ms = lpUniversalTime->wMilliseconds;

    // The local zone (named by null or by what GetTimeZoneInformation gives) is converted with the
    // time-zone database, so every date gets the rules of its own time.
    TIME_ZONE_INFORMATION local{};
    bool daylightNow = false;
    CurrentZone(local, daylightNow);
    if (!lpTimeZoneInformation || std::memcmp(lpTimeZoneInformation, &local, sizeof local) == 0) {
        const auto t = static_cast<time_t>(utc);
        struct tm tm {};
        if (!localtime_r(&t, &tm)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        FromUnixSeconds(utc + tm.tm_gmtoff, ms, *lpLocalTime);
        return TRUE;
    }
    FromUnixSeconds(LocalSecondsByRules(*lpTimeZoneInformation, utc, lpUniversalTime->wYear), ms, *lpLocalTime);
    return TRUE;
}

} // extern "C"
