#include "client/window/ShellAsUser_win.h"

#include <windows.h>

#include <shellapi.h>
#undef ShellExecute // shellapi.h's macro would rename IShellDispatch2's method
#include <exdisp.h>
#include <shldisp.h>
#include <shlobj.h>

#include <string>

#include "foundation/LogUnit.h"
#include "foundation/SettingsUnit.h"
#include "platform/windows/SystemLibrary.h"
#include "platform/windows/UniqueHandle.h"

namespace ui {
namespace {

using platform::windows::LoadSystemLibrary;
using platform::windows::UniqueKernelHandle;
using platform::windows::UniqueLibrary;

// Declared by the headers, defined in libuuid with hundreds of others: kept here (and the
// interfaces' own identifiers through __uuidof) so that none of those is linked in.
constexpr CLSID kClsidShellWindows = {
    0x9ba05972, 0xf6a8, 0x11cf, {0xa4, 0x42, 0x00, 0xa0, 0xc9, 0x0a, 0x8f, 0x39}};
constexpr GUID kSidTopLevelBrowser = {
    0x4c96be40, 0x915c, 0x11cf, {0x99, 0xd3, 0x00, 0xaa, 0x00, 0x4a, 0xe8, 0x37}};

// ole32 and oleaut32, loaded at run time by full path from the system folder.
struct Com {
    using CoInitializeExFn = HRESULT(WINAPI*)(void*, DWORD);
    using CoUninitializeFn = void(WINAPI*)();
    using CoCreateInstanceFn = HRESULT(WINAPI*)(REFCLSID, IUnknown*, DWORD, REFIID, void**);
    using CoEnableCallCancellationFn = HRESULT(WINAPI*)(void*);
    using SysAllocStringFn = BSTR(WINAPI*)(const OLECHAR*);
    using SysFreeStringFn = void(WINAPI*)(BSTR);

    UniqueLibrary ole32 = LoadSystemLibrary("ole32.dll");
    UniqueLibrary oleaut32 = LoadSystemLibrary("oleaut32.dll");
    CoInitializeExFn initialize = Get<CoInitializeExFn>(ole32, "CoInitializeEx");
    CoUninitializeFn uninitialize = Get<CoUninitializeFn>(ole32, "CoUninitialize");
    CoCreateInstanceFn create = Get<CoCreateInstanceFn>(ole32, "CoCreateInstance");
    CoEnableCallCancellationFn enableCancellation =
        Get<CoEnableCallCancellationFn>(ole32, "CoEnableCallCancellation");
    SysAllocStringFn allocString = Get<SysAllocStringFn>(oleaut32, "SysAllocString");
    SysFreeStringFn freeString = Get<SysFreeStringFn>(oleaut32, "SysFreeString");

    bool Complete() const {
        return initialize && uninitialize && create && allocString && freeString;
    }
    template <typename Fn> static Fn Get(const UniqueLibrary& library, const char* name) {
        return library ? reinterpret_cast<Fn>(
                             reinterpret_cast<void*>(::GetProcAddress(library.get(), name)))
                       : nullptr;
    }
};

// The apartment of one call: initialised on construction, uninitialised last.
class Apartment {
public:
    explicit Apartment(const Com& com) : com_(com) {
        initialised_ =
            SUCCEEDED(com_.initialize(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    }
    ~Apartment() {
        if (initialised_) {
            com_.uninitialize();
        }
    }
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
    explicit operator bool() const { return initialised_; }

private:
    const Com& com_;
    bool initialised_ = false;
};

// One reference to a COM object, released on every path.
template <typename T> class ComRef {
public:
    ComRef() = default;
    ~ComRef() {
        if (object_ != nullptr) {
            object_->Release();
        }
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T** Put() { return &object_; }
    void** PutVoid() { return reinterpret_cast<void**>(&object_); }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T* object_ = nullptr;
};

class Bstr {
public:
    Bstr(const Com& com, const std::wstring& text)
        : com_(com), text_(com.allocString(text.c_str())) {}
    ~Bstr() { com_.freeString(text_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return text_; }
    VARIANT AsVariant() const {
        VARIANT value = {};
        value.vt = VT_BSTR;
        value.bstrVal = text_; // borrowed: the variant is never cleared
        return value;
    }

private:
    const Com& com_;
    BSTR text_;
};

// Shared by the caller and the route's thread; the last one to let go frees it.
struct Request {
    std::wstring file;
    std::wstring parameters;
    bool execute = false;
    LONG references = 2;
    LONG abandoned = 0; // set by the caller when it stopped waiting
    // Written by the route's thread, read by the caller once that thread has ended.
    bool succeeded = false;
    const char* failedStep = nullptr;
    HRESULT result = S_OK;
};

void Release(Request* request) {
    if (::InterlockedDecrement(&request->references) == 0) {
        delete request;
    }
}

// The object an answer hands over counts only with S_OK and a pointer: Explorer's
// answers are taken as they come, not trusted. The object is looked at here, once the
// call that fills it has returned.
template <typename T>
bool Step(Request& request, const char* step, HRESULT result, const ComRef<T>& object) {
    if (result == S_OK && object) {
        return true;
    }
    request.failedStep = step;
    request.result = result;
    return false;
}

bool RunRoute(Request& request) {
    const Com com;
    if (!com.Complete()) {
        request.failedStep = "loading COM";
        return false;
    }
    const Apartment apartment(com); // outlives every reference below
    if (!apartment) {
        request.failedStep = "CoInitializeEx";
        return false;
    }
    if (com.enableCancellation != nullptr) {
        com.enableCancellation(nullptr); // lets the caller cancel a call that hangs
    }
    // A local server only: the shell windows' registry lives in Explorer, and no DLL is
    // loaded into this (elevated) process for it.
    ComRef<IShellWindows> windows;
    if (!Step(request, "ShellWindows",
              com.create(kClsidShellWindows, nullptr, CLSCTX_LOCAL_SERVER, __uuidof(IShellWindows),
                         windows.PutVoid()),
              windows)) {
        return false;
    }
    VARIANT location = {};
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    VARIANT root = {}; // VT_EMPTY
    LONG window = 0;
    ComRef<IDispatch> desktop;
    if (!Step(request, "FindWindowSW",
              windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                                    desktop.Put()),
              desktop)) {
        return false;
    }
    ComRef<IServiceProvider> provider;
    ComRef<IShellBrowser> browser;
    ComRef<IShellView> view;
    ComRef<IDispatch> background;
    ComRef<IShellFolderViewDual> folderView;
    ComRef<IDispatch> application;
    ComRef<IShellDispatch2> shell;
    if (!Step(request, "IServiceProvider",
              desktop->QueryInterface(__uuidof(IServiceProvider), provider.PutVoid()), provider) ||
        !Step(
            request, "SID_STopLevelBrowser",
            provider->QueryService(kSidTopLevelBrowser, __uuidof(IShellBrowser), browser.PutVoid()),
            browser) ||
        !Step(request, "QueryActiveShellView", browser->QueryActiveShellView(view.Put()), view) ||
        !Step(request, "GetItemObject",
              view->GetItemObject(SVGIO_BACKGROUND, __uuidof(IDispatch), background.PutVoid()),
              background) ||
        !Step(request, "IShellFolderViewDual",
              background->QueryInterface(__uuidof(IShellFolderViewDual), folderView.PutVoid()),
              folderView) ||
        !Step(request, "get_Application", folderView->get_Application(application.Put()),
              application) ||
        !Step(request, "IShellDispatch2",
              application->QueryInterface(__uuidof(IShellDispatch2), shell.PutVoid()), shell)) {
        return false;
    }
    if (!request.execute) {
        return true;
    }
    if (::InterlockedCompareExchange(&request.abandoned, 0, 0) != 0) {
        request.failedStep = "late";
        return false; // the caller gave up: open nothing behind its back
    }
    const Bstr file(com, request.file);
    const Bstr parameters(com, request.parameters);
    const Bstr folder(com, L"");
    const Bstr operation(com, L"open");
    if (file.get() == nullptr || parameters.get() == nullptr || folder.get() == nullptr ||
        operation.get() == nullptr) {
        request.failedStep = "SysAllocString";
        return false;
    }
    VARIANT show = {};
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    const HRESULT opened = shell->ShellExecute(file.get(), parameters.AsVariant(),
                                               folder.AsVariant(), operation.AsVariant(), show);
    if (opened != S_OK) {
        request.failedStep = "ShellExecute";
        request.result = opened;
        return false;
    }
    return true;
}

DWORD WINAPI RouteThread(void* parameter) {
    auto* request = static_cast<Request*>(parameter);
    request->succeeded = RunRoute(*request);
    Release(request);
    return 0;
}

// Waits for the thread up to the bound, handling only messages that other threads send
// to this one's windows (Explorer may broadcast while it opens something).
bool WaitBounded(HANDLE thread) {
    const ULONGLONG end = ::GetTickCount64() + kShellRouteBound;
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= end) {
            return false;
        }
        const DWORD waited = ::MsgWaitForMultipleObjects(
            1, &thread, FALSE, static_cast<DWORD>(end - now), QS_SENDMESSAGE);
        if (waited == WAIT_OBJECT_0) {
            return true;
        }
        if (waited != WAIT_OBJECT_0 + 1) {
            return false;
        }
        MSG message;
        ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

void CancelPendingCall(DWORD threadId) {
    using CoCancelCallFn = HRESULT(WINAPI*)(DWORD, ULONG);
    const UniqueLibrary ole32 = LoadSystemLibrary("ole32.dll");
    if (const auto cancel = Com::Get<CoCancelCallFn>(ole32, "CoCancelCall")) {
        cancel(threadId, 0);
    }
}

void LogFailure(const Request& request) {
    if (Log == nullptr || !Settings().Debug()) {
        return;
    }
    std::string code(8, '0');
    auto value = static_cast<unsigned long>(request.result);
    for (auto digit = code.rbegin(); digit != code.rend(); ++digit, value >>= 4) {
        *digit = "0123456789ABCDEF"[value & 0xF];
    }
    Log->Add(std::string("Shell route as the user unavailable at ") +
             (request.failedStep != nullptr ? request.failedStep : "its bound") + " (0x" + code +
             ")");
}

ShellOutcome RunBounded(const std::wstring& file, const std::wstring& parameters, bool execute) {
    auto* request = new Request;
    request->file = file;
    request->parameters = parameters;
    request->execute = execute;
    DWORD threadId = 0;
    const UniqueKernelHandle thread(::CreateThread(nullptr, 0, RouteThread, request, 0, &threadId));
    if (!thread) {
        delete request; // the thread never started: the only reference left is ours
        return ShellOutcome::NotOpened;
    }
    ShellOutcome outcome = ShellOutcome::Late;
    if (WaitBounded(thread.get())) {
        outcome = request->succeeded ? ShellOutcome::Opened : ShellOutcome::NotOpened;
        if (!request->succeeded) {
            LogFailure(*request);
        }
    } else {
        ::InterlockedExchange(&request->abandoned, 1);
        CancelPendingCall(threadId);
        LogFailure(Request{});
    }
    Release(request);
    return outcome;
}

} // namespace

bool ShellRouteAvailable() {
    return RunBounded(L"", L"", false) == ShellOutcome::Opened;
}

ShellOutcome ShellOpenAsUser(const std::wstring& file, const std::wstring& parameters) {
    return RunBounded(file, parameters, true);
}

} // namespace ui
