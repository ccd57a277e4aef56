// The tessary module as the host sees it: reads and checks the arguments,
// calls the numerical core, writes the outputs.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "arguments.hpp"
#include "density_clusterer.hpp"
#include "density_clusters.hpp"
#include "error_report.hpp"
#include "gaussian_gate.hpp"
#include "knn_search.hpp"
#include "mex_host.hpp"
#include "module.hpp"
#include "point_index.hpp"
#include "range_search.hpp"
#include "scan_registration.hpp"
#include "squared_limit.hpp"
#include "voxel_gaussians.hpp"
#include "worker_threads.hpp"

namespace tessary {
namespace {

using common::ErrorCode;
using common::MatrixArg;
using common::OutputClass;
using common::raiseError;

// Display names by argument position.
constexpr const char* initNames[] = {"cmd", "pts"};
constexpr const char* knnNames[] = {"cmd", "hnd", "subcmd", "points", "K"};
constexpr const char* gateNames[] = {"cmd", "hnd", "subcmd", "points", "ids", "means", "covs", "mahal", "mahalUpper"};
constexpr const char* voxelNames[] = {"cmd", "hnd", "subcmd", "X", "voxelSize", "MinPoints"};
constexpr const char* densityNames[] = {"cmd", "hnd", "subcmd", "X", "epsilon", "minpts"};
constexpr const char* rowSearchNames[] = {"cmd", "hnd", "subcmd", "Y", "K", "rows", "IncludeTies"};
constexpr const char* gateRowNames[] = {"cmd", "hnd", "subcmd", "points", "ids", "means", "covs", "mahal", "mahalUpper"};
constexpr const char* rangeNames[] = {"cmd", "hnd", "subcmd", "Y", "r", "rows", "SortIndices"};
constexpr const char* registerNames[] = {
    "cmd", "hnd", "subcmd", "scan", "means", "covs", "T0", "MaxIterations", "translationTolerance",
    "rotationTolerance", "OutlierRatio", "voxelSize", "EigenvalueFloor"};

constexpr auto int32Max = std::numeric_limits<std::int32_t>::max();

void* createObject(int nrhs, const mxArray* prhs[]) {
    if (nrhs != 2) raiseError(ErrorCode::inputCount, 2, nrhs);
    const MatrixArg pts(prhs[1], initNames[1]);
    pts.requireRows(3);
    // The tree returns wrong neighbours for finite queries once a coordinate is not finite.
    pts.requireFinite();
    auto index = std::make_unique<PointIndex>(pts.data, pts.cols);
    mexPrintf("kd size init: %i", index->pointCount());
    mexEvalString("pause(.001);");
    return index.release();
}

void destroyObject(void* object) { delete static_cast<PointIndex*>(object); }

std::int32_t readNeighbourCount(const mxArray* array) {
    const double k = common::readScalar(array, knnNames[4]);
    if (!(k >= 0.0 && k < static_cast<double>(int32Max) + 1.0)) raiseError(ErrorCode::outOfRange, knnNames[4], int32Max);
    return static_cast<std::int32_t>(k);
}

mxArray* newResultMatrix(std::int32_t rows, std::int32_t cols) {
    return common::createOutputMatrix(OutputClass::real, rows, cols);
}

void runKnnsearch(void* object, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs != 5) raiseError(ErrorCode::inputCount, 5, nrhs);
    const MatrixArg points(prhs[3], knnNames[3]);
    points.requireRows(3);
    const std::int32_t k = readNeighbourCount(prhs[4]);
    if (nlhs != 2) raiseError(ErrorCode::outputCount, 2, nlhs);
    mxArray* numbers = newResultMatrix(k, points.cols);
    mxArray* distances = newResultMatrix(k, points.cols);
    knnSearch(*static_cast<const PointIndex*>(object), points.data, points.cols, k, mxGetPr(numbers),
              mxGetPr(distances));
    plhs[0] = numbers;
    plhs[1] = distances;
}

// The inputs shared by "kd" and "kd2", checked in argument order, then the
// limits the gating loop relies on.
GateQuery readGateQuery(int nrhs, int required, const mxArray* prhs[]) {
    if (nrhs != required) raiseError(ErrorCode::inputCount, required, nrhs);
    const MatrixArg points(prhs[3], gateNames[3]);
    points.requireRows(3);
    const MatrixArg ids(prhs[4], gateNames[4]);
    ids.requireRows(3);
    const MatrixArg means(prhs[5], gateNames[5]);
    means.requireRows(3);
    const MatrixArg covs(prhs[6], gateNames[6]);
    covs.requireRows(9);
    ids.requireMinColumns(points.cols);
    if (covs.cols != means.cols) raiseError(ErrorCode::columnMismatch, covs.name, means.name, means.cols, covs.cols);
    return {points.data, ids.data, points.cols, {means.data, covs.data, means.cols}};
}

// `bad`: what the gate found, the index into ids of the first invalid
// entry or -1. Raised once the gate's scratch memory is released; the masks
// made for the outputs are the host's to free.
void requireValidCandidates(const GateQuery& query, std::int64_t bad) {
    if (bad >= 0)
        raiseError(ErrorCode::badCandidate, gateNames[4], static_cast<int>(bad % candidatesPerPoint) + 1,
                   static_cast<int>(bad / candidatesPerPoint) + 1, query.gaussians.count);
}

void requireAtMostOutputs(int allowed, int nlhs) {
    if (nlhs > allowed) raiseError(ErrorCode::outputCount, allowed, nlhs);
}

struct GateArguments {
    GateQuery query;
    double mahal, mahalUpper;
};

// The arguments of "kd" (withUpper: mahalUpper too) or "kd2" in argument
// order, then the outputs asked for; the gate checks the candidates.
GateArguments readGateArguments(bool withUpper, int nlhs, int nrhs, const mxArray* prhs[]) {
    GateArguments a{readGateQuery(nrhs, withUpper ? 9 : 8, prhs), common::readScalar(prhs[7], gateNames[7]), 0.0};
    if (withUpper) a.mahalUpper = common::readScalar(prhs[8], gateNames[8]);
    requireAtMostOutputs(withUpper ? 3 : 1, nlhs);
    return a;
}

mxArray* newMask(std::int32_t count) { return common::createOutputMatrix(OutputClass::logical, 1, count); }

std::uint8_t* maskOf(mxArray* logical) { return reinterpret_cast<std::uint8_t*>(mxGetLogicals(logical)); }

// A mask of one entry per point: 1 x N for the command's layout, N x 1 for
// the users' layer's.
mxArray* newPointMask(const GateQuery& query) {
    return query.layout.rows ? common::createOutputMatrix(OutputClass::logical, query.pointCount, 1)
                             : newMask(query.pointCount);
}

// The two-level gate into plhs[0] (in) and, where asked for, plhs[1]
// (inUpper). MATLAB ends the call at once, skipping every destructor, when
// it cannot make an array: each output is made while the call holds no
// scratch memory.
void gateInto(const GateArguments& a, int nlhs, mxArray* plhs[]) {
    mxArray* in = newPointMask(a.query);
    mxArray* inUpper = nlhs >= 2 ? newPointMask(a.query) : nullptr;
    std::int64_t bad;
    {
        const GaussianCache cache(a.query);
        bad = gateTwoLevel(a.query, cache, a.mahal, a.mahalUpper, maskOf(in),
                           inUpper != nullptr ? maskOf(inUpper) : nullptr);
    }
    requireValidCandidates(a.query, bad);
    plhs[0] = in;
    if (inUpper != nullptr) plhs[1] = inUpper;
}

// The strict gate into plhs[0].
void gateStrictInto(const GateArguments& a, mxArray* plhs[]) {
    mxArray* in = newPointMask(a.query);
    std::int64_t bad;
    {
        const GaussianCache cache(a.query);
        bad = gateStrict(a.query, cache, a.mahal, maskOf(in));
    }
    requireValidCandidates(a.query, bad);
    plhs[0] = in;
}

void runKd(void*, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    const GateArguments a = readGateArguments(true, nlhs, nrhs, prhs);
    const GateQuery& query = a.query;
    gateInto(a, nlhs, plhs);
    if (nlhs < 3) return;

    const std::uint8_t* accepted = maskOf(plhs[0]);
    const auto rejected = static_cast<std::int32_t>(std::count(accepted, accepted + query.pointCount, 0));
    mxArray* labels = newResultMatrix(1, rejected);
    DensityClusterer clusterer(rejectedPoints(query.points, query.pointCount, accepted));
    clusterer.run();
    const auto& records = clusterer.pointList();
    double* out = mxGetPr(labels);
    for (std::size_t k = 0; k < records.size(); ++k) out[k] = static_cast<double>(records[k].clusterId);
    plhs[2] = labels;
}

void runKd2(void*, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    gateStrictInto(readGateArguments(false, nlhs, nrhs, prhs), plhs);
}

// An M x 3 matrix of points, one per row.
MatrixArg readRows(const mxArray* array, const char* name) {
    const MatrixArg rows(array, name);
    rows.requireColumns(3);
    return rows;
}

void runVoxelGaussians(void*, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs != 6) raiseError(ErrorCode::inputCount, 6, nrhs);
    const MatrixArg x = readRows(prhs[3], voxelNames[3]);
    const double voxelSize = common::readPositive(prhs[4], voxelNames[4]);
    const std::int32_t minPoints = common::readCount(prhs[5], voxelNames[5]);
    if (nlhs != 3) raiseError(ErrorCode::outputCount, 3, nlhs);
    // The outputs are made once the grid is released, holding only the
    // voxels' results, as large as the outputs themselves.
    const VoxelMap map = voxelGaussians(x.data, x.rows, voxelSize, minPoints);
    if (!map.keysInRange) raiseError(ErrorCode::keyOutOfRange, voxelNames[3], voxelNames[4], "+-2^62");
    const auto count = static_cast<std::int32_t>(map.counts.size());
    mxArray* means = newResultMatrix(count, 3);
    mxArray* covs = newResultMatrix(9, count);
    mxArray* counts = newResultMatrix(count, 1);
    std::copy(map.means.begin(), map.means.end(), mxGetPr(means));
    std::copy(map.covs.begin(), map.covs.end(), mxGetPr(covs));
    std::copy(map.counts.begin(), map.counts.end(), mxGetPr(counts));
    plhs[0] = means;
    plhs[1] = covs;
    plhs[2] = counts;
}

void runDensityClusters(void*, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs != 6) raiseError(ErrorCode::inputCount, 6, nrhs);
    const MatrixArg x = readRows(prhs[3], densityNames[3]);
    const double epsilon = common::readPositive(prhs[4], densityNames[4]);
    if (!densityEpsilonFits(epsilon)) raiseError(ErrorCode::outsideRange, densityNames[4], "1e-150", "1e150");
    const std::int32_t minPts = common::readCount(prhs[5], densityNames[5]);
    requireAtMostOutputs(2, nlhs);
    if (!densityClustersFit(x.data, x.rows, epsilon))
        raiseError(ErrorCode::keyOutOfRange, densityNames[3], densityNames[4], "+-2^38");
    mxArray* idx = newResultMatrix(x.rows, 1);
    mxArray* core = common::createOutputMatrix(OutputClass::logical, x.rows, 1);
    densityClusters(x.data, x.rows, epsilon, static_cast<std::uint32_t>(minPts), mxGetPr(idx), maskOf(core));
    plhs[0] = idx;
    if (nlhs >= 2) plhs[1] = core;
}

// The rows of the caller's cloud that the index's point numbers name:
// empty when every row is indexed.
RowMap readRowMap(const PointIndex& index, const mxArray* array, const char* name) {
    const MatrixArg rows(array, name);
    const std::int64_t count = static_cast<std::int64_t>(rows.rows) * rows.cols;
    if (count != 0 && count != index.pointCount())
        raiseError(ErrorCode::lengthMismatch, name, index.pointCount(), static_cast<int>(count));
    return {count == 0 ? nullptr : rows.data};
}

bool readSwitch(const mxArray* array, const char* name) { return common::readScalar(array, name) != 0.0; }

// No query whose search is mended.
struct NoneLost {
    void recount(std::int32_t, std::int32_t, std::int64_t*) const {}
    void mend(std::int32_t, std::int32_t, double* const*, double* const*) const {}
};

// The blocks createRowCellPair makes IDX and D of: the search's counts
// and rows, then `lost`'s for the queries it mends.
template <class Lost>
struct RowBlocks {
    RangeSearch& search;
    const Lost& lost;

    std::int32_t nextBlockEnd(std::int32_t first) const { return search.nextBlockEnd(first); }
    void count(std::int32_t first, std::int32_t last, std::int64_t* counts) {
        search.search(first, last, counts);
        lost.recount(first, last, counts);
    }
    void fill(std::int32_t first, std::int32_t last, const std::int64_t* counts, double* const* rows,
              double* const* distances) {
        search.write(first, last, counts, rows, distances);
        lost.mend(first, last, rows, distances);
    }
};

// IDX and D: m x 1 cells of each query's points within its radius.
template <class Lost>
void outputRowCells(RangeSearch search, std::int32_t m, const Lost& lost, int nlhs, mxArray* plhs[]) {
    RowBlocks<Lost> blocks{search, lost};
    mxArray* cells[2];
    common::createRowCellPair(m, blocks, cells);
    plhs[0] = cells[0];
    if (nlhs >= 2) plhs[1] = cells[1];
}

// With IncludeTies, the queries whose k nearest were not all found (a NaN
// coordinate, or distances that overflow): they keep the rows knnRows gives
// them, and their distance (NaN or Inf) in every slot.
struct LostQueries {
    const std::vector<double>& kth;
    std::vector<double> distance;
    std::int64_t k;

    void recount(std::int32_t first, std::int32_t last, std::int64_t* counts) const {
        for (std::int32_t i = first; i < last; ++i)
            if (std::isnan(kth[i])) counts[i] = k;
    }
    void mend(std::int32_t first, std::int32_t last, double* const* rows, double* const* distances) const {
        for (std::int32_t i = first; i < last; ++i) {
            if (!std::isnan(kth[i])) continue;
            for (std::int64_t j = 0; j < k; ++j) {
                rows[i][j] = static_cast<double>(j + 1);
                distances[i][j] = distance[i];
            }
        }
    }
};

// With IncludeTies: m x 1 cells holding every point at most the k-th
// distance away. Each query's ties lie within its k-th squared distance.
void knnTieCells(const PointIndex& index, const QueryRows& queries, std::int32_t k, const RowMap& map, int nlhs,
                 mxArray* plhs[]) {
    const std::size_t m = static_cast<std::size_t>(queries.count), width = static_cast<std::size_t>(k);
    std::vector<double> kth(m);
    LostQueries lost{kth, std::vector<double>(m), k};
    {
        std::vector<double> rows(m * width), distances(m * width);
        knnRows(index, queries, k, map, rows.data(), distances.data(), kth.data());
        std::copy(distances.begin(), distances.begin() + static_cast<std::ptrdiff_t>(m), lost.distance.begin());
    }
    outputRowCells(RangeSearch(index, queries, {kth.data(), 0.0}, true, map), queries.count, lost, nlhs, plhs);
}

// [IDX, D] = knnsearch of the users' layer: queries and results as rows,
// ties by row, distances Euclidean.
void runKnnRows(void* object, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs != 7) raiseError(ErrorCode::inputCount, 7, nrhs);
    const auto& index = *static_cast<const PointIndex*>(object);
    const MatrixArg y = readRows(prhs[3], rowSearchNames[3]);
    const std::int32_t k = std::min(common::readCount(prhs[4], rowSearchNames[4]), index.pointCount());
    const RowMap map = readRowMap(index, prhs[5], rowSearchNames[5]);
    const bool includeTies = readSwitch(prhs[6], rowSearchNames[6]);
    requireAtMostOutputs(2, nlhs);
    const QueryRows queries{y.data, y.rows};
    if (includeTies) return knnTieCells(index, queries, k, map, nlhs, plhs);
    mxArray* rows = newResultMatrix(y.rows, k);
    mxArray* distances = newResultMatrix(y.rows, k);
    knnRows(index, queries, k, map, mxGetPr(rows), mxGetPr(distances), nullptr);
    plhs[0] = rows;
    if (nlhs >= 2) plhs[1] = distances;
}

// [IDX, D] = rangesearch of the users' layer: m x 1 cells of 1 x n rows.
void runRangeRows(void* object, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs != 7) raiseError(ErrorCode::inputCount, 7, nrhs);
    const auto& index = *static_cast<const PointIndex*>(object);
    const MatrixArg y = readRows(prhs[3], rangeNames[3]);
    const double r = common::readNonNegative(prhs[4], rangeNames[4]);
    const RowMap map = readRowMap(index, prhs[5], rangeNames[5]);
    const bool sorted = readSwitch(prhs[6], rangeNames[6]);
    requireAtMostOutputs(2, nlhs);
    const QueryRows queries{y.data, y.rows};
    outputRowCells(RangeSearch(index, queries, {nullptr, squaredLimit(r)}, sorted, map), y.rows, NoneLost{}, nlhs,
                   plhs);
}

// The gate's inputs as the users' layer holds them, checked in argument
// order: points N x 3, ids N x k (k <= 3), means G x 3, covs 9 x G.
GateArguments readGateRows(bool withUpper, int nlhs, int nrhs, const mxArray* prhs[]) {
    const int required = withUpper ? 9 : 8;
    if (nrhs != required) raiseError(ErrorCode::inputCount, required, nrhs);
    const MatrixArg points = readRows(prhs[3], gateRowNames[3]);
    const MatrixArg ids(prhs[4], gateRowNames[4]);
    ids.requireRows(points.rows);
    if (ids.cols > candidatesPerPoint) raiseError(ErrorCode::tooManyColumns, ids.name, candidatesPerPoint, ids.cols);
    const MatrixArg means = readRows(prhs[5], gateRowNames[5]);
    const MatrixArg covs(prhs[6], gateRowNames[6]);
    covs.requireRows(9);
    if (covs.cols != means.rows) raiseError(ErrorCode::columnMismatch, covs.name, means.name, means.rows, covs.cols);
    GateArguments a{{points.data, ids.data, points.rows, {means.data, covs.data, means.rows}, {true, ids.cols}},
                    common::readScalar(prhs[7], gateRowNames[7]), 0.0};
    if (withUpper) a.mahalUpper = common::readScalar(prhs[8], gateRowNames[8]);
    requireAtMostOutputs(withUpper ? 3 : 1, nlhs);
    return a;
}

// "kd2" on rows: IN N x 1.
void runKd2Rows(void*, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    gateStrictInto(readGateRows(false, nlhs, nrhs, prhs), plhs);
}

// "kd" on rows: IN and INUPPER N x 1, and LABELS N x 1, one per point: 0
// where IN, else -1 for noise and the clusters from 1.
void runKdRows(void*, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    const GateArguments a = readGateRows(true, nlhs, nrhs, prhs);
    const GateQuery& query = a.query;
    mxArray* labels = nlhs >= 3 ? newResultMatrix(query.pointCount, 1) : nullptr;
    gateInto(a, nlhs, plhs);
    if (labels == nullptr) return;
    const std::uint8_t* accepted = maskOf(plhs[0]);
    DensityClusterer clusterer(rejectedPoints(query.points, query.pointCount, accepted, true));
    clusterer.run();
    const auto& records = clusterer.pointList();
    double* out = mxGetPr(labels);
    std::size_t next = 0;
    for (std::int32_t i = 0; i < query.pointCount; ++i) {
        if (accepted[i] != 0) {
            out[i] = 0.0;
            continue;
        }
        const std::int32_t id = records[next++].clusterId;
        out[i] = id == NOISE ? -1.0 : id + 1.0;
    }
    plhs[2] = labels;
}

// The registration's options after the map, checked in argument order.
RegistrationOptions readRegistrationOptions(const mxArray* prhs[]) {
    const MatrixArg start(prhs[6], registerNames[6]);
    start.requireRows(4);
    start.requireColumns(4);
    if (!isRigid(start.data)) raiseError(ErrorCode::notRigid, registerNames[6]);
    RegistrationOptions options{Pose::fromMatrix(start.data), common::readCount(prhs[7], registerNames[7]), 0, 0, 0, 0, 0};
    options.translationTolerance = common::readNonNegative(prhs[8], registerNames[8]);
    options.rotationTolerance = common::readNonNegative(prhs[9], registerNames[9]);
    options.outlierRatio = common::readScalar(prhs[10], registerNames[10]);
    if (!(options.outlierRatio > 0.0 && options.outlierRatio < 1.0))
        raiseError(ErrorCode::outsideRange, registerNames[10], "0", "1 (both excluded)");
    options.voxelSize = common::readPositive(prhs[11], registerNames[11]);
    options.eigenvalueFloor = common::readScalar(prhs[12], registerNames[12]);
    if (!(options.eigenvalueFloor >= 1e-6 && options.eigenvalueFloor <= 1.0))
        raiseError(ErrorCode::outsideRange, registerNames[12], "1e-6", "1");
    return options;
}

// [T, CONVERGED, ITERATIONS, SCORE, HESSIAN, DISTANCES] of registerToMap
// on the scan's rows.
void runRegisterToMap(void*, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs != 13) raiseError(ErrorCode::inputCount, 13, nrhs);
    const MatrixArg scan = readRows(prhs[3], registerNames[3]);
    const MatrixArg means = readRows(prhs[4], registerNames[4]);
    if (means.rows < 1) raiseError(ErrorCode::tooFewRows, means.name, 1, means.rows);
    means.requireFinite();
    const MatrixArg covs(prhs[5], registerNames[5]);
    covs.requireRows(9);
    if (covs.cols != means.rows) raiseError(ErrorCode::columnMismatch, covs.name, means.name, means.rows, covs.cols);
    covs.requireFinite();
    const RegistrationOptions options = readRegistrationOptions(prhs);
    requireAtMostOutputs(6, nlhs);
    mxArray* distances = nlhs >= 6 ? newResultMatrix(scan.rows, 1) : nullptr;
    const RegistrationResult result =
        registerToMap({scan.data, scan.rows}, {means.data, covs.data, means.rows}, options,
                      distances != nullptr ? mxGetPr(distances) : nullptr);
    mxArray* transform = newResultMatrix(4, 4);
    result.pose.toMatrix(mxGetPr(transform));
    plhs[0] = transform;
    if (nlhs >= 2) {
        plhs[1] = common::createOutputMatrix(OutputClass::logical, 1, 1);
        maskOf(plhs[1])[0] = result.converged ? 1 : 0;
    }
    if (nlhs >= 3) {
        plhs[2] = newResultMatrix(1, 1);
        mxGetPr(plhs[2])[0] = result.iterations;
    }
    if (nlhs >= 4) {
        plhs[3] = newResultMatrix(1, 1);
        mxGetPr(plhs[3])[0] = result.score;
    }
    if (nlhs >= 5) {
        plhs[4] = newResultMatrix(6, 6);
        std::copy(result.hessian, result.hessian + 36, mxGetPr(plhs[4]));
    }
    if (distances != nullptr) plhs[5] = distances;
}

constexpr common::Subcommand subcommands[] = {
    {"knnsearch", runKnnsearch, true},
    {"kd", runKd, false},
    {"kd2", runKd2, false},
    {"voxelGaussians", runVoxelGaussians, false},
    {"densityClusters", runDensityClusters, false},
    {"knnrows", runKnnRows, true},
    {"rangerows", runRangeRows, true},
    {"kdrows", runKdRows, false},
    {"kd2rows", runKd2Rows, false},
    {"registerToMap", runRegisterToMap, false},
};

}  // namespace
}  // namespace tessary

const common::Module common::thisModule = {
    "tessary", 'T', tessary::createObject, tessary::destroyObject, tessary::subcommands,
    sizeof(tessary::subcommands) / sizeof(tessary::subcommands[0]), tessary::stopWorkerThreads,
};
