// Everything that differs between the hosts the modules are built for, and
// nothing else: GNU Octave (its mex.h defines HAVE_OCTAVE), and MATLAB
// through its own headers or through the interface layer in matlab/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "error_report.hpp"
#include "mex.h"

#if defined(HAVE_OCTAVE) && defined(__GLIBC__)
#include <malloc.h>
#endif

// The one symbol a module exports.
#if defined(_WIN32)
#define MEX_ENTRY_POINT __declspec(dllexport)
#elif defined(__GNUC__)
#define MEX_ENTRY_POINT __attribute__((visibility("default")))
#else
#define MEX_ENTRY_POINT
#endif

namespace common {

// Octave makes its arrays, and the modules' scratch memory, in the C
// library's heap. glibc hands blocks from 128 KiB on back to the system
// when they are freed, or trims the heap above twice the largest block
// freed so far, so that most calls that return megabytes get fresh pages,
// and a page's first touch costs far more than filling it: 46 ms for
// 16 MiB on a virtual machine measured, where filling it again takes
// 0.8 ms. Keeping blocks below 32 MiB in the heap and up to 64 MiB of it
// when freed (the most glibc's own adaptive thresholds reach) lets the
// next call reuse them. Set once, for the whole process; MATLAB keeps
// memory of its own.
inline void keepFreedMemoryForReuse() {
#if defined(HAVE_OCTAVE) && defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

// Copies the first `capacity` characters of a character array into `text`
// (capacity + 1 bytes, cleared by the caller). MATLAB's mxGetString cuts a
// longer text; Octave's copies nothing then, so Octave's characters are
// read directly, with text outside ASCII shown as '?'.
inline void readCharacters(const mxArray* array, char* text, std::size_t capacity) {
#if defined(HAVE_OCTAVE)
    const mxChar* chars = mxGetChars(array);
    const std::size_t count = mxGetNumberOfElements(array);
    for (std::size_t i = 0; i < count && i < capacity; ++i) {
        const auto c = static_cast<unsigned char>(chars[i]);
        text[i] = c < 128 ? static_cast<char>(c) : '?';
    }
#else
    mxGetString(array, text, static_cast<mwSize>(capacity + 1));
#endif
}

enum class OutputClass { real, logical };

// A rows x cols matrix of zeros (or false), or the resultTooLarge error.
//
// Octave copies an array made with mxCreateDoubleMatrix or
// mxCreateLogicalMatrix into storage of its own when the call returns; for
// the K x M results of a search that copy, with the zero-fill before it,
// costs a fifth of the search. An array Octave made itself (its builtin
// zeros or false) is handed back as it is. MATLAB takes over what mxCreate*
// made without a copy; when it cannot make one it ends the call itself.
inline mxArray* createOutputMatrix(OutputClass kind, std::int32_t rows, std::int32_t cols) {
    const std::size_t elementSize = kind == OutputClass::real ? sizeof(double) : sizeof(mxLogical);
    const auto count = static_cast<std::uint64_t>(rows) * static_cast<std::uint64_t>(cols);
    if (count > static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max()) / elementSize)
        raiseError(ErrorCode::resultTooLarge, rows, cols);
#if defined(HAVE_OCTAVE)
    // Octave's zeros reports an allocation it cannot make by an exception
    // that leaks what the call had set up: a request the C heap refuses ends
    // here instead, with nothing taken.
    const std::size_t bytes = static_cast<std::size_t>(count) * elementSize;
    void* probe = std::malloc(bytes);
    if (probe == nullptr && bytes > 0) raiseError(ErrorCode::resultTooLarge, rows, cols);
    std::free(probe);
    // Through builtin, so that a function of the caller's named zeros or
    // false is not the one called.
    mxArray* args[3] = {mxCreateString(kind == OutputClass::real ? "zeros" : "false"), mxCreateDoubleScalar(rows),
                        mxCreateDoubleScalar(cols)};
    mxArray* matrix = nullptr;
    mxArray* failure = mexCallMATLABWithTrap(1, &matrix, 3, args, "builtin");
    for (mxArray* arg : args) mxDestroyArray(arg);
    if (failure != nullptr) {
        mxDestroyArray(failure);
        matrix = nullptr;
    }
#else
    mxArray* matrix = kind == OutputClass::real
                          ? mxCreateDoubleMatrix(static_cast<mwSize>(rows), static_cast<mwSize>(cols), mxREAL)
                          : mxCreateLogicalMatrix(static_cast<mwSize>(rows), static_cast<mwSize>(cols));
#endif
    if (matrix == nullptr) raiseError(ErrorCode::resultTooLarge, rows, cols);
    return matrix;
}

// An m x 1 cell array whose cells are set once each with setCell; every
// host takes over what a cell is given.
inline mxArray* createCellColumn(std::int32_t rows) {
    mxArray* cell = mxCreateCellMatrix(static_cast<mwSize>(rows), 1);
    if (cell == nullptr) raiseError(ErrorCode::resultTooLarge, rows, 1);
    return cell;
}

// A double matrix for a cell: made by the interface itself on every host,
// as each is small and a call per element into the host's language would
// cost more than the element.
inline mxArray* createCellElement(std::int32_t rows, std::int32_t cols) {
    mxArray* matrix = mxCreateDoubleMatrix(static_cast<mwSize>(rows), static_cast<mwSize>(cols), mxREAL);
    if (matrix == nullptr) raiseError(ErrorCode::resultTooLarge, rows, cols);
    return matrix;
}

inline void setCell(mxArray* cell, std::size_t index, mxArray* value) {
    mxSetCell(cell, static_cast<mwIndex>(index), value);
}

}  // namespace common
