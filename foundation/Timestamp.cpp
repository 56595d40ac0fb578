#include "foundation/Timestamp.h"

#include <cstddef>

namespace {

std::string TwoDigits(int value) {
    std::string text = std::to_string(value);
    return text.size() < 2 ? "0" + text : text;
}

std::string Padded(int value, std::size_t width) {
    std::string text = std::to_string(value);
    if (text.size() < width) {
        text.insert(0, width - text.size(), '0');
    }
    return text;
}

template <std::size_t N>
std::string NameOf(const std::array<std::string, N>& names, int index, int fallback) {
    if (index >= 0 && static_cast<std::size_t>(index) < N && !names[index].empty()) {
        return names[index];
    }
    return std::to_string(fallback);
}

std::string DayPart(std::size_t count, const platform::LocalTime& t,
                    const platform::LocaleFormats& f) {
    switch (count) {
    case 1:
        return std::to_string(t.day);
    case 2:
        return TwoDigits(t.day);
    case 3:
        return NameOf(f.shortDayNames, t.dayOfWeek, t.day);
    default:
        return NameOf(f.longDayNames, t.dayOfWeek, t.day);
    }
}

std::string MonthPart(std::size_t count, const platform::LocalTime& t,
                      const platform::LocaleFormats& f) {
    switch (count) {
    case 1:
        return std::to_string(t.month);
    case 2:
        return TwoDigits(t.month);
    case 3:
        return NameOf(f.shortMonthNames, t.month - 1, t.month);
    default:
        return NameOf(f.longMonthNames, t.month - 1, t.month);
    }
}

std::string YearPart(std::size_t count, const platform::LocalTime& t) {
    if (count == 1) {
        return std::to_string(t.year % 100);
    }
    if (count == 2) {
        return TwoDigits(t.year % 100);
    }
    return Padded(t.year, 4);
}

} // namespace

std::string FormatShortDate(const platform::LocalTime& time,
                            const platform::LocaleFormats& formats) {
    const std::string& picture = formats.shortDatePattern;
    std::string out;
    std::size_t pos = 0;
    while (pos < picture.size()) {
        const char c = picture[pos];
        if (c == '\'') {
            // Quoted literal; two quotes in a row stand for one quote.
            ++pos;
            while (pos < picture.size()) {
                if (picture[pos] == '\'') {
                    if (pos + 1 < picture.size() && picture[pos + 1] == '\'') {
                        out.push_back('\'');
                        pos += 2;
                        continue;
                    }
                    ++pos;
                    break;
                }
                out.push_back(picture[pos++]);
            }
            continue;
        }
        std::size_t count = 1;
        while (pos + count < picture.size() && picture[pos + count] == c) {
            ++count;
        }
        switch (c) {
        case 'd':
            out += DayPart(count, time, formats);
            break;
        case 'M':
            out += MonthPart(count, time, formats);
            break;
        case 'y':
            out += YearPart(count, time);
            break;
        case 'g':
            break; // era: not shown for the Gregorian calendar
        default:
            out.append(count, c);
        }
        pos += count;
    }
    return out;
}

std::string FormatTimeOfDay(const platform::LocalTime& time,
                            const platform::LocaleFormats& formats) {
    int hour = time.hour;
    if (!formats.twentyFourHour) {
        hour %= 12;
        if (hour == 0) {
            hour = 12;
        }
    }
    std::string text = formats.hourLeadingZero ? TwoDigits(hour) : std::to_string(hour);
    text += formats.timeSeparator + TwoDigits(time.minute) + formats.timeSeparator +
            TwoDigits(time.second);
    if (!formats.twentyFourHour) {
        const std::string& designator =
            time.hour < 12 ? formats.amDesignator : formats.pmDesignator;
        if (!designator.empty()) {
            text = formats.designatorBeforeTime ? designator + " " + text : text + " " + designator;
        }
    }
    return text;
}

std::string FormatLogTimestamp(const platform::LocalTime& time,
                               const platform::LocaleFormats& formats) {
    std::string text = FormatShortDate(time, formats);
    if (time.hour != 0 || time.minute != 0 || time.second != 0) {
        text += " " + FormatTimeOfDay(time, formats);
    }
    return text;
}

std::string FormatFileDate(const platform::LocalTime& time) {
    return Padded(time.year, 4) + TwoDigits(time.month) + TwoDigits(time.day);
}
