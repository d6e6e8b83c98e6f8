#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "reader/extract.h"
#include "reader/recovery_paths.h"
#include "reader/save_files.h"
#include "reader/scanner.h"
#include "reader/snapshot_load.h"
#include "reader/text.h"

namespace ostrel::cli {
namespace {

const char kExtractUsage[] =
    "Usage: ostrel-bkf extract BKF --to DIR [--flat] [--index N]... [--pattern WILDCARD]\n"
    "                          [--mode standard|advanced] [--heuristic] [--range START END]\n"
    "                          [--skip-damaged] [--verbose] [--overwrite] [--portable-names]\n"
    "       ostrel-bkf extract --snapshot IN --to DIR [--flat] [--index N]... [--pattern WILDCARD]\n"
    "                          [--skip-damaged] [--verbose] [--overwrite] [--portable-names]\n"
    "\n"
    "Scans BKF and writes the files of the catalogue it rebuilds into DIR (created\n"
    "if missing), in their folder hierarchy (tape, backup set, volume, folders).\n"
    "With --snapshot the catalogue comes from a recovery snapshot written by\n"
    "'ostrel-bkf scan --snapshot', without scanning again, and the files are read\n"
    "from the BKF file the snapshot names.\n"
    "\n"
    "Options:\n"
    "  --to DIR            the destination folder\n"
    "  --flat              put every file directly in DIR\n"
    "  --index N           extract only file N of the catalogue (as numbered by\n"
    "                      'ostrel-bkf scan --json'); may be given several times\n"
    "  --pattern WILDCARD  extract only files whose name matches WILDCARD, case-\n"
    "                      sensitive: '*' any run of characters, '?' one character\n"
    "                      (quote it for the shell)\n"
    "  --overwrite         replace files that exist in DIR under a recovered file's\n"
    "                      name (a replacement takes the old file's place only once\n"
    "                      it is complete); without it they are kept\n"
    "  --portable-names    give every name its portable form from the start\n"
    "  --mode MODE         the recovery mode of the scan: standard (the default) or\n"
    "                      advanced (blocks measured by their streams and jumped over)\n"
    "  --heuristic         with --mode advanced: any four digits or capital letters\n"
    "                      that are not a block ID count as a stream ID\n"
    "  --range START END   scan only the bytes from START to END (decimal byte\n"
    "                      positions; 0 0 is the whole file)\n"
    "  --snapshot IN       extract from the catalogue stored in the snapshot IN\n"
    "                      (no BKF argument, no scan options)\n"
    "  --skip-damaged      leave out files whose data the BKF file could not wholly\n"
    "                      read (bad sectors) instead of writing them with zeros\n"
    "                      in the unreadable parts\n"
    "  --verbose           also list the files that are empty in the backup\n"
    "  --help              show this text\n"
    "\n"
    "Names are made safe: '/' and NUL become '_', empty names, '.' and '..' become\n"
    "'_', names are cut to 255 bytes keeping their extension, and a name already\n"
    "written in the same folder by this run gets ' (2)', ' (3)', ... before its\n"
    "extension. Nothing is written outside DIR, and no symbolic link is followed.\n"
    "\n"
    "A file that exists in DIR is never replaced (unless --overwrite): the recovered\n"
    "file takes the next free number, and a line says so ('boot.ini exists; saved\n"
    "as boot.ini (2)'). Existing folders are merged into. A name the destination\n"
    "refuses is saved in its portable form, and a line says so ('saved 'C:' as 'C_'\n"
    "(the destination refuses ':')'): < > : \" \\ | ? * and control characters\n"
    "become '_', trailing dots and blanks go, and CON, PRN, AUX, NUL, COM1-COM9 and\n"
    "LPT1-LPT9 (with or without an extension) get a leading '_'. On FAT, exFAT and\n"
    "NTFS drives names are portable from the start, and names that differ only in\n"
    "case are numbered as one.\n"
    "\n"
    "Every file that is not fully extracted is reported with the reason; a summary\n"
    "follows. A file part of whose data could not be read is written with zeros\n"
    "there (\"damaged: ...: 65,536 bytes unreadable at offset X in the backup;\n"
    "written with zeros there\"), and one whose data the end of the BKF file cuts\n"
    "off is written as far as it goes (\"cut short: ...: cut short by the end of\n"
    "the backup: N of M bytes\"); both count as files with problems. The parts of\n"
    "the BKF file that could not be read are summed up on stderr (\"Unreadable:\").\n"
    "Exit status: 0 every selected file was extracted whole, 1 some were not or\n"
    "parts of the BKF file could not be read, 2 bad arguments or a BKF file that\n"
    "cannot be opened.\n";

int Usage(const std::string& problem) { return UsageError("extract", problem); }

struct ExtractOptions {
  std::string bkfPath;
  std::string snapshotPath;
  std::string destination;
  bool flat = false;
  bool skipDamaged = false;
  bool verbose = false;
  std::set<std::uint64_t> indices;
  std::optional<std::string> pattern;
  bool overwrite = false;
  bool portableNames = false;
  ScanOptions scan;
};

// How the catalogue to extract from is made: one scan of the BKF file, or the
// load of a snapshot. The scanner keeps the file open for the extraction. Null
// (with the reason in `error`) when the file or the snapshot cannot be read.
std::unique_ptr<RecoverySession> BuildSession(const ExtractOptions& options, const StopToken& stop,
                                              ProgressBar& progress, std::string& error) {
  if (!options.snapshotPath.empty()) {
    LoadedSnapshot loaded = LoadSnapshot(options.snapshotPath, stop);
    if (!loaded.session) error = "cannot load the snapshot '" + options.snapshotPath + "': " + loaded.error;
    if (loaded.session && BkfReader()) loaded.session->file.SetReader(BkfReader());
    return std::move(loaded.session);
  }
  auto session = std::make_unique<RecoverySession>();
  const std::unique_ptr<Scanner> scanner = MakeScanner(options.scan, *session, stop, &progress);
  const int scanned = scanner->Scan(options.bkfPath);
  progress.Finish();
  if (scanned == 0) {
    error = "cannot open '" + options.bkfPath + "': " + scanner->FileError();
    return nullptr;
  }
  return session;
}

// The files to extract, in catalogue order; nullopt (with the problem) when an
// index names no file.
std::optional<std::vector<std::uint64_t>> SelectFiles(const Catalogue& cat,
                                                      const ExtractOptions& options,
                                                      std::string& problem) {
  for (std::uint64_t i : options.indices) {
    if (i >= cat.FileCount()) {
      problem = "no file with index " + std::to_string(i) + " (the catalogue holds " +
                std::to_string(cat.FileCount()) + " files)";
      return std::nullopt;
    }
  }
  const std::u16string pattern = options.pattern ? Utf8ToUtf16(*options.pattern) : u"";
  std::vector<std::uint64_t> out;
  auto take = [&](std::uint64_t i) {
    if (!options.pattern || WildcardMatch(cat.FileAt(i).name, pattern)) out.push_back(i);
  };
  if (options.indices.empty()) {
    for (std::uint64_t i = 0; i < cat.FileCount(); ++i) take(i);
  } else {
    for (std::uint64_t i : options.indices) take(i);
  }
  return out;
}

// Takes the arguments into `options`; answers the exit code when they end the
// command (--help, a usage error).
std::optional<int> ParseExtractArgs(const Args& args, ExtractOptions& options) {
  std::string problem;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kExtractUsage, stdout);
      return kExitOk;
    } else if (a == "--to") {
      if (i + 1 >= args.size()) return Usage("--to needs a folder");
      options.destination = args[++i];
    } else if (a == "--flat") {
      options.flat = true;
    } else if (a == "--skip-damaged") {
      options.skipDamaged = true;
    } else if (a == "--verbose") {
      options.verbose = true;
    } else if (a == "--overwrite") {
      options.overwrite = true;
    } else if (a == "--portable-names") {
      options.portableNames = true;
    } else if (a == "--index") {
      const auto n = i + 1 < args.size() ? ParseU64(args[i + 1]) : std::nullopt;
      if (!n) return Usage("--index takes an unsigned decimal file index");
      options.indices.insert(*n);
      ++i;
    } else if (a == "--pattern") {
      if (i + 1 >= args.size()) return Usage("--pattern needs a wildcard");
      options.pattern = args[++i];
    } else if (a == "--snapshot") {
      if (i + 1 >= args.size()) return Usage("--snapshot needs the path of a snapshot");
      options.snapshotPath = args[++i];
    } else if (TakeScanOption(args, i, options.scan, problem)) {
      if (!problem.empty()) return Usage(problem);
    } else if (!a.empty() && a[0] == '-') {
      return Usage("unknown option '" + a + "'");
    } else if (options.bkfPath.empty()) {
      options.bkfPath = a;
    } else {
      return Usage("only one BKF file can be extracted from");
    }
  }
  return std::nullopt;
}

// The options taken together; answers the exit code of a usage error.
std::optional<int> CheckExtractOptions(const ExtractOptions& options) {
  if (!options.snapshotPath.empty()) {
    if (!options.bkfPath.empty()) {
      return Usage("--snapshot names the BKF file itself: give no BKF argument with it");
    }
    if (options.scan.mode != RecoveryMode::Standard || options.scan.heuristic || options.scan.rangeStart != 0 ||
        options.scan.rangeEnd != 0) {
      return Usage("--mode, --heuristic and --range choose how to scan; a snapshot is not scanned");
    }
  } else if (options.bkfPath.empty()) {
    return Usage("no BKF file given (or --snapshot IN)");
  }
  if (options.destination.empty()) return Usage("no destination given (--to DIR)");
  if (const std::string problem = CheckScanOptions(options.scan); !problem.empty()) return Usage(problem);
  return std::nullopt;
}

// What one extraction run did, for its summary.
struct ExtractTally {
  std::uint64_t written = 0, empty = 0, problems = 0, bytes = 0;
  std::uint64_t renamed = 0, kept = 0, replaced = 0;
};

// Saves the selected files one by one, printing a line for each problem and
// each changed name.
ExtractTally SaveSelected(SaveRun& run, const Catalogue& cat, const std::vector<std::uint64_t>& selected,
                          const ExtractOptions& options) {
  ExtractTally t;
  ProgressBar progress("Extracting");
  std::uint64_t done = 0;
  auto report = [&](const char* what, std::uint64_t index, const std::string& reason) {
    progress.Finish();
    std::printf("%s: %s: %s\n", what, ForTerminal(Utf16ToUtf8(CataloguePath(cat, index))).c_str(),
                ForTerminal(reason).c_str());
  };
  for (std::uint64_t index : selected) {
    progress.Show(done++, selected.size(), t.written);
    const SaveResult saved = run.SaveFile(index);
    for (const NameChange& change : saved.changes) {
      t.renamed += change.portable;
      t.kept += change.existing && !change.folder;
      t.replaced += change.replaced;
      progress.Finish();
      std::printf("%s\n", ForTerminal(change.message).c_str());
    }
    std::string reason = saved.reason;
    if (saved.outcome) {
      reason += " [" + std::string(OutcomeName(*saved.outcome)) + "]";
      if (*saved.outcome == ExtractOutcome::CannotCreate) reason += ": '" + saved.path + "'";
    }
    switch (saved.status) {
      case SaveStatus::Saved:
        ++t.written;
        t.bytes += saved.bytes;
        if (saved.outcome == ExtractOutcome::Empty) {
          ++t.empty;
          if (options.verbose) report("empty", index, reason);
        }
        break;
      case SaveStatus::SavedIncomplete:
        ++t.written;
        t.bytes += saved.bytes;
        report(saved.unreadableBytes != 0 ? "damaged" : "cut short", index, saved.reason);
        ++t.problems;
        break;
      case SaveStatus::WriteFailed:
      case SaveStatus::Stopped:
        report("incomplete", index, "'" + saved.path + "': " + saved.reason);
        ++t.problems;
        break;
      case SaveStatus::NotRecovered:
        report("not extracted", index, reason);
        ++t.problems;
        break;
    }
    if (saved.status == SaveStatus::Stopped) break;  // interrupted: the rest is not tried
  }
  progress.Finish();
  return t;
}

}  // namespace

int ExtractCommand(const Args& args) {
  ExtractOptions options;
  if (const auto exit = ParseExtractArgs(args, options)) return *exit;
  if (const auto exit = CheckExtractOptions(options)) return *exit;

  StopToken stop;
  const InterruptStops interrupts(stop);
  std::string error;
  ProgressBar scanProgress("Scanning");
  const std::unique_ptr<RecoverySession> session = BuildSession(options, stop, scanProgress, error);
  if (!session) {
    Error(error);
    return kExitError;
  }
  if (InterruptStops::Signal() != 0) {
    Error("interrupted while scanning; nothing was extracted");
    return InterruptStops::ExitCode();
  }
  // Stop ends the work around a failing disk's bad pieces too.
  session->file.SetStopToken(&stop);
  const Catalogue& cat = session->catalogue;
  const auto selected = SelectFiles(cat, options, error);
  if (!selected) return Usage(error);

  std::optional<Destination> destination = PrepareDestination(options.destination, error);
  if (!destination) {
    Error("cannot use '" + options.destination + "' as the destination folder: " + error);
    return kExitError;
  }
  if (selected->empty()) Error("no file of the catalogue is selected");
  if (destination->windowsNames && !options.portableNames) {
    std::printf("The destination (%s) refuses the names Windows refuses: names are saved in their "
                "portable form.\n",
                destination->fileSystem.empty() ? "file system unknown" : destination->fileSystem.c_str());
  }

  SaveOptions saveOptions;
  saveOptions.existing = options.overwrite ? ExistingFiles::Replace : ExistingFiles::KeepBoth;
  saveOptions.portableNames = options.portableNames;
  SaveRun run(cat, session->file, std::move(*destination), !options.flat, stop,
              std::move(saveOptions));
  run.SetSkipUnreadable(options.skipDamaged);
  const ExtractTally t = SaveSelected(run, cat, *selected, options);
  std::printf("Files written: %" PRIu64 " (%" PRIu64 " empty)\n", t.written, t.empty);
  std::printf("Bytes written: %" PRIu64 "\n", t.bytes);
  std::printf("Files with problems: %" PRIu64 "\n", t.problems);
  if (t.renamed > 0) std::printf("Names changed for the destination: %" PRIu64 "\n", t.renamed);
  if (t.kept > 0) std::printf("Existing files kept (saved under a new name): %" PRIu64 "\n", t.kept);
  if (t.replaced > 0) std::printf("Existing files replaced: %" PRIu64 "\n", t.replaced);
  std::fflush(stdout);
  // Parts of the backup that could not be read may have held files the
  // catalogue now lacks: not a full success either.
  const bool unreadable = ReportUnreadable(session->file);
  if (InterruptStops::Signal() != 0) {
    Error("interrupted; the file being written was removed, the files listed above are complete");
    return InterruptStops::ExitCode();
  }
  return t.problems == 0 && !unreadable ? kExitOk : kExitSome;
}

}  // namespace ostrel::cli
