// Loading a recovery snapshot for use: the stored catalogue in a new recovery
// session, whatever mode produced it, with the BKF file it names opened
// read-only for extraction.
#pragma once

#include <memory>
#include <string>

#include "base/stop_token.h"
#include "catalogue/snapshot.h"
#include "reader/recovery_session.h"

namespace ostrel {

struct LoadedSnapshot {
  std::unique_ptr<RecoverySession> session;  // set only on success
  std::u16string bkfPath;                    // as stored (also when the BKF cannot be opened)
  std::string error;                         // empty on success
  bool bkfMissing = false;                   // the snapshot was read, but its BKF file cannot be opened
};

// Reads the snapshot (`progress` as for ReadSnapshot) and opens its BKF file.
LoadedSnapshot LoadSnapshot(const std::string& snapshotPath, const StopToken& stop,
                            const SnapshotProgress& progress = {});

}  // namespace ostrel
