#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>

#include "catalogue/snapshot.h"
#include "cli/cli.h"
#include "reader/bkf_file.h"
#include "reader/text.h"

namespace ostrel::cli {
namespace {

const char kListUsage[] =
    "Usage: ostrel-bkf list SNAPSHOT|BKF [--json] [--bytes]\n"
    "\n"
    "Prints the catalogue stored in a recovery snapshot (written by\n"
    "'ostrel-bkf scan --snapshot'), without scanning the BKF file again, and\n"
    "says whether the BKF file it names can be opened (extraction needs it).\n"
    "Given a BKF file instead, it scans it in the standard mode and prints what\n"
    "'ostrel-bkf scan' prints. A file whose name ends in .KVSNAPSHOT (in any\n"
    "letter case) is always read as a snapshot; other files are told apart by\n"
    "their content. Each file shows its catalogue index, the number\n"
    "'extract --index' takes.\n"
    "\n"
    "Options:\n"
    "  --json      print the catalogue as one JSON document, as 'scan --json' does,\n"
    "              for a snapshot with \"bkfOpens\" (true or false) and, when false,\n"
    "              \"bkfError\" (and \"compressed\": null, which only the BKF file\n"
    "              can tell)\n"
    "  --bytes     print sizes and counts without thousands separators\n"
    "  -h, --help  show this text\n"
    "\n"
    "A snapshot that cannot be read whole, or whose records do not form one\n"
    "well-linked catalogue, is refused with the reason.\n";

int Usage(const std::string& problem) { return UsageError("list", problem); }

}  // namespace

int ListCommand(const Args& args) {
  std::string inputPath;
  PrintOptions print;
  ArgReader reader(args);
  while (reader.Next()) {
    if (const auto exit = TakeCommonOption(reader, "list", kListUsage)) return *exit;
    if (!reader.IsOption()) {
      if (!inputPath.empty()) return Usage("only one snapshot or BKF file can be listed");
      inputPath = reader.Name();
    } else if (!TakePrintOption(reader, print)) {
      return Usage("unknown option '" + reader.Given() + "'");
    }
  }
  if (inputPath.empty()) return Usage("no snapshot or BKF file given");
  if (!IsSnapshotInput(inputPath)) {
    return ScanAndPrint(inputPath, ScanOptions{}, {}, print);
  }

  StopToken stop;
  const SnapshotReadResult read = ReadSnapshot(inputPath, stop);
  if (!read.ok) {
    Error("cannot load the snapshot '" + inputPath + "': " + read.error);
    return kExitError;
  }
  const std::string bkfPath = PathFromUtf16(read.bkfPath);
  BkfFile bkf;
  const bool opens = bkf.Open(bkfPath);
  if (print.json) {
    std::string members = std::string(" \"bkfOpens\": ") + (opens ? "true" : "false") + ",\n";
    if (!opens) members += " \"bkfError\": " + JsonString(bkf.Error()) + ",\n";
    PrintCatalogueJson(stdout, read.catalogue, bkfPath, CompressedFlags(read.catalogue, bkf), members);
  } else {
    if (opens) {
      std::printf("BKF file: %s (can be opened)\n", ForTerminal(bkfPath).c_str());
    } else {
      std::printf("BKF file: %s (cannot be opened: %s)\n", ForTerminal(bkfPath).c_str(), bkf.Error().c_str());
    }
    PrintCatalogueTree(stdout, read.catalogue, print.rawSizes);
  }
  return kExitOk;
}

}  // namespace ostrel::cli
