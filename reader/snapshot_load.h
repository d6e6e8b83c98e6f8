// Loading a recovery snapshot for use: the stored catalogue in a new recovery
// session, whatever mode produced it, with the BKF file it names opened
// read-only for extraction.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/stop_token.h"
#include "catalogue/snapshot.h"
#include "reader/recovery_session.h"

namespace ostrel {

struct LoadedSnapshot {
  std::unique_ptr<RecoverySession> session;  // set only on success
  std::u16string bkfPath;                    // as stored (also when the BKF cannot be opened)
  std::string error;                         // empty on success
  bool bkfMissing = false;                   // the snapshot was read, but its BKF file cannot be opened
  // Files whose record does not point at a data stream in the BKF file: their
  // data position is cleared in the session's catalogue, so that nothing is
  // read for them.
  std::vector<std::uint64_t> refused;
};

// A snapshot is only a list of positions in a file it names: it could name
// any file the user can read (a private key) and have its bytes copied out
// as a "recovered" file. Before anything is read through it, the records must
// fit the named file as a scan would have found them:
//   - each record with data has a stream header before its data position:
//     four characters of a stream ID (capital letters or digits, as the
//     heuristic scan takes them; its checksum is not asked for, damage may
//     have broken it);
//   - a descriptor block (TAPE, SSET, VOLB, DIRB or FILE whose offset to the
//     first event is below 2,048) stands within the 64 KiB before the data of
//     at least one record.
// A record that fails the first check is refused; when no record passes both,
// the whole snapshot is refused. Every byte of the file is searched at most
// once.
inline constexpr std::uint64_t kBlockReach = 64 * 1024;

// "does not point at a data stream in PATH"
std::string NotADataStreamReason(const std::string& bkfPath);

// Reads the snapshot (`progress` as for ReadSnapshot), opens its BKF file and
// checks that the records fit it (above). When none does, `session` is null
// and `error` says why.
LoadedSnapshot LoadSnapshot(const std::string& snapshotPath, const StopToken& stop,
                            const SnapshotProgress& progress = {});

// Why `path` must not receive the snapshot of a scan of `bkfPath`: it is that
// BKF file itself (the same device and inode), or it exists and is not a
// regular file (a device, a FIFO, a folder), which the snapshot, written
// beside it and renamed into its place, would replace. Empty when it may be
// written.
std::string SnapshotTargetProblem(const std::string& path, const std::string& bkfPath);

}  // namespace ostrel
