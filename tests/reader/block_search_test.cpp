// The block search run ahead on worker threads: the catalogue, the blocks met
// and the progress reports equal those of the one-thread scan, which searches
// each window as the walk reaches it, for every input the suite holds, with
// segments small enough that IDs straddle their ends. A listener that wants
// only the newest report gets some of those reports, down to the last.
#include "reader/block_search.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <algorithm>
#include <vector>

#include "reader/scanner.h"
#include "tests/fixtures/failing_disk.h"
#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/scan_helpers.h"
#include "tests/fixtures/streams.h"
#include "tests/fixtures/temp_dir.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using fixtures::MtfWriter;
using fixtures::Noise;
using fixtures::Stan;
using fixtures::TempDir;

struct Mode {
  const char* name;
  RecoveryMode mode;
  bool heuristic;
};
constexpr Mode kModes[] = {{"standard", RecoveryMode::Standard, false},
                           {"advanced", RecoveryMode::Advanced, false},
                           {"advanced heuristic", RecoveryMode::Advanced, true}};

// What a scan gives back that the search could change.
struct Result {
  int answer = -1;
  std::vector<std::string> outline;
  std::uint64_t blocks = 0, files = 0;
  std::vector<std::uint64_t> reportPositions, reportFiles;
  std::vector<float> reportPercents;
  std::vector<int> done;
  std::vector<std::string> messages;
  UnreadableSummary unreadable;
};

// Records the reports too, but tells the scan it wants only the newest (as
// the progress bar and the desktop program's scan job do).
struct NewestOnly : fixtures::RecordingListener {
  bool EveryWindow() const override { return false; }
};

Result ScanWith(const std::string& path, const Mode& mode, const SearchOptions& search, std::uint64_t start = 0,
                std::uint64_t end = 0, const BkfFile::ReadFunction& reader = {}, bool everyWindow = true) {
  StopToken stop;
  RecoverySession session;
  fixtures::RecordingListener recorder;
  NewestOnly newest;
  fixtures::RecordingListener& listener = everyWindow ? recorder : newest;
  const auto scanner = fixtures::NewScanner(mode.mode, session, stop, &listener);
  scanner->SetHeuristic(mode.heuristic);
  scanner->SetRange(start, end);
  scanner->SetSearch(search);
  if (reader) scanner->SetFileReader(reader);
  Result r;
  r.answer = scanner->Scan(path);
  r.outline = fixtures::Outline(session.catalogue, true);
  r.blocks = scanner->BlocksFound();
  r.files = scanner->FilesFound();
  for (const ProgressReport& p : listener.reports) {
    r.reportPositions.push_back(p.position);
    r.reportFiles.push_back(p.filesFound);
    r.reportPercents.push_back(p.percent);
  }
  r.done = listener.done;
  r.messages = listener.messages;
  r.unreadable = session.file.Unreadable();
  return r;
}

void ExpectSame(const Result& parallel, const Result& reference) {
  EXPECT_EQ(parallel.answer, reference.answer);
  EXPECT_EQ(parallel.outline, reference.outline);
  EXPECT_EQ(parallel.blocks, reference.blocks);
  EXPECT_EQ(parallel.files, reference.files);
  EXPECT_EQ(parallel.reportPositions, reference.reportPositions);
  EXPECT_EQ(parallel.reportFiles, reference.reportFiles);
  EXPECT_EQ(parallel.reportPercents, reference.reportPercents);
  EXPECT_EQ(parallel.done, reference.done);
  EXPECT_EQ(parallel.messages, reference.messages);
  EXPECT_EQ(parallel.unreadable.ranges, reference.unreadable.ranges);
}

// A scan whose listener wants only the newest report: the same catalogue,
// and reports that are the reference's own, in order, down to the last one.
void ExpectSameButFewerReports(const Result& parallel, const Result& reference) {
  Result same = parallel;
  same.reportPositions = reference.reportPositions;
  same.reportFiles = reference.reportFiles;
  same.reportPercents = reference.reportPercents;
  ExpectSame(same, reference);
  ASSERT_EQ(parallel.reportPositions.empty(), reference.reportPositions.empty());
  if (parallel.reportPositions.empty()) return;
  EXPECT_EQ(parallel.reportPositions.back(), reference.reportPositions.back());
  EXPECT_EQ(parallel.reportPercents.back(), reference.reportPercents.back());
  std::size_t r = 0;
  for (std::size_t p = 0; p < parallel.reportPositions.size(); ++p) {
    while (r < reference.reportPositions.size() &&
           (reference.reportPositions[r] != parallel.reportPositions[p] ||
            reference.reportFiles[r] != parallel.reportFiles[p] ||
            reference.reportPercents[r] != parallel.reportPercents[p])) {
      ++r;
    }
    ASSERT_LT(r, reference.reportPositions.size()) << "report " << p << " at " << parallel.reportPositions[p]
                                                   << " is not one of the reference's, in order";
    ++r;
  }
}

SearchOptions OneThread() { return {1, 0, 0}; }

// ------------------------------------------------------------- the fixtures

// The head of an intact backup: its tape, set and volume.
MtfWriter TapeSetVolume() {
  MtfWriter w;
  w.Tape(u"Tape");
  w.Sset(1, u"Set");
  w.Volb(u"C:");
  return w;
}

// A small intact backup, one file's data longer than many tiny segments.
MtfWriter Intact() {
  MtfWriter w = TapeSetVolume();
  w.Dirb(u"Docs");
  w.File(u"a.txt", {Stan(3000)});
  w.File(u"big.bin", {{"NTOI", fixtures::Ascii("xx"), {}, 0}, Stan(150000, 3)});
  w.Dirb(u"Docs\\Sub");
  w.File(u"b.txt", {Stan(10)});
  w.Bare("ESET");
  return w;
}

// Noise with blocks at odd offsets: the kinds the standard scanner skips
// (CFIL, SFMB), blocks one byte apart, a folder whose name is unusable (the
// walk then moves on one byte), and runs of noise long enough to call the
// workers in between them.
MtfWriter Scattered() {
  MtfWriter w;
  w.Append(Noise(70000, 11));
  w.Volb(u"D:", 70001);
  w.Dirb(u"Found", 71500);
  w.File(u"x.dat", {Stan(500)}, 73003);
  w.Bare("CFIL", 80007);
  w.Bare("SFMB", 81013);
  w.Bare("ESET", 83000);
  w.Bare("ESET", 83001);
  const std::uint64_t bad = w.Dirb(u"Broken", 85002);
  w.Bytes()[bad + 80 + 2] = 0xFF;  // the name's offset (at 80 + 2) lies past the block
  w.Bytes()[bad + 80 + 3] = 0xFF;
  w.PadTo(90000);
  w.Append(Noise(150000, 12));
  w.File(u"y.dat", {Stan(200000, 4)}, 160005);  // its data runs past the stretch
  w.Append(Noise(90000, 13));
  w.File(u"z.dat", {Stan(20)});
  return w;
}

// More IDs than a segment lists: the walk searches the rest itself.
MtfWriter DenseIds() {
  MtfWriter w;
  for (std::size_t i = 0; i < BlockSearch::kMaxHits + 5000; ++i) w.AppendText("SSET");
  w.Append(Noise(70000, 14));
  w.File(u"after.txt", {Stan(100)});
  return w;
}

struct Layout {
  const char* name;
  SearchOptions search;
};
// Tiny segments, shorter and longer than a window, and the default; workers
// called in from the start and after the usual run of windows without a block.
const Layout kLayouts[] = {
    {"2 threads, 1,000-byte segments, from the start", {2, 1000, 0}},
    {"7 threads, 4,099-byte segments, from the start", {7, 4099, 0}},
    {"2 threads, 4,099-byte segments, after a quiet run", {2, 4099, 64 * 1024}},
    {"7 threads, default segments, from the start", {7, 0, 0}},
    {"2 threads, default segments and start", {2, 0, 64 * 1024}},
};

std::vector<std::string> EveryInput(const TempDir& dir) {
  std::vector<std::string> paths = {dir.Write(Intact(), "intact.bkf"), dir.Write(Scattered(), "scattered.bkf"),
                                    dir.Write(DenseIds(), "dense.bkf")};
  const fs::path data(OSTREL_TEST_DATA_DIR);
  const fs::path regress = fs::path(OSTREL_TEST_DATA_DIR).parent_path() / "fixtures" / "regress";
  for (const fs::path& folder : {data / "conformance", data / "samples", regress}) {
    for (const auto& e : fs::directory_iterator(folder)) {
      const std::string ext = e.path().extension().string();
      if (e.is_regular_file() && ext != ".json" && ext != ".md") paths.push_back(e.path().string());
    }
  }
  return paths;
}

TEST(BlockSearch, EveryInputScansAsWithOneThread) {
  TempDir dir;
  const std::vector<std::string> inputs = EveryInput(dir);
  ASSERT_GE(inputs.size(), 10u);
  std::size_t reports[2] = {};  // of the reference scans, of those that want the newest only
  for (const std::string& path : inputs) {
    SCOPED_TRACE(path);
    const std::uint64_t size = fs::file_size(path);
    // The whole file, and a range that begins and ends inside blocks.
    const std::pair<std::uint64_t, std::uint64_t> ranges[] = {{0, 0}, {size / 3 + 5, size - size / 5}};
    for (const Mode& mode : kModes) {
      SCOPED_TRACE(mode.name);
      for (const auto& [start, end] : ranges) {
        SCOPED_TRACE("range " + std::to_string(start) + ".." + std::to_string(end));
        const Result reference = ScanWith(path, mode, OneThread(), start, end);
        for (const Layout& layout : kLayouts) {
          SCOPED_TRACE(layout.name);
          ExpectSame(ScanWith(path, mode, layout.search, start, end), reference);
          const Result newest = ScanWith(path, mode, layout.search, start, end, {}, false);
          ExpectSameButFewerReports(newest, reference);
          reports[0] += reference.reportPositions.size();
          reports[1] += newest.reportPositions.size();
        }
      }
    }
  }
  // The runs of windows the search lists no block in are passed at once.
  EXPECT_LT(reports[1], reports[0] / 2);
}

TEST(BlockSearch, IdsAtSegmentBoundariesAreFound) {
  // Segments of 3,001 bytes from the start of the file; a FILE block at each
  // boundary, from three bytes before it (the ID straddles it) to one after.
  constexpr std::uint64_t kSegment = 3001;
  MtfWriter w;
  w.Append(Noise(12 * kSegment, 21));
  const int offsets[] = {-3, -2, -1, 0, 1, -3, 1, 0};
  std::vector<std::string> names;
  for (std::size_t k = 0; k < std::size(offsets); ++k) {
    const std::u16string name = u"f" + std::u16string(1, static_cast<char16_t>(u'a' + k)) + u".txt";
    w.File(name, {Stan(10)}, (k + 2) * kSegment + static_cast<std::uint64_t>(static_cast<std::int64_t>(offsets[k])));
    names.push_back("f" + std::string(1, static_cast<char>('a' + k)) + ".txt");
  }
  TempDir dir;
  const std::string path = dir.Write(w);
  for (const Mode& mode : kModes) {
    SCOPED_TRACE(mode.name);
    const Result reference = ScanWith(path, mode, OneThread());
    for (unsigned threads : {2u, 7u}) {
      const Result parallel = ScanWith(path, mode, {threads, kSegment, 0});
      ExpectSame(parallel, reference);
      for (const std::string& name : names) {
        EXPECT_TRUE(std::any_of(parallel.outline.begin(), parallel.outline.end(),
                                [&](const std::string& line) { return line.find(name + " = 10") != std::string::npos; }))
            << name;
      }
    }
  }
}

TEST(BlockSearch, BadPiecesAreReportedAsTheOneThreadScanReportsThem) {
  // Noise with files in it, and sixteen bad pieces in the middle: the same
  // catalogue and unreadable ranges, and the progress moves at each piece a
  // worker gives up (they reach the scanning thread one by one).
  MtfWriter w;
  w.Append(Noise(100000, 31));
  for (int i = 0; i < 6; ++i) w.File(u"f" + std::u16string(1, static_cast<char16_t>(u'0' + i)), {Stan(700)}, 100000 + i * 40000);
  w.Append(Noise(50000, 32));
  TempDir dir;
  const std::string path = dir.Write(w);
  const std::vector<ByteRange> bad = {{8 * BkfFile::kPieceSize, 16 * BkfFile::kPieceSize}};
  for (const Mode& mode : kModes) {
    SCOPED_TRACE(mode.name);
    fixtures::FailingDisk one(bad), many(bad);
    const Result reference = ScanWith(path, mode, OneThread(), 0, 0, one.Reader());
    const Result parallel = ScanWith(path, mode, {2, 20000, 0}, 0, 0, many.Reader());
    EXPECT_EQ(parallel.outline, reference.outline);
    EXPECT_EQ(parallel.unreadable.ranges, reference.unreadable.ranges);
    EXPECT_EQ(parallel.unreadable.bytes, 16 * BkfFile::kPieceSize);
    // A report for every piece given up, each at the piece's position.
    for (std::uint64_t piece = 8; piece < 24; ++piece) {
      EXPECT_NE(std::find(parallel.reportPositions.begin(), parallel.reportPositions.end(), piece * BkfFile::kPieceSize),
                parallel.reportPositions.end())
          << piece;
    }
  }
}

TEST(BlockSearch, StopEndsAScanWhoseSearchHangs) {
  // Reads past 64 KiB hang until Stop: the walk waits for a worker's segment
  // or hangs in one it searches itself, and Stop ends the scan with what was
  // found before.
  MtfWriter w;
  w.File(u"early.txt", {Stan(10)});
  w.Append(Noise(400000, 41));
  w.File(u"late.txt", {Stan(10)});
  TempDir dir;
  const std::string path = dir.Write(w);
  for (const Mode& mode : kModes) {
    SCOPED_TRACE(mode.name);
    StopToken stop;
    RecoverySession session;
    const auto scanner = fixtures::NewScanner(mode.mode, session, stop);
    scanner->SetHeuristic(mode.heuristic);
    scanner->SetSearch({2, 16 * 1024, 0});
    std::atomic<bool> held{false};
    scanner->SetFileReader([&](int fd, void* buffer, std::size_t count, std::uint64_t position) -> long {
      if (position > 64 * 1024 && !stop.StopRequested()) {
        held = true;
        while (!stop.StopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      return static_cast<long>(::pread(fd, buffer, count, static_cast<off_t>(position)));
    });
    std::thread stopper([&] {
      while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      stop.RequestStop();
    });
    EXPECT_EQ(scanner->Scan(path), 1);
    stopper.join();
    EXPECT_TRUE(held);
    const auto outline = fixtures::Outline(session.catalogue);
    const auto names = [&](const char* name) {
      return std::count_if(outline.begin(), outline.end(),
                           [&](const std::string& l) { return l.find(name) != std::string::npos; });
    };
    EXPECT_EQ(names("early.txt"), 1) << testing::PrintToString(outline);
    EXPECT_EQ(names("late.txt"), 0);
  }
}

TEST(BlockSearch, AnIntactBackupIsReadAroundItsHeadersOnly) {
  // Files far larger than a segment: the walk lands on the next block after
  // each jump, so the workers are never called in and nothing more is read.
  MtfWriter w = TapeSetVolume();
  for (int i = 0; i < 6; ++i) {
    w.File(u"big" + std::u16string(1, static_cast<char16_t>(u'0' + i)), {Stan(300000, 50 + i)});
  }
  TempDir dir;
  const std::string path = dir.Write(w);
  for (const Mode& mode : kModes) {
    SCOPED_TRACE(mode.name);
    StopToken stop;
    std::uint64_t read[2] = {};
    for (int i = 0; i < 2; ++i) {
      RecoverySession session;
      const auto scanner = fixtures::NewScanner(mode.mode, session, stop);
      scanner->SetHeuristic(mode.heuristic);
      scanner->SetSearch(i == 0 ? OneThread() : SearchOptions{2, 16 * 1024});
      ASSERT_EQ(scanner->Scan(path), 1);
      EXPECT_EQ(session.catalogue.FileCount(), 6u);
      read[i] = scanner->BytesRead();
    }
    EXPECT_EQ(read[1], read[0]);
    if (mode.mode == RecoveryMode::Advanced) {
      EXPECT_LT(read[1], w.Size() / 4);
    }
  }
}

TEST(BlockSearch, TheEnvironmentCapsTheThreads) {
  const unsigned cores = CappedSearchThreads(kMaxSearchThreads);
  struct Case {
    const char* value;
    unsigned expected;
  };
  const Case cases[] = {{"1", 1}, {"0", cores}, {"two", cores}, {"3x", cores}, {"", cores}, {"100000", cores}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    ::setenv(kScanThreadsVariable, c.value, 1);
    EXPECT_EQ(DefaultSearchThreads(), c.expected);
  }
  ::unsetenv(kScanThreadsVariable);
  EXPECT_EQ(DefaultSearchThreads(), cores);
  EXPECT_EQ(CappedSearchThreads(1), 1u);
}

}  // namespace
}  // namespace ostrel
