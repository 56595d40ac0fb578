#include "client/FormAboutWindow_win.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>

#include "client/ProductInfo.h"
#include "client/window/Dpi_win.h"
#include "client/window/ShellAsUser_win.h"
#include "client/window/SystemText_win.h"

namespace {

constexpr int kClientWidth = 307;
constexpr int kClientHeight = 286;
constexpr RECT kImage1 = {30, 18, 30 + 247, 18 + 63};  // the banner, between the side panels
constexpr RECT kImage2 = {0, 176, 0 + 158, 176 + 111}; // the logo
constexpr int kRightEdge = kClientWidth - 8;           // where the right-aligned texts end
// The logo's picture (96 pixels) is centred in its area: the texts may reach over the
// area's empty right part, never over the picture.
constexpr int kLogoPicture = 96;
constexpr int kSmallPrintLeft = (kImage2.left + kImage2.right + kLogoPicture) / 2 + 2;
constexpr COLORREF kLinkColour = RGB(0, 0, 128); // navy
constexpr COLORREF kBannerLeft = RGB(0, 0, 128);
constexpr COLORREF kBannerRight = RGB(166, 202, 240);

HICON LoadAppIcon(int side) {
    return static_cast<HICON>(
        ::LoadImageA(::GetModuleHandleA(nullptr), "MAINICON", IMAGE_ICON, side, side, 0));
}

void DrawAppIcon(HDC dc, const RECT& area, int side) {
    const HICON icon = LoadAppIcon(side);
    if (icon == nullptr) {
        return;
    }
    ::DrawIconEx(dc, area.left + (area.right - area.left - side) / 2,
                 area.top + (area.bottom - area.top - side) / 2, icon, side, side, 0, nullptr,
                 DI_NORMAL);
    ::DestroyIcon(icon);
}

BYTE Blend(BYTE from, BYTE to, int step, int steps) {
    return static_cast<BYTE>(from + (to - from) * step / std::max(steps, 1));
}

// A band fading from navy to light blue, one column at a time.
void DrawBanner(HDC dc, const RECT& area) {
    const int width = area.right - area.left;
    for (int x = 0; x < width; ++x) {
        const COLORREF colour =
            RGB(Blend(GetRValue(kBannerLeft), GetRValue(kBannerRight), x, width),
                Blend(GetGValue(kBannerLeft), GetGValue(kBannerRight), x, width),
                Blend(GetBValue(kBannerLeft), GetBValue(kBannerRight), x, width));
        const HBRUSH brush = ::CreateSolidBrush(colour);
        const RECT column = {area.left + x, area.top, area.left + x + 1, area.bottom};
        ::FillRect(dc, &column, brush);
        ::DeleteObject(brush);
    }
}

} // namespace

FormAboutWindow::~FormAboutWindow() {
    Destroy();
    if (tooltip_ != nullptr) {
        ::DestroyWindow(tooltip_);
    }
}

void FormAboutWindow::Open(HWND owner) {
    auto about = std::make_unique<FormAboutWindow>();
    if (!about->Create(owner)) {
        return; // the failure is in the log
    }
    about->ShowModal();
}

bool FormAboutWindow::Create(HWND owner) {
    if (!Window::Create(kClassName, kAboutCaption, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                        WS_EX_TOPMOST, owner)) {
        return false;
    }
    form_.FormCreate();
    const bool links = form_.LinksActive();
    const ui::FontSpec plain{11};
    const ui::FontSpec link{11, false, links}; // DisableLink takes the underline away
    label1_ = AddControl("STATIC", kAboutProductName, SS_CENTER, 0, {21, true});
    labelVersion_ = AddControl("STATIC", form_.VersionCaption(), SS_CENTER, 0, {12});
    // SS_NOTIFY: clicks and the hints' mouse messages reach us; in a helper start the
    // clicks are ignored, the hints stay.
    labelWebsite_ = AddControl("STATIC", kMakerWebsite, SS_RIGHT | SS_NOTIFY, kLabelWebsite, link);
    labelEMail_ = AddControl("STATIC", kMakerEMail, SS_RIGHT | SS_NOTIFY, kLabelEMail, link);
    label3_ = AddControl("STATIC", kMakerCopyright, SS_RIGHT, 0, plain);
    label4_ = AddControl("STATIC", kMakerRights, SS_RIGHT, 0, plain);
    tooltip_ =
        ::CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0,
                          0, 0, Handle(), nullptr, ::GetModuleHandleA(nullptr), nullptr);
    AddHint(labelWebsite_, kWebsiteHint);
    AddHint(labelEMail_, kEMailHint);
    SetClientSize96(kClientWidth, kClientHeight);
    return true;
}

void FormAboutWindow::AddHint(HWND control, const char* hint) {
    if (tooltip_ == nullptr || control == nullptr) {
        return;
    }
    TOOLINFOA tool = {};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = Handle();
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = const_cast<char*>(hint);
    ::SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void FormAboutWindow::Layout() {
    // The stacked rows of the window, top to bottom, over the full width.
    Place(label1_, 0, Scale(99), Scale(kClientWidth), Scale(23));
    Place(labelVersion_, 0, Scale(132), Scale(kClientWidth), Scale(19));
    const int width = Scale(kRightEdge - kSmallPrintLeft);
    const int height = Scale(14);
    // A link is as wide as its text, ending at the right edge: a click beside a short
    // text must not open it (and close the window).
    for (const auto& [link, top] : {std::pair{labelWebsite_, 205}, std::pair{labelEMail_, 222}}) {
        const int textWidth = std::min(width, TextWidth(link));
        Place(link, Scale(kRightEdge) - textWidth, Scale(top), textWidth, height);
    }
    Place(label3_, Scale(kSmallPrintLeft), Scale(250), width, height);
    Place(label4_, Scale(kSmallPrintLeft), Scale(265), width, height);
    ::InvalidateRect(Handle(), nullptr, TRUE);
}

int FormAboutWindow::TextWidth(HWND control) {
    const HDC dc = control != nullptr ? ::GetDC(control) : nullptr;
    if (dc == nullptr) {
        return 0;
    }
    const auto font = reinterpret_cast<HGDIOBJ>(::SendMessageA(control, WM_GETFONT, 0, 0));
    const HGDIOBJ previous = ::SelectObject(dc, font);
    std::string text(static_cast<std::size_t>(::GetWindowTextLengthA(control)) + 1, '\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextA(control, text.data(), static_cast<int>(text.size()))));
    SIZE size = {};
    ::GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(dc, previous);
    ::ReleaseDC(control, dc);
    return size.cx + 1; // the underline's last pixel
}

void FormAboutWindow::Paint(HDC dc) {
    const auto scaled = [this](const RECT& area) {
        return RECT{Scale(area.left), Scale(area.top), Scale(area.right), Scale(area.bottom)};
    };
    const RECT banner = scaled(kImage1);
    DrawBanner(dc, banner);
    const int bannerIcon = banner.bottom - banner.top - Scale(8);
    DrawAppIcon(
        dc,
        {banner.left + Scale(4), banner.top, banner.left + Scale(4) + bannerIcon, banner.bottom},
        bannerIcon);
    const RECT logo = scaled(kImage2);
    DrawAppIcon(dc, logo, Scale(kLogoPicture));
}

LRESULT FormAboutWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        const HDC dc = ::BeginPaint(Handle(), &paint);
        Paint(dc);
        ::EndPaint(Handle(), &paint);
        return 0;
    }
    case WM_CTLCOLORSTATIC: {
        const auto dc = reinterpret_cast<HDC>(wParam);
        const auto control = reinterpret_cast<HWND>(lParam);
        ::SetBkMode(dc, TRANSPARENT);
        if (IsLink(control)) {
            ::SetTextColor(dc, form_.LinksActive() ? kLinkColour : ::GetSysColor(COLOR_WINDOWTEXT));
        }
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_SETCURSOR:
        if (form_.LinksActive() && IsLink(reinterpret_cast<HWND>(wParam))) {
            ::SetCursor(::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_HAND)));
            return TRUE;
        }
        break;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            form_.FormDeactivate();
        }
        break;
    default:
        break;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

void FormAboutWindow::OnCommand(int id, int notification) {
    if (notification != STN_CLICKED) {
        return;
    }
    if (id == kLabelWebsite) {
        form_.LabelWebsiteClick();
    } else if (id == kLabelEMail) {
        form_.LabelEMailClick();
    }
}

bool FormAboutWindow::ShellRouteAvailable() {
    return ui::ShellRouteAvailable();
}

ShellOutcome FormAboutWindow::ShellOpenAsUser(const std::string& target) {
    return ui::ShellOpenAsUser(ui::Widen(target), L"");
}

void FormAboutWindow::ShowMessage(const std::string& text) {
    ::MessageBoxA(Handle(), text.c_str(), kAboutCaption, MB_OK | MB_ICONINFORMATION);
}

void FormAboutWindow::ShowLinksInert() {
    for (const HWND link : {labelWebsite_, labelEMail_}) {
        SetControlFont(link, {11}); // no underline
        ::InvalidateRect(link, nullptr, TRUE);
    }
}
