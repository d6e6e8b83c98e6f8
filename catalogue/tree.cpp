#include "catalogue/tree.h"

#include <cmath>
#include <functional>
#include <set>
#include <unordered_map>
#include <vector>

namespace ostrel {

// ------------------------------------------------------------------ NameIndex
//
// FindNode's answer is the first node of that name after the start in the
// tree's pre-order, provided it lies in the start's subtree: a subtree is one
// run of the pre-order, beginning at its root. Since children are chained
// newest first, a new node comes directly after its parent in the pre-order.
// So the index keeps the pre-order as a linked list with order labels (an
// insertion after a node takes a label between its neighbours'; where there
// is no room, the smallest aligned range of labels around it that is sparse
// enough is spread out again, which costs logarithmic time over a run), and
// per name the nodes ordered by label. FindChild keeps, per parent and name,
// the children in chain order.
class FolderTree::NameIndex {
 public:
  // The pre-order of the tree's links from the root, each node once.
  explicit NameIndex(const std::deque<FolderNode>& nodes);

  // Node `added` (the newest) was chained first below `parent`.
  void Added(std::uint64_t added, std::uint64_t parent, std::u16string_view name);

  // The first node named `name` after `start` in the pre-order; kNone when
  // there is none or `start` is not in the pre-order.
  std::uint64_t FirstAfter(std::u16string_view name, std::uint64_t start) const;
  std::uint64_t NewestChild(std::u16string_view name, std::uint64_t parent) const;

 private:
  struct ByLabel {
    const std::vector<std::uint64_t>* labels;
    bool operator()(std::uint64_t a, std::uint64_t b) const { return (*labels)[a] < (*labels)[b]; }
  };
  struct ChildKey {
    std::uint64_t parent;
    std::u16string_view name;
    bool operator==(const ChildKey&) const = default;
  };
  struct ChildHash {
    std::size_t operator()(const ChildKey& k) const {
      return std::hash<std::u16string_view>{}(k.name) ^ (k.parent * 0x9E3779B97F4A7C15u);
    }
  };
  __extension__ using u128 = unsigned __int128;
  static constexpr u128 kLabelEnd = u128{1} << 64;

  void Grow(std::uint64_t node);
  void ByName(std::uint64_t node, std::u16string_view name);
  // Links `node` into the pre-order right after `after` and labels it.
  void InsertAfter(std::uint64_t after, std::uint64_t node);
  u128 LabelAfter(std::uint64_t node) const { return next_[node] == kNone ? kLabelEnd : labels_[next_[node]]; }

  std::vector<std::uint64_t> labels_, next_, prev_;
  std::vector<std::uint8_t> listed_;  // whether the node is in the pre-order
  std::unordered_map<std::u16string_view, std::set<std::uint64_t, ByLabel>> byName_;
  std::unordered_map<ChildKey, std::vector<std::uint64_t>, ChildHash> children_;  // oldest in the chain first
};

FolderTree::NameIndex::NameIndex(const std::deque<FolderNode>& nodes) {
  const std::uint64_t count = nodes.size();
  if (count == 0) return;
  Grow(count - 1);
  // The pre-order walk of the links, each node once whatever the links say.
  std::vector<std::uint64_t> order;
  std::vector<std::uint64_t> pending{0};
  auto child = [&](std::uint64_t link) { return link == kNone || link == 0 || link >= count ? kNone : link; };
  while (!pending.empty()) {
    const std::uint64_t k = pending.back();
    pending.pop_back();
    if (k == kNone || listed_[k]) continue;
    listed_[k] = 1;
    order.push_back(k);
    pending.push_back(child(nodes[k].nextSibling));
    pending.push_back(child(nodes[k].firstChild));
  }
  const u128 step = kLabelEnd / (order.size() + 1);
  for (std::size_t i = 0; i < order.size(); ++i) {
    const std::uint64_t k = order[i];
    labels_[k] = static_cast<std::uint64_t>(step * (i + 1));
    prev_[k] = i == 0 ? kNone : order[i - 1];
    next_[k] = i + 1 == order.size() ? kNone : order[i + 1];
    if (k != 0) ByName(k, nodes[k].name);
  }
  // Chains walked from their oldest end, so that the last child kept under a
  // key is the first one the chain names.
  std::vector<std::uint64_t> chain;
  for (std::uint64_t p : order) {
    chain.clear();
    for (std::uint64_t c = child(nodes[p].firstChild); c != kNone && chain.size() < count;
         c = child(nodes[c].nextSibling)) {
      chain.push_back(c);
    }
    for (auto c = chain.rbegin(); c != chain.rend(); ++c) children_[{p, nodes[*c].name}].push_back(*c);
  }
}

void FolderTree::NameIndex::Grow(std::uint64_t node) {
  if (node < labels_.size()) return;
  labels_.resize(node + 1, 0);
  next_.resize(node + 1, kNone);
  prev_.resize(node + 1, kNone);
  listed_.resize(node + 1, 0);
}

void FolderTree::NameIndex::ByName(std::uint64_t node, std::u16string_view name) {
  byName_.try_emplace(name, ByLabel{&labels_}).first->second.insert(node);
}

void FolderTree::NameIndex::Added(std::uint64_t added, std::uint64_t parent, std::u16string_view name) {
  Grow(added);
  children_[{parent, name}].push_back(added);
  if (parent >= listed_.size() || !listed_[parent]) return;  // outside the tree
  InsertAfter(parent, added);
  ByName(added, name);
}

void FolderTree::NameIndex::InsertAfter(std::uint64_t after, std::uint64_t node) {
  next_[node] = next_[after];
  prev_[node] = after;
  if (next_[after] != kNone) prev_[next_[after]] = node;
  next_[after] = node;
  listed_[node] = 1;
  const u128 low = labels_[after];
  const u128 high = LabelAfter(node);
  if (high - low >= 2) {
    labels_[node] = static_cast<std::uint64_t>(low + (high - low) / 2);
    return;
  }
  // No room: the smallest aligned range 2^i around the label whose nodes (the
  // new one included) number at most (2 / 1.3)^i is spread out evenly. The
  // whole range of 2^64 takes about 10^12 nodes.
  for (int i = 1; i <= 64; ++i) {
    const u128 size = u128{1} << i;
    const u128 base = low & ~(size - 1);
    std::uint64_t first = after;
    while (prev_[first] != kNone && labels_[prev_[first]] >= base) first = prev_[first];
    std::uint64_t count = 0;
    std::uint64_t k = first;
    for (; k != kNone && (k == node || labels_[k] < base + size); k = next_[k]) ++count;
    if (static_cast<double>(count) > std::pow(2.0 / 1.3, i) && i < 64) continue;
    const u128 step = size / (count + 1);
    std::uint64_t n = 0;
    for (k = first; n < count; k = next_[k]) labels_[k] = static_cast<std::uint64_t>(base + step * ++n);
    return;
  }
}

std::uint64_t FolderTree::NameIndex::FirstAfter(std::u16string_view name, std::uint64_t start) const {
  if (start >= listed_.size() || !listed_[start]) return kNone;
  const auto found = byName_.find(name);
  if (found == byName_.end()) return kNone;
  const auto it = found->second.upper_bound(start);
  return it == found->second.end() ? kNone : *it;
}

std::uint64_t FolderTree::NameIndex::NewestChild(std::u16string_view name, std::uint64_t parent) const {
  const auto found = children_.find({parent, name});
  return found == children_.end() || found->second.empty() ? kNone : found->second.back();
}

// ----------------------------------------------------------------- FolderTree

FolderTree::FolderTree() {
  FolderNode root;
  root.name = names_.Store(u"ROOT");
  root.index = 0;
  nodes_.push_back(root);
}

FolderTree::~FolderTree() = default;
FolderTree::FolderTree(FolderTree&&) noexcept = default;
FolderTree& FolderTree::operator=(FolderTree&&) noexcept = default;

FolderTree::NameIndex& FolderTree::Index() const {
  if (!index_) index_ = std::make_unique<NameIndex>(nodes_);
  return *index_;
}

std::uint64_t FolderTree::AddNode(std::u16string_view name, std::uint64_t parent) {
  if (parent >= nodes_.size()) return kNotFound;
  FolderNode node;
  node.name = names_.Store(name);
  node.parent = parent;
  node.index = nodes_.size();
  const std::uint64_t added = node.index;
  node.nextSibling = nodes_[parent].firstChild;
  nodes_[parent].firstChild = added;
  nodes_.push_back(node);
  if (index_) index_->Added(added, parent, nodes_[added].name);
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

std::uint64_t FolderTree::FindNode(std::u16string_view name, std::uint64_t start, int depth) const {
  if (start >= nodes_.size()) return kNotFound;
  if (depth != 0 && nodes_[start].name == name) return nodes_[start].index;
  const std::uint64_t k = Index().FirstAfter(name, start);
  if (k == kNone) return kNotFound;
  // The first one after the start is in its subtree, or none is.
  std::uint64_t up = k;
  for (std::uint64_t steps = 0; up != start && up < nodes_.size() && steps < nodes_.size(); ++steps) {
    up = nodes_[up].parent;
  }
  return up == start ? nodes_[k].index : kNotFound;
}

std::uint64_t FolderTree::FindChild(std::u16string_view name, std::uint64_t parent) const {
  if (parent >= nodes_.size()) return kNotFound;
  const std::uint64_t k = Index().NewestChild(name, parent);
  return k == kNone ? kNotFound : k;
}

std::uint64_t FolderTree::Depth(std::uint64_t index) const {
  std::uint64_t depth = 0;
  for (std::uint64_t i = index; i != 0 && i < nodes_.size() && depth < nodes_.size(); i = nodes_[i].parent) ++depth;
  return depth;
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
  index_.reset();  // renames are rare (the desktop program's, after a scan)
  return true;
}

void FolderTree::RemoveAllNodes() {
  nodes_.clear();
  names_.Clear();
  index_.reset();
}

void FolderTree::AppendStoredNode(const FolderNode& stored, std::u16string_view name) {
  FolderNode node = stored;
  node.name = names_.Store(name);
  nodes_.push_back(node);
  index_.reset();
}

}  // namespace ostrel
