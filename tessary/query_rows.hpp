// The users' layer's layout: query points as the rows of a matrix, and
// results that name rows of the caller's cloud.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessary {

// Queries as the rows of an m x 3 column-major matrix.
struct QueryRows {
    const double* data;
    std::int32_t count;
    void load(std::int32_t i, double* q) const {
        const std::size_t m = static_cast<std::size_t>(count);
        q[0] = data[i];
        q[1] = data[i + m];
        q[2] = data[i + 2 * m];
    }
};

// The row of the caller's cloud that each point number names: rows[n - 1],
// or n itself when rows is null (every row indexed).
struct RowMap {
    const double* rows;
    double of(double number) const { return rows == nullptr ? number : rows[static_cast<std::size_t>(number) - 1]; }
};

}  // namespace tessary
