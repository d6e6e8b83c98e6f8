#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "catalogue/snapshot.h"
#include "cli/cli.h"
#include "reader/scanner.h"
#include "reader/text.h"

namespace ostrel::cli {
namespace {

const char kScanUsage[] =
    "Usage: ostrel-bkf scan BKF [--mode standard|advanced] [--heuristic]\n"
    "                           [--range START END] [--snapshot OUT] [--json]\n"
    "\n"
    "Scans BKF for MTF descriptor blocks and prints the catalogue it rebuilds:\n"
    "tapes, backup sets, volumes, folders and files, with placeholder entries\n"
    "where the file has lost them.\n"
    "\n"
    "Options:\n"
    "  --mode standard    moves on 1,024 bytes after each block (the default)\n"
    "  --mode advanced    checks each block harder (OS version byte), measures it\n"
    "                     by its data streams and jumps past it; catalogues files\n"
    "                     whose streams begin late in the block\n"
    "  --heuristic        with --mode advanced: any four digits or capital\n"
    "                     letters that are not a block ID count as a stream ID\n"
    "  --range START END  scan only the bytes from START to END (decimal byte\n"
    "                     positions; 0 0 is the whole file)\n"
    "  --snapshot OUT     also write the catalogue and the BKF file's absolute path\n"
    "                     to the recovery snapshot OUT (see 'ostrel-bkf list')\n"
    "  --json             print the catalogue as one JSON document instead of a\n"
    "                     tree (none is written -1, not found -2), with the\n"
    "                     ranges of the file that could not be read as\n"
    "                     \"unreadable\": [{\"offset\": ..., \"length\": ...}]\n"
    "  --help             show this text\n"
    "\n"
    "A progress bar is drawn on stderr when it is a terminal. Parts of the file\n"
    "that cannot be read (bad sectors) are read around in 4 KiB pieces and\n"
    "scanned as zeros; at the end stderr says how much could not be read:\n"
    "\"Unreadable: N bytes in M ranges (input/output error); the first at offset X\".\n"
    "\n"
    "Exit status: 0 the file was scanned, 1 it was scanned but parts of it could\n"
    "not be read (the catalogue may lack what they held), 2 bad arguments or a\n"
    "file that cannot be opened.\n";

int Usage(const std::string& problem) { return UsageError("scan", problem); }

}  // namespace

int ScanCommand(const Args& args) {
  std::string bkfPath;
  std::string snapshotPath;
  ScanOptions options;
  bool json = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string problem;
    if (a == "--help" || a == "-h") {
      std::fputs(kScanUsage, stdout);
      return kExitOk;
    } else if (a == "--json") {
      json = true;
    } else if (a == "--snapshot") {
      if (i + 1 >= args.size()) return Usage("--snapshot needs the path of the snapshot to write");
      snapshotPath = args[++i];
    } else if (TakeScanOption(args, i, options, problem)) {
      if (!problem.empty()) return Usage(problem);
    } else if (!a.empty() && a[0] == '-') {
      return Usage("unknown option '" + a + "'");
    } else if (bkfPath.empty()) {
      bkfPath = a;
    } else {
      return Usage("only one BKF file can be scanned");
    }
  }
  if (bkfPath.empty()) return Usage("no BKF file given");
  if (const std::string problem = CheckScanOptions(options); !problem.empty()) return Usage(problem);

  StopToken stop;
  const InterruptStops interrupts(stop);
  RecoverySession session;
  ProgressBar progress("Scanning");
  const std::unique_ptr<Scanner> scanner = MakeScanner(options, session, stop, &progress);
  if (scanner->Scan(bkfPath) == 0) {
    progress.Finish();
    Error("cannot open '" + bkfPath + "': " + scanner->FileError());
    return kExitError;
  }
  progress.Finish();
  if (InterruptStops::Signal() != 0) {
    Error("interrupted; the catalogue below holds what was found so far");
  }
  if (!snapshotPath.empty() && InterruptStops::Signal() == 0) {
    // The snapshot names the BKF file by its absolute path, so that it can be
    // loaded from anywhere.
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(bkfPath, ec);
    if (ec) absolute = bkfPath;
    const SnapshotWriteResult written =
        WriteSnapshot(session.catalogue, Utf8ToUtf16(absolute.string()), snapshotPath, stop);
    if (!written.ok) {
      Error("cannot write the snapshot '" + snapshotPath + "': " + written.error);
      return kExitError;
    }
  }
  const UnreadableSummary unreadable = session.file.Unreadable();
  if (json) {
    PrintCatalogueJson(stdout, session.catalogue, bkfPath, UnreadableJson(unreadable));
  } else {
    PrintCatalogueTree(stdout, session.catalogue);
  }
  std::fflush(stdout);
  const bool unreadableParts = ReportUnreadable(session.file);
  if (InterruptStops::Signal() != 0) return InterruptStops::ExitCode();
  return unreadableParts ? kExitSome : kExitOk;
}

}  // namespace ostrel::cli
