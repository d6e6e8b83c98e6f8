#include "reader/scanner.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "reader/mtf.h"
#include "reader/text.h"
#include "reader/window_search.h"

namespace ostrel {

std::string LeftOutLine(const LeftOutFile& file) {
  return "left out: " + Utf16ToUtf8(file.name) + " (" + GroupDigits(file.length) + " bytes at offset " +
         std::to_string(file.offset) + ") runs past the end of the backup; the advanced mode recovers what is there";
}

// ---------------------------------------------------------------- WindowReader

WindowReader::WindowReader(const BkfFile& file, std::size_t maxAhead) : file_(file) {
  // No need for a buffer much larger than the file itself.
  const std::uint64_t fileSize = file.Size();
  if (fileSize + 4096 < maxAhead) maxAhead = static_cast<std::size_t>(fileSize) + 4096;
  maxAhead_ = std::max(maxAhead, kMinAhead);
  buffer_ = ReadBuffer(maxAhead_ + kReadAlign);
}

const std::uint8_t* WindowReader::Get(std::uint64_t position, std::size_t count) {
  const std::size_t need = std::min(count, 2 * kWindowSize) + kSlack;
  const bool cached = valid_ != 0 && position >= start_ && position - start_ <= valid_ &&
                      valid_ - (position - start_) >= need;
  if (!cached) {
    const bool followsOn = valid_ != 0 && position >= start_ && position - start_ <= SatAdd(valid_, ahead_);
    ahead_ = followsOn ? std::min(ahead_ * 2, maxAhead_) : kMinAhead;
    start_ = RoundDown(position, ahead_ > kMinAhead ? kReadAlign : kSmallReadAlign);
    valid_ = std::max(ahead_, need + static_cast<std::size_t>(position - start_));
    bytesRead_ += file_.ReadAt(start_, buffer_.data(), valid_);  // zero-fills past the end
  }
  return buffer_.data() + (position - start_);
}

// --------------------------------------------------------------------- Scanner

Scanner::Scanner(RecoverySession& session, const StopToken& stop, ScanListener* listener)
    : session_(session), stop_(stop), builder_(session.catalogue, stop), listener_(listener) {}

Scanner::~Scanner() = default;

void Scanner::ResolveRange(std::uint64_t fileLength) {
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

void Scanner::ReportProgress(std::uint64_t a, bool force) {
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
  if (force && listener_) listener_->OnProgress({percent_, a, builder_.FilesFound(), fileLength_});
}

int Scanner::FindHit(const std::uint8_t* w, bool acceptAll) { return FindBlockHit(w, acceptAll); }

std::unique_ptr<BlockSearch> Scanner::OpenSearch(bool acceptAll) {
  const unsigned threads = searchOptions_.threads != 0 ? searchOptions_.threads : DefaultSearchThreads();
  if (threads <= 1 || rangeStart_ >= rangeEnd_) return nullptr;
  // A window at the range's last byte is searched to its own end.
  auto search = std::make_unique<BlockSearch>(
      session_.file, SatAdd(rangeEnd_, kWindowSize - 1), acceptAll, threads, searchOptions_.segmentSize, stop_,
      [this](std::uint64_t position) { ReportProgress(position, true); });
  running_ = search.get();
  return search;
}

bool Scanner::BeginScan(const std::string& path, RecoveryMode mode) {
  SessionOrigin& origin = session_.origin;
  origin = {};
  origin.kind = SessionOrigin::Kind::Scan;
  origin.bkfPath = path;
  origin.mode = mode;
  origin.heuristic = heuristic_;
  origin.rangeStart = rangeStart_;
  origin.rangeEnd = rangeEnd_;
  blocksFound_ = 0;
  bytesRead_ = 0;
  session_.leftOut.clear();
  session_.leftOutNotListed = 0;
  session_.setBlocks.clear();
  // Stop ends the work around a failing disk's bad pieces too.
  session_.file.SetStopToken(&stop_);
  if (!session_.file.Open(path)) {
    session_.file.SetStopToken(nullptr);
    return false;
  }
  fileLength_ = session_.file.Size();
  builder_.SetFolderLimit(FolderLimit(fileLength_));
  ResolveRange(fileLength_);
  // From the start of the window loop to its end, every piece of the file
  // given up as unreadable is reported as progress at its position.
  // A search worker's failure is reported on this thread, through the search.
  session_.file.SetFailureObserver([this](std::uint64_t position) {
    if (running_ == nullptr || !running_->Relay(position)) ReportProgress(position, true);
  });
  return true;
}

void Scanner::NoteSetBlock(std::uint64_t a, const std::uint8_t* w) {
  const int tag = mtf::FindBlockTag(w);
  if (tag != mtf::kTape && tag != mtf::kSset && tag != mtf::kEset) return;
  if (session_.setBlocks.size() >= kMaxSetBlocks || !mtf::BlockChecksumOk(ByteView(w, kWindowSize))) return;
  SetBlock& block = session_.setBlocks.emplace_back();
  std::memcpy(block.id, w, 4);
  block.position = a;
}

std::string Scanner::Note() const {
  std::string note = builder_.DepthCapped() ? kDepthCapNote : "";
  if (builder_.FolderCapped()) note += (note.empty() ? "" : "; ") + std::string(kFolderCapNote);
  return note;
}

void Scanner::EndScan() {
  session_.file.SetFailureObserver({});
  // Whoever extracts from the session gives the file the stop token of that
  // work; this one may not live as long as the session.
  session_.file.SetStopToken(nullptr);
  if (listener_) listener_->OnScanDone(100);
}

// ------------------------------------------------------------- StandardScanner

int StandardScanner::Scan(const std::string& path) {
  if (!BeginScan(path, RecoveryMode::Standard)) return 0;
  WindowReader reader(session_.file);
  WindowLoop(reader, false, [this](std::uint64_t a, const std::uint8_t* w) {
    BlockStep step;
    const ByteView view(w, kWindowSize);
    switch (mtf::FindBlockTag(w)) {
      case mtf::kTape: HandleTape(view); break;
      case mtf::kSset: HandleSset(view); break;
      case mtf::kVolb: HandleVolb(view); break;
      case mtf::kDirb:
        if (!HandleDirb(view)) step.next = 1;  // the next window starts one byte after this block
        break;
      case mtf::kFile: {
        const std::uint64_t n = HandleFile(view, a);
        if (n > kWindowSize) {
          // Jump to (or just before) the end of the file's data.
          step.skip = RoundDown(n, kWindowSize);
          step.next = 0;
        }
        break;
      }
      default: break;  // ESET, EOTM, ESPB only re-align the window
    }
    return step;
  });
  EndScan();
  return 1;
}

// ------------------------------------------------------------ handler helpers

namespace {

// The common check of every handler: offset to first event below 2,048.
bool FirstEventOk(ByteView w) { return w.U16(mtf::kFirstEventOffset).value_or(0xFFFF) < 2048; }

bool NameAddressOk(mtf::StringAddress a, std::uint16_t minSize) {
  return a.offset >= 5 && a.offset <= 1023 && a.size >= minSize && a.size < 512;
}

}  // namespace

// ------------------------------------------------------------------- handlers

void StandardScanner::HandleTape(ByteView w) {
  if (!FirstEventOk(w)) return;
  const auto addr = mtf::ReadStringAddress(w, mtf::kTapeMediaName);
  if (!NameAddressOk(addr, 0)) return;
  builder_.AddTape(mtf::CopyName(w, addr.offset, addr.size));
}

void StandardScanner::HandleSset(ByteView w) {
  if (!FirstEventOk(w)) return;
  const auto addr = mtf::ReadStringAddress(w, mtf::kSsetName);
  if (!NameAddressOk(addr, 0)) return;
  builder_.AddSet(w.U16(mtf::kSsetNumber).value_or(0), mtf::CopyName(w, addr.offset, addr.size));
}

void StandardScanner::HandleVolb(ByteView w) {
  if (!FirstEventOk(w)) return;
  const auto addr = mtf::ReadStringAddress(w, mtf::kVolbDeviceName);
  if (!NameAddressOk(addr, 1)) return;
  const std::u16string device = mtf::CopyName(w, addr.offset, addr.size);
  const auto colon = device.find(u':');
  if (colon == std::u16string::npos) return;
  // The character before the colon and the colon; just ":" when the name
  // begins with the colon.
  builder_.AddVolume(colon == 0 ? std::u16string(u":") : device.substr(colon - 1, 2));
}

bool StandardScanner::HandleDirb(ByteView w) {
  if (!FirstEventOk(w)) return true;
  const auto addr = mtf::ReadStringAddress(w, mtf::kDirbName);
  if (!NameAddressOk(addr, 0)) return false;
  const std::u16string converted = CatalogueBuilder::ConvertDirectoryName(w, addr.offset, addr.size);
  const std::optional<std::int64_t> modified = mtf::ReadDate(w, mtf::kModifiedDate);
  if (converted.empty()) {  // the volume root
    builder_.DateVolumeRoot(modified);
    return true;
  }
  builder_.AddDirectoryPath(converted, false, modified);
  return true;
}

std::uint64_t StandardScanner::HandleFile(ByteView w, std::uint64_t a) {
  if (!FirstEventOk(w)) return 0;
  const auto addr = mtf::ReadStringAddress(w, mtf::kFileName);
  if (!NameAddressOk(addr, 0)) return 0;
  const std::u16string name = mtf::CopyName(w, addr.offset, addr.size);
  if (name.empty()) return 0;
  // The placeholders come before the block can still be rejected below.
  builder_.MakeFilePlaceholders();

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
  if (headerLength >= rangeEnd_ || s >= rangeEnd_) {
    // The rule keeps false blocks in noise out of the catalogue, but a block
    // the backup program wrote (its checksum holds) whose data runs past the
    // end is a file cut off by the end of the backup: it is not lost in
    // silence.
    if (atStan && s < rangeEnd_ && mtf::BlockChecksumOk(w)) {
      if (session_.leftOut.size() < kMaxLeftOutListed) {
        session_.leftOut.push_back({name, a, headerLength});
      } else {
        ++session_.leftOutNotListed;
      }
    }
    return 0;
  }

  builder_.AppendFile(name, addr.size, SatAdd(a, SatAdd(s, mtf::kStreamHeaderSize)), dataLength,
                      mtf::ReadDate(w, mtf::kModifiedDate));
  // The loop moves on past the STAN data; when the walk left the window, s
  // already counts the last stream stepped over.
  return atStan ? SatAdd(s, headerLength) : s;
}

}  // namespace ostrel
