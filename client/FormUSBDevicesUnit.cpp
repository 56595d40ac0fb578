#include "client/FormUSBDevicesUnit.h"

#include "client/EntrySequence.h"
#include "devices/DeviceEjectUnit.h"
#include "devices/USBDevicesUnit.h"
#include "foundation/FunctionsUnit.h"
#include "foundation/LogUnit.h"
#include "foundation/SettingsUnit.h"

namespace {

bool DebugLogging() {
    return Settings().Debug() && Log != nullptr;
}

// Runs the action when the scope is left, by return or by exception.
template <typename Action> class Finally {
public:
    explicit Finally(Action action) : action_(action) {}
    ~Finally() { action_(); }
    Finally(const Finally&) = delete;
    Finally& operator=(const Finally&) = delete;

private:
    Action action_;
};

} // namespace

void TFormUSBDevices::FormCreate() {
    if (StartedAsHelper) {
        // The window does not react to these notifications; the registration is undone
        // at destruction only when it succeeded.
        sessionNotificationRegistered_ = view_.RegisterSessionNotification();
    }
    deviceCopies_.clear();
    // The caption is not touched by a refresh; saving it on the way out keeps it saved
    // when the device model raises.
    Finally saveCaption([this] { baseCaption_ = view_.Caption(); });
    RefreshDevices();
}

void TFormUSBDevices::FormShow() {
    if (Settings().Debug()) {
        // Built from the saved caption, so showing the window again does not grow it.
        view_.SetCaption(baseCaption_ + " - (Versie: " + GetAppVersion() + ")");
    }
    if (!StartedAsHelper) {
        // The tray monitor puts it on top just before showing it; from then on it
        // behaves as an ordinary window. A helper stays on top over the locked session.
        view_.SetStayOnTop(false);
    }
}

void TFormUSBDevices::FormDestroy() {
    deviceCopies_.clear();
    if (sessionNotificationRegistered_) {
        view_.UnregisterSessionNotification();
        sessionNotificationRegistered_ = false;
    }
}

void TFormUSBDevices::RefreshDevices() {
    view_.DeleteRootChildren();
    deviceCopies_.clear(); // the deleted nodes referred to these records
    view_.SetEjectEnabled(false);
    view_.SetBrowseEnabled(!StartedAsHelper);

    auto devices = std::make_unique<TUSBDevices>();
    Finally guard([this, &devices] {
        devices.reset();
        view_.ExpandTree();
    });
    devices->Refresh();
    const bool debug = DebugLogging();
    if (debug) {
        Log->DebugBegin();
        Log->AddFmt("Doing refresh: drives found: %d", {devices->Count()});
        Log->DebugEnd();
    }
    for (int index = 0; index < devices->Count(); ++index) {
        const TDevice& record = devices->Items(index);
        if (debug) {
            Log->AddFmt("Drive info: %s", {record.GetDriveInfo()});
        }
        if (record.DeviceHotplug()) {
            if (debug) {
                Log->DebugEnd();
            }
            AddDriveNode(record);
        } else if (debug) {
            Log->AddFmt("Drive %s is not removable and therefore skipped.",
                        {record.GetDriveInfo()});
            Log->DebugEnd();
        }
    }
    if (deviceCopies_.empty()) {
        view_.AddRootChild(kNoDevicesText, kDriveImage);
    }
    // A device change or a click handled here may run a whole second refresh, which
    // rebuilds the tree and DeviceCopies; this one then only frees its own list.
    view_.ProcessMessages();
}

void TFormUSBDevices::AddDriveNode(const TDevice& record) {
    const NodeId node = view_.AddRootChild(record.DriveLetter() + ":" + " " + record.VolumeName() +
                                               " (Total: " + record.StorageTotalAsText() +
                                               " / Used: " + record.StorageUsedAsText() + ")",
                                           kDriveImage);
    // The copy queries the drive afresh and may raise; the node then keeps its text
    // without a device.
    auto copy = std::make_unique<TDevice>(record.DriveLetter());
    copy->Assign(&record);
    view_.SetNodeDevice(node, copy.get());
    deviceCopies_.push_back(std::move(copy));
}

void TFormUSBDevices::EjectCommand() {
    const Selection selection = view_.Selected();
    if (!selection.exists || selection.device == nullptr) {
        return;
    }
    view_.SetEjectEnabled(false); // until the selection changes
    // Sends nothing when the device instance or its parent is unknown: an ejection is
    // never aimed at a device that was not found. A veto is shown in an error box; a
    // helper may be on the secure desktop, where the box names the blocking program only.
    EjectDrive(*selection.device, StartedAsHelper ? BlockerDetail::NameOnly : BlockerDetail::Full);
}

void TFormUSBDevices::BrowseCommand() {
    // Never from a helper: it may run as SYSTEM over the locked session, and Explorer
    // would hand the person at the keyboard a shell. The controls are disabled there too.
    if (StartedAsHelper) {
        return;
    }
    const Selection selection = view_.Selected();
    if (!selection.exists) {
        return;
    }
    const std::string path =
        selection.device != nullptr ? selection.device->DriveLetter() + ":\\" : std::string();
    // The tray monitor runs elevated: Explorer is started by the desktop's shell, as the
    // user, or not at all.
    if (!view_.RunExplorerAsUser(path)) {
        view_.ShowMessage(path.empty()
                              ? kExplorerUnavailable
                              : std::string(kExplorerUnavailable) + " The drive is " + path + ".");
    }
}

TFormUSBDevices::PopupState TFormUSBDevices::PopupMenuPopup() {
    const Selection selection = view_.Selected();
    return {selection.exists && selection.device != nullptr, !StartedAsHelper};
}

void TFormUSBDevices::TreeSelectionChanged(const Selection& selection) {
    view_.SetEjectEnabled(selection.exists && selection.device != nullptr);
}

void TFormUSBDevices::DeviceChange(std::uint32_t event) {
    // In the tray monitor's session the tray form refreshes the list itself.
    if (StartedAsHelper && (event == kDeviceArrival || event == kDeviceRemoveComplete)) {
        RefreshDevices();
    }
}
