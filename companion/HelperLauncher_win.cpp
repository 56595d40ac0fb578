#include "companion/HelperLauncher_win.h"

#include <algorithm>
#include <string>

#include "companion/HelperContainment_win.h"
#include "platform/windows/SystemLibrary.h"

namespace {

using platform::windows::UniqueKernelHandle;

SystemFailure FailureOf(const char* call) {
    return SystemFailure{call, ::GetLastError()};
}

std::wstring FolderOf(const std::wstring& path) {
    const auto slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end()); // the parameters are ASCII digits
}

// WTSINFOEXW at level 1, as far as it is read here: the headers of this toolchain lack it.
struct SessionInfoLevel1 {
    DWORD level;
    DWORD padding; // the union that follows holds 8-byte members
    ULONG sessionId;
    INT sessionState;
    LONG sessionFlags;
};
constexpr int kWtsSessionInfoEx = 25;

using QuerySessionInformation = BOOL(WINAPI*)(HANDLE, DWORD, int, LPWSTR*, DWORD*);
using FreeMemory = void(WINAPI*)(PVOID);

} // namespace

std::wstring ModulePathWide() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() >= 32768) {
            return {};
        }
        path.resize(path.size() * 2);
    }
}

std::wstring HelperPathBesideWide(const std::wstring& executablePath) {
    return FolderOf(executablePath) + L"Driveward.exe";
}

Win32HelperLauncher::Win32HelperLauncher(std::wstring helperPath)
    : helperPath_(std::move(helperPath)) {
    // Once, at the start: a system that answers for the service's own session or the
    // console's knows the query (Windows 7 and later), and a later failure for some session
    // is then no reason to take it for locked. Older systems and Wine answer neither.
    DWORD own = 0;
    lockStateReported_ =
        (::ProcessIdToSessionId(::GetCurrentProcessId(), &own) && SessionFlags(own)) ||
        SessionFlags(ActiveConsoleSessionId());
}

HelperStart Win32HelperLauncher::StartHelper(const std::string& parameter,
                                             std::uint32_t sessionId) {
    ForgetEndedHelpers();
    UniqueKernelHandle token;
    if (auto failure = CreateHelperToken(sessionId, token)) {
        return HelperStart{failure, 0, ""};
    }
    UniqueKernelHandle job;
    if (auto failure = CreateHelperJob(job)) {
        return HelperStart{failure, 0, ""};
    }
    const HelperAttributes attributes;
    // Both the application name and a quoted command line: the program is never looked
    // for along a path, and a blank in the folder cannot split the name. UTF-16 all the
    // way, so that a folder with characters outside the code page works.
    std::wstring commandLine = L"\"" + helperPath_ + L"\" " + Widen(parameter);
    std::wstring desktop = kWinlogonDesktop;
    const std::wstring folder = FolderOf(helperPath_);
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.lpDesktop = desktop.data();
    startup.lpAttributeList = attributes.list();
    // Suspended: it runs no instruction before it is in the job.
    const DWORD flags =
        CREATE_SUSPENDED | (attributes.list() != nullptr ? EXTENDED_STARTUPINFO_PRESENT : 0);
    PROCESS_INFORMATION created = {};
    if (!::CreateProcessAsUserW(
            token.get(), helperPath_.c_str(), commandLine.data(), nullptr, nullptr, FALSE, flags,
            nullptr, folder.empty() ? nullptr : folder.c_str(), &startup.StartupInfo, &created)) {
        return HelperStart{FailureOf("CreateProcessAsUser"), 0, ""};
    }
    UniqueKernelHandle process(created.hProcess);
    const UniqueKernelHandle thread(created.hThread);
    if (!::AssignProcessToJobObject(job.get(), process.get())) {
        const SystemFailure failure = FailureOf("AssignProcessToJobObject");
        ::TerminateProcess(process.get(), 1);
        ::WaitForSingleObject(process.get(), kHelperEndWaitMs);
        return HelperStart{failure, 0, ""};
    }
    if (::ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        const SystemFailure failure = FailureOf("ResumeThread");
        ::TerminateJobObject(job.get(), 1);
        ::WaitForSingleObject(process.get(), kHelperEndWaitMs);
        return HelperStart{failure, 0, ""};
    }
    helpers_.push_back(
        Helper{std::move(job), std::move(process), created.dwProcessId, parameter, sessionId});
    return HelperStart{std::nullopt, created.dwProcessId,
                       "job of one process, killed with the service, UI limits" +
                           attributes.applied() + ", " + kHelperTokenDescription};
}

std::vector<HelperEnd> Win32HelperLauncher::EndHelpers(std::optional<std::uint32_t> sessionId) {
    ForgetEndedHelpers();
    const auto ending = [&](const Helper& helper) {
        return !sessionId || helper.sessionId == *sessionId;
    };
    // A service cannot reach the windows of a helper on a session's Winlogon desktop to ask
    // them to close (under Wine it cannot either), and the helpers watch nothing else: they
    // are ended by force, all first, then waited for together within one bound.
    std::vector<HelperEnd> ended;
    std::vector<HANDLE> waitFor;
    for (Helper& helper : helpers_) {
        if (!ending(helper)) {
            continue;
        }
        HelperEnd end{helper.processId, std::nullopt};
        // The whole job: also anything the helper managed to start.
        if (!::TerminateJobObject(helper.job.get(), 1)) {
            end.failure = FailureOf("TerminateJobObject");
        } else {
            waitFor.push_back(helper.process.get());
        }
        ended.push_back(end);
    }
    const ULONGLONG deadline = ::GetTickCount64() + kHelperEndWaitMs;
    for (std::size_t i = 0, w = 0; i < ended.size(); ++i) {
        if (ended[i].failure) {
            continue;
        }
        const ULONGLONG now = ::GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        if (::WaitForSingleObject(waitFor[w++], left) != WAIT_OBJECT_0) {
            ended[i].failure = SystemFailure{"Waiting for the helper to end", WAIT_TIMEOUT};
        }
    }
    ForgetEndedHelpers();
    return ended;
}

bool Win32HelperLauncher::HelperRunning(const std::string& parameter, std::uint32_t sessionId) {
    ForgetEndedHelpers();
    return std::any_of(helpers_.begin(), helpers_.end(), [&](const Helper& helper) {
        return helper.parameter == parameter && helper.sessionId == sessionId;
    });
}

std::vector<std::uint32_t> Win32HelperLauncher::HelperSessions() {
    ForgetEndedHelpers();
    std::vector<std::uint32_t> sessions;
    for (const Helper& helper : helpers_) {
        sessions.push_back(helper.sessionId);
    }
    return sessions;
}

std::optional<std::int32_t> Win32HelperLauncher::SessionFlags(std::uint32_t sessionId) {
    // wtsapi32 is no known DLL: by full path, at run time.
    const auto library = platform::windows::LoadSystemLibrary("wtsapi32.dll");
    if (!library) {
        return std::nullopt;
    }
    const auto query = reinterpret_cast<QuerySessionInformation>(
        reinterpret_cast<void*>(::GetProcAddress(library.get(), "WTSQuerySessionInformationW")));
    const auto release = reinterpret_cast<FreeMemory>(
        reinterpret_cast<void*>(::GetProcAddress(library.get(), "WTSFreeMemory")));
    if (query == nullptr || release == nullptr) {
        return std::nullopt;
    }
    LPWSTR buffer = nullptr;
    DWORD bytes = 0;
    if (!query(nullptr /* this server */, sessionId, kWtsSessionInfoEx, &buffer, &bytes) ||
        buffer == nullptr) {
        return std::nullopt;
    }
    std::optional<std::int32_t> flags;
    if (bytes >= sizeof(SessionInfoLevel1)) {
        const auto* info = reinterpret_cast<const SessionInfoLevel1*>(buffer);
        if (info->level == 1 && info->sessionId == sessionId) {
            flags = info->sessionFlags;
        }
    }
    release(buffer);
    return flags;
}

std::uint32_t Win32HelperLauncher::ActiveConsoleSessionId() {
    return ::WTSGetActiveConsoleSessionId();
}

void Win32HelperLauncher::ForgetEndedHelpers() {
    std::erase_if(helpers_, [](const Helper& helper) {
        return ::WaitForSingleObject(helper.process.get(), 0) == WAIT_OBJECT_0;
    });
}
