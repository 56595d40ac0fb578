#include "client/FormUSBDevicesWindow_win.h"

#include <shellapi.h>
#include <windowsx.h>

#include <cstring>
#include <string>

#include "client/FormAboutWindow_win.h"
#include "client/window/ErrorDisplay_win.h"
#include "client/window/MessageLoop_win.h"
#include "client/window/ShellAsUser_win.h"
#include "client/window/SystemText_win.h"
#include "foundation/GetWinVersionInfoUnit.h"

namespace {

constexpr int kClientWidth = 653;
constexpr int kClientHeight = 203;
constexpr int kPanelHeight = 41;
constexpr int kButtonTop = 6;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kTreeIndent = 35;
constexpr int kImageSize = 16;
// Eject, Browse, Refresh and Close keep their distance from the panel's right edge.
constexpr int kEjectFromRight = kClientWidth - 297;
constexpr int kBrowseFromRight = kClientWidth - 378;
constexpr int kRefreshFromRight = kClientWidth - 483;
constexpr int kCloseFromRight = kClientWidth - 564;
constexpr int kAboutLeft = 8;
constexpr std::uint32_t kNotifyForThisSession = 0;

HICON TreeIcon(const char* name, int size) {
    return static_cast<HICON>(
        ::LoadImageA(::GetModuleHandleA(nullptr), name, IMAGE_ICON, size, size, 0));
}

TDevice* DeviceOf(LPARAM itemData) {
    return reinterpret_cast<TDevice*>(itemData);
}

} // namespace

FormUSBDevicesWindow::~FormUSBDevicesWindow() {
    Destroy();
    if (images_ != nullptr) {
        ImageList_Destroy(images_);
    }
}

bool FormUSBDevicesWindow::Create(HWND owner) {
    if (!Window::Create(kClassName, kDevicesCaption,
                        WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX,
                        0, owner)) {
        return false;
    }
    // Read-only labels (no edit control), whole-row selection, no lines or button at the
    // root level. No item tooltips: the texts fit, and under Wine a window that owns a
    // stay-on-top tooltip loses its own stay-on-top style.
    tree_ = AddControl(WC_TREEVIEWA, "",
                       WS_TABSTOP | WS_BORDER | TVS_HASBUTTONS | TVS_SHOWSELALWAYS |
                           TVS_FULLROWSELECT | TVS_NOTOOLTIPS,
                       kTreeViewDevices, {11});
    // Created in their tab order: Close, Refresh, About, Browse, Eject.
    const DWORD button = BS_PUSHBUTTON | WS_TABSTOP;
    buttonClose_ = AddControl("BUTTON", "Close", button, kButtonClose, {11});
    buttonRefresh_ = AddControl("BUTTON", "Refresh", button, kButtonRefresh, {11});
    buttonAbout_ = AddControl("BUTTON", "About", button, kButtonAbout, {11});
    buttonBrowse_ = AddControl("BUTTON", "Browse", button, kButtonBrowse, {11});
    buttonEject_ = AddControl("BUTTON", "Eject", button, kButtonEject, {11});
    RebuildImageList();
    TVINSERTSTRUCTA root = {};
    root.hParent = TVI_ROOT;
    root.hInsertAfter = TVI_LAST;
    root.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
    root.item.pszText = const_cast<char*>(kRootNodeText);
    root.item.iImage = kComputerImage;
    root.item.iSelectedImage = kComputerImage;
    ::SendMessageA(tree_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&root));
    SetClientSize96(kClientWidth, kClientHeight);
    // A device model that raises here leaves a usable window with the nodes it got to;
    // the error is shown as any other.
    ui::Guarded([this] { form_.FormCreate(); });
    return true;
}

void FormUSBDevicesWindow::RebuildImageList() {
    const int size = Scale(kImageSize);
    const HIMAGELIST images = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 2, 0);
    // Image 0 the computer (the root), image 1 a drive.
    for (const char* name : {"COMPUTERICON", "DRIVEICON"}) {
        const HICON icon = TreeIcon(name, size);
        ImageList_AddIcon(images, icon);
        if (icon != nullptr) {
            ::DestroyIcon(icon);
        }
    }
    ::SendMessageA(tree_, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(images));
    if (images_ != nullptr) {
        ImageList_Destroy(images_);
    }
    images_ = images;
    ::SendMessageA(tree_, TVM_SETINDENT, static_cast<WPARAM>(Scale(kTreeIndent)), 0);
}

void FormUSBDevicesWindow::Layout() {
    RECT client;
    ::GetClientRect(Handle(), &client);
    if (client.right == 0 || tree_ == nullptr) {
        return; // minimised
    }
    const int panelTop = client.bottom - Scale(kPanelHeight);
    Place(tree_, 0, 0, client.right, panelTop);
    const int top = panelTop + Scale(kButtonTop);
    const int width = Scale(kButtonWidth);
    const int height = Scale(kButtonHeight);
    Place(buttonAbout_, Scale(kAboutLeft), top, width, height);
    Place(buttonEject_, client.right - Scale(kEjectFromRight), top, width, height);
    Place(buttonBrowse_, client.right - Scale(kBrowseFromRight), top, width, height);
    Place(buttonRefresh_, client.right - Scale(kRefreshFromRight), top, width, height);
    Place(buttonClose_, client.right - Scale(kCloseFromRight), top, width, height);
}

LRESULT FormUSBDevicesWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NOTIFY: {
        const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
        if (header.hwndFrom == tree_) {
            return OnTreeNotify(header);
        }
        break;
    }
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) == tree_) {
            ShowContextMenu(lParam);
            return 0;
        }
        break;
    case WM_SHOWWINDOW:
        if (wParam != FALSE) {
            form_.FormShow();
        }
        break;
    case WM_DEVICECHANGE:
        form_.DeviceChange(static_cast<std::uint32_t>(wParam));
        break; // then the default handling
    case WM_SIZE:
        if (wParam == SIZE_MINIMIZED) {
            form_.Minimized();
        }
        break;
    case WM_DPICHANGED: {
        const LRESULT result = Window::HandleMessage(message, wParam, lParam);
        RebuildImageList();
        return result;
    }
    default:
        break;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

LRESULT FormUSBDevicesWindow::OnTreeNotify(const NMHDR& header) {
    switch (header.code) {
    case TVN_ITEMEXPANDINGA:
    case TVN_ITEMEXPANDINGW: {
        // Collapse refused: the tree stays expanded.
        const auto& change = reinterpret_cast<const NMTREEVIEWA&>(header);
        return (change.action & TVE_COLLAPSE) != 0 ? TRUE : FALSE;
    }
    case TVN_SELCHANGEDA:
    case TVN_SELCHANGEDW: {
        // Both forms carry the new item's handle and data at the same place.
        const auto& change = reinterpret_cast<const NMTREEVIEWA&>(header);
        form_.TreeSelectionChanged(
            {change.itemNew.hItem != nullptr, DeviceOf(change.itemNew.lParam)});
        return 0;
    }
    case NM_RCLICK:
        SelectNodeUnderPointer();
        return 0; // the tree then sends WM_CONTEXTMENU
    default:
        return 0;
    }
}

void FormUSBDevicesWindow::SelectNodeUnderPointer() {
    TVHITTESTINFO hit = {};
    ::GetCursorPos(&hit.pt);
    ::ScreenToClient(tree_, &hit.pt);
    const auto item = reinterpret_cast<HTREEITEM>(
        ::SendMessageA(tree_, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (item != nullptr && (hit.flags & (TVHT_ONITEM | TVHT_ONITEMRIGHT | TVHT_ONITEMINDENT |
                                         TVHT_ONITEMBUTTON)) != 0) {
        ::SetFocus(tree_);
        ::SendMessageA(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    }
}

void FormUSBDevicesWindow::ShowContextMenu(LPARAM position) {
    POINT at = {GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    if (at.x == -1 && at.y == -1) {
        // From the keyboard: below the selected node, or at the tree's corner.
        RECT item = {};
        auto selected =
            reinterpret_cast<HTREEITEM>(::SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_CARET, 0));
        // TVM_GETITEMRECT takes the item's handle in the rectangle it fills.
        static_assert(sizeof(HTREEITEM) <= sizeof(RECT));
        std::memcpy(&item, &selected, sizeof selected);
        if (selected == nullptr ||
            !::SendMessageA(tree_, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&item))) {
            item = {};
        }
        at = {item.left, item.bottom};
        ::ClientToScreen(tree_, &at);
    }
    const TFormUSBDevices::PopupState state = form_.PopupMenuPopup();
    const HMENU menu = ::CreatePopupMenu();
    if (menu == nullptr) {
        return;
    }
    ::AppendMenuA(menu, MF_STRING | (state.ejectEnabled ? MF_ENABLED : MF_GRAYED), kEject1,
                  "Eject");
    ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuA(menu, MF_STRING | (state.browseEnabled ? MF_ENABLED : MF_GRAYED), kBrowse1,
                  "Browse");
    const int chosen = static_cast<int>(::TrackPopupMenu(
        menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, Handle(), nullptr));
    ::DestroyMenu(menu);
    if (chosen != 0) {
        OnCommand(chosen, BN_CLICKED);
    }
}

void FormUSBDevicesWindow::OnCommand(int id, int notification) {
    if (notification != BN_CLICKED) {
        return;
    }
    switch (id) {
    case kButtonEject:
    case kEject1:
        form_.EjectCommand();
        break;
    case kButtonBrowse:
    case kBrowse1:
        form_.BrowseCommand();
        break;
    case kButtonRefresh:
        form_.ButtonRefreshClick();
        break;
    case kButtonClose:
        form_.ButtonCloseClick();
        break;
    case kButtonAbout:
        form_.ButtonAboutClick();
        break;
    default:
        break;
    }
}

void FormUSBDevicesWindow::OnDestroy() {
    // The tree's items refer to the copies: empty it before the copies go.
    if (tree_ != nullptr) {
        ::SendMessageA(tree_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    }
    form_.FormDestroy();
}

HTREEITEM FormUSBDevicesWindow::Root() const {
    return reinterpret_cast<HTREEITEM>(::SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_ROOT, 0));
}

void FormUSBDevicesWindow::DeleteRootChildren() {
    const HTREEITEM root = Root();
    for (auto child = reinterpret_cast<HTREEITEM>(
             ::SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(root)));
         root != nullptr && child != nullptr;
         child = reinterpret_cast<HTREEITEM>(
             ::SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(root)))) {
        if (!::SendMessageA(tree_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(child))) {
            break;
        }
    }
}

TFormUSBDevices::NodeId FormUSBDevicesWindow::AddRootChild(const std::string& text,
                                                           int imageIndex) {
    TVINSERTSTRUCTA insert = {};
    insert.hParent = Root();
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
    insert.item.pszText = const_cast<char*>(text.c_str());
    insert.item.iImage = imageIndex;
    insert.item.iSelectedImage = imageIndex;
    insert.item.lParam = 0;
    return static_cast<TFormUSBDevices::NodeId>(
        ::SendMessageA(tree_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

void FormUSBDevicesWindow::SetNodeDevice(TFormUSBDevices::NodeId node, TDevice* device) {
    TVITEMA item = {};
    item.mask = TVIF_PARAM;
    item.hItem = reinterpret_cast<HTREEITEM>(node);
    item.lParam = reinterpret_cast<LPARAM>(device);
    ::SendMessageA(tree_, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

TFormUSBDevices::Selection FormUSBDevicesWindow::Selected() {
    TVITEMA item = {};
    item.mask = TVIF_PARAM;
    item.hItem = reinterpret_cast<HTREEITEM>(::SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (item.hItem == nullptr ||
        !::SendMessageA(tree_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) {
        return {};
    }
    return {true, DeviceOf(item.lParam)};
}

void FormUSBDevicesWindow::SetEjectEnabled(bool enabled) {
    ::EnableWindow(buttonEject_, enabled ? TRUE : FALSE);
}

void FormUSBDevicesWindow::SetBrowseEnabled(bool enabled) {
    ::EnableWindow(buttonBrowse_, enabled ? TRUE : FALSE);
}

void FormUSBDevicesWindow::ProcessMessages() {
    ui::ProcessMessages();
}

void FormUSBDevicesWindow::ExpandTree() {
    if (tree_ == nullptr || !::IsWindow(tree_)) {
        return;
    }
    const auto top =
        reinterpret_cast<HTREEITEM>(::SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_FIRSTVISIBLE, 0));
    // The tree is two levels deep: the topmost node and its children.
    if (top == nullptr) {
        return;
    }
    ::SendMessageA(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(top));
    for (auto child = reinterpret_cast<HTREEITEM>(
             ::SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(top)));
         child != nullptr;
         child = reinterpret_cast<HTREEITEM>(
             ::SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(child)))) {
        ::SendMessageA(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(child));
    }
}

void FormUSBDevicesWindow::ShowAbout() {
    FormAboutWindow::Open(::GetWindow(Handle(), GW_OWNER));
}

ShellOutcome FormUSBDevicesWindow::RunExplorerAsUser(const std::string& path) {
    // By full path from the Windows folder, never by a search. The path is one drive
    // root such as E:\ (no space, no quote), passed as it is.
    wchar_t windows[MAX_PATH] = {};
    const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return ShellOutcome::NotOpened;
    }
    return ui::ShellOpenAsUser(std::wstring(windows, length) + L"\\explorer.exe", ui::Widen(path));
}

void FormUSBDevicesWindow::ShowMessage(const std::string& text) {
    ::MessageBoxA(Handle(), text.c_str(), kDevicesCaption, MB_OK | MB_ICONINFORMATION);
}

bool FormUSBDevicesWindow::RegisterSessionNotification() {
    return DynWTSRegisterSessionNotification(Handle(), kNotifyForThisSession);
}

void FormUSBDevicesWindow::UnregisterSessionNotification() {
    DynWTSUnRegisterSessionNotification(Handle());
}
