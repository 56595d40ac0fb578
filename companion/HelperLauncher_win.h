#pragma once
#include <windows.h>

#include <vector>

#include "companion/CompanionServiceUnit.h"
#include "platform/windows/UniqueHandle.h"

// How long a helper gets to close when asked, and then to die when terminated.
inline constexpr DWORD kHelperCloseWaitMs = 3000;
inline constexpr DWORD kHelperTerminateWaitMs = 2000;
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
    std::uint32_t ActiveConsoleSessionId() override;

private:
    struct Helper {
        platform::windows::UniqueKernelHandle process;
        DWORD processId = 0;
        DWORD threadId = 0;
    };
    void ForgetEndedHelpers();

    std::vector<Helper> helpers_;
};
