#include "catalogue/tree.h"

#include <vector>

namespace ostrel {

FolderTree::FolderTree() {
  FolderNode root;
  root.name = names_.Store(u"ROOT");
  root.index = 0;
  nodes_.push_back(root);
}

std::uint64_t FolderTree::AddNode(std::u16string_view name, std::uint64_t parent) {
  if (parent >= nodes_.size()) return kNotFound;
  FolderNode node;
  node.name = names_.Store(name);
  node.parent = parent;
  node.index = nodes_.size();
  const std::uint64_t added = node.index;
  FolderNode& p = nodes_[parent];
  if (p.firstChild == kNone) p.firstChild = added;
  nodes_.push_back(node);
  FolderNode& q = nodes_[parent];  // deque push_back keeps references, but be explicit
  if (q.firstChild != kNone && q.firstChild != added) {
    nodes_[added].nextSibling = q.firstChild;
    q.firstChild = added;
  }
  return added;
}

std::uint64_t FolderTree::FirstChild(std::uint64_t index) const {
  if (index >= nodes_.size()) return kNotFound;
  const std::uint64_t c = nodes_[index].firstChild;
  if (c == kNone || c == 0 || c >= nodes_.size()) return kNotFound;
  return c;
}

std::uint64_t FolderTree::NextSibling(std::uint64_t index) const {
  if (index >= nodes_.size()) return kNotFound;
  const std::uint64_t s = nodes_[index].nextSibling;
  if (s == kNone || s == 0 || s >= nodes_.size()) return kNotFound;
  return s;
}

std::uint64_t FolderTree::FindNode(std::u16string_view name, std::uint64_t start,
                                                   int depth) const {
  if ((start >> 63) != 0 || start >= nodes_.size()) return kNotFound;
  if (depth != 0 && nodes_[start].name == name) return nodes_[start].index;
  // Explicit stack instead of recursion: a damaged file can build paths of
  // thousands of components. Popping the first child before the pushed
  // sibling gives the pre-order of the recursive definition.
  std::vector<std::uint64_t> pending;
  pending.push_back(FirstChild(start));
  std::uint64_t visits = 0;
  while (!pending.empty()) {
    const std::uint64_t k = pending.back();
    pending.pop_back();
    if (k == kNotFound) continue;
    if (++visits > nodes_.size()) break;  // damaged links: a cycle
    if (nodes_[k].name == name && nodes_[k].index != 0) return nodes_[k].index;
    pending.push_back(NextSibling(k));
    pending.push_back(FirstChild(k));
  }
  return kNotFound;
}

std::uint64_t FolderTree::FindChild(std::u16string_view name,
                                                    std::uint64_t parent) const {
  std::uint64_t visits = 0;
  for (std::uint64_t k = FirstChild(parent); k != kNotFound; k = NextSibling(k)) {
    if (++visits > nodes_.size()) break;
    if (nodes_[k].name == name) return k;
  }
  return kNotFound;
}

std::u16string FolderTree::NodePath(std::uint64_t index) const {
  std::vector<std::uint64_t> chain;
  for (std::uint64_t i = index; i != 0 && i < nodes_.size(); i = nodes_[i].parent) {
    if (chain.size() >= nodes_.size()) break;  // damaged parent links
    chain.push_back(i);
  }
  std::u16string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    path += nodes_[*it].name;
    path += u'\\';
  }
  return path;
}

bool FolderTree::RenameNode(std::uint64_t index, std::u16string_view name) {
  if (index >= nodes_.size()) return false;
  nodes_[index].name = names_.Store(name);
  return true;
}

void FolderTree::RemoveAllNodes() {
  nodes_.clear();
  names_.Clear();
}

void FolderTree::AppendStoredNode(const FolderNode& stored, std::u16string_view name) {
  FolderNode node = stored;
  node.name = names_.Store(name);
  nodes_.push_back(node);
}

}  // namespace ostrel
