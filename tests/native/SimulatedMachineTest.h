#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "devices/DriveQueries.h"
#include "devices/EjectBlockersUnit.h"
#include "platform/simulated/SimulatedMachine.h"

// Runs each test against its own simulated machine, installed as the current one.
class SimulatedMachineTest : public ::testing::Test {
protected:
    platform::SimulatedMachine sim;

    // A hanging drive's request ends before the machine goes, so that no worker outlives
    // the test; the bounds come back to the product's.
    ~SimulatedMachineTest() override {
        sim.devices.ReleaseHangs();
        EXPECT_TRUE(WaitForDriveQueryWorkers(std::chrono::seconds(10)));
        EXPECT_TRUE(WaitForBlockerDescriptionReads(std::chrono::seconds(10)));
        SetDriveQueryBounds({});
        SetDriveQueryWorkerPause(nullptr);
    }

    // The log's entries without their timestamps. An entry whose text holds line breaks
    // (a drive report, an error text) stays one entry: a line that does not start with
    // the fixed clock's timestamp continues the entry before it.
    std::vector<std::string> LogEntries(const std::string& path) const {
        std::vector<std::string> entries;
        std::string stamp;
        for (const auto& line : sim.LinesOf(path)) {
            if (stamp.empty() && line.find(" - ") != std::string::npos) {
                stamp = line.substr(0, line.find(" - ") + 3);
            }
            if (!stamp.empty() && line.rfind(stamp, 0) == 0) {
                entries.push_back(line.substr(stamp.size()));
            } else if (!entries.empty()) {
                entries.back() += "\r\n" + line;
            }
        }
        return entries;
    }

    // The events reported to the Event Log, each as "<E|W|I> <id> <text>".
    std::vector<std::string> Events() const {
        std::vector<std::string> events;
        for (const auto& event : sim.reportedEvents) {
            const char* type = event.type == platform::EventType::Error     ? "E "
                               : event.type == platform::EventType::Warning ? "W "
                                                                            : "I ";
            events.push_back(type + std::to_string(event.id) + " " + event.text);
        }
        return events;
    }

private:
    platform::ScopedMachine installed_{sim.machine()};
};
