// The search job: every file of a catalogue, in catalogue order, against a
// wildcard pattern, on its worker thread. The search dialog takes the hits in
// batches (TakeHits after `progressed`) while the search runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/job.h"
#include "catalogue/catalogue.h"

namespace ostrel::app {

class SearchJob : public Job {
  Q_OBJECT

 public:
  using Job::Job;
  // The work uses this job's members: it is stopped and waited for first.
  ~SearchJob() override { Abandon(); }

  // Searches the first `count` files of `catalogue` (which must stay as it is
  // until `finished`); the process must already be marked running.
  void Start(const Catalogue& catalogue, std::u16string pattern, std::uint64_t count);
  // The hits found since the last call, in catalogue order.
  std::vector<std::uint64_t> TakeHits();
  // Files looked at so far.
  std::uint64_t Scanned() const { return scanned_.load(std::memory_order_relaxed); }

 private:
  std::mutex lock_;
  std::vector<std::uint64_t> pending_;
  // Set while handed-over hits wait for the dialog: the worker then hands
  // over only full batches.
  std::atomic<bool> waiting_{false};
  std::atomic<std::uint64_t> scanned_{0};
};

}  // namespace ostrel::app
