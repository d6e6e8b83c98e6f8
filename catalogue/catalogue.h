// One catalogue: the folder tree and the file list of a scan (or of a loaded
// snapshot). A scanner fills one and holds it; it knows nothing of scanning.
#pragma once

#include <cstdint>
#include <deque>
#include <string_view>

#include "catalogue/dates.h"
#include "catalogue/name_arena.h"
#include "catalogue/nodes.h"
#include "catalogue/tree.h"

namespace ostrel {

class Catalogue {
 public:
  Catalogue() = default;
  Catalogue(Catalogue&&) noexcept = default;
  Catalogue& operator=(Catalogue&&) noexcept = default;

  FolderTree& Tree() { return tree_; }
  const FolderTree& Tree() const { return tree_; }

  std::uint64_t FileCount() const { return files_.size(); }
  // `index` must be below FileCount().
  const FileNode& FileAt(std::uint64_t index) const { return files_[index]; }
  FileNode& FileAt(std::uint64_t index) { return files_[index]; }
  bool IsFile(std::uint64_t index) const { return index < files_.size(); }

  // Appends `node` with its name stored here; answers the new position.
  std::uint64_t AppendFile(const FileNode& node, std::u16string_view name);
  // Keeps nameSize as it is.
  bool RenameFileNode(std::uint64_t index, std::u16string_view name);
  void RemoveAllFiles();

  // The modification dates, by the same file and folder indices.
  CatalogueDates& Dates() { return dates_; }
  const CatalogueDates& Dates() const { return dates_; }

 private:
  FolderTree tree_;
  std::deque<FileNode> files_;
  NameArena names_;
  CatalogueDates dates_;
};

}  // namespace ostrel
