#include "devices/EjectBlockersUnit.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
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
// fixed local drive other than the one ejected. The process is asked for its own path: the
// event's is only compared, and so is the path that the opened file really has.
std::string DescriptionOf(const BlockerEvent& event, const std::string& dosPath,
                          std::string_view ejectedDrive, platform::Machine& machine) {
    const auto running = machine.system->ProcessImagePath(event.processId);
    if (!running || !SameTextIgnoringCase(*running, dosPath)) {
        return {}; // ended, or its id now belongs to another program
    }
    const std::string drive = dosPath.substr(0, 2);
    if (ejectedDrive.empty() ||
        SameTextIgnoringCase(drive.substr(0, 1), std::string(ejectedDrive)) ||
        machine.storage->DriveType(drive) != SetupApi::kDriveFixed) {
        return {}; // never a disc, a stick, the drive going away or a network share
    }
    const auto read = machine.system->ReadFileDescription(*running);
    if (!read || !SameTextIgnoringCase(read->finalPath, event.imagePath)) {
        return {}; // a link on the way led elsewhere, or to another volume
    }
    std::string description = DisplayText(read->description, kMaxBlockerDescription);
    // "EXCEL.EXE - EXCEL.EXE" would tell nothing more.
    return SameTextIgnoringCase(description, ProgramName(event.imagePath)) ? std::string()
                                                                           : description;
}

// What the GUI thread and a description worker share; it outlives whichever ends last.
struct DescriptionReads {
    std::mutex mutex;
    std::condition_variable done;
    std::vector<std::string> descriptions; // set by the worker, under the mutex
    bool finished = false;
};

// Process-wide, never destroyed: an abandoned worker may end while the process does.
struct DescriptionReaders {
    std::mutex mutex;
    std::condition_variable gone;
    bool running = false; // one reader at a time
};

DescriptionReaders& Readers() {
    static auto* readers = new DescriptionReaders;
    return *readers;
}

// The descriptions of the programs at `dosPaths` (empty: not mapped), in order; empty
// texts where none may be read or the bound passed first.
std::vector<std::string> ReadDescriptions(const std::vector<BlockerEvent>& events,
                                          const std::vector<std::optional<std::string>>& dosPaths,
                                          std::string_view ejectedDrive,
                                          platform::Machine& machine) {
    std::vector<std::string> none(events.size());
    DescriptionReaders& readers = Readers();
    {
        std::lock_guard<std::mutex> lock(readers.mutex);
        if (readers.running) {
            return none; // an earlier read still hangs
        }
        readers.running = true;
    }
    auto reads = std::make_shared<DescriptionReads>();
    try {
        std::thread([reads, events, dosPaths, drive = std::string(ejectedDrive), &machine] {
            std::vector<std::string> descriptions(events.size());
            for (std::size_t i = 0; i < events.size(); ++i) {
                if (dosPaths[i]) {
                    descriptions[i] = DescriptionOf(events[i], *dosPaths[i], drive, machine);
                }
            }
            {
                // Free for the next read before this one is answered: the GUI thread may eject
                // again the moment it has the answer. The machine is not touched past here.
                DescriptionReaders& readers = Readers();
                std::lock_guard<std::mutex> lock(readers.mutex);
                readers.running = false;
                readers.gone.notify_all();
            }
            std::lock_guard<std::mutex> lock(reads->mutex);
            reads->descriptions = std::move(descriptions);
            reads->finished = true;
            reads->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> lock(readers.mutex);
        readers.running = false; // no thread to be had: no description
        return none;
    }
    std::unique_lock<std::mutex> lock(reads->mutex);
    if (!reads->done.wait_for(lock, std::chrono::milliseconds(kBlockerDescriptionWaitMs),
                              [&] { return reads->finished; })) {
        return none;
    }
    return std::move(reads->descriptions);
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
                                       BlockerDetail detail, std::string_view ejectedDrive) {
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
    for (const auto& event : events) {
        blockers.push_back(Blocker{event.processId, ProgramName(event.imagePath), {}, {}});
    }
    if (detail != BlockerDetail::Full || events.empty()) {
        return blockers;
    }
    const auto dosDevices = DosDevices(*machine.storage);
    std::vector<std::optional<std::string>> dosPaths;
    for (std::size_t i = 0; i < events.size(); ++i) {
        dosPaths.push_back(MapToDriveLetter(events[i].imagePath, dosDevices));
        blockers[i].path = DisplayText(dosPaths[i].value_or(events[i].imagePath), kMaxBlockerPath);
    }
    auto descriptions = ReadDescriptions(events, dosPaths, ejectedDrive, machine);
    for (std::size_t i = 0; i < blockers.size(); ++i) {
        blockers[i].description = std::move(descriptions[i]);
    }
    return blockers;
}

bool WaitForBlockerDescriptionReads(std::chrono::milliseconds bound) {
    DescriptionReaders& readers = Readers();
    std::unique_lock<std::mutex> lock(readers.mutex);
    return readers.gone.wait_for(lock, bound, [&] { return !readers.running; });
}
