#include "error_report.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace common {
namespace {

constexpr ErrorMessage messages[] = {
    {"argumentMissing", "Argument %s missing."},
    {"notCommandString", "Argument %i (%s) must be non-empty row character string."},
    {"wrongCommand", "Wrong command '%s'."},
    {"initOutputs", "Exactly one output required during 'init'."},
    {"inputCount", "There must be %i input argument(s) (not %i)."},
    {"tooFewInputs", "There must be at least %i input argument(s) (not %i)."},
    {"outputCount", "There must be %i output argument(s) (not %i)."},
    {"badHandle", "Handle argument must be vector of %i uint8 elements."},
    {"deadHandle", "Handle argument does not refer to a live object."},
    {"unknownSubcommand", "Unknown subcmd %s."},
    {"wrongClass", "Argument %s must be of %s class"},
    {"complex", "Argument %s must not be complex."},
    {"sparse", "Argument %s must not be sparse."},
    {"notMatrix", "Argument %s must be matrix"},
    {"tooLarge", "Argument %s has more than %i rows or columns."},
    {"rowCount", "Argument %s must have %i rows (not %i)"},
    {"notScalar", "Argument %s must be a scalar."},
    {"notFinite", "Argument %s must not contain NaN or Inf."},
    {"outOfRange", "Argument %s must be finite and between 0 and %i."},
    {"tooFewColumns", "Argument %s must have at least %i columns (not %i)."},
    {"columnMismatch", "Argument %s must have as many columns as %s (%i, not %i)."},
    {"badCandidate", "Argument %s row %i column %i must be 0 (no candidate) or a Gaussian number from 1 to %i."},
    {"columnCount", "Argument %s must have %i columns (not %i)."},
    {"notPositive", "Argument %s must be a positive finite number."},
    {"notCount", "Argument %s must be a whole number from 1 to %i."},
    {"keyOutOfRange", "Argument %s divided by %s must lie within %s on every axis."},
    {"notNonNegative", "Argument %s must be a finite number of at least 0."},
    {"lengthMismatch", "Argument %s must have 0 or %i elements (not %i)."},
    {"tooManyColumns", "Argument %s must have at most %i columns (not %i)."},
    {"outsideRange", "Argument %s must lie between %s and %s."},
    {"tooFewRows", "Argument %s must have at least %i rows (not %i)."},
    {"notRigid", "Argument %s must be a rigid transform [R t; 0 0 0 1], R a rotation."},
    {"resultTooLarge", "A result of %i x %i elements is too large to allocate."},
    {"outOfMemory", "Out of memory (%s)."},
    {"exception", "%s"},
};
static_assert(sizeof(messages) / sizeof(messages[0]) == static_cast<std::size_t>(ErrorCode::count),
              "every error code needs its message");

char errorBuffer[errorBufferSize];
char identifierBuffer[128];
ErrorCode currentCode = ErrorCode::exception;

}  // namespace

const ErrorMessage& errorMessage(ErrorCode code) { return messages[static_cast<std::size_t>(code)]; }

void formatError(ErrorCode code, ...) {
    currentCode = code;
    std::va_list args;
    va_start(args, code);
    // Cut after errorBufferSize - 1 characters; terminated here too, for C
    // runtimes whose vsnprintf leaves a full buffer unterminated.
    std::vsnprintf(errorBuffer, errorBufferSize, errorMessage(code).text, args);
    va_end(args);
    errorBuffer[errorBufferSize - 1] = '\0';
}

void formatException(ErrorCode code, const char* text, const char* moduleName) {
    const std::size_t length = std::strlen(moduleName);
    if (std::strncmp(text, moduleName, length) == 0 && std::strncmp(text + length, ": ", 2) == 0) text += length + 2;
    formatError(code, text);
}

const char* errorText() { return errorBuffer; }

const char* errorIdentifier(const char* moduleName) {
    std::snprintf(identifierBuffer, sizeof identifierBuffer, "%s:%s", moduleName, errorMessage(currentCode).id);
    return identifierBuffer;
}

}  // namespace common
