// The snapshot reader on any bytes: no crash, no hang, no allocation beyond
// the bounds it sets; a catalogue it accepts passes the link checks, can be
// walked whole, and can be extracted from.
//
// Input: one selector byte, then the snapshot.
//   bit 0  the snapshot's path block is written here, naming a small valid
//          BKF file built at start-up; the fuzzer's bytes are the folder and
//          file sections. Otherwise the bytes are the whole snapshot.
//   bit 1  extraction with a limit of (selector >> 2) x 64 bytes
// When the catalogue is accepted and names the valid file, every file of it
// is extracted from that file: the records' data positions and lengths are
// the fuzzer's, the bytes under them are real.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/snapshot.h"
#include "fuzz/fuzz_file.h"
#include "reader/extract.h"
#include "reader/scanner.h"
#include "tests/fixtures/small_bkf.h"

namespace {

struct Workspace {
  std::string dir, bkf, out;
  std::vector<std::uint8_t> pathBlock;  // u32 N, the path in UTF-16LE, a NUL unit
};

const Workspace& Setup() {
  static const Workspace ws = [] {
    Workspace w;
    w.dir = "/tmp/ostrel-snapshot-fuzz-" + std::to_string(::getpid());
    ::mkdir(w.dir.c_str(), 0700);
    w.bkf = w.dir + "/small.bkf";
    w.out = w.dir + "/out";
    if (!ostrel::fixtures::SmallBkf().WriteTo(w.bkf)) std::abort();
    w.pathBlock = ostrel::fixtures::PathBlock(w.bkf);
    return w;
  }();
  return ws;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > ostrel::fuzz::kMaxInput || size == 0) return -1;
  const Workspace& ws = Setup();
  const std::uint8_t selector = data[0];
  std::vector<std::uint8_t> snapshot;
  if (selector & 1) snapshot = ws.pathBlock;
  snapshot.insert(snapshot.end(), data + 1, data + size);

  ostrel::fuzz::MemoryFile file(snapshot.data(), snapshot.size());
  if (!file.Ok()) return 0;
  ostrel::StopToken stop;
  ostrel::SnapshotReadResult read = ostrel::ReadSnapshot(file.Path(), stop);
  if (read.ok != read.error.empty()) std::abort();
  if (!read.ok) return 0;
  if (!ostrel::CheckCatalogueLinks(read.catalogue).empty()) std::abort();
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
  if (!(selector & 1)) return 0;

  ostrel::RecoverySession session;
  session.catalogue = std::move(read.catalogue);
  if (!session.file.Open(ws.bkf)) std::abort();
  const std::optional<std::uint64_t> limit =
      (selector & 2) ? std::optional<std::uint64_t>((selector >> 2) * 64u) : std::nullopt;
  const std::uint64_t bkfSize = session.file.Size();
  const std::uint64_t readable = limit ? std::min(*limit, bkfSize) : bkfSize;
  for (std::uint64_t i = 0; i < session.catalogue.FileCount(); ++i) {
    ostrel::ExtractStats stats;
    const auto outcome =
        ostrel::ExtractFileData(session.catalogue.FileAt(i), session.file, ws.out, limit, stop, &stats);
    if (outcome == ostrel::ExtractOutcome::CannotCreate) std::abort();
    // Plain data is never longer than what was read; LZS frames give at most
    // 63,520 bytes per 24 bytes read.
    const std::uint64_t bound = stats.compressed ? (readable / 24 + 1) * 63520 : readable + 22;
    if (stats.bytesWritten > bound) std::abort();
  }
  ::unlink(ws.out.c_str());
  return 0;
}
