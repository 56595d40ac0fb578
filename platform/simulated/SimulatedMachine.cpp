#include "platform/simulated/SimulatedMachine.h"

#include <utility>

namespace platform {
namespace {

constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorNoSuchPrivilege = 1313;
constexpr std::uint32_t kErrorNotAllAssigned = 1300;
constexpr std::uint32_t kErrorAlreadyExists = 183;

class SimulatedToken : public TokenHandle {
public:
    explicit SimulatedToken(int& openCount) : openCount_(openCount) { ++openCount_; }
    ~SimulatedToken() override { --openCount_; }
    SimulatedToken(const SimulatedToken&) = delete;
    SimulatedToken& operator=(const SimulatedToken&) = delete;

private:
    int& openCount_;
};

} // namespace

SimulatedMachine::SimulatedMachine() {
    machine_.clock = this;
    machine_.locale = this;
    machine_.files = this;
    machine_.system = this;
    machine_.security = this;
    machine_.session = this;
    machine_.storage = &devices;
    machine_.deviceSetup = &devices;
    machine_.serviceManager = &serviceManager;
    machine_.eventLog = &devices;
    machine_.eventWriter = this;
    devices.ticks = [this] { return ticks; };
    directories = {"C:", "C:\\Program Files", "C:\\Program Files\\Driveward"};
    knownPrivileges = {{"SeDebugPrivilege", {20, 0}}, {"SeShutdownPrivilege", {19, 0}}};
    systemMessages = {{5, "Access is denied.\r\n"},
                      {1300, "Not all privileges or groups referenced are assigned to the "
                             "caller.\r\n"}};
}

LocalTime SimulatedMachine::Now() {
    if (!upcomingTimes.empty()) {
        now = upcomingTimes.front();
        upcomingTimes.erase(upcomingTimes.begin());
    }
    return now;
}

void SimulatedMachine::Sleep(std::uint32_t milliseconds) {
    sleeps.push_back(milliseconds);
    ticks += milliseconds;
    if (auto meanwhile = std::exchange(whileSleeping, nullptr)) {
        meanwhile();
    }
}

namespace {

class SimulatedHeldFolder : public HeldFolder {
public:
    SimulatedHeldFolder(SimulatedMachine& machine, std::string path)
        : machine_(machine), path_(std::move(path)) {
        ++machine_.heldFolders;
    }
    ~SimulatedHeldFolder() override { --machine_.heldFolders; }

    std::optional<AccessList> Access() override {
        if (machine_.unreadableAccess.count(path_) != 0) {
            return std::nullopt;
        }
        if (const auto found = machine_.folderAccess.find(path_);
            found != machine_.folderAccess.end()) {
            return found->second;
        }
        return AccessList{true,
                          {AccessEntry{Trustee::System, 0x1F01FF, "S-1-5-18"},
                           AccessEntry{Trustee::Administrators, 0x1F01FF, "S-1-5-32-544"}},
                          Trustee::Administrators,
                          "S-1-5-32-544"};
    }

    AppendResult Append(const std::string& fileName, const std::string& bytes) override {
        ++machine_.appendAttempts;
        const std::string path = path_ + "\\" + fileName;
        // A folder removed or moved since it was opened: the file is not the one named.
        if (machine_.links.count(path) != 0 || machine_.directories.count(path_) == 0) {
            return AppendResult::Refused;
        }
        if (machine_.sharingViolationsLeft > 0) {
            --machine_.sharingViolationsLeft;
            machine_.lastError = kErrorSharingViolation;
            return AppendResult::SharingViolation;
        }
        if (machine_.Unwritable(path)) {
            machine_.lastError = kErrorAccessDenied;
            return AppendResult::Unwritable;
        }
        machine_.files[path] += bytes;
        return AppendResult::Written;
    }

private:
    SimulatedMachine& machine_;
    std::string path_;
};

} // namespace

bool SimulatedMachine::Unwritable(const std::string& path) const {
    for (const auto& folder : unwritableFolders) {
        if (path.rfind(folder, 0) == 0) {
            return true;
        }
    }
    return false;
}

FolderOpening SimulatedMachine::OpenFolder(const std::string& root,
                                           const std::vector<std::string>& names,
                                           FolderOwner owner) {
    ++folderOpenings;
    if (directories.count(root) == 0) {
        lastError = kErrorPathNotFound;
        return {nullptr, FolderFailure::Missing};
    }
    std::string path = root;
    for (const auto& name : names) {
        path += "\\" + name;
        if (links.count(path) != 0) {
            return {nullptr, FolderFailure::Link};
        }
        if (directories.count(path) == 0) {
            if (Unwritable(path)) {
                lastError = kErrorAccessDenied;
                return {nullptr, FolderFailure::Uncreatable};
            }
            directories.insert(path);
            createdFolders[path] = owner;
        }
    }
    return {std::make_unique<SimulatedHeldFolder>(*this, path), FolderFailure::None};
}

std::vector<std::string> SimulatedMachine::LinesOf(const std::string& path) const {
    std::vector<std::string> lines;
    const auto it = files.find(path);
    if (it == files.end()) {
        return lines;
    }
    const std::string& text = it->second;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start) + "<no CR LF>");
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::optional<std::string> SimulatedMachine::ComputerName() {
    return computerName;
}

std::optional<std::string> SimulatedMachine::ProcessImagePath(std::uint32_t processId) {
    const auto it = processImages.find(processId);
    if (it == processImages.end()) {
        lastError = 87; // ERROR_INVALID_PARAMETER: no such process
        return std::nullopt;
    }
    return it->second;
}

std::optional<HeldFileDescription> SimulatedMachine::ReadFileDescription(const std::string& path) {
    descriptionsRead.push_back(path);
    if (whileReadingDescription) {
        whileReadingDescription();
    }
    const auto drive = devices.drives.find(path.empty() ? '\0' : path[0]);
    if (path.size() < 3 || path[1] != ':' || drive == devices.drives.end()) {
        lastError = kErrorFileNotFound;
        return std::nullopt;
    }
    const auto final = finalPaths.find(path);
    HeldFileDescription read{final != finalPaths.end()
                                 ? final->second
                                 : drive->second.dosDeviceName.value_or("") + path.substr(2),
                             {}};
    if (const auto it = fileDescriptions.find(path); it != fileDescriptions.end()) {
        read.description = it->second;
    }
    return read;
}

std::optional<FileVersion> SimulatedMachine::FixedFileVersion(const std::string& path) {
    const auto it = fileVersions.find(path);
    if (it == fileVersions.end()) {
        lastError = kErrorFileNotFound;
        return std::nullopt;
    }
    return it->second;
}

std::string SimulatedMachine::SystemMessage(std::uint32_t code) {
    const auto it = systemMessages.find(code);
    return it == systemMessages.end() ? std::string() : it->second;
}

std::string SimulatedMachine::ReadProfileString(const std::string& iniPath,
                                                const std::string& section, const std::string& key,
                                                const std::string& defaultValue) {
    profileReads.push_back(iniPath + "|" + section + "|" + key);
    const auto it = profileValues.find({iniPath, section, key});
    return it == profileValues.end() ? defaultValue : it->second;
}

std::unique_ptr<TokenHandle> SimulatedMachine::OpenProcessToken(std::uint32_t /*desiredAccess*/) {
    if (openTokenError) {
        lastError = *openTokenError;
        return nullptr;
    }
    return std::make_unique<SimulatedToken>(openTokens);
}

std::optional<PrivilegeId> SimulatedMachine::LookupPrivilegeValue(const std::string& name) {
    const auto it = knownPrivileges.find(name);
    if (it == knownPrivileges.end()) {
        lastError = kErrorNoSuchPrivilege;
        return std::nullopt;
    }
    return it->second;
}

bool SimulatedMachine::AdjustTokenPrivilege(TokenHandle& /*token*/, PrivilegeId privilege,
                                            std::uint32_t attributes) {
    for (const auto& [name, id] : knownPrivileges) {
        if (id.lowPart != privilege.lowPart || id.highPart != privilege.highPart) {
            continue;
        }
        if (heldPrivileges.count(name) == 0) {
            lastError = kErrorNotAllAssigned; // the call still reports success
            return true;
        }
        if (attributes & 2) {
            enabledPrivileges.insert(name);
        } else {
            enabledPrivileges.erase(name);
        }
    }
    lastError = 0;
    return true;
}

std::optional<bool> SimulatedMachine::TokenElevated(TokenHandle& /*token*/) {
    ++tokenFactsReads;
    return tokenElevated;
}

std::optional<bool> SimulatedMachine::InAdministrators() {
    return tokenInAdministrators;
}

std::optional<bool> SimulatedMachine::TokenUserIsSystem(TokenHandle& /*token*/) {
    return tokenUserIsSystem;
}

void SimulatedMachine::UseStandardAccount(std::uint32_t serviceRights) {
    tokenElevated = false;
    tokenInAdministrators = false;
    heldPrivileges.clear();
    serviceManager.managerRights = kManagerRightsOfOthers;
    serviceManager.serviceRightsOfNewServices = serviceRights;
    for (auto& [name, service] : serviceManager.services) {
        service.grantedRights = serviceRights;
    }
}

MutexResult SimulatedMachine::CreateOwnedMutex(const std::string& name) {
    if (mutexCreationFails) {
        lastError = kErrorAccessDenied;
        return MutexResult::Failed;
    }
    if (!mutexes.insert(name).second) {
        lastError = kErrorAlreadyExists;
        return MutexResult::AlreadyExists;
    }
    lastError = 0;
    return MutexResult::Created;
}

void SimulatedMachine::ShowWarningMessage(const std::string& caption, const std::string& text) {
    messageBoxes.emplace_back(caption, text);
}

void SimulatedMachine::ShowErrorMessage(const std::string& caption, const std::string& text) {
    errorMessageBoxes.emplace_back(caption, text);
}

bool SimulatedMachine::WriteEvent(EventType type, std::uint32_t eventId, const std::string& text) {
    if (eventSourceMissing) {
        return false;
    }
    reportedEvents.push_back({type, eventId, text});
    return true;
}

} // namespace platform
