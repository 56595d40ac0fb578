#pragma once
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/TextFormat.h"

namespace platform {
class HeldFolder;
}

// Why lines could not be written. Each is told once per process (TLog::LinesLost).
enum class LogLossReason {
    FolderRefused,    // the folder is a link, or others may change it
    FolderMissing,    // the drive or share, or a folder on the way, cannot be reached
    FolderUnwritable, // the folder cannot be created or written into
    FileRefused,      // the day's file is a link, has more than one name, or cannot be opened
};

// The reason as the log's lines give it ("the folder cannot be created or written into").
std::string LogLossReasonText(LogLossReason reason);

// Writes timestamped lines to one file per day: <LogPath>\<SourceName>\yyyymmdd.txt.
// Every line reaches the disk at once; lines are held in memory only while no LogPath
// is known. The log never reports an input/output failure to its caller.
// The log folder is resolved and checked once and held; each line opens the day's file
// relative to it. It is resolved again when LogPath or the day changes, or a line
// cannot be written into the folder held (an administrator moved or removed it).
class TLog {
public:
    explicit TLog(const std::string& aServiceName);
    virtual ~TLog();
    TLog(const TLog&) = delete;
    TLog& operator=(const TLog&) = delete;

    // A format whose placeholders do not match the arguments gives one complete line
    // that says so, never a partial one.
    virtual void AddFmt(std::string_view format, std::initializer_list<FormatArg> args);
    virtual void Add(const std::string& text);
    virtual void Info(const std::string& text);
    virtual void Error(const std::string& text);
    virtual void Warning(const std::string& text);

    void DebugBegin();
    void DebugEnd();
    void Flush();

    const std::string& SourceName() const { return sourceName_; }
    std::size_t PendingLineCount() const { return pending_.size(); }

    // The root folder of the log files; nothing is written while it is empty.
    std::string LogPath;

    // True for an elevated or SYSTEM writer (the default): the folder trust rule applies.
    // Set once by the entry sequence from the process token. A writer without elevation
    // has no privilege to lend: it writes with its own rights wherever LogPath says (never
    // through a link), and where it cannot, into its per-user folder
    // (%LOCALAPPDATA%\Driveward\<SourceName>), whose file's first line says why.
    bool WriterElevated = true;

    // Told the first time lines are lost for a reason, once per reason and log object;
    // the entry points report it to the Windows Event Log. The lines stay lost.
    std::function<void(const std::string& folder, LogLossReason reason)> LinesLost;

protected:
    void AppendToFile(std::string folder, const std::string& fileName);

private:
    // Writes the bytes into the folder's day file: nullopt when written, else why not.
    std::optional<LogLossReason> WriteInto(const std::string& folder, const std::string& fileName,
                                           const std::string& bytes);
    std::optional<LogLossReason> Resolve(const std::string& folder, const std::string& fileName);
    std::optional<LogLossReason> AppendHeld(const std::string& fileName, const std::string& bytes);
    void AppendToOwnFolder(const std::string& folder, const std::string& fileName,
                           LogLossReason why, const std::string& bytes);
    void ReportLoss(const std::string& folder, LogLossReason reason);

    std::string sourceName_;
    std::vector<std::string> pending_;
    std::unique_ptr<platform::HeldFolder> held_; // the folder last resolved and checked
    std::string heldFolder_;                     // its path as asked, "" when none is held
    std::string heldDay_;                        // the day's file name it was checked for
    std::string ownFolderFor_;    // the folder and day whose lines the per-user folder takes
    unsigned reportedLosses_ = 0; // one bit per LogLossReason told
};

// The process-wide log; created by the entry sequence, empty before and after.
extern std::unique_ptr<TLog> Log;

// The computer's name, or an empty text when the system cannot give it.
std::string ComputerName();

// A file held open by another Driveward process (the tray monitor and a helper writing
// at the same moment) is tried again this often, this far apart, before the lines are
// given up. Each append checks the open file (no link, one name, its own path) before it
// writes, so a writer holds the file a little longer than a bare append would.
inline constexpr int kLogSharingAttempts = 10;
inline constexpr unsigned kLogSharingRetryDelayMs = 20;
