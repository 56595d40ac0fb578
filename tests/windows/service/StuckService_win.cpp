// A service that never finishes starting: it reports start pending once, with a frozen
// checkpoint and a wait hint of almost 25 days, and then hangs. The controller's wait
// bound is what ends a client's wait on it.
#include <windows.h>

namespace {

constexpr DWORD kHugeWaitHintMs = 0x7FFFFFFF;
// The test ends the process long before; the bound keeps it from lingering in a prefix.
constexpr DWORD kGiveUpAfterMs = 120000;

SERVICE_STATUS_HANDLE statusHandle = nullptr;

DWORD WINAPI Handler(DWORD, DWORD, LPVOID, LPVOID) {
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
    statusHandle = ::RegisterServiceCtrlHandlerExA("DrivewardStuckService", Handler, nullptr);
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_START_PENDING;
    status.dwCheckPoint = 1;
    status.dwWaitHint = kHugeWaitHintMs;
    ::SetServiceStatus(statusHandle, &status);
    ::Sleep(kGiveUpAfterMs);
    status.dwCurrentState = SERVICE_STOPPED;
    status.dwCheckPoint = 0;
    status.dwWaitHint = 0;
    ::SetServiceStatus(statusHandle, &status);
}

} // namespace

int main() {
    char name[] = "DrivewardStuckService";
    const SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    return ::StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
