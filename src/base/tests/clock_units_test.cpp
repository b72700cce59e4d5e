#include "base/clock_units.h"

#include <gtest/gtest.h>

#include <vector>

namespace wd {
namespace {

TEST(SleepSlices, AnyIntervalIsSleptInFullInSlicesOfADay) {
    const struct {
        std::uint64_t secs;
        std::vector<std::uint32_t> first_slices;
        std::uint64_t left_after;
    } cases[] = {
        {1, {1000}, 0},
        {86'400, {86'400'000}, 0},
        {86'401, {86'400'000, 1000}, 0},
        {UINT64_MAX, {86'400'000, 86'400'000, 86'400'000}, UINT64_MAX - 3ULL * 86'400},
        {UINT64_MAX / 1000 + 1, {86'400'000}, UINT64_MAX / 1000 + 1 - 86'400},
    };
    for (const auto& c : cases) {
        std::uint64_t remaining = c.secs;
        std::vector<std::uint32_t> slices;
        while (remaining > 0 && slices.size() < c.first_slices.size()) {
            slices.push_back(take_sleep_slice_ms(remaining));
        }
        EXPECT_EQ(slices, c.first_slices) << c.secs;
        EXPECT_EQ(remaining, c.left_after) << c.secs;
    }
}

}  // namespace
}  // namespace wd
