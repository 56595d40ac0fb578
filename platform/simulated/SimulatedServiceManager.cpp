#include "platform/simulated/SimulatedServiceManager.h"

#include <cstdio>

namespace platform {
namespace {

constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorInvalidServiceControl = 1052;
constexpr std::uint32_t kErrorServiceAlreadyRunning = 1056;
constexpr std::uint32_t kErrorServiceDoesNotExist = 1060;
constexpr std::uint32_t kErrorServiceCannotAcceptControl = 1061;
constexpr std::uint32_t kErrorServiceNotActive = 1062;

constexpr std::uint32_t kStopped = 1;
constexpr std::uint32_t kStartPending = 2;
constexpr std::uint32_t kStopPending = 3;
constexpr std::uint32_t kRunning = 4;
constexpr std::uint32_t kControlStop = 1;
constexpr std::uint32_t kFirstUserControl = 128;
constexpr std::uint32_t kLastUserControl = 255;
constexpr std::uint32_t kManagerConnect = 0x0001;
constexpr std::uint32_t kServiceQueryStatus = 0x0004;
constexpr std::uint32_t kServiceStart = 0x0010;
constexpr std::uint32_t kServiceStop = 0x0020;
constexpr std::uint32_t kServiceUserDefinedControl = 0x0100;

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

} // namespace

class SimulatedServiceHandle : public ServiceHandle {
public:
    SimulatedServiceHandle(SimulatedServiceManager& owner, std::string serviceName,
                           std::uint32_t access)
        : owner_(owner), serviceName_(std::move(serviceName)), access_(access) {
        ++(serviceName_.empty() ? owner_.openManagerHandles : owner_.openServiceHandles);
    }
    ~SimulatedServiceHandle() override { owner_.Closed(serviceName_.empty()); }
    SimulatedServiceHandle(const SimulatedServiceHandle&) = delete;
    SimulatedServiceHandle& operator=(const SimulatedServiceHandle&) = delete;

    const std::string& serviceName() const { return serviceName_; }
    std::uint32_t access() const { return access_; }

private:
    SimulatedServiceManager& owner_;
    std::string serviceName_; // empty for the manager's own handle
    std::uint32_t access_;    // what it was opened with
};

SimulatedService& SimulatedServiceManager::Install(const std::string& name) {
    SimulatedService installed;
    installed.grantedRights = serviceRightsOfNewServices;
    return services[name] = installed;
}

ServiceStatus SimulatedServiceManager::Status(std::uint32_t state, std::uint32_t checkPoint,
                                              std::uint32_t waitHint) {
    ServiceStatus status;
    status.serviceType = 0x10;
    status.currentState = state;
    status.controlsAccepted = state == kRunning ? 1u : 0u;
    status.checkPoint = checkPoint;
    status.waitHint = waitHint;
    return status;
}

bool SimulatedServiceManager::Fails(Call call) {
    const auto it = faults.find(call);
    if (it == faults.end()) {
        return false;
    }
    if (it->second.successesFirst > 0) {
        --it->second.successesFirst;
        return false;
    }
    lastError_ = it->second.error;
    return true;
}

SimulatedService* SimulatedServiceManager::Begin(Call call, ServiceHandle& handle,
                                                 std::uint32_t neededRight) {
    if (Fails(call)) {
        return nullptr;
    }
    // As the manager does: the right must have been asked for when the handle was opened.
    if ((static_cast<SimulatedServiceHandle&>(handle).access() & neededRight) == 0) {
        lastError_ = kErrorAccessDenied;
        return nullptr;
    }
    SimulatedService* found = ServiceOf(handle);
    if (found == nullptr) { // uninstalled while the handle was open
        lastError_ = kErrorInvalidHandle;
    }
    return found;
}

SimulatedService* SimulatedServiceManager::ServiceOf(ServiceHandle& handle) {
    const auto it = services.find(static_cast<SimulatedServiceHandle&>(handle).serviceName());
    return it == services.end() ? nullptr : &it->second;
}

void SimulatedServiceManager::Closed(bool isManager) {
    --(isManager ? openManagerHandles : openServiceHandles);
    calls.push_back(isManager ? "CloseServiceHandle manager" : "CloseServiceHandle service");
    if (closeClearsLastError) {
        lastError_ = 0;
    }
}

std::unique_ptr<ServiceHandle>
SimulatedServiceManager::OpenSCManagerA(std::uint32_t desiredAccess) {
    calls.push_back("OpenSCManager " + Hex(desiredAccess));
    if (Fails(Call::OpenSCManager)) {
        return nullptr;
    }
    if ((desiredAccess & ~managerRights) != 0) {
        lastError_ = kErrorAccessDenied;
        return nullptr;
    }
    return std::make_unique<SimulatedServiceHandle>(*this, std::string(), desiredAccess);
}

std::unique_ptr<ServiceHandle> SimulatedServiceManager::OpenServiceA(ServiceHandle& manager,
                                                                     const std::string& serviceName,
                                                                     std::uint32_t desiredAccess) {
    calls.push_back("OpenService " + serviceName + " " + Hex(desiredAccess));
    if (Fails(Call::OpenService)) {
        return nullptr;
    }
    if ((static_cast<SimulatedServiceHandle&>(manager).access() & kManagerConnect) == 0) {
        lastError_ = kErrorAccessDenied;
        return nullptr;
    }
    const auto found = services.find(serviceName);
    if (serviceName.empty() || found == services.end()) {
        lastError_ = kErrorServiceDoesNotExist;
        return nullptr;
    }
    if ((desiredAccess & ~found->second.grantedRights) != 0) {
        lastError_ = kErrorAccessDenied;
        return nullptr;
    }
    return std::make_unique<SimulatedServiceHandle>(*this, serviceName, desiredAccess);
}

bool SimulatedServiceManager::StartServiceA(ServiceHandle& handle) {
    calls.push_back("StartService");
    SimulatedService* found = Begin(Call::StartService, handle, kServiceStart);
    if (found == nullptr) {
        return false;
    }
    SimulatedService& service = *found;
    if (service.status.currentState != kStopped) {
        lastError_ = kErrorServiceAlreadyRunning;
        return false;
    }
    // The manager itself marks the service start pending before the call returns.
    service.status = Status(kStartPending);
    service.upcomingStatuses.assign(service.startScript.begin(), service.startScript.end());
    if (service.upcomingStatuses.empty()) {
        service.upcomingStatuses.push_back(Status(kRunning));
    }
    return true;
}

bool SimulatedServiceManager::ControlService(ServiceHandle& handle, std::uint32_t control,
                                             ServiceStatus& status) {
    calls.push_back("ControlService " + std::to_string(control));
    const bool userControl = control >= kFirstUserControl && control <= kLastUserControl;
    SimulatedService* found = Begin(Call::ControlService, handle,
                                    control == kControlStop ? kServiceStop
                                    : userControl           ? kServiceUserDefinedControl
                                                            : 0xFFFFFFFFu);
    if (found == nullptr) {
        return false;
    }
    SimulatedService& service = *found;
    const std::uint32_t state = service.status.currentState;
    if (state == kStopped) {
        lastError_ = kErrorServiceNotActive;
        return false;
    }
    if (state == kStartPending || state == kStopPending) {
        lastError_ = kErrorServiceCannotAcceptControl;
        return false;
    }
    if (control == kControlStop) {
        service.controlsReceived.push_back(control);
        service.status = Status(kStopPending, 1);
        service.upcomingStatuses.assign(service.stopScript.begin(), service.stopScript.end());
        if (service.upcomingStatuses.empty()) {
            service.upcomingStatuses.push_back(Status(kStopped));
        }
    } else if (userControl) {
        service.controlsReceived.push_back(control);
    } else {
        lastError_ = kErrorInvalidServiceControl;
        return false;
    }
    status = service.status;
    return true;
}

bool SimulatedServiceManager::QueryServiceStatus(ServiceHandle& handle, ServiceStatus& status) {
    calls.push_back("QueryServiceStatus");
    SimulatedService* found = Begin(Call::QueryServiceStatus, handle, kServiceQueryStatus);
    if (found == nullptr) {
        return false;
    }
    SimulatedService& service = *found;
    if (!service.upcomingStatuses.empty()) {
        service.status = service.upcomingStatuses.front();
        service.upcomingStatuses.pop_front();
    }
    status = service.status;
    return true;
}

} // namespace platform
