#include <windows.h>

#include "platform/windows/Win32Machine.h"

namespace platform::windows {

MutexResult Win32Session::CreateOwnedMutex(const std::string& name) {
    // The handle is deliberately never closed: it is the session's single-instance lock
    // and goes away with the process.
    const HANDLE mutex = ::CreateMutexA(nullptr, TRUE, name.c_str());
    if (mutex == nullptr) {
        return MutexResult::Failed;
    }
    return ::GetLastError() == ERROR_ALREADY_EXISTS ? MutexResult::AlreadyExists
                                                    : MutexResult::Created;
}

void Win32Session::ShowWarningMessage(const std::string& caption, const std::string& text) {
    ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONWARNING | MB_TASKMODAL);
}

void Win32Session::ShowErrorMessage(const std::string& caption, const std::string& text) {
    ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

} // namespace platform::windows
