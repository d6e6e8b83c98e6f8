#include "reader/mtf.h"

#include <cstring>

namespace ostrel::mtf {
namespace {

template <std::size_t N>
struct PackedTable {
  std::uint32_t ids[N];
  explicit constexpr PackedTable(const char (&table)[N][5]) : ids{} {
    for (std::size_t i = 0; i < N; ++i) {
      ids[i] = static_cast<std::uint32_t>(static_cast<unsigned char>(table[i][0])) |
               static_cast<std::uint32_t>(static_cast<unsigned char>(table[i][1])) << 8 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(table[i][2])) << 16 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(table[i][3])) << 24;
    }
  }
};

constexpr PackedTable<10> kPackedBlocks(kBlockIds);
constexpr PackedTable<17> kPackedStreams(kStreamIds);

// Compares the four bytes at once with each entry, in table order.
template <std::size_t N>
int FindTag(const std::uint8_t* p, const PackedTable<N>& table) {
  const auto first = static_cast<signed char>(p[0]);
  if (first < 'A' || first > 'Z') return kNotLetter;
  const std::uint32_t v = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                          static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
  for (std::size_t i = 0; i < N; ++i) {
    if (table.ids[i] == v) return static_cast<int>(i);
  }
  return kNoMatch;
}

// The XOR of the `words` little-endian words at the start of `view`
// compared with the word after them.
bool XorChecksumOk(ByteView view, std::size_t words) {
  if (!view.Has(0, 2 * words + 2)) return false;
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < words; ++i) sum ^= *view.U16(2 * i);
  return sum == *view.U16(2 * words);
}

}  // namespace

bool BlockChecksumOk(ByteView block) { return XorChecksumOk(block, kBlockChecksumOffset / 2); }
bool StreamChecksumOk(ByteView header) { return XorChecksumOk(header, kStreamChecksumOffset / 2); }

int FindBlockTag(const std::uint8_t* p) { return FindTag(p, kPackedBlocks); }
int FindStreamTag(const std::uint8_t* p) { return FindTag(p, kPackedStreams); }

StringAddress ReadStringAddress(ByteView block, std::size_t at) {
  return {block.U16(at).value_or(0), block.U16(at + 2).value_or(0)};
}

std::u16string CopyNameUnits(ByteView block, std::uint16_t offset, std::uint16_t size) {
  const ByteView bytes = block.Sub(offset, size);
  // Bytes past the end of the view are not part of the block: the name is cut there.
  std::u16string units((bytes.size() + 1) / 2, u'\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<char16_t>(bytes.data()[i]);
    units[i / 2] = static_cast<char16_t>(units[i / 2] | (i % 2 == 0 ? b : static_cast<char16_t>(b << 8)));
  }
  return units;
}

std::u16string CopyName(ByteView block, std::uint16_t offset, std::uint16_t size) {
  std::u16string units = CopyNameUnits(block, offset, size);
  const auto nul = units.find(u'\0');
  if (nul != std::u16string::npos) units.resize(nul);
  return units;
}

DateTime UnpackDate(std::uint64_t v) {
  DateTime d;
  d.second = static_cast<int>(v & 0x3F);
  d.minute = static_cast<int>(v >> 6 & 0x3F);
  d.hour = static_cast<int>(v >> 12 & 0x1F);
  d.day = static_cast<int>(v >> 17 & 0x1F);
  d.month = static_cast<int>(v >> 22 & 0x0F);
  d.year = static_cast<int>(v >> 26 & 0x3FFF);
  return d;
}

std::optional<std::int64_t> ReadDate(ByteView block, std::size_t at) {
  if (!block.Has(at, kDateSize)) return std::nullopt;
  std::uint64_t packed = 0;
  for (std::size_t i = 0; i < kDateSize; ++i) packed = packed << 8 | block.U8(at + i).value_or(0);
  // All zero bits fail the check too: month and day are 0.
  const DateTime d = UnpackDate(packed);
  if (!IsValidDate(d)) return std::nullopt;
  return ToUnixSeconds(d);
}

}  // namespace ostrel::mtf
