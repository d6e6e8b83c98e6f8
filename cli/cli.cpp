#include "cli/cli.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

#include <chrono>
#include <cinttypes>
#include <vector>

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
}

InterruptStops::~InterruptStops() {
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  gInterruptStop.store(nullptr);
}

int InterruptStops::Signal() { return gInterruptSignal; }

int UsageError(const char* command, const std::string& problem) {
  Error(problem);
  std::fprintf(stderr, "Try 'ostrel-bkf %s --help'.\n", command);
  return kExitError;
}

std::string ForTerminal(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
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

namespace {

std::int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

ProgressBar::ProgressBar(std::string label) : label_(std::move(label)), enabled_(isatty(2) != 0) {}

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
  const int width = 30;
  const int filled = static_cast<int>(share * width);
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.resize(width, '.');
  std::fprintf(stderr, "\r%s [%s] %5.1f%%  files: %" PRIu64 "  ", label_.c_str(), bar.c_str(),
               share * 100.0, count);
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressBar::Finish() {
  if (drawn_) {
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
  }
  drawn_ = false;
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

}  // namespace

void PrintCatalogueJson(std::FILE* out, const Catalogue& cat, const std::string& bkfPath,
                        const std::string& extraMembers) {
  const auto& tree = cat.Tree();
  std::fprintf(out, "{\n \"bkf\": %s,\n%s \"folders\": [", JsonString(bkfPath).c_str(),
               extraMembers.c_str());
  for (std::uint64_t i = 0; i < tree.Count(); ++i) {
    const FolderNode& n = tree.NodeAt(i);
    std::fprintf(out,
                 "%s\n  {\"index\": %s, \"name\": %s, \"parent\": %s, \"firstChild\": %s, "
                 "\"nextSibling\": %s, \"firstFile\": %s, \"lastFile\": %s}",
                 i == 0 ? "" : ",", Index(n.index).c_str(), JsonString(Utf16ToUtf8(n.name)).c_str(),
                 Index(n.parent).c_str(), Index(n.firstChild).c_str(), Index(n.nextSibling).c_str(),
                 Index(n.firstFile).c_str(), Index(n.lastFile).c_str());
  }
  std::fprintf(out, "\n ],\n \"files\": [");
  for (std::uint64_t i = 0; i < cat.FileCount(); ++i) {
    const FileNode& f = cat.FileAt(i);
    std::fprintf(out,
                 "%s\n  {\"index\": %s, \"name\": %s, \"nameSize\": %u, \"parent\": %s, "
                 "\"dataPosition\": %" PRIu64 ", \"dataLength\": %" PRIu64 "}",
                 i == 0 ? "" : ",", Index(f.index).c_str(), JsonString(Utf16ToUtf8(f.name)).c_str(),
                 static_cast<unsigned>(f.nameSize), Index(f.parent).c_str(), f.dataPosition,
                 f.dataLength);
  }
  std::fprintf(out, "\n ]\n}\n");
}

void PrintCatalogueTree(std::FILE* out, const Catalogue& cat) {
  const auto& tree = cat.Tree();
  // Children in the order they were found (the chain runs newest first),
  // walked with an explicit stack: damaged files can nest very deep.
  std::vector<std::pair<std::uint64_t, std::size_t>> stack;  // node, depth
  std::vector<std::uint8_t> seen(tree.Count(), 0);
  std::vector<std::uint64_t> children;
  stack.emplace_back(0, 0);
  while (!stack.empty()) {
    const auto [node, depth] = stack.back();
    stack.pop_back();
    if (seen[node]) continue;
    seen[node] = 1;
    const FolderNode& f = tree.NodeAt(node);
    const std::string indent(depth * 2, ' ');
    if (node != 0) std::fprintf(out, "%s%s\\\n", indent.c_str(), ForTerminal(Utf16ToUtf8(f.name)).c_str());
    if (f.firstFile != kNone && f.lastFile != kNone) {
      for (std::uint64_t i = f.firstFile; i <= f.lastFile && i < cat.FileCount(); ++i) {
        const FileNode& file = cat.FileAt(i);
        std::fprintf(out, "%s  %s  (%" PRIu64 " bytes)\n", indent.c_str(),
                     ForTerminal(Utf16ToUtf8(file.name)).c_str(), file.dataLength);
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
  std::fprintf(out, "Total number of files found: %" PRIu64 "\n", cat.FileCount());
}

}  // namespace ostrel::cli
