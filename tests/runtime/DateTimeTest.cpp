// Date-time values and their text in the C locale (the tests run with LC_ALL=C.UTF-8).
#include "support/DateTime.h"

#include <gtest/gtest.h>

namespace {

TEST(DateTime, EncodeAndDecode)
{
    EXPECT_DOUBLE_EQ(EncodeDateTime({1899, 12, 30}), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime({1900, 1, 1, 6}), 2.25);
    // Before the epoch the whole part is negative and the time still counts forward.
    EXPECT_DOUBLE_EQ(EncodeDateTime({1899, 12, 29, 6}), -1.25);

    TDateTimeParts p;
    ASSERT_TRUE(DecodeDateTime(EncodeDateTime({1601, 1, 1, 0, 5}), p));
    EXPECT_EQ(p.Year, 1601);
    EXPECT_EQ(p.Month, 1);
    EXPECT_EQ(p.Day, 1);
    EXPECT_EQ(p.Hour, 0);
    EXPECT_EQ(p.Minute, 5);
    ASSERT_TRUE(DecodeDateTime(EncodeDateTime({2020, 6, 14, 8, 55, 23, 417}), p));
    EXPECT_EQ(p.Second, 23);
    EXPECT_EQ(p.MilliSecond, 417);
    // A value that rounds up to the next midnight belongs to the next day.
    ASSERT_TRUE(DecodeDateTime(1.9999999999, p));
    EXPECT_EQ(p.Year, 1900);
    EXPECT_EQ(p.Month, 1);
    EXPECT_EQ(p.Day, 1);
    EXPECT_EQ(p.Hour, 0);
    EXPECT_FALSE(DecodeDateTime(1e9, p));
}

TEST(DateTime, TextLeavesOutMidnight)
{
    EXPECT_EQ(DateTimeToText(0).toStdString(), "30 Dec 1899");
    EXPECT_EQ(DateTimeToText(EncodeDateTime({2020, 6, 14, 8, 55, 23})).toStdString(), "14 Jun 2020 08:55:23");
    EXPECT_EQ(DateTimeToText(EncodeDateTime({2100, 12, 31})).toStdString(), "31 Dec 2100");
    EXPECT_EQ(DateTimeToText(EncodeDateTime({1601, 1, 1, 0, 5})).toStdString(), "1 Jan 1601 00:05:00");
    // A millisecond past midnight is not midnight.
    EXPECT_EQ(DateTimeToText(EncodeDateTime({2000, 1, 1, 0, 0, 0, 1})).toStdString(), "1 Jan 2000 00:00:00");
}

} // namespace
