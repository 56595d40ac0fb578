#include <gtest/gtest.h>

#include "SimulatedMachineTest.h"
#include "foundation/FunctionsUnit.h"

namespace {

using FunctionsTest = SimulatedMachineTest;

TEST_F(FunctionsTest, AppVersionIsTheFourHalvesOfTheFileVersion) {
    sim.fileVersions[sim.moduleFileName] = {0x00010002, 0x00030004};
    EXPECT_EQ(GetAppVersion(), "1.2.3.4");
    sim.fileVersions[sim.moduleFileName] = {0xFFFF0000, 0x0000FFFF};
    EXPECT_EQ(GetAppVersion(), "65535.0.0.65535");
}

TEST_F(FunctionsTest, AnExecutableWithoutVersionResourceHasAnEmptyVersion) {
    sim.fileVersions.clear();
    EXPECT_EQ(GetAppVersion(), "");
}

TEST_F(FunctionsTest, LastErrorTextIsTheTrimmedMessageAndTheCode) {
    sim.lastError = 5;
    EXPECT_EQ(GetLastErrorText(), "Access is denied\r\nError nr: 5");
    sim.systemMessages[87] = "The parameter is incorrect. . \r\n";
    sim.lastError = 87;
    EXPECT_EQ(GetLastErrorText(), "The parameter is incorrect\r\nError nr: 87");
}

TEST_F(FunctionsTest, ACodeWithoutMessageGivesTheBareCodeLine) {
    sim.lastError = 0xFFFFFFFF;
    EXPECT_EQ(GetLastErrorText(), "\r\nError nr: 4294967295");
}

TEST_F(FunctionsTest, EnablingAHeldPrivilegeSucceedsAndClosesTheToken) {
    sim.lastError = 0xFFFFFF;
    EXPECT_TRUE(SetTokenPrivilege("SeDebugPrivilege", true));
    EXPECT_TRUE(sim.enabledPrivileges.count("SeDebugPrivilege"));
    EXPECT_TRUE(SetTokenPrivilege("SeDebugPrivilege", false));
    EXPECT_FALSE(sim.enabledPrivileges.count("SeDebugPrivilege"));
    EXPECT_EQ(sim.openTokens, 0);
}

TEST_F(FunctionsTest, APrivilegeTheTokenLacksFailsAlthoughTheAdjustmentSucceeded) {
    sim.heldPrivileges.clear();
    EXPECT_FALSE(SetTokenPrivilege("SeDebugPrivilege", true));
    EXPECT_EQ(sim.lastError, 1300u);
    EXPECT_EQ(sim.openTokens, 0);
}

TEST_F(FunctionsTest, UnknownPrivilegeAndUnopenableTokenFail) {
    EXPECT_FALSE(SetTokenPrivilege("SeNoSuchPrivilege", true));
    EXPECT_EQ(sim.lastError, 1313u);
    EXPECT_EQ(sim.openTokens, 0);
    sim.openTokenError = 5;
    EXPECT_FALSE(SetTokenPrivilege("SeDebugPrivilege", true));
    EXPECT_EQ(sim.lastError, 5u);
}

TEST_F(FunctionsTest, OutsideTheNtFamilyThePrivilegeIsNotEvenTried) {
    sim.osVersion = platform::OsVersion{1, 4, 10};
    sim.lastError = 0;
    EXPECT_FALSE(SetTokenPrivilege("SeDebugPrivilege", true));
    EXPECT_FALSE(sim.enabledPrivileges.count("SeDebugPrivilege"));
}

} // namespace
