#pragma once
#include "client/FormAboutUnit.h"
#include "client/window/Window_win.h"

// The About window on screen. Every opening builds it anew: create, show modally, free.
class FormAboutWindow : public ui::Window, private TFormAbout::View {
public:
    static constexpr const char* kClassName = "TFormAbout";
    enum ControlId { kLabelWebsite = 101, kLabelEMail = 102 };

    FormAboutWindow() = default;
    ~FormAboutWindow() override;

    bool Create(HWND owner);

    // Creates the window, brings it to the front, shows it modally and frees it.
    static void Open(HWND owner);

private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void Layout() override;
    void OnCommand(int id, int notification) override;
    void Paint(HDC dc);
    // The width of the control's text in its font, in pixels.
    static int TextWidth(HWND control);
    void AddHint(HWND control, const char* hint);
    bool IsLink(HWND control) const { return control == labelWebsite_ || control == labelEMail_; }

    bool ShellRouteAvailable() override;
    ShellOutcome ShellOpenAsUser(const std::string& target) override;
    void ShowMessage(const std::string& text) override;
    void ShowLinksInert() override;
    void Close() override { Window::Close(); }

    TFormAbout form_{*this};
    HWND label1_ = nullptr;
    HWND labelVersion_ = nullptr;
    HWND labelWebsite_ = nullptr;
    HWND labelEMail_ = nullptr;
    HWND label3_ = nullptr;
    HWND label4_ = nullptr;
    HWND tooltip_ = nullptr;
};
