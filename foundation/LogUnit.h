#pragma once
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/TextFormat.h"

// Why lines could not be written. Each is told once per process (TLog::LinesLost).
enum class LogLossReason {
    FolderRefused,    // the folder is a link, or others may change it
    FolderMissing,    // the drive or share, or a folder on the way, cannot be reached
    FolderUnwritable, // the folder cannot be created or written into
    FileRefused,      // the day's file is a link, has more than one name, or cannot be opened
};

// Writes timestamped lines to one file per day: <LogPath>\<SourceName>\yyyymmdd.txt.
// Every line reaches the disk at once; lines are held in memory only while no LogPath
// is known. The log never reports an input/output failure to its caller.
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
    // Set once by the entry sequence from the process token.
    bool WriterElevated = true;

    // Told the first time lines are lost for a reason, once per reason and log object;
    // the entry points report it to the Windows Event Log. The lines stay lost.
    std::function<void(const std::string& folder, LogLossReason reason)> LinesLost;

protected:
    void AppendToFile(std::string folder, const std::string& fileName);

private:
    std::string sourceName_;
    std::vector<std::string> pending_;
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
