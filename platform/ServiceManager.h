#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// SERVICE_STATUS as the service control manager reports it.
struct ServiceStatus {
    std::uint32_t serviceType = 0;
    std::uint32_t currentState = 0; // 1 stopped .. 7 paused
    std::uint32_t controlsAccepted = 0;
    std::uint32_t win32ExitCode = 0;
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0; // milliseconds
};

// An open handle of the service control manager or of one service; closing
// (CloseServiceHandle) happens when the owner lets go of it.
class ServiceHandle {
public:
    virtual ~ServiceHandle() = default;
};

// The service control manager of the local machine. Every call that fails leaves the
// thread's last-error value set.
class ServiceManager {
public:
    virtual ~ServiceManager() = default;
    // OpenSCManagerA on the local machine's default database; nullptr on failure.
    virtual std::unique_ptr<ServiceHandle> OpenSCManagerA(std::uint32_t desiredAccess) = 0;
    // OpenServiceA; nullptr on failure (1060 when no such service is installed).
    virtual std::unique_ptr<ServiceHandle> OpenServiceA(ServiceHandle& manager,
                                                        const std::string& serviceName,
                                                        std::uint32_t desiredAccess) = 0;
    // StartServiceA without arguments.
    virtual bool StartServiceA(ServiceHandle& service) = 0;
    virtual bool ControlService(ServiceHandle& service, std::uint32_t control,
                                ServiceStatus& status) = 0;
    virtual bool QueryServiceStatus(ServiceHandle& service, ServiceStatus& status) = 0;
};

} // namespace platform
