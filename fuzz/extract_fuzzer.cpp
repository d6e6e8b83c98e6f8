// Extraction on any bytes: every file the standard scanner catalogues is
// extracted without a limit; no crash, no hang, and output bounded by what the
// file can hold (plain data no longer than the file, LZS frames at most
// 63,520 bytes per 24 bytes of input).
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_file.h"
#include "reader/extract.h"
#include "reader/scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > ostrel::fuzz::kMaxInput) return -1;
  ostrel::fuzz::MemoryFile file(data, size);
  if (!file.Ok()) return 0;
  std::atomic<int> running{1};
  ostrel::bkf scanner(running);
  if (scanner.Scan(file.Path()) != 1) std::abort();
  static const std::string out = "/tmp/ostrel-extract-fuzz-" + std::to_string(::getpid());
  const auto& cat = scanner.Cat();
  for (std::uint64_t i = 0; i < cat.FileCount() && i < 64; ++i) {
    ostrel::ExtractStats stats;
    const auto outcome = ostrel::ExtractFileData(cat.FileAt(i), scanner.File(), out, std::nullopt, running, &stats);
    if (outcome == ostrel::ExtractOutcome::CannotCreate) std::abort();
    const std::uint64_t bound = stats.compressed ? (size / 24 + 1) * 63520 : size + 22;
    if (stats.bytesWritten > bound) std::abort();
  }
  ::unlink(out.c_str());
  return 0;
}
