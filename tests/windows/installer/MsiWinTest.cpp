// Driveward.msi under Wine, built under the build numbers 1 and 2: a first installation with
// INI values on the command line, the upgrade (the service running before and after), a
// later installation that changes one value, the refused downgrade, the removal by product
// code, and values refused before anything is installed. What Wine cannot show (the task's
// trigger, principal and program, the service's access list) is checked in the MSI's
// tables by CheckMsi.cmake. The Event Log source's messages.
#include <gtest/gtest.h>

#include <windows.h>

#include <msi.h>

#include <cstdlib>
#include <string>

#include "foundation/EventReportUnit.h"
#include "support/WinTestSupport.h"

namespace {

std::string Expanded(const char* text) {
    char buffer[MAX_PATH];
    const DWORD size = ::ExpandEnvironmentStringsA(text, buffer, sizeof buffer);
    return size == 0 || size > sizeof buffer ? std::string() : std::string(buffer);
}

bool Exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Wine passes on only the low byte of msiexec's exit code: each code is compared in it.
constexpr long kSuccess = 0;
constexpr long kInstallFailure = 1603 & 0xFF;

// msiexec with the arguments and a log of its own; the exit code's low byte.
long Msiexec(const std::string& arguments, const std::string& log) {
    ::DeleteFileA(log.c_str());
    wintest::Process process = wintest::Start(Expanded("%SystemRoot%\\system32\\msiexec.exe"),
                                              arguments + " /l*v \"" + log + "\"");
    return wintest::WaitForExit(process, 120000) & 0xFF;
}

// The installed Driveward's product code and version, as an administrator finds them
// among the installed products (the Uninstall key); empty when none is installed. (Wine's
// installer forgets the upgrade code's related products at an upgrade.)
std::pair<std::string, std::string> InstalledProduct() {
    char code[39] = "";
    for (DWORD index = 0; index < 64 && ::MsiEnumProductsA(index, code) == ERROR_SUCCESS; ++index) {
        char name[64] = "";
        char version[64] = "";
        DWORD nameSize = sizeof name;
        DWORD versionSize = sizeof version;
        if (::MsiGetProductInfoA(code, INSTALLPROPERTY_INSTALLEDPRODUCTNAME, name, &nameSize) ==
                ERROR_SUCCESS &&
            std::string(name) == "Driveward" &&
            ::MsiGetProductInfoA(code, INSTALLPROPERTY_VERSIONSTRING, version, &versionSize) ==
                ERROR_SUCCESS) {
            return {code, version};
        }
    }
    return {};
}

bool ServiceRuns() {
    return wintest::WaitUntil(
        [] { return wintest::ServiceState("DrivewardService") == SERVICE_RUNNING; }, 15000);
}

struct ServiceConfig {
    DWORD error = 0; // of OpenService: 1060 when the service is not installed
    std::string path;
    DWORD startType = 0;
    std::string account;
};

ServiceConfig ReadServiceConfig() {
    ServiceConfig config;
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = ::OpenServiceA(manager, "DrivewardService", SERVICE_QUERY_CONFIG);
    if (service == nullptr) {
        config.error = ::GetLastError();
    } else {
        DWORD needed = 0;
        ::QueryServiceConfigA(service, nullptr, 0, &needed);
        std::string buffer(needed, '\0');
        auto* query = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
        if (needed != 0 && ::QueryServiceConfigA(service, query, needed, &needed)) {
            config.path = query->lpBinaryPathName;
            config.startType = query->dwStartType;
            config.account = query->lpServiceStartName;
        }
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    return config;
}

// Each event id's message from the registered file's message table, with "x" inserted.
std::string Messages(const std::string& file) {
    HMODULE module = ::LoadLibraryExA(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    std::string messages;
    for (const DWORD id :
         {kEventEndSessionRefused, kEventLockWarningRequested, kEventEjectRefused,
          kEventServiceStartFailed, kEventControlCodeFailed, kEventWarningShownByService,
          kEventDeviceListShownByService, kEventHelperRefused, kEventLogLinesLost}) {
        char text[64] = "";
        DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>("x")};
        ::FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, id, 0,
                         text, sizeof text, reinterpret_cast<va_list*>(inserts));
        messages += std::to_string(id) + "=" + text;
    }
    ::FreeLibrary(module);
    return messages;
}

std::string IniValue(const std::string& file, const char* key) {
    char value[256] = "";
    ::GetPrivateProfileStringA("GENERAL", key, "<missing>", value, sizeof value, file.c_str());
    return value;
}

class Msi : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("DRIVEWARD_BUILD1_MSI"), nullptr);
        ASSERT_NE(std::getenv("DRIVEWARD_BUILD2_MSI"), nullptr);
        ASSERT_NE(std::getenv("DRIVEWARD_EXE"), nullptr);
        ASSERT_FALSE(Exists(folder)) << "an earlier test left " << folder;
    }
    const std::string build1 = wintest::WindowsPath(std::getenv("DRIVEWARD_BUILD1_MSI"));
    const std::string build2 = wintest::WindowsPath(std::getenv("DRIVEWARD_BUILD2_MSI"));
    const std::string log = Expanded("%TEMP%\\DrivewardMsi.log");
    const std::string folder = Expanded("%ProgramFiles%\\Driveward");
    const std::string task = Expanded("%SystemRoot%\\system32\\Tasks\\Driveward");
};

TEST_F(Msi, UpgradesKeepingTheServiceChangesValuesRefusesADowngradeAndRemoves) {
    // A first installation, silently, with the INI values given to msiexec (a LogPath
    // ending in a backslash, which a custom action's command line must not misread).
    ASSERT_EQ(Msiexec("/i \"" + build1 + "\" /qn DEBUG=1 LOGPATH=D:\\Logs\\", log), kSuccess);
    for (const char* ini : {"\\Driveward.ini", "\\DrivewardService.ini"}) {
        EXPECT_EQ(IniValue(folder + ini, "DEBUG"), "1") << ini;
        EXPECT_EQ(IniValue(folder + ini, "LogPath"), "D:\\Logs\\") << ini;
    }
    ServiceConfig service = ReadServiceConfig();
    EXPECT_EQ(service.path, "\"" + folder + "\\DrivewardService.exe\"");
    EXPECT_EQ(service.startType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(service.account, "LocalSystem");
    EXPECT_TRUE(Exists(task));
    EXPECT_EQ(InstalledProduct().second, "0.1.1");

    // The upgrade, while the service runs (as a tray monitor keeps it): the service runs
    // again afterwards, and the INI files keep what no value replaces. The programs are
    // this build's (the real Driveward.exe, never the simulated-devices variant).
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE handle = ::OpenServiceA(manager, "DrivewardService", SERVICE_START);
    EXPECT_TRUE(::StartServiceA(handle, 0, nullptr));
    ::CloseServiceHandle(handle);
    ::CloseServiceHandle(manager);
    ASSERT_TRUE(ServiceRuns());
    wintest::WriteFile(folder + "\\Driveward.ini",
                       "[GENERAL]\r\n; the site's note\r\nDEBUG=5\r\nLogPath=E:\\L\r\n");
    ASSERT_EQ(Msiexec("/i \"" + build2 + "\" /qn", log), kSuccess);
    EXPECT_TRUE(ServiceRuns()) << "the upgrade left the service stopped";
    EXPECT_EQ(InstalledProduct().second, "0.1.2");
    EXPECT_EQ(IniValue(folder + "\\Driveward.ini", "DEBUG"), "5");
    EXPECT_EQ(IniValue(folder + "\\DrivewardService.ini", "LogPath"), "D:\\Logs\\");
    EXPECT_EQ(wintest::ReadFile(folder + "\\Driveward.exe"),
              wintest::ReadFile(wintest::WindowsPath(std::getenv("DRIVEWARD_EXE"))));
    service = ReadServiceConfig();
    EXPECT_EQ(service.path, "\"" + folder + "\\DrivewardService.exe\"");
    EXPECT_TRUE(Exists(task)) << "the older version's removal took the newer one's task";

    // The Event Log source's message file: the installed Driveward.exe, whose message
    // table has every id. (Its Registry rows are checked in the tables by CheckMsi.cmake:
    // Wine 8's installer does not write them.)
    EXPECT_EQ(Messages(folder + "\\Driveward.exe"),
              "1000=x\r\n1001=x\r\n1002=x\r\n1010=x\r\n1011=x\r\n1020=x\r\n1021=x\r\n"
              "1022=x\r\n1030=x\r\n");

    // A later installation of the installed version with a value: that value changes in
    // both files, everything else stays.
    ASSERT_EQ(Msiexec("/i \"" + build2 + "\" /qn DEBUG=7", log), kSuccess);
    EXPECT_EQ(wintest::ReadFile(folder + "\\Driveward.ini"),
              "[GENERAL]\r\n; the site's note\r\nDEBUG=7\r\nLogPath=E:\\L\r\n");
    EXPECT_EQ(IniValue(folder + "\\DrivewardService.ini", "DEBUG"), "7");
    EXPECT_EQ(IniValue(folder + "\\DrivewardService.ini", "LogPath"), "D:\\Logs\\");

    // The older build is refused with the downgrade message and changes nothing.
    EXPECT_EQ(Msiexec("/i \"" + build1 + "\" /qn DEBUG=0", log), kInstallFailure);
    EXPECT_NE(wintest::ReadFile(log).find("A newer version of Driveward is already installed."),
              std::string::npos);
    EXPECT_EQ(InstalledProduct().second, "0.1.2");
    EXPECT_EQ(IniValue(folder + "\\DrivewardService.ini", "DEBUG"), "7");
    EXPECT_TRUE(ServiceRuns());

    // Removal by product code, without the MSI: service, task and program files go; the
    // logs stay.
    const std::string logFile = folder + "\\Driveward client\\" + wintest::TodaysLogFileName();
    ::CreateDirectoryA((folder + "\\Driveward client").c_str(), nullptr);
    wintest::WriteFile(logFile, "a log line\r\n");
    ASSERT_EQ(Msiexec("/x " + InstalledProduct().first + " /qn", log), kSuccess);
    EXPECT_EQ(InstalledProduct().first, "");
    EXPECT_EQ(ReadServiceConfig().error, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_FALSE(Exists(task));
    for (const char* file : {"\\Driveward.exe", "\\DrivewardService.exe", "\\Driveward.ini",
                             "\\DrivewardService.ini"}) {
        EXPECT_FALSE(Exists(folder + file)) << file;
    }
    EXPECT_EQ(wintest::ReadFile(logFile), "a log line\r\n");

    // Leave the prefix as it was for the tests that follow (the service logged too).
    for (const char* sub : {"\\Driveward client", "\\Driveward service"}) {
        ::DeleteFileA((folder + sub + "\\" + wintest::TodaysLogFileName()).c_str());
        ::RemoveDirectoryA((folder + sub).c_str());
    }
    ::RemoveDirectoryA(folder.c_str());
}

// A value that the programs would refuse ends the installation before anything is
// installed, with a message that names the property and its rule: in the log, as the
// installation's error. A line break reaches the check as it is (Wine's msiexec passes no
// quotation mark on in a value: InstallTextsTest has that rule).
TEST_F(Msi, RefusesABadValueBeforeInstallingAnything) {
    const std::pair<const char*, const char*> table[] = {
        {"LOGPATH=Logs\\Driveward", "LOGPATH must be a full folder path"},
        {"LOGPATH=\\\\.\\pipe\\x", "LOGPATH must be a full folder path"},
        {"DEBUG=yes", "DEBUG must be a whole number"},
        {"DEBUG=\"1\r\nLogPath=C:\\\"", "DEBUG must be one line"},
    };
    for (const auto& [value, message] : table) {
        SCOPED_TRACE(value);
        EXPECT_EQ(Msiexec("/i \"" + build2 + "\" /qn " + value, log), kInstallFailure);
        EXPECT_NE(wintest::ReadFile(log).find(message), std::string::npos);
        EXPECT_FALSE(Exists(folder));
        EXPECT_EQ(ReadServiceConfig().error, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
        EXPECT_EQ(InstalledProduct().first, "");
    }
}

} // namespace
