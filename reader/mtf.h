// Microsoft Tape Format structures as this program reads them.
//
// Common descriptor block header (52 bytes; only the fields used are named):
//   0  4  block ID ("TAPE", "SSET", ...)
//   8  u16 offset to first event: first stream header, from the block start
//  11  u8  OS version (read by the advanced scanner only)
//  50  u16 header checksum: the XOR of the 25 little-endian words at 0 to 49
// FILE and DIRB blocks: u32 attributes at 52, the last modification date at 56.
// Date (5 bytes, a 40-bit number read most significant byte first): year (14
// bits), month (4), day (5), hour (5), minute (6) and second (6). All zero: unknown.
// String address (4 bytes): u16 size in bytes, u16 offset from the block start.
// Stream header (22 bytes):
//   0  4  stream ID      6 u16 media-format attributes (bit 0: continuation)
//   8  u64 stream length (data bytes after the header)
//  20  u16 header checksum: the XOR of the 10 little-endian words at 0 to 19
// The next stream header starts at the next multiple of 4 (from the block
// start) at or after the end of a stream's data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "base/bytes.h"
#include "catalogue/dates.h"

namespace ostrel::mtf {

// Block tag table indices, in table order.
enum BlockTag : int {
  kTape = 0, kSset = 1, kVolb = 2, kDirb = 3, kFile = 4,
  kCfil = 5, kSfmb = 6, kEset = 7, kEotm = 8, kEspb = 9,
};
// Stream tag table indices (0 to 16), in table order.
enum StreamTag : int {
  kStan = 0, kSpad = 1, kTfdd = 2, kCsum = 3, kNtoi = 4, kAdat = 5, kNtea = 6, kNact = 7,
  kNted = 8, kNtpr = 9, kNtqp = 10, kNacl = 11, kMfid = 12, kOtcp = 13, kSmp2 = 14,
  kCpad = 15, kTsmp = 16,
};
inline constexpr int kNoMatch = -1;    // an upper-case first letter, but no ID
inline constexpr int kNotLetter = -2;  // first byte outside 'A'..'Z'

inline constexpr char kBlockIds[10][5] = {"TAPE", "SSET", "VOLB", "DIRB", "FILE",
                                          "CFIL", "SFMB", "ESET", "EOTM", "ESPB"};
inline constexpr char kStreamIds[17][5] = {"STAN", "SPAD", "TFDD", "CSUM", "NTOI", "ADAT",
                                           "NTEA", "NACT", "NTED", "NTPR", "NTQP", "NACL",
                                           "MFID", "OTCP", "SMP2", "CPAD", "TSMP"};

// The four bytes at `p` looked up in the block / stream tag table: the index,
// kNoMatch or kNotLetter. `p` must point at four readable bytes.
int FindBlockTag(const std::uint8_t* p);
int FindStreamTag(const std::uint8_t* p);

// Field offsets.
inline constexpr std::size_t kFirstEventOffset = 8;
inline constexpr std::size_t kOsVersionOffset = 11;
inline constexpr std::size_t kTapeMediaName = 68;
inline constexpr std::size_t kTapeSoftwareName = 80;
inline constexpr std::size_t kSsetNumber = 62;
inline constexpr std::size_t kSsetName = 64;
inline constexpr std::size_t kVolbDeviceName = 56;
inline constexpr std::size_t kDirbName = 80;
inline constexpr std::size_t kFileName = 84;
inline constexpr std::size_t kModifiedDate = 56;  // FILE and DIRB
inline constexpr std::size_t kDateSize = 5;

inline constexpr std::size_t kBlockChecksumOffset = 50;
inline constexpr std::size_t kStreamHeaderSize = 22;
inline constexpr std::size_t kStreamChecksumOffset = 20;
inline constexpr std::size_t kStreamMediaAttrOffset = 6;
inline constexpr std::size_t kStreamLengthOffset = 8;

struct StringAddress {
  std::uint16_t size = 0;
  std::uint16_t offset = 0;
};
// The string address at `at` inside the block (zeros if the view is short).
StringAddress ReadStringAddress(ByteView block, std::size_t at);

// Copies `size` bytes at `offset` of the block, cut at the end of the view,
// into a zeroed buffer of size + 2 bytes and reads them as UTF-16LE units (an
// odd size leaves the last unit half-filled with a zero byte). Answers every
// unit of the (possibly cut) name, NULs included.
std::u16string CopyNameUnits(ByteView block, std::uint16_t offset, std::uint16_t size);

// The same name up to its first NUL unit.
std::u16string CopyName(ByteView block, std::uint16_t offset, std::uint16_t size);

// A date's 40 bits (the five bytes, first byte highest) unpacked into their
// fields, unchecked.
DateTime UnpackDate(std::uint64_t packed);
// The date at `at` inside the block as seconds since 1970 (UTC): nullopt when
// the view does not hold it, when all its bits are zero, or when a field is
// out of range.
std::optional<std::int64_t> ReadDate(ByteView block, std::size_t at);

// Whether the header checksum of the descriptor block at the start of
// `block` holds (false when the view does not hold the 52-byte header). The
// backup program writes it into every block; noise that happens to hold a
// block ID almost never has it.
bool BlockChecksumOk(ByteView block);
// The same for the 22-byte stream header at the start of `header`.
bool StreamChecksumOk(ByteView header);

// Next header position after a stream whose header is at `header`:
// header + 22 + length, rounded up to a multiple of 4 (saturating).
inline std::uint64_t NextStreamHeader(std::uint64_t header, std::uint64_t length) {
  return SatRoundUp(SatAdd(SatAdd(header, kStreamHeaderSize), length), 4);
}

}  // namespace ostrel::mtf
