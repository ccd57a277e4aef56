// Ordering records by the cell of a 3-D grid that each one's integer key
// (x, y, z) names, stably and on every core.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace tessary {

// The cell of every record (anything with key.x, .y and .z) as one number
// that orders as (x, y, z) does,
// when the cells span few enough values on each axis; false otherwise.
template <typename Records>
bool packCells(const Records& keyed, std::vector<std::uint64_t>& packed) {
    std::int64_t low[3], high[3];
    for (int d = 0; d < 3; ++d) low[d] = high[d] = (&keyed[0].key.x)[d];
    for (const auto& r : keyed)
        for (int d = 0; d < 3; ++d) {
            low[d] = std::min(low[d], (&r.key.x)[d]);
            high[d] = std::max(high[d], (&r.key.x)[d]);
        }
    // Spans fit in 63 bits: every key lies within 2^62 of zero.
    std::uint64_t span[3], total = 1;
    for (int d = 0; d < 3; ++d) {
        span[d] = static_cast<std::uint64_t>(high[d] - low[d]) + 1;
        if (span[d] > std::numeric_limits<std::uint64_t>::max() / total) return false;
        total *= span[d];
    }
    packed.resize(keyed.size());
    for (std::size_t k = 0; k < keyed.size(); ++k) {
        const auto& key = keyed[k].key;
        packed[k] = (static_cast<std::uint64_t>(key.x - low[0]) * span[1] + static_cast<std::uint64_t>(key.y - low[1])) *
                        span[2] +
                    static_cast<std::uint64_t>(key.z - low[2]);
    }
    return true;
}

// The positions 0 .. n-1 of `keys` ordered by key, equal keys by position.
// `keys` ends up sorted.
std::vector<std::int32_t> radixOrder(std::vector<std::uint64_t>& keys);

}  // namespace tessary
