#pragma once
#include <optional>
#include <string>
#include <vector>

namespace installer {

// The Task Scheduler definition that starts "program" (a full path, unquoted) at every
// user's logon, as that user, in that user's session, with the highest rights the user
// has. Characters that XML gives a meaning are escaped.
std::wstring LogonTaskXml(const std::wstring& program);

// The settings file that a first installation writes (Driveward.ini and
// DrivewardService.ini have the same layout), with the values given to msiexec; nullopt
// when a value holds a control character, which would add lines of its own.
std::optional<std::wstring> SettingsIniText(const std::wstring& debug, const std::wstring& logPath);

// Why the installer refuses the DEBUG or LOGPATH value given to msiexec (each as the
// programs will read it: in the system's ANSI code page), naming the property and the rule;
// nullopt when both are fine. An empty value is one not given. The rules are the programs'
// own: DEBUG must convert as the settings convert it (DebugValue), LOGPATH must be a folder
// path the log accepts (SplitFolderPath), both after the blanks the INI reader drops; and
// neither may hold a control character, which would add lines to the INI file.
std::optional<std::string> SettingsValueError(const std::string& debug, const std::string& logPath);

// The arguments in quotes of a custom action's command line ("a" "b\" ""), in order. The
// installer puts each value in quotes as it stands, so a backslash before a quote is part
// of the value (a folder such as D:\Logs\), unlike the C runtime's rules. nullopt when the
// quotes do not pair up.
std::optional<std::vector<std::wstring>> QuotedArguments(const std::wstring& commandLine);

} // namespace installer
