#include "foundation/Paths.h"

#include <algorithm>
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

bool IsAbsolutePath(const std::string& path) {
    const std::string normal = BackslashSeparators(path);
    const char letter = static_cast<char>(normal.empty() ? 0 : (normal[0] | 0x20));
    const bool driveRoot = normal.size() >= 3 && letter >= 'a' && letter <= 'z' &&
                           normal[1] == ':' && normal[2] == '\\';
    const bool share = normal.size() >= 3 && normal.rfind("\\\\", 0) == 0 && normal[2] != '\\';
    return driveRoot || share;
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

namespace {

bool IsRoot(const std::string& folder) {
    // "C:", "\\server\share" and "" have no parent that could be created.
    if (folder.empty() || (folder.size() == 2 && folder[1] == ':')) {
        return true;
    }
    if (folder.rfind("\\\\", 0) == 0) {
        return folder.find('\\', folder.find('\\', 2) + 1) == std::string::npos;
    }
    return false;
}

} // namespace

void ForceDirectories(platform::Files& files, const std::string& folder) {
    std::string path = folder;
    while (!path.empty() && path.back() == '\\') {
        path.pop_back();
    }
    // Walk up to the first folder that exists, then create the missing ones top-down.
    // Each round removes one level, so the walk ends.
    std::vector<std::string> missing;
    while (!IsRoot(path) && !files.DirectoryExists(path)) {
        missing.push_back(path);
        const auto slash = path.find_last_of('\\');
        if (slash == std::string::npos) {
            break;
        }
        path.erase(slash);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        files.CreateDirectory(*it);
    }
}
