// The folder tree of a catalogue: folder node 0 is the root "ROOT"; nodes are
// only ever appended, never moved; children are chained newest first.
//
// Lookups by name go through an index, never through a walk of a subtree: a
// hostile backup can make a tree of any size, and a scan looks a name up for
// every directory block. The index is kept as nodes are added and built again
// from the links when it is first needed after a load or a rename.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "catalogue/name_arena.h"
#include "catalogue/nodes.h"

namespace ostrel {

// The deepest a folder may lie: a tape directly below the root is at level 1.
// Scans never nest deeper and snapshots that do are refused, so that
// everything that walks a path (extraction, the desktop program's tree) stays
// linear in the catalogue's size.
inline constexpr std::uint64_t kMaxFolderDepth = 512;

class FolderTree {
 public:
  FolderTree();
  ~FolderTree();
  FolderTree(FolderTree&&) noexcept;
  FolderTree& operator=(FolderTree&&) noexcept;

  // Appends a node under `parent`; kNotFound (nothing added) when `parent` is
  // not an existing node.
  std::uint64_t AddNode(std::u16string_view name, std::uint64_t parent);

  // `index` must be below Count(). Links changed through the writable
  // reference are not seen by FindNode and FindChild (only tests do that).
  const FolderNode& NodeAt(std::uint64_t index) const { return nodes_[index]; }
  FolderNode& NodeAt(std::uint64_t index) { return nodes_[index]; }
  std::uint64_t Count() const { return nodes_.size(); }
  bool IsNode(std::uint64_t index) const { return index < nodes_.size(); }

  // The node's firstChild / nextSibling, or kNotFound when there is none, the
  // link is not a node index, or it names the root.
  std::uint64_t FirstChild(std::uint64_t index) const;
  std::uint64_t NextSibling(std::uint64_t index) const;

  // The first node named `name` in a depth-first, pre-order search of the
  // subtree of `start` (newest child first, each child before its own
  // subtree). With depth != 0 the start node itself is a candidate. Answers
  // the node's index or kNotFound. The answer is the search's for every tree
  // whose links form one tree (all that AddNode builds, every snapshot that
  // passes its checks), found in logarithmic time.
  std::uint64_t FindNode(std::u16string_view name, std::uint64_t start, int depth) const;

  // Only the direct children of `parent`: the newest one named `name`.
  std::uint64_t FindChild(std::u16string_view name, std::uint64_t parent) const;

  // Levels below the root (the root is 0, a tape below it 1), counted along
  // the parent links; a damaged chain of links stops at Count().
  std::uint64_t Depth(std::uint64_t index) const;

  // The names from below the root down to `index`, each followed by a
  // backslash; empty for the root.
  std::u16string NodePath(std::uint64_t index) const;

  bool RenameNode(std::uint64_t index, std::u16string_view name);

  // For the snapshot load: remove every node, the root included, then append
  // nodes exactly as stored.
  void RemoveAllNodes();
  void AppendStoredNode(const FolderNode& stored, std::u16string_view name);

 private:
  class NameIndex;
  // The index, built from the links when there is none.
  NameIndex& Index() const;

  std::deque<FolderNode> nodes_;
  NameArena names_;
  mutable std::unique_ptr<NameIndex> index_;
};

}  // namespace ostrel
