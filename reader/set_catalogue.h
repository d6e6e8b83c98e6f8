// The backup program's own catalogue of a backup set, which it writes after
// the set's ESET block: a file/directory detail stream (TFDD) that lists the
// set's volumes, folders and files with the address of each block, and a set
// map stream (TSMP) that counts the sets of the media and their files. Read
// beside a scan, it tells which files the backup held that the scan did not
// find. Nothing here trusts a byte of either stream.
//
// Where the streams lie: they are the streams of the ESET block (the TFDD at
// its offset to first event, the TSMP right after the TFDD's data, 4-aligned).
// Logical blocks: the TAPE block's u16 at 84 gives their size (1,024 in every
// backup seen so far); the LBA of a block counts logical blocks from the set's
// SSET block, so a block lies at SSET position + LBA x logical block size.
//
// File/directory detail data (TFDD): entries one after another, the last of
// type FEND (its length may cover padding to the end of the stream). Each
// entry starts with a 36-byte header:
//    0 u16 entry length in bytes (header, fields and strings)
//    2  4  type: "VOLB", "DIRB", "FILE", ..., "FEND"
//    6 u16 media sequence number
//    8 u32 block attributes
//   12 u64 LBA of the block the entry describes
//   20 u64 displayable size (the file's length for FILE)
//   28 i32 link: offset in the data of the entry this one belongs to (a
//          FILE's DIRB, a DIRB's VOLB)
//   32 u8  OS ID, 33 u8 OS version, 34 u8 string type, 35 pad
// then the type's own fields (dates are 5 bytes, packed as in FILE blocks,
// see reader/mtf.h; a string address is u16 size, u16 offset from the
// entry's start, and the string UTF-16LE inside the entry):
//   VOLB: 36 u32 attributes, 40 device name, 44 volume name, 48 machine
//         name, 52 OS data (string addresses), 56 backup date; 61 bytes
//   DIRB, FILE: 36 last modified, 41 created, 46 backed up, 51 last access
//         (dates), 56 u32 attributes, 60 name, 64 OS data (string
//         addresses); 68 bytes. A DIRB name is its path with a NUL unit after
//         each component ("\0" alone for the volume root).
// Other entry types (their length at least the header) are passed over.
//
// Set map data (TSMP): 0 u32 media family ID, 4 u16 number of sets, 6 pad;
// then per set an entry of its own length (strings included), followed by its
// volume count of entries laid out as the VOLB entries above:
//    0 u16 entry length         2 u16 media sequence number
//    4 u32 block attributes     8 u32 set attributes
//   12 u64 physical block address of the SSET
//   20 u64 physical block address of the TFDD
//   28 u16 media sequence number of the TFDD   30 u16 set number
//   32 u64 LBA   40 u32 directories   44 u32 files   48 u32 corrupt files
//   52 u64 displayable size   60 u16 volume entries   62 u16 password method
//   64 set name, 68 password, 72 description, 76 user name (string addresses)
//   80 backup date, 85 i8 time zone, 86 OS ID, 87 OS version, 88 string
//   type, 89 format minor version, 90 catalogue version; 91 bytes
// The physical block addresses count in units this program does not rely on;
// they are answered as they stand.
//
// Catalogues of type 2 use the stream IDs FDD2 and MAP2 and another layout;
// they are recognised and answered as not read yet.
//
// Contract for untrusted input: every length, count and string address is
// checked against the data that holds it before it is used; a catalogue that
// breaks any rule is answered as damaged, with the reason and the file offset
// in words, and without entries: never a half-trusted list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "base/stop_token.h"
#include "catalogue/catalogue.h"
#include "reader/bkf_file.h"
#include "reader/recovery_session.h"

namespace ostrel {

enum class CatalogueOutcome {
  kRead,        // the entries (or the set map) were read in full
  kDamaged,     // a length, string or checksum does not hold; `reason` says which
  kNotReadYet,  // a type-2 catalogue (FDD2 / MAP2)
  kNotFound,    // the set's SSET was found, but no catalogue stream for it
};
// "read", "damaged", "not read yet", "not found".
std::string_view CatalogueOutcomeName(CatalogueOutcome outcome);

enum class CatalogueEntryKind { kVolume, kDirectory, kFile };

inline constexpr std::size_t kNoCatalogueParent = static_cast<std::size_t>(-1);

struct CatalogueEntry {
  CatalogueEntryKind kind = CatalogueEntryKind::kFile;
  // Volume: the device name ("C:"); directory: the path with backslashes,
  // empty for the volume root; file: the name (each up to its first NUL).
  std::u16string name;
  std::uint64_t size = 0;                 // displayable size
  std::optional<std::int64_t> modified;   // seconds since 1970 (UTC)
  std::uint64_t lba = 0;
  // SSET position + LBA x logical block size: where the block the entry
  // describes lies in the file; nullopt when the set's SSET was not found
  // (or the product does not fit in 64 bits).
  std::optional<std::uint64_t> blockPosition;
  std::uint64_t offset = 0;               // of the entry in the stream data
  std::int32_t link = 0;
  // The index of the entry `link` names when it is an earlier entry (a
  // file's folder, a folder's volume); kNoCatalogueParent otherwise.
  std::size_t parent = kNoCatalogueParent;
};

// How LBAs become file positions for one set.
struct BlockMapping {
  std::optional<std::uint64_t> ssetPosition;
  std::uint32_t logicalBlockSize = 1024;
};

struct CatalogueEntries {
  CatalogueOutcome outcome = CatalogueOutcome::kDamaged;
  std::string reason;                   // empty when read
  std::vector<CatalogueEntry> entries;  // empty unless read
  std::uint64_t skippedEntries = 0;     // entries of other types passed over
};

// Parses the data of one TFDD stream. `dataPosition` is the file offset of
// its first byte, for the reasons.
CatalogueEntries ParseCatalogueEntries(ByteView data, std::uint64_t dataPosition, const BlockMapping& mapping);

struct SetMapEntry {
  std::uint16_t setNumber = 0;
  std::uint64_t ssetPba = 0;
  std::uint64_t cataloguePba = 0;
  std::uint32_t directories = 0;
  std::uint32_t files = 0;
  std::uint32_t corruptFiles = 0;
  std::uint16_t volumes = 0;
  std::u16string name;
  std::optional<std::int64_t> backupDate;
};

struct SetMap {
  CatalogueOutcome outcome = CatalogueOutcome::kDamaged;
  std::string reason;
  std::uint32_t familyId = 0;
  std::vector<SetMapEntry> sets;  // empty unless read
};

// Parses the data of one TSMP stream (`dataPosition` as above).
SetMap ParseSetMap(ByteView data, std::uint64_t dataPosition);

// The catalogue of one backup set as found in a file.
struct SetCatalogueResult {
  CatalogueOutcome outcome = CatalogueOutcome::kNotFound;
  std::string reason;
  // From the ESET block before the catalogue, else from the SSET block.
  std::optional<std::uint16_t> setNumber;
  std::optional<std::uint64_t> ssetPosition;    // nullopt: no SSET found for the catalogue
  std::uint32_t logicalBlockSize = 1024;
  bool blockSizeFromTape = false;               // false: no sound TAPE block before the set; 1,024 assumed
  std::optional<std::uint64_t> streamPosition;  // the catalogue stream's header
  std::vector<CatalogueEntry> entries;          // empty unless read
  std::uint64_t skippedEntries = 0;
  std::optional<SetMap> setMap;                 // the TSMP (or MAP2) after the catalogue

  std::uint64_t FileCount() const;
};

struct SetCatalogueScan {
  std::vector<SetCatalogueResult> sets;  // in file order
  bool stopped = false;                  // the stop token ended the search early
  bool tooManySets = false;              // sets past kMaxSets were not listed
};

inline constexpr std::uint64_t kMaxCatalogueBytes = 256u << 20;  // larger streams: damaged
inline constexpr std::size_t kMaxSets = 65536;

// Finds the catalogues of every backup set in `file`.
//
// How: one pass over the whole file in 1 MiB pieces that looks, at every byte
// offset (blocks of a damaged file lie anywhere), for the block IDs TAPE,
// SSET and ESET with a sound block header checksum, and for the catalogue
// stream IDs TFDD, TSMP, FDD2 and MAP2 with a sound stream header checksum.
// The scanners' block search lists block IDs only; one pass that looks for
// both costs one read of the file instead of two. A TFDD belongs to the last
// SSET before it, unless the ESET between them names another set (that set's
// SSET was lost: its entries get no block positions); the TSMP after a TFDD
// belongs to the same set. An ESET whose first stream carries a catalogue ID
// but a broken header checksum makes its set's catalogue damaged.
//
// Cost: one sequential read of the file, one 1 MiB buffer, and each catalogue
// stream read whole once its length has been checked (at most
// kMaxCatalogueBytes, and within the file). The catalogue and set map data
// read add up to at most the file's size: streams past that are answered
// damaged, so hostile headers that each claim the rest of the file cannot
// make the search read it again and again. The stop token is looked at
// between pieces.
SetCatalogueScan ReadSetCatalogues(const BkfFile& file, const StopToken& stop);

// The same from the TAPE, SSET and ESET blocks a scan met (sound header
// checksums, in file order; RecoverySession::setBlocks): each ESET's first
// stream is its catalogue and the stream after it its set map. Reads only
// the blocks' headers and the streams, so that a scan of a large file is not
// followed by a second pass over it. A catalogue whose ESET was lost is not
// found this way.
SetCatalogueScan ReadSetCataloguesAt(const BkfFile& file, const std::vector<SetBlock>& blocks,
                                     const StopToken& stop);

// A scan held against the backup's own catalogues: the files the sound
// catalogues list, those of them the scan found, and the paths of the rest.
struct CatalogueComparison {
  std::uint64_t listed = 0;
  std::uint64_t found = 0;
  // "C:\Docs\a.txt": the volume, the folder path and the name.
  std::vector<std::u16string> missing;
  // What could not be held against the scan, one line a set: "the backup's
  // own catalogue of set 2 is damaged and is not used: <reason>".
  std::vector<std::string> notes;
};

// A catalogue file entry is found when the scan catalogued a file of the
// same name whose data lies within 64 KiB after the FILE block the entry
// names (or, where the set's SSET was lost, a file of the same name).
CatalogueComparison CompareWithCatalogues(const SetCatalogueScan& catalogues, const Catalogue& scanned);

// "The backup's own catalogue lists N files; the scan found M of them;
// missing: K"
std::string ComparisonLine(const CatalogueComparison& comparison);

}  // namespace ostrel
