// A BKF file opened read-only, read by position. Reads past the end of the
// file deliver zero bytes, so nothing beyond it can ever look like a block.
//
// Damaged backups often sit on failing disks. A read that fails (EIO on a bad
// sector, or any error other than EINTR) does not end the request: the rest
// is read again in pieces of kPieceSize bytes, aligned to kPieceSize in the
// file, each tried at most twice, so that only the pieces that cannot be read
// come out as zeros and every readable byte around them is delivered. The
// file remembers the ranges it could not read (merged, up to
// kMaxRememberedRanges of them; beyond that only their count and bytes), and
// notices once when the file became shorter than it was when opened.
//
// When nothing fails, a read costs the same system calls as a plain pread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "base/stop_token.h"

namespace ostrel {

struct ByteRange {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  bool operator==(const ByteRange&) const = default;
};

// What the reads of a file could not deliver.
struct UnreadableSummary {
  std::vector<ByteRange> ranges;  // merged, in file order; at most kMaxRememberedRanges
  std::uint64_t rangeCount = 0;   // all ranges met, also those beyond the remembered ones
  std::uint64_t bytes = 0;
  int error = 0;                  // errno of the first failed read
  bool Any() const { return rangeCount != 0; }
};

// Damage met by the reads of one caller (one file's data): bytes read as
// zeros because the file could not read them, and where the first of them lies.
struct ReadDamage {
  std::uint64_t unreadableBytes = 0;
  std::uint64_t firstUnreadable = 0;  // file offset; meaningful when unreadableBytes > 0
  void Add(std::uint64_t offset, std::uint64_t length);
};

class BkfFile {
 public:
  // Stands in for pread(2) on the open descriptor: answers the bytes read, 0
  // at the end of the file, or -1 with errno set. Tests use it to fail chosen
  // ranges as a failing disk does.
  using ReadFunction = std::function<long(int fd, void* buffer, std::size_t count, std::uint64_t position)>;

  static constexpr std::size_t kPieceSize = 4096;
  static constexpr std::size_t kMaxRememberedRanges = 1024;

  BkfFile();
  ~BkfFile();
  BkfFile(BkfFile&& other) noexcept;
  BkfFile& operator=(BkfFile&& other) noexcept;
  BkfFile(const BkfFile&) = delete;
  BkfFile& operator=(const BkfFile&) = delete;

  // Opens `path` read-only (no lock: Linux has no share modes). On failure
  // answers false and leaves the reason in Error(). Forgets the unreadable
  // ranges of the file opened before.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }
  const std::string& Error() const { return error_; }

  // Length in bytes, asked of the file system each time.
  std::uint64_t Size() const;

  // The device and inode of the open file, so that a run writing files can
  // tell the backup it reads from a file it is about to replace; nullopt when
  // no file is open.
  struct Identity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const Identity&) const = default;
  };
  std::optional<Identity> FileIdentity() const;

  // Reads `count` bytes at `position` into `buffer`; the part that lies past
  // the end of the file, and the pieces that could not be read, are
  // zero-filled. Answers how many bytes of the request lie within the file
  // (unreadable pieces included). `damage`, if given, adds the unreadable
  // bytes of this request.
  std::size_t ReadAt(std::uint64_t position, void* buffer, std::size_t count,
                     ReadDamage* damage = nullptr) const;

  // Tells the kernel how the file will be read: kSequential from `offset` on
  // (a larger read-ahead), kWillNeed for [offset, offset + length) (read it
  // now, in the background, unless its first and last bytes are in memory
  // already). Only a hint: nothing happens when it is refused.
  enum class ReadHint { kSequential, kWillNeed };
  void Hint(std::uint64_t offset, std::uint64_t length, ReadHint hint) const;

  // Replaces pread (kept across Open and Close); an empty function restores it.
  void SetReader(ReadFunction reader) { reader_ = std::move(reader); }
  // Once `*stop` asks to stop, a read stops working around failures: what it has
  // not read yet comes out as zeros without being counted unreadable. A
  // failing disk can take seconds per bad piece; Stop must not wait for them.
  void SetStopToken(const StopToken* stop) { stop_ = stop; }
  // Told the position of every piece given up as unreadable, as soon as it
  // is: a scan keeps its progress moving while a failing disk takes its time.
  using FailureObserver = std::function<void(std::uint64_t position)>;
  void SetFailureObserver(FailureObserver observer) { observer_ = std::move(observer); }

  UnreadableSummary Unreadable() const;
  // The size the file had when a read found it shorter than when it was
  // opened; nullopt while that has not happened.
  std::optional<std::uint64_t> ShrunkTo() const;

 private:
  struct Damage;

  long Pread(void* buffer, std::size_t count, std::uint64_t position) const;
  // Reads [position, position + count) piece by piece after a failed read;
  // answers the bytes of the request that lie within the file.
  std::size_t ReadAround(std::uint64_t position, unsigned char* out, std::size_t count,
                         ReadDamage* damage, int firstError) const;
  void NoteEnd(std::uint64_t position) const;
  bool Stopped() const { return stop_ != nullptr && stop_->StopRequested(); }

  int fd_ = -1;
  std::string path_;
  std::string error_;
  std::uint64_t openedSize_ = 0;
  // Where the first hole began when the file was opened (its size when it had
  // none): a read that begins before it skips asking where data lies.
  std::uint64_t firstHole_ = 0;
  ReadFunction reader_;
  const StopToken* stop_ = nullptr;
  FailureObserver observer_;
  std::unique_ptr<Damage> damage_;  // written only when a read fails or finds the file shorter
};

// A buffer for large reads of the file, starting on a page boundary. The
// kernel copies from the page cache at full speed only when the buffer and
// the file offset share their alignment: a page-aligned read into a block
// from the allocator (which starts 16 bytes into a page) copies about three
// times slower. Readers therefore start their large reads on page (or cache
// line) boundaries of the file too.
class ReadBuffer {
 public:
  static constexpr std::size_t kAlignment = 4096;
  ReadBuffer() = default;
  explicit ReadBuffer(std::size_t size)
      : data_(static_cast<std::uint8_t*>(::operator new[](size, std::align_val_t{kAlignment}))), size_(size) {}
  std::uint8_t* data() const { return data_.get(); }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

 private:
  struct Free {
    void operator()(std::uint8_t* p) const { ::operator delete[](p, std::align_val_t{kAlignment}); }
  };
  std::unique_ptr<std::uint8_t[], Free> data_;
  std::size_t size_ = 0;
};

// "65,536": a count with thousands separators, for messages.
std::string GroupDigits(std::uint64_t value);

// "Unreadable: 65,536 bytes in 2 ranges (input/output error); the first at
// offset 1000000", or an empty text when every read succeeded.
std::string UnreadableLine(const UnreadableSummary& summary);
// "the file became shorter during the scan (now N bytes)", or empty.
std::string ShrunkLine(const BkfFile& file);

}  // namespace ostrel
