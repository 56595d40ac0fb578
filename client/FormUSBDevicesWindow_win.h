#pragma once
#include "client/window/Window_win.h"

#include <commctrl.h>

#include "client/FormUSBDevicesUnit.h"

// The device list window on screen: the tree of USB storage drives, the five buttons and
// the context menu. A node's device travels in its tree item's data, owned by the form's
// DeviceCopies.
class FormUSBDevicesWindow : public ui::Window, private TFormUSBDevices::View {
public:
    static constexpr const char* kClassName = "TFormUSBDevices";
    enum ControlId {
        kTreeViewDevices = 100,
        kButtonClose = 101,
        kButtonRefresh = 102,
        kButtonAbout = 103,
        kButtonBrowse = 104,
        kButtonEject = 105,
        kEject1 = 201,
        kBrowse1 = 202,
    };

    FormUSBDevicesWindow() = default;
    ~FormUSBDevicesWindow() override;

    // Creates the window hidden, with its list already filled. False when the window
    // could not be created (the log says why).
    bool Create(HWND owner);
    TFormUSBDevices& Form() { return form_; }

private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void Layout() override;
    void OnCommand(int id, int notification) override;
    void OnDestroy() override;
    LRESULT OnTreeNotify(const NMHDR& header);
    void SelectNodeUnderPointer();
    void ShowContextMenu(LPARAM position);
    void RebuildImageList();
    HTREEITEM Root() const;

    // TFormUSBDevices::View
    void DeleteRootChildren() override;
    TFormUSBDevices::NodeId AddRootChild(const std::string& text, int imageIndex) override;
    void SetNodeDevice(TFormUSBDevices::NodeId node, TDevice* device) override;
    TFormUSBDevices::Selection Selected() override;
    void SetEjectEnabled(bool enabled) override;
    void SetBrowseEnabled(bool enabled) override;
    void ProcessMessages() override;
    void ExpandTree() override;
    std::string Caption() override { return Window::Caption(); }
    void SetCaption(const std::string& caption) override { Window::SetCaption(caption); }
    void SetStayOnTop(bool stayOnTop) override { Window::SetStayOnTop(stayOnTop); }
    void Close() override { Window::Close(); }
    void ShowAbout() override;
    ShellOutcome RunExplorerAsUser(const std::string& path) override;
    void ShowMessage(const std::string& text) override;
    bool RegisterSessionNotification() override;
    void UnregisterSessionNotification() override;

    TFormUSBDevices form_{*this};
    HWND tree_ = nullptr;
    HIMAGELIST images_ = nullptr;
    HWND buttonAbout_ = nullptr;
    HWND buttonEject_ = nullptr;
    HWND buttonBrowse_ = nullptr;
    HWND buttonRefresh_ = nullptr;
    HWND buttonClose_ = nullptr;
};
