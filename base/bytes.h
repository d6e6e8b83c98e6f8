// Bounds-checked little-endian reads over untrusted bytes, and 64-bit
// arithmetic that saturates instead of wrapping.
//
// No structure is ever cast over file bytes: every field is read at its named
// offset through a ByteView, which answers nothing for bytes it does not hold.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

namespace ostrel {

class ByteView {
 public:
  ByteView() = default;
  ByteView(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }

  // True when [offset, offset + count) lies inside the view.
  bool Has(std::size_t offset, std::size_t count) const {
    return offset <= size_ && count <= size_ - offset;
  }
  // The sub-view [offset, offset + count), clipped to what the view holds.
  ByteView Sub(std::size_t offset, std::size_t count) const {
    if (offset >= size_) return {};
    const std::size_t n = count < size_ - offset ? count : size_ - offset;
    return {data_ + offset, n};
  }

  std::optional<std::uint8_t> U8(std::size_t offset) const {
    if (!Has(offset, 1)) return std::nullopt;
    return data_[offset];
  }
  std::optional<std::uint16_t> U16(std::size_t offset) const {
    if (!Has(offset, 2)) return std::nullopt;
    return static_cast<std::uint16_t>(data_[offset] | (data_[offset + 1] << 8));
  }
  std::optional<std::uint32_t> U32(std::size_t offset) const {
    if (!Has(offset, 4)) return std::nullopt;
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | data_[offset + static_cast<std::size_t>(i)];
    return v;
  }
  std::optional<std::uint64_t> U64(std::size_t offset) const {
    if (!Has(offset, 8)) return std::nullopt;
    // One load where the host is little-endian (hot in the LZS bit reader).
    std::uint64_t v = 0;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(&v, data_ + offset, 8);
    } else {
      for (int i = 7; i >= 0; --i) v = (v << 8) | data_[offset + static_cast<std::size_t>(i)];
    }
    return v;
  }

 private:
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

inline constexpr std::uint64_t kU64Max = ~std::uint64_t{0};

// a + b, or 2^64 - 1 when the sum does not fit. A saturated position lies past
// every file end and every range end.
constexpr std::uint64_t SatAdd(std::uint64_t a, std::uint64_t b) {
  return a > kU64Max - b ? kU64Max : a + b;
}
constexpr std::uint64_t SatSub(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : 0; }
// Rounds up to a multiple of `m` (a power of two), saturating.
constexpr std::uint64_t SatRoundUp(std::uint64_t a, std::uint64_t m) {
  return a > kU64Max - (m - 1) ? kU64Max : (a + m - 1) & ~(m - 1);
}
constexpr std::uint64_t RoundDown(std::uint64_t a, std::uint64_t m) { return a & ~(m - 1); }

// a * b / c without overflow in the product (c > 0).
inline std::uint64_t MulDiv(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
  __extension__ using u128 = unsigned __int128;
  const u128 r = static_cast<u128>(a) * b / c;
  return r > kU64Max ? kU64Max : static_cast<std::uint64_t>(r);
}

}  // namespace ostrel
