#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "client/ShellOutcome.h"
#include "devices/DeviceUnit.h"

struct TDriveAnswer;

// The device list window: the USB storage drives as a tree (one root for the computer,
// one child per drive), and the records the tray monitor counts before it warns. All its
// decisions live here; the Win32 view shows the tree and reports the user's actions.
class TFormUSBDevices {
public:
    // A tree item as the view knows it.
    using NodeId = std::uintptr_t;

    // The selected node, if any, and the device it carries (none for the root and the
    // placeholder node).
    struct Selection {
        bool exists = false;
        TDevice* device = nullptr;
    };

    struct PopupState {
        bool ejectEnabled = false;
        bool browseEnabled = false;
    };

    class View {
    public:
        virtual ~View() = default;
        virtual void DeleteRootChildren() = 0;
        virtual NodeId AddRootChild(const std::string& text, int imageIndex) = 0;
        // The node's Device; the node does not own it, DeviceCopies does.
        virtual void SetNodeDevice(NodeId node, TDevice* device) = 0;
        virtual Selection Selected() = 0;
        virtual void SetEjectEnabled(bool enabled) = 0;
        virtual void SetBrowseEnabled(bool enabled) = 0;
        // Lets the application handle all pending window messages once.
        virtual void ProcessMessages() = 0;
        // Expands the topmost node and everything below it.
        virtual void ExpandTree() = 0;
        virtual std::string Caption() = 0;
        virtual void SetCaption(const std::string& caption) = 0;
        virtual void SetStayOnTop(bool stayOnTop) = 0;
        virtual void Close() = 0;
        // Creates the About window, brings the application to the front, shows it
        // modally and frees it when it closes.
        virtual void ShowAbout() = 0;
        // Has the desktop's shell start Explorer from the Windows folder as the user, on
        // the path when there is one.
        virtual ShellOutcome RunExplorerAsUser(const std::string& path) = 0;
        // A message box with OK, owned by the window.
        virtual void ShowMessage(const std::string& text) = 0;
        // Session-change notifications of the window's own session.
        virtual bool RegisterSessionNotification() = 0;
        virtual void UnregisterSessionNotification() = 0;
    };

    explicit TFormUSBDevices(View& view) : view_(view) {}
    TFormUSBDevices(const TFormUSBDevices&) = delete;
    TFormUSBDevices& operator=(const TFormUSBDevices&) = delete;

    // Registers a helper for session notifications, fills the list (even while the
    // window stays hidden) and saves the base caption. May raise what the device model
    // raises; the caption is saved all the same.
    void FormCreate();
    // Each time the window is shown.
    void FormShow();
    void FormDestroy();

    // Rebuilds DeviceCopies and the tree from a fresh list of all logical drives. When
    // the device model raises, the tree keeps the nodes added so far, DeviceCopies the
    // records completed so far, and the exception goes on to the window's boundary.
    // The drives are queried on a worker, waited for with a bound (DriveQueries.h). A
    // drive that does not answer in time gets an event line in the log and is listed
    // conservatively: with its last known record when it was listed before, by its
    // letter and counted as holding a medium when it was not there before, not at all
    // when it was there but not listed.
    void RefreshDevices();
    // Whether the record counts as USB storage holding a medium: its size, or a drive
    // that did not answer and is presumed to hold one.
    bool CountsAsMedium(const TDevice& device) const;

    void EjectCommand();
    void BrowseCommand();
    PopupState PopupMenuPopup();
    void TreeSelectionChanged(const Selection& selection);
    // WM_DEVICECHANGE with its event code.
    void DeviceChange(std::uint32_t event);
    // WM_SIZE with SIZE_MINIMIZED.
    void Minimized() { view_.Close(); }
    void ButtonRefreshClick() { RefreshDevices(); }
    void ButtonCloseClick() { view_.Close(); }
    void ButtonAboutClick() { view_.ShowAbout(); }

    // One record per drive node, in tree order; read by the tray monitor.
    const std::vector<std::unique_ptr<TDevice>>& DeviceCopies() const { return deviceCopies_; }
    const std::string& BaseCaption() const { return baseCaption_; }

private:
    // Gives a USB drive's node the copy queried for it, or keeps its record there when the
    // drive did not answer again; raises what the copy raised.
    void SettleCopy(NodeId node, std::size_t slot, TDriveAnswer& copy);
    void AddSilentDriveNode(char letter, std::map<char, std::unique_ptr<TDevice>>& lastKnown,
                            const std::set<char>& presumedBefore,
                            const std::set<char>& presentBefore);

    View& view_;
    std::vector<std::unique_ptr<TDevice>> deviceCopies_;
    std::set<const TDevice*> presumedMedium_; // copies of drives that did not answer
    std::set<char> presentDrives_;            // the drives of the last refresh
    std::string baseCaption_;
    bool sessionNotificationRegistered_ = false;
};

inline constexpr const char* kDevicesCaption = "Driveward";
inline constexpr const char* kRootNodeText = "My Computer - Mass Storage Devices";
inline constexpr const char* kNoDevicesText = "No devices detected.";
inline constexpr const char* kExplorerUnavailable =
    "Explorer could not be opened as you, and Driveward does not open it as administrator.";
inline constexpr const char* kExplorerLate =
    "Explorer did not open in time. It may still open as you; Driveward does not open it as "
    "administrator.";
inline constexpr int kComputerImage = 0;
inline constexpr int kDriveImage = 1;
inline constexpr std::uint32_t kDeviceArrival = 0x8000;        // DBT_DEVICEARRIVAL
inline constexpr std::uint32_t kDeviceRemoveComplete = 0x8004; // DBT_DEVICEREMOVECOMPLETE
