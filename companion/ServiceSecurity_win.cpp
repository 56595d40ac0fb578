#include "companion/ServiceSecurity_win.h"

#include <sddl.h>

#include "platform/windows/UniqueHandle.h"

namespace {

struct LocalMemoryTraits {
    using Handle = PSECURITY_DESCRIPTOR;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { ::LocalFree(handle); }
};

SystemFailure FailureOf(const char* call) {
    return SystemFailure{call, ::GetLastError()};
}

} // namespace

std::optional<SystemFailure> RestrictServiceAccess(const char* serviceName) {
    using platform::windows::UniqueServiceHandle;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(kServiceSecurityDescriptor,
                                                                SDDL_REVISION_1, &raw, nullptr)) {
        return FailureOf("ConvertStringSecurityDescriptorToSecurityDescriptor");
    }
    const platform::windows::UniqueHandle<LocalMemoryTraits> descriptor(raw);
    const UniqueServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return FailureOf("OpenSCManager");
    }
    const UniqueServiceHandle service(
        ::OpenServiceA(manager.get(), serviceName, READ_CONTROL | WRITE_DAC));
    if (!service) {
        return FailureOf("OpenService");
    }
    if (!::SetServiceObjectSecurity(service.get(), DACL_SECURITY_INFORMATION, descriptor.get())) {
        return FailureOf("SetServiceObjectSecurity");
    }
    return std::nullopt;
}
