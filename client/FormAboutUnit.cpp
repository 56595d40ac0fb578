#include "client/FormAboutUnit.h"

#include "client/EntrySequence.h"
#include "client/ProductInfo.h"
#include "foundation/FunctionsUnit.h"

void TFormAbout::FormCreate() {
    // DisableLink, for the web site and then the e-mail link. A helper never asks the
    // shell at all.
    linksActive_ = !StartedAsHelper && view_.ShellRouteAvailable();
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
    if (!view_.ShellOpenAsUser(target)) {
        // Never from this (elevated) process instead: the address stays readable as text.
        linksActive_ = false;
        view_.ShowLinksInert();
        return;
    }
    view_.Close();
}
