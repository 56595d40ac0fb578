#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/LogUnit.h"
#include "platform/EventWriter.h"

// What Driveward reports to the Windows Event Log (source "Driveward", Application log), for
// administrators who collect events from many machines. The ids are stable: collectors
// filter and count by them. The daily text log is not affected: each event goes with the
// log line it always had. The README lists the ids.
inline constexpr const char* kEventSourceName = "Driveward";

// Client (tray monitor).
inline constexpr std::uint32_t kEventEndSessionRefused = 1000;    // warning
inline constexpr std::uint32_t kEventLockWarningRequested = 1001; // information
inline constexpr std::uint32_t kEventEjectRefused = 1002;         // warning
inline constexpr std::uint32_t kEventServiceStartFailed = 1010;   // error
inline constexpr std::uint32_t kEventControlCodeFailed = 1011;    // error
// Companion service.
inline constexpr std::uint32_t kEventWarningShownByService = 1020;    // information
inline constexpr std::uint32_t kEventDeviceListShownByService = 1021; // information
inline constexpr std::uint32_t kEventHelperRefused = 1022;            // error
// Both.
inline constexpr std::uint32_t kEventLogLinesLost = 1030; // warning

// An event's text is cut to this many bytes ("..." marks a cut) before its control
// characters are escaped, as the log does with what a device or another program names.
inline constexpr std::size_t kMaxEventText = 1024;

// The text as it is reported: cut to kMaxEventText, control characters written as "\xNN",
// so that no name from a device, a program or a setting can forge lines in a collector.
std::string EventText(std::string_view text);

// Reports one event through the machine's Event Log; nothing when the machine has none
// or the source cannot be opened (the daily log still has the line).
void ReportToEventLog(platform::EventType type, std::uint32_t eventId, std::string_view text);

// "E:, F:"
std::string DriveListText(const std::vector<std::string>& drives);

// kEventEndSessionRefused and kEventLockWarningRequested: the drives that hold a medium.
void ReportEndSessionRefused(const std::vector<std::string>& drives);
void ReportLockWarningRequested(const std::vector<std::string>& drives);

// kEventLogLinesLost: "The log of <source> cannot be written in <folder>: <reason>. ..."
std::string LogLossText(std::string_view sourceName, std::string_view folder, LogLossReason reason);

// The log's TLog::LinesLost for the process: one warning per reason, whatever the log
// calls it with after that, for the log of `sourceName`.
class TLogLossReporter {
public:
    explicit TLogLossReporter(std::string sourceName) : sourceName_(std::move(sourceName)) {}
    void operator()(const std::string& folder, LogLossReason reason);

private:
    std::string sourceName_;
    unsigned reported_ = 0; // one bit per reason
};
