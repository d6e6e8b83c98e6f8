#include "catalogue/name_arena.h"

#include <algorithm>

namespace ostrel {

std::u16string_view NameArena::Store(std::u16string_view name) {
  const std::size_t need = name.size() + 1;
  char16_t* dest = nullptr;
  if (need > kChunkUnits / 4) {
    // A long name gets a chunk of its own so the regular chunk is not wasted.
    chunks_.push_back(std::make_unique<char16_t[]>(need));
    dest = chunks_.back().get();
    // Keep the regular chunk current: move the new chunk before it.
    if (chunks_.size() >= 2 && current_ != nullptr) {
      std::swap(chunks_[chunks_.size() - 1], chunks_[chunks_.size() - 2]);
    }
  } else {
    if (current_ == nullptr || capacity_ - used_ < need) {
      chunks_.push_back(std::make_unique<char16_t[]>(kChunkUnits));
      current_ = chunks_.back().get();
      capacity_ = kChunkUnits;
      used_ = 0;
    }
    dest = current_ + used_;
    used_ += need;
  }
  std::copy(name.begin(), name.end(), dest);
  dest[name.size()] = u'\0';
  return {dest, name.size()};
}

void NameArena::Clear() {
  chunks_.clear();
  current_ = nullptr;
  used_ = capacity_ = 0;
}

}  // namespace ostrel
