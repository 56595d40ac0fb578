#include "service/USBServiceUnit.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "foundation/EventReportUnit.h"
#include "foundation/FunctionsUnit.h"
#include "foundation/LogUnit.h"
#include "platform/Machine.h"

namespace {

// Only the rights each operation uses: anything more (all access asks for the right to
// create services, to reconfigure, to change permissions) is granted to Administrators
// alone, and a helper that runs without them must still be able to send its code.
constexpr std::uint32_t kScManagerConnect = 0x0001;
constexpr std::uint32_t kServiceQueryStatus = 0x0004;
constexpr std::uint32_t kServiceStart = 0x0010;
constexpr std::uint32_t kServiceStop = 0x0020;
constexpr std::uint32_t kServiceUserDefinedControl = 0x0100;
constexpr std::uint32_t kControlStop = 1;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kStateStopped = 1;
constexpr std::uint32_t kStateRunning = 4;
constexpr std::uint32_t kStatePaused = 7;
// ERROR_SERVICE_REQUEST_TIMEOUT: its system text says what happened.
constexpr std::uint32_t kErrorServiceRequestTimeout = 1053;
constexpr std::uint32_t kErrorServiceDoesNotExist = 1060;
constexpr std::uint32_t kErrorServiceNotActive = 1062;

std::unique_ptr<TUSBService> instance;

// A wait that ended without an error, because the service went back in its checkpoint.
constexpr const char* kServiceNotReached = "it did not reach the running state";

// The failed call's code and text, read at the moment it failed: closing the handles
// afterwards may change the thread's last-error value.
struct Failure {
    std::uint32_t code = 0;
    std::string text;
};

Failure FailureOf(const std::string& prefix) {
    const std::uint32_t code = platform::CurrentMachine().system->LastError();
    return Failure{code, prefix + GetLastErrorText()};
}

struct Outcome {
    bool result = false;
    std::optional<Failure> failure;
    const char* plainLine = nullptr; // written instead of an error line
};

Outcome Failed(const std::string& prefix) {
    return Outcome{false, FailureOf(prefix)};
}

using ServiceStep = std::function<Outcome(platform::ServiceManager&, platform::ServiceHandle&)>;

// The frame every operation shares: open the manager, then the service, do the step,
// close the service, then the manager, and only then write the one error line.
struct RunOptions {
    // A service that refuses the access asked for gives this plain line instead.
    const char* refusedLine = nullptr;
    // A service not installed or not running gives a plain line naming this code instead.
    std::optional<std::uint32_t> plainWhenAbsent;
    // An error line also goes to the Event Log with this id and `failedWhat` before why.
    std::uint32_t failedEvent = 0;
    std::string failedWhat;
};

bool RunOnService(const std::string& serviceName, std::uint32_t serviceAccess,
                  const ServiceStep& step, const RunOptions& options = {}) {
    Outcome outcome;
    auto& manager = *platform::CurrentMachine().serviceManager;
    {
        const auto managerHandle = manager.OpenSCManagerA(kScManagerConnect);
        if (!managerHandle) {
            outcome = Failed(kOpenSCManagerFailed);
        } else {
            const auto serviceHandle =
                manager.OpenServiceA(*managerHandle, serviceName, serviceAccess);
            if (!serviceHandle) {
                outcome = Failed(kOpenServiceFailed);
                if (options.refusedLine != nullptr &&
                    outcome.failure->code == kErrorAccessDenied) {
                    outcome = Outcome{false, std::nullopt, options.refusedLine};
                }
            } else {
                outcome = step(manager, *serviceHandle);
            }
        } // the service handle closes before the manager handle
    }
    // Without a log (before the entry sequence made one, after the end released it) the
    // failure is still reported by the result.
    const bool absent = outcome.failure && options.plainWhenAbsent &&
                        (outcome.failure->code == kErrorServiceDoesNotExist ||
                         outcome.failure->code == kErrorServiceNotActive);
    if (absent && Log != nullptr) {
        Log->Add(kServiceNotRunningLine + std::to_string(*options.plainWhenAbsent) +
                 kServiceNotRunningReason + std::to_string(outcome.failure->code) + ").");
    } else if (outcome.failure && Log != nullptr) {
        Log->Error(std::to_string(outcome.failure->code) + " - " + outcome.failure->text);
    } else if (outcome.plainLine != nullptr && Log != nullptr) {
        Log->Add(outcome.plainLine);
    }
    if (!outcome.result && !absent && outcome.plainLine == nullptr && options.failedEvent != 0) {
        // The error text's first line: the code is given already ("Error nr" below it).
        const std::string reason =
            outcome.failure ? std::to_string(outcome.failure->code) + " - " +
                                  outcome.failure->text.substr(0, outcome.failure->text.find('\r'))
                            : std::string(kServiceNotReached);
        ReportToEventLog(platform::EventType::Error, options.failedEvent,
                         options.failedWhat + ": " + reason + ".");
    }
    return outcome.result;
}

// Waits while the service is on its way to the target state: one wait hint per pass,
// cut to what is left of the bound. Ends early when the checkpoint drops.
Outcome WaitForState(platform::ServiceManager& manager, platform::ServiceHandle& service,
                     std::uint32_t target, std::uint32_t boundMs) {
    auto& clock = *platform::CurrentMachine().clock;
    platform::ServiceStatus status;
    if (!manager.QueryServiceStatus(service, status)) {
        return Failed(kQueryServiceStatusFailed);
    }
    const std::uint64_t start = clock.TickCount();
    while (status.currentState != target) {
        const std::uint64_t elapsed = clock.TickCount() - start;
        if (elapsed >= boundMs) {
            platform::CurrentMachine().system->SetLastError(kErrorServiceRequestTimeout);
            return Failed(kServiceWaitTimedOut + std::to_string(boundMs) + " ms (state " +
                          std::to_string(status.currentState) + ", checkpoint " +
                          std::to_string(status.checkPoint) + "): ");
        }
        const std::uint32_t checkPoint = status.checkPoint;
        const auto left = static_cast<std::uint32_t>(boundMs - elapsed);
        clock.Sleep(std::min(std::max(status.waitHint, kServicePollFloorMs), left));
        if (!manager.QueryServiceStatus(service, status)) {
            return Failed(kQueryServiceStatusFailed);
        }
        if (status.checkPoint < checkPoint) {
            break;
        }
    }
    return Outcome{status.currentState == target, std::nullopt};
}

} // namespace

TUSBService::TUSBService() : TUSBService(kUSBServiceName, kServiceWaitBoundMs) {}

TUSBService::TUSBService(std::string serviceName, std::uint32_t waitBoundMs)
    : ServiceName(std::move(serviceName)), waitBoundMs_(waitBoundMs) {}

namespace {

RunOptions FailureReported(std::uint32_t event, std::string what) {
    RunOptions options;
    options.failedEvent = event;
    options.failedWhat = std::move(what);
    return options;
}

RunOptions RefusedGives(const char* line) {
    RunOptions options;
    options.refusedLine = line;
    return options;
}

RunOptions ControlCodeFailure(const std::string& serviceName, std::uint32_t aControlCode) {
    return FailureReported(kEventControlCodeFailed, "The service " + serviceName +
                                                        " did not receive control code " +
                                                        std::to_string(aControlCode));
}

ServiceStep SendStep(std::uint32_t aControlCode) {
    return [aControlCode](platform::ServiceManager& manager, platform::ServiceHandle& service) {
        platform::ServiceStatus status; // the service's answer is not used
        if (!manager.ControlService(service, aControlCode, status)) {
            return Failed(kControlServiceFailed);
        }
        return Outcome{true, std::nullopt};
    };
}

} // namespace

bool TUSBService::SendControlCode(std::uint32_t aControlCode) {
    return RunOnService(ServiceName, kServiceUserDefinedControl, SendStep(aControlCode),
                        ControlCodeFailure(ServiceName, aControlCode));
}

bool TUSBService::SendControlCodeIfRunning(std::uint32_t aControlCode) {
    auto options = ControlCodeFailure(ServiceName, aControlCode);
    options.plainWhenAbsent = aControlCode;
    return RunOnService(ServiceName, kServiceUserDefinedControl, SendStep(aControlCode), options);
}

bool TUSBService::QueryState(TServiceState& aState) {
    return RunOnService(
        ServiceName, kServiceQueryStatus,
        [&](platform::ServiceManager& manager, platform::ServiceHandle& service) {
            platform::ServiceStatus status;
            if (!manager.QueryServiceStatus(service, status)) {
                return Failed(kQueryServiceStatusFailed);
            }
            if (status.currentState >= kStateStopped && status.currentState <= kStatePaused) {
                aState = static_cast<TServiceState>(status.currentState - kStateStopped);
            }
            return Outcome{true, std::nullopt};
        });
}

bool TUSBService::StartAndWait() {
    // Query status for the wait that follows the start.
    return RunOnService(
        ServiceName, kServiceStart | kServiceQueryStatus,
        [&](platform::ServiceManager& manager, platform::ServiceHandle& service) {
            if (!manager.StartServiceA(service)) {
                return Failed(kStartServiceFailed);
            }
            return WaitForState(manager, service, kStateRunning, waitBoundMs_);
        },
        FailureReported(kEventServiceStartFailed,
                        "The service " + ServiceName + " could not be started"));
}

bool TUSBService::StopAndWait() {
    return RunOnService(
        ServiceName, kServiceStop | kServiceQueryStatus,
        [&](platform::ServiceManager& manager, platform::ServiceHandle& service) {
            platform::ServiceStatus status;
            if (!manager.ControlService(service, kControlStop, status)) {
                return Failed(kControlServiceFailed);
            }
            return WaitForState(manager, service, kStateStopped, waitBoundMs_);
        },
        RefusedGives(kServiceKeepsRunning));
}

TUSBService& USBService() {
    if (!instance) {
        instance = std::make_unique<TUSBService>();
    }
    return *instance;
}

void ReleaseUSBService() {
    instance.reset();
}

bool USBServiceExists() {
    return instance != nullptr;
}
