#include "companion/HelperLauncher_win.h"

#include <algorithm>
#include <string>

namespace {

using platform::windows::UniqueKernelHandle;

// The one privilege a helper keeps: without it, every path lookup through a folder the
// token may not list would fail. Everything else (debug, take ownership, load driver,
// backup, restore, TCB...) would hand whoever sits at the locked keyboard the machine.
constexpr const char* kHelperPrivilege = SE_CHANGE_NOTIFY_NAME;

constexpr DWORD kHelperTokenAccess = TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY |
                                     TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID |
                                     TOKEN_ADJUST_PRIVILEGES;

SystemFailure FailureOf(const char* call) {
    return SystemFailure{call, ::GetLastError()};
}

std::vector<unsigned char> PrivilegesOf(HANDLE token) {
    DWORD size = 0;
    ::GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size == 0 || !::GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) {
        return {};
    }
    return buffer;
}

// Removes (not merely disables: a disabled privilege can be switched on again by the
// process that holds it) every privilege but kHelperPrivilege, then reads the token back
// to be sure: a helper is never started with more.
std::optional<SystemFailure> StripPrivileges(HANDLE token) {
    LUID keep;
    if (!::LookupPrivilegeValueA(nullptr, kHelperPrivilege, &keep)) {
        return FailureOf("LookupPrivilegeValue");
    }
    std::vector<unsigned char> buffer = PrivilegesOf(token);
    if (buffer.empty()) {
        return FailureOf("GetTokenInformation");
    }
    auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
        const bool kept =
            entry.Luid.LowPart == keep.LowPart && entry.Luid.HighPart == keep.HighPart;
        // Only the documented attribute bits go back in; the kept privilege stays on.
        entry.Attributes = kept ? SE_PRIVILEGE_ENABLED : SE_PRIVILEGE_REMOVED;
    }
    ::SetLastError(ERROR_SUCCESS);
    if (!::AdjustTokenPrivileges(token, FALSE, privileges, 0, nullptr, nullptr) ||
        ::GetLastError() != ERROR_SUCCESS) {
        return FailureOf("AdjustTokenPrivileges");
    }
    buffer = PrivilegesOf(token);
    if (buffer.empty()) {
        return FailureOf("GetTokenInformation");
    }
    privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID& luid = privileges->Privileges[i].Luid;
        if (luid.LowPart != keep.LowPart || luid.HighPart != keep.HighPart) {
            return SystemFailure{"Removing the helper's privileges", ERROR_PRIVILEGE_NOT_HELD};
        }
    }
    return std::nullopt;
}

// A primary SYSTEM token for the helper, in the target session, with no privilege but
// kHelperPrivilege.
std::optional<SystemFailure> HelperToken(DWORD sessionId, UniqueKernelHandle& result) {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &raw)) {
        return FailureOf("OpenProcessToken");
    }
    const UniqueKernelHandle own(raw);
    raw = nullptr;
    if (!::DuplicateTokenEx(own.get(), kHelperTokenAccess, nullptr, SecurityIdentification,
                            TokenPrimary, &raw)) {
        return FailureOf("DuplicateTokenEx");
    }
    UniqueKernelHandle duplicate(raw);
    if (auto failure = StripPrivileges(duplicate.get())) {
        return failure;
    }
    if (!::SetTokenInformation(duplicate.get(), TokenSessionId, &sessionId, sizeof sessionId)) {
        return FailureOf("SetTokenInformation");
    }
    result = std::move(duplicate);
    return std::nullopt;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace

HelperStart Win32HelperLauncher::StartHelper(const std::string& helperPath,
                                             const std::string& parameter,
                                             std::uint32_t sessionId) {
    ForgetEndedHelpers();
    UniqueKernelHandle token;
    if (auto failure = HelperToken(sessionId, token)) {
        return HelperStart{failure, 0};
    }
    // Both the application name and a quoted command line: the program is never looked
    // for along a path, and a blank in the folder cannot split the name.
    std::string commandLine = HelperCommandLine(helperPath, parameter);
    std::string desktop = kWinlogonDesktop;
    const std::string folder = FolderOf(helperPath);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop.data();
    PROCESS_INFORMATION created = {};
    if (!::CreateProcessAsUserA(token.get(), helperPath.c_str(), commandLine.data(), nullptr,
                                nullptr, FALSE, 0, nullptr,
                                folder.empty() ? nullptr : folder.c_str(), &startup, &created)) {
        return HelperStart{FailureOf("CreateProcessAsUser"), 0};
    }
    const UniqueKernelHandle thread(created.hThread);
    helpers_.push_back(
        Helper{UniqueKernelHandle(created.hProcess), created.dwProcessId, parameter});
    return HelperStart{std::nullopt, created.dwProcessId};
}

std::vector<HelperEnd> Win32HelperLauncher::EndHelpers() {
    ForgetEndedHelpers();
    // A service cannot reach the windows of a helper on a session's Winlogon desktop to ask
    // them to close (under Wine it cannot either), and the helpers watch nothing else: they
    // are ended by force, all first, then waited for together within one bound.
    std::vector<HelperEnd> ended;
    for (Helper& helper : helpers_) {
        HelperEnd end{helper.processId, std::nullopt};
        if (!::TerminateProcess(helper.process.get(), 1)) {
            end.failure = FailureOf("TerminateProcess");
        }
        ended.push_back(end);
    }
    const ULONGLONG deadline = ::GetTickCount64() + kHelperEndWaitMs;
    for (std::size_t i = 0; i < helpers_.size(); ++i) {
        const ULONGLONG now = ::GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        if (!ended[i].failure &&
            ::WaitForSingleObject(helpers_[i].process.get(), left) != WAIT_OBJECT_0) {
            ended[i].failure = SystemFailure{"Waiting for the helper to end", WAIT_TIMEOUT};
        }
    }
    ForgetEndedHelpers();
    return ended;
}

bool Win32HelperLauncher::HelperRunning(const std::string& parameter) {
    ForgetEndedHelpers();
    return std::any_of(helpers_.begin(), helpers_.end(),
                       [&](const Helper& helper) { return helper.parameter == parameter; });
}

std::uint32_t Win32HelperLauncher::ActiveConsoleSessionId() {
    return ::WTSGetActiveConsoleSessionId();
}

void Win32HelperLauncher::ForgetEndedHelpers() {
    std::erase_if(helpers_, [](const Helper& helper) {
        return ::WaitForSingleObject(helper.process.get(), 0) == WAIT_OBJECT_0;
    });
}
