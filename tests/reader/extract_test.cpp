#include "reader/extract.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "tests/fixtures/lzs_encoder.h"
#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/sha256.h"
#include "tests/fixtures/streams.h"
#include "tests/fixtures/temp_dir.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using fixtures::MtfWriter;
using fixtures::Stan;
using fixtures::StanWithLength;
using fixtures::Stream;
using fixtures::TempDir;
using fixtures::Text;
using Bytes = std::vector<std::uint8_t>;

constexpr char16_t kName[] = u"data.bin";

// A FILE block with `streams`; the node the scanner would make for it (data
// position after the first stream's header, the length from that header).
FileNode AddFile(MtfWriter& w, const std::vector<Stream>& streams,
                 std::optional<std::uint64_t> at = {}) {
  const std::uint64_t pos = w.File(kName, streams, at);
  FileNode node;
  node.dataPosition = pos + MtfWriter::FirstEventFor(std::u16string_view(kName).size() * 2) + 22;
  node.dataLength = streams.at(0).length.value_or(streams[0].data.size());
  return node;
}

// A stream the walk steps over or stops at.
Stream Csum() {
  Stream s;
  s.id = "CSUM";
  s.data = Bytes(4, 9);
  return s;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes SomeText(std::size_t size) {
  std::string text;
  for (int i = 0; text.size() < size; ++i) {
    text += "Entry " + std::to_string(i * 37 % 1000) +
            ": invoices, letters and plans for the new office.\n";
  }
  text.resize(size);
  return Text(text);
}

std::optional<Bytes> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

struct Result {
  ExtractOutcome outcome;
  std::optional<Bytes> output;  // nullopt: no output file
  ExtractStats stats;
};

class ExtractTest : public ::testing::Test {
 protected:
  Result Extract(const MtfWriter& w, const FileNode& node, std::optional<std::uint64_t> limit = {},
                 bool stopped = false) {
    BkfFile file;
    EXPECT_TRUE(file.Open(dir_.Write(w)));
    const std::string out = dir_.File("out.bin");
    fs::remove(out);
    StopToken stop;
    if (stopped) stop.RequestStop();
    Result r;
    r.outcome = ExtractFileData(node, file, out, limit, stop, &r.stats);
    r.output = ReadAll(out);
    return r;
  }
  DataStreams Walk(const MtfWriter& w, const FileNode& node,
                   std::optional<std::uint64_t> limit = {}) {
    BkfFile file;
    EXPECT_TRUE(file.Open(dir_.Write(w)));
    StopToken stop;
    return FindDataStreams(node, file, limit, stop);
  }

  TempDir dir_;
};

// -------------------------------------------------------------------- outcomes

TEST_F(ExtractTest, Outcomes) {
  struct Case {
    const char* name;
    std::function<FileNode(MtfWriter&)> build;
    ExtractOutcome outcome;
    std::optional<Bytes> output;
  };
  const Bytes data = SomeText(3000);
  const Case cases[] = {
      {"no data position: no file",
       [&](MtfWriter& w) {
         FileNode n = AddFile(w, {Stan(data)});
         n.dataPosition = 0;
         return n;
       },
       ExtractOutcome::NoData, std::nullopt},
      {"data length 0: an empty file", [&](MtfWriter& w) { return AddFile(w, {Stan(Bytes{})}); },
       ExtractOutcome::Empty, Bytes{}},
      {"continuation bit on the first stream: an empty file",
       [&](MtfWriter& w) {
         Stream s = Stan(data);
         s.mediaAttributes = 1;
         return AddFile(w, {s});
       },
       ExtractOutcome::Continuation, Bytes{}},
      {"continuation bit on a later stream does not matter",
       [&](MtfWriter& w) {
         Stream second = Stan(Text("tail"));
         second.mediaAttributes = 1;
         return AddFile(w, {Stan(data), second});
       },
       ExtractOutcome::Extracted, Concat(data, Text("tail"))},
      {"SFMB where the next stream header should be: split",
       [&](MtfWriter& w) {
         const FileNode n = AddFile(w, {Stan(Text("abcdefgh"))});
         // 22 + 8 bytes from the header, rounded up to 32: the next header
         // lies 10 bytes after the data position.
         w.Bare("SFMB", n.dataPosition + 10);
         return n;
       },
       ExtractOutcome::Split, Bytes{}},
      {"a first stream past the end of the file, SFMB 1,024 bytes before the end: split",
       [&](MtfWriter& w) {
         const FileNode n = AddFile(w, {StanWithLength(data, 1u << 20)});
         const std::uint64_t sfmb = w.Bare("SFMB");
         w.PadTo(sfmb + 1024);
         return n;
       },
       ExtractOutcome::Split, Bytes{}},
      {"plain data", [&](MtfWriter& w) { return AddFile(w, {Stan(data)}); },
       ExtractOutcome::Extracted, data},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MtfWriter w;
    w.Tape(u"Tape");
    const FileNode node = c.build(w);
    const Result r = Extract(w, node);
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.output, c.output);
  }
}

TEST_F(ExtractTest, OutputFileIsCreatedSafely) {
  MtfWriter w;
  const FileNode node = AddFile(w, {Stan(Text("fresh"))});
  BkfFile file;
  ASSERT_TRUE(file.Open(dir_.Write(w)));
  StopToken stop;

  // A new file is 0644 less the umask; a longer file already there is truncated.
  const std::string out = dir_.File("out.txt");
  const mode_t old = ::umask(022);
  EXPECT_EQ(ExtractFileData(node, file, out, std::nullopt, stop), ExtractOutcome::Extracted);
  ::umask(old);
  struct stat st {};
  ASSERT_EQ(::stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  std::ofstream(out) << "an older and much longer content";
  EXPECT_EQ(ExtractFileData(node, file, out, std::nullopt, stop), ExtractOutcome::Extracted);
  EXPECT_EQ(ReadAll(out), Text("fresh"));

  // A symbolic link planted at the output path is not followed.
  const std::string target = dir_.File("target.txt");
  std::ofstream(target) << "keep me";
  const std::string link = dir_.File("link.txt");
  fs::create_symlink(target, link);
  ExtractStats stats;
  EXPECT_EQ(ExtractFileData(node, file, link, std::nullopt, stop, &stats),
            ExtractOutcome::CannotCreate);
  EXPECT_NE(stats.systemError, 0);
  EXPECT_EQ(ReadAll(target), Text("keep me"));

  // A folder that does not exist, and a folder at the output path.
  EXPECT_EQ(ExtractFileData(node, file, dir_.File("missing/out.txt"), std::nullopt, stop),
            ExtractOutcome::CannotCreate);
  fs::create_directory(dir_.File("sub"));
  EXPECT_EQ(ExtractFileData(node, file, dir_.File("sub"), std::nullopt, stop),
            ExtractOutcome::CannotCreate);
}

TEST_F(ExtractTest, ClearedStopFlagCopiesNothing) {
  MtfWriter w;
  const FileNode node = AddFile(w, {Stan(SomeText(5000))});
  const Result r = Extract(w, node, std::nullopt, /*stopped=*/true);
  EXPECT_EQ(r.outcome, ExtractOutcome::Extracted);
  EXPECT_EQ(r.output, Bytes{});
  EXPECT_TRUE(r.stats.stopped);
}

// Progress comes after every block written; a stop cleared from it ends the
// copy after that block and is told apart from a complete copy.
TEST_F(ExtractTest, ProgressPerBlockAndAStopInTheMiddle) {
  const Bytes text = SomeText(3 * kPlainBlockSize + 10);
  const struct {
    const char* name;
    Bytes stream;
    std::uint64_t stopAfter;  // bytes; 0 never
    std::size_t blocksBeforeStop;
  } cases[] = {
      {"plain, complete", text, 0, 0},
      {"plain, stopped after the second block", text, 2 * kPlainBlockSize, 2},
      {"compressed, stopped after the first frame", fixtures::CompressFrames(text), 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MtfWriter w;
    const FileNode node = AddFile(w, {Stan(c.stream)});
    BkfFile file;
    ASSERT_TRUE(file.Open(dir_.Write(w)));
    StopToken stop;
    std::vector<std::uint64_t> reported;
    ExtractStats stats;
    const std::string out = dir_.File("progress.bin");
    const ExtractOutcome outcome =
        ExtractFileData(node, file, out, std::nullopt, stop, &stats, [&](std::uint64_t written) {
          reported.push_back(written);
          if (c.stopAfter != 0 && written >= c.stopAfter) stop.RequestStop();
        });
    EXPECT_EQ(outcome, ExtractOutcome::Extracted);
    ASSERT_FALSE(reported.empty());
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
    EXPECT_EQ(reported.back(), stats.bytesWritten);
    EXPECT_EQ(stats.stopped, c.stopAfter != 0);
    if (c.stopAfter == 0) {
      EXPECT_EQ(reported.size(), 4u);
      EXPECT_EQ(ReadAll(out), text);
    } else {
      EXPECT_EQ(reported.size(), c.blocksBeforeStop);
      EXPECT_LT(stats.bytesWritten, text.size());
    }
  }
}

// ------------------------------------------------------------------ the walk

std::vector<std::pair<std::uint64_t, std::uint64_t>> Ranges(const ChunkList& chunks) {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> out;
  for (std::size_t i = 0; i < chunks.Count(); ++i)
    out.emplace_back(chunks.At(i).position, chunks.At(i).length);
  return out;
}

TEST_F(ExtractTest, StreamWalk) {
  using RangeList = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
  struct Case {
    const char* name;
    // Builds the file; answers the node and the ranges expected.
    std::function<std::pair<FileNode, RangeList>(MtfWriter&)> build;
    std::optional<std::uint64_t> limit = std::nullopt;
  };
  const Case cases[] = {
      {"STAN then CSUM: one range of the node's length",
       [](MtfWriter& w) {
         const FileNode n = AddFile(w, {Stan(Bytes(100, 1)), Csum()});
         return std::pair{n, RangeList{{n.dataPosition, 100}}};
       }},
      {"two STAN streams, the first of odd length: the second 4-aligned after it",
       [](MtfWriter& w) {
         const FileNode n = AddFile(w, {Stan(Bytes(1001, 1)), Stan(Bytes(50, 2))});
         // 22 + 1001 = 1023, rounded up to 1024.
         return std::pair{n,
                          RangeList{{n.dataPosition, 1001}, {n.dataPosition - 22 + 1024 + 22, 50}}};
       }},
      {"alignment counts from the header, also in a block at an odd position",
       [](MtfWriter& w) {
         w.PadTo(3001);
         const FileNode n = AddFile(w, {Stan(Bytes(5, 1)), Stan(Bytes(7, 2))}, 3001);
         return std::pair{n, RangeList{{n.dataPosition, 5}, {n.dataPosition - 22 + 28 + 22, 7}}};
       }},
      {"a first stream past the end of the file ends 1,024 bytes before the end",
       [](MtfWriter& w) {
         const FileNode n = AddFile(w, {StanWithLength(Bytes(5000, 1), 1u << 30)});
         return std::pair{n, RangeList{{n.dataPosition, w.Size() - n.dataPosition - 1024}}};
       }},
      {"a data position in the last kilobyte gives an empty range, not a wrapped one",
       [](MtfWriter& w) {
         const FileNode n = AddFile(w, {StanWithLength(Bytes(100, 1), 1u << 30)});
         return std::pair{n, RangeList{{n.dataPosition, 0}}};
       }},
      {"a later STAN stream with a damaged length ends at the end of the file",
       [](MtfWriter& w) {
         const FileNode n =
             AddFile(w, {Stan(Bytes(8, 1)), StanWithLength(Bytes(3000, 2), ~std::uint64_t{0})});
         const std::uint64_t second = n.dataPosition + 10 + 22;
         return std::pair{n, RangeList{{n.dataPosition, 8}, {second, w.Size() - second}}};
       }},
      {"a STAN header in the file's last 22 bytes adds no range",
       [](MtfWriter& w) {
         const FileNode n = AddFile(w, {Stan(Bytes(8, 1))});
         w.PutAscii(w.Size(), "STAN");  // the image ends 4 bytes into the header
         return std::pair{n, RangeList{{n.dataPosition, 8}}};
       }},
      {"the limit cuts the first range and no further streams are read",
       [](MtfWriter& w) {
         const FileNode n = AddFile(w, {Stan(Bytes(10485760 + 524288, 1)), Stan(Bytes(10, 2))});
         return std::pair{n, RangeList{{n.dataPosition, 10485760}}};
       },
       kPreviewLimit},
      {"the limit cuts a later range so the ranges add up to the limit",
       [](MtfWriter& w) {
         const FileNode n =
             AddFile(w, {Stan(Bytes(100, 1)), Stan(Bytes(1000, 2)), Stan(Bytes(10, 3))});
         return std::pair{n,
                          RangeList{{n.dataPosition, 100}, {n.dataPosition + 100 + 22 + 2, 400}}};
       },
       500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MtfWriter w;
    w.Tape(u"Tape");
    const auto [node, expected] = c.build(w);
    const DataStreams s = Walk(w, node, c.limit);
    EXPECT_EQ(s.kind, DataStreams::Kind::Data);
    EXPECT_EQ(Ranges(s.chunks), expected);
  }
}

TEST_F(ExtractTest, DataEndsAtTheEndOfTheFile) {
  // The header's length keeps the stream inside the file by its header's 22
  // bytes, but its last 10 bytes lie past the end: the copy ends where the
  // file ends (zeros past it are no part of the data) and says it was cut.
  MtfWriter w;
  const Bytes data = SomeText(1000);
  const FileNode node = AddFile(w, {Stan(data)});
  w.Bytes().resize(node.dataPosition + 990);
  const Result r = Extract(w, node);
  EXPECT_EQ(r.outcome, ExtractOutcome::Extracted);
  EXPECT_EQ(r.output, Bytes(data.begin(), data.begin() + 990));
  EXPECT_EQ(r.stats.dataHeld, 990u);
  EXPECT_EQ(r.stats.dataPromised, 1000u);
}

TEST_F(ExtractTest, PlainCopyAroundTheBlockSize) {
  for (std::size_t size :
       {std::size_t{1048575}, std::size_t{1048576}, std::size_t{1048577}, std::size_t{2097155}}) {
    SCOPED_TRACE(size);
    MtfWriter w;
    Bytes data = fixtures::Noise(size, static_cast<std::uint32_t>(size));
    data[0] = 'F';  // "FH" but no plausible frame header after it
    data[1] = 'H';
    const FileNode node = AddFile(w, {Stan(data), Csum()});
    const Result r = Extract(w, node);
    EXPECT_FALSE(r.stats.compressed);
    ASSERT_TRUE(r.output);
    EXPECT_EQ(r.output->size(), size);
    EXPECT_TRUE(*r.output == data);
    EXPECT_EQ(r.stats.bytesWritten, size);
  }
}

// ------------------------------------------------------------- compressed data

TEST_F(ExtractTest, CompressedRoundTrips) {
  Bytes records;
  for (std::uint32_t i = 0; records.size() < 150000; ++i) {
    const std::uint32_t v = i * 2654435761u;
    records.insert(records.end(),
                   {0x01, 0x00, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(v >> 28)});
  }
  const struct {
    const char* name;
    Bytes data;
  } cases[] = {
      {"text over several frames", SomeText(200000)},
      {"binary records", records},
      {"all zero", Bytes(130000, 0)},
      {"incompressible: stored frames", fixtures::Noise(70000, 11)},
      {"one frame of one byte", Text("!")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MtfWriter w;
    const FileNode node = AddFile(w, {Stan(fixtures::CompressFrames(c.data))});
    const Result r = Extract(w, node);
    EXPECT_EQ(r.outcome, ExtractOutcome::Extracted);
    EXPECT_TRUE(r.stats.compressed);
    ASSERT_TRUE(r.output);
    EXPECT_EQ(r.output->size(), c.data.size());
    EXPECT_TRUE(*r.output == c.data);
  }
}

// The checksum the backup program writes after a stream, computed here the
// plain way: byte i goes to bits 8 * (i mod 4) of a 32-bit XOR.
std::uint32_t NaiveXor(const Bytes& data) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < data.size(); ++i) sum ^= static_cast<std::uint32_t>(data[i]) << (8 * (i % 4));
  return sum;
}

Stream CsumOf(std::uint32_t value) {
  Stream s;
  s.id = "CSUM";
  s.data = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  return s;
}

// A CRPT stream after the data, or after its CSUM: the backup program could
// not read the file whole when it backed it up, whatever the checksum says.
TEST_F(ExtractTest, DataMarkedCorruptByTheBackupProgram) {
  const Bytes text = SomeText(300);
  Stream crpt;
  crpt.id = "CRPT";
  const struct {
    const char* name;
    std::vector<Stream> streams;
    ChecksumStatus expected;
  } cases[] = {
      {"right after the data", {Stan(text), crpt}, ChecksumStatus::MarkedCorrupt},
      {"after the checksum", {Stan(text), CsumOf(NaiveXor(text)), crpt}, ChecksumStatus::MarkedCorrupt},
      {"not marked", {Stan(text), CsumOf(NaiveXor(text))}, ChecksumStatus::Verified},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MtfWriter w;
    const Result r = Extract(w, AddFile(w, c.streams));
    EXPECT_EQ(r.output, text);
    EXPECT_EQ(r.stats.checksum, c.expected);
  }
}

TEST(StreamXorTest, PiecesOfAnySizeSumAsTheWhole) {
  const Bytes data = fixtures::Noise(1000, 3);
  for (std::size_t piece : {1u, 3u, 7u, 8u, 13u, 1000u}) {
    StreamXor sum;
    for (std::size_t at = 0; at < data.size(); at += piece) {
      sum.Add(data.data() + at, std::min(piece, data.size() - at));
    }
    EXPECT_EQ(sum.Value(), NaiveXor(data)) << piece;
  }
  EXPECT_EQ(NaiveXor(Text("abcde")), 0x64636261u ^ 0x65u);
}

// A file whose data is followed by a CSUM stream: verified when the XOR of
// the stored bytes (or, for compressed data, of the restored ones) is the
// one written; a mismatch when it is not; none when there is no checksum or
// the copy did not take in the whole stream.
TEST_F(ExtractTest, ChecksumsAfterTheData) {
  const Bytes text = SomeText(5001);  // not a multiple of 4
  const Bytes packed = fixtures::CompressFrames(text);
  Bytes changed = text;
  changed[4000] ^= 0x40;
  const struct {
    const char* name;
    Bytes stored;
    std::optional<std::uint32_t> csum;
    std::optional<std::uint64_t> limit;
    std::uint64_t cutAt;  // bytes of the data left before the backup ends; 0 for all
    ChecksumStatus expected;
    bool ofRestored;
  } cases[] = {
      {"plain, its checksum", text, NaiveXor(text), {}, 0, ChecksumStatus::Verified, false},
      {"plain, a byte changed since", changed, NaiveXor(text), {}, 0, ChecksumStatus::Mismatch, false},
      {"plain, no checksum", text, std::nullopt, {}, 0, ChecksumStatus::None, false},
      {"one byte", Text("x"), NaiveXor(Text("x")), {}, 0, ChecksumStatus::Verified, false},
      {"compressed, the stored bytes summed", packed, NaiveXor(packed), {}, 0, ChecksumStatus::Verified, false},
      {"compressed, the restored bytes summed", packed, NaiveXor(text), {}, 0, ChecksumStatus::Verified, true},
      {"compressed, neither", packed, NaiveXor(text) ^ 1, {}, 0, ChecksumStatus::Mismatch, false},
      {"a preview's limit takes only a part", text, NaiveXor(text), 1000, 0, ChecksumStatus::None, false},
      {"the backup ends inside the data", text, NaiveXor(text), {}, 3000, ChecksumStatus::None, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MtfWriter w;
    std::vector<Stream> streams = {Stan(c.stored)};
    if (c.csum) streams.push_back(CsumOf(*c.csum));
    const FileNode node = AddFile(w, streams);
    if (c.cutAt != 0) w.Bytes().resize(node.dataPosition + c.cutAt);
    const Result r = Extract(w, node, c.limit);
    EXPECT_EQ(r.outcome, ExtractOutcome::Extracted);
    EXPECT_EQ(r.stats.checksum, c.expected);
    EXPECT_EQ(r.stats.checksumOfRestored, c.ofRestored);
    EXPECT_EQ(r.stats.cutShort, c.cutAt != 0);
  }
}

TEST_F(ExtractTest, CompressedFrames) {
  // 'a' then a match of 20: 21 bytes from 35 bits (5 bytes).
  const Bytes aaa = fixtures::LzsBits().Literal('a').Match(1, 20).End().Bytes();
  const Bytes a21(21, 'a');
  const auto frame = [](std::uint32_t uncompressed, const Bytes& data,
                        std::optional<std::uint32_t> compressed = {}) {
    return Concat(fixtures::FrameHeader(
                      uncompressed, compressed.value_or(static_cast<std::uint32_t>(data.size()))),
                  data);
  };
  const Bytes text = SomeText(100000);
  const Bytes packed = fixtures::CompressFrames(text);
  // Split 10 bytes into the second frame's header.
  const std::size_t cut = 24 + ByteView(packed.data(), packed.size()).U32(16).value_or(0) + 10;
  struct Case {
    const char* name;
    std::vector<Bytes> streams;  // the data of consecutive STAN streams
    Bytes expected;
  };
  const Case cases[] = {
      {"a frame header straddling two streams is read whole",
       {Bytes(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(cut)),
        Bytes(packed.begin() + static_cast<std::ptrdiff_t>(cut), packed.end())},
       text},
      {"a frame whose compressed size equals its uncompressed size is stored",
       {Concat(frame(21, aaa), frame(5, Text("plain")))},
       Concat(a21, Text("plain"))},
      {"a frame whose compressed size is larger is stored as well",
       {Concat(frame(21, aaa), frame(2, Text("xyz")))},
       Concat(a21, Text("xyz"))},
      {"decoding stops at the room of the uncompressed size", {frame(10, aaa)}, Bytes(10, 'a')},
      {"a frame that restores to fewer bytes contributes only those", {frame(50, aaa)}, a21},
      {"a frame larger than the buffers ends the copy",
       {Concat(frame(21, aaa), Concat(fixtures::FrameHeader(70000, 10), Bytes(60, 'x')))},
       a21},
      {"data without an FH signature ends the frames",
       {Concat(frame(21, aaa), Text("trailing bytes"))},
       a21},
      {"a frame whose data runs out is decoded with zeros after what is there",
       // Three literals (27 bits in 4 bytes), then 9 claimed bytes that are not
       // there: their zero bits read as eight literal zero bytes.
       {Concat(
           frame(21, aaa),
           frame(100, fixtures::LzsBits().Literal('x').Literal('y').Literal('z').Bytes(), 4 + 9))},
       Concat(a21, Concat(Text("xyz"), Bytes(8, 0)))},
      {"FH followed by an implausible header is plain data",
       {Text("FH: a plain text file that begins with the letters F and H.")},
       Text("FH: a plain text file that begins with the letters F and H.")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MtfWriter w;
    std::vector<Stream> streams;
    for (const Bytes& s : c.streams) streams.push_back(Stan(s));
    const FileNode node = AddFile(w, streams);
    const Result r = Extract(w, node);
    EXPECT_EQ(r.outcome, ExtractOutcome::Extracted);
    EXPECT_EQ(r.output, c.expected);
  }
}

TEST(LooksCompressedTest, PlausibleFrameHeaders) {
  const struct {
    const char* name;
    Bytes header;
    std::uint64_t total;
    bool compressed;
  } cases[] = {
      {"a frame that fits", fixtures::FrameHeader(100, 20), 64, true},
      {"compressed size exactly the rest of the data", fixtures::FrameHeader(100, 40), 64, true},
      {"compressed size past the data", fixtures::FrameHeader(100, 41), 64, false},
      {"uncompressed size 0", fixtures::FrameHeader(0, 10), 64, false},
      {"uncompressed size 63,520", fixtures::FrameHeader(63520, 10), 64, true},
      {"uncompressed size 63,521", fixtures::FrameHeader(63521, 10), 64, false},
      {"compressed size 63,488", fixtures::FrameHeader(100, 63488), 63512, true},
      {"compressed size 63,489", fixtures::FrameHeader(100, 63489), 100000, false},
      {"less data than a header", fixtures::FrameHeader(100, 0), 23, false},
      {"no signature", Concat(Text("HF"), Bytes(22, 0)), 64, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(LooksCompressed(ByteView(c.header.data(), c.header.size()), c.total), c.compressed);
  }
}

TEST(ReadChunkedDataTest, ReadsAcrossRangesAndStopsAtTheEnd) {
  TempDir dir;
  MtfWriter w;
  w.AppendText("0123456789abcdefghij");
  const std::string path = dir.Write(w);
  BkfFile file;
  ASSERT_TRUE(file.Open(path));
  const BkfFile* files[] = {&file};
  ChunkList chunks;
  chunks.Append({2, 3, 0});   // "234"
  chunks.Append({10, 0, 0});  // empty
  chunks.Append({10, 4, 0});  // "abcd"
  chunks.Append({18, 5, 0});  // "ij" then three bytes past the end of the file

  std::uint64_t cursor = 1;
  std::string got(20, '#');
  EXPECT_EQ(ReadChunkedData(chunks, files, cursor, reinterpret_cast<std::uint8_t*>(got.data()), 20),
            11u);
  EXPECT_EQ(cursor, 12u);
  EXPECT_EQ(got, std::string("34abcdij\0\0\0#########", 20));
  EXPECT_EQ(ReadChunkedData(chunks, files, cursor, reinterpret_cast<std::uint8_t*>(got.data()), 5),
            0u);
  EXPECT_EQ(cursor, 12u);
}

// ------------------------------------------------------------ conformance files

TEST(ExtractConformanceTest, ExamplesGiveTheirBytes) {
  using nlohmann::json;
  const fs::path dir = fs::path(OSTREL_TEST_DATA_DIR) / "conformance";
  TempDir out;
  std::size_t checked = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (!entry.path().string().ends_with(".expected.json")) continue;
    SCOPED_TRACE(entry.path().filename().string());
    std::ifstream in(entry.path());
    const json example = json::parse(in);
    BkfFile file;
    ASSERT_TRUE(file.Open((dir / example["bkf"].get<std::string>()).string()));
    StopToken stop;
    for (const json& e : example["extract"]) {
      const json& f = example["files"][e["index"].get<std::size_t>()];
      SCOPED_TRACE(f["name"].get<std::string>());
      FileNode node;
      node.dataPosition = f["dataPosition"];
      node.dataLength = f["dataLength"];
      const std::string path = out.File("x");
      fs::remove(path);
      const ExtractOutcome outcome = ExtractFileData(node, file, path, std::nullopt, stop);
      EXPECT_EQ(OutcomeName(outcome), e["outcome"].get<std::string>());
      const auto bytes = ReadAll(path);
      ASSERT_TRUE(bytes);
      EXPECT_EQ(bytes->size(), e["size"].get<std::size_t>());
      EXPECT_EQ(fixtures::Sha256Hex(*bytes), e["sha256"].get<std::string>());
      ++checked;
    }
  }
  EXPECT_GT(checked, 0u);
}

}  // namespace
}  // namespace ostrel
