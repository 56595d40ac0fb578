#pragma once
#include <cstdint>

#include "client/ModalResult.h"

// What the warning window tells the user and what it does on each event. The Win32 view
// carries it out; the window itself holds no decisions.
class TFormUSBWarning {
public:
    // What the window asks of its Win32 view.
    class View {
    public:
        virtual ~View() = default;
        virtual void FlashCaption() = 0; // one flash-window request with inversion on
        virtual void SetBeepTimerEnabled(bool enabled) = 0;
        virtual void Beep(std::uint32_t frequencyHz, std::uint32_t durationMs) = 0; // synchronous
        virtual void SetModalResult(TModalResult result) = 0;
        virtual void
        Close() = 0; // a modal showing ends with Cancel; a main window ends the process
    };

    explicit TFormUSBWarning(View& view) : view_(view) {}

    // Before the window is first shown.
    void FormCreate();
    // TimerBeep fires once, 250 ms after creation.
    void TimerBeepTimer();
    // "Close"
    void Button1Click();
    // "Devices"
    void ButtonDevicesClick();

private:
    View& view_;
};

inline constexpr const char* kWarningCaption = "Warning";
inline constexpr const char* kWarningText = "There are USB storage device(s) plugged in. Click on "
                                            "devices to safely remove the device(s).";
inline constexpr const char* kWarningCloseCaption = "Close";
inline constexpr const char* kWarningDevicesCaption = "Devices";
inline constexpr const char* kDevicesRequestedLine = "Deviceslist requested from warning screen.";
inline constexpr unsigned kTimerBeepIntervalMs = 250;
inline constexpr int kCaptionFlashes = 5;
inline constexpr int kBeeps = 10;
inline constexpr std::uint32_t kBeepFrequencyHz = 500;
inline constexpr std::uint32_t kBeepDurationMs = 300;
// Asks the companion service to show the device list over the locked session.
inline constexpr std::uint32_t kShowDevicesControlCode = 134;
