#include "client/FormAboutUnit.h"

#include "client/EntrySequence.h"
#include "client/ProductInfo.h"
#include "foundation/FunctionsUnit.h"

void TFormAbout::FormCreate() {
    if (StartedAsHelper) {
        linksActive_ = false; // DisableLink, for the web site and then the e-mail link
    }
    versionCaption_ = versionCaption_ + " " + GetAppVersion();
}

void TFormAbout::LabelWebsiteClick() {
    OpenLink(kMakerWebsiteUrl);
}

void TFormAbout::LabelEMailClick() {
    OpenLink(std::string("mailto:") + kMakerEMail);
}

void TFormAbout::OpenLink(const std::string& target) {
    if (!linksActive_) {
        return; // an inert link has no click action
    }
    view_.ShellOpen(target); // the shell's answer is not examined
    view_.Close();
}
