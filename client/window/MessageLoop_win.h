#pragma once
#include <windows.h>

namespace ui {

// Translates and dispatches one message, giving the window it belongs to the keyboard
// handling of a dialog (Tab between controls, Space and Enter on buttons).
void DispatchMessageOf(MSG& message);

// Handles every message pending now, once, then returns. A quit message is left for the
// loop that owns it. Bounded, so that a flood of posted messages cannot keep the caller
// here.
void ProcessMessages();

// The main loop: runs until a quit message arrives.
void RunMessageLoop();

} // namespace ui
