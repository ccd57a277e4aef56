// The stand-in MATLAB host: what its libmx offers the driver besides the
// MEX interface. It runs module calls as MATLAB documents them (see libmx.cpp)
// and records what a test checks afterwards.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "mex.h"

#if defined(_WIN32)
#define HOST_API extern "C" __declspec(dllexport)
#else
#define HOST_API extern "C" __attribute__((visibility("default")))
#endif

using MexFunction = void (*)(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

// Runs one module call. Returns 0, or 1 when it ended in an error, whose
// identifier and message are then hostErrorId() and hostErrorMessage().
// plhs has room for max(nlhs, 1) outputs; on an error none is set.
HOST_API int hostCall(MexFunction module, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
HOST_API const char* hostErrorId();
HOST_API const char* hostErrorMessage();

// Everything mexPrintf printed and every command mexEvalString was given
// (one per line) since the last hostClearOutput().
HOST_API const char* hostPrinted();
HOST_API const char* hostEvaluated();
HOST_API void hostClearOutput();

HOST_API int hostLockCount(MexFunction module);
HOST_API std::size_t hostPersistentBlocks();

// Makes the n-th array the next call creates, or its n-th mxMalloc, fail as
// MATLAB fails when it has no memory: the call ends in an error there, at
// once. 0: none fails.
HOST_API void hostFailArrayCreation(int n);
HOST_API void hostFailAllocation(int n);
// How many blocks the last call took with mxMalloc.
HOST_API int hostAllocations();

// Makes mexEvalString, in the next call, throw an exception of a type no
// module knows, as a host whose errors unwind the module by C++ exceptions
// may.
HOST_API void hostThrowInEvaluation();

// MATLAB's clear of a module: refused (0) while the module is locked;
// otherwise its exit function runs and the host forgets it (1), and the
// caller unloads the file.
HOST_API int hostClear(MexFunction module);

// Misuses of the interface seen so far (a lock count below zero, an
// unknown block freed, an output left unset, ...), one per line.
HOST_API const char* hostFaults();

// Arrays of the driver's own, outside any call.
// A sparse array holds no element storage; a complex one a zero imaginary part.
HOST_API mxArray* hostCreateArray(mxClassID classId, std::size_t ndims, const std::size_t* dims, bool complex,
                                  bool sparse);
HOST_API mxArray* hostCreateString(const char* utf8);
HOST_API void hostDestroyArray(mxArray* array);

// The host's own end of the MEX interface, for libmex. Both format like
// printf; hostRaise ends the call.
HOST_API void hostRaise(const char* identifier, const char* format, std::va_list args);
HOST_API int hostPrint(const char* format, std::va_list args);
HOST_API void hostEvaluate(const char* command);
HOST_API void hostLock(int change);
HOST_API void hostAtExit(void (*exitFunction)());
HOST_API void hostMakePersistent(void* block);
