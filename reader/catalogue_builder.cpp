#include "reader/catalogue_builder.h"

#include <string>

#include "reader/mtf.h"

namespace ostrel {

bool CatalogueBuilder::RoomForFolder() {
  if (catalogue_.Tree().Count() < folderLimit_) return true;
  folderCapped_ = true;
  return false;
}

std::uint64_t CatalogueBuilder::AddWithin(std::u16string_view name, std::uint64_t parent) {
  auto& tree = catalogue_.Tree();
  // Past the limit the node is not made: what follows stays where the scan is.
  if (!RoomForFolder()) return tree.IsNode(currentNode_) ? currentNode_ : 0;
  if (tree.IsNode(parent) && tree.Depth(parent) >= kMaxFolderDepth) {
    depthCapped_ = true;
    parent = 0;
  }
  return tree.AddNode(name, parent);
}

void CatalogueBuilder::EnsureTape() {
  if (tapeCreated_) return;
  currentNode_ = tapeNode_ = AddWithin(kTapeCreated, tapeNode_);
  tapeCreated_ = true;
}

void CatalogueBuilder::EnsureSet() {
  if (setCreated_) return;
  EnsureTape();
  currentNode_ = setNode_ = AddWithin(kSetCreated, tapeNode_);
  setCreated_ = true;
}

void CatalogueBuilder::AddTape(std::u16string_view name) {
  const std::uint64_t n = AddWithin(name, currentNode_);
  if (n == kNotFound) return;
  currentNode_ = tapeNode_ = n;
  tapeCreated_ = true;
}

void CatalogueBuilder::AddSet(std::uint16_t number, std::u16string_view name) {
  EnsureTape();
  std::u16string label = u"SET ";
  for (char ch : std::to_string(number)) label += static_cast<char16_t>(ch);
  label += u" :";
  label += name;
  currentNode_ = setNode_ = AddWithin(label, tapeNode_);
  setCreated_ = true;
  pathPrefix_.clear();
}

void CatalogueBuilder::AddVolume(std::u16string_view label) {
  EnsureSet();
  currentNode_ = volumeNode_ = AddWithin(label, setNode_);
  volumeCreated_ = true;
  pathPrefix_ = label;
  pathPrefix_ += u'\\';
}

void CatalogueBuilder::MakeFilePlaceholders() {
  if (volumeCreated_) return;
  EnsureSet();
  currentNode_ = volumeNode_ = AddWithin(kDummyVolume, setNode_);
  volumeCreated_ = true;
  pathPrefix_ = kDummyVolume;
  pathPrefix_ += u'\\';
}

std::u16string CatalogueBuilder::ConvertDirectoryName(ByteView block, std::uint16_t offset, std::uint16_t size) {
  std::u16string units = mtf::CopyNameUnits(block, offset, size);
  for (std::size_t i = 0; i + 1 < units.size(); ++i) {
    if (units[i] == u'\0') units[i] = u'\\';
  }
  const auto nul = units.find(u'\0');
  if (nul != std::u16string::npos) units.resize(nul);
  return units;
}

void CatalogueBuilder::DateVolumeRoot(std::optional<std::int64_t> modified) {
  if (modified && volumeCreated_) catalogue_.Dates().SetFolder(volumeNode_, *modified);
}

void CatalogueBuilder::AddDirectoryPath(std::u16string_view converted, bool stoppable,
                                        std::optional<std::int64_t> modified) {
  auto& tree = catalogue_.Tree();
  std::u16string full = pathPrefix_;
  full += converted;
  if (!volumeCreated_) {
    // A directory met before any volume: a placeholder set (when none exists)
    // and volume under the current node. They do not count as created, and the
    // path prefix stays, so the path is looked up below this placeholder.
    if (!setCreated_) currentNode_ = AddWithin(kDummySetCreated, currentNode_);
    currentNode_ = volumeNode_ = AddWithin(kDummyVolume, currentNode_);
  }
  std::uint64_t r = kNotFound;
  std::uint64_t depth = 0;  // of r
  bool first = true;
  std::size_t pos = 0;
  while (pos <= full.size()) {
    if (stoppable && stop_.StopRequested()) return;
    std::size_t end = full.find(u'\\', pos);
    if (end == std::u16string::npos) end = full.size();
    const std::u16string_view component(full.data() + pos, end - pos);
    pos = end + 1;
    if (component.empty()) continue;
    if (first) {
      r = tree.FindNode(component, volumeNode_, 1);
      if (r != kNotFound) depth = tree.Depth(r);
      first = false;
      continue;
    }
    if (r == kNotFound) continue;
    // Only the direct children: a search of the whole subtree would take
    // A\B\C for A\C and put its files in the wrong folder.
    const std::uint64_t s = tree.FindChild(component, r);
    if (s == kNotFound) {
      if (depth >= kMaxFolderDepth) {
        // The rest of the path is not made: its files go where the path ends.
        depthCapped_ = true;
        return;
      }
      if (!RoomForFolder()) {
        // Its files go to the deepest folder of the path that exists.
        currentNode_ = r;
        return;
      }
      r = tree.AddNode(component, r);
      if (r != kNotFound) currentNode_ = r;
    } else {
      r = s;
    }
    ++depth;
  }
  // Only a folder the whole path reached: not where a deep path was cut.
  if (modified && r != kNotFound && tree.IsNode(r)) catalogue_.Dates().SetFolder(r, *modified);
}

void CatalogueBuilder::AppendFile(std::u16string_view name, std::uint16_t nameSize, std::uint64_t dataPosition,
                                  std::uint64_t dataLength, std::optional<std::int64_t> modified) {
  ++filesFound_;
  FileNode node;
  node.nameSize = nameSize;
  node.parent = currentNode_;
  node.kind = 'F';
  node.index = catalogue_.FileCount();
  node.dataPosition = dataPosition;
  node.dataLength = dataLength;
  const std::uint64_t index = catalogue_.AppendFile(node, name);
  if (modified) catalogue_.Dates().SetFile(index, *modified);
  FolderNode& folder = catalogue_.Tree().NodeAt(currentNode_);
  if (currentNode_ != previousFileFolder_) folder.firstFile = index;
  folder.lastFile = index;
  previousFileFolder_ = currentNode_;
}

}  // namespace ostrel
