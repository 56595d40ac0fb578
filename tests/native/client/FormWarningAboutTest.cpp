#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "SimulatedMachineTest.h"
#include "client/EntrySequence.h"
#include "client/FormAboutUnit.h"
#include "client/FormUSBWarningUnit.h"
#include "foundation/LogUnit.h"
#include "foundation/SettingsUnit.h"
#include "service/USBServiceUnit.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char* const kIni = "C:\\Program Files\\Driveward\\Driveward.ini";
const char* const kLogFile = "C:\\Program Files\\Driveward\\Driveward client\\20110315.txt";

// Everything the warning and About windows ask of their views, in order.
class RecordingViews : public TFormUSBWarning::View, public TFormAbout::View {
public:
    std::vector<std::string> calls;
    bool beepTimerEnabled = false;
    TModalResult modalResult = mrNone;

    void FlashCaption() override { calls.push_back("flash"); }
    void SetBeepTimerEnabled(bool enabled) override {
        beepTimerEnabled = enabled;
        calls.push_back(enabled ? "timer on" : "timer off");
    }
    void Beep(std::uint32_t hz, std::uint32_t ms) override {
        calls.push_back("beep " + std::to_string(hz) + " " + std::to_string(ms));
    }
    void SetModalResult(TModalResult result) override { modalResult = result; }
    void Close() override { calls.push_back("close"); }
    // How the desktop's shell answers a request to open a link as the user.
    ShellOutcome shell = ShellOutcome::Opened;
    bool ShellRouteAvailable() override {
        calls.push_back("ask shell");
        return shell == ShellOutcome::Opened;
    }
    ShellOutcome ShellOpenAsUser(const std::string& target) override {
        calls.push_back("open " + target);
        return shell;
    }
    void ShowLinksInert() override { calls.push_back("inert"); }
    void ShowMessage(const std::string& text) override { calls.push_back("message " + text); }
};

class WindowsTest : public SimulatedMachineTest {
protected:
    WindowsTest() {
        Log = std::make_unique<TLog>("Driveward client");
        Log->LogPath = "C:\\Program Files\\Driveward";
    }
    ~WindowsTest() override {
        ReleaseUSBService();
        Log.reset();
        ReleaseSettings();
        StartedAsHelper = false;
    }
    void DebugOn() {
        sim.profileValues[{kIni, "GENERAL", "DEBUG"}] = "1";
        ReleaseSettings();
    }
    std::vector<std::string> LogTexts() const { return LogEntries(kLogFile); }
    RecordingViews views;
};

TEST_F(WindowsTest, TheWarningFlashesFiveTimesThenBeepsTenTimesOnce) {
    TFormUSBWarning warning(views);
    warning.FormCreate();
    EXPECT_THAT(views.calls, ElementsAre("timer on", "flash", "flash", "flash", "flash", "flash"));
    views.calls.clear();
    warning.TimerBeepTimer();
    std::vector<std::string> expected{"timer off"};
    expected.insert(expected.end(), 10, "beep 500 300");
    EXPECT_EQ(views.calls, expected);
    EXPECT_FALSE(views.beepTimerEnabled);

    RecordingViews secondViews; // a later window sounds its own burst
    TFormUSBWarning second(secondViews);
    second.FormCreate();
    second.TimerBeepTimer();
    EXPECT_EQ(std::count(secondViews.calls.begin(), secondViews.calls.end(), "beep 500 300"), 10);
}

TEST_F(WindowsTest, InTheTraySessionTheButtonsOnlySetTheModalResult) {
    auto& service = sim.serviceManager.Install(kUSBServiceName);
    service.status = platform::SimulatedServiceManager::Status(4); // running
    TFormUSBWarning warning(views);
    warning.ButtonDevicesClick();
    EXPECT_EQ(views.modalResult, mrYes);
    EXPECT_THAT(views.calls, IsEmpty()); // no close: the modal result ends the showing
    warning.Button1Click();
    EXPECT_EQ(views.modalResult, mrCancel);
    EXPECT_THAT(views.calls, ElementsAre("close"));
    EXPECT_THAT(sim.serviceManager.calls, IsEmpty());
}

TEST_F(WindowsTest, AHelpersDevicesButtonAsksTheServiceForTheListAndCloses) {
    auto& service = sim.serviceManager.Install(kUSBServiceName);
    service.status = platform::SimulatedServiceManager::Status(4);
    StartedAsHelper = true;
    TFormUSBWarning warning(views);
    warning.ButtonDevicesClick();
    EXPECT_THAT(service.controlsReceived, ElementsAre(134u));
    EXPECT_THAT(views.calls, ElementsAre("close"));
    EXPECT_THAT(LogTexts(), IsEmpty()); // the line is a debug line

    DebugOn();
    sim.serviceManager.services.clear(); // not installed: the failure is logged, the window closes
    TFormUSBWarning again(views);
    again.ButtonDevicesClick();
    const auto lines = LogTexts();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Deviceslist requested from warning screen.");
    EXPECT_THAT(lines[1], ::testing::StartsWith("Error: 1060 - StartService OpenService failed: "));
    EXPECT_THAT(lines[1], ::testing::EndsWith("Error nr: 1060"));
    EXPECT_THAT(views.calls, ElementsAre("close", "close"));
}

TEST_F(WindowsTest, AboutShowsTheVersionAndOpensLinksAsTheUserOutsideAHelperOnly) {
    sim.fileVersions[sim.moduleFileName] = {0x00010002, 0x00030004};
    TFormAbout about(views);
    about.FormCreate();
    EXPECT_EQ(about.VersionCaption(), "Version 1.2.3.4");
    EXPECT_TRUE(about.LinksActive());
    about.LabelWebsiteClick();
    about.LabelEMailClick();
    EXPECT_THAT(views.calls, ElementsAre("ask shell", "open https://www.tarnvik.example/driveward",
                                         "close", "open mailto:info@tarnvik.example", "close"));
    views.calls.clear();
    about.FormDeactivate();
    EXPECT_THAT(views.calls, ElementsAre("close"));

    // The shell cannot be asked: the clicked link turns inert, the window stays open.
    views.shell = ShellOutcome::NotOpened;
    views.calls.clear();
    about.LabelEMailClick();
    about.LabelWebsiteClick();
    EXPECT_THAT(views.calls, ElementsAre("open mailto:info@tarnvik.example", "inert"));
    EXPECT_FALSE(about.LinksActive());

    // It does not answer in time: inert as well, and the user learns it may still open.
    views.shell = ShellOutcome::Opened;
    TFormAbout late(views);
    late.FormCreate();
    views.shell = ShellOutcome::Late;
    views.calls.clear();
    late.LabelWebsiteClick();
    late.LabelWebsiteClick();
    EXPECT_THAT(views.calls,
                ElementsAre("open https://www.tarnvik.example/driveward", "inert",
                            "message The link did not open in time. It may still open."));
    views.shell = ShellOutcome::NotOpened;

    // Without the shell's route the links are inert text from the start.
    views.calls.clear();
    TFormAbout noShell(views);
    noShell.FormCreate();
    EXPECT_FALSE(noShell.LinksActive());
    noShell.LabelWebsiteClick();
    EXPECT_THAT(views.calls, ElementsAre("ask shell"));

    // A helper's links are inert text, and it never asks the shell; without a version
    // resource the label keeps its blank.
    sim.fileVersions.clear();
    StartedAsHelper = true;
    views.shell = ShellOutcome::Opened;
    views.calls.clear();
    TFormAbout helperAbout(views);
    helperAbout.FormCreate();
    EXPECT_EQ(helperAbout.VersionCaption(), "Version ");
    EXPECT_FALSE(helperAbout.LinksActive());
    helperAbout.LabelWebsiteClick();
    helperAbout.LabelEMailClick();
    EXPECT_THAT(views.calls, IsEmpty());
}

} // namespace
