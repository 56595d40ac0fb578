#include <gtest/gtest.h>

#include "foundation/Timestamp.h"

namespace {

platform::LocalTime At(int hour, int minute, int second) {
    return platform::LocalTime{2011, 3, 15, 2, hour, minute, second};
}

platform::LocaleFormats Dutch() {
    return platform::LocaleFormats{};
} // d-M-yyyy, H:mm:ss

platform::LocaleFormats UnitedStates() {
    platform::LocaleFormats f;
    f.shortDatePattern = "M/d/yyyy";
    f.twentyFourHour = false;
    f.amDesignator = "AM";
    f.pmDesignator = "PM";
    return f;
}

TEST(Timestamp, DayMonthYearWithTwentyFourHourTime) {
    EXPECT_EQ(FormatLogTimestamp(At(10, 38, 48), Dutch()), "15-3-2011 10:38:48");
    EXPECT_EQ(FormatLogTimestamp(At(9, 5, 3), Dutch()), "15-3-2011 9:05:03");
}

TEST(Timestamp, ExactlyMidnightShowsTheDateAlone) {
    EXPECT_EQ(FormatLogTimestamp(At(0, 0, 0), Dutch()), "15-3-2011");
    EXPECT_EQ(FormatLogTimestamp(At(0, 0, 1), Dutch()), "15-3-2011 0:00:01");
    EXPECT_EQ(FormatLogTimestamp(At(0, 1, 0), Dutch()), "15-3-2011 0:01:00");
}

TEST(Timestamp, TwelveHourLocalesPlaceTheDesignatorWhereTheLocaleSays) {
    auto us = UnitedStates();
    EXPECT_EQ(FormatLogTimestamp(At(22, 38, 48), us), "3/15/2011 10:38:48 PM");
    EXPECT_EQ(FormatLogTimestamp(At(0, 30, 0), us), "3/15/2011 12:30:00 AM");
    EXPECT_EQ(FormatLogTimestamp(At(12, 0, 5), us), "3/15/2011 12:00:05 PM");
    us.designatorBeforeTime = true;
    us.amDesignator = "vorm.";
    EXPECT_EQ(FormatTimeOfDay(At(7, 8, 9), us), "vorm. 7:08:09");
    us.amDesignator = "";
    EXPECT_EQ(FormatTimeOfDay(At(7, 8, 9), us), "7:08:09");
}

TEST(Timestamp, HourLeadingZeroAndSeparatorComeFromTheLocale) {
    auto f = Dutch();
    f.hourLeadingZero = true;
    f.timeSeparator = ".";
    EXPECT_EQ(FormatTimeOfDay(At(7, 8, 9), f), "07.08.09");
}

TEST(Timestamp, ShortDatePictures) {
    auto f = Dutch();
    const auto t = At(1, 2, 3);
    const std::pair<const char*, const char*> table[] = {
        {"dd.MM.yyyy", "15.03.2011"}, {"yyyy-MM-dd", "2011-03-15"},
        {"d/M/yy", "15/3/11"},        {"y", "11"},
        {"'Day' d", "Day 15"},        {"d 'o''clock'", "15 o'clock"},
        {"gg yyyy", " 2011"},
    };
    for (const auto& [picture, expected] : table) {
        f.shortDatePattern = picture;
        EXPECT_EQ(FormatShortDate(t, f), expected) << picture;
    }
}

TEST(Timestamp, NamedMonthsAndDaysUseTheLocaleNamesOrFallBackToNumbers) {
    auto f = Dutch();
    f.shortDatePattern = "ddd d MMM yyyy";
    EXPECT_EQ(FormatShortDate(At(1, 0, 0), f), "15 15 3 2011");
    f.shortMonthNames[2] = "mrt";
    f.shortDayNames[2] = "di";
    EXPECT_EQ(FormatShortDate(At(1, 0, 0), f), "di 15 mrt 2011");
    f.shortDatePattern = "dddd d MMMM";
    f.longMonthNames[2] = "maart";
    f.longDayNames[2] = "dinsdag";
    EXPECT_EQ(FormatShortDate(At(1, 0, 0), f), "dinsdag 15 maart");
}

TEST(Timestamp, FileDateIsYearMonthDayWithLeadingZeros) {
    EXPECT_EQ(FormatFileDate(platform::LocalTime{2011, 3, 5, 6, 0, 0, 0}), "20110305");
    EXPECT_EQ(FormatFileDate(platform::LocalTime{2026, 12, 31, 4, 23, 59, 59}), "20261231");
}

} // namespace
