// Where recovered files go: safe names and the folder hierarchy below a
// destination folder, shared by the command-line tool and the desktop
// program's save and search dialogs.
//
// Every name in a BKF file is untrusted. A name becomes one path component in
// UTF-8 (unpaired surrogates as U+FFFD): '/' and NUL become '_', an empty
// name, "." and ".." become "_", and a name longer than 255 bytes is cut at a
// character boundary, keeping its extension. Folder paths come from the
// catalogue (the names from below the root down to the file's folder); no
// component can climb out of the destination.
//
// Where a name goes on disk is settled with the destination itself (a
// NamePlacer): a name the destination holds already is never reused for a
// file (the next free number is taken), an existing folder is merged into,
// and a name the destination's file system refuses is retried in its
// portable form.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "catalogue/catalogue.h"

namespace ostrel {

inline constexpr std::size_t kMaxComponentBytes = 255;

// One name from a BKF file as a safe path component: '/', NUL and the other
// control characters (C0, DEL and C1) become '_', "", "." and ".." become "_", and the name
// is cut to 255 bytes (CutComponent).
std::string SafeComponent(std::u16string_view name);

// `name` (UTF-8) cut to at most `max` bytes at a character boundary. The
// extension (from the last dot that is not the first byte, at most 32 bytes)
// is kept; only the part before it is shortened.
std::string CutComponent(std::string_view name, std::size_t max = kMaxComponentBytes);

// The n-th name for `name` in a folder: "report.txt", 2 -> "report (2).txt";
// cut like CutComponent so that the number always stays.
std::string NumberedName(std::string_view name, std::uint64_t n);

// The portable form of a safe component: a name every common file system,
// Windows' among them, takes. '<' '>' ':' '"' '\' '|' '?' '*' and control
// characters become '_', trailing dots and blanks go (a name left empty is
// "_"), and the names Windows keeps for devices (CON, PRN, AUX, NUL, COM1 to
// COM9, LPT1 to LPT9, in any letter case, alone or before a dot) get a
// leading '_'.
std::string PortableComponent(std::string_view safe);

// What PortableComponent changes in `safe`, in words for a report ("':'",
// "'?' and a trailing '.'", "the reserved name 'CON'"); empty when nothing.
std::string PortableChanges(std::string_view safe);

// `name` (UTF-8) with its letters in one case, for comparing names on a file
// system that ignores case ("Report.TXT" and "report.txt" are one name).
std::string FoldCase(std::string_view name);

// The safe components of one catalogue name, split at backslashes.
void AppendSafeComponents(std::u16string_view name, std::vector<std::string>& out);

// The safe folder components of catalogue folder `folder`: its path of names
// below the root, split at backslashes. Empty for the root.
std::vector<std::string> SafeFolderPath(const FolderTree& tree,
                                        std::uint64_t folder);

// True when every component is one a file system takes as a plain name inside
// its folder: not empty, not "." or "..", no '/' or NUL, at most 255 bytes.
bool StaysInside(const std::vector<std::string>& components);

// Wildcard matching over UTF-16 code units, case-sensitive: '*' matches any
// run of units (also none), '?' exactly one; the whole name must match.
bool WildcardMatch(std::u16string_view name, std::u16string_view pattern);

// The destination as the layout sees it: output folders by number (0 is the
// destination itself), each made or opened by name inside its parent. Saving
// answers from the file system; tests answer from a table.
class NamePlacer {
 public:
  enum class Answer {
    Made,      // a new folder or file was created under the name
    Existing,  // (folders) a folder of that name exists and is used as it is
    Replaced,  // (files) a file of that name exists and is to be replaced
    Taken,     // the name is held by something that is not to be used
    Refused,   // the file system does not take the name (EINVAL, EILSEQ)
    Failed,    // any other failure; Error() says which
    Stop,      // (files) the run is to end here; nothing was created
    Protected,  // (files) the name holds the backup being read: never replaced
  };
  virtual ~NamePlacer() = default;
  // Makes folder `name` in output folder `parent`, or opens the folder of that
  // name that exists there, as output folder `id`.
  virtual Answer PlaceFolder(std::uint64_t parent, const std::string& name, std::uint64_t id) = 0;
  // Creates file `name` in output folder `folder`. Whatever holds the name
  // already is never written through: Taken, or Replaced when the run
  // replaces existing files.
  virtual Answer PlaceFile(std::uint64_t folder, const std::string& name) = 0;
  // Whether output folder `folder` takes names that differ only in case as one.
  virtual bool IgnoresCase(std::uint64_t folder) const = 0;
  // errno of the last Refused or Failed answer.
  virtual int Error() const = 0;
};

// A destination that takes every name as it comes: a tar stream, or a layout
// worked out without a destination.
class TakesEveryName : public NamePlacer {
 public:
  Answer PlaceFolder(std::uint64_t, const std::string&, std::uint64_t) override { return Answer::Made; }
  Answer PlaceFile(std::uint64_t, const std::string&) override { return Answer::Made; }
  bool IgnoresCase(std::uint64_t) const override { return false; }
  int Error() const override { return 0; }
};

// A name that did not go to the destination as it was stored.
struct NameChange {
  bool folder = false;
  bool portable = false;  // made portable (refused by the destination, or asked for)
  bool existing = false;  // the destination held the name already: the next free number was taken
  bool replaced = false;  // an existing file of that name is replaced
  std::string message;    // "boot.ini exists; saved as boot.ini (2)", "saved 'C:' as 'C_' (...)"
};

// Which names a run gives the destination.
enum class NameForm {
  AsStored,     // the stored names; a name the destination refuses in its portable form
  Portable,     // portable names from the start, as asked for
  Required,     // portable names from the start: the destination refuses what Windows refuses
};

// The relative paths of the files of one recovery run. Names are unique per
// folder for the run: a name already given to a file or a folder of the same
// output folder gets " (2)", " (3)", ... before its extension, and so does a
// name the destination holds already. Folder nodes whose safe paths are equal
// share one output folder: an output folder's subfolders are kept by their
// parent's number and their safe name, and each catalogue folder is settled
// once per run.
class RecoveryLayout {
 public:
  // `hierarchy` false puts every file directly in the destination.
  RecoveryLayout(const Catalogue& catalogue, bool hierarchy, NameForm form = NameForm::AsStored);

  struct Claimed {
    std::vector<std::string> path;  // folders, then the file name; empty when it failed
    std::uint64_t folder = 0;       // the file's output folder
    NamePlacer::Answer answer = NamePlacer::Answer::Failed;  // Made or Replaced when placed
    std::vector<NameChange> changes;  // names changed on the way; a folder's only once per run
    std::string error;                // why it failed, in words
  };
  // Places file `fileIndex` (below the file count), and the folders on its
  // way, through `placer`, and claims the names for this run.
  Claimed Claim(std::uint64_t fileIndex, NamePlacer& placer);
  // The same against a destination that takes every name.
  std::vector<std::string> Claim(std::uint64_t fileIndex);
  // Gives a claimed file name back when no file was left under it.
  void Release(const Claimed& claimed);
  // Settles claimed file `fileIndex` under another name when its claimed one
  // could not be given to it once it was complete: `first` is Taken
  // (something took the name meanwhile: the next free number) or Refused (the
  // file system refused it: the portable form). `move` puts the file under a
  // name and answers like NamePlacer::PlaceFile; `placer` tells its errors.
  // False, with the reason in claimed.error, when no name could be given.
  bool Reclaim(std::uint64_t fileIndex, Claimed& claimed, NamePlacer::Answer first, NamePlacer& placer,
               const std::function<NamePlacer::Answer(const std::string&)>& move);
  // The output folder that holds output folder `folder` (0, the destination,
  // for the destination itself and for a folder not placed).
  std::uint64_t Parent(std::uint64_t folder) const;
  // The output folder of each catalogue folder placed so far (the one its
  // last name component made), by catalogue folder.
  const std::unordered_map<std::uint64_t, std::uint64_t>& OutputFolders() const { return outputFolders_; }

 private:
  enum class Kind : std::uint8_t { File, Folder, Foreign };
  struct Folder {
    std::uint64_t parent = 0;
    std::string name;  // its name on disk
    bool ignoresCase = false;
    std::unordered_map<std::string, Kind> names;                // names taken in it, by Key
    std::unordered_map<std::string, std::uint64_t> subfolders;  // safe name -> output folder
    std::unordered_map<std::string, std::uint64_t> lastNumber;  // by Key of the wanted name
  };
  std::string Key(const Folder& folder, std::string_view name) const;
  // The first name of `wanted` not taken in `folder`, taken as `kind`.
  std::string Take(Folder& folder, const std::string& wanted, Kind kind);
  using Answer = NamePlacer::Answer;
  // One name placed in `folder`: the first name of the safe name (or of its
  // portable form) that `make` answers Made, Existing or Replaced for, with
  // the next number after each Taken and the portable form after Refused.
  struct Placed {
    std::string name;
    Answer answer = Answer::Failed;
    std::string existed;                // the first name found held
    std::optional<NameChange> change;   // when the name is not the stored one
    std::string error;
  };
  // `existed` and `refused` carry what an earlier placing of the same name found.
  Placed Place(std::uint64_t folder, const std::string& safe, Kind kind, NamePlacer& placer,
               const std::function<Answer(const std::string&)>& make, std::string existed = {},
               bool refused = false);
  std::optional<std::uint64_t> OutputFolder(std::uint64_t catalogueFolder, NamePlacer& placer,
                                            Claimed& out);
  std::optional<std::uint64_t> PlaceFolder(std::uint64_t parent, const std::string& safe,
                                           NamePlacer& placer, Claimed& out);
  void PlaceFile(std::uint64_t folder, const std::string& safe, NamePlacer& placer, Claimed& out);
  std::vector<std::string> PathOf(std::uint64_t folder) const;
  // "Tape/C_/" for a folder below the destination, "" for the destination.
  std::string Prefix(std::uint64_t folder) const;

  const Catalogue& catalogue_;
  bool hierarchy_;
  NameForm form_;
  bool rootKnown_ = false;  // whether the destination's case rule has been asked
  std::vector<Folder> folders_;  // output folders by number
  std::unordered_map<std::uint64_t, std::uint64_t> outputFolders_;  // catalogue -> output folder
};

}  // namespace ostrel
