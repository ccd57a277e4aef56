#include "cell_order.hpp"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "openmp.hpp"

namespace tessary {

// A counting sort per digit, lowest first, over only the digits the largest
// key has. Each block of positions counts and moves its own on one thread;
// the blocks' counts, added in block order, keep the sort stable. Nothing in
// the parallel loops allocates.
std::vector<std::int32_t> radixOrder(std::vector<std::uint64_t>& keys) {
    constexpr int digitBits = 11;
    constexpr std::size_t buckets = std::size_t{1} << digitBits;
    const std::size_t n = keys.size();
    std::vector<std::int32_t> order(n);
    for (std::size_t k = 0; k < n; ++k) order[k] = static_cast<std::int32_t>(k);
    const std::uint64_t largest = n == 0 ? 0 : *std::max_element(keys.begin(), keys.end());
    const auto blocks = static_cast<std::int32_t>(std::max<std::size_t>(1, std::min<std::size_t>(maxThreads(), n / 4096)));
    const auto begin = [&](std::int32_t b) {
        return static_cast<std::size_t>(static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(b) / static_cast<std::uint64_t>(blocks));
    };
    std::vector<std::size_t> start(buckets * static_cast<std::size_t>(blocks));
    std::vector<std::uint64_t> nextKeys(n);
    std::vector<std::int32_t> nextOrder(n);
    for (int shift = 0; shift < 64 && (largest >> shift) != 0; shift += digitBits) {
        const std::uint64_t* from = keys.data();
        const std::int32_t* fromOrder = order.data();
        std::uint64_t* to = nextKeys.data();
        std::int32_t* toOrder = nextOrder.data();
        std::size_t* counts = start.data();
#pragma omp parallel for schedule(static)
        for (std::int32_t b = 0; b < blocks; ++b) {
            std::size_t* count = counts + buckets * static_cast<std::size_t>(b);
            std::fill(count, count + buckets, 0);
            for (std::size_t i = begin(b); i < begin(b + 1); ++i) ++count[(from[i] >> shift) & (buckets - 1)];
        }
        std::size_t sum = 0;
        for (std::size_t d = 0; d < buckets; ++d)
            for (std::int32_t b = 0; b < blocks; ++b) sum += std::exchange(start[buckets * static_cast<std::size_t>(b) + d], sum);
#pragma omp parallel for schedule(static)
        for (std::int32_t b = 0; b < blocks; ++b) {
            std::size_t* next = counts + buckets * static_cast<std::size_t>(b);
            for (std::size_t i = begin(b); i < begin(b + 1); ++i) {
                const std::size_t at = next[(from[i] >> shift) & (buckets - 1)]++;
                to[at] = from[i];
                toOrder[at] = fromOrder[i];
            }
        }
        keys.swap(nextKeys);
        order.swap(nextOrder);
    }
    return order;
}

}  // namespace tessary
