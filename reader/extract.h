// File data extraction: turns a catalogued file back into bytes.
//
// Nothing is trusted beyond the position the scanner recorded: the stream
// header 22 bytes before it, the data streams that follow it, and the
// signature of the first compression frame decide what is copied. The data is
// gathered into an ordered list of byte ranges of the BKF file (DataChunk) and
// written out either plain or through the LZS decoder.
//
// Compression frame (24-byte header, then compressed-size data bytes; the next
// frame follows with no padding, and a frame may straddle two ranges):
//   0  2  signature 'F' 'H'
//  12  u32 uncompressed size (bytes the frame restores to)
//  16  u32 compressed size   (data bytes after the header)
// A frame whose compressed size is not below its uncompressed size is stored:
// its data bytes are the file's bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/stop_token.h"
#include "catalogue/nodes.h"
#include "reader/bkf_file.h"
#include "base/bytes.h"

namespace ostrel {

enum class ExtractOutcome {
  NoData,        // the node has no data position; no output file
  CannotCreate,  // the output file could not be created; no output file
  Empty,         // the node's data length is 0; an empty output file
  Continuation,  // the first stream continues data begun on earlier media; empty file
  Split,         // the stream walk ended at a soft filemark (SFMB); empty file
  Extracted,     // data was copied (all of it, or up to a stop)
};

// "NoData", "CannotCreate", ...
std::string_view OutcomeName(ExtractOutcome outcome);
// The outcome in words, for reports ("no data was found for the file", ...).
std::string_view OutcomeReason(ExtractOutcome outcome);

// One byte range of a file's data in a BKF file.
struct DataChunk {
  std::uint64_t position = 0;
  std::uint64_t length = 0;
  std::uint8_t fileIndex = 0;  // into the list of open BKF files; always 0 here
};

// The ranges of a file's data in order; the data is their concatenation.
// Keeps the running ends so that an offset into the data is found in
// logarithmic time whatever the number of ranges.
class ChunkList {
 public:
  void Append(const DataChunk& chunk);
  void SetLength(std::size_t index, std::uint64_t length);
  // Shortens the list so that the lengths add up to at most `limit`.
  void CutTo(std::uint64_t limit);

  std::size_t Count() const { return chunks_.size(); }
  const DataChunk& At(std::size_t index) const { return chunks_[index]; }
  // Sum of the lengths (saturating at 2^64 - 1).
  std::uint64_t Total() const { return ends_.empty() ? 0 : ends_.back(); }
  // The index of the range holding data offset `offset` and that range's
  // first offset; nullopt at or past the end.
  std::optional<std::pair<std::size_t, std::uint64_t>> Find(std::uint64_t offset) const;

 private:
  std::vector<DataChunk> chunks_;
  std::vector<std::uint64_t> ends_;  // ends_[i]: data offset just past range i
};

// Reads up to `count` bytes of the concatenated data at `cursor` into
// `buffer`, continuing across ranges; answers how many bytes of the request
// lie within the ranges and advances the cursor by that many. Parts of a range
// past the end of its BKF file, and pieces the file could not read, read as
// zeros and count as delivered (`damage`, if given, adds the unreadable
// ones); the rest of the buffer is left as it was.
std::uint64_t ReadChunkedData(const ChunkList& chunks, std::span<const BkfFile* const> files,
                              std::uint64_t& cursor, std::uint8_t* buffer, std::uint64_t count,
                              ReadDamage* damage = nullptr);

// The checksum the backup program writes after a data stream (a CSUM stream
// of 4 bytes): the XOR of the stream's stored bytes as little-endian 32-bit
// words, the last word zero-padded. Fed in pieces of any size, in order.
class StreamXor {
 public:
  void Add(const std::uint8_t* data, std::size_t count);
  std::uint32_t Value() const { return value_; }

 private:
  std::uint32_t value_ = 0;
  unsigned phase_ = 0;  // bytes fed so far, modulo 4
};

// A file's data streams, found from the header before its data position.
struct DataStreams {
  enum class Kind { Data, Continuation, Split } kind = Kind::Data;
  ChunkList chunks;
  // Data bytes the streams promised (the node's length for the first, the
  // header's for each further one) and how many of them the BKF file holds
  // and the ranges take; both at most the limit. Fewer held than promised:
  // the data was cut short by the end of the backup.
  std::uint64_t promised = 0;
  std::uint64_t held = 0;
  bool CutShort() const { return held < promised; }
  // The value of the CSUM stream that follows the data, when the data is one
  // whole stream (the node's length is its header's, nothing cut by a limit
  // or the end of the backup) and the CSUM's 4 bytes are in the file. The
  // sum covers exactly the one range.
  std::optional<std::uint32_t> checksum;
  // A CRPT stream follows the data (after its CSUM, if any): the backup
  // program could not read the file whole when it backed it up.
  bool markedCorrupt = false;
};

// What a file's checksum says of the copy: there was none to check (or the
// copy did not read all the data), the data's XOR equals the one written at
// backup time, or it does not.
// A file the backup program marked corrupt (a CRPT stream after its data)
// is that, whatever its checksum says.
enum class ChecksumStatus { None, Verified, Mismatch, MarkedCorrupt };
// "none", "verified", "mismatch", "corrupt".
std::string_view ChecksumName(ChecksumStatus status);
// "checksum mismatch: the data differs from what was backed up"
inline constexpr char kChecksumMismatchText[] = "checksum mismatch: the data differs from what was backed up";
inline constexpr char kMarkedCorruptText[] = "marked corrupt by the backup program";

// The most ranges one file's data is gathered from: a damaged file cannot make
// the list grow without bound (about 32 MiB at most).
inline constexpr std::size_t kMaxDataChunks = std::size_t{1} << 20;

// How much one run of extraction may read of a backup. Extracting a sane
// backup reads each of its bytes for file data about once; records that point
// at the same data again and again (a hostile backup or snapshot) would read
// it without end. A run counts what it reads of the backup (stream headers,
// the look at the first frame, the data; not what LZS restores from it) and
// stops once that passes four times the backup's size.
class ReadBudget {
 public:
  static constexpr std::uint64_t kTimesTheBackup = 4;
  // Four times `backupSize`.
  explicit ReadBudget(std::uint64_t backupSize)
      : limit_(backupSize > kU64Max / kTimesTheBackup ? kU64Max : backupSize * kTimesTheBackup) {}
  // No limit (ostrel-bkf extract --no-read-limit).
  static ReadBudget Unlimited() { return ReadBudget(kU64Max); }

  // Counts `bytes` read; false once more than the limit has been read.
  bool Spend(std::uint64_t bytes) {
    used_ = SatAdd(used_, bytes);
    return !Spent();
  }
  bool Spent() const { return used_ > limit_; }
  std::uint64_t Used() const { return used_; }

 private:
  std::uint64_t limit_;
  std::uint64_t used_ = 0;
};

// The stream walk: the first range from the node (cut to end 1,024 bytes
// before the end of the file when its stream runs past it), further STAN
// streams after it (each cut at the end of the file), the continuation bit and
// a soft filemark where the walk ends. With a limit the ranges add up to at
// most the limit. `node.dataPosition` must not be 0. With a budget, each
// header read is spent from it, and the walk ends once it is spent.
DataStreams FindDataStreams(const FileNode& node, const BkfFile& bkfFile,
                            std::optional<std::uint64_t> limit,
                            const StopToken& stop, ReadBudget* budget = nullptr);

// Frame sizes that fit the decoder's buffers.
inline constexpr std::uint32_t kFrameInputSize = 63488;  // 31 x 2,048
inline constexpr std::uint32_t kFrameOutputSize = 63520;
// Frame header (24 bytes), before each frame of compressed data:
//   0  2  "FH"
//  12  u32 uncompressed size of the frame
//  16  u32 compressed size (the bytes that follow the header)
inline constexpr std::size_t kFrameHeaderSize = 24;
inline constexpr std::size_t kFrameUncompressedSizeOffset = 12;
inline constexpr std::size_t kFrameCompressedSizeOffset = 16;
// Whether a frame header starts at `h` (two readable bytes).
inline bool IsFrameTag(const std::uint8_t* h) { return h[0] == 'F' && h[1] == 'H'; }

// Whether the first 24 bytes of a file's data (of `total` bytes) read as a
// frame header: "FH", an uncompressed size of 1 to 63,520, and a compressed
// size of at most 63,488 that fits the data after the header. Plain data that
// merely begins with "FH" is copied as it is.
bool LooksCompressed(ByteView header, std::uint64_t total);

// What a call did beyond its outcome.
struct ExtractStats {
  std::uint64_t bytesWritten = 0;
  // errno of a failed create or write (0 when none). A failed write ends the
  // copy; the outcome stays Extracted with what was written before it.
  int systemError = 0;
  bool compressed = false;
  // The copy ended because the stop was requested before all
  // of the data was written.
  bool stopped = false;
  // Bytes of the data that the BKF file could not read: written as zeros.
  ReadDamage damage;
  // The data was cut short by the end of the backup: only `dataHeld` of the
  // `dataPromised` bytes its streams promised were there to be copied.
  bool cutShort = false;
  std::uint64_t dataHeld = 0;
  std::uint64_t dataPromised = 0;
  // The copy ended because the run's read budget was spent.
  bool overBudget = false;
  // The data checked against the CSUM after it, when the copy read it all.
  // For compressed data both the stored and the restored bytes are summed;
  // `checksumOfRestored` says the restored ones matched (not the stored).
  ChecksumStatus checksum = ChecksumStatus::None;
  bool checksumOfRestored = false;
};

// What a copy could not give, in words, for reports: "65,536 bytes
// unreadable at offset X in the backup; written with zeros there", "cut short
// by the end of the backup: N of M bytes", both joined by "; ", or an empty
// text when the data was complete.
std::string MissingDataText(const ExtractStats& stats);
// "65,536 bytes unreadable at offset X in the backup".
std::string UnreadableDataText(const ReadDamage& damage);

// Told the number of bytes written so far after every block the copy writes.
using ExtractProgress = std::function<void(std::uint64_t bytesWritten)>;

inline constexpr std::uint64_t kPlainBlockSize = 1048576;
inline constexpr std::uint64_t kPreviewLimit = 10485760;

// Where a copy puts the bytes it gives: an output file, an entry of a tar
// stream, or nowhere (a pass that only measures the data).
class DataSink {
 public:
  virtual ~DataSink() = default;
  // Takes all `count` bytes; false once a write has failed (and for every
  // write after it).
  virtual bool Write(const std::uint8_t* data, std::uint64_t count) = 0;
  // errno of the failed write, 0 while none has failed.
  virtual int Error() const = 0;
};

// A sink that keeps nothing and counts what it is given.
class CountingSink : public DataSink {
 public:
  bool Write(const std::uint8_t*, std::uint64_t count) override {
    count_ = SatAdd(count_, count);
    return true;
  }
  int Error() const override { return 0; }
  std::uint64_t Count() const { return count_; }

 private:
  std::uint64_t count_ = 0;
};

// A file's data as the copy will read it: the outcome the stream walk
// decided, the ranges and whether the data is compressed.
struct PreparedData {
  // Extracted when there is data to copy; NoData, Empty, Continuation or
  // Split when there is none (CannotCreate never).
  ExtractOutcome outcome = ExtractOutcome::NoData;
  DataStreams streams;
  bool compressed = false;
  // The walk ended at the run's read budget: there is nothing to copy.
  bool overBudget = false;
  // Bytes a plain copy writes (the ranges' total); a compressed copy writes
  // what the frames restore, known only once they are decoded.
  std::uint64_t PlainSize() const { return streams.chunks.Total(); }
};

// Walks the streams of file `node` and reads the first bytes of its data
// (each header read spent from `budget`, if given). `limit` cuts the data as
// for ExtractFileData.
PreparedData PrepareFileData(const FileNode& node, const BkfFile& bkfFile,
                             std::optional<std::uint64_t> limit, const StopToken& stop,
                             ReadBudget* budget = nullptr);

// Copies prepared data (outcome Extracted) into `sink`: the ranges as they
// are, or restored through the LZS decoder. Ends early, keeping what was
// written, when a stop is requested, `budget` (if given) is spent or a write
// fails. Fills `stats` with what the copy did.
void CopyFileData(const PreparedData& data, const BkfFile& bkfFile, DataSink& sink,
                  const StopToken& stop, ExtractStats& stats, const ExtractProgress& progress = {},
                  ReadBudget* budget = nullptr);

// Writes the data of file `node` to `outputPath` (created with mode 0644 less
// the umask, or truncated; a symbolic link at that path is refused and gives
// CannotCreate). `limit` cuts the data read from the BKF file (the preview's
// 10 MiB). The copy ends early, keeping what was written, when
// a stop is requested or `budget` (if given) is spent; the outcome is then
// Extracted. The BKF file stays open; the output file is closed on every
// path.
ExtractOutcome ExtractFileData(const FileNode& node, const BkfFile& bkfFile,
                               const std::string& outputPath, std::optional<std::uint64_t> limit,
                               const StopToken& stop,
                               ExtractStats* stats = nullptr,
                               const ExtractProgress& progress = {}, ReadBudget* budget = nullptr);

// The same into `outputFd`, a file the caller has opened for writing and
// closes itself: saving creates its files where nothing can redirect them.
// Never answers CannotCreate; NoData and Empty write nothing.
ExtractOutcome ExtractFileData(const FileNode& node, const BkfFile& bkfFile, int outputFd,
                               std::optional<std::uint64_t> limit,
                               const StopToken& stop,
                               ExtractStats* stats = nullptr,
                               const ExtractProgress& progress = {}, ReadBudget* budget = nullptr);

}  // namespace ostrel
