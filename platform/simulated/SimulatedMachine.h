#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/Machine.h"
#include "platform/simulated/SimulatedDevices.h"
#include "platform/simulated/SimulatedServiceManager.h"

namespace platform {

// A scriptable machine for native tests: every field is the state a test sets up or
// reads back. Paths are Windows paths, compared as given.
class SimulatedMachine : public Clock,
                         public Locale,
                         public Files,
                         public SystemFacts,
                         public Security,
                         public Session,
                         public EventWriter {
public:
    SimulatedMachine();
    Machine& machine() { return machine_; }

    // Clock: Sleep advances the tick count, so waits are instant and visible; the wall
    // clock moves only when a test sets it.
    LocalTime now{2011, 3, 15, 2, 10, 38, 48};
    std::uint64_t ticks = 1000000;
    std::vector<LocalTime> upcomingTimes; // each Now() takes the next one, then `now`
    std::vector<std::uint32_t> sleeps;
    // Once, at the next Sleep: what another process does while this one waits.
    std::function<void()> whileSleeping;
    LocalTime Now() override;
    std::uint64_t TickCount() override { return ticks; }
    void Sleep(std::uint32_t milliseconds) override;

    // Locale
    LocaleFormats formats;
    LocaleFormats UserFormats() override { return formats; }

    // Files: folders, file contents, and faults.
    std::set<std::string> directories;
    std::map<std::string, std::string> files;
    std::set<std::string> unwritableFolders; // a file below one of these cannot be opened
    int sharingViolationsLeft = 0;           // the next appends meet a file held open
    int appendAttempts = 0;
    std::set<std::string> links; // folders or files that are links, or files of two names
    std::map<std::string, AccessList> folderAccess;    // else SYSTEM and Administrators only
    std::set<std::string> unreadableAccess;            // Access fails for these
    int heldFolders = 0;                               // folders held open now
    int folderOpenings = 0;                            // OpenFolder calls
    std::map<std::string, FolderOwner> createdFolders; // each folder created, and its owner
    std::string localAppData = "C:\\Users\\pat\\AppData\\Local";
    FolderOpening OpenFolder(const std::string& root, const std::vector<std::string>& names,
                             FolderOwner owner) override;
    std::string LocalAppDataFolder() override { return localAppData; }
    bool Unwritable(const std::string& path) const;
    std::vector<std::string> LinesOf(const std::string& path) const;

    // System facts
    std::string moduleFileName = "C:\\Program Files\\Driveward\\Driveward.exe";
    std::optional<std::string> computerName = std::string("WORKSTATION7");
    std::optional<OsVersion> osVersion = OsVersion{2, 6, 1};
    std::map<std::string, FileVersion> fileVersions;
    std::map<std::uint32_t, std::string> processImages;  // running processes by id
    std::map<std::string, std::string> fileDescriptions; // by path
    // The NT path a file's open handle names, where a link on the way led elsewhere; else
    // its drive's DOS device name and the rest of the path.
    std::map<std::string, std::string> finalPaths;
    std::vector<std::string> descriptionsRead; // every path asked, in order
    // Runs inside each description read, on the thread that reads: a disk that is slow.
    std::function<void()> whileReadingDescription;
    std::map<std::uint32_t, std::string> systemMessages;
    std::map<std::tuple<std::string, std::string, std::string>, std::string> profileValues;
    std::vector<std::string> profileReads; // "path|section|key" in order
    // Atomic: a device-query worker may set it while the GUI thread reads it.
    std::atomic<std::uint32_t> lastError{0};
    std::string ModuleFileName() override { return moduleFileName; }
    std::optional<std::string> ComputerName() override;
    std::optional<OsVersion> QueryOsVersion() override { return osVersion; }
    std::optional<FileVersion> FixedFileVersion(const std::string& path) override;
    std::optional<std::string> ProcessImagePath(std::uint32_t processId) override;
    std::optional<HeldFileDescription> ReadFileDescription(const std::string& path) override;
    std::string SystemMessage(std::uint32_t code) override;
    std::uint32_t LastError() override { return lastError; }
    void SetLastError(std::uint32_t code) override { lastError = code; }
    std::string ReadProfileString(const std::string& iniPath, const std::string& section,
                                  const std::string& key, const std::string& defaultValue) override;

    // Security: the privileges the process token holds, and the faults of each call.
    std::map<std::string, PrivilegeId> knownPrivileges;
    std::set<std::string> heldPrivileges{"SeDebugPrivilege"};
    std::set<std::string> enabledPrivileges;
    std::optional<std::uint32_t> openTokenError; // OpenProcessToken fails with this code
    int openTokens = 0;
    // An administrator's elevated token by default.
    bool tokenElevated = true;
    bool tokenInAdministrators = true;
    bool tokenUserIsSystem = false;
    int tokenFactsReads = 0; // how often TokenElevated was asked
    // A standard account: an un-elevated token without Administrators or SeDebugPrivilege,
    // which the service control manager grants only the rights of others, and each
    // installed service the given rights (what its list gives interactive users).
    void UseStandardAccount(std::uint32_t serviceRights);
    std::unique_ptr<TokenHandle> OpenProcessToken(std::uint32_t desiredAccess) override;
    std::optional<PrivilegeId> LookupPrivilegeValue(const std::string& name) override;
    bool AdjustTokenPrivilege(TokenHandle& token, PrivilegeId privilege,
                              std::uint32_t attributes) override;
    std::optional<bool> TokenElevated(TokenHandle& token) override;
    std::optional<bool> InAdministrators() override;
    std::optional<bool> TokenUserIsSystem(TokenHandle& token) override;

    // Session: named mutexes of this logon session, and the message boxes shown.
    std::set<std::string> mutexes;
    bool mutexCreationFails = false;
    std::vector<std::pair<std::string, std::string>> messageBoxes;      // caption, text
    std::vector<std::pair<std::string, std::string>> errorMessageBoxes; // caption, text
    MutexResult CreateOwnedMutex(const std::string& name) override;
    void ShowWarningMessage(const std::string& caption, const std::string& text) override;
    void ShowErrorMessage(const std::string& caption, const std::string& text) override;

    // Event Log: every event reported, in order.
    struct ReportedEvent {
        EventType type;
        std::uint32_t id;
        std::string text;
        bool operator==(const ReportedEvent&) const = default;
    };
    std::vector<ReportedEvent> reportedEvents;
    bool eventSourceMissing = false; // the source cannot be opened: nothing is written
    bool WriteEvent(EventType type, std::uint32_t eventId, const std::string& text) override;

    // Storage, setup interfaces, configuration manager and the System event log; they set
    // `lastError`, and stamp events with this machine's tick count.
    SimulatedDevices devices{lastError};

    // The service control manager; it sets lastError above as Windows would.
    SimulatedServiceManager serviceManager{lastError};

private:
    Machine machine_;
};

} // namespace platform
