#include "catalogue/snapshot.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <memory>
#include <optional>
#include <vector>

#include "base/bytes.h"

namespace ostrel {
namespace {

constexpr std::uint8_t kFolderTag = 'T';
constexpr std::uint8_t kFileTag = 'F';
constexpr std::uint8_t kEndTag = 'E';

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string Hex(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

std::string Number(std::uint64_t v) { return std::to_string(v); }

// The system's words for the error of the call that has just failed, e.g.
// "No space left on device": a snapshot that cannot be saved says why.
std::string SystemReason() { return std::generic_category().message(errno); }

// What a cleared process-running flag makes of a write or a read.
const std::string kStopped = "stopped";

// Hands `progress` the count done whenever another thousandth of `total` is
// done: one comparison per record. Nothing without a total.
class PerMille {
 public:
  PerMille(const SnapshotProgress& progress, std::uint64_t total)
      : progress_(progress), total_(total), step_(total / 1000 > 0 ? total / 1000 : 1) {}
  void At(std::uint64_t done) {
    if (done < next_ || !progress_ || total_ == 0) return;
    progress_(done, total_);
    last_ = done;
    next_ = done + step_;
  }
  // All done: the last report says so.
  void End() {
    if (progress_ && total_ != 0 && last_ != total_) progress_(total_, total_);
  }

 private:
  const SnapshotProgress& progress_;
  std::uint64_t total_;
  std::uint64_t step_;
  std::uint64_t next_ = 0;
  std::uint64_t last_ = 0;
};

// ------------------------------------------------------------------- writing

class Out {
 public:
  void U8(std::uint8_t v) { bytes_.push_back(v); }
  void U16(std::uint16_t v) { Le(v, 2); }
  void U32(std::uint32_t v) { Le(v, 4); }
  void U64(std::uint64_t v) { Le(v, 8); }
  void Zeros(std::size_t n) { bytes_.insert(bytes_.end(), n, 0); }
  // The name's units and one NUL unit.
  void Name(std::u16string_view name) {
    for (char16_t u : name) U16(static_cast<std::uint16_t>(u));
    U16(0);
  }
  // Hands the bytes gathered so far to `f`; false on a write error.
  bool Flush(std::FILE* f) {
    const bool ok = bytes_.empty() || std::fwrite(bytes_.data(), 1, bytes_.size(), f) == bytes_.size();
    bytes_.clear();
    return ok;
  }
  std::size_t Pending() const { return bytes_.size(); }

 private:
  void Le(std::uint64_t v, int width) {
    for (int i = 0; i < width; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  std::vector<std::uint8_t> bytes_;
};

// M for a name: its bytes and the NUL unit, or 0 when that reaches the limit.
std::uint32_t NameBytes(std::u16string_view name) {
  if (name.size() >= kSnapshotNameLimit / 2) return 0;
  const auto m = static_cast<std::uint32_t>(2 * (name.size() + 1));
  return m < kSnapshotNameLimit ? m : 0;
}

void EndTag(Out& out) {
  out.U8(kEndTag);
  out.Zeros(kSnapshotTagSize - 1);
}

std::string WriteBody(const Catalogue& cat, std::u16string_view bkfPath, std::FILE* f,
                      const StopToken& stop, const SnapshotProgress& progress) {
  Out out;
  constexpr std::size_t kFlushAt = 256 * 1024;
  auto stopped = [&] { return stop.StopRequested(); };

  if (2 * (static_cast<std::uint64_t>(bkfPath.size()) + 1) > kSnapshotPathLimit) {
    return "the BKF path is longer than a snapshot can hold (" + Number(kSnapshotPathLimit) + " bytes)";
  }
  out.U32(static_cast<std::uint32_t>(2 * (bkfPath.size() + 1)));
  out.Name(bkfPath);

  const auto& tree = cat.Tree();
  const std::uint64_t records = tree.Count() + cat.FileCount();
  PerMille done(progress, records);
  for (std::uint64_t i = 0; i < tree.Count(); ++i) {
    if (stopped()) return kStopped;
    done.At(i);
    const FolderNode& n = tree.NodeAt(i);
    const std::uint32_t m = NameBytes(n.name);
    if (m == 0) return "the name of folder " + Number(i) + " is too long for a snapshot";
    out.U8(kFolderTag);
    out.U32(m);
    out.Zeros(4);  // reserved
    out.Zeros(4);  // name reference
    out.U64(n.parent);
    out.U64(n.firstChild);
    out.U64(n.nextSibling);
    out.U64(n.index);
    out.U64(n.firstFile);
    out.U64(n.lastFile);
    out.U8(n.checkState);
    out.U8(n.inTree);
    out.Name(n.name);
    if (out.Pending() >= kFlushAt && !out.Flush(f)) return "write error: " + SystemReason();
  }
  EndTag(out);

  for (std::uint64_t i = 0; i < cat.FileCount(); ++i) {
    if (stopped()) return kStopped;
    done.At(tree.Count() + i);
    const FileNode& n = cat.FileAt(i);
    const std::uint32_t m = NameBytes(n.name);
    if (m == 0) return "the name of file " + Number(i) + " is too long for a snapshot";
    out.U8(kFileTag);
    out.U32(m);
    out.Zeros(4);  // reserved
    out.Zeros(4);  // name reference
    out.U16(n.nameSize);
    out.U64(n.parent);
    out.U8(n.kind);
    out.U64(n.index);
    out.U64(n.dataPosition);
    out.U64(n.dataLength);
    out.U8(n.checkState);
    out.U8(n.inTree);
    out.Name(n.name);
    if (out.Pending() >= kFlushAt && !out.Flush(f)) return "write error: " + SystemReason();
  }
  EndTag(out);
  if (!out.Flush(f)) return "write error: " + SystemReason();
  done.End();
  return {};
}

// ------------------------------------------------------------------- reading

// Gives n bytes or nothing, and knows where it is.
class In {
 public:
  explicit In(std::FILE* f) : f_(f) {}
  // Reads exactly `n` bytes into `buffer` (resized); false when the file
  // ends first.
  bool Read(std::vector<std::uint8_t>& buffer, std::size_t n) {
    buffer.resize(n);
    const std::size_t got = n == 0 ? 0 : std::fread(buffer.data(), 1, n, f_);
    position_ += got;
    return got == n;
  }
  std::uint64_t Position() const { return position_; }

 private:
  std::FILE* f_;
  std::uint64_t position_ = 0;
};

// UTF-16LE units up to the first NUL unit (or all of them); an odd last byte
// is no unit.
std::u16string UnitsToNul(ByteView bytes) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto u = static_cast<char16_t>(bytes.U16(i).value_or(0));
    if (u == u'\0') break;
    text.push_back(u);
  }
  return text;
}

// One section's entries. `what` names them in messages ("folder", "file").
struct Section {
  const char* what;
  std::size_t recordSize;
};

std::string ReadBody(In& in, std::uint64_t size, const StopToken& stop, const SnapshotProgress& progress,
                     SnapshotReadResult& result) {
  PerMille done(progress, size);
  std::vector<std::uint8_t> buf;
  auto stopped = [&] { return stop.StopRequested(); };

  if (!in.Read(buf, 4)) return "the file ends inside the path block (at byte " + Number(in.Position()) + ")";
  const std::uint32_t n = ByteView(buf.data(), buf.size()).U32(0).value_or(0);
  if (n > kSnapshotPathLimit) {
    return "the path block claims " + Number(n) + " bytes; at most " + Number(kSnapshotPathLimit) +
           " are allowed";
  }
  if (!in.Read(buf, n)) {
    return "the file ends inside the BKF path (" + Number(n) + " bytes claimed, at byte 4)";
  }
  result.bkfPath = UnitsToNul(ByteView(buf.data(), buf.size()));

  auto& tree = result.catalogue.Tree();
  tree.RemoveAllNodes();
  result.catalogue.RemoveAllFiles();

  for (const Section section : {Section{"folder", kSnapshotFolderRecordSize},
                                Section{"file", kSnapshotFileRecordSize}}) {
    const bool folders = section.recordSize == kSnapshotFolderRecordSize;
    for (std::uint64_t entry = 0;; ++entry) {
      if (stopped()) return kStopped;
      const std::uint64_t at = in.Position();
      done.At(at);
      const std::string where = std::string(section.what) + " entry " + Number(entry) + " at byte " +
                                Number(at);
      if (!in.Read(buf, kSnapshotTagSize)) {
        return "the file ends inside the tag of " + where + " (no end tag of the " + section.what +
               " section)";
      }
      const ByteView tag(buf.data(), buf.size());
      // Only byte 0 of a tag ends a section; any other value starts an entry.
      if (tag.U8(0).value_or(0) == kEndTag) break;
      const std::uint32_t m = tag.U32(1).value_or(0);
      if (m >= kSnapshotNameLimit) {
        return "name too long: " + where + " claims a name of " + Number(m) + " bytes (limit " +
               Number(kSnapshotNameLimit - 1) + ")";
      }
      std::vector<std::uint8_t> record;
      if (!in.Read(record, section.recordSize)) return "the file ends inside the record of " + where;
      if (!in.Read(buf, m)) return "the file ends inside the name of " + where;
      const std::u16string name = UnitsToNul(ByteView(buf.data(), buf.size()));
      const ByteView r(record.data(), record.size());
      if (folders) {
        FolderNode node;
        node.parent = r.U64(4).value_or(kNone);
        node.firstChild = r.U64(12).value_or(kNone);
        node.nextSibling = r.U64(20).value_or(kNone);
        node.index = r.U64(28).value_or(kNone);
        node.firstFile = r.U64(36).value_or(kNone);
        node.lastFile = r.U64(44).value_or(kNone);
        node.checkState = r.U8(52).value_or(0);
        node.inTree = r.U8(53).value_or(0);
        tree.AppendStoredNode(node, name);
      } else {
        FileNode node;
        node.nameSize = r.U16(4).value_or(0);
        node.parent = r.U64(6).value_or(kNone);
        node.kind = r.U8(14).value_or(0);
        node.index = r.U64(15).value_or(kNone);
        node.dataPosition = r.U64(23).value_or(0);
        node.dataLength = r.U64(31).value_or(0);
        node.checkState = r.U8(39).value_or(0);
        node.inTree = r.U8(40).value_or(0);
        result.catalogue.AppendFile(node, name);
      }
    }
  }
  done.End();
  return CheckCatalogueLinks(result.catalogue);
}

bool IndexOk(std::uint64_t v, std::uint64_t count) { return v == kNone || v < count; }

// A scan gives each folder the run of files it added one after another: the
// runs never overlap, and every file in a run names that folder as its
// parent. A snapshot whose runs break either would make a listing print a
// file once for every folder that claims it. Each run must lie inside the
// file list (checked before).
std::string CheckFileRuns(const Catalogue& cat) {
  const auto& tree = cat.Tree();
  struct Run {
    std::uint64_t first, last, folder;
  };
  std::vector<Run> runs;
  for (std::uint64_t i = 0; i < tree.Count(); ++i) {
    const FolderNode& n = tree.NodeAt(i);
    if (n.firstFile != kNone) runs.push_back({n.firstFile, n.lastFile, i});
  }
  std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.first < b.first; });
  for (std::size_t k = 1; k < runs.size(); ++k) {
    if (runs[k].first <= runs[k - 1].last) {
      return "malformed catalogue: folders " + Number(runs[k - 1].folder) + " and " + Number(runs[k].folder) +
             " both claim file " + Number(runs[k].first) + " (their file runs overlap)";
    }
  }
  // The runs are disjoint: this visits each file once at most.
  for (const Run& run : runs) {
    for (std::uint64_t f = run.first; f <= run.last; ++f) {
      if (cat.FileAt(f).parent != run.folder) {
        return "malformed catalogue: file " + Number(f) + " lies in the file run of folder " + Number(run.folder) +
               " but names folder " + Number(cat.FileAt(f).parent) + " as its parent";
      }
    }
  }
  return {};
}

// A new file beside `path` for the snapshot to be written into, named
// "<path>.partial-" and six random letters and digits, and created with
// O_EXCL | O_NOFOLLOW: a file or a link someone planted under the name is
// never written through (the name is tried again), and the file renamed over
// `path` at the end is the one made here. Null with errno set when none can
// be made.
std::FILE* CreatePartial(const std::string& path, std::string& partial) {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int tries = 0; tries < 16; ++tries) {
    unsigned char bytes[6] = {};
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
      for (unsigned char& b : bytes) b = static_cast<unsigned char>(tries * 7 + (&b - bytes) * 13);
    }
    partial = path + ".partial-";
    for (unsigned char b : bytes) partial += kAlphabet[b % (sizeof kAlphabet - 1)];
    const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    if (std::FILE* f = ::fdopen(fd, "wb")) return f;
    const int error = errno;
    ::close(fd);
    ::unlink(partial.c_str());
    errno = error;
    return nullptr;
  }
  errno = EEXIST;
  return nullptr;
}

}  // namespace

SnapshotWriteResult WriteSnapshot(const Catalogue& catalogue, std::u16string_view bkfPath,
                                  const std::string& path, const StopToken& stop,
                                  const SnapshotProgress& progress) {
  SnapshotWriteResult result;
  std::string partial;
  FilePtr f(CreatePartial(path, partial));
  if (!f) {
    result.error = "cannot create '" + path + "': " + SystemReason();
    return result;
  }
  result.error = WriteBody(catalogue, bkfPath, f.get(), stop, progress);
  // The last buffered bytes reach the disk here, so a full disk may only show now.
  if (std::fclose(f.release()) != 0 && result.error.empty()) result.error = "write error: " + SystemReason();
  std::error_code ec;
  if (result.error.empty()) {
    std::filesystem::rename(partial, path, ec);
    if (ec) result.error = "cannot replace '" + path + "': " + ec.message();
  }
  if (!result.error.empty()) {
    result.stopped = result.error == kStopped;
    std::filesystem::remove(partial, ec);
    return result;
  }
  result.ok = true;
  return result;
}

SnapshotReadResult ReadSnapshot(const std::string& path, const StopToken& stop,
                                const SnapshotProgress& progress) {
  SnapshotReadResult result;
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    result.error = "'" + path + "' is a directory";
    return result;
  }
  // Non-blocking at first, so that a FIFO or a device given in the place of
  // a snapshot is refused at once instead of being waited on.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    result.error = "cannot open '" + path + "': " + SystemReason();
    return result;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    result.error = "'" + path + "' is not a regular file";
    return result;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  FilePtr f(flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 ? ::fdopen(fd, "rb") : nullptr);
  if (!f) {
    result.error = "cannot open '" + path + "': " + SystemReason();
    ::close(fd);
    return result;
  }
  In in(f.get());
  result.error = ReadBody(in, static_cast<std::uint64_t>(st.st_size), stop, progress, result);
  result.ok = result.error.empty();
  return result;
}

bool LooksLikeSnapshot(ByteView head) {
  const std::optional<std::uint32_t> n = head.U32(0);
  if (!n || *n < 2 || *n % 2 != 0 || *n > kSnapshotPathLimit) return false;
  const std::optional<std::uint16_t> lastUnit = head.U16(4 + std::size_t{*n} - 2);
  const std::optional<std::uint8_t> tag = head.U8(4 + std::size_t{*n});
  return lastUnit == 0 && (!tag || tag == kFolderTag || tag == kEndTag);
}

bool LooksLikeSnapshot(const std::string& path) {
  // Non-blocking, so that a FIFO given in the place of a file is not waited on.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat st {};
  std::vector<std::uint8_t> head;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    head.resize(4 + kSnapshotPathLimit + 1);
    std::size_t got = 0;
    while (got < head.size()) {
      const ssize_t r = ::pread(fd, head.data() + got, head.size() - got, static_cast<off_t>(got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += static_cast<std::size_t>(r);
    }
    head.resize(got);
  }
  ::close(fd);
  return LooksLikeSnapshot(ByteView(head.data(), head.size()));
}

std::string CheckCatalogueLinks(const Catalogue& cat) {
  const auto& tree = cat.Tree();
  const std::uint64_t folders = tree.Count();
  const std::uint64_t files = cat.FileCount();
  if (folders == 0) return "there is no root folder";

  for (std::uint64_t i = 0; i < folders; ++i) {
    const FolderNode& n = tree.NodeAt(i);
    const std::string which = "folder " + Number(i);
    if (n.index != i) return which + " holds the index " + Hex(n.index);
    if (!IndexOk(n.parent, folders) || !IndexOk(n.firstChild, folders) ||
        !IndexOk(n.nextSibling, folders)) {
      return which + " links to a folder that does not exist";
    }
    if ((i == 0) != (n.parent == kNone)) {
      return i == 0 ? "the root names a parent" : which + " has no parent";
    }
    const bool noFiles = n.firstFile == kNone && n.lastFile == kNone;
    if (!noFiles && !(n.firstFile < files && n.lastFile < files && n.firstFile <= n.lastFile)) {
      return which + " names files " + Hex(n.firstFile) + " to " + Hex(n.lastFile) + " of " +
             Number(files);
    }
    if (n.checkState > kUnchecked || n.inTree > 1) return which + " has an invalid state byte";
  }

  // The folders must form one tree: walking the child chains from the root
  // reaches every folder exactly once, each in the chain of its own parent.
  // No folder lies deeper than a scan nests them.
  std::vector<std::uint8_t> reached(folders, 0);
  std::vector<std::pair<std::uint64_t, std::uint64_t>> pending{{0, 0}};  // folder, depth
  reached[0] = 1;
  std::uint64_t count = 1;
  while (!pending.empty()) {
    const auto [p, depth] = pending.back();
    pending.pop_back();
    for (std::uint64_t c = tree.NodeAt(p).firstChild; c != kNone; c = tree.NodeAt(c).nextSibling) {
      if (reached[c]) return "folder " + Number(c) + " is linked twice (a cycle in the child chains)";
      if (tree.NodeAt(c).parent != p) {
        return "folder " + Number(c) + " is a child of folder " + Number(p) + " but names folder " +
               Number(tree.NodeAt(c).parent) + " as its parent";
      }
      if (depth + 1 > kMaxFolderDepth) {
        return "folder " + Number(c) + " lies deeper than " + Number(kMaxFolderDepth) + " levels";
      }
      reached[c] = 1;
      ++count;
      pending.emplace_back(c, depth + 1);
    }
  }
  if (count != folders) {
    for (std::uint64_t i = 0; i < folders; ++i) {
      if (!reached[i]) return "folder " + Number(i) + " cannot be reached from the root";
    }
  }

  for (std::uint64_t i = 0; i < files; ++i) {
    const FileNode& f = cat.FileAt(i);
    const std::string which = "file " + Number(i);
    if (f.index != i) return which + " holds the index " + Hex(f.index);
    if (f.parent >= folders) return which + " names the folder " + Hex(f.parent) + ", which does not exist";
    if (f.kind != 'F') return which + " is not of kind 'F'";
    if (f.checkState > kUnchecked || f.inTree > 1) return which + " has an invalid state byte";
  }
  return CheckFileRuns(cat);
}

}  // namespace ostrel
