#include "client/ProcessMachine_win.h"

#include "platform/windows/Win32Machine.h"

platform::Machine& ProcessMachine() {
    static platform::windows::Win32Machine machine;
    return machine.machine();
}
