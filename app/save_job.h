// The save job: copies the chosen files of a recovery session into a
// destination folder, one by one, on its worker thread. The save dialog shows
// what it reports: each file's result as it comes (TakeEntries after
// `progressed`), how far the run has come, and at `finished` how it ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "app/job.h"
#include "reader/recovery_session.h"
#include "reader/save_files.h"

namespace ostrel::app {

class SaveJob : public Job {
  Q_OBJECT

 public:
  struct Entry {
    std::uint64_t index;
    SaveResult result;
  };
  // How the run ended.
  struct Ending {
    bool stoppedByUser = false;
    std::optional<SaveResult> writeFailure;
    std::string readLimit;  // why the run ended at its read budget; empty when it did not
    std::uint64_t failedIndex = 0;
    std::uint64_t attempted = 0;
  };

  using Job::Job;
  // The work uses this job's members: it is stopped and waited for first.
  ~SaveJob() override { Abandon(); }

  // Saves `files` of `session` (which must stay as it is until `finished`)
  // into `destination`; the process must already be marked running.
  void Start(const ostrel::RecoverySession& session, Destination destination, bool hierarchy,
             SaveOptions options, std::vector<std::uint64_t> files);

  // The results reported since the last call.
  std::vector<Entry> TakeEntries();
  // Files done, and the per-mille of the file being saved.
  std::uint64_t FilesDone() const { return filesDone_.load(); }
  std::uint32_t FilePermille() const { return filePermille_.load(); }
  // After `finished`.
  Ending TakeEnding();

 private:
  std::mutex lock_;
  std::vector<Entry> pending_;
  Ending ending_;
  std::atomic<std::uint64_t> filesDone_{0};
  std::atomic<std::uint32_t> filePermille_{0};
};

}  // namespace ostrel::app
