#include "installer/InstallTexts.h"

#include <algorithm>

#include "foundation/Paths.h"
#include "foundation/SettingsUnit.h"

namespace installer {

namespace {

// Element text needs only these three; quotes stay as they are (Wine's reader drops an
// element whose text holds an entity it does not expand).
std::wstring Escaped(const std::wstring& text) {
    std::wstring out;
    for (const wchar_t c : text) {
        switch (c) {
        case L'&':
            out += L"&amp;";
            break;
        case L'<':
            out += L"&lt;";
            break;
        case L'>':
            out += L"&gt;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

// Why each setting:
// - The principal is the Users group (S-1-5-32-545): the task runs as whoever logs on, in
//   their interactive session, never as SYSTEM in session 0 where no one would see it.
//   HighestAvailable elevates administrators without a prompt and starts a standard
//   account's tray monitor as that user, as its manifest (highestAvailable) asks; a Run
//   key would never elevate an administrator's.
// - Parallel instances: each user who logs on gets a tray monitor; the program itself
//   keeps one per session.
// - No time limit (the default of 72 hours would end the tray monitor), no battery
//   conditions (a laptop on battery still needs it), normal priority (the default 7 is
//   below normal, and the tray monitor must answer log-off queries promptly).
// - The program is named by full path in quotes: nothing is looked up on a search path
//   or in environment variables that the user controls.
std::wstring LogonTaskXml(const std::wstring& program) {
    return LR"(<?xml version="1.0" encoding="UTF-16"?>
<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">
  <RegistrationInfo>
    <Author>Driveward</Author>
    <Description>Starts Driveward's tray monitor at logon.</Description>
  </RegistrationInfo>
  <Triggers>
    <LogonTrigger>
      <Enabled>true</Enabled>
    </LogonTrigger>
  </Triggers>
  <Principals>
    <Principal id="Users">
      <GroupId>S-1-5-32-545</GroupId>
      <RunLevel>HighestAvailable</RunLevel>
    </Principal>
  </Principals>
  <Settings>
    <MultipleInstancesPolicy>Parallel</MultipleInstancesPolicy>
    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>
    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>
    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>
    <Priority>5</Priority>
    <Enabled>true</Enabled>
  </Settings>
  <Actions Context="Users">
    <Exec>
      <Command>")" +
           Escaped(program) + LR"("</Command>
    </Exec>
  </Actions>
</Task>
)";
}

std::optional<std::wstring> SettingsIniText(const std::wstring& debug,
                                            const std::wstring& logPath) {
    for (const wchar_t c : debug + logPath) {
        if (c < L' ' || c == 0x7F) {
            return std::nullopt;
        }
    }
    return L"; Driveward's settings, read once at start-up: a change counts from the next "
           L"logon.\r\n"
           L"; An upgrade keeps them; msiexec /i Driveward.msi DEBUG=1 changes the values "
           L"given.\r\n"
           L"[GENERAL]\r\n"
           L"; A non-zero integer (decimal, 0x.. or $.. hexadecimal) switches the diagnostic "
           L"log\r\n"
           L"; lines on.\r\n"
           L"DEBUG=" +
           debug +
           L"\r\n"
           L"; The root folder of the logs, an absolute path (D:\\Logs or "
           L"\\\\server\\share\\Logs);\r\n"
           L"; empty or anything else: this program's folder.\r\n"
           L"LogPath=" +
           logPath + L"\r\n";
}

std::optional<std::string> SettingsValueError(const std::string& debug,
                                              const std::string& logPath) {
    const auto hasControl = [](const std::string& value) {
        return std::any_of(value.begin(), value.end(),
                           [](unsigned char c) { return c < ' ' || c == 0x7F; });
    };
    for (const auto& [name, value] : {std::pair{"DEBUG", &debug}, std::pair{"LOGPATH", &logPath}}) {
        if (hasControl(*value)) {
            return std::string(name) +
                   " must be one line of text: no line break or other control character.";
        }
    }
    if (!debug.empty() && !DebugValue(Trim(debug))) {
        return std::string("DEBUG must be a whole number: decimal, or hexadecimal after 0x or $ "
                           "(0 switches the diagnostic log lines off, any other number on).");
    }
    if (!logPath.empty() && !SplitFolderPath(Trim(logPath))) {
        return std::string(
            "LOGPATH must be a full folder path, X:\\... or \\\\server\\share\\...: not a "
            "relative path, a device, a pipe or a mailslot, and no name in it with * ? \" < > | "
            ": or one that ends in a blank or a dot.");
    }
    return std::nullopt;
}

std::optional<std::vector<std::wstring>> QuotedArguments(const std::wstring& commandLine) {
    std::vector<std::wstring> arguments;
    std::size_t at = commandLine.find(L'"');
    while (at != std::wstring::npos) {
        const std::size_t end = commandLine.find(L'"', at + 1);
        if (end == std::wstring::npos) {
            return std::nullopt;
        }
        arguments.push_back(commandLine.substr(at + 1, end - at - 1));
        at = commandLine.find(L'"', end + 1);
    }
    return arguments;
}

} // namespace installer
