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
    "  scan BKF           scan a BKF file and print the catalogue it holds\n"
    "  extract BKF        scan a BKF file and write the files it holds into a folder\n"
    "  list SNAPSHOT|BKF  print the catalogue stored in a recovery snapshot, or\n"
    "                     the one a scan of a BKF file finds\n"
    "  verify BKF|SNAPSHOT  read every file's data as extract would, check each\n"
    "                     checksum the backup holds, and write nothing\n"
    "  help COMMAND       show the options of a command\n"
    "\n"
    "Run 'ostrel-bkf COMMAND --help' for the options of a command, and\n"
    "'ostrel-bkf --version' for the version. An option's value follows it or an\n"
    "'=' ('--to DIR', '--to=DIR', '-o DIR'); '--' ends the options.\n"
    "Exit status: 0 success, 1 some files could not be recovered whole or parts of\n"
    "the BKF file could not be read, 2 bad arguments or an input file that cannot\n"
    "be opened.\n";

using Command = int (*)(const ostrel::cli::Args&);

// The command of a command word, or null.
Command CommandNamed(const std::string& word) {
  if (word == "scan") return ostrel::cli::ScanCommand;
  if (word == "extract") return ostrel::cli::ExtractCommand;
  if (word == "list") return ostrel::cli::ListCommand;
  if (word == "verify") return ostrel::cli::VerifyCommand;
  return nullptr;
}

int UnknownCommand(const std::string& word) {
  ostrel::cli::Error("unknown command '" + word + "'");
  std::fputs("Try 'ostrel-bkf --help'.\n", stderr);
  return ostrel::cli::kExitError;
}

// The catalogue or report went to a full disk or a closed pipe: the command
// failed even though it had nothing else to complain about.
int CheckedOutput(int code) {
  // std::cout shares standard output's buffer: its flush is the one that
  // writes, and meets the error.
  errno = 0;
  std::cout.flush();
  const bool flushed = std::fflush(stdout) == 0;
  if (flushed && std::cout.good() && !std::ferror(stdout)) return code;
  const int error = errno != 0 ? errno : ostrel::cli::FirstOutputError();
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
  if (command == "help" && argc > 2) {
    // "help COMMAND" is "COMMAND --help".
    const Command named = CommandNamed(argv[2]);
    if (named == nullptr) return UnknownCommand(argv[2]);
    return CheckedOutput(named({"--help"}));
  }
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return CheckedOutput(ostrel::cli::kExitOk);
  }
  if (command == "--version" || command == "-V") {
    std::printf("ostrel-bkf %s\n", OSTREL_VERSION);
    return CheckedOutput(ostrel::cli::kExitOk);
  }
  const Command named = CommandNamed(command);
  if (named == nullptr) return UnknownCommand(command);
  return CheckedOutput(named(ostrel::cli::Args(argv + 2, argv + argc)));
}
