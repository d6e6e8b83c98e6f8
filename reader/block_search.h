// The block search, run ahead of the window walk on worker threads.
//
// Whether a descriptor block ID begins at absolute offset X depends on the
// four bytes at X alone, not on where the walk's windows fall. So a stretch
// of the scanned range is cut into segments
//
//   stretch start                                          search end
//   |  segment 0  |  segment 1  |  segment 2  |  ...  |  segment n  |
//
// and worker threads each read one segment with pread, in chunks that stay
// in the cache (each chunk with the bytes past it that an ID straddling its
// end, and a window's vectorised search, reach), and list the offsets inside
// the segment where an ID begins, found with FindBlockHit. The walk stays on
// the scanning thread and unchanged: for the window at `a` it takes the first
// listed offset at or after `a` instead of reading and searching the window;
// it reads only the blocks it found. When the segment it needs is not
// searched yet, the walk does not wait while a segment nobody has taken is
// left: it searches that one itself. So `threads` search threads are the
// walk's and threads - 1 workers, which keeps every core busy without more
// threads than cores.
//
// The workers run at most a few segments ahead of the walk. Segments the walk
// passes are given up (one being read stops at its next chunk, one not begun
// is never read), and when the walk jumps past every segment (a file's data),
// or meets blocks close together for a while (it reads those bytes itself
// anyway), the stretch ends; the scanner starts a new one only after the walk
// has met a run of windows without a block again. An intact backup, whose
// walk lands on the next block after every jump, is thus read around its
// headers only, and makes no worker at all.
//
// Memory stays bounded whatever the bytes: one chunk buffer a searching
// thread, and at most kMaxHits listed offsets a segment. Past that many the
// walk searches the rest of the segment itself, window by window.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/stop_token.h"
#include "reader/bkf_file.h"

namespace ostrel {

// How a scanner searches for blocks.
struct SearchOptions {
  // Search threads: 1 searches each window on the scanning thread as the walk
  // reaches it; 0 takes DefaultSearchThreads().
  unsigned threads = 0;
  // Bytes of a segment; 0 chooses them from the thread count (tests use tiny
  // segments so that IDs straddle segment ends).
  std::size_t segmentSize = 0;
  // Bytes of windows without a block the walk meets before the workers are
  // called in; 0 calls them in at the start of the range.
  std::uint64_t quietBytes = 64 * 1024;
};

// The environment variable that caps the search threads of both programs.
inline constexpr char kScanThreadsVariable[] = "OSTREL_SCAN_THREADS";
inline constexpr unsigned kMaxSearchThreads = 64;

// One thread per core, at most the positive number OSTREL_SCAN_THREADS holds
// (other values are ignored), at most kMaxSearchThreads.
unsigned DefaultSearchThreads();
// `cap` threads, but not more than the machine has cores.
unsigned CappedSearchThreads(unsigned cap);

class BlockSearch {
 public:
  static constexpr std::size_t kMaxHits = 32 * 1024;

  // Searches [stretch start, `end`) of `file` with the walk's thread and
  // `threads` - 1 workers (at least one), made at the first Start.
  // `acceptAll` lists CFIL and SFMB IDs too. `onRelayed` runs on
  // the walk's thread with the position of each piece of the file a worker
  // gave up as unreadable (see Relay).
  BlockSearch(const BkfFile& file, std::uint64_t end, bool acceptAll, unsigned threads, std::size_t segmentSize,
              const StopToken& stop, std::function<void(std::uint64_t)> onRelayed);
  ~BlockSearch();
  BlockSearch(const BlockSearch&) = delete;
  BlockSearch& operator=(const BlockSearch&) = delete;

  // Whether a stretch is being searched.
  bool Active() const { return !live_.empty(); }
  // Starts a stretch at `position`, where the walk goes next.
  void Start(std::uint64_t position);

  enum class Answer {
    kSearched,   // `hit` is the window's first hit (0..1023) or -1
    kNotListed,  // the segment lists fewer IDs than it holds: the walk searches this window
    kBeyond,     // `position` lies past the stretch: the stretch has ended
    kStopped,    // the stop token was set while the walk waited
  };
  // The window at `position` (never before the last position asked): waits
  // for the segment that holds it, then answers as FindBlockHit would on the
  // window's bytes. Segments wholly before `position` are given up.
  Answer FindHit(std::uint64_t position, int& hit);

  // Right after FindHit answered the window at `position` without a hit:
  // where the run of bytes without a listed ID that begins there ends, as far
  // as the segment the walk is in lists them (at the next ID, or where the
  // list ends); `position` when the walk should ask window by window.
  std::uint64_t ListedClearTo(std::uint64_t position) const;

  // Ends the stretch: every segment is given up (the walk meets blocks so
  // close together that it reads every byte itself).
  void End();

  // Called by the file's failure observer: on a worker's thread, hands the
  // position to the walk's thread and waits until the walk has reported it
  // (so that progress moves with each piece given up), then answers true; on
  // any other thread answers false at once.
  bool Relay(std::uint64_t position);

  // Joins the workers; the search answers nothing after it.
  void Close();

  // Bytes the workers read from the file.
  std::uint64_t BytesRead() const { return bytesRead_.load(std::memory_order_relaxed); }

 private:
  enum State : int { kPending, kReading, kDone, kGivenUp };
  struct Segment {
    std::uint64_t start = 0, end = 0;
    std::atomic<int> state{kPending};
    std::atomic<bool> passed{false};  // the walk has gone past it
    std::vector<std::uint32_t> hits;  // offsets from start, ascending
    std::uint64_t listedTo = 0;       // the hits list every ID in [start, listedTo)
    std::size_t cursor = 0;           // the walk's place in hits
  };

  void Work();
  // The first live segment nobody reads yet, or null (under lock_).
  Segment* FirstPending() const;
  // Reads and searches the pending `s` through `chunk` with `hold` released,
  // then marks it searched (or given up) and tells the walk.
  void Take(Segment& s, ReadBuffer& chunk, std::unique_lock<std::mutex>& hold);
  // Reads and searches `s` through `chunk`, outside the lock; false when
  // given up on the way.
  bool Search(Segment& s, ReadBuffer& chunk);
  void TopUp();                             // under lock_
  void GiveUp(std::unique_ptr<Segment> s);  // under lock_
  void DrainRelays(std::unique_lock<std::mutex>& hold);
  // The window at `position` in the searched segment `s`.
  Answer HitIn(Segment& s, std::uint64_t position, int& hit) const;

  const BkfFile& file_;
  const std::uint64_t end_;
  const bool acceptAll_;
  const std::size_t segmentSize_;
  const std::size_t lookAhead_;  // segments from the walk's one on
  const StopToken& stop_;
  std::function<void(std::uint64_t)> onRelayed_;
  std::thread::id walkThread_;

  mutable std::mutex lock_;
  std::condition_variable workReady_, segmentReady_, relayTaken_;
  std::deque<std::unique_ptr<Segment>> live_;     // contiguous, from the walk's segment on
  std::vector<std::unique_ptr<Segment>> leaving_;  // passed while being read
  std::uint64_t nextStart_ = 0;
  std::deque<std::uint64_t> relays_;
  std::uint64_t relaysTaken_ = 0, relaysPosted_ = 0;
  std::atomic<bool> relayWaiting_{false};  // a worker waits in Relay
  bool closing_ = false;
  std::atomic<std::uint64_t> bytesRead_{0};
  ReadBuffer walkChunk_;  // the walk's, once it has searched a segment itself
  const unsigned workerCount_;
  bool spawned_ = false;  // the workers have been made
  std::vector<std::thread> workers_;
};

}  // namespace ostrel
