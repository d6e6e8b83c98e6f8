#include "reader/advanced_scanner.h"

#include <algorithm>
#include <cstring>

#include "reader/mtf.h"

namespace ostrel {

// ------------------------------------------------------------- AdvancedScanner

namespace {

constexpr std::uint8_t kMaxOsVersion = 33;  // OS version bytes from 33 on are refused

// Bytes (0 to 3) that bring a stream of `length` data bytes and its 22-byte
// header up to a multiple of 4. Unsigned wrap-around keeps the value mod 4.
constexpr std::uint64_t Pad(std::uint64_t length) { return (0 - (length + mtf::kStreamHeaderSize)) & 3; }

bool NameAddressOk(mtf::StringAddress a, std::uint16_t minSize) {
  return a.offset >= 5 && a.offset <= 1023 && a.size >= minSize && a.size < 512;
}

bool IsDigitOrCapital(std::uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'); }

// Where a FILE block's stream walk stopped.
struct StreamStop {
  std::uint64_t offset = 0;  // from the block start
  bool atStan = false;
  std::uint64_t stanLength = 0;
};

// Steps over the streams of the stream tag table other than STAN, from
// `offset`, until a STAN header, an unknown ID, or a header that does not lie
// wholly within `w`. `unpaddedCpad` leaves out the padding after a CPAD
// stream (the walk through the 2,048-byte window); every other step is padded.
StreamStop WalkToStan(ByteView w, std::uint64_t offset, bool unpaddedCpad) {
  for (;;) {
    if (offset > w.size() || !w.Has(static_cast<std::size_t>(offset), mtf::kStreamHeaderSize)) {
      return {offset, false, 0};
    }
    const auto at = static_cast<std::size_t>(offset);
    const int tag = mtf::FindStreamTag(w.data() + at);
    const std::uint64_t length = w.U64(at + mtf::kStreamLengthOffset).value_or(0);
    if (tag == mtf::kStan) return {offset, true, length};
    if (tag < 0) return {offset, false, 0};
    offset = (unpaddedCpad && tag == mtf::kCpad)
                 ? SatAdd(SatAdd(offset, mtf::kStreamHeaderSize), length)
                 : mtf::NextStreamHeader(offset, length);
  }
}

}  // namespace

bool AdvancedScanner::StreamIdOk(const std::uint8_t* id) const {
  if (heuristic_) {
    for (int i = 0; i < 4; ++i) {
      if (!IsDigitOrCapital(id[i])) return false;
    }
    return mtf::FindBlockTag(id) < 0;
  }
  // The stream tag table and two more IDs that only count here.
  return mtf::FindStreamTag(id) >= 0 || std::memcmp(id, "NTQU", 4) == 0 ||
         std::memcmp(id, "NTRP", 4) == 0;
}

std::uint64_t AdvancedScanner::MeasureBlock(std::uint64_t b, std::uint16_t firstEvent) {
  // The first stream header, at the offset to the first stream rounded up to
  // a multiple of 4.
  std::uint64_t header = SatRoundUp(firstEvent, 4);
  const std::uint8_t* h = reader_->Get(SatAdd(b, header), mtf::kStreamHeaderSize);
  if (!StreamIdOk(h)) return kWindowSize;
  std::uint64_t length = ByteView(h, mtf::kStreamHeaderSize).U64(mtf::kStreamLengthOffset).value_or(0);
  if (length > fileLength_) return kWindowSize;
  // After a first CPAD stream the headers follow one another without padding,
  // while the extent still counts it.
  const bool unpadded = mtf::FindStreamTag(h) == mtf::kCpad;
  std::uint64_t extent = SatAdd(header, SatAdd(mtf::kStreamHeaderSize, SatAdd(length, Pad(length))));

  // Each step moves on by at least 22 bytes and only takes a stream whose
  // data ends inside the file, so the walk ends at the end of the file at the
  // latest. One damaged length on a later stream must not stretch the extent
  // past the end of the file: such a stream is not counted and ends the walk.
  std::uint64_t steps = 0;
  while (length < fileLength_) {
    header = SatAdd(SatAdd(header, mtf::kStreamHeaderSize), length);
    if (!unpadded) header = SatAdd(header, Pad(length));
    const std::uint64_t at = SatAdd(b, header);
    if (at >= fileLength_) break;
    h = reader_->Get(at, mtf::kStreamHeaderSize);
    if (!StreamIdOk(h)) break;
    const std::uint64_t next = ByteView(h, mtf::kStreamHeaderSize).U64(mtf::kStreamLengthOffset).value_or(0);
    if (SatAdd(SatAdd(at, mtf::kStreamHeaderSize), next) > fileLength_) break;
    length = next;
    extent = SatAdd(extent, SatAdd(mtf::kStreamHeaderSize, SatAdd(length, Pad(length))));
    if ((++steps & 0xFFF) == 0 && !Running()) break;
  }
  return extent;
}

std::uint16_t AdvancedScanner::FirstEvent() const {
  return LoopWindow().U16(mtf::kFirstEventOffset).value_or(0);
}

bool AdvancedScanner::CommonValidation(ByteView w, int tag) const {
  return mtf::FindBlockTag(w.data()) == tag && FirstEvent() < 2 * kWindowSize &&
         w.U8(mtf::kOsVersionOffset).value_or(0xFF) < kMaxOsVersion;
}

int AdvancedScanner::Scan(const std::string& path) {
  if (!BeginScan(path, RecoveryMode::Advanced)) return 0;
  // Block measuring reads stream headers far apart: the read-ahead grows to
  // 1 MiB only where they follow on.
  WindowReader reader(session_.file, std::size_t{1} << 20);
  reader_ = &reader;
  WindowLoop(reader, true, [this, &reader](std::uint64_t a, const std::uint8_t*) {
    // The block window: the first 2,048 bytes of the block (zeros past the
    // end of the file), with the slack the tag look-ups may read.
    std::memcpy(block_.data(), reader.Get(a, 2 * kWindowSize), block_.size());
    blockBytes_ = static_cast<std::size_t>(std::min<std::uint64_t>(2 * kWindowSize, fileLength_ - a));
    std::uint64_t e = 0;
    bool roundUp = true;  // by 512 (TAPE, SSET and the unnamed blocks), else down by 1,024
    switch (const int tag = mtf::FindBlockTag(block_.data())) {
      case mtf::kTape: e = HandleTape(a); break;
      case mtf::kSset: e = HandleSset(a); break;
      case mtf::kVolb: e = HandleVolb(a); roundUp = false; break;
      case mtf::kDirb: e = HandleDirb(a); roundUp = false; break;
      case mtf::kFile: e = HandleFile(a); roundUp = false; break;
      default:
        // CFIL, SFMB, ESET, EOTM, ESPB: no node, the block is only measured.
        e = tag >= 0 ? MeasureBlock(a, FirstEvent()) : 0;
        break;
    }
    BlockStep step;
    if (e > kWindowSize) {
      step.skip = roundUp ? SatRoundUp(e, 512) : RoundDown(e, kWindowSize);
      step.next = 0;
    }
    return step;
  });
  reader_ = nullptr;
  EndScan();
  return 1;
}

// ------------------------------------------------------------------- handlers
//
// Each adds catalogue nodes as its standard counterpart does, except where a
// comment says otherwise. Names are read from the 1,024-byte window and cut at
// its end, as in the standard scanner.

std::uint64_t AdvancedScanner::HandleTape(std::uint64_t b) {
  const ByteView w = LoopWindow();
  if (!CommonValidation(w, mtf::kTape)) return 0;
  auto addr = mtf::ReadStringAddress(w, mtf::kTapeMediaName);
  // An unnamed tape (size and offset both 0) takes the software name. A media
  // name of size 0 at a valid offset names the tape with an empty name.
  if (addr.size == 0 && addr.offset == 0) addr = mtf::ReadStringAddress(w, mtf::kTapeSoftwareName);
  if (!NameAddressOk(addr, 0)) return 0;
  builder_.AddTape(mtf::CopyName(w, addr.offset, addr.size));
  return MeasureBlock(b, FirstEvent());
}

std::uint64_t AdvancedScanner::HandleSset(std::uint64_t b) {
  const ByteView w = LoopWindow();
  if (!CommonValidation(w, mtf::kSset)) return 0;
  const auto addr = mtf::ReadStringAddress(w, mtf::kSsetName);
  // A set whose name address is out of range adds no node but is still
  // jumped over; one whose name is empty is not.
  if (!NameAddressOk(addr, 0)) return MeasureBlock(b, FirstEvent());
  const std::u16string name = mtf::CopyName(w, addr.offset, addr.size);
  if (name.empty()) return 0;
  builder_.AddSet(w.U16(mtf::kSsetNumber).value_or(0), name);
  return MeasureBlock(b, FirstEvent());
}

std::uint64_t AdvancedScanner::HandleVolb(std::uint64_t b) {
  const ByteView w = LoopWindow();
  if (!CommonValidation(w, mtf::kVolb)) return 1;
  const auto addr = mtf::ReadStringAddress(w, mtf::kVolbDeviceName);
  if (!NameAddressOk(addr, 1)) return 0;
  const std::u16string device = mtf::CopyName(w, addr.offset, addr.size);
  if (device.empty()) return 1;
  // The character before the first colon and the colon (":" alone when the
  // name begins with it); a device name without a colon ("TAPE0") is the
  // label as a whole.
  const auto colon = device.find(u':');
  if (colon == std::u16string::npos) {
    builder_.AddVolume(device);
  } else {
    builder_.AddVolume(colon == 0 ? std::u16string(u":") : device.substr(colon - 1, 2));
  }
  return MeasureBlock(b, FirstEvent());
}

std::uint64_t AdvancedScanner::HandleDirb(std::uint64_t b) {
  const ByteView w = LoopWindow();
  if (!CommonValidation(w, mtf::kDirb)) return 0;
  const auto addr = mtf::ReadStringAddress(w, mtf::kDirbName);
  // An unusable name only rejects the block: the scan moves on by 1,024.
  if (!NameAddressOk(addr, 0)) return 0;
  const std::u16string converted = CatalogueBuilder::ConvertDirectoryName(w, addr.offset, addr.size);
  // The volume root adds no folder but is jumped over like any directory.
  const std::optional<std::int64_t> modified = mtf::ReadDate(w, mtf::kModifiedDate);
  if (converted.empty()) {
    builder_.DateVolumeRoot(modified);
  } else {
    builder_.AddDirectoryPath(converted, true, modified);
  }
  return MeasureBlock(b, FirstEvent());
}

std::uint64_t AdvancedScanner::HandleFile(std::uint64_t b) {
  const ByteView w = LoopWindow();
  if (!CommonValidation(w, mtf::kFile)) return 0;
  const auto addr = mtf::ReadStringAddress(w, mtf::kFileName);
  if (!NameAddressOk(addr, 0)) return 0;
  const std::u16string name = mtf::CopyName(w, addr.offset, addr.size);
  if (name.empty()) return 0;
  builder_.MakeFilePlaceholders();

  // The data stream: a first stream inside the 1,024-byte window is found as
  // the standard scanner finds it; one further on (which the standard scanner
  // rejects) through the first 2,048 bytes of the block. Either way only the
  // bytes the file holds count as read.
  const std::uint16_t first = FirstEvent();
  const ByteView full = FullBlock();
  const StreamStop stop = first < kWindowSize
                              ? WalkToStan(full.Sub(0, kWindowSize), first, false)
                              : WalkToStan(full, first, true);
  // No comparison with the range end: a partial scan keeps every file found
  // before it, whatever its streams' lengths.
  builder_.AppendFile(name, addr.size, SatAdd(b, SatAdd(stop.offset, mtf::kStreamHeaderSize)),
             stop.atStan ? stop.stanLength : 0, mtf::ReadDate(w, mtf::kModifiedDate));
  return MeasureBlock(b, first);
}

}  // namespace ostrel
