// kernel32: files, modules, messages and time zones.
#include "platform/include/win/winbase.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sys/stat.h>

using namespace testsupport;

namespace {

std::u16string U16(const std::filesystem::path& p)
{
    const std::string s = p.string();
    return std::u16string(s.begin(), s.end());
}

SYSTEMTIME At(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second = 0, WORD ms = 0)
{
    SYSTEMTIME t{};
    t.wYear = year;
    t.wMonth = month;
    t.wDay = day;
    t.wHour = hour;
    t.wMinute = minute;
    t.wSecond = second;
    t.wMilliseconds = ms;
    return t;
}

class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone)
    {
        const char* old = std::getenv("TZ");
        FOld = old ? old : "";
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard()
    {
        setenv("TZ", FOld.c_str(), 1);
        tzset();
    }

private:
    std::string FOld;
};

TEST(FileTimes, ConvertBothWays)
{
    FILETIME zero{0, 0};
    SYSTEMTIME t{};
    ASSERT_TRUE(FileTimeToSystemTime(&zero, &t));
    EXPECT_EQ(t.wYear, 1601);
    EXPECT_EQ(t.wMonth, 1);
    EXPECT_EQ(t.wDay, 1);
    EXPECT_EQ(t.wDayOfWeek, 1); // a Monday

    const SYSTEMTIME created = At(2020, 6, 14, 8, 55, 23, 417);
    FILETIME ft{};
    ASSERT_TRUE(SystemTimeToFileTime(&created, &ft));
    EXPECT_EQ((uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime, 132365985234170000ULL);
    SYSTEMTIME back{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
    EXPECT_EQ(back.wHour, 8);
    EXPECT_EQ(back.wSecond, 23);
    EXPECT_EQ(back.wMilliseconds, 417);
    EXPECT_EQ(back.wDayOfWeek, 0); // a Sunday

    FILETIME negative{0, 0x80000000};
    EXPECT_FALSE(FileTimeToSystemTime(&negative, &t));
    const SYSTEMTIME february30 = At(2021, 2, 30, 0, 0);
    EXPECT_FALSE(SystemTimeToFileTime(&february30, &ft));
}

struct LocalCase {
    const char* Zone;
    SYSTEMTIME Utc;
    WORD Hour;
    WORD Day;
};

class LocalTime : public ::testing::TestWithParam<LocalCase> {};

// The local zone converts every date with the rules that were in force on that date.
TEST_P(LocalTime, RulesOfThatDate)
{
    const LocalCase& c = GetParam();
    const ZoneGuard zone(c.Zone);
    TIME_ZONE_INFORMATION tz{};
    ASSERT_NE(GetTimeZoneInformation(&tz), TIME_ZONE_ID_INVALID);
    SYSTEMTIME local{};
    ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(&tz, &c.Utc, &local));
    EXPECT_EQ(local.wHour, c.Hour);
    EXPECT_EQ(local.wDay, c.Day);
    EXPECT_EQ(local.wMinute, c.Utc.wMinute);
    EXPECT_EQ(local.wMilliseconds, c.Utc.wMilliseconds);
    SYSTEMTIME viaNull{};
    ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &c.Utc, &viaNull));
    EXPECT_EQ(viaNull.wHour, c.Hour);
}

INSTANTIATE_TEST_SUITE_P(
    Zones, LocalTime,
    ::testing::Values(LocalCase{"UTC", At(2020, 6, 14, 8, 55, 23, 5), 8, 14},
                      LocalCase{"Europe/Prague", At(2020, 6, 14, 8, 55, 23), 10, 14},
                      LocalCase{"Europe/Prague", At(2020, 1, 14, 8, 55, 23), 9, 14},
                      // No daylight saving in Czechoslovakia in 1970, but in 1985.
                      LocalCase{"Europe/Prague", At(1970, 7, 1, 12, 0), 13, 1},
                      LocalCase{"Europe/Prague", At(1985, 7, 1, 12, 0), 14, 1},
                      LocalCase{"America/New_York", At(2021, 3, 14, 3, 30), 22, 13},
                      LocalCase{"America/New_York", At(2021, 3, 14, 7, 30), 3, 14}));

TEST(LocalTime, ForeignZoneByItsWindowsRules)
{
    const ZoneGuard zone("UTC");
    TIME_ZONE_INFORMATION cet{};
    cet.Bias = -60;
    cet.DaylightBias = -60;
    cet.DaylightDate = {0, 3, 0, 5, 2, 0, 0, 0};  // last Sunday of March, 02:00
    cet.StandardDate = {0, 10, 0, 5, 3, 0, 0, 0}; // last Sunday of October, 03:00
    const SYSTEMTIME summer = At(2021, 7, 1, 12, 0);
    const SYSTEMTIME winter = At(2021, 1, 1, 12, 0);
    SYSTEMTIME local{};
    ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(&cet, &summer, &local));
    EXPECT_EQ(local.wHour, 14);
    ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(&cet, &winter, &local));
    EXPECT_EQ(local.wHour, 13);
}

TEST(Files, OpenReadAndDescribe)
{
    TempDir dir;
    WriteText(dir / ".hidden", "hello");
    WriteText(dir / "locked", "x");
    chmod((dir / "locked").c_str(), 0444);

    const std::u16string hidden = U16(dir / ".hidden");
    HANDLE h = CreateFileW(reinterpret_cast<LPCWSTR>(hidden.c_str()), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buffer[16] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(read, 5u);
    BY_HANDLE_FILE_INFORMATION info{};
    ASSERT_TRUE(GetFileInformationByHandle(h, &info));
    EXPECT_EQ(info.dwFileAttributes, FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(info.nFileSizeLow, 5u);
    EXPECT_NE(info.ftLastWriteTime.dwHighDateTime, 0u);
    EXPECT_TRUE(CloseHandle(h));

    const std::u16string locked = U16(dir / "locked");
    h = CreateFileW(reinterpret_cast<LPCWSTR>(locked.c_str()), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(GetFileInformationByHandle(h, &info));
    EXPECT_EQ(info.dwFileAttributes, FILE_ATTRIBUTE_READONLY);
    CloseHandle(h);
}

TEST(Files, FoldersAndMissingFilesDoNotOpen)
{
    TempDir dir;
    const std::u16string folder = U16(dir.path());
    EXPECT_EQ(CreateFileW(reinterpret_cast<LPCWSTR>(folder.c_str()), GENERIC_READ, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    const std::u16string missing = U16(dir / "missing");
    EXPECT_EQ(CreateFileW(reinterpret_cast<LPCWSTR>(missing.c_str()), GENERIC_READ, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    // With backup semantics a folder opens, as on Windows.
    HANDLE h = CreateFileW(reinterpret_cast<LPCWSTR>(folder.c_str()), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION info{};
    ASSERT_TRUE(GetFileInformationByHandle(h, &info));
    EXPECT_TRUE(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(h);
}

TEST(Modules, StandInsAreFoundBesideTheProgramOrNotAtAll)
{
    TempDir empty;
    setenv("TESSERA_MODULE_DIR", empty.path().c_str(), 1);
    EXPECT_EQ(LoadLibraryW(u"crypt32.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    unsetenv("TESSERA_MODULE_DIR");

    // kernel32 is built in and finds its own functions by name.
    HMODULE kernel32 = GetModuleHandleW(u"Kernel32.dll");
    ASSERT_NE(kernel32, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(kernel32, "SystemTimeToTzSpecificLocalTime")),
              reinterpret_cast<void*>(&SystemTimeToTzSpecificLocalTime));
    EXPECT_EQ(GetProcAddress(kernel32, "NoSuchFunction"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
}

TEST(Messages, SystemTextsEndWithALineBreak)
{
    WCHAR buffer[256];
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(STG_E_FILENOTFOUND), 0, buffer, 256, nullptr);
    EXPECT_EQ(std::u16string(buffer, n), u"%1 could not be found.\r\n");
    // A Win32 error wrapped in an HRESULT reads as the error itself.
    const DWORD m = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, static_cast<DWORD>(E_ACCESSDENIED), 0,
                                   buffer, 256, nullptr);
    EXPECT_EQ(std::u16string(buffer, m), u"Access is denied.\r\n");
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0xDEADBEEF, 0, buffer, 256, nullptr), 0u);
}

} // namespace
