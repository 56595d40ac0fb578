#pragma once
#include <cstdint>
#include <optional>
#include <string>

// Reads values of one INI file through the system's private-profile routines.
class TIniFile {
public:
    explicit TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    const std::string& FileName() const { return fileName_; }

private:
    std::string fileName_;
};

// The two user settings, read once from the INI file beside the executable.
class TSettings {
public:
    TSettings();
    virtual ~TSettings() = default;
    TSettings(const TSettings&) = delete;
    TSettings& operator=(const TSettings&) = delete;

    bool Debug() const { return debug_; }
    // As written in the file when it is an absolute path, else the executable's folder.
    const std::string& LogPath() const { return logPath_; }
    const TIniFile& IniFile() const { return iniFile_; }

private:
    TIniFile iniFile_;
    bool debug_ = false;
    std::string logPath_;
};

// The process-wide settings; the first call creates them and reads the file.
TSettings& Settings();
// Frees the process-wide settings at process end; the next Settings() reads anew.
void ReleaseSettings();

// "<folder>\<exe name less its last four characters>.ini".
std::string IniPathForExecutable(const std::string& executablePath);

// A signed 32-bit integer in decimal, or in hexadecimal after "$"; nullopt when the text
// does not convert (also on overflow).
std::optional<std::int32_t> StrToIntOpt(const std::string& text);

// The number a "DEBUG" value holds: "0x"/"0X" at the start of a text of three characters
// or more becomes "$", then StrToIntOpt; nullopt when it does not convert. The installer
// checks a DEBUG value with this before it writes one.
std::optional<std::int32_t> DebugValue(const std::string& text);

// The switch is on exactly when the "DEBUG" value holds a non-zero number.
bool DebugValueIsOn(const std::string& text);
