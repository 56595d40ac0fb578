#include "devices/DeviceEjectUnit.h"

#include "platform/SetupApi.h"
#include "foundation/LogUnit.h"
#include "foundation/SettingsUnit.h"
#include "platform/Machine.h"

namespace {
const char* const kErrorCaption = "Error"; // the standard title of an error box
const char* const kNoRequestLine = "Eject request not sent: the device was not found";
} // namespace

void EjectDevice(std::uint32_t devInst, bool ShowVeto) {
    if (devInst == 0) {
        return;
    }
    auto& machine = platform::CurrentMachine();
    // Only the veto type tells anything useful: the result code is not examined.
    const platform::EjectResult result = machine.deviceSetup->RequestDeviceEject(devInst, ShowVeto);
    if (ShowVeto && result.vetoType != SetupApi::kVetoTypeUnknown) {
        machine.session->ShowErrorMessage(kErrorCaption, kEjectVetoedText);
    }
}

bool EjectDrive(const TDevice& device) {
    const auto parent = device.FindParent(1);
    const bool debug = Settings().Debug() && Log != nullptr;
    if (debug) {
        Log->DebugBegin();
        Log->AddFmt("Eject request voor device %s", {device.DriveLetter()});
        Log->AddFmt("DevInst = %d", {static_cast<std::int32_t>(device.DevInst())});
        Log->AddFmt("DevInst parent = %d", {static_cast<std::int32_t>(parent.value_or(0))});
        if (!parent) {
            Log->Add(kNoRequestLine);
        }
        Log->DebugEnd();
    }
    if (!parent) {
        return false;
    }
    EjectDevice(*parent, true);
    return true;
}
