// ostrel-bkf extract onto real drives formatted for Windows and mounted
// through FUSE, as a user saves to an external drive: NTFS with ntfs-3g's
// windows_names, exFAT with exfat-fuse, FAT with fusefat. Each refuses the
// names Windows refuses in its own way (EINVAL, ENOENT, EPERM); on each the
// real backup and a generated one extract completely, hierarchy and all,
// under their portable names.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "tests/fixtures/mtf_writer.h"
#include "tests/fixtures/drive_image.h"
#include "tests/fixtures/run_process.h"
#include "tests/fixtures/streams.h"
#include "tests/fixtures/temp_dir.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using fixtures::MtfWriter;
using fixtures::RunCli;
using fixtures::Stan;
using fixtures::Stream;
using fixtures::TempDir;
using Format = fixtures::DriveImage::Format;

class WindowsDrive : public ::testing::TestWithParam<Format> {};

TEST_P(WindowsDrive, BackupsExtractWholeUnderPortableNames) {
  TempDir dir;
  fixtures::DriveImage image(dir.Path(), GetParam());
  if (!image.Unavailable().empty()) GTEST_SKIP() << "no such image can be mounted here: " << image.Unavailable();
  const std::string drive = image.MountPoint();

  // The real backup: its tape and set names hold the time ("at 1:05 PM"),
  // the set's begins "SET 1 :", and the volume is "C:".
  const std::string sample =
      (fs::path(OSTREL_TEST_DATA_DIR) / "samples/ntbackup51_MailG-block-walker_Backup.bkf").string();
  const std::string reference = dir.File("reference");
  ASSERT_EQ(RunCli({"extract", sample, "--to", reference}).exitCode, 0);
  const auto real = RunCli({"extract", sample, "--to", drive + "/sample"});
  ASSERT_EQ(real.exitCode, 0) << real.out << real.err;
  EXPECT_NE(real.out.find("refuses the names Windows refuses: names are saved in their portable form.\n"),
            std::string::npos)
      << real.out;
  const std::string tape = "Backup.bkf created 11_19_2012 at 1_05 PM";
  const std::string set = "SET 1 _Set created 11_19_2012 at 1_05 PM";
  EXPECT_NE(real.out.find("saved 'Backup.bkf created 11_19_2012 at 1:05 PM' as '" + tape +
                          "' (the destination refuses ':')\n"),
            std::string::npos)
      << real.out;
  EXPECT_NE(real.out.find("Names changed for the destination: 3\n"), std::string::npos) << real.out;
  const auto saved = fixtures::FilesBelow(drive + "/sample");
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved.begin()->first, tape + "/" + set + "/C_/boot.ini");
  EXPECT_EQ(saved.begin()->second, fixtures::FilesBelow(reference).begin()->second);

  // A generated backup with every kind of name Windows refuses, and three
  // names that differ only in case.
  MtfWriter w;
  w.Tape(u"Tape 1:2");
  w.Sset(1, u"Daily");
  w.Volb(u"C:");
  w.File(u"boot.ini", {Stan("boot")});
  w.File(u"a<b>c:d\"e|f?g*h.txt", {Stan("all")});
  w.File(u"back\\slash.txt", {Stan("backslash")});
  w.File(u"CON.txt", {Stan("con")});
  w.File(u"trailing. ", {Stan("dots")});
  w.File(u"Report.txt", {Stan("one")});
  w.File(u"REPORT.TXT", {Stan("two")});
  w.File(u"report.txt", {Stan("three")});
  w.Dirb(u"Docs.");
  w.File(u"x.txt", {Stan("x")});
  w.Dirb(u"aux");
  w.File(u"y.txt", {Stan("y")});
  w.Bare("ESET");
  const std::string bkf = dir.Write(w);
  const auto made = RunCli({"extract", bkf, "--to", drive + "/generated"});
  ASSERT_EQ(made.exitCode, 0) << made.out << made.err;
  EXPECT_NE(made.out.find("Files with problems: 0\n"), std::string::npos) << made.out;
  const std::string volume = "Tape 1_2/SET 1 _Daily/C_/";
  EXPECT_EQ(fixtures::FilesBelow(drive + "/generated"), (std::map<std::string, std::string>{
                                             {volume + "boot.ini", "boot"},
                                             {volume + "a_b_c_d_e_f_g_h.txt", "all"},
                                             {volume + "back_slash.txt", "backslash"},
                                             {volume + "_CON.txt", "con"},
                                             {volume + "trailing", "dots"},
                                             {volume + "Report.txt", "one"},
                                             {volume + "REPORT (2).TXT", "two"},
                                             {volume + "report (3).txt", "three"},
                                             {volume + "Docs/x.txt", "x"},
                                             {volume + "_aux/y.txt", "y"},
                                         }));
  EXPECT_NE(made.out.find("saved '" + volume + "Docs.' as '" + volume +
                          "Docs' (the destination refuses a trailing '.')\n"),
            std::string::npos)
      << made.out;

  // Again into the same folders: they are merged into, and every file takes
  // the next number (REPORT.TXT and report.txt silently, as this run's own
  // second and third "report.txt").
  const auto again = RunCli({"extract", bkf, "--to", drive + "/generated"});
  ASSERT_EQ(again.exitCode, 0) << again.out << again.err;
  EXPECT_NE(again.out.find(volume + "boot.ini exists; saved as " + volume + "boot (2).ini\n"), std::string::npos)
      << again.out;
  EXPECT_NE(again.out.find("Existing files kept (saved under a new name): 8\n"), std::string::npos) << again.out;
  EXPECT_EQ(fixtures::FilesBelow(drive + "/generated").size(), 20u);
}

INSTANTIATE_TEST_SUITE_P(Formats, WindowsDrive, ::testing::Values(Format::Ntfs, Format::Exfat, Format::Fat),
                         [](const auto& info) {
                           return info.param == Format::Ntfs ? "Ntfs" : info.param == Format::Exfat ? "Exfat" : "Fat";
                         });

}  // namespace
}  // namespace ostrel
