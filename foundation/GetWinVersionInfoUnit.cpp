#include "foundation/GetWinVersionInfoUnit.h"

#include "platform/Machine.h"

TWinVersion WinVersion = wvUnknown;

namespace {
constexpr std::uint32_t kPlatform9x = 1;
constexpr std::uint32_t kPlatformNt = 2;

TWinVersion Classify9x(std::uint32_t major, std::uint32_t minor) {
    if (major != 4) {
        return wvUnknown;
    }
    switch (minor) {
    case 0:
        return wvWin95;
    case 10:
        return wvWin98;
    case 90:
        return wvWinMe;
    default:
        return wvUnknown;
    }
}

TWinVersion ClassifyNt(std::uint32_t major, std::uint32_t minor) {
    if (major <= 4) {
        return wvWinNT;
    }
    if (major == 5 && minor == 0) {
        return wvWin2000;
    }
    if (major == 5 && minor == 1) {
        return wvWinXP;
    }
    if (major == 6 && minor == 0) {
        return wvWinVista;
    }
    if (major == 6 && minor == 1) {
        return wvWin7;
    }
    if (major >= 6) {
        return wvWinLater;
    }
    return wvUnknown; // 5.2 and later 5.x (Server 2003, XP x64)
}
} // namespace

TWinVersion ClassifyWinVersion(const std::optional<platform::OsVersion>& version) {
    if (!version) {
        return wvUnknown;
    }
    switch (version->platformId) {
    case kPlatform9x:
        return Classify9x(version->major, version->minor);
    case kPlatformNt:
        return ClassifyNt(version->major, version->minor);
    default:
        return wvUnknown;
    }
}

TWinVersion GetWinVersion() {
    if (WinVersion != wvUnknown) {
        return WinVersion;
    }
    return ClassifyWinVersion(platform::CurrentMachine().system->QueryOsVersion());
}

void DetectWinVersion() {
    WinVersion = wvUnknown;
    WinVersion = GetWinVersion();
}

bool IsOS_AboveXP() {
    return WinVersion == wvWinVista || WinVersion == wvWin7 || WinVersion == wvWinLater;
}
