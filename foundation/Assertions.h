#pragma once
#include <stdexcept>
#include <string>
#include <version>

#if defined(__cpp_lib_source_location)
#include <source_location>
using SourceLocation = std::source_location;
#else
// Clang 14 with Debian 12's libstdc++ has no std::source_location (it lacks the builtin
// that the library needs); the older builtins give the same file and line.
class SourceLocation {
public:
    static constexpr SourceLocation current(const char* file = __builtin_FILE(),
                                            unsigned line = __builtin_LINE()) {
        return SourceLocation(file, line);
    }
    constexpr const char* file_name() const { return file_; }
    constexpr unsigned line() const { return line_; }

private:
    constexpr SourceLocation(const char* file, unsigned line) : file_(file), line_(line) {}
    const char* file_;
    unsigned line_;
};
#endif

// A violated precondition: a programming error, never an operating-system failure.
class EAssertionFailed : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// Raises EAssertionFailed with the message and the unit and line that asserted, in the
// form "message (Unit.cpp, line 12)".
void Assert(bool condition, const std::string& message,
            SourceLocation where = SourceLocation::current());
