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
    "                          [--portable-names] [--no-read-limit] [--no-dates] [--json]\n"
    "                          [--bytes]\n"
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
    "from the BKF file the snapshot names (\"Reading files from: PATH\"). A record\n"
    "that does not point at a data stream in it is refused with a line, and a\n"
    "snapshot none of whose records fits it is refused (exit status 2).\n"
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
    "  --json                  print one JSON document of what was done on standard\n"
    "                          output, every other line on stderr: each chosen file\n"
    "                          with its catalogue \"path\", the \"file\" written (or\n"
    "                          null), its \"status\" (\"written\", \"written incomplete\"\n"
    "                          or \"not written\"), \"bytes\", \"checksum\" (\"verified\",\n"
    "                          \"mismatch\" or \"none\") and \"reason\"; then a \"summary\"\n"
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
    "end of the backup: N of M bytes\"); both count as files with problems. In the\n"
    "standard mode a file whose data runs past the end of the backup is not\n"
    "catalogued: stderr says \"left out: NAME (N bytes at offset X) runs past the\n"
    "end of the backup; the advanced mode recovers what is there\" and it counts\n"
    "as a file with problems too. The\n"
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
  bool json = false;  // standard output holds one JSON document: every line goes to stderr
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
    if (!loaded.session) {
      error = "cannot load the snapshot '" + options.snapshotPath + "': " + loaded.error;
      return nullptr;
    }
    // The snapshot chose the file every byte is read from: say which.
    const std::string& bkfPath = loaded.session->origin.bkfPath;
    std::FILE* text = options.tar || options.json ? stderr : stdout;
    std::fprintf(text, "Reading files from: %s\n", ForTerminal(bkfPath).c_str());
    for (std::uint64_t index : loaded.refused) {
      std::fprintf(text, "refused: %s: %s\n",
                   ForTerminal(Utf16ToUtf8(CataloguePath(loaded.session->catalogue, index))).c_str(),
                   ForTerminal(NotADataStreamReason(bkfPath)).c_str());
    }
    FlushOutput(text);
    if (BkfReader()) loaded.session->file.SetReader(BkfReader());
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

// Whether the selection would have held a file of `name` that the catalogue
// lacks (one the scan left out, one the backup's own catalogue lists): every
// one without --index and --pattern, those a pattern matches with it.
bool WouldBeChosen(std::u16string_view name, const ExtractOptions& options) {
  if (options.indices.empty() && options.patterns.empty()) return true;
  return std::any_of(options.patterns.begin(), options.patterns.end(),
                     [&](const std::string& p) { return WildcardMatch(name, Utf8ToUtf16(p)); });
}

std::vector<LeftOutFile> LeftOutChosen(const RecoverySession& session, const ExtractOptions& options) {
  std::vector<LeftOutFile> out;
  for (const LeftOutFile& file : session.leftOut) {
    if (WouldBeChosen(file.name, options)) out.push_back(file);
  }
  return out;
}

// The chosen files of a run, and how many files it would have held are
// known lost before it starts (left out by the scan, missing from what the
// backup's own catalogue lists).
struct Chosen {
  std::vector<std::uint64_t> files;
  std::uint64_t lost = 0;
};

// The session and the chosen files of a run: the scan (or the snapshot's
// load), the left-out files said, `stop` given to the file. Answers the exit
// code when the run ends there (nothing to read, an empty selection, a stop
// while scanning; `done` says what would have been done: "extracted").
std::optional<int> OpenChosen(const ExtractOptions& options, StopToken& stop, const char* done,
                              std::unique_ptr<RecoverySession>& session, Chosen& chosen) {
  std::string error;
  ProgressBar scanProgress("Scanning");
  session = BuildSession(options, stop, scanProgress, error);
  if (!session) {
    Error(error);
    return kExitError;
  }
  if (InterruptStops::Signal() != 0) {
    Error(std::string("interrupted while scanning; nothing was ") + done);
    return InterruptStops::ExitCode();
  }
  // Stop ends the work around a failing disk's bad pieces too.
  session->file.SetStopToken(&stop);
  // An empty selection is refused before anything is made, whether the
  // indices or the patterns left it empty.
  auto selected = SelectFiles(session->catalogue, options, error);
  // Those left out but not listed have no name a pattern could match.
  const bool all = options.indices.empty() && options.patterns.empty();
  chosen.lost = LeftOutChosen(*session, options).size() + (all ? session->leftOutNotListed : 0);
  ReportLeftOut(LeftOutChosen(*session, options), all ? session->leftOutNotListed : 0);
  if (options.snapshotPath.empty()) {
    for (const std::u16string& path : ReportCatalogueComparison(*session, stop).missing) {
      const std::size_t slash = path.rfind(u'\\');
      chosen.lost += WouldBeChosen(slash == std::u16string::npos ? path : path.substr(slash + 1), options);
    }
  }
  if (!selected) {
    Error(error);
    return kExitError;
  }
  chosen.files = std::move(*selected);
  return std::nullopt;
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
    } else if (a == "--json") {
      options.json = true;
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
    if (options.json && *options.tar == "-") return Usage("--json and --tar - both want standard output: give one");
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
  std::uint64_t verified = 0, mismatched = 0, corrupt = 0;  // of the files written, by their checksum
  std::string json;  // with --json: the files' entries, each "\n  {...}" after the first's comma
  std::uint64_t renamed = 0, kept = 0, replaced = 0;
};

// Saves the selected files one by one through `save` (into a folder, or into
// a tar stream), printing a line to `text` for each problem and each changed
// name. A tar stream that fails ends the run; the caller says why.
ExtractTally SaveSelected(const std::function<SaveResult(std::uint64_t, const ExtractProgress&)>& save,
                          const Catalogue& cat, const std::vector<std::uint64_t>& selected,
                          const ExtractOptions& options, std::FILE* text) {
  ExtractTally t;
  ProgressBar progress("Extracting");
  // The bar measures the data (one more unit a file, so that empty files
  // count too), and moves within a large file as its bytes are written.
  const auto units = [&](std::uint64_t index) { return SatAdd(cat.FileAt(index).dataLength, 1); };
  std::uint64_t total = 0;
  for (std::uint64_t index : selected) total = SatAdd(total, units(index));
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
    progress.Show(done, total, t.written);
    const std::uint64_t before = done, size = units(index);
    const SaveResult saved = save(index, [&](std::uint64_t written) {
      progress.Show(SatAdd(before, std::min(written, size)), total, t.written);
    });
    done = SatAdd(before, size);
    if (options.tar && saved.status == SaveStatus::WriteFailed) break;
    for (const NameChange& change : saved.changes) {
      t.renamed += change.portable;
      t.kept += change.existing && !change.folder;
      t.replaced += change.replaced;
      progress.Finish();
      std::fprintf(text, "%s\n", ForTerminal(change.message).c_str());
    }
    std::string reason = saved.reason;
    // The outcome's name tells why nothing could be copied; a file whose data
    // was copied and then left out has its reason in words already.
    if (saved.outcome && *saved.outcome != ExtractOutcome::Extracted) {
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
    // A written file whose data's XOR is not the one written at backup time.
    if (saved.status == SaveStatus::Saved || saved.status == SaveStatus::SavedIncomplete) {
      t.verified += saved.checksum == ChecksumStatus::Verified;
      if (saved.checksum == ChecksumStatus::Mismatch) {
        ++t.mismatched;
        report("checksum mismatch", index, saved, "the data differs from what was backed up");
        if (saved.status == SaveStatus::Saved) ++t.problems;
      }
      if (saved.checksum == ChecksumStatus::MarkedCorrupt) {
        ++t.corrupt;
        report("marked corrupt", index, saved, kMarkedCorruptText);
        if (saved.status == SaveStatus::Saved) ++t.problems;
      }
    }
    if (options.json) {
      const bool written = saved.status == SaveStatus::Saved || saved.status == SaveStatus::SavedIncomplete;
      const char* status = saved.status == SaveStatus::Saved
                               ? "written"
                               : saved.status == SaveStatus::SavedIncomplete ? "written incomplete" : "not written";
      std::string why = saved.status == SaveStatus::Saved ? saved.reason : reason;
      if (saved.checksum == ChecksumStatus::Mismatch) why = kChecksumMismatchText + (why.empty() ? "" : "; " + why);
      if (saved.checksum == ChecksumStatus::MarkedCorrupt) {
        why = kMarkedCorruptText + (why.empty() ? "" : "; " + why);
      }
      t.json += std::string(t.json.empty() ? "" : ",") + "\n  {\"index\": " + std::to_string(index) +
                ", \"path\": " + JsonString(Utf16ToUtf8(CataloguePath(cat, index))) +
                ", \"file\": " + (written ? JsonString(saved.path) : std::string("null")) + ", \"status\": \"" +
                status + "\", \"bytes\": " + std::to_string(saved.bytes) + ", \"checksum\": \"" +
                std::string(ChecksumName(saved.checksum)) + "\", \"reason\": " + JsonString(why) + "}";
    }
    // Interrupted, or the read limit reached: the rest is not tried.
    if (saved.status == SaveStatus::Stopped || saved.status == SaveStatus::ReadLimit) break;
  }
  progress.Finish();
  return t;
}

// The summary to `text`, the unreadable parts of the backup, and the exit
// code of a run that wrote what `t` counts.
int EndOfRun(ExtractTally t, std::uint64_t lost, const ExtractOptions& options, const RecoverySession& session,
             std::FILE* text, const char* interrupted) {
  const auto n = [&](std::uint64_t v) { return Count(v, options.rawSizes); };
  // A file the scan left out, or the backup's catalogue lists and the scan
  // did not find, is lost to this run as surely as one that could not be
  // written.
  t.problems += lost;
  std::fprintf(text, "Files written: %s (%s empty)\n", n(t.written).c_str(), n(t.empty).c_str());
  std::fprintf(text, "Bytes written: %s\n", n(t.bytes).c_str());
  std::fprintf(text, "Files with problems: %s\n", n(t.problems).c_str());
  std::fprintf(text, "Verified by checksum: %s of %s files (%s without a checksum)\n", n(t.verified).c_str(),
               n(t.written).c_str(), n(t.written - t.verified - t.mismatched - t.corrupt).c_str());
  if (t.corrupt > 0) std::fprintf(text, "Marked corrupt by the backup program: %s\n", n(t.corrupt).c_str());
  if (t.renamed > 0) std::fprintf(text, "Names changed for the destination: %s\n", n(t.renamed).c_str());
  if (t.kept > 0) std::fprintf(text, "Existing files kept (saved under a new name): %s\n", n(t.kept).c_str());
  if (t.replaced > 0) std::fprintf(text, "Existing files replaced: %s\n", n(t.replaced).c_str());
  FlushOutput(text);
  if (options.json) {
    // What was written, file by file, for scripts; the lines above went to stderr.
    std::printf("{\n%s \"files\": [%s\n ],\n \"summary\": {\"written\": %s, \"empty\": %s, \"bytes\": %s, "
                "\"problems\": %s, \"verified\": %s, \"mismatch\": %s}\n}\n",
                InterruptStops::Signal() != 0 ? " \"partial\": true,\n" : "", t.json.c_str(),
                std::to_string(t.written).c_str(), std::to_string(t.empty).c_str(), std::to_string(t.bytes).c_str(),
                std::to_string(t.problems).c_str(), std::to_string(t.verified).c_str(),
                std::to_string(t.mismatched).c_str());
    FlushOutput(stdout);
  }
  // Parts of the backup that could not be read may have held files the
  // catalogue now lacks: not a full success either.
  const bool unreadable = ReportUnreadable(session.file);
  if (InterruptStops::Signal() != 0) {
    Error(interrupted);
    return InterruptStops::ExitCode();
  }
  return t.problems == 0 && !unreadable ? kExitOk : kExitSome;
}

int ExtractToFolder(const ExtractOptions& options, const RecoverySession& session, const Chosen& chosen,
                    const StopToken& stop) {
  const std::vector<std::uint64_t>& selected = chosen.files;
  std::string error;
  std::optional<Destination> destination = PrepareDestination(options.destination, error);
  if (!destination) {
    Error("cannot use '" + options.destination + "' as the destination folder: " + error);
    return kExitError;
  }
  std::FILE* text = options.json ? stderr : stdout;
  if (destination->windowsNames && !options.portableNames) {
    std::fprintf(text, "The destination (%s) refuses the names Windows refuses: names are saved in their "
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
  const ExtractTally t = SaveSelected([&](std::uint64_t i, const ExtractProgress& p) { return run.SaveFile(i, p); },
                                      session.catalogue,
                                      selected, options, text);
  run.Finish();
  return EndOfRun(t, chosen.lost, options, session, text,
                  "interrupted; the file being written was removed, the files written before it are complete");
}

// The files as one tar stream. Standard output may be the stream: every
// line goes to stderr.
int ExtractToTar(const ExtractOptions& options, const RecoverySession& session, const Chosen& chosen,
                 const StopToken& stop) {
  const std::vector<std::uint64_t>& selected = chosen.files;
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
  const ExtractTally t = SaveSelected([&](std::uint64_t i, const ExtractProgress&) { return run.AddFile(i); },
                                      session.catalogue,
                                      selected, options, stderr);
  // A stream given up inside an entry keeps no end: it shows as cut short.
  bool written = run.InsideEntry() ? writer.Error() == 0 : writer.Close();
  std::string reason = writer.ErrorText();
  if (output->created && ::close(output->fd) != 0 && written) {
    written = false;
    reason = std::strerror(errno);
  }
  if (!written) Error("cannot write the tar stream to '" + out + "': " + reason);
  const int status = EndOfRun(t, chosen.lost, options, session, stderr,
                              run.InsideEntry()
                                  ? "interrupted; the tar stream ends inside the file being written, "
                                    "without the end of the archive; the files before it are whole"
                                  : "interrupted; the tar stream holds the files written before, whole, "
                                    "and its end");
  return written || InterruptStops::Signal() != 0 ? status : kExitError;
}


const char kVerifyUsage[] =
    "Usage: ostrel-bkf verify BKF|SNAPSHOT [--index N]... [--pattern WILDCARD]...\n"
    "                         [--mode standard|advanced] [--heuristic] [--range START END]\n"
    "                         [--threads N] [--no-read-limit] [--json] [--bytes]\n"
    "\n"
    "Reads the data of every chosen file as 'ostrel-bkf extract' would (LZS\n"
    "restored, within the read limit, around unreadable parts), checks it against\n"
    "the checksum the backup wrote after it, and writes nothing. A snapshot is\n"
    "read as 'extract --from-snapshot' reads it (scan options do not apply);\n"
    "other files are scanned.\n"
    "\n"
    "Each file ends as one of: verified (the 32-bit XOR of its data equals the one\n"
    "written at backup time), checksum mismatch (a problem: \"checksum mismatch:\n"
    "PATH: the data differs from what was backed up\"), or no checksum. A file cut\n"
    "short, with unreadable parts, or that cannot be recovered is a problem too,\n"
    "with its line. The summary ends with \"Verified by checksum: N of M files (K\n"
    "without a checksum)\". What \"verified\" proves: the data is what was written,\n"
    "as far as a 32-bit XOR can tell; it catches a damaged sector or a cut, not\n"
    "every change (two equal changes 32 bits apart cancel out), and never\n"
    "tampering.\n"
    "\n"
    "Options:\n"
    "  -i, --index N, -p, --pattern WILDCARD, --mode, --heuristic, --range,\n"
    "  --threads, --no-read-limit, --bytes   as for 'ostrel-bkf extract'\n"
    "  --json                one JSON document: every chosen file with its \"path\",\n"
    "                        \"status\" (\"whole\", \"cut short\", \"damaged\" or\n"
    "                        \"not recovered\"), \"checksum\" (\"verified\",\n"
    "                        \"mismatch\" or \"none\") and \"reason\"\n"
    "  -h, --help            show this text\n"
    "\n"
    "Exit status: 0 every chosen file is whole, 1 some are not (or parts of the\n"
    "BKF file could not be read), 2 bad arguments or an input that cannot be read.\n";

// One file's data read through to its end, nothing written.
struct Checked {
  const char* status = "whole";  // "whole", "cut short", "damaged", "not recovered"
  ChecksumStatus checksum = ChecksumStatus::None;
  std::string reason;
  bool readLimit = false;
};

Checked CheckFile(const Catalogue& cat, const BkfFile& bkf, std::uint64_t index, const StopToken& stop,
                  ReadBudget& budget) {
  Checked out;
  const FileNode& node = cat.FileAt(index);
  const PreparedData data = PrepareFileData(node, bkf, std::nullopt, stop, &budget);
  if (data.overBudget) {
    out.readLimit = true;
    return out;
  }
  if (data.outcome != ExtractOutcome::Extracted) {
    if (data.outcome != ExtractOutcome::Empty) {
      out.status = "not recovered";
      out.reason = std::string(OutcomeReason(data.outcome)) + " [" + std::string(OutcomeName(data.outcome)) + "]";
    }
    return out;
  }
  CountingSink sink;
  ExtractStats stats;
  CopyFileData(data, bkf, sink, stop, stats, {}, &budget);
  out.readLimit = stats.overBudget;
  out.checksum = stats.checksum;
  if (std::string missing = MissingDataText(stats); !missing.empty()) {
    out.status = stats.damage.unreadableBytes != 0 ? "damaged" : "cut short";
    out.reason = std::move(missing);
  }
  return out;
}

int RunVerify(const ExtractOptions& options) {
  const bool json = options.json;
  StopToken stop;
  const InterruptStops interrupts(stop);
  std::unique_ptr<RecoverySession> session;
  Chosen chosen;
  if (const auto exit = OpenChosen(options, stop, "verified", session, chosen)) return *exit;
  const std::vector<std::uint64_t>* selected = &chosen.files;
  const Catalogue& cat = session->catalogue;
  ReadBudget budget = options.noReadLimit ? ReadBudget::Unlimited() : ReadBudget(session->file.Size());
  ProgressBar progress("Verifying");
  std::uint64_t checked = 0, empty = 0, problems = chosen.lost, verified = 0, mismatched = 0, corrupt = 0, done = 0;
  std::string files;  // the JSON file entries
  bool readLimit = false;
  for (std::uint64_t index : *selected) {
    if (stop.StopRequested()) break;
    progress.Show(done++, selected->size(), checked);
    const Checked c = CheckFile(cat, session->file, index, stop, budget);
    if (c.readLimit) {
      readLimit = true;
      break;
    }
    if (stop.StopRequested()) break;
    ++checked;
    empty += cat.FileAt(index).dataLength == 0 || cat.FileAt(index).dataPosition == 0;
    verified += c.checksum == ChecksumStatus::Verified;
    mismatched += c.checksum == ChecksumStatus::Mismatch;
    corrupt += c.checksum == ChecksumStatus::MarkedCorrupt;
    const bool whole = std::string_view(c.status) == "whole";
    const std::string path = Utf16ToUtf8(CataloguePath(cat, index));
    if (!whole || c.checksum == ChecksumStatus::Mismatch || c.checksum == ChecksumStatus::MarkedCorrupt) ++problems;
    if (json) {
      files += std::string(files.empty() ? "" : ",") + "\n  {\"index\": " + std::to_string(index) +
               ", \"path\": " + JsonString(path) + ", \"size\": " + std::to_string(cat.FileAt(index).dataLength) +
               ", \"status\": " + JsonString(c.status) + ", \"checksum\": " +
               JsonString(std::string(ChecksumName(c.checksum))) + ", \"reason\": " +
               JsonString(!whole                                         ? c.reason
                          : c.checksum == ChecksumStatus::Mismatch      ? std::string(kChecksumMismatchText)
                          : c.checksum == ChecksumStatus::MarkedCorrupt ? std::string(kMarkedCorruptText)
                                                                        : c.reason) +
               "}";
      continue;
    }
    progress.Finish();
    if (!whole) std::printf("%s: %s: %s\n", c.status, ForTerminal(path).c_str(), ForTerminal(c.reason).c_str());
    if (c.checksum == ChecksumStatus::Mismatch) {
      std::printf("checksum mismatch: %s: the data differs from what was backed up\n", ForTerminal(path).c_str());
    }
    if (c.checksum == ChecksumStatus::MarkedCorrupt) {
      std::printf("marked corrupt: %s: %s\n", ForTerminal(path).c_str(), kMarkedCorruptText);
    }
  }
  progress.Finish();
  if (readLimit) {
    Error(ReadLimitText(checked));
    ++problems;
  }
  const auto n = [&](std::uint64_t v) { return Count(v, options.rawSizes); };
  const std::uint64_t without = checked - verified - mismatched - corrupt;
  if (json) {
    std::printf("{\n \"bkf\": %s,\n%s \"files\": [%s\n ],\n \"summary\": {\"checked\": %s, \"problems\": %s, "
                "\"verified\": %s, \"mismatch\": %s, \"corrupt\": %s, \"none\": %s}\n}\n",
                JsonString(Utf16ToUtf8(Utf8ToUtf16(session->file.Path()))).c_str(),
                (InterruptStops::Signal() != 0 ? std::string(" \"partial\": true,\n") : std::string()).c_str(),
                files.c_str(), std::to_string(checked).c_str(), std::to_string(problems).c_str(),
                std::to_string(verified).c_str(), std::to_string(mismatched).c_str(), std::to_string(corrupt).c_str(),
                std::to_string(without).c_str());
  } else {
    std::printf("Files checked: %s (%s empty)\n", n(checked).c_str(), n(empty).c_str());
    std::printf("Files with problems: %s\n", n(problems).c_str());
    std::printf("Verified by checksum: %s of %s files (%s without a checksum)\n", n(verified).c_str(),
                n(checked).c_str(), n(without).c_str());
    if (corrupt > 0) std::printf("Marked corrupt by the backup program: %s\n", n(corrupt).c_str());
  }
  FlushOutput(stdout);
  const bool unreadable = ReportUnreadable(session->file);
  if (InterruptStops::Signal() != 0) {
    Error("interrupted; the files listed above were checked");
    return InterruptStops::ExitCode();
  }
  return problems == 0 && !unreadable ? kExitOk : kExitSome;
}

}  // namespace

int VerifyCommand(const Args& args) {
  ExtractOptions options;
  std::string input;
  ArgReader reader(args);
  std::string problem;
  while (reader.Next()) {
    if (const auto exit = TakeCommonOption(reader, "verify", kVerifyUsage)) return *exit;
    const std::string& a = reader.Name();
    if (!reader.IsOption()) {
      if (!input.empty()) return UsageError("verify", "only one BKF file or snapshot can be verified");
      input = a;
    } else if (a == "--json") {
      options.json = true;
    } else if (a == "--bytes") {
      options.rawSizes = true;
    } else if (a == "--no-read-limit") {
      options.noReadLimit = true;
    } else if (a == "--index") {
      const std::optional<std::string> value = reader.Value();
      const auto index = value ? ParseU64(*value) : std::nullopt;
      if (!index) return UsageError("verify", "--index takes an unsigned decimal file index");
      options.indices.insert(*index);
    } else if (a == "--pattern") {
      const std::optional<std::string> pattern = reader.Value();
      if (!pattern) return UsageError("verify", "--pattern needs a wildcard");
      options.patterns.push_back(*pattern);
    } else if (TakeScanOption(reader, options.scan, problem)) {
      if (!problem.empty()) return UsageError("verify", problem);
    } else {
      return UsageError("verify", "unknown option '" + reader.Given() + "'");
    }
  }
  if (input.empty()) return UsageError("verify", "no BKF file or snapshot given");
  if (const std::string p = CheckScanOptions(options.scan); !p.empty()) return UsageError("verify", p);
  if (IsSnapshotInput(input)) {
    if (options.scan.mode != RecoveryMode::Standard || options.scan.heuristic || options.scan.rangeEnd != 0 ||
        options.scan.rangeStart != 0) {
      return UsageError("verify", "--mode, --heuristic and --range choose how to scan; a snapshot is not scanned");
    }
    options.snapshotPath = input;
  } else {
    options.bkfPath = input;
  }
  return RunVerify(options);
}

int ExtractCommand(const Args& args) {
  ExtractOptions options;
  if (const auto exit = ParseExtractArgs(args, options)) return *exit;
  if (const auto exit = CheckExtractOptions(options)) return *exit;

  StopToken stop;
  const InterruptStops interrupts(stop);
  std::unique_ptr<RecoverySession> session;
  Chosen selected;
  if (const auto exit = OpenChosen(options, stop, "extracted", session, selected)) return *exit;
  return options.tar ? ExtractToTar(options, *session, selected, stop)
                     : ExtractToFolder(options, *session, selected, stop);
}

}  // namespace ostrel::cli
