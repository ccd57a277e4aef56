// Validated views of the arguments a command reads. Every check raises its
// error through raiseError; a view that exists has passed them all.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mex.h"

namespace common {

// A real, full, two-dimensional double matrix argument.
struct MatrixArg {
    const mxArray* array;
    const char* name;
    const double* data = nullptr;
    std::int32_t rows = 0;
    std::int32_t cols = 0;

    MatrixArg(const mxArray* array, const char* name);

    std::int32_t requireRows(std::int32_t expected) const;
    void requireColumns(std::int32_t expected) const;
    void requireFinite() const;
    void requireMinColumns(std::int32_t expected) const;
};

// The value of a real double scalar argument.
double readScalar(const mxArray* array, const char* name);
// ... that is positive and finite.
double readPositive(const mxArray* array, const char* name);
// ... that is finite and at least 0.
double readNonNegative(const mxArray* array, const char* name);
// ... that is a whole number from 1 to int32's largest.
std::int32_t readCount(const mxArray* array, const char* name);

// A command or sub-command name: the first 19 characters of a character
// array, or the empty name for anything that is not text.
class CommandName {
public:
    explicit CommandName(const mxArray* array);
    bool is(const char* name) const;
    const char* text() const { return text_; }

    static constexpr std::size_t capacity = 19;

private:
    char text_[capacity + 1] = {};
    std::size_t length_ = 0;
};

}  // namespace common
