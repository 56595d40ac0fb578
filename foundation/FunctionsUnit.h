#pragma once
#include <string>

// "major.minor.release.build" of the running executable's file version; empty when it
// has no version resource or the resource cannot be read.
std::string GetAppVersion();

// The calling thread's last error as "<system message>\r\nError nr: <code>"; the message
// loses trailing blanks, control characters and full stops, and is empty for a code the
// system has no text for.
std::string GetLastErrorText();

// Enables or disables a privilege of the process token. True exactly when the thread's
// last-error value is 0 afterwards: the adjustment itself succeeds also when the token
// lacks the privilege, and then leaves 1300 (not all assigned).
bool SetTokenPrivilege(const std::string& privilegeName, bool enable);

// What the process token says about the account's rights, read once at start-up.
struct TTokenFacts {
    bool Known = false;        // false: the token could not be read
    bool Elevated = true;      // TokenElevation
    bool Administrator = true; // Administrators enabled in the token
    bool System = false;       // the token's user is LocalSystem (the service, a helper)
    // Whether the process holds rights others could borrow through it: elevated,
    // Administrators enabled, or SYSTEM (a helper's token, Administrators deny-only and
    // no privileges, may not count as elevated, yet it is SYSTEM). Unknown facts count as
    // privileged: the log keeps its stricter rules, and the system still refuses what the
    // account may not do.
    bool Privileged() const { return !Known || Elevated || Administrator || System; }
};

// Reads the process token's facts and keeps them process-wide; the entry points call it
// once, before the first log line.
const TTokenFacts& ReadProcessTokenFacts();
// The facts read at start-up; unknown before that.
const TTokenFacts& ProcessTokenFacts();
// Back to unknown, as before start-up (for the tests, which run many start-ups).
void ForgetProcessTokenFacts();
// "Token: elevated, member of Administrators." and the like, for the debug log.
std::string TokenFactsText(const TTokenFacts& facts);
