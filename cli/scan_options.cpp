#include "cli/cli.h"
#include "reader/advanced_scanner.h"

namespace ostrel::cli {

bool TakeScanOption(const Args& args, std::size_t& i, ScanOptions& options, std::string& problem) {
  const std::string& a = args[i];
  if (a == "--mode") {
    if (i + 1 >= args.size()) {
      problem = "--mode needs a value (standard or advanced)";
    } else if (args[i + 1] == "standard" || args[i + 1] == "advanced") {
      options.mode = args[i + 1] == "advanced" ? RecoveryMode::Advanced : RecoveryMode::Standard;
    } else {
      problem = "unknown mode '" + args[i + 1] + "' (standard or advanced)";
    }
    i += 1;
    return true;
  }
  if (a == "--heuristic") {
    options.heuristic = true;
    return true;
  }
  if (a == "--range") {
    if (i + 2 >= args.size()) {
      problem = "--range needs START and END";
      return true;
    }
    const auto s = ParseU64(args[i + 1]);
    const auto e = ParseU64(args[i + 2]);
    if (!s || !e) {
      problem = "--range takes two unsigned decimal byte positions";
    } else {
      options.rangeStart = *s;
      options.rangeEnd = *e;
    }
    i += 2;
    return true;
  }
  return false;
}

std::string CheckScanOptions(const ScanOptions& options) {
  if (options.heuristic && options.mode != RecoveryMode::Advanced) {
    return "--heuristic widens the stream IDs of the advanced scan: it needs --mode advanced";
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
