// LZS decompression of backup compression frames.
//
// A compressed frame is a bit stream (bytes in order, bits of each byte from
// the most significant down) of tokens:
//
//   0 bbbbbbbb                literal byte
//   1 1 ddddddd  <length>     back reference, 7-bit offset d (1..127)
//   1 0 ddddddddddd <length>  back reference, 11-bit offset d (1..2047)
//   1 1 0000000 / 1 0 00000000000
//                             end of the frame's data (no length follows)
//
//   <length>: 00 01 10 -> 2 3 4;  11 00 / 11 01 / 11 10 -> 5 6 7;
//             11 11 vvvv (v < 15) -> 8 + v;
//             11 11 1111 then nibbles: 23 plus each nibble, where a nibble
//             of 15 adds 15 and another nibble follows.
//
// Offset d = 1 is the byte written last. A match copies one byte at a time,
// so it may overlap the bytes it is producing.
//
// The decoder carries a 2,048-byte history window from one frame to the next
// of the same file; the window's write position restarts at slot 0 with every
// frame, so after a frame of a multiple of 2,048 bytes the next frame's back
// references reach exactly the bytes before it, and after a frame of any other
// size they read the window as it was left, counted back from slot 0.
#pragma once

#include <array>
#include <cstdint>

#include "base/bytes.h"

namespace ostrel {

inline constexpr std::uint32_t kLzsWindowSize = 2048;

struct LzsHistory {
  // Zero bytes until a frame writes them: a reference into slots no frame has
  // written reads zeros.
  std::array<std::uint8_t, kLzsWindowSize> window{};
  std::uint16_t writePosition = 0;  // reset to 0 at the start of every frame
};

// Decodes one whole frame: `input` holds the frame's compressed bytes, and at
// most `room` bytes are written to `output`. Answers the number of bytes
// written. Every byte written also goes to the history window. Allocates
// nothing; corrupt input gives wrong bytes, never more than `room`.
//
// Input that runs out in the middle of a token ends the frame (the partial
// token is dropped); a match whose token is complete when the input runs out
// is still copied. Output room that runs out in the middle of a match drops the
// rest of the match.
std::uint32_t LzsDecodeFrame(LzsHistory& history, ByteView input, std::uint8_t* output,
                             std::uint32_t room);

// The same decoder written as the nine-state, one-bit-read-at-a-time machine
// that defines the behaviour above. It gives the same bytes as LzsDecodeFrame
// for every input (the tests compare the two on hand-made and random frames);
// it is kept as the reference the fast decoder is measured against.
std::uint32_t LzsDecodeFrameStepwise(LzsHistory& history, ByteView input, std::uint8_t* output,
                                     std::uint32_t room);

}  // namespace ostrel
