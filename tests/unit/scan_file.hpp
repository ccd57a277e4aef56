// The lidar scan of data/ (124,668 points, x y z each), as the unit tests
// read it; empty when the file cannot be read whole.
#pragma once

#include <cstdio>
#include <vector>

namespace scan_file {

inline std::vector<double> read() {
    std::vector<double> xyz(3 * 124668);
    std::FILE* f = std::fopen(TESSARY_SCAN_FILE, "rb");
    if (f == nullptr) return {};
    const bool whole = std::fread(xyz.data(), sizeof(double), xyz.size(), f) == xyz.size();
    std::fclose(f);
    return whole ? xyz : std::vector<double>();
}

}  // namespace scan_file
