#pragma once
#include <cstdint>

#include "devices/DeviceUnit.h"

// Shown when a process blocks the ejection.
inline constexpr const char* kEjectVetoedText =
    "Unable to eject the device. There is a process active that blocks the ejection.";

// Asks the configuration manager to eject the device. With ShowVeto a veto is reported
// in an error box; without it the system itself tells the user the outcome. A device
// instance of 0 names no device: nothing is sent.
void EjectDevice(std::uint32_t devInst, bool ShowVeto);

// The device list window's Eject command for a drive's record: ejects the device the
// drive's disk belongs to (its parent). Sends nothing when the disk's device instance or
// its parent is unknown; in debug mode the log says what was asked and what was done.
// Returns whether a request was sent.
bool EjectDrive(const TDevice& device);
