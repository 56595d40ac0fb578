#include <gtest/gtest.h>

#include "foundation/Assertions.h"
#include "foundation/LogUnit.h"

namespace {

TEST(Assertions, AnEmptyLogSourceIsAProgrammingErrorNamingTheUnit) {
    try {
        TLog log("");
        FAIL() << "no assertion";
    } catch (const EAssertionFailed& failure) {
        const std::string message = failure.what();
        EXPECT_EQ(message.rfind("aServiceName mag niet leeg zijn. (LogUnit.cpp, line ", 0), 0u)
            << message;
        EXPECT_EQ(message.back(), ')');
    }
}

TEST(Assertions, AHeldConditionRaisesNothing) {
    EXPECT_NO_THROW(Assert(true, "never shown"));
    EXPECT_THROW(Assert(false, "aSource not assigned"), EAssertionFailed);
}

} // namespace
