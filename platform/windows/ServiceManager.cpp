#include <windows.h>

#include "platform/windows/UniqueHandle.h"
#include "platform/windows/Win32Machine.h"

namespace platform::windows {
namespace {

class Win32ServiceHandle : public ServiceHandle {
public:
    explicit Win32ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
    SC_HANDLE get() const { return handle_.get(); }

private:
    UniqueServiceHandle handle_;
};

SC_HANDLE Raw(ServiceHandle& handle) {
    return static_cast<Win32ServiceHandle&>(handle).get();
}

ServiceStatus Portable(const SERVICE_STATUS& status) {
    return ServiceStatus{status.dwServiceType,
                         status.dwCurrentState,
                         status.dwControlsAccepted,
                         status.dwWin32ExitCode,
                         status.dwServiceSpecificExitCode,
                         status.dwCheckPoint,
                         status.dwWaitHint};
}

} // namespace

std::unique_ptr<ServiceHandle> Win32ServiceManager::OpenSCManagerA(std::uint32_t desiredAccess) {
    const SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, desiredAccess);
    if (manager == nullptr) {
        return nullptr;
    }
    return std::make_unique<Win32ServiceHandle>(manager);
}

std::unique_ptr<ServiceHandle> Win32ServiceManager::OpenServiceA(ServiceHandle& manager,
                                                                 const std::string& serviceName,
                                                                 std::uint32_t desiredAccess) {
    const SC_HANDLE service = ::OpenServiceA(Raw(manager), serviceName.c_str(), desiredAccess);
    if (service == nullptr) {
        return nullptr;
    }
    return std::make_unique<Win32ServiceHandle>(service);
}

bool Win32ServiceManager::StartServiceA(ServiceHandle& service) {
    return ::StartServiceA(Raw(service), 0, nullptr) != FALSE;
}

bool Win32ServiceManager::ControlService(ServiceHandle& service, std::uint32_t control,
                                         ServiceStatus& status) {
    SERVICE_STATUS raw = {};
    if (!::ControlService(Raw(service), control, &raw)) {
        return false;
    }
    status = Portable(raw);
    return true;
}

bool Win32ServiceManager::QueryServiceStatus(ServiceHandle& service, ServiceStatus& status) {
    SERVICE_STATUS raw = {};
    if (!::QueryServiceStatus(Raw(service), &raw)) {
        return false;
    }
    status = Portable(raw);
    return true;
}

} // namespace platform::windows
