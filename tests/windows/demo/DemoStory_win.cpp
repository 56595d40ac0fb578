// Plays Driveward's story under Wine, step by step, for a newcomer to watch: the tray
// icon, a stick plugged in, a log-off refused with the device list, the stick ejected and
// unplugged, the log-off granted. It drives the simulated-devices Driveward.exe and the
// real companion service, saves a numbered screenshot of each step and prints what
// happened, with the log lines of this run only. Any step that does not happen ends the
// run with exit code 1; a tray monitor that is running already, with exit code 3.
//   demo_story FOLDER SCREENSHOTS
// FOLDER holds Driveward.exe, DrivewardService.exe and their INI files.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/WinTestSupport.h"

namespace {

const char* const kService = "DrivewardService";
constexpr WPARAM kDeviceArrival = 0x8000;
constexpr WPARAM kExit1 = 3;
constexpr int kButtonEject = 105;
const char* const kStick = "E:  stick  980  12.5  BACKUP\r\n";

class Story {
public:
    Story(std::string folder, std::string screenshots)
        : folder_(std::move(folder)), screenshots_(std::move(screenshots)),
          log_(folder_ + "\\logs\\Driveward client\\" + wintest::TodaysLogFileName()) {
        // Only what this run writes counts: the log may hold earlier runs' lines.
        logStart_ = wintest::ReadLines(log_).size();
    }

    int Play() {
        Plug("");
        wintest::UninstallService(kService); // one left by a run that was cut short
        if (!wintest::InstallService(kService, folder_ + "\\DrivewardService.exe")) {
            return Fail("the companion service could not be installed");
        }
        const int result = Steps();
        if (tray_.handle != nullptr) { // a step failed with the tray monitor still up
            ::PostMessageA(window_, WM_COMMAND, kExit1, 0);
            wintest::WaitForExit(tray_, 40000);
        }
        wintest::UninstallService(kService);
        return result;
    }

private:
    int Steps() {
        Say(1, "Driveward's tray monitor starts; no stick is plugged in.");
        tray_ = wintest::Start(folder_ + "\\Driveward.exe", "");
        if (RefusedAsSecondInstance()) {
            std::printf("   A Driveward tray monitor is already running in this Wine prefix (an "
                        "earlier demo, or one started by hand). This run stops here.\n");
            return 3;
        }
        window_ = wintest::WaitForWindow(tray_.id, "TTrayForm");
        if (window_ == nullptr || !StartUpOver()) {
            return Fail("the tray monitor did not start");
        }
        ShowNewLogLines();
        std::printf("   The companion service was started for it: %s\n",
                    wintest::ServiceState(kService) == SERVICE_RUNNING ? "yes" : "NO");
        Shot(::FindWindowA(nullptr, "Wine System Tray"), "01-tray-icon");

        Say(2, "A stick is plugged in: E: BACKUP, 980 MB.");
        Plug(kStick);
        DWORD_PTR answer = 0;
        ::SendMessageTimeoutA(window_, WM_DEVICECHANGE, kDeviceArrival, 0, SMTO_ABORTIFHUNG, 10000,
                              &answer);
        if (!ShowNewLogLines("New device count = 1")) {
            return Fail("the tray monitor did not count the stick");
        }

        Say(3, "The user logs off.");
        const long refused = EndSession();
        std::printf("   The log-off was %s.\n", refused == 1 ? "refused" : "NOT refused");
        const HWND devices = wintest::WaitForWindow(tray_.id, "TFormUSBDevices");
        if (refused != 1 || devices == nullptr ||
            !wintest::WaitUntil([devices] { return ::IsWindowVisible(devices) != FALSE; })) {
            return Fail("the log-off was not refused with the device list");
        }
        ShowNewLogLines();
        std::printf("   The device list opened; the block reason reads \"There are 1 USB "
                    "storage device(s) plugged in.\"\n");
        Shot(devices, "02-log-off-refused-device-list");

        Say(4, "The user ejects the stick from the device list and unplugs it.");
        const HWND tree = wintest::FindChild(devices, WC_TREEVIEWA);
        const HTREEITEM stick = wintest::TreeChild(tree, "E:");
        if (stick == nullptr) {
            return Fail("the stick is not in the device list");
        }
        ::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(stick));
        ::SendMessageA(::GetDlgItem(devices, kButtonEject), BM_CLICK, 0, 0);
        if (!ShowNewLogLines("New device count = 0")) {
            return Fail("the ejection did not take the stick away");
        }
        Plug("");
        Shot(devices, "03-stick-ejected");
        ::SendMessageA(devices, WM_CLOSE, 0, 0);

        Say(5, "The user logs off again.");
        if (EndSession() != 0 || wintest::WaitForExit(tray_, 40000) != 0) {
            return Fail("the log-off did not go ahead");
        }
        ShowNewLogLines();
        std::printf("   The log-off went ahead; the tray monitor stopped the service and ended.\n");
        return 0;
    }

    static void Say(int step, const char* what) { std::printf("\nStep %d: %s\n", step, what); }

    int Fail(const std::string& what) {
        std::printf("\nThe demo FAILED: %s.\n", what.c_str());
        ShowNewLogLines();
        return 1;
    }

    void Plug(const std::string& scenario) const {
        wintest::WriteFile(folder_ + "\\Driveward.devices", scenario);
    }

    bool RefusedAsSecondInstance() {
        const HWND box = wintest::WaitForWindow(tray_.id, "#32770", 3000);
        if (box == nullptr) {
            return false;
        }
        wintest::WaitUntil([box] { return !wintest::WindowText(box).empty(); }, 5000);
        ::PostMessageA(box, WM_COMMAND, IDOK, 0);
        wintest::WaitForExit(tray_);
        return true;
    }

    bool StartUpOver() { return wintest::WaitForTrayStartUp(tray_, window_); }

    static long EndSession() {
        auto wineboot = wintest::Start("C:\\windows\\system32\\wineboot.exe", "--end-session");
        return wintest::WaitForExit(wineboot, 60000);
    }

    // Prints this run's log lines not shown yet (a device report shortened to its first
    // line); with a text, waits for a line ending in it first and tells whether it came.
    bool ShowNewLogLines(const char* awaited = nullptr) {
        bool found = awaited == nullptr;
        if (!found) {
            found = wintest::WaitUntil(
                [&] {
                    const auto lines = wintest::ReadLines(log_);
                    for (std::size_t i = logStart_; i < lines.size(); ++i) {
                        const std::string& line = lines[i];
                        if (line.size() >= std::strlen(awaited) &&
                            line.compare(line.size() - std::strlen(awaited), std::string::npos,
                                         awaited) == 0) {
                            return true;
                        }
                    }
                    return false;
                },
                15000);
        }
        const auto lines = wintest::ReadLines(log_);
        for (; shown_ + logStart_ < lines.size(); ++shown_) {
            const std::string& line = lines[logStart_ + shown_];
            const bool partOfReport = line.find(" - ") == std::string::npos ||
                                      line.find("Drive") != std::string::npos ||
                                      line.find("------") != std::string::npos;
            if (!partOfReport) {
                std::printf("   log: %s\n", line.c_str());
            }
        }
        return found;
    }

    void Shot(HWND window, const std::string& name) {
        ::Sleep(400); // the last paint
        const std::string path = screenshots_ + "\\" + name + ".bmp";
        if (window != nullptr && wintest::SaveScreenshot(window, path)) {
            std::printf("   screenshot: %s.png\n", name.c_str());
        }
    }

    std::string folder_;
    std::string screenshots_;
    std::string log_;
    std::size_t logStart_ = 0;
    std::size_t shown_ = 0;
    wintest::Process tray_;
    HWND window_ = nullptr;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FOLDER SCREENSHOTS\n", argv[0]);
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    return Story(wintest::WindowsPath(argv[1]), wintest::WindowsPath(argv[2])).Play();
}
