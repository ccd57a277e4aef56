// The stand-in's libmx, which also holds the host: MATLAB arrays, MATLAB's
// memory manager and the call of a module, as MATLAB documents them where
// they differ from Octave.
// - A block from mxMalloc that was not made persistent, and an array made
//   during the call and not returned in plhs, are released when the call
//   ends; both are overwritten first, so that a module that kept one reads
//   garbage (and a sanitizer build reports the use after free).
// - An error (mexErrMsgIdAndTxt, mexErrMsgTxt, or an array or block MATLAB
//   cannot make) ends the call with a jump back here, as MATLAB's C
//   interface did: no destructor of the module runs. mxMalloc never returns
//   NULL during a call.
// - An array of no elements has no data block: its data pointer is NULL.
// - A cell array owns what mxSetCell puts into it, returned or released
//   with it.
// - clear runs the module's exit function, then the file may be unloaded;
//   a locked module is not cleared.
// - Characters are UTF-16 units; mxGetString writes UTF-8, at most its
//   buffer length minus one bytes, and returns 1 when the text did not fit
//   or the array is not text.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "host.hpp"

// The jump back to the host. msvcrt's longjmp unwinds the frames it leaves
// on 64-bit Windows, running the module's destructors; GCC's builtin pair
// restores the registers and nothing else, as MATLAB's jump did.
#if defined(_WIN32)
using JumpBuffer = void* [5];
#define SAVE_CONTEXT(buffer) __builtin_setjmp(buffer)
#define JUMP_BACK(buffer) __builtin_longjmp(buffer, 1)
#else
#include <csetjmp>
using JumpBuffer = std::jmp_buf;
#define SAVE_CONTEXT(buffer) setjmp(buffer)
#define JUMP_BACK(buffer) longjmp(buffer, 1)
#endif

struct mxArray_tag {
    mxClassID classId;
    bool complex;
    bool sparse;
    std::vector<std::size_t> dims;
    std::size_t bytes;  // of the real part, and of the imaginary part if any
    void* real;         // a cell array's: its elements, null where unset
    void* imag;
    bool inCell = false;
};

namespace {

constexpr unsigned char released = 0xDB;

struct Block {
    std::size_t size;
    bool persistent;
};

struct Host {
    std::unordered_map<void*, Block> blocks;
    std::unordered_set<mxArray*> arrays;  // every array alive
    std::vector<mxArray*> callArrays;     // made during the current call
    MexFunction current = nullptr;
    std::map<MexFunction, int> locks;
    std::map<MexFunction, void (*)()> exitFunctions;
    JumpBuffer jump;
    int failAt = 0, created = 0;
    int failAllocationAt = 0, allocations = 0, lastAllocations = 0;
    bool throwInEvaluation = false;
    std::string errorId, errorMessage, printed, evaluated, faults;
};

Host& host() {
    static Host* state = new Host();  // never destroyed: modules may outlive static destruction
    return *state;
}

void fault(const std::string& what) { host().faults += what + "\n"; }

// Appends printf-style text; returns its length.
int append(std::string& out, const char* format, std::va_list args) {
    std::va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0) return 0;
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(length));
    std::vsnprintf(&out[at], static_cast<std::size_t>(length) + 1, format, args);
    return length;
}

std::size_t elementSize(mxClassID classId) {
    switch (classId) {
        case mxLOGICAL_CLASS: case mxINT8_CLASS: case mxUINT8_CLASS: return 1;
        case mxCHAR_CLASS: case mxINT16_CLASS: case mxUINT16_CLASS: return 2;
        case mxSINGLE_CLASS: case mxINT32_CLASS: case mxUINT32_CLASS: return 4;
        default: return 8;
    }
}

// Formats into the host's own buffer and jumps: nothing the jump leaves
// behind in the host's frames holds memory.
[[noreturn]] void raise(const char* identifier, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    hostRaise(identifier, format, args);
    std::abort();
}

mxArray* newArray(mxClassID classId, const std::size_t* dims, std::size_t ndims, bool complex, bool sparse) {
    Host& h = host();
    std::size_t count = 1;
    bool overflow = false;
    for (std::size_t k = 0; k < ndims; ++k) {
        if (dims[k] != 0 && count > SIZE_MAX / dims[k]) overflow = true;
        count *= dims[k];
    }
    const std::size_t size = elementSize(classId);
    overflow = overflow || count > SIZE_MAX / size;
    const bool injected = h.current != nullptr && h.failAt > 0 && ++h.created == h.failAt;
    void* real = nullptr;
    void* imag = nullptr;
    const std::size_t bytes = sparse || overflow ? 0 : count * size;
    if (!overflow && !injected && count > 0) {
        real = std::calloc(bytes == 0 ? 1 : bytes, 1);
        if (complex) imag = std::calloc(bytes == 0 ? 1 : bytes, 1);
    }
    if (overflow || injected || (count > 0 && (real == nullptr || (complex && imag == nullptr)))) {
        std::free(real);
        std::free(imag);
        if (h.current == nullptr) std::abort();
        raise("MATLAB:nomem", "Out of memory making an array of %zu dimensions.", ndims);
    }
    auto* array = new mxArray_tag{classId, complex, sparse, {dims, dims + ndims}, bytes, real, imag};
    h.arrays.insert(array);
    if (h.current != nullptr) h.callArrays.push_back(array);
    return array;
}

mxArray* newMatrix(mxClassID classId, std::size_t m, std::size_t n, bool complex) {
    const std::size_t dims[] = {m, n};
    return newArray(classId, dims, 2, complex, false);
}

void destroy(mxArray* array) {
    host().arrays.erase(array);
    if (array->classId == mxCELL_CLASS)
        for (std::size_t k = 0; k < array->bytes / sizeof(mxArray*); ++k)
            if (mxArray* element = static_cast<mxArray**>(array->real)[k]) destroy(element);
    if (array->real != nullptr) std::memset(array->real, released, array->bytes);
    if (array->imag != nullptr) std::memset(array->imag, released, array->bytes);
    std::free(array->real);
    std::free(array->imag);
    delete array;
}

const mxArray* checked(const mxArray* array, const char* caller) {
    if (host().arrays.count(const_cast<mxArray*>(array)) == 0) {
        fault(std::string(caller) + " given something that is not a live array");
        std::abort();
    }
    return array;
}

// Ends the current call: what the module kept for itself goes.
void endCall(mxArray* plhs[], int slots, bool failed) {
    Host& h = host();
    std::unordered_set<mxArray*> returned;
    for (int i = 0; i < slots; ++i) {
        if (failed) plhs[i] = nullptr;
        if (plhs[i] != nullptr) returned.insert(plhs[i]);
    }
    // A cell released here takes its elements with it: they are passed by.
    for (mxArray* array : h.callArrays)
        if (h.arrays.count(array) != 0 && !array->inCell && returned.count(array) == 0) destroy(array);
    h.callArrays.clear();
    for (auto it = h.blocks.begin(); it != h.blocks.end();) {
        if (it->second.persistent) {
            ++it;
            continue;
        }
        std::memset(it->first, released, it->second.size);
        std::free(it->first);
        it = h.blocks.erase(it);
    }
    h.current = nullptr;
    h.failAt = h.created = 0;
    h.lastAllocations = h.allocations;
    h.failAllocationAt = h.allocations = 0;
    h.throwInEvaluation = false;
}

}  // namespace

HOST_API int hostCall(MexFunction module, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    Host& h = host();
    const int slots = nlhs > 1 ? nlhs : 1;
    for (int i = 0; i < slots; ++i) plhs[i] = nullptr;
    h.errorId.clear();
    h.errorMessage.clear();
    h.current = module;
    if (SAVE_CONTEXT(h.jump) == 0) {
        module(nlhs, plhs, nrhs, prhs);
        for (int i = 0; i < nlhs; ++i)
            if (plhs[i] == nullptr) {
                fault("output " + std::to_string(i + 1) + " of " + std::to_string(nlhs) + " left unset");
                h.errorId = "MATLAB:unassignedOutputs";
                h.errorMessage = "One or more output arguments not assigned during call.";
            }
    }
    const bool failed = !h.errorId.empty();
    endCall(plhs, slots, failed);
    return failed ? 1 : 0;
}

HOST_API void hostRaise(const char* identifier, const char* format, std::va_list args) {
    Host& h = host();
    if (h.current == nullptr) {
        fault("error raised outside a call");
        std::abort();
    }
    h.errorId = identifier != nullptr && identifier[0] != '\0' ? identifier : "MATLAB:MEX:ErrMsgTxt";
    h.errorMessage.clear();
    append(h.errorMessage, format, args);
    JUMP_BACK(h.jump);
}

HOST_API const char* hostErrorId() { return host().errorId.c_str(); }
HOST_API const char* hostErrorMessage() { return host().errorMessage.c_str(); }
HOST_API const char* hostPrinted() { return host().printed.c_str(); }
HOST_API const char* hostEvaluated() { return host().evaluated.c_str(); }
HOST_API const char* hostFaults() { return host().faults.c_str(); }

HOST_API void hostClearOutput() {
    host().printed.clear();
    host().evaluated.clear();
}

HOST_API int hostPrint(const char* format, std::va_list args) { return append(host().printed, format, args); }
// Of a type declared nowhere else: no module can name it.
struct UnknownToModules {};

HOST_API void hostEvaluate(const char* command) {
    host().evaluated += std::string(command) + "\n";
    if (std::exchange(host().throwInEvaluation, false)) throw UnknownToModules{};
}

HOST_API void hostThrowInEvaluation() { host().throwInEvaluation = true; }

HOST_API void hostAtExit(void (*exitFunction)()) {
    Host& h = host();
    if (h.current == nullptr)
        fault("mexAtExit outside a call");
    else
        h.exitFunctions[h.current] = exitFunction;
}

HOST_API int hostClear(MexFunction module) {
    Host& h = host();
    if (h.locks[module] > 0) return 0;
    const auto exit = h.exitFunctions.find(module);
    if (exit != h.exitFunctions.end()) {
        void (*exitFunction)() = exit->second;
        h.exitFunctions.erase(exit);
        exitFunction();
    }
    h.locks.erase(module);
    return 1;
}

HOST_API void hostLock(int change) {
    Host& h = host();
    int& count = h.locks[h.current];
    if (count + change < 0) {
        fault("mexUnlock of a module that is not locked");
        return;
    }
    count += change;
}

HOST_API int hostLockCount(MexFunction module) { return host().locks[module]; }

HOST_API void hostMakePersistent(void* block) {
    auto it = host().blocks.find(block);
    if (it == host().blocks.end())
        fault("mexMakeMemoryPersistent of a block mxMalloc did not make");
    else
        it->second.persistent = true;
}

HOST_API std::size_t hostPersistentBlocks() {
    std::size_t count = 0;
    for (const auto& entry : host().blocks) count += entry.second.persistent;
    return count;
}

HOST_API void hostFailArrayCreation(int n) { host().failAt = n; }
HOST_API void hostFailAllocation(int n) { host().failAllocationAt = n; }
HOST_API int hostAllocations() { return host().lastAllocations; }

HOST_API mxArray* hostCreateArray(mxClassID classId, std::size_t ndims, const std::size_t* dims, bool complex,
                                  bool sparse) {
    return newArray(classId, dims, ndims, complex, sparse);
}

HOST_API mxArray* hostCreateString(const char* utf8) {
    std::u16string units;
    for (const auto* p = reinterpret_cast<const unsigned char*>(utf8); *p != 0;) {
        std::uint32_t c = *p++;
        const int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        c &= more == 0 ? 0x7F : 0x3F >> more;
        for (int k = 0; k < more && *p != 0; ++k) c = (c << 6) | (*p++ & 0x3F);
        if (c >= 0x10000) {
            units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            units += static_cast<char16_t>(c);
        }
    }
    mxArray* array = newMatrix(mxCHAR_CLASS, 1, units.size(), false);
    if (!units.empty()) std::memcpy(array->real, units.data(), units.size() * sizeof(char16_t));
    return array;
}

HOST_API void hostDestroyArray(mxArray* array) {
    if (array != nullptr) destroy(const_cast<mxArray*>(checked(array, "hostDestroyArray")));
}

// The MEX interface's libmx.

extern "C" {

mxClassID mxGetClassID(const mxArray* array) { return checked(array, "mxGetClassID")->classId; }
bool mxIsComplex(const mxArray* array) { return checked(array, "mxIsComplex")->complex; }
bool mxIsSparse(const mxArray* array) { return checked(array, "mxIsSparse")->sparse; }
mwSize mxGetNumberOfDimensions_730(const mxArray* array) { return checked(array, "mxGetNumberOfDimensions")->dims.size(); }

size_t mxGetNumberOfElements(const mxArray* array) {
    std::size_t count = 1;
    for (std::size_t d : checked(array, "mxGetNumberOfElements")->dims) count *= d;
    return count;
}

size_t mxGetM(const mxArray* array) { return checked(array, "mxGetM")->dims[0]; }

size_t mxGetN(const mxArray* array) {
    std::size_t count = 1;
    const auto& dims = checked(array, "mxGetN")->dims;
    for (std::size_t k = 1; k < dims.size(); ++k) count *= dims[k];
    return count;
}

void* mxGetData(const mxArray* array) { return checked(array, "mxGetData")->real; }

double* mxGetPr(const mxArray* array) {
    if (checked(array, "mxGetPr")->classId != mxDOUBLE_CLASS) fault("mxGetPr of an array that is not double");
    return static_cast<double*>(array->real);
}

mxLogical* mxGetLogicals(const mxArray* array) {
    return checked(array, "mxGetLogicals")->classId == mxLOGICAL_CLASS ? static_cast<mxLogical*>(array->real)
                                                                        : nullptr;
}

int mxGetString_730(const mxArray* array, char* buffer, mwSize length) {
    if (checked(array, "mxGetString")->classId != mxCHAR_CLASS || length == 0) return 1;
    std::string text;
    const auto* units = static_cast<const char16_t*>(array->real);
    const std::size_t count = array->bytes / sizeof(char16_t);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t c = units[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < count) c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text += static_cast<char>(0xE0 | (c >> 12));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (c >> 18));
            text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    const std::size_t copied = text.size() < length - 1 ? text.size() : length - 1;
    std::memcpy(buffer, text.data(), copied);
    buffer[copied] = '\0';
    return copied < text.size() ? 1 : 0;
}

mxArray* mxCreateNumericMatrix_730(mwSize m, mwSize n, mxClassID classId, mxComplexity flag) {
    return newMatrix(classId, m, n, flag == mxCOMPLEX);
}

mxArray* mxCreateDoubleMatrix_730(mwSize m, mwSize n, mxComplexity flag) {
    return newMatrix(mxDOUBLE_CLASS, m, n, flag == mxCOMPLEX);
}

mxArray* mxCreateLogicalMatrix_730(mwSize m, mwSize n) { return newMatrix(mxLOGICAL_CLASS, m, n, false); }

mxArray* mxCreateLogicalScalar(mxLogical value) {
    mxArray* array = newMatrix(mxLOGICAL_CLASS, 1, 1, false);
    *static_cast<mxLogical*>(array->real) = value;
    return array;
}

mxArray* mxCreateCellMatrix_730(mwSize m, mwSize n) { return newMatrix(mxCELL_CLASS, m, n, false); }

void mxSetCell_730(mxArray* cell, mwIndex index, mxArray* value) {
    if (checked(cell, "mxSetCell")->classId != mxCELL_CLASS || index >= cell->bytes / sizeof(mxArray*)) {
        fault("mxSetCell of an element beyond a cell array's");
        return;
    }
    mxArray*& slot = static_cast<mxArray**>(cell->real)[index];
    if (slot != nullptr) destroy(slot);
    slot = value;
    if (value != nullptr) const_cast<mxArray*>(checked(value, "mxSetCell"))->inCell = true;
}

void* mxMalloc(size_t size) {
    Host& h = host();
    const bool injected = h.current != nullptr && ++h.allocations == h.failAllocationAt;
    void* block = injected ? nullptr : std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        if (h.current == nullptr) return nullptr;
        raise("MATLAB:nomem", "Out of memory taking %zu bytes.", size);
    }
    host().blocks[block] = {size, false};
    return block;
}

void mxFree(void* block) {
    if (block == nullptr) return;
    auto it = host().blocks.find(block);
    if (it == host().blocks.end()) {
        fault("mxFree of a block mxMalloc did not make, or made and freed");
        return;
    }
    std::memset(block, released, it->second.size);
    std::free(block);
    host().blocks.erase(it);
}

}  // extern "C"
