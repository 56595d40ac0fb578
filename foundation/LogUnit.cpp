#include "foundation/LogUnit.h"

#include "foundation/AccessCheck.h"
#include "foundation/Assertions.h"
#include "foundation/Paths.h"
#include "foundation/Timestamp.h"
#include "platform/Machine.h"

std::unique_ptr<TLog> Log;

TLog::TLog(const std::string& aServiceName) : sourceName_(aServiceName) {
    Assert(!aServiceName.empty(), "aServiceName mag niet leeg zijn.");
}

TLog::~TLog() {
    Add("Stopped logging");
}

void TLog::AddFmt(std::string_view format, std::initializer_list<FormatArg> args) {
    if (const auto text = FormatText(format, args)) {
        Add(*text);
    } else {
        Add("Invalid log format: " + std::string(format));
    }
}

void TLog::Add(const std::string& text) {
    auto& machine = platform::CurrentMachine();
    const auto formats = machine.locale->UserFormats();
    pending_.push_back(FormatLogTimestamp(machine.clock->Now(), formats) + " - " + text);
    Flush();
}

void TLog::Info(const std::string& text) {
    Add("Info: " + text);
}
void TLog::Error(const std::string& text) {
    Add("Error: " + text);
}
void TLog::Warning(const std::string& text) {
    Add("Warning: " + text);
}

void TLog::DebugBegin() {
    Add("--- DEBUG ------");
}
void TLog::DebugEnd() {
    Add("----------------");
}

void TLog::Flush() {
    if (LogPath.empty()) {
        return;
    }
    // Trimmed here already, so that the folders created and the file opened agree even
    // when LogPath carries blanks (a quoted INI value keeps them).
    // "Z:/a/b" names the same folders as "Z:\a\b"; the folder walk splits at "\".
    const std::string folder =
        IncludeTrailingBackslash(BackslashSeparators(Trim(LogPath))) + sourceName_ + "\\";
    // The file date is read here, not taken from the line: a line stamped just before
    // midnight and written after it belongs to the new day's file.
    const std::string fileName = FormatFileDate(platform::CurrentMachine().clock->Now()) + ".txt";
    AppendToFile(folder, fileName);
}

namespace {

// The log is written by SYSTEM and by elevated clients. With LogPath below a folder that
// users can write to, a folder swapped for a link would make us write wherever it points
// (a system folder), and a folder that others may change could be swapped at any time.
// Such a folder gets nothing.
bool PathHasLink(platform::Files& files, const std::string& path) {
    // Every part of the path, from the drive or share down; a missing part is no link.
    const std::size_t start = path.rfind("\\\\", 0) == 0 ? 2 : 0;
    for (auto slash = path.find('\\', start); slash != std::string::npos;
         slash = path.find('\\', slash + 1)) {
        if (slash > 2 && files.IsLink(path.substr(0, slash))) {
            return true;
        }
    }
    return files.IsLink(path);
}

bool FolderIsTrusted(platform::Files& files, const std::string& path) {
    const auto access = files.FolderAccess(path);
    return access && !FolderOpenToOthers(*access);
}

} // namespace

void TLog::AppendToFile(std::string folder, const std::string& fileName) {
    auto& machine = platform::CurrentMachine();
    folder = IncludeTrailingBackslash(folder);
    const std::string fullPath = Trim(folder) + Trim(fileName);
    std::string logFolder = ExtractFilePath(fullPath);
    logFolder.pop_back();
    // Links are looked for before any folder is created, so that none is made through
    // one; the log folder's access list after, be the folder ours or found there.
    bool safe = !PathHasLink(*machine.files, logFolder);
    if (safe) {
        ForceDirectories(*machine.files, folder);
        safe = FolderIsTrusted(*machine.files, logFolder);
    }
    if (!safe) {
        pending_.clear(); // nothing is written, and nothing piles up
        return;
    }

    std::string bytes;
    for (const auto& line : pending_) {
        bytes += line + "\r\n";
    }
    for (int attempt = 1; attempt <= kLogSharingAttempts; ++attempt) {
        const auto result = machine.files->AppendToFile(fullPath, bytes);
        if (result != platform::AppendResult::SharingViolation) {
            break;
        }
        if (attempt < kLogSharingAttempts) {
            machine.clock->Sleep(kLogSharingRetryDelayMs);
        }
    }
    // Written or not, the lines are gone: an unwritable folder must not let them pile up.
    pending_.clear();
}

std::string ComputerName() {
    return platform::CurrentMachine().system->ComputerName().value_or(std::string());
}
