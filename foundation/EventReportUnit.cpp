#include "foundation/EventReportUnit.h"

#include "foundation/TextFormat.h"
#include "platform/Machine.h"

namespace {

constexpr std::string_view kCutMark = "...";

// As the log says it, but naming who may change a refused folder: the reader of the
// Event Log is not looking at the rule.
std::string ReasonText(LogLossReason reason) {
    return reason == LogLossReason::FolderRefused
               ? "the folder is a link, or others than SYSTEM and Administrators may change it"
               : LogLossReasonText(reason);
}

} // namespace

std::string EventText(std::string_view text) {
    std::string bounded(text);
    if (bounded.size() > kMaxEventText) {
        bounded.resize(kMaxEventText - kCutMark.size());
        bounded += kCutMark;
    }
    return EscapeControlCharacters(bounded);
}

void ReportToEventLog(platform::EventType type, std::uint32_t eventId, std::string_view text) {
    platform::EventWriter* writer = platform::CurrentMachine().eventWriter;
    if (writer != nullptr) {
        writer->WriteEvent(type, eventId, EventText(text));
    }
}

std::string DriveListText(const std::vector<std::string>& drives) {
    std::string text;
    for (const std::string& drive : drives) {
        text += (text.empty() ? "" : ", ") + drive;
    }
    return text;
}

void ReportEndSessionRefused(const std::vector<std::string>& drives) {
    ReportToEventLog(platform::EventType::Warning, kEventEndSessionRefused,
                     "Log off or shutdown refused: USB storage plugged in at " +
                         DriveListText(drives) + ".");
}

void ReportLockWarningRequested(const std::vector<std::string>& drives) {
    ReportToEventLog(platform::EventType::Information, kEventLockWarningRequested,
                     "Warning requested: the session was locked with USB storage plugged in at " +
                         DriveListText(drives) + ".");
}

std::string LogLossText(std::string_view sourceName, std::string_view folder,
                        LogLossReason reason) {
    return "The log of " + std::string(sourceName) + " cannot be written in " +
           std::string(folder) + ": " + ReasonText(reason) +
           ". Its lines are lost until this is mended.";
}

void TLogLossReporter::operator()(const std::string& folder, LogLossReason reason) {
    const unsigned bit = 1U << static_cast<unsigned>(reason);
    if ((reported_ & bit) != 0) {
        return;
    }
    reported_ |= bit;
    ReportToEventLog(platform::EventType::Warning, kEventLogLinesLost,
                     LogLossText(sourceName_, folder, reason));
}
