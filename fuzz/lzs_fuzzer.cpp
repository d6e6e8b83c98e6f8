// The LZS decoder on any bytes, as two frames sharing one history: the fast
// decoder must give exactly the bytes, window and write position of the
// stepwise machine, and never more bytes than the room.
//
// Input: u16 room of the first frame, u16 room of the second, u16 length of
// the first frame's data, then the frames' data.
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "reader/bytes.h"
#include "reader/lzs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ostrel::ByteView in(data, size);
  if (!in.Has(0, 6)) return -1;
  const std::uint32_t rooms[2] = {*in.U16(0), *in.U16(2)};
  const std::size_t firstLength = *in.U16(4);
  const ostrel::ByteView body = in.Sub(6, size - 6);
  const ostrel::ByteView frames[2] = {body.Sub(0, firstLength),
                                      body.Sub(firstLength, body.size())};

  ostrel::LzsHistory fast, stepwise;
  for (std::size_t k = 0; k < fast.window.size(); ++k) {
    fast.window[k] = stepwise.window[k] = static_cast<std::uint8_t>(k * 7);
  }
  for (int f = 0; f < 2; ++f) {
    std::vector<std::uint8_t> a(rooms[f]), b(rooms[f]);
    const std::uint32_t na = ostrel::LzsDecodeFrame(fast, frames[f], a.data(), rooms[f]);
    const std::uint32_t nb = ostrel::LzsDecodeFrameStepwise(stepwise, frames[f], b.data(), rooms[f]);
    if (na != nb || na > rooms[f]) std::abort();
    if (na > 0 && std::memcmp(a.data(), b.data(), na) != 0) std::abort();
    if (fast.window != stepwise.window || fast.writePosition != stepwise.writePosition) std::abort();
  }
  return 0;
}
