// Plays Driveward's story under Wine, step by step, for a newcomer to watch: the tray
// icon, a stick plugged in, a log-off refused with the device list, the stick ejected and
// unplugged, the log-off granted. It drives the simulated-devices Driveward.exe and the
// real companion service, saves a numbered screenshot of each step once its result is on
// screen and prints what happened, with the log lines of this run only. Beside each
// screenshot NN-name.bmp it writes NN-name.txt, the lines that tell the step (drawn beside
// the picture by scripts/demo.sh), and it lists the steps' captions in captions.txt. Any
// step that does not happen ends the run with exit code 1; a tray monitor that is running
// already, with exit code 3.
//   demo_story FOLDER SCREENSHOTS
// FOLDER holds Driveward.exe, DrivewardService.exe and their INI files.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/WinTestSupport.h"

namespace {

const char* const kService = "DrivewardService";
constexpr WPARAM kDevices1 = 2;
constexpr WPARAM kExit1 = 3;
// A picture smaller than this is widened to it: the notification area alone is a strip.
constexpr LONG kMinShotWidth = 420;
constexpr LONG kMinShotHeight = 150;
constexpr LONG kShotMargin = 12;
constexpr std::size_t kPanelLines = 9;
constexpr DWORD kHintDelayMs = 1500; // a tooltip shows after the pointer rests a moment
constexpr int kButtonEject = 105;
constexpr int kButtonRefresh = 102;
const char* const kStick = "E:  stick  980  12.5  BACKUP\r\n";
// A second stick, whose pictures Excel holds open; then Excel closed.
const char* const kPhotosHeld = "C:  fixed  476940  120000  SYSTEM\r\n"
                                "E:  stick  980  12.5  BACKUP\r\n"
                                "G:  stick  7640  3100  PHOTOS  veto=EXCEL.EXE:4321\r\n";
const char* const kPhotosFree = "C:  fixed  476940  120000  SYSTEM\r\n"
                                "E:  stick  980  12.5  BACKUP\r\n"
                                "G:  stick  7640  3100  PHOTOS\r\n";

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
        systray_ = ::FindWindowA(nullptr, "Wine System Tray");
        ShotOfArea(TrayArea(), "01-tray-icon",
                   "1. The tray monitor starts: its icon in the notification area, with its hint",
                   {"The pointer rests on the icon: its hint shows beneath it"});

        Say(2,
            "A stick is plugged in: E: BACKUP, 980 MB (Driveward.devices changes, nothing else).");
        Plug(kStick);
        if (!ShowNewLogLines("New device count = 1")) {
            return Fail("the tray monitor did not count the stick");
        }
        ::PostMessageA(window_, WM_COMMAND, kDevices1, 0);
        const HWND devices = wintest::WaitForWindow(tray_.id, "TFormUSBDevices");
        if (devices == nullptr || !ShownWith(devices, "E:")) {
            return Fail("the device list did not show the stick");
        }
        std::printf("   The device list (the tray menu's Devices) shows it.\n");
        Shot(devices, "02-stick-plugged-in",
             "2. A stick is plugged in: the tray monitor counts it, its device list shows it");
        ::PostMessageA(devices, WM_CLOSE, 0, 0);
        wintest::WaitUntil([devices] { return ::IsWindowVisible(devices) == FALSE; }, 10000);

        Say(3, "The user logs off.");
        const long refused = EndSession();
        std::printf("   The log-off was %s.\n", refused == 1 ? "refused" : "NOT refused");
        if (refused != 1 || !ShownWith(devices, "E:")) {
            return Fail("the log-off was not refused with the device list");
        }
        ShowNewLogLines();
        const std::string reason = BlockReason();
        std::printf("   The device list opened; block reason: %s\n", reason.c_str());
        Shot(devices, "03-log-off-refused",
             "3. The user logs off: refused, and the device list opens",
             {"LOG-OFF REFUSED", "wineboot --end-session: exit code 1 (a window said no)",
              "Block reason: " + reason});

        Say(4, "The user ejects the sticks from the device list and unplugs them.");
        const HWND tree = wintest::FindChild(devices, WC_TREEVIEWA);
        if (!EjectRefusedThenGranted(devices, tree)) {
            return 1;
        }
        const HTREEITEM stick = wintest::TreeChild(tree, "E:");
        if (stick == nullptr) {
            return Fail("the stick is not in the device list");
        }
        ::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(stick));
        ::SendMessageA(::GetDlgItem(devices, kButtonEject), BM_CLICK, 0, 0);
        if (!ShowNewLogLines("New device count = 0") ||
            !wintest::WaitUntil([tree] { return wintest::TreeChild(tree, "E:") == nullptr; })) {
            return Fail("the ejection did not take the stick away");
        }
        Plug("");
        Shot(devices, "04-stick-ejected",
             "4. The user ejects the stick from the list: it is gone from the list");
        ::SendMessageA(devices, WM_CLOSE, 0, 0);

        Say(5, "The user logs off again.");
        if (EndSession() != 0 || wintest::WaitForExit(tray_, 40000) != 0) {
            return Fail("the log-off did not go ahead");
        }
        ShowNewLogLines();
        std::printf("   The log-off went ahead; the tray monitor stopped the service and ended.\n");
        if (!ShotOfLogEnd()) {
            return Fail("the log could not be shown");
        }
        return 0;
    }

    // A second stick whose pictures Excel holds open: its ejection is refused and the box
    // names Excel; once Excel is closed, it ejects.
    bool EjectRefusedThenGranted(HWND devices, HWND tree) {
        Plug(kPhotosHeld);
        if (!ShownWith(devices, "G:")) {
            Fail("the device list did not show the second stick");
            return false;
        }
        ShowNewLogLines();
        ::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET,
                       reinterpret_cast<LPARAM>(wintest::TreeChild(tree, "G:")));
        ::PostMessageA(::GetDlgItem(devices, kButtonEject), BM_CLICK, 0, 0);
        const HWND box = wintest::WaitForWindow(tray_.id, "#32770");
        const char* const named = "Blocked by: EXCEL.EXE (process 4321)";
        if (box == nullptr || !wintest::WaitUntil([box, named] {
                for (const HWND text : wintest::Children(box, "Static")) { // the icon too
                    if (wintest::WindowText(text).find(named) != std::string::npos) {
                        return true;
                    }
                }
                return false;
            }) ||
            !ShowNewLogLines("Eject of G: refused by EXCEL.EXE (process 4321)")) {
            Fail("the refusal did not name the program that holds the stick");
            return false;
        }
        Shot(box, "04-eject-refused",
             "4. A stick that Excel holds open: the ejection is refused, and the box names Excel");
        ::PostMessageA(box, WM_COMMAND, IDOK, 0);
        wintest::WaitUntil([box] { return !::IsWindow(box); });
        std::printf("   Excel is closed: the stick ejects.\n");
        Plug(kPhotosFree);
        // Refresh reads the scenario at once; a post, so that a box could not hold us.
        ::SendMessageA(::GetDlgItem(devices, kButtonRefresh), BM_CLICK, 0, 0);
        ::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET,
                       reinterpret_cast<LPARAM>(wintest::TreeChild(tree, "G:")));
        ::PostMessageA(::GetDlgItem(devices, kButtonEject), BM_CLICK, 0, 0);
        if (!wintest::WaitUntil([tree] { return wintest::TreeChild(tree, "G:") == nullptr; })) {
            Fail("the second stick did not go once Excel was closed");
            return false;
        }
        // The file stays as it is: an ejected drive stays away until the file changes.
        return true;
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
                stepLines_.push_back(line.substr(line.find(" - ") + 3));
            }
        }
        return found;
    }

    // True once the window is on screen and its tree lists a drive with the prefix.
    static bool ShownWith(HWND window, const char* drive) {
        const HWND tree = wintest::FindChild(window, WC_TREEVIEWA);
        return wintest::WaitUntil([&] {
            return ::IsWindowVisible(window) != FALSE && wintest::TreeChild(tree, drive) != nullptr;
        });
    }

    void Shot(HWND window, const std::string& name, const std::string& caption,
              const std::vector<std::string>& facts = {}) {
        RECT area = {};
        if (window != nullptr && ::GetWindowRect(window, &area)) {
            ShotOfArea(area, name, caption, facts);
        }
    }

    // Saves the area once it is painted, the step's story beside it, and its caption.
    void ShotOfArea(RECT area, const std::string& name, const std::string& caption,
                    const std::vector<std::string>& facts = {}) {
        ::RedrawWindow(nullptr, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        ::Sleep(600); // the other processes' paint
        const std::string base = screenshots_ + "\\" + name;
        if (!wintest::SaveScreenArea(area, base + ".bmp")) {
            std::printf("   NO screenshot: %s\n", name.c_str());
            return;
        }
        std::string story;
        for (const std::string& line : facts) {
            story += line + "\n";
        }
        const std::size_t first =
            stepLines_.size() > kPanelLines ? stepLines_.size() - kPanelLines : 0;
        for (std::size_t i = first; i < stepLines_.size(); ++i) {
            story += stepLines_[i] + "\n";
        }
        stepLines_.clear();
        wintest::WriteFile(base + ".txt", story);
        captions_ += name + "|" + caption + "\n";
        wintest::WriteFile(screenshots_ + "\\captions.txt", captions_);
        std::printf("   screenshot: %s.png\n", name.c_str());
    }

    // The notification area and the hint of our icon: the pointer rests on the icon, as a
    // user's would, and the picture takes the area with room beneath it for the hint.
    RECT TrayArea() {
        RECT area = {0, 0, kMinShotWidth, kMinShotHeight};
        RECT client = {};
        if (systray_ == nullptr || !::GetWindowRect(systray_, &area) ||
            !::GetClientRect(systray_, &client)) {
            return area;
        }
        POINT icon = {std::min<LONG>(client.bottom, 32) / 2, client.bottom / 2};
        ::ClientToScreen(systray_, &icon);
        ::SetCursorPos(icon.x + 1, icon.y + 1);
        ::SetCursorPos(icon.x, icon.y);
        ::Sleep(kHintDelayMs);
        ::InflateRect(&area, kShotMargin, kShotMargin);
        area.right = std::max(area.right, area.left + kMinShotWidth);
        area.bottom = std::max(area.bottom, area.top + kMinShotHeight);
        const RECT screen = {0, 0, ::GetSystemMetrics(SM_CXSCREEN),
                             ::GetSystemMetrics(SM_CYSCREEN)};
        ::IntersectRect(&area, &area, &screen);
        return area;
    }

    // The system's answer when asked for the tray monitor's block reason.
    std::string BlockReason() const {
        using Query = BOOL(WINAPI*)(HWND, LPWSTR, DWORD*);
        const auto query = reinterpret_cast<Query>(reinterpret_cast<void (*)()>(
            ::GetProcAddress(::GetModuleHandleA("user32.dll"), "ShutdownBlockReasonQuery")));
        wchar_t text[256] = {};
        DWORD size = 256;
        if (query == nullptr || !query(window_, text, &size)) {
            return "the system keeps none (Wine: ShutdownBlockReasonCreate fails)";
        }
        char narrow[256] = {};
        ::WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
        return "\"" + std::string(narrow) + "\"";
    }

    // The log-off granted: the notification area without our icon, and the log's last
    // lines in Notepad beneath it.
    bool ShotOfLogEnd() {
        const RECT tray = TrayArea();
        auto notepad = wintest::Start("C:\\windows\\system32\\notepad.exe", "\"" + log_ + "\"");
        const HWND editor = wintest::WaitForWindow(notepad.id, "Notepad", 15000);
        if (editor == nullptr) {
            wintest::WaitForExit(notepad, 0);
            return false;
        }
        ::SetWindowPos(editor, HWND_TOP, tray.left, tray.bottom + 4, 820, 300, SWP_SHOWWINDOW);
        const HWND text = wintest::FindChild(editor, "Edit");
        const auto end = ::SendMessageA(text, WM_GETTEXTLENGTH, 0, 0);
        ::SendMessageA(text, EM_SETSEL, static_cast<WPARAM>(end), end);
        ::SendMessageA(text, EM_SCROLLCARET, 0, 0);
        RECT area = {};
        ::GetWindowRect(editor, &area);
        ::UnionRect(&area, &area, &tray);
        ShotOfArea(area, "05-log-off-granted",
                   "5. The user logs off again: granted, the tray icon is gone (the log's end)",
                   {"LOG-OFF GRANTED", "wineboot --end-session: exit code 0",
                    "The tray monitor ended (exit code 0): its icon is gone"});
        ::PostMessageA(editor, WM_CLOSE, 0, 0);
        wintest::WaitForExit(notepad, 10000);
        return true;
    }

    std::string folder_;
    std::string screenshots_;
    std::string log_;
    std::size_t logStart_ = 0;
    std::size_t shown_ = 0;
    wintest::Process tray_;
    HWND window_ = nullptr;
    HWND systray_ = nullptr;
    std::vector<std::string> stepLines_; // this step's log lines, for its picture
    std::string captions_;
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
