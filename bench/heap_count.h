// Counts the heap allocations the benchmark program makes (every operator new), so that a
// benchmark can show how many a piece of the program takes per call.
#pragma once

#include <cstddef>

namespace heapcount {

// Allocations since the program started.
std::size_t Allocations();

}  // namespace heapcount
