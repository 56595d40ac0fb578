#include "client/window/MessageLoop_win.h"

#include "client/window/ErrorDisplay_win.h"

namespace ui {
namespace {
// Far more than a refresh ever finds pending; a bound only against a flood.
constexpr int kMaxMessagesPerPass = 10000;
} // namespace

void DispatchMessageOf(MSG& message) {
    Guarded([&message] {
        const HWND root = message.hwnd != nullptr ? ::GetAncestor(message.hwnd, GA_ROOT) : nullptr;
        if (root != nullptr && ::IsDialogMessageA(root, &message)) {
            return;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    });
}

void ProcessMessages() {
    MSG message;
    for (int handled = 0;
         handled < kMaxMessagesPerPass && ::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);
         ++handled) {
        if (message.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        DispatchMessageOf(message);
    }
}

void RunMessageLoop() {
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        DispatchMessageOf(message);
    }
}

} // namespace ui
