// The backup's own end-of-set catalogue: the real sample, written backups
// read back, and damaged catalogues.
#include "reader/set_catalogue.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "catalogue/dates.h"
#include "reader/mtf.h"
#include "reader/scanner.h"
#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/temp_dir.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using fixtures::MtfWriter;
using Kind = CatalogueEntryKind;

const fs::path kSample = fs::path(OSTREL_TEST_DATA_DIR) / "samples" / "ntbackup51_MailG-block-walker_Backup.bkf";

std::vector<std::uint8_t> ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fixtures::Stream Stan(std::vector<std::uint8_t> data) { return {"STAN", std::move(data), std::nullopt, 0}; }

SetCatalogueScan ReadFile(const std::string& path) {
  BkfFile file;
  EXPECT_TRUE(file.Open(path)) << file.Error();
  StopToken stop;
  return ReadSetCatalogues(file, stop);
}

TEST(SetCatalogueSample, ListsTheVolumeTheRootAndBootIniWithTheirBlocks) {
  const SetCatalogueScan scan = ReadFile(kSample.string());
  EXPECT_FALSE(scan.stopped);
  ASSERT_EQ(scan.sets.size(), 1u);
  const SetCatalogueResult& set = scan.sets[0];
  ASSERT_EQ(set.outcome, CatalogueOutcome::kRead) << set.reason;
  EXPECT_EQ(set.setNumber, 1);
  EXPECT_EQ(set.ssetPosition, 2048u);
  EXPECT_EQ(set.logicalBlockSize, 1024u);
  EXPECT_TRUE(set.blockSizeFromTape);
  EXPECT_EQ(set.streamPosition, 28672u);
  EXPECT_EQ(set.skippedEntries, 0u);
  EXPECT_EQ(set.FileCount(), 1u);

  ASSERT_EQ(set.entries.size(), 3u);
  const CatalogueEntry& volume = set.entries[0];
  const CatalogueEntry& root = set.entries[1];
  const CatalogueEntry& boot = set.entries[2];
  EXPECT_EQ(volume.kind, Kind::kVolume);
  EXPECT_EQ(volume.name, u"C:");
  EXPECT_EQ(volume.blockPosition, 3072u);
  EXPECT_EQ(root.kind, Kind::kDirectory);
  EXPECT_EQ(root.name, u"");
  EXPECT_EQ(root.blockPosition, 4096u);
  EXPECT_EQ(root.parent, 0u);
  EXPECT_EQ(boot.kind, Kind::kFile);
  EXPECT_EQ(boot.name, u"boot.ini");
  EXPECT_EQ(boot.size, 210u);
  EXPECT_EQ(boot.lba, 23u);
  EXPECT_EQ(boot.blockPosition, 25600u);
  EXPECT_EQ(boot.parent, 1u);
  ASSERT_TRUE(boot.modified);
  EXPECT_EQ(ShortDate(*boot.modified), "2011-07-22 11:32:40");

  // The scan of the blocks agrees: the same date, and a sound FILE block
  // named boot.ini where the catalogue says.
  StopToken stop;
  RecoverySession session;
  StandardScanner scanner(session, stop);
  ASSERT_EQ(scanner.Scan(kSample.string()), 1);
  ASSERT_EQ(session.catalogue.FileCount(), 1u);
  EXPECT_EQ(session.catalogue.Dates().File(0), boot.modified);
  const auto bytes = ReadWhole(kSample);
  const ByteView block = ByteView(bytes.data(), bytes.size()).Sub(*boot.blockPosition, 1024);
  EXPECT_TRUE(mtf::BlockChecksumOk(block));
  EXPECT_EQ(mtf::FindBlockTag(block.data()), mtf::kFile);
  const mtf::StringAddress name = mtf::ReadStringAddress(block, mtf::kFileName);
  EXPECT_EQ(mtf::CopyName(block, name.offset, name.size), u"boot.ini");

  ASSERT_TRUE(set.setMap);
  ASSERT_EQ(set.setMap->outcome, CatalogueOutcome::kRead) << set.setMap->reason;
  ASSERT_EQ(set.setMap->sets.size(), 1u);
  const SetMapEntry& mapped = set.setMap->sets[0];
  EXPECT_EQ(mapped.setNumber, 1);
  EXPECT_EQ(mapped.files, 1u);
  EXPECT_EQ(mapped.directories, 1u);
  EXPECT_EQ(mapped.volumes, 1u);
  EXPECT_EQ(mapped.name, u"Set created 11/19/2012 at 1:05 PM");
  // Physical addresses as the backup program counts them (one more than the
  // 1,024-byte block number); only their difference is relied on.
  EXPECT_EQ(mapped.cataloguePba - mapped.ssetPba, (28672u - 2048u) / 1024u);
}

// Every cut of the sample's catalogue before its end marker is damaged: a
// shorter stream never passes for a shorter list.
TEST(SetCatalogueSample, EveryCutBeforeTheEndMarkerIsDamaged) {
  const auto bytes = ReadWhole(kSample);
  constexpr std::size_t kData = 28694, kLength = 1002, kEndMarker = 0x710F - kData;
  ASSERT_GE(bytes.size(), kData + kLength);
  for (std::size_t cut = 0; cut <= kLength; ++cut) {
    const CatalogueEntries parsed = ParseCatalogueEntries(ByteView(bytes.data() + kData, cut), kData, {});
    if (cut < kEndMarker + 6) {
      EXPECT_EQ(parsed.outcome, CatalogueOutcome::kDamaged) << cut;
      EXPECT_TRUE(parsed.entries.empty()) << cut;
      EXPECT_FALSE(parsed.reason.empty()) << cut;
    } else {
      EXPECT_EQ(parsed.outcome, CatalogueOutcome::kRead) << cut;
      EXPECT_EQ(parsed.entries.size(), 3u) << cut;
      // Without an SSET, no entry has a block position.
      for (const auto& e : parsed.entries) EXPECT_FALSE(e.blockPosition) << cut;
    }
  }
}

// Two sets, each with its catalogue after its ESET: every entry names the
// block the writer put there.
struct TwoSets {
  MtfWriter w;
  std::uint64_t sset1 = 0, sset2 = 0, eset2 = 0;
  std::vector<std::pair<std::u16string, std::uint64_t>> blocks1, blocks2;  // name, position
  std::uint64_t datedFile = 0;

  TwoSets() {
    w.Tape(u"Media");
    sset1 = w.Sset(1, u"First");
    blocks1.emplace_back(u"D:", w.Volb(u"D:"));
    blocks1.emplace_back(u"", w.Dirb(u""));
    datedFile = w.File(u"a.txt", {Stan(fixtures::Ascii("hello"))});
    w.SetDate(datedFile, MtfWriter::PackDate(2009, 3, 14, 15, 9, 26));
    w.Seal(datedFile);
    blocks1.emplace_back(u"a.txt", datedFile);
    blocks1.emplace_back(u"Docs\\2009", w.Dirb(u"Docs\\2009"));
    blocks1.emplace_back(u"b.bin", w.File(u"b.bin", {Stan(fixtures::Noise(3000, 7))}));
    w.EndOfSet(sset1, 1, u"Nightly");
    sset2 = w.Sset(2, u"Second");
    blocks2.emplace_back(u"E:", w.Volb(u"E:"));
    blocks2.emplace_back(u"Mail", w.Dirb(u"Mail"));
    blocks2.emplace_back(u"c.pst", w.File(u"c.pst", {Stan(fixtures::Noise(10, 3))}));
    eset2 = w.EndOfSet(sset2, 2);
  }
};

void ExpectBlocks(const SetCatalogueResult& set, const std::vector<std::pair<std::u16string, std::uint64_t>>& blocks,
                  bool withPositions) {
  ASSERT_EQ(set.outcome, CatalogueOutcome::kRead) << set.reason;
  ASSERT_EQ(set.entries.size(), blocks.size());
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    EXPECT_EQ(set.entries[i].name, blocks[i].first) << i;
    if (withPositions) {
      EXPECT_EQ(set.entries[i].blockPosition, blocks[i].second) << i;
    } else {
      EXPECT_FALSE(set.entries[i].blockPosition) << i;
    }
  }
}

TEST(SetCatalogueWritten, EachSetListsItsOwnBlocks) {
  TwoSets b;
  fixtures::TempDir dir;
  const SetCatalogueScan scan = ReadFile(dir.Write(b.w));
  ASSERT_EQ(scan.sets.size(), 2u);
  const SetCatalogueResult& first = scan.sets[0];
  const SetCatalogueResult& second = scan.sets[1];
  EXPECT_EQ(first.setNumber, 1);
  EXPECT_EQ(first.ssetPosition, b.sset1);
  ExpectBlocks(first, b.blocks1, true);
  EXPECT_EQ(second.setNumber, 2);
  EXPECT_EQ(second.ssetPosition, b.sset2);
  ExpectBlocks(second, b.blocks2, true);

  // Kinds, sizes, dates and links as the blocks hold them.
  const auto& e = first.entries;
  EXPECT_EQ(e[0].kind, Kind::kVolume);
  EXPECT_EQ(e[1].kind, Kind::kDirectory);
  EXPECT_EQ(e[2].kind, Kind::kFile);
  EXPECT_EQ(e[2].size, 5u);
  EXPECT_EQ(e[4].size, 3000u);
  ASSERT_TRUE(e[2].modified);
  EXPECT_EQ(ShortDate(*e[2].modified), "2009-03-14 15:09:26");
  EXPECT_FALSE(e[4].modified);
  EXPECT_EQ(e[1].parent, 0u);  // the root's volume
  EXPECT_EQ(e[2].parent, 1u);  // a.txt in the root
  EXPECT_EQ(e[4].parent, 3u);  // b.bin in Docs\2009
  EXPECT_EQ(first.FileCount(), 2u);

  ASSERT_TRUE(first.setMap);
  ASSERT_EQ(first.setMap->outcome, CatalogueOutcome::kRead) << first.setMap->reason;
  ASSERT_EQ(first.setMap->sets.size(), 1u);
  EXPECT_EQ(first.setMap->sets[0].setNumber, 1);
  EXPECT_EQ(first.setMap->sets[0].files, 2u);
  EXPECT_EQ(first.setMap->sets[0].directories, 2u);
  EXPECT_EQ(first.setMap->sets[0].name, u"Nightly");
  ASSERT_TRUE(second.setMap);
  EXPECT_EQ(second.setMap->sets.at(0).setNumber, 2);
}

// A lost SSET: the second catalogue is not given to the first set (its ESET
// names set 2), and its entries have no block positions. A set whose end
// never came has no catalogue.
TEST(SetCatalogueWritten, LostSsetAndMissingCatalogue) {
  TwoSets b;
  b.w.PutAscii(b.sset2, "XXXX");
  const std::uint64_t sset3 = b.w.Sset(3, u"Cut short");
  b.w.Volb(u"F:");
  fixtures::TempDir dir;
  const SetCatalogueScan scan = ReadFile(dir.Write(b.w));
  ASSERT_EQ(scan.sets.size(), 3u);
  ExpectBlocks(scan.sets[0], b.blocks1, true);
  EXPECT_EQ(scan.sets[1].setNumber, 2);
  EXPECT_FALSE(scan.sets[1].ssetPosition);
  EXPECT_EQ(scan.sets[1].streamPosition, b.eset2 + MtfWriter::kStringArea);
  ExpectBlocks(scan.sets[1], b.blocks2, false);
  EXPECT_EQ(scan.sets[2].outcome, CatalogueOutcome::kNotFound);
  EXPECT_EQ(scan.sets[2].ssetPosition, sset3);
  EXPECT_EQ(scan.sets[2].reason, "no catalogue stream (TFDD) was found after the set's SSET block at offset " +
                                     GroupDigits(sset3));
}

TEST(SetCatalogueWritten, StopBeforeTheSearchListsNothing) {
  TwoSets b;
  fixtures::TempDir dir;
  BkfFile file;
  ASSERT_TRUE(file.Open(dir.Write(b.w)));
  StopToken stop;
  stop.RequestStop();
  const SetCatalogueScan scan = ReadSetCatalogues(file, stop);
  EXPECT_TRUE(scan.stopped);
  EXPECT_TRUE(scan.sets.empty());
}

// One set whose catalogue is damaged in one way per case. The catalogue
// data of the set below, from `data` on:
//   0 VOLB entry "C:"     (65 bytes)
//  65 DIRB entry root     (70 bytes)
// 135 FILE entry "x.txt"  (78 bytes; name address at 135 + 60)
// 213 FEND entry          (36 bytes)
struct DamageCase {
  const char* what;
  std::function<void(MtfWriter&, std::uint64_t header, std::uint64_t eset)> damage;
  CatalogueOutcome outcome;
  std::function<std::string(std::uint64_t header)> reason;
};

std::string Off(std::uint64_t position) { return "offset " + GroupDigits(position); }

TEST(SetCatalogueDamaged, EachDamageGivesItsOutcomeAndReason) {
  constexpr std::uint64_t kData = 22;  // from the stream header
  const std::vector<DamageCase> cases = {
      {"stream cut inside the FILE entry",
       [](MtfWriter& w, std::uint64_t h, std::uint64_t) {
         w.PutU64(h + 8, 150);
         w.SealStream(h);
       },
       CatalogueOutcome::kDamaged,
       [](std::uint64_t h) {
         return "entry 3 at " + Off(h + kData + 135) + " runs past the end of the stream (78 bytes, 15 left)";
       }},
      {"FILE name past its entry",
       [](MtfWriter& w, std::uint64_t h, std::uint64_t) { w.PutU16(h + kData + 135 + 62, 70); },
       CatalogueOutcome::kDamaged,
       [](std::uint64_t h) {
         return "a string of entry 3 (FILE) at " + Off(h + kData + 135) +
                " runs past its entry (10 bytes at 70 of a 78-byte entry)";
       }},
      {"DIRB entry shorter than the entry header",
       [](MtfWriter& w, std::uint64_t h, std::uint64_t) { w.PutU16(h + kData + 65, 20); },
       CatalogueOutcome::kDamaged,
       [](std::uint64_t h) {
         return "entry 2 at " + Off(h + kData + 65) + " is 20 bytes long, shorter than the 36-byte entry header";
       }},
      {"DIRB entry shorter than its fields",
       [](MtfWriter& w, std::uint64_t h, std::uint64_t) { w.PutU16(h + kData + 65, 40); },
       CatalogueOutcome::kDamaged,
       [](std::uint64_t h) {
         return "entry 2 (DIRB) at " + Off(h + kData + 65) +
                " is 40 bytes long, shorter than the 68 bytes of its fields";
       }},
      {"no end marker",
       [](MtfWriter& w, std::uint64_t h, std::uint64_t) { w.PutAscii(h + kData + 213 + 2, "FENX"); },
       CatalogueOutcome::kDamaged,
       [](std::uint64_t h) {
         return "the catalogue ends at " + Off(h + kData + 249) + " after 4 entries without its end marker (FEND)";
       }},
      {"stream header checksum broken",
       [](MtfWriter& w, std::uint64_t h, std::uint64_t) { w.PutU16(h + 16, 1); },
       CatalogueOutcome::kDamaged,
       [](std::uint64_t h) {
         return "the header checksum of the catalogue stream (TFDD) at " + Off(h) +
                ", the first stream of the ESET block at " + Off(h - MtfWriter::kStringArea) + ", does not hold";
       }},
      {"stream longer than the file",
       [](MtfWriter& w, std::uint64_t h, std::uint64_t) {
         w.PutU64(h + 8, 1u << 20);
         w.SealStream(h);
       },
       CatalogueOutcome::kDamaged,
       [](std::uint64_t h) {
         return "the catalogue stream at " + Off(h) + " claims 1,048,576 bytes, which run past the end of the file";
       }},
      {"stream longer than a catalogue is read up to",
       [](MtfWriter& w, std::uint64_t h, std::uint64_t) {
         w.PutU64(h + 8, std::uint64_t{1} << 40);
         w.SealStream(h);
       },
       CatalogueOutcome::kDamaged,
       [](std::uint64_t h) {
         return "the catalogue stream at " + Off(h) +
                " claims 1,099,511,627,776 bytes, more than the 268,435,456 a catalogue is read up to";
       }},
      {"type-2 catalogue",
       [](MtfWriter& w, std::uint64_t h, std::uint64_t) {
         w.PutAscii(h, "FDD2");
         w.SealStream(h);
       },
       CatalogueOutcome::kNotReadYet,
       [](std::uint64_t h) { return "the catalogue at " + Off(h) + " is of type 2 (FDD2), which is not read yet"; }},
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.what);
    MtfWriter w;
    w.Tape(u"Media");
    const std::uint64_t sset = w.Sset(1, u"Set");
    w.Volb(u"C:");
    w.Dirb(u"");
    w.File(u"x.txt", {Stan(fixtures::Ascii("x"))});
    const std::uint64_t eset = w.EndOfSet(sset, 1);
    const std::uint64_t header = eset + MtfWriter::kStringArea;
    c.damage(w, header, eset);
    fixtures::TempDir dir;
    const SetCatalogueScan scan = ReadFile(dir.Write(w));
    ASSERT_EQ(scan.sets.size(), 1u);
    const SetCatalogueResult& set = scan.sets[0];
    EXPECT_EQ(set.outcome, c.outcome);
    // Reasons that end in the file's size are compared up to it.
    EXPECT_EQ(set.reason.substr(0, c.reason(header).size()), c.reason(header));
    EXPECT_TRUE(set.entries.empty());
    EXPECT_EQ(set.ssetPosition, sset);
  }
}

// Stream headers that each claim the rest of the file: the first is read,
// the ones after it are not, so the search reads the file a bounded number
// of times.
TEST(SetCatalogueDamaged, StreamsClaimingTheRestOfTheFileAreReadOnce) {
  constexpr std::uint64_t kFirst = 2048, kEnd = 64 * 1024;
  MtfWriter w;
  w.Sset(1, u"Set");
  w.PadTo(kEnd);
  for (std::uint64_t h = kFirst; h < kEnd; h += 1024) {
    w.PutAscii(h, "TFDD");
    w.PutU64(h + 8, kEnd - h - 22);
    w.SealStream(h);
  }
  fixtures::TempDir dir;
  const SetCatalogueScan scan = ReadFile(dir.Write(w));
  ASSERT_EQ(scan.sets.size(), (kEnd - kFirst) / 1024);
  // The first is read, and its zeros are no entry.
  EXPECT_EQ(scan.sets[0].reason, "entry 1 at offset 2,070 is 0 bytes long, shorter than the 36-byte entry header");
  // The streams read add up to no more than the file: here the first, and
  // the last, which is short enough to fit in what is left.
  std::uint64_t read = 0;
  std::size_t notRead = 0;
  for (const SetCatalogueResult& set : scan.sets) {
    EXPECT_EQ(set.outcome, CatalogueOutcome::kDamaged);
    ASSERT_TRUE(set.streamPosition);
    if (set.reason.find("was not read") != std::string::npos) {
      ++notRead;
    } else {
      read += kEnd - *set.streamPosition - 22;
    }
  }
  EXPECT_LE(read, kEnd);
  EXPECT_EQ(notRead, scan.sets.size() - 2);
}

// The set map's own counts and lengths.
TEST(SetCatalogueDamaged, SetMapCountsAndLengthsAreChecked) {
  MtfWriter w;
  const std::uint64_t sset = w.Sset(4, u"Set");
  w.Volb(u"C:");
  w.File(u"x.txt", {});
  std::vector<std::uint8_t> map = w.SetMapData(sset, 4, u"Name", 9 * 1024);
  const SetMap sound = ParseSetMap(ByteView(map.data(), map.size()), 0);
  ASSERT_EQ(sound.outcome, CatalogueOutcome::kRead) << sound.reason;
  ASSERT_EQ(sound.sets.size(), 1u);
  EXPECT_EQ(sound.sets[0].setNumber, 4);
  EXPECT_EQ(sound.sets[0].files, 1u);
  EXPECT_EQ(sound.sets[0].name, u"Name");

  struct Case {
    const char* what;
    std::size_t at;
    std::uint16_t value;
    const char* reason;
  };
  const Case cases[] = {
      {"more sets than the bytes hold", 4, 2, "the set map at offset 100 counts 2 sets, more than its 107 bytes can hold"},
      {"entry shorter than its fields", 8, 90,
       "set entry 1 at offset 108 is 90 bytes long, shorter than the 91 bytes of its fields"},
      {"entry past the map", 8, 100, "set entry 1 at offset 108 runs past the end of the set map"},
      {"name past the entry", 8 + 66, 92,
       "a string of set entry 1 at offset 108 runs past its entry (8 bytes at 92 of a 99-byte entry)"},
      {"a volume entry past the map", 8 + 60, 1, "volume entry 1 of set entry 1 at offset 207 runs past the end of the set map"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> bad = map;
    bad[c.at] = static_cast<std::uint8_t>(c.value);
    bad[c.at + 1] = static_cast<std::uint8_t>(c.value >> 8);
    const SetMap parsed = ParseSetMap(ByteView(bad.data(), bad.size()), 100);
    EXPECT_EQ(parsed.outcome, CatalogueOutcome::kDamaged);
    EXPECT_EQ(parsed.reason, c.reason);
    EXPECT_TRUE(parsed.sets.empty());
  }
}

}  // namespace
}  // namespace ostrel

namespace ostrel {
namespace {

// The catalogues a scan finds from the blocks it met are those the search of
// the whole file finds, and held against the scan they tell what it missed.
TEST(SetCatalogueComparison, WhatTheScanMissedIsListed) {
  fixtures::MtfWriter w;
  w.Tape(u"Tape");
  const std::uint64_t sset = w.Sset(1, u"Daily");
  w.Volb(u"C:");
  w.Dirb(u"Docs");
  w.File(u"a.txt", {Stan(fixtures::Ascii("alpha"))});
  const std::uint64_t lost = w.File(u"b.txt", {Stan(fixtures::Ascii("beta"))});
  w.File(u"c.txt", {Stan(fixtures::Ascii("gamma"))});
  w.EndOfSet(sset, 1, u"Daily");
  for (int i = 0; i < 64; ++i) w.PutU8(lost + i, 0);  // the scan cannot see b.txt any more
  fixtures::TempDir dir;
  const std::string path = dir.Write(w);

  StopToken stop;
  RecoverySession session;
  StandardScanner scanner(session, stop);
  ASSERT_EQ(scanner.Scan(path), 1);
  ASSERT_EQ(session.catalogue.FileCount(), 2u);
  const SetCatalogueScan fromBlocks = ReadSetCataloguesAt(session.file, session.setBlocks, stop);
  const SetCatalogueScan whole = ReadSetCatalogues(session.file, stop);
  ASSERT_EQ(fromBlocks.sets.size(), 1u);
  ASSERT_EQ(whole.sets.size(), 1u);
  EXPECT_EQ(fromBlocks.sets[0].outcome, CatalogueOutcome::kRead);
  EXPECT_EQ(fromBlocks.sets[0].entries.size(), whole.sets[0].entries.size());

  const CatalogueComparison c = CompareWithCatalogues(fromBlocks, session.catalogue);
  EXPECT_EQ(c.listed, 3u);
  EXPECT_EQ(c.found, 2u);
  EXPECT_EQ(c.missing, std::vector<std::u16string>{u"C:\\Docs\\b.txt"});
  EXPECT_EQ(ComparisonLine(c), "The backup's own catalogue lists 3 files; the scan found 2 of them; missing: 1");

  // A damaged catalogue is said once and never trusted.
  SetCatalogueScan damaged = fromBlocks;
  damaged.sets[0].outcome = CatalogueOutcome::kDamaged;
  damaged.sets[0].reason = "entry 2 runs past the end of the stream";
  const CatalogueComparison none = CompareWithCatalogues(damaged, session.catalogue);
  EXPECT_EQ(none.listed, 0u);
  EXPECT_EQ(none.notes, std::vector<std::string>{"the backup's own catalogue of set 1 is damaged and is not "
                                                 "used: entry 2 runs past the end of the stream"});
}

}  // namespace
}  // namespace ostrel
