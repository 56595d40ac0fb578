#pragma once
#include <optional>
#include <string>
#include <vector>

// Windows path helpers on 8-bit texts; "\" is the separator.
std::string IncludeTrailingBackslash(const std::string& path);

// The path with every "/" turned into "\": Windows takes both as folder separators.
std::string BackslashSeparators(std::string path);

// A folder path as it is opened: its root ("X:" or "\\server\share") and the names of
// the folders below it, top down.
struct FolderPath {
    std::string root;
    std::vector<std::string> names;
};

// Splits "X:\..." or "\\server\share\..." (either separator; empty names between
// separators are dropped). nullopt for anything else: a relative path, or "X:" alone,
// would depend on the current folder of whoever reads it; and the device, pipe and
// mailslot namespaces ("\\.\...", "\\?\...", "\\server\pipe\...", a name such as
// "CON" or "COM1"), "." and "..", streams and wildcards name no plain folder at all.
std::optional<FolderPath> SplitFolderPath(const std::string& path);

// Removes leading and trailing blanks and control characters (code 32 and lower).
std::string Trim(const std::string& text);

// The folder part of a path, up to and including its last "\"; empty when there is none.
std::string ExtractFilePath(const std::string& path);

// The name part of a path, after its last "\" or ":".
std::string ExtractFileName(const std::string& path);
