// Append-only storage for UTF-16 names. Views handed out stay valid for the
// arena's lifetime (and across moves of the arena): chunks are never moved.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace ostrel {

class NameArena {
 public:
  NameArena() = default;
  NameArena(NameArena&&) noexcept = default;
  NameArena& operator=(NameArena&&) noexcept = default;
  NameArena(const NameArena&) = delete;
  NameArena& operator=(const NameArena&) = delete;

  // Copies `name` followed by one NUL unit; the view excludes the NUL.
  std::u16string_view Store(std::u16string_view name);
  void Clear();

 private:
  static constexpr std::size_t kChunkUnits = 64 * 1024;
  std::vector<std::unique_ptr<char16_t[]>> chunks_;
  std::size_t used_ = 0;      // units used in the last regular chunk
  std::size_t capacity_ = 0;  // units in the last regular chunk
  char16_t* current_ = nullptr;
};

}  // namespace ostrel
