#include "companion/ServiceSecurity_win.h"

#include <sddl.h>

#include <vector>

#include "platform/windows/AccessList.h"
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

std::optional<platform::AccessList> ReadServiceAccess(const char* serviceName,
                                                      std::optional<SystemFailure>& failure) {
    using platform::windows::UniqueServiceHandle;
    const UniqueServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        failure = FailureOf("OpenSCManager");
        return std::nullopt;
    }
    const UniqueServiceHandle service(::OpenServiceA(manager.get(), serviceName, READ_CONTROL));
    if (!service) {
        failure = FailureOf("OpenService");
        return std::nullopt;
    }
    constexpr SECURITY_INFORMATION kWhat = DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION;
    DWORD needed = 0;
    ::QueryServiceObjectSecurity(service.get(), kWhat, nullptr, 0, &needed);
    std::vector<unsigned char> buffer(needed);
    if (needed == 0 ||
        !::QueryServiceObjectSecurity(service.get(), kWhat, buffer.data(), needed, &needed)) {
        failure = FailureOf("QueryServiceObjectSecurity");
        return std::nullopt;
    }
    auto list = platform::windows::ReadAccessList(buffer.data());
    if (!list) {
        failure = FailureOf("Reading the service's access list");
    }
    return list;
}
