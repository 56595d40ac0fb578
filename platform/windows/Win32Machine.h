#pragma once
#include "platform/Machine.h"

namespace platform::windows {

// The real operating system: a thin pass-through, one OS call (or a fixed short
// sequence of them) per method, no decisions.
class Win32Clock : public Clock {
public:
    LocalTime Now() override;
    std::uint64_t TickCount() override;
    void Sleep(std::uint32_t milliseconds) override;
};

class Win32Locale : public Locale {
public:
    LocaleFormats UserFormats() override;
};

class Win32Files : public Files {
public:
    FolderOpening OpenFolder(const std::string& root, const std::vector<std::string>& names,
                             FolderOwner owner) override;
    std::string LocalAppDataFolder() override;
};

class Win32SystemFacts : public SystemFacts {
public:
    std::string ModuleFileName() override;
    std::optional<std::string> ComputerName() override;
    std::optional<OsVersion> QueryOsVersion() override;
    std::optional<FileVersion> FixedFileVersion(const std::string& path) override;
    std::optional<std::string> ProcessImagePath(std::uint32_t processId) override;
    std::optional<HeldFileDescription> ReadFileDescription(const std::string& path) override;
    std::string SystemMessage(std::uint32_t code) override;
    std::uint32_t LastError() override;
    void SetLastError(std::uint32_t code) override;
    std::string ReadProfileString(const std::string& iniPath, const std::string& section,
                                  const std::string& key, const std::string& defaultValue) override;
};

class Win32Security : public Security {
public:
    std::unique_ptr<TokenHandle> OpenProcessToken(std::uint32_t desiredAccess) override;
    std::optional<PrivilegeId> LookupPrivilegeValue(const std::string& name) override;
    bool AdjustTokenPrivilege(TokenHandle& token, PrivilegeId privilege,
                              std::uint32_t attributes) override;
    std::optional<bool> TokenElevated(TokenHandle& token) override;
    std::optional<bool> InAdministrators() override;
    std::optional<bool> TokenUserIsSystem(TokenHandle& token) override;
};

class Win32Session : public Session {
public:
    MutexResult CreateOwnedMutex(const std::string& name) override;
    void ShowWarningMessage(const std::string& caption, const std::string& text) override;
    void ShowErrorMessage(const std::string& caption, const std::string& text) override;
};

class Win32Storage : public Storage {
public:
    std::uint32_t LogicalDrives() override;
    std::uint32_t DriveType(const std::string& drive) override;
    std::optional<std::string> QueryDosDevice(const std::string& drive) override;
    std::unique_ptr<DeviceHandle> OpenForQuery(const std::string& path) override;
    std::optional<StorageDeviceNumber> GetDeviceNumber(DeviceHandle& device) override;
    std::optional<std::size_t> QueryStorageDescriptor(DeviceHandle& device,
                                                      std::span<std::uint8_t> buffer) override;
    std::optional<StorageHotplugInfo> GetHotplugInfo(DeviceHandle& device) override;
    std::optional<VolumeInformation> GetVolumeInformation(const std::string& root) override;
    std::optional<DiskSpace> GetDiskFreeSpace(const std::string& root) override;
};

class Win32DeviceSetup : public DeviceSetup {
public:
    std::unique_ptr<DeviceInfoSet> GetClassDevs(const Guid& interfaceClass) override;
    std::optional<DeviceInterfaceData> EnumDeviceInterfaces(DeviceInfoSet& set,
                                                            const Guid& interfaceClass,
                                                            std::uint32_t index) override;
    bool GetDeviceInterfaceDetailSize(DeviceInfoSet& set, const DeviceInterfaceData& interfaceData,
                                      std::uint32_t& requiredSize) override;
    std::optional<DeviceInterfaceDetail>
    GetDeviceInterfaceDetail(DeviceInfoSet& set, const DeviceInterfaceData& interfaceData,
                             std::uint32_t bufferSize) override;
    std::optional<std::uint32_t> GetDeviceRegistryPropertyDword(DeviceInfoSet& set,
                                                                const DevInfoData& device,
                                                                std::uint32_t property) override;
    std::optional<std::uint32_t> GetParentDevice(std::uint32_t devInst) override;
    std::optional<std::string> GetDeviceInstanceId(std::uint32_t devInst) override;
    EjectResult RequestDeviceEject(std::uint32_t devInst, bool withVetoNameBuffer) override;
};

class Win32ServiceManager : public ServiceManager {
public:
    std::unique_ptr<ServiceHandle> OpenSCManagerA(std::uint32_t desiredAccess) override;
    std::unique_ptr<ServiceHandle> OpenServiceA(ServiceHandle& manager,
                                                const std::string& serviceName,
                                                std::uint32_t desiredAccess) override;
    bool StartServiceA(ServiceHandle& service) override;
    bool ControlService(ServiceHandle& service, std::uint32_t control,
                        ServiceStatus& status) override;
    bool QueryServiceStatus(ServiceHandle& service, ServiceStatus& status) override;
};

class Win32EventLog : public EventLog {
public:
    std::optional<std::vector<std::string>> QueryEventsXml(const std::string& channel,
                                                           const std::string& query,
                                                           std::size_t maxEvents) override;
};

class Win32EventWriter : public EventWriter {
public:
    bool WriteEvent(EventType type, std::uint32_t eventId, const std::string& text) override;
};

class Win32Machine {
public:
    Win32Machine();
    Machine& machine() { return machine_; }

private:
    Win32Clock clock_;
    Win32Locale locale_;
    Win32Files files_;
    Win32SystemFacts system_;
    Win32Security security_;
    Win32Session session_;
    Win32Storage storage_;
    Win32DeviceSetup deviceSetup_;
    Win32ServiceManager serviceManager_;
    Win32EventLog eventLog_;
    Win32EventWriter eventWriter_;
    Machine machine_;
};

} // namespace platform::windows
