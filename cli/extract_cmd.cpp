#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/tar_run.h"
#include "cli/tar_writer.h"
#include "reader/extract.h"
#include "reader/recovery_paths.h"
#include "reader/save_files.h"
#include "reader/scanner.h"
#include "reader/snapshot_load.h"
#include "reader/text.h"

namespace ostrel::cli {
namespace {

const char kExtractUsage[] =
    "Usage: ostrel-bkf extract BKF --to DIR [--flat] [--index N]... [--pattern WILDCARD]...\n"
    "                          [--mode standard|advanced] [--heuristic] [--range START END]\n"
    "                          [--threads N] [--skip-damaged] [--verbose] [--overwrite]\n"
    "                          [--portable-names] [--no-read-limit] [--no-dates] [--bytes]\n"
    "       ostrel-bkf extract --from-snapshot IN --to DIR [--flat] [--index N]...\n"
    "                          [--pattern WILDCARD]... [--skip-damaged] [--verbose]\n"
    "                          [--overwrite] [--portable-names] [--no-read-limit] [--bytes]\n"
    "       ostrel-bkf extract BKF --tar OUT|- [the options above but --to and --overwrite]\n"
    "       ostrel-bkf extract --from-snapshot IN --tar OUT|- [...]\n"
    "\n"
    "Scans BKF and writes the files of the catalogue it rebuilds into DIR (created\n"
    "if missing), in their folder hierarchy (tape, backup set, volume, folders).\n"
    "With --from-snapshot the catalogue comes from a recovery snapshot written by\n"
    "'ostrel-bkf scan --snapshot', without scanning again, and the files are read\n"
    "from the BKF file the snapshot names.\n"
    "\n"
    "Options:\n"
    "  -o, --to DIR            the destination folder\n"
    "  --tar OUT               write the files as one tar archive (POSIX pax) to\n"
    "                          OUT instead, or to standard output with '-'; see\n"
    "                          below\n"
    "  --flat                  put every file directly in DIR\n"
    "  -i, --index N           extract file N of the catalogue (the number in\n"
    "                          brackets in 'ostrel-bkf scan'); may be repeated\n"
    "  -p, --pattern WILDCARD  extract the files whose name matches WILDCARD, case-\n"
    "                          sensitive: '*' any run of characters, '?' one\n"
    "                          character (quote it for the shell); may be repeated\n"
    "  --overwrite             replace files that exist in DIR under a recovered\n"
    "                          file's name (a replacement takes the old file's place\n"
    "                          only once it is complete); without it they are kept\n"
    "  --portable-names        give every name its portable form from the start\n"
    "  -m, --mode MODE         the recovery mode of the scan: standard (the default)\n"
    "                          or advanced (blocks measured by their streams and\n"
    "                          jumped over)\n"
    "  --heuristic             with --mode advanced: any four digits or capital\n"
    "                          letters that are not a block ID count as a stream ID\n"
    "  --range START END       scan only the bytes from START to END (decimal byte\n"
    "                          positions; 0 0 is the whole file)\n"
    "  --threads N             search for blocks with at most N threads (default:\n"
    "                          one per core, at most OSTREL_SCAN_THREADS)\n"
    "  --from-snapshot IN      extract from the catalogue stored in the snapshot IN\n"
    "                          (no BKF argument, no scan options); the older\n"
    "                          spelling --snapshot IN still works, with a note\n"
    "  --skip-damaged          leave out files whose data the BKF file could not\n"
    "                          wholly read (bad sectors) instead of writing them\n"
    "                          with zeros in the unreadable parts\n"
    "  --verbose               also list the files that are empty in the backup\n"
    "  --no-read-limit         read as much of the BKF file as the catalogue asks;\n"
    "                          without it the run stops once it has read four times\n"
    "                          the BKF file's size (hostile or looping records)\n"
    "  --no-dates              give the written files and folders the current time\n"
    "                          instead of the modification date the backup stores\n"
    "                          (a snapshot stores no dates: its files always do)\n"
    "  --bytes                 print the summary's numbers without thousands\n"
    "                          separators\n"
    "  -h, --help              show this text\n"
    "\n"
    "Without --index and --pattern every file is extracted. With them, a file is\n"
    "extracted when it has one of the indices or matches one of the patterns.\n"
    "A selection that holds no file (an index the catalogue does not have,\n"
    "patterns that match nothing) is an error: nothing is written, exit status 2.\n"
    "\n"
    "Names are made safe: '/', NUL and control characters become '_', empty\n"
    "names, '.' and '..' become '_', names are cut to 255 bytes keeping their\n"
    "extension, and a name already written in the same folder by this run gets\n"
    "' (2)', ' (3)', ... before its extension. Nothing is written outside DIR,\n"
    "and no symbolic link is followed.\n"
    "\n"
    "A file that exists in DIR is never replaced (unless --overwrite): the recovered\n"
    "file takes the next free number, and a line says so ('boot.ini exists; saved\n"
    "as boot (2).ini'). Existing folders are merged into. A name the destination\n"
    "refuses is saved in its portable form, and a line says so ('saved 'C:' as 'C_'\n"
    "(the destination refuses ':')'): < > : \" \\ | ? * and control characters\n"
    "become '_', trailing dots and blanks go, and CON, PRN, AUX, NUL, COM1-COM9 and\n"
    "LPT1-LPT9 (with or without an extension) get a leading '_'. On FAT, exFAT and\n"
    "NTFS drives names are portable from the start, and names that differ only in\n"
    "case are numbered as one.\n"
    "\n"
    "Every file that is not fully extracted is reported with the reason; a summary\n"
    "follows. A report about a written file names it by its path on disk, and by\n"
    "its name in the backup too where that differs (\"damaged: DIR/C:/a_b.txt\n"
    "(a/b.txt in the backup): ...\"); a file that was not written is named by its\n"
    "path in the catalogue. A file part of whose data could not be read is written\n"
    "with zeros there (\"damaged: ...: 65,536 bytes unreadable at offset X in the\n"
    "backup; written with zeros there\"), and one whose data the end of the BKF\n"
    "file cuts off is written as far as it goes (\"cut short: ...: cut short by the\n"
    "end of the backup: N of M bytes\"); both count as files with problems. The\n"
    "parts of the BKF file that could not be read are summed up on stderr\n"
    "(\"Unreadable:\").\n"
    "With --tar each file becomes an entry of the archive under the path it would\n"
    "have below DIR (the same names and numbering; with '/' between folders), each\n"
    "folder an entry before its first file; entries take the backup's dates (or\n"
    "the time of the run), mode 0644 (folders 0755) and owner 0. OUT is created\n"
    "new: a file that exists is never replaced, only a character device such as\n"
    "/dev/null or a FIFO is written to as it is. In this mode every report and\n"
    "the summary go to stderr, so that standard output holds only the archive.\n"
    "Files that cannot be recovered (and, with --skip-damaged, damaged ones) are\n"
    "left out of the archive; no entry is ever cut short by the read limit. An\n"
    "archive that cannot be written (a closed pipe, a full disk) ends the run\n"
    "with the reason and exit status 2.\n"
    "\n"
    "Exit status: 0 every selected file was extracted whole, 1 some were not or\n"
    "parts of the BKF file could not be read, 2 bad arguments, a selection that\n"
    "holds no file, a BKF file that cannot be opened or a tar archive that cannot\n"
    "be written.\n";

int Usage(const std::string& problem) { return UsageError("extract", problem); }

struct ExtractOptions {
  std::string bkfPath;
  std::string snapshotPath;
  std::string destination;
  std::optional<std::string> tar;  // --tar OUT: the archive's path, or "-"
  bool flat = false;
  bool skipDamaged = false;
  bool verbose = false;
  bool rawSizes = false;
  std::set<std::uint64_t> indices;
  std::vector<std::string> patterns;
  bool overwrite = false;
  bool portableNames = false;
  bool noReadLimit = false;
  bool noDates = false;
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
  if (scanner->BlocksFound() == 0 && !stop.StopRequested()) ReportNoBlocks();
  ReportScanNote(*scanner);
  return session;
}

// The files to extract, in catalogue order: every file, or those that have one
// of the indices or match one of the patterns. Nullopt (with the problem) when
// an index names no file or the selection holds none.
std::optional<std::vector<std::uint64_t>> SelectFiles(const Catalogue& cat,
                                                      const ExtractOptions& options,
                                                      std::string& problem) {
  for (std::uint64_t i : options.indices) {
    if (i >= cat.FileCount()) {
      problem = "no file with index " + std::to_string(i) + " (the catalogue holds " +
                std::to_string(cat.FileCount()) + (cat.FileCount() == 1 ? " file" : " files") +
                "; 'ostrel-bkf scan' shows their indices)";
      return std::nullopt;
    }
  }
  std::vector<std::u16string> patterns;
  for (const std::string& p : options.patterns) patterns.push_back(Utf8ToUtf16(p));
  const bool all = options.indices.empty() && patterns.empty();
  std::vector<std::uint64_t> out;
  for (std::uint64_t i = 0; i < cat.FileCount(); ++i) {
    const std::u16string_view name = cat.FileAt(i).name;
    if (all || options.indices.count(i) != 0 ||
        std::any_of(patterns.begin(), patterns.end(), [&](const auto& p) { return WildcardMatch(name, p); })) {
      out.push_back(i);
    }
  }
  if (out.empty() && !all) {
    problem = "no file matches --pattern";
    for (std::size_t k = 0; k < options.patterns.size(); ++k) {
      problem += (k == 0 ? " '" : " or '") + options.patterns[k] + "'";
    }
    return std::nullopt;
  }
  return out;
}

// Takes the arguments into `options`; answers the exit code when they end the
// command (--help, a usage error).
std::optional<int> ParseExtractArgs(const Args& args, ExtractOptions& options) {
  std::string problem;
  ArgReader reader(args);
  while (reader.Next()) {
    if (const auto exit = TakeCommonOption(reader, "extract", kExtractUsage)) return *exit;
    const std::string& a = reader.Name();
    if (!reader.IsOption()) {
      if (!options.bkfPath.empty()) return Usage("only one BKF file can be extracted from");
      options.bkfPath = a;
    } else if (a == "--to") {
      const std::optional<std::string> to = reader.Value();
      if (!to) return Usage("--to needs a folder");
      options.destination = *to;
    } else if (a == "--tar") {
      const std::optional<std::string> tar = reader.Value();
      if (!tar || tar->empty()) return Usage("--tar needs a file, or '-' for standard output");
      options.tar = *tar;
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
    } else if (a == "--no-read-limit") {
      options.noReadLimit = true;
    } else if (a == "--no-dates") {
      options.noDates = true;
    } else if (a == "--bytes") {
      options.rawSizes = true;
    } else if (a == "--index") {
      const std::optional<std::string> value = reader.Value();
      const auto n = value ? ParseU64(*value) : std::nullopt;
      if (!n) return Usage("--index takes an unsigned decimal file index");
      options.indices.insert(*n);
    } else if (a == "--pattern") {
      const std::optional<std::string> pattern = reader.Value();
      if (!pattern) return Usage("--pattern needs a wildcard");
      options.patterns.push_back(*pattern);
    } else if (a == "--from-snapshot" || a == "--snapshot") {
      const std::optional<std::string> path = reader.Value();
      if (!path) return Usage(a + " needs the path of a snapshot");
      if (a == "--snapshot") {
        std::fputs("ostrel-bkf: note: 'extract --snapshot IN' is now 'extract --from-snapshot IN'; the old "
                   "spelling will go in a later release\n",
                   stderr);
      }
      options.snapshotPath = *path;
    } else if (TakeScanOption(reader, options.scan, problem)) {
      if (!problem.empty()) return Usage(problem);
    } else {
      return Usage("unknown option '" + reader.Given() + "'");
    }
  }
  return std::nullopt;
}

// The options taken together; answers the exit code of a usage error.
std::optional<int> CheckExtractOptions(const ExtractOptions& options) {
  if (!options.snapshotPath.empty()) {
    if (!options.bkfPath.empty()) {
      return Usage("--from-snapshot names the BKF file itself: give no BKF argument with it");
    }
    if (options.scan.mode != RecoveryMode::Standard || options.scan.heuristic || options.scan.rangeStart != 0 ||
        options.scan.rangeEnd != 0) {
      return Usage("--mode, --heuristic and --range choose how to scan; a snapshot is not scanned");
    }
  } else if (options.bkfPath.empty()) {
    return Usage("no BKF file given (or --from-snapshot IN)");
  }
  if (options.tar) {
    if (!options.destination.empty()) return Usage("--to and --tar are two destinations: give one");
    if (options.overwrite) return Usage("--overwrite replaces files in a folder; --tar writes a new archive");
    if (const std::string problem = TarOutputProblem(*options.tar); !problem.empty()) {
      return Usage("cannot write the tar stream to '" + *options.tar + "': " + problem);
    }
  } else if (options.destination.empty()) {
    return Usage("no destination given (--to DIR or --tar OUT)");
  }
  if (const std::string problem = CheckScanOptions(options.scan); !problem.empty()) return Usage(problem);
  return std::nullopt;
}

// What one extraction run did, for its summary.
struct ExtractTally {
  std::uint64_t written = 0, empty = 0, problems = 0, bytes = 0;
  std::uint64_t renamed = 0, kept = 0, replaced = 0;
};

// Saves the selected files one by one through `save` (into a folder, or into
// a tar stream), printing a line to `text` for each problem and each changed
// name. A tar stream that fails ends the run; the caller says why.
ExtractTally SaveSelected(const std::function<SaveResult(std::uint64_t)>& save, const Catalogue& cat,
                          const std::vector<std::uint64_t>& selected, const ExtractOptions& options,
                          std::FILE* text) {
  ExtractTally t;
  ProgressBar progress("Extracting");
  std::uint64_t done = 0;
  // A written file is named by its path on disk (or in the archive), which
  // the user can paste, and by its name in the backup where that differs; a
  // file not written by its path in the catalogue.
  auto report = [&](const char* what, std::uint64_t index, const SaveResult& saved, const std::string& reason) {
    progress.Finish();
    std::string name;
    if (saved.path.empty()) {
      name = Utf16ToUtf8(CataloguePath(cat, index));
    } else {
      name = saved.path;
      const std::string stored = Utf16ToUtf8(cat.FileAt(index).name);
      if (std::filesystem::path(saved.path).filename().string() != stored) name += " (" + stored + " in the backup)";
    }
    std::fprintf(text, "%s: %s: %s\n", what, ForTerminal(name).c_str(), ForTerminal(reason).c_str());
  };
  for (std::uint64_t index : selected) {
    progress.Show(done++, selected.size(), t.written);
    const SaveResult saved = save(index);
    if (options.tar && saved.status == SaveStatus::WriteFailed) break;
    for (const NameChange& change : saved.changes) {
      t.renamed += change.portable;
      t.kept += change.existing && !change.folder;
      t.replaced += change.replaced;
      progress.Finish();
      std::fprintf(text, "%s\n", ForTerminal(change.message).c_str());
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
          if (options.verbose) report("empty", index, saved, reason);
        }
        break;
      case SaveStatus::SavedIncomplete:
        ++t.written;
        t.bytes += saved.bytes;
        report(saved.unreadableBytes != 0 ? "damaged" : "cut short", index, saved, saved.reason);
        ++t.problems;
        break;
      case SaveStatus::WriteFailed:
      case SaveStatus::Stopped:
        report("incomplete", index, saved, saved.reason);
        ++t.problems;
        break;
      case SaveStatus::NotRecovered:
        report("not extracted", index, SaveResult{}, reason);
        ++t.problems;
        break;
      case SaveStatus::ReadLimit:
        progress.Finish();
        Error(saved.reason);
        ++t.problems;
        break;
    }
    // Interrupted, or the read limit reached: the rest is not tried.
    if (saved.status == SaveStatus::Stopped || saved.status == SaveStatus::ReadLimit) break;
  }
  progress.Finish();
  return t;
}

// The summary to `text`, the unreadable parts of the backup, and the exit
// code of a run that wrote what `t` counts.
int EndOfRun(const ExtractTally& t, const ExtractOptions& options, const RecoverySession& session,
             std::FILE* text, const char* interrupted) {
  const auto n = [&](std::uint64_t v) { return Count(v, options.rawSizes); };
  std::fprintf(text, "Files written: %s (%s empty)\n", n(t.written).c_str(), n(t.empty).c_str());
  std::fprintf(text, "Bytes written: %s\n", n(t.bytes).c_str());
  std::fprintf(text, "Files with problems: %s\n", n(t.problems).c_str());
  if (t.renamed > 0) std::fprintf(text, "Names changed for the destination: %s\n", n(t.renamed).c_str());
  if (t.kept > 0) std::fprintf(text, "Existing files kept (saved under a new name): %s\n", n(t.kept).c_str());
  if (t.replaced > 0) std::fprintf(text, "Existing files replaced: %s\n", n(t.replaced).c_str());
  std::fflush(text);
  // Parts of the backup that could not be read may have held files the
  // catalogue now lacks: not a full success either.
  const bool unreadable = ReportUnreadable(session.file);
  if (InterruptStops::Signal() != 0) {
    Error(interrupted);
    return InterruptStops::ExitCode();
  }
  return t.problems == 0 && !unreadable ? kExitOk : kExitSome;
}

int ExtractToFolder(const ExtractOptions& options, const RecoverySession& session,
                    const std::vector<std::uint64_t>& selected, const StopToken& stop) {
  std::string error;
  std::optional<Destination> destination = PrepareDestination(options.destination, error);
  if (!destination) {
    Error("cannot use '" + options.destination + "' as the destination folder: " + error);
    return kExitError;
  }
  if (destination->windowsNames && !options.portableNames) {
    std::printf("The destination (%s) refuses the names Windows refuses: names are saved in their "
                "portable form.\n",
                destination->fileSystem.empty() ? "file system unknown" : destination->fileSystem.c_str());
  }

  SaveOptions saveOptions;
  saveOptions.existing = options.overwrite ? ExistingFiles::Replace : ExistingFiles::KeepBoth;
  saveOptions.portableNames = options.portableNames;
  saveOptions.keepDates = !options.noDates;
  // The snapshot is read too: never replaced, like the backup itself.
  struct stat snapshot {};
  if (!options.snapshotPath.empty() && ::stat(options.snapshotPath.c_str(), &snapshot) == 0) {
    saveOptions.readFiles.push_back(
        {static_cast<std::uint64_t>(snapshot.st_dev), static_cast<std::uint64_t>(snapshot.st_ino)});
  }
  SaveRun run(session.catalogue, session.file, std::move(*destination), !options.flat, stop,
              std::move(saveOptions));
  run.SetSkipUnreadable(options.skipDamaged);
  if (options.noReadLimit) run.LiftReadLimit();
  const ExtractTally t = SaveSelected([&](std::uint64_t i) { return run.SaveFile(i); }, session.catalogue,
                                      selected, options, stdout);
  run.Finish();
  return EndOfRun(t, options, session, stdout,
                  "interrupted; the file being written was removed, the files listed above are complete");
}

// The files as one tar stream. Standard output may be the stream: every
// line goes to stderr.
int ExtractToTar(const ExtractOptions& options, const RecoverySession& session,
                 const std::vector<std::uint64_t>& selected, const StopToken& stop) {
  // A reader that goes away makes the next write fail with EPIPE, which the
  // run reports, instead of killing the process.
  std::signal(SIGPIPE, SIG_IGN);
  const std::string& out = *options.tar;
  std::string error;
  const std::optional<TarOutput> output = OpenTarOutput(out, error);
  if (!output) {
    Error("cannot write the tar stream to '" + out + "': " + error);
    return kExitError;
  }
  TarOptions tarOptions;
  tarOptions.hierarchy = !options.flat;
  tarOptions.portableNames = options.portableNames;
  tarOptions.keepDates = !options.noDates;
  tarOptions.skipDamaged = options.skipDamaged;
  tarOptions.readLimit = !options.noReadLimit;
  tarOptions.startTime = static_cast<std::int64_t>(std::time(nullptr));
  TarWriter writer(output->fd);
  TarRun run(session.catalogue, session.file, writer, stop, tarOptions);
  const ExtractTally t = SaveSelected([&](std::uint64_t i) { return run.AddFile(i); }, session.catalogue,
                                      selected, options, stderr);
  // A stream given up inside an entry keeps no end: it shows as cut short.
  bool written = run.InsideEntry() ? writer.Error() == 0 : writer.Close();
  std::string reason = writer.ErrorText();
  if (output->created && ::close(output->fd) != 0 && written) {
    written = false;
    reason = std::strerror(errno);
  }
  if (!written) Error("cannot write the tar stream to '" + out + "': " + reason);
  const int status = EndOfRun(t, options, session, stderr,
                              run.InsideEntry()
                                  ? "interrupted; the tar stream ends inside the file being written, "
                                    "without the end of the archive; the files before it are whole"
                                  : "interrupted; the tar stream holds the files written before, whole, "
                                    "and its end");
  return written || InterruptStops::Signal() != 0 ? status : kExitError;
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
  // An empty selection is refused before anything is made, whether the
  // indices or the patterns left it empty.
  const auto selected = SelectFiles(session->catalogue, options, error);
  if (!selected) {
    Error(error);
    return kExitError;
  }
  return options.tar ? ExtractToTar(options, *session, *selected, stop)
                     : ExtractToFolder(options, *session, *selected, stop);
}

}  // namespace ostrel::cli
