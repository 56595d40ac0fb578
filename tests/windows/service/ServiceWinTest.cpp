// The controller against Wine's real service control manager, and the companion service
// DrivewardService.exe installed into the test prefix: start, the three codes, stop.
// Arguments: the folder of Driveward.exe and DrivewardService.exe, and the folder of the
// test executables (Unix paths; Wine sees them below Z:).
#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "companion/HelperTokenRules.h"
#include "companion/ServiceSecurity_win.h"
#include "foundation/LogUnit.h"
#include "platform/windows/UniqueHandle.h"
#include "platform/windows/Win32Machine.h"
#include "service/USBServiceUnit.h"
#include "support/WinTestSupport.h"

namespace {

using platform::windows::UniqueServiceHandle;
using Clock = std::chrono::steady_clock;

constexpr const char* kStuckServiceName = "DrivewardStuckService";
// Short, so that proving the bound costs a couple of seconds, not the product's 30.
constexpr std::uint32_t kTestWaitBoundMs = 2000;
// How long a helper may take to start and write its mode line under Wine.
constexpr int kHelperLogWaitMs = 20000;

std::string Argument(int index) {
    return index < __argc ? __argv[index] : std::string();
}

using wintest::ReadFile;

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// Polls a log file until it holds the text often enough, or the time is up.
bool WaitForLog(const std::string& path, const std::string& text, std::size_t times = 1) {
    for (int waited = 0; waited < kHelperLogWaitMs; waited += 100) {
        if (Count(ReadFile(path), text) >= times) {
            return true;
        }
        ::Sleep(100);
    }
    return false;
}

void WriteIni(const std::string& path, const std::string& logPath) {
    std::ofstream ini(path, std::ios::binary);
    ini << "[GENERAL]\r\nDEBUG=1\r\nLogPath=" << logPath << "\r\n";
}

// Ends the service's process by force: a service stuck in start pending takes no stop.
void Kill(const char* name) {
    const UniqueServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    const UniqueServiceHandle service(::OpenServiceA(manager.get(), name, SERVICE_ALL_ACCESS));
    SERVICE_STATUS_PROCESS status = {};
    DWORD size = 0;
    if (service && ::QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                                          reinterpret_cast<BYTE*>(&status), sizeof status, &size)) {
        const platform::windows::UniqueKernelHandle process(
            ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId));
        if (process) {
            ::TerminateProcess(process.get(), 1);
            ::WaitForSingleObject(process.get(), 5000);
        }
    }
}

std::string OwnUserSid() {
    HANDLE token = nullptr;
    char buffer[512];
    DWORD size = 0;
    char* text = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token) &&
        ::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
        ::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) {
        const std::string sid = text;
        ::LocalFree(text);
        ::CloseHandle(token);
        return sid;
    }
    return "unreadable";
}

class ServiceWinTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        platform::InstallMachine(&machine.machine());
        char temp[MAX_PATH];
        ::GetTempPathA(MAX_PATH, temp);
        folder = std::string(temp) + "driveward-service-" + std::to_string(::GetCurrentProcessId());
        ::CreateDirectoryA(folder.c_str(), nullptr);
        const std::string bin = wintest::WindowsPath(Argument(1));
        const std::string testBin = wintest::WindowsPath(Argument(2));
        ASSERT_TRUE(::CopyFileA((bin + "\\Driveward.exe").c_str(),
                                (folder + "\\Driveward.exe").c_str(), FALSE));
        ASSERT_TRUE(::CopyFileA((bin + "\\DrivewardService.exe").c_str(),
                                (folder + "\\DrivewardService.exe").c_str(), FALSE));
        ASSERT_TRUE(::CopyFileA((testBin + "\\stuck_service.exe").c_str(),
                                (folder + "\\stuck_service.exe").c_str(), FALSE));
        standIn = testBin + "\\stand_in_helper.exe";
        WriteIni(folder + "\\Driveward.ini", folder + "\\logs");
        WriteIni(folder + "\\DrivewardService.ini", folder + "\\logs");
    }
    static void TearDownTestSuite() {
        wintest::UninstallService(kUSBServiceName);
        wintest::UninstallService(kStuckServiceName);
    }

    ServiceWinTest() {
        Log = std::make_unique<TLog>("Driveward client");
        Log->LogPath = folder + "\\controller";
    }
    ~ServiceWinTest() override { Log.reset(); }

    static std::string ControllerLog() {
        return ReadFile(folder + "\\controller\\Driveward client\\" + wintest::TodaysLogFileName());
    }
    static std::string ServiceLogPath() {
        return folder + "\\logs\\Driveward service\\" + wintest::TodaysLogFileName();
    }
    static std::string ClientLogPath() {
        return folder + "\\logs\\Driveward client\\" + wintest::TodaysLogFileName();
    }

    static platform::windows::Win32Machine machine;
    static std::string folder;
    static std::string standIn;
};

platform::windows::Win32Machine ServiceWinTest::machine;
std::string ServiceWinTest::folder;
std::string ServiceWinTest::standIn;

// Whether the process has ended, or ends within the bound.
bool Ends(DWORD processId, DWORD boundMs = 10000) {
    const platform::windows::UniqueKernelHandle process(
        ::OpenProcess(SYNCHRONIZE, FALSE, processId));
    return !process || ::WaitForSingleObject(process.get(), boundMs) == WAIT_OBJECT_0;
}

// What the service's list must say, wherever it is read from: owner Administrators;
// OWNER RIGHTS read-control only; SYSTEM, and so a helper, query status, start, stop,
// interrogate, user-defined control and read control, nothing that changes the service;
// interactive users (standard accounts) query status, start and the codes, no stop;
// service logons query and read, no codes.
void ExpectTheIntendedServiceList(const std::string& sddl) {
    EXPECT_EQ(sddl.rfind("O:BAD:", 0), 0u) << sddl;
    EXPECT_EQ(Count(sddl, ";;;OW)"), 1u) << sddl;
    EXPECT_NE(sddl.find("(A;;RC;;;OW)"), std::string::npos) << sddl;
    EXPECT_NE(sddl.find("(A;;LCRPWPLOCRRC;;;SY)"), std::string::npos) << sddl;
    EXPECT_EQ(Count(sddl, ";;;IU)"), 1u) << sddl;
    EXPECT_NE(sddl.find("(A;;LCRPCR;;;IU)"), std::string::npos) << sddl;
    EXPECT_NE(sddl.find("(A;;CCLCSWLORC;;;SU)"), std::string::npos) << sddl;
    EXPECT_EQ(Count(sddl, "(A;;"), 5u) << sddl; // nobody else
}

// Wine accepts any service list and hands back an empty DACL without an owner, so what
// the service sets on itself cannot be read back from the manager here; what can be
// checked is the text the built service holds (parsed by the system into exactly the
// entries meant) and, below, the list as the running service hands it to the manager.
TEST(ServiceSecurityWinTest, TheServiceDescriptorParsesIntoTheIntendedEntries) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(
        kServiceSecurityDescriptor, SDDL_REVISION_1, &descriptor, nullptr));
    char* text = nullptr;
    ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorA(
        descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
        nullptr));
    const std::string roundTrip = text;
    ::LocalFree(text);
    ::LocalFree(descriptor);
    EXPECT_EQ(roundTrip, kServiceSecurityDescriptor);
    ExpectTheIntendedServiceList(roundTrip);
}

// Runs first, in a fresh prefix, before the next test installs the service.
TEST_F(ServiceWinTest, ANotInstalledServiceGives1060InEveryOperation) {
    TUSBService service;
    TServiceState state = ssPaused;
    EXPECT_FALSE(service.QueryState(state));
    EXPECT_EQ(state, ssPaused);
    EXPECT_FALSE(service.StartAndWait());
    EXPECT_FALSE(service.StopAndWait());
    EXPECT_FALSE(service.SendControlCode(133));
    EXPECT_EQ(Count(ControllerLog(), "Error: 1060 - StartService OpenService failed: "), 4u)
        << ControllerLog();
    EXPECT_EQ(Count(ControllerLog(), "Error nr: 1060\r\n"), 4u);
}

TEST_F(ServiceWinTest, TheCompanionServiceStartsAnswersTheCodesAndStops) {
    ASSERT_TRUE(wintest::InstallService(kUSBServiceName, folder + "\\DrivewardService.exe"));
    TUSBService service;
    TServiceState state = kServiceStateBeforeQuery;
    ASSERT_TRUE(service.QueryState(state));
    EXPECT_EQ(state, ssStopped);

    const auto startBegan = Clock::now();
    ASSERT_TRUE(service.StartAndWait()) << ControllerLog();
    const auto started = Clock::now();
    ASSERT_TRUE(service.QueryState(state));
    EXPECT_EQ(state, ssRunning);
    EXPECT_FALSE(service.StartAndWait()); // already running: 1056 from the manager
    EXPECT_EQ(Count(ControllerLog(), "Error: 1056 - StartService failed: "), 1u);

    EXPECT_TRUE(service.SendControlCode(133));
    EXPECT_TRUE(WaitForLog(ClientLogPath(), "Mode = cShowWarning")) << ReadFile(ClientLogPath());
    EXPECT_TRUE(service.SendControlCode(134));
    EXPECT_TRUE(WaitForLog(ClientLogPath(), "Mode = cShowDevices")) << ReadFile(ClientLogPath());
    EXPECT_TRUE(service.SendControlCode(135));
    service.SendControlCode(200); // not one of its codes; Wine reports success anyway
    // A helper still shown when the service stops does not outlive it.
    EXPECT_TRUE(service.SendControlCode(133));
    EXPECT_TRUE(WaitForLog(ClientLogPath(), "Mode = cShowWarning", 2));

    const auto stopBegan = Clock::now();
    ASSERT_TRUE(service.StopAndWait()) << ControllerLog();
    const auto stopped = Clock::now();
    ASSERT_TRUE(service.QueryState(state));
    EXPECT_EQ(state, ssStopped);
    EXPECT_FALSE(service.StopAndWait());
    EXPECT_EQ(Count(ControllerLog(), "Error: 1062 - ControlService failed: "), 1u);

    const std::string serviceLog = ReadFile(ServiceLogPath());
    for (const char* expected :
         {"Start logging on machine ", "Versie: ", "Service running, helper ",
          "Warning screen requested.", "Deviceslist requested.",
          "Session unlocked, ending the helpers.", "Control code 200 ignored.", "Service stopped",
          "Stopped logging"}) {
        EXPECT_NE(serviceLog.find(expected), std::string::npos) << expected << "\n" << serviceLog;
    }
    const std::string helper = "Helper started: \"" + folder + "\\Driveward.exe\" ";
    EXPECT_EQ(Count(serviceLog, helper + "2 in session "), 1u) << serviceLog;
    EXPECT_EQ(Count(serviceLog, helper + "1 in session "), 2u) << serviceLog;
    EXPECT_EQ(Count(serviceLog, " contained: job of one process, killed with the service"), 3u)
        << serviceLog;
    const auto contained = serviceLog.find(" contained: ");
    std::cout << "Under this system: "
              << serviceLog.substr(contained, serviceLog.find('\r', contained) - contained) << "\n";
    EXPECT_EQ(Count(serviceLog, " ended."), 3u) << serviceLog;
    EXPECT_LT(serviceLog.rfind(" ended."), serviceLog.find("Service stopped"));
    EXPECT_EQ(Count(serviceLog, "Error: "), 0u) << serviceLog;
    // The list as the running service handed it to the manager, owner and DACL; the
    // check of what Wine reads back (nothing) let the helpers start all the same.
    const auto applied = serviceLog.find("Access list set: ");
    ASSERT_NE(applied, std::string::npos) << serviceLog;
    const auto listStart = applied + std::strlen("Access list set: ");
    ExpectTheIntendedServiceList(
        serviceLog.substr(listStart, serviceLog.find('\r', listStart) - listStart));
    // The service created the log folders: nothing for everyone, unlike the test's own.
    EXPECT_NE(wintest::DaclText(folder).find(";;;WD)"), std::string::npos);
    for (const std::string& created : {folder + "\\logs", folder + "\\logs\\Driveward service"}) {
        EXPECT_EQ(wintest::DaclText(created).find(";;;WD)"), std::string::npos)
            << wintest::DaclText(created);
    }
    const std::string clientLog = ReadFile(ClientLogPath());
    EXPECT_EQ(Count(clientLog, "Start as helper"), 3u);
    // The helpers' token holds no SeDebugPrivilege, so their attempt to enable it fails.
    EXPECT_EQ(Count(clientLog, "Error: 1300 - "), 3u) << clientLog;

    // Built with the same version resource as the client.
    const auto serviceVersion =
        machine.machine().system->FixedFileVersion(folder + "\\DrivewardService.exe");
    const auto clientVersion =
        machine.machine().system->FixedFileVersion(folder + "\\Driveward.exe");
    ASSERT_TRUE(serviceVersion && clientVersion);
    EXPECT_EQ(serviceVersion->mostSignificant, clientVersion->mostSignificant);
    EXPECT_EQ(serviceVersion->leastSignificant, clientVersion->leastSignificant);

    const auto ms = [](auto duration) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
    };
    std::cout << "Real start took " << ms(started - startBegan) << " ms, stop took "
              << ms(stopped - stopBegan) << " ms\n";
    RecordProperty("start_ms", static_cast<int>(ms(started - startBegan)));
    RecordProperty("stop_ms", static_cast<int>(ms(stopped - stopBegan)));
}

// Runs after the companion service was installed. The helper here is a stand-in that
// reads its own token and starts a program of its own, as one broken out of its window
// would.
TEST_F(ServiceWinTest, AHelperRunsWithoutAdministratorsAndNothingItStartsOutlivesTheService) {
    ASSERT_TRUE(::CopyFileA(standIn.c_str(), (folder + "\\Driveward.exe").c_str(), FALSE));
    const std::string record = folder + "\\stand-in.txt";
    ::DeleteFileA(record.c_str());
    TUSBService service;
    ASSERT_TRUE(service.StartAndWait()) << ControllerLog();
    EXPECT_TRUE(service.SendControlCode(133));
    DWORD helper = 0;
    DWORD child = 0;
    for (int waited = 0; waited < kHelperLogWaitMs && child == 0; waited += 100) {
        ::Sleep(100);
        std::sscanf(ReadFile(record).c_str(), "%lu %lu", &helper, &child);
    }
    ASSERT_NE(child, 0u) << ReadFile(ServiceLogPath());
    // SYSTEM still, with Administrators deny-only and no privilege but change-notify.
    const std::string tokenRecord = ReadFile(folder + "\\stand-in-token.txt");
    std::istringstream lines(tokenRecord);
    std::string kind;
    std::string name;
    std::map<std::string, std::string> accounts;
    std::optional<unsigned long> administrators;
    std::vector<std::string> privileges;
    while (lines >> kind >> name) {
        if (kind == "group") {
            unsigned long attributes = 0;
            lines >> attributes;
            if (name == kAdministratorsSid) {
                administrators = attributes;
            }
        } else if (kind == "privilege") {
            privileges.push_back(name);
        } else {
            accounts[kind] = name;
        }
    }
    // Its user is the service's: SYSTEM on Windows, Wine's one account (the test's) here.
    EXPECT_EQ(accounts["user"], OwnUserSid()) << tokenRecord;
    std::cout << "The helper's token as it reads it:\n" << tokenRecord;
    ASSERT_TRUE(administrators.has_value()) << tokenRecord;
    EXPECT_EQ(*administrators & (kGroupUseForDenyOnly | kGroupEnabled), kGroupUseForDenyOnly)
        << tokenRecord;
    EXPECT_EQ(privileges, std::vector<std::string>{kChangeNotifyPrivilege}) << tokenRecord;
    EXPECT_FALSE(Ends(helper, 0));
    EXPECT_FALSE(Ends(child, 0));
    Kill(kUSBServiceName);
    EXPECT_TRUE(Ends(helper));
    EXPECT_TRUE(Ends(child));
}

TEST_F(ServiceWinTest, AServiceStuckInStartPendingIsWaitedForOnlyUpToTheBound) {
    ASSERT_TRUE(wintest::InstallService(kStuckServiceName, folder + "\\stuck_service.exe"));
    TUSBService service(kStuckServiceName, kTestWaitBoundMs);
    const auto began = Clock::now();
    EXPECT_FALSE(service.StartAndWait());
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - began);
    Kill(kStuckServiceName);
    EXPECT_GE(waited.count(), kTestWaitBoundMs);
    EXPECT_LT(waited.count(), kTestWaitBoundMs + 3000);
    EXPECT_EQ(Count(ControllerLog(), "Error: 1053 - Waiting for the service timed out after 2000 "
                                     "ms (state 2, checkpoint 1): "),
              1u)
        << ControllerLog();
    std::cout << "The stuck start was given up after " << waited.count() << " ms\n";
}

} // namespace
