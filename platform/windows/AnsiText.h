#pragma once
#include <windows.h>

#include <string>
#include <string_view>

namespace platform::windows {

// UTF-16 text from another process (an event, a version resource) in the code page,
// safe on every one: without best fit (a character the page lacks becomes "?", never a
// look-alike such as "\" or ":"), and with the characters that would change how the text
// reads replaced first. UTF-8 and the other pages that refuse conversion flags convert
// without them, as they hold every character; should a page refuse the conversion
// altogether, the text keeps its ASCII and every other character becomes "?".
std::string AnsiText(std::wstring_view text, UINT codePage = CP_ACP);

} // namespace platform::windows
