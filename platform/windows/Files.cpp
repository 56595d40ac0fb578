#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <vector>

#include "platform/windows/AccessList.h"
#include "platform/windows/UniqueHandle.h"
#include "platform/windows/Win32Machine.h"

namespace platform::windows {

namespace {

// SYSTEM and Administrators full control, for the folder and everything below it; "P":
// nothing inherited from the parent, where users may hold more. The owner is named too:
// the token's default owner may be the user (with UAC off), who could then change the
// list of a folder SYSTEM writes into.
constexpr const char* kLogFolderDacl = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

struct LocalMemoryTraits {
    using Handle = PSECURITY_DESCRIPTOR;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { ::LocalFree(handle); }
};
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;

// The byte that the log's writers lock around each batch, and how long one waits for it.
constexpr DWORD kAppendLockOffsetHigh = 0x7FFFFFFF;
constexpr DWORD kAppendLockWaitMs = 2000;

class AppendLock {
public:
    explicit AppendLock(HANDLE file) : file_(file) {
        const DWORD start = ::GetTickCount();
        for (;;) {
            OVERLAPPED at = {};
            at.OffsetHigh = kAppendLockOffsetHigh;
            if (::LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                             &at)) {
                held_ = true;
                return;
            }
            if (::GetLastError() != ERROR_LOCK_VIOLATION ||
                ::GetTickCount() - start >= kAppendLockWaitMs) {
                return;
            }
            ::Sleep(1);
        }
    }
    ~AppendLock() {
        if (held_) {
            OVERLAPPED at = {};
            at.OffsetHigh = kAppendLockOffsetHigh;
            ::UnlockFileEx(file_, 0, 1, 0, &at);
        }
    }
    AppendLock(const AppendLock&) = delete;
    AppendLock& operator=(const AppendLock&) = delete;

private:
    HANDLE file_;
    bool held_ = false;
};

// The native open, for a name relative to a folder's handle: the Win32 calls take full
// paths only. ntdll is in every process: it is looked up, never loaded.
struct UnicodeName {
    USHORT length;
    USHORT capacity;
    PWSTR buffer;
};
struct ObjectAttributes {
    ULONG size;
    HANDLE rootDirectory;
    UnicodeName* name;
    ULONG attributes;
    PVOID securityDescriptor;
    PVOID securityQualityOfService;
};
struct IoStatus {
    union {
        LONG status;
        PVOID pointer;
    };
    ULONG_PTR information;
};
using NtCreateFileFunction = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, ObjectAttributes*, IoStatus*,
                                          PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
constexpr ULONG kObjectCaseInsensitive = 0x40;
constexpr ULONG kFileOpen = 1;
constexpr ULONG kFileOpenIf = 3;
constexpr ULONG kFileDirectoryFile = 0x1;
constexpr ULONG kFileSynchronousIoNonAlert = 0x20;
constexpr ULONG kFileNonDirectoryFile = 0x40;
constexpr ULONG kFileOpenForBackupIntent = 0x4000;
constexpr ULONG kFileOpenReparsePoint = 0x200000;
constexpr LONG kStatusObjectNameNotFound = static_cast<LONG>(0xC0000034);
constexpr LONG kStatusSharingViolation = static_cast<LONG>(0xC0000043);
constexpr LONG kStatusAccessDenied = static_cast<LONG>(0xC0000022);
constexpr ACCESS_MASK kHeldFolderAccess = FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL;

// Folders are shared for deleting too: an administrator may rename or remove the log
// folder while we hold it. What we write goes into the very folder object that was
// checked, wherever it is then; an append that finds it moved or gone resolves it anew.
constexpr ULONG kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The day's file is shared for reading and writing: our other processes append to it.
constexpr ULONG kFileShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

template <typename Function> Function NtdllEntry(const char* name) {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll == nullptr
               ? nullptr
               : reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(ntdll, name)));
}

NtCreateFileFunction NtCreateFileEntry() {
    static const auto entry = NtdllEntry<NtCreateFileFunction>("NtCreateFile");
    return entry;
}

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                              static_cast<int>(wide.size()))));
    return wide;
}

// Opens (or creates) the name relative to the folder, never following a link: a link is
// opened as itself, for the caller to see and refuse. The status comes back for the caller
// to tell a sharing violation apart.
UniqueKernelHandle OpenRelative(HANDLE folder, const std::string& name, ACCESS_MASK access,
                                ULONG share, ULONG disposition, ULONG options,
                                PSECURITY_DESCRIPTOR security, LONG& status) {
    status = -1;
    const auto create = NtCreateFileEntry();
    std::wstring wide = Wide(name);
    if (create == nullptr || wide.empty() || wide.size() > 255) {
        return UniqueKernelHandle();
    }
    UnicodeName unicode = {static_cast<USHORT>(wide.size() * sizeof(wchar_t)),
                           static_cast<USHORT>(wide.size() * sizeof(wchar_t)), wide.data()};
    ObjectAttributes attributes = {sizeof attributes,      folder,   &unicode,
                                   kObjectCaseInsensitive, security, nullptr};
    IoStatus io = {};
    HANDLE handle = nullptr;
    status = create(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                    share, disposition,
                    options | kFileSynchronousIoNonAlert | kFileOpenReparsePoint, nullptr, 0);
    return UniqueKernelHandle(status >= 0 ? handle : nullptr);
}

using NtQueryInformationFileFunction = LONG(NTAPI*)(HANDLE, IoStatus*, PVOID, ULONG, ULONG);
constexpr ULONG kFileStandardInformation = 5;
constexpr ULONG kFileAttributeTagInformation = 35;
struct StandardInformation {
    LARGE_INTEGER allocationSize;
    LARGE_INTEGER endOfFile;
    ULONG numberOfLinks;
    BOOLEAN deletePending;
    BOOLEAN directory;
};
struct AttributeTagInformation {
    ULONG attributes;
    ULONG reparseTag;
};

template <typename Information> bool QueryInformation(HANDLE handle, ULONG kind, Information& out) {
    static const auto query = NtdllEntry<NtQueryInformationFileFunction>("NtQueryInformationFile");
    IoStatus io = {};
    return query != nullptr && query(handle, &io, &out, sizeof out, kind) >= 0;
}

// Whether the open object is no link, and of the kind wanted; a file must have one name
// only (a hard link would let its other name lie anywhere). Asked of the handle alone:
// GetFileInformationByHandle would also ask the volume for its serial number, which
// costs Wine some milliseconds.
bool IsPlain(HANDLE handle, bool folder) {
    StandardInformation standard = {};
    AttributeTagInformation tag = {};
    return QueryInformation(handle, kFileStandardInformation, standard) &&
           QueryInformation(handle, kFileAttributeTagInformation, tag) &&
           (tag.attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
           (standard.directory != 0) == folder && !standard.deletePending &&
           (folder || standard.numberOfLinks == 1);
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The final path of an open file or folder, in lower case and without a trailing "\":
// it names every folder the object was really reached through, so a link anywhere on
// the way shows as another path. Compared only with another final path: a share's
// (\\?\UNC\server\share, under Wine a Z: path) and a drive's (\\?\C:) forms are the
// system's own. "" where the system cannot say (before Vista: the other checks stand
// alone), nullopt when it fails.
std::optional<std::string> FinalPath(HANDLE handle) {
    using FinalPathFunction = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);
    static const auto finalPath = [] {
        const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
        return kernel32 == nullptr ? nullptr
                                   : reinterpret_cast<FinalPathFunction>(reinterpret_cast<void*>(
                                         ::GetProcAddress(kernel32, "GetFinalPathNameByHandleA")));
    }();
    if (finalPath == nullptr) {
        return std::string();
    }
    char buffer[MAX_PATH * 2];
    const DWORD length = finalPath(handle, buffer, sizeof buffer, 0);
    if (length == 0 || length >= sizeof buffer) {
        return std::nullopt;
    }
    std::string path = Lower(std::string(buffer, length));
    if (!path.empty() && path.back() == '\\') {
        path.pop_back();
    }
    return path;
}

// Whether the handle's final path is the expected one ("" expected: the system cannot say).
bool IsAt(HANDLE handle, const std::string& expected) {
    const auto path = FinalPath(handle);
    return path && *path == expected;
}

AppendResult WriteLocked(HANDLE file, const std::string& bytes) {
    // Appends of two processes are not atomic everywhere (Wine tears and loses them), so
    // the batch is written under an exclusive lock of a byte far past the end, which
    // readers never meet. A writer that holds it too long is not waited for beyond the
    // bound: the batch then goes without it rather than be lost.
    const AppendLock lock(file);
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
        if (!::WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
            return AppendResult::Unwritable;
        }
        done += written;
    }
    return AppendResult::Written;
}

// How long the day's file stays open after a line: a burst of lines (a refresh with
// DEBUG on writes hundreds) pays for one open and its checks, and a folder is never kept
// from being moved for longer (Windows refuses to rename a folder with a file open in it).
constexpr DWORD kIdleFileCloseMs = 500;
constexpr DWORD kTimerDormantMs = 0xFFFFFFFE;

// A critical section rather than std::mutex: that would bring the threads library into
// the service, which has none otherwise.
class Hold {
public:
    explicit Hold(CRITICAL_SECTION& lock) : lock_(lock) { ::EnterCriticalSection(&lock_); }
    ~Hold() { ::LeaveCriticalSection(&lock_); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    CRITICAL_SECTION& lock_;
};

class Win32HeldFolder : public HeldFolder {
public:
    Win32HeldFolder(UniqueKernelHandle folder, std::string finalPath)
        : folder_(std::move(folder)), finalPath_(std::move(finalPath)) {
        ::InitializeCriticalSection(&lock_);
    }
    ~Win32HeldFolder() override {
        if (timer_ != nullptr) {
            // Waits for a running close to end before the members go.
            ::DeleteTimerQueueTimer(nullptr, timer_, INVALID_HANDLE_VALUE);
        }
        ::DeleteCriticalSection(&lock_);
    }
    Win32HeldFolder(const Win32HeldFolder&) = delete;
    Win32HeldFolder& operator=(const Win32HeldFolder&) = delete;

    std::optional<AccessList> Access() override {
        PSECURITY_DESCRIPTOR raw = nullptr;
        if (::GetSecurityInfo(folder_.get(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &raw) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        const UniqueLocalMemory descriptor(raw);
        return ReadAccessList(descriptor.get());
    }

    AppendResult Append(const std::string& fileName, const std::string& bytes) override {
        const Hold hold(lock_);
        if (!file_ || fileName_ != fileName) {
            file_.reset();
            if (const auto refused = OpenFile(fileName)) {
                return *refused;
            }
        }
        const auto result = WriteLocked(file_.get(), bytes);
        if (result != AppendResult::Written) {
            file_.reset();
        }
        lastUse_ = ::GetTickCount();
        return result;
    }

private:
    std::optional<AppendResult> OpenFile(const std::string& fileName) {
        // Append-only access: every write lands at the end, also past 4 GiB, with no file
        // pointer to move. Shared for writing: the tray monitor, its helpers and the
        // service append to the same day's file, often at the same moment.
        LONG status = 0;
        UniqueKernelHandle file = OpenRelative(
            folder_.get(), fileName, FILE_READ_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
            kFileShare, kFileOpenIf, kFileNonDirectoryFile, nullptr, status);
        if (!file) {
            return status == kStatusSharingViolation ? AppendResult::SharingViolation
                   : status == kStatusAccessDenied   ? AppendResult::Unwritable
                                                     : AppendResult::Refused;
        }
        // Its final path catches a link Wine followed, and a folder moved since it was
        // checked.
        if (!IsPlain(file.get(), false) ||
            !IsAt(file.get(), finalPath_.empty() ? "" : finalPath_ + "\\" + Lower(fileName))) {
            return AppendResult::Refused;
        }
        file_ = std::move(file);
        fileName_ = fileName;
        lastUse_ = ::GetTickCount();
        if (timer_ == nullptr) {
            if (!::CreateTimerQueueTimer(&timer_, nullptr, CloseIdleFile, this, kIdleFileCloseMs,
                                         kIdleFileCloseMs, WT_EXECUTEINTIMERTHREAD)) {
                timer_ = nullptr;
                file_.reset(); // never left open with nothing to close it
            }
        } else {
            ::ChangeTimerQueueTimer(nullptr, timer_, kIdleFileCloseMs, kIdleFileCloseMs);
        }
        return std::nullopt;
    }

    static void CALLBACK CloseIdleFile(void* context, BOOLEAN) {
        auto& self = *static_cast<Win32HeldFolder*>(context);
        const Hold hold(self.lock_);
        if (self.file_ && ::GetTickCount() - self.lastUse_ < kIdleFileCloseMs) {
            return;
        }
        self.file_.reset();
        // Asleep until the next open: an idle process is not woken for nothing.
        ::ChangeTimerQueueTimer(nullptr, self.timer_, kTimerDormantMs, kTimerDormantMs);
    }

    UniqueKernelHandle folder_;
    std::string finalPath_; // as read when it was opened; "" when the system cannot say
    CRITICAL_SECTION lock_; // the day's file, shared with the timer's thread
    UniqueKernelHandle file_;
    std::string fileName_;
    DWORD lastUse_ = 0;
    HANDLE timer_ = nullptr;
};

bool RunsAsSystem() {
    static const bool system = [] {
        HANDLE raw = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
            return false;
        }
        const UniqueKernelHandle token(raw);
        alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
        DWORD size = 0;
        return ::GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size) &&
               ::IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, WinLocalSystemSid);
    }();
    return system;
}

} // namespace

FolderOpening Win32Files::OpenFolder(const std::string& root, const std::vector<std::string>& names,
                                     FolderOwner owner) {
    UniqueLocalMemory descriptor;
    if (owner == FolderOwner::Trusted) {
        const std::string text = std::string(RunsAsSystem() ? "O:SY" : "O:BA") + kLogFolderDacl;
        PSECURITY_DESCRIPTOR raw = nullptr;
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(text.c_str(), SDDL_REVISION_1,
                                                                    &raw, nullptr)) {
            return {nullptr, FolderFailure::Uncreatable}; // never the inherited list instead
        }
        descriptor = UniqueLocalMemory(raw);
    }
    // A volume or share root is no link; what lies below it is opened one name at a time.
    const HANDLE rootHandle = ::CreateFileA(
        (root + "\\").c_str(), FILE_TRAVERSE | SYNCHRONIZE, kFolderShare, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (rootHandle == INVALID_HANDLE_VALUE) {
        return {nullptr, FolderFailure::Missing};
    }
    UniqueKernelHandle folder(rootHandle);
    const auto rootPath = FinalPath(folder.get());
    if (!rootPath) {
        return {nullptr, FolderFailure::Missing};
    }
    // Each path below is the root's final path and the names: "" throughout where the
    // system cannot tell final paths.
    std::string path = *rootPath;
    const auto below = [&](const std::string& name) {
        return rootPath->empty() ? std::string() : path + "\\" + Lower(name);
    };
    for (const auto& name : names) {
        LONG status = 0;
        UniqueKernelHandle next =
            OpenRelative(folder.get(), name, kHeldFolderAccess, kFolderShare, kFileOpen,
                         kFileDirectoryFile | kFileOpenForBackupIntent, nullptr, status);
        if (!next && status == kStatusObjectNameNotFound) {
            // Created only in a folder known to be the one named, so that no folder is
            // ever made through a link.
            if (!IsAt(folder.get(), path)) {
                return {nullptr, FolderFailure::Link};
            }
            next = OpenRelative(folder.get(), name, kHeldFolderAccess, kFolderShare, kFileOpenIf,
                                kFileDirectoryFile | kFileOpenForBackupIntent, descriptor.get(),
                                status);
            if (!next) {
                return {nullptr, FolderFailure::Uncreatable};
            }
        }
        if (!next) {
            return {nullptr, FolderFailure::Missing};
        }
        if (!IsPlain(next.get(), true)) {
            return {nullptr, FolderFailure::Link};
        }
        path = below(name);
        folder = std::move(next);
    }
    // What Windows opened as itself is what its handle reports; but Wine follows a link
    // even when asked to open it as itself, and then reports what it points to. The
    // folder's final path names every folder it was really reached through.
    if (!IsAt(folder.get(), path)) {
        return {nullptr, FolderFailure::Link};
    }
    return {std::make_unique<Win32HeldFolder>(std::move(folder), path), FolderFailure::None};
}

std::string Win32Files::LocalAppDataFolder() {
    // The user's own folder, for a writer that runs with the user's own rights only: what
    // the environment names is no more than the user could write to anyway.
    char buffer[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableA("LOCALAPPDATA", buffer, sizeof buffer);
    return length == 0 || length >= sizeof buffer ? std::string() : std::string(buffer, length);
}

} // namespace platform::windows
