// The tessary module as the host sees it: reads and checks the arguments,
// calls the numerical core, writes the outputs.
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

#include "arguments.hpp"
#include "error_report.hpp"
#include "knn_search.hpp"
#include "module.hpp"
#include "point_index.hpp"

namespace tessary {
namespace {

using front::ErrorCode;
using front::MatrixArg;
using front::raiseError;

// Display names by argument position.
constexpr const char* initNames[] = {"cmd", "pts"};
constexpr const char* knnNames[] = {"cmd", "hnd", "subcmd", "points", "K"};

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
    const double k = front::readScalar(array, knnNames[4]);
    if (!(k >= 0.0 && k < static_cast<double>(int32Max) + 1.0)) raiseError(ErrorCode::outOfRange, knnNames[4], int32Max);
    return static_cast<std::int32_t>(k);
}

mxArray* newResultMatrix(std::int32_t rows, std::int32_t cols) {
    const auto count = static_cast<std::uint64_t>(rows) * static_cast<std::uint64_t>(cols);
    if (count > static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max()) / sizeof(double))
        raiseError(ErrorCode::resultTooLarge, rows, cols);
    mxArray* matrix = mxCreateDoubleMatrix(static_cast<mwSize>(rows), static_cast<mwSize>(cols), mxREAL);
    if (matrix == nullptr) raiseError(ErrorCode::resultTooLarge, rows, cols);
    return matrix;
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

constexpr front::Subcommand subcommands[] = {
    {"knnsearch", runKnnsearch, true},
};

}  // namespace
}  // namespace tessary

const front::Module front::thisModule = {
    "tessary", 'T', tessary::createObject, tessary::destroyObject, tessary::subcommands,
    sizeof(tessary::subcommands) / sizeof(tessary::subcommands[0]),
};
