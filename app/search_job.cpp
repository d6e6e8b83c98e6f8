#include "app/search_job.h"

#include "reader/recovery_paths.h"

namespace ostrel::app {
namespace {

constexpr std::size_t kBatch = 65536;

}  // namespace

void SearchJob::Start(const Catalogue& catalogue, std::u16string pattern, std::uint64_t count) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    pending_.clear();
  }
  waiting_ = false;
  scanned_ = 0;
  Launch([this, &catalogue, pattern = std::move(pattern), count] {
    std::vector<std::uint64_t> hits;
    auto handOver = [&] {
      {
        std::lock_guard<std::mutex> hold(lock_);
        pending_.insert(pending_.end(), hits.begin(), hits.end());
      }
      hits.clear();
      waiting_ = true;
      NoteProgress();
    };
    std::uint64_t i = 0;
    for (; i < count && !Stop().StopRequested(); ++i) {
      if (WildcardMatch(catalogue.FileAt(i).name, pattern)) {
        hits.push_back(i);
        if (hits.size() >= kBatch || !waiting_) handOver();
      }
      if ((i & 0xFFF) == 0) {
        scanned_.store(i, std::memory_order_relaxed);
        if (!waiting_) handOver();
      }
    }
    scanned_.store(i, std::memory_order_relaxed);
    handOver();
    return i < count ? JobOutcome::Stopped : JobOutcome::Done;
  });
}

std::vector<std::uint64_t> SearchJob::TakeHits() {
  std::vector<std::uint64_t> hits;
  {
    std::lock_guard<std::mutex> hold(lock_);
    hits.swap(pending_);
  }
  waiting_ = false;
  return hits;
}

}  // namespace ostrel::app
