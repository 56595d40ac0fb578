#include "foundation/LogUnit.h"

#include "foundation/AccessCheck.h"
#include "foundation/Assertions.h"
#include "foundation/Paths.h"
#include "foundation/Timestamp.h"
#include "platform/Files.h"
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

std::string LogLossReasonText(LogLossReason reason) {
    switch (reason) {
    case LogLossReason::FolderRefused:
        return "the folder is a link, or others may change it";
    case LogLossReason::FolderMissing:
        return "the drive or share, or a folder on the way, cannot be reached";
    case LogLossReason::FolderUnwritable:
        return "the folder cannot be created or written into";
    case LogLossReason::FileRefused:
        break;
    }
    return "the day's file is a link, has more than one name, or cannot be opened";
}

namespace {

std::string WithoutTrailingBackslash(const std::string& folder) {
    return !folder.empty() && folder.back() == '\\' ? folder.substr(0, folder.size() - 1) : folder;
}

std::optional<LogLossReason> LossOf(platform::AppendResult result) {
    switch (result) {
    case platform::AppendResult::Written:
        return std::nullopt;
    case platform::AppendResult::Unwritable:
        return LogLossReason::FolderUnwritable;
    case platform::AppendResult::SharingViolation:
    case platform::AppendResult::Refused:
        break;
    }
    return LogLossReason::FileRefused;
}

} // namespace

void TLog::AppendToFile(std::string folder, const std::string& fileName) {
    folder = Trim(IncludeTrailingBackslash(folder));
    const std::string name = Trim(fileName);
    std::string bytes;
    for (const auto& line : pending_) {
        bytes += line + "\r\n";
    }
    // Written or not, the lines are gone: an unwritable folder must not let them pile up.
    pending_.clear();
    if (!WriterElevated && ownFolderFor_ == folder + name) {
        // Today's lines already go to the per-user folder: LogPath is tried again tomorrow.
        AppendToOwnFolder(folder, name, LogLossReason::FolderUnwritable, bytes);
        return;
    }
    if (const auto why = WriteInto(folder, name, bytes)) {
        if (WriterElevated) {
            ReportLoss(folder, *why);
        } else {
            AppendToOwnFolder(folder, name, *why, bytes);
        }
    }
}

std::optional<LogLossReason> TLog::WriteInto(const std::string& folder, const std::string& fileName,
                                             const std::string& bytes) {
    const bool fresh = !held_ || heldFolder_ != folder || heldDay_ != fileName;
    if (fresh) {
        if (const auto why = Resolve(folder, fileName)) {
            return why;
        }
    }
    auto why = AppendHeld(fileName, bytes);
    if (why && !fresh) {
        // The folder held may have been moved or removed since it was checked: look again.
        if (const auto again = Resolve(folder, fileName)) {
            return again;
        }
        why = AppendHeld(fileName, bytes);
    }
    if (why) {
        held_.reset(); // checked afresh at the next line
    }
    return why;
}

std::optional<LogLossReason> TLog::Resolve(const std::string& folder, const std::string& fileName) {
    held_.reset();
    heldFolder_.clear();
    const auto path = SplitFolderPath(folder);
    if (!path) {
        return LogLossReason::FolderRefused;
    }
    // The log is written by SYSTEM and by elevated clients. The folder is opened from its
    // root down, never through a link (a folder swapped for one would make us write
    // wherever it points, a system folder say), and checked through its handle before any
    // file is opened relative to it. On this machine, a folder that others may change
    // gets nothing from such a writer: they could plant a link in it. On a share the
    // writer authenticates to the server with its own rights, and a central log folder
    // is one that many computers write to by its nature; and a writer without elevation
    // has no privilege for a planted link to borrow. Both still never follow a link.
    const bool share = path->root.rfind("\\\\", 0) == 0;
    auto opening = platform::CurrentMachine().files->OpenFolder(
        path->root, path->names,
        WriterElevated && !share ? platform::FolderOwner::Trusted : platform::FolderOwner::Writer);
    switch (opening.failure) {
    case platform::FolderFailure::None:
        break;
    case platform::FolderFailure::Link:
        return LogLossReason::FolderRefused;
    case platform::FolderFailure::Missing:
        return LogLossReason::FolderMissing;
    case platform::FolderFailure::Uncreatable:
        return LogLossReason::FolderUnwritable;
    }
    if (WriterElevated && !share) {
        const auto access = opening.folder->Access();
        if (!access || FolderOpenToOthers(*access)) {
            return LogLossReason::FolderRefused;
        }
    }
    held_ = std::move(opening.folder);
    heldFolder_ = folder;
    heldDay_ = fileName;
    return std::nullopt;
}

std::optional<LogLossReason> TLog::AppendHeld(const std::string& fileName,
                                              const std::string& bytes) {
    auto result = platform::AppendResult::Refused;
    for (int attempt = 1; attempt <= kLogSharingAttempts; ++attempt) {
        result = held_->Append(fileName, bytes);
        if (result != platform::AppendResult::SharingViolation) {
            break;
        }
        if (attempt < kLogSharingAttempts) {
            platform::CurrentMachine().clock->Sleep(kLogSharingRetryDelayMs);
        }
    }
    return LossOf(result);
}

void TLog::AppendToOwnFolder(const std::string& folder, const std::string& fileName,
                             LogLossReason why, const std::string& bytes) {
    auto& machine = platform::CurrentMachine();
    const std::string own = Trim(machine.files->LocalAppDataFolder());
    const std::string ownFolder = own.empty() ? std::string()
                                              : IncludeTrailingBackslash(BackslashSeparators(own)) +
                                                    "Driveward\\" + sourceName_ + "\\";
    if (ownFolder.empty() || ownFolder == folder) {
        ReportLoss(folder, why);
        return;
    }
    std::string text = bytes;
    if (ownFolderFor_ != folder + fileName) {
        // The file's first line (of this process, today) says why its lines are here.
        text = FormatLogTimestamp(machine.clock->Now(), machine.locale->UserFormats()) +
               " - Warning: Logging here instead of " +
               EscapeControlCharacters(WithoutTrailingBackslash(folder)) + ": " +
               LogLossReasonText(why) + "\r\n" + bytes;
    }
    if (const auto lost = WriteInto(ownFolder, fileName, text)) {
        ownFolderFor_.clear();
        ReportLoss(folder, why);
        return;
    }
    ownFolderFor_ = folder + fileName;
}

void TLog::ReportLoss(const std::string& folder, LogLossReason reason) {
    const unsigned bit = 1u << static_cast<unsigned>(reason);
    if ((reportedLosses_ & bit) != 0) {
        return;
    }
    reportedLosses_ |= bit;
    if (LinesLost) {
        LinesLost(WithoutTrailingBackslash(folder), reason);
    }
}

std::string ComputerName() {
    return platform::CurrentMachine().system->ComputerName().value_or(std::string());
}
