#include "client/ProcessMachine_win.h"

#include "platform/windows/Win32Machine.h"

platform::Machine& ProcessMachine() {
    // Never destroyed: a device-query worker may still hang in a drive's request while
    // the process ends, and must find it intact when it returns.
    static platform::windows::Win32Machine& machine = *new platform::windows::Win32Machine;
    return machine.machine();
}
