#include "foundation/Assertions.h"

#include <string_view>

void Assert(bool condition, const std::string& message, SourceLocation where) {
    if (condition) {
        return;
    }
    std::string_view file = where.file_name();
    const auto slash = file.find_last_of("/\\");
    if (slash != std::string_view::npos) {
        file.remove_prefix(slash + 1);
    }
    throw EAssertionFailed(message + " (" + std::string(file) + ", line " +
                           std::to_string(where.line()) + ")");
}
