#include "reader/save_files.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace ostrel {
namespace {

constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Twelve letters and digits for names no one else picks: the write test, and
// a replacement that is written before it takes the old file's place.
std::string RandomSuffix() {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[12] = {};
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    // Unique enough without randomness: O_EXCL settles any clash.
    std::uint64_t seed = static_cast<std::uint64_t>(::getpid()) * 0x9E3779B97F4A7C15u ^
                         reinterpret_cast<std::uintptr_t>(&seed);
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(seed >>= 5);
  }
  std::string out;
  for (unsigned char b : bytes) out += kAlphabet[b % (sizeof kAlphabet - 1)];
  return out;
}

// The mount type of the file system that holds `fd`, from the system's mount
// table ("ext4", "fuseblk", "fuse.sshfs", ...); empty when it is not listed.
std::string MountType(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return {};
  const std::string device =
      std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
  std::ifstream table("/proc/self/mountinfo");
  std::string line, type;
  // id parent major:minor root mount-point options [optional fields] - type source super-options
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string id, parent, numbers, field;
    fields >> id >> parent >> numbers;
    if (numbers != device) continue;
    while (fields >> field && field != "-") {
    }
    fields >> type;
  }
  return type;
}

// Whether a mount type from the mount table is one of the file systems
// Windows formats drives with: the kernel's drivers ("vfat", "msdos",
// "exfat", "ntfs", "ntfs3"), FUSE drivers mounted on a block device
// ("fuseblk", with a subtype or without: exfat-fuse sets none) and FUSE
// drivers of those file systems mounted on an image ("fuse.fusefat",
// "fuse.ntfs-3g", ...).
bool WindowsMountType(std::string_view type) {
  if (type == "fuseblk") return true;
  for (const std::string_view prefix : {"fuseblk.", "fuse."}) {
    if (type.starts_with(prefix)) {
      type.remove_prefix(prefix.size());
      break;
    }
  }
  for (const std::string_view windows : {"vfat", "msdos", "fat", "fusefat", "exfat", "ntfs", "ntfs3", "ntfs-3g"}) {
    if (type == windows) return true;
  }
  return false;
}

// What the destination's file system does with names. FAT, exFAT and NTFS
// refuse what Windows refuses and ignore case, whether the kernel's drivers
// or FUSE drivers mount them.
void DescribeFileSystem(Destination& d) {
  constexpr long kVfat = 0x4d44, kExfat = 0x2011BAB0, kNtfs = 0x5346544e, kNtfs3 = 0x7366746e;
  const int fd = d.folder.Get();
  d.fileSystem = MountType(fd);
  struct statfs fs {};
  if (::fstatfs(fd, &fs) != 0) return;
  const long type = static_cast<long>(fs.f_type);
  const bool windows =
      type == kVfat || type == kExfat || type == kNtfs || type == kNtfs3 || WindowsMountType(d.fileSystem);
  if (d.fileSystem.empty()) {
    d.fileSystem = type == kVfat ? "vfat" : type == kExfat ? "exfat" : type == kNtfs ? "ntfs" : "";
  }
  d.windowsNames = d.windowsNames || windows;
  // Windows reads these drives as ignoring case, whatever the Linux driver
  // does: names that differ only in case are numbered as one.
  d.ignoresCase = d.ignoresCase || d.windowsNames;
}

// A folder whose names are looked up ignoring case (ext4 and f2fs "casefold").
bool CaseFolding(int fd) {
#ifdef FS_CASEFOLD_FL
  int flags = 0;
  return ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL) != 0;
#else
  (void)fd;
  return false;
#endif
}

bool Refusal(int error) { return error == EINVAL || error == EILSEQ; }

// The FUSE drivers of drives formatted for Windows refuse a name they cannot
// store with ENOENT or EPERM rather than EINVAL.
bool Refusal(int error, bool windowsDrive) {
  return Refusal(error) || (windowsDrive && (error == ENOENT || error == EPERM));
}

// What a file is written under until it is complete, in its own folder:
// ".NAME.ostrel-XXXXXX.partial", NAME cut so that the whole stays a valid
// name. A name the file system refuses is mostly refused here already.
std::string PartialName(const std::string& name, const std::string& suffix) {
  static constexpr std::string_view kMiddle = ".ostrel-", kEnd = ".partial";
  const std::size_t room = kMaxComponentBytes - 1 - kMiddle.size() - suffix.size() - kEnd.size();
  std::string out = ".";
  out += name.size() <= room ? name : CutComponent(name, room);
  out += kMiddle;
  out += suffix;
  out += kEnd;
  return out;
}

}  // namespace

FolderHandle::~FolderHandle() {
  if (fd_ >= 0) ::close(fd_);
}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

int NameMaker::MakeFolder(int folder, const char* name) { return ::mkdirat(folder, name, 0755); }

int NameMaker::CreateFile(int folder, const char* name) {
  return ::openat(folder, name, kCreateFlags, 0644);
}

int NameMaker::MoveInto(int folder, const char* from, const char* to) {
  if (::renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0) return 0;
  // FUSE answers EINVAL for a rename with flags its driver lacks; a name the
  // file system refuses is refused again below.
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return -1;
  if (::linkat(folder, from, folder, to, 0) == 0) {
    ::unlinkat(folder, from, 0);
    return 0;
  }
  if (errno == EEXIST) return -1;
  // No hard links either (FAT, exFAT): the name is taken only when found
  // free. Another program creating it in the moment between loses its file.
  struct stat st {};
  if (::fstatat(folder, to, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
    return -1;
  }
  return ::renameat(folder, from, folder, to);
}

std::optional<Destination> PrepareDestination(const std::string& destination, std::string& error) {
  if (destination.empty()) {
    error = "no destination folder was given";
    return std::nullopt;
  }
  std::error_code ec;
  std::filesystem::create_directories(destination, ec);
  const int fd = ::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    const int openError = errno;
    // A symbolic link whose target does not exist: "File exists" would say
    // nothing of what is in the way.
    struct stat link {};
    struct stat target {};
    if (::lstat(destination.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && ::stat(destination.c_str(), &target) != 0) {
      error = "it is a symbolic link to something that does not exist";
    } else {
      error = ec ? "it cannot be created: " + ec.message()
                 : (openError == ENOTDIR ? std::string("it is not a folder") : std::strerror(openError));
    }
    return std::nullopt;
  }
  Destination out;
  out.path = destination;
  out.folder = FolderHandle(fd);
  // The only proof that files can be written there is writing one. Its name
  // holds a ':', which the file systems that follow Windows refuse: those get
  // portable names from the start, whatever they are mounted as.
  const std::string suffix = RandomSuffix();
  std::string probe = ".ostrel-write-test:" + suffix;
  int probeFd = ::openat(fd, probe.c_str(), kCreateFlags, 0600);
  if (probeFd < 0) {
    // Refused, however the driver says it (the FUSE drivers of FAT and exFAT
    // answer ENOENT or EPERM): when a plain name can be created, the drive
    // needs portable names; when it cannot, nothing can be written there.
    const int refused = errno;
    probe = ".ostrel-write-test-" + suffix;
    probeFd = ::openat(fd, probe.c_str(), kCreateFlags, 0600);
    if (probeFd < 0) errno = refused;
    out.windowsNames = probeFd >= 0;
  }
  if (probeFd < 0) {
    error = std::string("no file can be written in it: ") + std::strerror(errno);
    return std::nullopt;
  }
  ::close(probeFd);
  ::unlinkat(fd, probe.c_str(), 0);
  DescribeFileSystem(out);
  return out;
}

// ------------------------------------------------------------ the placer

// The layout's names made on disk: every folder is reached from the
// destination's descriptor one name at a time, never through a symbolic link,
// and every file is created new.
class DestinationPlacer : public NamePlacer {
 public:
  DestinationPlacer(const Destination& destination, const SaveOptions& options,
                    std::vector<BkfFile::Identity> readFiles)
      : root_(destination.folder.Get()),
        windowsDrive_(destination.windowsNames),
        maker_(options.maker != nullptr ? *options.maker : systemMaker_),
        existing_(options.existing),
        ask_(options.askExisting),
        readFiles_(std::move(readFiles)),
        suffixSeed_(SuffixSeed()) {
    nodes_.push_back({0, {}, destination.ignoresCase || CaseFolding(root_)});
  }
  ~DestinationPlacer() override {
    Discard();
    for (const auto& [id, fd] : open_) ::close(fd);
  }

  Answer PlaceFolder(std::uint64_t parent, const std::string& name, std::uint64_t id) override {
    const int parentFd = FolderFd(parent);
    if (parentFd < 0) return Fail(errno);
    bool made = true;
    if (maker_.MakeFolder(parentFd, name.c_str()) != 0) {
      if (errno != EEXIST) return Fail(errno, Refused(errno) ? Answer::Refused : Answer::Failed);
      made = false;
    }
    const int fd = ::openat(parentFd, name.c_str(), kFolderFlags);
    if (fd < 0) {
      // A symbolic link, a file, a FIFO: whatever holds the name and is not a
      // folder is never entered, and the folder takes the next number.
      return Fail(errno, errno == ENOTDIR || errno == ELOOP ? Answer::Taken : Answer::Failed);
    }
    if (nodes_.size() <= id) nodes_.resize(id + 1);
    nodes_[id] = {parent, name, nodes_[0].ignoresCase || CaseFolding(fd)};
    Remember(id, fd);
    if (made) madeFolders_.insert(id);
    return made ? Answer::Made : Answer::Existing;
  }

  Answer PlaceFile(std::uint64_t folder, const std::string& name) override {
    const int folderFd = FolderFd(folder);
    if (folderFd < 0) return Fail(errno);
    // Keeping both, the run learns that the name is taken when the complete
    // file cannot be renamed to it (that rename replaces nothing): there is
    // nothing to ask or decide before.
    if (existing_ == ExistingFiles::KeepBoth && !ask_) return CreatePartial(folder, folderFd, name, false);
    struct stat st {};
    if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) return Fail(errno, Refused(errno) ? Answer::Refused : Answer::Failed);
      return CreatePartial(folder, folderFd, name, false);
    }
    // Something holds the name. Only a plain file may be replaced, never one
    // this run made, and only by a rename once the new file is complete:
    // nothing is written through the old name.
    if (!S_ISREG(st.st_mode) || made_.count({st.st_dev, st.st_ino}) != 0) return Fail(EEXIST, Answer::Taken);
    if (ask_) existing_ = std::exchange(ask_, nullptr)(RelativePath(folder, name));
    if (existing_ == ExistingFiles::Stop) return Answer::Stop;
    if (existing_ == ExistingFiles::KeepBoth) return Fail(EEXIST, Answer::Taken);
    if (IsReadFile(st)) return Fail(EEXIST, Answer::Protected);
    return CreatePartial(folder, folderFd, name, true);
  }

  bool IgnoresCase(std::uint64_t folder) const override {
    return folder < nodes_.size() && nodes_[folder].ignoresCase;
  }
  int Error() const override { return error_; }

  // The file the last PlaceFile made (-1 when none).
  int FileFd() const { return file_.fd; }

  // Keeps that file: gives it its modification date (when known), closes it
  // and renames it to its name: over the file it replaces, or else only
  // while the name is free. Made when it is under its name; Taken (the name
  // was taken meanwhile) or Refused (the file system refuses the name) when
  // it is still under its temporary name, for MoveTo; Protected when the
  // file to replace has become the backup being read, and Failed (errno in
  // Error()) when closing or renaming failed: the file is removed then. The
  // folder's descriptor is still open: nothing is placed between a file and
  // its Keep or Discard.
  Answer Keep(std::optional<std::int64_t> modified) {
    if (file_.fd < 0) return Fail(EBADF);
    // A date the file system cannot hold leaves the file with the current time.
    if (modified) SetModified(file_.fd, *modified);
    if (::close(std::exchange(file_.fd, -1)) != 0) {
      const int e = errno;
      Discard();
      return Fail(e);
    }
    file_.pending = true;
    return MoveTo(file_.name);
  }

  // Renames the kept file, still under its temporary name, to `name` in its
  // folder; answers as Keep does.
  Answer MoveTo(const std::string& name) {
    if (!file_.pending) return Fail(EBADF);
    const int folderFd = FolderFd(file_.folder);
    if (folderFd < 0) {
      const int e = errno;
      Discard();
      return Fail(e);
    }
    int moved = 0;
    if (file_.replace) {
      struct stat st {};
      if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && IsReadFile(st)) {
        Discard();
        return Fail(EEXIST, Answer::Protected);
      }
      moved = ::renameat(folderFd, file_.temp.c_str(), folderFd, name.c_str());
    } else {
      moved = maker_.MoveInto(folderFd, file_.temp.c_str(), name.c_str());
    }
    if (moved == 0) {
      file_ = {};
      error_ = 0;
      return Answer::Made;
    }
    const int e = errno;
    if (!file_.replace && e == EEXIST) return Fail(e, Answer::Taken);
    if (!file_.replace && Refused(e)) return Fail(e, Answer::Refused);
    Discard();
    return Fail(e);
  }

  // Gives output folder `id` the date `modified`, when this run made it: a
  // folder the destination held already keeps its own.
  void DateFolder(std::uint64_t id, std::int64_t modified) {
    if (madeFolders_.count(id) == 0) return;
    const int fd = FolderFd(id);
    if (fd >= 0) SetModified(fd, modified);
  }

  // Removes the file the last PlaceFile made, and only it, and closes it.
  void Discard() {
    if (file_.fd < 0 && !file_.pending) return;
    RemoveOwn(FolderFd(file_.folder));
    if (file_.fd >= 0) ::close(file_.fd);
    made_.erase(file_.id);
    file_ = {};
  }

 private:
  using FileId = std::pair<dev_t, ino_t>;
  static void SetModified(int fd, std::int64_t modified) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(modified), 0}};
    ::futimens(fd, times);
  }
  struct Node {
    std::uint64_t parent = 0;
    std::string name;
    bool ignoresCase = false;
  };
  struct Current {
    int fd = -1;
    std::uint64_t folder = 0;
    std::string name;
    std::string temp;      // its name until it is complete
    FileId id{};
    bool replace = false;  // it replaces the file under `name`
    bool pending = false;  // closed, complete, still under `temp`
  };

  bool Refused(int error) const { return Refusal(error, windowsDrive_); }

  bool IsReadFile(const struct stat& st) const {
    const BkfFile::Identity id{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return std::find(readFiles_.begin(), readFiles_.end(), id) != readFiles_.end();
  }

  static std::uint64_t SuffixSeed() {
    std::uint64_t seed = 0;
    if (::getrandom(&seed, sizeof seed, 0) != static_cast<ssize_t>(sizeof seed)) {
      seed = static_cast<std::uint64_t>(::getpid()) * 0x9E3779B97F4A7C15u ^ reinterpret_cast<std::uintptr_t>(&seed);
    }
    return seed;
  }

  // Six letters and digits no other file of the folder is likely to have:
  // one random number for the run, stepped for each file. O_EXCL settles
  // any clash.
  std::string NextSuffix() {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::uint64_t v = (suffixSeed_ += 0x9E3779B97F4A7C15u) * 0xBF58476D1CE4E5B9u;
    std::string out(6, 'x');
    for (char& c : out) {
      c = kAlphabet[(v >> 32) % (sizeof kAlphabet - 1)];
      v *= 0x94D049BB133111EBu;
      v ^= v >> 29;
    }
    return out;
  }

  // Creates the file that is to take `name` in `folder` under its temporary
  // name: Made, or Replaced when it is to replace the file under `name`.
  Answer CreatePartial(std::uint64_t folder, int folderFd, const std::string& name, bool replace) {
    for (int tries = 0; tries < 16; ++tries) {
      std::string temp = PartialName(name, NextSuffix());
      const int fd = maker_.CreateFile(folderFd, temp.c_str());
      if (fd >= 0) {
        Opened(fd, folder, name, std::move(temp), replace);
        return replace ? Answer::Replaced : Answer::Made;
      }
      if (errno != EEXIST) return Fail(errno, Refused(errno) ? Answer::Refused : Answer::Failed);
    }
    return Fail(EEXIST);
  }

  std::string RelativePath(std::uint64_t folder, const std::string& name) const {
    std::string path = name;
    for (std::uint64_t f = folder; f != 0 && f < nodes_.size(); f = nodes_[f].parent) path = nodes_[f].name + "/" + path;
    return path;
  }

  Answer Fail(int error, Answer answer = Answer::Failed) {
    error_ = error;
    return answer;
  }

  void Opened(int fd, std::uint64_t folder, const std::string& name, std::string temp, bool replace) {
    struct stat st {};
    ::fstat(fd, &st);
    file_ = {fd, folder, name, std::move(temp), {st.st_dev, st.st_ino}, replace, false};
    made_.insert(file_.id);
  }

  // Unlinks the current file's name in `folderFd` when it still names the
  // file this run created: someone may have put something else there since.
  void RemoveOwn(int folderFd) {
    const std::string& name = file_.temp;
    struct stat st {};
    if (folderFd >= 0 && ::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        FileId{st.st_dev, st.st_ino} == file_.id) {
      ::unlinkat(folderFd, name.c_str(), 0);
    }
  }

  // Output folder `id`'s descriptor, opened again from its parent's when it
  // has been closed: at most kMaxOpen folders are held open at once.
  int FolderFd(std::uint64_t id) {
    if (id == 0) return root_;
    const auto held = open_.find(id);
    if (held != open_.end()) return held->second;
    if (id >= nodes_.size()) {
      errno = ENOENT;
      return -1;
    }
    const int parentFd = FolderFd(nodes_[id].parent);
    if (parentFd < 0) return -1;
    const int fd = ::openat(parentFd, nodes_[id].name.c_str(), kFolderFlags);
    if (fd >= 0) Remember(id, fd);
    return fd;
  }

  void Remember(std::uint64_t id, int fd) {
    constexpr std::size_t kMaxOpen = 64;
    if (open_.size() >= kMaxOpen) {
      for (const auto& [held, heldFd] : open_) ::close(heldFd);
      open_.clear();
    }
    open_[id] = fd;
  }

  static inline NameMaker systemMaker_;
  const int root_;
  const bool windowsDrive_;
  NameMaker& maker_;
  ExistingFiles existing_;
  std::function<ExistingFiles(const std::string&)> ask_;
  const std::vector<BkfFile::Identity> readFiles_;  // never replaced
  std::uint64_t suffixSeed_;
  std::vector<Node> nodes_;  // by output folder; 0 is the destination
  std::unordered_map<std::uint64_t, int> open_;
  std::set<FileId> made_;  // the files this run made: never taken for the user's
  std::unordered_set<std::uint64_t> madeFolders_;  // the output folders this run made
  Current file_;
  int error_ = 0;
};

// ------------------------------------------------------------------ the run

namespace {

// The files a run must never replace: the backup it reads, and those the
// caller names.
std::vector<BkfFile::Identity> ReadFiles(const BkfFile& bkfFile, const SaveOptions& options) {
  std::vector<BkfFile::Identity> out = options.readFiles;
  if (const auto backup = bkfFile.FileIdentity()) out.push_back(*backup);
  return out;
}

}  // namespace

SaveRun::SaveRun(const Catalogue& catalogue, const BkfFile& bkfFile, Destination destination,
                 bool hierarchy, const StopToken& stop, SaveOptions options)
    : catalogue_(catalogue),
      bkfFile_(bkfFile),
      destination_(std::move(destination)),
      stop_(stop),
      options_(std::move(options)),
      form_(destination_.windowsNames ? NameForm::Required
            : options_.portableNames  ? NameForm::Portable
                                      : NameForm::AsStored),
      layout_(catalogue, hierarchy, form_),
      budget_(bkfFile.Size()),
      placer_(std::make_unique<DestinationPlacer>(destination_, options_, ReadFiles(bkfFile, options_))) {}

SaveRun::~SaveRun() { Finish(); }

void SaveRun::Finish() {
  if (finished_) return;
  finished_ = true;
  if (!options_.keepDates) return;
  // Setting a folder's time changes no other folder's, and no file is
  // written after this: the order does not matter.
  for (const auto& [catalogueFolder, outputFolder] : layout_.OutputFolders()) {
    if (const auto date = catalogue_.Dates().Folder(catalogueFolder)) placer_->DateFolder(outputFolder, *date);
  }
}

std::optional<std::int64_t> SaveRun::FileDate(std::uint64_t fileIndex) const {
  return options_.keepDates ? catalogue_.Dates().File(fileIndex) : std::nullopt;
}

// A file whose data was copied: kept whole, kept with what could not be
// read said, or removed (a write error, Stop, unreadable data the user
// leaves out, or a file that could not be completed).
void SaveRun::SettleExtracted(SaveResult& result, const ExtractStats& stats, const std::function<void()>& dropFile,
                              const std::function<std::optional<std::string>()>& keepFile) {
  result.checksum = stats.checksum;
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
  } else if (stats.damage.unreadableBytes != 0 && skipUnreadable_) {
    // Decided before the file is kept: kept, it may already have
    // replaced the one the destination held.
    dropFile();
    result.unreadableBytes = stats.damage.unreadableBytes;
    result.cutShort = stats.cutShort;
    result.status = SaveStatus::NotRecovered;
    result.reason = UnreadableDataText(stats.damage) + "; left out";
  } else if (std::optional<std::string> whyNot = keepFile()) {
    dropFile();
    result.status = SaveStatus::WriteFailed;
    result.reason = std::move(*whyNot) + "; it was removed";
  } else {
    result.status = SaveStatus::Saved;
    result.unreadableBytes = stats.damage.unreadableBytes;
    result.cutShort = stats.cutShort;
    if (std::string missing = MissingDataText(stats); !missing.empty()) {
      result.status = SaveStatus::SavedIncomplete;
      result.reason = std::move(missing);
    }
  }
}

std::string ReadLimitText(std::uint64_t files) {
  return "the catalogue would read this backup's data more than " + std::to_string(ReadBudget::kTimesTheBackup) +
         " times over (hostile or looping records); stopped after " + std::to_string(files) +
         (files == 1 ? " file" : " files");
}

SaveResult WithinReadBudget(const ReadBudget& budget, std::uint64_t& handled,
                            const std::function<SaveResult()>& save) {
  SaveResult result;
  if (budget.Spent()) {
    result.status = SaveStatus::ReadLimit;
  } else {
    result = save();
  }
  if (result.status == SaveStatus::ReadLimit) {
    result.reason = ReadLimitText(handled);
  } else {
    ++handled;
  }
  return result;
}

std::optional<SaveResult> NothingToWrite(const FileNode& node) {
  if (node.dataPosition != 0) return std::nullopt;
  SaveResult result;
  result.outcome = ExtractOutcome::NoData;
  result.reason = OutcomeReason(ExtractOutcome::NoData);
  return result;
}

SaveResult SaveRun::SaveFile(std::uint64_t fileIndex, const ExtractProgress& progress) {
  return WithinReadBudget(budget_, handled_, [&] { return Save(fileIndex, progress); });
}

SaveResult SaveRun::Save(std::uint64_t fileIndex, const ExtractProgress& progress) {
  const FileNode& node = catalogue_.FileAt(fileIndex);
  if (auto none = NothingToWrite(node)) return std::move(*none);
  SaveResult result;
  RecoveryLayout::Claimed claimed = layout_.Claim(fileIndex, *placer_);
  result.changes = claimed.changes;
  if (claimed.path.empty()) {
    result.status =
        claimed.answer == NamePlacer::Answer::Stop ? SaveStatus::Stopped : SaveStatus::NotRecovered;
    result.reason = claimed.error;
    return result;
  }
  auto fullPath = [&] {
    result.path = destination_.path;
    for (const std::string& part : claimed.path) result.path += "/" + part;
  };
  fullPath();

  ExtractStats stats;
  const ExtractOutcome outcome = ExtractFileData(node, bkfFile_, placer_->FileFd(), std::nullopt,
                                                 stop_, &stats, progress, &budget_);
  result.outcome = outcome;
  result.bytes = stats.bytesWritten;
  auto dropFile = [&] {
    placer_->Discard();
    layout_.Release(claimed);
    // No file is left under the file's own name: only the folders' changes stand.
    std::erase_if(result.changes, [](const NameChange& c) { return !c.folder; });
  };
  // The complete file takes its name: the one claimed, or the next free one
  // when something took it meanwhile, or its portable form when the file
  // system refuses it. Nullopt when it has its name, else why not.
  auto keepFile = [&]() -> std::optional<std::string> {
    using Answer = NamePlacer::Answer;
    const Answer kept = placer_->Keep(FileDate(fileIndex));
    if (kept == Answer::Made) return std::nullopt;
    if (kept == Answer::Taken || kept == Answer::Refused) {
      if (layout_.Reclaim(fileIndex, claimed, kept, *placer_,
                          [&](const std::string& name) { return placer_->MoveTo(name); })) {
        fullPath();
        result.changes = claimed.changes;
        return std::nullopt;
      }
      return claimed.error;
    }
    if (kept == Answer::Protected) return result.path + " is the backup being read; not replaced";
    return std::string("the file could not be completed: ") + std::strerror(placer_->Error());
  };
  if (stats.overBudget) {
    // SaveFile says why; nothing of the file is left.
    dropFile();
    result.status = SaveStatus::ReadLimit;
    result.outcome.reset();
    result.bytes = 0;
    return result;
  }
  switch (outcome) {
    case ExtractOutcome::Extracted:
      SettleExtracted(result, stats, dropFile, keepFile);
      break;
    case ExtractOutcome::Empty:
      if (std::optional<std::string> whyNot = keepFile()) {
        dropFile();
        result.status = SaveStatus::WriteFailed;
        result.reason = std::move(*whyNot);
      } else {
        result.status = SaveStatus::Saved;
        result.reason = OutcomeReason(outcome);
      }
      break;
    case ExtractOutcome::Continuation:
    case ExtractOutcome::Split:
    case ExtractOutcome::NoData:
    case ExtractOutcome::CannotCreate:
      // Nothing of it is recovered: the file this run made for it goes.
      dropFile();
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
