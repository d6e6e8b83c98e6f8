#include "reader/recovery_paths.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "reader/text.h"

namespace ostrel {
namespace {

constexpr std::size_t kMaxExtensionBytes = 32;

// The extension's start (its dot), or the name's size when it has none worth
// keeping.
std::size_t ExtensionStart(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || name.size() - dot > kMaxExtensionBytes)
    return name.size();
  return dot;
}

// The longest prefix of `text` of at most `max` bytes that ends at a UTF-8
// character boundary.
std::string_view Prefix(std::string_view text, std::size_t max) {
  if (text.size() <= max) return text;
  std::size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return text.substr(0, n);
}

std::string Join(const std::vector<std::string>& parts, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count && i < parts.size(); ++i) {
    if (i) out += '/';
    out += parts[i];
  }
  return out;
}

}  // namespace

std::string CutComponent(std::string_view name, std::size_t max) {
  if (name.size() <= max) return std::string(name);
  const std::size_t dot = ExtensionStart(name);
  const std::string_view ext = name.substr(dot);
  std::string out(Prefix(name.substr(0, dot), max - ext.size()));
  out += ext;
  return out;
}

std::string SafeComponent(std::u16string_view name) {
  std::string out = Utf16ToUtf8(name);
  for (char& c : out) {
    if (c == '/' || c == '\0') c = '_';
  }
  if (out.empty() || out == "." || out == "..") return "_";
  return CutComponent(out);
}

std::string NumberedName(std::string_view name, std::uint64_t n) {
  const std::size_t dot = ExtensionStart(name);
  const std::string suffix = " (" + std::to_string(n) + ")";
  const std::string_view ext = name.substr(dot);
  std::string out(Prefix(name.substr(0, dot), kMaxComponentBytes - ext.size() - suffix.size()));
  out += suffix;
  out += ext;
  return out;
}

std::vector<std::string> SafeFolderPath(const CKorvaneBKFTreeVectorClass& tree,
                                        std::uint64_t folder) {
  const std::u16string path = tree.NodePath(folder);
  std::vector<std::string> out;
  // Every name is followed by a backslash: the text after the last one is
  // not a component.
  std::size_t start = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == u'\\') {
      out.push_back(SafeComponent(std::u16string_view(path).substr(start, i - start)));
      start = i + 1;
    }
  }
  return out;
}

bool StaysInside(const std::vector<std::string>& components) {
  for (const std::string& c : components) {
    if (c.empty() || c == "." || c == ".." || c.size() > kMaxComponentBytes) return false;
    if (c.find('/') != std::string::npos || c.find('\0') != std::string::npos) return false;
  }
  return true;
}

bool WildcardMatch(std::u16string_view name, std::u16string_view pattern) {
  std::size_t n = 0, p = 0;
  std::size_t star = std::u16string_view::npos;  // pattern position after the last '*'
  std::size_t mark = 0;                          // name position that '*' matched up to
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      star = ++p;
      mark = n;
    } else if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (star != std::u16string_view::npos) {
      // Let the last '*' take one more unit and try again from there.
      p = star;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

// ------------------------------------------------------------ RecoveryLayout

RecoveryLayout::RecoveryLayout(const Catalogue& catalogue, bool hierarchy)
    : catalogue_(catalogue), hierarchy_(hierarchy) {}

std::string RecoveryLayout::Take(Folder& folder, const std::string& wanted, Kind kind) {
  std::string name = wanted;
  if (folder.names.count(name)) {
    std::uint64_t& n = folder.lastNumber[wanted];
    if (n < 2) n = 2;
    for (;; ++n) {
      name = NumberedName(wanted, n);
      if (!folder.names.count(name)) break;
    }
  }
  folder.names.emplace(name, kind);
  return name;
}

const std::vector<std::string>& RecoveryLayout::FolderPath(std::uint64_t folderIndex) {
  const auto cached = folderPaths_.find(folderIndex);
  if (cached != folderPaths_.end()) return cached->second;
  std::vector<std::string> out;
  for (const std::string& safe : SafeFolderPath(catalogue_.Tree(), folderIndex)) {
    Folder& parent = folders_[Join(out, out.size())];
    const auto known = parent.folders.find(safe);
    if (known != parent.folders.end()) {
      out.push_back(known->second);
      continue;
    }
    // Later folders of the same safe name share this one; a name a file (or
    // a numbered folder) already took makes the folder a numbered name.
    const std::string used = Take(parent, safe, Kind::Folder);
    parent.folders.emplace(safe, used);
    out.push_back(used);
  }
  return folderPaths_.emplace(folderIndex, std::move(out)).first->second;
}

std::vector<std::string> RecoveryLayout::Claim(std::uint64_t fileIndex) {
  const FileNode& file = catalogue_.FileAt(fileIndex);
  std::vector<std::string> path;
  if (hierarchy_) path = FolderPath(file.parent);
  Folder& folder = folders_[Join(path, path.size())];
  path.push_back(Take(folder, SafeComponent(file.name), Kind::File));
  return path;
}

void RecoveryLayout::Release(const std::vector<std::string>& path) {
  if (path.empty()) return;
  const auto folder = folders_.find(Join(path, path.size() - 1));
  if (folder == folders_.end()) return;
  const auto name = folder->second.names.find(path.back());
  if (name != folder->second.names.end() && name->second == Kind::File)
    folder->second.names.erase(name);
}

// ------------------------------------------------------------------- folders

std::optional<std::string> PrepareOutputPath(const std::string& root,
                                             const std::vector<std::string>& relative,
                                             std::string& error) {
  if (relative.empty() || !StaysInside(relative)) {
    error = "unsafe output path";
    return std::nullopt;
  }
  std::string path = root;
  for (std::size_t i = 0; i + 1 < relative.size(); ++i) {
    path += '/';
    path += relative[i];
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
      if (errno != ENOENT || (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) ||
          ::lstat(path.c_str(), &st) != 0) {
        error = "cannot create folder '" + path + "': " + std::strerror(errno);
        return std::nullopt;
      }
    }
    if (!S_ISDIR(st.st_mode)) {
      error = "'" + path + "' is not a folder" + (S_ISLNK(st.st_mode) ? " (a symbolic link)" : "");
      return std::nullopt;
    }
  }
  path += '/';
  path += relative.back();
  return path;
}

}  // namespace ostrel
