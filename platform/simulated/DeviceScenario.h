#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/simulated/SimulatedDevices.h"

namespace platform {

// A device scenario: the drives of a simulated machine written as text, one drive a line,
// for the simulated-devices build of Driveward.exe (and its tests).
//
//     # letter  kind        total-MB  used-MB  label      options
//     C:        fixed       476940    120000   SYSTEM
//     E:        stick       980       12.5     BACKUP
//     F:        cardreader
//     G:        stick       7640      3100     "MY PHOTOS" veto
//
// - kind: `fixed` (the system disk: DRIVE_FIXED, not hot-pluggable, no parent device, so
//   nothing is ever sent to eject it), `stick` (removable, device hot-plug), `usbdisk`
//   (DRIVE_FIXED but device hot-plug), `cardreader` (removable, hot-plug).
// - Sizes in MiB (1024 * 1024 bytes), decimals allowed. Without the two sizes the drive has
//   no volume (an empty card-reader slot, an unformatted stick): the volume and space
//   requests fail as on a drive that is not ready. Used may not exceed the total.
// - label: printable ASCII, at most kMaxScenarioLabel characters; in double quotes it may
//   hold blanks, be an option word or start with a digit. Optional.
// - options: `veto` (the drive's USB device refuses to be ejected), `veto=IMAGE:PID` (it
//   refuses, and the refusal writes an event 225 naming the program IMAGE, at most
//   kMaxScenarioProgram characters without "\", in kBlockerFolder, with process id PID,
//   into the simulated System log), `lookup-fault` (the setup interfaces fail while
//   looking for the drive's disk, so a refresh raises EOSError), `hang=SECONDS` (every
//   storage request to the drive blocks that long: a stick that stopped answering; 1 to
//   kMaxScenarioHangSeconds).
// - `#` starts a comment, up to the end of the line. Blank lines are ignored.
//
// The text is untrusted: a line that does not follow these rules (unknown kind or option,
// bad number, a letter given twice, control bytes, more than kMaxScenarioLine bytes) is
// skipped and counted, and only the first kMaxScenarioBytes bytes are read.
inline constexpr std::size_t kMaxScenarioBytes = 64 * 1024;
inline constexpr std::size_t kMaxScenarioLine = 256;
inline constexpr std::size_t kMaxScenarioLabel = 32;
inline constexpr std::size_t kMaxScenarioProgram = 64;
// The folder of a `veto=` program: on the volume of the scenario's first drive.
inline constexpr const char* kBlockerFolder = "\\Device\\HarddiskVolume1\\Program Files\\";
inline constexpr std::uint32_t kMaxScenarioHangSeconds = 3600;

struct DeviceScenarioResult {
    int drives = 0;
    int skippedLines = 0;
};

// Replaces the drives, disk interfaces, device tree, vetoes and setup faults of `devices`
// with the scenario's. Call counters and open handles are left alone.
DeviceScenarioResult LoadDeviceScenario(std::string_view text, SimulatedDevices& devices);

// What the system does once a device has gone: takes away every drive whose disk lies
// below `devInst` in the device tree. Returns the letters taken away, in order.
std::string RemoveDrivesBelow(SimulatedDevices& devices, std::uint32_t devInst);

} // namespace platform
