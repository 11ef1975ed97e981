// Checks that the ranked static objects were constructed in the order of their ranks although
// they were linked in another order (probe_3 first, then probe_1, then probe_2 from a library),
// and that they are destroyed in the reverse order. Prints what happened; exits 0 when it holds.
#include <cstdio>
#include <cstdlib>

#include "tests/app/init_order/probe.h"

int g_steps[kMaxSteps] = {};
std::size_t g_stepCount = 0;

Probe::Probe(int r) : rank(r) {
    if (g_stepCount < kMaxSteps) {
        g_steps[g_stepCount++] = r;
    }
}

Probe::~Probe() {
    if (g_stepCount < kMaxSteps) {
        g_steps[g_stepCount++] = -rank;
    }
    // The last to go checks the destruction order: 3, 2, 1.
    if (rank == 1) {
        const int expected[] = {1, 2, 3, -3, -2, -1};
        bool same = g_stepCount == 6;
        for (std::size_t i = 0; same && i < 6; ++i) {
            same = g_steps[i] == expected[i];
        }
        std::printf("destruction: %s\n", same ? "3, 2, 1" : "out of order");
        std::fflush(stdout);
        if (!same) {
            std::_Exit(1);
        }
    }
}

int main() {
    std::printf("construction:");
    for (std::size_t i = 0; i < g_stepCount; ++i) {
        std::printf(" %d", g_steps[i]);
    }
    std::printf("\n");
    const bool inOrder = g_stepCount == 3 && g_steps[0] == 1 && g_steps[1] == 2 && g_steps[2] == 3;
    return inOrder ? 0 : 1;
}
