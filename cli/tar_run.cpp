#include "cli/tar_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_map>

namespace ostrel::cli {

namespace {

std::string Joined(const std::vector<std::string>& components, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count && i < components.size(); ++i) {
    if (i != 0) out += '/';
    out += components[i];
  }
  return out;
}

}  // namespace

TarRun::TarRun(const Catalogue& catalogue, const BkfFile& bkfFile, TarWriter& writer, const StopToken& stop,
               TarOptions options)
    : catalogue_(catalogue),
      bkfFile_(bkfFile),
      writer_(writer),
      stop_(stop),
      options_(options),
      layout_(catalogue, options.hierarchy, Names()),
      budget_(options.readLimit ? ReadBudget(bkfFile.Size()) : ReadBudget::Unlimited()) {}

SaveResult TarRun::AddFile(std::uint64_t fileIndex) {
  return WithinReadBudget(budget_, handled_, [&] { return Add(fileIndex); });
}

std::optional<std::uint64_t> TarRun::EntrySize(const PreparedData& data, SaveResult& result) {
  if (data.outcome != ExtractOutcome::Extracted) return 0;
  std::uint64_t size = data.PlainSize();
  std::uint64_t reads = size;
  if (data.compressed || options_.skipDamaged) {
    CountingSink measured;
    ExtractStats stats;
    const std::uint64_t before = budget_.Used();
    CopyFileData(data, bkfFile_, measured, stop_, stats, {}, &budget_);
    if (stats.overBudget) {
      result.status = SaveStatus::ReadLimit;
      return std::nullopt;
    }
    if (stats.stopped) {
      result.status = SaveStatus::Stopped;
      result.reason = "stopped before the file was written";
      return std::nullopt;
    }
    if (options_.skipDamaged && stats.damage.unreadableBytes != 0) {
      result.unreadableBytes = stats.damage.unreadableBytes;
      result.cutShort = stats.cutShort;
      result.reason = UnreadableDataText(stats.damage) + "; left out";
      return std::nullopt;
    }
    size = measured.Count();
    // The copy into the stream reads it all again.
    reads = budget_.Used() - before;
  }
  if (!budget_.Spend(reads)) {
    result.status = SaveStatus::ReadLimit;
    return std::nullopt;
  }
  return size;
}

SaveResult TarRun::Add(std::uint64_t fileIndex) {
  const FileNode& node = catalogue_.FileAt(fileIndex);
  if (auto none = NothingToWrite(node)) return std::move(*none);
  SaveResult result;
  const RecoveryLayout::Claimed claimed = layout_.Claim(fileIndex, placer_);
  result.changes = claimed.changes;
  if (claimed.path.empty()) {
    result.reason = claimed.error;
    return result;
  }
  result.path = Joined(claimed.path, claimed.path.size());
  // A file not written leaves its name free; only its folders' changes stand.
  auto leaveOut = [&](SaveStatus status) {
    layout_.Release(claimed);
    std::erase_if(result.changes, [](const NameChange& c) { return !c.folder; });
    result.status = status;
    if (status == SaveStatus::ReadLimit) result.outcome.reset();
    return result;
  };

  const PreparedData data = PrepareFileData(node, bkfFile_, std::nullopt, stop_, &budget_);
  result.outcome = data.outcome;
  if (data.overBudget) return leaveOut(SaveStatus::ReadLimit);
  if (data.outcome == ExtractOutcome::Continuation || data.outcome == ExtractOutcome::Split) {
    result.reason = OutcomeReason(data.outcome);
    return leaveOut(SaveStatus::NotRecovered);
  }
  const std::optional<std::uint64_t> size = EntrySize(data, result);
  if (!size) return leaveOut(result.status);
  if (stop_.StopRequested()) {
    result.reason = "stopped before the file was written";
    return leaveOut(SaveStatus::Stopped);
  }

  if (!AddFolders(node.parent, claimed) ||
      !writer_.BeginFile(result.path, *size, DateOr(catalogue_.Dates().File(fileIndex)))) {
    return leaveOut(SaveStatus::WriteFailed);
  }
  ExtractStats stats;
  if (data.outcome == ExtractOutcome::Extracted) CopyFileData(data, bkfFile_, writer_, stop_, stats);
  if (stats.systemError != 0) return leaveOut(SaveStatus::WriteFailed);
  if (stats.stopped) {
    // What is written stays written: the stream ends inside the entry, so
    // that whoever reads it sees that it was cut.
    writer_.Abandon();
    insideEntry_ = true;
    result.reason = "stopped inside the file; the tar stream ends in its data";
    return leaveOut(SaveStatus::Stopped);
  }
  if (!writer_.EndFile()) return leaveOut(SaveStatus::WriteFailed);

  result.bytes = *size;
  result.status = SaveStatus::Saved;
  result.unreadableBytes = stats.damage.unreadableBytes;
  result.cutShort = stats.cutShort;
  result.checksum = stats.checksum;
  if (data.outcome == ExtractOutcome::Empty) result.reason = OutcomeReason(data.outcome);
  std::string missing = MissingDataText(stats);
  if (writer_.Padded() != 0 || writer_.Dropped() != 0) {
    // A failing disk gave the data differently the second time.
    result.unreadableBytes = std::max<std::uint64_t>(result.unreadableBytes, 1);
    if (!missing.empty()) missing += "; ";
    missing += "its data read differently the second time: the entry keeps the first read's size of " +
               GroupDigits(*size) + " bytes (" +
               (writer_.Padded() != 0 ? GroupDigits(writer_.Padded()) + " bytes of zeros at its end)"
                                      : GroupDigits(writer_.Dropped()) + " bytes left off its end)");
  }
  if (!missing.empty()) {
    result.status = SaveStatus::SavedIncomplete;
    result.reason = std::move(missing);
  }
  return result;
}

bool TarRun::AddFolders(std::uint64_t catalogueFolder, const RecoveryLayout::Claimed& claimed) {
  std::vector<std::uint64_t> chain;  // the output folders to write, from the file's up
  for (std::uint64_t f = claimed.folder; !FolderWritten(f) && chain.size() < claimed.path.size();
       f = layout_.Parent(f)) {
    chain.push_back(f);
  }
  if (chain.empty()) return true;
  // Each folder entry takes the date of the catalogue folder it was made for
  // (the deepest, where several share it); a folder made only on the way
  // (the "Docs" of "Docs\2009") has none.
  std::unordered_map<std::uint64_t, std::int64_t> dates;
  const FolderTree& tree = catalogue_.Tree();
  const auto& outputs = layout_.OutputFolders();
  for (std::uint64_t f = catalogueFolder, steps = 0; f != 0 && f < tree.Count() && steps < tree.Count();
       f = tree.NodeAt(f).parent, ++steps) {
    const auto output = outputs.find(f);
    if (output == outputs.end() || FolderWritten(output->second)) break;
    if (const auto date = catalogue_.Dates().Folder(f)) dates.emplace(output->second, *date);
  }
  // chain[k] is component depth - 1 - k of the file's path.
  const std::size_t depth = claimed.path.size() - 1;
  for (std::size_t k = chain.size(); k-- > 0;) {
    const std::uint64_t folder = chain[k];
    const auto date = dates.find(folder);
    if (!writer_.AddFolder(Joined(claimed.path, depth - k),
                           DateOr(date == dates.end() ? std::nullopt : std::optional(date->second)))) {
      return false;
    }
    if (folderWritten_.size() <= folder) folderWritten_.resize(folder + 1, 0);
    folderWritten_[folder] = 1;
  }
  return true;
}

// ------------------------------------------------------------- the output

namespace {

bool Terminal(int fd) { return ::isatty(fd) != 0; }
bool DeviceOrFifo(mode_t mode) { return S_ISCHR(mode) || S_ISFIFO(mode); }
const char kTerminal[] = "a tar stream is not written to a terminal (redirect it, or name a file)";
const char kExists[] =
    "it exists, and a recovery never replaces a file (name a new file, '-' for standard output, or a FIFO "
    "or a device such as /dev/null)";

}  // namespace

std::string TarOutputProblem(const std::string& path) {
  if (path == "-") return Terminal(1) ? kTerminal : "";
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "";  // made new, or refused with its reason then
  if (!DeviceOrFifo(st.st_mode)) return kExists;
  return "";
}

std::optional<TarOutput> OpenTarOutput(const std::string& path, std::string& error) {
  TarOutput out;
  if (path == "-") {
    if (Terminal(1)) {
      error = kTerminal;
      return std::nullopt;
    }
    out.fd = 1;
    return out;
  }
  out.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0644);
  if (out.fd >= 0) {
    out.created = true;
    return out;
  }
  if (errno != EEXIST) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  // What exists may only be a device or a FIFO, also once it is open: it is
  // written to, never replaced.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !DeviceOrFifo(st.st_mode)) {
    error = kExists;
    return std::nullopt;
  }
  out.fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (out.fd < 0) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  if (::fstat(out.fd, &st) != 0 || !DeviceOrFifo(st.st_mode) || Terminal(out.fd)) {
    error = Terminal(out.fd) ? kTerminal : kExists;
    ::close(out.fd);
    return std::nullopt;
  }
  return out;
}

}  // namespace ostrel::cli
