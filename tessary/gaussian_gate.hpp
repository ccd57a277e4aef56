// Gating of query points against their candidate Gaussians: for each point
// the candidates are tried in row order until one passes a gate.
#pragma once

#include <cstdint>
#include <vector>

#include "density_clusterer.hpp"
#include "gaussian_kernel.hpp"
#include "prefetch.hpp"

namespace tessary {

struct GaussianSet {
    const double* means;        // 3 x count (count x 3 in rows)
    const double* covariances;  // 9 x count
    std::int32_t count;
};

// How the arrays are laid out: the command's columns, or the users'
// layer's rows, where points are pointCount x 3, means count x 3 and ids
// pointCount x candidates (candidates <= 3; the rows beyond are "none").
struct GateLayout {
    bool rows = false;
    int candidates = 3;
};

struct GateQuery {
    const double* points;  // 3 x pointCount
    const double* ids;     // 3 x (at least pointCount): 1-based Gaussian numbers, 0 for none
    std::int32_t pointCount;
    GaussianSet gaussians;
    GateLayout layout = {};
};

constexpr int candidatesPerPoint = 3;

// Entries of ids against a set of `count` Gaussians. An entry's candidate
// number is the entry minus 1, truncated toward zero: a Gaussian, or -1 for
// "no candidate" (-1 < entry <= 0); anything else is invalid.
class CandidateReader {
public:
    explicit CandidateReader(std::int32_t count) : end_(count > 0 ? count + 1.0 : 0.0) {}

    // True where the entry lies in (0, count + 1), which is where the
    // number can be a Gaussian; `g` then gets it (-1 still, for an entry so
    // small that subtracting 1 rounds to -1). Two comparisons and a
    // conversion: the test of every pass that reads ids.
    bool gaussian(double entry, std::int32_t& g) const {
        if (!(entry > 0.0 && entry < end_)) return false;
        g = static_cast<std::int32_t>(entry - 1.0);
        return true;
    }

    // Whether the entry is valid, with its number in `g`.
    bool valid(double entry, std::int32_t& g) const {
        if (gaussian(entry, g)) return true;
        g = -1;
        return entry > -1.0 && entry <= 0.0;
    }

private:
    double end_;
};

// The regularised inverse and float mean of every Gaussian that a valid
// entry of ids names, computed once and in parallel. Construct on the
// calling thread.
class GaussianCache {
public:
    explicit GaussianCache(const GateQuery& query);
    const Matrix3& inverse(std::int32_t g) const { return entries_[g].inverse; }
    const Vector3& mean(std::int32_t g) const { return entries_[g].mean; }
    // Asks the processor to fetch a Gaussian that will be needed soon.
    void prefetch(std::int32_t g) const { tessary::prefetch(&entries_[g]); }

private:
    // Both halves in one cache line: a candidate costs one memory access.
    struct alignas(64) Entry {
        Matrix3 inverse;
        Vector3 mean;
    };
    std::vector<Entry> entries_;
};

// The quadratic forms whose distance (their square root rounded to float,
// widened to double) lies strictly below a threshold. The rounded square
// root grows with the form, so they are the forms from 0 up to a largest
// one; testing against it spares the square root and gives the same answer
// for every float, NaN and the infinities included.
class GateLimit {
public:
    explicit GateLimit(double threshold);
    bool passes(float q) const { return q >= 0.0f && q <= largest_; }

private:
    float largest_;  // -1 when no form passes
};

// Both gates check each entry of ids in the same pass that reads it for
// gating, and return the index into ids of the first entry, in column order
// within the first pointCount columns, whose candidate number is invalid;
// -1 when all are valid. After an invalid one the masks are not all written.

// in[i] = 1 where some candidate of point i is below mahal.
std::int64_t gateStrict(const GateQuery& query, const GaussianCache& cache, double mahal, std::uint8_t* in);

// The first candidate that passes either gate decides: in[i] = 1 if it
// passes mahal, inUpper[i] = 1 if it passes either. inUpper may be null.
std::int64_t gateTwoLevel(const GateQuery& query, const GaussianCache& cache, double mahal, double mahalUpper,
                          std::uint8_t* in, std::uint8_t* inUpper);

// One record per point whose in is 0, in increasing column order (row
// order where `rows`: points pointCount x 3).
std::vector<ClusterPoint> rejectedPoints(const double* points, std::int32_t pointCount, const std::uint8_t* in,
                                         bool rows = false);

}  // namespace tessary
