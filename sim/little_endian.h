// Little-endian fields at fixed offsets, read and written by the doubles themselves (the
// simulator, the fuzz targets' scripted devices, the tests that decode what the program sent), so
// that a layout slip in the program's own helpers (os/bytes.h) cannot be mirrored here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

inline std::uint16_t Le16(const std::uint8_t* p, std::size_t at) {
    return static_cast<std::uint16_t>(p[at] | (p[at + 1] << 8));
}

inline std::uint32_t Le32(const std::uint8_t* p, std::size_t at) {
    return static_cast<std::uint32_t>(p[at]) | (static_cast<std::uint32_t>(p[at + 1]) << 8) |
           (static_cast<std::uint32_t>(p[at + 2]) << 16) |
           (static_cast<std::uint32_t>(p[at + 3]) << 24);
}

inline void PutLe32(std::uint8_t* p, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        p[at + i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFFu);
    }
}

}  // namespace sim
