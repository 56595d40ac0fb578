#include "platform/windows/AccessList.h"

#include <sddl.h>

namespace platform::windows {

namespace {

// The SID of the account this process runs as, read once.
PSID ProcessUser() {
    static unsigned char buffer[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)] = {};
    static const bool read = [] {
        HANDLE token = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
            return false;
        }
        DWORD size = 0;
        const bool ok = ::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
        ::CloseHandle(token);
        return ok;
    }();
    return read ? reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid : nullptr;
}

// NT SERVICE\TrustedInstaller, which owns the system's own folders.
constexpr const char* kTrustedInstallerSid =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

std::string TextOf(PSID sid);

Trustee TrusteeOf(PSID sid) {
    if (::IsWellKnownSid(sid, WinLocalSystemSid)) {
        return Trustee::System;
    }
    if (::IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) {
        return Trustee::Administrators;
    }
    return TextOf(sid) == kTrustedInstallerSid ? Trustee::TrustedInstaller : Trustee::Other;
}

// Wine keeps neither owner nor access list of a file: it reports them from the file's Unix
// mode, with the account it runs as for the owner and the owner's entry, the folders we
// create with Administrators as owner included. Only there does that account stand for
// the Administrators that Windows would report.
Trustee TrusteeAsStored(PSID sid) {
    const Trustee trustee = TrusteeOf(sid);
    const PSID self = ProcessUser();
    if (trustee == Trustee::Other && RunningUnderWine() && self != nullptr &&
        ::EqualSid(sid, self)) {
        return Trustee::Administrators;
    }
    return trustee;
}

std::string TextOf(PSID sid) {
    char* text = nullptr;
    if (!::ConvertSidToStringSidA(sid, &text)) {
        return "an unreadable SID";
    }
    std::string result = text;
    ::LocalFree(text);
    return result;
}

} // namespace

// ntdll is the system's own (a known DLL, never taken from elsewhere), and only Wine's
// exports this name, so on Windows nothing changes.
bool RunningUnderWine() {
    static const bool wine = [] {
        const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
        return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

std::optional<AccessList> ReadAccessList(PSECURITY_DESCRIPTOR descriptor) {
    AccessList list;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted)) {
        return std::nullopt;
    }
    if (owner != nullptr) {
        list.owner = TrusteeAsStored(owner);
        list.ownerSid = TextOf(owner);
    }
    BOOL present = FALSE;
    PACL dacl = nullptr;
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
        return std::nullopt;
    }
    list.hasDacl = present && dacl != nullptr;
    if (!list.hasDacl) {
        return list;
    }
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* raw = nullptr;
        if (!::GetAce(dacl, i, &raw)) {
            return std::nullopt;
        }
        const auto* header = static_cast<const ACE_HEADER*>(raw);
        if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) {
            continue; // applies to children only
        }
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
            PSID sid = &ace->SidStart;
            list.allowed.push_back(AccessEntry{TrusteeAsStored(sid), ace->Mask, TextOf(sid)});
        } else if (header->AceType != ACCESS_DENIED_ACE_TYPE) {
            // Object or callback entries may grant access in ways this reader does not
            // follow: count them as granting everything to someone else.
            list.allowed.push_back(AccessEntry{
                Trustee::Other, 0xFFFFFFFF, "an entry of type " + std::to_string(header->AceType)});
        }
    }
    return list;
}

} // namespace platform::windows
