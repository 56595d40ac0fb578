#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>

#include "support/WinTestSupport.h"

namespace {

constexpr int kWarningClientWidth = 595;
constexpr int kDevicesClientWidth = 653;
constexpr int kDevicesClientHeight = 203;
// The controls' identifiers in the windows.
constexpr int kButtonAbout = 103;
constexpr int kButtonBrowse = 104;
constexpr int kButtonEject = 105;
constexpr int kButtonClose = 101;
constexpr int kButtonRefresh = 102;
constexpr int kLabelWebsite = 101;
constexpr int kLabelEMail = 102;

const char* const kScenario = "C:  fixed      476940  120000  SYSTEM\r\n"
                              "E:  stick      980     12.5    BACKUP\r\n"
                              "F:  cardreader\r\n"
                              "G:  stick      7640    3100    PHOTOS  veto\r\n";

// The helper windows of Driveward.exe, driven from outside as the person at a locked
// workstation would: the real program for the warning, the simulated-devices variant
// (same program, drives from a scenario file) for the device list. Each window is kept as
// a screenshot (BMP here; the run turns them into PNG files).
class HelperWindows : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* variable : {"DRIVEWARD_EXE", "DRIVEWARD_SIMULATED_EXE"}) {
            ASSERT_NE(std::getenv(variable), nullptr) << variable;
        }
        const char* shots = std::getenv("DRIVEWARD_SCREENSHOTS");
        screenshots = shots != nullptr ? wintest::WindowsPath(shots) : temp.path();
        ::CreateDirectoryA(screenshots.c_str(), nullptr);
        Install(std::getenv("DRIVEWARD_EXE"), realFolder);
        Install(std::getenv("DRIVEWARD_SIMULATED_EXE"), simulatedFolder);
        wintest::WriteFile(simulatedFolder + "\\Driveward.devices", kScenario);
    }
    void Install(const char* built, const std::string& folder) {
        ::CreateDirectoryA(folder.c_str(), nullptr);
        ASSERT_TRUE(::CopyFileA(wintest::WindowsPath(built).c_str(),
                                (folder + "\\Driveward.exe").c_str(), FALSE));
        wintest::WriteFile(folder + "\\Driveward.ini",
                           "[GENERAL]\r\nDEBUG=1\r\nLogPath=" + temp.path() + "\\logs\r\n");
    }
    // Starts a helper and waits until its window is shown.
    HWND StartHelper(const std::string& folder, const char* mode, const char* windowClass) {
        process = wintest::Start(folder + "\\Driveward.exe", mode);
        const HWND window = wintest::WaitForWindow(process.id, windowClass);
        if (window != nullptr) {
            wintest::WaitUntil([window] { return ::IsWindowVisible(window) != FALSE; });
        }
        return window;
    }
    void Shot(HWND window, const std::string& name) {
        ::Sleep(300); // let the last paint land
        EXPECT_TRUE(wintest::SaveScreenshot(window, screenshots + "\\" + name + ".bmp")) << name;
    }
    static bool Enabled(HWND window, int id) {
        return ::IsWindowEnabled(::GetDlgItem(window, id)) != FALSE;
    }
    // The control that has the keyboard focus in the window's thread.
    static HWND FocusOf(HWND window) {
        GUITHREADINFO gui = {};
        gui.cbSize = sizeof gui;
        return ::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &gui) ? gui.hwndFocus
                                                                                     : nullptr;
    }
    static bool StaysOnTop(HWND window) {
        return (::GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    }
    static int ClientWidth(HWND window) {
        RECT client;
        ::GetClientRect(window, &client);
        return client.right;
    }
    // Nothing in a helper window may lead to a shell: no edit control (a file dialog or a
    // label editor starts with one), no help button.
    static void ExpectNoWayOut(HWND window) {
        EXPECT_TRUE(wintest::Children(window, "Edit").empty());
        EXPECT_EQ(::GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_CONTEXTHELP, 0);
        EXPECT_EQ(::GetWindowLongA(window, GWL_STYLE) & TVS_EDITLABELS, 0);
    }
    std::vector<std::string> Log() const {
        return wintest::LogTexts(temp.path() + "\\logs\\Driveward client\\" +
                                 wintest::TodaysLogFileName());
    }
    bool Logged(const std::string& text) const {
        const auto lines = Log();
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    }

    wintest::TempFolder temp;
    std::string realFolder = temp.path() + "\\real";
    std::string simulatedFolder = temp.path() + "\\simulated";
    std::string screenshots;
    wintest::Process process;
};

TEST_F(HelperWindows, TheWarningShowsItsMessageAndItsDevicesButtonEndsTheHelper) {
    const HWND warning = StartHelper(realFolder, "1", "TFormUSBWarning");
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(wintest::WindowText(warning), "Warning");
    EXPECT_TRUE(::GetWindowLongA(warning, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_NE(wintest::FindChild(warning, "Static",
                                 "There are USB storage device(s) plugged in. Click on devices to "
                                 "safely remove the device(s)."),
              nullptr);
    EXPECT_EQ(wintest::Children(warning, "Button").size(), 2u);
    EXPECT_EQ(ClientWidth(warning), kWarningClientWidth);
    EXPECT_EQ(::GetWindowLongA(warning, GWL_STYLE) &
                  (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME),
              0);
    ExpectNoWayOut(warning);
    Shot(warning, "warning-96dpi");

    // The keyboard works at once: the focus is on "Close", Tab moves it to "Devices",
    // Enter presses the focused button.
    const HWND close = wintest::FindChild(warning, "Button", "Close");
    const HWND devices = wintest::FindChild(warning, "Button", "Devices");
    EXPECT_TRUE(wintest::WaitUntil([&] { return FocusOf(warning) == close; }));
    ::PostMessageA(close, WM_KEYDOWN, VK_TAB, 0);
    EXPECT_TRUE(wintest::WaitUntil([&] { return FocusOf(warning) == devices; }));
    ::PostMessageA(devices, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(wintest::WaitForExit(process), 0);
    const auto log = Log();
    const auto asked =
        std::find(log.begin(), log.end(), "Deviceslist requested from warning screen.");
    ASSERT_NE(asked, log.end());
    // The control code went to the service; here no service runs, and the log says so.
    ASSERT_GE(log.end() - asked, 3);
    EXPECT_EQ(asked[1].rfind("Error: ", 0), 0u) << asked[1];
    EXPECT_EQ(log.back(), "Stopped logging");

    // "Close" ends it too, without asking for the list.
    ::DeleteFileA(
        (temp.path() + "\\logs\\Driveward client\\" + wintest::TodaysLogFileName()).c_str());
    const HWND again = StartHelper(realFolder, "1", "TFormUSBWarning");
    ASSERT_NE(again, nullptr);
    ::SendMessageA(wintest::FindChild(again, "Button", "Close"), BM_CLICK, 0, 0);
    EXPECT_EQ(wintest::WaitForExit(process), 0);
    EXPECT_FALSE(Logged("Deviceslist requested from warning screen."));
}

TEST_F(HelperWindows, TheDeviceListShowsTheSticksEjectsThemAndReportsAVeto) {
    const HWND devices = StartHelper(simulatedFolder, "2", "TFormUSBDevices");
    ASSERT_NE(devices, nullptr);
    const HWND tree = wintest::FindChild(devices, WC_TREEVIEWA);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(wintest::WindowText(devices), "Driveward - (Versie: " DRIVEWARD_VERSION_TEXT ")");
    EXPECT_TRUE(::GetWindowLongA(devices, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(wintest::TreeTexts(tree),
              (std::vector<std::string>{"My Computer - Mass Storage Devices",
                                        "E: BACKUP (Total: 980.00 MB / Used: 12.50 MB)",
                                        "F: Removable disk (Total: 0 byte(s) / Used: 0 byte(s))",
                                        "G: PHOTOS (Total: 7.46 GB / Used: 3.03 GB)"}));
    EXPECT_FALSE(Enabled(devices, kButtonEject));
    EXPECT_FALSE(Enabled(devices, kButtonBrowse)); // never a shell from a helper
    ExpectNoWayOut(devices);
    ExpectNoWayOut(tree);
    Shot(devices, "devices-96dpi");

    // The vetoed stick: the box says why and offers nothing but OK.
    ::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET,
                   reinterpret_cast<LPARAM>(wintest::TreeChild(tree, "G:")));
    ASSERT_TRUE(Enabled(devices, kButtonEject));
    ::PostMessageA(::GetDlgItem(devices, kButtonEject), BM_CLICK, 0, 0);
    const HWND veto = wintest::WaitForWindow(process.id, "#32770");
    ASSERT_NE(veto, nullptr);
    ASSERT_TRUE(wintest::WaitUntil([veto] { return !wintest::WindowText(veto).empty(); }));
    EXPECT_NE(wintest::FindChild(veto, "Static",
                                 "Unable to eject the device. There is a process active that "
                                 "blocks the ejection."),
              nullptr);
    const auto buttons = wintest::Children(veto, "Button");
    ASSERT_EQ(buttons.size(), 1u);
    EXPECT_EQ(::GetDlgCtrlID(buttons[0]), IDOK);
    // Above the stay-on-top list that it disables, never behind it.
    EXPECT_EQ(::GetWindow(veto, GW_OWNER), devices);
    EXPECT_FALSE(::IsWindowEnabled(devices));
    Shot(veto, "eject-veto");
    ::PostMessageA(veto, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(wintest::WaitUntil([veto] { return !::IsWindow(veto); }));
    EXPECT_TRUE(::IsWindowEnabled(devices));
    EXPECT_TRUE(StaysOnTop(devices));
    EXPECT_FALSE(Enabled(devices, kButtonEject)); // until the selection changes
    EXPECT_TRUE(Logged("Eject request voor device G"));
    EXPECT_TRUE(Logged("Eject of G: refused")); // no event names a program

    // A veto whose event names the program: one paragraph more, the name only on the
    // secure desktop.
    std::string named = kScenario;
    named.replace(named.find("veto"), 4, "veto=EXCEL.EXE:4321");
    wintest::WriteFile(simulatedFolder + "\\Driveward.devices", named);
    ::SendMessageA(::GetDlgItem(devices, kButtonRefresh), BM_CLICK, 0, 0);
    ::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET,
                   reinterpret_cast<LPARAM>(wintest::TreeChild(tree, "G:")));
    ::PostMessageA(::GetDlgItem(devices, kButtonEject), BM_CLICK, 0, 0);
    const HWND namedVeto = wintest::WaitForWindow(process.id, "#32770");
    ASSERT_NE(namedVeto, nullptr);
    EXPECT_TRUE(wintest::WaitUntil([namedVeto] {
        return wintest::FindChild(namedVeto, "Static",
                                  "Unable to eject the device. There is a process active that "
                                  "blocks the ejection.\n\nBlocked by: EXCEL.EXE (process "
                                  "4321)") != nullptr;
    }));
    Shot(namedVeto, "eject-veto-named");
    ::PostMessageA(namedVeto, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(wintest::WaitUntil([namedVeto] { return !::IsWindow(namedVeto); }));
    EXPECT_TRUE(Logged("Eject of G: refused by EXCEL.EXE (process 4321)"));

    // The stick that goes: its removal notification refreshes the helper's list.
    ::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET,
                   reinterpret_cast<LPARAM>(wintest::TreeChild(tree, "E:")));
    ::SendMessageA(::GetDlgItem(devices, kButtonEject), BM_CLICK, 0, 0);
    EXPECT_TRUE(wintest::WaitUntil([tree] { return wintest::TreeTexts(tree).size() == 3; }));
    EXPECT_EQ(wintest::TreeChild(tree, "E:"), nullptr);

    // Minimising the helper's list closes it, which ends the helper.
    ::PostMessageA(devices, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_EQ(wintest::WaitForExit(process), 0);
}

TEST_F(HelperWindows, AboutFromTheDeviceListHasInertLinksInAHelper) {
    const HWND devices = StartHelper(simulatedFolder, "2", "TFormUSBDevices");
    ASSERT_NE(devices, nullptr);
    ::PostMessageA(::GetDlgItem(devices, kButtonAbout), BM_CLICK, 0, 0);
    const HWND about = wintest::WaitForWindow(process.id, "TFormAbout");
    ASSERT_NE(about, nullptr);
    ASSERT_TRUE(wintest::WaitUntil([about] { return ::IsWindowVisible(about) != FALSE; }));
    EXPECT_EQ(wintest::WindowText(about), "About");
    EXPECT_TRUE(::GetWindowLongA(about, GWL_EXSTYLE) & WS_EX_TOPMOST); // over the stay-on-top list
    EXPECT_NE(wintest::FindChild(about, "Static", "Version " DRIVEWARD_VERSION_TEXT), nullptr);
    EXPECT_NE(wintest::FindChild(about, "Static", "Driveward"), nullptr);
    ExpectNoWayOut(about);
    EXPECT_TRUE(wintest::Children(about, "Button").empty());
    Shot(about, "about-helper");

    const HWND website = ::GetDlgItem(about, kLabelWebsite);
    ASSERT_NE(website, nullptr);
    // Each link is as wide as its text and ends at the right margin: a point left of the
    // text, where the old 170-pixel label reached, is the window's own.
    for (const int id : {kLabelWebsite, kLabelEMail}) {
        RECT link;
        ::GetWindowRect(::GetDlgItem(about, id), &link);
        ::MapWindowPoints(nullptr, about, reinterpret_cast<POINT*>(&link), 2);
        RECT client;
        ::GetClientRect(about, &client);
        EXPECT_EQ(link.right, client.right - 8) << id;
        EXPECT_LT(link.right - link.left, 150) << id;
        const POINT beside = {client.right - 8 - 165, (link.top + link.bottom) / 2};
        EXPECT_EQ(::ChildWindowFromPoint(about, beside), about) << id;
    }
    ::SendMessageA(about, WM_COMMAND, MAKEWPARAM(kLabelWebsite, STN_CLICKED),
                   reinterpret_cast<LPARAM>(website));
    ::Sleep(500);
    EXPECT_TRUE(::IsWindowVisible(about)); // nothing opened, nothing closed

    ::SendMessageA(about, WM_CLOSE, 0, 0);
    EXPECT_TRUE(wintest::WaitUntil([about] { return !::IsWindow(about); }));
    EXPECT_TRUE(::IsWindowEnabled(devices)); // the modal showing gave the list back
    ::PostMessageA(devices, WM_CLOSE, 0, 0);
    EXPECT_EQ(wintest::WaitForExit(process), 0);
}

TEST_F(HelperWindows, ADeviceErrorIsShownWithOnlyOkAndTheListStaysUsable) {
    // H's device lookup fails: the refresh stops there with the system's error.
    wintest::WriteFile(simulatedFolder + "\\Driveward.devices",
                       std::string(kScenario) + "H:  stick  4000  10  DATA  lookup-fault\r\n");
    process = wintest::Start(simulatedFolder + "\\Driveward.exe", "2");
    const HWND error = wintest::WaitForWindow(process.id, "#32770");
    ASSERT_NE(error, nullptr);
    ASSERT_TRUE(wintest::WaitUntil([error] { return !wintest::WindowText(error).empty(); }));
    EXPECT_EQ(wintest::WindowText(error), "Driveward");
    const HWND text = wintest::FindChild(error, "Static", nullptr);
    const auto buttons = wintest::Children(error, "Button");
    ASSERT_EQ(buttons.size(), 1u);
    EXPECT_EQ(::GetDlgCtrlID(buttons[0]), IDOK);
    Shot(error, "device-error");
    ::PostMessageA(error, WM_COMMAND, IDOK, 0);

    const HWND devices = wintest::WaitForWindow(process.id, "TFormUSBDevices");
    ASSERT_NE(devices, nullptr);
    ASSERT_TRUE(wintest::WaitUntil([devices] { return ::IsWindowVisible(devices) != FALSE; }));
    EXPECT_NE(text, nullptr);
    // The listing itself failed, before any drive node: only the root is left. A refresh
    // once the device answers again fills the list.
    const HWND tree = wintest::FindChild(devices, WC_TREEVIEWA);
    EXPECT_EQ(wintest::TreeTexts(tree).size(), 1u);

    // The same error from a refresh of the list on screen: the box is the list's own, so
    // it stands above the stay-on-top list that it disables.
    ::PostMessageA(::GetDlgItem(devices, kButtonRefresh), BM_CLICK, 0, 0);
    const HWND again = wintest::WaitForWindow(process.id, "#32770");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(::GetWindow(again, GW_OWNER), devices);
    ::PostMessageA(again, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(wintest::WaitUntil([again] { return !::IsWindow(again); }));
    EXPECT_TRUE(StaysOnTop(devices));
    wintest::WriteFile(simulatedFolder + "\\Driveward.devices", kScenario);
    ::SendMessageA(::GetDlgItem(devices, kButtonRefresh), BM_CLICK, 0, 0);
    EXPECT_EQ(wintest::TreeTexts(tree).size(), 4u);
    ::PostMessageA(devices, WM_CLOSE, 0, 0);
    EXPECT_EQ(wintest::WaitForExit(process), 0);
}

TEST_F(HelperWindows, AtOneAndAHalfTimesTheDpiEverythingScales) {
    HKEY desktop = nullptr;
    ASSERT_EQ(
        ::RegOpenKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, KEY_SET_VALUE, &desktop),
        ERROR_SUCCESS);
    const auto setDpi = [desktop](DWORD dpi) {
        ::RegSetValueExA(desktop, "LogPixels", 0, REG_DWORD, reinterpret_cast<BYTE*>(&dpi),
                         sizeof dpi);
    };
    setDpi(144);
    const HWND warning = StartHelper(realFolder, "1", "TFormUSBWarning");
    if (warning != nullptr) {
        EXPECT_EQ(ClientWidth(warning), ::MulDiv(kWarningClientWidth, 144, 96));
        Shot(warning, "warning-144dpi");
        ::PostMessageA(warning, WM_CLOSE, 0, 0);
    }
    EXPECT_EQ(wintest::WaitForExit(process), 0);
    const HWND devices = StartHelper(simulatedFolder, "2", "TFormUSBDevices");
    if (devices != nullptr) {
        RECT client;
        ::GetClientRect(devices, &client);
        EXPECT_EQ(client.right, ::MulDiv(kDevicesClientWidth, 144, 96));
        EXPECT_EQ(client.bottom, ::MulDiv(kDevicesClientHeight, 144, 96));
        Shot(devices, "devices-144dpi");
        ::PostMessageA(devices, WM_CLOSE, 0, 0);
    }
    EXPECT_EQ(wintest::WaitForExit(process), 0);
    setDpi(96);
    ::RegCloseKey(desktop);
    EXPECT_NE(warning, nullptr);
    EXPECT_NE(devices, nullptr);
}

} // namespace
