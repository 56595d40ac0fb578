#pragma once
#include <windows.h>

#include <string>

namespace ui {

// One notification-area icon of a window. It reports the user's actions to its window
// with the callback message; Decode turns that message into an action.
class TrayIcon {
public:
    enum class Action { None, ContextMenu, Open };
    struct Event {
        Action action = Action::None;
        POINT at = {0, 0}; // where a menu opens, in screen coordinates
    };

    TrayIcon(HWND window, UINT callbackMessage);
    ~TrayIcon();
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // Adds the icon, or changes it when it is there already. The icon handle stays ours.
    void Show(HICON icon, const std::string& hint);
    void Remove();
    // Explorer started again (its "TaskbarCreated" message): the icon is added anew.
    void Restore();
    bool Shown() const { return shown_; }

    // The callback message's parameters as an action. Enter and a double-click open;
    // the right button and the context-menu key ask for the menu.
    Event Decode(WPARAM wParam, LPARAM lParam) const;

private:
    bool Add();

    HWND window_;
    UINT callbackMessage_;
    HICON icon_ = nullptr;
    std::wstring hint_;
    bool shown_ = false;
    bool version4_ = false; // NOTIFYICON_VERSION_4 accepted: the newer callback format
    bool byGuid_ = true;    // identified by our GUID rather than by window and number
};

} // namespace ui
