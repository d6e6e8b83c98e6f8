#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

#include "cli/cli.h"
#include "reader/scanner.h"

namespace ostrel::cli {
namespace {

const char kScanUsage[] =
    "Usage: ostrel-bkf scan BKF [--mode standard] [--range START END] [--json]\n"
    "\n"
    "Scans BKF for MTF descriptor blocks and prints the catalogue it rebuilds:\n"
    "tapes, backup sets, volumes, folders and files, with placeholder entries\n"
    "where the file has lost them.\n"
    "\n"
    "Options:\n"
    "  --mode standard    the recovery mode (standard: 1,024-byte windows)\n"
    "  --range START END  scan only the bytes from START to END (decimal byte\n"
    "                     positions; 0 0 is the whole file)\n"
    "  --json             print the catalogue as one JSON document instead of a\n"
    "                     tree (none is written -1, not found -2)\n"
    "  --help             show this text\n"
    "\n"
    "A progress bar is drawn on stderr when it is a terminal.\n";

int Usage(const std::string& problem) {
  Error(problem);
  std::fputs(kScanUsage, stderr);
  return kExitError;
}

}  // namespace

int ScanCommand(const Args& args) {
  std::string bkfPath;
  std::string mode = "standard";
  std::uint64_t rangeStart = 0, rangeEnd = 0;
  bool json = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kScanUsage, stdout);
      return kExitOk;
    } else if (a == "--json") {
      json = true;
    } else if (a == "--mode") {
      if (i + 1 >= args.size()) return Usage("--mode needs a value");
      mode = args[++i];
      if (mode != "standard") return Usage("unknown mode '" + mode + "'");
    } else if (a == "--range") {
      if (i + 2 >= args.size()) return Usage("--range needs START and END");
      const auto s = ParseU64(args[i + 1]);
      const auto e = ParseU64(args[i + 2]);
      if (!s || !e) return Usage("--range takes two unsigned decimal byte positions");
      rangeStart = *s;
      rangeEnd = *e;
      i += 2;
    } else if (!a.empty() && a[0] == '-') {
      return Usage("unknown option '" + a + "'");
    } else if (bkfPath.empty()) {
      bkfPath = a;
    } else {
      return Usage("only one BKF file can be scanned");
    }
  }
  if (bkfPath.empty()) return Usage("no BKF file given");

  std::atomic<int> running{1};
  ProgressBar progress("Scanning");
  bkf scanner(running, &progress);
  scanner.SetRange(rangeStart, rangeEnd);
  if (scanner.Scan(bkfPath) == 0) {
    progress.Finish();
    Error("cannot open '" + bkfPath + "': " + scanner.FileError());
    return kExitError;
  }
  progress.Finish();
  if (json) {
    PrintCatalogueJson(stdout, scanner.Cat(), bkfPath);
  } else {
    PrintCatalogueTree(stdout, scanner.Cat());
  }
  return kExitOk;
}

}  // namespace ostrel::cli
