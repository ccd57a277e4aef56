// Loads the module files into the stand-in MATLAB host and runs scenarios
// on them, calling them as MATLAB would:
//   standin_driver <module folder> <suffix> <reference file> [scenario...]
// with the scenarios commands, errors, exhaustion, cycles, identical and
// clearing (all of them when none is named). Prints each failed check and
// exits with 0 only when every check passed.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>
#else
#include <dirent.h>
#include <dlfcn.h>
#endif

#include "host.hpp"

namespace {

#if defined(_WIN32)
constexpr bool onWindows = true;
#else
constexpr bool onWindows = false;
#endif

int checks = 0, failures = 0;

void check(bool ok, const std::string& what) {
    ++checks;
    if (ok) return;
    ++failures;
    std::printf("FAILED: %s\n", what.c_str());
}

struct ModuleFile {
    void* library;
    MexFunction entry;
};

ModuleFile load(const std::string& path) {
#if defined(_WIN32)
    HMODULE library = LoadLibraryA(path.c_str());
    void* entry = library != nullptr ? reinterpret_cast<void*>(GetProcAddress(library, "mexFunction")) : nullptr;
#else
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    void* entry = library != nullptr ? dlsym(library, "mexFunction") : nullptr;
#endif
    if (entry == nullptr) {
        std::printf("cannot load mexFunction from %s\n", path.c_str());
        std::exit(2);
    }
    return {reinterpret_cast<void*>(library), reinterpret_cast<MexFunction>(entry)};
}

void unload(const ModuleFile& file) {
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(file.library));
#else
    dlclose(file.library);
#endif
}

// Threads of this process, counted as the system lists them.
int threadCount() {
    int count = 0;
#if defined(_WIN32)
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
#else
    DIR* tasks = opendir("/proc/self/task");
    while (const dirent* task = readdir(tasks)) count += task->d_name[0] != '.';
    closedir(tasks);
#endif
    return count;
}

// An array of the driver's, destroyed with it.
class Array {
public:
    explicit Array(mxArray* array = nullptr) : array_(array) {}
    Array(Array&& other) noexcept : array_(std::exchange(other.array_, nullptr)) {}
    Array& operator=(Array&& other) noexcept {
        std::swap(array_, other.array_);
        return *this;
    }
    ~Array() { hostDestroyArray(array_); }
    mxArray* get() const { return array_; }
    template <typename T>
    T* data() const { return static_cast<T*>(mxGetData(array_)); }

private:
    mxArray* array_;
};

Array make(mxClassID classId, std::vector<std::size_t> dims, bool complex = false, bool sparse = false) {
    return Array(hostCreateArray(classId, dims.size(), dims.data(), complex, sparse));
}

Array doubles(std::size_t rows, std::size_t cols, const std::vector<double>& values = {}) {
    Array a = make(mxDOUBLE_CLASS, {rows, cols});
    std::copy(values.begin(), values.end(), a.data<double>());
    return a;
}

Array scalar(double value) { return doubles(1, 1, {value}); }
Array text(const char* utf8) { return Array(hostCreateString(utf8)); }

Array bytes(std::vector<unsigned char> values) {
    Array a = make(mxUINT8_CLASS, {1, values.size()});
    std::copy(values.begin(), values.end(), a.data<unsigned char>());
    return a;
}

// Points on a small grid, deterministic.
Array cloud(std::size_t n, unsigned seed) {
    std::vector<double> v(3 * n);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<double>((i * 7919 + seed * 104729) % 97) / 8.0;
    return doubles(3, n, v);
}

struct Result {
    bool failed;
    std::string id, message, printed, evaluated;
    std::vector<Array> out;
};

Result call(MexFunction module, int nlhs, std::vector<const mxArray*> args) {
    hostClearOutput();
    std::vector<mxArray*> plhs(static_cast<std::size_t>(std::max(nlhs, 1)));
    const int status = hostCall(module, nlhs, plhs.data(), static_cast<int>(args.size()), args.data());
    Result r{status != 0, hostErrorId(), hostErrorMessage(), hostPrinted(), hostEvaluated(), {}};
    for (mxArray* p : plhs) r.out.emplace_back(p);
    return r;
}

void expectArray(const Result& r, std::size_t k, mxClassID classId, std::size_t rows, std::size_t cols,
                 const std::string& what) {
    const mxArray* a = k < r.out.size() ? r.out[k].get() : nullptr;
    check(!r.failed && a != nullptr && mxGetClassID(a) == classId && mxGetNumberOfDimensions(a) == 2 &&
              mxGetM(a) == rows && mxGetN(a) == cols,
          what + ": output " + std::to_string(k + 1) + " of class " + std::to_string(classId) + ", " +
              std::to_string(rows) + " x " + std::to_string(cols) + (r.failed ? " (" + r.message + ")" : ""));
}

void expectTrue(const Result& r, const std::string& what) {
    expectArray(r, 0, mxLOGICAL_CLASS, 1, 1, what);
    check(!r.failed && *mxGetLogicals(r.out[0].get()), what + " returns true");
}

void expectError(const Result& r, const std::string& id, const std::string& message) {
    check(r.failed && r.id == id && r.message == message,
          "expected " + id + " \"" + message + "\", got " + (r.failed ? r.id + " \"" + r.message + "\"" : "no error"));
}

struct Modules {
    MexFunction tessary, corvane;
};

// Both module files, loaded as MATLAB loads them on their first call.
class Loaded {
public:
    explicit Loaded(std::string prefix, std::string suffix) : prefix_(std::move(prefix)), suffix_(std::move(suffix)) {
        loadBoth();
    }
    const Modules& modules() const { return modules_; }

    // MATLAB's clear of both modules, then the next call loads them afresh.
    // False, and nothing unloaded, when a module is locked.
    bool clearAndReload() {
        if (hostLockCount(modules_.tessary) > 0 || hostLockCount(modules_.corvane) > 0) return false;
        for (const ModuleFile& file : {tessary_, corvane_}) {
            if (hostClear(file.entry) == 0) return false;
            unload(file);
        }
        loadBoth();
        return true;
    }

private:
    void loadBoth() {
        tessary_ = load(prefix_ + "tessary" + suffix_);
        corvane_ = load(prefix_ + "corvane" + suffix_);
        modules_ = {tessary_.entry, corvane_.entry};
    }

    std::string prefix_, suffix_;
    ModuleFile tessary_{}, corvane_{};
    Modules modules_{};
};

Array newObject(MexFunction module, const Array& pts) {
    Result r = call(module, 1, {text("init").get(), pts.get()});
    check(!r.failed, "init: " + r.message);
    return std::move(r.out[0]);
}

void deleteObject(MexFunction module, const Array& handle) {
    check(!call(module, 1, {text("delete").get(), handle.get()}).failed, "delete");
}

// A clear-cut gate: distances along x under the identity are |x - mean|.
struct Gate {
    Array points = doubles(3, 3), ids = doubles(3, 3, {1, 2, 3, 3, 3, 2, 3, 3, 3});
    Array means = doubles(3, 3, {1.5, 0, 0, 0.5, 0, 0, 3, 0, 0});
    Array covs = doubles(9, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 0, 0, 0, 1, 0, 0, 0, 1});
    Array one = scalar(1), two = scalar(2);
};

// Arrays of no elements, which come without a data block, in and out.
void empties(const Modules& m) {
    const Array none = doubles(3, 0), doText = text("do");
    deleteObject(m.corvane, newObject(m.corvane, none));
    const Array h = newObject(m.tessary, none);
    const Result knn = call(m.tessary, 2, {doText.get(), h.get(), text("knnsearch").get(), none.get(), scalar(3).get()});
    expectArray(knn, 1, mxDOUBLE_CLASS, 3, 0, "knnsearch of no queries");
    const Result k0 = call(m.tessary, 2, {doText.get(), h.get(), text("knnsearch").get(), cloud(4, 3).get(),
                                          scalar(0).get()});
    expectArray(k0, 1, mxDOUBLE_CLASS, 0, 4, "knnsearch with K = 0");
    const Array covs = doubles(9, 0), zero = scalar(0);
    const Result kd = call(m.tessary, 3, {doText.get(), h.get(), text("kd").get(), none.get(), none.get(), none.get(),
                                          covs.get(), zero.get(), zero.get()});
    expectArray(kd, 2, mxDOUBLE_CLASS, 1, 0, "kd of no points");
    deleteObject(m.tessary, h);
}

void commands(const Modules& m) {
    const Array pts = cloud(50, 1), kd = text("kd"), kd2 = text("kd2"), doText = text("do");
    for (MexFunction module : {m.tessary, m.corvane}) {
        const bool isTessary = module == m.tessary;
        const std::string name = isTessary ? "tessary" : "corvane";
        Result init = call(module, 1, {text("init").get(), pts.get()});
        expectArray(init, 0, mxUINT8_CLASS, 1, 4, name + " init");
        check(init.printed == (isTessary ? "kd size init: 50" : ""), name + " init prints \"" + init.printed + "\"");
        check(init.evaluated == (isTessary ? "pause(.001);\n" : ""), name + " init evaluates \"" + init.evaluated + "\"");
        check(hostLockCount(module) == 1, name + " locked once");
        const Array handle = std::move(init.out[0]);

        if (isTessary) {
            const Result knn = call(module, 2, {doText.get(), handle.get(), text("knnsearch").get(),
                                                cloud(7, 2).get(), scalar(3).get()});
            expectArray(knn, 0, mxDOUBLE_CLASS, 3, 7, "knnsearch numbers");
            expectArray(knn, 1, mxDOUBLE_CLASS, 3, 7, "knnsearch distances");
            const Gate g;
            const std::vector<const mxArray*> gate = {doText.get(), handle.get(), kd.get(), g.points.get(),
                                                      g.ids.get(), g.means.get(), g.covs.get(), g.one.get(),
                                                      g.two.get()};
            for (int nlhs = 0; nlhs <= 3; ++nlhs) {
                const Result r = call(module, nlhs, gate);
                const std::string what = "kd with " + std::to_string(nlhs) + " outputs";
                expectArray(r, 0, mxLOGICAL_CLASS, 1, 3, what);
                if (nlhs >= 2) expectArray(r, 1, mxLOGICAL_CLASS, 1, 3, what);
                if (nlhs == 3) {
                    expectArray(r, 2, mxDOUBLE_CLASS, 1, 2, what);
                    const mxLogical* in = mxGetLogicals(r.out[0].get());
                    const mxLogical* up = mxGetLogicals(r.out[1].get());
                    check(!in[0] && in[1] && !in[2] && up[0] && up[1] && !up[2], "kd masks");
                    check(mxGetPr(r.out[2].get())[0] == -2 && mxGetPr(r.out[2].get())[1] == -2, "kd labels");
                }
            }
            std::vector<const mxArray*> strict(gate.begin(), gate.end() - 1);
            strict[2] = kd2.get();
            const Result r = call(module, 1, strict);
            expectArray(r, 0, mxLOGICAL_CLASS, 1, 3, "kd2");
            const mxLogical* in = mxGetLogicals(r.out[0].get());
            check(in[0] && in[1] && !in[2], "kd2 mask");
        }

        const Result del = call(module, 1, {doText.get(), handle.get(), text("DELETE").get()});
        expectTrue(del, name + " DELETE");
        check(del.printed == "kdTree deleted.", name + " DELETE prints \"" + del.printed + "\"");
        check(hostLockCount(module) == 0, name + " unlocked after DELETE");

        const Array other = newObject(module, pts);
        const Result gone = call(module, 1, {text("delete").get(), other.get()});
        expectTrue(gone, name + " delete");
        check(gone.printed == "kdTree deleted.\n", name + " delete prints \"" + gone.printed + "\"");
        const Result none = call(module, 1, {text("delete").get(), bytes({0, 0, 0, 0}).get()});
        expectTrue(none, name + " delete of the zero handle");
        check(hostLockCount(module) == 0, name + " unlocked after delete");
    }
    empties(m);
}

void errors(const Modules& m) {
    const MexFunction t = m.tessary, c = m.corvane;
    const std::size_t blocks = hostPersistentBlocks();
    const Array pts = cloud(20, 3), init = text("init"), doText = text("do"), knn = text("knnsearch");
    const Array kd2 = text("kd2");
    const Array h = newObject(t, pts), ch = newObject(c, pts);
    const Array q = cloud(4, 4);
    auto search = [&](const Array& k) { return call(t, 2, {doText.get(), h.get(), knn.get(), q.get(), k.get()}); };

    expectError(call(t, 0, {}), "tessary:argumentMissing", "Argument cmd missing.");
    expectError(call(c, 0, {doText.get()}), "corvane:argumentMissing", "Argument handle missing.");
    expectError(call(t, 0, {scalar(5).get()}), "tessary:notCommandString",
                "Argument 0 (cmd) must be non-empty row character string.");
    expectError(call(t, 1, {text("INIT").get(), pts.get()}), "tessary:wrongCommand", "Wrong command 'INIT'.");
    expectError(call(c, 0, {text("abcdefghijklmnopqrstuvwxy").get()}), "corvane:wrongCommand",
                "Wrong command 'abcdefghijklmnopqrs'.");
    expectError(call(t, 0, {text("d\xc3\xb6").get()}), "tessary:wrongCommand", "Wrong command 'd\xc3\xb6'.");
    expectError(call(t, 0, {init.get(), pts.get()}), "tessary:initOutputs", "Exactly one output required during 'init'.");
    expectError(call(c, 1, {init.get()}), "corvane:inputCount", "There must be 2 input argument(s) (not 1).");
    expectError(call(t, 0, {doText.get(), h.get()}), "tessary:tooFewInputs",
                "There must be at least 3 input argument(s) (not 2).");
    expectError(call(c, 0, {text("delete").get(), ch.get()}), "corvane:outputCount",
                "There must be 1 output argument(s) (not 0).");
    expectError(call(t, 0, {doText.get(), bytes({1, 2, 3}).get(), text("x").get()}), "tessary:badHandle",
                "Handle argument must be vector of 4 uint8 elements.");
    expectError(call(t, 1, {doText.get(), h.get(), text("delete").get()}), "tessary:unknownSubcommand",
                "Unknown subcmd delete.");
    expectError(call(t, 1, {init.get(), make(mxSINGLE_CLASS, {3, 4}).get()}), "tessary:wrongClass",
                "Argument pts must be of DOUBLE class");
    expectError(call(t, 1, {init.get(), make(mxDOUBLE_CLASS, {3, 4}, true).get()}), "tessary:complex",
                "Argument pts must not be complex.");
    expectError(call(c, 1, {init.get(), make(mxDOUBLE_CLASS, {3, 4}, false, true).get()}), "corvane:sparse",
                "Argument pts must not be sparse.");
    expectError(call(t, 1, {init.get(), make(mxDOUBLE_CLASS, {3, 4, 2}).get()}), "tessary:notMatrix",
                "Argument pts must be matrix");
    expectError(call(t, 1, {init.get(), make(mxDOUBLE_CLASS, {std::size_t{1} << 31, 0}).get()}), "tessary:tooLarge",
                "Argument pts has more than 2147483647 rows or columns.");
    expectError(call(c, 1, {init.get(), doubles(2, 5).get()}), "corvane:rowCount",
                "Argument pts must have 3 rows (not 2)");
    expectError(search(doubles(1, 2, {3, 4})), "tessary:notScalar", "Argument K must be a scalar.");
    expectError(call(t, 1, {init.get(), doubles(3, 1, {1, std::nan(""), 2}).get()}), "tessary:notFinite",
                "Argument pts must not contain NaN or Inf.");
    expectError(search(scalar(-1)), "tessary:outOfRange", "Argument K must be finite and between 0 and 2147483647.");
    const Array means = doubles(3, 1), covs = doubles(9, 1), mahal = scalar(1);
    auto gate = [&](const Array& points, const Array& ids, const Array& covariances) {
        return call(t, 1, {doText.get(), h.get(), kd2.get(), points.get(), ids.get(), means.get(), covariances.get(),
                           mahal.get()});
    };
    expectError(gate(doubles(3, 2), doubles(3, 1), covs), "tessary:tooFewColumns",
                "Argument ids must have at least 2 columns (not 1).");
    expectError(gate(doubles(3, 1), doubles(3, 1), doubles(9, 2)), "tessary:columnMismatch",
                "Argument covs must have as many columns as means (1, not 2).");
    expectError(gate(doubles(3, 1), doubles(3, 1, {0, 5, 0}), covs), "tessary:badCandidate",
                "Argument ids row 2 column 1 must be 0 (no candidate) or a Gaussian number from 1 to 1.");
    // A result no address space holds is refused before any allocation; on
    // 64 bits the largest K asks more than MATLAB can make, which ends the
    // call there.
    if (sizeof(void*) == 4)
        expectError(search(scalar(2e9)), "tessary:resultTooLarge",
                    "A result of 2000000000 x 4 elements is too large to allocate.");
    else
        check(search(scalar(2147483647)).id == "MATLAB:nomem", "knnsearch of 2147483647 x 4 fails in the host");

    // 32-bit MinGW unwinds by tables each DLL keeps to itself: there an
    // exception cannot travel from the host's DLL into a module at all.
    if (!(onWindows && sizeof(void*) == 4)) {
        const std::size_t before = hostPersistentBlocks();
        hostThrowInEvaluation();
        expectError(call(t, 1, {init.get(), pts.get()}), "tessary:exception", "An exception of unknown type was raised.");
        check(hostPersistentBlocks() == before && hostLockCount(t) == 1, "an unknown exception leaves nothing behind");
    }

    // Stale, forged and other-module handles.
    const char* dead = "Handle argument does not refer to a live object.";
    Array stale = newObject(t, pts);
    deleteObject(t, stale);
    expectError(call(t, 2, {doText.get(), stale.get(), knn.get(), q.get(), scalar(1).get()}), "tessary:deadHandle", dead);
    expectError(call(t, 1, {text("delete").get(), stale.get()}), "tessary:deadHandle", dead);
    Array forged = bytes({0, 0, 0, 0});
    std::memcpy(forged.data<unsigned char>(), h.data<unsigned char>(), 4);
    forged.data<unsigned char>()[0] ^= 0x55;
    expectError(call(t, 1, {doText.get(), forged.get(), text("DELETE").get()}), "tessary:deadHandle", dead);
    expectError(call(t, 1, {text("delete").get(), ch.get()}), "tessary:deadHandle", dead);
    expectError(call(c, 1, {text("delete").get(), h.get()}), "corvane:deadHandle", dead);

    // MATLAB ends a call at once when it cannot make an array. Whichever
    // array fails, the call must hold nothing by then: the blocks in use
    // and the locks stay as they were, and the object stays usable.
    const Gate g;
    const Array three = scalar(3), kd = text("kd"), remove = text("delete"), destroy = text("DELETE");
    struct Failing {
        const char* what;
        int outputs;  // each one array
        std::vector<const mxArray*> args;
    };
    const std::vector<Failing> calls = {
        {"init", 1, {init.get(), pts.get()}},
        {"knnsearch", 2, {doText.get(), h.get(), knn.get(), q.get(), three.get()}},
        {"kd", 3, {doText.get(), h.get(), kd.get(), g.points.get(), g.ids.get(), g.means.get(), g.covs.get(),
                   g.one.get(), g.two.get()}},
        {"kd2", 1, {doText.get(), h.get(), kd2.get(), g.points.get(), g.ids.get(), g.means.get(), g.covs.get(),
                    g.one.get()}},
        {"delete", 1, {remove.get(), h.get()}},
        {"DELETE", 1, {doText.get(), h.get(), destroy.get()}}};
    for (const Failing& f : calls) {
        for (int failing = 1; failing <= f.outputs; ++failing) {
            const std::string what = std::string(f.what) + " with array " + std::to_string(failing) + " failing";
            const std::size_t before = hostPersistentBlocks();
            hostFailArrayCreation(failing);
            const Result r = call(t, f.outputs, f.args);
            check(r.id == "MATLAB:nomem", what + " ends in the host's error");
            check(hostPersistentBlocks() == before, what + " holds no memory afterwards");
            check(hostLockCount(t) == 1, what + " leaves the lock as it was");
        }
    }
    check(!call(t, 2, calls[1].args).failed, "the object survives them");

    deleteObject(t, h);
    deleteObject(c, ch);
    check(hostLockCount(t) == 0 && hostLockCount(c) == 0, "no lock once every object is deleted");
    check(hostPersistentBlocks() == blocks, "no persistent block once every object is deleted");
}

void cycles(const Modules& m) {
    const Array pts = cloud(2000, 5), q = cloud(100, 6), doText = text("do"), k = scalar(3);
    const Gate g;
    std::size_t afterFirst = 0;
    for (int cycle = 1; cycle <= 1000; ++cycle) {
        const Array h = newObject(m.tessary, pts);
        check(!call(m.tessary, 2, {doText.get(), h.get(), text("knnsearch").get(), q.get(), k.get()}).failed,
              "knnsearch");
        check(!call(m.tessary, 3, {doText.get(), h.get(), text("kd").get(), g.points.get(), g.ids.get(),
                                   g.means.get(), g.covs.get(), g.one.get(), g.two.get()})
                   .failed,
              "kd");
        deleteObject(m.tessary, h);
        deleteObject(m.corvane, newObject(m.corvane, pts));
        if (cycle == 1) afterFirst = hostPersistentBlocks();
        if (failures > 0) return;
    }
    std::printf("persistent blocks: %zu after the first cycle, %zu after the last\n", afterFirst,
                hostPersistentBlocks());
    check(hostPersistentBlocks() == afterFirst, "live persistent blocks after the last cycle as after the first");
    check(hostLockCount(m.tessary) == 0 && hostLockCount(m.corvane) == 0, "no lock after the cycles");
}

// MATLAB ends a call at once when mxMalloc finds no memory, running none of
// the module's destructors. Every block is made persistent as it is taken,
// so the blocks the call held by then are lost; the module itself must stay
// sound: its lock counts its live objects, and every handle still works.
void exhaustion(const Modules& m) {
    const MexFunction t = m.tessary, c = m.corvane;
    const Array pts = cloud(300, 9), q = cloud(50, 10), doText = text("do"), init = text("init");
    const Array knn = text("knnsearch"), kd = text("kd"), kd2 = text("kd2"), three = scalar(3);
    // rangesearch of the layer, sorted: rows 50 x 3 and the buffers it sorts in.
    const Array range = text("rangerows"), queryRows = doubles(50, 3, std::vector<double>(mxGetPr(q.get()), mxGetPr(q.get()) + 150));
    const Array radius = scalar(2.0), allRows = doubles(0, 0), sorted = scalar(1);
    const Array kept = newObject(t, pts), keptPlaceholder = newObject(c, pts);
    auto search = [&](const Array& h) { return call(t, 2, {doText.get(), h.get(), knn.get(), q.get(), three.get()}); };
    const Result expected = search(kept);
    const Gate g;
    struct Form {
        const char* what;
        MexFunction module;
        int outputs;
        std::vector<const mxArray*> args;
    };
    const std::vector<Form> forms = {
        {"init", t, 1, {init.get(), pts.get()}},
        {"knnsearch", t, 2, {doText.get(), kept.get(), knn.get(), q.get(), three.get()}},
        {"rangerows", t, 2, {doText.get(), kept.get(), range.get(), queryRows.get(), radius.get(), allRows.get(), sorted.get()}},
        {"kd", t, 3, {doText.get(), kept.get(), kd.get(), g.points.get(), g.ids.get(), g.means.get(), g.covs.get(),
                      g.one.get(), g.two.get()}},
        {"kd2", t, 1, {doText.get(), kept.get(), kd2.get(), g.points.get(), g.ids.get(), g.means.get(),
                       g.covs.get(), g.one.get()}},
        {"corvane init", c, 1, {init.get(), pts.get()}}};
    for (const Form& f : forms) {
        const Result whole = call(f.module, f.outputs, f.args);
        const int allocations = hostAllocations();
        if (std::string(f.what).find("init") != std::string::npos) deleteObject(f.module, whole.out[0]);
        std::size_t lost = 0;
        for (int n = 1; n <= allocations; ++n) {
            const std::string what = std::string(f.what) + " with allocation " + std::to_string(n) + " of " +
                                     std::to_string(allocations) + " failing";
            const std::size_t before = hostPersistentBlocks();
            hostFailAllocation(n);
            check(call(f.module, f.outputs, f.args).id == "MATLAB:nomem", what + " ends in the host's error");
            const std::size_t after = hostPersistentBlocks();
            check(after >= before && after - before < static_cast<std::size_t>(n), what + " loses only blocks it took");
            lost += after - before;
            check(hostLockCount(t) == 1 && hostLockCount(c) == 1, what + ": each lock counts the live objects");
            const Result again = search(kept);
            check(!again.failed && std::memcmp(mxGetData(again.out[1].get()), mxGetData(expected.out[1].get()),
                                               3 * 50 * sizeof(double)) == 0,
                  what + ": the object made before still gives its results");
        }
        std::printf("%s: %d allocations; failing each in turn lost %zu blocks in all\n", f.what, allocations, lost);
    }
    const Array fresh = newObject(t, pts);
    check(!search(fresh).failed, "an object made afterwards works");
    for (const Array* h : {&fresh, &kept}) deleteObject(t, *h);
    deleteObject(c, keptPlaceholder);
    check(hostLockCount(t) == 0 && hostLockCount(c) == 0, "no lock once every object is deleted");
}

// MATLAB's clear runs a module's exit function, then unloads its file, and
// the next call loads it again. Nothing the module started may outlive its
// file: after every clear the process has the threads it had before.
void clearing(Loaded& loaded) {
    // From a fresh load: the scenarios before may have started threads of
    // the module as it is loaded now.
    check(loaded.clearAndReload(), "both modules are cleared before the scenario");
#if defined(_OPENMP)
    // The host's own OpenMP runtime, as Octave and MATLAB on Linux have one,
    // with its threads started before any module runs.
    int team = 0;
#pragma omp parallel reduction(+ : team)
    team += 1;
    std::printf("the host's OpenMP runtime has started %d threads\n", team);
#endif
    const int start = threadCount();
    const Array pts = cloud(20000, 11), q = cloud(5000, 12), doText = text("do"), zero = bytes({0, 0, 0, 0});
    const Gate g;
    constexpr int clears = 30;
    // The handle of the object the load before made: the next load numbers
    // its objects afresh, so it names none of them.
    Array earlier = bytes({0, 0, 0, 0});
    for (int cycle = 1; cycle <= clears && failures == 0; ++cycle) {
        const Modules& m = loaded.modules();
        check(!call(m.tessary, 1, {doText.get(), zero.get(), text("kd2").get(), g.points.get(), g.ids.get(),
                                   g.means.get(), g.covs.get(), g.one.get()})
                   .failed,
              "kd2 with the zero handle");
        const Array h = newObject(m.tessary, pts);
        check(!call(m.tessary, 2, {doText.get(), h.get(), text("knnsearch").get(), q.get(), scalar(3).get()}).failed,
              "knnsearch");
        if (cycle > 1) {
            check(std::memcmp(earlier.data<unsigned char>(), h.data<unsigned char>(), 3) != 0,
                  "two loads start at different serials");
            expectError(call(m.tessary, 2, {doText.get(), earlier.get(), text("knnsearch").get(), q.get(),
                                            scalar(1).get()}),
                        "tessary:deadHandle", "Handle argument does not refer to a live object.");
        }
        std::memcpy(earlier.data<unsigned char>(), h.data<unsigned char>(), 4);
        if (cycle == clears) {
            check(hostClear(m.tessary) == 0, "a locked module is not cleared");
            check(!call(m.tessary, 2, {doText.get(), h.get(), text("knnsearch").get(), q.get(), scalar(1).get()}).failed,
                  "a module that was not cleared still works");
        }
        deleteObject(m.tessary, h);
        deleteObject(m.corvane, newObject(m.corvane, pts));
        check(loaded.clearAndReload(), "both modules are cleared once their objects are deleted");
    }
    std::printf("threads: %d at the start, %d after %d clears\n", start, threadCount(), clears);
    check(threadCount() == start, "the threads of the process are back to those at the start");
}

// The reference: named matrices as written by make_reference.m, each a
// 16-byte name, a class (1 double, 2 logical), rows and columns as uint64,
// then the elements.
std::map<std::string, Array> readReference(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::map<std::string, Array> arrays;
    char name[17] = {};
    while (in.read(name, 16)) {
        std::uint32_t kind;
        std::uint64_t rows, cols;
        in.read(reinterpret_cast<char*>(&kind), 4).read(reinterpret_cast<char*>(&rows), 8);
        in.read(reinterpret_cast<char*>(&cols), 8);
        Array a = make(kind == 1 ? mxDOUBLE_CLASS : mxLOGICAL_CLASS,
                       {static_cast<std::size_t>(rows), static_cast<std::size_t>(cols)});
        in.read(a.data<char>(), static_cast<std::streamsize>(rows * cols * (kind == 1 ? 8 : 1)));
        arrays.emplace(name, std::move(a));
    }
    if (arrays.empty()) std::printf("no reference in %s\n", path.c_str());
    return arrays;
}

void expectSameBits(const Result& r, std::size_t k, const Array& expected, const std::string& what) {
    const mxArray* a = k < r.out.size() ? r.out[k].get() : nullptr;
    const bool sameShape = !r.failed && a != nullptr && mxGetClassID(a) == mxGetClassID(expected.get()) &&
                           mxGetM(a) == mxGetM(expected.get()) && mxGetN(a) == mxGetN(expected.get());
    const std::size_t size = mxGetClassID(expected.get()) == mxDOUBLE_CLASS ? 8 : 1;
    const std::size_t bytes = sameShape ? mxGetNumberOfElements(a) * size : 0;
    check(sameShape && (bytes == 0 || std::memcmp(mxGetData(a), mxGetData(expected.get()), bytes) == 0),
          what + " is bit for bit the Octave build's" + (r.failed ? " (" + r.message + ")" : ""));
}

void identical(const Modules& m, const std::string& referenceFile) {
    std::map<std::string, Array> ref = readReference(referenceFile);
    // 41 arrays, of which the scenarios here replay 31; the rest are for
    // builds on other Debian releases, which compare the whole file.
    check(ref.size() == 41, "the reference holds 41 arrays");
    if (failures > 0) return;
    const Array doText = text("do");
    const Array h = newObject(m.tessary, ref["scan"]);
    for (int k : {1, 3, 10}) {
        const Array K = scalar(k);
        const Result r =
            call(m.tessary, 2, {doText.get(), h.get(), text("knnsearch").get(), ref["queries"].get(), K.get()});
        expectSameBits(r, 0, ref["idx" + std::to_string(k)], "knnsearch numbers, K = " + std::to_string(k));
        expectSameBits(r, 1, ref["d2_" + std::to_string(k)], "knnsearch distances, K = " + std::to_string(k));
    }
    const Array none = bytes({0, 0, 0, 0});
    const Result voxels = call(m.tessary, 3, {doText.get(), none.get(), text("voxelGaussians").get(), ref["rows"].get(),
                                              scalar(2).get(), scalar(6).get()});
    expectSameBits(voxels, 0, ref["vox_means"], "voxelGaussians means");
    expectSameBits(voxels, 1, ref["vox_covs"], "voxelGaussians covs");
    expectSameBits(voxels, 2, ref["vox_counts"], "voxelGaussians counts");
    const Result clusters = call(m.tessary, 2, {doText.get(), none.get(), text("densityClusters").get(),
                                                ref["rows"].get(), scalar(0.75).get(), scalar(5).get()});
    expectSameBits(clusters, 0, ref["dc_idx"], "densityClusters idx");
    expectSameBits(clusters, 1, ref["dc_core"], "densityClusters corepts");
    const Array identity = make(mxDOUBLE_CLASS, {4, 4});
    for (int k = 0; k < 4; ++k) identity.data<double>()[5 * k] = 1.0;
    const Result registration =
        call(m.tessary, 6, {doText.get(), none.get(), text("registerToMap").get(), ref["reg_scan"].get(),
                            ref["vox_means"].get(), ref["vox_covs"].get(), identity.get(), scalar(30).get(),
                            scalar(1e-3).get(), scalar(1e-5).get(), scalar(0.55).get(), scalar(2).get(),
                            scalar(0.01).get()});
    const char* registered[] = {"reg_T", "reg_converged", "reg_iterations", "reg_score", "reg_hessian", "reg_distances"};
    for (std::size_t k = 0; k < 6; ++k) expectSameBits(registration, k, ref[registered[k]], std::string("registerToMap ") + registered[k]);
    const Array kdText = text("kd"), kd2 = text("kd2");
    std::vector<const mxArray*> gate = {doText.get(),         h.get(),           kdText.get(),
                                        ref["points"].get(),  ref["ids"].get(),  ref["means"].get(),
                                        ref["covs"].get(),    ref["mahal"].get(), ref["mahalUpper"].get()};
    const Result kd = call(m.tessary, 3, gate);
    expectSameBits(kd, 0, ref["kd_in"], "kd in");
    expectSameBits(kd, 1, ref["kd_inUpper"], "kd inUpper");
    expectSameBits(kd, 2, ref["kd_labels"], "kd labels");
    gate.pop_back();
    gate[2] = kd2.get();
    expectSameBits(call(m.tessary, 1, gate), 0, ref["kd2_in"], "kd2 in");
    deleteObject(m.tessary, h);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::printf("usage: standin_driver <module folder> <suffix> <reference file> [scenario...]\n");
        return 2;
    }
    const std::string folder = argv[1], suffix = argv[2], reference = argv[3];
    Loaded loaded(folder + "/", suffix);
    const std::map<std::string, std::function<void()>> scenarios = {
        {"commands", [&] { commands(loaded.modules()); }},
        {"errors", [&] { errors(loaded.modules()); }},
        {"exhaustion", [&] { exhaustion(loaded.modules()); }},
        {"cycles", [&] { cycles(loaded.modules()); }},
        {"identical", [&] { identical(loaded.modules(), reference); }},
        {"clearing", [&] { clearing(loaded); }},
    };
    std::vector<std::string> chosen(argv + 4, argv + argc);
    if (chosen.empty()) chosen = {"commands", "errors", "exhaustion", "cycles", "identical", "clearing"};
    for (const std::string& name : chosen) {
        const auto it = scenarios.find(name);
        if (it == scenarios.end()) {
            std::printf("unknown scenario %s\n", name.c_str());
            return 2;
        }
        const int before = failures;
        it->second();
        std::printf("%s: %d failed\n", name.c_str(), failures - before);
    }
    const std::string faults = hostFaults();
    check(faults.empty(), "no misuse of the interface; seen:\n" + faults);
    std::printf("%d checks, %d failed\n", checks, failures);
    return failures == 0 ? 0 : 1;
}
