#include "platform/simulated/DeviceScenario.h"

#include <optional>
#include <vector>

#include "platform/SetupApi.h"

namespace platform {
namespace {

constexpr std::int64_t kBytesPerMiB = 1024 * 1024;
// Ten digits of MiB stay far below the 63 bits of a byte count.
constexpr std::size_t kMaxWholeDigits = 10;
constexpr std::size_t kMaxFractionDigits = 6;
constexpr std::uint32_t kFileDeviceDisk = 7;
constexpr std::uint8_t kBusTypeAta = 3;
constexpr std::uint8_t kBusTypeUsb = 7;
// The error the setup enumeration fails with under `lookup-fault`: ERROR_GEN_FAILURE,
// "A device attached to the system is not functioning."
constexpr std::uint32_t kLookupFaultError = 31;
// Device instances: disk n is 1000 + 10n, its USB device one more, all on one hub.
constexpr std::uint32_t kFirstDisk = 1000;
constexpr std::uint32_t kUsbHub = 900;
// A device tree is never deeper than this; a longer climb is a loop.
constexpr int kMaxTreeDepth = 64;

enum class Kind { Fixed, Stick, UsbDisk, CardReader };

struct Token {
    std::string_view text;
    bool quoted = false;
};

struct DriveLine {
    char letter = 0;
    Kind kind = Kind::Fixed;
    std::optional<DiskSpace> space;
    std::string label;
    bool veto = false;
    std::optional<SimulatedBlocker> blocker; // veto=IMAGE:PID
    bool lookupFault = false;
    std::uint32_t hangSeconds = 0;
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsPrintable(char c) {
    return c >= 0x20 && c <= 0x7E;
}

// The tokens of a line up to its comment; nullopt for a control byte or an open quote.
std::optional<std::vector<Token>> Tokenize(std::string_view line) {
    std::vector<Token> tokens;
    std::size_t at = 0;
    while (at < line.size()) {
        const char c = line[at];
        if (IsBlank(c)) {
            ++at;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            const std::size_t close = line.find('"', at + 1);
            if (close == std::string_view::npos) {
                return std::nullopt;
            }
            tokens.push_back({line.substr(at + 1, close - at - 1), true});
            at = close + 1;
        } else {
            const std::size_t start = at;
            while (at < line.size() && !IsBlank(line[at]) && line[at] != '"') {
                ++at;
            }
            tokens.push_back({line.substr(start, at - start), false});
        }
    }
    for (const Token& token : tokens) {
        for (const char c : token.text) {
            if (!IsPrintable(c)) {
                return std::nullopt;
            }
        }
    }
    return tokens;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// "12.5" MiB as bytes, rounded to the nearest byte; false for anything else.
bool ParseMebibytes(const Token& token, std::int64_t& result) {
    if (token.quoted) {
        return false;
    }
    const std::string_view text = token.text;
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    if (whole.empty() || whole.size() > kMaxWholeDigits || fraction.size() > kMaxFractionDigits ||
        (point != std::string_view::npos && fraction.empty())) {
        return false;
    }
    std::int64_t bytes = 0;
    for (const char c : whole) {
        if (!IsDigit(c)) {
            return false;
        }
        bytes = bytes * 10 + (c - '0');
    }
    bytes *= kBytesPerMiB;
    std::int64_t numerator = 0;
    std::int64_t denominator = 1;
    for (const char c : fraction) {
        if (!IsDigit(c)) {
            return false;
        }
        numerator = numerator * 10 + (c - '0');
        denominator *= 10;
    }
    result = bytes + (numerator * kBytesPerMiB * 2 + denominator) / (2 * denominator);
    return true;
}

std::optional<Kind> ParseKind(std::string_view text) {
    if (text == "fixed") {
        return Kind::Fixed;
    }
    if (text == "stick") {
        return Kind::Stick;
    }
    if (text == "usbdisk") {
        return Kind::UsbDisk;
    }
    if (text == "cardreader") {
        return Kind::CardReader;
    }
    return std::nullopt;
}

constexpr std::string_view kVetoBy = "veto=";

// "veto=IMAGE:PID": a program name without "\\" and a decimal process id.
std::optional<SimulatedBlocker> ParseVetoBy(std::string_view text) {
    if (text.substr(0, kVetoBy.size()) != kVetoBy) {
        return std::nullopt;
    }
    text.remove_prefix(kVetoBy.size());
    const std::size_t colon = text.rfind(':');
    if (colon == 0 || colon == std::string_view::npos || colon > kMaxScenarioProgram ||
        text.substr(0, colon).find('\\') != std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view digits = text.substr(colon + 1);
    std::uint64_t processId = 0;
    for (const char c : digits) {
        if (!IsDigit(c)) {
            return std::nullopt;
        }
        processId = processId * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (digits.empty() || digits.size() > 10 || processId > 0xFFFFFFFFu) {
        return std::nullopt;
    }
    return SimulatedBlocker{std::string(kBlockerFolder) + std::string(text.substr(0, colon)),
                            static_cast<std::uint32_t>(processId)};
}

constexpr std::string_view kHangOption = "hang=";

// "hang=SECONDS": 1 to kMaxScenarioHangSeconds, digits only.
std::optional<std::uint32_t> ParseHang(const Token& token) {
    if (token.quoted || token.text.substr(0, kHangOption.size()) != kHangOption) {
        return std::nullopt;
    }
    const std::string_view digits = token.text.substr(kHangOption.size());
    if (digits.empty() || digits.size() > 4) {
        return std::nullopt;
    }
    std::uint32_t seconds = 0;
    for (const char c : digits) {
        if (!IsDigit(c)) {
            return std::nullopt;
        }
        seconds = seconds * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (seconds == 0 || seconds > kMaxScenarioHangSeconds) {
        return std::nullopt;
    }
    return seconds;
}

bool IsOption(const Token& token) {
    return !token.quoted && (token.text == "veto" || token.text == "lookup-fault" ||
                             ParseVetoBy(token.text).has_value() ||
                             token.text.substr(0, kHangOption.size()) == kHangOption);
}

std::optional<DriveLine> ParseDriveLine(const std::vector<Token>& tokens) {
    if (tokens.size() < 2 || tokens[0].quoted || tokens[0].text.size() != 2 ||
        tokens[0].text[1] != ':') {
        return std::nullopt;
    }
    DriveLine drive;
    const char letter = tokens[0].text[0];
    drive.letter = letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 'a' + 'A') : letter;
    const auto kind = tokens[1].quoted ? std::nullopt : ParseKind(tokens[1].text);
    if (drive.letter < 'A' || drive.letter > 'Z' || !kind) {
        return std::nullopt;
    }
    drive.kind = *kind;
    std::size_t next = 2;
    if (next < tokens.size() && !tokens[next].quoted && IsDigit(tokens[next].text[0])) {
        std::int64_t total = 0;
        std::int64_t used = 0;
        if (next + 1 >= tokens.size() || !ParseMebibytes(tokens[next], total) ||
            !ParseMebibytes(tokens[next + 1], used) || used > total) {
            return std::nullopt;
        }
        drive.space = DiskSpace{total - used, total};
        next += 2;
    }
    const auto isLabel = [](const Token& token) {
        // A bad "veto=" is a bad option, not a label: the label would hide the mistake.
        return token.quoted ||
               (!IsOption(token) && token.text.substr(0, kVetoBy.size()) != kVetoBy);
    };
    if (next < tokens.size() && isLabel(tokens[next])) {
        if (tokens[next].text.size() > kMaxScenarioLabel) {
            return std::nullopt;
        }
        drive.label = std::string(tokens[next].text);
        ++next;
    }
    for (; next < tokens.size(); ++next) {
        if (!IsOption(tokens[next])) {
            return std::nullopt;
        }
        if (tokens[next].text.substr(0, kHangOption.size()) == kHangOption) {
            const auto hang = ParseHang(tokens[next]);
            if (!hang) {
                return std::nullopt;
            }
            drive.hangSeconds = *hang;
        }
        drive.veto = drive.veto || tokens[next].text == "veto";
        if (auto blocker = ParseVetoBy(tokens[next].text)) {
            drive.veto = true;
            drive.blocker = std::move(blocker);
        }
        drive.lookupFault = drive.lookupFault || tokens[next].text == "lookup-fault";
    }
    return drive;
}

std::string ProductOf(Kind kind) {
    switch (kind) {
    case Kind::Fixed:
        return "System Disk";
    case Kind::Stick:
        return "USB Stick";
    case Kind::UsbDisk:
        return "USB Disk";
    case Kind::CardReader:
        return "Card Reader";
    }
    return {};
}

// The drive, its disk interface and its place in the device tree, for disk number n.
void AddDrive(const DriveLine& line, std::uint32_t n, SimulatedDevices& devices,
              std::vector<SimulatedInterface>& interfaces) {
    const bool fixed = line.kind == Kind::Fixed;
    const bool removable = line.kind == Kind::Stick || line.kind == Kind::CardReader;
    const std::string product = ProductOf(line.kind);
    SimulatedDrive drive;
    drive.driveType = removable ? SetupApi::kDriveRemovable : SetupApi::kDriveFixed;
    drive.dosDeviceName = "\\Device\\HarddiskVolume" + std::to_string(n + 1);
    drive.deviceNumber = StorageDeviceNumber{kFileDeviceDisk, n, line.space ? 1u : 0u};
    drive.descriptor =
        MakeStorageDescriptor(fixed ? kBusTypeAta : kBusTypeUsb, "Simulated", product, "1.00");
    drive.hotplug = StorageHotplugInfo{removable, false, !fixed};
    drive.space = line.space;
    drive.hangSeconds = line.hangSeconds;
    drive.volume.reset();
    if (line.space) {
        drive.volume = VolumeInformation{line.label, removable ? "FAT32" : "NTFS"};
    }
    devices.drives[line.letter] = drive;

    const std::uint32_t disk = kFirstDisk + 10 * n;
    std::string path =
        fixed ? "\\\\?\\ide#disk&ven_simulated" : "\\\\?\\usbstor#disk&ven_simulated";
    path += "#" + std::to_string(n) + "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    interfaces.push_back({path, n, disk, true, true, fixed ? 0u : 0x84u});
    if (!fixed) {
        devices.parents[disk] = disk + 1;
        devices.parents[disk + 1] = kUsbHub;
        if (line.veto) {
            devices.vetoedEjections.insert(disk + 1);
        }
        if (line.blocker) {
            devices.blockers[disk + 1] = {*line.blocker};
        }
    }
}

// The lines of the text's first kMaxScenarioBytes bytes; a line cut there is dropped.
std::vector<std::string_view> LinesOf(std::string_view text, int& skipped) {
    if (text.size() > kMaxScenarioBytes) {
        text = text.substr(0, kMaxScenarioBytes);
        const std::size_t lastEnd = text.rfind('\n');
        const std::size_t kept = lastEnd == std::string_view::npos ? 0 : lastEnd + 1;
        skipped += kept < text.size() ? 1 : 0;
        text = text.substr(0, kept);
    }
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return lines;
}

} // namespace

DeviceScenarioResult LoadDeviceScenario(std::string_view text, SimulatedDevices& devices) {
    std::lock_guard<std::recursive_mutex> lock(devices.Mutex()); // a worker may be querying
    devices.drives.clear();
    devices.interfaces.clear();
    devices.parents.clear();
    devices.vetoedEjections.clear();
    devices.blockers.clear(); // the events already written stay in the log
    devices.enumFault.reset();

    DeviceScenarioResult result;
    std::vector<DriveLine> drives;
    for (const std::string_view line : LinesOf(text, result.skippedLines)) {
        const auto tokens = line.size() <= kMaxScenarioLine ? Tokenize(line) : std::nullopt;
        if (tokens && tokens->empty()) {
            continue; // blank or comment
        }
        const auto drive = tokens ? ParseDriveLine(*tokens) : std::nullopt;
        bool taken = false;
        for (const DriveLine& earlier : drives) {
            taken = taken || (drive && earlier.letter == drive->letter);
        }
        if (!drive || taken) {
            ++result.skippedLines;
            continue;
        }
        drives.push_back(*drive);
    }

    // The faulty drives' disks are listed after all the others, and the enumeration fails
    // where the first of them would be: a lookup for a sound drive finds its disk before
    // it gets there, a lookup for a faulty one walks on and fails.
    std::vector<SimulatedInterface> sound;
    std::vector<SimulatedInterface> faulty;
    for (std::uint32_t n = 0; n < drives.size(); ++n) {
        AddDrive(drives[n], n, devices, drives[n].lookupFault ? faulty : sound);
    }
    if (!faulty.empty()) {
        devices.enumFault =
            SimulatedFault{static_cast<std::uint32_t>(sound.size()), kLookupFaultError};
    }
    sound.insert(sound.end(), faulty.begin(), faulty.end());
    devices.interfaces[SetupApi::GUID_DEVINTERFACE_DISK] = sound;
    result.drives = static_cast<int>(drives.size());
    return result;
}

std::string RemoveDrivesBelow(SimulatedDevices& devices, std::uint32_t devInst) {
    std::lock_guard<std::recursive_mutex> lock(devices.Mutex()); // a worker may be querying
    const auto listed = devices.interfaces.find(SetupApi::GUID_DEVINTERFACE_DISK);
    if (listed == devices.interfaces.end()) {
        return {};
    }
    const auto below = [&](std::uint32_t device) {
        for (int depth = 0; depth < kMaxTreeDepth; ++depth) {
            if (device == devInst) {
                return true;
            }
            const auto parent = devices.parents.find(device);
            if (parent == devices.parents.end()) {
                return false;
            }
            device = parent->second;
        }
        return false;
    };
    std::string removed;
    for (auto it = devices.drives.begin(); it != devices.drives.end();) {
        bool gone = false;
        for (const SimulatedInterface& disk : listed->second) {
            gone = gone || (it->second.deviceNumber && disk.deviceNumber &&
                            *disk.deviceNumber == it->second.deviceNumber->deviceNumber &&
                            below(disk.devInst));
        }
        if (gone) {
            removed += it->first;
            it = devices.drives.erase(it);
        } else {
            ++it;
        }
    }
    return removed;
}

} // namespace platform
