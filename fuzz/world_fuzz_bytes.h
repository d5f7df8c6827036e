// Reads a fuzz input as a stream of choices. Past its end every read gives
// zero, so any input, however short, makes a whole world; the choices are
// laid out so that zero picks the ordinary case.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rebound::fuzz {

class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool Empty() const { return at_ >= size_; }
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  bool Bool() { return (Byte() & 1) != 0; }
  std::uint32_t U32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | Byte();
    return v;
  }
  std::uint64_t U64() { return (std::uint64_t{U32()} << 32) | U32(); }
  // A value from lo to hi, both included (lo <= hi); as few bytes as the
  // span needs, so that small choices take one byte.
  std::int64_t Range(std::int64_t lo, std::int64_t hi) {
    const std::uint64_t span = static_cast<std::uint64_t>(hi) - static_cast<std::uint64_t>(lo);
    if (span == 0) return lo;
    std::uint64_t v = 0;
    for (std::uint64_t left = span; left != 0; left >>= 8) v = (v << 8) | Byte();
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(lo) +
                                     (span == UINT64_MAX ? v : v % (span + 1)));
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace rebound::fuzz
