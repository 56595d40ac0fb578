#pragma once
#include <windows.h>

#include <vector>

#include "companion/CompanionServiceUnit.h"
#include "platform/windows/UniqueHandle.h"

// How long the helpers, all together, get to die once terminated. The service's control
// handler waits this long at most, far inside the manager's 30 s for a handler.
inline constexpr DWORD kHelperEndWaitMs = 2000;
// The Winlogon desktop of the session's interactive window station: the one shown over
// a locked session.
inline constexpr const char* kWinlogonDesktop = "winsta0\\winlogon";

// Starts the helpers as SYSTEM in another session and keeps their process handles, so
// that it ends only what it started.
class Win32HelperLauncher : public HelperLauncher {
public:
    HelperStart StartHelper(const std::string& helperPath, const std::string& parameter,
                            std::uint32_t sessionId) override;
    std::vector<HelperEnd> EndHelpers() override;
    bool HelperRunning(const std::string& parameter) override;
    std::uint32_t ActiveConsoleSessionId() override;

private:
    struct Helper {
        platform::windows::UniqueKernelHandle process;
        DWORD processId = 0;
        std::string parameter;
    };
    void ForgetEndedHelpers();

    std::vector<Helper> helpers_;
};
