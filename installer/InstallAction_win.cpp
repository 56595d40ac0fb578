// DrivewardInstallAction.exe: the MSI's custom actions, run as SYSTEM from its Binary
// table (it is not installed).
//   register-task "C:\Program Files\Driveward\Driveward.exe"
//       registers the Task Scheduler task that starts the tray monitor at every logon. A
//       task, not a Run key: programs started from the Run keys are never elevated, and
//       an administrator's tray monitor must be (its manifest asks for the highest rights
//       the account has).
//   remove-task
//       removes it; a task that is already gone is no failure.
//   write-ini "C:\Program Files\Driveward\Driveward.exe" "DEBUG" "LOGPATH"
//       writes Driveward.ini and DrivewardService.ini beside it with the values given to
//       msiexec (empty: not given). A missing file is created (DEBUG 0 when none is
//       given); in a file that is there, each value given replaces its own and everything
//       else stays, so an upgrade or a later installation changes only what it is given.
//       The values were checked before the installation began (DrivewardInstallCheck.dll):
//       they hold no quotation mark, so the quotes of this command line pair up.
//   start-service
//       starts the companion service again after an upgrade or repair stopped it; a
//       service already running is no failure.
//   quote-service-path "C:\Program Files\Driveward\DrivewardService.exe"
//       registers the service's path in quotes. Windows Installer quotes it itself, but not
//       every engine that runs MSI files does (Wine's does not), and an unquoted path with
//       a blank lets C:\Program.exe run as SYSTEM.
#include <windows.h>

#include <taskschd.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "installer/InstallTexts.h"
#include "platform/windows/SafeDllSearch.h"
#include "platform/windows/UniqueHandle.h"

namespace {

constexpr const wchar_t* kTaskName = L"Driveward";
constexpr const wchar_t* kServiceName = L"DrivewardService";

// Releases a COM interface on every path.
template <typename Interface> class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() {
        if (pointer_ != nullptr) {
            pointer_->Release();
        }
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    Interface* operator->() const { return pointer_; }
    Interface** put() { return &pointer_; }
    void** put_void() { return reinterpret_cast<void**>(&pointer_); }

private:
    Interface* pointer_ = nullptr;
};

class ComScope {
public:
    ComScope() : result_(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(result_)) {
            ::CoUninitialize();
        }
    }
    HRESULT result() const { return result_; }

private:
    HRESULT result_;
};

int Fail(const char* step, HRESULT result) {
    // msiexec's log keeps the exit code; the text helps someone running it by hand with
    // its error output redirected (a GUI program has no console of its own).
    std::fprintf(stderr, "DrivewardInstallAction: %s failed: 0x%08lX\n", step,
                 static_cast<unsigned long>(result));
    return 1;
}

// The root folder of the local task scheduler, connected as the caller.
HRESULT OpenRootFolder(ComPtr<ITaskService>& service, ComPtr<ITaskFolder>& root) {
    HRESULT result = ::CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_ITaskService, service.put_void());
    if (FAILED(result)) {
        return result;
    }
    VARIANT empty;
    ::VariantInit(&empty);
    result = service->Connect(empty, empty, empty, empty);
    if (FAILED(result)) {
        return result;
    }
    BSTR path = ::SysAllocString(L"\\");
    result = service->GetFolder(path, root.put());
    ::SysFreeString(path);
    return result;
}

int Register(const std::wstring& program) {
    ComPtr<ITaskService> service;
    ComPtr<ITaskFolder> root;
    if (const HRESULT result = OpenRootFolder(service, root); FAILED(result)) {
        return Fail("Connecting to the task scheduler", result);
    }
    const std::wstring xml = installer::LogonTaskXml(program);
    BSTR name = ::SysAllocString(kTaskName);
    BSTR text = ::SysAllocString(xml.c_str());
    VARIANT empty;
    ::VariantInit(&empty);
    ComPtr<IRegisteredTask> task;
    // No user given: the task's own principal (the Users group) is taken from the XML.
    const HRESULT result = root->RegisterTask(name, text, TASK_CREATE_OR_UPDATE, empty, empty,
                                              TASK_LOGON_GROUP, empty, task.put());
    ::SysFreeString(text);
    ::SysFreeString(name);
    return FAILED(result) ? Fail("Registering the logon task", result) : 0;
}

int Remove() {
    ComPtr<ITaskService> service;
    ComPtr<ITaskFolder> root;
    if (const HRESULT result = OpenRootFolder(service, root); FAILED(result)) {
        return Fail("Connecting to the task scheduler", result);
    }
    BSTR name = ::SysAllocString(kTaskName);
    const HRESULT result = root->DeleteTask(name, 0);
    ::SysFreeString(name);
    // A task already gone (removed by hand) must not block the uninstall.
    if (result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
        return 0;
    }
    return FAILED(result) ? Fail("Removing the logon task", result) : 0;
}

constexpr int kIniExists = -1;

// Creates the file with the text; kIniExists when it is there already.
int WriteNewIni(const std::wstring& path, const std::wstring& text) {
    const platform::windows::UniqueHandle<platform::windows::FileHandleTraits> file(::CreateFileW(
        path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_EXISTS ? kIniExists
                                          : Fail("Creating an INI file", HRESULT_FROM_WIN32(error));
    }
    // The programs read the file in the system's ANSI code page.
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(),
                          size, nullptr, nullptr);
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) ||
        written != bytes.size()) {
        return Fail("Writing an INI file", HRESULT_FROM_WIN32(::GetLastError()));
    }
    return 0;
}

// Each value given replaces its own key in the file; the other lines stay as they are.
int UpdateIni(const std::wstring& path, const std::wstring& debug, const std::wstring& logPath) {
    for (const auto& [key, value] :
         {std::pair{L"DEBUG", &debug}, std::pair{L"LogPath", &logPath}}) {
        if (!value->empty() &&
            !::WritePrivateProfileStringW(L"GENERAL", key, value->c_str(), path.c_str())) {
            return Fail("Changing an INI file", HRESULT_FROM_WIN32(::GetLastError()));
        }
    }
    return 0;
}

int WriteIniFiles(const std::wstring& program, const std::wstring& debug,
                  const std::wstring& logPath) {
    const auto text = installer::SettingsIniText(debug.empty() ? L"0" : debug, logPath);
    if (!text) {
        return Fail("DEBUG or LOGPATH holds a control character", E_INVALIDARG);
    }
    const std::wstring folder = program.substr(0, program.rfind(L'\\') + 1);
    for (const wchar_t* name : {L"Driveward.ini", L"DrivewardService.ini"}) {
        const std::wstring path = folder + name;
        int result = WriteNewIni(path, *text);
        if (result == kIniExists) {
            result = UpdateIni(path, debug, logPath);
        }
        if (result != 0) {
            return result;
        }
    }
    return 0;
}

int StartCompanionService() {
    using platform::windows::UniqueServiceHandle;
    const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return Fail("OpenSCManager", HRESULT_FROM_WIN32(::GetLastError()));
    }
    const UniqueServiceHandle service(::OpenServiceW(manager.get(), kServiceName, SERVICE_START));
    if (!service) {
        return Fail("OpenService", HRESULT_FROM_WIN32(::GetLastError()));
    }
    if (!::StartServiceW(service.get(), 0, nullptr) &&
        ::GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        return Fail("StartService", HRESULT_FROM_WIN32(::GetLastError()));
    }
    return 0;
}

int QuoteServicePath(const std::wstring& program) {
    using platform::windows::UniqueServiceHandle;
    const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return Fail("OpenSCManager", HRESULT_FROM_WIN32(::GetLastError()));
    }
    const UniqueServiceHandle service(
        ::OpenServiceW(manager.get(), kServiceName, SERVICE_CHANGE_CONFIG));
    if (!service) {
        return Fail("OpenService", HRESULT_FROM_WIN32(::GetLastError()));
    }
    const std::wstring quoted = L"\"" + program + L"\"";
    if (!::ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                SERVICE_NO_CHANGE, quoted.c_str(), nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr)) {
        return Fail("ChangeServiceConfig", HRESULT_FROM_WIN32(::GetLastError()));
    }
    return 0;
}

// The command line after the program's own name, which may be in quotes.
std::wstring AfterProgramName(const std::wstring& line) {
    const std::size_t end = line.starts_with(L'"') ? line.find(L'"', 1) : line.find(L' ');
    const std::size_t rest =
        end == std::wstring::npos ? line.size() : line.find_first_not_of(L' ', end + 1);
    return rest == std::wstring::npos ? std::wstring() : line.substr(rest);
}

} // namespace

// The command is the first word; its values follow in quotes (installer::QuotedArguments),
// since msiexec passes "D:\Logs\" as it stands.
int wmain() {
    // Before anything loads a DLL: COM and the task scheduler load theirs by name, and this
    // program runs as SYSTEM from a temporary folder.
    UseSafeDllSearch();
    const ComScope com;
    if (FAILED(com.result())) {
        return Fail("CoInitializeEx", com.result());
    }
    const std::wstring arguments = AfterProgramName(::GetCommandLineW());
    const std::wstring command = arguments.substr(0, arguments.find(L' '));
    const auto values = installer::QuotedArguments(arguments.substr(command.size()));
    const auto count = values ? values->size() : std::size_t{99};
    if (command == L"register-task" && count == 1) {
        return Register(values->at(0));
    }
    if (command == L"remove-task" && count == 0) {
        return Remove();
    }
    if (command == L"write-ini" && count == 3) {
        return WriteIniFiles(values->at(0), values->at(1), values->at(2));
    }
    if (command == L"quote-service-path" && count == 1) {
        return QuoteServicePath(values->at(0));
    }
    if (command == L"start-service" && count == 0) {
        return StartCompanionService();
    }
    std::fputws(L"usage: DrivewardInstallAction register-task \"PROGRAM\" | remove-task |"
                L" write-ini \"PROGRAM\" \"DEBUG\" \"LOGPATH\" | quote-service-path \"PROGRAM\" |"
                L" start-service\n",
                stderr);
    return 2;
}
