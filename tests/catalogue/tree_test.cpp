#include "catalogue/tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "catalogue/catalogue.h"

namespace ostrel {
namespace {

// The search as the format defines it, walked node by node: the reference the
// tree's index must answer exactly as.
std::uint64_t FindNodeByWalk(const FolderTree& t, std::u16string_view name, std::uint64_t start, int depth) {
  if (start >= t.Count()) return kNotFound;
  if (depth != 0 && t.NodeAt(start).name == name) return t.NodeAt(start).index;
  std::vector<std::uint64_t> pending{t.FirstChild(start)};
  while (!pending.empty()) {
    const std::uint64_t k = pending.back();
    pending.pop_back();
    if (k == kNotFound) continue;
    if (t.NodeAt(k).name == name && t.NodeAt(k).index != 0) return t.NodeAt(k).index;
    pending.push_back(t.NextSibling(k));
    pending.push_back(t.FirstChild(k));
  }
  return kNotFound;
}

std::uint64_t FindChildByWalk(const FolderTree& t, std::u16string_view name, std::uint64_t parent) {
  for (std::uint64_t k = t.FirstChild(parent); k != kNotFound; k = t.NextSibling(k)) {
    if (t.NodeAt(k).name == name) return k;
  }
  return kNotFound;
}

// Asks both for every name of `names` from `starts` random nodes.
void ExpectIndexAnswersAsTheWalk(const FolderTree& t, const std::vector<std::u16string>& names, std::mt19937& random,
                                 int starts) {
  std::uniform_int_distribution<std::uint64_t> node(0, t.Count() - 1);
  for (int s = 0; s < starts; ++s) {
    const std::uint64_t start = node(random);
    for (const std::u16string& name : names) {
      for (int depth : {0, 1}) {
        ASSERT_EQ(t.FindNode(name, start, depth), FindNodeByWalk(t, name, start, depth))
            << "start " << start << " depth " << depth;
      }
      ASSERT_EQ(t.FindChild(name, start), FindChildByWalk(t, name, start)) << "parent " << start;
    }
  }
}

const std::vector<std::u16string> kFewNames = {u"a", u"b", u"c", u"C:", u"x"};

TEST(TreeIndex, AnswersAsTheWalkWhileRandomTreesGrow) {
  // Few names over many nodes: every query has many candidates in and out of
  // the start's subtree. Deep chains (the parent is often the newest node)
  // and bushy levels (often the root or an old node) both come up, and so do
  // the relabellings of the order: thousands of nodes added after one node.
  for (unsigned seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    FolderTree t;
    for (int i = 0; i < 3000; ++i) {
      std::uint64_t parent = 0;
      switch (random() % 4) {
        case 0: parent = t.Count() - 1; break;
        case 1: parent = random() % t.Count(); break;
        case 2: parent = seed % 2 == 0 ? 0 : t.Count() / 2; break;
        default: parent = random() % std::min<std::uint64_t>(t.Count(), 8); break;
      }
      t.AddNode(kFewNames[random() % kFewNames.size()], parent);
      if (i % 97 == 0) ExpectIndexAnswersAsTheWalk(t, kFewNames, random, 4);
    }
    ExpectIndexAnswersAsTheWalk(t, kFewNames, random, 200);
  }
}

TEST(TreeIndex, StoredTreesWithAnyChainOrderAndRenamesAnswerAsTheWalk) {
  // A snapshot's chains need not run newest first: the index is built from the
  // links as they are, and nodes added afterwards go to the chains' heads.
  std::mt19937 random(7);
  FolderTree grown;
  for (int i = 0; i < 800; ++i) grown.AddNode(kFewNames[random() % kFewNames.size()], random() % grown.Count());
  FolderTree t;
  t.RemoveAllNodes();
  for (std::uint64_t i = 0; i < grown.Count(); ++i) {
    FolderNode stored = grown.NodeAt(i);
    stored.firstChild = stored.nextSibling = kNone;
    t.AppendStoredNode(stored, grown.NodeAt(i).name);
  }
  // Every chain in shuffled order.
  std::vector<std::vector<std::uint64_t>> children(t.Count());
  for (std::uint64_t i = 1; i < t.Count(); ++i) children[t.NodeAt(i).parent].push_back(i);
  for (std::uint64_t p = 0; p < t.Count(); ++p) {
    std::shuffle(children[p].begin(), children[p].end(), random);
    std::uint64_t next = kNone;
    for (auto c = children[p].rbegin(); c != children[p].rend(); ++c) {
      t.NodeAt(*c).nextSibling = next;
      next = *c;
    }
    t.NodeAt(p).firstChild = next;
  }
  ExpectIndexAnswersAsTheWalk(t, kFewNames, random, 100);
  for (int i = 0; i < 300; ++i) t.AddNode(kFewNames[random() % kFewNames.size()], random() % t.Count());
  ExpectIndexAnswersAsTheWalk(t, kFewNames, random, 100);
  for (int i = 0; i < 50; ++i) t.RenameNode(1 + random() % (t.Count() - 1), kFewNames[random() % kFewNames.size()]);
  ExpectIndexAnswersAsTheWalk(t, kFewNames, random, 100);
}

TEST(Tree, DepthCountsTheLevelsBelowTheRoot) {
  FolderTree t;
  const auto tape = t.AddNode(u"Tape", 0);
  const auto set = t.AddNode(u"SET 1", tape);
  EXPECT_EQ(t.Depth(0), 0u);
  EXPECT_EQ(t.Depth(tape), 1u);
  EXPECT_EQ(t.Depth(set), 2u);
}

TEST(Tree, FreshTreeHoldsOnlyTheRoot) {
  FolderTree t;
  ASSERT_EQ(t.Count(), 1u);
  const FolderNode& root = t.NodeAt(0);
  EXPECT_EQ(root.name, u"ROOT");
  EXPECT_EQ(root.parent, kNone);
  EXPECT_EQ(root.firstChild, kNone);
  EXPECT_EQ(root.nextSibling, kNone);
  EXPECT_EQ(root.firstFile, kNone);
  EXPECT_EQ(root.index, 0u);
  EXPECT_TRUE(t.NodePath(0).empty());
}

TEST(Tree, ChildrenAreChainedNewestFirst) {
  FolderTree t;
  EXPECT_EQ(t.AddNode(u"A", 0), 1u);
  EXPECT_EQ(t.NodeAt(0).firstChild, 1u);
  EXPECT_EQ(t.AddNode(u"B", 0), 2u);
  EXPECT_EQ(t.NodeAt(0).firstChild, 2u);
  EXPECT_EQ(t.NodeAt(2).nextSibling, 1u);
  EXPECT_EQ(t.NodeAt(1).nextSibling, kNone);
  EXPECT_EQ(t.FirstChild(0), 2u);
  EXPECT_EQ(t.NextSibling(2), 1u);
  EXPECT_EQ(t.NextSibling(1), kNotFound);  // the oldest child
  EXPECT_EQ(t.FirstChild(1), kNotFound);   // no children
  EXPECT_EQ(t.FirstChild(kNone), kNotFound);
}

TEST(Tree, AddNodeRefusesAParentThatIsNoNode) {
  FolderTree t;
  t.AddNode(u"A", 0);
  for (std::uint64_t parent : {std::uint64_t{2}, kNone, kNotFound}) {
    EXPECT_EQ(t.AddNode(u"X", parent), kNotFound);
    EXPECT_EQ(t.Count(), 2u);
  }
}

TEST(Tree, FindNodeSearchesNewestChildFirstAtAnyDepth) {
  FolderTree t;
  const auto a = t.AddNode(u"A", 0);
  const auto b = t.AddNode(u"B", 0);
  const auto xa = t.AddNode(u"X", a);
  const auto xb = t.AddNode(u"X", b);
  EXPECT_EQ(t.FindNode(u"X", 0, 0), xb);  // B is the newer child
  EXPECT_EQ(t.FindNode(u"X", a, 0), xa);
  // Depth 0 looks only below the start; depth 1 takes the start itself too.
  EXPECT_EQ(t.FindNode(u"A", a, 0), kNotFound);
  EXPECT_EQ(t.FindNode(u"A", a, 1), a);
  EXPECT_EQ(t.FindNode(u"x", 0, 0), kNotFound);  // case-sensitive
  EXPECT_EQ(t.FindNode(u"X", kNone, 0), kNotFound);
  // FindChild looks at direct children only.
  EXPECT_EQ(t.FindChild(u"X", 0), kNotFound);
  EXPECT_EQ(t.FindChild(u"B", 0), b);
}

TEST(Tree, PreOrderVisitsAChildBeforeItsOwnSubtree) {
  FolderTree t;
  const auto p = t.AddNode(u"P", 0);
  const auto deep = t.AddNode(u"Q", t.AddNode(u"Z", p));  // P\Z\Q
  const auto shallow = t.AddNode(u"Q", 0);                  // newer than P
  EXPECT_EQ(t.FindNode(u"Q", 0, 0), shallow);
  EXPECT_EQ(t.FindNode(u"Q", p, 0), deep);
}

TEST(Tree, DeepTreesAreSearchedAndPrintedWithoutRecursion) {
  FolderTree t;
  std::uint64_t n = 0;
  constexpr int kDepth = 200000;
  for (int i = 0; i < kDepth; ++i) n = t.AddNode(u"d", n);
  const auto leaf = t.AddNode(u"leaf", n);
  EXPECT_EQ(t.FindNode(u"leaf", 0, 0), leaf);
  EXPECT_EQ(t.FindNode(u"missing", 0, 0), kNotFound);
  EXPECT_EQ(t.NodePath(leaf).size(), kDepth * 2u + 5u);
}

TEST(Tree, DamagedLinksDoNotLoop) {
  FolderTree t;
  const auto a = t.AddNode(u"A", 0);
  const auto b = t.AddNode(u"B", a);
  t.NodeAt(b).firstChild = a;  // a cycle A -> B -> A
  t.NodeAt(a).parent = b;
  EXPECT_EQ(t.FindNode(u"nothing", 0, 0), kNotFound);
  EXPECT_FALSE(t.NodePath(b).empty());
}

TEST(Tree, NodePathJoinsNamesBelowTheRootWithBackslashes) {
  FolderTree t;
  const auto tape = t.AddNode(u"Tape", 0);
  const auto set = t.AddNode(u"SET 1 :Daily", tape);
  const auto vol = t.AddNode(u"C:", set);
  const auto docs = t.AddNode(u"Docs", vol);
  EXPECT_EQ(t.NodePath(docs), u"Tape\\SET 1 :Daily\\C:\\Docs\\");
}

TEST(Catalogue, RenamesKeepTheStoredNameSizeAndOldViewsStayValid) {
  Catalogue c;
  FileNode f;
  f.nameSize = 6;
  const auto i = c.AppendFile(f, u"abc");
  const std::u16string_view before = c.FileAt(i).name;
  EXPECT_TRUE(c.RenameFileNode(i, u"a much longer name"));
  EXPECT_EQ(c.FileAt(i).name, u"a much longer name");
  EXPECT_EQ(c.FileAt(i).nameSize, 6u);
  EXPECT_EQ(before, u"abc");  // storage is never moved
  EXPECT_FALSE(c.RenameFileNode(5, u"x"));

  EXPECT_TRUE(c.Tree().RenameNode(0, u"Renamed root"));
  EXPECT_EQ(c.Tree().NodeAt(0).name, u"Renamed root");
}

TEST(Catalogue, ManyNamesOfEverySizeSurviveGrowth) {
  Catalogue c;
  std::vector<std::u16string> names;
  // Short names share chunks; long ones (past a quarter chunk) get their own.
  const std::size_t sizes[] = {0, 1, 7, 100, 20000, 70000, 3};
  for (int i = 0; i < 700; ++i) {
    names.emplace_back(sizes[i % 7], static_cast<char16_t>(u'a' + i % 26));
  }
  for (const auto& n : names) c.AppendFile(FileNode{}, n);
  Catalogue moved = std::move(c);
  for (std::size_t i = 0; i < names.size(); ++i) ASSERT_EQ(moved.FileAt(i).name, names[i]) << i;
}

}  // namespace
}  // namespace ostrel
