// Where recovered files go: safe names and the folder hierarchy below a
// destination folder, shared by the command-line tool and the desktop
// program's save and search dialogs.
//
// Every name in a BKF file is untrusted. A name becomes one path component in
// UTF-8 (unpaired surrogates as U+FFFD): '/' and NUL become '_', an empty
// name, "." and ".." become "_", and a name longer than 255 bytes is cut at a
// character boundary, keeping its extension. Folder paths come from the
// catalogue (the names from below the root down to the file's folder); no
// component can climb out of the destination, and the folders are created one
// at a time, never through a symbolic link.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "catalogue/catalogue.h"

namespace ostrel {

inline constexpr std::size_t kMaxComponentBytes = 255;

// One name from a BKF file as a safe path component.
std::string SafeComponent(std::u16string_view name);

// `name` (UTF-8) cut to at most `max` bytes at a character boundary. The
// extension (from the last dot that is not the first byte, at most 32 bytes)
// is kept; only the part before it is shortened.
std::string CutComponent(std::string_view name, std::size_t max = kMaxComponentBytes);

// The n-th name for `name` in a folder: "report.txt", 2 -> "report (2).txt";
// cut like CutComponent so that the number always stays.
std::string NumberedName(std::string_view name, std::uint64_t n);

// The safe folder components of catalogue folder `folder`: its path of names
// below the root, split at backslashes. Empty for the root.
std::vector<std::string> SafeFolderPath(const CKorvaneBKFTreeVectorClass& tree,
                                        std::uint64_t folder);

// True when every component is one a file system takes as a plain name inside
// its folder: not empty, not "." or "..", no '/' or NUL, at most 255 bytes.
bool StaysInside(const std::vector<std::string>& components);

// Wildcard matching over UTF-16 code units, case-sensitive: '*' matches any
// run of units (also none), '?' exactly one; the whole name must match.
bool WildcardMatch(std::u16string_view name, std::u16string_view pattern);

// The relative paths of the files of one recovery run. Names are unique per
// folder for the run: a name already given to a file or a folder of the same
// output folder gets " (2)", " (3)", ... before its extension. Folder nodes
// whose safe paths are equal share one output folder.
class RecoveryLayout {
 public:
  // `hierarchy` false puts every file directly in the destination.
  RecoveryLayout(const Catalogue& catalogue, bool hierarchy);

  // The path of file `fileIndex` below the destination (folders, then the file
  // name), claimed for this run. `fileIndex` must be below the file count.
  std::vector<std::string> Claim(std::uint64_t fileIndex);
  // Gives a claimed file name back when no file was written under it.
  void Release(const std::vector<std::string>& path);

 private:
  enum class Kind : std::uint8_t { File, Folder };
  struct Folder {
    std::unordered_map<std::string, Kind> names;           // names taken in it
    std::unordered_map<std::string, std::string> folders;  // safe name -> name used
    std::unordered_map<std::string, std::uint64_t> lastNumber;
  };
  // The first free name of `wanted` in `folder`, taken as `kind`.
  std::string Take(Folder& folder, const std::string& wanted, Kind kind);
  const std::vector<std::string>& FolderPath(std::uint64_t folderIndex);

  const Catalogue& catalogue_;
  bool hierarchy_;
  std::map<std::string, Folder> folders_;  // by joined output path
  std::unordered_map<std::uint64_t, std::vector<std::string>> folderPaths_;
};

// Creates the folders of `relative` (all but its last component) below `root`,
// one at a time, each a real folder and not a symbolic link; answers the full
// path for the file, or nullopt with the reason in `error`.
std::optional<std::string> PrepareOutputPath(const std::string& root,
                                             const std::vector<std::string>& relative,
                                             std::string& error);

}  // namespace ostrel
