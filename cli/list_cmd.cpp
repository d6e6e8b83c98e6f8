#include <atomic>
#include <cstdio>
#include <string>

#include "catalogue/snapshot.h"
#include "cli/cli.h"
#include "reader/bkf_file.h"
#include "reader/text.h"

namespace ostrel::cli {
namespace {

const char kListUsage[] =
    "Usage: ostrel-bkf list SNAPSHOT [--json]\n"
    "\n"
    "Prints the catalogue stored in a recovery snapshot (written by\n"
    "'ostrel-bkf scan --snapshot'), without scanning the BKF file again, and\n"
    "says whether the BKF file it names can be opened (extraction needs it).\n"
    "\n"
    "Options:\n"
    "  --json   print the catalogue as one JSON document, as 'scan --json' does,\n"
    "           with \"bkfOpens\" (true or false) and, when false, \"bkfError\"\n"
    "  --help   show this text\n"
    "\n"
    "A snapshot that cannot be read whole, or whose records do not form one\n"
    "well-linked catalogue, is refused with the reason.\n";

int Usage(const std::string& problem) { return UsageError("list", problem); }

}  // namespace

int ListCommand(const Args& args) {
  std::string snapshotPath;
  bool json = false;
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      std::fputs(kListUsage, stdout);
      return kExitOk;
    } else if (a == "--json") {
      json = true;
    } else if (!a.empty() && a[0] == '-') {
      return Usage("unknown option '" + a + "'");
    } else if (snapshotPath.empty()) {
      snapshotPath = a;
    } else {
      return Usage("only one snapshot can be listed");
    }
  }
  if (snapshotPath.empty()) return Usage("no snapshot given");

  StopToken stop;
  const SnapshotReadResult read = ReadSnapshot(snapshotPath, stop);
  if (!read.ok) {
    Error("cannot load the snapshot '" + snapshotPath + "': " + read.error);
    return kExitError;
  }
  const std::string bkfPath = Utf16ToUtf8(read.bkfPath);
  BkfFile bkf;
  const bool opens = bkf.Open(bkfPath);
  if (json) {
    std::string members = std::string(" \"bkfOpens\": ") + (opens ? "true" : "false") + ",\n";
    if (!opens) members += " \"bkfError\": " + JsonString(bkf.Error()) + ",\n";
    PrintCatalogueJson(stdout, read.catalogue, bkfPath, members);
  } else {
    if (opens) {
      std::printf("BKF file: %s (can be opened)\n", ForTerminal(bkfPath).c_str());
    } else {
      std::printf("BKF file: %s (cannot be opened: %s)\n", ForTerminal(bkfPath).c_str(), bkf.Error().c_str());
    }
    PrintCatalogueTree(stdout, read.catalogue);
  }
  return kExitOk;
}

}  // namespace ostrel::cli
