// Catalogue records: what a scan found in a BKF file.
//
// Folder nodes form a tree linked by index (parent, newest child, next older
// sibling); file nodes form a flat list and name their folder. Both kinds are
// addressed by 64-bit index. Names live in the owning container's NameArena and
// the nodes hold views into it, so a node is cheap to keep by the million.
#pragma once

#include <cstdint>
#include <string_view>

namespace ostrel {

// An index with all bits set means "none"; all bits but the lowest "not found".
inline constexpr std::uint64_t kNone = ~std::uint64_t{0};
inline constexpr std::uint64_t kNotFound = ~std::uint64_t{0} - 1;

// Check states kept by the catalogue view.
enum : std::uint8_t { kCheckNeverSet = 0, kChecked = 1, kUnchecked = 2 };

// Fields in the order (and, apart from the name, the widths) in which the
// snapshot file stores them.
struct FolderNode {
  std::u16string_view name;  // NUL-terminated in the arena
  std::uint64_t parent = kNone;
  std::uint64_t firstChild = kNone;   // the child added most recently
  std::uint64_t nextSibling = kNone;  // the sibling added just before this one
  std::uint64_t index = 0;
  std::uint64_t firstFile = kNone;
  std::uint64_t lastFile = kNone;
  std::uint8_t checkState = kCheckNeverSet;
  std::uint8_t inTree = 0;
};

struct FileNode {
  std::u16string_view name;      // NUL-terminated in the arena
  std::uint16_t nameSize = 0;    // the size field of the FILE block's name
  std::uint64_t parent = 0;      // folder node index
  std::uint8_t kind = 'F';
  std::uint64_t index = kNone;
  std::uint64_t dataPosition = 0;  // first byte of the STAN data; 0 = no data
  std::uint64_t dataLength = 0;
  std::uint8_t checkState = kCheckNeverSet;
  std::uint8_t inTree = 0;
};

}  // namespace ostrel
