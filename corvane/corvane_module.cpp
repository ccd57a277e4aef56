// The corvane module: the command protocol around an empty placeholder object.
#include "arguments.hpp"
#include "error_report.hpp"
#include "module.hpp"

namespace corvane {
namespace {

using common::ErrorCode;
using common::raiseError;

constexpr const char* initNames[] = {"cmd", "pts"};

// Only its address matters; its content is never read.
struct PlaceholderObject {
    unsigned char unused;
};

void* createObject(int nrhs, const mxArray* prhs[]) {
    if (nrhs != 2) raiseError(ErrorCode::inputCount, 2, nrhs);
    const common::MatrixArg pts(prhs[1], initNames[1]);
    pts.requireRows(3);
    return new PlaceholderObject();
}

void destroyObject(void* object) { delete static_cast<PlaceholderObject*>(object); }

}  // namespace
}  // namespace corvane

const common::Module common::thisModule = {
    "corvane", 'C', corvane::createObject, corvane::destroyObject, nullptr, 0, nullptr,
};
