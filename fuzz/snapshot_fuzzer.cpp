// The snapshot reader on any bytes: no crash, no hang, no allocation beyond
// the bounds it sets; a catalogue it accepts can be walked whole.
#include <atomic>
#include <cstdlib>

#include "catalogue/snapshot.h"
#include "fuzz/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > ostrel::fuzz::kMaxInput) return -1;
  ostrel::fuzz::MemoryFile file(data, size);
  if (!file.Ok()) return 0;
  std::atomic<int> running{1};
  const ostrel::SnapshotReadResult read = ostrel::ReadSnapshot(file.Path(), running);
  if (read.ok != read.error.empty()) std::abort();
  if (!read.ok) return 0;
  // What the tree pane and the list do with it: every folder's path and its
  // run of files.
  const auto& cat = read.catalogue;
  for (std::uint64_t i = 0; i < cat.Tree().Count(); ++i) {
    (void)cat.Tree().NodePath(i);
    const auto& n = cat.Tree().NodeAt(i);
    for (std::uint64_t f = n.firstFile; n.firstFile != ostrel::kNone && f <= n.lastFile; ++f) {
      if (cat.FileAt(f).parent >= cat.Tree().Count()) std::abort();
    }
  }
  return 0;
}
