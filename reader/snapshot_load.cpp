#include "reader/snapshot_load.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "catalogue/snapshot.h"
#include "reader/mtf.h"
#include "reader/text.h"

namespace ostrel {
namespace {

// Four capital letters or digits: a stream ID as any scan takes one.
bool LooksLikeStreamId(const std::uint8_t* p) {
  return std::all_of(p, p + 4, [](std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
}

// The block IDs a scan builds the catalogue from, with an offset to the
// first event a scan would take.
bool LooksLikeBlock(ByteView at) {
  const int tag = mtf::FindBlockTag(at.data());
  const bool catalogues = tag == mtf::kTape || tag == mtf::kSset || tag == mtf::kVolb || tag == mtf::kDirb ||
                          tag == mtf::kFile;
  return catalogues && at.U16(mtf::kFirstEventOffset).value_or(0xFFFF) < 2048;
}

// Searches the file forward, each byte once, for the last block before each
// position asked about (in ascending order).
class BlockFinder {
 public:
  explicit BlockFinder(const BkfFile& file) : file_(file), buffer_(kChunk + kHeader) {}

  // Whether a block starts in [position - kBlockReach, position).
  bool BlockWithinReachOf(std::uint64_t position) {
    const std::uint64_t from = std::max(SatSub(position, kBlockReach), searchedTo_);
    for (std::uint64_t at = from; at < position;) {
      const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, position - at));
      // The bytes after the chunk complete the header of a block near its end.
      std::fill(buffer_.begin(), buffer_.end(), 0);
      file_.ReadAt(at, buffer_.data(), count + kHeader);
      for (std::size_t i = 0; i < count; ++i) {
        if (LooksLikeBlock(ByteView(buffer_.data() + i, count + kHeader - i))) {
          lastBlock_ = at + i;
          found_ = true;
        }
      }
      at += count;
    }
    searchedTo_ = std::max(searchedTo_, position);
    return found_ && lastBlock_ + kBlockReach >= position && lastBlock_ < position;
  }

 private:
  static constexpr std::size_t kChunk = 64 * 1024;
  static constexpr std::size_t kHeader = 52;
  const BkfFile& file_;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t searchedTo_ = 0;
  std::uint64_t lastBlock_ = 0;  // where the last block found starts, once found_
  bool found_ = false;
};

enum class Fit { NothingToRead, Fits, DoesNotFit };

// Clears the data position of each record that does not point at a data
// stream; answers whether at least one record fits the file (above).
Fit CheckRecordsFit(Catalogue& catalogue, const BkfFile& file, const StopToken& stop,
                     std::vector<std::uint64_t>& refused) {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> withData;  // data position, file index
  for (std::uint64_t i = 0; i < catalogue.FileCount() && !stop.StopRequested(); ++i) {
    FileNode& node = catalogue.FileAt(i);
    if (node.dataPosition == 0 || node.dataLength == 0) continue;
    std::uint8_t id[4] = {};
    const bool inside = node.dataPosition >= mtf::kStreamHeaderSize &&
                        file.ReadAt(node.dataPosition - mtf::kStreamHeaderSize, id, 4) == 4;
    if (inside && LooksLikeStreamId(id)) {
      withData.emplace_back(node.dataPosition, i);
    } else {
      node.dataPosition = 0;
      refused.push_back(i);
    }
  }
  if (withData.empty() && refused.empty()) return Fit::NothingToRead;
  std::sort(withData.begin(), withData.end());
  BlockFinder finder(file);
  for (const auto& entry : withData) {
    if (stop.StopRequested()) break;
    if (finder.BlockWithinReachOf(entry.first)) return Fit::Fits;
  }
  return Fit::DoesNotFit;
}

}  // namespace

std::string NotADataStreamReason(const std::string& bkfPath) {
  return "does not point at a data stream in " + bkfPath;
}

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
  session->origin.bkfPath = PathFromUtf16(read.bkfPath);
  session->origin.snapshotPath = snapshotPath;
  if (!session->file.Open(session->origin.bkfPath)) {
    loaded.error = "cannot open the BKF file '" + session->origin.bkfPath +
                   "' named in the snapshot: " + session->file.Error();
    loaded.bkfMissing = true;
    return loaded;
  }
  const Fit fit = CheckRecordsFit(session->catalogue, session->file, stop, loaded.refused);
  if (stop.StopRequested()) {
    loaded.error = "stopped";
    return loaded;
  }
  if (fit == Fit::DoesNotFit) {
    loaded.error = "its records do not fit the BKF file '" + session->origin.bkfPath +
                   "' it names: no record points at a data stream near a descriptor block";
    return loaded;
  }
  loaded.session = std::move(session);
  return loaded;
}

std::string SnapshotTargetProblem(const std::string& path, const std::string& bkfPath) {
  struct stat target {};
  if (::stat(path.c_str(), &target) != 0) return {};  // nothing there yet (or a dangling link)
  struct stat bkf {};
  if (!bkfPath.empty() && ::stat(bkfPath.c_str(), &bkf) == 0 && bkf.st_dev == target.st_dev &&
      bkf.st_ino == target.st_ino) {
    return "it is the BKF file being read";
  }
  if (!S_ISREG(target.st_mode)) {
    return S_ISDIR(target.st_mode) ? "it is a folder" : "it exists and is not a regular file (a device or a FIFO)";
  }
  return {};
}

}  // namespace ostrel
