#include "foundation/Paths.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

std::string IncludeTrailingBackslash(const std::string& path) {
    if (!path.empty() && path.back() == '\\') {
        return path;
    }
    return path + "\\";
}

std::string BackslashSeparators(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

namespace {

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices in any folder, with any extension.
bool IsDeviceName(const std::string& name) {
    const std::string base = Upper(name.substr(0, name.find('.')));
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") {
        return true;
    }
    return base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

bool IsPlainName(const std::string& name) {
    // A name ending in a blank or a dot is one the usual calls cannot reach (they drop
    // the ending), so it would be another folder than the one the path seems to name.
    if (name.empty() || name.back() == ' ' || name.back() == '.' || IsDeviceName(name)) {
        return false;
    }
    return std::none_of(name.begin(), name.end(), [](unsigned char c) {
        return c < ' ' ||
               std::string_view(":*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos;
    });
}

std::vector<std::string> NamesOf(const std::string& path, std::size_t from) {
    std::vector<std::string> names;
    while (from < path.size()) {
        const auto slash = std::min(path.find('\\', from), path.size());
        if (slash > from) {
            names.push_back(path.substr(from, slash - from));
        }
        from = slash + 1;
    }
    return names;
}

} // namespace

std::optional<FolderPath> SplitFolderPath(const std::string& path) {
    const std::string normal = BackslashSeparators(path);
    FolderPath split;
    const char letter = static_cast<char>(normal.empty() ? 0 : (normal[0] | 0x20));
    if (normal.size() >= 3 && letter >= 'a' && letter <= 'z' && normal[1] == ':' &&
        normal[2] == '\\') {
        split.root = normal.substr(0, 2);
        split.names = NamesOf(normal, 3);
    } else if (normal.rfind("\\\\", 0) == 0) {
        // "\\server\share": two plain names; "." and "?" are the device namespaces, and
        // a share named pipe or mailslot is one more way to name a pipe.
        std::vector<std::string> names = NamesOf(normal, 2);
        if (normal.size() < 3 || normal[2] == '\\' || names.size() < 2 || !IsPlainName(names[0]) ||
            !IsPlainName(names[1]) || Upper(names[1]) == "PIPE" || Upper(names[1]) == "MAILSLOT") {
            return std::nullopt;
        }
        split.root = "\\\\" + names[0] + "\\" + names[1];
        split.names.assign(names.begin() + 2, names.end());
    } else {
        return std::nullopt;
    }
    if (!std::all_of(split.names.begin(), split.names.end(), IsPlainName)) {
        return std::nullopt;
    }
    return split;
}

std::string Trim(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ') {
        ++first;
    }
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') {
        --last;
    }
    return text.substr(first, last - first);
}

std::string ExtractFilePath(const std::string& path) {
    const auto slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string& path) {
    const auto separator = path.find_last_of("\\:");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}
