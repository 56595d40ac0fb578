#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/WinTestSupport.h"

namespace {

const char* const kService = "DrivewardService";
constexpr UINT kTrayCallback = WM_APP + 1;
constexpr WPARAM kAbout1 = 1;
constexpr WPARAM kExit1 = 3;
constexpr WPARAM kSessionLock = 7;
constexpr WPARAM kSessionUnlock = 8;
constexpr int kLabelEMail = 102; // in the About window
const char* const kStick = "E:  stick  980  12.5  BACKUP\r\n";
const char* const kEmptyCardReader = "F:  cardreader\r\n";
// Wine prints each ReportEventW's text (eventlog) and its id (advapi).
const char* const kEventChannels = "+eventlog,fixme+advapi";

// The tray monitor of the simulated-devices Driveward.exe, with the real companion service
// installed beside it, driven as the session and the system would: end-session requests
// through wineboot, lock, unlock and device messages sent to its window, the menu.
class TrayMonitor : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = suiteTemp->path() + "\\app";
        ::CreateDirectoryA(folder.c_str(), nullptr);
        for (const auto& [variable, name] :
             {std::pair{"DRIVEWARD_SIMULATED_EXE", "Driveward.exe"},
              std::pair{"DRIVEWARD_SERVICE_EXE", "DrivewardService.exe"}}) {
            const char* built = std::getenv(variable);
            ASSERT_NE(built, nullptr) << variable;
            ASSERT_TRUE(::CopyFileA(wintest::WindowsPath(built).c_str(),
                                    (folder + "\\" + name).c_str(), FALSE));
        }
        for (const char* ini : {"Driveward.ini", "DrivewardService.ini"}) {
            wintest::WriteFile(folder + "\\" + ini, "[GENERAL]\r\nDEBUG=1\r\nLogPath=" +
                                                        suiteTemp->path() + "\\logs\r\n");
        }
        ASSERT_TRUE(wintest::InstallService(kService, folder + "\\DrivewardService.exe"));
    }
    static void TearDownTestSuite() { wintest::UninstallService(kService); }

    void SetUp() override {
        const char* shots = std::getenv("DRIVEWARD_SCREENSHOTS");
        screenshots = shots != nullptr ? wintest::WindowsPath(shots) : suiteTemp->path();
        ::CreateDirectoryA(screenshots.c_str(), nullptr); // when this test runs alone
        ::DeleteFileA(ClientLog().c_str());
        ::DeleteFileA(ServiceLog().c_str());
    }
    void TearDown() override {
        if (HasFailure()) { // what the processes wrote tells why
            for (const auto& path : {ClientLog(), ServiceLog()}) {
                std::printf("--- %s\n", path.c_str());
                for (const auto& line : wintest::ReadLines(path)) {
                    std::printf("%s\n", line.c_str());
                }
            }
        }
        if (tray.handle != nullptr) {
            ::PostMessageA(window, WM_COMMAND, kExit1, 0);
            wintest::WaitForExit(tray);
        }
    }

    static std::string ClientLog() {
        return suiteTemp->path() + "\\logs\\Driveward client\\" + wintest::TodaysLogFileName();
    }
    static std::string ServiceLog() {
        return suiteTemp->path() + "\\logs\\Driveward service\\" + wintest::TodaysLogFileName();
    }
    static void Plug(const std::string& scenario) {
        wintest::WriteFile(folder + "\\Driveward.devices", scenario);
    }
    // Starts the tray monitor and waits until start-up is over: the service checked (and
    // started) and the taskbar entry hidden.
    // With `events`, Wine prints each event the tray monitor reports (EventLines).
    void StartTray(bool events = false) {
        eventsFrom = wintest::WineOutput().size();
        tray = events ? wintest::StartWithWineDebug(folder + "\\Driveward.exe", "", kEventChannels)
                      : wintest::Start(folder + "\\Driveward.exe", "");
        window = wintest::WaitForWindow(tray.id, "TTrayForm");
        ASSERT_NE(window, nullptr)
            << "started: " << (tray.handle != nullptr)
            << ", still running: " << (::WaitForSingleObject(tray.handle, 0) == WAIT_TIMEOUT)
            << ", its windows: " << wintest::DescribeWindows(tray.id);
        ASSERT_TRUE(wintest::WaitForLogLine(ClientLog(), " - Mode = csNormal"));
        ASSERT_TRUE(wintest::WaitForTrayStartUp(tray, window));
    }
    static long EndSession() {
        auto wineboot = wintest::Start("C:\\windows\\system32\\wineboot.exe", "--end-session");
        return wintest::WaitForExit(wineboot, 60000);
    }
    std::vector<std::string> Log() const { return wintest::LogTexts(ClientLog()); }
    // How often Wine's output since the tray monitor's start holds the text.
    long EventLines(const std::string& text) const {
        const std::string output = wintest::WineOutput().substr(eventsFrom);
        long count = 0;
        for (auto at = output.find(text); at != std::string::npos;
             at = output.find(text, at + text.size())) {
            ++count;
        }
        return count;
    }
    // The warning decisions taken outside a locked session so far.
    long Decisions() const {
        const auto lines = Log();
        return std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
            return line.rfind("Warning screen shown, session not locked", 0) == 0;
        });
    }
    bool Logged(const std::string& text) const {
        const auto lines = Log();
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    }
    void Shot(HWND shown, const std::string& name) {
        ::Sleep(300);
        EXPECT_TRUE(wintest::SaveScreenshot(shown, screenshots + "\\" + name + ".bmp")) << name;
    }

    static inline wintest::TempFolder* suiteTemp = new wintest::TempFolder;
    static inline std::string folder;
    std::string screenshots;
    std::size_t eventsFrom = 0;
    wintest::Process tray;
    HWND window = nullptr;
};

TEST_F(TrayMonitor, AStickRefusesTheSessionEndAndTheDeviceListOpens) {
    Plug(kStick);
    ASSERT_EQ(wintest::ServiceState(kService), static_cast<DWORD>(SERVICE_STOPPED));
    StartTray(true);
    EXPECT_EQ(wintest::ServiceState(kService), static_cast<DWORD>(SERVICE_RUNNING));

    EXPECT_EQ(EndSession(), 1); // refused
    EXPECT_TRUE(Logged("Log off or shutdown requested."));
    const HWND devices = wintest::WaitForWindow(tray.id, "TFormUSBDevices");
    ASSERT_NE(devices, nullptr);
    ASSERT_TRUE(wintest::WaitUntil([devices] { return ::IsWindowVisible(devices) != FALSE; }));
    EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(devices, 104))); // Browse, outside a helper
    Shot(devices, "tray-session-end-refused");

    // Log-offs again while the list is open: each is refused, closes the list and gets
    // its own decision, which shows the list again. It stays until the user closes it.
    for (int round = 2; round <= 3; ++round) {
        EXPECT_EQ(EndSession(), 1);
        ASSERT_TRUE(wintest::WaitUntil([this, round] { return Decisions() == round; }));
        ::Sleep(700); // a list on its way out would be gone by now
        EXPECT_TRUE(::IsWindowVisible(devices)) << "round " << round;
    }
    // Each refusal is one warning in the Event Log naming the drive, with its id (1000).
    EXPECT_EQ(EventLines("warn:eventlog:ReportEventW L\"Log off or shutdown refused: USB storage "
                         "plugged in at E:.\""),
              3);
    EXPECT_EQ(EventLines("fixme:advapi:ReportEventW"), 3);
    EXPECT_EQ(EventLines(",0x000003e8,"), 3);

    // The stick goes while the list is still open: the next log-off goes ahead, and the
    // tray monitor ends in order from inside the list's modal loop.
    Plug(kEmptyCardReader);
    EXPECT_EQ(EndSession(), 0);
    EXPECT_EQ(wintest::WaitForExit(tray, 40000), 0);
    EXPECT_EQ(Log().back(), "Stopped logging");
    EXPECT_EQ(wintest::ServiceState(kService), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(TrayMonitor, AStickThatStopsAnsweringIsRefusedInTimeAndNothingFreezes) {
    Plug(kStick);
    StartTray();
    Plug("E:  stick  980  12.5  BACKUP hang=30\r\n"); // each request to it blocks 30 s
    for (int query = 1; query <= 2; ++query) {        // the second finds it pending
        const ULONGLONG start = ::GetTickCount64();
        EXPECT_EQ(EndSession(), 1) << query;
        EXPECT_LT(::GetTickCount64() - start, 3000u) << query;
    }
    EXPECT_TRUE(Logged("Drive E: does not answer: CreateFile is still pending."));

    // The decision's list shows the stick's last record, and its windows keep answering,
    // a refresh included.
    const HWND devices = wintest::WaitForWindow(tray.id, "TFormUSBDevices");
    ASSERT_NE(devices, nullptr);
    ASSERT_TRUE(wintest::WaitUntil([devices] { return ::IsWindowVisible(devices) != FALSE; }));
    const HWND tree = wintest::FindChild(devices, WC_TREEVIEWA);
    EXPECT_NE(wintest::TreeChild(tree, "E: BACKUP"), nullptr);
    DWORD_PTR answer = 0;
    EXPECT_NE(::SendMessageTimeoutA(::GetDlgItem(devices, 102), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG,
                                    3000, &answer),
              0); // Refresh
    EXPECT_NE(::SendMessageTimeoutA(tree, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer), 0);
    Shot(devices, "tray-silent-stick");

    // A helper's list (as over the locked session) opens meanwhile and answers too.
    auto helper = wintest::Start(folder + "\\Driveward.exe", "2");
    const HWND list = wintest::WaitForWindow(helper.id, "TFormUSBDevices");
    ASSERT_NE(list, nullptr);
    EXPECT_NE(::SendMessageTimeoutA(list, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 3000, &answer), 0);
    EXPECT_TRUE(wintest::WaitUntil([list] {
        return wintest::TreeChild(wintest::FindChild(list, WC_TREEVIEWA), "E:") != nullptr;
    }));
    ::PostMessageA(list, WM_CLOSE, 0, 0);
    EXPECT_EQ(wintest::WaitForExit(helper, 15000), 0);

    // Nothing waits for the hung request at exit.
    ::PostMessageA(devices, WM_CLOSE, 0, 0);
    ::PostMessageA(window, WM_COMMAND, kExit1, 0);
    EXPECT_EQ(wintest::WaitForExit(tray, 15000), 0);
}

TEST_F(TrayMonitor, PluggingIsLiveAndLockAndUnlockGoThroughTheService) {
    Plug(kEmptyCardReader);
    StartTray();
    auto helper = wintest::Start(folder + "\\Driveward.exe", "2");
    const HWND list = wintest::WaitForWindow(helper.id, "TFormUSBDevices");
    ASSERT_NE(list, nullptr);
    const HWND tree = wintest::FindChild(list, WC_TREEVIEWA);
    ASSERT_TRUE(wintest::WaitUntil([tree] { return wintest::TreeTexts(tree).size() >= 2; }));
    ASSERT_EQ(wintest::TreeChild(tree, "E:"), nullptr);

    // The scenario file alone changes, no message from outside: each process tells its own
    // windows of the arrival, as the system would.
    Plug(std::string(kEmptyCardReader) + kStick);
    EXPECT_TRUE(wintest::WaitForLogLine(
        ClientLog(), "Device change - USB remove or insert. New device count = 2", 10000));
    EXPECT_TRUE(
        wintest::WaitUntil([tree] { return wintest::TreeChild(tree, "E:") != nullptr; }, 10000));
    ::PostMessageA(list, WM_CLOSE, 0, 0);
    EXPECT_EQ(wintest::WaitForExit(helper), 0);

    // An event that is no arrival or removal counts nothing, and the arrival was told once.
    DWORD_PTR answer = 0;
    ::SendMessageTimeoutA(window, WM_DEVICECHANGE, 0x0007, 0, SMTO_ABORTIFHUNG, 10000, &answer);
    ::Sleep(1500); // three looks at the file: a second announcement would be here
    const auto lines = Log();
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(),
                      [](const std::string& line) { return line.rfind("Device change", 0) == 0; }),
        1);

    ::PostMessageA(window, WM_WTSSESSION_CHANGE, kSessionLock, 0);
    ASSERT_TRUE(wintest::WaitForLogLine(ClientLog(), " - Mode = cShowWarning"));
    EXPECT_TRUE(Logged("Lock requested."));
    EXPECT_TRUE(Logged("Warning screen from service requested, session locked."));
    EXPECT_TRUE(wintest::WaitForLogLine(ServiceLog(), "Warning screen requested."));
    ::PostMessageA(window, WM_WTSSESSION_CHANGE, kSessionUnlock, 0);
    EXPECT_TRUE(wintest::WaitForLogLine(ServiceLog(), " ended."));
    EXPECT_TRUE(Logged("UnLock requested."));
}

TEST_F(TrayMonitor, WithoutAMediumTheSessionEndsForTheTrayMonitorAndAHelper) {
    Plug(kEmptyCardReader);
    StartTray();
    auto helper = wintest::Start(folder + "\\Driveward.exe", "2");
    ASSERT_NE(wintest::WaitForWindow(helper.id, "TFormUSBDevices"), nullptr);

    EXPECT_EQ(EndSession(), 0);
    EXPECT_EQ(wintest::WaitForExit(helper, 15000), 0);
    EXPECT_EQ(wintest::WaitForExit(tray, 15000), 0);
    // Both runs wrote their end, the tray monitor after stopping the service.
    const auto lines = Log();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Stopped logging"), 2);
    EXPECT_EQ(lines.back(), "Stopped logging");
    EXPECT_EQ(wintest::ServiceState(kService), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(TrayMonitor, TheIconsMenuOpensOnTheShellsRequest) {
    Plug(kStick);
    StartTray();
    // The icon asks for its menu as the shell does for a right-click.
    ::PostMessageA(window, kTrayCallback, MAKEWPARAM(300, 300), WM_CONTEXTMENU);
    const HWND menu = wintest::WaitForWindow(tray.id, "#32768");
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(wintest::WaitUntil([menu] { return ::IsWindowVisible(menu) != FALSE; }));
    // Its items live in the tray monitor's process, out of this test's reach under Wine:
    // the screenshot shows them.
    Shot(menu, "tray-menu");
    // Without a desktop of its own, Wine shows the notification area in a window of its own.
    const HWND systray = ::FindWindowA(nullptr, "Wine System Tray");
    ASSERT_NE(systray, nullptr);
    Shot(systray, "tray-icon");
    ::PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(wintest::WaitUntil([menu] { return ::IsWindowVisible(menu) == FALSE; }));

    // About from the menu: outside a helper its links are live (navy, underlined).
    ::PostMessageA(window, WM_COMMAND, kAbout1, 0);
    const HWND about = wintest::WaitForWindow(tray.id, "TFormAbout");
    ASSERT_NE(about, nullptr);
    ASSERT_TRUE(wintest::WaitUntil([about] { return ::IsWindowVisible(about) != FALSE; }));
    Shot(about, "tray-about");
    ::SendMessageA(about, WM_CLOSE, 0, 0);
    EXPECT_TRUE(wintest::WaitUntil([about] { return !::IsWindow(about); }));

    // Exit stops the service on the way out.
    ASSERT_EQ(wintest::ServiceState(kService), static_cast<DWORD>(SERVICE_RUNNING));
    ::PostMessageA(window, WM_COMMAND, kExit1, 0);
    EXPECT_EQ(wintest::WaitForExit(tray), 0);
    EXPECT_EQ(wintest::ServiceState(kService), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(Log().back(), "Stopped logging");
}

TEST_F(TrayMonitor, AboutsLinkIsOpenedByTheDesktopsShellNotByTheTrayMonitor) {
    const char* stub = std::getenv("DRIVEWARD_RECORD_PARENT_EXE");
    ASSERT_NE(stub, nullptr);
    const std::string record = suiteTemp->path() + "\\handler-parent.txt";
    // The mail handler for this test only. Wine looks it up in the machine's classes, not
    // in the user's: the value there is put back afterwards.
    const char* const key = "mailto\\shell\\open\\command";
    char saved[1024] = {};
    DWORD size = sizeof saved;
    ASSERT_EQ(::RegGetValueA(HKEY_CLASSES_ROOT, key, nullptr, RRF_RT_REG_SZ, nullptr, saved, &size),
              ERROR_SUCCESS);
    const std::string handler = "\"" + wintest::WindowsPath(stub) + "\" \"" + record + "\" \"%1\"";
    ASSERT_EQ(::RegSetKeyValueA(HKEY_CLASSES_ROOT, key, nullptr, REG_SZ, handler.c_str(),
                                static_cast<DWORD>(handler.size() + 1)),
              ERROR_SUCCESS);
    Plug(kStick);
    StartTray();
    ::PostMessageA(window, WM_COMMAND, kAbout1, 0);
    const HWND about = wintest::WaitForWindow(tray.id, "TFormAbout");
    ASSERT_NE(about, nullptr);
    ASSERT_TRUE(wintest::WaitUntil([about] { return ::IsWindowVisible(about) != FALSE; }));
    const HWND mail = ::GetDlgItem(about, kLabelEMail);
    ::SendMessageA(about, WM_COMMAND, MAKEWPARAM(kLabelEMail, STN_CLICKED),
                   reinterpret_cast<LPARAM>(mail));
    EXPECT_TRUE(wintest::WaitUntil([about] { return !::IsWindow(about); })); // handed over
    EXPECT_TRUE(wintest::WaitUntil(
        [&record] { return ::GetFileAttributesA(record.c_str()) != INVALID_FILE_ATTRIBUTES; }));
    ::RegSetKeyValueA(HKEY_CLASSES_ROOT, key, nullptr, REG_SZ, saved,
                      static_cast<DWORD>(std::strlen(saved) + 1));
    // The handler's parent is the process of the desktop's shell window, not the tray
    // monitor (which on Windows runs elevated).
    DWORD shell = 0;
    ::GetWindowThreadProcessId(::GetDesktopWindow(), &shell);
    ASSERT_TRUE(wintest::WaitUntil([&record] { return !wintest::ReadFile(record).empty(); }));
    const DWORD parent = std::stoul(wintest::ReadFile(record));
    EXPECT_EQ(parent, shell);
    EXPECT_NE(parent, tray.id);
}

// Puts the tray monitor's INI back whatever the test does with it.
class IniRestored {
public:
    explicit IniRestored(std::string path)
        : path_(std::move(path)), saved_(wintest::ReadFile(path_)) {}
    ~IniRestored() { wintest::WriteFile(path_, saved_); }
    IniRestored(const IniRestored&) = delete;
    IniRestored& operator=(const IniRestored&) = delete;

private:
    std::string path_;
    std::string saved_;
};

// A local log folder that others may change gets no line, and the Event Log one warning
// however many lines are lost.
TEST_F(TrayMonitor, ARefusedLocalLogFolderGetsNothingAndOneReport) {
    // The log's own folder is the one checked ("Driveward client"): under Wine a folder's
    // access list follows its Unix mode, so scripts/log-links.sh makes it writable by all.
    const char* links = std::getenv("DRIVEWARD_LOG_LINKS");
    ASSERT_NE(links, nullptr);
    const std::string open = wintest::WindowsPath(links) + "\\open";
    const std::string logFolder = open + "\\Driveward client";
    const IniRestored restored(folder + "\\Driveward.ini");
    wintest::WriteFile(folder + "\\Driveward.ini",
                       "[GENERAL]\r\nDEBUG=1\r\nLogPath=" + open + "\r\n");
    Plug(kEmptyCardReader);
    eventsFrom = wintest::WineOutput().size();
    tray = wintest::StartWithWineDebug(folder + "\\Driveward.exe", "", kEventChannels);
    window = wintest::WaitForWindow(tray.id, "TTrayForm");
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(wintest::WaitForTrayStartUp(tray, window));
    // More lines, each lost: a lock, its unlock, and the end.
    ::PostMessageA(window, WM_WTSSESSION_CHANGE, kSessionLock, 0);
    ::PostMessageA(window, WM_WTSSESSION_CHANGE, kSessionUnlock, 0);
    ::Sleep(1000);
    ::PostMessageA(window, WM_COMMAND, kExit1, 0);
    EXPECT_EQ(wintest::WaitForExit(tray), 0);
    EXPECT_EQ(EventLines("warn:eventlog:ReportEventW L\"The log of Driveward client cannot be "
                         "written in "),
              1);
    EXPECT_EQ(EventLines(",0x00000406,"), 1); // 1030
    EXPECT_EQ(::GetFileAttributesA((logFolder + "\\" + wintest::TodaysLogFileName()).c_str()),
              INVALID_FILE_ATTRIBUTES);
}

TEST_F(TrayMonitor, ALockWithoutTheServiceShowsTheWarningInTheSession) {
    wintest::UninstallService(kService); // put back below for the tests after this one
    Plug(kStick);
    StartTray();
    ::PostMessageA(window, WM_WTSSESSION_CHANGE, kSessionLock, 0);
    const HWND warning = wintest::WaitForWindow(tray.id, "TFormUSBWarning");
    ASSERT_NE(warning, nullptr);
    ASSERT_TRUE(wintest::WaitUntil([warning] { return ::IsWindowVisible(warning) != FALSE; }));
    EXPECT_TRUE(::GetWindowLongA(warning, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_TRUE(Logged("Warning screen shown, session locked."));
    // "Devices" leads to the device list, in the session.
    ::SendMessageA(wintest::FindChild(warning, "Button", "Devices"), BM_CLICK, 0, 0);
    const HWND devices = wintest::WaitForWindow(tray.id, "TFormUSBDevices");
    ASSERT_NE(devices, nullptr);
    EXPECT_TRUE(wintest::WaitUntil([devices] { return ::IsWindowVisible(devices) != FALSE; }));
    ::SendMessageA(devices, WM_CLOSE, 0, 0);
    EXPECT_TRUE(wintest::InstallService(kService, folder + "\\DrivewardService.exe"));
}

} // namespace
