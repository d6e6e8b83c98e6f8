#include "app/save_job.h"

#include <algorithm>
#include <memory>

namespace ostrel::app {

void SaveJob::Start(const ostrel::RecoverySession& session, Destination destination, bool hierarchy,
                    SaveOptions options, std::vector<std::uint64_t> files) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    pending_.clear();
    ending_ = {};
  }
  filesDone_ = 0;
  filePermille_ = 0;
  auto where = std::make_shared<Destination>(std::move(destination));
  Launch([this, &session, where, hierarchy, options = std::move(options), files = std::move(files)] {
    const Catalogue& catalogue = session.catalogue;
    SaveRun run(catalogue, session.file, std::move(*where), hierarchy, Stop(), options);
    Ending ending;
    for (std::uint64_t index : files) {
      if (Stop().StopRequested()) {
        ending.stoppedByUser = true;
        break;
      }
      const std::uint64_t expected = catalogue.FileAt(index).dataLength;
      std::uint32_t lastPermille = 0;
      filePermille_ = 0;
      const ExtractProgress progress = [&](std::uint64_t written) {
        const std::uint32_t permille =
            expected == 0 ? 1000
                          : static_cast<std::uint32_t>(std::min<std::uint64_t>(written, expected) * 1000 / expected);
        if (permille != lastPermille) {
          lastPermille = permille;
          filePermille_ = permille;
          NoteProgress();
        }
      };
      SaveResult result = run.SaveFile(index, progress);
      ++ending.attempted;
      const SaveStatus status = result.status;
      {
        std::lock_guard<std::mutex> hold(lock_);
        if (status == SaveStatus::WriteFailed) {
          ending.writeFailure = result;
          ending.failedIndex = index;
        }
        if (status == SaveStatus::ReadLimit) ending.readLimit = result.reason;
        pending_.push_back({index, std::move(result)});
      }
      filePermille_ = 0;
      ++filesDone_;
      NoteProgress();
      if (status == SaveStatus::WriteFailed) break;
      if (status == SaveStatus::ReadLimit) break;
      if (status == SaveStatus::Stopped) {
        ending.stoppedByUser = true;
        break;
      }
    }
    const bool stopped = ending.stoppedByUser;
    const bool failed = ending.writeFailure.has_value() || !ending.readLimit.empty();
    {
      std::lock_guard<std::mutex> hold(lock_);
      ending_ = std::move(ending);
    }
    return failed ? JobOutcome::Failed : stopped ? JobOutcome::Stopped : JobOutcome::Done;
  });
}

std::vector<SaveJob::Entry> SaveJob::TakeEntries() {
  std::vector<Entry> entries;
  std::lock_guard<std::mutex> hold(lock_);
  entries.swap(pending_);
  return entries;
}

SaveJob::Ending SaveJob::TakeEnding() {
  std::lock_guard<std::mutex> hold(lock_);
  return std::move(ending_);
}

}  // namespace ostrel::app
