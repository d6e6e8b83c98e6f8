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

namespace ostrel::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitSome = 1;   // some files could not be handled
inline constexpr int kExitError = 2;  // bad arguments, unreadable input

// A command: its arguments after the command word.
using Args = std::vector<std::string>;

// The whole tool: argv[1] is the command word.
int Main(int argc, char** argv);

int ScanCommand(const Args& args);
int ExtractCommand(const Args& args);
int ListCommand(const Args& args);

// "ostrel-bkf: <message>" on stderr.
void Error(const std::string& message);
// A usage error of `command`: the problem in one line, then where the help
// is ("Try 'ostrel-bkf scan --help'."), so that the error does not scroll
// away behind the whole help. Answers kExitError.
int UsageError(const char* command, const std::string& problem);
// `text` (UTF-8) fit for a terminal: names from a backup may hold control
// characters, which a terminal would obey. ESC, newline, carriage return and
// tab show as \e, \n, \r and \t, every other control character (C0, DEL
// and the C1 range) as '?'. JSON output is never passed through this.
std::string ForTerminal(std::string_view text);
// An unsigned decimal number (digits only, no overflow).
std::optional<std::uint64_t> ParseU64(const std::string& text);

// The scan options that scan and extract share:
//   --mode standard|advanced   --heuristic   --range START END
struct ScanOptions {
  RecoveryMode mode = RecoveryMode::Standard;
  bool heuristic = false;
  std::uint64_t rangeStart = 0, rangeEnd = 0;
};
// If args[i] is one of the shared scan options, takes it (and its values,
// moving i past them) into `options` and answers true; `problem` is set when
// the option is malformed. Answers false for any other argument.
bool TakeScanOption(const Args& args, std::size_t& i, ScanOptions& options, std::string& problem);
// Checks the options taken together; answers the problem or an empty text.
std::string CheckScanOptions(const ScanOptions& options);
// The scanner of the chosen mode, filling `session`, with its range and
// heuristic flag set.
std::unique_ptr<Scanner> MakeScanner(const ScanOptions& options, RecoverySession& session,
                                     const StopToken& stop, ScanListener* listener);

// While it lives, SIGINT and SIGTERM ask `stop` to stop instead of killing
// the process, so that the work ends cleanly: no half-written file is left
// under its final name, the progress line is cleared and the summary so far
// is printed. A second signal kills as usual.
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

// Draws a one-line progress bar on stderr when stderr is a terminal; prints
// range warnings on stderr. Redraws at most ten times a second.
class ProgressBar : public ScanListener {
 public:
  explicit ProgressBar(std::string label);
  ~ProgressBar() override;
  void OnProgress(const ProgressReport& report) override;
  void OnRangeMessage(const std::string& text) override;
  // For other long work: `done` of `total` units.
  void Show(std::uint64_t done, std::uint64_t total, std::uint64_t count);
  void Finish();

 private:
  std::string label_;
  bool enabled_;
  bool drawn_ = false;
  std::int64_t lastDrawMs_ = -1000;
};

// The catalogue as a JSON document (none = -1, not found = -2).
// `extraMembers`, if given, is written after the "bkf" member: whole JSON
// members, each ending with a comma and a newline.
void PrintCatalogueJson(std::FILE* out, const Catalogue& cat, const std::string& bkfPath,
                        const std::string& extraMembers = {});
// The catalogue as an indented tree of folders, each followed by its files
// with their data length, and the "Total number of files found" line.
void PrintCatalogueTree(std::FILE* out, const Catalogue& cat);

std::string JsonString(const std::string& utf8);

}  // namespace ostrel::cli
