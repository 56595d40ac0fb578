#pragma once
#include <cstdint>
#include <string_view>

#include "devices/BlockerEvent.h"
#include "devices/DeviceUnit.h"
#include "devices/EjectBlockersUnit.h"

// Asks the configuration manager to eject the device. With ShowVeto a veto is reported
// in an error box; without it the system itself tells the user the outcome. A device
// instance of 0 names no device: nothing is sent.
//
// After a veto the box names the programs that the System log says blocked it (with as
// much as `detail` allows), and with a drive letter the log gets "Eject of E: refused"
// and the programs' names.
void EjectDevice(std::uint32_t devInst, bool ShowVeto, BlockerDetail detail = BlockerDetail::Full,
                 std::string_view driveLetter = {});

// The device list window's Eject command for a drive's record: ejects the device the
// drive's disk belongs to (its parent). Sends nothing when the disk's device instance or
// its parent is unknown; in debug mode the log says what was asked and what was done.
// Returns whether a request was sent.
bool EjectDrive(const TDevice& device, BlockerDetail detail = BlockerDetail::Full);
