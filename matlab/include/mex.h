/* MATLAB's MEX interface as MATLAB documents it, for building the modules
 * where MATLAB's own headers are not at hand: the types and class numbers
 * of libmx and libmex, and the entry points the modules call, with the
 * large-array ones bound to their _730 names as MATLAB's headers bind them
 * under -largeArrayDims. The modules link against libmx and libmex (on
 * Windows through import libraries made from the .def files beside this
 * folder). Only what the modules call is declared. */
#ifndef TESSARY_MATLAB_MEX_H
#define TESSARY_MATLAB_MEX_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#else
#include <stdbool.h>
#include <stdint.h>
#endif

typedef struct mxArray_tag mxArray;

/* Sizes and indices are as wide as a pointer. */
typedef size_t mwSize;
typedef size_t mwIndex;
typedef ptrdiff_t mwSignedIndex;

/* A character is one UTF-16 unit. */
#ifdef __cplusplus
typedef char16_t mxChar;
#else
typedef uint_least16_t mxChar;
#endif

typedef bool mxLogical;

typedef enum {
    mxUNKNOWN_CLASS = 0,
    mxCELL_CLASS = 1,
    mxSTRUCT_CLASS = 2,
    mxLOGICAL_CLASS = 3,
    mxCHAR_CLASS = 4,
    mxVOID_CLASS = 5,
    mxDOUBLE_CLASS = 6,
    mxSINGLE_CLASS = 7,
    mxINT8_CLASS = 8,
    mxUINT8_CLASS = 9,
    mxINT16_CLASS = 10,
    mxUINT16_CLASS = 11,
    mxINT32_CLASS = 12,
    mxUINT32_CLASS = 13,
    mxINT64_CLASS = 14,
    mxUINT64_CLASS = 15,
    mxFUNCTION_CLASS = 16,
    mxOPAQUE_CLASS = 17,
    mxOBJECT_CLASS = 18
} mxClassID;

typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

/* libmx: inspection */
mxClassID mxGetClassID(const mxArray* array);
bool mxIsComplex(const mxArray* array);
bool mxIsSparse(const mxArray* array);
mwSize mxGetNumberOfDimensions_730(const mxArray* array);
size_t mxGetNumberOfElements(const mxArray* array);
size_t mxGetM(const mxArray* array);
size_t mxGetN(const mxArray* array);
void* mxGetData(const mxArray* array);
double* mxGetPr(const mxArray* array);
mxLogical* mxGetLogicals(const mxArray* array);
int mxGetString_730(const mxArray* array, char* buffer, mwSize length);

/* libmx: creation */
mxArray* mxCreateNumericMatrix_730(mwSize m, mwSize n, mxClassID classid, mxComplexity flag);
mxArray* mxCreateDoubleMatrix_730(mwSize m, mwSize n, mxComplexity flag);
mxArray* mxCreateLogicalMatrix_730(mwSize m, mwSize n);
mxArray* mxCreateLogicalScalar(mxLogical value);
mxArray* mxCreateCellMatrix_730(mwSize m, mwSize n);
void mxSetCell_730(mxArray* cell, mwIndex index, mxArray* value);

/* libmx: memory */
void* mxMalloc(size_t size);
void mxFree(void* block);

/* libmex */
void mexMakeMemoryPersistent(void* block);
void mexLock(void);
void mexUnlock(void);
int mexPrintf(const char* format, ...);
void mexErrMsgTxt(const char* message);
void mexErrMsgIdAndTxt(const char* identifier, const char* format, ...);
int mexEvalString(const char* command);
int mexAtExit(void (*exitFunction)(void));

#define mxGetNumberOfDimensions mxGetNumberOfDimensions_730
#define mxGetString mxGetString_730
#define mxCreateNumericMatrix mxCreateNumericMatrix_730
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_730
#define mxCreateLogicalMatrix mxCreateLogicalMatrix_730
#define mxCreateCellMatrix mxCreateCellMatrix_730
#define mxSetCell mxSetCell_730

/* What a module exports. */
void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

#ifdef __cplusplus
}
#endif

#endif
