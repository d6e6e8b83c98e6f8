// The progress bar as a terminal shows it: ostrel-bkf runs with stderr on a
// pseudo-terminal of a chosen width, and every line it draws must fit.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/streams.h"
#include "tests/fixtures/temp_dir.h"

namespace ostrel {
namespace {

using fixtures::MtfWriter;
using fixtures::TempDir;

struct TerminalRun {
  int exitCode = -1;
  std::string screen;  // all the process wrote to the terminal
};

// Runs the tool with stderr on a new pseudo-terminal of `columns` columns
// (0: a terminal that does not know its width) and `env` as its whole
// environment.
TerminalRun RunOnTerminal(unsigned short columns, const std::vector<std::string>& env,
                          const std::vector<std::string>& args) {
  TerminalRun run;
  int master = -1, slave = -1;
  struct winsize size {};
  size.ws_row = 24;
  size.ws_col = columns;
  if (::openpty(&master, &slave, nullptr, nullptr, &size) != 0) return run;
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave, F_SETFD, FD_CLOEXEC);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, slave, 2);
  std::vector<char*> argv{const_cast<char*>(OSTREL_CLI_PATH)};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  pid_t pid = 0;
  const bool spawned = posix_spawn(&pid, OSTREL_CLI_PATH, &actions, nullptr, argv.data(), envp.data()) == 0;
  posix_spawn_file_actions_destroy(&actions);
  ::close(slave);
  if (spawned) {
    // Read until the last writer is gone (EIO), so that the tool never
    // waits on a full terminal buffer.
    char buf[4096];
    for (;;) {
      const ssize_t n = ::read(master, buf, sizeof buf);
      if (n > 0) {
        run.screen.append(buf, static_cast<std::size_t>(n));
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        break;
      }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  ::close(master);
  return run;
}

// The lines drawn, each between carriage returns, without the erase-line
// sequence.
std::vector<std::string> DrawnLines(std::string screen) {
  for (std::size_t at; (at = screen.find("\x1b[K")) != std::string::npos;) screen.erase(at, 3);
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t cr; (cr = screen.find('\r', start)) != std::string::npos; start = cr + 1) {
    lines.push_back(screen.substr(start, cr - start));
  }
  lines.push_back(screen.substr(start));
  return lines;
}

TEST(ProgressBar, FitsTheTerminalAndIsPlainOnADumbOne) {
  TempDir dir;
  MtfWriter w;
  w.Volb(u"C:");
  w.File(u"data.bin", {fixtures::Stan(1 << 20, 4)});
  const std::string bkf = dir.Write(w);
  const struct {
    unsigned short columns;
    std::vector<std::string> env;
    std::size_t width;  // of the progress line: one less than the terminal's
    bool erases;        // with the erase-line sequence
  } cases[] = {
      {40, {"TERM=xterm"}, 39, true},
      {200, {"TERM=xterm"}, 199, true},
      {200, {"TERM=xterm", "COLUMNS=50"}, 199, true},  // the terminal's own width comes first
      {0, {"TERM=xterm", "COLUMNS=60"}, 59, true},
      {0, {"TERM=xterm"}, 79, true},
      {40, {"TERM=dumb"}, 39, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.columns) + " columns, " + c.env.back());
    const TerminalRun r = RunOnTerminal(c.columns, c.env, {"scan", bkf});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.screen.find("\x1b[K") != std::string::npos, c.erases);
    if (!c.erases) {
      EXPECT_EQ(r.screen.find('\x1b'), std::string::npos);
    }
    std::size_t bars = 0;
    for (const std::string& line : DrawnLines(r.screen)) {
      if (line.find_first_not_of(' ') == std::string::npos) continue;  // cleared
      EXPECT_EQ(line.rfind("Scanning [", 0), 0u) << line;
      EXPECT_EQ(line.size(), c.width) << line;
      ++bars;
    }
    EXPECT_GT(bars, 0u) << r.screen;
    // Cleared at the end: the last thing written ends on an empty line.
    EXPECT_EQ(DrawnLines(r.screen).back().find_first_not_of(' '), std::string::npos);
  }
}

// One large file: the bar moves with its bytes, not only from file to file.
TEST(ProgressBar, ExtractionMovesWithinALargeFile) {
  TempDir dir;
  MtfWriter w;
  w.Volb(u"C:");
  // 1 GiB of zeros: the backup holds the header, the rest is a hole.
  constexpr std::uint64_t kLength = 1ull << 30;
  w.File(u"big.bin", {fixtures::StanWithLength({}, kLength)});
  const std::string bkf = dir.Write(w);
  std::filesystem::resize_file(bkf, std::filesystem::file_size(bkf) + kLength);
  const TerminalRun r = RunOnTerminal(80, {"TERM=xterm"}, {"extract", bkf, "--to", dir.File("out"), "--flat"});
  EXPECT_EQ(r.exitCode, 0);
  bool between = false;
  for (const std::string& line : DrawnLines(r.screen)) {
    if (line.rfind("Extracting [", 0) != 0) continue;
    const std::size_t percent = line.find('%');
    ASSERT_NE(percent, std::string::npos) << line;
    const double share = std::stod(line.substr(line.rfind(' ', percent) + 1));
    between = between || (share > 0.0 && share < 100.0);
  }
  EXPECT_TRUE(between) << r.screen;
}

}  // namespace
}  // namespace ostrel
