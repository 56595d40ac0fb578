#pragma once

// The results a modal showing ends with; a window closed from its title bar gives Cancel.
enum TModalResult { mrNone = 0, mrCancel = 2, mrYes = 6 };
