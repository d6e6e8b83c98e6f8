// The standard scanner on any bytes: no crash, no hang, and a catalogue whose links all stay inside it.
#include <atomic>
#include <cstdlib>

#include "fuzz/fuzz_file.h"
#include "reader/scanner.h"

namespace {

void CheckCatalogue(const ostrel::Catalogue& cat) {
  const auto& tree = cat.Tree();
  for (std::uint64_t i = 0; i < tree.Count(); ++i) {
    const auto& n = tree.NodeAt(i);
    if (n.index != i) std::abort();
    if (i != 0 && n.parent >= i) std::abort();  // parents are added before children
    if (n.firstFile != ostrel::kNone && (n.firstFile > n.lastFile || n.lastFile >= cat.FileCount())) std::abort();
  }
  for (std::uint64_t i = 0; i < cat.FileCount(); ++i) {
    const auto& f = cat.FileAt(i);
    if (f.index != i || f.parent >= tree.Count() || f.name.empty()) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > ostrel::fuzz::kMaxInput) return -1;
  ostrel::fuzz::MemoryFile file(data, size);
  if (!file.Ok()) return 0;
  ostrel::StopToken stop;
  ostrel::RecoverySession session;
  ostrel::StandardScanner scanner(session, stop);
  if (scanner.Scan(file.Path()) != 1) std::abort();
  CheckCatalogue(session.catalogue);
  return 0;
}
