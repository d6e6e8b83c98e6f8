// Shared pieces of the ostrel-bkf commands: argument helpers, the progress
// bar, and the catalogue printers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "base/stop_token.h"
#include "reader/recovery_session.h"
#include "reader/scanner.h"
#include "reader/set_catalogue.h"

namespace ostrel::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitSome = 1;   // some files could not be handled
inline constexpr int kExitError = 2;  // bad arguments, unreadable input

// A command: its arguments after the command word.
using Args = std::vector<std::string>;

// The whole tool: argv[1] is the command word.
int Main(int argc, char** argv);

int ScanCommand(const Args& args);
// How a catalogue is printed: as a tree or JSON; with --bytes, sizes and
// counts without thousands separators.
struct PrintOptions {
  bool json = false;
  bool rawSizes = false;
};
class ArgReader;
// If the reader's option is --json or --bytes, takes it into `print`.
bool TakePrintOption(const ArgReader& args, PrintOptions& print);
struct ScanOptions;
// Scans `bkfPath` and prints the catalogue (scan, and list given a BKF file);
// writes the snapshot too when `snapshotPath` is not empty. Answers the exit
// code.
int ScanAndPrint(const std::string& bkfPath, const ScanOptions& options, const std::string& snapshotPath,
                 const PrintOptions& print);
int ExtractCommand(const Args& args);
int ListCommand(const Args& args);
int VerifyCommand(const Args& args);

// Whether an input is read as a snapshot rather than a BKF file: a name
// ending in ".KVSNAPSHOT" (any letter case) always is, so that a damaged one
// is refused with the reason instead of being scanned as a BKF file that
// holds nothing; any other file when its content reads as one.
bool IsSnapshotInput(const std::string& path);

// The first error (errno) a write to standard output met, or 0. A large
// write goes around the stream's buffer: the stream then remembers that it
// failed, but not why, and flushing it later does not tell either.
void NoteOutputError(int error);
int FirstOutputError();
// fflush(out), noting the error when it fails on standard output.
void FlushOutput(std::FILE* out);

// "ostrel-bkf: <message>" on stderr.
void Error(const std::string& message);
// A usage error of `command`: the problem in one line, then where the help
// is ("Try 'ostrel-bkf scan --help'."), so that the error does not scroll
// away behind the whole help. Answers kExitError.
int UsageError(const char* command, const std::string& problem);
// `text` (UTF-8) fit for a terminal: names from a backup may hold control
// characters, which a terminal would obey. ESC, newline, carriage return and
// tab show as \e, \n, \r and \t, every other control character (C0, DEL
// and the C1 range) as '?', and the bidirectional controls and zero-width
// characters, which would make a name read as another, as "\u202e". JSON
// output is never passed through this.
std::string ForTerminal(std::string_view text);
// An unsigned decimal number (digits only, no overflow).
std::optional<std::uint64_t> ParseU64(const std::string& text);
// A size or a count for people ("20,690"), or as it is ("20690") when
// `raw` (--bytes, for scripts).
std::string Count(std::uint64_t value, bool raw);

// A command's arguments, read the way GNU tools read them: "--opt VALUE" and
// "--opt=VALUE"; the short forms -o (--to), -m (--mode), -p (--pattern),
// -i (--index) and -h (--help), with the value next or attached ("-oDIR");
// "--" ends the options, so that every argument after it is an operand even
// when it begins with '-'. Which options take a value is known here, so that
// "--json=x" is an error and "--to" followed by "--flat" takes "--flat" as
// the folder, as getopt does.
class ArgReader {
 public:
  explicit ArgReader(const Args& args) : args_(args) {}
  // Moves to the next argument; false when there is none.
  bool Next();
  // Whether the current argument is an option; then Name() is its long name
  // ("--to" for "-o", "-oDIR" and "--to=DIR"), otherwise the operand itself.
  bool IsOption() const { return option_; }
  const std::string& Name() const { return name_; }
  // The argument as given, for messages ("-o", "--bogus=1").
  const std::string& Given() const { return args_[at_]; }
  // The option's value: the text attached to it, or else the next argument,
  // which it takes; nullopt when there is none.
  std::optional<std::string> Value();
  // A further value of the option (END of --range START END): always the
  // next argument.
  std::optional<std::string> NextValue();
  // Set when an option that takes no value came with one ("--json=1").
  const std::string& Problem() const { return problem_; }

 private:
  const Args& args_;
  std::size_t at_ = 0, next_ = 0;
  bool endOfOptions_ = false;
  bool option_ = false;
  std::string name_;
  std::optional<std::string> attached_;
  std::string problem_;
};

// What every command does first with an argument: an option that came with a
// value it does not take is a usage error of `command`, and --help prints
// `usage`. Answers the exit code when the command ends there.
std::optional<int> TakeCommonOption(const ArgReader& args, const char* command, const char* usage);

// The scan options that scan and extract share:
//   --mode standard|advanced   --heuristic   --range START END
struct ScanOptions {
  RecoveryMode mode = RecoveryMode::Standard;
  bool heuristic = false;
  std::uint64_t rangeStart = 0, rangeEnd = 0;
  unsigned threads = 0;  // --threads; 0: one per core, capped by OSTREL_SCAN_THREADS
};
// If the reader's option is one of the shared scan options, takes it (and its
// values) into `options` and answers true; `problem` is set when the option is
// malformed. Answers false for any other argument.
bool TakeScanOption(ArgReader& args, ScanOptions& options, std::string& problem);
// Checks the options taken together; answers the problem or an empty text.
std::string CheckScanOptions(const ScanOptions& options);
// The scanner of the chosen mode, filling `session`, with its range and
// heuristic flag set.
std::unique_ptr<Scanner> MakeScanner(const ScanOptions& options, RecoverySession& session,
                                     const StopToken& stop, ScanListener* listener);

// While it lives, SIGINT, SIGTERM, SIGHUP (the terminal was closed) and
// SIGPIPE (the reader of the output went away) ask `stop` to stop instead of
// killing the process, so that the work ends cleanly: the file being written
// is removed, the progress line is cleared and the summary so far is
// printed. A second SIGINT, SIGTERM or SIGHUP kills as usual; even then, and
// after SIGKILL, no half-written file is left under its final name (each is
// written under a temporary name until it is complete).
class InterruptStops {
 public:
  explicit InterruptStops(StopToken& stop);
  ~InterruptStops();
  InterruptStops(const InterruptStops&) = delete;
  InterruptStops& operator=(const InterruptStops&) = delete;
  // The signal that asked to stop, or 0.
  static int Signal();
  // The exit code for it: 128 + the signal's number.
  static int ExitCode() { return 128 + Signal(); }
};

// What every scanner of the process reads its BKF file through; empty (the
// default) is pread. The tests' build of the tool sets a failing disk here.
void SetBkfReader(BkfFile::ReadFunction reader);
const BkfFile::ReadFunction& BkfReader();

// The "Unreadable: ..." line and the note that the file became shorter, on
// stderr, for what the reads of `file` met; answers whether there was any.
bool ReportUnreadable(const BkfFile& file);
// The unreadable ranges as a JSON member ("unreadable": [...],) for
// PrintCatalogueJson's extra members.
std::string UnreadableJson(const UnreadableSummary& summary);

// One line on stderr for each FILE block the scan left out because its data
// runs past the end of the backup (LeftOutLine); answers whether there was any.
bool ReportLeftOut(const std::vector<LeftOutFile>& leftOut, std::uint64_t notListed = 0);
// The same as a JSON member ("leftOut": [{"name", "offset", "length"}],).
std::string LeftOutJson(const std::vector<LeftOutFile>& leftOut);

// Holds the scan in `session` against the backup's own end-of-set
// catalogues (read at the blocks the scan met): on stderr the comparison
// line followed by the missing files' paths, and a line for each catalogue
// that could not be used; nothing when the backup holds none. Answers the
// comparison.
CatalogueComparison ReportCatalogueComparison(const RecoverySession& session, const StopToken& stop);
// The missing files as a JSON member ("missing": [...],).
std::string MissingJson(const CatalogueComparison& comparison);

// The width of the terminal on `fd`: its window size, else $COLUMNS, else 80.
int TerminalColumns(int fd);
// One progress line ("Scanning [#####.....]  42.0%  files: 1,234") that
// fits `columns`: at most columns - 1 characters, since a line that fills the
// last column makes some terminals wrap. The bar takes the width the text
// leaves; on a narrow terminal the count goes first, then the bar.
std::string ProgressLine(const std::string& label, double share, std::uint64_t count, int columns);

// Draws a one-line progress bar on stderr when stderr is a terminal, as wide
// as the terminal; prints range warnings on stderr. Redraws at most ten times
// a second. Where TERM=dumb the line is cleared with blanks instead of the
// erase-line sequence, which such a terminal would print.
class ProgressBar : public ScanListener {
 public:
  explicit ProgressBar(std::string label);
  ~ProgressBar() override;
  void OnProgress(const ProgressReport& report) override;
  bool EveryWindow() const override { return false; }  // it draws the newest
  void OnRangeMessage(const std::string& text) override;
  // For other long work: `done` of `total` units.
  void Show(std::uint64_t done, std::uint64_t total, std::uint64_t count);
  void Finish();

 private:
  // Overwrites the current line with `line`.
  void Draw(const std::string& line);

  std::string label_;
  bool enabled_;
  bool dumb_;
  bool drawn_ = false;
  std::size_t drawnWidth_ = 0;
  std::int64_t lastDrawMs_ = -1000;
};

// Whether the data of each file is compressed, read from `bkf` (a read of
// the first bytes of each file's data); empty when `bkf` is not open. The
// checks read at most four times the backup's size, as an extraction does:
// past that, the list ends early and stderr says so.
std::vector<std::uint8_t> CompressedFlags(const Catalogue& cat, const BkfFile& bkf);
// The catalogue as a JSON document (none = -1, not found = -2). Each file
// also gets its folder "path" (the folder names from below the root down to
// its folder) and whether its data is "compressed", from `compressed`
// (CompressedFlags; null for the files it does not reach). `extraMembers`, if
// given, is written after the "bkf" member: whole JSON members, each ending
// with a comma and a newline.
void PrintCatalogueJson(std::FILE* out, const Catalogue& cat, const std::string& bkfPath,
                        const std::vector<std::uint8_t>& compressed, const std::string& extraMembers = {});
// The catalogue as an indented tree of folders, each followed by its files
// with their catalogue index (what extract --index takes) and data length,
// and the "Total number of files found" line; `rawSizes` prints the numbers
// without thousands separators. Two blanks per level for the first 64
// levels; a folder deeper than that is indented as the 64th and begins with
// "(level N) ".
void PrintCatalogueTree(std::FILE* out, const Catalogue& cat, bool rawSizes);

// The note for a scan that met no descriptor block at all, on stderr.
void ReportNoBlocks();
// What the scan had to bend (Scanner::Note), on stderr, when anything.
void ReportScanNote(const Scanner& scanner);

std::string JsonString(const std::string& utf8);

}  // namespace ostrel::cli
