#pragma once
#include <cstdint>
#include <optional>

#include "platform/SystemFacts.h"

// Operating-system classes; the ordinals are fixed because IsOS_AboveXP is defined on them.
enum TWinVersion {
    wvWin95 = 0,
    wvWin98 = 1,
    wvWinMe = 2,
    wvWinNT = 3,
    wvWin2000 = 4,
    wvWinXP = 5,
    wvWinVista = 6,
    wvWin7 = 7,
    wvWinLater = 8,
    wvUnknown = 9,
};

// Detected once while the process initialises; wvUnknown before that.
extern TWinVersion WinVersion;

// The class of a version query's answer; nullopt stands for a failed query.
TWinVersion ClassifyWinVersion(const std::optional<platform::OsVersion>& version);

// The cached class, computing it from the installed machine when it is still unknown.
TWinVersion GetWinVersion();

// Sets WinVersion to wvUnknown and then to GetWinVersion(); the entry point calls it
// before anything else runs.
void DetectWinVersion();

// An NT-family system of major version 6 or higher (Vista, 7 and later).
bool IsOS_AboveXP();

// Entry points that not every Windows version has. Each call loads the library from the
// system folder, resolves the entry point, calls it and releases the library again;
// a missing library or entry point gives false. Window handles travel as void*.
bool DynShutdownBlockReasonCreate(void* window, const wchar_t* reason);
bool DynShutdownBlockReasonDestroy(void* window);
bool DynWTSRegisterSessionNotification(void* window, std::uint32_t flags);
bool DynWTSUnRegisterSessionNotification(void* window);
