#include "reader/lzs.h"

#include <cstddef>
#include <cstring>

namespace ostrel {
namespace {

constexpr std::uint32_t kWindowMask = kLzsWindowSize - 1;

// Frames are at most a few tens of KiB; a view larger than 4 GiB is read as
// its first 2^32 - 1 bytes (the counts of one call are 32-bit).
std::uint32_t InputCount(ByteView input) {
  return input.size() > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(input.size());
}

}  // namespace

// --------------------------------------------------------------- fast decoder
//
// Decodes whole tokens from a 64-bit bit buffer and copies matches inside the
// output buffer; the window is only read for references that reach back
// before the frame's first byte, and is brought up to date once at the end.
// This is the behaviour of the stepwise machine below, token for token:
//  - a token that needs more bits than the input holds ends the frame;
//  - a complete match is copied even when no input bit follows it;
//  - a long match copies its first 23 bytes, and each further 15, only when
//    at least one input bit follows the nibble that announced them (the
//    machine copies them in a state of their own, which runs only while input
//    is left).

namespace {

class BitReader {
 public:
  explicit BitReader(ByteView input) : in_(input), size_(InputCount(input)) {}

  // Tops the buffer up to at least 57 bits while input bytes are left.
  void Refill() {
    if (count_ > 56) return;
    if (size_ - pos_ >= 8 && in_.Has(pos_, 8)) {
      // Eight bytes at once, the first one topmost; only the whole bytes that
      // fit are consumed.
      const std::uint64_t next = __builtin_bswap64(*in_.U64(pos_));
      const int take = (64 - count_) >> 3;
      buf_ |= next >> count_;
      count_ += take * 8;
      if (count_ < 64) buf_ &= ~std::uint64_t{0} << (64 - count_);  // drop the partial byte
      pos_ += static_cast<std::uint32_t>(take);
      return;
    }
    while (count_ <= 56 && pos_ < size_) {
      buf_ |= static_cast<std::uint64_t>(*in_.U8(pos_)) << (56 - count_);
      ++pos_;
      count_ += 8;
    }
  }
  // Bits in the buffer; after Refill(), all the bits left when this is below 57.
  int Count() const { return count_; }
  // The next `n` (1..32) bits, not consumed; the buffer must hold them.
  std::uint32_t Peek(int n) const { return static_cast<std::uint32_t>(buf_ >> (64 - n)); }
  void Skip(int n) {
    buf_ <<= n;
    count_ -= n;
  }
  std::uint32_t Take(int n) {
    const std::uint32_t v = Peek(n);
    Skip(n);
    return v;
  }

 private:
  ByteView in_;
  std::uint32_t size_;
  std::uint32_t pos_ = 0;
  std::uint64_t buf_ = 0;  // unread bits, most significant first
  int count_ = 0;
};

}  // namespace

std::uint32_t LzsDecodeFrame(LzsHistory& history, ByteView input, std::uint8_t* output,
                             std::uint32_t room) {
  BitReader bits(input);
  std::uint32_t written = 0;

  // Copies up to `length` bytes of a match at `offset`, as far as room allows.
  // Answers false when the room is used up.
  auto copy = [&](std::uint32_t offset, std::uint32_t length) {
    const std::uint32_t n = length < room - written ? length : room - written;
    std::uint32_t k = 0;
    // Bytes from before the frame's first byte come from the window, whose
    // slots from 2,048 - (offset - written) on this frame has not reached yet.
    if (offset > written) {
      const std::uint32_t back = offset - written;
      const std::uint32_t fromWindow = back < n ? back : n;
      for (; k < fromWindow; ++k) {
        output[written + k] = history.window[(kLzsWindowSize - back + k) & kWindowMask];
      }
    }
    const std::uint32_t dst = written + k;
    const std::uint32_t src = dst - offset;
    const std::uint32_t rest = n - k;
    if (offset >= 8 && room - dst >= rest + 8) {
      // Eight bytes at a time: each piece lies at least 8 bytes after its
      // source, so it only reads finished bytes; up to 7 bytes beyond the
      // match are scratch, still inside the room, and overwritten later.
      for (std::uint32_t i = 0; i < rest; i += 8) std::memcpy(output + dst + i, output + src + i, 8);
    } else {
      // A byte may be one this match has just produced.
      for (std::uint32_t i = 0; i < rest; ++i) output[dst + i] = output[src + i];
    }
    written += n;
    return written < room;
  };

  while (written < room) {
    bits.Refill();
    if (bits.Count() == 0) break;
    if (bits.Peek(1) == 0) {  // literal
      if (bits.Count() < 9) break;
      output[written++] = static_cast<std::uint8_t>(bits.Take(9));
      continue;
    }
    if (bits.Count() < 2) break;
    const int width = bits.Peek(2) == 3 ? 7 : 11;
    if (bits.Count() < 2 + width) break;
    bits.Skip(2);
    const std::uint32_t offset = bits.Take(width);
    if (offset == 0) break;  // end of the frame's data

    if (bits.Count() < 2) break;
    std::uint32_t length = bits.Take(2) + 2;
    if (length == 5) {
      if (bits.Count() < 2) break;
      length += bits.Take(2);
      if (length == 8) {
        if (bits.Count() < 4) break;
        length += bits.Take(4);
      }
    }
    if (length == 23) {
      // 23, then further nibbles; 15 says another follows.
      bool complete = false;
      for (;;) {
        bits.Refill();
        if (bits.Count() == 0) break;
        if (!copy(offset, length)) break;
        bits.Refill();
        if (bits.Count() < 4) break;
        length = bits.Take(4);
        if (length != 15) {
          complete = true;
          break;
        }
      }
      if (!complete) break;
    }
    if (!copy(offset, length)) break;
  }

  // Bring the window up to date: output byte k went to slot k mod 2,048.
  const std::uint32_t from = written > kLzsWindowSize ? written - kLzsWindowSize : 0;
  for (std::uint32_t k = from; k < written; ++k) history.window[k & kWindowMask] = output[k];
  history.writePosition = static_cast<std::uint16_t>(written & kWindowMask);
  return written;
}

// ----------------------------------------------------------- stepwise decoder

std::uint32_t LzsDecodeFrameStepwise(LzsHistory& history, ByteView input, std::uint8_t* output,
                                     std::uint32_t room) {
  history.writePosition = 0;

  std::uint32_t inPos = 0;
  std::uint32_t inLeft = InputCount(input);
  std::uint32_t written = 0;
  std::uint32_t roomLeft = room;

  std::uint8_t bitByte = 0;  // the current input byte
  int bitsLeft = 0;          // its unread bits, the lowest `bitsLeft` ones

  int state = 0;
  int want = 1;
  std::uint16_t source = 0;  // masked to 11 bits when used
  std::uint32_t count = 0;
  bool pending = false;
  bool end = false;

  std::uint32_t v = 0;  // the value of the last read
  // `n` bits into v, most significant first; false when the input runs out.
  auto read = [&](int n) {
    v = 0;
    for (int i = 0; i < n; ++i) {
      if (bitsLeft == 0) {
        if (inLeft == 0) return false;
        bitByte = *input.U8(inPos);
        ++inPos;
        --inLeft;
        bitsLeft = 8;
      }
      --bitsLeft;
      v = (v << 1) | ((bitByte >> bitsLeft) & 1u);
    }
    return true;
  };
  // A byte to the output and the window; dropped when no room is left.
  auto emit = [&](std::uint8_t b) {
    if (roomLeft == 0) return;
    output[written++] = b;
    history.window[history.writePosition] = b;
    history.writePosition = static_cast<std::uint16_t>((history.writePosition + 1) & kWindowMask);
    --roomLeft;
  };
  // The match's bytes, one at a time from the source, as far as room allows.
  auto copy = [&] {
    while (count > 0 && roomLeft > 0) {
      emit(history.window[source & kWindowMask]);
      ++source;
      --count;
    }
  };

  while (roomLeft > 0 && (inLeft > 0 || bitsLeft > 0) && !end) {
    if (pending) {
      copy();
      if (count == 0) pending = false;
      state = 0;
      continue;
    }
    bool ok = true;
    switch (state) {
      case 0:  // token type
        if ((ok = read(1))) {
          if (v == 0) {
            want = 8;
            state = 1;
          } else {
            state = 2;
          }
        }
        break;
      case 1:  // literal
        if ((ok = read(want))) {
          emit(static_cast<std::uint8_t>(v));
          state = 0;
        }
        break;
      case 2:  // offset width
        if ((ok = read(1))) {
          want = v == 1 ? 7 : 11;
          state = 3;
        }
        break;
      case 3:  // offset
        if ((ok = read(want))) {
          if (v == 0) {
            end = true;
          } else {
            source = static_cast<std::uint16_t>(history.writePosition - v);
            want = 2;
            state = 4;
          }
        }
        break;
      case 4:  // length 2..4, or 5 and more
        if ((ok = read(2))) {
          count = v + 2;
          if (count == 5) {
            state = 5;
          } else {
            pending = true;
          }
        }
        break;
      case 5:  // length 5..7, or 8 and more
        if ((ok = read(2))) {
          count += v;
          if (count == 8) {
            want = 4;
            state = 6;
          } else {
            pending = true;
          }
        }
        break;
      case 6:  // length 8..22, or 23 and more
        if ((ok = read(4))) {
          count += v;
          if (count == 23) {
            state = 7;
          } else {
            pending = true;
          }
        }
        break;
      case 7:  // a long match: copy what is known so far, then read on
        copy();
        if (roomLeft > 0) {
          want = 4;
          state = 8;
        }
        break;
      case 8:  // one more nibble of a long match
        if ((ok = read(4))) {
          count = v;
          if (count == 15) {
            state = 7;
          } else {
            pending = true;
          }
        }
        break;
      default: ok = false; break;
    }
    if (!ok) break;
  }
  // The input ran out right after a complete match token.
  if (pending) copy();
  return written;
}

}  // namespace ostrel
