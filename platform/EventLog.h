#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The system's event logs, read only.
class EventLog {
public:
    virtual ~EventLog() = default;
    // EvtQuery of the channel with an XPath query, newest first; the first `maxEvents`
    // results (EvtNext, with a bounded wait), each rendered as XML (EvtRenderEventXml) and
    // converted to the ANSI code page without best-fit mapping ("?" for what it lacks).
    // Empty when nothing matches; nullopt when the log cannot be read (no event log API,
    // no such channel, access denied).
    virtual std::optional<std::vector<std::string>>
    QueryEventsXml(const std::string& channel, const std::string& query, std::size_t maxEvents) = 0;
};

} // namespace platform
