// Driveward.msi under Wine: a first installation of an older build with INI values on the
// command line, an upgrade to this build, and the removal. What Wine cannot show (the
// task's trigger, principal and program, the service's access list) is checked in the
// MSI's tables by CheckMsi.cmake. The Event Log source's messages.
#include <gtest/gtest.h>

#include <windows.h>

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

// msiexec with the arguments; its exit code.
long Msiexec(const std::string& arguments) {
    wintest::Process process =
        wintest::Start(Expanded("%SystemRoot%\\system32\\msiexec.exe"), arguments);
    return wintest::WaitForExit(process, 120000);
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
        ASSERT_NE(std::getenv("DRIVEWARD_MSI"), nullptr);
        ASSERT_NE(std::getenv("DRIVEWARD_OLD_MSI"), nullptr);
        ASSERT_NE(std::getenv("DRIVEWARD_EXE"), nullptr);
        ASSERT_FALSE(Exists(folder)) << "an earlier test left " << folder;
    }
    const std::string msi = wintest::WindowsPath(std::getenv("DRIVEWARD_MSI"));
    const std::string oldMsi = wintest::WindowsPath(std::getenv("DRIVEWARD_OLD_MSI"));
    const std::string folder = Expanded("%ProgramFiles%\\Driveward");
    const std::string task = Expanded("%SystemRoot%\\system32\\Tasks\\Driveward");
};

TEST_F(Msi, InstallsUpgradesKeepingTheIniAndRemovesAllButTheLogs) {
    // A first installation, silently, with the INI values given to msiexec (a LogPath
    // ending in a backslash, which a custom action's command line must not misread).
    ASSERT_EQ(Msiexec("/i \"" + oldMsi + "\" /qn DEBUG=1 LOGPATH=D:\\Logs\\"), 0);
    for (const char* ini : {"\\Driveward.ini", "\\DrivewardService.ini"}) {
        EXPECT_EQ(IniValue(folder + ini, "DEBUG"), "1") << ini;
        EXPECT_EQ(IniValue(folder + ini, "LogPath"), "D:\\Logs\\") << ini;
    }
    ServiceConfig service = ReadServiceConfig();
    EXPECT_EQ(service.path, "\"" + folder + "\\DrivewardService.exe\"");
    EXPECT_EQ(service.startType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(service.account, "LocalSystem");
    EXPECT_TRUE(Exists(task));

    // The administrator changes the INI; the upgrade keeps it and replaces the programs
    // with this build's (the real Driveward.exe, never the simulated-devices variant).
    wintest::WriteFile(folder + "\\Driveward.ini", "[GENERAL]\r\nDEBUG=5\r\nLogPath=\r\n");
    ASSERT_EQ(Msiexec("/i \"" + msi + "\" /qn DEBUG=0"), 0);
    EXPECT_EQ(IniValue(folder + "\\Driveward.ini", "DEBUG"), "5");
    EXPECT_EQ(IniValue(folder + "\\DrivewardService.ini", "DEBUG"), "1");
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

    // Removal: service, task and program files go; the logs stay.
    const std::string log = folder + "\\Driveward client\\" + wintest::TodaysLogFileName();
    ::CreateDirectoryA((folder + "\\Driveward client").c_str(), nullptr);
    wintest::WriteFile(log, "a log line\r\n");
    ASSERT_EQ(Msiexec("/x \"" + msi + "\" /qn"), 0);
    EXPECT_EQ(ReadServiceConfig().error, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_FALSE(Exists(task));
    for (const char* file : {"\\Driveward.exe", "\\DrivewardService.exe", "\\Driveward.ini",
                             "\\DrivewardService.ini"}) {
        EXPECT_FALSE(Exists(folder + file)) << file;
    }
    EXPECT_EQ(wintest::ReadFile(log), "a log line\r\n");

    // Leave the prefix as it was for the tests that follow.
    ::DeleteFileA(log.c_str());
    ::RemoveDirectoryA((folder + "\\Driveward client").c_str());
    ::RemoveDirectoryA(folder.c_str());
}

} // namespace
