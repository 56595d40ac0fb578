#pragma once
#include "client/FormUSBWarningUnit.h"
#include "client/window/Window_win.h"

// The warning window on screen: caption "Warning", the stock warning picture, the text
// and the two buttons. Created hidden; its caption has flashed and its beep timer runs.
class FormUSBWarningWindow : public ui::Window, private TFormUSBWarning::View {
public:
    static constexpr const char* kClassName = "TFormUSBWarning";
    enum ControlId { kButton1 = 101, kButtonDevices = 102 };

    FormUSBWarningWindow() = default;
    ~FormUSBWarningWindow() override;

    bool Create(HWND owner);

private:
    static constexpr UINT_PTR kTimerBeep = 1;

    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void Layout() override;
    void OnTimer(UINT_PTR id) override;
    void OnCommand(int id, int notification) override;
    void PaintPicture(HDC dc);
    int TextOverflow96();

    void FlashCaption() override;
    void SetBeepTimerEnabled(bool enabled) override;
    void Beep(std::uint32_t frequencyHz, std::uint32_t durationMs) override;
    void SetModalResult(TModalResult result) override { Window::SetModalResult(result); }
    void Close() override { Window::Close(); }

    TFormUSBWarning form_{*this};
    HWND label1_ = nullptr;
    HWND button1_ = nullptr;
    HWND buttonDevices_ = nullptr;
};
