#include "reader/scanner.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "reader/mtf.h"
#include "reader/window_search.h"


namespace ostrel {

// ---------------------------------------------------------------- WindowReader

WindowReader::WindowReader(const BkfFile& file, std::size_t bufferSize) : file_(file) {
  // No need for a buffer much larger than the file itself.
  const std::uint64_t fileSize = file.Size();
  std::size_t cap = bufferSize;
  if (fileSize + 4096 < cap) cap = static_cast<std::size_t>(fileSize) + 4096;
  cap = std::max<std::size_t>(cap, 4 * kWindowSize + kSlack);
  capacity_ = cap;
  buffer_.resize(cap);
}

const std::uint8_t* WindowReader::Get(std::uint64_t position, std::size_t count) {
  const std::size_t need = count + kSlack;
  if (valid_ == 0 || position < start_ || position - start_ > valid_ ||
      valid_ - (position - start_) < need) {
    start_ = position;
    file_.ReadAt(position, buffer_.data(), capacity_);  // zero-fills past the end
    valid_ = capacity_;
  }
  return buffer_.data() + (position - start_);
}

// ------------------------------------------------------------------------- bkf

bkf::bkf(std::atomic<int>& processRunning, ScanListener* listener)
    : processRunning_(processRunning), listener_(listener) {
  // Stop ends the work around a failing disk's bad pieces too.
  file_.SetStopFlag(&processRunning_);
}

bkf::~bkf() = default;

void bkf::ResolveRange(std::uint64_t fileLength) {
  if (rangeStart_ > fileLength) {
    if (listener_) listener_->OnRangeMessage(kStartRangeMessage);
    rangeStart_ = 0;
  }
  if (rangeEnd_ == 0) {
    rangeEnd_ = fileLength;
  } else if (rangeEnd_ > fileLength) {
    if (listener_) listener_->OnRangeMessage(kEndRangeMessage);
    rangeEnd_ = fileLength;
  }
}

void bkf::ReportProgress(std::uint64_t a, bool force) {
  if (fileLength_ == 0) return;
  // The per-mille is worked out only when the position reaches the next one:
  // this runs once per window.
  if (a >= nextPerMilleAt_) {
    const auto perMille = static_cast<int>(std::min<std::uint64_t>(MulDiv(a, 1000, fileLength_), 1000));
    if (perMille > lastPerMille_) {
      lastPerMille_ = perMille;
      force = true;
    }
    // The first position whose per-mille is above the last one reported.
    __extension__ using u128 = unsigned __int128;
    const u128 next = (static_cast<u128>(lastPerMille_ + 1) * fileLength_ + 999) / 1000;
    nextPerMilleAt_ = next > kU64Max ? kU64Max : static_cast<std::uint64_t>(next);
  }
  if (force && listener_) listener_->OnProgress({percent_, a, filesFound_, fileLength_});
}

void bkf::ReportUnreadablePieces(bool on) {
  if (on) {
    file_.SetFailureObserver([this](std::uint64_t position) { ReportProgress(position, true); });
  } else {
    file_.SetFailureObserver({});
  }
}

int bkf::FindHit(const std::uint8_t* w, bool acceptAll) { return FindBlockHit(w, acceptAll); }

int bkf::Scan(const std::string& path) {
  if (!file_.Open(path)) return 0;
  fileLength_ = file_.Size();
  ResolveRange(fileLength_);
  WindowReader reader(file_);
  ReportUnreadablePieces(true);

  std::uint64_t a = rangeStart_;
  percent_ = 0.0f;
  step_ = kWindowSize;
  while (a < rangeEnd_ && Running()) {
    ReportProgress(a, false);
    const std::uint8_t* w = reader.Get(a, kWindowSize);
    const int u = FindHit(w, false);
    if (u < 0) {
      ReportProgress(a, true);  // every window without a block is reported
    } else {
      if (u > 0) {
        a = SatAdd(a, static_cast<std::uint64_t>(u));
        w = reader.Get(a, kWindowSize);
      }
      step_ = kWindowSize;
      const ByteView view(w, kWindowSize);
      switch (mtf::FindBlockTag(w)) {
        case mtf::kTape: HandleTape(view); break;
        case mtf::kSset: HandleSset(view); break;
        case mtf::kVolb: HandleVolb(view); break;
        case mtf::kDirb: HandleDirb(view); break;
        case mtf::kFile: {
          const std::uint64_t n = HandleFile(view, a);
          if (n > kWindowSize) {
            // Jump to (or just before) the end of the file's data.
            a = SatAdd(a, RoundDown(n, kWindowSize));
            step_ = 0;
          }
          break;
        }
        default: break;  // ESET, EOTM, ESPB only re-align the window
      }
    }
    if (a >= rangeEnd_) break;
    a = SatAdd(a, step_);
    step_ = kWindowSize;
    percent_ = static_cast<float>(100.0 * static_cast<double>(a) / static_cast<double>(rangeEnd_));
  }
  ReportUnreadablePieces(false);
  if (listener_) listener_->OnScanDone(100);
  return 1;
}

bool bkf::Adopt(Catalogue catalogue, const std::string& bkfPath) {
  catalogue_ = std::move(catalogue);
  return file_.Open(bkfPath);
}

// ------------------------------------------------------------ handler helpers

namespace {

// The common check of every handler: offset to first event below 2,048.
bool FirstEventOk(ByteView w) { return w.U16(mtf::kFirstEventOffset).value_or(0xFFFF) < 2048; }

bool NameAddressOk(mtf::StringAddress a, std::uint16_t minSize) {
  return a.offset >= 5 && a.offset <= 1023 && a.size >= minSize && a.size < 512;
}

}  // namespace

void bkf::AddTapeNode(std::u16string_view name) {
  const std::uint64_t n = catalogue_.Tree().AddNode(name, currentNode_);
  if (n == kNotFound) return;
  currentNode_ = tapeNode_ = n;
  tapeCreated_ = 1;
}

void bkf::AddSetNode(std::uint16_t number, std::u16string_view name) {
  auto& tree = catalogue_.Tree();
  if (!tapeCreated_) {
    currentNode_ = tapeNode_ = tree.AddNode(kTapeCreated, tapeNode_);
    tapeCreated_ = 1;
  }
  std::u16string label = u"SET ";
  for (char ch : std::to_string(number)) label += static_cast<char16_t>(ch);
  label += u" :";
  label += name;
  currentNode_ = setNode_ = tree.AddNode(label, tapeNode_);
  setCreated_ = 1;
  pathPrefix_.clear();
}

void bkf::AddVolumeNode(std::u16string_view label) {
  auto& tree = catalogue_.Tree();
  if (!tapeCreated_) {
    currentNode_ = tapeNode_ = tree.AddNode(kTapeCreated, tapeNode_);
    tapeCreated_ = 1;
  }
  if (!setCreated_) {
    currentNode_ = setNode_ = tree.AddNode(kSetCreated, tapeNode_);
    setCreated_ = 1;
  }
  currentNode_ = volumeNode_ = tree.AddNode(label, setNode_);
  volumeCreated_ = 1;
  pathPrefix_ = label;
  pathPrefix_ += u'\\';
}

void bkf::MakeFilePlaceholders() {
  if (volumeCreated_) return;
  auto& tree = catalogue_.Tree();
  if (!setCreated_) {
    if (!tapeCreated_) {
      currentNode_ = tapeNode_ = tree.AddNode(kTapeCreated, tapeNode_);
      tapeCreated_ = 1;
    }
    currentNode_ = setNode_ = tree.AddNode(kSetCreated, tapeNode_);
    setCreated_ = 1;
  }
  currentNode_ = volumeNode_ = tree.AddNode(kDummyVolume, setNode_);
  volumeCreated_ = 1;
  pathPrefix_ = kDummyVolume;
  pathPrefix_ += u'\\';
}

std::u16string bkf::ConvertDirectoryName(ByteView block, std::uint16_t offset, std::uint16_t size) {
  std::u16string units = mtf::CopyNameUnits(block, offset, size);
  for (std::size_t i = 0; i + 1 < units.size(); ++i) {
    if (units[i] == u'\0') units[i] = u'\\';
  }
  const auto nul = units.find(u'\0');
  if (nul != std::u16string::npos) units.resize(nul);
  return units;
}

void bkf::AddDirectoryPath(std::u16string_view converted, bool stoppable) {
  auto& tree = catalogue_.Tree();
  std::u16string full = pathPrefix_;
  full += converted;
  if (!volumeCreated_) {
    // A directory met before any volume: a placeholder set (when none exists)
    // and volume under the current node. They do not count as created, and the
    // path prefix stays, so the path is looked up below this placeholder.
    if (!setCreated_) currentNode_ = tree.AddNode(kDummySetCreated, currentNode_);
    currentNode_ = volumeNode_ = tree.AddNode(kDummyVolume, currentNode_);
  }
  std::uint64_t r = kNotFound;
  bool first = true;
  std::size_t pos = 0;
  while (pos <= full.size()) {
    if (stoppable && !Running()) return;
    std::size_t end = full.find(u'\\', pos);
    if (end == std::u16string::npos) end = full.size();
    const std::u16string_view component(full.data() + pos, end - pos);
    pos = end + 1;
    if (component.empty()) continue;
    if (first) {
      r = tree.FindNode(component, volumeNode_, 1);
      first = false;
      continue;
    }
    if (r == kNotFound) continue;
    // Only the direct children: a search of the whole subtree would take
    // A\B\C for A\C and put its files in the wrong folder.
    const std::uint64_t s = tree.FindChild(component, r);
    if (s == kNotFound) {
      r = tree.AddNode(component, r);
      if (r != kNotFound) currentNode_ = r;
    } else {
      r = s;
    }
  }
}

void bkf::AppendFile(std::u16string_view name, std::uint16_t nameSize, std::uint64_t dataPosition,
                     std::uint64_t dataLength) {
  ++filesFound_;
  FileNode node;
  node.nameSize = nameSize;
  node.parent = currentNode_;
  node.kind = 'F';
  node.index = catalogue_.FileCount();
  node.dataPosition = dataPosition;
  node.dataLength = dataLength;
  const std::uint64_t index = catalogue_.AppendFile(node, name);
  FolderNode& folder = catalogue_.Tree().NodeAt(currentNode_);
  if (currentNode_ != previousFileFolder_) folder.firstFile = index;
  folder.lastFile = index;
  previousFileFolder_ = currentNode_;
}

// ------------------------------------------------------------------- handlers

void bkf::HandleTape(ByteView w) {
  if (!FirstEventOk(w)) return;
  const auto addr = mtf::ReadStringAddress(w, mtf::kTapeMediaName);
  if (!NameAddressOk(addr, 0)) return;
  AddTapeNode(mtf::CopyName(w, addr.offset, addr.size));
}

void bkf::HandleSset(ByteView w) {
  if (!FirstEventOk(w)) return;
  const auto addr = mtf::ReadStringAddress(w, mtf::kSsetName);
  if (!NameAddressOk(addr, 0)) return;
  AddSetNode(w.U16(mtf::kSsetNumber).value_or(0), mtf::CopyName(w, addr.offset, addr.size));
}

void bkf::HandleVolb(ByteView w) {
  if (!FirstEventOk(w)) return;
  const auto addr = mtf::ReadStringAddress(w, mtf::kVolbDeviceName);
  if (!NameAddressOk(addr, 1)) return;
  const std::u16string device = mtf::CopyName(w, addr.offset, addr.size);
  const auto colon = device.find(u':');
  if (colon == std::u16string::npos) return;
  // The character before the colon and the colon; just ":" when the name
  // begins with the colon.
  AddVolumeNode(colon == 0 ? std::u16string(u":") : device.substr(colon - 1, 2));
}

void bkf::HandleDirb(ByteView w) {
  if (!FirstEventOk(w)) return;
  const auto addr = mtf::ReadStringAddress(w, mtf::kDirbName);
  if (!NameAddressOk(addr, 0)) {
    step_ = 1;  // the next window starts one byte after this block
    return;
  }
  const std::u16string converted = ConvertDirectoryName(w, addr.offset, addr.size);
  if (converted.empty()) return;  // the volume root
  AddDirectoryPath(converted, false);
}

std::uint64_t bkf::HandleFile(ByteView w, std::uint64_t a) {
  if (!FirstEventOk(w)) return 0;
  const auto addr = mtf::ReadStringAddress(w, mtf::kFileName);
  if (!NameAddressOk(addr, 0)) return 0;
  const std::u16string name = mtf::CopyName(w, addr.offset, addr.size);
  if (name.empty()) return 0;
  // The placeholders come before the block can still be rejected below.
  MakeFilePlaceholders();

  std::uint64_t s = w.U16(mtf::kFirstEventOffset).value_or(0);
  if (s >= kWindowSize) return 0;

  // Stream walk: step over known non-STAN streams until a STAN header, an
  // unknown ID, a header not wholly in the window, or the end of the window.
  bool atStan = false;
  std::uint64_t headerLength = 0;  // length of the last header looked at
  for (;;) {
    if (!w.Has(s, mtf::kStreamHeaderSize)) {
      headerLength = 0;
      break;
    }
    const int tag = mtf::FindStreamTag(w.data() + s);
    headerLength = w.U64(s + mtf::kStreamLengthOffset).value_or(0);
    if (tag == mtf::kStan) {
      atStan = true;
      break;
    }
    if (tag < 0) break;
    s = mtf::NextStreamHeader(s, headerLength);
    if (s >= kWindowSize) break;
  }
  const std::uint64_t dataLength = atStan ? headerLength : 0;
  if (headerLength >= rangeEnd_ || s >= rangeEnd_) return 0;

  AppendFile(name, addr.size, SatAdd(a, SatAdd(s, mtf::kStreamHeaderSize)), dataLength);
  // The loop moves on past the STAN data; when the walk left the window, s
  // already counts the last stream stepped over.
  return atStan ? SatAdd(s, headerLength) : s;
}

}  // namespace ostrel
