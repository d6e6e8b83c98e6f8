#include "reader/block_search.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <string_view>
#include <system_error>

#include "base/bytes.h"
#include "reader/window_search.h"

namespace ostrel {

namespace {

constexpr std::size_t kWindow = 1024;
// A window's search reads this far past the window's first byte.
constexpr std::size_t kSearchReach = kWindow + 64;
// Reads of a segment: small enough that a chunk is still in the cache when it
// is searched, large enough that the kernel's copy runs at full speed (on a
// two-core machine 1 MiB reads copied from the page cache 1.6 times as fast as
// 256 KiB ones).
constexpr std::size_t kChunk = 1u << 20;
// A segment: few hand-overs between the threads a GiB.
constexpr std::size_t kSegmentSize = 4u << 20;
// How often a waiting walk looks at the stop token.
constexpr auto kStopPoll = std::chrono::milliseconds(10);

}  // namespace

unsigned CappedSearchThreads(unsigned cap) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  return std::clamp(std::min(cap, cores), 1u, kMaxSearchThreads);
}

unsigned DefaultSearchThreads() {
  unsigned cap = kMaxSearchThreads;
  if (const char* text = std::getenv(kScanThreadsVariable)) {
    const std::string_view v(text);
    unsigned n = 0;
    const auto r = std::from_chars(v.data(), v.data() + v.size(), n);
    if (r.ec == std::errc() && r.ptr == v.data() + v.size() && n > 0) cap = n;
  }
  return CappedSearchThreads(cap);
}

BlockSearch::BlockSearch(const BkfFile& file, std::uint64_t end, bool acceptAll, unsigned threads,
                         std::size_t segmentSize, const StopToken& stop,
                         std::function<void(std::uint64_t)> onRelayed)
    : file_(file),
      end_(end),
      acceptAll_(acceptAll),
      // Hits are kept as 32-bit offsets into a segment.
      segmentSize_(segmentSize != 0 ? std::min<std::size_t>(segmentSize, 1u << 30) : kSegmentSize),
      lookAhead_(2 * std::size_t{std::max(threads, 1u)} + 1),
      stop_(stop),
      onRelayed_(std::move(onRelayed)),
      walkThread_(std::this_thread::get_id()),
      workerCount_(std::max(threads, 2u) - 1) {}

BlockSearch::~BlockSearch() { Close(); }

void BlockSearch::Close() {
  {
    std::lock_guard hold(lock_);
    closing_ = true;
    for (auto& s : live_) s->passed.store(true, std::memory_order_relaxed);
  }
  workReady_.notify_all();
  relayTaken_.notify_all();
  for (std::thread& t : workers_) t.join();
  workers_.clear();
  live_.clear();
  leaving_.clear();
}

void BlockSearch::Start(std::uint64_t position) {
  if (position >= end_) return;
  if (!spawned_) {
    // The workers are made for the first stretch: a scan that never meets
    // one (an intact backup) makes none.
    spawned_ = true;
    for (unsigned i = 0; i < workerCount_; ++i) {
      try {
        workers_.emplace_back([this] { Work(); });
      } catch (const std::system_error&) {
        break;  // fewer threads than asked; with none the walk searches itself
      }
    }
  }
  if (workers_.empty()) return;
  {
    std::lock_guard hold(lock_);
    if (closing_) return;
    // Segments begin on page boundaries, as the chunks read into the
    // page-aligned buffers then do (IDs listed before `position` are never
    // asked for).
    nextStart_ = RoundDown(position, ReadBuffer::kAlignment);
    TopUp();
  }
  // The kernel reads the stretch ahead of the workers.
  file_.Hint(position, 0, BkfFile::ReadHint::kSequential);
  workReady_.notify_all();
}

void BlockSearch::TopUp() {
  while (live_.size() < lookAhead_ && nextStart_ < end_) {
    auto s = std::make_unique<Segment>();
    s->start = nextStart_;
    s->end = std::min<std::uint64_t>(end_, SatAdd(nextStart_, segmentSize_));
    nextStart_ = s->end;
    file_.Hint(s->start, s->end - s->start, BkfFile::ReadHint::kWillNeed);
    live_.push_back(std::move(s));
  }
}

void BlockSearch::GiveUp(std::unique_ptr<Segment> s) {
  s->passed.store(true, std::memory_order_relaxed);
  // One being read is freed by its worker.
  if (s->state.load(std::memory_order_relaxed) == kReading) leaving_.push_back(std::move(s));
}

BlockSearch::Segment* BlockSearch::FirstPending() const {
  for (const auto& s : live_) {
    if (s->state.load(std::memory_order_relaxed) == kPending) return s.get();
  }
  return nullptr;
}

void BlockSearch::Take(Segment& s, ReadBuffer& chunk, std::unique_lock<std::mutex>& hold) {
  s.state.store(kReading, std::memory_order_relaxed);
  hold.unlock();
  const bool searched = Search(s, chunk);
  hold.lock();
  s.state.store(searched ? kDone : kGivenUp, std::memory_order_release);
  std::erase_if(leaving_, [&](const auto& p) { return p.get() == &s; });
  segmentReady_.notify_all();
}

void BlockSearch::Work() {
  ReadBuffer chunk(kChunk + kSearchReach);
  std::unique_lock hold(lock_);
  for (;;) {
    Segment* s = nullptr;
    workReady_.wait(hold, [&] { return closing_ || (s = FirstPending()) != nullptr; });
    if (closing_) return;
    Take(*s, chunk, hold);
  }
}

bool BlockSearch::Search(Segment& s, ReadBuffer& chunk) {
  s.hits.clear();
  s.cursor = 0;
  s.listedTo = s.end;
  // Each chunk is read with the bytes its last window's search reaches.
  for (std::uint64_t at = s.start; at < s.end;) {
    if (s.passed.load(std::memory_order_relaxed) || stop_.StopRequested()) return false;
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, s.end - at));
    bytesRead_.fetch_add(file_.ReadAt(at, chunk.data(), count + kSearchReach), std::memory_order_relaxed);
    std::size_t u = 0;
    while (u < count) {
      const int hit = FindBlockHit(chunk.data() + u, acceptAll_);
      if (hit < 0) {
        u += kWindow;
        continue;
      }
      u += static_cast<std::size_t>(hit);
      if (u >= count) break;  // the next chunk's
      if (s.hits.size() == kMaxHits) {
        s.listedTo = at + u;
        return true;
      }
      s.hits.push_back(static_cast<std::uint32_t>(at + u - s.start));
      ++u;
    }
    at += count;
  }
  return true;
}

BlockSearch::Answer BlockSearch::FindHit(std::uint64_t position, int& hit) {
  // Most windows lie in the segment the walk is in, searched already: no lock.
  if (!live_.empty() && live_.front()->end > position && !relayWaiting_.load(std::memory_order_relaxed) &&
      live_.front()->state.load(std::memory_order_acquire) == kDone) {
    return HitIn(*live_.front(), position, hit);
  }
  std::unique_lock hold(lock_);
  DrainRelays(hold);
  while (!live_.empty() && live_.front()->end <= position) {
    GiveUp(std::move(live_.front()));
    live_.pop_front();
  }
  if (live_.empty()) return Answer::kBeyond;  // the walk jumped past the stretch
  if (live_.size() < lookAhead_ && nextStart_ < end_) {
    TopUp();
    workReady_.notify_all();
  }
  Segment& s = *live_.front();
  for (;;) {
    const int state = s.state.load(std::memory_order_acquire);
    if (state == kDone) break;
    if (stop_.StopRequested() || closing_) return Answer::kStopped;
    if (state == kGivenUp) {
      // Given up on a stop that was cleared again: search it once more.
      s.state.store(kPending, std::memory_order_relaxed);
      workReady_.notify_all();
    }
    if (Segment* pending = FirstPending()) {
      // Rather than wait, the walk searches the first segment no worker has
      // taken (its own failures it reports itself).
      if (walkChunk_.empty()) walkChunk_ = ReadBuffer(kChunk + kSearchReach);
      Take(*pending, walkChunk_, hold);
    } else {
      segmentReady_.wait_for(hold, kStopPoll);
    }
    DrainRelays(hold);
  }
  hold.unlock();
  return HitIn(s, position, hit);
}

BlockSearch::Answer BlockSearch::HitIn(Segment& s, std::uint64_t position, int& hit) const {
  const auto offset = static_cast<std::uint32_t>(position - s.start);
  while (s.cursor < s.hits.size() && s.hits[s.cursor] < offset) ++s.cursor;
  if (s.cursor < s.hits.size() && s.hits[s.cursor] - offset < kWindow) {
    hit = static_cast<int>(s.hits[s.cursor] - offset);
    return Answer::kSearched;
  }
  hit = -1;
  const std::uint64_t windowEnd = SatAdd(position, kWindow);
  if (windowEnd <= s.listedTo) return Answer::kSearched;
  // The window runs past the segment's end: the rest of it is the next
  // segment's, when that one is searched; past the list of a full segment
  // it is not listed.
  if (s.listedTo != s.end || live_.size() < 2) return Answer::kNotListed;
  const Segment& next = *live_[1];
  if (next.state.load(std::memory_order_acquire) != kDone) return Answer::kNotListed;
  if (!next.hits.empty() && next.start + next.hits.front() < windowEnd) {
    hit = static_cast<int>(next.start + next.hits.front() - position);
  } else if (windowEnd > next.listedTo) {
    return Answer::kNotListed;
  }
  return Answer::kSearched;
}

std::uint64_t BlockSearch::ListedClearTo(std::uint64_t position) const {
  // Read as FindHit's lock-free path reads: the walk's segment, searched.
  if (live_.empty() || relayWaiting_.load(std::memory_order_relaxed)) return position;
  const Segment& s = *live_.front();
  if (position < s.start || position >= s.end || s.state.load(std::memory_order_acquire) != kDone) return position;
  // HitIn left the cursor at the first ID at or after `position`.
  return std::max(position, s.cursor < s.hits.size() ? s.start + s.hits[s.cursor] : s.listedTo);
}

void BlockSearch::End() {
  std::unique_lock hold(lock_);
  DrainRelays(hold);
  while (!live_.empty()) {
    GiveUp(std::move(live_.front()));
    live_.pop_front();
  }
}

bool BlockSearch::Relay(std::uint64_t position) {
  if (std::this_thread::get_id() == walkThread_) return false;
  std::unique_lock hold(lock_);
  if (closing_) return true;  // the scan is over: nobody reports any more
  relays_.push_back(position);
  relayWaiting_.store(true, std::memory_order_relaxed);
  const std::uint64_t ticket = ++relaysPosted_;
  segmentReady_.notify_all();
  relayTaken_.wait(hold, [&] { return closing_ || relaysTaken_ >= ticket; });
  return true;
}

void BlockSearch::DrainRelays(std::unique_lock<std::mutex>& hold) {
  relayWaiting_.store(false, std::memory_order_relaxed);
  while (!relays_.empty()) {
    const std::uint64_t position = relays_.front();
    relays_.pop_front();
    hold.unlock();
    if (onRelayed_) onRelayed_(position);
    hold.lock();
    ++relaysTaken_;
    relayTaken_.notify_all();
  }
}

}  // namespace ostrel
