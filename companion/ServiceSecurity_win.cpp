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

std::optional<SystemFailure> RestrictServiceAccess(const char* serviceName, std::string& applied) {
    using platform::windows::UniqueServiceHandle;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(kServiceSecurityDescriptor,
                                                                SDDL_REVISION_1, &raw, nullptr)) {
        return FailureOf("ConvertStringSecurityDescriptorToSecurityDescriptor");
    }
    const platform::windows::UniqueHandle<LocalMemoryTraits> descriptor(raw);
    constexpr SECURITY_INFORMATION kWhat = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    char* text = nullptr;
    if (::ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor.get(), SDDL_REVISION_1,
                                                               kWhat, &text, nullptr)) {
        applied = text;
        ::LocalFree(text);
    }
    const UniqueServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return FailureOf("OpenSCManager");
    }
    const UniqueServiceHandle service(
        ::OpenServiceA(manager.get(), serviceName, READ_CONTROL | WRITE_DAC | WRITE_OWNER));
    if (!service) {
        return FailureOf("OpenService");
    }
    // The owner too: left as it is, SYSTEM (and so a helper) would keep the owner's
    // implicit right to rewrite the list.
    if (!::SetServiceObjectSecurity(service.get(), kWhat, descriptor.get())) {
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
    } else if (list->ownerSid.empty() && platform::windows::RunningUnderWine()) {
        // Wine's manager keeps no security for a service: it takes any list and hands back
        // an empty DACL without an owner. Only there does no owner stand for the
        // Administrators that the list just set names; on Windows a missing owner is refused.
        list->owner = platform::Trustee::Administrators;
        list->ownerSid = "none kept by Wine";
    }
    return list;
}
