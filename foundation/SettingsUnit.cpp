#include "foundation/SettingsUnit.h"

#include <memory>

#include "foundation/Paths.h"
#include "platform/Machine.h"

namespace {

const char* const kSection = "GENERAL";
std::unique_ptr<TSettings> settingsInstance;

int DigitValue(char c, int base) {
    int value = -1;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    }
    return value < base ? value : -1;
}

} // namespace

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
    return platform::CurrentMachine().system->ReadProfileString(fileName_, section, key,
                                                                defaultValue);
}

std::string IniPathForExecutable(const std::string& executablePath) {
    const std::string folder = ExtractFilePath(executablePath);
    std::string baseName = ExtractFileName(executablePath);
    // Always four characters: the extension with its dot, whatever it is.
    baseName.resize(baseName.size() > 4 ? baseName.size() - 4 : 0);
    return folder + baseName + ".ini";
}

std::optional<std::int32_t> StrToIntOpt(const std::string& text) {
    std::size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    int base = 10;
    if (pos < text.size() && text[pos] == '$') {
        base = 16;
        ++pos;
    }
    if (pos >= text.size()) {
        return std::nullopt;
    }
    // Hexadecimal takes any 32-bit pattern ($FFFFFFFF is -1); decimal must fit the range.
    const std::uint64_t limit =
        base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    std::uint64_t value = 0;
    for (; pos < text.size(); ++pos) {
        const int digit = DigitValue(text[pos], base);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (value > limit) {
            return std::nullopt;
        }
    }
    auto result = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    if (negative) {
        result = static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(result));
    }
    return result;
}

std::optional<std::int32_t> DebugValue(const std::string& text) {
    std::string number = text;
    if (number.size() >= 3 && number[0] == '0' && (number[1] == 'x' || number[1] == 'X')) {
        number.replace(0, 2, "$");
    }
    return StrToIntOpt(number);
}

bool DebugValueIsOn(const std::string& text) {
    return DebugValue(text).value_or(0) != 0;
}

TSettings::TSettings()
    : iniFile_(IniPathForExecutable(platform::CurrentMachine().system->ModuleFileName())) {
    const std::string folder = ExtractFilePath(platform::CurrentMachine().system->ModuleFileName());
    debug_ = DebugValueIsOn(iniFile_.ReadString(kSection, "DEBUG", ""));
    logPath_ = iniFile_.ReadString(kSection, "LogPath", "");
    // The log is written by SYSTEM and by elevated clients: a relative path (or one of
    // blanks, which would become the drive's root) would land wherever their current
    // folder happens to be, and a device or a pipe would be opened by them.
    if (!SplitFolderPath(Trim(logPath_))) {
        logPath_ = folder;
    }
}

TSettings& Settings() {
    if (!settingsInstance) {
        settingsInstance = std::make_unique<TSettings>();
    }
    return *settingsInstance;
}

void ReleaseSettings() {
    settingsInstance.reset();
}
