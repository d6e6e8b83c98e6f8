#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "catalogue/snapshot.h"
#include "cli/cli.h"
#include "reader/scanner.h"
#include "reader/snapshot_load.h"
#include "reader/text.h"

namespace ostrel::cli {
namespace {

const char kScanUsage[] =
    "Usage: ostrel-bkf scan BKF [--mode standard|advanced] [--heuristic]\n"
    "                           [--range START END] [--threads N] [--snapshot OUT]\n"
    "                           [--json] [--bytes]\n"
    "\n"
    "Scans BKF for MTF descriptor blocks and prints the catalogue it rebuilds:\n"
    "tapes, backup sets, volumes, folders and files, with placeholder entries\n"
    "where the file has lost them. Each file shows its catalogue index, the\n"
    "number 'extract --index' takes, its size and, when the backup stores it, its\n"
    "modification date (read as UTC): \"[12] notes.txt  (20,690 bytes, 2011-07-22\n"
    "11:32:40)\".\n"
    "\n"
    "Options:\n"
    "  -m, --mode standard  moves on 1,024 bytes after each block (the default)\n"
    "  -m, --mode advanced  checks each block harder (OS version byte), measures it\n"
    "                       by its data streams and jumps past it; catalogues files\n"
    "                       whose streams begin late in the block\n"
    "  --heuristic          with --mode advanced: any four digits or capital\n"
    "                       letters that are not a block ID count as a stream ID\n"
    "  --range START END    scan only the bytes from START to END (decimal byte\n"
    "                       positions; 0 0 is the whole file)\n"
    "  --threads N          search for blocks with at most N threads (default: one\n"
    "                       per core, at most OSTREL_SCAN_THREADS when it is set);\n"
    "                       1 searches each window as the scan reaches it\n"
    "  --snapshot OUT       also write the catalogue and the BKF file's absolute\n"
    "                       path to the recovery snapshot OUT (see 'ostrel-bkf list')\n"
    "  --json               print the catalogue as one JSON document instead of a\n"
    "                       tree (none is written -1, not found -2, sizes raw): each\n"
    "                       file with its folder \"path\" (the folder names from the\n"
    "                       top down) and whether its data is \"compressed\", each\n"
    "                       file and folder with its \"modified\" date\n"
    "                       (\"2011-07-22T11:32:40Z\", or null when unknown), and the\n"
    "                       ranges of the file that could not be read as\n"
    "                       \"unreadable\": [{\"offset\": ..., \"length\": ...}],\n"
    "                       and the files left out (below) as \"leftOut\":\n"
    "                       [{\"name\": ..., \"offset\": ..., \"length\": ...}]; a\n"
    "                       scan ended by a signal adds \"partial\": true\n"
    "  --bytes              print sizes and counts without thousands separators\n"
    "  -h, --help           show this text\n"
    "\n"
    "A progress bar is drawn on stderr when it is a terminal. Parts of the file\n"
    "that cannot be read (bad sectors) are read around in 4 KiB pieces and\n"
    "scanned as zeros; at the end stderr says how much could not be read:\n"
    "\"Unreadable: N bytes in M ranges (input/output error); the first at offset X\".\n"
    "A file without a single descriptor block gets the line \"no MTF block found:\n"
    "this does not look like a BKF file\" on stderr.\n"
    "In the standard mode a file whose data runs past the end of the backup (a\n"
    "backup cut off by a full disk) is not catalogued; each such file gets the line\n"
    "\"left out: NAME (N bytes at offset X) runs past the end of the backup; the\n"
    "advanced mode recovers what is there\" on stderr.\n"
    "\n"
    "Exit status: 0 the file was scanned, 1 it was scanned but parts of it could\n"
    "not be read (the catalogue may lack what they held) or files were left out,\n"
    "2 bad arguments or a file that cannot be opened.\n";

int Usage(const std::string& problem) { return UsageError("scan", problem); }

}  // namespace

int ScanAndPrint(const std::string& bkfPath, const ScanOptions& options, const std::string& snapshotPath,
                 const PrintOptions& print) {
  // The snapshot takes its place by a rename: refused before the scan when
  // that would replace the backup itself, a device or a FIFO.
  if (!snapshotPath.empty()) {
    if (const std::string problem = SnapshotTargetProblem(snapshotPath, bkfPath); !problem.empty()) {
      Error("cannot write the snapshot '" + snapshotPath + "': " + problem);
      return kExitError;
    }
  }
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
  ReportScanNote(*scanner);
  if (InterruptStops::Signal() != 0) {
    Error("interrupted; the catalogue below holds what was found so far");
  } else if (scanner->BlocksFound() == 0) {
    // Still a scan that did its work: the exit status stays 0.
    ReportNoBlocks();
  }
  if (!snapshotPath.empty() && InterruptStops::Signal() == 0) {
    // The snapshot names the BKF file by its absolute path, so that it can be
    // loaded from anywhere.
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(bkfPath, ec);
    if (ec) absolute = bkfPath;
    const SnapshotWriteResult written =
        WriteSnapshot(session.catalogue, PathToUtf16(absolute.string()), snapshotPath, stop);
    if (!written.ok) {
      Error("cannot write the snapshot '" + snapshotPath + "': " + written.error);
      return kExitError;
    }
  }
  // The backup's own catalogue tells what the scan did not find.
  CatalogueComparison comparison;
  if (InterruptStops::Signal() == 0) comparison = ReportCatalogueComparison(session, stop);
  if (print.json) {
    const std::vector<std::uint8_t> compressed = CompressedFlags(session.catalogue, session.file);
    // After the reads of the compressed check, so that the list holds them too.
    // A scan cut short by a signal holds only what it found so far: the
    // document says so, for scripts that read it.
    const std::string partial = InterruptStops::Signal() != 0 ? " \"partial\": true,\n" : "";
    PrintCatalogueJson(stdout, session.catalogue, bkfPath, compressed,
                       partial + UnreadableJson(session.file.Unreadable()) + LeftOutJson(session.leftOut) +
                           MissingJson(comparison));
  } else {
    PrintCatalogueTree(stdout, session.catalogue, print.rawSizes);
  }
  FlushOutput(stdout);
  const bool leftOut = ReportLeftOut(session.leftOut, session.leftOutNotListed);
  const bool unreadableParts = ReportUnreadable(session.file);
  if (InterruptStops::Signal() != 0) return InterruptStops::ExitCode();
  return unreadableParts || leftOut || !comparison.missing.empty() ? kExitSome : kExitOk;
}

int ScanCommand(const Args& args) {
  std::string bkfPath;
  std::string snapshotPath;
  ScanOptions options;
  PrintOptions print;
  ArgReader reader(args);
  while (reader.Next()) {
    if (const auto exit = TakeCommonOption(reader, "scan", kScanUsage)) return *exit;
    if (TakePrintOption(reader, print)) continue;
    const std::string& a = reader.Name();
    std::string problem;
    if (!reader.IsOption()) {
      if (!bkfPath.empty()) return Usage("only one BKF file can be scanned");
      bkfPath = a;
    } else if (a == "--snapshot") {
      const std::optional<std::string> path = reader.Value();
      if (!path) return Usage("--snapshot needs the path of the snapshot to write");
      snapshotPath = *path;
    } else if (TakeScanOption(reader, options, problem)) {
      if (!problem.empty()) return Usage(problem);
    } else {
      return Usage("unknown option '" + reader.Given() + "'");
    }
  }
  if (bkfPath.empty()) return Usage("no BKF file given");
  if (const std::string problem = CheckScanOptions(options); !problem.empty()) return Usage(problem);
  return ScanAndPrint(bkfPath, options, snapshotPath, print);
}

}  // namespace ostrel::cli
