// The advanced scanner: finds the same descriptor blocks in the
// same 1,024-byte windows as the standard scanner and builds the same kind of
// catalogue, but trusts a block less and uses it more:
//   - every block must also pass a check of its OS version byte;
//   - every block it recognises is measured to its full extent by walking its
//     data streams, and the scan jumps past the whole block;
//   - all ten block IDs are hits, so CFIL, SFMB, ESET, EOTM and ESPB blocks are
//     skipped as a whole;
//   - names the standard scanner rejects are replaced where the block offers
//     another one, and FILE blocks whose streams begin late in the block are
//     still catalogued;
//   - with the heuristic flag, any four digits or capital letters that are not
//     a block ID count as a stream ID.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "reader/scanner.h"

namespace ostrel {

class AdvancedScanner : public Scanner {
 public:
  using Scanner::Scanner;

  int Scan(const std::string& path) override;

  // The stream-ID test on the four bytes at `id`: with the heuristic flag any
  // four digits or capital letters that are not a block ID, without it one of
  // the nineteen stream IDs this scanner knows.
  bool StreamIdOk(const std::uint8_t* id) const;

 private:
  // The block at `position` measured from its first byte to the end of its
  // last data stream; 1,024 when its first stream header is not a stream or
  // claims more bytes than the file holds.
  std::uint64_t MeasureBlock(std::uint64_t position, std::uint16_t firstEvent);

  // Each handler gets the block at position `b` (its first 2,048 bytes are in
  // block_) and answers the count E that moves the scan on.
  std::uint64_t HandleTape(std::uint64_t b);
  std::uint64_t HandleSset(std::uint64_t b);
  std::uint64_t HandleVolb(std::uint64_t b);
  std::uint64_t HandleDirb(std::uint64_t b);
  std::uint64_t HandleFile(std::uint64_t b);

  // The block window as far as the scan loop read it (1,024 bytes), or as far
  // as the file holds it (up to 2,048 bytes).
  ByteView LoopWindow() const { return {block_.data(), kWindowSize}; }
  ByteView FullBlock() const { return {block_.data(), blockBytes_}; }
  // ID, offset to first stream below 2,048, OS version below 33.
  bool CommonValidation(ByteView w, int tag) const;
  std::uint16_t FirstEvent() const;

  // 2,048 bytes of block, then room for the tag look-ups that run past it.
  std::array<std::uint8_t, 2 * kWindowSize + WindowReader::kSlack> block_{};
  std::size_t blockBytes_ = 0;  // bytes of block_ that lie inside the file
  WindowReader* reader_ = nullptr;
};

}  // namespace ostrel
