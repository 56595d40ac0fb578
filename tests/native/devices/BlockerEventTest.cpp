#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/BlockerEvent.h"

namespace {

const std::string kStick = "USB\\VID_0781&PID_5567\\4C530001230101109281";

// An event 225 as EvtRender writes it (the layout of a real one), with its data fields.
std::string EventXml(const std::string& data,
                     const std::string& provider = "Microsoft-Windows-Kernel-PnP",
                     const std::string& id = "225") {
    return "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System>"
           "<Provider Name='" +
           provider + "' Guid='{9c205a39-1250-487d-abd7-e831c6290539}'/><EventID>" + id +
           "</EventID><Version>2</Version><Level>3</Level><Task>223</Task>"
           "<TimeCreated SystemTime='2025-08-16T23:24:04.1530000Z'/><Channel>System</Channel>"
           "<Computer>jujube</Computer><Security UserID='S-1-5-18'/></System><EventData>" +
           data + "</EventData></Event>";
}

std::string Fields(const std::string& pid, const std::string& image, const std::string& device) {
    return "<Data Name='ProcessId'>" + pid + "</Data><Data Name='ProcessNameLength'>52</Data>" +
           "<Data Name='ProcessName'>" + image +
           "</Data><Data Name='DeviceInstanceLength'>40</Data><Data Name='DeviceInstance'>" +
           device +
           "</Data><Data Name='ProcessCommandLineLength'>81</Data>"
           "<Data Name='ProcessCommandLine'>C:\\Windows\\system32\\DllHost.exe "
           "/Processid:{DFB65C4C-B34F-435D-AFE9-A86218684AA8}</Data>"
           "<Data Name='AffectedDevicesCount'>0</Data>";
}

const std::string kExcel = "\\Device\\HarddiskVolume3\\Program Files\\Office\\EXCEL.EXE";
const std::string kStickXml = "USB\\VID_0781&amp;PID_5567\\4C530001230101109281";

TEST(BlockerEventTest, TheSystemsEventIsParsedIntoProcessImageAndDevice) {
    const auto event = ParseBlockerEvent(EventXml(Fields("4321", kExcel, kStickXml)));
    ASSERT_TRUE(event);
    EXPECT_EQ(*event, (BlockerEvent{4321, kExcel, kStick}));
    // Double quotes, self-closing elements and character references are XML too.
    const auto quoted = ParseBlockerEvent(EventXml(
        "<Data Name=\"ProcessId\">7</Data><Data Name=\"ProcessCommandLine\"/>"
        "<Data Name=\"ProcessName\">\\Device\\X\\a&#x41;&#66;&lt;&gt;&quot;&apos;&#xE9;.exe</Data>"
        "<Data Name=\"DeviceInstance\">" +
        kStickXml + "</Data>"));
    ASSERT_TRUE(quoted);
    EXPECT_EQ(quoted->imagePath, "\\Device\\X\\aAB<>\"'?.exe");
}

TEST(BlockerEventTest, AnythingElseOrMalformedIsNoEvent) {
    const std::string big(kMaxBlockerEventXml, 'a');
    const std::string longDevice(kMaxDeviceInstanceId + 1, 'D');
    const struct {
        const char* what;
        std::string xml;
    } cases[] = {
        {"another provider", EventXml(Fields("1", kExcel, kStickXml), "Microsoft-Windows-Other")},
        {"another event",
         EventXml(Fields("1", kExcel, kStickXml), "Microsoft-Windows-Kernel-PnP", "2250")},
        {"no process id", EventXml(Fields("", kExcel, kStickXml))},
        {"a negative id", EventXml(Fields("-1", kExcel, kStickXml))},
        {"an id beyond 32 bits", EventXml(Fields("4294967296", kExcel, kStickXml))},
        {"a hexadecimal id", EventXml(Fields("0x10", kExcel, kStickXml))},
        {"no image", EventXml(Fields("1", "", kStickXml))},
        {"no device", EventXml(Fields("1", kExcel, ""))},
        {"a device id too long", EventXml(Fields("1", kExcel, longDevice))},
        {"a field given twice",
         EventXml(Fields("1", kExcel, kStickXml) + "<Data Name='ProcessName'>x.exe</Data>")},
        {"an id given twice",
         EventXml(Fields("1", kExcel, kStickXml) + "<Data Name='ProcessId'>2</Data>")},
        {"an unknown reference", EventXml(Fields("1", kExcel + "&nbsp;", kStickXml))},
        {"an open reference", EventXml(Fields("1", kExcel + "&amp", kStickXml))},
        {"markup in a value", EventXml(Fields("1", kExcel + "<b>x</b>", kStickXml))},
        {"an unclosed value", EventXml("<Data Name='ProcessId'>1")},
        {"oversized", EventXml(Fields("1", kExcel, kStickXml)) + big},
        {"empty", ""},
        {"not XML", "225 Microsoft-Windows-Kernel-PnP ProcessId 1"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(ParseBlockerEvent(c.xml)) << c.what;
    }
}

TEST(BlockerEventTest, OnlyTheDevicesEventsCountEachProcessOnceAndAtMostFour) {
    const std::string other = "USB\\VID_0951&amp;PID_1666\\0011";
    const std::vector<std::string> xmls = {
        EventXml(Fields("4321", kExcel, kStickXml)),
        EventXml(Fields("4321", "\\DEVICE\\harddiskvolume3\\program files\\office\\excel.exe",
                        "usb\\vid_0781&amp;pid_5567\\4c530001230101109281")), // the same, again
        EventXml(Fields("99", "\\Device\\HarddiskVolume3\\Windows\\explorer.exe", other)),
        "<garbage/>",
        EventXml(Fields("4322", kExcel, kStickXml)), // a second Excel
        EventXml(Fields("5", "\\Device\\HarddiskVolume3\\a.exe",
                        "usb\\vid_0781&amp;pid_5567\\4c530001230101109281")),
        EventXml(Fields("6", "\\Device\\HarddiskVolume3\\b.exe", kStickXml)),
        EventXml(Fields("7", "\\Device\\HarddiskVolume3\\c.exe", kStickXml)),
    };
    const auto selected = SelectBlockerEvents(xmls, kStick);
    ASSERT_EQ(selected.size(), kMaxBlockersNamed);
    EXPECT_EQ(selected[0].processId, 4321u);
    EXPECT_EQ(selected[1].processId, 4322u);
    EXPECT_EQ(selected[2].processId, 5u);
    EXPECT_EQ(selected[3].processId, 6u);
    EXPECT_TRUE(SelectBlockerEvents(xmls, "USB\\VID_0781&PID_5567\\OTHER").empty());
}

TEST(BlockerEventTest, TheQueryAsksForTheProvidersEvent225InTheWindow) {
    EXPECT_EQ(BlockerEventQuery(3500),
              "*[System[Provider[@Name='Microsoft-Windows-Kernel-PnP'] and (EventID=225) and "
              "TimeCreated[timediff(@SystemTime) <= 3500]]]");
}

TEST(BlockerEventTest, ADevicePathTakesTheDriveLetterThatMapsToIt) {
    const std::vector<std::pair<char, std::string>> dos = {
        {'C', "\\Device\\HarddiskVolume1"}, {'D', "\\Device\\HarddiskVolume10"}, {'E', ""}};
    EXPECT_EQ(MapToDriveLetter("\\Device\\HarddiskVolume10\\x\\a.exe", dos), "D:\\x\\a.exe");
    EXPECT_EQ(MapToDriveLetter("\\device\\harddiskvolume1\\a.exe", dos), "C:\\a.exe");
    EXPECT_EQ(MapToDriveLetter("\\Device\\HarddiskVolume1", dos), std::nullopt);
    EXPECT_EQ(MapToDriveLetter("\\Device\\HarddiskVolume100\\a.exe", dos), std::nullopt);
    EXPECT_EQ(MapToDriveLetter("\\Device\\Mup\\server\\a.exe", dos), std::nullopt);
}

TEST(BlockerEventTest, UntrustedTextIsTrimmedCutAndEscaped) {
    const struct {
        std::string text;
        std::string shown;
    } cases[] = {
        {"  EXCEL.EXE \r\n", "EXCEL.EXE"},
        {"a\nFake line\x1b[2Jb", "a\\x0AFake line\\x1B[2Jb"},
        {std::string(70, 'x'), std::string(61, 'x') + "..."},
        {std::string(64, 'y'), std::string(64, 'y')},
        // Cut to the bound as given, escaped after: 60 bytes, not cut, 69 once escaped.
        {"a\x01\x02\x03" + std::string(56, 'z'), "a\\x01\\x02\\x03" + std::string(56, 'z')},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DisplayText(c.text, kMaxBlockerName), c.shown) << c.text;
    }
    EXPECT_EQ(ProgramName(kExcel), "EXCEL.EXE");
    EXPECT_EQ(ProgramName("\\Device\\X\\evil\x07.exe"), "evil\\x07.exe");
    EXPECT_EQ(ProgramName("noslash.exe"), "noslash.exe");
    EXPECT_EQ(ProgramName("\\Device\\X\\"), "\\Device\\X\\");
}

TEST(BlockerEventTest, TheBoxKeepsItsTextAndAddsAParagraphTheLogLineNamesTheProgram) {
    const std::string fixed =
        "Unable to eject the device. There is a process active that blocks the ejection.";
    EXPECT_EQ(VetoBoxText({}), fixed);
    EXPECT_EQ(VetoLogLine("E", {}), "Eject of E: refused");
    const std::vector<Blocker> blockers = {
        {4321, "EXCEL.EXE", "C:\\Office\\EXCEL.EXE", "Microsoft Excel"},
        {88, "tool.exe", "", ""},
    };
    EXPECT_EQ(VetoBoxText(blockers), fixed + "\n\nBlocked by: Microsoft Excel - EXCEL.EXE (process "
                                             "4321)\nC:\\Office\\EXCEL.EXE\nBlocked by: tool.exe "
                                             "(process 88)");
    EXPECT_EQ(VetoLogLine("E", blockers),
              "Eject of E: refused by EXCEL.EXE (process 4321), tool.exe (process 88)");
}

} // namespace
