// Entry point and command dispatch shared by every module: "init", "do" and
// "delete", the object handles and the module lock.
#pragma once

#include "mex.h"

namespace common {

void dispatchCommand(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

// The object behind a handle argument: nullptr for the all-zero handle.
// Raises for a malformed handle and for one that names no live object.
void* decodeHandle(const mxArray* handle);

}  // namespace common
