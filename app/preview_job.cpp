#include "app/preview_job.h"

#include <unistd.h>

#include <memory>

namespace ostrel::app {

void PreviewJob::Start(const FileNode& node, const BkfFile& bkfFile, int outputFd, const QString& copyPath,
                       const QString& upperExtension) {
  outcome_ = ExtractOutcome::NoData;
  stats_ = {};
  prepared_ = {};
  Launch([this, node, &bkfFile, outputFd, copyPath, upperExtension] {
    {
      // Closed however the copy ends.
      const std::unique_ptr<const int, void (*)(const int*)> closer(&outputFd,
                                                                   [](const int* fd) { ::close(*fd); });
      outcome_ = ExtractFileData(node, bkfFile, outputFd, kPreviewLimit, Stop(), &stats_);
    }
    // A large picture takes a while to decode, an archive to be read: here,
    // not on the window's thread.
    if (outcome_ == ExtractOutcome::Extracted) prepared_ = preview::PreparePreview(copyPath, upperExtension);
    return stats_.stopped ? JobOutcome::Stopped : JobOutcome::Done;
  });
}

}  // namespace ostrel::app
