#pragma once
#include <string>

#include "client/ShellOutcome.h"

// The About window: the version label and the two links. Started as a helper (over a
// locked session, possibly as SYSTEM) the links are plain, inert text: nothing in a
// helper window may lead to a browser or a mail program. The tray monitor runs elevated:
// it opens a link only through the desktop's shell, as the user; where that route is not
// there, the links are inert text too and nothing is opened elevated.
class TFormAbout {
public:
    class View {
    public:
        virtual ~View() = default;
        // Whether the desktop's shell answers, so that it can open links as the user.
        virtual bool ShellRouteAvailable() = 0;
        // The shell's "open" verb, run by the desktop's shell as the user, in the normal
        // show state.
        virtual ShellOutcome ShellOpenAsUser(const std::string& target) = 0;
        // The links are inert from now on: shown again as plain text.
        virtual void ShowLinksInert() = 0;
        // A message box with OK, owned by the window.
        virtual void ShowMessage(const std::string& text) = 0;
        virtual void Close() = 0;
    };

    explicit TFormAbout(View& view) : view_(view) {}

    void FormCreate();
    void LabelWebsiteClick();
    void LabelEMailClick();
    // Any switch to another window ends the dialog.
    void FormDeactivate() { view_.Close(); }

    // After FormCreate: "Version " and the executable's version text.
    const std::string& VersionCaption() const { return versionCaption_; }
    // False once DisableLink has been applied (a helper, no shell route, or a link the
    // shell could not be asked to open): no underline, arrow cursor, window-text colour,
    // no click action; the hints stay.
    bool LinksActive() const { return linksActive_; }

private:
    void OpenLink(const std::string& target);

    View& view_;
    std::string versionCaption_ = "Version";
    bool linksActive_ = true;
};

inline constexpr const char* kAboutCaption = "About";
inline constexpr const char* kAboutProductName = "Driveward";
inline constexpr const char* kWebsiteHint = "Open website";
inline constexpr const char* kEMailHint = "Open mail client";
// The shell did not answer in time, yet it may still open the link.
inline constexpr const char* kLinkLate = "The link did not open in time. It may still open.";
