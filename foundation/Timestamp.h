#pragma once
#include <string>

#include "platform/Clock.h"
#include "platform/Locale.h"

// The date in the user's short date picture (d, dd, ddd, dddd, M, MM, MMM, MMMM, y, yy,
// yyyy, quoted literals; other characters stand for themselves).
std::string FormatShortDate(const platform::LocalTime& time,
                            const platform::LocaleFormats& formats);

// The time of day: hour (leading zero only when the locale asks), separator, two-digit
// minutes, separator, two-digit seconds, and in a 12-hour locale the AM/PM designator
// before or after it, set off by a blank.
std::string FormatTimeOfDay(const platform::LocalTime& time,
                            const platform::LocaleFormats& formats);

// The log's timestamp: the short date, and unless the time is exactly 00:00:00, a blank
// and the time of day.
std::string FormatLogTimestamp(const platform::LocalTime& time,
                               const platform::LocaleFormats& formats);

// "yyyymmdd": the name of a day's log file without its extension.
std::string FormatFileDate(const platform::LocalTime& time);
