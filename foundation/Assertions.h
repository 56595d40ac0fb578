#pragma once
#include <source_location>
#include <stdexcept>
#include <string>

// A violated precondition: a programming error, never an operating-system failure.
class EAssertionFailed : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// Raises EAssertionFailed with the message and the unit and line that asserted, in the
// form "message (Unit.cpp, line 12)".
void Assert(bool condition, const std::string& message,
            std::source_location where = std::source_location::current());
