#include "reader/recovery_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace ostrel {
namespace {

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
      {"escape sequence and newline", u"\x1B[31mRED\nx\x7F", "_[31mRED_x_"},
      {"tab and carriage return", u"a\tb\rc", "a_b_c"},
      {"C1 controls", u"a\u0085b\u009B" "c\u00A0", "a_b_c\xC2\xA0"},
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
  // The layout settles each catalogue folder once, the deepest first here:
  // its ancestors' output folders serve the files claimed after it.
  const std::uint64_t deep = File(u"f", odd);
  const std::uint64_t up = File(u"g", climb);
  const std::uint64_t sibling = File(u"h", Folder(u"..", climb));
  RecoveryLayout layout(cat_, true);
  EXPECT_EQ(layout.Claim(deep), (Path{"Tape 1", "SET 1 :Daily", "C:", "_", "_", "etc", "a_b", "f"}));
  EXPECT_EQ(layout.Claim(up), (Path{"Tape 1", "SET 1 :Daily", "C:", "_", "_", "etc", "g"}));
  EXPECT_EQ(layout.Claim(sibling), (Path{"Tape 1", "SET 1 :Daily", "C:", "_", "_", "etc", "_", "h"}));
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

// A destination described by a table: the names it holds already, the
// characters its file system refuses, and whether it ignores case.
class TablePlacer : public NamePlacer {
 public:
  std::set<std::string> files;    // "folder path/name" of existing files (and links, FIFOs)
  std::set<std::string> folders;  // "folder path" of existing folders
  std::string refused;            // characters refused in a name with EINVAL
  bool ignoresCase = false;
  std::vector<std::string> made;  // what the layout made, in order

  Answer PlaceFolder(std::uint64_t parent, const std::string& name, std::uint64_t id) override {
    const std::string path = Path(parent, name);
    if (name.find_first_of(refused) != std::string::npos) return Answer::Refused;
    paths_[id] = path;
    if (Holds(folders, path)) return Answer::Existing;
    if (Holds(files, path)) return Answer::Taken;
    made.push_back(path + "/");
    folders.insert(path);
    return Answer::Made;
  }
  Answer PlaceFile(std::uint64_t folder, const std::string& name) override {
    const std::string path = Path(folder, name);
    if (name.find_first_of(refused) != std::string::npos) return Answer::Refused;
    if (Holds(files, path) || Holds(folders, path)) return Answer::Taken;
    made.push_back(path);
    files.insert(path);
    return Answer::Made;
  }
  bool IgnoresCase(std::uint64_t) const override { return ignoresCase; }
  int Error() const override { return EINVAL; }

 private:
  std::string Path(std::uint64_t folder, const std::string& name) {
    return folder == 0 ? name : paths_.at(folder) + "/" + name;
  }
  bool Holds(const std::set<std::string>& set, const std::string& path) const {
    if (!ignoresCase) return set.count(path) != 0;
    return std::any_of(set.begin(), set.end(), [&](const std::string& p) { return FoldCase(p) == FoldCase(path); });
  }
  std::map<std::uint64_t, std::string> paths_;
};

std::vector<std::string> Messages(const RecoveryLayout::Claimed& claimed) {
  std::vector<std::string> out;
  for (const NameChange& c : claimed.changes) out.push_back(c.message);
  return out;
}

TEST_F(LayoutTest, ReleasedNamesCanBeTakenAgain) {
  const std::uint64_t a1 = File(u"a.txt", 0);
  const std::uint64_t a2 = File(u"a.txt", 0);
  RecoveryLayout layout(cat_, true);
  TablePlacer placer;
  const RecoveryLayout::Claimed first = layout.Claim(a1, placer);
  EXPECT_EQ(first.path, Path{"a.txt"});
  layout.Release(first);
  placer.files.clear();  // the file was removed
  EXPECT_EQ(layout.Claim(a2, placer).path, Path{"a.txt"});
  EXPECT_EQ(layout.Claim(a1, placer).path, Path{"a (2).txt"});
}

TEST(PortableComponentTest, Table) {
  const struct {
    std::string name;
    std::string portable;
    std::string changes;
  } cases[] = {
      {"report.txt", "report.txt", ""},
      {"C:", "C_", "':'"},
      {"SET 1 :Daily", "SET 1 _Daily", "':'"},
      {"a<b>c:d\"e\\f|g?h*i", "a_b_c_d_e_f_g_h_i", "'<', '>', ':', '\"', '\\', '|', '?' and '*'"},
      {"tab\there\x1F.txt", "tab_here_.txt", "control characters"},
      {"Backup at 1:05 PM.", "Backup at 1_05 PM", "':' and a trailing '.'"},
      {"name. . ", "name", "trailing dots and blanks"},
      {"name  ", "name", "a trailing blank"},
      {"...", "_", "a trailing '.'"},      // becomes empty
      {" ", "_", "a trailing blank"},
      {"CON", "_CON", "the reserved name 'CON'"},
      {"con", "_con", "the reserved name 'con'"},
      {"Nul.txt", "_Nul.txt", "the reserved name 'Nul'"},
      {"aux.tar.gz", "_aux.tar.gz", "the reserved name 'aux'"},
      {"PRN .doc", "_PRN .doc", "the reserved name 'PRN'"},
      {"CON.", "_CON", "a trailing '.' and the reserved name 'CON'"},
      {"com1", "_com1", "the reserved name 'com1'"},
      {"LPT9.log", "_LPT9.log", "the reserved name 'LPT9'"},
      {"COM0", "COM0", ""},
      {"LPT10", "LPT10", ""},
      {"CONSOLE.txt", "CONSOLE.txt", ""},
      {"my CON.txt", "my CON.txt", ""},
      {"Gr\xC3\xBC\xC3\x9F:e", "Gr\xC3\xBC\xC3\x9F_e", "':'"},  // multi-byte characters stay whole
      {std::string(255, 'n'), std::string(255, 'n'), ""},
      {"con" + std::string(252, 'x'), "con" + std::string(252, 'x'), ""},
      // The leading '_' makes the name too long: it is cut, keeping no
      // extension of more than 32 bytes.
      {"con." + std::string(251, 'x'), "_con." + std::string(250, 'x'), "the reserved name 'con'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string got = PortableComponent(c.name);
    EXPECT_EQ(got, c.portable);
    EXPECT_EQ(PortableChanges(c.name), c.changes);
    EXPECT_TRUE(StaysInside({got}));
    EXPECT_EQ(PortableComponent(got), got);  // the portable form is portable
  }
  // Two names that become the same are numbered apart in one folder.
  EXPECT_EQ(PortableComponent("a:b"), PortableComponent("a?b"));
}

TEST(FoldCaseTest, LettersOfOneCase) {
  EXPECT_EQ(FoldCase("Report.TXT"), FoldCase("report.txt"));
  EXPECT_EQ(FoldCase("\xC3\x84rger"), FoldCase("\xC3\xA4RGER"));  // Ärger, äRGER
  EXPECT_NE(FoldCase("a.txt"), FoldCase("b.txt"));
  EXPECT_EQ(FoldCase("\xEF\xBF\xBD"), "\xEF\xBF\xBD");
}

TEST_F(LayoutTest, TheDestinationsNamesAreNumberedAroundAndSaid) {
  const std::uint64_t tape = Folder(u"Tape", 0);
  const std::uint64_t set = Folder(u"SET 1 :Daily", tape);
  const std::uint64_t volume = Folder(u"C:", set);
  const std::uint64_t boot = File(u"boot.ini", volume);
  const std::uint64_t boot2 = File(u"boot.ini", volume);
  const std::uint64_t odd = File(u"a:b.txt", volume);
  const std::uint64_t odd2 = File(u"a?b.txt", volume);
  const std::uint64_t plain = File(u"a_b.txt", volume);
  const std::uint64_t flat = File(u"readme", 0);

  TablePlacer placer;
  placer.refused = ":?";
  placer.folders = {"Tape"};                              // merged into
  placer.files = {"Tape/SET 1 _Daily",                   // a file where a folder goes
                  "Tape/SET 1 _Daily (2)/C_/boot.ini", "readme"};
  RecoveryLayout layout(cat_, true);

  const auto first = layout.Claim(boot, placer);
  EXPECT_EQ(first.path, (Path{"Tape", "SET 1 _Daily (2)", "C_", "boot (2).ini"}));
  EXPECT_EQ(first.answer, NamePlacer::Answer::Made);
  EXPECT_EQ(Messages(first),
            (std::vector<std::string>{
                "saved 'Tape/SET 1 :Daily' as 'Tape/SET 1 _Daily (2)' (the destination refuses ':'; "
                "Tape/SET 1 _Daily exists and is not a folder)",
                "saved 'Tape/SET 1 _Daily (2)/C:' as 'Tape/SET 1 _Daily (2)/C_' (the destination refuses ':')",
                "Tape/SET 1 _Daily (2)/C_/boot.ini exists; saved as Tape/SET 1 _Daily (2)/C_/boot (2).ini"}));
  // The folders are said once; this run's own names are numbered silently.
  const auto second = layout.Claim(boot2, placer);
  EXPECT_EQ(second.path.back(), "boot (3).ini");
  EXPECT_TRUE(second.changes.empty());
  // Numbering applies to the portable form: two names that become one, and
  // a stored name equal to it.
  EXPECT_EQ(layout.Claim(odd, placer).path.back(), "a_b.txt");
  const auto numbered = layout.Claim(odd2, placer);
  EXPECT_EQ(numbered.path.back(), "a_b (2).txt");
  EXPECT_EQ(Messages(numbered), (std::vector<std::string>{
                                    "saved 'Tape/SET 1 _Daily (2)/C_/a?b.txt' as "
                                    "'Tape/SET 1 _Daily (2)/C_/a_b (2).txt' (the destination refuses '?')"}));
  EXPECT_EQ(layout.Claim(plain, placer).path.back(), "a_b (3).txt");

  RecoveryLayout flatLayout(cat_, false);
  const auto root = flatLayout.Claim(flat, placer);
  EXPECT_EQ(root.path, Path{"readme (2)"});
  EXPECT_EQ(Messages(root), (std::vector<std::string>{"readme exists; saved as readme (2)"}));
}

TEST_F(LayoutTest, PortableFromTheStartAndCaseInsensitiveDestinations) {
  const std::uint64_t docs = Folder(u"Docs", 0);
  const std::uint64_t docsUpper = Folder(u"DOCS", 0);
  const std::uint64_t a = File(u"Report.txt", docs);
  const std::uint64_t b = File(u"report.TXT", docsUpper);
  const std::uint64_t con = File(u"con.txt", docs);

  TablePlacer placer;
  placer.ignoresCase = true;
  placer.files = {"docs/CON.TXT"};  // nothing reserved there: this is the portable name's own clash
  RecoveryLayout layout(cat_, true, NameForm::Portable);
  EXPECT_EQ(layout.Claim(a, placer).path, (Path{"Docs", "Report.txt"}));
  // "DOCS" is the same folder there, and the two reports one name.
  EXPECT_EQ(layout.Claim(b, placer).path, (Path{"Docs", "report (2).TXT"}));
  const auto portable = layout.Claim(con, placer);
  EXPECT_EQ(portable.path, (Path{"Docs", "_con.txt"}));
  EXPECT_EQ(Messages(portable), (std::vector<std::string>{
                                    "saved 'Docs/con.txt' as 'Docs/_con.txt' (portable names avoid "
                                    "the reserved name 'con')"}));
  EXPECT_EQ(placer.made, (std::vector<std::string>{"Docs/", "Docs/Report.txt", "Docs/report (2).TXT",
                                                   "Docs/_con.txt"}));
}

TEST_F(LayoutTest, AFolderOrFileThatCannotBeMadeFailsThatFileOnly) {
  const std::uint64_t bad = Folder(u"x:y", 0);
  const std::uint64_t inBad = File(u"a.txt", bad);
  const std::uint64_t good = File(u"b.txt", 0);
  TablePlacer placer;
  placer.refused = "_:";  // even the portable form is refused
  RecoveryLayout layout(cat_, true);
  const auto failed = layout.Claim(inBad, placer);
  EXPECT_TRUE(failed.path.empty());
  EXPECT_EQ(failed.error, "the destination refuses the folder name 'x_y': Invalid argument");
  EXPECT_EQ(layout.Claim(good, placer).path, Path{"b.txt"});
}

}  // namespace
}  // namespace ostrel
