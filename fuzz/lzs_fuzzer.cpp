// The LZS decoder on any bytes, as a run of frames sharing one history: the
// fast decoder must give exactly the bytes, window and write position of the
// stepwise machine, and never more bytes than the room.
//
// Input: frames one after another, each
//   u16 room (0..65,535 output bytes), u16 length of its data, the data
// (the last frame takes what is left when the length runs past the end).
// The history starts from a patterned window so that references into slots
// no frame has written show up as wrong bytes, and persists across frames.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/bytes.h"
#include "reader/lzs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return -1;
  const ostrel::ByteView in(data, size);
  ostrel::LzsHistory fast, stepwise;
  for (std::size_t k = 0; k < fast.window.size(); ++k) {
    fast.window[k] = stepwise.window[k] = static_cast<std::uint8_t>(k * 7);
  }
  std::vector<std::uint8_t> a, b;
  std::size_t pos = 0;
  while (in.Has(pos, 4)) {
    const std::uint32_t room = *in.U16(pos);
    const std::size_t wanted = *in.U16(pos + 2);
    pos += 4;
    const std::size_t length = std::min(wanted, size - pos);
    const ostrel::ByteView frame = in.Sub(pos, length);
    pos += length;
    a.assign(room, 0);
    b.assign(room, 0);
    const std::uint32_t na = ostrel::LzsDecodeFrame(fast, frame, a.data(), room);
    const std::uint32_t nb = ostrel::LzsDecodeFrameStepwise(stepwise, frame, b.data(), room);
    if (na != nb || na > room) std::abort();
    if (na > 0 && std::memcmp(a.data(), b.data(), na) != 0) std::abort();
    if (fast.window != stepwise.window || fast.writePosition != stepwise.writePosition) std::abort();
  }
  return 0;
}
