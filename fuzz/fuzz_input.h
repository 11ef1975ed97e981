// What every fuzz target shares: a reader that takes the input front to back (so that seeds can
// be written by hand, field by field) and a property check that stops the run with a report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

// A property that must hold for every input. libFuzzer reports the abort as a finding and keeps
// the input that caused it.
#define FUZZ_CHECK(condition)                                                               \
    do {                                                                                    \
        if (!(condition)) {                                                                 \
            std::fprintf(stderr, "%s:%d: property does not hold: %s\n", __FILE__, __LINE__, \
                         #condition);                                                       \
            std::abort();                                                                   \
        }                                                                                   \
    } while (0)

namespace fuzzinput {

// Reads fields from the start of the input; once it runs out, every field reads as zero.
class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    bool Bit() { return (Byte() & 1) != 0; }
    std::uint16_t U16() {
        const std::uint16_t low = Byte();
        return static_cast<std::uint16_t>(low | (Byte() << 8));
    }
    std::uint32_t U32() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value |= static_cast<std::uint32_t>(Byte()) << (8 * i);
        }
        return value;
    }
    // Up to `count` bytes, fewer when the input ends first.
    std::vector<std::uint8_t> Bytes(std::size_t count) {
        std::vector<std::uint8_t> out;
        while (out.size() < count && at_ < size_) {
            out.push_back(data_[at_++]);
        }
        return out;
    }
    std::vector<std::uint8_t> Rest() { return Bytes(size_ - at_); }
    bool Empty() const { return at_ >= size_; }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace fuzzinput
