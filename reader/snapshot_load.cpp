#include "reader/snapshot_load.h"

#include "catalogue/snapshot.h"
#include "reader/text.h"

namespace ostrel {

LoadedSnapshot LoadSnapshot(const std::string& snapshotPath, const StopToken& stop,
                            const SnapshotProgress& progress) {
  LoadedSnapshot loaded;
  SnapshotReadResult read = ReadSnapshot(snapshotPath, stop, progress);
  loaded.bkfPath = read.bkfPath;
  if (!read.ok) {
    loaded.error = read.error;
    return loaded;
  }
  auto session = std::make_unique<RecoverySession>();
  session->catalogue = std::move(read.catalogue);
  session->origin.kind = SessionOrigin::Kind::Snapshot;
  session->origin.bkfPath = Utf16ToUtf8(read.bkfPath);
  session->origin.snapshotPath = snapshotPath;
  if (!session->file.Open(session->origin.bkfPath)) {
    loaded.error = "cannot open the BKF file '" + session->origin.bkfPath +
                   "' named in the snapshot: " + session->file.Error();
    loaded.bkfMissing = true;
    return loaded;
  }
  loaded.session = std::move(session);
  return loaded;
}

}  // namespace ostrel
