// Display emulation: display memory and ports in five video modes, drawn into two picture pages.
#include "services/display.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "services/machine.h"
#include "services/native_handlers.h"

namespace korvane {

namespace {

// Controller ports (the low 16 bits of a display register address).
constexpr uint32_t kPortSeqIndex = 0x3C4;
constexpr uint32_t kPortSeqData = 0x3C5;
constexpr uint32_t kPortDacReadIndex = 0x3C7;
constexpr uint32_t kPortDacWriteIndex = 0x3C8;
constexpr uint32_t kPortDacData = 0x3C9;
constexpr uint32_t kPortGfxIndex = 0x3CE;
constexpr uint32_t kPortGfxData = 0x3CF;
constexpr uint32_t kPortCrtIndex = 0x3D4;
constexpr uint32_t kPortCrtData = 0x3D5;

constexpr int kSeqMapMask = 2;
constexpr int kGfxSetReset = 0;
constexpr int kGfxColour = 1;
constexpr int kGfxRotate = 3;
constexpr int kGfxReadPlane = 4;
constexpr int kGfxMode = 5;
constexpr int kGfxBitMask = 8;
constexpr int kGfxDrawPage = 9;
constexpr int kGfxPixelGroup = 11;
constexpr uint32_t kEightPixelValue = 14;
constexpr int kCrtShownPage = 27;

constexpr uint32_t kPlanarRowBytes = kPageWidth / 8;  // 8 pixels per byte
constexpr uint32_t kPackedRowBytes = kPageWidth / 4;  // 4 pixels (planes) per byte

// Level tables of the 3-3-2 cube: on the DAC's 0-63 scale and in 8-bit colour.
constexpr int kDacLevel3[8] = {0, 9, 18, 27, 36, 45, 54, 63};
constexpr int kDacLevel2[4] = {0, 21, 42, 63};

uint8_t Load(const uint8_t* p) {
  return std::atomic_ref<uint8_t>(*const_cast<uint8_t*>(p)).load(std::memory_order_relaxed);
}
void Store(uint8_t* p, uint8_t v) {
  std::atomic_ref<uint8_t>(*p).store(v, std::memory_order_relaxed);
}

void EnsurePages(DisplayState& d) {
  if (d.page_a && d.page_b) return;
  d.own_pages.reset(static_cast<uint8_t*>(std::calloc(2 * static_cast<size_t>(kPageBytes), 1)));
  if (!d.own_pages) throw std::bad_alloc();
  d.page_a = d.own_pages.get();
  d.page_b = d.page_a + kPageBytes;
  d.draw = d.page_a;
  d.shown.store(0);
}

uint8_t* DrawPage(Machine& emu) {
  DisplayState& d = emu.display;
  if (!d.draw) {
    EnsurePages(d);
    d.draw = d.page_a;
  }
  return d.draw;
}

// Screen row y (0 = top) starts at this byte of a page: rows are stored bottom-up.
constexpr int RowStart(int y) { return kPageWidth * (kPageHeight - 1 - y); }

// First page byte of the 8-pixel group at planar offset o, or -1 beyond the last row.
int PlanarGroup(uint32_t o) {
  uint32_t y = o / kPlanarRowBytes;
  if (y >= static_cast<uint32_t>(kPageHeight)) return -1;
  return RowStart(static_cast<int>(y)) + 8 * static_cast<int>(o % kPlanarRowBytes);
}

// First page byte of the 4-pixel group at packed offset o, or -1 beyond the last row.
int PackedGroup(uint32_t o) {
  uint32_t y = o / kPackedRowBytes;
  if (y >= static_cast<uint32_t>(kPageHeight)) return -1;
  return RowStart(static_cast<int>(y)) + 4 * static_cast<int>(o % kPackedRowBytes);
}

// The palette index of the cube nearest to a DAC colour; the first of equal distances wins.
uint8_t NearestCubeIndex(int r, int g, int b) {
  int best = 0;
  long best_distance = -1;
  for (int i = 0; i < 256; ++i) {
    long dr = r - kDacLevel3[(i >> 5) & 7];
    long dg = g - kDacLevel3[(i >> 2) & 7];
    long db = b - kDacLevel2[i & 3];
    long distance = dr * dr + dg * dg + db * db;
    if (best_distance < 0 || distance < best_distance) {
      best = i;
      best_distance = distance;
    }
  }
  return static_cast<uint8_t>(best);
}

void LoadLatches(Machine& emu, const uint8_t* group, int n) {
  for (int i = 0; i < n; ++i) emu.display.latch[i] = Load(group + i);
}

// ---- Shared short routines: always two byte operations through the installed byte routine.

uint16_t VmemReadShort(Machine& emu, uint32_t o) {
  // The high byte is read first so the latches end up holding the group of offset o.
  uint8_t high = emu.display.routines.vmem_read_byte(emu, o + 1);
  uint8_t low = emu.display.routines.vmem_read_byte(emu, o);
  return static_cast<uint16_t>(high * 256 + low);
}

void VmemWriteShort(Machine& emu, uint32_t o, uint32_t v) {
  emu.display.routines.vmem_write_byte(emu, o, v);
  emu.display.routines.vmem_write_byte(emu, o + 1, v >> 8);
}

void PortWriteShort(Machine& emu, uint32_t port, uint32_t v) {
  emu.display.routines.port_write_byte(emu, port, v);
  emu.display.routines.port_write_byte(emu, port + 1, v >> 8);
}

// ---- Planar set (modes 1 and 2).

uint8_t PlanarReadByte(Machine& emu, uint32_t o) {
  int g = PlanarGroup(o);
  if (g < 0) return 0;
  const uint8_t* p = DrawPage(emu) + g;
  LoadLatches(emu, p, 8);
  return emu.display.latch[0];
}

void PlanarWriteByte(Machine& emu, uint32_t o, uint32_t value) {
  int g = PlanarGroup(o);
  if (g < 0) return;
  DisplayState& d = emu.display;
  uint8_t* p = DrawPage(emu) + g;
  const uint8_t v = static_cast<uint8_t>(value);
  switch (d.write_mode) {
    case 0: {
      // The firmware composes a 16-colour pixel plane by plane (0, 1, 2, 3); the pixel holds
      // the raw colour until plane 3 maps it to a palette index.
      const int mask = d.seq[kSeqMapMask] & 15;
      if (mask == 15) {
        for (int i = 0; i < 8; ++i) Store(p + i, v);
        return;
      }
      if (mask != 1 && mask != 2 && mask != 4 && mask != 8) return;
      for (int i = 0; i < 8; ++i) {
        const bool bit = (v >> (7 - i)) & 1;
        uint8_t pixel = Load(p + i);
        if (mask == 1)
          pixel = bit ? 1 : 0;
        else if (bit)
          pixel = static_cast<uint8_t>(pixel | mask);
        // A pixel above 15 here (planes out of order, or already mapped) maps its low bits.
        if (mask == 8) pixel = d.colour_map[pixel & 15];
        Store(p + i, pixel);
      }
      return;
    }
    case 1:
      for (int i = 0; i < 8; ++i) Store(p + i, d.latch[i]);
      return;
    case 2:
      return;
    default: {
      const unsigned count = d.gfx[kGfxRotate] & 7;  // eight rotations restore the byte
      uint8_t bits = static_cast<uint8_t>((v >> count) | (v << ((8 - count) & 7)));
      bits &= d.gfx[kGfxBitMask];
      for (int i = 0; i < 8; ++i)
        Store(p + i, ((bits >> (7 - i)) & 1) ? d.mapped_set_reset : d.latch[i]);
      return;
    }
  }
}

void UpdateColourMap(DisplayState& d, int entry) {
  if (entry >= 16) return;
  d.colour_map[entry] = NearestCubeIndex(d.dac[entry][0], d.dac[entry][1], d.dac[entry][2]);
}

// Ports shared by both sets; returns true when the port was handled.
bool CommonPortWrite(Machine& emu, uint32_t port, uint32_t value) {
  DisplayState& d = emu.display;
  const uint8_t v = static_cast<uint8_t>(value);
  switch (port) {
    case kPortSeqIndex:
      d.seq_index = v;
      return true;
    case kPortSeqData:
      d.seq[d.seq_index] = v;
      return true;
    case kPortGfxIndex:
      d.gfx_index = v;
      return true;
    case kPortCrtIndex:
      d.crt_index = v;
      return true;
    default:
      return false;
  }
}

void SelectDrawPage(Machine& emu, uint8_t v) {
  DrawPage(emu);
  emu.display.draw = v ? emu.display.page_b : emu.display.page_a;
}

void PlanarPortWrite(Machine& emu, uint32_t port, uint32_t value) {
  port &= 0xFFFF;
  if (CommonPortWrite(emu, port, value)) return;
  DisplayState& d = emu.display;
  const uint8_t v = static_cast<uint8_t>(value);
  switch (port) {
    case kPortDacReadIndex:
      d.dac_read_index = v;
      d.dac_read_component = 0;
      return;
    case kPortDacWriteIndex:
      d.dac_write_index = v;
      d.dac_write_component = 0;
      return;
    case kPortDacData:
      d.dac[d.dac_write_index][d.dac_write_component] = v;
      if (++d.dac_write_component == 3) {
        const int entry = d.dac_write_index;
        d.dac_write_component = 0;
        d.dac_write_index = static_cast<uint8_t>(d.dac_write_index + 1);
        UpdateColourMap(d, entry);
      }
      return;
    case kPortGfxData:
      d.gfx[d.gfx_index] = v;
      d.write_mode = d.gfx[kGfxMode] & 3;
      d.set_reset = d.gfx[kGfxSetReset] & 15;
      d.mapped_set_reset = d.colour_map[d.set_reset];
      if (d.gfx_index == kGfxDrawPage) SelectDrawPage(emu, v);
      return;
    case kPortCrtData:
      if (d.crt_index == kCrtShownPage) d.shown.store(value & 1 ? 1 : 0);
      return;
    default:
      return;
  }
}

uint8_t PlanarPortRead(Machine& emu, uint32_t port) {
  DisplayState& d = emu.display;
  switch (port & 0xFFFF) {
    case kPortSeqIndex:
      return d.seq_index;
    case kPortSeqData:
      return d.seq[d.seq_index];
    case kPortDacReadIndex:
      return d.dac_read_index;
    case kPortDacWriteIndex:
      return d.dac_write_index;
    case kPortDacData: {
      uint8_t v = d.dac[d.dac_read_index][d.dac_read_component];
      if (++d.dac_read_component == 3) {
        d.dac_read_component = 0;
        d.dac_read_index = static_cast<uint8_t>(d.dac_read_index + 1);
      }
      return v;
    }
    case kPortGfxIndex:
      return d.gfx_index;
    case kPortGfxData:
      return d.gfx[d.gfx_index];
    default:
      return 0;
  }
}

// ---- Packed set (modes 3 and 4): palette indices written directly, four planes per byte.

uint8_t PackedRead(Machine& emu, uint32_t o) {
  int g = PackedGroup(o);
  if (g < 0) return 0;
  DisplayState& d = emu.display;
  const uint8_t* p = DrawPage(emu) + g;
  if (d.gfx[kGfxMode] == 1) LoadLatches(emu, p, 4);
  // The plane number is limited to the group's four pixels so a read stays inside the page.
  return Load(p + (d.gfx[kGfxReadPlane] & 3));
}

uint8_t EightPixelRead(Machine& emu, uint32_t o) {
  int g = PlanarGroup(o);
  if (g >= 0 && emu.display.gfx[kGfxMode] == 1) LoadLatches(emu, DrawPage(emu) + g, 8);
  return 0;
}

void PlaneWrite(Machine& emu, uint32_t o, uint32_t value) {
  int g = PackedGroup(o);
  if (g < 0) return;
  uint8_t* p = DrawPage(emu) + g;
  const int mask = emu.display.seq[kSeqMapMask] & 15;
  for (int k = 0; k < 4; ++k)
    if (mask & (1 << k)) Store(p + k, static_cast<uint8_t>(value));
}

void PackedLatchCopy(Machine& emu, uint32_t o, uint32_t) {
  int g = PackedGroup(o);
  if (g < 0) return;
  uint8_t* p = DrawPage(emu) + g;
  for (int k = 0; k < 4; ++k) Store(p + k, emu.display.latch[k]);
}

void EightPixelLatchCopy(Machine& emu, uint32_t o, uint32_t) {
  int g = PlanarGroup(o);
  if (g < 0) return;
  uint8_t* p = DrawPage(emu) + g;
  for (int i = 0; i < 8; ++i) Store(p + i, emu.display.latch[i]);
}

void ColourExpand(Machine& emu, uint32_t o, uint32_t value) {
  int g = PlanarGroup(o);
  if (g < 0) return;
  uint8_t* p = DrawPage(emu) + g;
  for (int i = 0; i < 8; ++i)
    if ((value >> (7 - i)) & 1) Store(p + i, emu.display.gfx[kGfxColour]);
}

void TwoColourExpand(Machine& emu, uint32_t o, uint32_t value) {
  int g = PlanarGroup(o);
  if (g < 0) return;
  DisplayState& d = emu.display;
  uint8_t* p = DrawPage(emu) + g;
  for (int i = 0; i < 8; ++i)
    Store(p + i, ((value >> (7 - i)) & 1) ? d.gfx[kGfxColour] : d.gfx[kGfxSetReset]);
}

// The byte routines of modes 3 and 4 as eight_pixel and packed_write choose them.
void SetPackedRoutines(DisplayState& d) {
  DisplayRoutines& r = d.routines;
  r.vmem_read_byte = d.eight_pixel ? EightPixelRead : PackedRead;
  switch (d.packed_write) {
    case DisplayState::kLatchCopy:
      r.vmem_write_byte = d.eight_pixel ? EightPixelLatchCopy : PackedLatchCopy;
      break;
    case DisplayState::kColourExpand:
      r.vmem_write_byte = ColourExpand;
      break;
    case DisplayState::kTwoColourExpand:
      r.vmem_write_byte = TwoColourExpand;
      break;
    default:
      r.vmem_write_byte = PlaneWrite;
      break;
  }
}

void PackedPortWrite(Machine& emu, uint32_t port, uint32_t value) {
  port &= 0xFFFF;
  if (CommonPortWrite(emu, port, value)) return;
  DisplayState& d = emu.display;
  const uint8_t v = static_cast<uint8_t>(value);
  if (port == kPortCrtData) {
    if (d.crt_index == kCrtShownPage) d.shown.store(value & 4 ? 1 : 0);
    return;
  }
  if (port != kPortGfxData) return;
  d.gfx[d.gfx_index] = v;
  switch (d.gfx_index) {
    case kGfxDrawPage:
      SelectDrawPage(emu, v);
      return;
    case kGfxPixelGroup:
      // The whole value passed decides, so a short write's high bits count too.
      d.eight_pixel = value == kEightPixelValue;
      d.packed_write = DisplayState::kLatchCopy;
      SetPackedRoutines(d);
      return;
    case kGfxMode:
      d.packed_write = PackedWriteOfModeRegister(d);
      SetPackedRoutines(d);
      return;
    default:
      return;
  }
}

uint8_t PackedPortRead(Machine& emu, uint32_t port) {
  DisplayState& d = emu.display;
  switch (port & 0xFFFF) {
    case kPortSeqIndex:
      return d.seq_index;
    case kPortSeqData:
      return d.seq[d.seq_index];
    case kPortGfxIndex:
      return d.gfx_index;
    case kPortGfxData:
      return d.gfx[d.gfx_index];
    default:
      return 0;
  }
}

uint8_t NoRead(Machine&, uint32_t) { return 0; }
uint16_t NoRead16(Machine&, uint32_t) { return 0; }
void NoWrite(Machine&, uint32_t, uint32_t) {}

// ---- Mode 5: the LCD arrays rendered into the shown page.

const uint8_t* ResolveLcdArray(Machine& emu, const char* name, uint32_t want, uint32_t* bytes) {
  *bytes = 0;
  uint32_t address = LookupIdent(emu, name);
  if (address == 0) return nullptr;
  int n = FindRegion(emu.mem, address);
  // Outside every region the address would reach the shared scratch area: show nothing.
  if (n == 0 || emu.mem.regions[n].host == nullptr) return nullptr;
  uint32_t avail = 0;
  const uint8_t* p = TranslateAddress(emu.mem, address, &avail);
  *bytes = want < avail ? want : avail;
  return p;
}

void RenderLcd(DisplayState& d, uint8_t* page, int source) {
  // One quick pass over the shared copy, then the drawing works on a private one.
  uint8_t src[kLcdBytes];
  for (int i = 0; i < LcdSnapshot::kWords; ++i) {
    const uint64_t w =
        std::atomic_ref<uint64_t>(d.lcd_snapshot.ram[source][i]).load(std::memory_order_relaxed);
    std::memcpy(src + 8 * i, &w, 8);
  }
  for (int sy = 0; sy < kLcdHeight; ++sy) {
    for (int sx = 0; sx < kLcdWidth; ++sx) {
      const int at = sy * kLcdRowBytes + sx / 8;
      const bool set = (src[at] >> (7 - sx % 8)) & 1;
      const uint8_t v = set ? 255 : 0;
      for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx)
          Store(page + RowStart(112 + 2 * sy + dy) + 80 + 2 * sx + dx, v);
    }
  }
  for (int x = 78; x <= 560; x += 2) {
    Store(page + RowStart(110) + x, 255);
    Store(page + RowStart(368) + x, 255);
  }
  for (int y = 110; y <= 368; y += 2) {
    Store(page + RowStart(y) + 78, 255);
    Store(page + RowStart(y) + 560, 255);
  }
}

// The I/O mapping the display registers with the memory map: each calls the access routine
// installed for the video mode.
Machine& Of(void* ctx) { return *static_cast<Machine*>(ctx); }
uint8_t IoVmemRead8(void* c, uint32_t o) { return Of(c).display.routines.vmem_read_byte(Of(c), o); }
uint16_t IoVmemRead16(void* c, uint32_t o) {
  return Of(c).display.routines.vmem_read_short(Of(c), o);
}
void IoVmemWrite8(void* c, uint32_t o, uint32_t v) {
  Of(c).display.routines.vmem_write_byte(Of(c), o, v);
}
void IoVmemWrite16(void* c, uint32_t o, uint32_t v) {
  Of(c).display.routines.vmem_write_short(Of(c), o, v);
}
uint8_t IoPortRead8(void* c, uint32_t p) { return Of(c).display.routines.port_read_byte(Of(c), p); }
void IoPortWrite8(void* c, uint32_t p, uint32_t v) {
  Of(c).display.routines.port_write_byte(Of(c), p, v);
}
void IoPortWrite16(void* c, uint32_t p, uint32_t v) {
  Of(c).display.routines.port_write_short(Of(c), p, v);
}

}  // namespace

DisplayState::DisplayState()
    : routines{NoRead, NoRead16, NoWrite, NoWrite, NoRead, NoWrite, NoWrite} {}

void DisplayInstall(Machine& emu) {
  DisplayState& d = emu.display;
  d.mode = emu.opt.video;
  d.packed = d.mode == 3 || d.mode == 4;
  if (d.packed) {
    d.routines = {PackedRead,     VmemReadShort,   PlaneWrite,    VmemWriteShort,
                  PackedPortRead, PackedPortWrite, PortWriteShort};
  } else {
    d.routines = {PlanarReadByte, VmemReadShort,   PlanarWriteByte, VmemWriteShort,
                  PlanarPortRead, PlanarPortWrite, PortWriteShort};
  }
  EnsurePages(d);
  if (!d.draw) d.draw = d.page_a;

  // The display serves byte and short accesses to display memory and its ports.
  emu.mem.routine_io = IoHandlers{&emu, IoVmemRead8, IoVmemRead16, IoVmemWrite8, IoVmemWrite16};
  emu.mem.port_io = IoHandlers{&emu, IoPortRead8, nullptr, IoPortWrite8, IoPortWrite16};
  if (d.mode == 5) {
    DisplayResolveLcd(emu);
    // The window renders the LCD from a copy refreshed at the run loop's check points.
    emu.hooks.check_point = [](void* ctx) { DisplaySnapshotLcd(*static_cast<Machine*>(ctx)); };
  }
}

uint8_t PackedWriteOfModeRegister(const DisplayState& d) {
  switch (d.gfx[kGfxMode] & 7) {
    case 1:
      return DisplayState::kLatchCopy;
    case 4:
      return DisplayState::kColourExpand;
    case 5:
      return DisplayState::kTwoColourExpand;
    default:
      return DisplayState::kPlaneWrite;
  }
}

void DisplayRestoreRoutines(Machine& emu) {
  if (emu.display.packed) SetPackedRoutines(emu.display);
}

void DisplayResolveLcd(Machine& emu) {
  DisplayState& d = emu.display;
  d.lcd.ram[0] = ResolveLcdArray(emu, "display_ram0", kLcdBytes, &d.lcd.ram_bytes[0]);
  d.lcd.ram[1] = ResolveLcdArray(emu, "display_ram1", kLcdBytes, &d.lcd.ram_bytes[1]);
  uint32_t visual_bytes = 0;
  d.lcd.visual = ResolveLcdArray(emu, "v.visual", 1, &visual_bytes);
  DisplaySnapshotLcd(emu);
  d.lcd_ready.store(true, std::memory_order_release);
}

void DisplaySnapshotLcd(Machine& emu) noexcept {
  DisplayState& d = emu.display;
  if (d.mode != 5) return;
  for (int source = 0; source < 2; ++source) {
    // Bytes beyond the array's region count as clear pixels.
    uint8_t bytes[kLcdBytes] = {};
    const uint32_t have = d.lcd.ram[source] ? d.lcd.ram_bytes[source] : 0;
    if (have > 0) std::memcpy(bytes, d.lcd.ram[source], have <= kLcdBytes ? have : kLcdBytes);
    for (int i = 0; i < LcdSnapshot::kWords; ++i) {
      uint64_t w;
      std::memcpy(&w, bytes + 8 * i, 8);
      std::atomic_ref<uint64_t>(d.lcd_snapshot.ram[source][i]).store(w, std::memory_order_relaxed);
    }
  }
  d.lcd_snapshot.visual.store(d.lcd.visual ? *d.lcd.visual : 0, std::memory_order_relaxed);
}

void DisplayInit(Machine& emu, uint8_t* page_a, uint8_t* page_b) {
  DisplayState& d = emu.display;
  d.page_a = page_a;
  d.page_b = page_b;
  d.own_pages.reset();
  d.draw = page_a;
  d.shown.store(0);
}

int DisplayRefresh(Machine& emu) {
  DisplayState& d = emu.display;
  // The first ten calls render nothing, counted from the window's first refresh: ticks before
  // the image is loaded count too, and they are only counted (nothing of the install is read).
  if (d.lcd_countdown > 0) {
    --d.lcd_countdown;
    return d.shown.load();
  }
  // Only mode 5 renders here. The flag is published by the emulation thread once the LCD's
  // arrays are found, so the window thread reads nothing of the install before it is complete.
  if (!d.lcd_ready.load(std::memory_order_acquire) || d.mode != 5) return d.shown.load();
  EnsurePages(d);
  const int shown = d.lcd_snapshot.visual.load(std::memory_order_relaxed) != 0 ? 1 : 0;
  d.shown.store(shown);
  RenderLcd(d, shown ? d.page_b : d.page_a, shown);
  return shown;
}

void CopyShownPicture(Machine& emu, uint8_t* out) {
  DisplayState& d = emu.display;
  const uint8_t* page = d.shown.load() ? d.page_b : d.page_a;
  if (!page) {
    std::memset(out, 0, static_cast<size_t>(kPageWidth) * kShownHeight);
    return;
  }
  for (int y = 0; y < kShownHeight; ++y) {
    const uint8_t* row = page + RowStart(y);
    for (int x = 0; x < kPageWidth; ++x) out[y * kPageWidth + x] = Load(row + x);
  }
}

Rgb PaletteColour(uint8_t index) {
  return Rgb{kRgbLevel3[(index >> 5) & 7], kRgbLevel3[(index >> 2) & 7], kRgbLevel2[index & 3]};
}

void NativeGetPixel2Graph(Machine& emu) {
  uint32_t& g9 = emu.cpu.g[9];
  const int32_t pixel_number = static_cast<int32_t>(g9);
  g9 = 0xFFFFFFFFu;
  int g = PlanarGroup(emu.cpu.g[6] - emu.mem.display_base);
  if (g < 0) return;
  const int64_t at = int64_t{g} + pixel_number;
  if (at < 0 || at >= kPageBytes) return;
  const uint8_t value = Load(DrawPage(emu) + at);
  for (int i = 0; i < 16; ++i) {
    if (emu.display.colour_map[i] == value) {
      g9 = static_cast<uint32_t>(i);
      return;
    }
  }
}

}  // namespace korvane
