#include "arguments.hpp"

#include <cmath>
#include <cstring>
#include <limits>

#include "error_report.hpp"
#include "mex_host.hpp"

namespace common {
namespace {

constexpr auto int32Max = std::numeric_limits<std::int32_t>::max();

void requireRealFullDouble(const mxArray* array, const char* name) {
    if (mxGetClassID(array) != mxDOUBLE_CLASS) raiseError(ErrorCode::wrongClass, name, "DOUBLE");
    if (mxIsComplex(array)) raiseError(ErrorCode::complexValues, name);
    // Sparse storage holds only the stored entries, not rows x cols values.
    if (mxIsSparse(array)) raiseError(ErrorCode::sparseStorage, name);
}

}  // namespace

MatrixArg::MatrixArg(const mxArray* array, const char* name) : array(array), name(name) {
    requireRealFullDouble(array, name);
    if (mxGetNumberOfDimensions(array) != 2) raiseError(ErrorCode::notMatrix, name);
    const std::size_t m = mxGetM(array);
    const std::size_t n = mxGetN(array);
    if (m > static_cast<std::size_t>(int32Max) || n > static_cast<std::size_t>(int32Max))
        raiseError(ErrorCode::tooLarge, name, int32Max);
    data = static_cast<const double*>(mxGetData(array));
    rows = static_cast<std::int32_t>(m);
    cols = static_cast<std::int32_t>(n);
}

std::int32_t MatrixArg::requireRows(std::int32_t expected) const {
    if (rows != expected) raiseError(ErrorCode::rowCount, name, expected, rows);
    return rows;
}

void MatrixArg::requireColumns(std::int32_t expected) const {
    if (cols != expected) raiseError(ErrorCode::columnCount, name, expected, cols);
}

void MatrixArg::requireFinite() const {
    const std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    for (std::size_t i = 0; i < count; ++i)
        if (!std::isfinite(data[i])) raiseError(ErrorCode::notFinite, name);
}

void MatrixArg::requireMinColumns(std::int32_t expected) const {
    if (cols < expected) raiseError(ErrorCode::tooFewColumns, name, expected, cols);
}

double readScalar(const mxArray* array, const char* name) {
    requireRealFullDouble(array, name);
    if (mxGetNumberOfElements(array) != 1) raiseError(ErrorCode::notScalar, name);
    return *static_cast<const double*>(mxGetData(array));
}

double readPositive(const mxArray* array, const char* name) {
    const double v = readScalar(array, name);
    if (!(v > 0.0 && v <= std::numeric_limits<double>::max())) raiseError(ErrorCode::notPositive, name);
    return v;
}

double readNonNegative(const mxArray* array, const char* name) {
    const double v = readScalar(array, name);
    if (!(v >= 0.0 && v <= std::numeric_limits<double>::max())) raiseError(ErrorCode::notNonNegative, name);
    return v;
}

std::int32_t readCount(const mxArray* array, const char* name) {
    const double v = readScalar(array, name);
    if (!(v >= 1.0 && v <= static_cast<double>(int32Max) && v == std::floor(v))) raiseError(ErrorCode::notCount, name, int32Max);
    return static_cast<std::int32_t>(v);
}

CommandName::CommandName(const mxArray* array) {
    if (mxGetClassID(array) != mxCHAR_CLASS) return;
    const std::size_t count = mxGetNumberOfElements(array);
    length_ = count < capacity ? count : capacity;
    readCharacters(array, text_, capacity);
}

bool CommandName::is(const char* name) const {
    return std::strlen(name) == length_ && std::memcmp(text_, name, length_) == 0;
}

}  // namespace common
