#include "dispatch.hpp"

#include <cstdint>
#include <exception>
#include <new>

#include "arguments.hpp"
#include "error_report.hpp"
#include "handle_registry.hpp"
#include "load_serial.hpp"
#include "mex_host.hpp"
#include "module.hpp"

namespace common {
namespace {

constexpr int handleBytes = 4;

HandleRegistry& registry() {
    static HandleRegistry live(thisModule.handleTag, loadSerial());
    return live;
}

std::uint32_t readToken(const mxArray* handle) {
    if (mxGetClassID(handle) != mxUINT8_CLASS || mxGetNumberOfElements(handle) != handleBytes)
        raiseError(ErrorCode::badHandle, handleBytes);
    const auto* bytes = static_cast<const std::uint8_t*>(mxGetData(handle));
    std::uint32_t token = 0;
    for (int i = handleBytes - 1; i >= 0; --i) token = (token << 8) | bytes[i];
    return token;
}

void writeToken(mxArray* handle, std::uint32_t token) {
    auto* bytes = static_cast<std::uint8_t*>(mxGetData(handle));
    for (int i = 0; i < handleBytes; ++i) bytes[i] = static_cast<std::uint8_t>(token >> (8 * i));
}

// Destroys the object unless ownership was handed on.
struct ObjectGuard {
    void* object;
    ~ObjectGuard() {
        if (object != nullptr) thisModule.destroyObject(object);
    }
};

void destroyLive(const mxArray* handle) {
    void* object = registry().remove(readToken(handle));
    if (object == nullptr) return;  // the all-zero handle: nothing to destroy, no lock to drop
    thisModule.destroyObject(object);
    mexUnlock();
}

void runInit(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nlhs != 1) raiseError(ErrorCode::initOutputs);
    // MATLAB ends the call at once, skipping every destructor, when it cannot
    // make an array: each output is made while the call holds nothing.
    mxArray* handle = mxCreateNumericMatrix(1, handleBytes, mxUINT8_CLASS, mxREAL);
    ObjectGuard guard{thisModule.createObject(nrhs, prhs)};
    // Everything that can fail comes before the object is registered.
    writeToken(handle, registry().add(guard.object));
    guard.object = nullptr;
    mexLock();
    plhs[0] = handle;
}

const Subcommand* findSubcommand(const CommandName& name) {
    for (std::size_t i = 0; i < thisModule.subcommandCount; ++i)
        if (name.is(thisModule.subcommands[i].name)) return &thisModule.subcommands[i];
    return nullptr;
}

void runSubcommand(const mxArray* handle, void* object, int nlhs, mxArray* plhs[], int nrhs,
                   const mxArray* prhs[]) {
    if (nrhs < 3) raiseError(ErrorCode::tooFewInputs, 3, nrhs);
    const CommandName name(prhs[2]);
    if (name.is("DELETE")) {
        if (nlhs != 1) raiseError(ErrorCode::outputCount, 1, nlhs);
        plhs[0] = mxCreateLogicalScalar(true);
        destroyLive(handle);
        mexPrintf("kdTree deleted.");
        return;
    }
    const Subcommand* subcommand = findSubcommand(name);
    if (subcommand == nullptr) raiseError(ErrorCode::unknownSubcommand, name.text());
    if (subcommand->needsObject && object == nullptr) raiseError(ErrorCode::deadHandle);
    subcommand->run(object, nlhs, plhs, nrhs, prhs);
}

void runDo(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs < 2) raiseError(ErrorCode::argumentMissing, "handle");
    void* object = decodeHandle(prhs[1]);
    runSubcommand(prhs[1], object, nlhs, plhs, nrhs, prhs);
}

void runDelete(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs < 2) raiseError(ErrorCode::argumentMissing, "handle");
    decodeHandle(prhs[1]);
    if (nlhs != 1) raiseError(ErrorCode::outputCount, 1, nlhs);
    plhs[0] = mxCreateLogicalScalar(true);
    mexPrintf("kdTree deleted.\n");
    destroyLive(prhs[1]);
}

bool isCommandString(const mxArray* array) {
    return mxGetClassID(array) == mxCHAR_CLASS && mxGetNumberOfDimensions(array) == 2 && mxGetM(array) == 1 &&
           mxGetNumberOfElements(array) >= 1;
}

}  // namespace

void* decodeHandle(const mxArray* handle) {
    const std::uint32_t token = readToken(handle);
    if (token == 0) return nullptr;
    void* object = registry().find(token);
    if (object == nullptr) raiseError(ErrorCode::deadHandle);
    return object;
}

void dispatchCommand(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs < 1) raiseError(ErrorCode::argumentMissing, "cmd");
    if (!isCommandString(prhs[0])) raiseError(ErrorCode::notCommandString, 0, "cmd");
    const CommandName command(prhs[0]);
    if (command.is("do"))
        runDo(nlhs, plhs, nrhs, prhs);
    else if (command.is("init"))
        runInit(nlhs, plhs, nrhs, prhs);
    else if (command.is("delete"))
        runDelete(nlhs, plhs, nrhs, prhs);
    else
        raiseError(ErrorCode::wrongCommand, command.text());
}

}  // namespace common

namespace {

// MATLAB's clear runs this, then unloads the module file.
void beforeUnload() {
    if (common::thisModule.beforeUnload != nullptr) common::thisModule.beforeUnload();
}

// Static data starts afresh with every load of the module file.
bool exitFunctionRegistered = false;

}  // namespace

#if defined(OCTAVE_MEX_SOVERSION)
// Octave 10 and later load a .mex only when it names the SOVERSION of their
// MEX library, as mkoctfile's builds do (the build passes it).
extern "C" MEX_ENTRY_POINT const int __octave_mex_soversion__;
extern "C" MEX_ENTRY_POINT const int __octave_mex_soversion__ = OCTAVE_MEX_SOVERSION;
#endif

// The host error is raised only after the try block has ended, so that every
// local object of the command is destroyed first and the host's own error
// exception is never caught by the handlers below. An exception of any other
// type must not leave the module either: a MinGW-built module that lets one
// escape ends MATLAB.
extern "C" MEX_ENTRY_POINT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    using namespace common;
    if (!exitFunctionRegistered) {
        mexAtExit(beforeUnload);
        keepFreedMemoryForReuse();
        exitFunctionRegistered = true;
    }
    bool failed = true;
    try {
        dispatchCommand(nlhs, plhs, nrhs, prhs);
        failed = false;
    } catch (const ModuleError&) {
    } catch (const std::bad_alloc& e) {
        formatException(ErrorCode::outOfMemory, e.what(), thisModule.name);
    } catch (const std::exception& e) {
        formatException(ErrorCode::exception, e.what(), thisModule.name);
    } catch (const char* text) {
        formatException(ErrorCode::exception, text, thisModule.name);
    } catch (...) {
        formatError(ErrorCode::exception, "An exception of unknown type was raised.");
    }
    if (failed) mexErrMsgIdAndTxt(errorIdentifier(thisModule.name), "%s", errorText());
}
