#pragma once
#include <string>

// The About window: the version label and the two links. Started as a helper (over a
// locked session, possibly as SYSTEM) the links are plain, inert text: nothing in a
// helper window may lead to a browser or a mail program.
class TFormAbout {
public:
    class View {
    public:
        virtual ~View() = default;
        // The shell's "open" verb, with the window as owner and the normal show state.
        virtual void ShellOpen(const std::string& target) = 0;
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
    // False once DisableLink has been applied: no underline, arrow cursor, window-text
    // colour, no click action; the hints stay.
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
