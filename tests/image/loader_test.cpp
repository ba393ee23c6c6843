// Tests of the image phase and the executable's headers: the reference images load with
// their log lines, every video mode gets its regions, and malformed files end cleanly.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "image/coff_builder.h"
#include "support/snippet.h"

namespace korvane::test {
namespace {

using ::testing::HasSubstr;

std::vector<std::string> Line(const ProjectDir& dir, const std::string& options = "") {
  std::vector<std::string> words{"korvane"};
  if (!options.empty()) words.push_back(options);
  words.push_back(dir.Path("x"));
  return words;
}

// Copies a reference image into a project folder as x.out with empty .xcl and .mem.
bool CopyFixture(const ProjectDir& dir, const std::string& relative) {
  std::string fixtures = FixturesDir();
  if (fixtures.empty()) return false;
  std::filesystem::copy_file(fixtures + "/" + relative, dir.Path("x.out"),
                             std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(dir.Path("x.out"), std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  dir.Write("x.xcl", std::string());
  dir.Write("x.mem", std::string());
  return true;
}

// Values checked by hand against sample.objdump.txt: startup.s's .text is 0x10000 with
// scnlen 0x4c, keyboard_library.s's .text 0x1004c with scnlen 8 and its .data scnlen 9;
// x$readkeys 0x1004c and x$init_rtc 0x10050 are the only routines of the table; N_ENTER
// 0x10069, N_EXIT 0x1006a and N_0 0x1006b are the bss keys (N_NOKEY is left out, N_UP lies in
// .data); korvane_version holds 7.
TEST(LoaderFixtures, SampleLoadsWithModulesInterceptsAndKeyRange) {
  ProjectDir dir;
  ASSERT_TRUE(CopyFixture(dir, "sample/sample.out")) << "tests/data/fixtures is missing from this clone";
  Emulator emu;
  ASSERT_TRUE(LoadProject(emu, Line(dir))) << emu.exit.message;
  const std::string& log = emu.log.captured();
  EXPECT_THAT(log, HasSubstr("\nMODULE         startup.: TEXT=00010000..0001004B  "
                             "DATA=00010058..00010057  BSS=00010068  "));
  EXPECT_THAT(log, HasSubstr("\nMODULE keyboard_library: TEXT=0001004C..00010053  "
                             "DATA=00010058..00010060  BSS=00010068  "));
  EXPECT_THAT(log, HasSubstr("\nIntercept entries = 152\n  0 00000000 00000000 <------>\n"));
  EXPECT_THAT(log, HasSubstr("\n  4 0001004C 0001004C x$readkeys\n"));
  EXPECT_THAT(log, HasSubstr("\n 14 00010050 00010050 x$init_rtc\n"));
  EXPECT_THAT(log, HasSubstr("\n111 00010060 00010060 N_UP\n"));  // resolved though outside bss
  EXPECT_THAT(log, HasSubstr("\n151 00000000 00000000 N_REMAP_C2\n"
                             "  0 0001004C 0001004C x$readkeys\n"
                             "  1 00010050 00010050 x$init_rtc\n"
                             "\nN_min=00010069, N_max=0001006B\n"
                             "s_min=N_ENTER, s_max=N_0\n"));
  EXPECT_THAT(log, HasSubstr("Project Version= 7\n"));

  // The processor starts at the entry, not the text start, on the first frame.
  EXPECT_EQ(emu.cpu.ip, 0x10018u);
  EXPECT_EQ(emu.cpu.g[15], 0xF000u);
  EXPECT_EQ(ReadReg(emu.cpu, 0), 0xF000u - 64);
  EXPECT_EQ(ReadReg(emu.cpu, 1), 0xF000u + 64);
  // The text is the file's bytes at offset 0x110; ABSD is the section + 16; the heap header.
  EXPECT_EQ(GuestRead32(emu.mem, 0x10018), 0x8C086040u);
  EXPECT_EQ(emu.mem.regions[kRegionAbsd].size, 0x50u);
  EXPECT_EQ(emu.mem.regions[kRegionHeap].base, 0x210040u);
  EXPECT_EQ(GuestRead32(emu.mem, 0x210040), 0x7FFF8u);
  EXPECT_EQ(GuestRead32(emu.mem, 0x210044), 0x19u);

  // Fault reports name module and offset, the last module included.
  emu.log.ClearCaptured();
  DescribeAddress(emu, 0x10010);
  DescribeAddress(emu, 0x10052);
  DescribeAddress(emu, 0x20000);  // in no module: nothing
  EXPECT_EQ(emu.log.captured(), "IP=00010010=startup.+0x10IP=00010052=keyboard_library.s+0x6");
}

TEST(LoaderFixtures, EncodingsImageLoads) {
  ProjectDir dir;
  ASSERT_TRUE(CopyFixture(dir, "encodings/encodings.out")) << "tests/data/fixtures is missing from this clone";
  Emulator emu;
  ASSERT_TRUE(LoadProject(emu, Line(dir))) << emu.exit.message;
  EXPECT_THAT(emu.log.captured(), HasSubstr("Project Version= 0\n"));
  EXPECT_EQ(emu.mem.regions[kRegionText].base, 0x10000u);
}

TEST(Loader, RegionsOfEveryVideoMode) {
  struct Row {
    const char* option;
    bool onch_syst, display;
    uint32_t vmem;
  };
  const Row rows[] = {
      {"-v0", false, false, 0},          // no display: none of the four
      {"-v1", true, true, 0x900A0000},   // the default colour mode: all ten regions
      {"-v2", false, true, 0x030A0000},  // mono: display high in the map, no ONCH/SYST
      {"-v3", true, true, 0x900A0000},  {"-v4", false, true, 0x030A0000},
      {"-v5", false, false, 0},  // LCD: served by the window, no regions
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.option);
    ProjectDir dir;
    dir.WriteProject(CoffImage{});
    Emulator emu;
    ASSERT_TRUE(LoadProject(emu, Line(dir, row.option))) << emu.exit.message;
    EXPECT_EQ(emu.mem.regions[kRegionOnch].defined, row.onch_syst);
    EXPECT_EQ(emu.mem.regions[kRegionSyst].defined, row.onch_syst);
    EXPECT_EQ(emu.mem.regions[kRegionVmem].defined, row.display);
    EXPECT_EQ(emu.mem.regions[kRegionVreg].defined, row.display);
    if (row.display) {
      EXPECT_EQ(emu.mem.regions[kRegionVmem].base, row.vmem);
      EXPECT_EQ(emu.mem.regions[kRegionVmem].host, nullptr);
      EXPECT_EQ(emu.mem.regions[kRegionVmem].routine, 1);
    }
    // SYST word k holds 4k so callx through it reaches service k; address 0-3 is no region.
    EXPECT_EQ(GuestRead32(emu.mem, 0x1C7C), row.onch_syst ? 12u : 0u);
    EXPECT_EQ(GuestRead32(emu.mem, 0x1C70 + 4 * 254), row.onch_syst ? 1016u : 0u);
    EXPECT_EQ(FindRegion(emu.mem, 0), 0);
  }
}

TEST(Loader, OptionalHeaderLongerThan32IsSkipped) {
  ProjectDir dir;
  CoffImage image;
  image.optional_size = 40;  // section headers then start at offset 60
  image.text = {1, 2, 3, 4, 5, 6, 7, 8};
  dir.WriteProject(image);
  Emulator emu;
  ASSERT_TRUE(LoadProject(emu, Line(dir))) << emu.exit.message;
  EXPECT_EQ(GuestRead32(emu.mem, 0x10004), 0x08070605u);
}

// Malformed executables: each ends the run with a clear message, never a crash or a read
// outside a buffer.
TEST(Loader, MalformedExecutablesEndTheRunCleanly) {
  struct Row {
    const char* why;
    std::function<std::vector<uint8_t>()> file;
    const char* message;
  };
  auto built = [](auto change) {
    return [change] {
      CoffImage image;
      change(image);
      return image.Build();
    };
  };
  const Row rows[] = {
      {"flag 0x0002 clear: an object file, not an executable",
       built([](CoffImage& i) { i.flags = 0; }), "EMUIDE: Non EXEC .out file"},
      {"optional header shorter than the 32 bytes read",
       built([](CoffImage& i) { i.optional_size = 28; }),
       "EMUIDE: optional header shorter than 32 bytes - "},
      {"file ends inside the section headers",
       [] {
         auto b = CoffImage{}.Build();
         b.resize(100);
         return b;
       },
       "EMUIDE: .out file ends inside its headers - "},
      {"empty file", [] { return std::vector<uint8_t>{}; },
       "EMUIDE: .out file ends inside its headers - "},
      {"text raw data beyond the end of the file",
       [] {
         auto b = CoffImage{}.Build();
         b.resize(20 + 32 + 5 * 44 + 4);  // headers and 4 of the 16 text bytes
         return b;
       },
       "ReadFile"},
      {"a data size of 0 is read as a record of 0 bytes, a short read",
       built([](CoffImage& i) { i.data.clear(); }), "ReadFile"},
      {"a bss of 4 GB is refused like storage that cannot be obtained",
       built([](CoffImage& i) { i.bss_size = 0xFFFFFFF0; }), " DefineRegion PCHeapAlloc() "},
      {"an absolute-data size that wraps when 16 is added",
       built([](CoffImage& i) { i.absd_size = 0xFFFFFFF8; }), " DefineRegion PCHeapAlloc() "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    ProjectDir dir;
    dir.Write("x.out", row.file());
    dir.Write("x.xcl", std::string());
    dir.Write("x.mem", std::string());
    Emulator emu;
    EXPECT_FALSE(LoadProject(emu, Line(dir)));
    EXPECT_THAT(std::string(emu.exit.message), ::testing::StartsWith(row.message));
    EXPECT_THAT(emu.log.captured(), HasSubstr(std::string("MsgExit: ") + row.message));
  }
}

TEST(Loader, MissingProjectFilesNameTheFile) {
  struct Row {
    const char* missing;
    const char* message;
  };
  const Row rows[] = {
      {"x.xcl", "EMUIDE: exclude file not found - "},
      {"x.out", "EMUIDE: emulate file not found - "},
      {"x.mem", "EMUEXEC: read file not found - "},  // a first run needs an (empty) memory file
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.missing);
    ProjectDir dir;
    dir.WriteProject(CoffImage{});
    std::filesystem::remove(dir.Path(row.missing));
    Emulator emu;
    EXPECT_FALSE(LoadProject(emu, Line(dir)));
    EXPECT_EQ(std::string(emu.exit.message), row.message + dir.Path(row.missing));
  }
  // A folder in place of the exclude list or the memory file opens on this host but is no
  // such file: the run ends as if it were missing, instead of running with an empty one.
  for (const Row& row : {rows[0], rows[2]}) {
    SCOPED_TRACE(std::string("folder ") + row.missing);
    ProjectDir dir;
    dir.WriteProject(CoffImage{});
    std::filesystem::remove(dir.Path(row.missing));
    std::filesystem::create_directory(dir.Path(row.missing));
    Emulator emu;
    EXPECT_FALSE(LoadProject(emu, Line(dir)));
    EXPECT_EQ(std::string(emu.exit.message), row.message + dir.Path(row.missing));
  }
}

}  // namespace
}  // namespace korvane::test
