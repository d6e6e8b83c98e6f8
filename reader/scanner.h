// The standard scanner `bkf`: reads a BKF file (or a byte range of it) in
// 1,024-byte windows, finds descriptor block IDs at any byte offset and turns
// TAPE, SSET, VOLB, DIRB and FILE blocks into catalogue nodes, inventing
// placeholder tape, set and volume nodes where the file has lost them. It does
// not follow the MTF block chain: it resynchronises on every block ID, which is
// what lets it read files whose beginning, middle or chain is damaged.
//
// One scanner object is one catalogue. After the scan it keeps the BKF file
// open for extraction.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "reader/bkf_file.h"
#include "reader/bytes.h"

namespace ostrel {

struct ProgressReport {
  float percent = 0.0f;
  std::uint64_t position = 0;    // BKF position of the window being scanned
  std::uint64_t filesFound = 0;
  std::uint64_t fileLength = 0;
};

// What a scan tells its caller, on the scanning thread. Implementations must be
// cheap: OnProgress may be called once per window without a block.
class ScanListener {
 public:
  virtual ~ScanListener() = default;
  virtual void OnProgress(const ProgressReport& report) { (void)report; }
  virtual void OnScanDone(int value) { (void)value; }
  // "Starting range exceeds ..." / "End range exceeds ..." warnings.
  virtual void OnRangeMessage(const std::string& text) { (void)text; }
};

inline constexpr char kStartRangeMessage[] =
    "Starting range exceeds the file size so parsing of file starts from zero.";
inline constexpr char kEndRangeMessage[] =
    "End range exceeds the file size so file will parse to the end of file size.";

// Placeholder labels; each ends with one blank.
inline constexpr char16_t kTapeCreated[] = u"TAPE CREATED ";
inline constexpr char16_t kSetCreated[] = u"SET CREATED ";
inline constexpr char16_t kDummySetCreated[] = u"DUMY SET CREATED ";
inline constexpr char16_t kDummyVolume[] = u"DUMY VOLUME XX: ";

inline constexpr std::size_t kWindowSize = 1024;

// Serves windows of the file from a large read-ahead buffer, so that the
// scanner's one-window-at-a-time reading costs one system call per few MiB.
// Bytes past the end of the file read as zeros.
class WindowReader {
 public:
  explicit WindowReader(const BkfFile& file, std::size_t bufferSize = 128u << 10);
  // `count` bytes at `position`, valid until the next call; `count` must not
  // exceed the buffer size. The pointer is followed by at least kSlack more
  // readable bytes (file bytes or zeros).
  const std::uint8_t* Get(std::uint64_t position, std::size_t count);
  static constexpr std::size_t kSlack = 64;

 private:
  const BkfFile& file_;
  std::vector<std::uint8_t> buffer_;
  std::size_t capacity_;
  std::uint64_t start_ = 0;
  std::size_t valid_ = 0;  // bytes of buffer_ that hold [start_, start_ + valid_)
};

class bkf {
 public:
  explicit bkf(std::atomic<int>& processRunning, ScanListener* listener = nullptr);
  virtual ~bkf();
  bkf(const bkf&) = delete;
  bkf& operator=(const bkf&) = delete;

  void SetListener(ScanListener* listener) { listener_ = listener; }
  // 0 and 0 mean the whole file.
  void SetRange(std::uint64_t start, std::uint64_t end) {
    rangeStart_ = start;
    rangeEnd_ = end;
  }
  void SetHeuristic(bool on) { heuristic_ = on ? 1 : 0; }
  int Heuristic() const { return heuristic_; }

  // Opens the file read-only and scans it. Answers 0 when the file cannot be
  // opened (FileError() says why), 1 otherwise, also when stopped.
  virtual int Scan(const std::string& path);

  // Takes over a catalogue read from a snapshot, and opens the BKF file it
  // names. Answers false (FileError() says why) when the file cannot be opened;
  // the catalogue is taken over all the same.
  bool Adopt(Catalogue catalogue, const std::string& bkfPath);

  Catalogue& Cat() { return catalogue_; }
  const Catalogue& Cat() const { return catalogue_; }
  const BkfFile& File() const { return file_; }
  // Reads the BKF file through `reader` instead of pread (tests fail chosen
  // ranges with it); set before Scan or Adopt.
  void SetFileReader(BkfFile::ReadFunction reader) { file_.SetReader(std::move(reader)); }
  const std::string& FileError() const { return file_.Error(); }
  std::uint64_t FilesFound() const { return filesFound_; }

  // First offset 0..1023 of the window at `w` whose tag is a hit, or -1.
  // The ID of a block at offsets 1,020 to 1,023 is completed from the bytes
  // after the window, so `w` must be followed by WindowReader::kSlack
  // readable bytes. `acceptAll` makes CFIL and SFMB hits too.
  static int FindHit(const std::uint8_t* w, bool acceptAll);

 protected:
  // The window loop's progress report for position `a`; `force` reports even
  // when the per-mille has not grown (a window without a hit).
  void ReportProgress(std::uint64_t a, bool force);
  // From the start of the window loop to its end, every piece of the file
  // given up as unreadable is reported as progress at its position.
  void ReportUnreadablePieces(bool on);
  void ResolveRange(std::uint64_t fileLength);

  // Shared handler parts.
  void AddTapeNode(std::u16string_view name);
  void AddSetNode(std::uint16_t number, std::u16string_view name);
  void AddVolumeNode(std::u16string_view label);
  // Walks the components of a DIRB's full path (already converted) and adds
  // the missing folders. Stops early when the process-running flag is cleared
  // and `stoppable` is set.
  void AddDirectoryPath(std::u16string_view converted, bool stoppable);
  void MakeFilePlaceholders();
  void AppendFile(std::u16string_view name, std::uint16_t nameSize, std::uint64_t dataPosition,
                  std::uint64_t dataLength);
  // The DIRB name turned into a relative path: every NUL unit but one in the
  // last position becomes a backslash; the text ends at the first NUL left.
  static std::u16string ConvertDirectoryName(ByteView block, std::uint16_t offset, std::uint16_t size);

  bool Running() const { return processRunning_.load(std::memory_order_relaxed) != 0; }

  std::atomic<int>& processRunning_;
  ScanListener* listener_ = nullptr;
  Catalogue catalogue_;
  std::u16string pathPrefix_;
  BkfFile file_;
  int heuristic_ = 0;
  int tapeCreated_ = 0, setCreated_ = 0, volumeCreated_ = 0;
  std::uint64_t filesFound_ = 0;
  std::uint64_t rangeStart_ = 0, rangeEnd_ = 0;
  std::uint64_t step_ = 0;
  std::uint64_t currentNode_ = 0;
  std::uint64_t volumeNode_ = 0;
  std::uint64_t previousFileFolder_ = 0;
  std::uint64_t tapeNode_ = 0;
  std::uint64_t setNode_ = 0;
  int lastPerMille_ = 0;
  std::uint64_t nextPerMilleAt_ = 0;  // where the per-mille next grows
  float percent_ = 0.0f;
  std::uint64_t fileLength_ = 0;

 private:
  // Standard handlers; each gets the window holding the block at offset 0.
  void HandleTape(ByteView w);
  void HandleSset(ByteView w);
  void HandleVolb(ByteView w);
  void HandleDirb(ByteView w);
  // The answer n that moves the window loop on after the block.
  std::uint64_t HandleFile(ByteView w, std::uint64_t a);
};

}  // namespace ostrel
