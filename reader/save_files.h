// Saving recovered files: one run writes chosen files of a catalogue below a
// destination folder, flat or in their folder hierarchy, with the safe names
// and numbering of recovery_paths.h. The command-line tool and the desktop
// program's save dialog both save through it; each decides what to do with a
// file's result (report it, go on, end the run).
//
// Users save into folders that already hold files, on drives formatted for
// Windows, and into folders others can write to. So the run
//   - opens the destination once and reaches every folder below it from there
//     (mkdirat, then openat with O_DIRECTORY | O_NOFOLLOW, one name at a
//     time): a folder swapped for a symbolic link while the run goes on makes
//     that name fail to open instead of leading the run out of the
//     destination;
//   - writes every file under a temporary name in its own folder
//     (".NAME.ostrel-XXXXXX.partial", created with O_CREAT | O_EXCL |
//     O_NOFOLLOW in the folder's descriptor) and renames it to its name only
//     once it is complete: a run killed by any means (a second Ctrl-C, a
//     closed terminal, SIGKILL, a power cut) leaves at most a .partial file,
//     never a short file under a real name;
//   - never writes through, truncates or removes whatever holds a name
//     already (the user's file, a hard or symbolic link, a FIFO): the file
//     takes the next free number instead, settled when it is renamed (a
//     rename that replaces nothing, so a name taken meanwhile is never
//     lost); existing folders are merged into;
//   - replaces an existing file (when asked to) only by renaming the complete
//     new one over it, and never the backup being read (nor a snapshot);
//   - removes only files it created itself, through the same descriptor;
//   - retries a name the file system refuses (EINVAL, EILSEQ; ENOENT and
//     EPERM too on drives formatted for Windows, whose FUSE drivers answer
//     so) in its portable form, and uses portable names from the start on
//     file systems known to refuse what Windows refuses.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/stop_token.h"
#include "catalogue/catalogue.h"
#include "reader/bkf_file.h"
#include "reader/extract.h"
#include "reader/recovery_paths.h"

namespace ostrel {

// An open folder descriptor, closed with its owner.
class FolderHandle {
 public:
  FolderHandle() = default;
  explicit FolderHandle(int fd) : fd_(fd) {}
  ~FolderHandle();
  FolderHandle(FolderHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FolderHandle& operator=(FolderHandle&& other) noexcept;
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_ = -1;
};

// The destination folder of a run, open.
struct Destination {
  std::string path;     // as the user gave it, for reports
  FolderHandle folder;  // everything the run writes is reached from here
  std::string fileSystem;     // its type as the system names it ("ext4", "vfat", "fuseblk", ...)
  bool windowsNames = false;  // it refuses what Windows refuses: names are made portable from the start
  bool ignoresCase = false;   // names that differ only in case are one name there
};

// Makes `destination` ready before anything is written to it: creates it and
// any missing parent, opens it, proves that a file can be created inside it,
// and learns what its file system does with names. Nullopt, with the reason
// in words in `error`, when it cannot be used.
std::optional<Destination> PrepareDestination(const std::string& destination, std::string& error);

// What a run does with a file the destination holds already.
enum class ExistingFiles {
  KeepBoth,  // the recovered file takes the next free numbered name
  Replace,   // the recovered file replaces it once it is complete
  Stop,      // the run ends there
};

// The two calls that put a new name into the destination, each relative to
// an open folder. Tests stand in for a file system that refuses names.
class NameMaker {
 public:
  virtual ~NameMaker() = default;
  // mkdirat(folder, name, 0755): 0, or -1 with errno set.
  virtual int MakeFolder(int folder, const char* name);
  // openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY |
  // O_CLOEXEC, 0644): a descriptor, or -1 with errno set.
  virtual int CreateFile(int folder, const char* name);
  // Renames `from` to `to` in `folder` unless `to` exists: renameat2 with
  // RENAME_NOREPLACE; where the file system has no such rename, a hard link
  // under `to`, then `from` unlinked; where it has no hard links either
  // (FAT, exFAT), a rename once `to` is found free. 0, or -1 with errno set
  // (EEXIST when `to` exists).
  virtual int MoveInto(int folder, const char* from, const char* to);
};

struct SaveOptions {
  ExistingFiles existing = ExistingFiles::KeepBoth;
  // When set, asked (on the saving thread) when the first existing file is
  // met, with its path below the destination; the answer replaces
  // `existing` for the rest of the run.
  std::function<ExistingFiles(const std::string& path)> askExisting;
  // Portable names from the start (they are also used from the start when
  // the destination is known to refuse what Windows refuses).
  bool portableNames = false;
  // The calls that make names; null for the system's.
  NameMaker* maker = nullptr;
  // Files the run reads besides the backup itself (a snapshot, say): like the
  // backup, never replaced, even when asked to replace existing files.
  std::vector<BkfFile::Identity> readFiles;
  // Each saved file takes the modification date the backup gives it, and
  // each folder the run made its folder's date once the run is over. Files
  // and folders without a date keep the time they were written.
  bool keepDates = true;
};

enum class SaveStatus {
  Saved,            // written: all of its data, or an empty file for a file of length 0
  SavedIncomplete,  // written as far as the backup gives it: zeros where the backup
                    // could not be read, or cut short by the end of the backup
  NotRecovered,     // nothing is left on disk (no data, continuation, split, cannot
                    // create, or left out for unreadable parts)
  WriteFailed,   // a write failed (disk full, ...): the partial file was removed
  Stopped,       // the stop was requested during the copy, or the
                 // run was stopped at an existing file: nothing of the file is left
  ReadLimit,     // the run's read budget (ReadBudget) is spent: nothing of the file
                 // is left, and the run is over (the reason says so)
};

// Why a run ended at its read budget, after `files` files:
// "the catalogue would read this backup's data more than 4 times over
// (hostile or looping records); stopped after N files".
std::string ReadLimitText(std::uint64_t files);

struct SaveResult {
  SaveStatus status = SaveStatus::NotRecovered;
  // ExtractFileData's answer; none when the file or its folders could not be made.
  std::optional<ExtractOutcome> outcome;
  std::string path;  // the full output path; empty when the file could not be made
  std::uint64_t bytes = 0;
  // What happened, in words: why nothing (or only an empty file, or only
  // part of the data) was written. Empty for a file saved with all its data.
  std::string reason;
  // Bytes of the data the backup could not read (written as zeros unless
  // the file was left out), and whether the data was cut short by its end.
  std::uint64_t unreadableBytes = 0;
  bool cutShort = false;
  // What the CSUM after the data says of the copy (None when it was not
  // copied whole or has no checksum).
  ChecksumStatus checksum = ChecksumStatus::None;
  // Names that did not go to the destination as stored: the folders made on
  // the way (each once per run) and the file's own, when it was saved.
  std::vector<NameChange> changes;
};

// The result for file `node` when it holds no data to write: nothing is
// written and no name is taken for it. Nullopt when it has data.
std::optional<SaveResult> NothingToWrite(const FileNode& node);

// One file of a run that reads within `budget`: `save` writes it, unless the
// budget is spent already (ReadLimit). A ReadLimit result gets its reason
// (ReadLimitText); every other counts in `handled`, the files the run went
// through before its budget was spent.
SaveResult WithinReadBudget(const ReadBudget& budget, std::uint64_t& handled,
                            const std::function<SaveResult()>& save);

class DestinationPlacer;

class SaveRun {
 public:
  // `destination` comes from PrepareDestination. `hierarchy` puts each file
  // below the destination along its folder's catalogue path; otherwise every
  // file goes directly into the destination.
  SaveRun(const Catalogue& catalogue, const BkfFile& bkfFile, Destination destination,
          bool hierarchy, const StopToken& stop, SaveOptions options = {});
  ~SaveRun();

  // Writes file `fileIndex` (below the catalogue's file count) without a size
  // limit. A name is kept for the run only when a file was left under it.
  SaveResult SaveFile(std::uint64_t fileIndex, const ExtractProgress& progress = {});

  // Leaves out (removes again) every file whose data the backup could not
  // wholly read, instead of keeping it with zeros in the unreadable parts.
  void SetSkipUnreadable(bool on) { skipUnreadable_ = on; }
  // A run reads at most four times the backup's size (ReadBudget); from the
  // file that would pass it on, every file answers ReadLimit. Lifted, the run
  // reads what the catalogue asks.
  void LiftReadLimit() { budget_ = ReadBudget::Unlimited(); }
  // Which names the run gives the destination.
  NameForm Names() const { return form_; }
  // Ends the run: the folders it made take their dates. The destructor
  // does it when it has not been done; nothing may be saved after it.
  void Finish();

 private:
  SaveResult Save(std::uint64_t fileIndex, const ExtractProgress& progress);
  // Keeps or removes a file whose data was copied, and says why. `keepFile`
  // gives the complete file its name, or answers why it could not.
  void SettleExtracted(SaveResult& result, const ExtractStats& stats, const std::function<void()>& dropFile,
                       const std::function<std::optional<std::string>()>& keepFile);
  // The date file `fileIndex` is to take, if any.
  std::optional<std::int64_t> FileDate(std::uint64_t fileIndex) const;

  const Catalogue& catalogue_;
  const BkfFile& bkfFile_;
  Destination destination_;
  const StopToken& stop_;
  SaveOptions options_;
  NameForm form_;
  RecoveryLayout layout_;
  bool skipUnreadable_ = false;
  ReadBudget budget_;
  std::uint64_t handled_ = 0;  // files this run went through before its budget was spent
  std::unique_ptr<DestinationPlacer> placer_;
  bool finished_ = false;
};

// The file's place in the catalogue: its folder's path followed by its name
// ("Tape\SET 1 :Daily\C:\Docs\a.txt").
std::u16string CataloguePath(const Catalogue& catalogue, std::uint64_t fileIndex);

}  // namespace ostrel
