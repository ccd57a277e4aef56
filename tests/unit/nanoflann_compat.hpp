// What the tests need to know of the nanoflann installed, in one place.
// nanoflann is their oracle; the modules build their own tree. Releases
// differ in ways the tests meet:
// - 1.5.0 renamed SearchParams to SearchParameters, and the tree's members
//   vAcc, root_node and root_bbox to vAcc_, root_node_ and root_bbox_, and
//   the Eigen adaptor's index to index_;
// - 1.6.0 sorts every result set with an unstable sort, so that equal
//   distances no longer come in the order the search meets them;
// - 1.6.2 changed the split rule (boxes with equal sides split on another
//   axis), so that its tree is no longer 1.4's, which the modules build.
// NANOFLANN_VERSION is 0x143 for 1.4.3 and 0x010C01 for 1.12.1: one hex
// digit a part up to 1.9, two from then on.
#pragma once

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

}  // namespace nanoflann_compat
