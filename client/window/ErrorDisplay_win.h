#pragma once
#include <exception>
#include <string>

namespace ui {

// The application's default error display: a modal error box with the exception's text
// and a single OK button. The program goes on afterwards.
void ShowException(const std::exception& exception);
void ShowUnknownException();

// Runs the action with the exception boundary that every window procedure and message
// loop has: nothing escapes, and what is caught is shown.
template <typename Action> void Guarded(Action&& action) noexcept {
    try {
        action();
    } catch (const std::exception& exception) {
        ShowException(exception);
    } catch (...) {
        ShowUnknownException();
    }
}

// An error line in the log for a window that could not be registered or created:
// "<code> - <what failed>: <system text>", with the calling thread's last-error code.
void LogWindowFailure(const std::string& whatFailed);

} // namespace ui
