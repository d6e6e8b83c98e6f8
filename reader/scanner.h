// The standard scanner: reads a BKF file (or a byte range of it) in
// 1,024-byte windows, finds descriptor block IDs at any byte offset and turns
// TAPE, SSET, VOLB, DIRB and FILE blocks into catalogue nodes, inventing
// placeholder tape, set and volume nodes where the file has lost them. It does
// not follow the MTF block chain: it resynchronises on every block ID, which is
// what lets it read files whose beginning, middle or chain is damaged.
//
// A scanner fills a recovery session: its catalogue, and its BKF file, which
// stays open for extraction after the scan.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/stop_token.h"
#include "reader/bkf_file.h"
#include "reader/block_search.h"
#include "reader/catalogue_builder.h"
#include "reader/recovery_session.h"

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
  // True: a report for every window without a block. A listener that keeps
  // only the newest report answers false; where the block search has listed
  // a run of such windows ahead, it then gets one report, the run's last.
  virtual bool EveryWindow() const { return true; }
  virtual void OnScanDone(int value) { (void)value; }
  // "Starting range exceeds ..." / "End range exceeds ..." warnings.
  virtual void OnRangeMessage(const std::string& text) { (void)text; }
};

inline constexpr char kStartRangeMessage[] =
    "Starting range exceeds the file size so parsing of file starts from zero.";
inline constexpr char kEndRangeMessage[] =
    "End range exceeds the file size so file will parse to the end of file size.";

// "left out: NAME (N bytes at offset X) runs past the end of the backup; the
// advanced mode recovers what is there" (NAME in UTF-8, as stored).
std::string LeftOutLine(const LeftOutFile& file);

inline constexpr std::size_t kWindowSize = 1024;
// Where the blocks lie at most kDenseGap bytes of windows apart for
// kBusyBytes, the window loop sends the search's workers away.
inline constexpr std::uint64_t kDenseGap = 4 * kWindowSize;
inline constexpr std::uint64_t kBusyBytes = 64 * 1024;

// Serves windows of the file from a read-ahead buffer. Reads that follow on
// from the last one (the next window of a stretch without blocks, the next
// block of a run of small ones) double the read-ahead, up to `maxAhead`, so
// that a stretch costs one system call per MiB; a jump over a
// block's data starts small again, so that an intact backup is read around
// its headers only. Bytes past the end of the file read as zeros.
class WindowReader {
 public:
  explicit WindowReader(const BkfFile& file, std::size_t maxAhead = 1u << 20);
  // `count` bytes (at most 2,048) at `position`, valid until the next call.
  // The pointer is followed by at least kSlack more readable bytes (file
  // bytes or zeros).
  const std::uint8_t* Get(std::uint64_t position, std::size_t count);
  static constexpr std::size_t kSlack = 64;
  static constexpr std::size_t kMinAhead = 4 * kWindowSize;
  std::uint64_t BytesRead() const { return bytesRead_; }

 private:
  // Reads start on a page boundary of the file, so that the kernel's copy
  // into the page-aligned buffer runs at full speed; the smallest reads (a
  // jump to a block's header) only on a cache line, so that an intact backup
  // is still read around its headers only.
  static constexpr std::size_t kReadAlign = ReadBuffer::kAlignment;
  static constexpr std::size_t kSmallReadAlign = 64;

  const BkfFile& file_;
  // Not cleared when made: only the part the reads reach is ever touched.
  ReadBuffer buffer_;
  std::size_t maxAhead_;
  std::uint64_t start_ = 0;
  std::size_t valid_ = 0;  // bytes of buffer_ that hold [start_, start_ + valid_)
  std::size_t ahead_ = kMinAhead;
  std::uint64_t bytesRead_ = 0;
};

// What both scanners share: the session they fill, the range, the progress
// reports and the window loop. The loop reads the range in 1,024-byte
// windows; a window with a block ID at offset u moves the loop to that block,
// and the scanner's handler says how far past it the loop goes on. With more
// than one search thread the loop takes each window's first ID from a
// BlockSearch running ahead of it (see block_search.h) once it has met a run
// of windows without a block, and ends the search's stretch after a run of
// blocks close together; the catalogue, the progress reports and Stop are the
// same as with one.
class Scanner {
 public:
  // Fills `session`: its catalogue, and its file, which stays open for
  // extraction. A scan stops early once `stop` asks it to.
  Scanner(RecoverySession& session, const StopToken& stop, ScanListener* listener = nullptr);
  virtual ~Scanner();
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;

  void SetListener(ScanListener* listener) { listener_ = listener; }
  ScanListener* Listener() const { return listener_; }
  // 0 and 0 mean the whole file.
  void SetRange(std::uint64_t start, std::uint64_t end) {
    rangeStart_ = start;
    rangeEnd_ = end;
  }
  void SetHeuristic(bool on) { heuristic_ = on; }
  bool Heuristic() const { return heuristic_; }
  // The block search's threads and layout; set before Scan.
  void SetSearch(const SearchOptions& options) { searchOptions_ = options; }

  // Opens the file read-only and scans it. Answers 0 when the file cannot be
  // opened (FileError() says why), 1 otherwise, also when stopped.
  virtual int Scan(const std::string& path) = 0;

  RecoverySession& Session() { return session_; }
  const RecoverySession& Session() const { return session_; }
  // Reads the BKF file through `reader` instead of pread (tests fail chosen
  // ranges with it); set before Scan.
  void SetFileReader(BkfFile::ReadFunction reader) { session_.file.SetReader(std::move(reader)); }
  const std::string& FileError() const { return session_.file.Error(); }
  std::uint64_t FilesFound() const { return builder_.FilesFound(); }
  // Descriptor blocks the last scan met; none means the file does not look
  // like a BKF file at all (as far as the range goes).
  std::uint64_t BlocksFound() const { return blocksFound_; }
  // What the scan had to bend for the log, once: kDepthCapNote when folders
  // would have nested too deep, kFolderCapNote when the backup named more
  // folders than its size allows (both, a "; " between, when both); empty
  // when nothing.
  std::string Note() const;
  // Bytes the last Scan read from the file (the walk's reads and the search's).
  std::uint64_t BytesRead() const { return bytesRead_; }

  // First offset 0..1023 of the window at `w` whose tag is a hit, or -1.
  // The ID of a block at offsets 1,020 to 1,023 is completed from the bytes
  // after the window, so `w` must be followed by WindowReader::kSlack
  // readable bytes. `acceptAll` makes CFIL and SFMB hits too.
  static int FindHit(const std::uint8_t* w, bool acceptAll);

 protected:
  // How the loop goes on after a block at position a: to a + skip + next.
  struct BlockStep {
    std::uint64_t skip = 0;
    std::uint64_t next = kWindowSize;
  };

  // Opens `path` into the session, records the origin and settles the range.
  // False when the file cannot be opened.
  bool BeginScan(const std::string& path, RecoveryMode mode);
  void EndScan();
  // The window loop over the range: `reader` serves windows, `onBlock(a, w)`
  // handles the block at a (w holds its first 1,024 bytes) and answers a
  // BlockStep.
  template <typename Reader, typename OnBlock>
  void WindowLoop(Reader& reader, bool acceptAll, OnBlock&& onBlock);

  bool Running() const { return !stop_.StopRequested(); }
  // The search running ahead of the window loop, or null with one thread or
  // an empty range.
  std::unique_ptr<BlockSearch> OpenSearch(bool acceptAll);

  RecoverySession& session_;
  const StopToken& stop_;
  CatalogueBuilder builder_;
  bool heuristic_ = false;
  std::uint64_t rangeStart_ = 0, rangeEnd_ = 0;
  std::uint64_t fileLength_ = 0;
  std::uint64_t blocksFound_ = 0;
  std::uint64_t bytesRead_ = 0;

 private:
  // The window loop's progress report for position `a`; `force` reports even
  // when the per-mille has not grown (a window without a hit).
  void ReportProgress(std::uint64_t a, bool force);
  // Keeps the block at `a` (its first bytes at `w`) in the session's
  // setBlocks when it is a sound TAPE, SSET or ESET block.
  void NoteSetBlock(std::uint64_t a, const std::uint8_t* w);
  void ResolveRange(std::uint64_t fileLength);

  ScanListener* listener_ = nullptr;
  SearchOptions searchOptions_;
  // The loop's search while it runs: the file's failure observer hands the
  // failures its workers meet to the scanning thread through it.
  BlockSearch* running_ = nullptr;
  int lastPerMille_ = 0;
  std::uint64_t nextPerMilleAt_ = 0;  // where the per-mille next grows
  float percent_ = 0.0f;
};

template <typename Reader, typename OnBlock>
void Scanner::WindowLoop(Reader& reader, bool acceptAll, OnBlock&& onBlock) {
  std::uint64_t a = rangeStart_;
  percent_ = 0.0f;
  std::uint64_t step = kWindowSize;
  const std::unique_ptr<BlockSearch> search = OpenSearch(acceptAll);
  const bool coalesce = listener_ == nullptr || !listener_->EveryWindow();
  std::uint64_t quiet = 0;  // bytes of windows without a block since the last block
  std::uint64_t busyFrom = kU64Max;  // the first block of the run of dense blocks the loop is in
  while (a < rangeEnd_ && Running()) {
    if (search && !search->Active() && quiet >= searchOptions_.quietBytes) search->Start(a);
    ReportProgress(a, false);
    int u = -1;
    BlockSearch::Answer answer = BlockSearch::Answer::kBeyond;
    if (search && search->Active()) {
      answer = search->FindHit(a, u);
      if (answer == BlockSearch::Answer::kStopped) break;
      if (answer == BlockSearch::Answer::kBeyond) quiet = 0;  // jumped past the stretch
    }
    if (answer != BlockSearch::Answer::kSearched) u = FindHit(reader.Get(a, kWindowSize), acceptAll);
    if (u < 0) {
      if (coalesce && answer == BlockSearch::Answer::kSearched) {
        // The windows the search lists no block in, up to the range's end,
        // are passed at once; only the last of them is reported.
        const std::uint64_t clear = std::min(search->ListedClearTo(a), SatAdd(rangeEnd_, kWindowSize - 1));
        const std::uint64_t last = a + RoundDown(SatSub(clear, a + kWindowSize), kWindowSize);
        if (last != a) {
          quiet = SatAdd(quiet, last - a);
          a = last;
          percent_ = static_cast<float>(100.0 * static_cast<double>(a) / static_cast<double>(rangeEnd_));
        }
      }
      ReportProgress(a, true);  // every window without a block is reported
      quiet = SatAdd(quiet, kWindowSize);
    } else {
      a = SatAdd(a, static_cast<std::uint64_t>(u));
      // Where the blocks lie close together the walk's reads follow on and
      // take in every byte: the workers would only read them again.
      if (quiet >= kDenseGap || busyFrom == kU64Max) busyFrom = a;
      quiet = 0;
      if (search && search->Active() && a - busyFrom >= kBusyBytes) {
        search->End();
        busyFrom = kU64Max;
      }
      ++blocksFound_;
      NoteSetBlock(a, reader.Get(a, kWindowSize));
      const BlockStep s = onBlock(a, reader.Get(a, kWindowSize));
      a = SatAdd(a, s.skip);
      step = s.next;
    }
    if (a >= rangeEnd_) break;
    a = SatAdd(a, step);
    step = kWindowSize;
    percent_ = static_cast<float>(100.0 * static_cast<double>(a) / static_cast<double>(rangeEnd_));
  }
  bytesRead_ = reader.BytesRead();
  if (search) {
    search->Close();
    running_ = nullptr;
    bytesRead_ += search->BytesRead();
  }
}

// The standard scanner.
class StandardScanner : public Scanner {
 public:
  using Scanner::Scanner;
  int Scan(const std::string& path) override;

 private:
  // Standard handlers; each gets the window holding the block at offset 0.
  void HandleTape(ByteView w);
  void HandleSset(ByteView w);
  void HandleVolb(ByteView w);
  // False when the name is unusable: the next window then starts one byte
  // after the block.
  bool HandleDirb(ByteView w);
  // The answer n that moves the window loop on after the block.
  std::uint64_t HandleFile(ByteView w, std::uint64_t a);
};

}  // namespace ostrel
