// What both scanners do to the catalogue: add tapes, sets, volumes, folders
// and files under the node the scan is in, and invent the placeholder tape,
// set and volume where the backup has lost the real ones, so that every file
// has a tape, a set and a volume above it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/bytes.h"
#include "base/stop_token.h"
#include "catalogue/catalogue.h"

namespace ostrel {

// Placeholder labels; each ends with one blank.
inline constexpr char16_t kTapeCreated[] = u"TAPE CREATED ";
inline constexpr char16_t kSetCreated[] = u"SET CREATED ";
inline constexpr char16_t kDummySetCreated[] = u"DUMY SET CREATED ";
inline constexpr char16_t kDummyVolume[] = u"DUMY VOLUME XX: ";

// The scan's note when folders would have nested too deep.
inline constexpr char kDepthCapNote[] =
    "folders would nest deeper than 512 levels (hostile or looping records): deeper tapes, sets and "
    "volumes start again at the top level, and deeper folders are not made";

// The scan's note when the backup names more folders than its size can hold.
inline constexpr char kFolderCapNote[] =
    "the backup names more folders than a backup of its size can hold (at most one for each 512 bytes, "
    "plus 1,024): no further folders are made, and the files of the rest go to the deepest folder that exists";

// The most folders a scan makes for a backup of `fileLength` bytes: a real
// DIRB block takes at least 512 bytes, so more is hostile, and would cost
// memory and folders on disk without bound.
inline constexpr std::uint64_t FolderLimit(std::uint64_t fileLength) { return fileLength / 512 + 1024; }

class CatalogueBuilder {
 public:
  CatalogueBuilder(Catalogue& catalogue, const StopToken& stop) : catalogue_(catalogue), stop_(stop) {}

  void AddTape(std::u16string_view name);
  // "SET <number> :<name>".
  void AddSet(std::uint16_t number, std::u16string_view name);
  void AddVolume(std::u16string_view label);
  // Walks the components of a DIRB's full path (already converted) and adds
  // the missing folders; the folder the path ends at takes the DIRB's date,
  // when it has one. Stops early when a stop is requested and `stoppable` is
  // set.
  void AddDirectoryPath(std::u16string_view converted, bool stoppable, std::optional<std::int64_t> modified);
  // The date of a DIRB naming the volume's root: the volume's folder takes it.
  void DateVolumeRoot(std::optional<std::int64_t> modified);
  // The placeholders a FILE block needs when no volume has been met.
  void MakeFilePlaceholders();
  void AppendFile(std::u16string_view name, std::uint16_t nameSize, std::uint64_t dataPosition,
                  std::uint64_t dataLength, std::optional<std::int64_t> modified);

  std::uint64_t FilesFound() const { return filesFound_; }
  // At most `limit` folder nodes, the root included (FolderLimit); set before
  // the first node is added.
  void SetFolderLimit(std::uint64_t limit) { folderLimit_ = limit; }
  // Whether a folder, tape, set or volume was not made for the limit.
  bool FolderCapped() const { return folderCapped_; }
  // Whether a tape, set, volume or folder would have nested deeper than
  // kMaxFolderDepth (hostile or looping records).
  bool DepthCapped() const { return depthCapped_; }

  // The DIRB name turned into a relative path: every NUL unit but one in the
  // last position becomes a backslash; the text ends at the first NUL left.
  static std::u16string ConvertDirectoryName(ByteView block, std::uint16_t offset, std::uint16_t size);

 private:
  // "TAPE CREATED " when no tape has been met; then "SET CREATED " when no
  // set has.
  void EnsureTape();
  void EnsureSet();
  // Adds a tape, set or volume below `parent`, or at the top level where it
  // would lie deeper than kMaxFolderDepth: looping records cannot nest
  // without bound.
  std::uint64_t AddWithin(std::u16string_view name, std::uint64_t parent);

  Catalogue& catalogue_;
  const StopToken& stop_;
  std::u16string pathPrefix_;  // "C:\" of the current volume
  bool tapeCreated_ = false, setCreated_ = false, volumeCreated_ = false;
  std::uint64_t currentNode_ = 0;
  std::uint64_t volumeNode_ = 0;
  std::uint64_t previousFileFolder_ = 0;
  std::uint64_t tapeNode_ = 0;
  std::uint64_t setNode_ = 0;
  std::uint64_t filesFound_ = 0;
  bool depthCapped_ = false;
  std::uint64_t folderLimit_ = kU64Max;
  bool folderCapped_ = false;
  // Whether the catalogue may take one more folder node; notes it when not.
  bool RoomForFolder();
};

}  // namespace ostrel
