// The recovery snapshot file (extension KVSNAPSHOT): a catalogue with every
// record and name, and the path of the BKF file it was scanned from, so that
// the catalogue can be loaded again without rescanning.
//
// Layout (little-endian; no signature, version or checksum):
//   path block      u32 N, then N bytes: the BKF path in UTF-16LE + one NUL unit
//   folder section  per folder node, in index order from the root:
//                     'T', u32 M, 4 reserved, 54-byte record, M bytes of name
//                   then the end tag: 'E' and 8 reserved bytes
//   file section    per file node, in index order:
//                     'F', u32 M, 4 reserved, 41-byte record, M bytes of name
//                   then the end tag
// M is the name's byte count with its NUL unit, 2 x (units + 1).
//
// Folder record (54 bytes)             File record (41 bytes)
//    0  4  name reference (zero)          0  4  name reference (zero)
//    4  8  parent                         4  2  nameSize
//   12  8  firstChild                     6  8  parent (folder index)
//   20  8  nextSibling                   14  1  kind 'F'
//   28  8  index                         15  8  index
//   36  8  firstFile                     23  8  dataPosition
//   44  8  lastFile                      31  8  dataLength
//   52  1  checkState                    39  1  checkState
//   53  1  inTree                        40  1  inTree
// Reserved bytes and name references are written as zero and ignored when read.
//
// The reader takes the file for untrusted: every tag, record and name must be
// read whole, sizes are bounded before anything is allocated, and the links
// between the records are checked before the catalogue is handed out, so that
// a loaded catalogue is as well-formed as a scanned one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/bytes.h"
#include "base/stop_token.h"
#include "catalogue/catalogue.h"

namespace ostrel {

// A name's byte count M (with its NUL unit) must stay below this.
inline constexpr std::uint32_t kSnapshotNameLimit = 4096;
// The path block's byte count N may not exceed this.
inline constexpr std::uint32_t kSnapshotPathLimit = 64 * 1024;

inline constexpr std::size_t kSnapshotFolderRecordSize = 54;
inline constexpr std::size_t kSnapshotFileRecordSize = 41;
inline constexpr std::size_t kSnapshotTagSize = 9;

// How far a write or a read has come: `done` of `total` (records for a
// write, bytes of the file for a read). Called on the thread that writes or
// reads, whenever another thousandth is done and once at the end, never per
// record, so that a listener may take a lock.
using SnapshotProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

struct SnapshotWriteResult {
  bool ok = false;
  bool stopped = false;  // it failed because the stop was requested
  std::string error;     // why it failed, with the system's reason for a file error
};

// Writes `catalogue` and `bkfPath` to `path` (created or replaced). The file
// is written beside `path` first, in a new file of a random name, and takes
// its place only once it is complete, so a failed or stopped write leaves no
// partial snapshot and nothing planted beside `path` is written through.
// Stops, and fails, when `stop` is requested.
SnapshotWriteResult WriteSnapshot(const Catalogue& catalogue, std::u16string_view bkfPath,
                                  const std::string& path, const StopToken& stop,
                                  const SnapshotProgress& progress = {});

struct SnapshotReadResult {
  bool ok = false;
  std::string error;  // why it failed, with the byte position where it applies
  Catalogue catalogue;
  std::u16string bkfPath;
};

// Reads a snapshot. The BKF file it names is not opened here: whoever takes
// the catalogue over opens it. Stops, and fails, when a stop is
// requested.
SnapshotReadResult ReadSnapshot(const std::string& path, const StopToken& stop,
                                const SnapshotProgress& progress = {});

// Whether `head`, the first bytes of a file (4 + kSnapshotPathLimit + 1 are
// enough), begins the way a snapshot does: a path block whose size N is even,
// from 2 to the limit, whose last unit is NUL, followed by a folder tag, an
// end tag or the end of the file (a cut snapshot is still one, and its
// reader says where it ends). Lets a command take either a snapshot or a BKF file: a BKF file
// begins with a descriptor block ID ("TAPE"), which as a size is far above
// the limit, or with damage, which this rarely passes; a damaged snapshot
// that fails it is scanned as a BKF file and finds nothing.
bool LooksLikeSnapshot(ByteView head);
// The same for the file at `path`; false when it is no regular file or
// cannot be read (the caller then meets the reason opening it as a BKF file).
bool LooksLikeSnapshot(const std::string& path);

// The checks a loaded catalogue must pass: every link none or a valid index,
// every index its record's position, the folders one tree below the root
// (each folder in exactly its parent's child chain, no cycles, none deeper
// than kMaxFolderDepth), every file in a folder, the file runs of the folders
// inside the file list, never overlapping, and every file in a run naming
// that run's folder as its parent. Answers the first problem found, or an
// empty text.
std::string CheckCatalogueLinks(const Catalogue& catalogue);

}  // namespace ostrel
