#include <windows.h>

#include <string>

#include "client/ProcessMachine_win.h"
#include "platform/simulated/ScenarioDevices_win.h"
#include "platform/windows/Win32Machine.h"

namespace {

constexpr std::size_t kLongestPath = 32768; // the longest path Windows can give

// Beside the executable and named after it, like its INI file: Driveward.exe reads
// Driveward.devices. Empty when the module path cannot be had (the open then fails and
// there are no drives).
std::wstring ScenarioPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= kLongestPath) {
            return {}; // truncated even so: never read some other file
        }
        path.resize(path.size() * 2);
    }
    const std::size_t folderEnd = path.find_last_of(L"\\/");
    const std::size_t extension = path.find_last_of(L'.');
    if (extension != std::wstring::npos &&
        (folderEnd == std::wstring::npos || extension > folderEnd)) {
        path.resize(extension);
    }
    return path + L".devices";
}

} // namespace

// The simulated-devices test variant: the real Win32 machine, except that the drives and
// devices come from the scenario file. Never linked into the shipped program.
platform::Machine& ProcessMachine() {
    // Never destroyed: a device-query worker may still hang in a drive's request while
    // the process ends, and must find them intact when it returns.
    static platform::windows::Win32Machine& win32 = *new platform::windows::Win32Machine;
    static platform::ScenarioDevices& devices = *new platform::ScenarioDevices(ScenarioPath());
    static platform::Machine machine = [] {
        platform::Machine simulated = win32.machine();
        simulated.storage = &devices;
        simulated.deviceSetup = &devices;
        simulated.eventLog = &devices;
        // On the thread that runs the windows: it is the one that takes their messages.
        devices.WatchFile();
        return simulated;
    }();
    return machine;
}
