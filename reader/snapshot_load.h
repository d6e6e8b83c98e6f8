// Loading a recovery snapshot for use: the stored catalogue taken over by a
// new standard scanner, whatever mode produced it, with the BKF file it names
// opened read-only for extraction.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "catalogue/snapshot.h"
#include "reader/scanner.h"

namespace ostrel {

struct LoadedSnapshot {
  std::unique_ptr<bkf> scanner;  // set only on success
  std::u16string bkfPath;        // as stored (also when the BKF cannot be opened)
  std::string error;             // empty on success
  bool bkfMissing = false;       // the snapshot was read, but its BKF file cannot be opened
};

// Reads the snapshot (`progress` as for ReadSnapshot) and opens its BKF file.
LoadedSnapshot LoadSnapshot(const std::string& snapshotPath, std::atomic<int>& processRunning,
                            const SnapshotProgress& progress = {});

}  // namespace ostrel
