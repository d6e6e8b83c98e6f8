// ostrel-bkf: command-line recovery from damaged MTF backups.
#include "cli/cli.h"

int main(int argc, char** argv) { return ostrel::cli::Main(argc, argv); }
