// The README's command-line section runs: every example command in it runs
// against a small backup, and every example output is what the tool prints,
// so that the README and the program cannot drift apart.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/fixtures/files.h"
#include "tests/fixtures/run_process.h"
#include "tests/fixtures/small_bkf.h"
#include "tests/fixtures/temp_dir.h"

namespace ostrel {
namespace {

struct CodeBlock {
  std::string language;
  std::vector<std::string> lines;
};

// The fenced code blocks of the section that begins with `heading`, up to the
// next heading of its level.
std::vector<CodeBlock> CodeBlocksOf(const std::string& markdown, const std::string& heading) {
  std::vector<CodeBlock> blocks;
  std::istringstream in(markdown);
  std::string line;
  bool inSection = false, inBlock = false;
  while (std::getline(in, line)) {
    if (!inBlock && line.rfind("## ", 0) == 0) inSection = line == heading;
    if (!inSection) continue;
    if (line.rfind("```", 0) == 0) {
      inBlock = !inBlock;
      if (inBlock) blocks.push_back({line.substr(3), {}});
    } else if (inBlock) {
      blocks.back().lines.push_back(line);
    }
  }
  return blocks;
}

// A command line split into words as the shell splits it, quotes removed.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (char c : line) {
    if (quote != 0) {
      if (c == quote) {
        quote = 0;
      } else {
        word += c;
      }
    } else if (c == '\'' || c == '"') {
      quote = c;
      inWord = true;
    } else if (c == ' ') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

TEST(Readme, EveryCommandLineExampleRuns) {
  const std::string readme = fixtures::ReadText(OSTREL_README_PATH);
  ASSERT_FALSE(readme.empty());
  const std::vector<CodeBlock> blocks = CodeBlocksOf(readme, "## The command-line tool");

  // The README's file names stand for the test's own files.
  fixtures::TempDir dir;
  const std::vector<std::pair<std::string, std::string>> files = {
      {"backup.bkf", dir.Write(fixtures::SmallBkf(), "backup.bkf")},
      {"backup.KVSNAPSHOT", dir.File("backup.KVSNAPSHOT")},
      {"recovered", dir.File("recovered")},
  };
  auto run = [&](const std::string& line) {
    std::vector<std::string> args = Words(line);
    EXPECT_EQ(args.empty() ? "" : args[0], "ostrel-bkf") << line;
    if (args.empty()) return fixtures::ProcessResult{};
    args.erase(args.begin());
    for (std::string& a : args) {
      const std::size_t eq = a.rfind('=');
      for (const auto& [name, path] : files) {
        if (a == name) a = path;
        if (eq != std::string::npos && a.substr(eq + 1) == name) a = a.substr(0, eq + 1) + path;
      }
    }
    return fixtures::RunCli(args);
  };

  std::size_t commands = 0, outputs = 0;
  for (const CodeBlock& block : blocks) {
    if (block.language == "sh") {
      // Commands, run in order: a later one may read what an earlier wrote.
      for (const std::string& line : block.lines) {
        if (line.empty() || line[0] == '#') continue;
        SCOPED_TRACE(line);
        const auto r = run(line);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_TRUE(r.err.empty()) << r.err;
        EXPECT_FALSE(r.out.empty());
        ++commands;
      }
    } else if (!block.lines.empty() && block.lines[0].rfind("$ ", 0) == 0) {
      // A command and the output it prints, exactly.
      SCOPED_TRACE(block.lines[0]);
      std::string expected;
      for (std::size_t i = 1; i < block.lines.size(); ++i) expected += block.lines[i] + "\n";
      const auto r = run(block.lines[0].substr(2));
      EXPECT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(r.out, expected);
      ++outputs;
    }
  }
  // The section was found and holds both kinds of example.
  EXPECT_GT(commands, 0u);
  EXPECT_GT(outputs, 0u);
}

}  // namespace
}  // namespace ostrel
