#include "catalogue/catalogue.h"

namespace ostrel {

std::uint64_t Catalogue::AppendFile(const FileNode& node, std::u16string_view name) {
  FileNode stored = node;
  stored.name = names_.Store(name);
  files_.push_back(stored);
  return files_.size() - 1;
}

bool Catalogue::RenameFileNode(std::uint64_t index, std::u16string_view name) {
  if (index >= files_.size()) return false;
  files_[index].name = names_.Store(name);
  return true;
}

void Catalogue::RemoveAllFiles() {
  files_.clear();
  names_.Clear();
  dates_.ClearFiles();
}

}  // namespace ostrel
