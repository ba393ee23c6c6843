// Tests of the display emulation: planar and packed routines, ports, DAC, pages, LCD, read-back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "driver/emulator.h"
#include "services/display.h"
#include "services/native_handlers.h"

namespace korvane {
namespace {

constexpr uint32_t kPlanarRow = 80, kPackedRow = 160;

struct DisplayRig {
  Emulator emu;
  explicit DisplayRig(int mode) {
    emu.opt.video = mode;
    DisplayInstall(emu);
  }
  DisplayRoutines& r() { return emu.display.routines; }
  void Port(uint32_t port, uint32_t v) { r().port_write_byte(emu, port, v); }
  uint8_t PortIn(uint32_t port) { return r().port_read_byte(emu, port); }
  void Gfx(int index, uint32_t v) { Port(0x3CE, index); Port(0x3CF, v); }
  void MapMask(int mask) { Port(0x3C4, 2); Port(0x3C5, mask); }
  void Write(uint32_t o, uint32_t v) { r().vmem_write_byte(emu, o, v); }
  uint8_t Read(uint32_t o) { return r().vmem_read_byte(emu, o); }
  // Pixel (x, y) of page A or B; rows are stored bottom-up.
  uint8_t Pixel(int x, int y, bool page_b = false) {
    const uint8_t* p = page_b ? emu.display.page_b : emu.display.page_a;
    return p[kPageWidth * (kPageHeight - 1 - y) + x];
  }
  void SetPixel(int x, int y, uint8_t v, bool page_b = false) {
    uint8_t* p = page_b ? emu.display.page_b : emu.display.page_a;
    p[kPageWidth * (kPageHeight - 1 - y) + x] = v;
  }
  std::vector<uint8_t> Row8(int x, int y) {
    std::vector<uint8_t> v;
    for (int i = 0; i < 8; ++i) v.push_back(Pixel(x + i, y));
    return v;
  }
};

using Bytes = std::vector<uint8_t>;

TEST(PlanarWrite, PlanesComposeAColourThroughTheMap) {
  DisplayRig d(1);
  d.MapMask(1); d.Write(0, 0xF0);
  d.MapMask(2); d.Write(0, 0x0F);
  d.MapMask(4); d.Write(0, 0x00);
  EXPECT_EQ(d.Row8(0, 0), (Bytes{1, 1, 1, 1, 2, 2, 2, 2})) << "raw planes before plane 3";
  d.MapMask(8); d.Write(0, 0xFF);
  EXPECT_EQ(d.Row8(0, 0), (Bytes{3, 3, 3, 3, 28, 28, 28, 28})) << "colour map[9] and [10]";

  // A short store to the sequencer index port writes index and data in one go.
  d.r().port_write_short(d.emu, 0x3C4, 0x0F02);
  d.Write(0, 0x00);
  EXPECT_EQ(d.Row8(0, 0), Bytes(8, 0)) << "mask 15 writes the byte itself, unmapped";

  d.MapMask(3);  // no single plane and not all: nothing
  d.Write(0, 0xFF);
  EXPECT_EQ(d.Row8(0, 0), Bytes(8, 0));

  // Plane 3 over a pixel that already holds a palette index maps its low four bits.
  d.MapMask(15); d.Write(1, 224);
  d.MapMask(8); d.Write(1, 0x80);
  EXPECT_EQ(d.Pixel(8, 0), d.emu.display.colour_map[(224 | 8) & 15]);
  EXPECT_EQ(d.Pixel(9, 0), d.emu.display.colour_map[224 & 15]);
}

TEST(PlanarDac, WriteAndReadSequences) {
  DisplayRig d(1);
  d.Port(0x3C8, 4);
  d.Port(0x3C9, 63); d.Port(0x3C9, 0); d.Port(0x3C9, 0);
  EXPECT_EQ(d.emu.display.colour_map[4], 224) << "pure red";
  EXPECT_EQ(d.PortIn(0x3C8), 5) << "write index advanced";
  d.Port(0x3C9, 30); d.Port(0x3C9, 40); d.Port(0x3C9, 10);
  EXPECT_EQ(d.emu.display.colour_map[5], (3 << 5) | (4 << 2) | 0) << "nearest cube colour";

  const Bytes before(d.emu.display.colour_map, d.emu.display.colour_map + 16);
  d.Port(0x3C8, 20);
  d.Port(0x3C9, 63); d.Port(0x3C9, 63); d.Port(0x3C9, 63);
  EXPECT_EQ(Bytes(d.emu.display.colour_map, d.emu.display.colour_map + 16), before)
      << "entries above 15 change no colour";

  d.Port(0x3C8, 255);  // the write index wraps
  d.Port(0x3C9, 1); d.Port(0x3C9, 2); d.Port(0x3C9, 3);
  EXPECT_EQ(d.PortIn(0x3C8), 0);

  d.Port(0x3C7, 4);
  EXPECT_EQ(d.PortIn(0x3C7), 4);
  EXPECT_EQ(d.PortIn(0x3C9), 63);
  EXPECT_EQ(d.PortIn(0x3C9), 0);
  EXPECT_EQ(d.PortIn(0x3C9), 0);
  EXPECT_EQ(d.PortIn(0x3C9), 30) << "the fourth read is entry 5's red";
  EXPECT_EQ(d.PortIn(0x3C7), 5);

  // The set/reset colour is mapped when register 0 is written, not when the map changes.
  d.Gfx(0, 4);
  EXPECT_EQ(d.emu.display.mapped_set_reset, 224);
  d.Port(0x3C8, 4);
  d.Port(0x3C9, 0); d.Port(0x3C9, 0); d.Port(0x3C9, 63);
  EXPECT_EQ(d.emu.display.mapped_set_reset, 224);
}

TEST(PlanarLatches, ReadLoadsWriteModeOneCopies) {
  DisplayRig d(1);
  d.MapMask(1); d.Write(3, 0xA5);
  d.MapMask(8); d.Write(3, 0xFF);  // pixels 24..31: map[9] where set, map[8] elsewhere
  const Bytes group = d.Row8(24, 0);
  EXPECT_EQ(d.Read(3), group[0]) << "a read returns the leftmost pixel";
  d.Gfx(5, 1);
  d.Write(kPlanarRow * 5 + 7, 0x00);  // another row and column: value ignored
  EXPECT_EQ(d.Row8(56, 5), group);

  // A short read reads o + 1 first, so the latches end holding the group at o.
  d.Gfx(5, 0);
  d.MapMask(15); d.Write(10, 0x44); d.Write(11, 0x55);
  EXPECT_EQ(d.r().vmem_read_short(d.emu, 10), 0x5544);
  EXPECT_EQ(d.emu.display.latch[0], 0x44);

  d.Gfx(5, 2);  // write mode 2 does nothing
  d.Write(10, 0xFF);
  EXPECT_EQ(d.Pixel(80, 0), 0x44);
}

TEST(PlanarWrite, ModeThreeRotatesMasksAndUsesSetReset) {
  DisplayRig d(1);
  d.MapMask(15); d.Write(0, 0x11);
  d.Read(0);  // latches all 0x11
  d.Gfx(0, 12);  // set/reset colour 12: map[12] = 224
  d.Gfx(3, 1);
  d.Gfx(8, 0xF0);
  d.Gfx(5, 3);
  d.Write(1, 0x03);  // rotated right once: 0x81, masked: 0x80
  EXPECT_EQ(d.Row8(8, 0), (Bytes{224, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11}));
  d.Gfx(3, 8);  // eight rotations restore the byte
  d.Gfx(8, 0xFF);
  d.Write(2, 0x81);
  EXPECT_EQ(d.Row8(16, 0), (Bytes{224, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 224}));
}

TEST(DisplayRange, OffsetsOnRow820AreOutOfRange) {
  struct Row { int mode; uint32_t o; bool in_range; const char* why; };
  const Row rows[] = {
      {1, kPlanarRow * 820, false, "planar row 820"},
      {1, kPlanarRow * 820 - 1, true, "last group of planar row 819"},
      {1, 307199, false, "last byte of display memory"},
      {3, kPackedRow * 820, false, "packed row 820"},
      {3, kPackedRow * 820 - 1, true, "last group of packed row 819"},
  };
  for (const Row& r : rows) {
    DisplayRig d(r.mode);
    d.MapMask(15);
    d.Write(r.o, 0x7E);
    d.emu.display.latch[0] = 0x33;
    if (r.in_range) {
      EXPECT_EQ(d.Pixel(kPageWidth - 1, kPageHeight - 1), 0x7E) << r.why;
      if (r.mode == 1) {
        EXPECT_EQ(d.Read(r.o), 0x7E) << r.why;
      }
    } else {
      const uint8_t* a = d.emu.display.page_a;
      EXPECT_TRUE(std::all_of(a, a + kPageBytes, [](uint8_t v) { return v == 0; })) << r.why;
      d.SetPixel(kPageWidth - 1, kPageHeight - 1, 9);
      EXPECT_EQ(d.Read(r.o), 0) << r.why;
      EXPECT_EQ(d.emu.display.latch[0], 0x33) << "no latch is loaded: " << r.why;
    }
  }
  DisplayRig d(1);  // row 0 is reachable and sits at the end of the bottom-up page
  d.MapMask(15);
  d.Write(0, 0x42);
  EXPECT_EQ(d.emu.display.page_a[kPageWidth * (kPageHeight - 1)], 0x42);
}

TEST(PackedWrite, MapMaskSelectsPlanes) {
  DisplayRig d(3);
  d.MapMask(5);
  d.Write(1, 0x9C);
  EXPECT_EQ(d.Row8(4, 0), (Bytes{0x9C, 0, 0x9C, 0, 0, 0, 0, 0})) << "pixels x and x + 2";

  d.Gfx(4, 2);
  EXPECT_EQ(d.Read(1), 0x9C);
  d.Gfx(4, 6);  // limited to the group: plane 2 again
  EXPECT_EQ(d.Read(1), 0x9C);
  d.Gfx(4, 1);
  EXPECT_EQ(d.Read(1), 0);

  d.emu.display.latch[0] = 0x55;
  d.Gfx(5, 0);
  d.Read(1);
  EXPECT_EQ(d.emu.display.latch[0], 0x55) << "latches load only with register 5 exactly 1";
  d.Gfx(5, 1);
  d.Read(1);
  EXPECT_EQ(d.emu.display.latch[0], 0x9C);
  d.Write(2, 0);  // write variant 1: packed latch copy
  EXPECT_EQ(d.Row8(8, 0), (Bytes{0x9C, 0, 0x9C, 0, 0, 0, 0, 0}));
}

TEST(PackedWrite, ExpandVariants) {
  DisplayRig d(3);
  d.Gfx(0, 0x11);
  d.Gfx(1, 0xE0);
  d.Gfx(5, 4);  // colour expand: set bits take register 1, others unchanged
  d.MapMask(15);
  d.Write(0, 0xA0);  // planar layout: pixels 0..7
  EXPECT_EQ(d.Row8(0, 0), (Bytes{0xE0, 0, 0xE0, 0, 0, 0, 0, 0}));
  d.Gfx(5, 5);  // two-colour expand: register 1 or register 0
  d.Write(0, 0x0F);
  EXPECT_EQ(d.Row8(0, 0), (Bytes{0x11, 0x11, 0x11, 0x11, 0xE0, 0xE0, 0xE0, 0xE0}));
  d.Gfx(5, 0x10);  // any other value: plane write again
  d.Write(0, 0x07);
  EXPECT_EQ(d.Row8(0, 0), (Bytes{7, 7, 7, 7, 0xE0, 0xE0, 0xE0, 0xE0}));
}

TEST(PackedEightPixel, ModeStaysUntilItsRegistersChange) {
  DisplayRig d(3);
  d.MapMask(15);
  d.Write(0, 0x21);  // packed pixels 0..3
  d.r().port_write_short(d.emu, 0x3CE, 0x0E0B);  // register 11 := 14
  EXPECT_TRUE(d.emu.display.eight_pixel);
  EXPECT_EQ(d.Read(0), 0) << "every byte read returns 0";
  d.Gfx(5, 1);
  d.Read(0);  // loads 8 latches from the planar group
  d.Write(1, 0xFF);  // eight-pixel latch copy to pixels 8..15
  EXPECT_EQ(d.Row8(8, 0), (Bytes{0x21, 0x21, 0x21, 0x21, 0, 0, 0, 0}));

  d.Gfx(11, 0);
  EXPECT_FALSE(d.emu.display.eight_pixel);
  EXPECT_EQ(d.Read(0), 0x21) << "reads are packed again";
  d.Read(1);  // packed group 1 is pixels 4..7: latches 0
  d.Write(0, 0xFF);
  EXPECT_EQ(d.Pixel(0, 0), 0) << "writes stay latch copies (packed) until register 5 changes";
  d.Gfx(5, 0);
  d.Write(0, 0x66);
  EXPECT_EQ(d.Pixel(0, 0), 0x66);

  // The flag compares the whole value passed: a short whose high bits are set does not match.
  d.r().port_write_short(d.emu, 0x3CE, 0x10E0B);
  EXPECT_FALSE(d.emu.display.eight_pixel);
}

TEST(Pages, DrawingAndShownPageSelection) {
  struct Row { int mode; uint32_t value; int shown; const char* why; };
  const Row rows[] = {
      {1, 0x01, 1, "planar modes use bit 0"},
      {1, 0x04, 0, "bit 2 means nothing in the planar modes"},
      {3, 0x04, 1, "packed modes use bit 2"},
      {3, 0x01, 0, "bit 0 means nothing in the packed modes"},
      {2, 0x01, 1, "mode 2 is planar"},
      {4, 0x04, 1, "mode 4 is packed"},
  };
  for (const Row& r : rows) {
    DisplayRig d(r.mode);
    d.Port(0x3D4, 0x1B);
    d.Port(0x3D5, r.value);
    EXPECT_EQ(DisplayRefresh(d.emu), r.shown) << r.why;
    d.Port(0x3D4, 0x1A);  // another CRT register: no effect
    d.Port(0x3D5, r.value ^ 0x05);
    EXPECT_EQ(DisplayRefresh(d.emu), r.shown) << r.why;
  }
  DisplayRig d(1);
  d.Gfx(9, 1);  // draw into page B
  d.MapMask(15);
  d.Write(0, 0x77);
  EXPECT_EQ(d.Pixel(0, 0, true), 0x77);
  EXPECT_EQ(d.Pixel(0, 0, false), 0);
  d.Gfx(9, 0x100);  // only the value byte counts: 0 selects page A
  d.Write(0, 0x78);
  EXPECT_EQ(d.Pixel(0, 0, false), 0x78);
}

TEST(Pages, CopyShownPictureIsTopDownOfTheShownPage) {
  DisplayRig d(1);
  d.SetPixel(5, 0, 11);
  d.SetPixel(6, 479, 12);
  d.SetPixel(7, 480, 13, false);  // below the shown part
  d.SetPixel(5, 0, 21, true);
  std::vector<uint8_t> out(kPageWidth * kShownHeight);
  CopyShownPicture(d.emu, out.data());
  EXPECT_EQ(out[5], 11);
  EXPECT_EQ(out[479 * kPageWidth + 6], 12);
  d.Port(0x3D4, 27);
  d.Port(0x3D5, 1);
  CopyShownPicture(d.emu, out.data());
  EXPECT_EQ(out[5], 21);

  // Pages handed over by a window replace the display's own.
  std::vector<uint8_t> a(kPageBytes, 1), b(kPageBytes, 2);
  DisplayInit(d.emu, a.data(), b.data());
  EXPECT_EQ(DisplayRefresh(d.emu), 0);
  d.MapMask(15);
  d.Write(0, 0x99);
  EXPECT_EQ(a[kPageWidth * (kPageHeight - 1)], 0x99);
}

TEST(Palette, CubeColours) {
  struct Row { uint8_t index; Rgb rgb; const char* why; };
  const Row rows[] = {
      {255, {255, 255, 255}, "white"}, {0, {0, 0, 0}, "black"},
      {224, {255, 0, 0}, "pure red"}, {28, {0, 255, 0}, "pure green"},
      {3, {0, 0, 255}, "pure blue"}, {0x49, {73, 73, 85}, "level 2, 2, 1"},
  };
  for (const Row& r : rows) {
    Rgb c = PaletteColour(r.index);
    EXPECT_EQ(c.r, r.rgb.r) << r.why;
    EXPECT_EQ(c.g, r.rgb.g) << r.why;
    EXPECT_EQ(c.b, r.rgb.b) << r.why;
  }
}

TEST(GetPixel2Graph, ReturnsColourNumberOrMinusOne) {
  struct Row { uint32_t o; uint32_t pixel; uint32_t expect; const char* why; };
  const Row rows[] = {
      {0, 0, 9, "palette 3 is colour map entry 9"},
      {0, 1, 0xFFFFFFFF, "0x42 is in no colour map entry"},
      {0, 8, 12, "pixel numbers run on into the next group (224 = entry 12)"},
      {kPlanarRow * 820, 0, 0xFFFFFFFF, "a group beyond the page"},
      {kPlanarRow * 819, 0xFFFFFFFF, 0xFFFFFFFF,
       "pixel -1 before the bottom row's first group lies before the page"},
      {79, 8, 0xFFFFFFFF, "pixel 8 of the top row's last group is past the page's end"},
      {0, 0xFFFFFFFF, 0, "pixel -1 of the top row is row 1's last pixel (value 0)"},
  };
  for (const Row& r : rows) {
    DisplayRig d(1);
    d.emu.mem.display_base = 0x900A0000;
    d.SetPixel(0, 0, 3);
    d.SetPixel(1, 0, 0x42);
    d.SetPixel(8, 0, 224);
    d.emu.cpu.g[6] = 0x900A0000 + r.o;
    d.emu.cpu.g[9] = r.pixel;
    NativeGetPixel2Graph(d.emu);
    EXPECT_EQ(d.emu.cpu.g[9], r.expect) << r.why;
  }
}

// Mode 5: a data region holding the LCD arrays.
struct LcdRig {
  static constexpr uint32_t kData = 0x00200000;
  static constexpr uint32_t kDataSize = 0x3000;
  static constexpr uint32_t kRam0 = kData;
  static constexpr uint32_t kRam1 = kData + 0x1000;
  static constexpr uint32_t kVisual = kData + 0x2000;
  Emulator emu;
  explicit LcdRig(uint32_t ram1 = kRam1, bool install = true) {
    DefineRegion(emu, kRegionData, "DATA", kData, kDataSize, true, 0, 0, 0);
    Add("display_ram0", kRam0);
    Add("display_ram1", ram1);
    Add("v.visual", kVisual);
    emu.opt.video = 5;
    if (install) DisplayInstall(emu);
  }
  void Add(const char* name, uint32_t address) {
    IdentEntry& e = emu.image.idents[emu.image.ident_count++];
    std::strncpy(e.name, name, sizeof(e.name) - 1);
    e.start = e.end = address;
  }
  uint8_t Pixel(int x, int y, bool page_b) {
    const uint8_t* p = page_b ? emu.display.page_b : emu.display.page_a;
    return p[kPageWidth * (kPageHeight - 1 - y) + x];
  }
};

TEST(NimbalLcd, RendersFromTheEleventhRefresh) {
  LcdRig lcd;
  GuestWrite8(lcd.emu.mem, LcdRig::kRam0, 0x80);       // source pixel (0, 0)
  GuestWrite8(lcd.emu.mem, LcdRig::kRam0 + 30 * 127 + 29, 0x01);  // (239, 127)
  DisplaySnapshotLcd(lcd.emu);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(DisplayRefresh(lcd.emu), 0);
  const uint8_t* a = lcd.emu.display.page_a;
  EXPECT_TRUE(std::all_of(a, a + kPageBytes, [](uint8_t v) { return v == 0; }))
      << "page A unchanged before the eleventh refresh";
  EXPECT_EQ(DisplayRefresh(lcd.emu), 0);
  struct Point { int x, y; uint8_t v; const char* why; };
  const Point points[] = {
      {80, 112, 255, "set source pixel (0, 0) is a 2 x 2 block"},
      {81, 113, 255, "its lower right pixel"},
      {82, 112, 0, "source pixel (1, 0) is clear"},
      {558, 366, 255, "source pixel (239, 127)"},
      {559, 367, 255, "its lower right pixel"},
      {78, 110, 255, "frame corner"},
      {79, 110, 0, "the frame is dotted"},
      {560, 368, 255, "opposite frame corner"},
      {78, 111, 0, "odd rows of the side frame are open"},
      {560, 200, 255, "right side of the frame"},
  };
  for (const Point& p : points) EXPECT_EQ(lcd.Pixel(p.x, p.y, false), p.v) << p.why;

  // v.visual selects page B and display_ram1.
  GuestWrite8(lcd.emu.mem, LcdRig::kVisual, 1);
  GuestWrite8(lcd.emu.mem, LcdRig::kRam1 + 1, 0x80);  // source pixel (8, 0)
  DisplaySnapshotLcd(lcd.emu);
  EXPECT_EQ(DisplayRefresh(lcd.emu), 1);
  EXPECT_EQ(lcd.Pixel(96, 112, true), 255);
  EXPECT_EQ(lcd.Pixel(80, 112, true), 0);
}

// The window starts refreshing before the emulation thread has loaded the image; those
// refreshes count towards the ten that render nothing.
TEST(NimbalLcd, RefreshesBeforeImageLoadCount) {
  LcdRig lcd(LcdRig::kRam1, /*install=*/false);
  std::vector<uint8_t> a(kPageBytes, 0), b(kPageBytes, 0);
  DisplayInit(lcd.emu, a.data(), b.data());
  for (int i = 0; i < 10; ++i) EXPECT_EQ(DisplayRefresh(lcd.emu), 0);
  DisplayInstall(lcd.emu);
  GuestWrite8(lcd.emu.mem, LcdRig::kRam0, 0x80);  // source pixel (0, 0)
  DisplaySnapshotLcd(lcd.emu);
  EXPECT_EQ(DisplayRefresh(lcd.emu), 0);
  EXPECT_EQ(lcd.Pixel(80, 112, false), 255) << "the eleventh refresh renders";
  EXPECT_EQ(lcd.Pixel(78, 110, false), 255) << "and draws the frame";
}

TEST(NimbalLcd, ArrayCutAtItsRegionEndReadsClear) {
  // display_ram1 begins 16 bytes before the region ends: the rest of it is clear pixels.
  LcdRig lcd(LcdRig::kData + LcdRig::kDataSize - 16);
  EXPECT_EQ(lcd.emu.display.lcd.ram_bytes[1], 16u);
  GuestWrite8(lcd.emu.mem, LcdRig::kVisual, 1);
  GuestWrite8(lcd.emu.mem, LcdRig::kData + LcdRig::kDataSize - 1, 0x01);  // source (127, 0)
  DisplaySnapshotLcd(lcd.emu);
  for (int i = 0; i < 11; ++i) DisplayRefresh(lcd.emu);
  EXPECT_EQ(lcd.Pixel(80 + 2 * 127, 112, true), 255);
  EXPECT_EQ(lcd.Pixel(80 + 2 * 128, 112, true), 0);
}

TEST(NimbalLcd, MissingArraysShowBlank) {
  Emulator emu;
  emu.opt.video = 5;
  DisplayInstall(emu);
  for (int i = 0; i < 11; ++i) EXPECT_EQ(DisplayRefresh(emu), 0);
  std::vector<uint8_t> out(kPageWidth * kShownHeight, 7);
  CopyShownPicture(emu, out.data());
  EXPECT_EQ(out[112 * kPageWidth + 80], 0);
  EXPECT_EQ(out[110 * kPageWidth + 78], 255) << "the frame is still drawn";
}

// The refresh renders the copy the emulation thread made, never the guest arrays themselves.
TEST(NimbalLcd, RefreshShowsTheLastCopyNotGuestMemory) {
  LcdRig lcd;
  GuestWrite8(lcd.emu.mem, LcdRig::kRam0, 0x80);  // source pixel (0, 0)
  DisplaySnapshotLcd(lcd.emu);
  // Stores after the copy: a new pixel in display_ram0, and v.visual switching to page B.
  GuestWrite8(lcd.emu.mem, LcdRig::kRam0, 0x40);  // source pixel (1, 0) instead
  GuestWrite8(lcd.emu.mem, LcdRig::kVisual, 1);
  for (int i = 0; i < 10; ++i) DisplayRefresh(lcd.emu);
  EXPECT_EQ(DisplayRefresh(lcd.emu), 0) << "v.visual of the copy still selects page A";
  EXPECT_EQ(lcd.Pixel(80, 112, false), 255) << "pixel (0, 0) as copied";
  EXPECT_EQ(lcd.Pixel(82, 112, false), 0) << "pixel (1, 0) was stored after the copy";

  // The next copy brings both stores; display_ram1 is still clear.
  GuestWrite8(lcd.emu.mem, LcdRig::kRam1 + 29, 0x01);  // source pixel (239, 0)
  DisplaySnapshotLcd(lcd.emu);
  EXPECT_EQ(DisplayRefresh(lcd.emu), 1);
  EXPECT_EQ(lcd.Pixel(80 + 2 * 239, 112, true), 255) << "page B renders display_ram1";
  EXPECT_EQ(lcd.Pixel(82, 112, true), 0) << "display_ram0 is not what page B shows";

  // Back to page A: the pixel stored after the first copy now shows.
  GuestWrite8(lcd.emu.mem, LcdRig::kVisual, 0);
  DisplaySnapshotLcd(lcd.emu);
  EXPECT_EQ(DisplayRefresh(lcd.emu), 0);
  EXPECT_EQ(lcd.Pixel(80, 112, false), 0);
  EXPECT_EQ(lcd.Pixel(82, 112, false), 255);
}

}  // namespace
}  // namespace korvane
