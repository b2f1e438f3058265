// The boundary's dispatch: a program must choose its table of operations.
#include "platform/operations_table.h"

#include <gtest/gtest.h>

#include "common/exit_codes.h"
#include "platform/inspection.h"
#include "platform/sim/simulator.h"

namespace {

TEST(Operations, AProgramThatChoseNoTableStopsAtItsFirstCallWithAMessage)
{
    EXPECT_EXIT(
        {
            platform::UseOperations(nullptr);
            (void)platform::GetLastError();
        },
        ::testing::ExitedWithCode(PLATFORM_UNCHOSEN),
        "a platform operation was called before the program chose its platform");
    // The operations only the programs around the tool call stop it as well.
    EXPECT_EXIT(
        {
            platform::UseOperations(nullptr);
            (void)platform::IsProcessElevated();
        },
        ::testing::ExitedWithCode(PLATFORM_UNCHOSEN), "before the program chose its platform");
    // Chosen, a call reaches the table's backend.
    platform::UseOperations(&simulator::PlatformOperations());
    simulator::SetLastError(42);
    EXPECT_EQ(platform::GetLastError(), 42u);
}

} // namespace
