// What each module supplies to the shared front end: its name and handle tag,
// how its object is made and destroyed, and its table of sub-commands.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mex.h"

namespace common {

using SubcommandFn = void (*)(void* object, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

struct Subcommand {
    const char* name;
    SubcommandFn run;
    bool needsObject;  // false: the all-zero handle is accepted
};

struct Module {
    const char* name;
    std::uint8_t handleTag;  // non-zero, distinct per module
    // Checks its inputs, prints what it prints and returns a new object; never null.
    void* (*createObject)(int nrhs, const mxArray* prhs[]);
    void (*destroyObject)(void* object);
    const Subcommand* subcommands;  // tried in table order after "DELETE"
    std::size_t subcommandCount;
    // Stops whatever of the module would run on after the host unloads its
    // file; null when nothing would.
    void (*beforeUnload)();
};

// Defined once by each module.
extern const Module thisModule;

}  // namespace common
