#include "client/FormUSBDevicesUnit.h"

#include <map>

#include "client/EntrySequence.h"
#include "devices/DeviceEjectUnit.h"
#include "devices/DriveQueries.h"
#include "foundation/FunctionsUnit.h"
#include "foundation/LogUnit.h"
#include "foundation/SettingsUnit.h"
#include "platform/Machine.h"

namespace {

constexpr int kDriveLetters = 26;                             // bits above Z are not drives
constexpr std::size_t kNoCopy = static_cast<std::size_t>(-1); // a drive without a USB node

// The event line for a drive that did not answer within the bound.
void LogNotAnswering(char letter, const TDriveAnswer& answer) {
    if (Log == nullptr) {
        return;
    }
    const std::string drive = std::string(1, letter) + ":";
    Log->Add(answer.pendingRequest.empty()
                 ? "Drive " + drive + " not queried: the device check ran out of time."
                 : "Drive " + drive + " does not answer: " + answer.pendingRequest +
                       " is still pending.");
}

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

bool TFormUSBDevices::CountsAsMedium(const TDevice& device) const {
    return device.StorageTotal() > 0 || presumedMedium_.count(&device) != 0;
}

namespace {
std::string NodeText(const TDevice& record) {
    return record.DriveLetter() + ":" + " " + record.VolumeName() +
           " (Total: " + record.StorageTotalAsText() + " / Used: " + record.StorageUsedAsText() +
           ")";
}
} // namespace

void TFormUSBDevices::RefreshDevices() {
    // Every drive is queried in full on a worker, the GUI thread waiting with a bound:
    // the same records as TUSBDevices::Refresh whenever every drive answers in time. The
    // worker's thread gets going while the list is cleared.
    TDriveQueryRound round;
    view_.DeleteRootChildren();
    // The deleted nodes referred to these records. They are what the list last knew of
    // its drives: a drive that does not answer now is shown and counted as it was then.
    std::map<char, std::unique_ptr<TDevice>> lastKnown;
    std::set<char> presumedBefore;
    for (auto& copy : deviceCopies_) {
        const char letter = copy->DriveLetter()[0];
        if (presumedMedium_.count(copy.get()) != 0) {
            presumedBefore.insert(letter);
        }
        lastKnown[letter] = std::move(copy);
    }
    deviceCopies_.clear();
    presumedMedium_.clear();
    view_.SetEjectEnabled(false);
    view_.SetBrowseEnabled(!StartedAsHelper);

    std::vector<std::pair<char, TDriveAnswer>> devices;
    Finally guard([this, &devices] {
        devices.clear();
        view_.ExpandTree();
    });
    const std::uint32_t drives = platform::CurrentMachine().storage->LogicalDrives();
    std::string letters;
    for (int index = 0; index < kDriveLetters; ++index) {
        if ((drives >> index & 1u) != 0) {
            letters += static_cast<char>('A' + index);
        }
    }
    auto answers = round.QueryAll(letters);
    for (std::size_t index = 0; index < answers.size(); ++index) {
        devices.emplace_back(letters[index], std::move(answers[index]));
    }
    if (!devices.empty() && devices.back().second.error) {
        // As the list does: the records before it stay, the exception goes on.
        std::rethrow_exception(devices.back().second.error);
    }
    const std::set<char> present(letters.begin(), letters.end());
    const std::set<char> presentBefore = std::move(presentDrives_);
    presentDrives_ = present;
    const bool debug = DebugLogging();
    if (debug) {
        Log->DebugBegin();
        Log->AddFmt("Doing refresh: drives found: %d", {static_cast<int>(devices.size())});
        Log->DebugEnd();
    }
    // The nodes first, in order; then every USB drive's copy is asked for in one go, each
    // once its node is in the tree (the same requests, in the same order, as one at a
    // time), so that the GUI thread waits for the worker once instead of once per drive.
    // Until its copy answers, a drive's node stands on its record.
    std::vector<std::size_t> copySlots(devices.size(), kNoCopy);
    std::vector<NodeId> nodes(devices.size());
    std::vector<const TDevice*> records(devices.size(), nullptr);
    std::string copyLetters;
    for (std::size_t index = 0; index < devices.size(); ++index) {
        auto& [letter, answer] = devices[index];
        if (!answer.answered) {
            AddSilentDriveNode(letter, lastKnown, presumedBefore, presentBefore);
            continue;
        }
        records[index] = answer.device.get();
        if (answer.device->DeviceHotplug()) {
            nodes[index] = view_.AddRootChild(NodeText(*answer.device), kDriveImage);
            copySlots[index] = deviceCopies_.size();
            deviceCopies_.push_back(std::move(answer.device));
            copyLetters += letter;
        }
    }
    // The stand-ins of drives whose copy was not taken (one raised) go with the raise: their
    // nodes keep their text without a device, as a copy that raises always left them.
    std::size_t unsettled = 0;
    Finally dropUnsettled([this, &copySlots, &unsettled] {
        for (std::size_t index = copySlots.size(); index-- > unsettled;) {
            if (copySlots[index] != kNoCopy) {
                deviceCopies_.erase(deviceCopies_.begin() +
                                    static_cast<std::ptrdiff_t>(copySlots[index]));
            }
        }
    });
    std::vector<TDriveAnswer> copies;
    if (!copyLetters.empty()) {
        copies = round.QueryAll(copyLetters);
    }
    // The log lines and the exceptions, in the order of the drives.
    std::size_t nextCopy = 0;
    for (std::size_t index = 0; index < devices.size(); ++index) {
        const auto& [letter, answer] = devices[index];
        if (!answer.answered) {
            LogNotAnswering(letter, answer);
            unsettled = index + 1;
            continue;
        }
        if (debug) {
            Log->AddFmt("Drive info: %s", {records[index]->GetDriveInfo()});
        }
        if (copySlots[index] != kNoCopy) {
            if (debug) {
                Log->DebugEnd();
            }
            SettleCopy(nodes[index], copySlots[index], copies.at(nextCopy++));
        } else if (debug) {
            Log->AddFmt("Drive %s is not removable and therefore skipped.",
                        {records[index]->GetDriveInfo()});
            Log->DebugEnd();
        }
        unsettled = index + 1;
    }
    if (deviceCopies_.empty()) {
        view_.AddRootChild(kNoDevicesText, kDriveImage);
    }
    // A device change or a click handled here may run a whole second refresh, which
    // rebuilds the tree and DeviceCopies; this one then only frees its own list.
    view_.ProcessMessages();
}

void TFormUSBDevices::SettleCopy(NodeId node, std::size_t slot, TDriveAnswer& copy) {
    // The copy queried the drive afresh, once its node was there, and may have raised; the
    // node then keeps its text without a device.
    if (copy.error) {
        std::rethrow_exception(copy.error);
    }
    if (copy.answered) {
        deviceCopies_[slot] = std::move(copy.device);
    } else {
        // The record answered a moment ago: it stands for the copy.
        LogNotAnswering(deviceCopies_[slot]->DriveLetter()[0], copy);
    }
    view_.SetNodeDevice(node, deviceCopies_[slot].get());
}

void TFormUSBDevices::AddSilentDriveNode(char letter,
                                         std::map<char, std::unique_ptr<TDevice>>& lastKnown,
                                         const std::set<char>& presumedBefore,
                                         const std::set<char>& presentBefore) {
    const auto known = lastKnown.find(letter);
    if (known != lastKnown.end()) {
        // Listed before: its last known record, with its device for Eject.
        std::unique_ptr<TDevice> record = std::move(known->second);
        const NodeId node = view_.AddRootChild(
            presumedBefore.count(letter) != 0 ? record->DriveLetter() + ":" : NodeText(*record),
            kDriveImage);
        view_.SetNodeDevice(node, record.get());
        if (presumedBefore.count(letter) != 0) {
            presumedMedium_.insert(record.get());
        }
        deviceCopies_.push_back(std::move(record));
    } else if (presentBefore.count(letter) == 0) {
        // New: counted as USB storage with a medium, shown by its letter; its device is
        // unknown, so the node carries none and Eject stays off.
        auto record = std::make_unique<TDevice>(std::string(1, letter));
        view_.AddRootChild(record->DriveLetter() + ":", kDriveImage);
        presumedMedium_.insert(record.get());
        deviceCopies_.push_back(std::move(record));
    }
    // Present before but not listed (not USB storage then): it counts as it was.
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
    const ShellOutcome outcome = view_.RunExplorerAsUser(path);
    if (outcome != ShellOutcome::Opened) {
        const std::string text =
            outcome == ShellOutcome::Late ? kExplorerLate : kExplorerUnavailable;
        view_.ShowMessage(path.empty() ? text : text + " The drive is " + path + ".");
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
