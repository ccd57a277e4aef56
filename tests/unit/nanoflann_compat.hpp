// What the tests need to know of the nanoflann installed, in one place.
// nanoflann is their oracle; the modules build their own tree. Releases
// differ in ways the tests meet:
// - 1.5.0 renamed SearchParams to SearchParameters, and the tree's members
//   vAcc, root_node and root_bbox to vAcc_, root_node_ and root_bbox_, and
//   the Eigen adaptor's index to index_;
// - 1.6.0 sorts every result set with an unstable sort, so that equal
//   distances no longer come in the order the search meets them;
// - 1.6.2 changed the split rule (boxes with equal sides split on another
//   axis), so that its tree is no longer 1.4's, which the modules build;
// - by 1.12 its L2 metric adds a point's squares last axis first, so that
//   its distances round otherwise: the oracle takes metric_L2_in_order.
// NANOFLANN_VERSION is 0x143 for 1.4.3 and 0x010C01 for 1.12.1: one hex
// digit a part up to 1.9, two from then on.
#pragma once

#include <cstddef>
#include <cstdint>

#include <nanoflann.hpp>

namespace nanoflann_compat {

constexpr long versionOf(long macro) {
    return macro <= 0xFFF ? (macro >> 8) * 10000 + ((macro >> 4) & 0xF) * 100 + (macro & 0xF)
                          : (macro >> 16) * 10000 + ((macro >> 8) & 0xFF) * 100 + (macro & 0xFF);
}
constexpr long version = versionOf(NANOFLANN_VERSION);  // 1.12.1: 11201

// The search's own order among equal distances, and 1.4's tree.
constexpr bool keepsTiesAsMet = version < 10600;
constexpr bool builds14Tree = version < 10602;

#if NANOFLANN_VERSION <= 0xFFF && NANOFLANN_VERSION < 0x150
using SearchParameters = nanoflann::SearchParams;
template <class Adaptor>
const auto& indexOf(const Adaptor& adaptor) { return *adaptor.index; }
template <class Index>
const auto& leafOrder(const Index& index) { return index.vAcc; }
template <class Index>
const auto* rootNode(const Index& index) { return index.root_node; }
template <class Index>
const auto& rootBox(const Index& index) { return index.root_bbox; }
#else
using SearchParameters = nanoflann::SearchParameters;
template <class Adaptor>
const auto& indexOf(const Adaptor& adaptor) { return *adaptor.index_; }
template <class Index>
const auto& leafOrder(const Index& index) { return index.vAcc_; }
template <class Index>
const auto* rootNode(const Index& index) { return index.root_node_; }
template <class Index>
const auto& rootBox(const Index& index) { return index.root_bbox_; }
#endif

// nanoflann's squared Euclidean metric with the squares added in axis
// order, ((dx^2 + dy^2) + dz^2), as the modules add them.
template <class T, class DataSource, typename IndexType>
struct L2InOrder {
    using ElementType = T;
    using DistanceType = T;
    const DataSource& data_source;

    explicit L2InOrder(const DataSource& source) : data_source(source) {}

    // Releases from 1.5 on pass a worst distance as well.
    template <class... Worst>
    DistanceType evalMetric(const T* a, IndexType b, std::size_t size, Worst...) const {
        DistanceType result = DistanceType();
        for (std::size_t d = 0; d < size; ++d) {
            const DistanceType diff = a[d] - data_source.kdtree_get_pt(b, d);
            result += diff * diff;
        }
        return result;
    }

    template <class U, class V>
    DistanceType accum_dist(const U a, const V b, std::size_t) const {
        return (a - b) * (a - b);
    }
};

struct metric_L2_in_order {
    template <class T, class DataSource, typename IndexType = std::uint32_t>
    struct traits {
        using distance_t = L2InOrder<T, DataSource, IndexType>;
    };
};

}  // namespace nanoflann_compat
