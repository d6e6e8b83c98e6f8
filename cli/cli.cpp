#include "cli/cli.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <charconv>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "catalogue/snapshot.h"
#include "reader/extract.h"
#include "reader/text.h"

namespace ostrel::cli {

void Error(const std::string& message) { std::fprintf(stderr, "ostrel-bkf: %s\n", ForTerminal(message).c_str()); }

namespace {

// Lock-free atomics: a signal handler may store to them.
std::atomic<StopToken*> gInterruptStop{nullptr};
volatile std::sig_atomic_t gInterruptSignal = 0;

extern "C" void OnInterrupt(int signal) {
  gInterruptSignal = signal;
  if (StopToken* stop = gInterruptStop.load()) stop->RequestStop();
}

}  // namespace

InterruptStops::InterruptStops(StopToken& stop) {
  static_assert(std::atomic<StopToken*>::is_always_lock_free);
  gInterruptSignal = 0;
  gInterruptStop.store(&stop);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;  // a second signal kills as usual
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);  // the terminal was closed
  // The reader of standard output went away: every later write fails with
  // EPIPE and raises the signal again, so the first one stops the run and the
  // others are only counted. A tar stream on standard output ignores it.
  action.sa_flags = 0;
  sigaction(SIGPIPE, &action, nullptr);
}

InterruptStops::~InterruptStops() {
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  signal(SIGHUP, SIG_DFL);
  signal(SIGPIPE, SIG_DFL);
  gInterruptStop.store(nullptr);
}

int InterruptStops::Signal() { return gInterruptSignal; }

namespace {
int gFirstOutputError = 0;
}  // namespace

void NoteOutputError(int error) {
  if (gFirstOutputError == 0) gFirstOutputError = error;
}

int FirstOutputError() { return gFirstOutputError; }

void FlushOutput(std::FILE* out) {
  if (std::fflush(out) != 0 && out == stdout) NoteOutputError(errno);
}

int UsageError(const char* command, const std::string& problem) {
  Error(problem);
  std::fprintf(stderr, "Try 'ostrel-bkf %s --help'.\n", command);
  return kExitError;
}

namespace {

// The code point of the three-byte UTF-8 sequence at text[i], or 0.
char32_t ThreeByteAt(std::string_view text, std::size_t i) {
  if (i + 2 >= text.size()) return 0;
  const auto b0 = static_cast<unsigned char>(text[i]), b1 = static_cast<unsigned char>(text[i + 1]),
             b2 = static_cast<unsigned char>(text[i + 2]);
  if ((b0 & 0xF0) != 0xE0 || (b1 & 0xC0) != 0x80 || (b2 & 0xC0) != 0x80) return 0;
  return static_cast<char32_t>((b0 & 0x0F) << 12 | (b1 & 0x3F) << 6 | (b2 & 0x3F));
}

// Characters that change how the text around them reads without showing
// themselves: the bidirectional embeddings, overrides and isolates, and the
// zero-width ones. "invoice\u202etxt.exe" would read as "invoiceexe.txt".
bool IsInvisibleFormat(char32_t u) {
  return (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) || (u >= 0x200B && u <= 0x200F) ||
         u == 0xFEFF;
}

void AppendForTerminal(std::string& out, std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (const char32_t u = ThreeByteAt(text, i); u != 0 && IsInvisibleFormat(u)) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(u));
      out += escaped;
      i += 2;
      continue;
    }
    // U+0080 to U+009F are C2 80 to C2 9F in UTF-8; some terminals take
    // U+009B as the start of a control sequence.
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      out += '?';
      ++i;
      continue;
    }
    switch (c) {
      case 0x1B: out += "\\e"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c); break;
    }
  }
}

}  // namespace

std::string ForTerminal(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendForTerminal(out, text);
  return out;
}

std::optional<std::uint64_t> ParseU64(const std::string& text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto d = static_cast<std::uint64_t>(c - '0');
    if (v > (~std::uint64_t{0} - d) / 10) return std::nullopt;
    v = v * 10 + d;
  }
  return v;
}

std::string Count(std::uint64_t value, bool raw) { return raw ? std::to_string(value) : GroupDigits(value); }

namespace {

// The long name of each short form, and whether the option takes a value.
struct ShortForm {
  char letter;
  const char* name;
};
constexpr ShortForm kShortForms[] = {{'o', "--to"}, {'m', "--mode"}, {'p', "--pattern"}, {'i', "--index"}};
constexpr const char* kValueOptions[] = {"--to",       "--mode",          "--pattern", "--index", "--range",
                                         "--snapshot", "--from-snapshot", "--threads", "--tar"};

bool TakesValue(const std::string& name) {
  return std::any_of(std::begin(kValueOptions), std::end(kValueOptions),
                     [&](const char* o) { return name == o; });
}

}  // namespace

bool ArgReader::Next() {
  at_ = next_;
  if (at_ >= args_.size()) return false;
  next_ = at_ + 1;
  const std::string& a = args_[at_];
  option_ = false;
  attached_.reset();
  problem_.clear();
  name_ = a;
  if (!endOfOptions_ && a == "--") {
    endOfOptions_ = true;
    return Next();
  }
  if (endOfOptions_ || a.size() < 2 || a[0] != '-') return true;
  option_ = true;
  if (a[1] == '-') {
    if (const std::size_t eq = a.find('='); eq != std::string::npos) {
      name_ = a.substr(0, eq);
      attached_ = a.substr(eq + 1);
    }
  } else if (a == "-h") {
    name_ = "--help";
  } else {
    for (const ShortForm& s : kShortForms) {
      if (a[1] != s.letter) continue;
      name_ = s.name;
      if (a.size() > 2) attached_ = a.substr(2);
    }
  }
  if (attached_ && !TakesValue(name_)) problem_ = "option '" + name_ + "' takes no value";
  return true;
}

std::optional<int> TakeCommonOption(const ArgReader& args, const char* command, const char* usage) {
  if (!args.Problem().empty()) return UsageError(command, args.Problem());
  if (args.IsOption() && args.Name() == "--help") {
    std::fputs(usage, stdout);
    return kExitOk;
  }
  return std::nullopt;
}

bool TakePrintOption(const ArgReader& args, PrintOptions& print) {
  if (!args.IsOption()) return false;
  if (args.Name() == "--json") {
    print.json = true;
  } else if (args.Name() == "--bytes") {
    print.rawSizes = true;
  } else {
    return false;
  }
  return true;
}

std::optional<std::string> ArgReader::Value() {
  if (attached_) {
    std::optional<std::string> value = std::move(attached_);
    attached_.reset();
    return value;
  }
  return NextValue();
}

std::optional<std::string> ArgReader::NextValue() {
  if (next_ >= args_.size()) return std::nullopt;
  return args_[next_++];
}

namespace {

std::int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int TerminalColumns(int fd) {
  struct winsize size {};
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  if (const char* columns = std::getenv("COLUMNS")) {
    if (const auto n = ParseU64(columns); n && *n > 0 && *n <= 10000) return static_cast<int>(*n);
  }
  return 80;
}

std::string ProgressLine(const std::string& label, double share, std::uint64_t count, int columns) {
  const std::size_t room = columns > 1 ? static_cast<std::size_t>(columns - 1) : 0;
  char percent[16];
  std::snprintf(percent, sizeof percent, "%5.1f%%", std::clamp(share, 0.0, 1.0) * 100.0);
  const std::string counted = "  files: " + GroupDigits(count);
  constexpr std::size_t kLeastBar = 10;
  // label " [" bar "] " percent counted
  std::size_t text = label.size() + 4 + std::strlen(percent);
  const bool withCount = text + counted.size() + kLeastBar <= room;
  if (withCount) text += counted.size();
  std::string line;
  if (text + kLeastBar <= room) {
    const std::size_t width = room - text;
    const auto filled = static_cast<std::size_t>(std::clamp(share, 0.0, 1.0) * static_cast<double>(width));
    std::string bar(filled, '#');
    bar.resize(width, '.');
    line = label + " [" + bar + "] " + percent + (withCount ? counted : std::string());
  } else {
    line = label + " " + percent;
  }
  if (line.size() > room) line.resize(room);
  return line;
}

namespace {

bool DumbTerminal() {
  const char* term = std::getenv("TERM");
  return term != nullptr && std::strcmp(term, "dumb") == 0;
}

}  // namespace

ProgressBar::ProgressBar(std::string label)
    : label_(std::move(label)), enabled_(isatty(2) != 0), dumb_(DumbTerminal()) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::OnProgress(const ProgressReport& report) {
  Show(report.position, report.fileLength, report.filesFound);
}

void ProgressBar::OnRangeMessage(const std::string& text) {
  Finish();
  std::fprintf(stderr, "ostrel-bkf: %s\n", text.c_str());
}

void ProgressBar::Show(std::uint64_t done, std::uint64_t total, std::uint64_t count) {
  if (!enabled_) return;
  const std::int64_t now = NowMs();
  if (now - lastDrawMs_ < 100) return;
  lastDrawMs_ = now;
  const double share = total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
  // Asked at each draw, so that the bar follows a resized window.
  Draw(ProgressLine(label_, share, count, TerminalColumns(2)));
}

void ProgressBar::Draw(const std::string& line) {
  std::string out = "\r" + line;
  if (dumb_) {
    // Blanks over what is left of a longer line drawn before.
    if (line.size() < drawnWidth_) out.append(drawnWidth_ - line.size(), ' ');
  } else {
    out += "\033[K";
  }
  std::fputs(out.c_str(), stderr);
  std::fflush(stderr);
  drawn_ = true;
  drawnWidth_ = std::max(drawnWidth_, line.size());
}

void ProgressBar::Finish() {
  if (drawn_) {
    if (dumb_) {
      std::fprintf(stderr, "\r%s\r", std::string(drawnWidth_, ' ').c_str());
    } else {
      std::fputs("\r\033[K", stderr);
    }
    std::fflush(stderr);
  }
  drawn_ = false;
  drawnWidth_ = 0;
}

bool ReportUnreadable(const BkfFile& file) {
  const std::string unreadable = UnreadableLine(file.Unreadable());
  const std::string shrunk = ShrunkLine(file);
  if (!unreadable.empty()) std::fprintf(stderr, "%s\n", unreadable.c_str());
  if (!shrunk.empty()) Error(shrunk);
  return !unreadable.empty() || !shrunk.empty();
}

std::string UnreadableJson(const UnreadableSummary& summary) {
  std::string out = " \"unreadable\": [";
  for (std::size_t i = 0; i < summary.ranges.size(); ++i) {
    out += (i == 0 ? "" : ", ");
    out += "{\"offset\": " + std::to_string(summary.ranges[i].offset) +
           ", \"length\": " + std::to_string(summary.ranges[i].length) + "}";
  }
  return out + "],\n";
}

bool ReportLeftOut(const std::vector<LeftOutFile>& leftOut, std::uint64_t notListed) {
  for (const LeftOutFile& file : leftOut) std::fprintf(stderr, "%s\n", ForTerminal(LeftOutLine(file)).c_str());
  if (notListed != 0) {
    std::fprintf(stderr, "left out: %s more files whose data runs past the end of the backup (not listed)\n",
                 GroupDigits(notListed).c_str());
  }
  return !leftOut.empty() || notListed != 0;
}

std::string LeftOutJson(const std::vector<LeftOutFile>& leftOut) {
  std::string out = " \"leftOut\": [";
  for (std::size_t i = 0; i < leftOut.size(); ++i) {
    out += (i == 0 ? "" : ", ");
    out += "{\"name\": " + JsonString(Utf16ToUtf8(leftOut[i].name)) +
           ", \"offset\": " + std::to_string(leftOut[i].offset) +
           ", \"length\": " + std::to_string(leftOut[i].length) + "}";
  }
  return out + "],\n";
}

CatalogueComparison ReportCatalogueComparison(const RecoverySession& session, const StopToken& stop) {
  const SetCatalogueScan catalogues = ReadSetCataloguesAt(session.file, session.setBlocks, stop);
  CatalogueComparison comparison = CompareWithCatalogues(catalogues, session.catalogue);
  for (const std::string& note : comparison.notes) Error("note: " + note);
  if (comparison.listed != 0) {
    std::fprintf(stderr, "%s\n", ComparisonLine(comparison).c_str());
    for (const std::u16string& path : comparison.missing) {
      std::fprintf(stderr, "  %s\n", ForTerminal(Utf16ToUtf8(path)).c_str());
    }
  }
  return comparison;
}

std::string MissingJson(const CatalogueComparison& comparison) {
  std::string out = " \"missing\": [";
  for (std::size_t i = 0; i < comparison.missing.size(); ++i) {
    out += (i == 0 ? "" : ", ") + JsonString(Utf16ToUtf8(comparison.missing[i]));
  }
  return out + "],\n";
}

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += ch;
        }
    }
  }
  out += '"';
  return out;
}

namespace {

std::string Index(std::uint64_t v) {
  if (v == kNone) return "-1";
  if (v == kNotFound) return "-2";
  return std::to_string(v);
}

// "\"2011-07-22T11:32:40Z\"", or null for an unknown date.
std::string DateJson(std::optional<std::int64_t> date) {
  if (!date) return "null";
  std::string out = "\"";
  out += IsoDate(*date);
  out += '"';
  return out;
}

// The "path" member of the files of one folder: the folder names from below
// the root down to it, as a JSON array. Walked up through the parent links,
// at most as many steps as there are folders.
std::string FolderPathJson(const FolderTree& tree, std::uint64_t folder) {
  std::vector<std::uint64_t> chain;
  for (std::uint64_t k = folder; k != 0 && tree.IsNode(k) && chain.size() < tree.Count();
       k = tree.NodeAt(k).parent) {
    chain.push_back(k);
  }
  std::string out = "[";
  for (auto k = chain.rbegin(); k != chain.rend(); ++k) {
    if (k != chain.rbegin()) out += ", ";
    out += JsonString(Utf16ToUtf8(tree.NodeAt(*k).name));
  }
  return out + "]";
}

}  // namespace

std::vector<std::uint8_t> CompressedFlags(const Catalogue& cat, const BkfFile& bkf) {
  std::vector<std::uint8_t> flags;
  if (!bkf.IsOpen()) return flags;
  const StopToken neverStops;
  // Hostile records can make every file's stream walk run over the streams
  // of all the later files: the checks read what an extraction may.
  ReadBudget budget(bkf.Size());
  flags.reserve(cat.FileCount());
  for (std::uint64_t i = 0; i < cat.FileCount(); ++i) {
    const PreparedData data = PrepareFileData(cat.FileAt(i), bkf, std::nullopt, neverStops, &budget);
    if (data.overBudget) {
      std::fprintf(stderr,
                   "ostrel-bkf: checking whether the files' data is compressed would read this backup more than %d "
                   "times over (hostile or looping records); \"compressed\" is null from file [%" PRIu64 "] on\n",
                   static_cast<int>(ReadBudget::kTimesTheBackup), i);
      break;
    }
    flags.push_back(data.outcome == ExtractOutcome::Extracted && data.compressed);
  }
  return flags;
}

void PrintCatalogueJson(std::FILE* out, const Catalogue& cat, const std::string& bkfPath,
                        const std::vector<std::uint8_t>& compressed, const std::string& extraMembers) {
  const auto& tree = cat.Tree();
  // A path that is not UTF-8 is shown with U+FFFD for its bad bytes, so that
  // the document stays valid, and given exactly as hexadecimal bytes too.
  std::string pathMembers = " \"bkf\": " + JsonString(Utf16ToUtf8(Utf8ToUtf16(bkfPath))) + ",\n";
  if (!IsValidUtf8(bkfPath)) {
    static constexpr char kHex[] = "0123456789abcdef";
    pathMembers += " \"bkfPathBytes\": \"";
    for (const char c : bkfPath) {
      pathMembers += kHex[static_cast<unsigned char>(c) >> 4];
      pathMembers += kHex[static_cast<unsigned char>(c) & 0x0F];
    }
    pathMembers += "\",\n";
  }
  std::fprintf(out, "{\n%s%s \"folders\": [", pathMembers.c_str(), extraMembers.c_str());
  for (std::uint64_t i = 0; i < tree.Count(); ++i) {
    const FolderNode& n = tree.NodeAt(i);
    std::fprintf(out,
                 "%s\n  {\"index\": %s, \"name\": %s, \"parent\": %s, \"firstChild\": %s, "
                 "\"nextSibling\": %s, \"firstFile\": %s, \"lastFile\": %s, \"modified\": %s}",
                 i == 0 ? "" : ",", Index(n.index).c_str(), JsonString(Utf16ToUtf8(n.name)).c_str(),
                 Index(n.parent).c_str(), Index(n.firstChild).c_str(), Index(n.nextSibling).c_str(),
                 Index(n.firstFile).c_str(), Index(n.lastFile).c_str(), DateJson(cat.Dates().Folder(i)).c_str());
  }
  std::fprintf(out, "\n ],\n \"files\": [");
  // A folder's files lie together: its path is made once for them.
  std::uint64_t pathFolder = kNone;
  std::string path;
  for (std::uint64_t i = 0; i < cat.FileCount(); ++i) {
    const FileNode& f = cat.FileAt(i);
    if (f.parent != pathFolder) {
      pathFolder = f.parent;
      path = FolderPathJson(tree, f.parent);
    }
    const char* packed = i >= compressed.size() ? "null" : compressed[i] ? "true" : "false";
    std::fprintf(out,
                 "%s\n  {\"index\": %s, \"name\": %s, \"nameSize\": %u, \"parent\": %s, "
                 "\"dataPosition\": %" PRIu64 ", \"dataLength\": %" PRIu64
                 ", \"path\": %s, \"compressed\": %s, \"modified\": %s}",
                 i == 0 ? "" : ",", Index(f.index).c_str(), JsonString(Utf16ToUtf8(f.name)).c_str(),
                 static_cast<unsigned>(f.nameSize), Index(f.parent).c_str(), f.dataPosition,
                 f.dataLength, path.c_str(), packed, DateJson(cat.Dates().File(i)).c_str());
  }
  std::fprintf(out, "\n ]\n}\n");
}

void PrintCatalogueTree(std::FILE* out, const Catalogue& cat, bool rawSizes) {
  constexpr std::size_t kMaxIndent = 64;
  const auto& tree = cat.Tree();
  // Children in the order they were found (the chain runs newest first),
  // walked with an explicit stack: damaged files can nest very deep.
  std::vector<std::pair<std::uint64_t, std::size_t>> stack;  // node, depth
  std::vector<std::uint8_t> seen(tree.Count(), 0);
  std::vector<std::uint64_t> children;
  // The lines are gathered and written in pieces of about 64 KiB: a
  // catalogue may hold millions of files.
  constexpr std::size_t kPiece = 64 * 1024;
  std::string text, name;
  const auto write = [&] {
    if (std::fwrite(text.data(), 1, text.size(), out) != text.size()) NoteOutputError(errno);
    text.clear();
  };
  stack.emplace_back(0, 0);
  while (!stack.empty()) {
    const auto [node, depth] = stack.back();
    stack.pop_back();
    if (seen[node]) continue;
    seen[node] = 1;
    const FolderNode& f = tree.NodeAt(node);
    // The indentation stops growing at kMaxIndent levels, so that a deep tree
    // prints in lines of bounded width; deeper folders say their level.
    const std::string indent(std::min(depth, kMaxIndent) * 2, ' ');
    const std::string level = depth >= kMaxIndent ? "(level " + std::to_string(depth + 1) + ") " : "";
    if (node != 0) {
      text += indent;
      text += level;
      name.clear();
      AppendUtf16AsUtf8(name, f.name);
      AppendForTerminal(text, name);
      text += "\\\n";
      if (text.size() >= kPiece) write();
    }
    if (f.firstFile != kNone && f.lastFile != kNone) {
      for (std::uint64_t i = f.firstFile; i <= f.lastFile && i < cat.FileCount(); ++i) {
        const FileNode& file = cat.FileAt(i);
        text += indent;
        text += "  [";
        char digits[24];
        text.append(digits, std::to_chars(digits, digits + sizeof digits, i).ptr);
        text += "] ";
        name.clear();
        AppendUtf16AsUtf8(name, file.name);
        AppendForTerminal(text, name);
        text += "  (";
        text += Count(file.dataLength, rawSizes);
        text += " bytes";
        if (const auto modified = cat.Dates().File(i)) {
          text += ", ";
          text += ShortDate(*modified);
        }
        text += ")\n";
        if (text.size() >= kPiece) write();
      }
    }
    children.clear();
    for (std::uint64_t k = tree.FirstChild(node); k != kNotFound && children.size() < tree.Count();
         k = tree.NextSibling(k)) {
      children.push_back(k);
    }
    // Pushing newest first pops oldest first.
    const std::size_t childDepth = node == 0 ? 0 : depth + 1;
    for (std::uint64_t k : children) stack.emplace_back(k, childDepth);
  }
  write();
  std::fprintf(out, "Total number of files found: %s\n", Count(cat.FileCount(), rawSizes).c_str());
}

bool IsSnapshotInput(const std::string& path) {
  static constexpr std::string_view kSuffix = ".kvsnapshot";
  const bool named =
      path.size() >= kSuffix.size() &&
      std::equal(kSuffix.begin(), kSuffix.end(), path.end() - static_cast<std::ptrdiff_t>(kSuffix.size()),
                 [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
  return named || LooksLikeSnapshot(path);
}

void ReportNoBlocks() { Error("no MTF block found: this does not look like a BKF file"); }

void ReportScanNote(const Scanner& scanner) {
  if (const std::string note = scanner.Note(); !note.empty()) Error("note: " + note);
}

}  // namespace ostrel::cli
