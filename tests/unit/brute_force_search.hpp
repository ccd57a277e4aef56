// The searches of an index against brute force over every point: the
// K-nearest search under both tie rules and the radius search, each query
// checked to the bit. Shared by the unit tests and the fuzz target, which
// feed it clouds at every scale.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "knn_search.hpp"
#include "point_index.hpp"
#include "range_search.hpp"
#include "squared_distance.hpp"
#include "squared_limit.hpp"

namespace reference {

class BruteForceSearch {
public:
    // `points` and `queries`: 3 x n and 3 x m, column-major.
    BruteForceSearch(std::vector<double> points, std::vector<double> queries)
        : points_(std::move(points)), queries_(std::move(queries)), n_(static_cast<std::int32_t>(points_.size() / 3)),
          m_(static_cast<std::int32_t>(queries_.size() / 3)), index_(points_.data(), n_) {}

    // The first difference from brute force, or "" when there is none.
    std::string knnAsMet(std::int32_t k) const {
        std::vector<double> numbers(static_cast<std::size_t>(k) * m_), squared(numbers.size());
        tessary::knnSearch(index_, queries_.data(), m_, k, numbers.data(), squared.data());
        for (std::int32_t i = 0; i < m_; ++i) {
            const std::vector<double> all = distancesOf(i);
            const std::vector<std::int32_t> order = found(all);
            const std::int32_t filled = std::min<std::int32_t>(k, static_cast<std::int32_t>(order.size()));
            const double* num = &numbers[static_cast<std::size_t>(k) * i];
            const double* d2 = &squared[static_cast<std::size_t>(k) * i];
            std::vector<double> chosen(num, num + filled);
            std::sort(chosen.begin(), chosen.end());
            if (std::adjacent_find(chosen.begin(), chosen.end()) != chosen.end()) return at("knnsearch", k, i, 0, "a point twice");
            for (std::int32_t j = 0; j < k; ++j) {
                if (j >= filled) {
                    if (num[j] != 0.0 || d2[j] != std::numeric_limits<double>::infinity()) return at("knnsearch", k, i, j, "filled");
                    continue;
                }
                // Among equal distances the tree decides the order, and which
                // make the cut at the k-th place.
                const auto p = static_cast<std::int32_t>(num[j]) - 1;
                if (!same(d2[j], all[order[j]]) || p < 0 || p >= n_ || !same(all[p], d2[j]))
                    return at("knnsearch", k, i, j, "distance or number");
            }
        }
        return "";
    }

    // The users' layer's search: equal distances by row.
    std::string knnByRow(std::int32_t k) const {
        if (k > n_) return "";
        std::vector<double> rows(static_cast<std::size_t>(k) * m_), distances(rows.size()), transposed(queries_.size());
        for (std::int32_t i = 0; i < m_; ++i)
            for (int d = 0; d < 3; ++d) transposed[i + static_cast<std::size_t>(d) * m_] = queries_[3 * static_cast<std::size_t>(i) + d];
        tessary::knnRows(index_, {transposed.data(), m_}, k, {nullptr}, rows.data(), distances.data(), nullptr);
        for (std::int32_t i = 0; i < m_; ++i) {
            const std::vector<double> all = distancesOf(i);
            const std::vector<std::int32_t> order = found(all);
            const bool lost = static_cast<std::int32_t>(order.size()) < k;
            for (std::int32_t j = 0; j < k; ++j) {
                const double row = rows[i + static_cast<std::size_t>(j) * m_], distance = distances[i + static_cast<std::size_t>(j) * m_];
                const double expected = lost ? j + 1.0 : order[j] + 1.0;
                if (row != expected || (!lost && !same(distance, std::sqrt(all[order[j]]))))
                    return at("knnrows", k, i, j, lost ? "a lost query" : "row or distance");
            }
        }
        return "";
    }

    // The radius search, sorted: every point within r, by distance, then by
    // row among equal distances.
    std::string range(double r) const {
        const double limit = tessary::squaredLimit(r);
        std::vector<double> transposed(queries_.size());
        for (std::int32_t i = 0; i < m_; ++i)
            for (int d = 0; d < 3; ++d) transposed[i + static_cast<std::size_t>(d) * m_] = queries_[3 * static_cast<std::size_t>(i) + d];
        const tessary::QueryRows rows{transposed.data(), m_};
        const tessary::SquaredRadii radii{nullptr, limit};
        // In blocks, as the module takes them.
        tessary::RangeSearch search(index_, rows, radii, true, {nullptr});
        std::vector<std::int64_t> counts(static_cast<std::size_t>(m_));
        std::vector<std::vector<double>> numbers(m_), distances(m_);
        std::vector<double*> numberPointers(m_), distancePointers(m_);
        for (std::int32_t first = 0; first < m_;) {
            const std::int32_t last = search.nextBlockEnd(first);
            search.search(first, last, counts.data());
            for (std::int32_t i = first; i < last; ++i) {
                numbers[i].assign(static_cast<std::size_t>(counts[i]), 0.0);
                distances[i].assign(static_cast<std::size_t>(counts[i]), 0.0);
                numberPointers[i] = numbers[i].data();
                distancePointers[i] = distances[i].data();
            }
            search.write(first, last, counts.data(), numberPointers.data(), distancePointers.data());
            first = last;
        }
        for (std::int32_t i = 0; i < m_; ++i) {
            const std::vector<double> all = distancesOf(i);
            std::vector<std::int32_t> within;
            for (std::int32_t p = 0; p < n_; ++p)
                if (std::sqrt(all[p]) <= r) within.push_back(p);
            std::stable_sort(within.begin(), within.end(), [&](std::int32_t a, std::int32_t b) { return all[a] < all[b]; });
            if (static_cast<std::int64_t>(within.size()) != counts[i]) return at("range count", 0, i, 0, "count");
            for (std::size_t j = 0; j < within.size(); ++j)
                if (numbers[i][j] != within[j] + 1.0 || !same(distances[i][j], std::sqrt(all[within[j]])))
                    return at("range", 0, i, static_cast<std::int32_t>(j), "row or distance");
        }
        return "";
    }

private:
    std::vector<double> distancesOf(std::int32_t i) const {
        const double* q = &queries_[3 * static_cast<std::size_t>(i)];
        std::vector<double> all(static_cast<std::size_t>(n_));
        for (std::int32_t p = 0; p < n_; ++p) {
            const double* x = &points_[3 * static_cast<std::size_t>(p)];
            all[p] = tessary::squaredDistance(q, x[0], x[1], x[2]);
        }
        return all;
    }

    // The points a K-nearest search can report (below the largest double,
    // where its result sets start), nearest first, equal distances by row.
    static std::vector<std::int32_t> found(const std::vector<double>& all) {
        std::vector<std::int32_t> order;
        for (std::int32_t p = 0; p < static_cast<std::int32_t>(all.size()); ++p)
            if (all[p] < std::numeric_limits<double>::max()) order.push_back(p);
        std::stable_sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) { return all[a] < all[b]; });
        return order;
    }

    static bool same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

    std::string at(const char* search, std::int32_t k, std::int32_t query, std::int32_t slot, const char* what) const {
        std::ostringstream out;
        out.precision(17);
        const double* q = &queries_[3 * static_cast<std::size_t>(query)];
        out << search << " k " << k << " query " << query << " (" << q[0] << ", " << q[1] << ", " << q[2] << ") slot "
            << slot << " of " << n_ << " points: " << what;
        return out.str();
    }

    std::vector<double> points_, queries_;
    std::int32_t n_, m_;
    tessary::PointIndex index_;
};

}  // namespace reference
