#pragma once
#include "devices/DevicesUnit.h"

// The list the device list window builds: every logical drive, exactly as TDevices.
// Its users take a record as USB storage when its DeviceHotplug flag is set.
class TUSBDevices : public TDevices {
public:
    TUSBDevices() = default;
};
