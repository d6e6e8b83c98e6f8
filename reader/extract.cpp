#include "reader/extract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <array>
#include <cerrno>
#include <cstring>

#include "reader/lzs.h"
#include "reader/mtf.h"

namespace ostrel {

std::string_view OutcomeName(ExtractOutcome outcome) {
  switch (outcome) {
    case ExtractOutcome::NoData:
      return "NoData";
    case ExtractOutcome::CannotCreate:
      return "CannotCreate";
    case ExtractOutcome::Empty:
      return "Empty";
    case ExtractOutcome::Continuation:
      return "Continuation";
    case ExtractOutcome::Split:
      return "Split";
    case ExtractOutcome::Extracted:
      return "Extracted";
  }
  return "?";
}

std::string_view OutcomeReason(ExtractOutcome outcome) {
  switch (outcome) {
    case ExtractOutcome::NoData:
      return "no data was found for the file in the backup";
    case ExtractOutcome::CannotCreate:
      return "the output file could not be created";
    case ExtractOutcome::Empty:
      return "the backup holds no data for the file (written as an empty file)";
    case ExtractOutcome::Continuation:
      return "its data begins on an earlier medium of the backup (continuation stream); not "
             "written";
    case ExtractOutcome::Split:
      return "its data continues after a soft filemark: the backup seems to be split; not written";
    case ExtractOutcome::Extracted:
      return "extracted";
  }
  return "?";
}

std::string UnreadableDataText(const ReadDamage& damage) {
  return GroupDigits(damage.unreadableBytes) + " bytes unreadable at offset " +
         std::to_string(damage.firstUnreadable) + " in the backup";
}

std::string MissingDataText(const ExtractStats& stats) {
  std::string text;
  if (stats.damage.unreadableBytes != 0) text = UnreadableDataText(stats.damage) + "; written with zeros there";
  if (stats.cutShort) {
    if (!text.empty()) text += "; ";
    text += "cut short by the end of the backup: " + GroupDigits(stats.dataHeld) + " of " +
            GroupDigits(stats.dataPromised) + " bytes";
  }
  return text;
}

// ------------------------------------------------------------------ ChunkList

void ChunkList::Append(const DataChunk& chunk) {
  chunks_.push_back(chunk);
  ends_.push_back(SatAdd(Total(), chunk.length));
}

void ChunkList::SetLength(std::size_t index, std::uint64_t length) {
  if (index >= chunks_.size()) return;
  chunks_[index].length = length;
  std::uint64_t end = index == 0 ? 0 : ends_[index - 1];
  for (std::size_t i = index; i < chunks_.size(); ++i) {
    end = SatAdd(end, chunks_[i].length);
    ends_[i] = end;
  }
}

void ChunkList::CutTo(std::uint64_t limit) {
  if (Total() <= limit) return;
  // The first range whose end passes the limit is shortened; the rest go.
  const auto it = std::upper_bound(ends_.begin(), ends_.end(), limit);
  const auto index = static_cast<std::size_t>(it - ends_.begin());
  const std::uint64_t start = index == 0 ? 0 : ends_[index - 1];
  chunks_.resize(index + 1);
  ends_.resize(index + 1);
  SetLength(index, limit - start);
}

std::optional<std::pair<std::size_t, std::uint64_t>> ChunkList::Find(std::uint64_t offset) const {
  const auto it = std::upper_bound(ends_.begin(), ends_.end(), offset);
  if (it == ends_.end()) return std::nullopt;
  const auto index = static_cast<std::size_t>(it - ends_.begin());
  return std::make_pair(index, index == 0 ? std::uint64_t{0} : ends_[index - 1]);
}

std::uint64_t ReadChunkedData(const ChunkList& chunks, std::span<const BkfFile* const> files,
                              std::uint64_t& cursor, std::uint8_t* buffer, std::uint64_t count,
                              ReadDamage* damage) {
  const auto found = chunks.Find(cursor);
  if (!found) return 0;
  std::size_t index = found->first;
  std::uint64_t offset = cursor - found->second;
  std::uint64_t delivered = 0;
  while (delivered < count && index < chunks.Count()) {
    const DataChunk& c = chunks.At(index);
    const std::uint64_t take = std::min(count - delivered, c.length - offset);
    if (take > 0) {
      if (c.fileIndex < files.size() && files[c.fileIndex] != nullptr) {
        files[c.fileIndex]->ReadAt(SatAdd(c.position, offset), buffer + delivered,
                                   static_cast<std::size_t>(take), damage);
      } else {
        std::memset(buffer + delivered, 0, static_cast<std::size_t>(take));
      }
    }
    delivered += take;
    offset = 0;
    ++index;
  }
  cursor = SatAdd(cursor, delivered);
  return delivered;
}

// ---------------------------------------------------------------- stream walk

namespace {

using StreamHeader = std::array<std::uint8_t, mtf::kStreamHeaderSize>;

// A header read at `position`; positions before the file start or past its end
// read as zeros.
StreamHeader ReadStreamHeader(const BkfFile& file, std::uint64_t position) {
  StreamHeader h{};
  file.ReadAt(position, h.data(), h.size());
  return h;
}

std::uint64_t StreamLength(const StreamHeader& h) {
  return ByteView(h.data(), h.size()).U64(mtf::kStreamLengthOffset).value_or(0);
}

// Data streams are recognised by the first three letters of STAN.
bool IsDataStream(const StreamHeader& h) { return h[0] == 'S' && h[1] == 'T' && h[2] == 'A'; }

bool IsSoftFilemark(const StreamHeader& h) { return std::memcmp(h.data(), "SFMB", 4) == 0; }

bool IsChecksumStream(const StreamHeader& h) { return std::memcmp(h.data(), "CSUM", 4) == 0; }

bool IsCorruptMark(const StreamHeader& h) { return std::memcmp(h.data(), "CRPT", 4) == 0; }

// The header after a stream's data: 22 + length rounded up to a multiple of 4,
// counted from the stream's own header (the block-relative alignment, since
// stream headers lie at multiples of 4 from their block's start).
std::uint64_t NextHeader(std::uint64_t header, std::uint64_t length) {
  return SatAdd(header, SatRoundUp(SatAdd(mtf::kStreamHeaderSize, length), 4));
}

}  // namespace

DataStreams FindDataStreams(const FileNode& node, const BkfFile& bkfFile,
                            std::optional<std::uint64_t> limit,
                            const StopToken& stop, ReadBudget* budget) {
  DataStreams out;
  const std::uint64_t p = node.dataPosition;
  const std::uint64_t fileLength = bkfFile.Size();
  auto running = [&] { return !stop.StopRequested() && (budget == nullptr || !budget->Spent()); };
  auto readHeader = [&](std::uint64_t position) {
    if (budget != nullptr) budget->Spend(mtf::kStreamHeaderSize);
    return ReadStreamHeader(bkfFile, position);
  };

  // A data position inside the first 22 bytes has no header before it: the
  // header reads as zeros, as one past the end of the file would.
  std::uint64_t h = p >= mtf::kStreamHeaderSize ? p - mtf::kStreamHeaderSize : 0;
  StreamHeader header{};
  if (p >= mtf::kStreamHeaderSize) header = readHeader(h);
  const auto attributes =
      ByteView(header.data(), header.size()).U16(mtf::kStreamMediaAttrOffset).value_or(0);
  if (attributes & 1u) {
    out.kind = DataStreams::Kind::Continuation;
    return out;
  }

  // The first range comes from the node, whatever the header before it is.
  // Cut at the end of the file: past it reads give only zeros, which are no
  // part of the file, and a catalogue loaded from a snapshot may hold any
  // length.
  const std::uint64_t firstLength =
      std::min(limit && node.dataLength > *limit ? *limit : node.dataLength, SatSub(fileLength, p));
  out.chunks.Append({p, firstLength, 0});
  std::uint64_t total = firstLength;
  out.promised = limit && node.dataLength > *limit ? *limit : node.dataLength;
  std::uint64_t next = 0;
  const std::uint64_t length = StreamLength(header);
  if (SatAdd(h, length) >= fileLength) {
    // The stream runs past the end of the file: its data is taken to end
    // 1,024 bytes before the end (nothing when the data position lies in the
    // last kilobyte), and the next header is looked for there.
    out.chunks.SetLength(0, SatSub(SatSub(fileLength, p), 1024));
    next = SatSub(fileLength, 1024);
  } else {
    next = NextHeader(h, length);
  }
  out.held = std::min(out.chunks.Total(), SatSub(fileLength, p));

  // Further STAN streams. Each is cut to end at the end of the file: past it
  // reads would only give zeros, and a damaged length would make them endless.
  while (IsDataStream(header) && running() && (!limit || total < *limit) &&
         out.chunks.Count() < kMaxDataChunks) {
    h = next;
    header = readHeader(h);
    if (!IsDataStream(header)) break;
    const std::uint64_t streamLength = StreamLength(header);
    const std::uint64_t start = SatAdd(h, mtf::kStreamHeaderSize);
    out.promised = SatAdd(out.promised, streamLength);
    if (start >= fileLength) break;
    out.chunks.Append({start, std::min(streamLength, fileLength - start), 0});
    out.held = SatAdd(out.held, std::min(streamLength, fileLength - start));
    total = SatAdd(total, SatAdd(streamLength, mtf::kStreamHeaderSize));
    next = NextHeader(h, streamLength);
  }
  if (IsSoftFilemark(header)) {
    out.kind = DataStreams::Kind::Split;
    return out;
  }
  // The backup program marks data it could not read whole with a CRPT
  // stream after it, or after the data's CSUM.
  if (!out.CutShort() && IsChecksumStream(header) && SatAdd(h, mtf::kStreamHeaderSize + 4) < fileLength) {
    out.markedCorrupt = IsCorruptMark(readHeader(NextHeader(h, StreamLength(header))));
  } else {
    out.markedCorrupt = !out.CutShort() && IsCorruptMark(header);
  }
  // A checksum can be held against the data only when the data is the one
  // stream it was computed over, whole.
  if (IsChecksumStream(header) && out.chunks.Count() == 1 && !out.CutShort() && length == node.dataLength &&
      out.chunks.Total() == length && (!limit || length <= *limit) && SatAdd(h, mtf::kStreamHeaderSize + 4) <= fileLength) {
    std::array<std::uint8_t, 4> sum{};
    if (budget != nullptr) budget->Spend(sum.size());
    if (bkfFile.ReadAt(h + mtf::kStreamHeaderSize, sum.data(), sum.size()) == sum.size()) {
      out.checksum = *ByteView(sum.data(), sum.size()).U32(0);
    }
  }
  if (limit) {
    out.chunks.CutTo(*limit);
    out.promised = std::min(out.promised, *limit);
    out.held = std::min(out.held, *limit);
  }
  return out;
}

void StreamXor::Add(const std::uint8_t* data, std::size_t count) {
  // The bytes up to the next whole word, one at a time.
  while (count > 0 && phase_ != 0) {
    value_ ^= static_cast<std::uint32_t>(*data++) << (8 * phase_);
    phase_ = (phase_ + 1) & 3;
    --count;
  }
  if constexpr (std::endian::native == std::endian::little) {
    // Eight bytes a step: the XOR of the two halves is the XOR of two words.
    std::uint64_t wide = 0;
    for (; count >= 8; data += 8, count -= 8) {
      std::uint64_t v;
      std::memcpy(&v, data, 8);
      wide ^= v;
    }
    value_ ^= static_cast<std::uint32_t>(wide) ^ static_cast<std::uint32_t>(wide >> 32);
  }
  for (; count > 0; ++data, --count) {
    value_ ^= static_cast<std::uint32_t>(*data) << (8 * phase_);
    phase_ = (phase_ + 1) & 3;
  }
}

std::string_view ChecksumName(ChecksumStatus status) {
  switch (status) {
    case ChecksumStatus::Verified: return "verified";
    case ChecksumStatus::Mismatch: return "mismatch";
    case ChecksumStatus::MarkedCorrupt: return "corrupt";
    case ChecksumStatus::None: break;
  }
  return "none";
}

bool LooksCompressed(ByteView header, std::uint64_t total) {
  if (!header.Has(0, 2) || !IsFrameTag(header.data())) return false;
  const auto uncompressed = header.U32(kFrameUncompressedSizeOffset);
  const auto compressed = header.U32(kFrameCompressedSizeOffset);
  if (!uncompressed || !compressed || total < kFrameHeaderSize) return false;
  return *uncompressed >= 1 && *uncompressed <= kFrameOutputSize &&
         *compressed <= kFrameInputSize && *compressed <= total - kFrameHeaderSize;
}

// ------------------------------------------------------------------- copying

namespace {

// An output file as a sink: writes to a descriptor, which it closes only
// when it created the file itself.
class FileSink : public DataSink {
 public:
  FileSink() = default;
  // Writes to `fd`, which stays open: its owner closes it.
  explicit FileSink(int fd) : fd_(fd), owned_(false) {}
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;
  // Creates or truncates `path` (mode 0644 less the umask); refuses a symbolic
  // link and anything that is not a regular file (a FIFO would block).
  bool Create(const std::string& path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                 0644);
    if (fd_ < 0) {
      error_ = errno;
      return false;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
      error_ = S_ISREG(st.st_mode) ? errno : EINVAL;
      Close();
      return false;
    }
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags >= 0) ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
    return true;
  }
  ~FileSink() override { Close(); }
  void Close() {
    if (fd_ >= 0 && owned_) ::close(fd_);
    fd_ = -1;
  }

  // Writes all `count` bytes; false (and no further writes) after a failure.
  bool Write(const std::uint8_t* data, std::uint64_t count) override {
    if (error_ != 0) return false;
    while (count > 0) {
      const ssize_t n =
          ::write(fd_, data, static_cast<std::size_t>(std::min<std::uint64_t>(count, 1u << 30)));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error_ = n < 0 ? errno : EIO;
        return false;
      }
      data += n;
      count -= static_cast<std::uint64_t>(n);
    }
    return true;
  }
  int Fd() const { return fd_; }
  int Error() const override { return error_; }

 private:
  int fd_ = -1;
  bool owned_ = true;
  int error_ = 0;
};

class Copier {
 public:
  Copier(const ChunkList& chunks, const BkfFile& file, DataSink& out,
         const StopToken& stop, const ExtractProgress& progress, ReadBudget* budget)
      : chunks_(chunks), file_(&file), out_(out), stop_(stop), progress_(progress), budget_(budget) {}

  bool Running() const { return !stop_.StopRequested(); }
  bool Stopped() const { return stopped_; }
  // Sums what is read and written (a checksum waits for them).
  void Sum() { summing_ = true; }
  // The XOR of the stored bytes a plain copy read, and of the bytes written.
  std::uint32_t StoredXor() const { return stored_.Value(); }
  std::uint32_t WrittenXor() const { return writtenXor_.Value(); }
  bool OverBudget() const { return overBudget_; }
  const ReadDamage& Damage() const { return damage_; }
  std::uint64_t Written() const { return written_; }

  // Each range read in blocks of at most 1 MiB (a range of up to 1 MiB in one
  // read) and written whole; bytes past the end of the BKF file read as zeros.
  void Plain() {
    std::uint64_t largest = 0;
    for (std::size_t i = 0; i < chunks_.Count(); ++i)
      largest = std::max(largest, chunks_.At(i).length);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(largest, kPlainBlockSize)));
    for (std::size_t i = 0; i < chunks_.Count(); ++i) {
      const DataChunk& c = chunks_.At(i);
      std::uint64_t done = 0;
      while (done < c.length) {
        if (!Running()) {
          stopped_ = true;
          return;
        }
        const std::uint64_t n = std::min(c.length - done, kPlainBlockSize);
        if (!Spend(n)) return;
        file_->ReadAt(SatAdd(c.position, done), buffer.data(), static_cast<std::size_t>(n), &damage_);
        if (summing_) stored_.Add(buffer.data(), static_cast<std::size_t>(n));
        if (!Write(buffer.data(), n)) return;
        done += n;
      }
    }
  }

  // Frames through ReadChunkedData with one history for the whole file.
  void Compressed() {
    std::vector<std::uint8_t> input(kFrameInputSize);
    std::vector<std::uint8_t> output(kFrameOutputSize);
    LzsHistory history;
    std::array<std::uint8_t, kFrameHeaderSize> header{};
    std::uint64_t cursor = 0;
    const std::span<const BkfFile* const> files(&file_, 1);

    auto readHeader = [&] {
      header.fill(0);
      if (!Spend(header.size())) return std::uint64_t{0};
      return ReadChunkedData(chunks_, files, cursor, header.data(), header.size(), &damage_);
    };
    for (std::uint64_t got = readHeader(); got > 0 && IsFrameTag(header.data());
         got = readHeader()) {
      if (!Running()) {
        stopped_ = true;
        return;
      }
      const ByteView h(header.data(), header.size());
      const std::uint32_t uncompressed = h.U32(kFrameUncompressedSizeOffset).value_or(0);
      const std::uint32_t compressed = h.U32(kFrameCompressedSizeOffset).value_or(0);
      // A frame larger than the buffers ends the copy: memory stays bounded
      // whatever a damaged header claims.
      if (compressed > kFrameInputSize || uncompressed > kFrameOutputSize) return;
      if (!Spend(compressed)) return;
      std::fill(input.begin(), input.end(), 0);
      const std::uint64_t delivered =
          ReadChunkedData(chunks_, files, cursor, input.data(), compressed, &damage_);
      if (compressed < uncompressed) {
        // Decoded from all compressed-size bytes, zeros where the data ran out.
        const std::uint32_t n = LzsDecodeFrame(history, ByteView(input.data(), compressed),
                                               output.data(), uncompressed);
        if (!Write(output.data(), n)) return;
      } else if (!Write(input.data(), delivered)) {
        return;
      }
    }
  }

 private:
  // Counts a read of `count` bytes about to be made; false (and the copy
  // ends) once the run's budget is spent.
  bool Spend(std::uint64_t count) {
    if (budget_ == nullptr || budget_->Spend(count)) return true;
    overBudget_ = true;
    return false;
  }

  bool Write(const std::uint8_t* data, std::uint64_t count) {
    if (!out_.Write(data, count)) return false;
    if (summing_) writtenXor_.Add(data, static_cast<std::size_t>(count));
    written_ += count;
    if (progress_) progress_(written_);
    return true;
  }

  const ChunkList& chunks_;
  const BkfFile* file_;
  DataSink& out_;
  const StopToken& stop_;
  const ExtractProgress& progress_;
  ReadBudget* budget_;
  bool stopped_ = false;
  bool overBudget_ = false;
  std::uint64_t written_ = 0;
  ReadDamage damage_;
  bool summing_ = false;
  StreamXor stored_;
  StreamXor writtenXor_;
};

// The XOR of the stored bytes of compressed data: read again, apart from
// the decoding, which need not read every stored byte.
std::uint32_t StoredXorOf(const ChunkList& chunks, const BkfFile& file, const StopToken& stop, ReadBudget* budget) {
  StreamXor sum;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(chunks.Total(), kPlainBlockSize)));
  for (std::size_t i = 0; i < chunks.Count() && !stop.StopRequested(); ++i) {
    const DataChunk& c = chunks.At(i);
    for (std::uint64_t done = 0; done < c.length && !stop.StopRequested();) {
      const std::uint64_t n = std::min(c.length - done, kPlainBlockSize);
      if (budget != nullptr && !budget->Spend(n)) return sum.Value();
      file.ReadAt(SatAdd(c.position, done), buffer.data(), static_cast<std::size_t>(n));
      sum.Add(buffer.data(), static_cast<std::size_t>(n));
      done += n;
    }
  }
  return sum.Value();
}

// Compressed or plain is decided by the first 24 bytes of the data.
bool FirstFrameLooksCompressed(const DataStreams& streams, const BkfFile& bkfFile) {
  std::array<std::uint8_t, kFrameHeaderSize> first{};
  std::uint64_t cursor = 0;
  const BkfFile* files[] = {&bkfFile};
  ReadChunkedData(streams.chunks, files, cursor, first.data(), first.size());
  return LooksCompressed(ByteView(first.data(), first.size()), streams.chunks.Total());
}

}  // namespace

PreparedData PrepareFileData(const FileNode& node, const BkfFile& bkfFile,
                             std::optional<std::uint64_t> limit, const StopToken& stop,
                             ReadBudget* budget) {
  PreparedData out;
  if (node.dataPosition == 0) return out;
  out.outcome = ExtractOutcome::Empty;
  if (node.dataLength == 0) return out;

  out.streams = FindDataStreams(node, bkfFile, limit, stop, budget);
  out.outcome = ExtractOutcome::Extracted;
  if (budget != nullptr && budget->Spent()) {
    // The walk ended early: what it found is not the file's data.
    out.overBudget = true;
    out.streams = {};
    return out;
  }
  if (out.streams.kind == DataStreams::Kind::Continuation) out.outcome = ExtractOutcome::Continuation;
  if (out.streams.kind == DataStreams::Kind::Split) out.outcome = ExtractOutcome::Split;
  if (out.outcome != ExtractOutcome::Extracted) return out;

  if (budget != nullptr && !budget->Spend(kFrameHeaderSize)) {
    out.overBudget = true;
    return out;
  }
  out.compressed = FirstFrameLooksCompressed(out.streams, bkfFile);
  return out;
}

void CopyFileData(const PreparedData& data, const BkfFile& bkfFile, DataSink& sink,
                  const StopToken& stop, ExtractStats& stats, const ExtractProgress& progress,
                  ReadBudget* budget) {
  stats = {};
  stats.compressed = data.compressed;
  Copier copier(data.streams.chunks, bkfFile, sink, stop, progress, budget);
  if (data.streams.checksum) copier.Sum();
  if (data.compressed) {
    copier.Compressed();
  } else {
    copier.Plain();
  }
  stats.bytesWritten = copier.Written();
  stats.systemError = sink.Error();
  stats.stopped = copier.Stopped();
  stats.overBudget = copier.OverBudget();
  stats.damage = copier.Damage();
  stats.cutShort = data.streams.CutShort();
  stats.dataHeld = data.streams.held;
  stats.dataPromised = data.streams.promised;
  // Checked only against data the copy took in whole.
  const bool whole = !stats.stopped && !stats.overBudget && stats.systemError == 0;
  if (data.streams.markedCorrupt) {
    stats.checksum = ChecksumStatus::MarkedCorrupt;
    return;
  }
  if (data.streams.checksum && whole) {
    const std::uint32_t expected = *data.streams.checksum;
    const std::uint32_t stored =
        data.compressed ? StoredXorOf(data.streams.chunks, bkfFile, stop, budget) : copier.StoredXor();
    if (stored == expected) {
      stats.checksum = ChecksumStatus::Verified;
    } else if (data.compressed && copier.WrittenXor() == expected) {
      stats.checksum = ChecksumStatus::Verified;
      stats.checksumOfRestored = true;
    } else if (!stop.StopRequested() && (budget == nullptr || !budget->Spent())) {
      stats.checksum = ChecksumStatus::Mismatch;
    }
  }
}

ExtractOutcome ExtractFileData(const FileNode& node, const BkfFile& bkfFile, int outputFd,
                               std::optional<std::uint64_t> limit,
                               const StopToken& stop, ExtractStats* stats,
                               const ExtractProgress& progress, ReadBudget* budget) {
  ExtractStats local;
  ExtractStats& st = stats ? *stats : local;
  st = {};
  const PreparedData data = PrepareFileData(node, bkfFile, limit, stop, budget);
  if (data.overBudget) {
    st.overBudget = true;
    return ExtractOutcome::Extracted;
  }
  if (data.outcome != ExtractOutcome::Extracted) return data.outcome;
  FileSink out(outputFd);
  CopyFileData(data, bkfFile, out, stop, st, progress, budget);
  return ExtractOutcome::Extracted;
}

ExtractOutcome ExtractFileData(const FileNode& node, const BkfFile& bkfFile,
                               const std::string& outputPath, std::optional<std::uint64_t> limit,
                               const StopToken& stop, ExtractStats* stats,
                               const ExtractProgress& progress, ReadBudget* budget) {
  // A node without data gets no file.
  FileSink out;
  if (node.dataPosition != 0 && !out.Create(outputPath)) {
    if (stats) {
      *stats = ExtractStats{};
      stats->systemError = out.Error();
    }
    return ExtractOutcome::CannotCreate;
  }
  return ExtractFileData(node, bkfFile, out.Fd(), limit, stop, stats, progress, budget);
}

}  // namespace ostrel
