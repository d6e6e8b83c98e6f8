// The preview's copy: the first 10 MiB of a file's data from the BKF file into
// the preview's temporary file, on the job's worker thread, so that the window
// stays responsive while a large or slow file is read.
#pragma once

#include <QString>

#include "app/job.h"
#include "catalogue/nodes.h"
#include "reader/bkf_file.h"
#include "preview/preview_dispatch.h"
#include "reader/extract.h"

namespace ostrel::app {

class PreviewJob : public Job {
  Q_OBJECT

 public:
  using Job::Job;
  // The work uses this job's members: it is stopped and waited for first.
  ~PreviewJob() override { Abandon(); }

  // Copies the data of `node` from `bkfFile` (which must stay open until
  // `finished`) into `outputFd`, which the job closes; the process must
  // already be marked running. Then makes ready what the view of the copy at
  // `copyPath` (with `upperExtension`) needs, where that takes long.
  void Start(const FileNode& node, const BkfFile& bkfFile, int outputFd, const QString& copyPath,
             const QString& upperExtension);

  // After `finished`: what the copy did.
  ExtractOutcome Outcome() const { return outcome_; }
  const ExtractStats& Stats() const { return stats_; }
  const preview::PreparedPreview& Prepared() const { return prepared_; }

 private:
  ExtractOutcome outcome_ = ExtractOutcome::NoData;
  ExtractStats stats_;
  preview::PreparedPreview prepared_;
};

}  // namespace ostrel::app
