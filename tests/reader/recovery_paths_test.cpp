#include "reader/recovery_paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/fixtures/temp_dir.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using Path = std::vector<std::string>;

TEST(SafeComponentTest, MakesEveryNameOnePlainComponent) {
  const std::string a251(251, 'a');
  std::u16string longAccents;
  for (int i = 0; i < 300; ++i) longAccents += u'\u00E9';  // 2 bytes each in UTF-8
  std::string accents125;
  for (int i = 0; i < 125; ++i) accents125 += "\xC3\xA9";
  const struct {
    const char* name;
    std::u16string input;
    std::string expected;
  } cases[] = {
      {"ordinary", u"report.txt", "report.txt"},
      {"slash", u"a/b", "a_b"},
      {"absolute", u"/abs", "_abs"},
      {"NUL", std::u16string(u"a\0b", 3), "a_b"},
      {"empty", u"", "_"},
      {"dot", u".", "_"},
      {"dot dot", u"..", "_"},
      {"three dots are a name", u"...", "..."},
      // A backslash separates nothing inside one name.
      {"backslashes", u"..\\..\\etc\\passwd", "..\\..\\etc\\passwd"},
      {"non-ASCII", u"Gr\u00FC\u00DFe.txt",
       "Gr\xC3\xBC\xC3\x9F"
       "e.txt"},
      {"unpaired surrogate", u"\xD800x", "\xEF\xBF\xBDx"},
      {"long name keeps its extension", std::u16string(300, u'a') + u".txt", a251 + ".txt"},
      {"long name cut at a character boundary", longAccents + u".doc", accents125 + ".doc"},
      {"long name without extension", std::u16string(300, u'b'), std::string(255, 'b')},
      {"a dot followed by 300 bytes is no extension", u"a." + std::u16string(300, u'c'),
       "a." + std::string(253, 'c')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string got = SafeComponent(c.input);
    EXPECT_EQ(got, c.expected);
    EXPECT_TRUE(StaysInside({got}));
  }
}

TEST(NumberedNameTest, NumberGoesBeforeTheExtension) {
  const struct {
    std::string name;
    std::uint64_t n;
    std::string expected;
  } cases[] = {
      {"report.txt", 2, "report (2).txt"},
      {"README", 3, "README (3)"},
      {".bashrc", 2, ".bashrc (2)"},
      {"archive.tar.gz", 2, "archive.tar (2).gz"},
      {std::string(251, 'a') + ".txt", 12, std::string(246, 'a') + " (12).txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(NumberedName(c.name, c.n), c.expected);
  }
}

TEST(WildcardMatchTest, Table) {
  const struct {
    std::u16string pattern;
    std::u16string name;
    bool match;
  } cases[] = {
      {u"*.*", u"report.doc", true},
      {u"*.*", u"README", false},
      {u"*doc*", u"report.doc", true},
      {u"*doc*", u"mydocs.txt", true},
      {u"*.DOC", u"report.doc", false},
      {u"a?c.txt", u"abc.txt", true},
      {u"a?c.txt", u"ac.txt", false},
      {u"report.doc", u"report.doc", true},
      {u"report", u"report.doc", false},
      {u"*", u"", true},
      {u"", u"", true},
      {u"", u"a", false},
      {u"a*b*c", u"aXbYbZc", true},
      {u"a*b*c", u"aXbYbZ", false},
      {u"*a*a*a*a*a*b", std::u16string(60, u'a'), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.pattern.begin(), c.pattern.end()) + " / " +
                 std::string(c.name.begin(), c.name.end()));
    EXPECT_EQ(WildcardMatch(c.name, c.pattern), c.match);
  }
}

// A catalogue with the folders and files a layout test needs.
class LayoutTest : public ::testing::Test {
 protected:
  std::uint64_t Folder(const std::u16string& name, std::uint64_t parent) {
    return cat_.Tree().AddNode(name, parent);
  }
  std::uint64_t File(const std::u16string& name, std::uint64_t folder) {
    FileNode n;
    n.parent = folder;
    return cat_.AppendFile(n, name);
  }
  Catalogue cat_;
};

TEST_F(LayoutTest, FolderPathsComeFromTheCatalogue) {
  const std::uint64_t tape = Folder(u"Tape 1", 0);
  const std::uint64_t set = Folder(u"SET 1 :Daily", tape);
  const std::uint64_t volume = Folder(u"C:", set);
  const std::uint64_t climb = Folder(u"..\\..\\etc", volume);
  const std::uint64_t odd = Folder(u"a/b", climb);
  EXPECT_EQ(SafeFolderPath(cat_.Tree(), 0), Path{});
  EXPECT_EQ(SafeFolderPath(cat_.Tree(), volume), (Path{"Tape 1", "SET 1 :Daily", "C:"}));
  EXPECT_EQ(SafeFolderPath(cat_.Tree(), odd),
            (Path{"Tape 1", "SET 1 :Daily", "C:", "_", "_", "etc", "a_b"}));
}

TEST_F(LayoutTest, NamesAreUniquePerFolder) {
  const std::uint64_t docs = Folder(u"Docs", 0);
  const std::uint64_t other = Folder(u"Other", 0);
  const std::uint64_t docsAgain = Folder(u"Docs", 0);  // a second node of the same path
  const std::uint64_t r1 = File(u"report.txt", docs);
  const std::uint64_t r2 = File(u"report.txt", docs);
  const std::uint64_t r3 = File(u"report.txt", other);
  const std::uint64_t r4 = File(u"report.txt", docsAgain);
  const std::uint64_t clash = File(u"Sub", docs);  // a file named like a folder below
  const std::uint64_t sub = Folder(u"Sub", docs);
  const std::uint64_t inSub = File(u"a.txt", sub);

  RecoveryLayout tree(cat_, true);
  EXPECT_EQ(tree.Claim(r1), (Path{"Docs", "report.txt"}));
  EXPECT_EQ(tree.Claim(r2), (Path{"Docs", "report (2).txt"}));
  EXPECT_EQ(tree.Claim(r3), (Path{"Other", "report.txt"}));
  EXPECT_EQ(tree.Claim(r4), (Path{"Docs", "report (3).txt"}));
  EXPECT_EQ(tree.Claim(clash), (Path{"Docs", "Sub"}));
  EXPECT_EQ(tree.Claim(inSub), (Path{"Docs", "Sub (2)", "a.txt"}));

  RecoveryLayout flat(cat_, false);
  EXPECT_EQ(flat.Claim(r1), Path{"report.txt"});
  EXPECT_EQ(flat.Claim(r3), Path{"report (2).txt"});
  EXPECT_EQ(flat.Claim(inSub), Path{"a.txt"});
}

TEST_F(LayoutTest, ReleasedNamesCanBeTakenAgain) {
  const std::uint64_t a1 = File(u"a.txt", 0);
  const std::uint64_t a2 = File(u"a.txt", 0);
  RecoveryLayout layout(cat_, true);
  const Path first = layout.Claim(a1);
  EXPECT_EQ(first, Path{"a.txt"});
  layout.Release(first);
  EXPECT_EQ(layout.Claim(a2), Path{"a.txt"});
  EXPECT_EQ(layout.Claim(a1), Path{"a (2).txt"});
}

TEST(PrepareOutputPathTest, CreatesFoldersInsideTheDestinationOnly) {
  fixtures::TempDir dir;
  const std::string root = dir.File("dest");
  fs::create_directory(root);
  std::string error;

  const auto made = PrepareOutputPath(root, {"Tape", "C:", "Docs", "a.txt"}, error);
  ASSERT_TRUE(made) << error;
  EXPECT_EQ(*made, root + "/Tape/C:/Docs/a.txt");
  EXPECT_TRUE(fs::is_directory(root + "/Tape/C:/Docs"));
  EXPECT_FALSE(fs::exists(*made));

  // A symbolic link in the destination is never followed.
  const std::string outside = dir.File("outside");
  fs::create_directory(outside);
  fs::create_directory_symlink(outside, root + "/Link");
  EXPECT_FALSE(PrepareOutputPath(root, {"Link", "sub", "x.txt"}, error));
  EXPECT_TRUE(fs::is_empty(outside));

  // A file where a folder should be.
  std::ofstream(root + "/plain") << "x";
  EXPECT_FALSE(PrepareOutputPath(root, {"plain", "x.txt"}, error));

  // Components that would climb out or name nothing are refused outright.
  for (const Path& bad : {Path{"..", "x"}, Path{"a", "."}, Path{"a/b"}, Path{""}, Path{}}) {
    EXPECT_FALSE(PrepareOutputPath(root, bad, error));
  }
  EXPECT_FALSE(fs::exists(dir.File("x")));
}

}  // namespace
}  // namespace ostrel
