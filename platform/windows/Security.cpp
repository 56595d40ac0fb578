#include <windows.h>

#include "platform/windows/UniqueHandle.h"
#include "platform/windows/Win32Machine.h"

namespace platform::windows {
namespace {

class Win32Token : public TokenHandle {
public:
    explicit Win32Token(HANDLE handle) : handle_(handle) {}
    HANDLE get() const { return handle_.get(); }

private:
    UniqueKernelHandle handle_;
};

} // namespace

std::unique_ptr<TokenHandle> Win32Security::OpenProcessToken(std::uint32_t desiredAccess) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), desiredAccess, &token)) {
        return nullptr;
    }
    return std::make_unique<Win32Token>(token);
}

std::optional<PrivilegeId> Win32Security::LookupPrivilegeValue(const std::string& name) {
    LUID luid;
    if (!::LookupPrivilegeValueA(nullptr, name.c_str(), &luid)) {
        return std::nullopt;
    }
    return PrivilegeId{luid.LowPart, luid.HighPart};
}

bool Win32Security::AdjustTokenPrivilege(TokenHandle& token, PrivilegeId privilege,
                                         std::uint32_t attributes) {
    TOKEN_PRIVILEGES wanted = {};
    wanted.PrivilegeCount = 1;
    wanted.Privileges[0].Luid.LowPart = privilege.lowPart;
    wanted.Privileges[0].Luid.HighPart = privilege.highPart;
    wanted.Privileges[0].Attributes = attributes;
    TOKEN_PRIVILEGES previous = {}; // one entry: 16 bytes
    DWORD previousSize = 0;
    return ::AdjustTokenPrivileges(static_cast<Win32Token&>(token).get(), FALSE, &wanted,
                                   sizeof previous, &previous, &previousSize) != FALSE;
}

std::optional<bool> Win32Security::TokenElevated(TokenHandle& token) {
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (!::GetTokenInformation(static_cast<Win32Token&>(token).get(), TokenElevation, &elevation,
                               sizeof elevation, &size)) {
        return std::nullopt;
    }
    return elevation.TokenIsElevated != 0;
}

std::optional<bool> Win32Security::InAdministrators() {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                    DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
        return std::nullopt;
    }
    BOOL member = FALSE;
    // No token: the calling thread's, else the process token, as the check needs it.
    const BOOL checked = ::CheckTokenMembership(nullptr, administrators, &member);
    const DWORD error = ::GetLastError();
    ::FreeSid(administrators);
    if (!checked) {
        ::SetLastError(error);
        return std::nullopt;
    }
    return member != FALSE;
}

std::optional<bool> Win32Security::TokenUserIsSystem(TokenHandle& token) {
    alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    DWORD size = 0;
    if (!::GetTokenInformation(static_cast<Win32Token&>(token).get(), TokenUser, buffer,
                               sizeof buffer, &size)) {
        return std::nullopt;
    }
    return ::IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, WinLocalSystemSid) !=
           FALSE;
}

} // namespace platform::windows
