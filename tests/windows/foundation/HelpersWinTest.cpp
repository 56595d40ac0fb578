#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>

#include "foundation/FunctionsUnit.h"
#include "foundation/GetWinVersionInfoUnit.h"
#include "foundation/SettingsUnit.h"
#include "platform/windows/SafeDllSearch.h"
#include "platform/windows/Win32Machine.h"
#include "support/WinTestSupport.h"

namespace {

class HelpersWinTest : public ::testing::Test {
protected:
    platform::windows::Win32Machine win32;
    platform::ScopedMachine installed{win32.machine()};
    wintest::TempFolder temp;
};

TEST_F(HelpersWinTest, IniValuesComeThroughThePrivateProfileRoutines) {
    const std::string ini = temp.path() + "\\test.ini";
    wintest::WriteFile(ini, "[OTHER]\r\nDEBUG=1\r\n[GENERAL]\r\n  DEBUG =  0x10  \r\n"
                            "LogPath=\"  D:\\Some Logs\\ \"\r\nEmpty=\r\n");
    auto& system = *win32.machine().system;
    EXPECT_EQ(system.ReadProfileString(ini, "GENERAL", "DEBUG", ""), "0x10");
    EXPECT_EQ(system.ReadProfileString(ini, "GENERAL", "LogPath", ""), "  D:\\Some Logs\\ ");
    EXPECT_EQ(system.ReadProfileString(ini, "GENERAL", "Empty", "dflt"), "");
    EXPECT_EQ(system.ReadProfileString(ini, "GENERAL", "Missing", "dflt"), "dflt");
    EXPECT_EQ(system.ReadProfileString(temp.path() + "\\none.ini", "GENERAL", "DEBUG", ""), "");
}

TEST_F(HelpersWinTest, SettingsReadTheIniNamedAfterTheExecutable) {
    const std::string exe = win32.machine().system->ModuleFileName();
    const std::string ini = IniPathForExecutable(exe);
    ASSERT_TRUE(ini.ends_with("\\helpers_win_tests.ini")) << ini;
    wintest::WriteFile(ini, "[GENERAL]\r\nDEBUG=$1F\r\nLogPath=\"" + temp.path() + "\"\r\n");
    ReleaseSettings();
    EXPECT_TRUE(Settings().Debug());
    EXPECT_EQ(Settings().LogPath(), temp.path());
    ReleaseSettings();
    ::DeleteFileA(ini.c_str());
    EXPECT_FALSE(Settings().Debug());
    EXPECT_EQ(Settings().LogPath(), exe.substr(0, exe.find_last_of('\\') + 1));
    ReleaseSettings();
}

TEST_F(HelpersWinTest, VersionOfTheBuiltExecutableAndOfOneWithoutResource) {
    EXPECT_EQ(GetAppVersion(), ""); // this test program has no version resource
    const char* driveward = std::getenv("DRIVEWARD_EXE");
    ASSERT_NE(driveward, nullptr);
    const auto version = win32.machine().system->FixedFileVersion(wintest::WindowsPath(driveward));
    ASSERT_TRUE(version.has_value());
    const std::string text = std::to_string(version->mostSignificant >> 16) + "." +
                             std::to_string(version->mostSignificant & 0xFFFF) + "." +
                             std::to_string(version->leastSignificant >> 16) + "." +
                             std::to_string(version->leastSignificant & 0xFFFF);
    EXPECT_EQ(text, DRIVEWARD_VERSION_TEXT);
}

TEST_F(HelpersWinTest, LastErrorTextOfARealCode) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    const std::string text = GetLastErrorText();
    const std::string tail = "\r\nError nr: 5";
    ASSERT_GT(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    const std::string message = text.substr(0, text.size() - tail.size());
    EXPECT_NE(message.find("ccess"), std::string::npos) << message;
    EXPECT_NE(message.back(), '.');
    EXPECT_GT(static_cast<unsigned char>(message.back()), ' ');

    ::SetLastError(0x20001234); // a customer code: the system has no text for it
    EXPECT_EQ(GetLastErrorText(), "\r\nError nr: 536875572");
}

TEST_F(HelpersWinTest, TokenPrivileges) {
    ::SetLastError(0xFFFFFF);
    EXPECT_TRUE(SetTokenPrivilege("SeDebugPrivilege", true));
    EXPECT_FALSE(SetTokenPrivilege("SeNoSuchPrivilege", true));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_PRIVILEGE));
}

TEST_F(HelpersWinTest, TheOperatingSystemClassMatchesTheVersionQuery) {
    DetectWinVersion();
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(::GetVersionExA(&info));
    EXPECT_EQ(WinVersion, ClassifyWinVersion(platform::OsVersion{
                              info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion}));
    EXPECT_NE(WinVersion, wvUnknown);
    EXPECT_TRUE(IsOS_AboveXP());
}

class OptionalEntryPoints : public ::testing::Test {
protected:
    OptionalEntryPoints() {
        window = ::CreateWindowExA(0, "STATIC", "probe", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                   nullptr, nullptr);
        ::SetEnvironmentVariableA("DRIVEWARD_PLANTED_DLL_LOADED", nullptr);
    }
    ~OptionalEntryPoints() override { ::DestroyWindow(window); }
    static bool PlantedDllLoaded() {
        char value[8];
        return ::GetEnvironmentVariableA("DRIVEWARD_PLANTED_DLL_LOADED", value, sizeof value) > 0;
    }
    HWND window = nullptr;
};

// What the entry point itself answers, called directly from the system folder's library.
template <typename Fn, typename... Args>
bool Direct(const char* library, const char* entryPoint, Args... args) {
    char folder[MAX_PATH];
    ::GetSystemDirectoryA(folder, MAX_PATH);
    const HMODULE module = ::LoadLibraryA((std::string(folder) + "\\" + library).c_str());
    const auto function =
        reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, entryPoint)));
    const bool result = function != nullptr && function(args...) != FALSE;
    ::FreeLibrary(module);
    return result;
}

TEST_F(OptionalEntryPoints, PassTheEntryPointsOwnAnswerThrough) {
    using Register = BOOL(WINAPI*)(HWND, DWORD);
    using Unregister = BOOL(WINAPI*)(HWND);
    using BlockCreate = BOOL(WINAPI*)(HWND, LPCWSTR);
    const wchar_t* reason = L"There are 1 USB storage device(s) plugged in.";

    EXPECT_EQ(DynWTSRegisterSessionNotification(window, 0),
              Direct<Register>("wtsapi32.dll", "WTSRegisterSessionNotification", window, 0));
    EXPECT_EQ(DynWTSUnRegisterSessionNotification(window),
              Direct<Unregister>("wtsapi32.dll", "WTSUnRegisterSessionNotification", window));
    EXPECT_EQ(DynShutdownBlockReasonCreate(window, reason),
              Direct<BlockCreate>("user32.dll", "ShutdownBlockReasonCreate", window, reason));
    EXPECT_EQ(DynShutdownBlockReasonDestroy(window),
              Direct<Unregister>("user32.dll", "ShutdownBlockReasonDestroy", window));
    EXPECT_TRUE(DynWTSRegisterSessionNotification(window, 0)) << "Wine has the entry point";
    EXPECT_FALSE(PlantedDllLoaded());
}

TEST_F(OptionalEntryPoints, APlantedWtsapi32BesideTheExecutableIsNeverLoaded) {
    char self[MAX_PATH];
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string planted(self);
    planted = planted.substr(0, planted.find_last_of('\\') + 1) + "Wtsapi32.dll";
    ASSERT_NE(::GetFileAttributesA(planted.c_str()), INVALID_FILE_ATTRIBUTES) << planted;

    DynWTSRegisterSessionNotification(window, 0);
    DynWTSUnRegisterSessionNotification(window);
    EXPECT_FALSE(PlantedDllLoaded());

    // The probe is real: a bare-name load, as the loader resolves it for an executable,
    // does pick up the planted copy (this test runs with native DLLs preferred).
    const HMODULE module = ::LoadLibraryA("Wtsapi32.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_TRUE(PlantedDllLoaded());
    ::FreeLibrary(module);
}

// Runs after the probe above: the search is process-wide and cannot be undone.
TEST_F(OptionalEntryPoints, AfterTheSafeSearchABareNameLoadTakesTheSystemFoldersCopy) {
    ::SetEnvironmentVariableA("DRIVEWARD_PLANTED_DLL_LOADED", nullptr);
    UseSafeDllSearch();
    const HMODULE module = ::LoadLibraryA("Wtsapi32.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_FALSE(PlantedDllLoaded());
    ::FreeLibrary(module);
}

} // namespace
