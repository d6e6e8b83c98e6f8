// The conformance examples: small BKF files with the exact catalogue that a
// scan must give, damaged ones included.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "reader/advanced_scanner.h"
#include "reader/scanner.h"
#include "reader/text.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const fs::path kDir = fs::path(OSTREL_TEST_DATA_DIR) / "conformance";

std::vector<std::string> Examples() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(kDir, ec)) {
    const std::string name = entry.path().filename().string();
    const std::string suffix = ".expected.json";
    if (name.size() > suffix.size() && name.ends_with(suffix)) names.push_back(name.substr(0, name.size() - suffix.size()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::int64_t Signed(std::uint64_t v) {
  if (v == kNone) return -1;
  if (v == kNotFound) return -2;
  return static_cast<std::int64_t>(v);
}

// The scanner an example's options ask for, or null when this build has none.
std::unique_ptr<Scanner> NewScanner(const json& options, RecoverySession& session, const StopToken& stop) {
  const std::string mode = options.value("mode", "standard");
  std::unique_ptr<Scanner> scanner;
  if (mode == "standard") scanner = std::make_unique<StandardScanner>(session, stop);
  if (mode == "advanced") scanner = std::make_unique<AdvancedScanner>(session, stop);
  if (scanner) scanner->SetHeuristic(options.value("heuristic", false));
  return scanner;
}

class Conformance : public ::testing::TestWithParam<std::string> {};

TEST_P(Conformance, CatalogueMatches) {
  std::ifstream in(kDir / (GetParam() + ".expected.json"));
  ASSERT_TRUE(in) << "missing example " << GetParam();
  const json expected = json::parse(in);
  const json& options = expected["options"];
  StopToken stop;
  RecoverySession session;
  auto scanner = NewScanner(options, session, stop);
  if (!scanner) GTEST_SKIP() << "mode " << options["mode"] << " is not built";
  if (options.contains("range")) scanner->SetRange(options["range"][0], options["range"][1]);
  ASSERT_EQ(scanner->Scan((kDir / expected["bkf"].get<std::string>()).string()), 1);

  const auto& tree = scanner->Session().catalogue.Tree();
  const json& folders = expected["folders"];
  ASSERT_EQ(tree.Count(), folders.size());
  for (std::size_t i = 0; i < folders.size(); ++i) {
    const FolderNode& n = tree.NodeAt(i);
    const json got = {{"index", Signed(n.index)},           {"name", Utf16ToUtf8(n.name)},
                      {"parent", Signed(n.parent)},         {"firstChild", Signed(n.firstChild)},
                      {"nextSibling", Signed(n.nextSibling)}, {"firstFile", Signed(n.firstFile)},
                      {"lastFile", Signed(n.lastFile)}};
    EXPECT_EQ(got, folders[i]) << "folder " << i;
  }
  const json& files = expected["files"];
  ASSERT_EQ(scanner->Session().catalogue.FileCount(), files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    const FileNode& f = scanner->Session().catalogue.FileAt(i);
    const json got = {{"index", Signed(f.index)},   {"name", Utf16ToUtf8(f.name)},
                      {"nameSize", f.nameSize},     {"parent", Signed(f.parent)},
                      {"dataPosition", f.dataPosition}, {"dataLength", f.dataLength}};
    EXPECT_EQ(got, files[i]) << "file " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Examples, Conformance, ::testing::ValuesIn(Examples()),
                         [](const auto& info) {
                           std::string n = info.param;
                           for (char& c : n) if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

TEST(ConformanceExamples, ArePresent) { EXPECT_FALSE(Examples().empty()) << kDir; }

}  // namespace
}  // namespace ostrel
