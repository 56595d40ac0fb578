#pragma once
#include <chrono>
#include <cstdint>
#include <string_view>
#include <vector>

#include "devices/BlockerEvent.h"

// How much the veto box may tell about a blocking program. A helper on the secure desktop
// runs as SYSTEM in front of whoever stands at the locked workstation: it shows the name
// and process id from the event only, and asks nothing about the process or its file.
enum class BlockerDetail { Full, NameOnly };

// The event is written asynchronously, after the veto: it is looked for at once and then
// every kBlockerPollMs, until kBlockerWaitMs have passed since the first look.
inline constexpr std::uint32_t kBlockerWaitMs = 1000;
inline constexpr std::uint32_t kBlockerPollMs = 250;
// An event counts when it was written since the eject request began, give or take this.
inline constexpr std::uint64_t kBlockerEventSlackMs = 2000;
inline constexpr std::uint64_t kMaxBlockerEventWindowMs = 10 * 60 * 1000;

// The programs' descriptions are read on a worker, never on the GUI thread, which waits
// for all of them at most this long. A read that outlives the wait is left to finish; while
// it runs no other starts (those boxes show no description), so a disk that stops
// answering costs one thread and this wait once.
inline constexpr std::uint32_t kBlockerDescriptionWaitMs = 500;

// The programs that the System log says blocked the ejection of `devInst`, a request that
// began at tick `requestStartTick`. Empty when none is named, the device's instance id is
// unknown or the log cannot be read (older systems, Wine): then nothing is waited for
// beyond the bound, and not at all when the log cannot be read.
//
// With Full detail, each program's image path is shown with a drive letter where one maps
// to it. Its description is read from the version resource only where the read can
// neither hang nor be redirected: the process still runs, its image path (asked of the
// system by process id, never taken from the event) is the event's, lies on a fixed local
// drive that is not `ejectedDrive` (the letter of the drive being ejected; none known, no
// description), and the file opened (no link followed) is the one the event names, on
// the same volume. Otherwise the box shows the name, process id and path, as a helper's.
std::vector<Blocker> FindEjectBlockers(std::uint32_t devInst, std::uint64_t requestStartTick,
                                       BlockerDetail detail, std::string_view ejectedDrive);

// Waits at most `bound` until no description read is left running; true when none is. For
// tests (a slow simulated disk released), never for anything the user waits on.
bool WaitForBlockerDescriptionReads(std::chrono::milliseconds bound);
