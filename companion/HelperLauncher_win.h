#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "companion/CompanionServiceUnit.h"
#include "platform/windows/UniqueHandle.h"

// How long the helpers, all together, get to die once terminated. The service's control
// handler waits this long at most, far inside the manager's 30 s for a handler.
inline constexpr DWORD kHelperEndWaitMs = 2000;
// The Winlogon desktop of the session's interactive window station: the one shown over
// a locked session.
inline constexpr const wchar_t* kWinlogonDesktop = L"winsta0\\winlogon";

// Starts the helpers as SYSTEM in another session, each in a job of its own that the
// service holds, and keeps their handles, so that it ends only what it started and
// nothing it started outlives it.
class Win32HelperLauncher : public HelperLauncher {
public:
    // helperPath: the full path of Driveward.exe, in UTF-16 so that any folder works.
    explicit Win32HelperLauncher(std::wstring helperPath);

    HelperStart StartHelper(const std::string& parameter, std::uint32_t sessionId) override;
    std::vector<HelperEnd> EndHelpers(std::optional<std::uint32_t> sessionId) override;
    bool HelperRunning(const std::string& parameter, std::uint32_t sessionId) override;
    std::vector<std::uint32_t> HelperSessions() override;
    std::optional<std::int32_t> SessionFlags(std::uint32_t sessionId) override;
    std::uint32_t ActiveConsoleSessionId() override;
    bool LockStateReported() override { return lockStateReported_; }

private:
    struct Helper {
        platform::windows::UniqueKernelHandle job; // kill on close: dies with the service
        platform::windows::UniqueKernelHandle process;
        DWORD processId = 0;
        std::string parameter;
        std::uint32_t sessionId = 0;
    };
    void ForgetEndedHelpers();

    std::wstring helperPath_;
    std::vector<Helper> helpers_;
    bool lockStateReported_ = false; // asked once, when the service starts
};

// The full path of the running executable in UTF-16, however long; empty on failure.
std::wstring ModulePathWide();
// "<folder of the executable>\Driveward.exe".
std::wstring HelperPathBesideWide(const std::wstring& executablePath);
