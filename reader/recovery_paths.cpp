#include "reader/recovery_paths.h"

#include <locale.h>
#include <wctype.h>

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
  const std::string utf8 = Utf16ToUtf8(name);
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    // Control characters (U+0001 to U+001F, U+007F, and U+0080 to U+009F,
    // which are C2 80 to C2 9F in UTF-8): Windows never allows the first
    // ones in a name, and a terminal may obey the others, so in a name from a
    // backup they can only be damage or an attack.
    const auto u = static_cast<unsigned char>(utf8[i]);
    const bool c1 = u == 0xC2 && i + 1 < utf8.size() && (static_cast<unsigned char>(utf8[i + 1]) & 0xE0) == 0x80;
    if (c1) {
      out += '_';
      ++i;
    } else {
      out += utf8[i] == '/' || u < 0x20 || u == 0x7F ? '_' : utf8[i];
    }
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

void AppendSafeComponents(std::u16string_view name, std::vector<std::string>& out) {
  // A tape's, set's or volume's name may hold backslashes, as a folder path
  // does: each part is a component of its own.
  std::size_t start = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == u'\\') {
      out.push_back(SafeComponent(name.substr(start, i - start)));
      start = i + 1;
    }
  }
}

std::vector<std::string> SafeFolderPath(const FolderTree& tree,
                                        std::uint64_t folder) {
  std::vector<std::uint64_t> chain;
  for (std::uint64_t i = folder; i != 0 && i < tree.Count() && chain.size() < tree.Count();
       i = tree.NodeAt(i).parent) {
    chain.push_back(i);
  }
  std::vector<std::string> out;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) AppendSafeComponents(tree.NodeAt(*it).name, out);
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


// ----------------------------------------------------------- portable names

namespace {

// Refused in a name by Windows and by the file systems that follow it.
bool NotPortable(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x20 || std::string_view("<>:\"\\|?*").find(c) != std::string_view::npos;
}

bool TrailingJunk(char c) { return c == '.' || c == ' '; }

// The device name a name begins with, as Windows reads it (the part before the
// first dot, blanks before that dot ignored); empty when there is none.
std::string_view ReservedDevice(std::string_view name) {
  std::string_view base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  std::string word;
  for (char c : base) word += upper(c);
  if (word == "CON" || word == "PRN" || word == "AUX" || word == "NUL") return base;
  if (word.size() == 4 && (word.starts_with("COM") || word.starts_with("LPT")) && word[3] >= '1' &&
      word[3] <= '9')
    return base;
  return {};
}

std::string WithoutTrailingJunk(std::string name) {
  while (!name.empty() && TrailingJunk(name.back())) name.pop_back();
  return name;
}

std::string Quoted(std::string_view text) {
  std::string out(1, '\'');
  out += text;
  out += '\'';
  return out;
}

}  // namespace

std::string PortableComponent(std::string_view safe) {
  std::string out(safe);
  for (char& c : out) {
    if (NotPortable(c)) c = '_';
  }
  out = WithoutTrailingJunk(std::move(out));
  if (out.empty()) return "_";
  if (!ReservedDevice(out).empty()) out.insert(out.begin(), '_');
  // Cutting keeps the extension and shortens the part before it, which may
  // then end in a blank.
  out = WithoutTrailingJunk(CutComponent(out));
  return out.empty() ? "_" : out;
}

std::string PortableChanges(std::string_view safe) {
  std::vector<std::string> items;
  std::string seen;
  bool control = false;
  std::string replaced(safe);
  for (char& c : replaced) {
    if (!NotPortable(c)) continue;
    if (static_cast<unsigned char>(c) < 0x20) {
      control = true;
    } else if (seen.find(c) == std::string::npos) {
      seen += c;
      items.push_back(Quoted(std::string(1, c)));
    }
    c = '_';
  }
  if (control) items.push_back("control characters");
  const std::string kept = WithoutTrailingJunk(replaced);
  const std::string_view junk = std::string_view(replaced).substr(kept.size());
  if (!junk.empty()) {
    const bool dots = junk.find('.') != std::string_view::npos;
    const bool blanks = junk.find(' ') != std::string_view::npos;
    items.push_back(dots && blanks ? "trailing dots and blanks"
                    : dots         ? "a trailing '.'"
                                   : "a trailing blank");
  }
  const std::string_view device = ReservedDevice(kept);
  if (!device.empty()) items.push_back("the reserved name " + Quoted(device));
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += i + 1 == items.size() ? " and " : ", ";
    out += items[i];
  }
  return out;
}

std::string FoldCase(std::string_view name) {
  // The C.UTF-8 locale's simple upper-case mapping over UTF-16 units, as the
  // upper-case tables of FAT, exFAT and NTFS map the Basic Multilingual Plane.
  static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  std::u16string units = Utf8ToUtf16(name);
  for (char16_t& u : units) {
    if (u < 0x80) {
      if (u >= u'a' && u <= u'z') u = static_cast<char16_t>(u - u'a' + u'A');
    } else if (utf8 != static_cast<locale_t>(nullptr) && (u < 0xD800 || u > 0xDFFF)) {
      u = static_cast<char16_t>(::towupper_l(static_cast<wint_t>(u), utf8));
    }
  }
  return Utf16ToUtf8(units);
}

// ------------------------------------------------------------ RecoveryLayout

namespace {

constexpr int kMaxPlacements = 10000;  // names tried for one folder or file

std::string Describe(const std::string& prefix, const std::string& safe, const std::string& name,
                     const std::string& portableWhy, const std::string& existed, bool folder,
                     bool replaced) {
  const std::string what = replaced ? " exists and is replaced"
                           : folder ? " exists and is not a folder"
                                    : " exists";
  if (portableWhy.empty()) {
    return replaced ? prefix + name + " exists; replaced"
                    : prefix + existed + what + "; saved as " + prefix + name;
  }
  std::string out = "saved " + Quoted(prefix + safe) + " as " + Quoted(prefix + name) + " (" + portableWhy;
  if (!existed.empty()) out += "; " + prefix + existed + what;
  return out + ")";
}

}  // namespace

RecoveryLayout::RecoveryLayout(const Catalogue& catalogue, bool hierarchy, NameForm form)
    : catalogue_(catalogue), hierarchy_(hierarchy), form_(form), folders_(1) {}

std::string RecoveryLayout::Key(const Folder& folder, std::string_view name) const {
  return folder.ignoresCase ? FoldCase(name) : std::string(name);
}

std::string RecoveryLayout::Take(Folder& folder, const std::string& wanted, Kind kind) {
  std::string name = wanted;
  if (folder.names.count(Key(folder, name))) {
    std::uint64_t& n = folder.lastNumber[Key(folder, wanted)];
    if (n < 2) n = 2;
    for (;; ++n) {
      name = NumberedName(wanted, n);
      if (!folder.names.count(Key(folder, name))) break;
    }
  }
  folder.names.emplace(Key(folder, name), kind);
  return name;
}

std::vector<std::string> RecoveryLayout::PathOf(std::uint64_t folder) const {
  std::vector<std::string> out;
  for (std::uint64_t f = folder; f != 0; f = folders_[f].parent) out.push_back(folders_[f].name);
  return {out.rbegin(), out.rend()};
}

std::string RecoveryLayout::Prefix(std::uint64_t folder) const {
  std::string out;
  for (const std::string& name : PathOf(folder)) out += name + "/";
  return out;
}

RecoveryLayout::Placed RecoveryLayout::Place(std::uint64_t folder, const std::string& safe,
                                              Kind kind, NamePlacer& placer,
                                              const std::function<Answer(const std::string&)>& make,
                                              std::string existed, bool refused) {
  const std::string portable = PortableComponent(safe);
  Placed out;
  out.existed = std::move(existed);
  std::string wanted = form_ == NameForm::AsStored && !refused ? safe : portable;
  refused = refused || form_ == NameForm::Required;
  for (int tries = 0; tries < kMaxPlacements; ++tries) {
    out.name = Take(folders_[folder], wanted, kind);
    out.answer = make(out.name);
    Folder& in = folders_[folder];
    if (out.answer == Answer::Taken) {
      // Something of the destination's holds the name: the next number.
      in.names[Key(in, out.name)] = Kind::Foreign;
      if (out.existed.empty()) out.existed = out.name;
      continue;
    }
    if (out.answer == Answer::Made || out.answer == Answer::Existing || out.answer == Answer::Replaced) {
      if (out.answer == Answer::Replaced) out.existed = out.name;
      if (wanted == safe && out.existed.empty()) return out;
      NameChange& change = out.change.emplace();
      change.folder = kind == Kind::Folder;
      change.portable = wanted != safe;
      change.existing = !out.existed.empty() && out.answer != Answer::Replaced;
      change.replaced = out.answer == Answer::Replaced;
      const std::string why =
          !change.portable ? ""
                           : (refused ? "the destination refuses " : "portable names avoid ") + PortableChanges(safe);
      change.message = Describe(Prefix(folder), safe, out.name, why, out.existed, change.folder, change.replaced);
      return out;
    }
    in.names.erase(Key(in, out.name));
    if (out.answer == Answer::Refused && wanted != portable) {
      wanted = portable;
      refused = true;
      continue;
    }
    const char* what = kind == Kind::Folder ? "folder" : "file";
    if (out.answer == Answer::Protected) {
      out.error = Prefix(folder) + out.name + " is the backup being read; not replaced";
      return out;
    }
    out.error = out.answer == Answer::Stop
                    ? "saving was stopped at " + Prefix(folder) + out.name + ", which exists"
                    : std::string(out.answer == Answer::Refused ? "the destination refuses the " : "cannot create the ") +
                          what + (out.answer == Answer::Refused ? " name " : " ") + Quoted(Prefix(folder) + out.name) +
                          ": " + std::strerror(placer.Error());
    return out;
  }
  out.answer = Answer::Failed;
  out.error = std::string("no free name for the ") + (kind == Kind::Folder ? "folder " : "file ") +
              Quoted(Prefix(folder) + safe);
  return out;
}

std::optional<std::uint64_t> RecoveryLayout::PlaceFolder(std::uint64_t parent, const std::string& safe,
                                                         NamePlacer& placer, Claimed& out) {
  const std::uint64_t id = folders_.size();
  Placed placed = Place(parent, safe, Kind::Folder, placer,
                        [&](const std::string& name) { return placer.PlaceFolder(parent, name, id); });
  if (placed.answer != Answer::Made && placed.answer != Answer::Existing) {
    out.error = std::move(placed.error);
    return std::nullopt;
  }
  folders_[parent].subfolders.emplace(Key(folders_[parent], safe), id);
  Folder made;
  made.parent = parent;
  made.name = placed.name;
  made.ignoresCase = placer.IgnoresCase(id);
  folders_.push_back(std::move(made));
  if (placed.change) out.changes.push_back(std::move(*placed.change));
  return id;
}

std::optional<std::uint64_t> RecoveryLayout::OutputFolder(std::uint64_t catalogueFolder,
                                                          NamePlacer& placer, Claimed& out) {
  // Up from the folder to the nearest one that has its output folder (or to
  // the root), then down again, each catalogue folder settled once per run:
  // the cost stays linear in the catalogue however deep it nests.
  const FolderTree& tree = catalogue_.Tree();
  std::vector<std::uint64_t> chain;
  std::uint64_t id = 0;
  for (std::uint64_t f = catalogueFolder; f != 0 && f < tree.Count() && chain.size() < tree.Count();
       f = tree.NodeAt(f).parent) {
    const auto cached = outputFolders_.find(f);
    if (cached != outputFolders_.end()) {
      id = cached->second;
      break;
    }
    chain.push_back(f);
  }
  std::vector<std::string> components;
  for (auto f = chain.rbegin(); f != chain.rend(); ++f) {
    components.clear();
    AppendSafeComponents(tree.NodeAt(*f).name, components);
    for (const std::string& safe : components) {
      // Later folders of the same safe name in the same output folder share
      // it; a name a file (or a numbered folder) already took makes the
      // folder a numbered name.
      const Folder& in = folders_[id];
      const auto known = in.subfolders.find(Key(in, safe));
      if (known != in.subfolders.end()) {
        id = known->second;
        continue;
      }
      const std::optional<std::uint64_t> placed = PlaceFolder(id, safe, placer, out);
      if (!placed) return std::nullopt;
      id = *placed;
    }
    outputFolders_.emplace(*f, id);
  }
  return id;
}

void RecoveryLayout::PlaceFile(std::uint64_t folder, const std::string& safe, NamePlacer& placer,
                               Claimed& out) {
  Placed placed = Place(folder, safe, Kind::File, placer,
                        [&](const std::string& name) { return placer.PlaceFile(folder, name); });
  out.answer = placed.answer;
  if (placed.answer != Answer::Made && placed.answer != Answer::Replaced) {
    out.error = std::move(placed.error);
    return;
  }
  out.path = PathOf(folder);
  out.path.push_back(placed.name);
  out.folder = folder;
  if (placed.change) out.changes.push_back(std::move(*placed.change));
}

RecoveryLayout::Claimed RecoveryLayout::Claim(std::uint64_t fileIndex, NamePlacer& placer) {
  Claimed out;
  if (!rootKnown_) {
    folders_[0].ignoresCase = placer.IgnoresCase(0);
    rootKnown_ = true;
  }
  const FileNode& file = catalogue_.FileAt(fileIndex);
  std::uint64_t folder = 0;
  if (hierarchy_) {
    const std::optional<std::uint64_t> found = OutputFolder(file.parent, placer, out);
    if (!found) return out;
    folder = *found;
  }
  PlaceFile(folder, SafeComponent(file.name), placer, out);
  return out;
}

std::vector<std::string> RecoveryLayout::Claim(std::uint64_t fileIndex) {
  TakesEveryName placer;
  return Claim(fileIndex, placer).path;
}

std::uint64_t RecoveryLayout::Parent(std::uint64_t folder) const {
  return folder < folders_.size() ? folders_[folder].parent : 0;
}

void RecoveryLayout::Release(const Claimed& claimed) {
  if (claimed.path.empty() || claimed.folder >= folders_.size()) return;
  Folder& folder = folders_[claimed.folder];
  const auto name = folder.names.find(Key(folder, claimed.path.back()));
  if (name != folder.names.end() && name->second == Kind::File) folder.names.erase(name);
}

bool RecoveryLayout::Reclaim(std::uint64_t fileIndex, Claimed& claimed, Answer first, NamePlacer& placer,
                             const std::function<Answer(const std::string&)>& move) {
  if (claimed.path.empty() || claimed.folder >= folders_.size()) return false;
  Folder& in = folders_[claimed.folder];
  const std::string lost = claimed.path.back();
  if (first == Answer::Taken) {
    in.names[Key(in, lost)] = Kind::Foreign;
  } else {
    in.names.erase(Key(in, lost));
  }
  // The file's own change is said again for its new name; the folders' stand.
  std::erase_if(claimed.changes, [](const NameChange& c) { return !c.folder; });
  Placed placed = Place(claimed.folder, SafeComponent(catalogue_.FileAt(fileIndex).name), Kind::File, placer, move,
                        first == Answer::Taken ? lost : std::string(), first == Answer::Refused);
  claimed.answer = placed.answer;
  if (placed.answer != Answer::Made) {
    claimed.error = std::move(placed.error);
    return false;
  }
  claimed.path.back() = placed.name;
  if (placed.change) claimed.changes.push_back(std::move(*placed.change));
  return true;
}

}  // namespace ostrel
