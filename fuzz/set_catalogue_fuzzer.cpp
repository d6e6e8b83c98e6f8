// The end-of-set catalogue reader on any bytes: as the data of a TFDD stream,
// as the data of a TSMP stream, and as a whole BKF file. A catalogue is read
// in full with entries that hold together, or answered with a reason and no
// entries.
#include <cstdlib>

#include "fuzz/fuzz_file.h"
#include "reader/set_catalogue.h"

namespace {

using ostrel::CatalogueEntry;
using ostrel::CatalogueOutcome;

void Check(bool ok) {
  if (!ok) std::abort();
}

// Entries lie inside the data in offset order; a parent is an earlier entry;
// a block position is the SSET position plus the LBA in logical blocks.
void CheckEntries(CatalogueOutcome outcome, const std::string& reason, const std::vector<CatalogueEntry>& entries,
                  std::uint64_t dataSize, const ostrel::BlockMapping& mapping) {
  if (outcome != CatalogueOutcome::kRead) {
    Check(!reason.empty() && entries.empty());
    return;
  }
  Check(reason.empty());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const CatalogueEntry& e = entries[i];
    Check(e.offset < dataSize && (i == 0 || e.offset > entries[i - 1].offset));
    Check(e.parent == ostrel::kNoCatalogueParent || e.parent < i);
    if (e.parent != ostrel::kNoCatalogueParent) Check(entries[e.parent].offset == static_cast<std::uint64_t>(e.link));
    if (e.blockPosition) {
      Check(mapping.ssetPosition && (*e.blockPosition - *mapping.ssetPosition) / mapping.logicalBlockSize == e.lba);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > ostrel::fuzz::kMaxInput) return -1;
  const ostrel::ByteView view(data, size);

  const ostrel::BlockMapping mapping{std::uint64_t{2048}, 1024};
  const ostrel::CatalogueEntries parsed = ostrel::ParseCatalogueEntries(view, 0, mapping);
  CheckEntries(parsed.outcome, parsed.reason, parsed.entries, size, mapping);

  const ostrel::SetMap map = ostrel::ParseSetMap(view, 0);
  if (map.outcome == CatalogueOutcome::kRead) {
    Check(map.reason.empty() && map.sets.size() == view.U16(4).value_or(0));
  } else {
    Check(!map.reason.empty() && map.sets.empty());
  }

  ostrel::fuzz::MemoryFile file(data, size);
  if (!file.Ok()) return 0;
  ostrel::BkfFile bkf;
  if (!bkf.Open(file.Path())) return 0;
  ostrel::StopToken stop;
  const ostrel::SetCatalogueScan scan = ostrel::ReadSetCatalogues(bkf, stop);
  Check(!scan.stopped && scan.sets.size() <= ostrel::kMaxSets);
  for (const ostrel::SetCatalogueResult& set : scan.sets) {
    Check(set.logicalBlockSize >= 512 && (set.logicalBlockSize & (set.logicalBlockSize - 1)) == 0);
    // The stream lies in the file; its data after its 22-byte header.
    if (set.streamPosition) Check(*set.streamPosition + 22 <= size || set.outcome != CatalogueOutcome::kRead);
    CheckEntries(set.outcome, set.reason, set.entries, size, {set.ssetPosition, set.logicalBlockSize});
    if (set.setMap && set.setMap->outcome != CatalogueOutcome::kRead) Check(set.setMap->sets.empty());
  }
  return 0;
}
