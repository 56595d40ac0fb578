#include "client/window/ErrorDisplay_win.h"

#include <windows.h>

#include "client/EntrySequence.h"
#include "foundation/FunctionsUnit.h"
#include "foundation/LogUnit.h"
#include "platform/Machine.h"

namespace ui {
namespace {

void ShowErrorText(const std::string& text) noexcept {
    try {
        platform::CurrentMachine().session->ShowErrorMessage(kApplicationTitle, text);
    } catch (...) {
        // Showing the error failed in turn (no memory for the text): nothing is left
        // to tell the user with, and the program must go on.
    }
}

} // namespace

void ShowException(const std::exception& exception) {
    ShowErrorText(exception.what());
}

void ShowUnknownException() {
    ShowErrorText("An unexpected error occurred.");
}

void LogWindowFailure(const std::string& whatFailed) {
    const DWORD code = ::GetLastError();
    if (Log == nullptr) {
        return;
    }
    ::SetLastError(code);
    Log->Error(std::to_string(code) + " - " + whatFailed + ": " + GetLastErrorText());
}

} // namespace ui
