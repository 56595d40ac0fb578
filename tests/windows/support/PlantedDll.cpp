// A stand-in for a DLL an attacker plants beside an executable under a system DLL's name.
// It only announces that it was loaded.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        ::SetEnvironmentVariableA("DRIVEWARD_PLANTED_DLL_LOADED", "1");
    }
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI WTSRegisterSessionNotification(HWND, DWORD) {
    return TRUE;
}
extern "C" __declspec(dllexport) BOOL WINAPI WTSUnRegisterSessionNotification(HWND) {
    return TRUE;
}
