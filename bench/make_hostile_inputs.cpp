// Writes the crafted inputs that once cost far more than their size, at any
// size, for the limits benchmark (bench/limits_bench.sh) and, small, as the
// regression fixtures in tests/fixtures/regress/:
//
//   second-stan      BKF: a file every kilobyte whose second STAN stream claims
//                    a length past the end of the file (each file's data runs
//                    to the end: extraction read the square of the size)
//   tape-cycle       BKF: TAPE, SSET, VOLB, DIRB and FILE again and again;
//                    each TAPE goes below the folder before (nesting without end)
//   deep-tape-cycle  the same with DIRBs of 40 folders each (deep sooner)
//   sset-volume      BKF: after an SSET the volume stays; DIRBs that add a
//                    folder below it alternate with DIRBs whose first folder is
//                    nowhere (each searched the whole volume)
//   folder-flood     BKF: a DIRB every kilobyte naming 60 new folders, each
//                    followed by a file (a folder for every 17 bytes: the scan
//                    makes at most one for each 512 bytes, plus 1,024)
//   shared-data      snapshot: every file record points at the same data of the
//                    small backup written beside it as SNAPSHOT.bkf
//   claim-every      snapshot: folders that all claim every file
//
//   make_hostile_inputs KIND OUTPUT SIZE_KIB [--fixture]
//
// --fixture writes a snapshot as the regression test reads it: a selector
// byte 1, then the sections after the path block (the test puts in front a
// path block naming its own copy of the small backup).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/stop_token.h"
#include "catalogue/catalogue.h"
#include "catalogue/snapshot.h"
#include "reader/scanner.h"
#include "tests/fixtures/files.h"
#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/small_bkf.h"
#include "tests/fixtures/streams.h"

namespace {

using ostrel::fixtures::MtfWriter;
using ostrel::fixtures::Stan;
using ostrel::fixtures::Stream;

std::u16string Units(const std::string& text) { return {text.begin(), text.end()}; }

// `prefix` and the number (appended, not added: GCC 12 warns wrongly about
// "x" + std::to_string).
std::u16string Numbered(const char* prefix, std::uint64_t n) {
  std::string text = prefix;
  text += std::to_string(n);
  return Units(text);
}

MtfWriter SecondStan(std::uint64_t bytes) {
  MtfWriter w;
  w.Tape(u"Tape");
  w.Sset(1, u"Set");
  w.Volb(u"C:");
  for (std::uint64_t i = 0; w.Size() + 1024 <= bytes; ++i) {
    w.File(Numbered("f", i), {Stan("data"), Stream{"STAN", {}, std::uint64_t{1} << 40, 0}});
  }
  return w;
}

MtfWriter TapeCycle(std::uint64_t bytes, int folders) {
  std::u16string path = u"d";
  for (int i = 1; i < folders; ++i) path += u"\\d";
  MtfWriter w;
  while (w.Size() + 5 * 1024 <= bytes) {
    w.Tape(u"T");
    w.Sset(1, u"S");
    w.Volb(u"C:");
    w.Dirb(path);
    w.File(u"f", {Stan("12345678")});
  }
  return w;
}

MtfWriter SsetKeepsVolume(std::uint64_t bytes) {
  MtfWriter w;
  w.Tape(u"Tape");
  w.Sset(1, u"Set");
  w.Volb(u"C:");
  w.Dirb(u"a");
  w.Sset(2, u"Set");
  for (std::uint64_t i = 0; w.Size() + 2 * 1024 <= bytes; ++i) {
    w.Dirb(Numbered("a\\d", i));
    w.Dirb(u"missing");
  }
  return w;
}

// The small backup's first file, as a scan catalogues it.
ostrel::FileNode SmallBackupFile(const std::string& bkf) {
  ostrel::StopToken stop;
  ostrel::RecoverySession session;
  ostrel::StandardScanner scanner(session, stop);
  scanner.Scan(bkf);
  return session.catalogue.FileCount() > 0 ? session.catalogue.FileAt(0) : ostrel::FileNode{};
}

ostrel::Catalogue SharedData(std::uint64_t bytes, const ostrel::FileNode& data) {
  ostrel::Catalogue cat;
  const std::uint64_t folder = cat.Tree().AddNode(u"Docs", cat.Tree().AddNode(u"Tape", 0));
  const std::uint64_t count = bytes / 60;  // a file record and its name take about 60 bytes
  for (std::uint64_t i = 0; i < count; ++i) {
    ostrel::FileNode f = data;
    f.parent = folder;
    f.index = i;
    cat.AppendFile(f, u"same.txt");
  }
  cat.Tree().NodeAt(folder).firstFile = 0;
  cat.Tree().NodeAt(folder).lastFile = count - 1;
  return cat;
}

ostrel::Catalogue ClaimEvery(std::uint64_t bytes) {
  ostrel::Catalogue cat;
  const std::uint64_t tape = cat.Tree().AddNode(u"Tape", 0);
  const std::uint64_t each = bytes / 135;  // folders and files alike, about 70 and 60 bytes each
  for (std::uint64_t i = 0; i < each; ++i) {
    const std::uint64_t folder = cat.Tree().AddNode(Numbered("d", i), tape);
    cat.Tree().NodeAt(folder).firstFile = 0;
    cat.Tree().NodeAt(folder).lastFile = each - 1;
    ostrel::FileNode f;
    f.parent = tape + 1;
    f.index = i;
    cat.AppendFile(f, u"f");
  }
  return cat;
}

int WriteSnapshotFile(const ostrel::Catalogue& cat, const std::string& bkf, const std::string& out, bool fixture) {
  ostrel::StopToken stop;
  const std::string bkfPath = fixture ? std::string("x") : std::filesystem::absolute(bkf).string();
  const auto written = ostrel::WriteSnapshot(cat, Units(bkfPath), out, stop);
  if (!written.ok) {
    std::fprintf(stderr, "%s: %s\n", out.c_str(), written.error.c_str());
    return 1;
  }
  if (!fixture) return 0;
  std::vector<std::uint8_t> bytes = ostrel::fixtures::ReadBytes(out);
  const std::size_t pathBlock = ostrel::fixtures::PathBlock(bkfPath).size();
  std::vector<std::uint8_t> input{1};
  input.insert(input.end(), bytes.begin() + static_cast<std::ptrdiff_t>(pathBlock), bytes.end());
  return ostrel::fixtures::WriteBytes(out, input) ? 0 : 1;
}

MtfWriter FolderFlood(std::uint64_t bytes) {
  MtfWriter w;
  w.Tape(u"Tape");
  w.Sset(1, u"Set");
  w.Volb(u"C:");
  for (std::uint64_t i = 0; w.Size() + 2048 <= bytes; ++i) {
    std::u16string path = Numbered("d", i);
    for (int k = 1; k < 60; ++k) {
      path += u'\\';
      path += Numbered("", static_cast<std::uint64_t>(k));
    }
    w.Dirb(path);
    w.File(Numbered("f", i), {Stan(8)});
  }
  return w;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5 || (argc == 5 && std::strcmp(argv[4], "--fixture") != 0)) {
    std::fprintf(stderr, "usage: make_hostile_inputs KIND OUTPUT SIZE_KIB [--fixture]\n");
    return 2;
  }
  const std::string kind = argv[1];
  const std::string out = argv[2];
  const std::uint64_t bytes = std::strtoull(argv[3], nullptr, 10) * 1024;
  const bool fixture = argc == 5;
  MtfWriter w;
  if (kind == "second-stan") {
    w = SecondStan(bytes);
  } else if (kind == "tape-cycle" || kind == "deep-tape-cycle") {
    w = TapeCycle(bytes, kind == "tape-cycle" ? 1 : 40);
  } else if (kind == "folder-flood") {
    w = FolderFlood(bytes);
  } else if (kind == "sset-volume") {
    w = SsetKeepsVolume(bytes);
  } else if (kind == "shared-data" || kind == "claim-every") {
    const std::string bkf = out + ".bkf";
    if (!ostrel::fixtures::SmallBkf().WriteTo(bkf)) {
      std::perror(bkf.c_str());
      return 1;
    }
    return WriteSnapshotFile(kind == "shared-data" ? SharedData(bytes, SmallBackupFile(bkf)) : ClaimEvery(bytes), bkf,
                             out, fixture);
  } else {
    std::fprintf(stderr, "make_hostile_inputs: unknown kind '%s'\n", kind.c_str());
    return 2;
  }
  if (!w.WriteTo(out)) {
    std::perror(out.c_str());
    return 1;
  }
  return 0;
}
