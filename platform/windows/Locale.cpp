#include <windows.h>

#include "platform/windows/Win32Machine.h"

namespace platform::windows {
namespace {

std::string LocaleText(LCTYPE type, const std::string& fallback) {
    char buffer[256];
    const int length = ::GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof buffer);
    if (length <= 1) {
        return fallback;
    }
    return std::string(buffer, static_cast<std::size_t>(length - 1));
}

} // namespace

LocaleFormats Win32Locale::UserFormats() {
    LocaleFormats f;
    f.shortDatePattern = LocaleText(LOCALE_SSHORTDATE, "M/d/yyyy");
    f.timeSeparator = LocaleText(LOCALE_STIME, ":");
    f.hourLeadingZero = LocaleText(LOCALE_ITLZERO, "0") == "1";
    f.twentyFourHour = LocaleText(LOCALE_ITIME, "1") == "1";
    f.designatorBeforeTime = LocaleText(LOCALE_ITIMEMARKPOSN, "0") == "1";
    f.amDesignator = LocaleText(LOCALE_S1159, "");
    f.pmDesignator = LocaleText(LOCALE_S2359, "");
    f.decimalSeparator = LocaleText(LOCALE_SDECIMAL, ".");
    for (int m = 0; m < 12; ++m) {
        f.shortMonthNames[m] = LocaleText(LOCALE_SABBREVMONTHNAME1 + m, "");
        f.longMonthNames[m] = LocaleText(LOCALE_SMONTHNAME1 + m, "");
    }
    // Windows counts day names from Monday (1) to Sunday (7); ours start on Sunday.
    for (int d = 0; d < 7; ++d) {
        const int windowsIndex = (d + 6) % 7;
        f.shortDayNames[d] = LocaleText(LOCALE_SABBREVDAYNAME1 + windowsIndex, "");
        f.longDayNames[d] = LocaleText(LOCALE_SDAYNAME1 + windowsIndex, "");
    }
    return f;
}

} // namespace platform::windows
