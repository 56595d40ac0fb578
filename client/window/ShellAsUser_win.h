#pragma once
#include <string>

#include "client/ShellOutcome.h"

namespace ui {

// The shell's "open" run by the desktop's own shell process (Explorer, started by the
// user's logon and not elevated), never by this elevated process: the handler of a link,
// or Explorer on a folder, then runs as the user with the user's rights only.
//
// The route: the shell windows' registry (CLSID_ShellWindows) -> the desktop's window ->
// its top-level browser -> its view's background object -> the shell's Application
// (IShellDispatch2) -> ShellExecute. Every step is a call into Explorer's process.
//
// Each call runs on a thread of its own, in its own single-threaded apartment that is
// initialised for it and uninitialised after; the caller waits at most kShellRouteBound
// milliseconds, handling only messages sent to its windows meanwhile (no posted message
// and no input is dispatched). When Explorer does not answer in time the pending call is
// cancelled where the system allows it, and the request is dropped before the final step
// if that has not been reached. A call already in Explorer's hands cannot be taken back:
// a request that outlives the bound is reported Late, as it may still complete.
inline constexpr unsigned long kShellRouteBound = 3000;

// True when the route answers up to the shell's Application in time (nothing is opened).
bool ShellRouteAvailable();

// Opens file (a web address, a mailto: address or a program) with parameters through the
// route. NotOpened when it could not be handed to the shell: nothing is opened at all.
ShellOutcome ShellOpenAsUser(const std::wstring& file, const std::wstring& parameters);

} // namespace ui
