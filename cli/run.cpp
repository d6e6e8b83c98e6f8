// The ostrel-bkf command line: the command word chooses the command.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "cli/cli.h"
#include "version.h"

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
    "Run 'ostrel-bkf COMMAND --help' for the options of a command, and\n"
    "'ostrel-bkf --version' for the version.\n"
    "Exit status: 0 success, 1 some files could not be recovered whole or parts of\n"
    "the BKF file could not be read, 2 bad arguments or an input file that cannot\n"
    "be opened.\n";

// The catalogue or report went to a full disk or a closed pipe: the command
// failed even though it had nothing else to complain about.
int CheckedOutput(int code) {
  std::cout.flush();
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  if (flushed && std::cout.good() && !std::ferror(stdout)) return code;
  const int error = errno;
  ostrel::cli::Error(std::string("cannot write the output") +
                     (error != 0 ? std::string(": ") + std::strerror(error) : std::string()));
  return ostrel::cli::kExitError;
}

}  // namespace

int ostrel::cli::Main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return ostrel::cli::kExitError;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return ostrel::cli::kExitOk;
  }
  if (command == "--version" || command == "-V") {
    std::printf("ostrel-bkf %s\n", OSTREL_VERSION);
    return CheckedOutput(ostrel::cli::kExitOk);
  }
  const ostrel::cli::Args args(argv + 2, argv + argc);
  if (command == "scan") return CheckedOutput(ostrel::cli::ScanCommand(args));
  if (command == "extract") return CheckedOutput(ostrel::cli::ExtractCommand(args));
  if (command == "list") return CheckedOutput(ostrel::cli::ListCommand(args));
  ostrel::cli::Error("unknown command '" + command + "'");
  std::fputs("Try 'ostrel-bkf --help'.\n", stderr);
  return ostrel::cli::kExitError;
}
