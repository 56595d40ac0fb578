#include "platform/windows/Win32Machine.h"

namespace platform::windows {

Win32Machine::Win32Machine() {
    machine_.clock = &clock_;
    machine_.locale = &locale_;
    machine_.files = &files_;
    machine_.system = &system_;
    machine_.security = &security_;
    machine_.session = &session_;
    machine_.storage = &storage_;
    machine_.deviceSetup = &deviceSetup_;
    machine_.serviceManager = &serviceManager_;
    machine_.eventLog = &eventLog_;
    machine_.eventWriter = &eventWriter_;
}

} // namespace platform::windows
