// Drives the save routine the desktop program's save dialog uses: scans BKF
// (not timed), then saves every file of its catalogue below DEST through
// SaveRun, and prints the time of the saving alone.
//
//   save_bench_driver BKF DEST [--flat]
//   -> "files N bytes B seconds S"
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

#include "reader/save_files.h"
#include "reader/scanner.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: save_bench_driver BKF DEST [--flat]\n");
    return 2;
  }
  const bool flat = argc > 3 && std::string(argv[3]) == "--flat";
  ostrel::StopToken stop;
  ostrel::RecoverySession session;
  ostrel::StandardScanner scanner(session, stop);
  if (scanner.Scan(argv[1]) != 1) {
    std::fprintf(stderr, "cannot scan %s\n", argv[1]);
    return 1;
  }
  std::string error;
  const auto start = std::chrono::steady_clock::now();
  std::optional<ostrel::Destination> destination = ostrel::PrepareDestination(argv[2], error);
  if (!destination) {
    std::fprintf(stderr, "%s: %s\n", argv[2], error.c_str());
    return 1;
  }
  const ostrel::Catalogue& cat = session.catalogue;
  ostrel::SaveRun run(cat, session.file, std::move(*destination), !flat, stop);
  std::uint64_t saved = 0, bytes = 0;
  for (std::uint64_t i = 0; i < cat.FileCount(); ++i) {
    const ostrel::SaveResult r = run.SaveFile(i);
    if (r.status != ostrel::SaveStatus::Saved) {
      std::fprintf(stderr, "file %llu: %s\n", static_cast<unsigned long long>(i), r.reason.c_str());
      return 1;
    }
    ++saved;
    bytes += r.bytes;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("files %llu bytes %llu seconds %.3f\n", static_cast<unsigned long long>(saved),
              static_cast<unsigned long long>(bytes), seconds);
  return 0;
}
