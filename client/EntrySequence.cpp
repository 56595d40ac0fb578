#include "client/EntrySequence.h"

#include <cstdint>

#include "foundation/EventReportUnit.h"
#include "foundation/FunctionsUnit.h"
#include "foundation/LogUnit.h"
#include "foundation/SettingsUnit.h"
#include "platform/Machine.h"
#include "service/USBServiceUnit.h"

bool StartedAsHelper = false;

namespace {

// Preset before the privilege call so that a path which sets no error still fails.
constexpr std::uint32_t kUnsetLastError = 0xFFFFFF;

void LogStartLines() {
    Log->AddFmt("Start logging on machine %s.", {ComputerName()});
    Log->Add("Versie: " + GetAppVersion());
}

void EnableDebugPrivilege() {
    auto& system = *platform::CurrentMachine().system;
    system.SetLastError(kUnsetLastError);
    if (!SetTokenPrivilege("SeDebugPrivilege", true)) {
        const std::uint32_t code = system.LastError();
        Log->Error(std::to_string(code) + " - " + GetLastErrorText());
    } else if (Settings().Debug()) {
        Log->Add("TokenPrivilege set to SeDebugPrivilege");
    }
    if (Settings().Debug()) {
        Log->Add(TokenFactsText(ProcessTokenFacts()));
    }
}

void RunChosenMode(ApplicationHost& host, const std::vector<std::string>& parameters) {
    if (StartedAsHelper) {
        Log->Add("Start as helper");
        const auto mode = ChooseStartMode(parameters);
        if (mode == cShowWarning) {
            Log->Add("Mode = cShowWarning");
            host.RunMainWindow(cShowWarning);
        } else if (mode == cShowDevices) {
            Log->Add("Mode = cShowDevices");
            host.RunMainWindow(cShowDevices);
        }
        return;
    }
    auto& session = *platform::CurrentMachine().session;
    if (session.CreateOwnedMutex(kInstanceMutexName) != platform::MutexResult::Created) {
        session.ShowWarningMessage(kApplicationTitle, kAlreadyRunningMessage);
        return;
    }
    Log->Add("Mode = csNormal");
    host.RunMainWindow(csNormal);
}

// Windows first, then the process-wide objects, also when the loop ends by an exception.
class OrderlyEnd {
public:
    explicit OrderlyEnd(ApplicationHost& host) : host_(host) {}
    ~OrderlyEnd() {
        host_.DestroyWindows();
        ReleaseProcessWideObjects();
    }
    OrderlyEnd(const OrderlyEnd&) = delete;
    OrderlyEnd& operator=(const OrderlyEnd&) = delete;

private:
    ApplicationHost& host_;
};

} // namespace

std::optional<TStartMode> ChooseStartMode(const std::vector<std::string>& parameters) {
    if (parameters.empty()) {
        return csNormal;
    }
    if (parameters.front() == "1") {
        return cShowWarning;
    }
    if (parameters.front() == "2") {
        return cShowDevices;
    }
    return std::nullopt;
}

int RunEntrySequence(ApplicationHost& host, const std::vector<std::string>& parameters) {
    host.Initialize();
    OrderlyEnd end(host);
    const std::string logPath = Settings().LogPath();
    // Read once, before the first line: where and how the log may write depends on it,
    // and so does every later decision that needs an administrator.
    const TTokenFacts& token = ReadProcessTokenFacts();
    Log = std::make_unique<TLog>(kLogSourceName);
    Log->LogPath = logPath;
    Log->WriterElevated = token.Privileged();
    // Lines that cannot be written are lost; the Event Log says so, once per reason.
    Log->LinesLost = TLogLossReporter(kLogSourceName);
    LogStartLines();
    EnableDebugPrivilege();
    StartedAsHelper = !parameters.empty();
    host.SetTitle(kApplicationTitle);
    host.GiveTaskbarEntryToApplicationWindow();
    RunChosenMode(host, parameters);
    return 0;
}

void ReleaseProcessWideObjects() {
    // The controller goes before the log: it may still write to it while it exists.
    if (USBServiceExists()) {
        ReleaseUSBService();
    }
    Log.reset();
    ReleaseSettings();
}
