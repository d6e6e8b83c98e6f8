#include "reader/lzs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/fixtures/lzs_encoder.h"
#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/streams.h"

namespace ostrel {
namespace {

using fixtures::LzsBits;
using fixtures::Text;
using Bytes = std::vector<std::uint8_t>;
using Decoder = std::uint32_t (*)(LzsHistory&, ByteView, std::uint8_t*, std::uint32_t);

Bytes Decode(Decoder decode, LzsHistory& history, const Bytes& input, std::uint32_t room) {
  Bytes out(room, 0xEE);
  const std::uint32_t n = decode(history, ByteView(input.data(), input.size()), out.data(), room);
  EXPECT_LE(n, room);
  out.resize(n);
  return out;
}

Bytes Repeat(char c, std::size_t n) { return Bytes(n, static_cast<std::uint8_t>(c)); }

struct FrameCase {
  const char* name;
  Bytes input;
  std::uint32_t room;
  Bytes expected;
};

// Token streams written bit by bit, so that each case shows the exact bits.
std::vector<FrameCase> FrameCases() {
  return {
      {"end marker at the start", LzsBits().Bits(0b110000000, 9).Bytes(), 100, {}},
      {"11-bit offset 0 ends the frame, the rest is ignored",
       LzsBits().Literal('a').Bits(0b10, 2).Bits(0, 11).Literal('b').Bytes(), 100, Text("a")},
      {"literal then offset 1 length 5",
       LzsBits().Bits(0, 1).Bits('q', 8).Bits(0b11, 2).Bits(1, 7).Bits(0b1100, 4).End().Bytes(), 100,
       Repeat('q', 6)},
      {"length 22: 11 11 1110",
       LzsBits().Literal('x').Bits(0b11, 2).Bits(1, 7).Bits(0b11111110, 8).End().Bytes(), 100,
       Repeat('x', 23)},
      {"length 23: 11 11 1111 0000",
       LzsBits().Literal('x').Bits(0b11, 2).Bits(1, 7).Bits(0b111111110000, 12).End().Bytes(), 100,
       Repeat('x', 24)},
      {"length 37: 11 11 1111 1110",
       LzsBits().Literal('x').Bits(0b11, 2).Bits(1, 7).Bits(0b111111111110, 12).End().Bytes(), 100,
       Repeat('x', 38)},
      {"length 38: 11 11 1111 1111 0000",
       LzsBits().Literal('x').Bits(0b11, 2).Bits(1, 7).Bits(0b1111111111110000, 16).End().Bytes(),
       100, Repeat('x', 39)},
      {"7-bit and 11-bit offsets reach the same byte",
       LzsBits().Literal('a').Literal('b').Match(2, 2).Match(2, 2, true).End().Bytes(), 100,
       Text("ababab")},
      {"a match overlaps the bytes it produces",
       LzsBits().Literal('a').Literal('b').Literal('c').Match(3, 7).End().Bytes(), 100,
       Text("abcabcabca")},
      {"output room smaller than the literals", LzsBits().Literal('1').Literal('2').Literal('3').End().Bytes(),
       2, Text("12")},
      {"output room ends in the middle of a match", LzsBits().Literal('z').Match(1, 30).End().Bytes(), 10,
       Repeat('z', 10)},
      {"room ends in the first 23 bytes of a long match",
       LzsBits().Literal('z').Match(1, 40).Literal('y').End().Bytes(), 20, Repeat('z', 20)},
      {"no room at all", LzsBits().Literal('a').End().Bytes(), 0, {}},
      {"input ends inside a literal: the partial token is dropped",
       LzsBits().Literal('a').Bits(0, 1).Bits(0b1010, 4).Bytes(), 100, Text("a")},
      {"input ends inside an offset", LzsBits().Literal('a').Bits(0b10, 2).Bits(0, 5).Bytes(), 100,
       Text("a")},
      {"a complete match is copied even when the input ends right after it",
       // 9 + 2 + 11 + 2 = 24 bits: not one bit is left after the length.
       LzsBits().Literal('m').Match(1, 4, true).Bytes(), 100, Repeat('m', 5)},
      {"a long match followed by pad bits copies its first 23 bytes",
       // 9 + 9 + 8 = 26 bits, padded to 32: after the 1111 nibble 6 bits are
       // left, so the 23 bytes are copied and the next nibble reads 0000.
       LzsBits().Literal('m').Bits(0b11, 2).Bits(1, 7).Bits(0b11111111, 8).Bytes(), 100,
       Repeat('m', 24)},
      {"a long match whose 1111 nibble ends the input exactly copies nothing",
       // 3 x 9 + 2 + 11 + 8 = 48 bits: no bit is left after the nibble, and
       // the 23 bytes of a long match are only copied while input is left.
       LzsBits().Literal('m').Literal('m').Literal('m').Bits(0b10, 2).Bits(1, 11).Bits(0b11111111, 8).Bytes(),
       100, Repeat('m', 3)},
      {"a reference before anything was written reads zeros",
       LzsBits().Match(100, 3).End().Bytes(), 100, Bytes(3, 0)},
      {"empty input", {}, 100, {}},
  };
}

class LzsFrameTest : public ::testing::TestWithParam<Decoder> {};

TEST_P(LzsFrameTest, DecodesHandMadeFrames) {
  for (const FrameCase& c : FrameCases()) {
    SCOPED_TRACE(c.name);
    LzsHistory history;
    EXPECT_EQ(Decode(GetParam(), history, c.input, c.room), c.expected);
    // The window holds what was written, from slot 0 on.
    for (std::size_t i = 0; i < c.expected.size() && i < kLzsWindowSize; ++i) {
      ASSERT_EQ(history.window[i], c.expected[i]) << i;
    }
  }
}

TEST_P(LzsFrameTest, SecondFrameOfFullSizeRefersIntoTheFirst) {
  // Two frames of 63,488 bytes (31 x 2,048); the second's references reach
  // back across the frame boundary into the first's last 2,047 bytes.
  Bytes data = fixtures::Noise(63488, 7);
  const Bytes tail(data.end() - 1500, data.end());
  for (int i = 0; i < 40; ++i) data.insert(data.end(), tail.begin(), tail.end());
  data.resize(2 * 63488);
  const std::span<const std::uint8_t> all(data);
  const Bytes first = fixtures::LzsCompress(all.subspan(0, 63488));
  const Bytes second = fixtures::LzsCompress(all.subspan(63488), all.subspan(0, 63488));
  ASSERT_LT(second.size(), 63488u / 4) << "the second frame should be mostly references";

  LzsHistory history;
  EXPECT_EQ(Decode(GetParam(), history, first, 63488), Bytes(data.begin(), data.begin() + 63488));
  EXPECT_EQ(Decode(GetParam(), history, second, 63488), Bytes(data.begin() + 63488, data.end()));
}

TEST_P(LzsFrameTest, AfterAShortFrameReferencesCountBackFromSlotZero) {
  LzsHistory history;
  ASSERT_EQ(Decode(GetParam(), history, LzsBits().Literal('A').Literal('B').Literal('C').End().Bytes(), 10),
            Text("ABC"));
  EXPECT_EQ(history.writePosition, 3);
  // The write position restarts at 0: offset 2,047 is slot 1, which holds B.
  EXPECT_EQ(Decode(GetParam(), history, LzsBits().Match(2047, 2).End().Bytes(), 10), Text("BC"));
  EXPECT_EQ(history.window[0], 'B');
  EXPECT_EQ(history.window[1], 'C');
  EXPECT_EQ(history.window[2], 'C');
}

TEST_P(LzsFrameTest, RoundTripsTheEncoder) {
  std::string text;
  for (int i = 0; text.size() < 60000; ++i) {
    text += "Line " + std::to_string(i) + ": the quick brown fox jumps over the lazy dog.\n";
  }
  Bytes binary;
  for (std::uint32_t i = 0; binary.size() < 40000; ++i) {
    for (int k = 0; k < 4; ++k) binary.push_back(static_cast<std::uint8_t>((i * 7) >> (8 * k)));
  }
  const struct {
    const char* name;
    Bytes data;
  } cases[] = {
      {"text", Text(text)},
      {"binary records", binary},
      {"all zero", Bytes(63488, 0)},
      {"incompressible", fixtures::Noise(5000, 3)},
      {"one byte", Text("x")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LzsHistory history;
    const Bytes packed = fixtures::LzsCompress(c.data);
    EXPECT_EQ(Decode(GetParam(), history, packed, static_cast<std::uint32_t>(c.data.size())), c.data);
  }
}

INSTANTIATE_TEST_SUITE_P(Decoders, LzsFrameTest,
                         ::testing::Values(&LzsDecodeFrame, &LzsDecodeFrameStepwise),
                         [](const auto& info) { return info.index == 0 ? "Fast" : "Stepwise"; });

// The fast decoder must give the stepwise machine's bytes, window and write
// position for any input: truncated token streams, random bits, every room.
TEST(LzsDecodersTest, FastDecoderMatchesTheStepwiseMachine) {
  std::vector<Bytes> inputs;
  std::string text;
  for (int i = 0; text.size() < 3000; ++i) text += "record " + std::to_string(i % 37) + " value;";
  const Bytes packed = fixtures::LzsCompress(Text(text));
  for (std::size_t cut = 0; cut <= packed.size(); cut += 1 + cut / 16) {
    inputs.emplace_back(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(cut));
  }
  // Long matches cut at every byte; 0 to 7 leading literals (9 bits each)
  // shift the tokens through every bit alignment, so the input also ends
  // exactly after each nibble.
  for (int literals = 0; literals < 8; ++literals) {
    LzsBits bits;
    for (int k = 0; k < literals; ++k) bits.Literal('k');
    const Bytes longMatch = bits.Match(1, 23 + 15 * 3 + 4).Literal('e').Match(1, 23).End().Bytes();
    for (std::size_t cut = 0; cut <= longMatch.size(); ++cut) {
      inputs.emplace_back(longMatch.begin(), longMatch.begin() + static_cast<std::ptrdiff_t>(cut));
    }
  }
  for (std::uint32_t seed = 1; seed <= 300; ++seed) inputs.push_back(fixtures::Noise(seed * 7 % 700, seed));

  const std::uint32_t rooms[] = {0, 1, 2, 23, 24, 100, 2047, 2048, 2049, 63520};
  std::size_t compared = 0;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    for (std::uint32_t room : rooms) {
      // Both start from the same non-zero window, as a later frame would.
      LzsHistory fast, stepwise;
      for (std::size_t k = 0; k < kLzsWindowSize; ++k) {
        fast.window[k] = stepwise.window[k] = static_cast<std::uint8_t>(k * 31 + i);
      }
      const Bytes a = Decode(&LzsDecodeFrame, fast, inputs[i], room);
      const Bytes b = Decode(&LzsDecodeFrameStepwise, stepwise, inputs[i], room);
      ASSERT_EQ(a, b) << "input " << i << " room " << room;
      ASSERT_EQ(fast.window, stepwise.window) << "input " << i << " room " << room;
      ASSERT_EQ(fast.writePosition, stepwise.writePosition) << "input " << i << " room " << room;
      ++compared;
    }
  }
  EXPECT_EQ(compared, inputs.size() * std::size(rooms));
}

TEST(LzsDecodersTest, InputIsNotChanged) {
  const Bytes input = LzsBits().Literal('a').Match(1, 9).End().Bytes();
  Bytes copy = input;
  LzsHistory history;
  Bytes out(16);
  LzsDecodeFrame(history, ByteView(copy.data(), copy.size()), out.data(), 16);
  EXPECT_EQ(copy, input);
}

}  // namespace
}  // namespace ostrel
