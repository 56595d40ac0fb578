#include <windows.h>

#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "client/ApplicationHost_win.h"
#include "client/EntrySequence.h"
#include "client/ProcessMachine_win.h"
#include "foundation/GetWinVersionInfoUnit.h"
#include "platform/windows/SafeDllSearch.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
    UseSafeDllSearch();
    // Querying an empty card-reader slot must fail quietly, not raise the system's
    // "no disk" box: on a locked session nobody could answer it.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    platform::InstallMachine(&ProcessMachine());
    DetectWinVersion();

    // The C runtime's command-line parsing: enclosing quotes removed, nothing else.
    const std::vector<std::string> parameters(__argv + 1, __argv + __argc);
    Win32ApplicationHost host(instance);
    try {
        return RunEntrySequence(host, parameters);
    } catch (const std::exception& failure) {
        ::MessageBoxA(nullptr, failure.what(), kApplicationTitle, MB_OK | MB_ICONERROR);
    }
    return 0;
}
