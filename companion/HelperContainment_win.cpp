#include "companion/HelperContainment_win.h"

namespace {

using platform::windows::UniqueKernelHandle;

// Attribute numbers and values of newer SDKs, given here so that the build does not
// depend on the headers' age; the system says at run time whether it knows them.
constexpr DWORD_PTR kAttributeMitigationPolicy =
    0x00020007; // PROC_THREAD_ATTRIBUTE_MITIGATION_POLICY
constexpr DWORD_PTR kAttributeChildProcessPolicy =
    0x0002000E; // PROC_THREAD_ATTRIBUTE_CHILD_PROCESS_POLICY
constexpr DWORD kChildProcessRestricted = 0x01;
constexpr DWORD64 kImageLoadNoRemote = 0x1ull << 52;
constexpr DWORD64 kImageLoadNoLowLabel = 0x1ull << 56;
constexpr DWORD64 kImageLoadPreferSystem32 = 0x1ull << 60;

using InitializeList = BOOL(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD, PSIZE_T);
using UpdateList = BOOL(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD_PTR, PVOID, SIZE_T,
                                 PVOID, PSIZE_T);
using DeleteList = VOID(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST);

template <typename Function> Function Kernel32Entry(const char* name) {
    // kernel32 is in every process already; no library is loaded by name here.
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    return kernel32 == nullptr ? nullptr
                               : reinterpret_cast<Function>(
                                     reinterpret_cast<void*>(::GetProcAddress(kernel32, name)));
}

} // namespace

std::optional<SystemFailure> CreateHelperJob(UniqueKernelHandle& job) {
    UniqueKernelHandle created(::CreateJobObjectW(nullptr, nullptr));
    if (!created) {
        return SystemFailure{"CreateJobObject", ::GetLastError()};
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    // No JOB_OBJECT_LIMIT_BREAKAWAY_OK: nothing the helper starts may leave the job.
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_ACTIVE_PROCESS |
                                              JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE |
                                              JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    limits.BasicLimitInformation.ActiveProcessLimit = 1;
    if (!::SetInformationJobObject(created.get(), JobObjectExtendedLimitInformation, &limits,
                                   sizeof limits)) {
        return SystemFailure{"SetInformationJobObject (limits)", ::GetLastError()};
    }
    JOBOBJECT_BASIC_UI_RESTRICTIONS ui = {};
    ui.UIRestrictionsClass = JOB_OBJECT_UILIMIT_HANDLES | JOB_OBJECT_UILIMIT_DESKTOP |
                             JOB_OBJECT_UILIMIT_EXITWINDOWS | JOB_OBJECT_UILIMIT_GLOBALATOMS |
                             JOB_OBJECT_UILIMIT_SYSTEMPARAMETERS |
                             JOB_OBJECT_UILIMIT_DISPLAYSETTINGS | JOB_OBJECT_UILIMIT_READCLIPBOARD |
                             JOB_OBJECT_UILIMIT_WRITECLIPBOARD;
    if (!::SetInformationJobObject(created.get(), JobObjectBasicUIRestrictions, &ui, sizeof ui)) {
        return SystemFailure{"SetInformationJobObject (UI limits)", ::GetLastError()};
    }
    job = std::move(created);
    return std::nullopt;
}

HelperAttributes::HelperAttributes()
    : childPolicy_(kChildProcessRestricted),
      mitigationPolicy_(kImageLoadNoRemote | kImageLoadNoLowLabel | kImageLoadPreferSystem32) {
    const auto initialize = Kernel32Entry<InitializeList>("InitializeProcThreadAttributeList");
    const auto update = Kernel32Entry<UpdateList>("UpdateProcThreadAttribute");
    if (initialize == nullptr || update == nullptr) {
        return;
    }
    SIZE_T size = 0;
    initialize(nullptr, 2, 0, &size);
    if (size == 0) {
        return;
    }
    storage_ = std::make_unique<unsigned char[]>(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.get());
    if (!initialize(list, 2, 0, &size)) {
        storage_.reset();
        return;
    }
    list_ = list;
    // Each one alone: a system that does not know one still takes the other.
    if (update(list_, 0, kAttributeChildProcessPolicy, &childPolicy_, sizeof childPolicy_, nullptr,
               nullptr)) {
        applied_ += ", no child processes";
    }
    if (update(list_, 0, kAttributeMitigationPolicy, &mitigationPolicy_, sizeof mitigationPolicy_,
               nullptr, nullptr)) {
        applied_ += ", image loads from System32 first and never remote or low-label";
    }
    if (applied_.empty()) {
        if (const auto remove = Kernel32Entry<DeleteList>("DeleteProcThreadAttributeList")) {
            remove(list_);
        }
        list_ = nullptr;
    }
}

HelperAttributes::~HelperAttributes() {
    if (list_ != nullptr) {
        if (const auto remove = Kernel32Entry<DeleteList>("DeleteProcThreadAttributeList")) {
            remove(list_);
        }
        list_ = nullptr;
    }
}
