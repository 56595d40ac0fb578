#pragma once
#include <cstdint>
#include <string>

namespace platform {

// The Windows Event Log, written to: what an administrator collects from many machines.
enum class EventType { Error, Warning, Information };

class EventWriter {
public:
    virtual ~EventWriter() = default;
    // One event of the source "Driveward" in the Application log, with the text as its one
    // insertion string (the message table's text for every id is "%1"). The text is in
    // the ANSI code page; false when the source cannot be opened or the event not written.
    virtual bool WriteEvent(EventType type, std::uint32_t eventId, const std::string& text) = 0;
};

} // namespace platform
