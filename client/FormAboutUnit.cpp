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
    const ShellOutcome outcome = view_.ShellOpenAsUser(target);
    if (outcome == ShellOutcome::Opened) {
        view_.Close();
        return;
    }
    // Never from this (elevated) process instead: the address stays readable as text.
    linksActive_ = false;
    view_.ShowLinksInert();
    if (outcome == ShellOutcome::Late) {
        view_.ShowMessage(kLinkLate);
    }
}
