// extract --tar: the chosen files of a catalogue written as one tar stream,
// each under the path a folder extraction gives it (RecoveryLayout: the same
// safe names and the same " (2)" numbering), each folder once before its
// first file.
//
// A tar header gives the size of the data that follows it, and a stream cannot
// take back what it wrote. So everything that could change an entry is
// settled before its header:
//   - plain data has the size of its ranges (unreadable parts are written as
//     zeros, so the size holds);
//   - compressed data, and any data when damaged files are to be left out,
//     is first copied into nothing to learn its size and its damage, then
//     copied again into the stream (decoding twice needs no temporary file:
//     nothing lands in /tmp, which may be memory or full, and the second read
//     comes from the page cache);
//   - the run's read budget is spent for the whole entry before its header,
//     so that the limit never cuts an entry short.
#pragma once

#include <cerrno>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/stop_token.h"
#include "catalogue/catalogue.h"
#include "cli/tar_writer.h"
#include "reader/bkf_file.h"
#include "reader/extract.h"
#include "reader/recovery_paths.h"
#include "reader/save_files.h"

namespace ostrel::cli {

struct TarOptions {
  bool hierarchy = true;       // folders as a folder extraction makes them; false: --flat
  bool portableNames = false;  // --portable-names
  bool keepDates = true;       // the backup's dates; false: every entry takes `startTime`
  bool skipDamaged = false;    // leave out files whose data could not all be read
  bool readLimit = true;       // the run reads at most four times the backup (ReadBudget)
  std::int64_t startTime = 0;  // the date of entries whose date is not known
};

class TarRun {
 public:
  TarRun(const Catalogue& catalogue, const BkfFile& bkfFile, TarWriter& writer, const StopToken& stop,
         TarOptions options);

  // Adds file `fileIndex` (below the catalogue's file count): the entries of
  // its folders not written yet, then its own. The result's path is its path
  // in the archive. WriteFailed: the stream failed and the run is over (the
  // writer says why). Stopped: the stop came; nothing of the file was written,
  // or (InsideEntry()) the stream was given up inside its data.
  SaveResult AddFile(std::uint64_t fileIndex);
  // Whether the stream was given up inside an entry: it ends there, without
  // the end of the archive.
  bool InsideEntry() const { return insideEntry_; }
  // The names the run gives.
  NameForm Names() const { return options_.portableNames ? NameForm::Portable : NameForm::AsStored; }

 private:
  SaveResult Add(std::uint64_t fileIndex);
  // Learns the size of the prepared data of file `fileIndex`, spending its
  // reads from the budget; nullopt, with the result settled, when the file is
  // not to be written.
  std::optional<std::uint64_t> EntrySize(const PreparedData& data, SaveResult& result);
  // The entries of the output folders on the way to `claimed`'s file that are
  // not written yet, from the top down.
  bool AddFolders(std::uint64_t catalogueFolder, const RecoveryLayout::Claimed& claimed);
  bool FolderWritten(std::uint64_t folder) const {
    return folder == 0 || (folder < folderWritten_.size() && folderWritten_[folder] != 0);
  }
  std::int64_t DateOr(std::optional<std::int64_t> date) const {
    return options_.keepDates && date ? *date : options_.startTime;
  }

  const Catalogue& catalogue_;
  const BkfFile& bkfFile_;
  TarWriter& writer_;
  const StopToken& stop_;
  TarOptions options_;
  RecoveryLayout layout_;
  // The archive takes every name but one with a backslash: an extractor on
  // Windows would read "..\..\x" as a path. Such a name is refused, and the
  // layout gives it its portable form, with a line that says so.
  class ArchiveNames : public TakesEveryName {
   public:
    Answer PlaceFolder(std::uint64_t, const std::string& name, std::uint64_t) override { return Check(name); }
    Answer PlaceFile(std::uint64_t, const std::string& name) override { return Check(name); }
    int Error() const override { return EINVAL; }

   private:
    static Answer Check(const std::string& name) {
      return name.find('\\') == std::string::npos ? Answer::Made : Answer::Refused;
    }
  };
  ArchiveNames placer_;
  ReadBudget budget_;
  std::uint64_t handled_ = 0;  // files the run went through before its budget was spent
  std::vector<std::uint8_t> folderWritten_;  // by output folder
  bool insideEntry_ = false;
};

// The destination of a tar stream, open for writing.
struct TarOutput {
  int fd = -1;
  bool created = false;  // a file this run created (closed by its owner)
};

// Why `path` cannot take a tar stream, or an empty text: "-" (standard
// output) when that is a terminal; a path that exists as anything but a
// character device or a FIFO (a recovery never replaces a file).
std::string TarOutputProblem(const std::string& path);
// Opens `path` ("-": standard output) for the stream: a new file (mode 0644
// less the umask), or an existing character device or FIFO. Nullopt, with
// the reason in `error`, when it cannot be used.
std::optional<TarOutput> OpenTarOutput(const std::string& path, std::string& error);

}  // namespace ostrel::cli
