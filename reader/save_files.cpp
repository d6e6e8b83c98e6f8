#include "reader/save_files.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace ostrel {

bool PrepareDestination(const std::string& destination, std::string& error) {
  namespace fs = std::filesystem;
  if (destination.empty()) {
    error = "no destination folder was given";
    return false;
  }
  std::error_code ec;
  fs::create_directories(destination, ec);
  std::error_code statError;
  if (!fs::is_directory(destination, statError)) {
    error = ec ? "it cannot be created: " + ec.message()
               : (statError ? statError.message() : std::string("it is not a folder"));
    return false;
  }
  // The only proof that files can be written there is writing one.
  std::string probe = destination + "/.ostrel-write-test-XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) {
    error = std::string("no file can be written in it: ") + std::strerror(errno);
    return false;
  }
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

SaveRun::SaveRun(const Catalogue& catalogue, const BkfFile& bkfFile, std::string destination,
                 bool hierarchy, const std::atomic<int>& processRunning)
    : catalogue_(catalogue),
      bkfFile_(bkfFile),
      destination_(std::move(destination)),
      running_(processRunning),
      layout_(catalogue, hierarchy) {}

SaveResult SaveRun::SaveFile(std::uint64_t fileIndex, const ExtractProgress& progress) {
  SaveResult result;
  const std::vector<std::string> relative = layout_.Claim(fileIndex);
  std::string error;
  const std::optional<std::string> path = PrepareOutputPath(destination_, relative, error);
  if (!path) {
    layout_.Release(relative);
    result.reason = error;
    return result;
  }
  result.path = *path;
  ExtractStats stats;
  const ExtractOutcome outcome = ExtractFileData(catalogue_.FileAt(fileIndex), bkfFile_, *path,
                                                 std::nullopt, running_, &stats, progress);
  result.outcome = outcome;
  result.bytes = stats.bytesWritten;
  auto dropFile = [&] {
    ::unlink(path->c_str());
    layout_.Release(relative);
  };
  switch (outcome) {
    case ExtractOutcome::Extracted:
      if (stats.systemError != 0) {
        dropFile();
        result.status = SaveStatus::WriteFailed;
        result.reason = "writing failed after " + std::to_string(stats.bytesWritten) +
                        " bytes: " + std::strerror(stats.systemError) +
                        "; the incomplete file was removed";
      } else if (stats.stopped) {
        dropFile();
        result.status = SaveStatus::Stopped;
        result.reason = "stopped before the file was complete; the incomplete file was removed";
      } else {
        result.status = SaveStatus::Saved;
        result.unreadableBytes = stats.damage.unreadableBytes;
        result.cutShort = stats.cutShort;
        if (result.unreadableBytes != 0 && skipUnreadable_) {
          dropFile();
          result.status = SaveStatus::NotRecovered;
          result.reason = UnreadableDataText(stats.damage) + "; left out";
        } else if (std::string missing = MissingDataText(stats); !missing.empty()) {
          result.status = SaveStatus::SavedIncomplete;
          result.reason = std::move(missing);
        }
      }
      break;
    case ExtractOutcome::Empty:
      result.status = SaveStatus::Saved;
      result.reason = OutcomeReason(outcome);
      break;
    case ExtractOutcome::CannotCreate:
      layout_.Release(relative);
      result.reason = std::string(OutcomeReason(outcome)) + ": " + std::strerror(stats.systemError);
      break;
    case ExtractOutcome::Continuation:
    case ExtractOutcome::Split:
      // ExtractFileData leaves an empty file behind; nothing of it is recovered.
      dropFile();
      result.reason = OutcomeReason(outcome);
      break;
    case ExtractOutcome::NoData:
      layout_.Release(relative);
      result.reason = OutcomeReason(outcome);
      break;
  }
  return result;
}

std::u16string CataloguePath(const Catalogue& catalogue, std::uint64_t fileIndex) {
  const FileNode& file = catalogue.FileAt(fileIndex);
  return catalogue.Tree().NodePath(file.parent) + std::u16string(file.name);
}

}  // namespace ostrel
