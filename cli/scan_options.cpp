#include "cli/cli.h"
#include "reader/advanced_scanner.h"

namespace ostrel::cli {

bool TakeScanOption(ArgReader& args, ScanOptions& options, std::string& problem) {
  const std::string& a = args.Name();
  if (a == "--mode") {
    const std::optional<std::string> mode = args.Value();
    if (!mode) {
      problem = "--mode needs a value (standard or advanced)";
    } else if (*mode == "standard" || *mode == "advanced") {
      options.mode = *mode == "advanced" ? RecoveryMode::Advanced : RecoveryMode::Standard;
    } else {
      problem = "unknown mode '" + *mode + "' (standard or advanced)";
    }
    return true;
  }
  if (a == "--heuristic") {
    options.heuristic = true;
    return true;
  }
  if (a == "--range") {
    const std::optional<std::string> start = args.Value();
    const std::optional<std::string> end = args.NextValue();
    if (!start || !end) {
      problem = "--range needs START and END";
      return true;
    }
    const auto s = ParseU64(*start);
    const auto e = ParseU64(*end);
    if (!s || !e) {
      problem = "--range takes two unsigned decimal byte positions";
    } else {
      options.rangeStart = *s;
      options.rangeEnd = *e;
    }
    return true;
  }
  if (a == "--threads") {
    const std::optional<std::string> value = args.Value();
    const auto n = value ? ParseU64(*value) : std::nullopt;
    if (!n || *n == 0 || *n > kMaxSearchThreads) {
      problem = "--threads takes a number of threads from 1 to " + std::to_string(kMaxSearchThreads);
    } else {
      options.threads = static_cast<unsigned>(*n);
    }
    return true;
  }
  return false;
}

std::string CheckScanOptions(const ScanOptions& options) {
  if (options.heuristic && options.mode != RecoveryMode::Advanced) {
    return "--heuristic widens the stream IDs of the advanced scan: it needs --mode advanced";
  }
  if (options.rangeEnd != 0 && options.rangeStart > options.rangeEnd) {
    return "--range " + std::to_string(options.rangeStart) + " " + std::to_string(options.rangeEnd) +
           ": START lies past END (END 0 is the end of the file)";
  }
  return {};
}

std::unique_ptr<Scanner> MakeScanner(const ScanOptions& options, RecoverySession& session,
                                     const StopToken& stop, ScanListener* listener) {
  std::unique_ptr<Scanner> scanner;
  if (options.mode == RecoveryMode::Advanced) {
    scanner = std::make_unique<AdvancedScanner>(session, stop, listener);
  } else {
    scanner = std::make_unique<StandardScanner>(session, stop, listener);
  }
  scanner->SetRange(options.rangeStart, options.rangeEnd);
  scanner->SetHeuristic(options.heuristic);
  SearchOptions search;
  if (options.threads != 0) search.threads = CappedSearchThreads(options.threads);
  scanner->SetSearch(search);
  if (BkfReader()) scanner->SetFileReader(BkfReader());
  return scanner;
}

namespace {
BkfFile::ReadFunction& ProcessReader() {
  static BkfFile::ReadFunction reader;
  return reader;
}
}  // namespace

void SetBkfReader(BkfFile::ReadFunction reader) { ProcessReader() = std::move(reader); }
const BkfFile::ReadFunction& BkfReader() { return ProcessReader(); }

}  // namespace ostrel::cli
