// Writes the demo backup that ./scripts/run.sh scans: a small backup of a few
// folders and files whose head has been overwritten and one of whose folder
// blocks is damaged, so the scan shows its placeholders and resynchronisation.
#include <cstdio>
#include <string>

#include "tests/fixtures/mtf_writer.h"

using ostrel::fixtures::Ascii;
using ostrel::fixtures::MtfWriter;
using ostrel::fixtures::Stream;

namespace {

std::vector<std::uint8_t> Text(const std::string& line, int repeat) {
  std::string s;
  for (int i = 0; i < repeat; ++i) s += line;
  return Ascii(s);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_demo_bkf OUTPUT\n");
    return 2;
  }
  MtfWriter w;
  w.Tape(u"Office backup");
  w.Sset(1, u"Nightly");
  w.Volb(u"D:\\");
  w.File(u"budget.xlsx", {{"NTOI", Ascii("attrs"), {}, 0}, {"STAN", Text("figures;", 300), {}, 0}});
  w.Dirb(u"Projects");
  w.File(u"plan.txt", {{"STAN", Text("Plan the quarter.\n", 40), {}, 0}});
  w.Dirb(u"Projects\\Archive");
  w.File(u"old-notes.txt", {{"STAN", Text("Old notes.\n", 90), {}, 0}, {"CSUM", Ascii("1234"), {}, 0}});
  const std::uint64_t broken = w.Dirb(u"Projects\\Broken");
  w.File(u"orphan.doc", {{"STAN", Text("Recovered all the same.\n", 70), {}, 0}});
  w.Dirb(u"Photos");
  w.File(u"holiday.jpg", {{"STAN", Text("\xff\xd8 not really a photo ", 120), {}, 0}});
  w.Bare("ESET");

  // Damage: the tape, set and volume blocks are overwritten with zeros, and
  // the name address of one folder block points outside its block.
  for (std::uint64_t i = 0; i < 3 * 1024; ++i) w.Bytes()[i] = 0;
  w.PutU16(broken + 82, 3);

  if (!w.WriteTo(argv[1])) {
    std::fprintf(stderr, "make_demo_bkf: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
