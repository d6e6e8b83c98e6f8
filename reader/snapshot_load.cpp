#include "reader/snapshot_load.h"

#include "catalogue/snapshot.h"
#include "reader/text.h"

namespace ostrel {

LoadedSnapshot LoadSnapshot(const std::string& snapshotPath, std::atomic<int>& processRunning,
                            const SnapshotProgress& progress) {
  LoadedSnapshot loaded;
  SnapshotReadResult read = ReadSnapshot(snapshotPath, processRunning, progress);
  loaded.bkfPath = read.bkfPath;
  if (!read.ok) {
    loaded.error = read.error;
    return loaded;
  }
  auto scanner = std::make_unique<bkf>(processRunning);
  const std::string bkfPath = Utf16ToUtf8(read.bkfPath);
  if (!scanner->Adopt(std::move(read.catalogue), bkfPath)) {
    loaded.error = "cannot open the BKF file '" + bkfPath + "' named in the snapshot: " + scanner->FileError();
    loaded.bkfMissing = true;
    return loaded;
  }
  loaded.scanner = std::move(scanner);
  return loaded;
}

}  // namespace ostrel
