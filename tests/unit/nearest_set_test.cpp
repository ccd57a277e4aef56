#include "nearest_set.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "wide_nearest_set.hpp"

#if TESSARY_WIDE_SET
// The same additions, with distances from a handful of values (ties
// everywhere), give the same entries in the same order at every capacity,
// the last vector's unused lanes included.
TEST(WideNearestSet, KeepsTheEntriesOfNearestSet) {
    if (!tessary::wideSetUsable()) GTEST_SKIP() << "no AVX2 here";
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> value(0, 6);
    for (std::int32_t capacity = 1; capacity <= tessary::WideNearestSet::most; ++capacity) {
        for (int trial = 0; trial < 50; ++trial) {
            const auto size = static_cast<std::size_t>(capacity);
            std::vector<double> plainDistances(size), plainNumbers(size), wideDistances(size), wideNumbers(size);
            tessary::NearestSet<0> plain(plainDistances.data(), plainNumbers.data(), capacity);
            tessary::WideNearestSet wide(wideDistances.data(), wideNumbers.data(), capacity);
            for (int i = 1; i <= 40; ++i) {
                const double distance = value(rng);
                ASSERT_EQ(plain.worst(), wide.worst());
                if (distance < plain.worst()) {
                    plain.add(distance, i);
                    wide.add(distance, i);
                }
            }
            wide.finish();
            ASSERT_EQ(plain.size(), wide.size());
            for (std::int32_t j = 0; j < plain.size(); ++j) {
                ASSERT_EQ(wideDistances[j], plainDistances[j]) << "capacity " << capacity << " slot " << j;
                ASSERT_EQ(wideNumbers[j], plainNumbers[j]) << "capacity " << capacity << " slot " << j;
            }
        }
    }
}
#endif
