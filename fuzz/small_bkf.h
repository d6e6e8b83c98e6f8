// The small valid BKF file that snapshot inputs name (fuzz target and its
// regression test): a folder and two plain files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/fixtures/mtf_writer.h"

namespace ostrel::fuzz {

inline fixtures::MtfWriter SmallBkf() {
  fixtures::MtfWriter m;
  m.Tape(u"Tape");
  m.Sset(1, u"Set");
  m.Volb(u"C:");
  m.Dirb(u"Docs");
  const auto stan = [](std::vector<std::uint8_t> bytes) {
    fixtures::Stream s;
    s.id = "STAN";
    s.data = std::move(bytes);
    return s;
  };
  std::vector<std::uint8_t> text;
  for (int i = 0; i < 3000; ++i) text.push_back(static_cast<std::uint8_t>('a' + i % 26));
  m.File(u"a.txt", {stan(text)});
  m.File(u"b.txt", {stan({1, 2, 3})});
  return m;
}

// A snapshot's path block naming `path` (ASCII): u32 N, UTF-16LE, NUL unit.
inline std::vector<std::uint8_t> PathBlock(const std::string& path) {
  std::vector<std::uint8_t> b;
  const auto n = static_cast<std::uint32_t>(2 * (path.size() + 1));
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
  for (char c : path) {
    b.push_back(static_cast<std::uint8_t>(c));
    b.push_back(0);
  }
  b.push_back(0);
  b.push_back(0);
  return b;
}

}  // namespace ostrel::fuzz
