#include "platform/Machine.h"

#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {
Machine* installed = nullptr;
}

Machine& CurrentMachine() {
    if (installed == nullptr) {
        // A programming error: nothing may reach the OS before the entry point set it up.
        std::fputs("No machine installed\n", stderr);
        std::abort();
    }
    return *installed;
}

void InstallMachine(Machine* machine) {
    installed = machine;
}

ScopedMachine::ScopedMachine(Machine& machine) : previous_(installed) {
    installed = &machine;
}
ScopedMachine::~ScopedMachine() {
    installed = previous_;
}

} // namespace platform
