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

void TLog::AppendToFile(std::string folder, const std::string& fileName) {
    auto& machine = platform::CurrentMachine();
    folder = IncludeTrailingBackslash(folder);
    const std::string fullPath = Trim(folder) + Trim(fileName);
    // The log is written by SYSTEM and by elevated clients. The folder is held open by
    // handle from its root down, never through a link (a folder swapped for one would
    // make us write wherever it points, a system folder say), and checked through that
    // handle before the file is opened relative to it: nothing is created anywhere
    // before the checks have passed, and nothing can be swapped in between. A folder
    // that others may change gets nothing.
    const auto path = SplitFolderPath(ExtractFilePath(fullPath));
    const auto held = path ? machine.files->OpenFolder(path->root, path->names) : nullptr;
    const auto access = held ? held->Access() : std::nullopt;
    if (!access || FolderOpenToOthers(*access)) {
        pending_.clear(); // nothing is written, and nothing piles up
        return;
    }

    std::string bytes;
    for (const auto& line : pending_) {
        bytes += line + "\r\n";
    }
    for (int attempt = 1; attempt <= kLogSharingAttempts; ++attempt) {
        const auto result = held->Append(ExtractFileName(fullPath), bytes);
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
