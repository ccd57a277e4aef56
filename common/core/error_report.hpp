// Every error a module raises: one table of identifiers and message templates,
// one routine that formats them. Nothing here calls the host, so the formatting
// is tested in plain C++; the entry point hands the result to the host.
#pragma once

#include <cstddef>

namespace common {

enum class ErrorCode {
    argumentMissing,
    notCommandString,
    wrongCommand,
    initOutputs,
    inputCount,
    tooFewInputs,
    outputCount,
    badHandle,
    deadHandle,
    unknownSubcommand,
    wrongClass,
    complexValues,
    sparseStorage,
    notMatrix,
    tooLarge,
    rowCount,
    notScalar,
    notFinite,
    outOfRange,
    tooFewColumns,
    columnMismatch,
    badCandidate,
    columnCount,
    notPositive,
    notCount,
    keyOutOfRange,
    notNonNegative,
    lengthMismatch,
    tooManyColumns,
    outsideRange,
    tooFewRows,
    notRigid,
    resultTooLarge,
    outOfMemory,
    exception,
    count
};

struct ErrorMessage {
    const char* id;    // identifier suffix: "<module>:<id>"
    const char* text;  // printf-style template
};

const ErrorMessage& errorMessage(ErrorCode code);

// Room for 512 characters and the terminating zero; longer messages are cut.
constexpr std::size_t errorBufferSize = 513;

// Thrown by raiseError; the message already sits in the error buffer.
struct ModuleError {
    ErrorCode code;
};

// Formats the message of `code` into the error buffer and remembers the code.
void formatError(ErrorCode code, ...);

// The text of an exception caught at the entry point. The host prefixes
// its own errors with the module's name, as it will prefix this message
// again, so that prefix is dropped.
void formatException(ErrorCode code, const char* text, const char* moduleName);

// formatError, then throws ModuleError: a failed check never returns.
template <typename... Args>
[[noreturn]] void raiseError(ErrorCode code, Args... args) {
    formatError(code, args...);
    throw ModuleError{code};
}

const char* errorText();

// "<module>:<id>" of the last formatted error.
const char* errorIdentifier(const char* moduleName);

}  // namespace common
