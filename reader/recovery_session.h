// A recovery session: one catalogue, the BKF file its records point into, and
// where both came from. A scan fills a session, loading a snapshot returns
// one; the command-line tool and the desktop program own the session they
// work on, and everything else (saving, search, preview) takes it by
// reference.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "reader/bkf_file.h"

namespace ostrel {

// The two scanners.
enum class RecoveryMode { Standard = 1, Advanced = 2 };

// What the session was made from.
struct SessionOrigin {
  enum class Kind { None, Scan, Snapshot };
  Kind kind = Kind::None;
  std::string bkfPath;  // the file scanned, or the one the snapshot names
  // A scan's options.
  RecoveryMode mode = RecoveryMode::Standard;
  bool heuristic = false;
  std::uint64_t rangeStart = 0;  // 0 and 0: the whole file
  std::uint64_t rangeEnd = 0;
  // A snapshot's path.
  std::string snapshotPath;
};

// A FILE block the scan found sound (its header checksum holds) but left out
// of the catalogue because the data it promises runs past the end of the
// scanned range: the usual shape of a backup cut off by a full disk.
struct LeftOutFile {
  std::u16string name;
  std::uint64_t offset = 0;  // of the FILE block
  std::uint64_t length = 0;  // the data length its stream header promises
};

inline constexpr std::size_t kMaxLeftOutListed = 4096;

// A TAPE, SSET or ESET block a scan met whose header checksum holds: where
// the backup's own end-of-set catalogues are looked for after the scan.
struct SetBlock {
  char id[5] = {};  // "TAPE", "SSET" or "ESET"
  std::uint64_t position = 0;
};
// The most such blocks a scan keeps (three per set at the most sets read).
inline constexpr std::size_t kMaxSetBlocks = 3 * 65536;

struct RecoverySession {
  Catalogue catalogue;
  BkfFile file;  // open read-only once the scan or load has opened it
  SessionOrigin origin;
  // What the scan left out of the catalogue although it looked sound; not
  // kept in snapshots. At most kMaxLeftOutListed are kept (a crafted file
  // could hold one a kilobyte); the rest are only counted.
  std::vector<LeftOutFile> leftOut;
  std::uint64_t leftOutNotListed = 0;
  // Where the scan met sound TAPE, SSET and ESET blocks, in file order.
  std::vector<SetBlock> setBlocks;
};

}  // namespace ostrel
