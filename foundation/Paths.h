#pragma once
#include <string>

#include "platform/Files.h"

// Windows path helpers on 8-bit texts; "\" is the separator.
std::string IncludeTrailingBackslash(const std::string& path);

// The path with every "/" turned into "\": Windows takes both as folder separators.
std::string BackslashSeparators(std::string path);

// "X:\..." or "\\server\share..." (either separator): a path that names its drive or
// share. A relative path, or "X:" alone, would depend on the current folder of whoever
// reads it.
bool IsAbsolutePath(const std::string& path);

// Removes leading and trailing blanks and control characters (code 32 and lower).
std::string Trim(const std::string& text);

// The folder part of a path, up to and including its last "\"; empty when there is none.
std::string ExtractFilePath(const std::string& path);

// The name part of a path, after its last "\" or ":".
std::string ExtractFileName(const std::string& path);

// Creates the folder and every missing parent; the outcome is not reported.
void ForceDirectories(platform::Files& files, const std::string& folder);
