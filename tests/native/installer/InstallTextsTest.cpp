#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "installer/InstallTexts.h"

namespace {

using installer::LogonTaskXml;
using installer::QuotedArguments;
using installer::SettingsIniText;
using installer::SettingsValueError;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using Arguments = std::optional<std::vector<std::wstring>>;

// The text of the task's Command element.
std::wstring CommandOf(const std::wstring& xml) {
    const std::wstring open = L"<Command>";
    const auto start = xml.find(open) + open.size();
    return xml.substr(start, xml.find(L"</Command>", start) - start);
}

TEST(InstallTexts, TheTaskNamesTheProgramInQuotesWithWhatXmlGivesAMeaningEscaped) {
    const std::pair<const wchar_t*, const wchar_t*> table[] = {
        {L"C:\\Program Files\\Driveward\\Driveward.exe",
         L"\"C:\\Program Files\\Driveward\\Driveward.exe\""},
        {L"D:\\R&D <new>\\Driveward.exe", L"\"D:\\R&amp;D &lt;new&gt;\\Driveward.exe\""},
        {L"D:\\a&amp;b\\Driveward.exe", L"\"D:\\a&amp;amp;b\\Driveward.exe\""},
        {L"D:\\Bob's tools\\Driveward.exe", L"\"D:\\Bob's tools\\Driveward.exe\""},
    };
    for (const auto& [program, command] : table) {
        EXPECT_EQ(CommandOf(LogonTaskXml(program)), command);
    }
}

TEST(InstallTexts, TheSettingsFileTakesTheValuesAsTheyStandButRefusesControlCharacters) {
    const auto text = SettingsIniText(L" 0x10", L"\\\\server\\share\\Journaux \u00e9t\u00e9\\");
    ASSERT_TRUE(text);
    EXPECT_THAT(*text, HasSubstr(L"\r\n[GENERAL]\r\n"));
    EXPECT_THAT(*text, HasSubstr(L"\r\nDEBUG= 0x10\r\n"));
    EXPECT_THAT(*text, EndsWith(L"\r\nLogPath=\\\\server\\share\\Journaux \u00e9t\u00e9\\\r\n"));

    const std::pair<const wchar_t*, const wchar_t*> refused[] = {
        {L"1", L"D:\\Logs\r\nDEBUG=0"}, {L"1\n", L"D:\\Logs"}, {L"1", L"D:\\Logs\r"},
        {L"1", L"D:\\\tLogs"},          {L"1\x7F", L""},
    };
    for (const auto& [debug, logPath] : refused) {
        EXPECT_EQ(SettingsIniText(debug, logPath), std::nullopt) << logPath;
    }
}

// The programs' own rules, each value as the INI reader gives it (blanks dropped); an
// empty value is one not given. The message names the property.
TEST(InstallTexts, TheValuesAreCheckedWithTheProgramsOwnRules) {
    const std::tuple<const char*, const char*, const char*> table[] = {
        {"", "", nullptr},
        {"1", "D:\\Logs\\", nullptr},
        {" 0x10 ", " \\\\server\\share\\Logs", nullptr},
        {"-1", "D:\\", nullptr},
        {"$FF", "", nullptr},
        {"yes", "", "DEBUG must be a whole number"},
        {"1.5", "D:\\Logs", "DEBUG must be a whole number"},
        {"\"1\"", "", "DEBUG must be a whole number"},
        {"4294967296", "", "DEBUG must be a whole number"},
        {"1\r\nLogPath=C:\\", "", "DEBUG must be one line"},
        {"", "Logs", "LOGPATH must be a full folder path"},
        {"", "D:Logs", "LOGPATH must be a full folder path"},
        {"", "D:\\Lo*gs", "LOGPATH must be a full folder path"},
        {"", "\\\\.\\pipe\\x", "LOGPATH must be a full folder path"},
        {"", "\\\\server\\pipe\\x", "LOGPATH must be a full folder path"},
        {"", "D:\\a\"b", "LOGPATH must be a full folder path"},
        {"", "   ", "LOGPATH must be a full folder path"},
        {"1", "D:\\Logs\nDEBUG=0", "LOGPATH must be one line"},
    };
    for (const auto& [debug, logPath, error] : table) {
        const auto result = SettingsValueError(debug, logPath);
        if (error == nullptr) {
            EXPECT_EQ(result, std::nullopt) << debug << " " << logPath;
        } else {
            EXPECT_THAT(result.value_or(""), ::testing::StartsWith(error)) << debug << logPath;
        }
    }
}

TEST(InstallTexts, EachValueInQuotesIsTakenAsItStands) {
    using Values = std::vector<std::wstring>;
    const std::pair<const wchar_t*, Arguments> table[] = {
        {L"", Values{}},
        {L" \"C:\\Program Files\\Driveward\\Driveward.exe\"",
         Values{L"C:\\Program Files\\Driveward\\Driveward.exe"}},
        {L" \"C:\\D\\Driveward.exe\" \"1\" \"D:\\Logs\\\"", // a folder's trailing backslash
         Values{L"C:\\D\\Driveward.exe", L"1", L"D:\\Logs\\"}},
        {L" \"\" \"D:\\Logs\\\" \"\"", Values{L"", L"D:\\Logs\\", L""}},
        {L" \"1\" \"D:\\Logs", std::nullopt},
        {L" \"", std::nullopt},
    };
    for (const auto& [commandLine, values] : table) {
        EXPECT_EQ(QuotedArguments(commandLine), values) << commandLine;
    }
}

} // namespace
