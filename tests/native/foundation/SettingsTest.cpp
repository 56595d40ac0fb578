#include <gtest/gtest.h>

#include "SimulatedMachineTest.h"
#include "foundation/SettingsUnit.h"

namespace {

TEST(IniPath, IsTheExecutableNameLessFourCharactersInItsFolder) {
    EXPECT_EQ(IniPathForExecutable("C:\\Tools\\monitor.exe"), "C:\\Tools\\monitor.ini");
    EXPECT_EQ(IniPathForExecutable("C:\\x.exe"), "C:\\x.ini");
    EXPECT_EQ(IniPathForExecutable("C:\\Tools\\Driveward.EXE"), "C:\\Tools\\Driveward.ini");
    EXPECT_EQ(IniPathForExecutable("C:\\Tools\\tool.com"), "C:\\Tools\\tool.ini");
    EXPECT_EQ(IniPathForExecutable("C:\\my.app\\run.bin"), "C:\\my.app\\run.ini");
    EXPECT_EQ(IniPathForExecutable("\\\\server\\share\\dw.exe"), "\\\\server\\share\\dw.ini");
    EXPECT_EQ(IniPathForExecutable("C:\\ab"), "C:\\.ini"); // shorter than the cut
}

TEST(DebugValue, NonZeroIntegersSwitchDebuggingOn) {
    const std::pair<const char*, bool> table[] = {
        {"1", true},           {"-1", true},          {"2", true},
        {"0x10", true},        {"0X1f", true},        {"$10", true},
        {"0x1", true},         {"0x0F", true},        {"$1", true},
        {"$FFFFFFFF", true},   {"+3", true},          {"0", false},
        {"-0", false},         {"0x0", false},        {"true", false},
        {"yes", false},        {"", false},           {"0x", false},
        {"$", false},          {"1a", false},         {"99999999999", false},
        {"2147483648", false}, {"-2147483648", true}, {"0x100000000", false},
        {"x10", false},        {"1 ", false},
    };
    for (const auto& [text, on] : table) {
        EXPECT_EQ(DebugValueIsOn(text), on) << '"' << text << '"';
    }
}

TEST(DebugValue, HexadecimalTakesAny32BitPattern) {
    EXPECT_EQ(StrToIntOpt("$FFFFFFFF"), -1);
    EXPECT_EQ(StrToIntOpt("-$10"), -16);
    EXPECT_EQ(StrToIntOpt("2147483647"), 2147483647);
    EXPECT_EQ(StrToIntOpt("-2147483648"), INT32_MIN);
}

class SettingsTest : public SimulatedMachineTest {
protected:
    const std::string ini = "C:\\Program Files\\Driveward\\Driveward.ini";
    void Set(const std::string& key, const std::string& value) {
        sim.profileValues[{ini, "GENERAL", key}] = value;
    }
    ~SettingsTest() override { ReleaseSettings(); }
};

TEST_F(SettingsTest, DefaultsWithoutAnIniFile) {
    const TSettings settings;
    EXPECT_FALSE(settings.Debug());
    EXPECT_EQ(settings.LogPath(), "C:\\Program Files\\Driveward\\");
    EXPECT_EQ(settings.IniFile().FileName(), ini);
    EXPECT_EQ(sim.profileReads,
              (std::vector<std::string>{ini + "|GENERAL|DEBUG", ini + "|GENERAL|LogPath"}));
}

TEST_F(SettingsTest, ValuesFromTheIniFile) {
    Set("DEBUG", "0x10");
    Set("LogPath", "D:\\Logs");
    const TSettings settings;
    EXPECT_TRUE(settings.Debug());
    EXPECT_EQ(settings.LogPath(), "D:\\Logs");
}

TEST_F(SettingsTest, AnEmptyLogPathGivesTheExecutablesFolder) {
    Set("LogPath", "");
    Set("DEBUG", "true");
    const TSettings settings;
    EXPECT_EQ(settings.LogPath(), "C:\\Program Files\\Driveward\\");
    EXPECT_FALSE(settings.Debug());
}

TEST_F(SettingsTest, OnlyADrivePathOrAShareIsTakenAsLogPath) {
    const std::pair<const char*, const char*> table[] = {
        {"D:\\Logs", "D:\\Logs"},
        {"d:/Logs", "d:/Logs"},
        {"Z:\\Logs", "Z:\\Logs"},
        {"z:/Logs", "z:/Logs"},
        {"A:\\Logs", "A:\\Logs"},
        {"\\\\server\\share\\logs", "\\\\server\\share\\logs"},
        {"  D:\\Logs ", "  D:\\Logs "}, // the log trims it
        {"   ", "C:\\Program Files\\Driveward\\"},
        {"Logs", "C:\\Program Files\\Driveward\\"},
        {"..\\Logs", "C:\\Program Files\\Driveward\\"},
        {"\\Logs", "C:\\Program Files\\Driveward\\"},
        {"D:", "C:\\Program Files\\Driveward\\"},
        {"D:Logs", "C:\\Program Files\\Driveward\\"},
        {"1:\\Logs", "C:\\Program Files\\Driveward\\"},
        // No device, pipe or mailslot, no namespace of their own, nothing but folder names.
        {"\\\\.\\pipe\\logs", "C:\\Program Files\\Driveward\\"},
        {"//./pipe/logs", "C:\\Program Files\\Driveward\\"},
        {"\\\\?\\C:\\Logs", "C:\\Program Files\\Driveward\\"},
        {"\\\\?\\GLOBALROOT\\Device\\Null", "C:\\Program Files\\Driveward\\"},
        {"\\\\server\\PIPE\\logs", "C:\\Program Files\\Driveward\\"},
        {"\\\\server\\pipe\\logs", "C:\\Program Files\\Driveward\\"},
        {"//server/Pipe/logs", "C:\\Program Files\\Driveward\\"},
        {"\\\\server\\mailslot\\logs", "C:\\Program Files\\Driveward\\"},
        {"\\\\server\\MailSlot\\logs", "C:\\Program Files\\Driveward\\"},
        {"\\\\server\\pipes\\logs", "\\\\server\\pipes\\logs"},
        {"\\\\server", "C:\\Program Files\\Driveward\\"},
        {"C:\\Logs\\CON", "C:\\Program Files\\Driveward\\"},
        {"C:\\Logs\\com1.txt\\x", "C:\\Program Files\\Driveward\\"},
        {"C:\\Logs:stream", "C:\\Program Files\\Driveward\\"},
        {"C:\\Logs\\..\\Windows", "C:\\Program Files\\Driveward\\"},
        {"C:\\Logs.\\x", "C:\\Program Files\\Driveward\\"},
        {"C:\\Logs \\x", "C:\\Program Files\\Driveward\\"},
        {"\\\\server\\share \\x", "C:\\Program Files\\Driveward\\"},
        {"C:\\Lo*s", "C:\\Program Files\\Driveward\\"},
        {"C:\\Logs\\COM10\\CONSOLE", "C:\\Logs\\COM10\\CONSOLE"},
    };
    for (const auto& [written, taken] : table) {
        Set("LogPath", written);
        EXPECT_EQ(TSettings().LogPath(), taken) << '"' << written << '"';
    }
}

TEST_F(SettingsTest, TheProcessWideSettingsAreReadOnce) {
    Set("DEBUG", "1");
    TSettings& first = Settings();
    Set("DEBUG", "0");
    TSettings& second = Settings();
    EXPECT_EQ(&first, &second);
    EXPECT_TRUE(second.Debug());
    EXPECT_EQ(sim.profileReads.size(), 2u);
    ReleaseSettings();
    EXPECT_FALSE(Settings().Debug()); // a new process would read the file anew
}

} // namespace
