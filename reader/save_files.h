// Saving recovered files: one run writes chosen files of a catalogue below a
// destination folder, flat or in their folder hierarchy, with the safe names
// and per-run collision numbering of recovery_paths.h. The command-line tool
// and the desktop program's save dialog both save through it; each decides
// what to do with a file's result (report it, go on, end the run).
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "catalogue/catalogue.h"
#include "reader/bkf_file.h"
#include "reader/extract.h"
#include "reader/recovery_paths.h"

namespace ostrel {

// Makes `destination` ready before anything is written to it: creates it and
// any missing parent, and proves that a file can be created inside it. False,
// with the reason in words in `error`, when it cannot be used.
bool PrepareDestination(const std::string& destination, std::string& error);

enum class SaveStatus {
  Saved,            // written: all of its data, or an empty file for a file of length 0
  SavedIncomplete,  // written as far as the backup gives it: zeros where the backup
                    // could not be read, or cut short by the end of the backup
  NotRecovered,     // nothing is left on disk (no data, continuation, split, cannot
                    // create, or left out for unreadable parts)
  WriteFailed,   // a write failed (disk full, ...): the partial file was removed
  Stopped,       // the process-running flag was cleared during the copy: the partial file was removed
};

struct SaveResult {
  SaveStatus status = SaveStatus::NotRecovered;
  // ExtractFileData's answer; none when the file's folders could not be made.
  std::optional<ExtractOutcome> outcome;
  std::string path;  // the full output path; empty when the folders could not be made
  std::uint64_t bytes = 0;
  // What happened, in words: why nothing (or only an empty file, or only
  // part of the data) was written. Empty for a file saved with all its data.
  std::string reason;
  // Bytes of the data the backup could not read (written as zeros unless
  // the file was left out), and whether the data was cut short by its end.
  std::uint64_t unreadableBytes = 0;
  bool cutShort = false;
};

class SaveRun {
 public:
  // `destination` should have passed PrepareDestination. `hierarchy` puts each
  // file below the destination along its folder's catalogue path; otherwise
  // every file goes directly into the destination.
  SaveRun(const Catalogue& catalogue, const BkfFile& bkfFile, std::string destination,
          bool hierarchy, const std::atomic<int>& processRunning);

  // Writes file `fileIndex` (below the catalogue's file count) without a size
  // limit. A name is kept for the run only when a file was left under it.
  SaveResult SaveFile(std::uint64_t fileIndex, const ExtractProgress& progress = {});

  // Leaves out (removes again) every file whose data the backup could not
  // wholly read, instead of keeping it with zeros in the unreadable parts.
  void SetSkipUnreadable(bool on) { skipUnreadable_ = on; }

 private:
  const Catalogue& catalogue_;
  const BkfFile& bkfFile_;
  std::string destination_;
  const std::atomic<int>& running_;
  RecoveryLayout layout_;
  bool skipUnreadable_ = false;
};

// The file's place in the catalogue: its folder's path followed by its name
// ("Tape\SET 1 :Daily\C:\Docs\a.txt").
std::u16string CataloguePath(const Catalogue& catalogue, std::uint64_t fileIndex);

}  // namespace ostrel
