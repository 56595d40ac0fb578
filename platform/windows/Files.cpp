#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cctype>

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

} // namespace

bool Win32Files::DirectoryExists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Win32Files::CreateDirectory(const std::string& path) {
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(kLogFolderDescriptor,
                                                                SDDL_REVISION_1, &raw, nullptr)) {
        return false; // never a folder with the inherited list instead
    }
    const UniqueLocalMemory descriptor(raw);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
    return ::CreateDirectoryA(path.c_str(), &attributes) != FALSE;
}

bool Win32Files::IsLink(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

std::optional<AccessList> Win32Files::FolderAccess(const std::string& path) {
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (::GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT,
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, nullptr, nullptr, &raw) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    const UniqueLocalMemory descriptor(raw);
    return ReadAccessList(descriptor.get());
}

AppendResult Win32Files::AppendToFile(const std::string& path, const std::string& bytes) {
    // Append-only access: every write lands at the end, also past 4 GiB, with no file
    // pointer to move. The link itself is opened, never what it points to.
    // Shared for writing: the tray monitor, its helpers and the service append to the
    // same day's file, often at the same moment, and none of them may lose a line.
    UniqueFileHandle file(
        ::CreateFileA(path.c_str(), FILE_READ_DATA | FILE_APPEND_DATA | SYNCHRONIZE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        return ::GetLastError() == ERROR_SHARING_VIOLATION ? AppendResult::SharingViolation
                                                           : AppendResult::Failed;
    }
    // Checked through the handle, so that nothing can be swapped in between: no link, and
    // one name only (a hard link would let the file's other name lie anywhere).
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!::GetFileInformationByHandle(file.get(), &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        information.nNumberOfLinks != 1 || !IsTheNamedFile(file.get(), path)) {
        return AppendResult::Failed;
    }
    // Appends of two processes are not atomic everywhere (Wine tears and loses them), so
    // the batch is written under an exclusive lock of a byte far past the end, which
    // readers never meet. A writer that holds it too long is not waited for beyond the
    // bound: the batch then goes without it rather than be lost.
    const AppendLock lock(file.get());
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
        if (!::WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) ||
            written == 0) {
            return AppendResult::Failed;
        }
        done += written;
    }
    return ::CloseHandle(file.release()) ? AppendResult::Written : AppendResult::Failed;
}

} // namespace platform::windows
