#pragma once
#include <array>
#include <string>

namespace platform {

// The user's regional formats that the log timestamp is built from.
struct LocaleFormats {
    std::string shortDatePattern = "d-M-yyyy"; // Windows picture: d, dd, M, MM, yy, yyyy, '...'
    std::string timeSeparator = ":";
    bool hourLeadingZero = false;
    bool twentyFourHour = true;
    bool designatorBeforeTime = false;
    std::string amDesignator = "AM";
    std::string pmDesignator = "PM";
    std::string decimalSeparator = ","; // as in the short date above: a Dutch desk
    std::array<std::string, 12> shortMonthNames{};
    std::array<std::string, 12> longMonthNames{};
    std::array<std::string, 7> shortDayNames{}; // Sunday first
    std::array<std::string, 7> longDayNames{};
};

class Locale {
public:
    virtual ~Locale() = default;
    virtual LocaleFormats UserFormats() = 0;
};

} // namespace platform
