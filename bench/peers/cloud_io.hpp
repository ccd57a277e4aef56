// Raw little-endian float64 files, column-major, as the benchmark driver
// writes them; and the timing lines every peer prints, one per call.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

inline std::vector<double> readDoubles(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        std::exit(2);
    }
    std::fseek(f, 0, SEEK_END);
    const long bytes = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    std::vector<double> values(static_cast<std::size_t>(bytes) / sizeof(double));
    if (std::fread(values.data(), sizeof(double), values.size(), f) != values.size()) std::exit(2);
    std::fclose(f);
    return values;
}

template <typename T>
void writeValues(const std::string& path, const std::vector<T>& values) {
    if (path.empty() || path == "-") return;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(values.data(), sizeof(T), values.size(), f);
    std::fclose(f);
}

class Stopwatch {
public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    double milliseconds() const {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
    }

private:
    std::chrono::steady_clock::time_point start_;
};

inline void reportTime(double ms) { std::printf("ms=%.6f\n", ms); }

// How many times a peer makes its call in one process (BENCH_CALLS, 6 when
// unset): the first call, on fresh memory, then the warm ones.
inline int callCount() {
    const char* text = std::getenv("BENCH_CALLS");
    const int calls = text != nullptr ? std::atoi(text) : 6;
    return calls > 0 ? calls : 1;
}

// Times `call` callCount() times and prints each time.
template <typename Call>
void timeCalls(Call call) {
    for (int c = callCount(); c > 0; --c) {
        Stopwatch clock;
        call();
        reportTime(clock.milliseconds());
    }
}

// Starts the OpenMP threads, so that no timed call pays for their creation.
inline void warmUpThreads() {
    volatile int sink = 0;
#pragma omp parallel
    { sink = sink + 1; }
}

}  // namespace bench
