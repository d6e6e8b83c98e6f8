// The advanced scanner on any bytes, with and without the heuristic flag (the
// first byte chooses): no crash, no hang, and a catalogue that passes the
// checks a loaded snapshot must pass.
#include <atomic>
#include <cstdlib>

#include "catalogue/snapshot.h"
#include "fuzz/fuzz_file.h"
#include "reader/advanced_scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > ostrel::fuzz::kMaxInput) return -1;
  ostrel::fuzz::MemoryFile file(data, size);
  if (!file.Ok()) return 0;
  ostrel::StopToken stop;
  ostrel::RecoverySession session;
  ostrel::AdvancedScanner scanner(session, stop);
  scanner.SetHeuristic(size > 0 && (data[0] & 1) != 0);
  if (scanner.Scan(file.Path()) != 1) std::abort();
  if (!ostrel::CheckCatalogueLinks(session.catalogue).empty()) std::abort();
  return 0;
}
