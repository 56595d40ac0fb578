#include <gtest/gtest.h>

#include "SimulatedMachineTest.h"
#include "foundation/GetWinVersionInfoUnit.h"

namespace {

TEST(WinVersion, ClassesOfTheVersionQuery) {
    using V = platform::OsVersion;
    const std::pair<V, TWinVersion> table[] = {
        {{1, 4, 0}, wvWin95},     {{1, 4, 10}, wvWin98},   {{1, 4, 90}, wvWinMe},
        {{1, 4, 20}, wvUnknown},  {{1, 5, 0}, wvUnknown},  {{2, 3, 51}, wvWinNT},
        {{2, 4, 0}, wvWinNT},     {{2, 5, 0}, wvWin2000},  {{2, 5, 1}, wvWinXP},
        {{2, 5, 2}, wvUnknown},   {{2, 5, 9}, wvUnknown},  {{2, 6, 0}, wvWinVista},
        {{2, 6, 1}, wvWin7},      {{2, 6, 2}, wvWinLater}, {{2, 6, 3}, wvWinLater},
        {{2, 10, 0}, wvWinLater}, {{3, 10, 0}, wvUnknown}, {{0, 6, 1}, wvUnknown},
    };
    for (const auto& [version, expected] : table) {
        EXPECT_EQ(ClassifyWinVersion(version), expected)
            << version.platformId << " " << version.major << "." << version.minor;
    }
    EXPECT_EQ(ClassifyWinVersion(std::nullopt), wvUnknown);
}

TEST(WinVersion, OrdinalsAreFixed) {
    EXPECT_EQ(static_cast<int>(wvWin95), 0);
    EXPECT_EQ(static_cast<int>(wvWinXP), 5);
    EXPECT_EQ(static_cast<int>(wvWinLater), 8);
    EXPECT_EQ(static_cast<int>(wvUnknown), 9);
}

class WinVersionDetection : public SimulatedMachineTest {
protected:
    ~WinVersionDetection() override { WinVersion = wvUnknown; }
};

TEST_F(WinVersionDetection, AboveXpIsVistaSevenAndLater) {
    const std::pair<platform::OsVersion, bool> table[] = {
        {{2, 5, 1}, false}, {{2, 5, 2}, false}, {{2, 6, 0}, true},
        {{2, 6, 1}, true},  {{2, 10, 0}, true}, {{1, 4, 90}, false},
    };
    for (const auto& [version, above] : table) {
        sim.osVersion = version;
        DetectWinVersion();
        EXPECT_EQ(IsOS_AboveXP(), above) << version.major << "." << version.minor;
    }
    sim.osVersion.reset();
    DetectWinVersion();
    EXPECT_EQ(WinVersion, wvUnknown);
    EXPECT_FALSE(IsOS_AboveXP());
}

TEST_F(WinVersionDetection, TheClassIsComputedOnceAndCached) {
    sim.osVersion = platform::OsVersion{2, 5, 1};
    DetectWinVersion();
    sim.osVersion = platform::OsVersion{2, 10, 0};
    EXPECT_EQ(GetWinVersion(), wvWinXP);
    EXPECT_FALSE(IsOS_AboveXP());
}

} // namespace
