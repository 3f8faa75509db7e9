#include "Support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

// Zero-allocation proofs elsewhere are only worth something if the counter sees allocations.
TEST(AllocationCounter, SeesAllocationsOfItsOwnThreadOnly)
{
    kelvtest::CCountAllocations counter;
    auto p = std::make_unique<int>(1);
    std::vector<double> v(100);
    EXPECT_EQ(counter.count(), 2u);
}
