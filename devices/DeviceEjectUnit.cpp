#include "devices/DeviceEjectUnit.h"

#include "foundation/EventReportUnit.h"
#include "foundation/LogUnit.h"
#include "foundation/SettingsUnit.h"
#include "platform/Machine.h"
#include "platform/SetupApi.h"

namespace {
const char* const kErrorCaption = "Error"; // the standard title of an error box
const char* const kNoRequestLine = "Eject request not sent: the device was not found";
} // namespace

void EjectDevice(std::uint32_t devInst, bool ShowVeto, BlockerDetail detail,
                 std::string_view driveLetter) {
    if (devInst == 0) {
        return;
    }
    auto& machine = platform::CurrentMachine();
    const std::uint64_t requestStart = machine.clock->TickCount();
    // Only the veto type tells anything useful: the result code is not examined.
    const platform::EjectResult result = machine.deviceSetup->RequestDeviceEject(devInst, ShowVeto);
    if (!ShowVeto || result.vetoType == SetupApi::kVetoTypeUnknown) {
        return;
    }
    const auto blockers = FindEjectBlockers(devInst, requestStart, detail, driveLetter);
    if (!driveLetter.empty()) {
        if (Log != nullptr) {
            Log->Add(VetoLogLine(driveLetter, blockers));
        }
        ReportToEventLog(platform::EventType::Warning, kEventEjectRefused,
                         VetoEventText(driveLetter, blockers));
    }
    machine.session->ShowErrorMessage(kErrorCaption, VetoBoxText(blockers));
}

bool EjectDrive(const TDevice& device, BlockerDetail detail) {
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
    EjectDevice(*parent, true, detail, device.DriveLetter());
    return true;
}
