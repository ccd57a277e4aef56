// The first handle serial of a module's load.
#pragma once

#include <cstdint>

namespace common {

// A value that differs between loads of a module and between processes: a
// high-resolution clock mixed with the process id and an address of the
// module's. Not secret, only unlikely to repeat.
std::uint32_t loadSerial();

}  // namespace common
