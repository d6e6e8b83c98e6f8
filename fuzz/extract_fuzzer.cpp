// Extraction on any bytes: every file the standard scanner catalogues is
// extracted, with a limit or without; no crash, no hang, and output bounded
// by what the file can hold (plain data no longer than the file or the limit,
// LZS frames at most 63,520 bytes per 24 bytes of input read).
//
// The last byte of the input chooses the limit: bit 0 clear, none; set, the
// byte times 256 (a file's bytes end in padding, so seeds run without one).
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>

#include "fuzz/fuzz_file.h"
#include "reader/extract.h"
#include "reader/scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > ostrel::fuzz::kMaxInput) return -1;
  ostrel::fuzz::MemoryFile file(data, size);
  if (!file.Ok()) return 0;
  ostrel::StopToken stop;
  ostrel::RecoverySession session;
  ostrel::StandardScanner scanner(session, stop);
  if (scanner.Scan(file.Path()) != 1) std::abort();
  const std::uint8_t last = size > 0 ? data[size - 1] : 0;
  const std::optional<std::uint64_t> limit =
      (last & 1) ? std::optional<std::uint64_t>(std::uint64_t{last} * 256) : std::nullopt;
  const std::uint64_t readable = limit ? std::min<std::uint64_t>(*limit, size) : size;
  static const std::string out = "/tmp/ostrel-extract-fuzz-" + std::to_string(::getpid());
  const auto& cat = session.catalogue;
  for (std::uint64_t i = 0; i < cat.FileCount(); ++i) {
    ostrel::ExtractStats stats;
    const auto outcome = ostrel::ExtractFileData(cat.FileAt(i), session.file, out, limit, stop, &stats);
    if (outcome == ostrel::ExtractOutcome::CannotCreate) std::abort();
    const std::uint64_t bound = stats.compressed ? (readable / 24 + 1) * 63520 : readable + 22;
    if (stats.bytesWritten > bound) std::abort();
  }
  ::unlink(out.c_str());
  return 0;
}
