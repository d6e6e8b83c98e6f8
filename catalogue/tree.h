// The folder tree of a catalogue: folder node 0 is the root "ROOT"; nodes are
// only ever appended, never moved; children are chained newest first.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "catalogue/name_arena.h"
#include "catalogue/nodes.h"

namespace ostrel {

class FolderTree {
 public:
  FolderTree();
  FolderTree(FolderTree&&) noexcept = default;
  FolderTree& operator=(FolderTree&&) noexcept = default;

  // Appends a node under `parent`; kNotFound (nothing added) when `parent` is
  // not an existing node.
  std::uint64_t AddNode(std::u16string_view name, std::uint64_t parent);

  // `index` must be below Count().
  const FolderNode& NodeAt(std::uint64_t index) const { return nodes_[index]; }
  FolderNode& NodeAt(std::uint64_t index) { return nodes_[index]; }
  std::uint64_t Count() const { return nodes_.size(); }
  bool IsNode(std::uint64_t index) const { return index < nodes_.size(); }

  // The node's firstChild / nextSibling, or kNotFound when there is none, the
  // link is not a node index, or it names the root.
  std::uint64_t FirstChild(std::uint64_t index) const;
  std::uint64_t NextSibling(std::uint64_t index) const;

  // Depth-first, pre-order search of the subtree of `start` (newest child
  // first, each child before its own subtree). With depth != 0 the start node
  // itself is a candidate. Iterative, and visits no node twice even when the
  // links are damaged. Answers the node's index or kNotFound.
  std::uint64_t FindNode(std::u16string_view name, std::uint64_t start, int depth) const;

  // Only the direct children of `parent`, newest first.
  std::uint64_t FindChild(std::u16string_view name, std::uint64_t parent) const;

  // The names from below the root down to `index`, each followed by a
  // backslash; empty for the root.
  std::u16string NodePath(std::uint64_t index) const;

  bool RenameNode(std::uint64_t index, std::u16string_view name);

  // For the snapshot load: remove every node, the root included, then append
  // nodes exactly as stored.
  void RemoveAllNodes();
  void AppendStoredNode(const FolderNode& stored, std::u16string_view name);

 private:
  std::deque<FolderNode> nodes_;
  NameArena names_;
};

}  // namespace ostrel
