#pragma once
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/TextFormat.h"

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
