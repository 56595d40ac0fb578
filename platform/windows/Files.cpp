#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <vector>

#include "platform/windows/AccessList.h"
#include "platform/windows/UniqueHandle.h"
#include "platform/windows/Win32Machine.h"

namespace platform::windows {

namespace {

// SYSTEM and Administrators full control, for the folder and everything below it; "P":
// nothing inherited from the parent, where users may hold more.
constexpr const char* kLogFolderDescriptor = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

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
constexpr ACCESS_MASK kHeldFolderAccess = FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL;

// Shared for reading and writing, never for deleting: while we hold it, nobody can
// rename or remove it, or put a link in its place.
constexpr ULONG kHeldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

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
                                ULONG disposition, ULONG options, PSECURITY_DESCRIPTOR security,
                                LONG& status) {
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
                    kHeldShare, disposition,
                    options | kFileSynchronousIoNonAlert | kFileOpenReparsePoint, nullptr, 0);
    return UniqueKernelHandle(status >= 0 ? handle : nullptr);
}

// Whether the open object is no link, and of the kind wanted.
bool IsPlain(HANDLE handle, bool folder, DWORD* links = nullptr) {
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!::GetFileInformationByHandle(handle, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != folder) {
        return false;
    }
    if (links != nullptr) {
        *links = information.nNumberOfLinks;
    }
    return true;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Whether the open file is the very file that was named: a link anywhere in the path
// (which some systems follow even when asked not to) shows as another final path.
// Where the system cannot say (before Vista), the other checks stand alone.
bool IsTheNamedFile(HANDLE file, const std::string& path) {
    using FinalPath = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    const auto finalPath = kernel32 == nullptr
                               ? nullptr
                               : reinterpret_cast<FinalPath>(reinterpret_cast<void*>(
                                     ::GetProcAddress(kernel32, "GetFinalPathNameByHandleA")));
    if (finalPath == nullptr) {
        return true;
    }
    char buffer[MAX_PATH * 2];
    const DWORD length = finalPath(file, buffer, sizeof buffer, 0);
    if (length == 0 || length >= sizeof buffer) {
        return false;
    }
    std::string final(buffer, length);
    if (final.rfind("\\\\?\\UNC\\", 0) == 0) {
        final = "\\\\" + final.substr(8);
    } else if (final.rfind("\\\\?\\", 0) == 0) {
        final = final.substr(4);
    }
    return Lower(final) == Lower(path);
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
            return AppendResult::Failed;
        }
        done += written;
    }
    return AppendResult::Written;
}

class Win32HeldFolder : public HeldFolder {
public:
    Win32HeldFolder(std::vector<UniqueKernelHandle> chain, std::string path)
        : chain_(std::move(chain)), path_(std::move(path)) {}

    std::optional<AccessList> Access() override {
        PSECURITY_DESCRIPTOR raw = nullptr;
        if (::GetSecurityInfo(chain_.back().get(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &raw) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        const UniqueLocalMemory descriptor(raw);
        return ReadAccessList(descriptor.get());
    }

    AppendResult Append(const std::string& fileName, const std::string& bytes) override {
        // Append-only access: every write lands at the end, also past 4 GiB, with no file
        // pointer to move. Shared for writing: the tray monitor, its helpers and the
        // service append to the same day's file, often at the same moment.
        LONG status = 0;
        const UniqueKernelHandle file = OpenRelative(
            chain_.back().get(), fileName, FILE_READ_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
            kFileOpenIf, kFileNonDirectoryFile, nullptr, status);
        if (!file) {
            return status == kStatusSharingViolation ? AppendResult::SharingViolation
                                                     : AppendResult::Failed;
        }
        // One name only: a hard link would let the file's other name lie anywhere.
        DWORD links = 0;
        if (!IsPlain(file.get(), false, &links) || links != 1 ||
            !IsTheNamedFile(file.get(), path_ + "\\" + fileName)) {
            return AppendResult::Failed;
        }
        return WriteLocked(file.get(), bytes);
    }

private:
    std::vector<UniqueKernelHandle> chain_; // the root first, the folder last
    std::string path_;
};

} // namespace

std::unique_ptr<HeldFolder> Win32Files::OpenFolder(const std::string& root,
                                                   const std::vector<std::string>& names) {
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(kLogFolderDescriptor,
                                                                SDDL_REVISION_1, &raw, nullptr)) {
        return nullptr; // never a folder with the inherited list instead
    }
    const UniqueLocalMemory descriptor(raw);
    std::vector<UniqueKernelHandle> chain;
    // A volume or share root is no link; what lies below it is opened one name at a time.
    const HANDLE rootHandle = ::CreateFileA(
        (root + "\\").c_str(), FILE_TRAVERSE | SYNCHRONIZE, kHeldShare, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (rootHandle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    chain.emplace_back(rootHandle);
    std::string path = root;
    for (const auto& name : names) {
        const std::string parent = path;
        path += "\\" + name;
        LONG status = 0;
        UniqueKernelHandle next =
            OpenRelative(chain.back().get(), name, kHeldFolderAccess, kFileOpen,
                         kFileDirectoryFile | kFileOpenForBackupIntent, nullptr, status);
        if (!next && status == kStatusObjectNameNotFound) {
            // Created only in a folder known to be the one named (see below), so that no
            // folder is ever made through a link.
            if (!IsTheNamedFile(chain.back().get(), parent == root ? root + "\\" : parent)) {
                return nullptr;
            }
            next = OpenRelative(chain.back().get(), name, kHeldFolderAccess, kFileOpenIf,
                                kFileDirectoryFile | kFileOpenForBackupIntent, descriptor.get(),
                                status);
        }
        if (!next || !IsPlain(next.get(), true)) {
            return nullptr;
        }
        chain.push_back(std::move(next));
    }
    // What Windows opened as itself is what its handle reports; but Wine follows a link
    // even when asked to open it as itself, and then reports what it points to. The
    // folder's final path, read from its handle, names every folder it was really reached
    // through: a link anywhere on the way shows as another path.
    if (!IsTheNamedFile(chain.back().get(), path)) {
        return nullptr;
    }
    return std::make_unique<Win32HeldFolder>(std::move(chain), path);
}

} // namespace platform::windows
