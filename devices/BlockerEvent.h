#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Which program blocked an ejection, as the system's event 225 of the provider
// Microsoft-Windows-Kernel-PnP says in the System log: the decisions on it (the query, the
// parsing of the rendered event, which events count, the texts) without the OS.
//
// Everything in an event is untrusted text: a program can be given any name and command
// line. The parser reads at most kMaxBlockerEventXml bytes, keeps only the three fields
// it needs, and every text shown or logged is cut to a bound and has its control
// characters escaped. Nothing an event names is ever run or opened.

// Shown when a process blocks the ejection.
inline constexpr const char* kEjectVetoedText =
    "Unable to eject the device. There is a process active that blocks the ejection.";

inline constexpr const char* kBlockerEventChannel = "System";
inline constexpr std::size_t kMaxBlockerEventXml = 128 * 1024; // a longer event is ignored
inline constexpr std::size_t kMaxDeviceInstanceId = 200;       // MAX_DEVICE_ID_LEN
inline constexpr std::size_t kMaxImagePathRead = 32767;        // the longest NT path
inline constexpr std::size_t kMaxBlockerName = 64;             // shown, before escaping
inline constexpr std::size_t kMaxBlockerPath = 260;
inline constexpr std::size_t kMaxBlockerDescription = 80;
inline constexpr std::size_t kMaxBlockersNamed = 4; // programs named in one box
inline constexpr std::size_t kMaxBlockerEventsRead = 16;

// The fields of one event 225, decoded from the XML but otherwise as the system wrote
// them: the image path is an NT device path (\Device\HarddiskVolume3\...).
struct BlockerEvent {
    std::uint32_t processId = 0;
    std::string imagePath;
    std::string deviceInstance;
    bool operator==(const BlockerEvent&) const = default;
};

// One blocking program as the box and the log show it: every text bounded and escaped.
// `path` and `description` are empty when not known or not to be shown.
struct Blocker {
    std::uint32_t processId = 0;
    std::string name;
    std::string path;
    std::string description;
    bool operator==(const Blocker&) const = default;
};

// The XPath query for the events 225 of Microsoft-Windows-Kernel-PnP written in the last
// `windowMs` milliseconds.
std::string BlockerEventQuery(std::uint64_t windowMs);

// The event as EvtRender renders it (EvtRenderEventXml); nullopt unless it is an event 225
// of that provider with a decimal process id, an image path and a device instance, each
// given once and within its bound.
std::optional<BlockerEvent> ParseBlockerEvent(std::string_view xml);

// The events among `xmls` (newest first) that name `deviceInstance` (compared without
// regard to case), each process once, at most kMaxBlockersNamed.
std::vector<BlockerEvent> SelectBlockerEvents(const std::vector<std::string>& xmls,
                                              std::string_view deviceInstance);

// The image path with its NT device prefix replaced by the drive letter that maps to it
// (`dosDevices`: letter and QueryDosDevice target, such as {'C', "\Device\HarddiskVolume3"});
// nullopt when none does.
std::optional<std::string>
MapToDriveLetter(std::string_view ntPath,
                 const std::vector<std::pair<char, std::string>>& dosDevices);

// Untrusted text made fit to show: blanks trimmed, cut to `limit` bytes ("..." marks a
// cut), control characters escaped.
std::string DisplayText(std::string_view text, std::size_t limit);

// The program's name: the last component of its image path, made fit to show.
std::string ProgramName(std::string_view imagePath);

// The veto box: the fixed text as its first paragraph, then one line per blocking program
// ("Blocked by: Microsoft Excel - EXCEL.EXE (process 4321)") with its path below it where
// known. Without blockers, the fixed text alone.
std::string VetoBoxText(const std::vector<Blocker>& blockers);

// "Eject of E: refused", and " by EXCEL.EXE (process 4321)" for each blocker.
std::string VetoLogLine(std::string_view driveLetter, const std::vector<Blocker>& blockers);

// The Event Log's text of a refused ejection: the log line, then each blocker's path where
// known ("Eject of E: refused by EXCEL.EXE (process 4321). EXCEL.EXE: C:\...\EXCEL.EXE.").
std::string VetoEventText(std::string_view driveLetter, const std::vector<Blocker>& blockers);
