// ostrel-bkf: command-line recovery from damaged MTF backups.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli.h"

namespace {

const char kUsage[] =
    "Usage: ostrel-bkf COMMAND [OPTIONS]\n"
    "\n"
    "Recovers files from damaged Microsoft Tape Format backups (.bkf files).\n"
    "\n"
    "Commands:\n"
    "  scan BKF      scan a BKF file and print the catalogue it holds\n"
    "  extract BKF   scan a BKF file and write the files it holds into a folder\n"
    "  list SNAP     print the catalogue stored in a recovery snapshot\n"
    "\n"
    "Run 'ostrel-bkf COMMAND --help' for the options of a command.\n"
    "Exit status: 0 success, 1 some files could not be recovered, 2 bad arguments\n"
    "or an unreadable input file.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return ostrel::cli::kExitError;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return ostrel::cli::kExitOk;
  }
  const ostrel::cli::Args args(argv + 2, argv + argc);
  if (command == "scan") return ostrel::cli::ScanCommand(args);
  if (command == "extract") return ostrel::cli::ExtractCommand(args);
  if (command == "list") return ostrel::cli::ListCommand(args);
  ostrel::cli::Error("unknown command '" + command + "'");
  std::fputs(kUsage, stderr);
  return ostrel::cli::kExitError;
}
