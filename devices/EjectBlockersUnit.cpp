#include "devices/EjectBlockersUnit.h"

#include <algorithm>
#include <string>
#include <utility>

#include "platform/Machine.h"
#include "platform/SetupApi.h"

namespace {

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        };
        return lower(x) == lower(y);
    });
}

std::vector<std::pair<char, std::string>> DosDevices(platform::Storage& storage) {
    std::vector<std::pair<char, std::string>> devices;
    const std::uint32_t mask = storage.LogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if ((mask & (1u << i)) == 0) {
            continue;
        }
        const char letter = static_cast<char>('A' + i);
        if (auto target = storage.QueryDosDevice(std::string(1, letter) + ":")) {
            devices.emplace_back(letter, std::move(*target));
        }
    }
    return devices;
}

// The description of the running process's file, when it is the event's program on a
// local drive. The process is asked for its own path: the event's is only compared.
std::string DescriptionOf(const BlockerEvent& event, const std::string& dosPath,
                          platform::Machine& machine) {
    const auto running = machine.system->ProcessImagePath(event.processId);
    if (!running || !SameTextIgnoringCase(*running, dosPath)) {
        return {}; // ended, or its id now belongs to another program
    }
    const std::uint32_t type = machine.storage->DriveType(dosPath.substr(0, 2));
    if (type != SetupApi::kDriveFixed && type != SetupApi::kDriveRemovable) {
        return {}; // never reach out to a network share, nor wait for a disc
    }
    std::string description =
        DisplayText(machine.system->FileDescription(*running).value_or(""), kMaxBlockerDescription);
    // "EXCEL.EXE - EXCEL.EXE" would tell nothing more.
    return SameTextIgnoringCase(description, ProgramName(event.imagePath)) ? std::string()
                                                                           : description;
}

std::vector<BlockerEvent> WaitForEvents(const std::string& deviceInstance,
                                        std::uint64_t requestStartTick,
                                        platform::Machine& machine) {
    platform::Clock& clock = *machine.clock;
    // Bounded by the clock, not by the sleeps alone: the queries take time too.
    const std::uint64_t deadline = clock.TickCount() + kBlockerWaitMs;
    for (;;) {
        const std::uint64_t now = clock.TickCount();
        const std::uint64_t window =
            std::min(now - requestStartTick + kBlockerEventSlackMs, kMaxBlockerEventWindowMs);
        const auto xmls = machine.eventLog->QueryEventsXml(
            kBlockerEventChannel, BlockerEventQuery(window), kMaxBlockerEventsRead);
        if (!xmls) {
            return {}; // no log to wait for
        }
        auto events = SelectBlockerEvents(*xmls, deviceInstance);
        const std::uint64_t after = clock.TickCount();
        if (!events.empty() || after >= deadline) {
            return events;
        }
        clock.Sleep(
            static_cast<std::uint32_t>(std::min<std::uint64_t>(kBlockerPollMs, deadline - after)));
    }
}

} // namespace

std::vector<Blocker> FindEjectBlockers(std::uint32_t devInst, std::uint64_t requestStartTick,
                                       BlockerDetail detail) {
    auto& machine = platform::CurrentMachine();
    if (machine.eventLog == nullptr) {
        return {};
    }
    const auto deviceInstance = machine.deviceSetup->GetDeviceInstanceId(devInst);
    if (!deviceInstance) {
        return {};
    }
    const auto events = WaitForEvents(*deviceInstance, requestStartTick, machine);
    std::vector<Blocker> blockers;
    const auto dosDevices = detail == BlockerDetail::Full && !events.empty()
                                ? DosDevices(*machine.storage)
                                : std::vector<std::pair<char, std::string>>{};
    for (const auto& event : events) {
        Blocker blocker{event.processId, ProgramName(event.imagePath), {}, {}};
        if (detail == BlockerDetail::Full) {
            const auto dosPath = MapToDriveLetter(event.imagePath, dosDevices);
            blocker.path = DisplayText(dosPath.value_or(event.imagePath), kMaxBlockerPath);
            if (dosPath) {
                blocker.description = DescriptionOf(event, *dosPath, machine);
            }
        }
        blockers.push_back(std::move(blocker));
    }
    return blockers;
}
