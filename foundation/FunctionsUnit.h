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
