#pragma once
#include "platform/Machine.h"

// The machine the whole process runs against, installed by WinMain before anything else.
// The shipped program gets the real operating system; the simulated-devices test variant
// links another definition that swaps in simulated drives and devices.
platform::Machine& ProcessMachine();
