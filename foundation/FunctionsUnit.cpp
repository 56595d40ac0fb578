#include "foundation/FunctionsUnit.h"

#include <cstdint>

#include "platform/Machine.h"

namespace {
constexpr std::uint32_t kTokenAdjustAndQuery = 0x28; // TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY
constexpr std::uint32_t kPrivilegeEnabled = 2;       // SE_PRIVILEGE_ENABLED
constexpr std::uint32_t kPlatformNt = 2;
constexpr std::uint32_t kTokenQuery = 0x8; // TOKEN_QUERY

TTokenFacts processTokenFacts;
} // namespace

std::string GetAppVersion() {
    auto& system = *platform::CurrentMachine().system;
    const auto version = system.FixedFileVersion(system.ModuleFileName());
    if (!version) {
        return {};
    }
    return std::to_string(version->mostSignificant >> 16) + "." +
           std::to_string(version->mostSignificant & 0xFFFF) + "." +
           std::to_string(version->leastSignificant >> 16) + "." +
           std::to_string(version->leastSignificant & 0xFFFF);
}

std::string GetLastErrorText() {
    auto& system = *platform::CurrentMachine().system;
    const std::uint32_t code = system.LastError();
    std::string message = system.SystemMessage(code);
    while (!message.empty() &&
           (static_cast<unsigned char>(message.back()) <= ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message + "\r\nError nr: " + std::to_string(code);
}

bool SetTokenPrivilege(const std::string& privilegeName, bool enable) {
    auto& machine = platform::CurrentMachine();
    const auto os = machine.system->QueryOsVersion();
    if (!os || os->platformId != kPlatformNt) {
        return false;
    }
    if (auto token = machine.security->OpenProcessToken(kTokenAdjustAndQuery)) {
        if (const auto privilege = machine.security->LookupPrivilegeValue(privilegeName)) {
            machine.security->AdjustTokenPrivilege(*token, *privilege,
                                                   enable ? kPrivilegeEnabled : 0);
        }
    } // the token closes here, before the last error is read
    return machine.system->LastError() == 0;
}

const TTokenFacts& ReadProcessTokenFacts() {
    auto& security = *platform::CurrentMachine().security;
    TTokenFacts facts;
    if (auto token = security.OpenProcessToken(kTokenQuery)) {
        const auto elevated = security.TokenElevated(*token);
        const auto administrator = security.InAdministrators();
        const auto system = security.TokenUserIsSystem(*token);
        if (elevated && administrator && system) {
            facts.Known = true;
            facts.Elevated = *elevated;
            facts.Administrator = *administrator;
            facts.System = *system;
        }
    }
    processTokenFacts = facts;
    return processTokenFacts;
}

const TTokenFacts& ProcessTokenFacts() {
    return processTokenFacts;
}

void ForgetProcessTokenFacts() {
    processTokenFacts = TTokenFacts{};
}

std::string TokenFactsText(const TTokenFacts& facts) {
    if (!facts.Known) {
        return "Token: could not be read, taken as elevated.";
    }
    return std::string("Token: ") + (facts.System ? "SYSTEM, " : "") +
           (facts.Elevated ? "elevated" : "not elevated") +
           (facts.Administrator ? ", member of Administrators."
                                : ", not a member of Administrators.");
}
