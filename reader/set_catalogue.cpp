#include "reader/set_catalogue.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <unordered_map>

#include "reader/catalogue_builder.h"
#include "reader/mtf.h"

namespace ostrel {
namespace {

// File/directory detail entry fields (offsets from the entry's start).
constexpr std::size_t kEntryHeaderSize = 36;
constexpr std::size_t kEntryLength = 0;
constexpr std::size_t kEntryType = 2;
constexpr std::size_t kEntryLba = 12;
constexpr std::size_t kEntrySize = 20;
constexpr std::size_t kEntryLink = 28;
constexpr std::size_t kVolumeFieldsEnd = 61;
constexpr std::size_t kVolumeDevice = 40;
constexpr std::array<std::size_t, 4> kVolumeStrings = {40, 44, 48, 52};
constexpr std::size_t kItemFieldsEnd = 68;  // DIRB and FILE
constexpr std::size_t kItemModified = 36;
constexpr std::size_t kItemName = 60;
constexpr std::array<std::size_t, 2> kItemStrings = {60, 64};

// Set map fields.
constexpr std::size_t kMapHeaderSize = 8;
constexpr std::size_t kMapFamily = 0;
constexpr std::size_t kMapCount = 4;
constexpr std::size_t kSetFieldsEnd = 91;
constexpr std::size_t kSetSsetPba = 12;
constexpr std::size_t kSetCataloguePba = 20;
constexpr std::size_t kSetNumber = 30;
constexpr std::size_t kSetDirectories = 40;
constexpr std::size_t kSetFiles = 44;
constexpr std::size_t kSetCorrupt = 48;
constexpr std::size_t kSetVolumes = 60;
constexpr std::size_t kSetName = 64;
constexpr std::array<std::size_t, 4> kSetStrings = {64, 68, 72, 76};
constexpr std::size_t kSetDate = 80;

// Block fields read by the search.
constexpr std::size_t kTapeBlockSize = 84;
constexpr std::size_t kEsetSetNumber = 78;
constexpr std::size_t kBlockHeaderSize = 52;

constexpr std::uint32_t Id(const char (&s)[5]) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(s[0])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[3])) << 24;
}
constexpr std::uint32_t kVolbId = Id("VOLB"), kDirbId = Id("DIRB"), kFileId = Id("FILE"), kFendId = Id("FEND");
constexpr std::uint32_t kTapeId = Id("TAPE"), kSsetId = Id("SSET"), kEsetId = Id("ESET");
constexpr std::uint32_t kTfddId = Id("TFDD"), kTsmpId = Id("TSMP"), kFdd2Id = Id("FDD2"), kMap2Id = Id("MAP2");

std::string At(std::uint64_t position) { return "offset " + GroupDigits(position); }

std::string IdText(std::uint32_t id) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>(id >> (8 * i) & 0xFF);
    s[static_cast<std::size_t>(i)] = c >= 0x20 && c < 0x7F ? c : '?';
  }
  return s;
}

// The first string address of `fields` whose bytes do not lie inside `entry`.
std::optional<std::size_t> StringOutside(ByteView entry, const auto& fields) {
  for (std::size_t field : fields) {
    const mtf::StringAddress a = mtf::ReadStringAddress(entry, field);
    if (a.size != 0 && !entry.Has(a.offset, a.size)) return field;
  }
  return std::nullopt;
}

std::string StringReason(const std::string& what, std::uint64_t position, ByteView entry, std::size_t field) {
  const mtf::StringAddress a = mtf::ReadStringAddress(entry, field);
  return "a string of " + what + " at " + At(position) + " runs past its entry (" + GroupDigits(a.size) +
         " bytes at " + GroupDigits(a.offset) + " of a " + GroupDigits(entry.size()) + "-byte entry)";
}

std::optional<std::uint64_t> BlockPositionOf(std::uint64_t lba, const BlockMapping& mapping) {
  if (!mapping.ssetPosition || mapping.logicalBlockSize == 0) return std::nullopt;
  if (lba > (kU64Max - *mapping.ssetPosition) / mapping.logicalBlockSize) return std::nullopt;
  return *mapping.ssetPosition + lba * mapping.logicalBlockSize;
}

CatalogueEntries DamagedEntries(std::string reason) {
  CatalogueEntries out;
  out.outcome = CatalogueOutcome::kDamaged;
  out.reason = std::move(reason);
  return out;
}

SetMap DamagedMap(std::string reason) {
  SetMap out;
  out.outcome = CatalogueOutcome::kDamaged;
  out.reason = std::move(reason);
  return out;
}

}  // namespace

std::string_view CatalogueOutcomeName(CatalogueOutcome outcome) {
  switch (outcome) {
    case CatalogueOutcome::kRead: return "read";
    case CatalogueOutcome::kDamaged: return "damaged";
    case CatalogueOutcome::kNotReadYet: return "not read yet";
    case CatalogueOutcome::kNotFound: return "not found";
  }
  return "unknown";
}

CatalogueEntries ParseCatalogueEntries(ByteView data, std::uint64_t dataPosition, const BlockMapping& mapping) {
  CatalogueEntries out;
  std::size_t offset = 0;
  for (std::uint64_t number = 1;; ++number) {
    const std::uint64_t position = SatAdd(dataPosition, offset);
    const std::string entryName = "entry " + GroupDigits(number);
    if (offset == data.size()) {
      return DamagedEntries("the catalogue ends at " + At(position) + " after " + GroupDigits(number - 1) +
                            " entries without its end marker (FEND)");
    }
    const auto type = data.U32(offset + kEntryType);
    if (!type) return DamagedEntries(entryName + " at " + At(position) + " runs past the end of the stream");
    if (*type == kFendId) break;  // its length may cover the stream's padding: not needed
    const std::uint16_t length = *data.U16(offset + kEntryLength);
    if (length < kEntryHeaderSize) {
      return DamagedEntries(entryName + " at " + At(position) + " is " + GroupDigits(length) +
                            " bytes long, shorter than the 36-byte entry header");
    }
    if (!data.Has(offset, length)) {
      return DamagedEntries(entryName + " at " + At(position) + " runs past the end of the stream (" +
                            GroupDigits(length) + " bytes, " + GroupDigits(data.size() - offset) + " left)");
    }
    const ByteView entry = data.Sub(offset, length);
    CatalogueEntry e;
    std::size_t fieldsEnd = 0;
    if (*type == kVolbId) {
      e.kind = CatalogueEntryKind::kVolume;
      fieldsEnd = kVolumeFieldsEnd;
    } else if (*type == kDirbId || *type == kFileId) {
      e.kind = *type == kDirbId ? CatalogueEntryKind::kDirectory : CatalogueEntryKind::kFile;
      fieldsEnd = kItemFieldsEnd;
    } else {
      ++out.skippedEntries;
      offset += length;
      continue;
    }
    const std::string what = entryName + " (" + IdText(*type) + ")";
    if (length < fieldsEnd) {
      return DamagedEntries(what + " at " + At(position) + " is " + GroupDigits(length) +
                            " bytes long, shorter than the " + GroupDigits(fieldsEnd) + " bytes of its fields");
    }
    const auto bad = e.kind == CatalogueEntryKind::kVolume ? StringOutside(entry, kVolumeStrings)
                                                          : StringOutside(entry, kItemStrings);
    if (bad) return DamagedEntries(StringReason(what, position, entry, *bad));

    const std::size_t nameField = e.kind == CatalogueEntryKind::kVolume ? kVolumeDevice : kItemName;
    const mtf::StringAddress name = mtf::ReadStringAddress(entry, nameField);
    if (e.kind == CatalogueEntryKind::kDirectory) {
      e.name = CatalogueBuilder::ConvertDirectoryName(entry, name.offset, name.size);
    } else {
      e.name = name.size == 0 ? std::u16string() : mtf::CopyName(entry, name.offset, name.size);
    }
    if (e.kind != CatalogueEntryKind::kVolume) e.modified = mtf::ReadDate(entry, kItemModified);
    e.lba = *entry.U64(kEntryLba);
    e.size = *entry.U64(kEntrySize);
    e.link = static_cast<std::int32_t>(*entry.U32(kEntryLink));
    e.blockPosition = BlockPositionOf(e.lba, mapping);
    e.offset = offset;
    if (e.link >= 0) {
      // Entries are in offset order: the one `link` names, if any, by halving.
      const auto target = static_cast<std::uint64_t>(e.link);
      const auto it = std::lower_bound(out.entries.begin(), out.entries.end(), target,
                                       [](const CatalogueEntry& x, std::uint64_t t) { return x.offset < t; });
      if (it != out.entries.end() && it->offset == target) {
        e.parent = static_cast<std::size_t>(it - out.entries.begin());
      }
    }
    out.entries.push_back(std::move(e));
    offset += length;
  }
  out.outcome = CatalogueOutcome::kRead;
  return out;
}

SetMap ParseSetMap(ByteView data, std::uint64_t dataPosition) {
  if (!data.Has(0, kMapHeaderSize)) {
    return DamagedMap("the set map at " + At(dataPosition) + " is " + GroupDigits(data.size()) +
                      " bytes long, shorter than its 8-byte header");
  }
  SetMap out;
  out.familyId = *data.U32(kMapFamily);
  const std::uint16_t count = *data.U16(kMapCount);
  if (static_cast<std::uint64_t>(count) * kSetFieldsEnd > data.size() - kMapHeaderSize) {
    return DamagedMap("the set map at " + At(dataPosition) + " counts " + GroupDigits(count) +
                      " sets, more than its " + GroupDigits(data.size()) + " bytes can hold");
  }
  out.sets.reserve(count);
  std::size_t offset = kMapHeaderSize;
  for (std::uint32_t i = 1; i <= count; ++i) {
    const std::uint64_t position = SatAdd(dataPosition, offset);
    const std::string what = "set entry " + GroupDigits(i);
    const auto length = data.U16(offset);
    if (!length || !data.Has(offset, *length)) {
      return DamagedMap(what + " at " + At(position) + " runs past the end of the set map");
    }
    if (*length < kSetFieldsEnd) {
      return DamagedMap(what + " at " + At(position) + " is " + GroupDigits(*length) +
                        " bytes long, shorter than the 91 bytes of its fields");
    }
    const ByteView entry = data.Sub(offset, *length);
    if (const auto bad = StringOutside(entry, kSetStrings)) {
      return DamagedMap(StringReason(what, position, entry, *bad));
    }
    SetMapEntry s;
    s.ssetPba = *entry.U64(kSetSsetPba);
    s.cataloguePba = *entry.U64(kSetCataloguePba);
    s.setNumber = *entry.U16(kSetNumber);
    s.directories = *entry.U32(kSetDirectories);
    s.files = *entry.U32(kSetFiles);
    s.corruptFiles = *entry.U32(kSetCorrupt);
    s.volumes = *entry.U16(kSetVolumes);
    const mtf::StringAddress name = mtf::ReadStringAddress(entry, kSetName);
    if (name.size != 0) s.name = mtf::CopyName(entry, name.offset, name.size);
    s.backupDate = mtf::ReadDate(entry, kSetDate);
    offset += *length;
    // The set's volume entries follow it; only their lengths matter here.
    for (std::uint32_t v = 1; v <= s.volumes; ++v) {
      const std::uint64_t volumePosition = SatAdd(dataPosition, offset);
      const auto volumeLength = data.U16(offset);
      if (!volumeLength || *volumeLength < kEntryHeaderSize || !data.Has(offset, *volumeLength)) {
        return DamagedMap("volume entry " + GroupDigits(v) + " of " + what + " at " + At(volumePosition) +
                          (volumeLength && *volumeLength < kEntryHeaderSize
                               ? " is shorter than the 36-byte entry header"
                               : " runs past the end of the set map"));
      }
      offset += *volumeLength;
    }
    out.sets.push_back(std::move(s));
  }
  out.outcome = CatalogueOutcome::kRead;
  return out;
}

std::uint64_t SetCatalogueResult::FileCount() const {
  return static_cast<std::uint64_t>(std::count_if(entries.begin(), entries.end(), [](const CatalogueEntry& e) {
    return e.kind == CatalogueEntryKind::kFile;
  }));
}

namespace {

// The first letters of the IDs the search looks for: T(APE, FDD, SMP), S(SET),
// E(SET), F(DD2), M(AP2).
constexpr std::array<bool, 256> kFirstLetter = [] {
  std::array<bool, 256> t{};
  for (unsigned char c : {'T', 'S', 'E', 'F', 'M'}) t[c] = true;
  return t;
}();

// One pass over the file; see ReadSetCatalogues.
class CatalogueSearch {
 public:
  CatalogueSearch(const BkfFile& file, const StopToken& stop) : file_(file), stop_(stop) {}

  SetCatalogueScan Run() {
    constexpr std::size_t kPiece = 1u << 20;
    // Each piece is read with the bytes a block header starting in its last
    // bytes reaches; IDs starting there are the next piece's.
    constexpr std::size_t kReach = kBlockHeaderSize;
    ReadBuffer buffer(kPiece + kReach);
    fileSize_ = file_.Size();
    for (std::uint64_t piece = 0; piece < fileSize_; piece += kPiece) {
      if (stop_.StopRequested()) {
        scan_.stopped = true;
        break;
      }
      const std::size_t got = file_.ReadAt(piece, buffer.data(), buffer.size());
      const ByteView view(buffer.data(), std::min(got, buffer.size()));
      const std::size_t hits = std::min<std::size_t>(kPiece, view.size());
      for (std::size_t i = 0; i < hits; ++i) {
        if (!kFirstLetter[view.data()[i]]) continue;
        const auto id = view.U32(i);
        if (!id) break;
        OnId(*id, view.Sub(i, kReach), piece + i);
      }
    }
    return std::move(scan_);
  }

  // The blocks a scan met, each ESET followed by its streams.
  SetCatalogueScan RunAt(const std::vector<SetBlock>& blocks) {
    fileSize_ = file_.Size();
    for (const SetBlock& block : blocks) {
      if (stop_.StopRequested()) {
        scan_.stopped = true;
        break;
      }
      std::array<std::uint8_t, kBlockHeaderSize> header{};
      if (file_.ReadAt(block.position, header.data(), header.size()) < header.size()) continue;
      const ByteView view(header.data(), header.size());
      const std::uint32_t id = *view.U32(0);
      OnId(id, view, block.position);
      if (id != kEsetId || !mtf::BlockChecksumOk(view)) continue;
      // The catalogue is the ESET's first stream, the set map the one after it.
      std::uint64_t at = SatAdd(block.position, *view.U16(mtf::kFirstEventOffset));
      for (int stream = 0; stream < 2 && at < fileSize_; ++stream) {
        std::array<std::uint8_t, mtf::kStreamHeaderSize> streamHeader{};
        if (file_.ReadAt(at, streamHeader.data(), streamHeader.size()) < streamHeader.size()) break;
        const ByteView streamView(streamHeader.data(), streamHeader.size());
        const std::uint32_t streamId = *streamView.U32(0);
        if (streamId != kTfddId && streamId != kFdd2Id && streamId != kTsmpId && streamId != kMap2Id) break;
        OnId(streamId, streamView, at);
        at = mtf::NextStreamHeader(at, *streamView.U64(mtf::kStreamLengthOffset));
      }
    }
    return std::move(scan_);
  }

 private:
  void OnId(std::uint32_t id, ByteView header, std::uint64_t position) {
    switch (id) {
      case kTapeId:
        if (mtf::BlockChecksumOk(header)) OnTape(position);
        break;
      case kSsetId:
        if (mtf::BlockChecksumOk(header)) OnSset(position);
        break;
      case kEsetId:
        if (mtf::BlockChecksumOk(header)) OnEset(header, position);
        break;
      case kTfddId:
      case kFdd2Id:
        if (mtf::StreamChecksumOk(header)) OnCatalogue(id, header, position);
        break;
      case kTsmpId:
      case kMap2Id:
        if (mtf::StreamChecksumOk(header)) OnSetMap(id, header, position);
        break;
      default:
        break;
    }
  }

  void OnTape(std::uint64_t position) {
    std::array<std::uint8_t, kTapeBlockSize + 2> bytes{};
    file_.ReadAt(position, bytes.data(), bytes.size());
    const std::uint16_t size = *ByteView(bytes.data(), bytes.size()).U16(kTapeBlockSize);
    // A power of two from 512 on; anything else is not trusted.
    if (size >= 512 && (size & (size - 1)) == 0) {
      blockSize_ = size;
      blockSizeFromTape_ = true;
    }
  }

  void OnSset(std::uint64_t position) {
    std::array<std::uint8_t, mtf::kSsetNumber + 2> bytes{};
    file_.ReadAt(position, bytes.data(), bytes.size());
    currentSet_ = Add();
    lastEset_.reset();
    lastCatalogue_.reset();
    if (!currentSet_) return;
    SetCatalogueResult& r = scan_.sets[*currentSet_];
    r.setNumber = *ByteView(bytes.data(), bytes.size()).U16(mtf::kSsetNumber);
    r.ssetPosition = position;
    r.reason = "no catalogue stream (TFDD) was found after the set's SSET block at " + At(position);
  }

  void OnEset(ByteView header, std::uint64_t position) {
    std::array<std::uint8_t, kEsetSetNumber + 2> bytes{};
    file_.ReadAt(position, bytes.data(), bytes.size());
    lastEset_ = *ByteView(bytes.data(), bytes.size()).U16(kEsetSetNumber);
    // The catalogue is the ESET's first stream. A broken header checksum
    // hides it from the search, so it is looked at here.
    const std::uint64_t first = SatAdd(position, *header.U16(mtf::kFirstEventOffset));
    std::array<std::uint8_t, mtf::kStreamHeaderSize> stream{};
    if (file_.ReadAt(first, stream.data(), stream.size()) < stream.size()) return;
    const ByteView streamView(stream.data(), stream.size());
    const std::uint32_t id = *streamView.U32(0);
    if ((id == kTfddId || id == kFdd2Id) && !mtf::StreamChecksumOk(streamView)) {
      SetCatalogueResult* r = Owner(first);
      if (r == nullptr) return;
      r->outcome = CatalogueOutcome::kDamaged;
      r->reason = "the header checksum of the catalogue stream (" + IdText(id) + ") at " + At(first) +
                  ", the first stream of the ESET block at " + At(position) + ", does not hold";
    }
  }

  void OnCatalogue(std::uint32_t id, ByteView header, std::uint64_t position) {
    SetCatalogueResult* r = Owner(position);
    if (r == nullptr) return;
    if (id == kFdd2Id) {
      r->outcome = CatalogueOutcome::kNotReadYet;
      r->reason = "the catalogue at " + At(position) + " is of type 2 (FDD2), which is not read yet";
      return;
    }
    std::vector<std::uint8_t> data;
    if (auto error = ReadData(header, position, "catalogue stream", data)) {
      r->outcome = CatalogueOutcome::kDamaged;
      r->reason = std::move(*error);
      return;
    }
    const BlockMapping mapping{r->ssetPosition, r->logicalBlockSize};
    CatalogueEntries parsed = ParseCatalogueEntries(ByteView(data.data(), data.size()),
                                                    position + mtf::kStreamHeaderSize, mapping);
    r->outcome = parsed.outcome;
    r->reason = std::move(parsed.reason);
    r->entries = std::move(parsed.entries);
    r->skippedEntries = parsed.skippedEntries;
  }

  void OnSetMap(std::uint32_t id, ByteView header, std::uint64_t position) {
    if (!lastCatalogue_) return;
    SetCatalogueResult& r = scan_.sets[*lastCatalogue_];
    if (r.setMap) return;
    SetMap& map = r.setMap.emplace();
    if (id == kMap2Id) {
      map.outcome = CatalogueOutcome::kNotReadYet;
      map.reason = "the set map at " + At(position) + " is of type 2 (MAP2), which is not read yet";
      return;
    }
    std::vector<std::uint8_t> data;
    if (auto error = ReadData(header, position, "set map stream", data)) {
      map.outcome = CatalogueOutcome::kDamaged;
      map.reason = std::move(*error);
      return;
    }
    map = ParseSetMap(ByteView(data.data(), data.size()), position + mtf::kStreamHeaderSize);
  }

  // The result a catalogue stream at `position` belongs to: the current
  // set's, when it has none yet and no ESET since its SSET names another
  // set; else a new one without an SSET. Null past kMaxSets.
  SetCatalogueResult* Owner(std::uint64_t position) {
    std::optional<std::size_t> index;
    if (currentSet_) {
      const SetCatalogueResult& current = scan_.sets[*currentSet_];
      if (!current.streamPosition && (!lastEset_ || lastEset_ == current.setNumber)) index = currentSet_;
    }
    if (!index) {
      index = Add();
      if (!index) return nullptr;
      scan_.sets[*index].setNumber = lastEset_;
    }
    lastCatalogue_ = index;
    SetCatalogueResult& r = scan_.sets[*index];
    r.streamPosition = position;
    return &r;
  }

  std::optional<std::size_t> Add() {
    if (scan_.sets.size() >= kMaxSets) {
      scan_.tooManySets = true;
      return std::nullopt;
    }
    SetCatalogueResult& r = scan_.sets.emplace_back();
    r.logicalBlockSize = blockSize_;
    r.blockSizeFromTape = blockSizeFromTape_;
    return scan_.sets.size() - 1;
  }

  // Reads the data of the stream whose header is at `position` into `data`,
  // or answers why it cannot be trusted.
  std::optional<std::string> ReadData(ByteView header, std::uint64_t position, const std::string& what,
                                      std::vector<std::uint8_t>& data) {
    const std::uint64_t length = *header.U64(mtf::kStreamLengthOffset);
    const std::uint64_t start = position + mtf::kStreamHeaderSize;
    if (length > kMaxCatalogueBytes) {
      return "the " + what + " at " + At(position) + " claims " + GroupDigits(length) + " bytes, more than the " +
             GroupDigits(kMaxCatalogueBytes) + " a catalogue is read up to";
    }
    if (SatAdd(start, length) > fileSize_) {
      return "the " + what + " at " + At(position) + " claims " + GroupDigits(length) +
             " bytes, which run past the end of the file (" + GroupDigits(fileSize_) + " bytes)";
    }
    // Streams that claim the rest of the file, one after another, would
    // otherwise make the search read the file over and over.
    if (SatAdd(dataRead_, length) > fileSize_) {
      return "the " + what + " at " + At(position) + " was not read: with its " + GroupDigits(length) +
             " bytes, the catalogue streams read would add up to more than the file holds";
    }
    dataRead_ += length;
    data.resize(static_cast<std::size_t>(length));
    ReadDamage damage;
    file_.ReadAt(start, data.data(), data.size(), &damage);
    if (damage.unreadableBytes != 0) {
      return GroupDigits(damage.unreadableBytes) + " bytes of the " + what + " at " + At(position) +
             " could not be read (the first at " + At(damage.firstUnreadable) + ")";
    }
    return std::nullopt;
  }

  const BkfFile& file_;
  const StopToken& stop_;
  SetCatalogueScan scan_;
  std::uint64_t fileSize_ = 0;
  std::uint64_t dataRead_ = 0;  // catalogue and set map data read so far
  std::uint32_t blockSize_ = 1024;
  bool blockSizeFromTape_ = false;
  std::optional<std::size_t> currentSet_;      // the result of the last SSET
  std::optional<std::uint16_t> lastEset_;      // set number of the last ESET since that SSET
  std::optional<std::size_t> lastCatalogue_;   // the result that took the last catalogue stream
};

}  // namespace

SetCatalogueScan ReadSetCatalogues(const BkfFile& file, const StopToken& stop) {
  return CatalogueSearch(file, stop).Run();
}

SetCatalogueScan ReadSetCataloguesAt(const BkfFile& file, const std::vector<SetBlock>& blocks,
                                     const StopToken& stop) {
  return CatalogueSearch(file, stop).RunAt(blocks);
}

namespace {

// "C:\Docs\a.txt" for a file entry: its volume, folder path and name.
std::u16string EntryPath(const std::vector<CatalogueEntry>& entries, std::size_t index) {
  std::u16string path = entries[index].name;
  std::size_t at = entries[index].parent;
  // Each step goes to an earlier entry: the chain ends.
  for (std::size_t steps = 0; at != kNoCatalogueParent && at < entries.size() && steps < 2; ++steps) {
    if (!entries[at].name.empty()) path = entries[at].name + u"\\" + path;
    at = entries[at].parent;
  }
  return path;
}

}  // namespace

CatalogueComparison CompareWithCatalogues(const SetCatalogueScan& catalogues, const Catalogue& scanned) {
  CatalogueComparison out;
  // The scanned files by data position, and their names, for the lookups.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> byPosition;
  std::unordered_multimap<std::u16string_view, std::uint64_t> byName;
  for (std::uint64_t i = 0; i < scanned.FileCount(); ++i) {
    byPosition.emplace_back(scanned.FileAt(i).dataPosition, i);
    byName.emplace(scanned.FileAt(i).name, i);
  }
  std::sort(byPosition.begin(), byPosition.end());
  constexpr std::uint64_t kReach = 64 * 1024;
  for (const SetCatalogueResult& set : catalogues.sets) {
    const std::string which =
        "the backup's own catalogue of set " + (set.setNumber ? std::to_string(*set.setNumber) : std::string("?"));
    if (set.outcome == CatalogueOutcome::kDamaged) {
      out.notes.push_back(which + " is damaged and is not used: " + set.reason);
      continue;
    }
    if (set.outcome == CatalogueOutcome::kNotReadYet) {
      out.notes.push_back(which + " is of type 2, which is not read yet");
      continue;
    }
    if (set.outcome != CatalogueOutcome::kRead) continue;
    for (std::size_t e = 0; e < set.entries.size(); ++e) {
      const CatalogueEntry& entry = set.entries[e];
      if (entry.kind != CatalogueEntryKind::kFile) continue;
      ++out.listed;
      bool found = false;
      if (entry.blockPosition) {
        const std::uint64_t block = *entry.blockPosition;
        for (auto it = std::upper_bound(byPosition.begin(), byPosition.end(), std::make_pair(block, kU64Max));
             it != byPosition.end() && it->first <= SatAdd(block, kReach) && !found; ++it) {
          found = scanned.FileAt(it->second).name == entry.name;
        }
      } else {
        found = byName.count(entry.name) != 0;
      }
      if (found) {
        ++out.found;
      } else {
        out.missing.push_back(EntryPath(set.entries, e));
      }
    }
  }
  return out;
}

std::string ComparisonLine(const CatalogueComparison& comparison) {
  return "The backup's own catalogue lists " + GroupDigits(comparison.listed) + " files; the scan found " +
         GroupDigits(comparison.found) + " of them; missing: " + GroupDigits(comparison.missing.size());
}

}  // namespace ostrel
