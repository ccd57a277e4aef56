// Everything that differs between the hosts the modules are built for, and
// nothing else: GNU Octave (its mex.h defines HAVE_OCTAVE), and MATLAB
// through its own headers or through the interface layer in matlab/.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

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

#if defined(HAVE_OCTAVE)
// Octave's own function `name` on `count` arguments, which stay the
// caller's: called through builtin, so that a function of the caller's of
// the same name is not the one called. Its one result, or the
// resultTooLarge error for rows x cols when the call fails, as it does when
// memory runs out.
inline mxArray* callBuiltin(const char* name, mxArray* const* args, int count, std::int32_t rows,
                            std::int32_t cols) {
    std::vector<mxArray*> all(static_cast<std::size_t>(count) + 1);
    all[0] = mxCreateString(name);
    std::copy(args, args + count, all.begin() + 1);
    mxArray* result = nullptr;
    mxArray* failure = mexCallMATLABWithTrap(1, &result, count + 1, all.data(), "builtin");
    mxDestroyArray(all[0]);
    if (failure != nullptr) {
        mxDestroyArray(failure);
        raiseError(ErrorCode::resultTooLarge, rows, cols);
    }
    return result;
}
#endif

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
    mxArray* args[2] = {mxCreateDoubleScalar(rows), mxCreateDoubleScalar(cols)};
    mxArray* matrix = callBuiltin(kind == OutputClass::real ? "zeros" : "false", args, 2, rows, cols);
    for (mxArray* arg : args) mxDestroyArray(arg);
#else
    mxArray* matrix = kind == OutputClass::real
                          ? mxCreateDoubleMatrix(static_cast<mwSize>(rows), static_cast<mwSize>(cols), mxREAL)
                          : mxCreateLogicalMatrix(static_cast<mwSize>(rows), static_cast<mwSize>(cols));
#endif
    if (matrix == nullptr) raiseError(ErrorCode::resultTooLarge, rows, cols);
    return matrix;
}

// Two m x 1 cell arrays of double rows, into cells[0] and cells[1], made a
// block of rows at a time. `blocks` has:
//   nextBlockEnd(first): where the block from row `first` ends;
//   count(first, last, counts): the lengths of rows first .. last - 1, into
//     counts[first] .. counts[last - 1];
//   fill(first, last, counts, a, b): for each i from first to last - 1 of
//     the block last counted, counts[i] values written at a[i] and at b[i].
//
// Octave copies every array a cell holds when the call returns, after
// tracking each one as it was made: for the 400,000 rows of a search of
// 200,000 queries that took about half the call. There the rows are
// written a stretch at a time into two rows of Octave's own making and cut
// into cells by its builtin mat2cell, whose cells Octave takes as they are;
// a stretch holds about 2^20 values (8 MiB), so that its memory is reused
// from stretch to stretch. MATLAB takes over what each cell is given.
template <class Blocks>
void createRowCellPair(std::int32_t m, Blocks& blocks, mxArray* cells[2]) {
    std::vector<std::int64_t> counts(static_cast<std::size_t>(m));
    std::vector<double*> a(static_cast<std::size_t>(m)), b(static_cast<std::size_t>(m));
#if defined(HAVE_OCTAVE)
    constexpr std::int64_t stretchValues = std::int64_t{1} << 20;
    std::vector<mxArray*> parts[2];
    mxArray* one = mxCreateDoubleScalar(1);
    for (std::int32_t block = 0; block < m;) {
        const std::int32_t blockEnd = blocks.nextBlockEnd(block);
        blocks.count(block, blockEnd, counts.data());
        for (std::int32_t first = block; first < blockEnd;) {
            std::int64_t total = counts[first];
            std::int32_t last = first + 1;
            for (; last < blockEnd && total + counts[last] <= stretchValues; ++last) total += counts[last];
            mxArray* flat[2] = {createOutputMatrix(OutputClass::real, 1, static_cast<std::int32_t>(total)),
                                createOutputMatrix(OutputClass::real, 1, static_cast<std::int32_t>(total))};
            double* at[2] = {mxGetPr(flat[0]), mxGetPr(flat[1])};
            mxArray* widths = mxCreateDoubleMatrix(1, static_cast<mwSize>(last - first), mxREAL);
            double* width = mxGetPr(widths);
            for (std::int32_t i = first; i < last; ++i) {
                a[i] = at[0];
                b[i] = at[1];
                at[0] += counts[i];
                at[1] += counts[i];
                width[i - first] = static_cast<double>(counts[i]);
            }
            blocks.fill(first, last, counts.data(), a.data(), b.data());
            for (int c = 0; c < 2; ++c) {
                mxArray* args[3] = {flat[c], one, widths};
                parts[c].push_back(callBuiltin("mat2cell", args, 3, 1, static_cast<std::int32_t>(total)));
                mxDestroyArray(flat[c]);
            }
            mxDestroyArray(widths);
            first = last;
        }
        block = blockEnd;
    }
    mxArray* shape[2] = {mxCreateDoubleScalar(m), one};
    for (int c = 0; c < 2; ++c) {
        if (m == 0) {
            cells[c] = mxCreateCellMatrix(0, 1);
            continue;
        }
        mxArray* joined = parts[c].size() == 1
                              ? parts[c][0]
                              : callBuiltin("horzcat", parts[c].data(), static_cast<int>(parts[c].size()), 1, m);
        mxArray* args[3] = {joined, shape[0], shape[1]};
        cells[c] = callBuiltin("reshape", args, 3, m, 1);
        for (mxArray* part : parts[c]) mxDestroyArray(part);
        if (joined != parts[c][0]) mxDestroyArray(joined);
    }
    for (mxArray* arg : {shape[0], one}) mxDestroyArray(arg);
#else
    for (int c = 0; c < 2; ++c) {
        cells[c] = mxCreateCellMatrix(static_cast<mwSize>(m), 1);
        if (cells[c] == nullptr) raiseError(ErrorCode::resultTooLarge, m, 1);
    }
    for (std::int32_t block = 0; block < m;) {
        const std::int32_t blockEnd = blocks.nextBlockEnd(block);
        blocks.count(block, blockEnd, counts.data());
        for (std::int32_t i = block; i < blockEnd; ++i)
            for (int c = 0; c < 2; ++c) {
                mxArray* row = mxCreateDoubleMatrix(1, static_cast<mwSize>(counts[i]), mxREAL);
                if (row == nullptr) raiseError(ErrorCode::resultTooLarge, 1, static_cast<int>(counts[i]));
                (c == 0 ? a : b)[i] = mxGetPr(row);
                mxSetCell(cells[c], static_cast<mwIndex>(i), row);
            }
        blocks.fill(block, blockEnd, counts.data(), a.data(), b.data());
        block = blockEnd;
    }
#endif
}

}  // namespace common
