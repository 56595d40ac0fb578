// DrivewardInstallCheck.dll: the MSI's immediate custom actions, which run before anything
// is changed (it is not installed). A DLL, not a program: only a DLL reads the properties
// as they stand (a value with quotation marks or a line break cannot be passed on a
// program's command line intact) and writes into the installer's log and error.
//   RefuseDowngrade: when a newer version is installed, ends the installation with the
//       launch condition's own message (Wine's installer neither logs nor reports it).
//   CheckSettings: refuses a DEBUG or LOGPATH value that the programs would refuse, with a
//       message that names the property and the rule; the installation then ends with
//       nothing changed.
//   NoteServiceWanted: sets DrivewardServiceWanted when the companion service runs or a
//       tray monitor runs, so that the service is started again once the new files are in
//       (an upgrade or repair stops it to replace its program); and DrivewardTrayMonitors
//       when a tray monitor runs: it holds the program that an upgrade, repair or removal
//       replaces, so the installation asks for a restart.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>
#include <tlhelp32.h>

#include <string>

#include "installer/InstallTexts.h"
#include "platform/windows/UniqueHandle.h"

namespace {

std::wstring Property(MSIHANDLE install, const wchar_t* name) {
    DWORD size = 0;
    wchar_t empty[1] = L"";
    if (::MsiGetPropertyW(install, name, empty, &size) != ERROR_MORE_DATA) {
        return std::wstring();
    }
    std::wstring value(size + 1, L'\0');
    size = static_cast<DWORD>(value.size());
    if (::MsiGetPropertyW(install, name, value.data(), &size) != ERROR_SUCCESS) {
        return std::wstring();
    }
    value.resize(size);
    return value;
}

// The value as the programs will read it from their INI files: in the ANSI code page, with
// the replacement the INI writer makes for a character that the code page lacks.
std::string AnsiText(const std::wstring& text) {
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(),
                          size, nullptr, nullptr);
    return bytes;
}

// One message to the installer: "type" decides whether it is only logged (information) or
// also the installation's error, shown unless the installation runs silently. The text is
// a field of the record, not its template: brackets and backslashes in it stay as they are.
void Tell(MSIHANDLE install, INSTALLMESSAGE type, const std::wstring& text) {
    const MSIHANDLE record = ::MsiCreateRecord(1);
    ::MsiRecordSetStringW(record, 0, L"[1]");
    ::MsiRecordSetStringW(record, 1, text.c_str());
    ::MsiProcessMessage(install, type, record);
    ::MsiCloseHandle(record);
}

// The message of the launch condition that refuses a downgrade, as the MSI holds it.
std::wstring DowngradeMessage(MSIHANDLE install) {
    std::wstring message = L"A newer version is already installed.";
    const MSIHANDLE database = ::MsiGetActiveDatabase(install);
    MSIHANDLE view = 0;
    MSIHANDLE record = 0;
    if (::MsiDatabaseOpenViewW(database,
                               L"SELECT `Description` FROM `LaunchCondition` WHERE `Condition` = "
                               L"'NOT WIX_DOWNGRADE_DETECTED'",
                               &view) == ERROR_SUCCESS &&
        ::MsiViewExecute(view, 0) == ERROR_SUCCESS &&
        ::MsiViewFetch(view, &record) == ERROR_SUCCESS) {
        wchar_t text[512] = L"";
        DWORD size = sizeof text / sizeof text[0];
        if (::MsiRecordGetStringW(record, 1, text, &size) == ERROR_SUCCESS) {
            message = text;
        }
    }
    for (const MSIHANDLE handle : {record, view, database}) {
        if (handle != 0) {
            ::MsiCloseHandle(handle);
        }
    }
    return message;
}

bool ServiceRuns() {
    using platform::windows::UniqueServiceHandle;
    const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueServiceHandle service(
        manager ? ::OpenServiceW(manager.get(), L"DrivewardService", SERVICE_QUERY_STATUS)
                : nullptr);
    SERVICE_STATUS status{};
    return service && ::QueryServiceStatus(service.get(), &status) &&
           status.dwCurrentState != SERVICE_STOPPED;
}

// Any process of that name, in any session: a tray monitor of any user wants the service.
bool TrayMonitorRuns() {
    const platform::windows::UniqueFileHandle snapshot(
        ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return false;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry)) {
        if (::lstrcmpiW(entry.szExeFile, L"Driveward.exe") == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" __declspec(dllexport) UINT __stdcall RefuseDowngrade(MSIHANDLE install) {
    Tell(install, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR),
         DowngradeMessage(install));
    return ERROR_INSTALL_FAILURE;
}

extern "C" __declspec(dllexport) UINT __stdcall CheckSettings(MSIHANDLE install) {
    const auto error = installer::SettingsValueError(AnsiText(Property(install, L"DEBUG")),
                                                     AnsiText(Property(install, L"LOGPATH")));
    if (!error) {
        return ERROR_SUCCESS;
    }
    Tell(install, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR),
         std::wstring(error->begin(), error->end())); // ASCII text
    return ERROR_INSTALL_FAILURE;
}

extern "C" __declspec(dllexport) UINT __stdcall NoteServiceWanted(MSIHANDLE install) {
    const bool service = ServiceRuns();
    const bool tray = TrayMonitorRuns();
    if (tray) {
        ::MsiSetPropertyW(install, L"DrivewardTrayMonitors", L"1");
    }
    if (service || tray) {
        ::MsiSetPropertyW(install, L"DrivewardServiceWanted", L"1");
        Tell(install, INSTALLMESSAGE_INFO,
             std::wstring(L"Driveward: ") +
                 (service ? L"the companion service runs" : L"a tray monitor runs") +
                 L", so the service is started again after the installation.");
    }
    return ERROR_SUCCESS;
}
