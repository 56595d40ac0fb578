#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ServiceManager.h"

namespace platform {

// SC_MANAGER_ALL_ACCESS and SERVICE_ALL_ACCESS: what Administrators hold.
inline constexpr std::uint32_t kAllManagerRights = 0xF003F;
inline constexpr std::uint32_t kAllServiceRights = 0xF01FF;
// What the manager grants a caller without Administrators (SYSTEM among them once
// Administrators is deny-only in its token): connect, enumerate, query the lock, read.
inline constexpr std::uint32_t kManagerRightsOfOthers = 0x20015;

// One installed service: its current status, and what it reports while it starts or
// stops. Each status query takes the next scripted status; once the script is used up
// the service stays where it is.
struct SimulatedService {
    ServiceStatus status{0x10, 1, 0, 0, 0, 0, 0}; // own process, stopped
    std::deque<ServiceStatus> upcomingStatuses;
    // What StartService and the stop control hand to upcomingStatuses. Empty: the
    // service reaches running (stopped) at the first query.
    std::vector<ServiceStatus> startScript;
    std::vector<ServiceStatus> stopScript;
    std::vector<std::uint32_t> controlsReceived;
    // What the service's access list grants the caller; asking for more fails with 5.
    std::uint32_t grantedRights = kAllServiceRights;
};

// A scriptable service control manager. Faults are injected per call with the error code
// Windows would leave; handles are counted so that tests can see every one closed.
class SimulatedServiceManager : public ServiceManager {
public:
    explicit SimulatedServiceManager(std::atomic<std::uint32_t>& lastError)
        : lastError_(lastError) {}

    enum class Call {
        OpenSCManager,
        OpenService,
        StartService,
        ControlService,
        QueryServiceStatus
    };
    struct Fault {
        std::uint32_t error = 0;
        int successesFirst = 0; // the call succeeds this often before it starts failing
    };

    std::map<std::string, SimulatedService> services;
    std::map<Call, Fault> faults;
    // Some successful calls reset the last-error value; an error line must still carry
    // the code of the call that failed.
    bool closeClearsLastError = false;
    // What the manager's own access list grants the caller; asking for more fails with 5.
    std::uint32_t managerRights = kAllManagerRights;
    // What a service installed from now on grants the caller.
    std::uint32_t serviceRightsOfNewServices = kAllServiceRights;

    int openManagerHandles = 0;
    int openServiceHandles = 0;
    // Every call in order, by its Windows name less the A, with the rights asked:
    // "OpenSCManager 1", "OpenService DrivewardService 100", "StartService", "ControlService 133",
    // "QueryServiceStatus", "CloseServiceHandle service", "CloseServiceHandle manager".
    std::vector<std::string> calls;

    // Installs a service, stopped, with the given scripts.
    SimulatedService& Install(const std::string& name);

    std::unique_ptr<ServiceHandle> OpenSCManagerA(std::uint32_t desiredAccess) override;
    std::unique_ptr<ServiceHandle> OpenServiceA(ServiceHandle& manager,
                                                const std::string& serviceName,
                                                std::uint32_t desiredAccess) override;
    bool StartServiceA(ServiceHandle& service) override;
    bool ControlService(ServiceHandle& service, std::uint32_t control,
                        ServiceStatus& status) override;
    bool QueryServiceStatus(ServiceHandle& service, ServiceStatus& status) override;

    // A status as a service reports it: state, checkpoint, wait hint.
    static ServiceStatus Status(std::uint32_t state, std::uint32_t checkPoint = 0,
                                std::uint32_t waitHint = 0);

private:
    bool Fails(Call call);
    SimulatedService* ServiceOf(ServiceHandle& handle);
    // The injected failure of the call, a handle opened without the right the call needs
    // (5), or the handle's service; nullptr (with the last error set) when the call fails.
    SimulatedService* Begin(Call call, ServiceHandle& handle, std::uint32_t neededRight);
    void Closed(bool isManager);

    std::atomic<std::uint32_t>& lastError_;
    friend class SimulatedServiceHandle;
};

} // namespace platform
