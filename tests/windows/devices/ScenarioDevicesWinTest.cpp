#include <gtest/gtest.h>
#include <windows.h>

#include <dbt.h>

#include <cstdlib>
#include <vector>

#include "support/WinTestSupport.h"
// After <windows.h>: only the methods that no A/W macro renames are called by name here.
#include "devices/DeviceEjectUnit.h"
#include "devices/USBDevicesUnit.h"
#include "platform/simulated/ScenarioDevices_win.h"
#include "platform/windows/Win32Machine.h"

namespace {

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// The real Win32 machine with the drives and devices of a scenario file.
class ScenarioMachine {
public:
    explicit ScenarioMachine(const std::string& scenarioPath) : devices(Wide(scenarioPath)) {
        machine_ = win32_.machine();
        machine_.storage = &devices;
        machine_.deviceSetup = &devices;
    }
    platform::ScenarioDevices devices;

private:
    platform::windows::Win32Machine win32_;
    platform::Machine machine_;
    platform::ScopedMachine installed_{machine_};
};

// A top-level window of this process that notes the device notifications it is sent.
class Listener {
public:
    Listener() {
        WNDCLASSA listenerClass = {};
        listenerClass.lpfnWndProc = Procedure;
        listenerClass.hInstance = ::GetModuleHandleA(nullptr);
        listenerClass.lpszClassName = "DrivewardTestListener";
        ::RegisterClassA(&listenerClass);
        window = ::CreateWindowExA(0, "DrivewardTestListener", "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                   listenerClass.hInstance, nullptr);
        heard.clear();
        unitMasks.clear();
    }
    ~Listener() { ::DestroyWindow(window); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    HWND window = nullptr;
    static inline std::vector<WPARAM> heard;
    static inline std::vector<DWORD> unitMasks;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_DEVICECHANGE) {
            heard.push_back(wParam);
            const auto* volume = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(lParam);
            unitMasks.push_back(volume != nullptr && volume->dbcv_devicetype == DBT_DEVTYP_VOLUME
                                    ? volume->dbcv_unitmask
                                    : 0);
            return TRUE;
        }
        return ::DefWindowProcA(window, message, wParam, lParam);
    }
};

// Everything waiting in this thread's queue, dispatched.
void TakeMessages() {
    MSG message = {};
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::DispatchMessageW(&message);
    }
}

std::string Letters(const TDevices& devices, bool hotplugOnly = false) {
    std::string letters;
    for (int i = 0; i < devices.Count(); ++i) {
        if (!hotplugOnly || devices.Items(i).DeviceHotplug()) {
            letters += devices.Items(i).DriveLetter();
        }
    }
    return letters;
}

TEST(ScenarioDevicesWinTest, RefreshesFollowTheFileAndAnEjectedDriveGoesAway) {
    wintest::TempFolder folder;
    const std::string scenario = folder.path() + "\\Driveward.devices";
    ScenarioMachine sim(scenario);
    TUSBDevices devices;
    devices.Refresh();
    EXPECT_EQ(devices.Count(), 0); // no file, no drives

    wintest::WriteFile(scenario, "C: fixed 1000 500 SYSTEM\r\n"
                                 "E: stick 980 12.5 BACKUP\r\n"
                                 "F: cardreader\r\n"
                                 "G: stick 100 1 PHOTOS veto\r\n");
    devices.Refresh();
    ASSERT_EQ(Letters(devices), "CEFG");
    EXPECT_EQ(Letters(devices, true), "EFG");
    const TDevice& stick = devices.Items(1);
    EXPECT_EQ(stick.VolumeName(), "BACKUP");
    EXPECT_EQ(stick.StorageTotal(), 980LL * 1024 * 1024);
    EXPECT_EQ(devices.Items(2).StorageTotal(), 0);
    // A disk was found for each drive only if the setup calls' last errors came through.
    EXPECT_NE(stick.DevInst(), 0u);
    ::SetLastError(0);
    EXPECT_EQ(sim.devices.OpenForQuery("\\\\.\\Q:"), nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    // A window of our own hears of an ejection once the thread takes its messages; a vetoed
    // ejection changes nothing.
    ASSERT_TRUE(devices.Items(3).FindParent(1) && stick.FindParent(1));
    Listener listener;
    EjectDevice(*devices.Items(3).FindParent(1), false);
    EjectDevice(*stick.FindParent(1), false);
    EXPECT_TRUE(Listener::heard.empty()); // nothing from inside the request
    TakeMessages();
    EXPECT_EQ(Listener::heard, (std::vector<WPARAM>{DBT_DEVICEREMOVECOMPLETE}));
    EXPECT_EQ(Listener::unitMasks, (std::vector<DWORD>{1u << ('E' - 'A')}));
    // The system itself refuses to post this notification: its lParam is a pointer.
    EXPECT_FALSE(::PostMessageW(listener.window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0));
    devices.Refresh();
    EXPECT_EQ(Letters(devices), "CFG");

    // Rewriting the file plugs and unplugs: the stick is back, the card reader gone.
    wintest::WriteFile(scenario, "C: fixed 1000 500 SYSTEM\r\n"
                                 "E: stick 980 12.5 BACKUP\r\n"
                                 "H: usbdisk 2000 10 ARCHIVE\r\n");
    devices.Refresh();
    EXPECT_EQ(Letters(devices), "CEH");
    ::DeleteFileA(scenario.c_str());
    devices.Refresh();
    EXPECT_EQ(devices.Count(), 0);
}

// The demo scenario copied beside the simulated-devices Driveward.exe is one it can read.
TEST(ScenarioDevicesWinTest, TheDemoScenarioBesideTheVariantLoadsWhole) {
    const char* exe = std::getenv("DRIVEWARD_SIMULATED_EXE");
    ASSERT_NE(exe, nullptr);
    std::string scenario = wintest::WindowsPath(exe);
    scenario = scenario.substr(0, scenario.rfind('.')) + ".devices";
    ScenarioMachine sim(scenario);
    TUSBDevices devices;
    devices.Refresh();
    EXPECT_EQ(Letters(devices), "CEFG");
    EXPECT_EQ(sim.devices.LastLoad().skippedLines, 0);
}

} // namespace
