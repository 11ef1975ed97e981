#include "sim/letters.h"

namespace sim {

std::uint32_t PresentLetters(const World& world) {
    std::uint32_t letters = 0;
    for (int i = 0; i < kLetterCount; ++i) {
        if (world.drive(static_cast<char>('A' + i)).present) {
            letters |= 1u << i;
        }
    }
    return letters;
}

std::vector<LetterEvent> LetterEvents(std::uint32_t before, std::uint32_t after) {
    std::vector<LetterEvent> events;
    for (const bool arrivals : {false, true}) {
        for (int i = 0; i < kLetterCount; ++i) {
            const std::uint32_t bit = 1u << i;
            if (((after & bit) != 0) == arrivals && ((before & bit) != 0) != arrivals) {
                events.push_back({arrivals, static_cast<char>('A' + i)});
            }
        }
    }
    return events;
}

LetterState LettersOf(World& world) {
    LetterState state;
    state.present = PresentLetters(world);
    for (int i = 0; i < kLetterCount; ++i) {
        const Camera* camera = world.CameraOn(static_cast<char>('A' + i));
        if ((state.present & (1u << i)) != 0 && camera != nullptr &&
            camera->mode == CameraMode::kStorage) {
            state.storage |= 1u << i;
        }
    }
    return state;
}

std::vector<LetterEvent> VolumeEvents(const LetterState& before, const LetterState& after) {
    std::vector<LetterEvent> events = LetterEvents(before.present, after.present);
    const std::uint32_t stayed = before.present & after.present;
    const std::uint32_t media = after.storage & ~before.storage & stayed;
    for (int i = 0; i < kLetterCount; ++i) {
        if ((media & (1u << i)) != 0) {
            events.push_back({true, static_cast<char>('A' + i)});
        }
    }
    return events;
}

}  // namespace sim
