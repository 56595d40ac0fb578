#pragma once
#include "platform/Clock.h"
#include "platform/DeviceSetup.h"
#include "platform/EventLog.h"
#include "platform/EventWriter.h"
#include "platform/Files.h"
#include "platform/Locale.h"
#include "platform/Security.h"
#include "platform/ServiceManager.h"
#include "platform/Session.h"
#include "platform/Storage.h"
#include "platform/SystemFacts.h"

namespace platform {

// The operating system as the portable units see it. The Win32 pass-through and the
// simulated machine both fill in every member.
struct Machine {
    Clock* clock = nullptr;
    Locale* locale = nullptr;
    Files* files = nullptr;
    SystemFacts* system = nullptr;
    Security* security = nullptr;
    Session* session = nullptr;
    Storage* storage = nullptr;
    DeviceSetup* deviceSetup = nullptr;
    ServiceManager* serviceManager = nullptr;
    EventLog* eventLog = nullptr;       // none: nothing can be read from the event logs
    EventWriter* eventWriter = nullptr; // none: nothing is reported to the Event Log
};

// The machine the process-wide objects (log, settings, helpers) talk to. Installed once
// by the entry point; tests install a simulated one for their own duration.
Machine& CurrentMachine();
void InstallMachine(Machine* machine);

class ScopedMachine {
public:
    explicit ScopedMachine(Machine& machine);
    ~ScopedMachine();
    ScopedMachine(const ScopedMachine&) = delete;
    ScopedMachine& operator=(const ScopedMachine&) = delete;

private:
    Machine* previous_;
};

} // namespace platform
