// Preloaded under valgrind only. Octave links libhwy, whose start-up times
// its clock with RDTSCP; valgrind 3.19 stops at that instruction on
// processors that do not announce it, before any test has run. This
// replaces the calibration, which nothing in a test uses.
#include <cstdint>

namespace hwy {
namespace platform {
std::uint64_t TimerResolution() { return 1; }
}  // namespace platform
}  // namespace hwy
