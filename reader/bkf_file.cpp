#include "reader/bkf_file.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <limits>
#include <mutex>

namespace ostrel {

namespace {
constexpr auto kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
}  // namespace

void ReadDamage::Add(std::uint64_t offset, std::uint64_t length) {
  if (length == 0) return;
  if (unreadableBytes == 0 || offset < firstUnreadable) firstUnreadable = offset;
  unreadableBytes += length;
}

// What the reads met; reads on several threads may write it, so it has its
// own lock, taken only when a read fails or finds the file shorter.
struct BkfFile::Damage {
  std::mutex lock;
  std::vector<ByteRange> ranges;  // sorted, neither overlapping nor touching
  std::uint64_t extraRanges = 0, extraBytes = 0;
  int error = 0;
  std::optional<std::uint64_t> shrunkTo;

  void Record(std::uint64_t offset, std::uint64_t length, int err) {
    std::lock_guard hold(lock);
    if (error == 0) error = err;
    std::uint64_t end = offset + length;
    // The ranges that overlap or touch the new one are merged into it.
    auto first = std::lower_bound(ranges.begin(), ranges.end(), offset,
                                  [](const ByteRange& r, std::uint64_t o) { return r.offset + r.length < o; });
    auto last = first;
    for (; last != ranges.end() && last->offset <= end; ++last) {
      offset = std::min(offset, last->offset);
      end = std::max(end, last->offset + last->length);
    }
    if (first == last && ranges.size() >= kMaxRememberedRanges) {
      ++extraRanges;
      extraBytes += length;
      return;
    }
    first = ranges.erase(first, last);
    ranges.insert(first, {offset, end - offset});
  }
};

BkfFile::BkfFile() : damage_(std::make_unique<Damage>()) {}

BkfFile::~BkfFile() { Close(); }

BkfFile::BkfFile(BkfFile&& other) noexcept
    : fd_(other.fd_),
      path_(std::move(other.path_)),
      error_(std::move(other.error_)),
      openedSize_(other.openedSize_),
      firstHole_(other.firstHole_),
      reader_(std::move(other.reader_)),
      stop_(other.stop_),
      observer_(std::move(other.observer_)),
      damage_(std::move(other.damage_)) {
  other.fd_ = -1;
}

BkfFile& BkfFile::operator=(BkfFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    error_ = std::move(other.error_);
    openedSize_ = other.openedSize_;
    firstHole_ = other.firstHole_;
    reader_ = std::move(other.reader_);
    stop_ = other.stop_;
    observer_ = std::move(other.observer_);
    damage_ = std::move(other.damage_);
    other.fd_ = -1;
  }
  return *this;
}

bool BkfFile::Open(const std::string& path) {
  Close();
  error_.clear();
  if (damage_) {
    std::lock_guard hold(damage_->lock);
    damage_->ranges.clear();
    damage_->extraRanges = damage_->extraBytes = 0;
    damage_->error = 0;
    damage_->shrunkTo.reset();
  }
  // Non-blocking only for the open itself: opening a FIFO would otherwise
  // wait for a writer, and hang whoever asked (a snapshot may name one).
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error_ = std::strerror(errno);
    return false;
  }
  struct stat st {};
  const char* refusal = nullptr;
  if (::fstat(fd, &st) != 0) {
    error_ = std::strerror(errno);
  } else if (S_ISDIR(st.st_mode)) {
    refusal = "is a directory";
  } else if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
    // The scanners and the extraction read at positions.
    refusal = "BKF must be a regular file or a block device (cannot seek in a pipe)";
  } else if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
    refusal = "BKF must be a regular file or a block device";
  }
  const int flags = refusal == nullptr && error_.empty() ? ::fcntl(fd, F_GETFL) : -1;
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    if (refusal != nullptr) {
      error_ = refusal;
    } else if (error_.empty()) {
      error_ = std::strerror(errno);
    }
    ::close(fd);
    return false;
  }
  fd_ = fd;
  path_ = path;
  openedSize_ = Size();
  // Asked once here rather than at every large read.
  const off_t hole = ::lseek(fd_, 0, SEEK_HOLE);
  firstHole_ = hole > 0 ? static_cast<std::uint64_t>(hole) : 0;
  return true;
}

void BkfFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::optional<BkfFile::Identity> BkfFile::FileIdentity() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return std::nullopt;
  return Identity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::uint64_t BkfFile::Size() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0 || st.st_size < 0) return 0;
  if (S_ISBLK(st.st_mode)) {
    // A block device (a disk holding the backup) tells its size itself.
    std::uint64_t bytes = 0;
    return ::ioctl(fd_, BLKGETSIZE64, &bytes) == 0 ? bytes : 0;
  }
  return static_cast<std::uint64_t>(st.st_size);
}

void BkfFile::Hint(std::uint64_t offset, std::uint64_t length, ReadHint hint) const {
  if (fd_ < 0 || offset > kMaxOffset) return;
  length = std::min(length, kMaxOffset - offset);
  if (hint == ReadHint::kWillNeed && length > 0) {
    // The kernel looks up every page of the range even when all of them are
    // in memory, at a cost close to reading a cached range's bytes again. A
    // range whose first and last bytes are in memory is taken to be there.
    unsigned char byte = 0;
    iovec one{&byte, 1};
    const auto cached = [&](std::uint64_t at) {
      return ::preadv2(fd_, &one, 1, static_cast<off_t>(at), RWF_NOWAIT) == 1;
    };
    if (cached(offset) && cached(offset + length - 1)) return;
  }
  const int advice = hint == ReadHint::kSequential ? POSIX_FADV_SEQUENTIAL : POSIX_FADV_WILLNEED;
  (void)::posix_fadvise(fd_, static_cast<off_t>(offset), static_cast<off_t>(length), advice);
}

long BkfFile::Pread(void* buffer, std::size_t count, std::uint64_t position) const {
  if (reader_) return reader_(fd_, buffer, count, position);
  return static_cast<long>(::pread(fd_, buffer, count, static_cast<off_t>(position)));
}

void BkfFile::NoteEnd(std::uint64_t position) const {
  // A read that meets the end before the size the file had when it was
  // opened: the file became shorter meanwhile (noted once).
  if (position >= openedSize_ || !damage_) return;
  const std::uint64_t now = Size();
  std::lock_guard hold(damage_->lock);
  if (!damage_->shrunkTo) damage_->shrunkTo = now;
}

std::size_t BkfFile::ReadAt(std::uint64_t position, void* buffer, std::size_t count,
                            ReadDamage* damage) const {
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  // A hole of a sparse file reads as zeros: skip the reading (and the kernel's
  // zero-filling copy) when the whole request lies in one. A request that
  // begins before the first hole cannot.
  if (fd_ >= 0 && count >= (64u << 10) && position >= firstHole_ && position <= kMaxOffset - count) {
    const off_t data = ::lseek(fd_, static_cast<off_t>(position), SEEK_DATA);
    const bool noDataAfter = data < 0 && errno == ENXIO;
    if (noDataAfter || (data >= 0 && static_cast<std::uint64_t>(data) >= position + count)) {
      const std::uint64_t size = Size();
      const std::size_t inFile =
          position >= size ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(count, size - position));
      std::memset(out, 0, count);
      return inFile;
    }
  }
  while (fd_ >= 0 && done < count && position <= kMaxOffset - done) {
    const long n = Pread(out + done, count - done, position + done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0) {
      NoteEnd(position + done);
      break;
    }
    if (errno == EINTR) continue;
    done += ReadAround(position + done, out + done, count - done, damage, errno);
    break;
  }
  if (done < count) std::memset(out + done, 0, count - done);
  return done;
}

std::size_t BkfFile::ReadAround(std::uint64_t position, unsigned char* out, std::size_t count,
                                ReadDamage* damage, int firstError) const {
  // Past the size the file had when it was opened there is nothing to read
  // around: that part is the end of the file, not unreadable.
  if (position >= openedSize_) return 0;
  count = static_cast<std::size_t>(std::min<std::uint64_t>(count, openedSize_ - position));
  std::size_t done = 0;
  while (done < count && !Stopped()) {
    const std::uint64_t at = position + done;
    const std::size_t piece = std::min<std::size_t>(count - done, kPieceSize - at % kPieceSize);
    std::size_t got = 0;
    // The failed read began at the first piece: it was that piece's first try.
    int tries = done == 0 ? 1 : 0;
    int error = firstError;
    while (got < piece && tries < 2) {
      const long n = Pread(out + done + got, piece - got, at + got);
      if (n > 0) {
        got += static_cast<std::size_t>(n);
      } else if (n == 0) {
        NoteEnd(at + got);
        return done + got;
      } else if (errno != EINTR) {
        error = errno;
        ++tries;
      }
    }
    if (got < piece) {
      // A piece that fails twice is given up: zeros, remembered as unreadable.
      std::memset(out + done + got, 0, piece - got);
      if (damage_) damage_->Record(at + got, piece - got, error);
      if (damage != nullptr) damage->Add(at + got, piece - got);
      if (observer_) observer_(at + got);
    }
    done += piece;
  }
  return done;
}

UnreadableSummary BkfFile::Unreadable() const {
  UnreadableSummary s;
  if (!damage_) return s;
  std::lock_guard hold(damage_->lock);
  s.ranges = damage_->ranges;
  s.rangeCount = s.ranges.size() + damage_->extraRanges;
  s.bytes = damage_->extraBytes;
  for (const ByteRange& r : s.ranges) s.bytes += r.length;
  s.error = damage_->error;
  return s;
}

std::optional<std::uint64_t> BkfFile::ShrunkTo() const {
  if (!damage_) return std::nullopt;
  std::lock_guard hold(damage_->lock);
  return damage_->shrunkTo;
}

std::string GroupDigits(std::uint64_t value) {
  std::string digits = std::to_string(value);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string UnreadableLine(const UnreadableSummary& summary) {
  if (!summary.Any()) return {};
  std::string reason = summary.error != 0 ? std::strerror(summary.error) : "read error";
  if (!reason.empty()) reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
  std::string line = "Unreadable: " + GroupDigits(summary.bytes) + " bytes in " + GroupDigits(summary.rangeCount) +
                     (summary.rangeCount == 1 ? " range" : " ranges") + " (" + reason + ")";
  if (!summary.ranges.empty()) line += "; the first at offset " + std::to_string(summary.ranges.front().offset);
  return line;
}

std::string ShrunkLine(const BkfFile& file) {
  const auto now = file.ShrunkTo();
  if (!now) return {};
  return "the file became shorter during the scan (now " + GroupDigits(*now) + " bytes)";
}

}  // namespace ostrel
