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
    const double* means;        // 3 x count
    const double* covariances;  // 9 x count
    std::int32_t count;
};

struct GateQuery {
    const double* points;  // 3 x pointCount
    const double* ids;     // 3 x (at least pointCount): 1-based Gaussian numbers, 0 for none
    std::int32_t pointCount;
    GaussianSet gaussians;
};

constexpr int candidatesPerPoint = 3;

// The 0-based Gaussian of an entry of ids: the entry minus 1, truncated
// toward zero. -1 (entry 0) means "no candidate".
std::int32_t candidateNumber(double entry);

// Index into ids of the first entry, among the first pointCount columns,
// whose candidate number is neither -1 nor a Gaussian (NaN included); -1
// when every entry is valid.
std::int64_t findInvalidCandidate(const GateQuery& query);

// The regularised inverse and float mean of every Gaussian that ids names,
// computed once and in parallel. Construct on the calling thread.
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

// in[i] = 1 where some candidate of point i is below mahal.
void gateStrict(const GateQuery& query, const GaussianCache& cache, double mahal, std::uint8_t* in);

// The first candidate that passes either gate decides: in[i] = 1 if it
// passes mahal, inUpper[i] = 1 if it passes either. inUpper may be null.
void gateTwoLevel(const GateQuery& query, const GaussianCache& cache, double mahal, double mahalUpper,
                  std::uint8_t* in, std::uint8_t* inUpper);

// One record per point whose in is 0, in increasing column order.
std::vector<ClusterPoint> rejectedPoints(const double* points, std::int32_t pointCount, const std::uint8_t* in);

}  // namespace tessary
