#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>

#include "support/WinTestSupport.h"

namespace {

// Driveward.exe copied into a folder of its own with a test INI (debug on, the logs in
// another folder), started and driven from outside like a user or the service would.
class DrivewardExe : public ::testing::Test {
protected:
    DrivewardExe() {
        const char* built = std::getenv("DRIVEWARD_EXE");
        if (built == nullptr) {
            return;
        }
        ::CreateDirectoryA(appFolder.c_str(), nullptr);
        ::CopyFileA(wintest::WindowsPath(built).c_str(), exe.c_str(), FALSE);
        wintest::WriteFile(appFolder + "\\Driveward.ini",
                           "[GENERAL]\r\nDEBUG=1\r\nLogPath=" + temp.path() + "\\logs\r\n");
    }
    void SetUp() override {
        ASSERT_NE(std::getenv("DRIVEWARD_EXE"), nullptr);
        ASSERT_NE(::GetFileAttributesA(exe.c_str()), INVALID_FILE_ATTRIBUTES);
    }
    std::vector<std::string> StartLines() const {
        char name[256];
        DWORD size = sizeof name;
        ::GetComputerNameA(name, &size);
        return {std::string("Start logging on machine ") + name + ".",
                std::string("Versie: ") + DRIVEWARD_VERSION_TEXT,
                "TokenPrivilege set to SeDebugPrivilege",
                // Wine gives every process an administrator's full token.
                "Token: elevated, member of Administrators."};
    }
    // The start-up and end lines of every run in the log, without what the windows write
    // in between (the device list's reports, the service check's errors).
    std::vector<std::string> RunLines() const {
        std::vector<std::string> lines;
        for (const auto& line : wintest::LogTexts(log)) {
            for (const char* kept : {"Start logging on machine ", "Versie: ", "TokenPrivilege ",
                                     "Token: ", "Start as helper", "Mode = ", "Stopped logging"}) {
                if (line.rfind(kept, 0) == 0) {
                    lines.push_back(line);
                    break;
                }
            }
        }
        return lines;
    }
    std::vector<std::string> Expected(std::initializer_list<const char*> more) const {
        auto lines = StartLines();
        lines.insert(lines.end(), more.begin(), more.end());
        return lines;
    }

    wintest::TempFolder temp;
    std::string appFolder = temp.path() + "\\app";
    std::string exe = appFolder + "\\Driveward.exe";
    std::string log = temp.path() + "\\logs\\Driveward client\\" + wintest::TodaysLogFileName();
};

// Under Wine every process gets an administrator's full token whatever the manifest asks,
// so what a standard account gets can only be read from the built file: the highest level
// the account has (elevated for administrators, as itself for a standard account), never a
// demand for administrator rights, and common controls 6.
TEST_F(DrivewardExe, TheManifestAsksForTheHighestAvailableLevelWithCommonControls6) {
    const HMODULE image = ::LoadLibraryExA(
        exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    const HRSRC found = ::FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(found, nullptr); // RT_MANIFEST 1, the one the loader reads for an exe
    const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(image, found)));
    const std::string manifest(bytes, ::SizeofResource(image, found));
    ::FreeLibrary(image);
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"highestAvailable\" "
                            "uiAccess=\"false\"/>"),
              std::string::npos)
        << manifest;
    EXPECT_EQ(manifest.find("requireAdministrator"), std::string::npos);
    EXPECT_EQ(manifest.find("requestedExecutionLevel"),
              manifest.rfind("requestedExecutionLevel")); // one level only
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
}

TEST_F(DrivewardExe, AParameterThatSelectsNoModeEndsAtOnce) {
    auto process = wintest::Start(exe, "3");
    EXPECT_EQ(wintest::WaitForExit(process), 0);
    EXPECT_EQ(wintest::LogTexts(log), Expected({"Start as helper", "Stopped logging"}));
}

TEST_F(DrivewardExe, HelperModesShowAStayOnTopWindowUntilItIsClosed) {
    struct Mode {
        const char* arguments;
        const char* windowClass;
        const char* logLine;
    };
    const Mode modes[] = {{"1", "TFormUSBWarning", "Mode = cShowWarning"},
                          {"2 1", "TFormUSBDevices", "Mode = cShowDevices"}};
    for (const auto& [arguments, windowClass, mode] : modes) {
        ::DeleteFileA(log.c_str());
        auto process = wintest::Start(exe, arguments);
        const HWND window = wintest::WaitForWindow(process.id, windowClass);
        ASSERT_NE(window, nullptr) << windowClass;
        for (int i = 0; i < 200 && !::IsWindowVisible(window); ++i) {
            ::Sleep(50); // found at creation, shown a moment later
        }
        EXPECT_TRUE(::IsWindowVisible(window));
        EXPECT_TRUE(::GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
        ::PostMessageA(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(wintest::WaitForExit(process), 0);
        EXPECT_EQ(RunLines(), Expected({"Start as helper", mode, "Stopped logging"}));
    }
}

TEST_F(DrivewardExe, ASecondTrayMonitorIsRefusedButHelpersAreNot) {
    auto first = wintest::Start(exe, "");
    const HWND tray = wintest::WaitForWindow(first.id, "TTrayForm");
    ASSERT_NE(tray, nullptr);
    EXPECT_FALSE(::IsWindowVisible(tray));
    ASSERT_TRUE(wintest::WaitForLogLine(log, " - Mode = csNormal"));

    auto second = wintest::Start(exe, "");
    const HWND box = wintest::WaitForWindow(second.id, "#32770");
    ASSERT_NE(box, nullptr);
    // The box is found as soon as it exists; its caption and text are filled in while it
    // initialises, so wait for them.
    char caption[64] = {};
    char text[128] = {};
    for (int i = 0; i < 200; ++i) {
        ::GetWindowTextA(box, caption, sizeof caption);
        ::GetDlgItemTextA(box, 0xFFFF, text, sizeof text); // the message box's text control
        if (caption[0] != '\0' && text[0] != '\0') {
            break;
        }
        ::Sleep(50);
    }
    EXPECT_STREQ(caption, "Driveward");
    EXPECT_STREQ(text, "Driveward is already running.");
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(wintest::WaitForExit(second), 0);

    auto helper = wintest::Start(exe, "2");
    const HWND devices = wintest::WaitForWindow(helper.id, "TFormUSBDevices");
    ASSERT_NE(devices, nullptr);
    ::PostMessageA(devices, WM_CLOSE, 0, 0);
    EXPECT_EQ(wintest::WaitForExit(helper), 0);

    ::PostMessageA(tray, WM_CLOSE, 0, 0);
    EXPECT_EQ(wintest::WaitForExit(first), 0);

    // Each run's lines are complete and in order: the runs did not overlap in time.
    auto expected = Expected({"Mode = csNormal"});
    for (const auto& run :
         {Expected({"Stopped logging"}),
          Expected({"Start as helper", "Mode = cShowDevices", "Stopped logging"})}) {
        expected.insert(expected.end(), run.begin(), run.end());
    }
    expected.push_back("Stopped logging"); // the tray monitor's end
    EXPECT_EQ(RunLines(), expected);
}

TEST_F(DrivewardExe, TheTrayMonitorEndsInOrderWhenTheSessionEnds) {
    auto tray = wintest::Start(exe, "");
    const HWND window = wintest::WaitForWindow(tray.id, "TTrayForm");
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(wintest::WaitForLogLine(log, " - Mode = csNormal"));
    DWORD_PTR answer = 0;
    ::SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000,
                          &answer);
    ::SendMessageTimeoutA(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000,
                          &answer);
    EXPECT_EQ(wintest::WaitForExit(tray), 0);
    EXPECT_EQ(RunLines(), Expected({"Mode = csNormal", "Stopped logging"}));
}

} // namespace
