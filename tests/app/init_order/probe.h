// Static objects of three ranks, in files linked in an order that is not theirs; each records
// its construction and destruction in `g_steps`.
#pragma once

#include <cstddef>

inline constexpr std::size_t kMaxSteps = 8;
// Constant-initialised, so it is ready before any constructor runs.
extern int g_steps[kMaxSteps];
extern std::size_t g_stepCount;

// Records `rank` when constructed and -`rank` when destroyed.
struct Probe {
    explicit Probe(int rank);
    ~Probe();
    int rank;
};
