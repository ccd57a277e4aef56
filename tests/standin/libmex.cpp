// The stand-in's libmex: the MEX interface's half that talks to the host,
// passed on to the host in libmx.
#include <cstdarg>

#include "host.hpp"

namespace {

void raiseFormatted(const char* identifier, const char* text, ...) {
    std::va_list args;
    va_start(args, text);
    hostRaise(identifier, text, args);
}

}  // namespace

extern "C" {

void mexMakeMemoryPersistent(void* block) { hostMakePersistent(block); }
void mexLock(void) { hostLock(+1); }
void mexUnlock(void) { hostLock(-1); }

int mexPrintf(const char* text, ...) {
    std::va_list args;
    va_start(args, text);
    const int length = hostPrint(text, args);
    va_end(args);
    return length;
}

void mexErrMsgTxt(const char* message) { raiseFormatted("", "%s", message); }

// Does not return, so the argument list is never ended: nothing to release.
void mexErrMsgIdAndTxt(const char* identifier, const char* text, ...) {
    std::va_list args;
    va_start(args, text);
    hostRaise(identifier, text, args);
}

int mexEvalString(const char* command) {
    hostEvaluate(command);
    return 0;
}

int mexAtExit(void (*exitFunction)(void)) {
    hostAtExit(exitFunction);
    return 0;
}

}  // extern "C"
