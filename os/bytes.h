// Little-endian reads and writes at fixed offsets of a byte buffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bytes {

inline void PutLe16(std::uint8_t* p, std::size_t offset, std::uint16_t value) {
    p[offset] = static_cast<std::uint8_t>(value & 0xFFu);
    p[offset + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFFu);
}

inline void PutLe32(std::uint8_t* p, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        p[offset + i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFFu);
    }
}

inline std::uint16_t GetLe16(const std::uint8_t* p, std::size_t offset) {
    return static_cast<std::uint16_t>(p[offset] | (p[offset + 1] << 8));
}

inline std::uint32_t GetLe32(const std::uint8_t* p, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(p[offset + i]) << (8 * i);
    }
    return value;
}

}  // namespace bytes
