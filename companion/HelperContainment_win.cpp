#include "companion/HelperContainment_win.h"

#include <sddl.h>

#include <vector>

#include "companion/HelperTokenRules.h"

namespace {

using platform::windows::UniqueKernelHandle;

SystemFailure FailureOf(const char* call) {
    return SystemFailure{call, ::GetLastError()};
}

// What the steps below do to the token: duplicate it, query it, set the owner, default
// access list and session, and remove privileges (where the system ignores the
// restricted-token call's own removal).
constexpr DWORD kHelperTokenAccess = TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY |
                                     TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID |
                                     TOKEN_ADJUST_PRIVILEGES;

// A well-known SID in a buffer of its own.
struct WellKnownSid {
    explicit WellKnownSid(WELL_KNOWN_SID_TYPE type) {
        DWORD size = sizeof bytes;
        valid = ::CreateWellKnownSid(type, nullptr, bytes, &size) != FALSE;
    }
    PSID get() { return bytes; }
    BYTE bytes[SECURITY_MAX_SID_SIZE] = {};
    bool valid = false;
};

std::vector<unsigned char> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what) {
    DWORD size = 0;
    ::GetTokenInformation(token, what, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size == 0 || !::GetTokenInformation(token, what, buffer.data(), size, &size)) {
        return {};
    }
    return buffer;
}

// Removes (not merely disables: a disabled privilege can be switched on again by the
// process that holds it) every privilege but change-notify. The restricted-token call
// does this on Windows; Wine ignores its request and keeps them all.
std::optional<SystemFailure> RemovePrivilegesLeft(HANDLE token) {
    LUID keep;
    if (!::LookupPrivilegeValueA(nullptr, SE_CHANGE_NOTIFY_NAME, &keep)) {
        return FailureOf("LookupPrivilegeValue");
    }
    std::vector<unsigned char> buffer = TokenInformation(token, TokenPrivileges);
    if (buffer.empty()) {
        return FailureOf("GetTokenInformation (privileges)");
    }
    auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
    bool removing = false;
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
        const bool kept =
            entry.Luid.LowPart == keep.LowPart && entry.Luid.HighPart == keep.HighPart;
        // Only the documented attribute bits go back in; the kept privilege stays on.
        entry.Attributes = kept ? SE_PRIVILEGE_ENABLED : SE_PRIVILEGE_REMOVED;
        removing = removing || !kept;
    }
    if (!removing) {
        return std::nullopt;
    }
    ::SetLastError(ERROR_SUCCESS);
    if (!::AdjustTokenPrivileges(token, FALSE, privileges, 0, nullptr, nullptr) ||
        ::GetLastError() != ERROR_SUCCESS) {
        return FailureOf("AdjustTokenPrivileges");
    }
    return std::nullopt;
}

// SYSTEM as the owner of what the helper creates, and SYSTEM alone in the access list it
// gets: the default owner of SYSTEM's token is Administrators, which the helper no longer
// has. The token's user is SYSTEM on Windows; under Wine every process runs as one
// ordinary account, which then gets the list's second entry, or the helper could not
// even open its own token.
std::optional<SystemFailure> OwnedBySystemAlone(HANDLE token, WellKnownSid& system) {
    const std::vector<unsigned char> userBuffer = TokenInformation(token, TokenUser);
    if (userBuffer.empty()) {
        return FailureOf("GetTokenInformation (user)");
    }
    const PSID user = reinterpret_cast<const TOKEN_USER*>(userBuffer.data())->User.Sid;
    const bool userIsSystem = ::EqualSid(user, system.get()) != FALSE;
    TOKEN_OWNER owner = {system.get()};
    // Wine 8 does not implement this class (ERROR_INVALID_FUNCTION); every Windows since NT
    // does, so there the error cannot come and any failure stops the start.
    if (!::SetTokenInformation(token, TokenOwner, &owner, sizeof owner) &&
        ::GetLastError() != ERROR_INVALID_FUNCTION) {
        return FailureOf("SetTokenInformation (owner)");
    }
    const DWORD aclSize = sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) +
                          ::GetLengthSid(system.get()) + (userIsSystem ? 0 : ::GetLengthSid(user));
    std::vector<unsigned char> aclBuffer(aclSize);
    auto* acl = reinterpret_cast<PACL>(aclBuffer.data());
    if (!::InitializeAcl(acl, aclSize, ACL_REVISION) ||
        !::AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, system.get()) ||
        (!userIsSystem && !::AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, user))) {
        return FailureOf("Building the helper's default access list");
    }
    TOKEN_DEFAULT_DACL dacl = {acl};
    if (!::SetTokenInformation(token, TokenDefaultDacl, &dacl, sizeof dacl)) {
        return FailureOf("SetTokenInformation (default access list)");
    }
    return std::nullopt;
}

// The token's groups and privileges as it now holds them.
std::optional<TokenContents> ReadBack(HANDLE token) {
    const std::vector<unsigned char> groupBuffer = TokenInformation(token, TokenGroups);
    const std::vector<unsigned char> privilegeBuffer = TokenInformation(token, TokenPrivileges);
    if (groupBuffer.empty() || privilegeBuffer.empty()) {
        return std::nullopt;
    }
    TokenContents contents;
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(groupBuffer.data());
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        char* text = nullptr;
        if (!::ConvertSidToStringSidA(groups->Groups[i].Sid, &text)) {
            return std::nullopt;
        }
        contents.groups.push_back(TokenGroup{text, groups->Groups[i].Attributes});
        ::LocalFree(text);
    }
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(privilegeBuffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        LUID luid = privileges->Privileges[i].Luid;
        char name[128];
        DWORD length = sizeof name;
        // A privilege the system cannot name is still one too many.
        contents.privileges.push_back(::LookupPrivilegeNameA(nullptr, &luid, name, &length)
                                          ? std::string(name, length)
                                          : std::string("an unnamed privilege"));
    }
    return contents;
}

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

std::optional<SystemFailure> CreateHelperToken(DWORD sessionId, UniqueKernelHandle& token) {
    WellKnownSid system(WinLocalSystemSid);
    WellKnownSid administrators(WinBuiltinAdministratorsSid);
    if (!system.valid || !administrators.valid) {
        return FailureOf("CreateWellKnownSid");
    }
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &raw)) {
        return FailureOf("OpenProcessToken");
    }
    const UniqueKernelHandle own(raw);
    raw = nullptr;
    // A primary duplicate first: the restricted token inherits this handle's access.
    if (!::DuplicateTokenEx(own.get(), kHelperTokenAccess, nullptr, SecurityIdentification,
                            TokenPrimary, &raw)) {
        return FailureOf("DuplicateTokenEx");
    }
    const UniqueKernelHandle duplicate(raw);
    raw = nullptr;
    SID_AND_ATTRIBUTES denyOnly = {administrators.get(), 0};
    if (!::CreateRestrictedToken(duplicate.get(), DISABLE_MAX_PRIVILEGE, 1, &denyOnly, 0, nullptr,
                                 0, nullptr, &raw)) {
        return FailureOf("CreateRestrictedToken");
    }
    UniqueKernelHandle restricted(raw);
    if (auto failure = RemovePrivilegesLeft(restricted.get())) {
        return failure;
    }
    if (auto failure = OwnedBySystemAlone(restricted.get(), system)) {
        return failure;
    }
    if (!::SetTokenInformation(restricted.get(), TokenSessionId, &sessionId, sizeof sessionId)) {
        return FailureOf("SetTokenInformation (session)");
    }
    // Whatever the calls above reported, the token is judged by what it holds.
    const std::optional<TokenContents> contents = ReadBack(restricted.get());
    if (!contents) {
        return FailureOf("Reading the helper's token back");
    }
    if (const auto refusal = HelperTokenRefusal(*contents)) {
        return SystemFailure{"Restricting the helper's token (" + *refusal + ")",
                             ERROR_ACCESS_DENIED};
    }
    token = std::move(restricted);
    return std::nullopt;
}

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
