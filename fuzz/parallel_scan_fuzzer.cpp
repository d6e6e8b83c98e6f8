// The block search run ahead on worker threads against the one-thread scan,
// which searches each window as the walk reaches it: on any bytes, both give
// the same catalogue, the same blocks and the same progress reports. The
// first byte chooses the mode (bits 0-1: standard, advanced, advanced with
// heuristic stream IDs), the threads (bits 2-4: 2 to 9), whether the
// workers are called in at the start (bit 5) or after a run of windows
// without a block, and whether the listener wants only the newest report
// (bit 6: its reports are then some of the one-thread scan's, in order, down
// to the last); the second byte the segment size (1 to 65,281 bytes, small
// enough that IDs straddle segment ends).
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_file.h"
#include "tests/fixtures/scan_helpers.h"

namespace {

struct Scan {
  std::vector<std::string> outline;
  std::uint64_t blocks = 0;
  std::vector<std::uint64_t> reports;
};

struct NewestOnly : ostrel::fixtures::RecordingListener {
  bool EveryWindow() const override { return false; }
};

Scan Run(const std::string& path, int mode, const ostrel::SearchOptions& search, bool everyWindow = true) {
  ostrel::StopToken stop;
  ostrel::RecoverySession session;
  ostrel::fixtures::RecordingListener recorder;
  NewestOnly newest;
  ostrel::fixtures::RecordingListener& listener = everyWindow ? recorder : newest;
  const auto scanner = ostrel::fixtures::NewScanner(
      mode == 0 ? ostrel::RecoveryMode::Standard : ostrel::RecoveryMode::Advanced, session, stop, &listener);
  scanner->SetHeuristic(mode == 2);
  scanner->SetSearch(search);
  if (scanner->Scan(path) != 1) std::abort();
  Scan s;
  s.outline = ostrel::fixtures::Outline(session.catalogue, true);
  s.blocks = scanner->BlocksFound();
  for (const ostrel::ProgressReport& r : listener.reports) s.reports.push_back(r.position);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || size > ostrel::fuzz::kMaxInput) return -1;
  ostrel::fuzz::MemoryFile file(data, size);
  if (!file.Ok()) return 0;
  const int mode = data[0] & 3;
  if (mode == 3) return -1;
  ostrel::SearchOptions parallel;
  parallel.threads = 2 + ((data[0] >> 2) & 7);
  parallel.segmentSize = 1 + std::size_t{data[1]} * 256;
  parallel.quietBytes = (data[0] & 0x20) != 0 ? 0 : 64 * 1024;
  const Scan one = Run(file.Path(), mode, {1, 0, 0});
  const bool everyWindow = (data[0] & 0x40) == 0;
  const Scan many = Run(file.Path(), mode, parallel, everyWindow);
  if (many.outline != one.outline || many.blocks != one.blocks) std::abort();
  if (everyWindow) {
    if (many.reports != one.reports) std::abort();
    return 0;
  }
  if (many.reports.empty() != one.reports.empty()) std::abort();
  if (!many.reports.empty() && many.reports.back() != one.reports.back()) std::abort();
  auto next = one.reports.begin();
  for (const std::uint64_t position : many.reports) {
    next = std::find(next, one.reports.end(), position);
    if (next == one.reports.end()) std::abort();
    ++next;
  }
  return 0;
}
