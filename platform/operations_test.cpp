// The boundary's dispatch: a program must choose its table of operations.
#include "platform/operations_table.h"

#include <gtest/gtest.h>

#include "platform/sim/simulator.h"

namespace {

TEST(Operations, AProgramThatChoseNoTableStopsAtItsFirstCallWithAMessage)
{
    EXPECT_EXIT(
        {
            platform::UseOperations(nullptr);
            (void)platform::GetLastError();
        },
        ::testing::ExitedWithCode(70), "a platform operation was called before the program chose its platform");
    // Chosen, a call reaches the table's backend.
    platform::UseOperations(&simulator::PlatformOperations());
    simulator::SetLastError(42);
    EXPECT_EQ(platform::GetLastError(), 42u);
}

} // namespace
